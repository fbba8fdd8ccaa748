// A write that fails at any file operation, or a power loss at any operation (only what was
// synced survives), must leave a file that opens, passes the integrity check and holds exactly
// what was committed before.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "jet/database.h"
#include "jet/pager.h"
#include "jet/saved_query.h"
#include "jet/values.h"
#include "jet_test_db.h"

namespace tabulon::jet {
namespace {

using testing::MemoryDisk;

// What a file holds, as one text: every table with its rows, indexes and row count, every
// relationship and saved query; the integrity check's first problem if there is one.
std::string Fingerprint(MemoryDisk& disk) {
  auto db = Database::Open(disk.File(), OpenMode::kReadWrite);  // recovers a hot journal
  if (!db.ok()) return "cannot open: " + db.status().ToString();
  if (Status s = (*db)->CheckIntegrity(); !s.ok()) return "integrity: " + s.ToString();
  std::ostringstream out;
  auto tables = (*db)->ListTables();
  auto relationships = (*db)->ListRelationships();
  auto queries = (*db)->ListQueries();
  if (!tables.ok() || !relationships.ok() || !queries.ok()) return "cannot list the objects";
  for (const std::string& name : *tables) {
    auto t = (*db)->GetTable(name);
    if (!t.ok()) return "cannot read " + name;
    auto rows = (*db)->ReadAllRows(*t);
    std::string values;  // the rows' values, so a half-done update shows
    for (const Row& row : rows.ok() ? *rows : std::vector<Row>{}) {
      for (const Value& v : row) values += FormatValue(v).value_or("NULL") + "|";
    }
    out << name << ": " << (rows.ok() ? rows->size() : 0) << " rows (" << std::hash<std::string>{}(values)
        << "), next AutoNumber " << t->last_auto_number << ", columns";
    for (const ColumnDefinition& c : t->columns)
      out << " " << c.name << "/" << int{c.flags} << "/" << int{c.extra_flags};
    out << ", indexes";
    for (const IndexDefinition& i : t->indexes) out << " " << i.name;
    out << "\n";
  }
  for (const Relationship& r : *relationships) out << "relationship " << r.name << "\n";
  for (const SavedQuery& q : *queries) out << "query " << q.name << "\n";
  return out.str();
}

// Schema changes (tables, keys, a unique index, AutoNumber, compression, a drop and a rename),
// rows with long values, an enforced relationship cascading a delete, a view and a crosstab
// query; each step is one committed transaction.
std::vector<std::function<Status(Database&)>> RichWorkload() {
  auto table = [](const std::string& name, std::vector<ColumnDefinition> columns) {
    return [t = testing::NewTable(name, columns)](Database& db) { return db.CreateTable(t); };
  };
  auto key = [](const std::string& name) {
    return [name](Database& db) { return db.CreateIndex(name, testing::PrimaryKeyOn({"ID"})); };
  };
  return {
      table("Parent", {NewColumn("ID", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 30)}),
      key("Parent"),
      table("Child", {NewColumn("ID", ColumnType::kLong), NewColumn("ParentID", ColumnType::kLong),
                      NewColumn("Note", ColumnType::kMemo)}),
      key("Child"),
      [](Database& db) {
        std::vector<Row> rows;
        for (int i = 0; i < 120; ++i) rows.push_back({int32_t{i}, "parent " + std::to_string(i)});
        return db.InsertRows("Parent", rows);
      },
      [](Database& db) {
        return db.CreateRelationship({.name = "ParentChild",
                                      .primary_table = "Parent",
                                      .primary_columns = {"ID"},
                                      .foreign_table = "Child",
                                      .foreign_columns = {"ParentID"},
                                      .cascade_update = true,
                                      .cascade_delete = true});
      },
      [](Database& db) {
        std::vector<Row> rows;
        for (int i = 0; i < 160; ++i) {
          rows.push_back({int32_t{i}, int32_t{i % 120}, std::string(static_cast<size_t>(i % 7 == 0 ? 5000 : 10), 'x')});
        }
        return db.InsertRows("Child", rows);
      },
      [](Database& db) {
        ViewDefinition view;
        view.name = "ParentNames";
        view.columns = {{"Name", ""}};
        view.tables = {{"Parent", ""}};
        return db.CreateView(view);
      },
      // A crosstab stored from its rows; an AutoNumber made and reseeded; compression turned off.
      [](Database& db) {
        const auto row = [](uint8_t attribute, uint32_t order, std::optional<int16_t> flag,
                            std::optional<std::string> name1, std::optional<std::string> expression) {
          QueryRow r;
          r.attribute = attribute;
          r.order = order;
          r.flag = flag;
          r.name1 = std::move(name1);
          r.expression = std::move(expression);
          return r;
        };
        SavedQuery crosstab;
        crosstab.name = "NotesPerParent";
        crosstab.rows = {row(0, 1, 0, {}, {}),
                         row(1, 1, 6, {}, {}),
                         row(5, 1, {}, "Child", {}),
                         row(6, 1, 0, "Notes", "Count(Child.Note)"),
                         row(6, 2, 2, {}, "Child.ParentID"),
                         row(6, 3, 1, {}, "Child.ID"),
                         row(9, 1, 2, {}, "Child.ParentID"),
                         row(9, 2, 1, {}, "Child.ID"),
                         row(255, 1, {}, {}, {})};
        return db.CreateQuery(crosstab);
      },
      [](Database& db) { return db.SetAutoNumber("Child", "ID", 500); },
      [](Database& db) { return db.SetUnicodeCompression("Child", "Note", false); },
      // Keys shifted (the children follow), long values grown, shrunk and cleared.
      [](Database& db) {
        return db
            .UpdateRows("Parent",
                        [](RowPointer, const Row& row, Row& updated) -> Result<bool> {
                          if (std::get<int32_t>(row[0]) % 5 != 0) return false;
                          updated[0] = std::get<int32_t>(row[0]) + 1000;
                          return true;
                        })
            .status();
      },
      [](Database& db) {
        return db
            .UpdateRows("Child",
                        [](RowPointer, const Row& row, Row& updated) -> Result<bool> {
                          const int32_t id = std::get<int32_t>(row[0]);
                          if (id % 3 != 0) return false;
                          updated[2] = id % 2 == 0 ? Value{std::string(9000, 'u')} : Value{Null{}};
                          if (id % 7 == 0) updated[2] = std::string(3, 's');
                          return true;
                        })
            .status();
      },
      [](Database& db) {
        return db.CreateIndex("Parent", {.name = "Name", .columns = {{"Name", true}}, .unique = true});
      },
      [](Database& db) {
        return db.DeleteRows("Parent", [](const Row& r) { return std::get<int32_t>(r[0]) % 4 == 0; }).status();
      },
      [](Database& db) { return db.DropRelationship("ParentChild"); },
      [](Database& db) { return db.DropTable("Parent"); },
      [](Database& db) { return db.RenameTable("Child", "Notes"); },
  };
}

using Steps = std::vector<std::function<Status(Database&)>>;

// A new file, and its fingerprint after each number of workload steps run without failures.
struct Baseline {
  MemoryDisk base;
  Steps steps = RichWorkload();
  std::vector<std::string> after;

  Baseline() {
    EXPECT_TRUE(Database::Create(base.File()).ok());
    MemoryDisk clean = base.Copy();
    after = {Fingerprint(clean)};
    for (const auto& step : steps) {
      auto db = Database::Open(clean.File(), OpenMode::kReadWrite);
      EXPECT_TRUE(db.ok());
      if (!db.ok()) return;
      const Status s = step(**db);
      EXPECT_TRUE(s.ok()) << s.ToString();
      db->reset();
      after.push_back(Fingerprint(clean));
      EXPECT_EQ(after.back().find("integrity"), std::string::npos) << after.back();
    }
  }
  // The state `found` is the one before step `committed` or, when that step reached its commit
  // point, the one after it.
  bool BeforeOrAfterStep(const std::string& found, size_t committed) const {
    return found == after[committed] || (committed + 1 < after.size() && found == after[committed + 1]);
  }
};

bool Faulted(FaultInjectingFile& file) { return file.failed(); }
bool Faulted(PowerLossFile& file) { return file.power_lost(); }
bool Faulted(MemoryFile&) { return false; }

struct WorkloadRun {
  size_t committed = 0;  // steps that succeeded
  Status result;         // of the last step run
  bool faulted = false;  // the file's fault happened
};

// Runs the steps on `file` until one fails.
template <typename File>
WorkloadRun RunSteps(std::unique_ptr<File> file, const Steps& steps) {
  File* probe = file.get();
  WorkloadRun run;
  auto db = Database::Open(std::move(file), OpenMode::kReadWrite);
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  if (!db.ok()) return run;
  for (const auto& step : steps) {
    run.result = step(**db);
    if (!run.result.ok()) break;
    ++run.committed;
  }
  run.faulted = Faulted(*probe);  // while the database still owns the file
  return run;
}

TEST(FaultInjectionTest, EveryFailedOperationLeavesTheLastCommittedState) {
  const Baseline b;
  ASSERT_EQ(b.after.size(), b.steps.size() + 1);
  for (int64_t fail_at = 1;; ++fail_at) {
    MemoryDisk disk = b.base.Copy();
    const WorkloadRun run = RunSteps(std::make_unique<FaultInjectingFile>(disk.File(), fail_at), b.steps);
    const std::string found = Fingerprint(disk);
    if (run.result.ok()) {
      // Only tidying after the last commit point (removing the empty journal) can fail
      // unreported; the data must then be complete.
      EXPECT_EQ(found, b.after.back()) << "fail at operation " << fail_at;
      if (!run.faulted) break;  // the workload needs fewer operations
      continue;
    }
    EXPECT_EQ(run.result.code(), ErrorCode::kIo) << run.result.ToString();
    // The failed step is wholly absent, or wholly there when only the sync of its commit point
    // failed (the write cannot know whether that reached the disk, so it reports the failure).
    EXPECT_TRUE(b.BeforeOrAfterStep(found, run.committed))
        << "fail at operation " << fail_at << " after " << run.committed << " committed steps:\n"
        << found;
    EXPECT_EQ(disk.companions->count(kJournalSuffix), 0u) << "journal left after recovery";
  }
}

TEST(FaultInjectionTest, ReadOnlyOpenSeesTheCommittedStateThroughAHotJournal) {
  MemoryDisk disk;
  ASSERT_TRUE(Database::Create(disk.File()).ok());
  const Steps steps = RichWorkload();
  const size_t child_rows = 6;  // the step inserting Child's rows, long values among them
  ASSERT_EQ(
      RunSteps(std::make_unique<MemoryFile>(disk.bytes, disk.companions), {steps.begin(), steps.begin() + child_rows})
          .committed,
      child_rows);
  const std::vector<uint8_t> committed = *disk.bytes;
  // Fail late in the insert's commit: pages already overwritten, journal still in place.
  for (int64_t fail_at = 4; fail_at < 40; ++fail_at) {
    *disk.bytes = committed;
    disk.companions->clear();
    if (RunSteps(std::make_unique<FaultInjectingFile>(disk.File(), fail_at), {steps[child_rows]}).result.ok()) break;
    auto reader = Database::Open(disk.File(), OpenMode::kReadOnly);
    ASSERT_TRUE(reader.ok()) << fail_at << ": " << reader.status().ToString();
    EXPECT_EQ(testing::TableRows(**reader, "Child").size(), 0u) << fail_at;
  }
}

TEST(FaultInjectionTest, APowerLossAtAnyOperationLeavesExactlyWhatWasCommitted) {
  const Baseline b;
  ASSERT_EQ(b.after.size(), b.steps.size() + 1);
  for (int64_t fail_at = 1;; ++fail_at) {
    MemoryDisk disk = b.base.Copy();
    const WorkloadRun run = RunSteps(std::make_unique<PowerLossFile>(disk.bytes, disk.companions, fail_at), b.steps);
    // A power loss ends the process: the step it interrupted is either wholly there (it reached
    // its commit point) or wholly absent, whatever the step had reported.
    const std::string found = Fingerprint(disk);
    EXPECT_TRUE(b.BeforeOrAfterStep(found, run.committed))
        << "power lost at operation " << fail_at << " after " << run.committed << " steps:\n"
        << found << "expected:\n"
        << b.after[run.committed];
    if (!run.faulted) break;  // the workload needs fewer operations
  }
}

// A device that stops answering reads, at any read of opening, listing, scanning, checking or
// an insert with its index upkeep: an I/O error every time, never a crash or a wrong answer,
// and the file stays as it was committed.
TEST(FaultInjectionTest, AFailingReadAtAnyPointIsAnErrorAndChangesNothing) {
  MemoryDisk base;
  ASSERT_TRUE(Database::Create(base.File()).ok());
  const Steps steps = RichWorkload();
  ASSERT_EQ(RunSteps(std::make_unique<MemoryFile>(base.bytes, base.companions), steps).committed, steps.size());
  const std::string committed = Fingerprint(base);
  ASSERT_EQ(committed.find("integrity"), std::string::npos) << committed;
  for (int64_t fail_at = 1;; ++fail_at) {
    MemoryDisk disk = base.Copy();
    auto faulty = std::make_unique<FaultInjectingFile>(disk.File(), fail_at, /*reads_too=*/true);
    FaultInjectingFile* probe = faulty.get();
    bool failed = false;
    Status result = [&]() -> Status {
      ASSIGN_OR_RETURN(auto db, Database::Open(std::move(faulty), OpenMode::kReadWrite));
      // Read while the database (and the file it owns) is alive.
      struct Probe {
        FaultInjectingFile* file;
        bool& failed;
        ~Probe() { failed = file->failed(); }
      } watch{probe, failed};
      ASSIGN_OR_RETURN(std::vector<std::string> tables, db->ListTables());
      for (const std::string& name : tables) {
        ASSIGN_OR_RETURN(TableDefinition t, db->GetTable(name));
        RETURN_IF_ERROR(db->ReadAllRows(t).status());
      }
      RETURN_IF_ERROR(db->CheckIntegrity());
      std::vector<Row> rows;
      for (int i = 1000; i < 1005; ++i) rows.push_back({int32_t{i}, int32_t{1}, std::string(5000, 'y')});
      return db->InsertRows("Notes", rows);
    }();
    if (result.ok() && !failed) break;  // every read of the run answered
    const std::string found = Fingerprint(disk);
    if (result.ok()) {
      // Only removing the emptied journal after the commit may fail unreported.
      EXPECT_NE(found.find("Notes: 125 rows"), std::string::npos) << "operation " << fail_at << ":\n" << found;
      continue;
    }
    // A failed insert may still have reached its commit point (its last reads come after it).
    EXPECT_TRUE(found == committed || found.find("Notes: 125 rows") != std::string::npos)
        << "read failure at operation " << fail_at << ":\n"
        << found;
  }
}

}  // namespace
}  // namespace tabulon::jet
