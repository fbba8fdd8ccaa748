// Row transfer: the source rows (typed where the provider gives them so) go through the shared
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

void WriteSqlServerField(DbType type, bool row_version, const Field& value, Field& out) {
  if (row_version) {
    // A rowversion's Access column is VarChar(18): its bytes go in as the text "0x...", since
    // binary bytes do not fit a Text column and would cost the whole row.
    out.SetText(Field::Kind::kText, "0x" + FieldText(value));
  } else if (IsTextLike(type)) {
    if (value.kind == Field::Kind::kDate) {
      out.SetDate(value.date);  // read as a date: the Date/Time column takes it as such
    } else {
      (void)source_common::WriteTextField(value, out);
    }
  } else if (type == DBTYPE_BYTES) {
    // Bytes as they come; text rowsets give them as hexadecimal digits.
    if (value.kind == Field::Kind::kBytes) {
      out.SetText(Field::Kind::kBytes, value.text);
    } else if (!source_common::WriteBinaryField(value, out).ok()) {
      out.SetText(Field::Kind::kNumber, "0x" + value.text);  // the target refuses it, naming it
    }
  } else if (value.kind == Field::Kind::kInteger || value.kind == Field::Kind::kDouble ||
             value.kind == Field::Kind::kNumber) {
    out = value;
  } else if (value.kind == Field::Kind::kBoolean) {
    out.SetInteger(value.boolean ? 1 : 0);
  } else {
    const std::string text = FieldText(value);
    if (text.starts_with("True")) {
      out.SetInteger(1);
    } else if (text.starts_with("False")) {
      out.SetInteger(0);
    } else if (text.empty()) {
      out.SetNull();  // no number at all: nothing to write but NULL
    } else {
      out.SetText(Field::Kind::kNumber, text);
    }
  }
}

Status OpenCopyRows(const SourceContext& owner, Session* source, std::string_view database, const SourceTable& table,
                    source_common::CopySource* rows) {
  const std::string condition = source_common::MigrationCondition(owner, database, table.name);
  if (OpenTextRowset(source, BuildSelectRowsStatement(table, condition), &rows->rows,
                     {.full_values = true, .typed = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows->rows.error_source()));
  }
  rows->writers.clear();
  if (!rows->rows.has_rowset()) return Status::Ok();
  for (const ColumnInfo& column : rows->rows.columns()) {
    if (column.ordinal == 0) continue;
    const bool row_version = column.type == DBTYPE_BYTES && (column.flags & DBCOLUMNFLAGS_ISROWVER) != 0;
    rows->writers.push_back([type = column.type, row_version](const Field& value, Field& out) {
      WriteSqlServerField(type, row_version, value, out);
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
