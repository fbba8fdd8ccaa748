#include "viewsql/lexer.h"

#include <cstdint>

namespace tabulon::viewsql {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsWordStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordPart(char c) { return IsWordStart(c) || IsDigit(c) || c == '$' || c == '@'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Longest first, so that "->>" wins over "->" and "<>" over "<".
constexpr std::string_view kSymbols[] = {"->>", "::", "<>", "<=", ">=", "!=", "!<", "!>", "==", "||", "<<",
                                         ">>",  "->", "=",  "<",  ">",  "+",  "-",  "*",  "/",  "%",  "&",
                                         "|",   "^",  "~",  "(",  ")",  ",",  ".",  ";",  "{",  "}"};

class Lexer {
 public:
  Lexer(std::string_view text, Dialect dialect) : text_(text), dialect_(dialect) {}

  Result<std::vector<Token>> Run() {
    std::vector<Token> tokens;
    while (true) {
      RETURN_IF_ERROR(SkipBlanks());
      Token token;
      token.at = Here();
      const size_t start = pos_;
      if (pos_ >= text_.size()) {
        token.raw = text_.substr(start);
        tokens.push_back(std::move(token));
        return tokens;
      }
      RETURN_IF_ERROR(Read(token));
      token.raw = text_.substr(start, pos_ - start);
      tokens.push_back(std::move(token));
    }
  }

 private:
  Position Here() const { return {line_, static_cast<int>(pos_ - line_start_) + 1}; }
  char At(size_t offset = 0) const { return pos_ + offset < text_.size() ? text_[pos_ + offset] : '\0'; }
  void Advance() {
    if (text_[pos_] == '\n') {
      ++line_;
      line_start_ = pos_ + 1;
    }
    ++pos_;
  }
  Status Error(Position at, std::string_view expected, std::string_view found) const {
    return InvalidArgumentError("syntax error at " + DescribePosition(at) + ": expected " + std::string(expected) +
                                " but found " + std::string(found));
  }

  Status SkipBlanks() {
    while (pos_ < text_.size()) {
      const char c = At();
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        Advance();
      } else if (c == '-' && At(1) == '-') {
        while (pos_ < text_.size() && At() != '\n') Advance();
      } else if (c == '/' && At(1) == '*') {
        const Position at = Here();
        int depth = 0;
        while (true) {
          if (pos_ >= text_.size()) {
            if (dialect_ == Dialect::kSqlite) return Status::Ok();  // SQLite ends the comment with the text
            return Error(at, "*/ to close the comment", "the end of the text");
          }
          if (At() == '/' && At(1) == '*' && (depth == 0 || dialect_ == Dialect::kTransactSql)) {
            ++depth;
            pos_ += 2;
          } else if (At() == '*' && At(1) == '/') {
            pos_ += 2;
            if (--depth == 0) break;
          } else {
            Advance();
          }
        }
      } else {
        break;
      }
    }
    return Status::Ok();
  }

  // Reads up to the closing `close` (doubled inside the text), the opening already read.
  Status Quoted(char close, Position at, std::string& out) {
    while (true) {
      if (pos_ >= text_.size()) return Error(at, std::string(1, close) + " to close it", "the end of the text");
      if (At() == close) {
        if (At(1) != close) {
          ++pos_;
          return Status::Ok();
        }
        ++pos_;
      }
      out += At();
      Advance();
    }
  }

  Status Read(Token& token) {
    const char c = At();
    const Position at = token.at;
    const size_t start = pos_;
    if (c == '\'') {
      ++pos_;
      token.kind = TokenKind::kString;
      return Quoted('\'', at, token.text);
    }
    if ((c == 'N' || c == 'n') && At(1) == '\'') {
      pos_ += 2;
      token.kind = TokenKind::kNationalString;
      return Quoted('\'', at, token.text);
    }
    if ((c == 'X' || c == 'x') && At(1) == '\'' && dialect_ == Dialect::kSqlite) {
      pos_ += 2;
      token.kind = TokenKind::kHex;
      RETURN_IF_ERROR(Quoted('\'', at, token.text));
      for (char digit : token.text) {
        if (!IsHexDigit(digit)) return Error(at, "hexadecimal digits", "'" + token.text + "'");
      }
      if (token.text.size() % 2 != 0) return Error(at, "an even number of hexadecimal digits", "'" + token.text + "'");
      return Status::Ok();
    }
    if (c == '[' || c == '"' || (c == '`' && dialect_ == Dialect::kSqlite)) {
      ++pos_;
      token.kind = TokenKind::kQuotedName;
      return Quoted(c == '[' ? ']' : c, at, token.text);
    }
    if (c == '0' && (At(1) == 'x' || At(1) == 'X')) return Hex(token);
    if (IsDigit(c) || (c == '.' && IsDigit(At(1)))) {
      token.kind = TokenKind::kNumber;
      while (IsDigit(At())) ++pos_;
      if (At() == '.') {
        ++pos_;
        while (IsDigit(At())) ++pos_;
      }
      if ((At() == 'e' || At() == 'E') && (IsDigit(At(1)) || ((At(1) == '+' || At(1) == '-') && IsDigit(At(2))))) {
        pos_ += 2;
        while (IsDigit(At())) ++pos_;
      }
      token.text = std::string(text_.substr(start, pos_ - start));
      return Status::Ok();
    }
    if (IsWordStart(c)) {
      token.kind = TokenKind::kWord;
      while (IsWordPart(At())) ++pos_;
      token.text = std::string(text_.substr(start, pos_ - start));
      token.upper = token.text;
      for (char& letter : token.upper) letter = Upper(letter);
      return Status::Ok();
    }
    if (c == '@' && IsWordPart(At(1))) {
      token.kind = TokenKind::kVariable;
      ++pos_;
      while (IsWordPart(At())) ++pos_;
      token.text = std::string(text_.substr(start + 1, pos_ - start - 1));
      return Status::Ok();
    }
    for (std::string_view symbol : kSymbols) {
      if (text_.substr(pos_, symbol.size()) == symbol) {
        token.kind = TokenKind::kSymbol;
        token.text = std::string(symbol);
        pos_ += symbol.size();
        return Status::Ok();
      }
    }
    return Error(at, "a name, a value or an operator", "'" + std::string(1, c) + "'");
  }

  // 0x1F: binary digits in Transact-SQL, an integer in SQLite.
  Status Hex(Token& token) {
    const size_t digits = pos_ + 2;
    pos_ = digits;
    while (IsHexDigit(At())) ++pos_;
    token.text = std::string(text_.substr(digits, pos_ - digits));
    if (dialect_ == Dialect::kTransactSql) {
      token.kind = TokenKind::kHex;
      return Status::Ok();
    }
    if (token.text.empty() || token.text.size() > 16) {
      return Error(token.at, "a hexadecimal integer of 1 to 16 digits", "'0x" + token.text + "'");
    }
    uint64_t value = 0;
    for (char digit : token.text) {
      value = value * 16 + static_cast<uint64_t>(IsDigit(digit) ? digit - '0' : Upper(digit) - 'A' + 10);
    }
    token.kind = TokenKind::kNumber;
    // SQLite reads the 64 bits as a signed integer.
    token.text = std::to_string(static_cast<int64_t>(value));
    return Status::Ok();
  }

  std::string_view text_;
  Dialect dialect_;
  size_t pos_ = 0;
  size_t line_start_ = 0;
  int line_ = 1;
};

}  // namespace

std::string DescribePosition(Position at) {
  return "line " + std::to_string(at.line) + ", column " + std::to_string(at.column);
}

Result<std::vector<Token>> Tokenize(std::string_view text, Dialect dialect) { return Lexer(text, dialect).Run(); }

}  // namespace tabulon::viewsql
