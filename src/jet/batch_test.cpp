// Batches of inserts in one transaction: refused rows leave the batch going, reads and other
// writes see the batch's rows, and a failed commit undoes the batch and says so.
#include <gtest/gtest.h>

#include <memory>

#include "jet/database.h"
#include "jet/file_io.h"
#include "jet_test_db.h"

namespace tabulon::jet {
namespace {

const TableDefinition kNarrow =
    testing::NewTable("T", {NewColumn("Id", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 10)});

TEST(BatchTest, RefusedRowsLeaveTheBatchGoingAndReadsSeeItsRows) {
  const testing::MemoryDisk disk;
  {
    auto db = Database::Create(disk.File());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE((*db)->CreateTable(kNarrow).ok());
    ASSERT_TRUE((*db)->CreateIndex("T", testing::PrimaryKeyOn({"Id"})).ok());
    ASSERT_TRUE((*db)->BeginBatch().ok());
    for (int32_t i = 1; i <= 300; ++i) {
      ASSERT_TRUE((*db)->InsertRow("T", {i, std::string("n") + std::to_string(i)}).ok()) << i;
      if (i == 150) {
        // Too long for the column, a duplicate key, a Null key: refused, nothing else lost.
        EXPECT_FALSE((*db)->InsertRow("T", {int32_t{999}, std::string(11, 'x')}).ok());
        EXPECT_FALSE((*db)->InsertRow("T", {int32_t{5}, std::string("dup")}).ok());
        EXPECT_FALSE((*db)->InsertRow("T", {Null{}, std::string("null")}).ok());
        EXPECT_EQ((*db)->batch_pending(), 150u);
      }
    }
    // A read commits the batch first and sees every row; the batch stays open.
    EXPECT_EQ(testing::TableRows(**db, "T").size(), 300u);
    EXPECT_EQ((*db)->batch_pending(), 0u);
    EXPECT_TRUE((*db)->in_batch());
    ASSERT_TRUE((*db)->InsertRow("T", {int32_t{301}, std::string("last")}).ok());
    // Another write operation commits the batch's rows before it runs.
    auto deleted = (*db)->DeleteRows("T", [](const Row& row) { return std::get<int32_t>(row[0]) % 2 == 0; });
    ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
    EXPECT_EQ(*deleted, 150u);
    ASSERT_TRUE((*db)->InsertRow("T", {int32_t{302}, std::string("kept")}).ok());
    ASSERT_TRUE((*db)->CommitBatch().ok());
    EXPECT_FALSE((*db)->in_batch());
    EXPECT_TRUE((*db)->CheckIntegrity().ok());
  }
  auto again = Database::Open(disk.File(), OpenMode::kReadOnly);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(testing::TableRows(**again, "T").size(), 152u);
  EXPECT_EQ((*again)->SeekIndex("T", "PrimaryKey", {int32_t{302}})->size(), 1u);
}

TEST(BatchTest, RowsGoToTheTableTheirNameNamesNow) {
  // Row-by-row inserts into two tables in turn, with renames and a drop between them: each row
  // goes to the table that has the name at that moment.
  const testing::MemoryDisk disk;
  auto db = Database::Create(disk.File());
  ASSERT_TRUE(db.ok());
  Database& d = **db;
  ASSERT_TRUE(d.CreateTable(kNarrow).ok());
  ASSERT_TRUE(d.CreateTable(testing::NewTable("U", {NewColumn("Id", ColumnType::kLong)})).ok());
  ASSERT_TRUE(d.BeginBatch().ok());
  for (int32_t i = 0; i < 10; ++i) {
    ASSERT_TRUE(d.InsertRow("T", {i, std::string("t")}).ok());
    ASSERT_TRUE(d.InsertRow("U", {i}).ok());
  }
  ASSERT_TRUE(d.RenameTable("T", "Renamed").ok());
  EXPECT_EQ(d.InsertRow("T", {int32_t{10}, std::string("t")}).code(), ErrorCode::kNotFound);
  ASSERT_TRUE(d.InsertRow("renamed", {int32_t{10}, std::string("t")}).ok());
  ASSERT_TRUE(d.RenameTable("U", "T").ok());
  ASSERT_TRUE(d.InsertRow("T", {int32_t{10}}).ok());
  ASSERT_TRUE(d.DropTable("T").ok());
  ASSERT_TRUE(d.CreateTable(testing::NewTable("T", {NewColumn("Code", ColumnType::kText, 5)})).ok());
  ASSERT_TRUE(d.InsertRow("T", {std::string("new")}).ok());
  ASSERT_TRUE(d.CommitBatch().ok());
  EXPECT_EQ(testing::TableRows(d, "Renamed").size(), 11u);
  EXPECT_EQ(testing::SortedRowTexts(testing::TableRows(d, "T")), std::vector<std::string>{"new,"});
  EXPECT_TRUE(d.CheckIntegrity().ok()) << d.CheckIntegrity().ToString();
}

TEST(BatchTest, AFailedCommitUndoesTheBatchAndSaysSo) {
  // The same run twice: first counting the file operations, then failing the commit's first.
  int64_t before_commit = 0;
  for (const bool fail : {false, true}) {
    const testing::MemoryDisk disk;
    auto file = std::make_unique<FaultInjectingFile>(disk.File(), fail ? before_commit + 1 : INT64_MAX);
    FaultInjectingFile* probe = file.get();
    {
      auto db = Database::Create(std::move(file));
      ASSERT_TRUE(db.ok());
      ASSERT_TRUE((*db)->CreateTable(kNarrow).ok());
      ASSERT_TRUE((*db)->BeginBatch().ok());
      for (int32_t i = 1; i <= 20; ++i) ASSERT_TRUE((*db)->InsertRow("T", {i, std::string("x")}).ok());
      if (!fail) before_commit = probe->operations();
      const Status committed = (*db)->CommitBatch();
      if (!fail) {
        ASSERT_TRUE(committed.ok()) << committed.ToString();
        continue;
      }
      ASSERT_FALSE(committed.ok());
      EXPECT_NE(committed.message().find("20 uncommitted inserts of the batch were undone"), std::string::npos)
          << committed.ToString();
      EXPECT_EQ((*db)->batch_pending(), 0u);
    }
    // The file as the next open finds it: the table without the batch's rows.
    auto reopened = Database::Open(disk.File(), OpenMode::kReadWrite);
    ASSERT_TRUE(reopened.ok()) << reopened.status().ToString();
    EXPECT_EQ(testing::TableRows(**reopened, "T").size(), 0u);
    EXPECT_TRUE((*reopened)->CheckIntegrity().ok());
  }
}

}  // namespace
}  // namespace tabulon::jet
