// SQLite to .mdb end to end, as a user runs it: examples/sample.sql as built into sample.sqlite
// is migrated by tabulon-cli migrate; its JSON report must say every table, row and object
// arrived, both independent readers must give back every value of the SQLite file, and the
// keys, unique indexes, relationships and views must be there. (A backup and restore end to end
// is in tests/converters/flows_test.cpp.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_files.h"

namespace tabulon {
namespace {

namespace fs = std::filesystem;
using jet::ColumnType;

// Runs tabulon-cli in `folder` (migrate with its program folder inside it).
testing::CommandRun Cli(const fs::path& folder, const std::string& arguments) {
  const bool core = arguments.starts_with("migrate") || arguments.starts_with("verify");
  const std::string config = core ? " --config cfg/tabulon.cfg" : "";
  return testing::RunCommand("cd '" + folder.string() + "' && HOME='" + folder.string() + "' " + TABULON_CLI + " " +
                             arguments + config + " 2>&1");
}

// An exact decimal text as Currency (value × 10,000).
jet::Currency CurrencyFrom(const std::string& text) {
  const std::optional<jet::Decimal> d = jet::Decimal::Parse(text, 4);
  if (!d) return {};
  const auto magnitude = static_cast<int64_t>(d->words[0] | (static_cast<uint64_t>(d->words[1]) << 32));
  return {d->negative ? -magnitude : magnitude};
}

// What the .mdb must hold for one SQLite table, given the Access columns the migration chose:
// the values read by SQLite itself and put into the Access type (dates by SQLite's julianday,
// a time of day on 1899-12-30).
std::vector<jet::Row> ExpectedRows(sqlite3* db, const std::string& table,
                                   const std::vector<jet::ColumnDefinition>& columns) {
  std::string sql = "select ";
  for (size_t k = 0; k < columns.size(); ++k) {
    const std::string c = "\"" + columns[k].name + "\"";
    if (k > 0) sql += ", ";
    if (columns[k].type == ColumnType::kDateTime) {
      sql += "case when " + c + " like '__:__%' then julianday(" + c + ") - julianday('2000-01-01') else julianday(" +
             c + ") - julianday('1899-12-30') end";
    } else {
      sql += c;
    }
  }
  sql += " from \"" + table + "\"";
  sqlite3_stmt* statement = nullptr;
  std::vector<jet::Row> rows;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    return rows;
  }
  while (sqlite3_step(statement) == SQLITE_ROW) {
    jet::Row row;
    for (size_t k = 0; k < columns.size(); ++k) {
      const int i = static_cast<int>(k);
      const auto text = [&] {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        return std::string(p, static_cast<size_t>(sqlite3_column_bytes(statement, i)));
      };
      if (sqlite3_column_type(statement, i) == SQLITE_NULL) {
        row.emplace_back(jet::Null{});
        continue;
      }
      switch (columns[k].type) {
        case ColumnType::kBoolean: row.emplace_back(sqlite3_column_int64(statement, i) != 0); break;
        case ColumnType::kByte: row.emplace_back(static_cast<uint8_t>(sqlite3_column_int64(statement, i))); break;
        case ColumnType::kInteger: row.emplace_back(static_cast<int16_t>(sqlite3_column_int64(statement, i))); break;
        case ColumnType::kLong: row.emplace_back(static_cast<int32_t>(sqlite3_column_int64(statement, i))); break;
        case ColumnType::kDouble: row.emplace_back(sqlite3_column_double(statement, i)); break;
        case ColumnType::kCurrency: row.emplace_back(CurrencyFrom(text())); break;
        case ColumnType::kNumeric: {
          std::optional<jet::Decimal> d = jet::Decimal::Parse(text(), columns[k].scale);
          EXPECT_TRUE(d.has_value()) << table << "." << columns[k].name << ": " << text();
          row.emplace_back(d.value_or(jet::Decimal{}));
          break;
        }
        case ColumnType::kDateTime: row.emplace_back(jet::DateTime{sqlite3_column_double(statement, i)}); break;
        case ColumnType::kBinary:
        case ColumnType::kOle: {
          const auto* p = static_cast<const char*>(sqlite3_column_blob(statement, i));
          row.emplace_back(
              jet::Bytes{std::string(p == nullptr ? "" : p, static_cast<size_t>(sqlite3_column_bytes(statement, i)))});
          break;
        }
        default: row.emplace_back(text()); break;
      }
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  return rows;
}

// Lines of text from a SQLite query (columns joined by '|').
std::vector<std::string> Query(sqlite3* db, const std::string& sql) {
  std::vector<std::string> out;
  sqlite3_exec(
      db, sql.c_str(),
      [](void* lines, int n, char** values, char**) {
        std::string line;
        for (int k = 0; k < n; ++k) line += (k ? "|" : "") + std::string(values[k] ? values[k] : "");
        static_cast<std::vector<std::string>*>(lines)->push_back(line);
        return 0;
      },
      &out, nullptr);
  return out;
}

// Every table of `mdb` against the SQLite file through both readers; "" when all agree.
std::string CompareWithSource(sqlite3* source, const std::string& mdb, const std::vector<std::string>& tables) {
  auto db = jet::Database::Open(mdb, jet::OpenMode::kReadOnly);
  if (!db.ok()) return db.status().ToString();
  auto listed = (*db)->ListTables();
  if (!listed.ok() || *listed != tables) return "the tables of " + mdb + " are " + ::testing::PrintToString(*listed);
  // mdb-reader reads the whole file at once: once for all tables.
  const Result<std::vector<testing::ReaderTable>> read = testing::ReadWithMdbReader(mdb);
  if (!read.ok()) return "mdb-reader: " + read.status().ToString();
  for (const std::string& table : tables) {
    auto definition = (*db)->GetTable(table);
    if (!definition.ok()) return definition.status().ToString();
    const std::string difference = testing::CompareTableWithReaders(
        mdb, table, definition->columns, ExpectedRows(source, table, definition->columns), &*read);
    if (!difference.empty()) return mdb + ", table " + table + ": " + difference;
  }
  return "";
}

TEST(SampleDatabaseTest, MigratesIntoAnMdbThatReadersReadBack) {
  if (!testing::MdbToolsAvailable() || !testing::MdbReaderAvailable()) GTEST_SKIP() << "a reader is not installed";
  const fs::path folder = testing::ScratchFile("sample_database", "clone");
  fs::remove_all(folder);
  fs::create_directories(folder / "cfg");
  const std::string source_path = (folder / "sample.sqlite").string();
  fs::copy_file(TABULON_SAMPLE_DATABASE, source_path);
  sqlite3* source = nullptr;
  ASSERT_EQ(sqlite3_open_v2(source_path.c_str(), &source, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(source, &sqlite3_close);

  const testing::CommandRun run =
      Cli(folder, "migrate --source sqlite:sample.sqlite --database sample --target sample.mdb --report r.json");
  ASSERT_EQ(run.exit_code, 0) << run.out;
  for (const char* bad : {"failure", "ERROR", "NO SUPPORT!", "not inserted", "left out", "dropped"}) {
    EXPECT_EQ(run.out.find(bad), std::string::npos) << bad << " in\n" << run.out;
  }
  const std::string mdb = (folder / "sample.mdb").string();
  const std::vector<std::string> tables =
      Query(source, "select name from sqlite_master where type = 'table' and name not like 'sqlite%' order by name");
  ASSERT_GE(tables.size(), 8u);
  EXPECT_EQ(CompareWithSource(source, mdb, tables), "");
  // tabulon-cli verify finds every table equal.
  const testing::CommandRun verified =
      Cli(folder, "verify --source sqlite:sample.sqlite --database sample --target sample.mdb");
  EXPECT_EQ(verified.exit_code, 0) << verified.out;
  for (const std::string& table : tables)
    EXPECT_NE(verified.out.find("[" + table + "] equal ("), std::string::npos) << table;

  const std::vector<std::string> views =
      Query(source, "select name from sqlite_master where type = 'view' order by name");
  std::vector<std::string> queries = testing::MdbToolsQueries(mdb).value();
  std::sort(queries.begin(), queries.end());  // mdb-queries lists them in the order they were made
  EXPECT_EQ(queries, views);

  // The report (golden/sample_report.json): every table made with as many rows as SQLite holds,
  // every key, unique index, relationship and view SQLite declares made. The summary run.sh
  // prints (golden/sample_summary.txt) counts the same from the file itself.
  const nlohmann::json report = nlohmann::json::parse(testing::ReadTextFile(folder / "r.json"), nullptr, false);
  ASSERT_FALSE(report.is_discarded());
  std::string shown = report.dump(2) + "\n";
  for (size_t at; (at = shown.find(folder.string())) != std::string::npos;)
    shown.replace(at, folder.string().size(), "<folder>");
  testing::ExpectGoldenFile("tests/examples/golden/sample_report.json", shown);
  const testing::CommandRun summary = Cli(folder, "mdb summary sample.mdb");
  EXPECT_EQ(summary.exit_code, 0) << summary.out;
  testing::ExpectGoldenFile("tests/examples/golden/sample_summary.txt", summary.out);

  if (!HasFailure()) fs::remove_all(folder);
}

}  // namespace
}  // namespace tabulon
