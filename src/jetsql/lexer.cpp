#include "jetsql/lexer.h"

namespace tabulon::jetsql {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;  // UTF-8 letters of non-English names
}
bool IsWordPart(char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DescribePosition(std::string_view sql, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < sql.size(); ++i) {
    if (sql[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(sql[i]) & 0xC0) != 0x80) {
      ++column;  // continuation bytes of UTF-8 do not start a character
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

Status SyntaxError(std::string_view sql, size_t offset, const std::string& what) {
  return InvalidArgumentError("syntax error at " + DescribePosition(sql, offset) + ": " + what);
}

Result<std::vector<Token>> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  tokens.reserve(sql.size() / 3 + 2);
  size_t i = 0;
  const size_t n = sql.size();
  while (true) {
    while (i < n && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n')) ++i;
    Token token;
    token.offset = i;
    if (i == n) {
      tokens.push_back(std::move(token));
      return tokens;
    }
    const char c = sql[i];
    size_t end = i + 1;
    if (c == '\'' || c == '"') {
      token.kind = TokenKind::kString;
      while (true) {
        if (end >= n) return SyntaxError(sql, i, "string is not closed");
        if (sql[end] == c) {
          if (end + 1 < n && sql[end + 1] == c) {  // doubled quote stands for one
            token.text.push_back(c);
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        token.text.push_back(sql[end++]);
      }
    } else if (c == '`' || c == '[') {
      const char close = c == '`' ? '`' : ']';
      token.kind = TokenKind::kQuotedName;
      const size_t stop = sql.find(close, end);
      if (stop == std::string_view::npos) return SyntaxError(sql, i, "name is not closed");
      token.text = std::string(sql.substr(end, stop - end));
      if (token.text.empty()) return SyntaxError(sql, i, "empty name");
      end = stop + 1;
    } else if (c == '#') {
      token.kind = TokenKind::kDate;
      const size_t stop = sql.find('#', end);
      if (stop == std::string_view::npos) return SyntaxError(sql, i, "date is not closed by '#'");
      token.text = std::string(sql.substr(end, stop - end));
      end = stop + 1;
    } else if (c == '0' && i + 1 < n && (sql[i + 1] == 'x' || sql[i + 1] == 'X')) {
      token.kind = TokenKind::kBinary;
      end = i + 2;
      while (end < n && HexValue(sql[end]) >= 0) ++end;
      const size_t digits = end - i - 2;
      if (digits % 2 != 0) {
        return SyntaxError(sql, i, "binary literal needs an even number of hex digits");
      }
      if (end < n && IsWordPart(sql[end])) {
        return SyntaxError(sql, end, "invalid hex digit in binary literal");
      }
      token.text.reserve(digits / 2);
      for (size_t k = i + 2; k < end; k += 2) {
        token.text.push_back(static_cast<char>(HexValue(sql[k]) * 16 + HexValue(sql[k + 1])));
      }
    } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(sql[i + 1]))) {
      token.kind = TokenKind::kNumber;
      end = i;
      while (end < n && IsDigit(sql[end])) ++end;
      if (end < n && sql[end] == '.') {
        ++end;
        while (end < n && IsDigit(sql[end])) ++end;
      }
      if (end < n && (sql[end] == 'e' || sql[end] == 'E')) {
        size_t e = end + 1;
        if (e < n && (sql[e] == '+' || sql[e] == '-')) ++e;
        if (e < n && IsDigit(sql[e])) {
          while (e < n && IsDigit(sql[e])) ++e;
          end = e;
        }
      }
      if (end < n && IsWordPart(sql[end])) {
        return SyntaxError(sql, end, "unexpected character after number");
      }
    } else if (IsWordStart(c)) {
      token.kind = TokenKind::kWord;
      while (end < n && IsWordPart(sql[end])) ++end;
    } else {
      token.kind = TokenKind::kSymbol;
      switch (c) {
        case '(':
        case ')':
        case ',':
        case '.':
        case ';':
        case '*':
        case '=':
        case '+':
        case '-':
        case '/':
        case '&':
        case '!':
        case '\\':
        case '^': break;
        case '<':
          if (end < n && (sql[end] == '>' || sql[end] == '=')) ++end;
          break;
        case '>':
          if (end < n && sql[end] == '=') ++end;
          break;
        default: return SyntaxError(sql, i, std::string("unexpected character '") + c + "'");
      }
    }
    token.source = sql.substr(i, end - i);
    if (token.kind == TokenKind::kWord || token.kind == TokenKind::kNumber || token.kind == TokenKind::kSymbol) {
      token.text.assign(token.source);
    }
    tokens.push_back(std::move(token));
    i = end;
  }
}

}  // namespace tabulon::jetsql
