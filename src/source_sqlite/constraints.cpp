// Keys, unique indexes and relationships: read with SQLite's table_xinfo, index_list,
// index_xinfo and foreign_key_list pragmas, returned as Access statements.
#include <map>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
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
  return "select id, seq, \"table\", \"from\", \"to\" from pragma_foreign_key_list(" + SqliteString(table.name) +
         ") order by id desc, seq";
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
  Rows indexes;
  ASSIGN_OR_RETURN(const bool had_rowset, ReadRows(source, BuildIndexListStatement(table), indexes));
  if (!had_rowset) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return Translation::Nothing();
  }
  std::string result;
  int counter = 0;
  for (const auto& index : indexes) {
    const std::string name = index[0].value_or("");
    if (index[2].value_or("") == "pk") continue;
    const int place = counter++;
    if (index[1].value_or("0") != "1") continue;
    if (index[3].value_or("0") != "0") {
      WriteOutput(owner.output, "T::INDEX [%s] of [%s] is left out: Access cannot hold a partial index", name.c_str(),
                  table.name.c_str());
      continue;
    }
    Rows keys;
    RETURN_IF_ERROR(ReadRows(source, BuildIndexColumnsStatement(name), keys).status());
    std::vector<KeyColumn> columns;
    bool expression = false;
    for (const auto& key : keys) {
      if (!key[0]) expression = true;
      columns.push_back({key[0].value_or(""), key[1].value_or("0") == "1"});
    }
    if (expression || columns.empty()) {
      WriteOutput(owner.output, "T::INDEX [%s] of [%s] is left out: Access cannot hold an index on an expression",
                  name.c_str(), table.name.c_str());
      continue;
    }
    source_common::AppendStatement(
        result, source_common::UniqueIndexStatement(source_common::AccessTableName(owner, table), place,
                                                    source_common::AccessKeyColumns(owner, table, std::move(columns))));
  }
  return Translation::Statements(std::move(result));
}

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
  std::vector<source_common::ForeignKeyPair> pairs;
  std::map<std::string, int> keys_to;  // per referenced table (lower case): keys named so far
  std::string current_id;
  std::string name;
  std::vector<std::string> primary_key;  // of the current key's referenced table, when needed
  size_t column = 0;
  for (const auto& row : rows) {
    const std::string referenced = row[2].value_or("");
    if (row[0].value_or("") != current_id) {
      current_id = row[0].value_or("");
      const int n = ++keys_to[AsciiLower(referenced)];
      // Named after the tables as Access has them: the name is ours, not a rename.
      const SourceTable to_table =
          owner.names ? owner.names->Listed(referenced, table.schema) : SourceTable(referenced);
      name = "FK_" + source_common::AccessTableName(owner, table) + "_" +
             source_common::AccessTableName(owner, to_table) + (n > 1 ? "_" + std::to_string(n) : "");
      column = 0;
      primary_key.clear();
    }
    std::string to = row[4].value_or("");
    if (!row[4]) {
      // REFERENCES without columns names the referenced table's primary key.
      if (primary_key.empty()) {
        Rows key;
        RETURN_IF_ERROR(ReadRows(source, BuildPrimaryKeyStatement(referenced), key).status());
        for (const auto& k : key) primary_key.push_back(k[0].value_or(""));
      }
      if (column < primary_key.size()) to = primary_key[column];
    }
    ++column;
    pairs.push_back({name, row[3].value_or(""), referenced, to});
  }
  ASSIGN_OR_RETURN(std::string statements,
                   source_common::AccessForeignKeys(owner, table, std::move(pairs), [&](const SourceTable& t) {
                     return RecordColumnNames(owner, source, t);
                   }));
  return Translation::Statements(std::move(statements));
}

}  // namespace tabulon::source_sqlite
