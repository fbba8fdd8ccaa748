#include "target_access/backup_scripts.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "base/text.h"
#include "jet/format/properties.h"
#include "jet/saved_query.h"
#include "data/error_text.h"
#include "data/schema_rowset.h"
#include "data/statement.h"
#include "target_access/target_tables.h"

namespace tabulon::target_access {
namespace {

using workspace::WriteOutput;
using workspace::WriteOutputText;

constexpr char kNoRows[] = "RESULT: The operation completed SUCCESSFULLY";

std::string ProviderName(const TargetContext& owner) {
  return owner.target != nullptr ? owner.target->profile.provider_name : std::string();
}

bool StopRequested(const TargetContext& owner) { return owner.stop_requested && owner.stop_requested(); }

// Column `ordinal` of the current row, whole even when the buffer slot holds only its start.
Result<std::optional<std::string>> Cell(data::TextRowset& rowset, size_t ordinal) {
  const data::RowBuffer& row = rowset.buffer();
  if (ordinal < 1 || ordinal > row.columns() || row.IsNull(ordinal)) return std::optional<std::string>();
  if (row.Status(ordinal) == data::DBSTATUS_S_TRUNCATED) return data::ReadFullValue(rowset, ordinal);
  return std::optional<std::string>(std::string(row.Value(ordinal)));
}

// A schema rowset cell; a value that cannot be read counts as NULL (metadata is never long).
std::optional<std::string> MetadataCell(data::TextRowset& rowset, size_t ordinal) {
  Result<std::optional<std::string>> cell = Cell(rowset, ordinal);
  return cell.ok() ? *cell : std::nullopt;
}

unsigned long Number(const std::optional<std::string>& text) {
  return text ? std::strtoul(text->c_str(), nullptr, 10) : 0;
}

bool IsTrue(const std::optional<std::string>& text) {
  return text && (EqualsIgnoreAsciiCase(*text, "true") || *text == "1" || *text == "-1");
}

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

// A number as the SQL lexer reads it back unchanged: [-]digits[.digits][e[+-]digits].
bool IsNumberText(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    size_t exponent = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == text.size();
}

bool IsHexText(std::string_view text) {
  if (text.size() % 2 != 0) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// One value of a data script: NULL; text and GUIDs quoted with inner quotes doubled; binary as
// 0x...; dates as #...#; numbers and True/False as they are (anything else quoted, so no value
// can end the statement early).
std::string ScriptValue(data::DbType type, const std::optional<std::string>& text) {
  if (!text) return "NULL";
  switch (type) {
    case data::DBTYPE_STR:
    case data::DBTYPE_WSTR:
    case data::DBTYPE_BSTR:
    case data::DBTYPE_GUID: return Quoted(*text);
    case data::DBTYPE_BYTES: return IsHexText(*text) ? "0x" + *text : Quoted(*text);
    case data::DBTYPE_DATE:
    case data::DBTYPE_DBDATE:
    case data::DBTYPE_DBTIME:
    case data::DBTYPE_DBTIMESTAMP: return text->find('#') == std::string::npos ? "#" + *text + "#" : Quoted(*text);
    default:
      if (IsNumberText(*text) || EqualsIgnoreAsciiCase(*text, "true") || EqualsIgnoreAsciiCase(*text, "false")) {
        return *text;
      }
      return Quoted(*text);
  }
}

// The COLUMNS row of one column as its clause of the definition script.
std::string ColumnClause(data::TextRowset& rowset, const std::string& provider) {
  using namespace data::schema;
  const std::optional<std::string> name = MetadataCell(rowset, kColumnName);
  const auto type = static_cast<data::DbType>(Number(MetadataCell(rowset, kDataType)));
  std::uint8_t precision = 0;
  std::uint8_t scale = 0;
  if (type == data::DBTYPE_NUMERIC) {
    precision = static_cast<std::uint8_t>(Number(MetadataCell(rowset, kNumericPrecision)));
    scale = static_cast<std::uint8_t>(Number(MetadataCell(rowset, kNumericScale)));
  }
  std::string clause = QuoteAccessName(name.value_or("")) + " ";
  clause += AccessTypeName(static_cast<std::uint32_t>(Number(MetadataCell(rowset, kColumnFlags))), type,
                           Number(MetadataCell(rowset, kCharacterMaximumLength)), provider, precision, scale);
  clause += " ";
  // The default is written as stored (an expression such as 0, 'abc' or Now()): quoting it
  // again would turn 0 into the text '0' and break 'abc'.
  if (IsTrue(MetadataCell(rowset, kColumnHasDefault))) {
    if (const std::optional<std::string> value = MetadataCell(rowset, kColumnDefault); value && !value->empty()) {
      clause += "default " + *value + " ";
    }
  }
  clause += IsTrue(MetadataCell(rowset, kIsNullable)) ? "NULL " : "NOT NULL ";
  return clause;
}

// Closes the data file; false (errno set) when anything written did not reach it.
bool CloseDataFile(std::FILE*& file, bool ok) {
  const bool closed = std::fclose(file) == 0;
  file = nullptr;
  return ok && closed;
}

// The positions of the MSysQueries columns the rebuild reads: by name, else where Jet's
// OLE DB provider lists them (Attribute, Expression, Flag, LvExtra, Name1, ...).
struct QueryColumns {
  size_t attribute = 1;
  size_t expression = 2;
  size_t flag = 3;
  size_t name1 = 5;
  size_t name2 = 6;
  size_t order = 8;
};

QueryColumns FindQueryColumns(const std::vector<data::ColumnInfo>& columns) {
  QueryColumns found;
  for (const data::ColumnInfo& c : columns) {
    if (c.ordinal == 0) continue;
    if (EqualsIgnoreAsciiCase(c.name, "Attribute")) found.attribute = c.ordinal;
    if (EqualsIgnoreAsciiCase(c.name, "Expression")) found.expression = c.ordinal;
    if (EqualsIgnoreAsciiCase(c.name, "Flag")) found.flag = c.ordinal;
    if (EqualsIgnoreAsciiCase(c.name, "Name1")) found.name1 = c.ordinal;
    if (EqualsIgnoreAsciiCase(c.name, "Name2")) found.name2 = c.ordinal;
    if (EqualsIgnoreAsciiCase(c.name, "Order")) found.order = c.ordinal;
  }
  return found;
}

// The view rebuilt from its MSysQueries rows: output columns (with their aliases), input
// tables and the condition.
std::string RebuildViewFromQueryRows(TargetContext& owner, data::Session* session, const std::string& view,
                                     const std::string& failure) {
  const std::string sql =
      "select Q.* from MSysObjects O,MSysQueries Q \t\twhere O.name=" + Quoted(view) + " and O.Id=Q.ObjectId";
  data::TextRowset rowset;
  const data::Hresult code = data::OpenTextRowset(session, sql, &rowset);
  if (code != data::S_OK) {
    WriteOutputText(owner.output, data::ErrorDescription(rowset.error_source()));
    return failure;
  }
  if (!rowset.has_rowset()) {
    WriteOutputText(owner.output, kNoRows);
    return kNoRows;
  }
  const QueryColumns at = FindQueryColumns(rowset.columns());
  std::string select, from, where;
  bool selected = false;
  size_t rows = 0;
  data::Hresult fetched;
  while ((fetched = data::MoveNextRow(rowset)) == data::S_OK) {
    ++rows;
    const std::optional<std::string> attribute = MetadataCell(rowset, at.attribute);
    const std::string expression = MetadataCell(rowset, at.expression).value_or("");
    const std::string name1 = MetadataCell(rowset, at.name1).value_or("");
    switch (Number(attribute)) {
      case 6: {
        const std::string item = name1.empty() ? expression : expression + " AS " + QuoteAccessName(name1);
        select += selected ? ", " + item : "SELECT " + item;
        selected = true;
        break;
      }
      case 3:
        // Only the all-fields bit of the options selects "*" (DISTINCT and the others do not).
        if ((Number(MetadataCell(rowset, at.flag)) & 1) != 0) {
          select += selected ? ", * " : " SELECT * ";
          selected = true;
        }
        break;
      case 5: from += from.empty() ? "  FROM " + QuoteAccessName(name1) : ", " + QuoteAccessName(name1); break;
      case 8: where += where.empty() ? " WHERE " + expression : ", " + expression; break;
      default: break;
    }
  }
  if (data::Failed(fetched)) {
    WriteOutputText(owner.output, data::ErrorDescription(rowset.error_source()));
    return failure;
  }
  if (rows == 0) {  // an empty script would pass for a view
    WriteOutput(owner.output, "T::No view named [%s]", view.c_str());
    return failure;
  }
  return "CREATE VIEW " + QuoteAccessName(view) + " AS \n" + select + "\n" + from + "\n" + where + "\n";
}

// The MSysQueries rows of a saved query, sorted as the engine lists them.
Result<std::vector<jet::QueryRow>> ReadQueryRows(data::Session* session, const std::string& query) {
  data::TextRowset rowset;
  const std::string sql = "select Q.* from MSysObjects O, MSysQueries Q where O.Name=" + Quoted(query) +
                          " and O.Type=5 and O.Id=Q.ObjectId";
  if (data::OpenTextRowset(session, sql, &rowset) != data::S_OK) {
    return ProviderError(data::ErrorDescription(rowset.error_source()));
  }
  std::vector<jet::QueryRow> rows;
  if (!rowset.has_rowset()) return rows;
  const QueryColumns at = FindQueryColumns(rowset.columns());
  data::Hresult fetched;
  while ((fetched = data::MoveNextRow(rowset)) == data::S_OK) {
    jet::QueryRow row;
    ASSIGN_OR_RETURN(std::optional<std::string> attribute, Cell(rowset, at.attribute));
    ASSIGN_OR_RETURN(std::optional<std::string> order, Cell(rowset, at.order));
    ASSIGN_OR_RETURN(std::optional<std::string> flag, Cell(rowset, at.flag));
    ASSIGN_OR_RETURN(row.name1, Cell(rowset, at.name1));
    ASSIGN_OR_RETURN(row.name2, Cell(rowset, at.name2));
    ASSIGN_OR_RETURN(row.expression, Cell(rowset, at.expression));
    if (!attribute || Number(attribute) > 255 || !order || order->size() > 8 || !IsHexText(*order)) {
      return CorruptError("a row of query '" + query + "' has no attribute or order");
    }
    row.attribute = static_cast<uint8_t>(Number(attribute));
    row.order = static_cast<uint32_t>(std::strtoul(order->c_str(), nullptr, 16));
    if (flag) row.flag = static_cast<int16_t>(std::strtol(flag->c_str(), nullptr, 10));
    rows.push_back(std::move(row));
  }
  if (data::Failed(fetched)) return ProviderError(data::ErrorDescription(rowset.error_source()));
  std::stable_sort(rows.begin(), rows.end(), [](const jet::QueryRow& a, const jet::QueryRow& b) {
    return a.attribute != b.attribute ? a.attribute < b.attribute : a.order < b.order;
  });
  return rows;
}

std::string HexLiteral(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (const char c : bytes) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return out;
}

// A text of a query row: NULL, a quoted string, or (holding a control character, which a
// script line cannot keep) a 0x literal of its bytes.
std::string RowText(const std::optional<std::string>& text) {
  if (!text) return "NULL";
  const bool plain = std::none_of(text->begin(), text->end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  return plain ? Quoted(*text) : HexLiteral(*text);
}

// The query's property blob (MSysObjects.LvProp), checked to decode; empty when it has none.
Result<std::string> ReadQueryProperties(data::Session* session, const std::string& query) {
  data::TextRowset rowset;
  const std::string sql = "select LvProp from MSysObjects where Name=" + Quoted(query) + " and Type=5";
  if (data::OpenTextRowset(session, sql, &rowset) != data::S_OK) {
    return ProviderError(data::ErrorDescription(rowset.error_source()));
  }
  if (!rowset.has_rowset() || data::MoveNextRow(rowset) != data::S_OK) return std::string();
  ASSIGN_OR_RETURN(std::optional<std::string> hex, Cell(rowset, 1));
  if (!hex || hex->empty()) return std::string();
  if (!IsHexText(*hex)) return CorruptError("the properties of query '" + query + "' are not binary");
  std::string blob;
  for (size_t i = 0; i < hex->size(); i += 2) {
    blob.push_back(static_cast<char>(std::strtoul(hex->substr(i, 2).c_str(), nullptr, 16)));
  }
  const auto decoded = jet::format::DecodePropertyBlob(blob);
  if (!decoded.ok()) return decoded.status().WithContext("properties of query '" + query + "'");
  return blob;
}

}  // namespace

std::string TableDefinitionScript(TargetContext& owner, data::Session* session, const std::string& table) {
  if (session == nullptr) {
    WriteOutputText(owner.output, kNoConnection);
    return kNoConnection;
  }
  const std::string provider = ProviderName(owner);
  // By ordinal: the rowset may list columns in any order, and ordinals may have gaps.
  std::map<unsigned long, std::string> clauses;
  data::TextRowset rowset;
  data::Hresult code = data::OpenSchemaRowset(session, data::SchemaRowsetKind::kColumns,
                                              {std::nullopt, std::nullopt, table, std::nullopt}, &rowset);
  if (data::Succeeded(code)) {
    while ((code = data::MoveNextRow(rowset)) == data::S_OK) {
      const unsigned long ordinal = Number(MetadataCell(rowset, data::schema::kOrdinalPosition));
      clauses.emplace(ordinal, ColumnClause(rowset, provider));
    }
  }
  if (data::Failed(code)) {
    WriteOutput(owner.output, "T::Columns of [%s]: %s", table.c_str(),
                data::ErrorDescription(rowset.error_source()).c_str());
    clauses.clear();  // columns read before a failing fetch would replay as a narrower table
  }
  std::string script = "CREATE TABLE " + QuoteAccessName(table) + "(\n";
  bool first = true;
  for (const auto& [ordinal, clause] : clauses) {
    if (!first) script += ",\n";
    script += clause;
    first = false;
  }
  script += ")";
  return script;
}

std::string TableDataScript(TargetContext& owner, data::Session* session, const std::string& table,
                            const std::string& data_file_path) {
  if (session == nullptr) {
    WriteOutputText(owner.output, kNoConnection);
    return kNoConnection;
  }
  const std::string quoted_table = QuoteAccessName(table);
  data::TextRowset rowset;
  data::RowsetOptions options;
  options.full_values = true;  // memo and binary values longer than a buffer slot
  const data::Hresult code = data::OpenTextRowset(session, "select * from " + quoted_table, &rowset, options);
  if (code != data::S_OK) {
    std::string error = data::ErrorDescription(rowset.error_source());
    WriteOutputText(owner.output, error);
    return error;
  }
  if (!rowset.has_rowset()) {
    WriteOutputText(owner.output, kNoRows);
    return kNoRows;
  }
  // The bookmark column (ordinal 0, which the built-in provider adds) has no slot and no value.
  std::vector<data::ColumnInfo> columns;
  for (const data::ColumnInfo& c : rowset.columns()) {
    if (c.ordinal > 0 && (c.flags & data::DBCOLUMNFLAGS_ISBOOKMARK) == 0) columns.push_back(c);
  }

  std::FILE* file = std::fopen(data_file_path.c_str(), "wb");
  if (file == nullptr) {
    std::string error = fmt::format("Cannot write the data file {}: {}", data_file_path, std::strerror(errno));
    WriteOutput(owner.output, "E::%s", error.c_str());
    return error;
  }
  const std::string head = "insert into " + quoted_table + " values (";
  std::string failure;
  bool written = true;
  int count = 0;
  std::string line;
  data::Hresult fetched;
  while ((fetched = data::MoveNextRow(rowset)) == data::S_OK) {
    line = head;
    for (size_t k = 0; k < columns.size(); ++k) {
      Result<std::optional<std::string>> value = Cell(rowset, columns[k].ordinal);
      if (!value.ok()) {
        failure = fmt::format("[{}] row {}: {}", table, count + 1, value.status().message());
        break;
      }
      if (k > 0) line += ',';
      line += ScriptValue(columns[k].type, *value);
    }
    if (!failure.empty()) break;
    line += ")\n";
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
      written = false;
      break;
    }
    ++count;
    if (count % 1000 == 0) WriteOutput(owner.output, "[%s] %d records backuped!", table.c_str(), count);
    if (StopRequested(owner)) {
      WriteOutput(owner.output, "Data Backup Terminaled!");
      break;
    }
  }
  if (failure.empty() && data::Failed(fetched)) failure = data::ErrorDescription(rowset.error_source());
  if (!CloseDataFile(file, written) && failure.empty()) {
    failure = fmt::format("Cannot write the data file {}: {}", data_file_path, std::strerror(errno));
  }
  WriteOutput(owner.output, "[%s]%8d records backuped!", table.c_str(), count);
  if (!failure.empty()) {
    // The file lacks rows: say so rather than leave a script that looks complete.
    WriteOutput(owner.output, "E::%s", failure.c_str());
    return failure;
  }
  return kRowsWritten;
}

std::string ViewDefinitionScript(TargetContext& owner, data::Session* session, const std::string& view) {
  if (session == nullptr) {
    WriteOutputText(owner.output, kNoConnection);
    return kNoConnection;
  }
  const std::string failure = fmt::format(" view :[Microsoft][{}] NO PERMISSION!\n", ProviderName(owner));
  data::TextRowset rowset;
  const data::Hresult code =
      data::OpenSchemaRowset(session, data::SchemaRowsetKind::kViews, {std::nullopt, std::nullopt, view}, &rowset);
  // A provider without the VIEWS rowset (or whose rowset fails) keeps the query in its system tables.
  if (data::Failed(code)) return RebuildViewFromQueryRows(owner, session, view, failure);
  Result<bool> fetched = data::FetchRow(rowset);
  if (!fetched.ok()) {
    WriteOutput(owner.output, "T::%s", fetched.status().message().c_str());
    return failure;
  }
  if (!*fetched) {
    WriteOutput(owner.output, "T::No view named [%s]", view.c_str());
    return failure;
  }
  const std::optional<std::string> definition = MetadataCell(rowset, data::schema::kViewDefinition);
  if (!definition) {
    WriteOutput(owner.output, "T::The query of view [%s] cannot be read as SQL", view.c_str());
    return failure;
  }
  return "CREATE VIEW " + QuoteAccessName(view) + " AS \n" + *definition + "\n";
}

Result<std::vector<std::string>> SavedQueryNames(data::Session* session) {
  data::TextRowset rowset;
  if (data::OpenTextRowset(session, "select Name from MSysObjects where Type=5", &rowset) != data::S_OK) {
    return ProviderError(data::ErrorDescription(rowset.error_source()));
  }
  std::vector<std::string> names;
  if (!rowset.has_rowset()) return names;
  data::Hresult fetched;
  while ((fetched = data::MoveNextRow(rowset)) == data::S_OK) {
    ASSIGN_OR_RETURN(std::optional<std::string> name, Cell(rowset, 1));
    if (name && !name->empty() && (*name)[0] != '~') names.push_back(std::move(*name));
  }
  if (data::Failed(fetched)) return ProviderError(data::ErrorDescription(rowset.error_source()));
  std::sort(names.begin(), names.end());
  return names;
}

Result<std::string> QueryBackupScript(data::Session* session, const std::string& query) {
  if (session == nullptr) return Status(ErrorCode::kNoConnection, kNoConnection);
  ASSIGN_OR_RETURN(std::vector<jet::QueryRow> rows, ReadQueryRows(session, query));
  if (rows.empty()) return NotFoundError("no query named '" + query + "'");
  ASSIGN_OR_RETURN(std::string properties, ReadQueryProperties(session, query));
  std::string script;
  const Result<std::string> sql = jet::RenderQuerySql(rows);
  std::string shown = sql.ok() ? *sql : "(no SQL text: " + sql.status().message() + ")";
  // Comment lines end at a line end: other control characters (the NUL ending pass-through
  // text) become blanks.
  size_t start = 0;
  while (start <= shown.size()) {
    size_t end = shown.find('\n', start);
    if (end == std::string::npos) end = shown.size();
    std::string line = shown.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.pop_back();
    for (char& c : line) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = ' ';
    }
    script += "-- " + line + "\n";
    start = end + 1;
  }
  script += "CREATE QUERY " + QuoteAccessName(query) + " ROWS\n";
  for (size_t i = 0; i < rows.size(); ++i) {
    const jet::QueryRow& r = rows[i];
    script += fmt::format("({}, {}, {}, {}, {}, {}){}\n", r.attribute, r.order,
                          r.flag ? std::to_string(*r.flag) : std::string("NULL"), RowText(r.name1), RowText(r.name2),
                          RowText(r.expression), i + 1 < rows.size() ? "," : ";");
  }
  if (!properties.empty()) {
    script += "ALTER QUERY " + QuoteAccessName(query) + " SET PROPERTIES " + HexLiteral(properties) + ";\n";
  }
  return script;
}

}  // namespace tabulon::target_access
