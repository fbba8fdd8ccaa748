// Tokens of Access SQL: names (bare, `backquoted`, [bracketed]), 'strings' and "strings",
// numbers, #dates#, 0x binary literals and punctuation. Every token keeps its offset so that
// errors can say where they happened.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tabulon::jetsql {

enum class TokenKind {
  kEnd,
  kWord,        // bare name or keyword; keywords are recognised by the parser, without case
  kQuotedName,  // `name` or [name]: never a keyword
  kString,      // 'text' or "text"; `text` holds the value with doubled quotes undone
  kNumber,      // 12, 1.5, .5, 1e-3
  kDate,        // #...#; `text` holds what is between the hashes
  kBinary,      // 0x0A0B; `text` holds the decoded bytes
  kSymbol,      // ( ) , . ; * = <> < > <= >= + - / \\ ^ & !
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string_view source;  // the token as written
  std::string text;         // its value: see TokenKind (for words and numbers the source)
  size_t offset = 0;        // byte offset in the statement
};

// Splits `sql` into tokens ending with one kEnd token. Errors name line and column.
Result<std::vector<Token>> Tokenize(std::string_view sql);

// "line 1, column 14" for a byte offset (columns count characters, from 1).
std::string DescribePosition(std::string_view sql, size_t offset);

// A syntax error at `offset` of `sql`: "syntax error at line L, column C: <what>".
Status SyntaxError(std::string_view sql, size_t offset, const std::string& what);

}  // namespace tabulon::jetsql
