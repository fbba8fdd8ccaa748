#include "sql_script.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<ScriptStatement> SplitSqlScript(std::string_view script) {
  std::vector<ScriptStatement> out;
  size_t start = 0;       // where the current statement's text begins
  size_t start_line = 1;  // its line
  size_t line = 1;
  char close = 0;  // the character that ends the open quote or bracket, 0 outside
  auto finish = [&](size_t end) {
    std::string_view text = script.substr(start, end - start);
    // The statement's line is that of its first non-blank character.
    size_t at = start_line;
    for (char c : text) {
      if (!IsBlank(c)) break;
      if (c == '\n') ++at;
    }
    text = Trim(text);
    if (!text.empty()) out.push_back({std::string(text), at});
  };
  for (size_t i = 0; i < script.size(); ++i) {
    const char c = script[i];
    if (close != 0) {
      if (c == close) close = 0;  // a doubled quote closes and reopens: the same state
    } else if (c == '\'' || c == '"' || c == '`') {
      close = c;
    } else if (c == '[') {
      close = ']';
    } else if (c == ';') {
      size_t j = i + 1;
      while (j < script.size() && script[j] != '\n' && IsBlank(script[j])) ++j;
      if (j == script.size() || script[j] == '\n') {
        finish(i);
        start = i + 1;
        start_line = line;
      }
    }
    if (c == '\n') ++line;
  }
  finish(script.size());
  return out;
}
