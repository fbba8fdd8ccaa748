// The tokens of a source view's text (Transact-SQL or SQLite), for the parser.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "viewsql/ast.h"

namespace tabulon::viewsql {

enum class TokenKind {
  kEnd,             // after the last token
  kWord,            // a name or keyword as written; `upper` holds it in upper case
  kQuotedName,      // [name], "name" or `name`, unquoted
  kString,          // 'text', unquoted
  kNationalString,  // N'text', unquoted
  kHex,             // 0x1F (Transact-SQL) or X'1F' (SQLite): the digits
  kNumber,          // as written (a SQLite 0x integer in decimal)
  kVariable,        // @name (the name without @)
  kSymbol,          // an operator or punctuation: ( ) , . ; = <> != ...
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  std::string upper;
  std::string_view raw;  // the token as written
  Position at;
};

// "line L, column C".
std::string DescribePosition(Position at);

// The tokens of `text`, the last one kEnd; an unterminated string, name or comment, or a
// character no token starts with, is a syntax error naming its position.
Result<std::vector<Token>> Tokenize(std::string_view text, Dialect dialect);

}  // namespace tabulon::viewsql
