// What the view translator (viewsql) knows of a migration: the Access names of the source's
// tables and columns, and the classes of the values of the target's columns (tables are made
// before views, so the target says what each column became).
#pragma once

#include <functional>
#include <string_view>

#include "base/status.h"
#include "source_common/source_context.h"
#include "viewsql/translate.h"

namespace tabulon::source_common {

// A table named without a schema is looked for in `default_schema` first; `record_columns`
// records a table's column names before one is asked for (its failure leaves names as written).
viewsql::Catalog MigrationCatalog(const SourceContext& owner, std::string_view default_schema,
                                  std::function<Status(const SourceTable&)> record_columns);

}  // namespace tabulon::source_common
