// Batches of inserts in one transaction: refused rows leave the batch going, reads and other
// writes see the batch's rows, and a failed commit undoes the batch and says so.
#include <gtest/gtest.h>

#include <memory>

#include "jet/database.h"
#include "jet/file_io.h"

namespace tabulon::jet {
namespace {

TableDefinition Narrow() {
  TableDefinition table;
  table.name = "T";
  table.columns = {NewColumn("Id", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 10)};
  return table;
}

size_t CountRows(Database& db) {
  auto def = db.GetTable("T");
  if (!def.ok()) return SIZE_MAX;
  auto rows = db.ReadAllRows(*def);
  return rows.ok() ? rows->size() : SIZE_MAX;
}

TEST(BatchTest, RefusedRowsLeaveTheBatchGoingAndReadsSeeItsRows) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  auto companions = std::make_shared<MemoryFile::Companions>();
  {
    auto db = Database::Create(std::make_unique<MemoryFile>(bytes, companions));
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE((*db)->CreateTable(Narrow()).ok());
    IndexSpec key;
    key.name = "PrimaryKey";
    key.primary = key.unique = key.required = true;
    key.columns = {{"Id", true}};
    ASSERT_TRUE((*db)->CreateIndex("T", key).ok());
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
    EXPECT_EQ(CountRows(**db), 300u);
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
  auto again = Database::Open(std::make_unique<MemoryFile>(bytes, companions), OpenMode::kReadOnly);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(CountRows(**again), 152u);
  auto found = (*again)->SeekIndex("T", "PrimaryKey", {int32_t{302}});
  ASSERT_TRUE(found.ok()) << found.status().ToString();
  EXPECT_EQ(found->size(), 1u);
}

TEST(BatchTest, AFailedCommitUndoesTheBatchAndSaysSo) {
  // The same run twice: first counting the file operations, then failing the commit's first.
  int64_t before_commit = 0;
  for (const bool fail : {false, true}) {
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    auto companions = std::make_shared<MemoryFile::Companions>();
    auto file = std::make_unique<FaultInjectingFile>(std::make_unique<MemoryFile>(bytes, companions),
                                                     fail ? before_commit + 1 : INT64_MAX);
    FaultInjectingFile* probe = file.get();
    {
      auto db = Database::Create(std::move(file));
      ASSERT_TRUE(db.ok());
      ASSERT_TRUE((*db)->CreateTable(Narrow()).ok());
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
    auto reopened = Database::Open(std::make_unique<MemoryFile>(bytes, companions), OpenMode::kReadWrite);
    ASSERT_TRUE(reopened.ok()) << reopened.status().ToString();
    EXPECT_EQ(CountRows(**reopened), 0u);
    EXPECT_TRUE((*reopened)->CheckIntegrity().ok());
  }
}

}  // namespace
}  // namespace tabulon::jet
