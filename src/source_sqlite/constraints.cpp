// Keys, indexes and relationships: read with SQLite's table_xinfo, index_list,
// index_xinfo and foreign_key_list pragmas, returned as Access statements.
#include <cstdlib>
#include <map>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "source_common/access_indexes.h"
#include "source_common/access_names.h"
#include "source_common/access_statements.h"
#include "source_sqlite/columns.h"

namespace tabulon::source_sqlite {

using namespace data;
using namespace workspace;
using source_common::KeyColumn;

std::string BuildIndexListStatement(const SourceTable& table) {
  // index_list gives the newest index first; sqlite_master keeps the order they were made in.
  return "select il.name, il.\"unique\", il.origin, il.partial from pragma_index_list(" + SqliteString(table.name) +
         ") il left join sqlite_master m on m.type = 'index' and m.name = il.name order by m.rowid, il.seq desc";
}

std::string BuildIndexColumnsStatement(std::string_view index) {
  return "select name, \"desc\" from pragma_index_xinfo(" + SqliteString(index) + ") where key = 1 order by seqno";
}

std::string BuildForeignKeysStatement(const SourceTable& table) {
  // foreign_key_list numbers the keys from the last declared one.
  return "select id, seq, \"table\", \"from\", \"to\", on_update, on_delete from pragma_foreign_key_list(" +
         SqliteString(table.name) + ") order by id desc, seq";
}

std::string BuildForeignKeyCountStatement(const SourceTable& table) {
  // Each relationship gives both of its tables an index in Access.
  return "select (select count(distinct id) from pragma_foreign_key_list(" + SqliteString(table.name) +
         ")) + (select count(*) from sqlite_master m, pragma_foreign_key_list(m.name) f where m.type = 'table' and "
         "f.seq = 0 and f.\"table\" = " +
         SqliteString(table.name) + " collate nocase)";
}

namespace {

std::string BuildPrimaryKeyStatement(std::string_view table) {
  return "select name from pragma_table_xinfo(" + SqliteString(table) + ") where pk > 0 order by pk";
}

using Rows = std::vector<std::vector<std::optional<std::string>>>;

// Runs `sql` and gives every row's cells: true when it gave a rowset; an error with the
// provider's words when it fails, also half-way.
Result<bool> ReadRows(Session* source, const std::string& sql, Rows& out) {
  TextRowset rows;
  if (OpenTextRowset(source, sql, &rows) != S_OK) return ProviderError(ErrorDescription(rows.error_source()));
  while (rows.has_rowset()) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    std::vector<std::optional<std::string>> row;
    for (size_t k = 1; k <= rows.buffer().columns(); ++k) row.push_back(Cell(rows, k));
    out.push_back(std::move(row));
  }
  return rows.has_rowset();
}

}  // namespace

Result<Translation> TranslatePrimaryKey(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                        const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  RETURN_IF_ERROR(RecordColumnNames(owner, source, table));
  Rows rows;
  ASSIGN_OR_RETURN(const bool had_rowset, ReadRows(source, BuildPrimaryKeyStatement(table.name), rows));
  if (!had_rowset) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return Translation::Nothing();
  }
  std::vector<KeyColumn> columns;
  for (const auto& row : rows) columns.push_back({row[0].value_or(""), false});
  return Translation::Statements(source_common::PrimaryKeyStatement(
      source_common::AccessTableName(owner, table), source_common::AccessKeyColumns(owner, table, std::move(columns))));
}

Result<Translation> TranslateUniqueIndexes(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                           const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  RETURN_IF_ERROR(RecordColumnNames(owner, source, table));
  Rows listed;
  ASSIGN_OR_RETURN(const bool had_rowset, ReadRows(source, BuildIndexListStatement(table), listed));
  if (!had_rowset) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return Translation::Nothing();
  }
  std::vector<source_common::SourceIndex> indexes;
  for (const auto& row : listed) {
    if (row[2].value_or("") == "pk") continue;
    source_common::SourceIndex index;
    index.name = row[0].value_or("");
    index.unique = row[1].value_or("0") == "1";
    if (row[3].value_or("0") != "0") index.cannot_hold = "a partial index";
    Rows keys;
    RETURN_IF_ERROR(ReadRows(source, BuildIndexColumnsStatement(index.name), keys).status());
    // An expression is a key column without a name.
    for (const auto& key : keys) index.columns.push_back({key[0].value_or(""), key[1].value_or("0") == "1"});
    indexes.push_back(std::move(index));
  }
  if (indexes.empty()) return Translation::Nothing();
  Rows key_rows, counts;
  RETURN_IF_ERROR(ReadRows(source, BuildPrimaryKeyStatement(table.name), key_rows).status());
  RETURN_IF_ERROR(ReadRows(source, BuildForeignKeyCountStatement(table), counts).status());
  std::vector<KeyColumn> primary_key;
  for (const auto& row : key_rows) primary_key.push_back({row[0].value_or(""), false});
  const size_t foreign_key_indexes =
      counts.empty() ? 0 : static_cast<size_t>(std::strtoul(counts[0][0].value_or("0").c_str(), nullptr, 10));
  return source_common::AccessIndexes(
      owner, table, indexes, primary_key, foreign_key_indexes,
      source_common::TargetLongColumns(owner, source_common::AccessTableName(owner, table)));
}

namespace {

source_common::ReferentialAction Action(const std::optional<std::string>& words) {
  const std::string w = AsciiLower(words.value_or(""));
  if (w == "cascade") return source_common::ReferentialAction::kCascade;
  if (w == "set null") return source_common::ReferentialAction::kSetNull;
  if (w == "set default") return source_common::ReferentialAction::kSetDefault;
  return source_common::ReferentialAction::kNoAction;  // NO ACTION, RESTRICT
}

}  // namespace

Result<Translation> TranslateForeignKeys(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                         const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  Rows rows;
  // A failed read is a failure: relationships must not vanish without a word.
  ASSIGN_OR_RETURN(const bool had_rowset, ReadRows(source, BuildForeignKeysStatement(table), rows));
  if (!had_rowset) {
    WriteOutput(owner.output, "RESULT: The operation completed SUCCESSFULLY");
    return Translation::Nothing();
  }
  std::vector<source_common::SourceForeignKey> keys;
  std::map<std::string, int> keys_to;  // per referenced table (lower case): keys named so far
  std::string current_id;
  std::vector<std::string> primary_key;  // of the current key's referenced table, when needed
  for (const auto& row : rows) {
    const std::string referenced = row[2].value_or("");
    if (keys.empty() || row[0].value_or("") != current_id) {
      current_id = row[0].value_or("");
      const int n = ++keys_to[AsciiLower(referenced)];
      // Named after the tables as Access has them: the name is ours, not a rename.
      const SourceTable to_table =
          owner.names ? owner.names->Listed(referenced, table.schema) : SourceTable(referenced);
      source_common::SourceForeignKey key;
      key.name = "FK_" + source_common::AccessTableName(owner, table) + "_" +
                 source_common::AccessTableName(owner, to_table) + (n > 1 ? "_" + std::to_string(n) : "");
      key.referenced_table = referenced;
      key.on_update = Action(row[5]);
      key.on_delete = Action(row[6]);
      keys.push_back(std::move(key));
      primary_key.clear();
    }
    source_common::SourceForeignKey& key = keys.back();
    std::string to = row[4].value_or("");
    if (!row[4]) {
      // REFERENCES without columns names the referenced table's primary key.
      if (primary_key.empty()) {
        Rows pk;
        RETURN_IF_ERROR(ReadRows(source, BuildPrimaryKeyStatement(referenced), pk).status());
        for (const auto& k : pk) primary_key.push_back(k[0].value_or(""));
      }
      if (key.columns.size() < primary_key.size()) to = primary_key[key.columns.size()];
    }
    key.columns.push_back(row[3].value_or(""));
    key.referenced_columns.push_back(std::move(to));
  }
  return source_common::AccessForeignKeys(owner, table, keys,
                                          [&](const SourceTable& t) { return RecordColumnNames(owner, source, t); });
}

}  // namespace tabulon::source_sqlite
