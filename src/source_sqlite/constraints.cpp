// Keys, unique indexes and relationships: read with SQLite's table_xinfo, index_list,
// index_xinfo and foreign_key_list pragmas, returned as Access statements.
#include <map>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "source_common/access_statements.h"
#include "source_sqlite/columns.h"

namespace tabulon::source_sqlite {

using namespace data;
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

// Runs `sql` and gives every row's cells; false with `error` set when it fails.
bool ReadRows(Session* source, const std::string& sql, std::vector<std::vector<std::optional<std::string>>>& out,
              std::string& error, bool* had_rowset = nullptr) {
  TextRowset rows;
  if (OpenTextRowset(source, sql, &rows) != S_OK) {
    error = ErrorDescription(rows.error_source());
    return false;
  }
  if (had_rowset != nullptr) *had_rowset = rows.has_rowset();
  while (rows.has_rowset()) {
    Result<bool> fetched = FetchRow(rows);
    if (!fetched.ok()) {
      error = fetched.status().message();
      return false;
    }
    if (!*fetched) break;
    std::vector<std::optional<std::string>> row;
    for (size_t k = 1; k <= rows.buffer().columns(); ++k) row.push_back(Cell(rows, k));
    out.push_back(std::move(row));
  }
  return true;
}

}  // namespace

std::string TranslatePrimaryKey(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                const SourceTable& table) {
  if (source == nullptr) {
    WriteOutput(owner.output, "No Connection!");
    return {};
  }
  std::vector<std::vector<std::optional<std::string>>> rows;
  std::string error;
  bool had_rowset = false;
  if (!ReadRows(source, BuildPrimaryKeyStatement(table.name), rows, error, &had_rowset)) return error;
  if (!had_rowset) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return {};
  }
  std::vector<KeyColumn> columns;
  for (const auto& row : rows) columns.push_back({row[0].value_or(""), false});
  return source_common::PrimaryKeyStatement(table.name, columns);
}

std::string TranslateUniqueIndexes(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                   const SourceTable& table) {
  if (source == nullptr) {
    WriteOutput(owner.output, "No Connection!");
    return {};
  }
  std::vector<std::vector<std::optional<std::string>>> indexes;
  std::string error;
  bool had_rowset = false;
  if (!ReadRows(source, BuildIndexListStatement(table), indexes, error, &had_rowset)) return error;
  if (!had_rowset) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return {};
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
    std::vector<std::vector<std::optional<std::string>>> keys;
    if (!ReadRows(source, BuildIndexColumnsStatement(name), keys, error)) return error;
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
    source_common::AppendStatement(result, source_common::UniqueIndexStatement(table.name, place, columns));
  }
  return result;
}

std::string TranslateForeignKeys(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                 const SourceTable& table) {
  if (source == nullptr) {
    WriteOutput(owner.output, "No Connection!");
    return {};
  }
  std::vector<std::vector<std::optional<std::string>>> rows;
  std::string error;
  bool had_rowset = false;
  if (!ReadRows(source, BuildForeignKeysStatement(table), rows, error, &had_rowset)) return {};
  if (!had_rowset) {
    WriteOutput(owner.output, "RESULT: The operation completed SUCCESSFULLY");
    return {};
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
      name = "FK_" + table.name + "_" + referenced + (n > 1 ? "_" + std::to_string(n) : "");
      column = 0;
      primary_key.clear();
    }
    std::string to = row[4].value_or("");
    if (!row[4]) {
      // REFERENCES without columns names the referenced table's primary key.
      if (primary_key.empty()) {
        std::vector<std::vector<std::optional<std::string>>> key;
        if (ReadRows(source, BuildPrimaryKeyStatement(referenced), key, error)) {
          for (const auto& k : key) primary_key.push_back(k[0].value_or(""));
        }
      }
      if (column < primary_key.size()) to = primary_key[column];
    }
    ++column;
    pairs.push_back({name, row[3].value_or(""), referenced, to});
  }
  return source_common::ForeignKeyStatements(table.name, pairs);
}

}  // namespace tabulon::source_sqlite
