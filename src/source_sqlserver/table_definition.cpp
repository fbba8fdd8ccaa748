// The table definition: the catalogue gives the facts of every column, the adapter decides their
// Access types (column_types.h) and joins them into CREATE TABLE.
#include <charconv>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "source_common/access_names.h"
#include "source_sqlserver/column_types.h"
#include "source_sqlserver/translate.h"

namespace tabulon::source_sqlserver {

using namespace data;
using source_common::SourceVolume;
using namespace workspace;

std::string BuildColumnsStatement(const SourceTable& table) {
  // t.type_id is the built-in type a column's type is made of (an alias type's base type).
  std::string sql =
      "select c.name, t.type_id, type_name(t.type_id) type_name, type_name(c.user_type_id) declared_type,\n"
      " c.max_length, c.precision, c.scale, c.is_nullable, c.is_identity,\n"
      " convert(varchar(40), i.seed_value) seed, convert(varchar(40), i.increment_value) increment,\n"
      " case when c.default_object_id=0 then 0 else 1 end has_default, d.definition, c.collation_name\n"
      "from sys.all_columns c\n"
      " cross apply (select case when c.user_type_id>256 then c.system_type_id else c.user_type_id end) t(type_id)\n"
      " left join sys.identity_columns i on i.object_id=c.object_id and i.column_id=c.column_id\n"
      " left join sys.default_constraints d on d.object_id=c.default_object_id\n"
      "where c.object_id=object_id(";
  sql += NationalLiteral(QualifiedName(table));
  sql += ")\norder by c.column_id";
  return sql;
}

std::string BuildLargestValueStatement(const SourceTable& table, std::string_view column) {
  return "select convert(varchar(60), max(abs(" + QuoteSqlServerName(column) + "))) from " + QualifiedName(table);
}

std::optional<std::string> TranslateDefault(std::string_view definition) {
  using source_common::IsNumberLiteral;
  using source_common::IsStringLiteral;
  const std::string_view text = source_common::StripEnclosingParentheses(definition);
  const std::string lower = AsciiLower(text);
  if (lower.empty() || lower == "null") return std::string();
  if (lower == "newid()" || lower == "newsequentialid()") return std::string("GenGUID()");
  if (lower == "getdate()" || lower == "sysdatetime()" || lower == "current_timestamp" || lower == "getutcdate()" ||
      lower == "sysutcdatetime()") {
    return lower == "getutcdate()" || lower == "sysutcdatetime()" ? std::nullopt : std::optional<std::string>("Now()");
  }
  if (IsNumberLiteral(text)) return std::string(text);
  if (IsStringLiteral(text)) return std::string(text);
  if ((text.front() == 'N' || text.front() == 'n') && IsStringLiteral(text.substr(1)))
    return std::string(text.substr(1));
  return std::nullopt;
}

namespace {

std::optional<int> SmallInteger(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  int n = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), n);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return n;
}

// Reads the facts of one column from the current row of the columns statement.
Result<ColumnFacts> ReadFacts(TextRowset& rows) {
  std::optional<std::string> cells[14];
  const size_t columns = std::min<size_t>(rows.buffer().columns(), 14);
  for (size_t k = 1; k <= columns; ++k) {
    ASSIGN_OR_RETURN(cells[k - 1], ReadFullValue(rows, k));
  }
  ColumnFacts c;
  c.name = cells[0].value_or("");
  const std::optional<int> type_id = SmallInteger(cells[1]);
  const std::optional<int> max_length = SmallInteger(cells[4]);
  if (!type_id || !max_length) {
    return ProviderError("the catalogue gave column [" + c.name + "] no type id or length");
  }
  c.type_id = *type_id;
  c.type_name = cells[2].value_or("");
  c.declared_type = cells[3].value_or(c.type_name);
  c.max_length = *max_length;
  c.precision = SmallInteger(cells[5]).value_or(0);
  c.scale = SmallInteger(cells[6]).value_or(0);
  c.nullable = cells[7].value_or("1") != "0";
  c.identity = cells[8].value_or("0") == "1";
  c.seed = cells[9].value_or("");
  c.increment = cells[10].value_or("");
  c.has_default = cells[11].value_or("0") == "1";
  c.default_definition = cells[12];
  c.collation = cells[13].value_or("");
  return c;
}

// The facts of every column of `table`; nullopt when the columns statement yields no rowset. A
// fetch or read failing half-way is the provider's error: a table with fewer columns is never the
// answer.
Result<std::optional<std::vector<ColumnFacts>>> ReadAllFacts(Session* source, const SourceTable& table) {
  TextRowset rows;
  if (OpenTextRowset(source, BuildColumnsStatement(table), &rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) return std::optional<std::vector<ColumnFacts>>();
  std::vector<ColumnFacts> facts;
  for (;;) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    ASSIGN_OR_RETURN(ColumnFacts c, ReadFacts(rows));
    facts.push_back(std::move(c));
  }
  return std::optional<std::vector<ColumnFacts>>(std::move(facts));
}

// True for the types whose data length counts two bytes per character.
bool CountsTwoBytesPerCharacter(int type_id) {
  return type_id == 99 || type_id == 231 || type_id == 239;  // ntext, nvarchar (sysname), nchar
}

// Digits before the point of a number's text ("-123.45" has 3; "0.5" has 0).
int IntegerDigits(std::string_view text) {
  int digits = 0;
  bool leading = true;
  for (char ch : text) {
    if (ch == '.' || ch == 'e' || ch == 'E') break;
    if (ch < '0' || ch > '9') continue;
    if (leading && ch == '0') continue;
    leading = false;
    ++digits;
  }
  return digits;
}

// The digits before the point of the largest stored value of a decimal column.
Result<int> LargestIntegerDigits(Session* source, const SourceTable& table, std::string_view column) {
  TextRowset rows;
  if (OpenTextRowset(source, BuildLargestValueStatement(table, column), &rows) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) return 0;
  ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
  if (!fetched) return 0;
  ASSIGN_OR_RETURN(const std::optional<std::string> value, ReadFullValue(rows, 1));
  return value ? IntegerDigits(*value) : 0;
}

}  // namespace

std::string BuildMeasureRowsStatement(const SourceTable& table, const std::vector<std::string>& columns,
                                      std::string_view condition) {
  // datalength is NULL for NULL and defined for every type (text, image and xml too), so one
  // pass counts the values and their lengths alike.
  std::string sql = "select count_big(*)";
  for (const std::string& column : columns) {
    const std::string quoted = QuoteSqlServerName(column);
    sql += ",\n count_big(datalength(" + quoted + ")), sum(cast(datalength(" + quoted + ") as bigint))";
  }
  sql += "\nfrom " + QualifiedName(table);
  if (!condition.empty()) {
    sql += " where ";
    sql += condition;
  }
  return sql;
}

Result<SourceVolume> MeasureRows(const SourceContext& owner, Session* source, std::string_view database,
                                 const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  ASSIGN_OR_RETURN(const std::optional<std::vector<ColumnFacts>> facts, ReadAllFacts(source, table));
  if (!facts || facts->empty()) return SourceVolume{};
  std::vector<std::string> names;
  for (const ColumnFacts& c : *facts) names.push_back(c.name);
  const std::string condition = source_common::MigrationCondition(owner, database, table.name);
  TextRowset rows;
  if (OpenTextRowset(source, BuildMeasureRowsStatement(table, names, condition), &rows, {.full_values = true}) !=
      S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) return ProviderError("the count of [" + table.name + "] gave no rows");
  ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
  if (!fetched) return ProviderError("the count of [" + table.name + "] gave no rows");
  std::vector<long long> numbers;
  for (size_t k = 1; k <= 1 + 2 * names.size(); ++k) {
    ASSIGN_OR_RETURN(const std::optional<std::string> cell, ReadFullValue(rows, k));
    // sum() over no values is NULL.
    const std::optional<long long> number = cell ? ParseWholeNumber(*cell) : 0LL;
    if (!number) return ProviderError("the count of [" + table.name + "] gave '" + *cell + "', not a number");
    numbers.push_back(*number);
  }
  for (size_t k = 0; k < names.size(); ++k) {
    if (CountsTwoBytesPerCharacter((*facts)[k].type_id)) numbers[2 + 2 * k] /= 2;
  }
  return source_common::VolumeFromCounts(names, numbers);
}

Status RecordColumnNames(const SourceContext& owner, Session* source, const SourceTable& table) {
  if (!owner.names || owner.names->HasColumns(table)) return Status::Ok();
  TextRowset rows;
  if (OpenTextRowset(source, BuildColumnsStatement(table), &rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  std::vector<std::string> names;
  while (rows.has_rowset()) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    ASSIGN_OR_RETURN(const std::optional<std::string> name, ReadFullValue(rows, 1));
    names.push_back(name.value_or(""));
  }
  owner.names->SetColumns(table, names);
  return Status::Ok();
}

Result<Translation> TranslateTableDefinition(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                             const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  const bool jet = TargetIsJet(owner);
  ASSIGN_OR_RETURN(const std::optional<std::vector<ColumnFacts>> read, ReadAllFacts(source, table));
  if (!read) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return Translation::Nothing();
  }
  const std::vector<ColumnFacts>& facts = *read;
  std::vector<source_common::AccessColumn> columns;
  std::vector<source_common::ColumnNote> notes;
  std::vector<source_common::ColumnMapping> mappings;
  std::vector<source_common::Rename> renames;
  std::vector<std::string> names;
  for (const ColumnFacts& c : facts) names.push_back(c.name);
  const source_common::AccessTableNames access_names = source_common::NameTableForAccess(owner, table, names, renames);
  for (size_t k = 0; k < facts.size(); ++k) {
    const ColumnFacts& c = facts[k];
    auto decided = DecideColumnType(c, source_common::UserTypeMap(owner), jet);
    if (!decided.ok()) return decided.status();
    ColumnDecision d = std::move(*decided);
    if (d.needs_value_check) {
      ASSIGN_OR_RETURN(const int digits, LargestIntegerDigits(source, table, c.name));
      d = DecideWideDecimal(c, digits);
    }
    source_common::AccessColumn a{access_names.columns[k], d.type.type, d.type.length, c.nullable, {}};
    if (d.auto_number) a.nullable = false;
    if (c.has_default && !c.default_definition) {
      // A default bound from a default object: the catalogue has no text for it.
      WriteOutput(owner.output, "HAS (NULL)!!!");
    } else if (c.default_definition) {
      // A default Access cannot evaluate would make the whole table fail: it is left out.
      std::optional<std::string> access_default = TranslateDefault(*c.default_definition);
      if (!access_default) {
        source_common::ReportLeftOutDefault(owner, table.name, *c.default_definition, c.name);
      } else {
        a.default_value = std::move(*access_default);
      }
    }
    if (!d.note.empty()) {
      notes.push_back({table.name, c.name, DeclaredTypeText(c), d.type.Text(), d.note, d.changes_values});
    }
    mappings.push_back({table.name, c.name, a.name, DeclaredTypeText(c), d.type.Text()});
    columns.push_back(std::move(a));
  }
  source_common::ReportRenames(owner, table.name, renames);
  source_common::ReportColumnNotes(owner, table.name, notes);
  source_common::ReportColumnMappings(owner, mappings);
  return Translation::Statements(source_common::CreateTableStatement(access_names.table, columns, jet));
}

}  // namespace tabulon::source_sqlserver
