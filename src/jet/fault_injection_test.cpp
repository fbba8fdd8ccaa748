// A write that fails at any file operation must leave a file that opens, passes the integrity
// check and holds exactly the rows committed before the failure.
#include <gtest/gtest.h>

#include "jet/database.h"
#include "jet/pager.h"

namespace tabulon::jet {
namespace {

struct Disk {
  std::shared_ptr<std::vector<uint8_t>> bytes = std::make_shared<std::vector<uint8_t>>();
  std::shared_ptr<MemoryFile::Companions> companions =
      std::make_shared<MemoryFile::Companions>();
  std::unique_ptr<FileIo> File() const { return std::make_unique<MemoryFile>(bytes, companions); }
};

TableDefinition Table(const std::string& name) {
  TableDefinition t;
  t.name = name;
  ColumnDefinition id = NewColumn("ID", ColumnType::kLong);
  id.flags |= kColumnAutoNumber;
  t.columns = {id, NewColumn("Name", ColumnType::kText, 30), NewColumn("Notes", ColumnType::kMemo)};
  return t;
}

std::vector<Row> Batch(int first, int count) {
  std::vector<Row> rows;
  for (int i = first; i < first + count; ++i) {
    rows.push_back({Null{}, std::string("row ") + std::to_string(i),
                    std::string(static_cast<size_t>(i % 4 == 0 ? 9000 : 20), 'n')});
  }
  return rows;
}

// Rows per table as the engine reads them, or an error.
Result<std::vector<size_t>> Contents(Disk& disk) {
  ASSIGN_OR_RETURN(auto db, Database::Open(disk.File(), OpenMode::kReadWrite));
  RETURN_IF_ERROR(db->CheckIntegrity());
  std::vector<size_t> counts;
  ASSIGN_OR_RETURN(std::vector<std::string> tables, db->ListTables());
  for (const std::string& name : tables) {
    ASSIGN_OR_RETURN(TableDefinition t, db->GetTable(name));
    ASSIGN_OR_RETURN(std::vector<Row> rows, db->ReadAllRows(t));
    if (rows.size() != t.row_count) return CorruptError(name + ": row count differs");
    counts.push_back(rows.size());
  }
  return counts;
}

// One workload step after another; each step is one committed transaction.
Status Workload(Database& db, int& committed_steps) {
  RETURN_IF_ERROR(db.CreateTable(Table("First")));
  ++committed_steps;
  RETURN_IF_ERROR(db.InsertRows("First", Batch(0, 60)));
  ++committed_steps;
  RETURN_IF_ERROR(db.CreateTable(Table("Second")));
  ++committed_steps;
  RETURN_IF_ERROR(db.InsertRows("Second", Batch(0, 40)));
  ++committed_steps;
  RETURN_IF_ERROR(db.DeleteRows("First", [](const Row& r) {
                      return std::get<int32_t>(r[0]) % 3 == 0;
                    }).status());
  ++committed_steps;
  RETURN_IF_ERROR(db.RenameTable("Second", "Renamed"));
  ++committed_steps;
  RETURN_IF_ERROR(db.DropTable("First"));
  ++committed_steps;
  RETURN_IF_ERROR(db.InsertRows("Renamed", Batch(40, 30)));
  ++committed_steps;
  return Status::Ok();
}

// What each number of committed steps leaves, from a run without failures.
const std::vector<std::vector<size_t>> kAfterStep = {
    {}, {0}, {60}, {60, 0}, {60, 40}, {40, 40}, {40, 40}, {40}, {70}};

TEST(FaultInjectionTest, EveryFailedOperationLeavesTheLastCommittedState) {
  Disk base;
  ASSERT_TRUE(Database::Create(base.File()).ok());
  {
    Disk clean;
    *clean.bytes = *base.bytes;
    auto db = Database::Open(clean.File(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    int steps = 0;
    ASSERT_TRUE(Workload(**db, steps).ok());
    db->reset();
    auto contents = Contents(clean);
    ASSERT_TRUE(contents.ok()) << contents.status().ToString();
    ASSERT_EQ(*contents, kAfterStep.back());
  }
  for (int64_t fail_at = 1;; ++fail_at) {
    Disk disk;
    *disk.bytes = *base.bytes;
    auto faulty = std::make_unique<FaultInjectingFile>(disk.File(), fail_at);
    FaultInjectingFile* probe = faulty.get();
    int steps = 0;
    Status result;
    bool failed = false;
    {
      auto db = Database::Open(std::move(faulty), OpenMode::kReadWrite);
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      result = Workload(**db, steps);
      failed = probe->failed();
    }
    if (result.ok()) {
      // Only tidying after the last commit point (removing the empty journal) can fail
      // unreported; the data must then be complete.
      auto contents = Contents(disk);
      ASSERT_TRUE(contents.ok()) << contents.status().ToString();
      EXPECT_EQ(*contents, kAfterStep.back()) << "fail at operation " << fail_at;
      if (!failed) break;  // the workload needs fewer operations
      continue;
    }
    EXPECT_EQ(result.code(), ErrorCode::kIo) << result.ToString();
    auto contents = Contents(disk);
    ASSERT_TRUE(contents.ok()) << "fail at " << fail_at << ": " << contents.status().ToString();
    EXPECT_EQ(*contents, kAfterStep[static_cast<size_t>(steps)])
        << "fail at operation " << fail_at << " after " << steps << " committed steps";
    EXPECT_EQ(disk.companions->count(kJournalSuffix), 0u) << "journal left after recovery";
  }
}

TEST(FaultInjectionTest, ReadOnlyOpenSeesTheCommittedStateThroughAHotJournal) {
  Disk disk;
  ASSERT_TRUE(Database::Create(disk.File()).ok());
  {
    auto db = Database::Open(disk.File(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->CreateTable(Table("T")).ok());
  }
  const std::vector<uint8_t> committed = *disk.bytes;
  // Fail late in the insert's commit: pages already overwritten, journal still in place.
  for (int64_t fail_at = 4; fail_at < 40; ++fail_at) {
    *disk.bytes = committed;
    disk.companions->clear();
    {
      auto db = Database::Open(std::make_unique<FaultInjectingFile>(disk.File(), fail_at),
                               OpenMode::kReadWrite);
      ASSERT_TRUE(db.ok());
      if ((*db)->InsertRows("T", Batch(0, 200)).ok()) break;
    }
    auto reader = Database::Open(disk.File(), OpenMode::kReadOnly);
    ASSERT_TRUE(reader.ok()) << fail_at << ": " << reader.status().ToString();
    auto t = (*reader)->GetTable("T");
    ASSERT_TRUE(t.ok()) << fail_at << ": " << t.status().ToString();
    auto rows = (*reader)->ReadAllRows(*t);
    ASSERT_TRUE(rows.ok()) << fail_at << ": " << rows.status().ToString();
    EXPECT_EQ(rows->size(), 0u) << fail_at;
  }
}

}  // namespace
}  // namespace tabulon::jet
