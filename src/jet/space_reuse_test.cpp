// Space given back by DeleteRows is used again: long-value rows of deleted rows are released,
// empty pages return to the file, the row numbers and gaps of partly used pages are filled, and
// the file does not grow when as much is inserted again as was deleted.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "jet/database.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

const TableDefinition kDocuments =
    testing::NewTable("Documents", {NewColumn("N", ColumnType::kLong), NewColumn("Title", ColumnType::kText, 60),
                                    NewColumn("Body", ColumnType::kMemo), NewColumn("Scan", ColumnType::kOle)});

// Long values in all three forms: inline, one long-value row, a chain.
std::vector<Row> DocumentRows(int32_t first, size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  const size_t sizes[] = {0, 40, 700, 4000, 9000, 20000};
  std::vector<Row> rows;
  for (size_t i = 0; i < count; ++i) {
    const int32_t n = first + static_cast<int32_t>(i);
    std::string scan(sizes[random() % 6], '\0');
    for (char& c : scan) c = static_cast<char>(random());
    rows.push_back({n, "document " + std::to_string(n), std::string(sizes[random() % 6], 'b'), Bytes{scan}});
  }
  return rows;
}

// Reopens the file and checks `table`'s rows against `expected` (in any order) and against both
// readers (which check the file's integrity first).
void CheckFile(const fs::path& path, const std::vector<Row>& expected, const std::string& table_name = "Documents") {
  auto db = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto table = (*db)->GetTable(table_name);
  ASSERT_TRUE(table.ok());
  EXPECT_EQ(table->row_count, expected.size());
  const std::vector<Row> rows = testing::TableRows(**db, table_name);
  EXPECT_EQ(testing::SortedRowTexts(rows), testing::SortedRowTexts(expected));
  ASSERT_TRUE(testing::MdbToolsAvailable() && testing::MdbReaderAvailable());
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), table_name, table->columns, rows), "");
}

TEST(SpaceReuseTest, DeletingAndInsertingAsMuchAgainKeepsTheFileSize) {
  const fs::path path = testing::ScratchFile("space", "reuse.mdb");
  std::vector<Row> live = DocumentRows(0, 400, 1);
  {
    auto created = Database::Create(path.string());
    ASSERT_TRUE(created.ok());
    ASSERT_TRUE((*created)->CreateTable(kDocuments).ok());
    ASSERT_TRUE((*created)->InsertRows("Documents", live).ok());
  }
  const auto size = fs::file_size(path);

  // Every row, three times over: data and long-value pages go back to the file and return.
  for (int round = 0; round < 3; ++round) {
    auto db = Database::Open(path.string(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok());
    auto deleted = (*db)->DeleteRows("Documents", [](const Row&) { return true; });
    ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
    EXPECT_EQ(*deleted, live.size());
    live = DocumentRows(1000 * (round + 1), 400, 1);  // the same sizes again
    ASSERT_TRUE((*db)->InsertRows("Documents", live).ok());
  }
  EXPECT_EQ(fs::file_size(path), size);

  // Every other row, put back with the same sizes under new numbers: the gaps on partly used
  // pages are filled (pages are repacked).
  {
    auto db = Database::Open(path.string(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok());
    auto even = [](const Row& r) { return std::get<int32_t>(r[0]) % 2 == 0; };
    ASSERT_TRUE((*db)->DeleteRows("Documents", even).ok());
    std::vector<Row> again;
    for (const Row& r : live) {
      if (!even(r)) continue;
      again.push_back(r);
      again.back()[0] = std::get<int32_t>(r[0]) + 100001;
    }
    ASSERT_TRUE((*db)->InsertRows("Documents", again).ok());
    std::erase_if(live, even);
    live.insert(live.end(), again.begin(), again.end());
  }
  EXPECT_EQ(fs::file_size(path), size);
  CheckFile(path, live);
}

TEST(SpaceReuseTest, RowNumbersOfFullPagesAreReused) {
  // One-byte rows: a page runs out of its 255 row numbers long before its bytes.
  auto created = Database::Create(std::make_unique<MemoryFile>());
  ASSERT_TRUE(created.ok());
  Database& db = **created;
  ASSERT_TRUE(db.CreateTable(testing::NewTable("Tiny", {NewColumn("B", ColumnType::kByte)})).ok());
  std::vector<Row> rows;
  for (int i = 0; i < 255 * 4; ++i) rows.push_back({static_cast<uint8_t>(i % 200)});
  ASSERT_TRUE(db.InsertRows("Tiny", rows).ok());
  const uint32_t pages = db.page_count();
  for (int round = 0; round < 3; ++round) {
    auto deleted = db.DeleteRows("Tiny", [](const Row& r) { return std::get<uint8_t>(r[0]) % 3 == 0; });
    ASSERT_TRUE(deleted.ok());
    ASSERT_TRUE(db.InsertRows("Tiny", std::vector<Row>(*deleted, Row{uint8_t{201}})).ok());
  }
  EXPECT_EQ(db.page_count(), pages);
  EXPECT_TRUE(db.CheckIntegrity().ok()) << db.CheckIntegrity().ToString();
  EXPECT_EQ(testing::TableRows(db, "Tiny").size(), rows.size());
}

TEST(SpaceReuseTest, DeletesRowsAccessMovedAndReusesTheirSpace) {
  // Table1 of this Access file has rows that were moved to other pages (a 4-byte pointer left
  // in their slot): deleting one must delete the moved row as well.
  const fs::path reference = fs::path(TABULON_SHARED_DIR) / "fixtures/access/overflowTestV2000.mdb";
  if (!fs::exists(reference)) GTEST_SKIP() << "reference files absent";
  const fs::path path = testing::ScratchFile("space", "moved.mdb");
  fs::copy_file(reference, path);
  std::vector<Row> before;
  {
    auto db = Database::Open(path.string(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    before = testing::TableRows(**db, "Table1");
    ASSERT_FALSE(before.empty());
    auto deleted = (*db)->DeleteRows("Table1", [](const Row&) { return true; });
    ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
    EXPECT_EQ(*deleted, before.size());
    EXPECT_TRUE((*db)->CheckIntegrity().ok()) << (*db)->CheckIntegrity().ToString();
    ASSERT_TRUE((*db)->InsertRows("Table1", before).ok());
  }
  CheckFile(path, before, "Table1");
}

}  // namespace
}  // namespace tabulon::jet
