// The reading interface of Database over a reference file: catalog listing, lookups by name,
// scans that stop early, long values read on demand.
#include <gtest/gtest.h>

#include <filesystem>

#include "jet/database.h"
#include "jet/values.h"
#include "jet_test_db.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
const fs::path kSample = fs::path(TABULON_SHARED_DIR) / "fixtures/written/sample-v2000.mdb";

class DatabaseRead : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSample)) GTEST_SKIP() << "no fixture " << kSample;
    auto db = Database::Open(kSample.string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
  }
  std::unique_ptr<Database> db_;
};

// The table lists are compared with the fixture dumps (fixture_read_test).
TEST_F(DatabaseRead, ListsObjectsAndFindsTablesRegardlessOfCase) {
  auto objects = db_->ListObjects();
  ASSERT_TRUE(objects.ok());
  const auto tables =
      std::count_if(objects->begin(), objects->end(), [](const CatalogEntry& e) { return e.name == "Tables"; });
  EXPECT_EQ(tables, 1);

  auto orders = db_->GetTable("oRDERS");
  ASSERT_TRUE(orders.ok());
  EXPECT_EQ(orders->name, "Orders");
  EXPECT_EQ(orders->columns.size(), 4u);
  EXPECT_EQ(db_->GetTable("Nope").status().code(), ErrorCode::kNotFound);
  EXPECT_EQ(db_->GetTable("Tables").status().code(), ErrorCode::kNotFound);  // a container
  EXPECT_EQ(db_->header().code_page, 1252);
}

TEST_F(DatabaseRead, ScanStopsWhenTheVisitorSaysSo) {
  auto table = db_->GetTable("Orders");
  ASSERT_TRUE(table.ok());
  int seen = 0;
  const Status status = db_->ScanRows(*table, [&](RowPointer, const Row&) {
    return ++seen == 10 ? Status(ErrorCode::kCancelled, "enough") : Status::Ok();
  });
  EXPECT_EQ(status.code(), ErrorCode::kCancelled);
  EXPECT_EQ(seen, 10);
}

TEST_F(DatabaseRead, LongValuesCanBeReadLater) {
  auto table = db_->GetTable("Customers");
  ASSERT_TRUE(table.ok());
  const std::vector<Row> full = testing::TableRows(*db_, "Customers");
  ScanOptions raw;
  raw.read_long_values = false;
  size_t index = 0, checked = 0;
  const Status status = db_->ScanRows(
      *table,
      [&](RowPointer, const Row& row) {
        for (size_t c = 0; c < row.size(); ++c) {
          if (!IsLongValueType(table->columns[c].type) || !std::holds_alternative<Bytes>(row[c])) {
            continue;
          }
          auto value = db_->ReadLongValue(table->columns[c], std::get<Bytes>(row[c]).data);
          if (!value.ok()) return value.status();
          EXPECT_EQ(FormatValue(*value), FormatValue(full[index][c]));
          ++checked;
        }
        ++index;
        return Status::Ok();
      },
      raw);
  EXPECT_TRUE(status.ok()) << status.ToString();
  EXPECT_GT(checked, 300u);
  EXPECT_EQ(db_->ReadLongValue(table->columns[0], "").status().code(), ErrorCode::kInvalidArgument);
}

// Files cut short are the corrupt-input tests' work.
TEST(DatabaseOpen, RefusesWhatIsNotADatabase) {
  auto bytes = std::make_shared<std::vector<uint8_t>>(4096 * 4);  // whole pages, all zero: no engine name
  const Status status = Database::Open(std::make_unique<MemoryFile>(bytes), OpenMode::kReadOnly).status();
  EXPECT_EQ(status.code(), ErrorCode::kCorrupt);
  EXPECT_NE(status.message().find("page 0"), std::string::npos) << status.ToString();
  EXPECT_EQ(Database::Open(std::make_unique<MemoryFile>(bytes), OpenMode::kCreateNew).status().code(),
            ErrorCode::kInvalidArgument);
  EXPECT_FALSE(Database::Open("/nonexistent/x.mdb", OpenMode::kReadOnly).ok());
}

}  // namespace
}  // namespace tabulon::jet
