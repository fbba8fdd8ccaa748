// Checks the reader harness itself against a file written by another Jet library, so that a
// fault in the harness cannot hide a fault of the engine.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "jet_readers.h"
#include "jet/values.h"

namespace tabulon::testing {
namespace {

const std::string kSample = std::string(TABULON_FIXTURES_DIR) + "/written/sample-v2000.mdb";

// "2024-11-07T02:52:20" -> days since 1899-12-30 (dates after the epoch only).
double IsoToDays(const std::string& iso) {
  const std::optional<double> days = jet::ParseDateTime(iso);
  EXPECT_TRUE(days.has_value()) << iso;
  return days.value_or(0);
}

TEST(ReaderHarnessTest, FormatsNumbersAsJavaScriptDoes) {
  EXPECT_EQ(FormatJsNumber(0.1), "0.1");
  EXPECT_EQ(FormatJsNumber(-1.5), "-1.5");
  EXPECT_EQ(FormatJsNumber(1e21), "1e+21");
  EXPECT_EQ(FormatJsNumber(123456789012345680000.0), "123456789012345680000");
  EXPECT_EQ(FormatJsNumber(1e-7), "1e-7");
  EXPECT_EQ(FormatJsNumber(0.000001), "0.000001");
  EXPECT_EQ(FormatJsNumber(-1e-300), "-1e-300");
  EXPECT_EQ(FormatJsNumber(static_cast<double>(-261.96551513671875f)), "-261.96551513671875");
}

// Both readers through the harness on the other library's sample: every type read exactly, a
// whole table agreeing with the sample's own listing, and a changed value noticed.
TEST(ReaderHarnessTest, AgreesWithBothReadersOnAFileOfAnotherLibrary) {
  std::ifstream json_file(std::string(TABULON_FIXTURES_DIR) + "/written/sample-v2000.json");
  if (!json_file) GTEST_SKIP() << "fixtures absent";
  ASSERT_TRUE(MdbReaderAvailable()) << "run scripts/setup.sh: mdb-reader is missing";
  ASSERT_TRUE(MdbToolsAvailable()) << "run scripts/setup.sh: mdbtools is missing";
  auto tables = ReadWithMdbReader(kSample);
  ASSERT_TRUE(tables.ok()) << tables.status().ToString();
  ASSERT_EQ(tables->size(), 2u);
  const ReaderTable& customers = tables->at(0);
  ASSERT_EQ(customers.rows.size(), 300u);
  const auto& row2 = customers.rows[1];
  EXPECT_EQ(row2[4], "922337203685477.5807");                    // Currency, exact
  EXPECT_EQ(row2[9], "{B1167073-0933-7EAE-1C50-EABF03237F3D}");  // GUID
  EXPECT_EQ(row2[11], "-9999999999999999.99");                   // Numeric, exact
  auto exported = MdbToolsExport(kSample, "Customers");
  ASSERT_TRUE(exported.ok()) << exported.status().ToString();
  EXPECT_EQ(exported->rows[1][2], "multi\nline\r\nnote 東京商事株式会社");  // escapes undone
  EXPECT_EQ(exported->rows[0][2], std::nullopt);                            // mdbtools reads "" as NULL

  const auto doc = nlohmann::json::parse(json_file);
  const auto& orders = doc.at("tables").at(1);
  ASSERT_EQ(orders.at("name"), "Orders");
  std::vector<jet::ColumnDefinition> columns;
  for (const auto& [name, type] :
       std::initializer_list<std::pair<const char*, jet::ColumnType>>{{"OrderID", jet::ColumnType::kLong},
                                                                      {"CustomerID", jet::ColumnType::kLong},
                                                                      {"Description", jet::ColumnType::kText},
                                                                      {"OrderDate", jet::ColumnType::kDateTime}}) {
    columns.emplace_back().name = name;
    columns.back().type = type;
  }
  std::vector<jet::Row> rows;
  for (const auto& r : orders.at("rows")) {
    jet::Row& row = rows.emplace_back();
    row.emplace_back(r.at("OrderID").get<int32_t>());
    row.emplace_back(r.at("CustomerID").is_null() ? jet::Value(jet::Null{})
                                                  : jet::Value(r.at("CustomerID").get<int32_t>()));
    row.emplace_back(r.at("Description").is_null() ? jet::Value(jet::Null{})
                                                   : jet::Value(r.at("Description").get<std::string>()));
    row.emplace_back(jet::DateTime{IsoToDays(r.at("OrderDate").get<std::string>())});
  }
  EXPECT_EQ(CompareTableWithReaders(kSample, "Orders", columns, rows), "");
  // A changed value is noticed; and by mdbtools too when mdb-reader is told the same.
  rows[7][2] = std::string("not what the file holds");
  EXPECT_NE(CompareTableWithReaders(kSample, "Orders", columns, rows), "");
  tables->at(1).rows[7][2] = "not what the file holds";
  EXPECT_EQ(CompareTableWithReaders(kSample, "Orders", columns, rows, &*tables).rfind("mdb-export: row 7", 0), 0u);
}

}  // namespace
}  // namespace tabulon::testing
