// Opening a provider on a data source and reading a rowset's answer whole: the plumbing the data
// layer's tests share.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "workspace/output_pane.h"

namespace tabulon::testing {

// Opens the data source of `provider` at `source` (DBPROP_INIT_DATASOURCE, added to `init`) and
// a session on it; the first failing code.
inline data::Hresult OpenProvider(data::DbConnection& connection, const std::string& provider,
                                  const std::string& source,
                                  data::PropertySet init = data::PropertySet(data::DBPROPSET_DBINIT)) {
  connection.profile.provider_name = provider;
  init.AddString(data::DBPROP_INIT_DATASOURCE, source);
  const data::Hresult code = data::OpenDataSource(connection, {&init, 1});
  return data::Failed(code) ? code : data::OpenSession(connection);
}

// Every remaining row of `rowset`, values as text, NULL as "<NULL>".
inline std::vector<std::vector<std::string>> RowTexts(data::TextRowset& rowset) {
  std::vector<std::vector<std::string>> rows;
  while (data::MoveNextRow(rowset) == data::S_OK) {
    auto& row = rows.emplace_back();
    for (size_t k = 1; k <= rowset.buffer().columns(); ++k) {
      row.push_back(rowset.buffer().IsNull(k) ? "<NULL>" : std::string(rowset.buffer().Value(k)));
    }
  }
  return rows;
}

// The rows of a statement's or a schema rowset's answer (RowTexts); a failure to open it is a
// test failure.
inline std::vector<std::vector<std::string>> QueryTexts(data::Session* session, const std::string& sql) {
  data::TextRowset rowset;
  EXPECT_EQ(data::OpenTextRowset(session, sql, &rowset), data::S_OK) << data::ErrorDescription(rowset.error_source());
  return RowTexts(rowset);
}
inline std::vector<std::vector<std::string>> SchemaTexts(data::Session* session, data::SchemaRowsetKind kind,
                                                         const data::SchemaRestrictions& restrictions) {
  data::TextRowset rowset;
  EXPECT_EQ(data::OpenSchemaRowset(session, kind, restrictions, &rowset), data::S_OK)
      << data::ErrorDescription(rowset.error_source());
  return RowTexts(rowset);
}

// Removes the communication logs the PostgreSQL ODBC driver, as Debian registers it, writes into
// /tmp for this process (psqlodbc_*<pid>.log).
inline void RemovePostgresDriverLogs() {
  const std::string suffix = std::to_string(::getpid()) + ".log";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/tmp", error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("psqlodbc_") && name.ends_with(suffix)) std::filesystem::remove(entry.path(), error);
  }
}

// Runs `sql` on the SQLite file at `path` (made when missing); a failure is a test failure.
inline void BuildSqliteFile(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error != nullptr ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// The texts of an output pane's lines.
inline std::vector<std::string> OutputTexts(const workspace::OutputPane& pane) {
  std::vector<std::string> texts;
  for (const workspace::OutputLine& line : pane.Lines()) texts.push_back(line.text);
  return texts;
}

}  // namespace tabulon::testing
