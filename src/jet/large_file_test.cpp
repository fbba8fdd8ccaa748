// Files beyond what the inline page map covers, and the 2 GB ceiling of a Jet 4 file.
#include <gtest/gtest.h>

#include <filesystem>

#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

const TableDefinition kWide =
    testing::NewTable("Wide", {NewColumn("Id", ColumnType::kLong), NewColumn("Body", ColumnType::kText, 255)});

// 255 Greek letters: never compressed, so a row takes about 520 bytes and a page holds 7.
std::string Body(int32_t i) {
  std::string s;
  for (int k = 0; k < 255; ++k) s += (k + i) % 2 ? "\xCE\xB1" : "\xCE\xB2";
  return s;
}

// Rows 0 to count - 1 of Wide, made as they are inserted.
Database::RowSource WideRows(int32_t count) {
  return [count, next = int32_t{0}](Row& row) mutable -> Result<bool> {
    if (next == count) return false;
    row = {next, Body(next)};
    ++next;
    return true;
  };
}

TEST(LargeFileTest, PageMapBeyondItsInlineFormReadsBackEverywhere) {
  const fs::path path = testing::ScratchFile("jet_large_file_test", "wide.mdb");
  constexpr int32_t kRows = 260000;  // about 37,000 pages, past the 32,000 an inline map covers
  {
    auto db = Database::Create(path.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE((*db)->CreateTable(kWide).ok());
    Status inserted = (*db)->InsertRows("Wide", WideRows(kRows));
    ASSERT_TRUE(inserted.ok()) << inserted.ToString();
  }
  EXPECT_GT(fs::file_size(path), uint64_t{32000} * 4096);

  auto db = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto table = (*db)->GetTable("Wide");
  ASSERT_TRUE(table.ok());
  EXPECT_EQ(table->row_count, static_cast<uint32_t>(kRows));
  int32_t seen = 0;
  Status scanned = (*db)->ScanRows(*table, [&](RowPointer, const Row& row) {
    if (std::get<int32_t>(row[0]) != seen || std::get<std::string>(row[1]) != Body(seen)) {
      return InternalError("row " + std::to_string(seen) + " differs");
    }
    ++seen;
    return Status::Ok();
  });
  EXPECT_TRUE(scanned.ok()) << scanned.ToString();
  EXPECT_EQ(seen, kRows);
  Status integrity = (*db)->CheckIntegrity();
  EXPECT_TRUE(integrity.ok()) << integrity.ToString();

  // mdbtools finds every row through the same page map; the last one holds the last values.
  ASSERT_TRUE(testing::MdbToolsAvailable());
  EXPECT_EQ(testing::RunCommand("mdb-count '" + path.string() + "' Wide").out, std::to_string(kRows) + "\n");
  const std::string last = testing::RunCommand("mdb-export -H '" + path.string() + "' Wide | tail -n 1").out;
  EXPECT_EQ(last, std::to_string(kRows - 1) + ",\"" + Body(kRows - 1) + "\"\n");
  fs::remove(path);
}

TEST(LargeFileTest, GrowingPast2GbIsRefusedAndLeavesTheFileAsItWas) {
  const fs::path path = testing::ScratchFile("jet_large_file_test", "full.mdb");
  {
    auto db = Database::Create(path.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE((*db)->CreateTable(kWide).ok());
    ASSERT_TRUE((*db)->InsertRow("Wide", {int32_t{1}, std::string("before")}).ok());
  }
  // Pages never written up to a few pages below 2 GB (a sparse file costs no disk): a batch of
  // rows needing more pages than remain must be refused whole.
  const uint64_t near_limit = (uint64_t{0x80000000} / 4096 - 3) * 4096;
  fs::resize_file(path, near_limit);

  Status last;
  uint32_t committed = 1;
  {
    auto db = Database::Open(path.string(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    for (int batch = 0; batch < 400 && last.ok(); ++batch) {
      last = (*db)->InsertRows("Wide", WideRows(1000));
      if (last.ok()) committed += 1000;
    }
  }
  ASSERT_FALSE(last.ok()) << "the file grew past 2 GB: " << fs::file_size(path);
  EXPECT_EQ(last.code(), ErrorCode::kLimit) << last.ToString();
  EXPECT_NE(last.message().find("2 GB"), std::string::npos) << last.ToString();
  EXPECT_LE(fs::file_size(path), uint64_t{0x80000000});

  auto db = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  const std::vector<Row> rows = testing::TableRows(**db, "Wide");
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(std::get<std::string>(rows.front()[1]), "before");
  EXPECT_EQ(rows.size(), committed);
  EXPECT_EQ((*db)->GetTable("Wide")->row_count, committed);
  fs::remove(path);
}

}  // namespace
}  // namespace tabulon::jet
