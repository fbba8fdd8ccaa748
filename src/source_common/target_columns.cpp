#include "source_common/target_columns.h"

#include <cstdlib>

#include "data/provider.h"
#include "data/schema_rowset.h"
#include "data/statement.h"

namespace tabulon::source_common {

std::vector<TargetColumn> ReadTargetColumns(data::Session* target, const std::string& table) {
  std::vector<TargetColumn> columns;
  data::TextRowset rows;
  if (target == nullptr ||
      data::Failed(data::OpenSchemaRowset(target, data::SchemaRowsetKind::kColumns,
                                          {std::nullopt, std::nullopt, table, std::nullopt}, &rows))) {
    return columns;
  }
  auto number = [&](size_t field) {
    const data::RowBuffer& row = rows.buffer();
    return row.IsNull(field) ? 0ul : std::strtoul(std::string(row.Value(field)).c_str(), nullptr, 10);
  };
  while (data::MoveNextRow(rows) == data::S_OK) {
    const data::RowBuffer& row = rows.buffer();
    if (row.columns() < data::schema::kDataType || row.IsNull(data::schema::kColumnName)) continue;
    columns.push_back({std::string(row.Value(data::schema::kColumnName)), number(data::schema::kOrdinalPosition),
                       number(data::schema::kDataType), number(data::schema::kColumnFlags)});
  }
  return columns;
}

}  // namespace tabulon::source_common
