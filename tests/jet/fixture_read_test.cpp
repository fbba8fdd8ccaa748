// Every table of every reference file reads back exactly as the independent reader's dump of it
// says: table list, columns and types, stored row counts, and every value.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "jet/database.h"
#include "jet/values.h"
#include "mini_json.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
using testing::Json;

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

Json LoadJson(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string error;
  auto json = testing::ParseJson(buffer.str(), &error);
  EXPECT_TRUE(json.has_value()) << path << ": " << error;
  return json.value_or(Json{});
}

ColumnType TypeFromDump(const std::string& name) {
  static const std::map<std::string, ColumnType> kTypes = {
      {"BOOLEAN", ColumnType::kBoolean}, {"BYTE", ColumnType::kByte},
      {"INT", ColumnType::kInteger},     {"LONG", ColumnType::kLong},
      {"MONEY", ColumnType::kCurrency},  {"FLOAT", ColumnType::kSingle},
      {"DOUBLE", ColumnType::kDouble},   {"SHORT_DATE_TIME", ColumnType::kDateTime},
      {"BINARY", ColumnType::kBinary},   {"TEXT", ColumnType::kText},
      {"OLE", ColumnType::kOle},         {"MEMO", ColumnType::kMemo},
      {"GUID", ColumnType::kGuid},       {"NUMERIC", ColumnType::kNumeric}};
  auto it = kTypes.find(name);
  return it == kTypes.end() ? ColumnType::kUnknown0D : it->second;
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
  auto show = [&](const std::string& got) {
    std::string want = expected.kind == Json::Kind::kString ? expected.text
                       : expected.kind == Json::Kind::kBool ? (expected.boolean ? "true" : "false")
                       : expected.is_null()                 ? "NULL"
                                                            : expected.text;
    return "expected " + want + ", got " + got;
  };
  const std::optional<std::string> text = FormatValue(actual);
  if (expected.is_null()) return text ? show(*text) : "";
  if (!text) return show("NULL");
  switch (type) {
    case ColumnType::kBoolean: return std::get<bool>(actual) == expected.boolean ? "" : show(*text);
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong: return *text == expected.text ? "" : show(*text);
    case ColumnType::kCurrency:
      return FormatCurrency(std::get<Currency>(actual).scaled) == expected.text ? "" : show(*text);
    case ColumnType::kNumeric: return std::get<Decimal>(actual).ToString() == expected.text ? "" : show(*text);
    case ColumnType::kSingle: return std::get<float>(actual) == static_cast<float>(expected.number) ? "" : show(*text);
    case ColumnType::kDouble: return std::get<double>(actual) == expected.number ? "" : show(*text);
    case ColumnType::kDateTime: return NormaliseDate(*text) == NormaliseDate(expected.text) ? "" : show(*text);
    default: return *text == expected.text ? "" : show(*text);
  }
}

TEST(FixtureRead, EveryTableMatchesItsDump) {
  const auto files = FixtureFiles();
  if (files.empty()) GTEST_SKIP() << "no fixtures at " << kFixtures;
  for (const fs::path& mdb : files) {
    SCOPED_TRACE(mdb.filename().string());
    const Json dump = LoadJson(fs::path(mdb).replace_extension(".json"));
    auto db = Database::Open(mdb.string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();

    std::set<std::string> expected_tables;
    for (const Json& t : dump["tables"].items) expected_tables.insert(t["name"].text);
    auto names = (*db)->ListTables();
    ASSERT_TRUE(names.ok()) << names.status().ToString();
    EXPECT_EQ(std::set<std::string>(names->begin(), names->end()), expected_tables);

    for (const Json& t : dump["tables"].items) {
      SCOPED_TRACE(t["name"].text);
      auto table = (*db)->GetTable(t["name"].text);
      ASSERT_TRUE(table.ok()) << table.status().ToString();
      EXPECT_EQ(table->tdef_page, static_cast<uint32_t>(t["tdefPage"].number));
      EXPECT_EQ(table->row_count, static_cast<uint32_t>(t["rowCount"].number));
      EXPECT_EQ(table->last_auto_number, static_cast<uint32_t>(t["storedLastAutoNumber"].number));
      ASSERT_EQ(table->columns.size(), t["columns"].items.size());
      std::map<std::string, size_t> position;
      for (size_t i = 0; i < table->columns.size(); ++i) {
        const Json& c = t["columns"].items[i];
        const ColumnDefinition& column = table->columns[i];
        position[column.name] = i;
        EXPECT_EQ(column.name, c["name"].text);
        EXPECT_EQ(column.type, TypeFromDump(c["type"].text)) << column.name;
        EXPECT_EQ(column.auto_number(), c["autoNumber"].boolean) << column.name;
        EXPECT_EQ(column.required, c["required"].boolean) << column.name;
        if (column.type == ColumnType::kNumeric) {
          EXPECT_EQ(column.precision, c["precision"].number) << column.name;
          EXPECT_EQ(column.scale, c["scale"].number) << column.name;
        }
      }
      EXPECT_EQ(table->indexes.size(), t["indexes"].items.size());

      auto rows = (*db)->ReadAllRows(*table);
      ASSERT_TRUE(rows.ok()) << rows.status().ToString();
      const auto& expected_rows = t["rows"].items;
      ASSERT_EQ(rows->size(), expected_rows.size());
      int failures = 0;
      for (size_t r = 0; r < rows->size() && failures < 10; ++r) {
        for (const auto& [name, expected] : expected_rows[r].members) {
          const size_t i = position.at(name);
          const std::string diff = Compare(expected, (*rows)[r][i], table->columns[i].type);
          if (!diff.empty()) {
            ADD_FAILURE() << "row " << r << " column " << name << ": " << diff;
            ++failures;
          }
        }
      }
    }
  }
}

// Files written by Access and by another library are consistent, so the check must accept them.
TEST(FixtureRead, IntegrityCheckAcceptsEveryReferenceFile) {
  const auto files = FixtureFiles();
  if (files.empty()) GTEST_SKIP() << "no fixtures at " << kFixtures;
  for (const fs::path& mdb : files) {
    auto db = Database::Open(mdb.string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    const Status status = (*db)->CheckIntegrity();
    EXPECT_TRUE(status.ok()) << mdb.filename().string() << ": " << status.ToString();
  }
}

}  // namespace
}  // namespace tabulon::jet
