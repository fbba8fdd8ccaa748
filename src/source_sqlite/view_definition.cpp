// Views: SQLite keeps a view as the text of its CREATE VIEW. The SELECT is given to Access with
// every quoted name in backquotes, comments removed, != and == in Access's words and the
// functions both know under Access's names; whatever Access could not hold (a function it
// lacks, a blob literal, anything our Access SQL parser refuses) makes the view unsupported.
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "jetsql/parser.h"
#include "source_common/access_names.h"
#include "source_common/access_statements.h"
#include "source_sqlite/columns.h"

namespace tabulon::source_sqlite {

using namespace data;
using namespace workspace;

namespace {

enum class TokenKind { kSpace, kLineComment, kBlockComment, kString, kQuotedName, kWord, kNumber, kBlob, kSymbol };

struct Token {
  TokenKind kind;
  std::string_view text;
  std::string name;  // kQuotedName: the name without its quotes
};

bool IsWordStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordPart(char c) { return IsWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$'; }

// The end of a quoted run that starts at `at` and closes with `close`, a doubled `close`
// standing for one; npos when it is not closed. `name` receives the text between.
size_t QuotedEnd(std::string_view sql, size_t at, char close, std::string* name) {
  for (size_t i = at + 1; i < sql.size(); ++i) {
    if (sql[i] != close) {
      if (name != nullptr) *name += sql[i];
      continue;
    }
    if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
      if (name != nullptr) *name += close;
      ++i;
      continue;
    }
    return i + 1;
  }
  return std::string_view::npos;
}

Result<std::vector<Token>> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    const char next = i + 1 < sql.size() ? sql[i + 1] : '\0';
    Token t{TokenKind::kSymbol, {}, {}};
    size_t end = i + 1;
    if (std::isspace(static_cast<unsigned char>(c))) {
      t.kind = TokenKind::kSpace;
      while (end < sql.size() && std::isspace(static_cast<unsigned char>(sql[end]))) ++end;
    } else if (c == '-' && next == '-') {
      t.kind = TokenKind::kLineComment;
      end = sql.find('\n', i);
      if (end == std::string_view::npos) end = sql.size();
    } else if (c == '/' && next == '*') {
      t.kind = TokenKind::kBlockComment;
      end = sql.find("*/", i + 2);
      end = end == std::string_view::npos ? sql.size() : end + 2;
    } else if ((c == 'x' || c == 'X') && next == '\'') {
      t.kind = TokenKind::kBlob;
      end = QuotedEnd(sql, i + 1, '\'', nullptr);
    } else if (c == '\'') {
      t.kind = TokenKind::kString;
      end = QuotedEnd(sql, i, '\'', nullptr);
    } else if (c == '"' || c == '`' || c == '[') {
      t.kind = TokenKind::kQuotedName;
      end = QuotedEnd(sql, i, c == '[' ? ']' : c, &t.name);
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && std::isdigit(static_cast<unsigned char>(next)))) {
      t.kind = TokenKind::kNumber;
      while (end < sql.size() &&
             (std::isalnum(static_cast<unsigned char>(sql[end])) || sql[end] == '.' ||
              ((sql[end] == '+' || sql[end] == '-') && (sql[end - 1] == 'e' || sql[end - 1] == 'E')))) {
        ++end;
      }
    } else if (IsWordStart(c)) {
      t.kind = TokenKind::kWord;
      while (end < sql.size() && IsWordPart(sql[end])) ++end;
    } else {
      static constexpr std::string_view kPairs[] = {"||", "!=", "==", "<>", "<=", ">=", "<<", ">>"};
      for (std::string_view pair : kPairs) {
        if (sql.substr(i, 2) == pair) end = i + 2;
      }
    }
    if (end == std::string_view::npos) return InvalidArgumentError("a quoted text or name is not closed");
    t.text = sql.substr(i, end - i);
    tokens.push_back(std::move(t));
    i = end;
  }
  return tokens;
}

bool IsBlank(const Token& t) {
  return t.kind == TokenKind::kSpace || t.kind == TokenKind::kLineComment || t.kind == TokenKind::kBlockComment;
}

bool IsWord(const Token& t, std::string_view word) {
  return t.kind == TokenKind::kWord && EqualsIgnoreAsciiCase(t.text, word);
}

// The next token at or after `i` that is not blank, or tokens.size().
size_t NextSolid(const std::vector<Token>& tokens, size_t i) {
  while (i < tokens.size() && IsBlank(tokens[i])) ++i;
  return i;
}

// Words that may stand before "(" without being a function.
bool IsKeywordBeforeParenthesis(std::string_view word) {
  static const std::set<std::string> kWords = {"select", "from",   "where",  "and",     "or",   "not",      "in",
                                               "exists", "on",     "join",   "as",      "when", "then",     "else",
                                               "case",   "having", "like",   "between", "is",   "distinct", "all",
                                               "union",  "using",  "values", "by",      "any",  "some"};
  return kWords.count(AsciiLower(word)) > 0;
}

struct AccessFunction {
  const char* name;
  int min_arguments, max_arguments;
};

// SQLite functions Access knows with the same meaning, under Access's names.
std::optional<AccessFunction> AccessFunctionFor(std::string_view sqlite_name) {
  static const std::map<std::string, AccessFunction> kFunctions = {
      {"count", {"Count", 0, 1}}, {"sum", {"Sum", 1, 1}},         {"avg", {"Avg", 1, 1}},
      {"min", {"Min", 1, 1}},     {"max", {"Max", 1, 1}},         {"abs", {"Abs", 1, 1}},
      {"round", {"Round", 1, 2}}, {"upper", {"UCase", 1, 1}},     {"lower", {"LCase", 1, 1}},
      {"length", {"Len", 1, 1}},  {"substr", {"Mid", 2, 3}},      {"substring", {"Mid", 2, 3}},
      {"trim", {"Trim", 1, 1}},   {"ltrim", {"LTrim", 1, 1}},     {"rtrim", {"RTrim", 1, 1}},
      {"instr", {"InStr", 2, 2}}, {"replace", {"Replace", 3, 3}}, {"iif", {"IIf", 3, 3}}};
  const auto found = kFunctions.find(AsciiLower(sqlite_name));
  if (found == kFunctions.end()) return std::nullopt;
  return found->second;
}

// The number of arguments of the call whose "(" is token `open` (count(*) has one).
int CountArguments(const std::vector<Token>& tokens, size_t open) {
  int depth = 0, commas = 0;
  bool any = false;
  for (size_t i = open; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (IsBlank(t)) continue;
    if (t.kind == TokenKind::kSymbol && t.text == "(") {
      if (++depth > 1) any = true;
      continue;
    }
    if (t.kind == TokenKind::kSymbol && t.text == ")") {
      if (--depth == 0) break;
      continue;
    }
    if (depth == 1 && t.kind == TokenKind::kSymbol && t.text == ",") ++commas;
    any = true;
  }
  return any ? commas + 1 : 0;
}

// The Access text of tokens [begin, end).
Result<std::string> RewriteTokens(const std::vector<Token>& tokens, size_t begin, size_t end) {
  std::string out;
  for (size_t i = begin; i < end; ++i) {
    const Token& t = tokens[i];
    switch (t.kind) {
      case TokenKind::kLineComment: break;
      case TokenKind::kBlockComment: out += ' '; break;
      case TokenKind::kQuotedName: out += source_common::AccessName(t.name); break;
      case TokenKind::kBlob: return UnsupportedError("a blob literal " + std::string(t.text));
      case TokenKind::kNumber:
        if (t.text.size() > 1 && (t.text[1] == 'x' || t.text[1] == 'X')) {
          return UnsupportedError("a hexadecimal number " + std::string(t.text));
        }
        out += t.text;
        break;
      case TokenKind::kSymbol: out += t.text == "!=" ? "<>" : t.text == "==" ? "=" : t.text; break;
      case TokenKind::kWord: {
        const size_t next = NextSolid(tokens, i + 1);
        const bool call = next < end && tokens[next].kind == TokenKind::kSymbol && tokens[next].text == "(";
        if (!call || IsKeywordBeforeParenthesis(t.text)) {
          out += t.text;
          break;
        }
        const std::optional<AccessFunction> function = AccessFunctionFor(t.text);
        const int arguments = CountArguments(tokens, next);
        if (!function || arguments < function->min_arguments || arguments > function->max_arguments) {
          return UnsupportedError("the function " + std::string(t.text) + " with " + std::to_string(arguments) +
                                  " argument(s)");
        }
        out += function->name;
        break;
      }
      default: out += t.text; break;
    }
  }
  return out;
}

std::string BuildViewText(std::string_view view) {
  return "select sql from sqlite_master where type = 'view' and name = " + SqliteString(view);
}

}  // namespace

std::string BuildViewTextStatement(const SourceTable& view) { return BuildViewText(view.name); }

Result<std::string> RewriteViewForAccess(std::string_view view, std::string_view create_view) {
  ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(create_view));
  // CREATE [TEMP] VIEW [IF NOT EXISTS] [schema.]name [(columns)] AS select
  size_t i = NextSolid(tokens, 0);
  const auto expect = [&](std::string_view word) {
    if (i >= tokens.size() || !IsWord(tokens[i], word)) return false;
    i = NextSolid(tokens, i + 1);
    return true;
  };
  if (!expect("CREATE")) return InvalidArgumentError("the text is not a CREATE VIEW");
  if (!expect("TEMP")) expect("TEMPORARY");
  if (!expect("VIEW")) return InvalidArgumentError("the text is not a CREATE VIEW");
  if (expect("IF") && !(expect("NOT") && expect("EXISTS")))
    return InvalidArgumentError("the text is not a CREATE VIEW");
  i = NextSolid(tokens, i + 1);  // the name
  if (i < tokens.size() && tokens[i].text == ".") i = NextSolid(tokens, NextSolid(tokens, i + 1) + 1);
  std::string columns;
  if (i < tokens.size() && tokens[i].text == "(") {
    const size_t open = i;
    int depth = 0;
    for (; i < tokens.size(); ++i) {
      if (tokens[i].text == "(") ++depth;
      if (tokens[i].text == ")" && --depth == 0) break;
    }
    if (i >= tokens.size()) return InvalidArgumentError("the column list is not closed");
    ASSIGN_OR_RETURN(columns, RewriteTokens(tokens, open, i + 1));
    i = NextSolid(tokens, i + 1);
  }
  if (!expect("AS")) return InvalidArgumentError("the text is not a CREATE VIEW");
  size_t end = tokens.size();
  while (end > i && (IsBlank(tokens[end - 1]) || tokens[end - 1].text == ";")) --end;
  ASSIGN_OR_RETURN(std::string select, RewriteTokens(tokens, i, end));

  std::string text =
      "CREATE VIEW " + source_common::AccessName(view) + (columns.empty() ? "" : " " + columns) + " AS " + select;
  Result<jetsql::Statement> parsed = jetsql::ParseStatement(text);
  if (!parsed.ok()) return UnsupportedError(parsed.status().message());
  return text + "\n";
}

Result<Translation> TranslateViewDefinition(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                            const SourceTable& view) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  TextRowset rows;
  if (OpenTextRowset(source, BuildViewTextStatement(view), &rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return Translation::Nothing();
  }
  ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
  if (!fetched) return Translation::Nothing();
  ASSIGN_OR_RETURN(const std::optional<std::string> text, ReadFullValue(rows, 1));
  if (!text.has_value()) {
    WriteOutput(owner.output, "HAS Unexpect Info!!!");
    return Translation::Nothing();
  }
  const std::string access_view = source_common::AccessTableName(owner, view);
  Result<std::string> access = RewriteViewForAccess(access_view, *text);
  if (!access.ok()) {
    return Translation::Unsupported("NO SUPPORT! VIEW [" + view.name +
                                    "]: Access cannot hold its SELECT: " + access.status().message());
  }
  std::vector<source_common::Rename> renames;
  source_common::AddRename(renames, "view", view.name, view.name, access_view);
  source_common::ReportRenames(owner, view.name, renames);
  return Translation::Statements(std::move(*access));
}

}  // namespace tabulon::source_sqlite
