// A quick reading of the INSERT statements a migration sends by the million: once the full
// parser has read "INSERT INTO t (a, b) VALUES (...)", later statements that begin with exactly
// the same text before VALUES only need their values scanned. Anything the scanner is not sure
// of (another shape, a value written in an unusual way, a count that does not match) is left to
// the full parser, so both always agree on what a statement means.
#pragma once

#include <string>
#include <string_view>

#include "jetsql/ast.h"

namespace tabulon::jetsql {

class QuickInsert {
 public:
  // The statement read quickly, or null when the full parser must read it. The result is
  // valid until the next call.
  Insert* Parse(std::string_view sql);
  // Remembers the head of an INSERT the full parser has read.
  void Learn(std::string_view sql, const Insert& insert);

 private:
  std::string head_;  // the text before VALUES, as written
  Insert insert_;     // its table and columns; the values of the last statement read
};

}  // namespace tabulon::jetsql
