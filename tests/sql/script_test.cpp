// Runs the SQL scripts of this folder, each on a new database. A script is a list of records
// separated by blank lines:
//   statement ok              the statement must succeed
//   statement error <text>    it must fail with a message containing <text>; nothing changes
//   query                     its rows, after a line "----", one line per row, values
//                             separated by " | ", NULL as NULL
//   view <name>               no statement; after "----" the Access SQL text the saved query
//                             <name> reads back with, line by line
//   columns <table>           no statement; after "----" one line per column as the file holds
//                             it: name | type | length in bytes | precision | scale |
//                             auto number | required
//   indexes <table>           the same for its indexes: name | columns (DESC when descending) |
//                             unique, primary, foreign, cascade-update, cascade-delete
//   mdb-prop <object>         after the end (see below): each line after "----" must appear
//   mdb-schema <backend>      in what that mdbtools program prints for the file
// Lines starting with '#' are comments. At the end every user table is compared, value by
// value, with what mdb-reader and mdbtools read from the file, and mdb-queries must list every
// view a "view" record checked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "jet/database.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jetsql/executor.h"

namespace tabulon::jetsql {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Scripts() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(TABULON_SQL_SCRIPTS)) {
    if (entry.path().extension() == ".test") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string RowText(const jet::Row& row) {
  std::string line;
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) line += " | ";
    line += jet::FormatValue(row[i]).value_or("NULL");
  }
  return line;
}

// What the file holds for a "view", "columns" or "indexes" record, one line each.
std::vector<std::string> FileLines(jet::Database& db, const std::string& kind, const std::string& name) {
  std::vector<std::string> lines;
  if (kind == "view") {
    auto sql = db.GetQuerySql(name);
    std::istringstream text(sql.ok() ? *sql : sql.status().ToString());
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    if (sql.ok() && sql->ends_with('\n')) lines.emplace_back();  // a line break at the end shows
    return lines;
  }
  auto table = db.GetTable(name);
  if (!table.ok()) return {table.status().ToString()};
  for (const jet::ColumnDefinition& c : table->columns) {
    if (kind != "columns") break;
    lines.push_back(fmt::format("{} | {} | {} | {} | {} | {} | {}", c.name, jet::ColumnTypeName(c.type), c.length,
                                c.precision, c.scale, c.auto_number(), c.required));
  }
  for (const jet::IndexDefinition& index : table->indexes) {
    if (kind != "indexes") break;
    std::string columns, kinds;
    for (const jet::IndexColumn& key : index.columns) {
      for (const jet::ColumnDefinition& c : table->columns) {
        if (c.number == key.column_number) columns += (columns.empty() ? "" : ", ") + c.name;
      }
      if (!key.ascending) columns += " DESC";
    }
    const std::pair<bool, const char*> marks[] = {{(index.flags & 0x01) != 0, " unique"},
                                                  {index.index_type == 0x01, " primary"},
                                                  {index.index_type == 0x02, " foreign"},
                                                  {index.cascade_update, " cascade-update"},
                                                  {index.cascade_delete, " cascade-delete"}};
    for (const auto& [set, word] : marks) kinds += set ? word : "";
    lines.push_back(index.name + " | " + columns + " |" + kinds);
  }
  return lines;
}

struct Record {
  size_t line = 0;
  std::string kind;      // "statement ok", "statement error", "query", "view", "columns", "indexes"
  std::string expected;  // error text, view or table name
  std::string sql;
  std::vector<std::string> rows;
};

std::vector<Record> ReadScript(const fs::path& path) {
  std::ifstream in(path);
  std::vector<Record> records;
  std::string line;
  size_t number = 0;
  Record* current = nullptr;
  bool in_rows = false;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line[0] == '#') continue;
    if (line.empty()) {
      current = nullptr;
      continue;
    }
    if (!current) {
      records.push_back({});
      current = &records.back();
      current->line = number;
      in_rows = false;
      if (line == "statement ok" || line == "query") {
        current->kind = line;
      } else if (line.rfind("statement error", 0) == 0) {
        current->kind = "statement error";
        current->expected = line.size() > 16 ? line.substr(16) : "";
      } else if (line.rfind("view ", 0) == 0 || line.rfind("columns ", 0) == 0 || line.rfind("indexes ", 0) == 0 ||
                 line.rfind("mdb-prop ", 0) == 0 || line.rfind("mdb-schema ", 0) == 0) {
        current->kind = line.substr(0, line.find(' '));
        current->expected = line.substr(line.find(' ') + 1);
      } else {
        current->kind = "bad record: " + line;
      }
      continue;
    }
    if (line == "----") {
      in_rows = true;
    } else if (in_rows) {
      current->rows.push_back(line);
    } else {
      current->sql += (current->sql.empty() ? "" : "\n") + line;
    }
  }
  return records;
}

class ScriptTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptTest, Runs) {
  const fs::path script = fs::path(TABULON_SQL_SCRIPTS) / (GetParam() + ".test");
  const fs::path dir = fs::temp_directory_path() / ("tabulon_sql_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / (GetParam() + ".mdb");
  fs::remove(file);
  auto db = jet::Database::Create(file.string());
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  Session session(**db);
  std::vector<std::string> views;
  std::vector<Record> mdbtools;
  for (const Record& r : ReadScript(script)) {
    SCOPED_TRACE(script.filename().string() + ":" + std::to_string(r.line) + ": " + r.sql);
    if (r.kind.starts_with("mdb-")) {
      mdbtools.push_back(r);
      continue;
    }
    if (r.kind == "view" || r.kind == "columns" || r.kind == "indexes") {
      EXPECT_EQ(FileLines(**db, r.kind, r.expected), r.rows);
      if (r.kind == "view") views.push_back(r.expected);
      continue;
    }
    auto result = session.Execute(r.sql);
    if (r.kind == "statement ok") {
      EXPECT_TRUE(result.ok()) << result.status().ToString();
    } else if (r.kind == "statement error") {
      if (result.ok()) {
        ADD_FAILURE() << "succeeded, expected an error containing: " << r.expected;
      } else {
        EXPECT_NE(result.status().message().find(r.expected), std::string::npos) << result.status().message();
      }
    } else if (r.kind == "query") {
      ASSERT_TRUE(result.ok()) << result.status().ToString();
      std::vector<std::string> rows;
      for (const jet::Row& row : result->rows) rows.push_back(RowText(row));
      EXPECT_EQ(rows, r.rows);
    } else {
      ADD_FAILURE() << r.kind;
    }
  }
  ASSERT_TRUE((*db)->CheckIntegrity().ok());
  auto tables = (*db)->ListTables();
  ASSERT_TRUE(tables.ok());
  std::vector<std::pair<jet::TableDefinition, std::vector<jet::Row>>> contents;
  for (const std::string& name : *tables) {
    auto table = (*db)->GetTable(name);
    ASSERT_TRUE(table.ok());
    auto rows = (*db)->ReadAllRows(*table);
    ASSERT_TRUE(rows.ok());
    contents.emplace_back(*table, *rows);
  }
  db->reset();
  if (!testing::MdbReaderAvailable() || !testing::MdbToolsAvailable()) {
    GTEST_SKIP() << "independent readers not installed";
  }
  for (const auto& [table, rows] : contents) {
    EXPECT_EQ(testing::CompareTableWithReaders(file.string(), table.name, table.columns, rows), "") << table.name;
  }
  for (const Record& r : mdbtools) {
    auto out = r.kind == "mdb-prop" ? testing::MdbToolsProperties(file.string(), r.expected)
                                    : testing::MdbToolsSchema(file.string(), r.expected);
    ASSERT_TRUE(out.ok()) << out.status().ToString();
    for (const std::string& line : r.rows) EXPECT_NE(out->find(line), std::string::npos) << line << " in:\n" << *out;
  }
  if (views.empty()) return;
  auto listed = testing::MdbToolsQueries(file.string());
  ASSERT_TRUE(listed.ok()) << listed.status().ToString();
  for (const std::string& view : views) {
    EXPECT_NE(std::find(listed->begin(), listed->end(), view), listed->end()) << view;
    EXPECT_TRUE(testing::MdbToolsQuerySql(file.string(), view).ok()) << view;
  }
}

INSTANTIATE_TEST_SUITE_P(Sql, ScriptTest, ::testing::ValuesIn(Scripts()),
                         [](const ::testing::TestParamInfo<std::string>& script) { return script.param; });

}  // namespace
}  // namespace tabulon::jetsql
