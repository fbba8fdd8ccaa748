// Row transfer: the source rows become one INSERT each on the target.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "data/error_text.h"
#include "data/properties.h"
#include "data/statement.h"
#include "source_sqlserver/translate.h"

namespace tabulon::source_sqlserver {

using namespace data;

namespace {

constexpr int kReportedInsertFailures = 10;
constexpr int kProgressEvery = 2000;
// Stands for a rowversion column among the OLE DB types of a copy (not an OLE DB type itself).
constexpr DbType kRowVersionText = static_cast<DbType>(0xFFFF);

void AppendQuoted(std::string& out, std::string_view text) {
  out += '\'';
  size_t start = 0;
  for (size_t quote = text.find('\''); quote != std::string_view::npos; quote = text.find('\'', start)) {
    out.append(text.substr(start, quote + 1 - start));
    out += '\'';
    start = quote + 1;
  }
  out.append(text.substr(start));
  out += '\'';
}

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
    default:
      return false;
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
    AppendQuoted(out, "0x" + std::string(*value));
  } else if (IsTextLike(type)) {
    AppendQuoted(out, *value);
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

std::string TransferTableRows(const SourceContext& owner, Session* source, Session* target, std::string_view database,
                              const SourceTable& table) {
  if (source == nullptr) {
    WriteOutput(owner.output, "No Source Connection!");
    return "No Source Connection!";
  }
  if (target == nullptr) {
    WriteOutput(owner.output, "No Target Connection!");
    return "No Target Connection!";
  }
  const std::string condition = owner.condition ? owner.condition(database, table.name) : std::string();
  TextRowset rows;
  if (OpenTextRowset(source, BuildSelectRowsStatement(table, condition), &rows, {.full_values = true}) != S_OK) {
    // Said here, since the table flow goes on: a bad condition must not look like an empty table.
    const std::string error = ErrorDescription(rows.error_source());
    WriteOutput(owner.output, "E::[%s] Reading rows failed: %s", table.name.c_str(), error.c_str());
    return error;
  }
  if (!rows.has_rowset()) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return {};
  }
  std::vector<DbType> types;
  for (const ColumnInfo& column : rows.columns()) {
    if (column.ordinal == 0) continue;
    // A rowversion's Access column is VarChar(18): its bytes go in as the text "0x...", since
    // a binary literal does not fit a Text column and would cost the whole row.
    const bool row_version = column.type == DBTYPE_BYTES && (column.flags & DBCOLUMNFLAGS_ISROWVER) != 0;
    types.push_back(row_version ? kRowVersionText : column.type);
  }

  namespace fs = std::filesystem;
  const fs::path data_file = fs::path(owner.work_folder) / (SafeFileName(table.name) + ".data");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(data_file.c_str(), "w+"), &std::fclose);
  if (file == nullptr && owner.auto_backup) {
    WriteOutput(owner.output, "E::[%s] The data file %s cannot be written", table.name.c_str(), data_file.c_str());
  }

  std::unique_ptr<Command> command;
  if (Failed(target->CreateCommand(&command)) || command == nullptr) {
    const std::string error = ErrorDescription(target);
    WriteOutput(owner.output, "E::[%s] %s", table.name.c_str(), error.c_str());
    return error;
  }
  const PropertySet properties = BuildStatementRowsetProperties();
  const std::string prefix = "insert into " + AccessName(table.name) + " values (";
  std::string statement;
  long long read = 0, written = 0, failed = 0;
  std::string result = "true";
  for (;;) {
    const Hresult fetched = MoveNextRow(rows);
    if (fetched == DB_S_ENDOFROWSET) break;
    if (fetched != S_OK) {
      // Rows that cannot be read are not silently dropped: the copy is reported as failed.
      result = ErrorDescription(rows.error_source());
      WriteOutput(owner.output, "E::[%s] Reading rows failed after %lld records: %s", table.name.c_str(), read,
                  result.c_str());
      break;
    }
    statement.assign(prefix);
    const RowBuffer& buffer = rows.buffer();
    for (size_t k = 1; k <= types.size(); ++k) {
      if (k > 1) statement += ',';
      if (buffer.IsNull(k)) {
        AppendAccessLiteral(statement, types[k - 1], std::nullopt);
      } else if (buffer.Status(k) == DBSTATUS_S_TRUNCATED) {
        Result<std::optional<std::string>> whole = ReadFullValue(rows, k);
        if (!whole.ok()) {
          result = whole.status().message();
          WriteOutput(owner.output, "E::[%s] Reading a long value failed: %s", table.name.c_str(), result.c_str());
          break;
        }
        AppendAccessLiteral(statement, types[k - 1],
                            whole->has_value() ? std::optional<std::string_view>(**whole) : std::nullopt);
      } else {
        AppendAccessLiteral(statement, types[k - 1], buffer.Value(k));
      }
    }
    if (result != "true") break;
    statement += ");\n";
    ++read;
    if (owner.auto_backup && file != nullptr) std::fwrite(statement.data(), 1, statement.size(), file.get());
    std::unique_ptr<Rowset> no_rows;
    const Hresult code = command->Execute(statement, properties, {}, &no_rows);
    no_rows.reset();
    if (code == S_OK) {
      ++written;
    } else if (++failed <= kReportedInsertFailures) {
      WriteOutput(owner.output, "E::[%s] Record %lld was not inserted: %s", table.name.c_str(), read,
                  ErrorDescription(command.get()).c_str());
    }
    if (read % kProgressEvery == 0) WriteOutput(owner.output, "[%s] %lld records converted!", table.name.c_str(), read);
    if (owner.stop_requested && owner.stop_requested()) {
      WriteOutput(owner.output, "Data Converting Terminaled!");
      break;
    }
  }
  // Inserts the target held back in a batch must be stored before the count is given.
  if (Failed(target->Commit())) {
    result = ErrorDescription(target);
    WriteOutput(owner.output, "E::[%s] Storing the records failed: %s", table.name.c_str(), result.c_str());
    return result;
  }
  if (failed > 0) {
    WriteOutput(owner.output, "E::[%s] %lld records could not be inserted!", table.name.c_str(), failed);
  }
  WriteOutput(owner.output, "[%s] %lld records converted, convertion completed SUCCESSFULLY!", table.name.c_str(), written);
  return result;
}

}  // namespace tabulon::source_sqlserver
