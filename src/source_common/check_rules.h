// CHECK constraints of a source table as Access validation rules. A CHECK that names one column,
// every comparison of it with that column alone on its left, becomes the column's rule in the
// form Access shows a field rule ("qty > 0" is ">0", "code IN ('a','b')" is "In ('a', 'b')");
// any other becomes (part of) the table's rule, columns in brackets. Several rules of one column,
// or of the table, are joined with And, each in parentheses.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "source_common/source_context.h"
#include "source_common/translation.h"
#include "viewsql/translate.h"

namespace tabulon::source_common {

struct SourceCheck {
  std::string name;        // "" for an unnamed constraint
  std::string definition;  // the condition as the source keeps it
  bool disabled = false;
};

// The ALTER TABLE ... SET PROPERTY ValidationRule / ValidationText statements of `table`, ";"-separated,
// with a left-out note ("CHECK constraint ck of [t] not kept: why") for each CHECK that is disabled
// or cannot be written in Access SQL. Names come from `catalog` (the migration's Access names).
Result<Translation> AccessCheckRules(const SourceContext& owner, const SourceTable& table,
                                     const std::vector<SourceCheck>& checks, viewsql::Dialect dialect,
                                     const viewsql::Catalog& catalog);

}  // namespace tabulon::source_common
