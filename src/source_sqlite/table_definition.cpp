// The table definition: the declared columns of a SQLite table, checked against what they hold,
// as an Access CREATE TABLE.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "source_common/access_names.h"
#include "source_common/access_statements.h"
#include "source_sqlite/columns.h"

namespace tabulon::source_sqlite {

using namespace data;
using source_common::AccessColumn;

namespace {

// Access's integer types, narrowest first, with the values each holds.
struct IntegerType {
  const char* name;
  std::int64_t min, max;
};
constexpr IntegerType kIntegerTypes[] = {
    {"Byte", 0, 255}, {"Short", -32768, 32767}, {"Long", -2147483648LL, 2147483647LL}};

// The narrowest Access integer type, from `first` on, that holds the column's integers; past
// 32 bits what SQL Server's bigint becomes.
std::string IntegerTypeFor(size_t first, const ColumnContent& content, bool jet_target) {
  for (size_t k = first; k < std::size(kIntegerTypes); ++k) {
    const IntegerType& t = kIntegerTypes[k];
    if ((!content.min_integer || *content.min_integer >= t.min) &&
        (!content.max_integer || *content.max_integer <= t.max)) {
      return t.name;
    }
  }
  return jet_target ? "Numeric(19,0)" : "Long";
}

// A declared length widened to the longest stored value; 0 when it exceeds `limit` or none
// was declared.
std::int64_t SizeFor(const SqliteDeclaredType& declared, const ColumnContent& content, std::int64_t limit) {
  if (declared.args.empty() || declared.args[0] < 1) return 0;
  const std::int64_t size = std::max(declared.args[0], content.longest);
  return size <= limit ? size : 0;
}

std::optional<std::int64_t> Integer(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::int64_t n = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), n);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return n;
}

// The facts of the columns one content statement reads, in its column order: kFacts values a
// column (min and max integer, longest, and how many integers, reals, texts and blobs).
constexpr size_t kFacts = 7;

Result<std::vector<ColumnContent>> ReadFacts(Session* source, const std::string& sql, size_t columns) {
  TextRowset rows;
  if (OpenTextRowset(source, sql, &rows) != S_OK) return ProviderError(ErrorDescription(rows.error_source()));
  std::vector<ColumnContent> facts(columns);
  if (!rows.has_rowset()) return facts;
  ASSIGN_OR_RETURN(const bool row, FetchRow(rows));
  if (!row) return facts;
  for (size_t k = 0; k < columns; ++k) {
    ColumnContent& content = facts[k];
    const size_t at = k * kFacts;
    content.min_integer = Integer(Cell(rows, at + 1));
    content.max_integer = Integer(Cell(rows, at + 2));
    content.longest = Integer(Cell(rows, at + 3)).value_or(0);
    content.integers = Integer(Cell(rows, at + 4)).value_or(0);
    content.reals = Integer(Cell(rows, at + 5)).value_or(0);
    content.texts = Integer(Cell(rows, at + 6)).value_or(0);
    content.blobs = Integer(Cell(rows, at + 7)).value_or(0);
  }
  return facts;
}

// `part`'s facts taken into `whole`'s (the facts of both parts of a table together).
void MergeFacts(ColumnContent& whole, const ColumnContent& part) {
  if (part.min_integer && (!whole.min_integer || *part.min_integer < *whole.min_integer)) {
    whole.min_integer = part.min_integer;
  }
  if (part.max_integer && (!whole.max_integer || *part.max_integer > *whole.max_integer)) {
    whole.max_integer = part.max_integer;
  }
  whole.longest = std::max(whole.longest, part.longest);
  whole.integers += part.integers;
  whole.reals += part.reals;
  whole.texts += part.texts;
  whole.blobs += part.blobs;
}

// A table of at least this many rowids is read in parts, each on a connection and thread of
// its own; each part has at least half of it.
constexpr std::int64_t kRowsSplit = 65536;
constexpr unsigned kMostParts = 4;

// The name the rowid goes by in `table` (its alias column, else the first of SQLite's three
// names no column takes), "" when none does.
std::string RowidName(const std::vector<SourceColumn>& columns) {
  for (const SourceColumn& c : columns) {
    if (c.rowid) return QuoteSqliteName(c.name);
  }
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    if (std::none_of(columns.begin(), columns.end(),
                     [&](const SourceColumn& c) { return EqualsIgnoreAsciiCase(c.name, name); })) {
      return name;
    }
  }
  return {};
}

// Reads the facts of the select list `facts` over the rows of `table` (`columns` columns): in
// parts by rowid, side by side, when the table is large, the machine has the cores and the
// provider gives separate sessions; else in one statement.
Result<std::vector<ColumnContent>> ReadTableFacts(Session* source, const SourceTable& table,
                                                  const std::vector<SourceColumn>& table_columns,
                                                  const std::string& facts, size_t columns) {
  const std::string from = "\nfrom " + QuoteSqliteName(table.name);
  const unsigned cores = std::min(std::thread::hardware_concurrency(), kMostParts);
  const std::string rowid = RowidName(table_columns);
  std::optional<std::int64_t> low, high;
  if (cores > 1 && !rowid.empty()) {
    // The rowid's ends come from the b-tree without a scan (each alone: min and max in one
    // select would scan); a table without rowids refuses.
    TextRowset rows;
    const std::string ends = "select (select min(" + rowid + ")" + from + "), (select max(" + rowid + ")" + from + ")";
    if (OpenTextRowset(source, ends, &rows) == S_OK &&
        rows.has_rowset()) {
      Result<bool> row = FetchRow(rows);
      if (row.ok() && *row) {
        low = Integer(Cell(rows, 1));
        high = Integer(Cell(rows, 2));
      }
    }
  }
  // The span in unsigned arithmetic: rowids may reach both ends of 64 bits.
  const std::uint64_t span = low && high && *high >= *low
                                 ? static_cast<std::uint64_t>(*high) - static_cast<std::uint64_t>(*low)
                                 : 0;
  const unsigned parts = span >= static_cast<std::uint64_t>(kRowsSplit) ? cores : 1;
  std::vector<std::unique_ptr<Session>> sessions;
  for (unsigned k = 1; k < parts; ++k) {
    std::unique_ptr<Session> separate;
    if (source->OpenSeparateSession(&separate) != S_OK || separate == nullptr) break;
    sessions.push_back(std::move(separate));
  }
  if (parts == 1 || sessions.size() + 1 < parts) return ReadFacts(source, "select " + facts + from, columns);

  const std::uint64_t step = span / parts;
  std::vector<std::string> statements;
  for (unsigned k = 0; k < parts; ++k) {
    const auto first = static_cast<std::int64_t>(static_cast<std::uint64_t>(*low) + step * k);
    const std::string where =
        k + 1 == parts ? " where " + rowid + " >= " + std::to_string(first)
                       : " where " + rowid + " between " + std::to_string(first) + " and " +
                             std::to_string(static_cast<std::int64_t>(static_cast<std::uint64_t>(first) + step - 1));
    statements.push_back("select " + facts + from + where);
  }
  std::vector<Result<std::vector<ColumnContent>>> results(parts, InternalError("not read"));
  std::vector<std::thread> threads;
  for (unsigned k = 1; k < parts; ++k) {
    try {
      threads.emplace_back([&, k] { results[k] = ReadFacts(sessions[k - 1].get(), statements[k], columns); });
    } catch (const std::system_error&) {
      results[k] = ReadFacts(sessions[k - 1].get(), statements[k], columns);  // no thread: here, in turn
    }
  }
  results[0] = ReadFacts(source, statements[0], columns);
  for (std::thread& thread : threads) thread.join();
  std::vector<ColumnContent> whole(columns);
  for (Result<std::vector<ColumnContent>>& part : results) {
    if (!part.ok()) return part.status();
    for (size_t k = 0; k < columns; ++k) MergeFacts(whole[k], (*part)[k]);
  }
  return whole;
}

// Reads what the columns in `wanted` hold, at most 100 columns a statement (SQLite allows
// 2000 result columns).
Status ReadContent(Session* source, const SourceTable& table, std::vector<SourceColumn>& columns,
                   const std::vector<size_t>& wanted) {
  constexpr size_t kPerStatement = 100;
  for (size_t begin = 0; begin < wanted.size(); begin += kPerStatement) {
    const size_t end = std::min(wanted.size(), begin + kPerStatement);
    std::string sql;
    bool scans = false;  // whether a column needs the rows themselves
    for (size_t k = begin; k < end; ++k) {
      const std::string c = QuoteSqliteName(columns[wanted[k]].name);
      const std::string type = "typeof(" + c + ")";
      if (k > begin) sql += ",\n ";
      // Only the facts the column's type is chosen by: each is evaluated for every row, and
      // this scan was a good part of a large table's migration time.
      const SqliteTypeKind kind = ClassifySqliteType(columns[wanted[k]].declared);
      const bool integer_kind =
          kind == SqliteTypeKind::kTinyInt || kind == SqliteTypeKind::kSmallInt || kind == SqliteTypeKind::kInt;
      if (integer_kind && columns[wanted[k]].rowid) {
        // Only whole numbers, in the table's own b-tree: its ends are found without a scan, each
        // once (not under an aggregate, which would repeat it for every row).
        const std::string from = " from " + QuoteSqliteName(table.name) + ")";
        sql += "(select min(" + c + ")" + from + ", (select max(" + c + ")" + from + ", null, null, null, null, null";
        continue;
      }
      scans = true;
      if (integer_kind) {
        sql += "min(case when " + type + "='integer' then " + c + " end), max(case when " + type + "='integer' then " +
               c + " end), null, null, null, null, null";
      } else if (kind == SqliteTypeKind::kText) {
        // Declared text has SQLite's text affinity: it holds text, blobs and NULL only, so the
        // storage class need not be asked (half of this scan's time).
        sql += "null, null, max(length(" + c + ")), null, null, null, null";
      } else {
        sql += "min(case when " + type + "='integer' then " + c + " end), max(case when " + type + "='integer' then " +
               c + " end), max(length(case when " + type + " in ('text','blob') then " + c +
               " end)), count(case when " + type + "='integer' then 1 end), count(case when " + type +
               "='real' then 1 end), count(case when " + type + "='text' then 1 end), count(case when " + type +
               "='blob' then 1 end)";
      }
    }
    ASSIGN_OR_RETURN(const std::vector<ColumnContent> facts,
                     scans ? ReadTableFacts(source, table, columns, sql, end - begin)
                           : ReadFacts(source, "select " + sql, end - begin));
    for (size_t k = begin; k < end; ++k) columns[wanted[k]].content = facts[k - begin];
  }
  return Status::Ok();
}

// The facts the type map matches: the declared type's words, its first number as the length
// (and both as precision and scale).
source_common::SourceType TypeMapView(const SqliteDeclaredType& declared) {
  source_common::SourceType t;
  t.name = AsciiLower(declared.words);
  if (!declared.args.empty()) {
    t.length = declared.args[0];
    t.precision = static_cast<int>(declared.args[0]);
    if (declared.args.size() > 1) t.scale = static_cast<int>(declared.args[1]);
  }
  return t;
}

// How values of a column of Access type `type` are written.
ValueForm FormOf(std::string_view type) {
  const std::string t = AsciiLower(type);
  if (t == "varchar" || t == "longtext") return ValueForm::kText;
  if (t == "binary" || t == "longbinary") return ValueForm::kBinary;
  if (t == "datetime") return ValueForm::kDate;
  return ValueForm::kNumber;
}

}  // namespace

std::string QuoteSqliteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  out += '"';
  return out;
}

std::string SqliteString(std::string_view text) {
  std::string out;
  source_common::AppendAccessString(out, text);  // the same form: quotes doubled
  return out;
}

std::string BuildColumnsStatement(const SourceTable& table) {
  return "select name, type, \"notnull\", dflt_value, pk from pragma_table_xinfo(" + SqliteString(table.name) +
         ") where hidden <> 1 order by cid";
}

std::optional<std::string> Cell(const TextRowset& rows, size_t ordinal) {
  if (ordinal < 1 || ordinal > rows.buffer().columns() || rows.buffer().IsNull(ordinal)) return std::nullopt;
  return std::string(rows.buffer().Value(ordinal));
}

bool NeedsContent(const SqliteDeclaredType& declared, bool for_form) {
  switch (ClassifySqliteType(declared)) {
    case SqliteTypeKind::kBlob:
    case SqliteTypeKind::kNone:
    case SqliteTypeKind::kOther: return true;
    case SqliteTypeKind::kTinyInt:
    case SqliteTypeKind::kSmallInt:
    case SqliteTypeKind::kInt: return !for_form;
    case SqliteTypeKind::kText: return !for_form && !declared.args.empty();
    default: return false;
  }
}

AccessType ChooseAccessType(const SqliteDeclaredType& declared, const ColumnContent& content, bool jet_target) {
  switch (ClassifySqliteType(declared)) {
    case SqliteTypeKind::kBoolean: return {"Bit", " ", ValueForm::kNumber};
    case SqliteTypeKind::kTinyInt: return {IntegerTypeFor(0, content, jet_target), " ", ValueForm::kNumber};
    case SqliteTypeKind::kSmallInt: return {IntegerTypeFor(1, content, jet_target), " ", ValueForm::kNumber};
    case SqliteTypeKind::kInt: return {IntegerTypeFor(2, content, jet_target), " ", ValueForm::kNumber};
    case SqliteTypeKind::kBigInt: return {jet_target ? "Numeric(19,0)" : "Long", " ", ValueForm::kNumber};
    case SqliteTypeKind::kReal: return {"Double", " ", ValueForm::kNumber};
    case SqliteTypeKind::kMoney: return {"Currency", " ", ValueForm::kNumber};
    case SqliteTypeKind::kDecimal: {
      const std::vector<std::int64_t>& a = declared.args;
      const std::int64_t precision = a.empty() ? 0 : a[0];
      const std::int64_t scale = a.size() < 2 ? 0 : a[1];
      if (precision < 1 || precision > 28 || scale < 0 || scale > precision) return {"Double", " ", ValueForm::kNumber};
      if (!jet_target) return {"Numeric", " ", ValueForm::kNumber};
      return {"Numeric(" + std::to_string(precision) + "," + std::to_string(scale) + ")", " ", ValueForm::kNumber};
    }
    case SqliteTypeKind::kDate:
    case SqliteTypeKind::kDateTime:
    case SqliteTypeKind::kTime: return {"DateTime", " ", ValueForm::kDate};
    case SqliteTypeKind::kText: {
      const std::int64_t size = SizeFor(declared, content, 255);
      if (size == 0) return {"LongText", " ", ValueForm::kText};
      return {"VarChar", "(" + std::to_string(size) + ")", ValueForm::kText};
    }
    case SqliteTypeKind::kBlob: {
      if (content.texts > 0 && content.blobs + content.integers + content.reals == 0) {
        return {"LongText", " ", ValueForm::kText};
      }
      const std::int64_t size = SizeFor(declared, content, 255);
      if (size == 0) return {"LongBinary", " ", ValueForm::kBinary};
      return {"Binary", "(" + std::to_string(size) + ")", ValueForm::kBinary};
    }
    case SqliteTypeKind::kNone:
    case SqliteTypeKind::kOther: break;
  }
  // By content: what the stored values are, NULLs aside.
  if (content.texts == 0 && content.blobs == 0 && content.integers + content.reals > 0) {
    if (content.reals == 0) return {IntegerTypeFor(2, content, jet_target), " ", ValueForm::kNumber};
    return {"Double", " ", ValueForm::kNumber};
  }
  if (content.blobs > 0 && content.texts + content.integers + content.reals == 0) {
    return {"LongBinary", " ", ValueForm::kBinary};
  }
  return {"LongText", " ", ValueForm::kText};
}

std::optional<std::string> TranslateDefault(std::string_view definition) {
  const std::string_view text = source_common::StripEnclosingParentheses(definition);
  std::string lower = AsciiLower(text);
  std::erase(lower, ' ');
  if (lower.empty() || lower == "null") return std::string();
  if (lower == "current_timestamp" || lower == "datetime('now')") return "Now()";
  if (lower == "current_date" || lower == "date('now')") return "Date()";
  if (lower == "current_time" || lower == "time('now')") return "Time()";
  if (lower == "true") return "True";
  if (lower == "false") return "False";
  if (source_common::IsNumberLiteral(text)) return std::string(text.front() == '+' ? text.substr(1) : text);
  if (source_common::IsStringLiteral(text)) return std::string(text);
  return std::nullopt;
}

Result<std::vector<SourceColumn>> ReadColumns(Session* source, const SourceTable& table, bool jet_target, bool for_form,
                                              const source_common::TypeMap& map) {
  std::vector<SourceColumn> columns;
  {
    TextRowset rows;
    if (OpenTextRowset(source, BuildColumnsStatement(table), &rows) != S_OK) {
      return ProviderError(ErrorDescription(rows.error_source()));
    }
    while (rows.has_rowset()) {
      ASSIGN_OR_RETURN(const bool row, FetchRow(rows));
      if (!row) break;
      SourceColumn c;
      c.name = Cell(rows, 1).value_or("");
      c.declared_text = Cell(rows, 2).value_or("");
      c.declared = ParseSqliteDeclaredType(c.declared_text);
      c.not_null = Cell(rows, 3).value_or("0") != "0";
      c.default_value = Cell(rows, 4);
      c.pk = static_cast<int>(Integer(Cell(rows, 5)).value_or(0));
      // A key column holds no NULL in Access (SQLite lets a rowid table's key hold one).
      c.not_null = c.not_null || c.pk > 0;
      columns.push_back(std::move(c));
    }
  }
  std::vector<size_t> wanted;
  for (size_t k = 0; k < columns.size(); ++k) {
    if (NeedsContent(columns[k].declared, for_form)) wanted.push_back(k);
  }
  // The rowid alias: a sole INTEGER PRIMARY KEY of a table whose key has no index of its own
  // (a WITHOUT ROWID table's and a DESC key's have one).
  const auto key_column = std::find_if(columns.begin(), columns.end(), [](const SourceColumn& c) { return c.pk > 0; });
  if (key_column != columns.end() && key_column->pk == 1 && key_column->declared.words == "INTEGER" &&
      key_column->declared.args.empty() &&
      std::count_if(columns.begin(), columns.end(), [](const SourceColumn& c) { return c.pk > 0; }) == 1) {
    TextRowset rows;
    const std::string sql =
        "select count(*) from pragma_index_list(" + SqliteString(table.name) + ") where origin = 'pk'";
    if (OpenTextRowset(source, sql, &rows) != S_OK) return ProviderError(ErrorDescription(rows.error_source()));
    ASSIGN_OR_RETURN(const bool row, FetchRow(rows));
    key_column->rowid = row && Cell(rows, 1) == "0";
  }
  RETURN_IF_ERROR(ReadContent(source, table, columns, wanted));
  const int key_columns =
      static_cast<int>(std::count_if(columns.begin(), columns.end(), [](const SourceColumn& c) { return c.pk > 0; }));
  for (SourceColumn& c : columns) {
    ASSIGN_OR_RETURN(const std::optional<source_common::AccessType> ruled,
                     source_common::ApplyTypeMap(map, TypeMapView(c.declared)));
    if (ruled) {
      c.access = {ruled->type, ruled->length, FormOf(ruled->type)};
      c.note = "chosen by the type map " + map.origin;
      c.changes_values = true;
      continue;
    }
    c.access = ChooseAccessType(c.declared, c.content, jet_target);
    if (ClassifySqliteType(c.declared) == SqliteTypeKind::kBigInt && jet_target) {
      c.note = "whole numbers kept as Decimal: Access has no 64-bit integer";
    }
    // The rowid alias (a sole INTEGER PRIMARY KEY) numbers the rows as an AutoNumber does.
    if (key_columns == 1 && c.pk == 1 && c.declared.words == "INTEGER" && c.declared.args.empty() &&
        c.access.type == "Long" && !for_form) {
      c.access.type = "COUNTER";
      c.note = "AutoNumber from the rowid key";
    }
  }
  return columns;
}

Result<Translation> TranslateTableDefinition(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                             const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  const bool jet = source_common::TargetIsJet(owner);
  ASSIGN_OR_RETURN(const std::vector<SourceColumn> columns,
                   ReadColumns(source, table, jet, false, source_common::UserTypeMap(owner)));
  std::vector<AccessColumn> access;
  std::vector<source_common::ColumnNote> notes;
  std::vector<source_common::ColumnMapping> mappings;
  std::vector<source_common::Rename> renames;
  std::vector<std::string> names;
  for (const SourceColumn& c : columns) names.push_back(c.name);
  const source_common::AccessTableNames access_names = source_common::NameTableForAccess(owner, table, names, renames);
  for (size_t k = 0; k < columns.size(); ++k) {
    const SourceColumn& c = columns[k];
    AccessColumn a{access_names.columns[k], c.access.type, c.access.length, !c.not_null, {}};
    const std::string target_type = c.access.length == " " ? c.access.type : c.access.type + c.access.length;
    if (!c.note.empty()) notes.push_back({table.name, c.name, c.declared_text, target_type, c.note, c.changes_values});
    mappings.push_back({table.name, c.name, a.name, c.declared_text, target_type});
    if (c.default_value) {
      std::optional<std::string> translated = TranslateDefault(*c.default_value);
      if (!translated) {
        source_common::ReportLeftOutDefault(owner, table.name, *c.default_value, c.name);
      } else {
        a.default_value = std::move(*translated);
      }
    }
    access.push_back(std::move(a));
  }
  source_common::ReportRenames(owner, table.name, renames);
  source_common::ReportColumnNotes(owner, table.name, notes);
  source_common::ReportColumnMappings(owner, mappings);
  return Translation::Statements(source_common::CreateTableStatement(access_names.table, access, jet));
}

namespace {

// The names of the columns of `table`, in order.
Result<std::vector<std::string>> ReadColumnNames(Session* source, const SourceTable& table) {
  TextRowset rows;
  if (OpenTextRowset(source, BuildColumnsStatement(table), &rows) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  std::vector<std::string> names;
  while (rows.has_rowset()) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    names.push_back(Cell(rows, 1).value_or(""));
  }
  return names;
}

}  // namespace

std::string BuildMeasureRowsStatement(const SourceTable& table, const std::vector<std::string>& columns,
                                      std::string_view condition) {
  // length() counts characters of text and bytes of a blob, and is NULL for NULL.
  std::string sql = "select count(*)";
  for (const std::string& column : columns) {
    const std::string quoted = QuoteSqliteName(column);
    sql += ", count(" + quoted + "), total(length(" + quoted + "))";
  }
  sql += " from " + QuoteSqliteName(table.name);
  if (!condition.empty()) sql += " where " + std::string(condition);
  return sql;
}

Result<source_common::SourceVolume> MeasureRows(const SourceContext& owner, Session* source, std::string_view database,
                                                const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  ASSIGN_OR_RETURN(const std::vector<std::string> names, ReadColumnNames(source, table));
  if (names.empty()) return source_common::SourceVolume{};
  TextRowset rows;
  const std::string condition = source_common::MigrationCondition(owner, database, table.name);
  if (OpenTextRowset(source, BuildMeasureRowsStatement(table, names, condition), &rows) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  ASSIGN_OR_RETURN(const bool fetched, rows.has_rowset() ? FetchRow(rows) : Result<bool>(false));
  if (!fetched) return ProviderError("the count of [" + table.name + "] gave no rows");
  std::vector<long long> numbers;
  for (size_t k = 1; k <= 1 + 2 * names.size(); ++k) {
    // total() is a real ("12.0"): its whole part is the count.
    std::string cell = Cell(rows, k).value_or("0");
    if (const size_t point = cell.find('.'); point != std::string::npos) cell.resize(point);
    const std::optional<long long> number = ParseWholeNumber(cell);
    if (!number) return ProviderError("the count of [" + table.name + "] gave '" + cell + "', not a number");
    numbers.push_back(*number);
  }
  return source_common::VolumeFromCounts(names, numbers);
}

Status RecordColumnNames(const SourceContext& owner, Session* source, const SourceTable& table) {
  if (!owner.names || owner.names->HasColumns(table)) return Status::Ok();
  ASSIGN_OR_RETURN(const std::vector<std::string> names, ReadColumnNames(source, table));
  owner.names->SetColumns(table, names);
  return Status::Ok();
}

}  // namespace tabulon::source_sqlite
