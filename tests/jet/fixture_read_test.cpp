// Every table of every reference file reads back exactly as the independent reader's dump of it
// says: table list, columns and types, indexes, stored row counts, and every value; and every
// reference file passes the integrity check.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "jet/database.h"
#include "jet/values.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const fs::path kFixtures = fs::path(TABULON_SHARED_DIR) / "fixtures";

std::vector<fs::path> FixtureFiles() {
  std::vector<fs::path> files;
  for (const char* dir : {"access", "written"}) {
    if (!fs::is_directory(kFixtures / dir)) continue;
    for (const auto& entry : fs::directory_iterator(kFixtures / dir)) {
      if (entry.path().extension() == ".mdb") files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// "1900-01-01T12:30:45.500" and "1900-01-01 12:30:45.5" are the same instant.
std::string NormaliseDate(std::string text) {
  for (char& c : text)
    if (c == 'T') c = ' ';
  if (text.find('.') != std::string::npos) text = TrimDecimalZeros(text);
  return text;
}

// Empty when the value matches, else a description of the difference.
std::string Compare(const Json& expected, const Value& actual, ColumnType type) {
  // Strings as they are; numbers, booleans and null in their JSON text.
  const std::string want = expected.is_string() ? expected.get<std::string>() : expected.dump();
  auto show = [&](const std::string& got) {
    return "expected " + (expected.is_null() ? "NULL" : want) + ", got " + got;
  };
  const std::optional<std::string> text = FormatValue(actual);
  if (expected.is_null()) return text ? show(*text) : "";
  if (!text) return show("NULL");
  switch (type) {
    case ColumnType::kBoolean: return std::get<bool>(actual) == expected.get<bool>() ? "" : show(*text);
    case ColumnType::kCurrency: return FormatCurrency(std::get<Currency>(actual).scaled) == want ? "" : show(*text);
    case ColumnType::kNumeric: return std::get<Decimal>(actual).ToString() == want ? "" : show(*text);
    case ColumnType::kSingle:
      return std::get<float>(actual) == static_cast<float>(expected.get<double>()) ? "" : show(*text);
    case ColumnType::kDouble: return std::get<double>(actual) == expected.get<double>() ? "" : show(*text);
    case ColumnType::kDateTime: return NormaliseDate(*text) == NormaliseDate(want) ? "" : show(*text);
    default: return *text == want ? "" : show(*text);
  }
}

TEST(FixtureRead, EveryTableMatchesItsDump) {
  const auto files = FixtureFiles();
  if (files.empty()) GTEST_SKIP() << "no fixtures at " << kFixtures;
  const Json type_names = Json::parse(std::ifstream(fs::path(TABULON_JET_TESTDATA) / "dump_types.json"))["types"];
  for (const fs::path& mdb : files) {
    SCOPED_TRACE(mdb.filename().string());
    const Json dump = Json::parse(std::ifstream(fs::path(mdb).replace_extension(".json")));
    auto db = Database::Open(mdb.string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    // Files written by Access and by another library are consistent: the check accepts them.
    EXPECT_TRUE((*db)->CheckIntegrity().ok()) << (*db)->CheckIntegrity().ToString();

    std::set<std::string> expected_tables;
    for (const Json& t : dump["tables"]) expected_tables.insert(t["name"].get<std::string>());
    auto names = (*db)->ListTables();
    ASSERT_TRUE(names.ok()) << names.status().ToString();
    EXPECT_EQ(std::set<std::string>(names->begin(), names->end()), expected_tables);

    for (const Json& t : dump["tables"]) {
      const std::string name = t["name"];
      SCOPED_TRACE(name);
      auto table = (*db)->GetTable(name);
      ASSERT_TRUE(table.ok()) << table.status().ToString();
      EXPECT_EQ(table->tdef_page, t["tdefPage"].get<uint32_t>());
      EXPECT_EQ(table->row_count, t["rowCount"].get<uint32_t>());
      EXPECT_EQ(table->last_auto_number, t["storedLastAutoNumber"].get<uint32_t>());
      ASSERT_EQ(table->columns.size(), t["columns"].size());
      std::map<std::string, size_t> position;
      for (size_t i = 0; i < table->columns.size(); ++i) {
        const Json& c = t["columns"][i];
        const ColumnDefinition& column = table->columns[i];
        position[column.name] = i;
        EXPECT_EQ(column.name, c["name"].get<std::string>());
        EXPECT_EQ(ColumnTypeName(column.type), type_names.value(c["type"].get<std::string>(), "?")) << column.name;
        EXPECT_EQ(column.auto_number(), c.value("autoNumber", false)) << column.name;
        EXPECT_EQ(column.required, c.value("required", false)) << column.name;
        if (column.type == ColumnType::kNumeric) {
          EXPECT_EQ(column.precision, c["precision"].get<int>()) << column.name;
          EXPECT_EQ(column.scale, c["scale"].get<int>()) << column.name;
        }
      }
      // Indexes: numbers, key columns in order, kind and flags.
      ASSERT_EQ(table->indexes.size(), t["indexes"].size());
      for (const Json& want : t["indexes"]) {
        const std::string index_name = want["name"];
        auto index = std::find_if(table->indexes.begin(), table->indexes.end(),
                                  [&](const IndexDefinition& i) { return i.name == index_name; });
        ASSERT_NE(index, table->indexes.end()) << index_name;
        EXPECT_EQ(index->logical_number, want["indexNumber"].get<uint32_t>()) << index_name;
        EXPECT_EQ(index->real_number, want["indexDataNumber"].get<uint32_t>()) << index_name;
        EXPECT_EQ(index->index_type == 1, want["primaryKey"].get<bool>()) << index_name;
        EXPECT_EQ(index->flags, std::stoul(want["rawIndexFlags"].get<std::string>(), nullptr, 16)) << index_name;
        ASSERT_EQ(index->columns.size(), want["columns"].size()) << index_name;
        for (size_t k = 0; k < index->columns.size(); ++k) {
          const auto column =
              std::find_if(table->columns.begin(), table->columns.end(),
                           [&](const ColumnDefinition& c) { return c.number == index->columns[k].column_number; });
          ASSERT_NE(column, table->columns.end()) << index_name;
          EXPECT_EQ(column->name, want["columns"][k]["name"].get<std::string>()) << index_name;
          EXPECT_EQ(index->columns[k].ascending, want["columns"][k]["ascending"].get<bool>()) << index_name;
        }
      }

      auto rows = (*db)->ReadAllRows(*table);
      ASSERT_TRUE(rows.ok()) << rows.status().ToString();
      const Json& expected_rows = t["rows"];
      ASSERT_EQ(rows->size(), expected_rows.size());
      int failures = 0;
      for (size_t r = 0; r < rows->size() && failures < 10; ++r) {
        for (const auto& [column, expected] : expected_rows[r].items()) {
          const size_t i = position.at(column);
          const std::string diff = Compare(expected, (*rows)[r][i], table->columns[i].type);
          if (!diff.empty()) {
            ADD_FAILURE() << "row " << r << " column " << column << ": " << diff;
            ++failures;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tabulon::jet
