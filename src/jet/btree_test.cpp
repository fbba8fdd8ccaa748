// User-index B-trees changed in place over many small write operations: after every batch the
// trees keep their shape rules (node entry = last entry of the child, sibling links, levels,
// distinct-key counts), seeks and range scans agree with filtered full scans, the integrity
// check passes, and other readers read the file. A failure in the middle of a split rolls
// the operation back without leaving stale state behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>

#include "base/bytes.h"
#include "jet/database.h"
#include "jet/file_io.h"
#include "jet/format/index_page.h"
#include "jet/index_key.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kPage = 4096;

std::vector<uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct TreeShape {
  size_t levels = 0;
  uint64_t entries = 0;
  uint64_t distinct = 0;
};

// Walks the tree level by level and returns the first broken rule ("" when none).
std::string CheckTree(const std::vector<uint8_t>& file, uint32_t root, uint32_t owner, TreeShape& shape) {
  struct Item {
    uint32_t page;
    size_t parent;              // position of the parent in the level above
    std::string expected_last;  // the parent's entry for it (key + row pointer)
  };
  std::vector<Item> level = {{root, 0, {}}};
  std::string previous_key;
  bool first_entry = true;
  for (shape.levels = 1;; ++shape.levels) {
    if (shape.levels > 8) return "too many levels";
    std::vector<Item> below;
    bool leaves = false;
    for (size_t i = 0; i < level.size(); ++i) {
      const Item& item = level[i];
      if (static_cast<uint64_t>(item.page + 1) * kPage > file.size()) return "page beyond the file";
      const uint8_t* raw = file.data() + static_cast<size_t>(item.page) * kPage;
      auto page = format::DecodeIndexPage(raw, item.page);
      if (!page.ok()) return page.status().ToString();
      const std::string at = "page " + std::to_string(item.page) + ": ";
      if (i == 0) leaves = page->leaf();
      if (page->leaf() != leaves) return at + "leaves and nodes on one level";
      if (raw[1] != 0x01 || page->owner != owner || page->tail_page != 0) return at + "header";
      if (page->entries.empty() && item.page != root) return at + "empty page below the root";
      // Links: leaves chain across the level, nodes only under one parent.
      const bool linked_prev = i > 0 && (leaves || level[i - 1].parent == item.parent);
      const bool linked_next = i + 1 < level.size() && (leaves || level[i + 1].parent == item.parent);
      if (page->prev_page != (linked_prev ? level[i - 1].page : 0)) return at + "prev link";
      if (page->next_page != (linked_next ? level[i + 1].page : 0)) return at + "next link";
      std::string last;
      for (const format::IndexEntry& e : page->entries) {
        last = e.key;
        AppendEntryRowPointer(e.row_pointer, last);
        if (!leaves) {
          below.push_back({e.child_page, i, last});
          continue;
        }
        ++shape.entries;
        if (!first_entry && last <= previous_key) return at + "leaf entries out of order";
        if (first_entry || previous_key.size() != last.size() ||
            previous_key.compare(0, last.size() - 4, last, 0, last.size() - 4) != 0) {
          ++shape.distinct;
        }
        previous_key = last;
        first_entry = false;
      }
      if (item.page != root && last != item.expected_last) {
        return at + "the parent's entry is not the page's last entry";
      }
    }
    if (leaves) return "";
    level = std::move(below);
  }
}

struct Harness {
  fs::path path;
  std::unique_ptr<Database> db;

  // Every index of `table` keeps the shape rules and its distinct-key count.
  void CheckTrees(const std::string& table, size_t* max_levels = nullptr) {
    auto def = db->GetTable(table);
    ASSERT_TRUE(def.ok()) << def.status().ToString();
    const std::vector<uint8_t> file = FileBytes(path);
    std::set<uint32_t> done;
    for (const IndexDefinition& index : def->indexes) {
      if (!done.insert(index.real_number).second) continue;
      TreeShape shape;
      const std::string problem = CheckTree(file, index.root_page, def->tdef_page, shape);
      ASSERT_EQ(problem, "") << "index " << index.name;
      EXPECT_EQ(index.unique_entry_count, shape.distinct) << "index " << index.name;
      if (max_levels) *max_levels = std::max(*max_levels, shape.levels);
    }
  }
};

const char* const kNames[] = {"Café",    "Zürich", "Ærøskøbing", "Núñez", "straße",
                              "O'Brien", "co-op",  "Åland",      "élan",  "zebra"};

std::set<RowPointer> AsSet(const std::vector<RowPointer>& v) { return {v.begin(), v.end()}; }

TEST(BTreeTest, ManySmallOperationsKeepTreesRightAndReadable) {
  Harness h;
  h.path = testing::ScratchFile("btree", "many.mdb");
  auto created = Database::Create(h.path.string());
  ASSERT_TRUE(created.ok()) << created.status().ToString();
  h.db = std::move(*created);
  TableDefinition t;
  t.name = "T";
  t.columns = {NewColumn("ID", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 60),
               NewColumn("Tag", ColumnType::kText, 120), NewColumn("N", ColumnType::kLong)};
  ASSERT_TRUE(h.db->CreateTable(t).ok());
  IndexSpec pk{"PrimaryKey", {{"ID", true}}};
  pk.primary = true;
  IndexSpec by_name{"ByName", {{"Name", true}}};
  IndexSpec by_tag{"ByTag", {{"Tag", false}}};  // descending, unique, Nulls allowed
  by_tag.unique = true;
  IndexSpec by_n{"ByNName", {{"N", false}, {"Name", true}}};
  for (const IndexSpec& spec : {pk, by_name, by_tag, by_n}) {
    ASSERT_TRUE(h.db->CreateIndex("T", spec).ok()) << spec.name;
  }

  std::mt19937 random(20240611);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::map<int32_t, Row> live;
  int32_t ascending = 2000000;
  auto make_row = [&](int32_t id) -> Row {
    Value name = Null{};
    if (pick(10) != 0) name = std::string(kNames[pick(10)]) + " " + std::to_string(pick(6));
    Value tag = Null{};
    // Long keys make the tree deep with few rows.
    if (pick(8) != 0) tag = std::string(kNames[pick(10)]) + std::string(70, 'x') + std::to_string(id);
    Value n = Null{};
    if (pick(6) != 0) n = int32_t{pick(20) - 5};
    return {int32_t{id}, name, tag, n};
  };

  // Row pointers and rows as a full scan sees them.
  auto scan = [&]() {
    std::vector<std::pair<RowPointer, Row>> rows;
    auto def = h.db->GetTable("T");
    EXPECT_TRUE(h.db->ScanRows(*def,
                               [&](RowPointer at, const Row& row) {
                                 rows.push_back({at, row});
                                 return Status::Ok();
                               })
                    .ok());
    return rows;
  };
  auto same = [](const Value& a, const Value& b) { return FormatValue(a) == FormatValue(b); };

  auto verify = [&](bool full) {
    const auto rows = scan();
    ASSERT_EQ(rows.size(), live.size());
    // A seek per index for a value some row has, and one for a missing primary key.
    const Row& probe = rows.empty() ? Row{int32_t{0}, Null{}, Null{}, Null{}}
                                    : rows[static_cast<size_t>(pick(static_cast<int>(rows.size())))].second;
    struct Seek {
      const char* index;
      Row key;
      std::function<bool(const Row&)> match;
    };
    const std::vector<Seek> seeks = {
        {"PrimaryKey", {probe[0]}, [&](const Row& r) { return same(r[0], probe[0]); }},
        {"PrimaryKey", {int32_t{-7}}, [](const Row&) { return false; }},
        {"ByName", {probe[1]}, [&](const Row& r) { return same(r[1], probe[1]); }},
        {"ByTag", {probe[2]}, [&](const Row& r) { return same(r[2], probe[2]); }},
        {"ByNName", {probe[3]}, [&](const Row& r) { return same(r[3], probe[3]); }},
        {"ByNName", {probe[3], probe[1]}, [&](const Row& r) { return same(r[3], probe[3]) && same(r[1], probe[1]); }},
    };
    for (const Seek& seek : seeks) {
      auto found = h.db->SeekIndex("T", seek.index, seek.key);
      ASSERT_TRUE(found.ok()) << found.status().ToString();
      std::set<RowPointer> expected;
      for (const auto& [at, row] : rows) {
        if (seek.match(row)) expected.insert(at);
      }
      EXPECT_EQ(AsSet(*found), expected) << seek.index << " " << FormatValue(seek.key[0]).value_or("Null");
    }
    // A primary-key range comes back in key order.
    const int32_t low = pick(1000000);
    const int32_t high = low + pick(400000);
    auto range = h.db->ScanIndexRange("T", "PrimaryKey",
                                      IndexRange{IndexBound{{int32_t{low}}, true}, IndexBound{{int32_t{high}}, false}});
    ASSERT_TRUE(range.ok());
    std::map<int32_t, RowPointer> by_id;
    for (const auto& [at, row] : rows) by_id[std::get<int32_t>(row[0])] = at;
    std::vector<RowPointer> expected;
    for (auto it = by_id.lower_bound(low); it != by_id.end() && it->first < high; ++it) {
      expected.push_back(it->second);
    }
    EXPECT_EQ(*range, expected);
    if (full) {
      Status integrity = h.db->CheckIntegrity();
      ASSERT_TRUE(integrity.ok()) << integrity.ToString();
      h.CheckTrees("T");
    }
  };

  for (int op = 0; op < 240; ++op) {
    const int count = 1 + pick(50);
    if (live.empty() || pick(10) < 7) {
      std::vector<Row> rows;
      for (int i = 0; i < count; ++i) {
        int32_t id = op % 5 == 0 ? ascending++ : pick(1000000);
        if (live.count(id) ||
            std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return std::get<int32_t>(r[0]) == id; })) {
          continue;
        }
        rows.push_back(make_row(id));
      }
      if (op % 17 == 3 && !live.empty()) {
        // A duplicate primary key fails the whole operation and writes nothing.
        rows.push_back(live.begin()->second);
        const Status refused = h.db->InsertRows("T", rows);
        ASSERT_EQ(refused.code(), ErrorCode::kAlreadyExists) << refused.ToString();
        rows.pop_back();
      }
      ASSERT_TRUE(h.db->InsertRows("T", rows).ok()) << "operation " << op;
      for (Row& r : rows) live[std::get<int32_t>(r[0])] = std::move(r);
    } else {
      std::set<int32_t> doomed;
      if (pick(4) == 0) {  // a run of neighbouring keys empties whole leaves
        auto it = live.lower_bound(pick(1000000));
        for (int i = 0; i < count * 3 && it != live.end(); ++i, ++it) doomed.insert(it->first);
      } else {
        for (int i = 0; i < count; ++i) {
          auto it = live.lower_bound(pick(1000000));
          if (it != live.end()) doomed.insert(it->first);
        }
      }
      auto deleted = h.db->DeleteRows("T", [&](const Row& r) { return doomed.count(std::get<int32_t>(r[0])) != 0; });
      ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
      ASSERT_EQ(*deleted, doomed.size());
      for (int32_t id : doomed) live.erase(id);
    }
    verify(op % 30 == 29);
    if (HasFatalFailure()) return;
  }
  size_t levels = 0;
  h.CheckTrees("T", &levels);
  EXPECT_GE(levels, 3u) << "the workload should grow a three-level tree";

  // Other readers: the values and the index definitions.
  auto def = h.db->GetTable("T");
  ASSERT_TRUE(def.ok());
  std::vector<Row> rows;
  for (auto& [at, row] : scan()) rows.push_back(row);
  h.db.reset();
  EXPECT_EQ(testing::CompareTableWithReaders(h.path.string(), "T", def->columns, rows), "");
  if (testing::MdbToolsAvailable()) {
    auto schema = testing::MdbToolsSchema(h.path.string(), "postgres");
    ASSERT_TRUE(schema.ok()) << schema.status().ToString();
    for (const char* part :
         {"t_byname_idx", "t_bytag_idx", "t_bynname_idx", "PRIMARY KEY", "UNIQUE", "(\"n\" DESC, \"name\")"}) {
      EXPECT_NE(schema->find(part), std::string::npos) << part << " in\n" << *schema;
    }
  }
  fs::remove(h.path);
}

struct Disk {
  std::shared_ptr<std::vector<uint8_t>> bytes = std::make_shared<std::vector<uint8_t>>();
  std::shared_ptr<MemoryFile::Companions> companions = std::make_shared<MemoryFile::Companions>();
  std::unique_ptr<FileIo> File() const { return std::make_unique<MemoryFile>(bytes, companions); }
};

Row TagRow(int i) { return {int32_t{i}, std::string("tag ") + std::string(60, 't') + std::to_string(100000 + i)}; }

// Table T (ID, Tag) with the unique index ByTag, holding TagRow(i) for each of `ids`.
void MakeTagTable(Database& db, const std::vector<int>& ids) {
  TableDefinition t;
  t.name = "T";
  t.columns = {NewColumn("ID", ColumnType::kLong), NewColumn("Tag", ColumnType::kText, 100)};
  ASSERT_TRUE(db.CreateTable(t).ok());
  IndexSpec tag{"ByTag", {{"Tag", true}}};
  tag.unique = true;
  ASSERT_TRUE(db.CreateIndex("T", tag).ok());
  std::vector<Row> rows;
  for (int i : ids) rows.push_back(TagRow(i));
  if (!rows.empty()) {
    ASSERT_TRUE(db.InsertRows("T", rows).ok());
  }
}

// The database (whose file holds `file`) passes the integrity check, T holds `entries` rows and
// its ByTag tree keeps its shape rules and holds `entries` distinct keys.
TreeShape ExpectTagTree(Database& db, const std::vector<uint8_t>& file, size_t entries) {
  const Status integrity = db.CheckIntegrity();
  EXPECT_TRUE(integrity.ok()) << integrity.ToString();
  auto def = db.GetTable("T");
  TreeShape shape;
  EXPECT_EQ(def->row_count, entries);
  EXPECT_EQ(CheckTree(file, def->indexes[0].root_page, def->tdef_page, shape), "");
  EXPECT_EQ(shape.entries, entries);
  EXPECT_EQ(def->indexes[0].unique_entry_count, entries);
  return shape;
}

std::vector<int> Numbers(int from, int to, int step = 1) {
  std::vector<int> out;
  for (int i = from; i < to; i += step) out.push_back(i);
  return out;
}

TEST(BTreeTest, FailureDuringSplitsLeavesTheCommittedTree) {
  // 150 rows fill several leaves; the failing operation adds 120 more, in the middle of the
  // key range and at its end, so leaves, nodes and the root split.
  Disk base;
  {
    auto db = Database::Create(base.File());
    ASSERT_TRUE(db.ok());
    MakeTagTable(**db, Numbers(0, 300, 2));
    if (HasFatalFailure()) return;
  }
  std::vector<Row> more;
  for (int i = 1; i < 200; i += 2) more.push_back(TagRow(i));
  for (int i = 300; i < 320; ++i) more.push_back(TagRow(i));

  auto check = [](Disk& disk, size_t want) {
    auto db = Database::Open(disk.File(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ExpectTagTree(**db, *disk.bytes, want);
    auto found = (*db)->SeekIndex("T", "ByTag", {TagRow(298)[1]});
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(found->size(), 1u);
    // The writer starts from what the file holds: a duplicate is still refused and a new
    // key still goes in.
    EXPECT_EQ((*db)->InsertRow("T", TagRow(0)).code(), ErrorCode::kAlreadyExists);
    ASSERT_TRUE((*db)->InsertRow("T", TagRow(5000)).ok());
    EXPECT_EQ((*db)->SeekIndex("T", "ByTag", {TagRow(5000)[1]})->size(), 1u);
    EXPECT_TRUE((*db)->CheckIntegrity().ok());
  };

  int failures = 0;
  for (int64_t fail_at = 1;; fail_at += 3) {
    Disk disk;
    *disk.bytes = *base.bytes;
    auto faulty = std::make_unique<FaultInjectingFile>(disk.File(), fail_at);
    FaultInjectingFile* probe = faulty.get();
    Status result;
    bool failed = false;
    {
      auto db = Database::Open(std::move(faulty), OpenMode::kReadWrite);
      ASSERT_TRUE(db.ok());
      result = (*db)->InsertRows("T", more);
      failed = probe->failed();
    }
    if (result.ok() && !failed) {
      check(disk, 150 + more.size());
      break;
    }
    if (!result.ok()) {
      ++failures;
      EXPECT_EQ(result.code(), ErrorCode::kIo) << result.ToString();
      check(disk, 150);
    }
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(failures, 3);
}

TEST(BTreeTest, FailedOperationDropsDecodedPagesOfTheSameDatabase) {
  // A unique violation late in an operation (after splits changed decoded pages) undoes the
  // operation; the same Database then writes on from the file, not from stale pages.
  const fs::path path = testing::ScratchFile("btree", "stale.mdb");
  auto db = Database::Create(path.string());
  ASSERT_TRUE(db.ok());
  MakeTagTable(**db, Numbers(0, 100));
  if (HasFatalFailure()) return;
  std::vector<Row> more;
  for (int i = 100; i < 400; ++i) more.push_back(TagRow(i));
  more.push_back(TagRow(7));
  EXPECT_EQ((*db)->InsertRows("T", more).code(), ErrorCode::kAlreadyExists);
  more.pop_back();
  ASSERT_TRUE((*db)->InsertRows("T", more).ok());
  EXPECT_GE(ExpectTagTree(**db, FileBytes(path), 400).levels, 2u);
  db->reset();
  fs::remove(path);
}

TEST(BTreeTest, AccessWrittenTreesTakeDeletesAndInserts) {
  // Access writes tail pointers and shared prefixes; a delete and re-insert of each table's
  // first row goes through both (and through a uniqueness probe of the stored pages).
  const fs::path source = fs::path(TABULON_SHARED_DIR) / "fixtures/access/compIndexTestV2000.mdb";
  if (!fs::exists(source)) GTEST_SKIP() << "no fixtures";
  const fs::path path = testing::ScratchFile("btree", "access.mdb");
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
  auto db = Database::Open(path.string(), OpenMode::kReadWrite);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto tables = (*db)->ListTables();
  ASSERT_TRUE(tables.ok());
  int changed = 0;
  for (const std::string& name : *tables) {
    auto def = (*db)->GetTable(name);
    ASSERT_TRUE(def.ok());
    auto rows = (*db)->ReadAllRows(*def);
    ASSERT_TRUE(rows.ok());
    if (def->indexes.empty() || rows->empty()) continue;
    const Row first = rows->front();
    auto same = [&](const Row& r) {
      for (size_t i = 0; i < r.size(); ++i) {
        if (FormatValue(r[i]) != FormatValue(first[i])) return false;
      }
      return true;
    };
    auto deleted = (*db)->DeleteRows(name, same);
    ASSERT_TRUE(deleted.ok()) << name << ": " << deleted.status().ToString();
    Status inserted = (*db)->InsertRow(name, first);
    ASSERT_TRUE(inserted.ok()) << name << ": " << inserted.ToString();
    Status integrity = (*db)->CheckIntegrity();
    ASSERT_TRUE(integrity.ok()) << name << ": " << integrity.ToString();
    ++changed;
  }
  EXPECT_GT(changed, 0);
  db->reset();
  fs::remove(path);
}

TEST(BTreeTest, UniquenessHoldsForKeysAppendedWaitingAndStored) {
  // One batch (one transaction, one tree) sees keys that went straight into the tree
  // (ascending), keys still waiting for a merge (random order) and, after a commit, keys only
  // in the stored pages: each must refuse its duplicate, and nothing else may be refused.
  const fs::path path = testing::ScratchFile("btree", "unique.mdb");
  auto db = Database::Create(path.string());
  ASSERT_TRUE(db.ok());
  MakeTagTable(**db, {});
  if (HasFatalFailure()) return;
  std::mt19937 random(7);
  std::vector<int> order;
  // Enough random keys in one batch that the waiting entries fill more than one 1 MB block.
  constexpr size_t kRows = 40000;
  for (size_t i = 0; i < kRows; ++i) {
    order.push_back(i < 1000 ? static_cast<int>(i) : 1000 + static_cast<int>(random() % 100000000));
  }
  std::set<int> seen;
  for (size_t pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE((*db)->BeginBatch().ok());
    for (size_t i = pass * kRows / 2; i < (pass + 1) * kRows / 2; ++i) {
      const int key = order[i];
      const Status s = (*db)->InsertRow("T", TagRow(key));
      ASSERT_EQ(s.ok(), seen.insert(key).second) << key << " " << s.ToString();
      if (i % 7 == 0) {  // a key from earlier in the batch, or from the committed first pass
        const int again = order[random() % (i + 1)];
        EXPECT_EQ((*db)->InsertRow("T", TagRow(again)).code(), ErrorCode::kAlreadyExists) << again;
      }
    }
    ASSERT_TRUE((*db)->CommitBatch().ok());
  }
  ExpectTagTree(**db, FileBytes(path), seen.size());
  db->reset();
  fs::remove(path);
}

}  // namespace
}  // namespace tabulon::jet
