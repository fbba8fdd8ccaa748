// Row transfer: the source rows become one INSERT each on the target, written by the shared
// row copy with a writer per column chosen from its OLE DB type.
#include "data/error_text.h"
#include "data/statement.h"
#include "source_common/access_statements.h"
#include "source_common/row_copy.h"
#include "source_sqlserver/translate.h"

namespace tabulon::source_sqlserver {

using namespace data;
using namespace workspace;

namespace {

// Stands for a rowversion column among the OLE DB types of a copy (not an OLE DB type itself).
constexpr DbType kRowVersionText = static_cast<DbType>(0xFFFF);

bool IsTextLike(DbType type) {
  switch (type) {
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
    case DBTYPE_DBTIMESTAMP:
    case DBTYPE_GUID:
    case DBTYPE_DBDATE:
    case DBTYPE_DBTIME:
    case DBTYPE_VARIANT:  // a sql_variant arrives as the text of its value
      return true;
    default: return false;
  }
}

}  // namespace

std::string BuildSelectRowsStatement(const SourceTable& table, std::string_view condition) {
  std::string sql = "select * from " + QualifiedName(table);
  if (!condition.empty()) {
    sql += " where ";
    sql += condition;
  }
  return sql;
}

void AppendAccessLiteral(std::string& out, DbType type, const std::optional<std::string_view>& value) {
  if (!value) {
    out += "NULL";
    return;
  }
  if (type == kRowVersionText) {
    source_common::AppendAccessString(out, "0x" + std::string(*value));
  } else if (IsTextLike(type)) {
    source_common::AppendAccessString(out, *value);
  } else if (type == DBTYPE_BYTES) {
    // Bytes arrive as hexadecimal digits; the target reads 0x.. as the bytes themselves.
    out += "0x";
    out.append(*value);
  } else if (value->starts_with("True")) {
    out += '1';
  } else if (value->starts_with("False")) {
    out += '0';
  } else if (value->empty()) {
    out += "NULL";  // no number at all: nothing to write but NULL
  } else {
    out.append(*value);
  }
}

Status OpenCopyRows(const SourceContext& owner, Session* source, std::string_view database, const SourceTable& table,
                    TextRowset* rows, std::vector<source_common::LiteralWriter>* writers) {
  const std::string condition = source_common::MigrationCondition(owner, database, table.name);
  if (OpenTextRowset(source, BuildSelectRowsStatement(table, condition), rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows->error_source()));
  }
  writers->clear();
  if (!rows->has_rowset()) return Status::Ok();
  for (const ColumnInfo& column : rows->columns()) {
    if (column.ordinal == 0) continue;
    // A rowversion's Access column is VarChar(18): its bytes go in as the text "0x...", since
    // a binary literal does not fit a Text column and would cost the whole row.
    const bool row_version = column.type == DBTYPE_BYTES && (column.flags & DBCOLUMNFLAGS_ISROWVER) != 0;
    const DbType type = row_version ? kRowVersionText : column.type;
    writers->push_back([type](std::string& out, std::string_view value) {
      AppendAccessLiteral(out, type, value);
      return Status::Ok();
    });
  }
  return Status::Ok();
}

Result<source_common::RowCopyCounts> TransferTableRows(const SourceContext& owner, Session* source, Session* target,
                                                       std::string_view database, const SourceTable& table) {
  return source_common::CopyTableRows(owner, source, target, database, table, OpenCopyRows);
}

}  // namespace tabulon::source_sqlserver
