#include "jetsql/quick_insert.h"

#include "base/text.h"

namespace tabulon::jetsql {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// As the lexer reads words: letters, '_', '$', digits and any byte of a UTF-8 sequence.
bool IsWordPart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || IsDigit(c) ||
         static_cast<unsigned char>(c) >= 0x80;
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Where the word VALUES begins outside quotes and brackets, or npos.
size_t FindValues(std::string_view sql) {
  char close = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (close != 0) {
      if (c == close) close = 0;
    } else if (c == '\'' || c == '"' || c == '`' || c == '#') {
      close = c;
    } else if (c == '[') {
      close = ']';
    } else if ((c == 'v' || c == 'V') && (i == 0 || !IsWordPart(sql[i - 1])) && i + 6 <= sql.size() &&
               EqualsIgnoreAsciiCase(sql.substr(i, 6), "values") && (i + 6 == sql.size() || !IsWordPart(sql[i + 6]))) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Reads one value at `i` as the lexer and parser would; false when unsure.
bool ScanLiteral(std::string_view sql, size_t& i, Literal& literal) {
  const size_t n = sql.size();
  literal.offset = i;
  literal.text.clear();
  literal.boolean = false;
  const char c = sql[i];
  if (c == '\'' || c == '"') {
    literal.kind = Literal::Kind::kString;
    size_t j = i + 1;
    for (;;) {
      const size_t stop = sql.find(c, j);
      if (stop == std::string_view::npos) return false;
      literal.text.append(sql.substr(j, stop - j));
      if (stop + 1 < n && sql[stop + 1] == c) {  // a doubled quote stands for one
        literal.text.push_back(c);
        j = stop + 2;
        continue;
      }
      i = stop + 1;
      return true;
    }
  }
  if (c == '#') {
    const size_t stop = sql.find('#', i + 1);
    if (stop == std::string_view::npos) return false;
    literal.kind = Literal::Kind::kDate;
    literal.text.assign(sql.substr(i + 1, stop - i - 1));
    i = stop + 1;
    return true;
  }
  if (c == '0' && i + 1 < n && (sql[i + 1] == 'x' || sql[i + 1] == 'X')) {
    size_t j = i + 2;
    while (j < n && HexValue(sql[j]) >= 0) ++j;
    if ((j - i) % 2 != 0 || (j < n && IsWordPart(sql[j]))) return false;
    literal.kind = Literal::Kind::kBinary;
    for (size_t k = i + 2; k < j; k += 2) {
      literal.text.push_back(static_cast<char>(HexValue(sql[k]) * 16 + HexValue(sql[k + 1])));
    }
    i = j;
    return true;
  }
  size_t j = i;
  if (c == '-' || c == '+') ++j;  // a sign directly before a number
  if (j < n && IsDigit(sql[j])) {
    const size_t start = j;
    while (j < n && IsDigit(sql[j])) ++j;
    if (j < n && sql[j] == '.') {
      ++j;
      while (j < n && IsDigit(sql[j])) ++j;
    }
    if (j < n && (sql[j] == 'e' || sql[j] == 'E')) return false;  // rare: the full lexer decides
    if (j < n && IsWordPart(sql[j])) return false;
    literal.kind = Literal::Kind::kNumber;
    if (c == '-') literal.text.push_back('-');
    literal.text.append(sql.substr(start, j - start));
    i = j;
    return true;
  }
  if (j != i) return false;
  while (j < n && IsWordPart(sql[j])) ++j;
  const std::string_view word = sql.substr(i, j - i);
  if (EqualsIgnoreAsciiCase(word, "null")) {
    literal.kind = Literal::Kind::kNull;
  } else if (EqualsIgnoreAsciiCase(word, "true") || EqualsIgnoreAsciiCase(word, "false")) {
    literal.kind = Literal::Kind::kBoolean;
    literal.boolean = word.size() == 4;
  } else {
    return false;
  }
  i = j;
  return true;
}

}  // namespace

Insert* QuickInsert::Parse(std::string_view sql) {
  if (head_.empty() || sql.size() <= head_.size() || sql.compare(0, head_.size(), head_) != 0) return nullptr;
  // The head must end where VALUES begins, as it did when it was learnt.
  const size_t n = sql.size();
  size_t i = head_.size();
  if (i + 6 > n || !EqualsIgnoreAsciiCase(sql.substr(i, 6), "values")) return nullptr;
  i += 6;
  auto blanks = [&] {
    while (i < n && IsBlank(sql[i])) ++i;
  };
  blanks();
  if (i == n || sql[i] != '(') return nullptr;
  ++i;
  size_t count = 0;
  for (;;) {
    blanks();
    if (i == n) return nullptr;
    if (count == insert_.values.size()) insert_.values.emplace_back();
    if (!ScanLiteral(sql, i, insert_.values[count])) return nullptr;
    ++count;
    blanks();
    if (i == n) return nullptr;
    if (sql[i] == ')') break;
    if (sql[i] != ',') return nullptr;
    ++i;
  }
  ++i;
  blanks();
  if (i < n && sql[i] == ';') {
    ++i;
    blanks();
  }
  if (i != n) return nullptr;
  if (!insert_.columns.empty() && insert_.columns.size() != count) return nullptr;
  insert_.values.resize(count);
  return &insert_;
}

void QuickInsert::Learn(std::string_view sql, const Insert& insert) {
  const size_t at = FindValues(sql);
  if (at == std::string_view::npos) return;
  head_.assign(sql.substr(0, at));
  insert_.table = insert.table;
  insert_.columns = insert.columns;
}

}  // namespace tabulon::jetsql
