// User indexes. A random workload against a model: seeks and range scans of every index agree
// with filtered full scans after inserts and deletes (indexes built over stored rows, then kept
// up), and the B-trees changed in place keep their shape rules (node entry = last entry of the
// child, sibling links, levels, distinct-key counts); a failure in the middle of a split, or a
// late duplicate, rolls the operation back without leaving stale state behind. Uniqueness is
// enforced without leaving traces; unknown text characters take the index off instead of leaving
// it wrong; other readers see the keys. Files Access wrote: stored keys equal to what this engine
// builds for the same values and seeks that find every row (their definitions are compared with
// the dumps by fixture_read_test); known keys of every type.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>

#include "base/text.h"
#include "jet/database.h"
#include "jet/file_io.h"
#include "jet/format/index_page.h"
#include "jet/index_key.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

fs::path TempPath(const std::string& name) { return testing::ScratchFile("index", name); }

std::unique_ptr<Database> NewDatabase(const fs::path& path) {
  auto db = Database::Create(path.string());
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(*db) : nullptr;
}

IndexSpec Index(std::string name, std::vector<IndexKeyColumn> columns, bool unique = false) {
  return {.name = std::move(name), .columns = std::move(columns), .unique = unique};
}

// Jet's text equality: case and trailing spaces do not count; accents, apostrophes and hyphens do.
std::string TextIdentity(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16(utf8).value();
  while (!text.empty() && text.back() == u' ') text.pop_back();
  for (char16_t& c : text) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 0x20);
  }
  return Utf16ToUtf8(text);
}

bool SameKeyValue(const Value& a, const Value& b) {
  if (const auto* x = std::get_if<std::string>(&a)) {
    const auto* y = std::get_if<std::string>(&b);
    return y && TextIdentity(*x) == TextIdentity(*y);
  }
  return FormatValue(a) == FormatValue(b);
}

// Numbers as doubles for range filters; nullopt for Null.
std::optional<double> Number(const Value& v) {
  if (const auto* x = std::get_if<int32_t>(&v)) return *x;
  return std::nullopt;
}

struct Stored {
  RowPointer where;
  Row row;
};

std::vector<Stored> AllRows(Database& db, const std::string& table) {
  std::vector<Stored> rows;
  auto def = db.GetTable(table);
  EXPECT_TRUE(def.ok());
  EXPECT_TRUE(db.ScanRows(*def, [&](RowPointer where, const Row& row) {
                  rows.push_back({where, row});
                  return Status::Ok();
                }).ok());
  return rows;
}

std::vector<RowPointer> Sorted(std::vector<RowPointer> v) {
  std::sort(v.begin(), v.end());
  return v;
}

constexpr uint32_t kPage = 4096;

struct TreeShape {
  size_t levels = 0;
  size_t leaves = 0;
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
      shape.leaves += leaves ? 1 : 0;
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

// Every index of `table` keeps the shape rules and its distinct-key count.
void CheckTrees(Database& db, const fs::path& path, const std::string& table, size_t* max_levels = nullptr) {
  auto def = db.GetTable(table);
  ASSERT_TRUE(def.ok()) << def.status().ToString();
  const std::vector<uint8_t> file = testing::ReadFileBytes(path);
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

// Where each key column of `index` is in the rows of `table`.
std::vector<size_t> KeyPositions(const TableDefinition& table, const IndexDefinition& index) {
  std::vector<size_t> at;
  for (const IndexColumn& ic : index.columns) {
    for (size_t i = 0; i < table.columns.size(); ++i) {
      if (table.columns[i].number == ic.column_number) at.push_back(i);
    }
  }
  return at;
}

// Every index of `table`, probed with the key values of `probes` random stored rows (and each
// prefix of a longer key): a seek returns exactly the rows a filtered scan finds. A range between
// two stored values of a numeric first column returns exactly the rows inside it, in index
// order; an open range returns every row.
void ExpectIndexesMatchScans(Database& db, const std::string& table_name, std::mt19937& random, int probes) {
  auto table = db.GetTable(table_name);
  ASSERT_TRUE(table.ok()) << table.status().ToString();
  const std::vector<Stored> rows = AllRows(db, table_name);
  if (rows.empty()) return;
  std::map<RowPointer, const Row*> by_pointer;
  std::vector<RowPointer> every;
  for (const Stored& s : rows) {
    by_pointer[s.where] = &s.row;
    every.push_back(s.where);
  }
  for (const IndexDefinition& index : table->indexes) {
    const std::vector<size_t> columns = KeyPositions(*table, index);
    ASSERT_EQ(columns.size(), index.columns.size()) << index.name;
    auto all = db.ScanIndexRange(table_name, index.name, IndexRange{});
    ASSERT_TRUE(all.ok()) << all.status().ToString();
    EXPECT_EQ(Sorted(*all), Sorted(every)) << index.name;
    for (int probe = 0; probe < probes; ++probe) {
      const Row& sample = rows[random() % rows.size()].row;
      Row key;
      for (size_t k = 0; k < columns.size(); ++k) {
        key.push_back(sample[columns[k]]);
        SCOPED_TRACE(index.name + " = " + FormatValue(key.back()).value_or("Null") + " (column " +
                     std::to_string(k + 1) + ")");
        auto found = db.SeekIndex(table_name, index.name, key);
        ASSERT_TRUE(found.ok()) << found.status().ToString();
        std::vector<RowPointer> want;
        for (const Stored& s : rows) {
          bool match = true;
          for (size_t j = 0; j <= k; ++j) match = match && SameKeyValue(s.row[columns[j]], key[j]);
          if (match) want.push_back(s.where);
        }
        EXPECT_EQ(Sorted(*found), Sorted(want));
      }
      // Bounds in index order (a descending index runs high to low).
      const Value& a = rows[random() % rows.size()].row[columns[0]];
      const Value& b = rows[random() % rows.size()].row[columns[0]];
      if (!Number(a) || !Number(b)) continue;
      const bool descending = !index.columns[0].ascending;
      const bool swap = (*Number(a) > *Number(b)) != descending;
      const Value& low = swap ? b : a;
      const Value& high = swap ? a : b;
      const bool low_inclusive = probe % 2 == 0;
      SCOPED_TRACE(index.name + " range " + *FormatValue(low) + ".." + *FormatValue(high));
      auto found = db.ScanIndexRange(table_name, index.name,
                                     IndexRange{IndexBound{{low}, low_inclusive}, IndexBound{{high}, true}});
      ASSERT_TRUE(found.ok()) << found.status().ToString();
      const double lo = std::min(*Number(a), *Number(b));
      const double hi = std::max(*Number(a), *Number(b));
      const double excluded = descending ? hi : lo;
      std::vector<RowPointer> want;
      for (const Stored& s : rows) {
        const std::optional<double> v = Number(s.row[columns[0]]);
        if (v && *v >= lo && *v <= hi && (low_inclusive || *v != excluded)) want.push_back(s.where);
      }
      EXPECT_EQ(Sorted(*found), Sorted(want));
      for (size_t i = 1; i < found->size(); ++i) {
        const double before = *Number((*by_pointer[(*found)[i - 1]])[columns[0]]);
        const double after = *Number((*by_pointer[(*found)[i]])[columns[0]]);
        EXPECT_TRUE(descending ? before >= after : before <= after) << "out of index order at " << i;
      }
    }
  }
}

const char* const kNames[] = {"Café",    "Zürich", "Ærøskøbing", "Núñez", "straße",
                              "O'Brien", "co-op",  "Åland",      "élan",  "CAFÉ"};

TEST(BTreeTest, ManySmallOperationsKeepTreesRightAndReadable) {
  const fs::path path = TempPath("many.mdb");
  std::unique_ptr<Database> db = NewDatabase(path);
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->CreateTable(testing::NewTable(
                                  "T", {NewColumn("ID", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 60),
                                        NewColumn("Tag", ColumnType::kText, 120), NewColumn("N", ColumnType::kLong)}))
                  .ok());
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
  // Rows stored before the indexes: these are built in bulk, the rest kept up row by row.
  std::vector<Row> first;
  for (int32_t id = 1; id <= 300; ++id) first.push_back(make_row(id * 3001));
  ASSERT_TRUE(db->InsertRows("T", first).ok());
  for (Row& r : first) live[std::get<int32_t>(r[0])] = std::move(r);
  // ByTag is descending and unique, with Nulls allowed.
  for (const IndexSpec& spec :
       {testing::PrimaryKeyOn({"ID"}), Index("ByName", {{"Name", true}}), Index("ByTag", {{"Tag", false}}, true),
        Index("ByNName", {{"N", false}, {"Name", true}})}) {
    ASSERT_TRUE(db->CreateIndex("T", spec).ok()) << spec.name;
  }

  auto verify = [&](bool full) {
    ExpectIndexesMatchScans(*db, "T", random, 1);
    EXPECT_TRUE(db->SeekIndex("T", "PrimaryKey", {int32_t{-7}})->empty());
    if (full) {
      Status integrity = db->CheckIntegrity();
      ASSERT_TRUE(integrity.ok()) << integrity.ToString();
      CheckTrees(*db, path, "T");
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
        const Status refused = db->InsertRows("T", rows);
        ASSERT_EQ(refused.code(), ErrorCode::kAlreadyExists) << refused.ToString();
        rows.pop_back();
      }
      ASSERT_TRUE(db->InsertRows("T", rows).ok()) << "operation " << op;
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
      auto deleted = db->DeleteRows("T", [&](const Row& r) { return doomed.count(std::get<int32_t>(r[0])) != 0; });
      ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
      ASSERT_EQ(*deleted, doomed.size());
      for (int32_t id : doomed) live.erase(id);
    }
    verify(op % 30 == 29);
    if (HasFatalFailure()) return;
  }
  size_t levels = 0;
  CheckTrees(*db, path, "T", &levels);
  EXPECT_GE(levels, 3u) << "the workload should grow a three-level tree";

  // Other readers: the values and the index definitions (a key's flags are checked where a
  // relationship shares its index).
  auto def = db->GetTable("T");
  ASSERT_TRUE(def.ok());
  const std::vector<Row> rows = testing::TableRows(*db, "T");
  db.reset();
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), "T", def->columns, rows), "");
  if (testing::MdbToolsAvailable()) {
    auto schema = testing::MdbToolsSchema(path.string(), "postgres");
    ASSERT_TRUE(schema.ok()) << schema.status().ToString();
    for (const char* part :
         {"t_byname_idx", "t_bytag_idx", "t_bynname_idx", "PRIMARY KEY", "UNIQUE", "(\"n\" DESC, \"name\")"}) {
      EXPECT_NE(schema->find(part), std::string::npos) << part << " in\n" << *schema;
    }
  }
  fs::remove(path);
}

Row TagRow(int i) { return {int32_t{i}, std::string("tag ") + std::string(60, 't') + std::to_string(100000 + i)}; }

// Table T (ID, Tag) with the unique index ByTag, holding TagRow(i) for each of `ids`.
void MakeTagTable(Database& db, const std::vector<int>& ids) {
  ASSERT_TRUE(db.CreateTable(testing::NewTable(
                                 "T", {NewColumn("ID", ColumnType::kLong), NewColumn("Tag", ColumnType::kText, 100)}))
                  .ok());
  ASSERT_TRUE(db.CreateIndex("T", Index("ByTag", {{"Tag", true}}, true)).ok());
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
  testing::MemoryDisk base;
  {
    auto db = Database::Create(base.File());
    ASSERT_TRUE(db.ok());
    MakeTagTable(**db, Numbers(0, 300, 2));
    if (HasFatalFailure()) return;
  }
  std::vector<Row> more;
  for (int i = 1; i < 200; i += 2) more.push_back(TagRow(i));
  for (int i = 300; i < 320; ++i) more.push_back(TagRow(i));

  auto check = [](testing::MemoryDisk& disk, size_t want) {
    auto db = Database::Open(disk.File(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ExpectTagTree(**db, *disk.bytes, want);
    EXPECT_EQ((*db)->SeekIndex("T", "ByTag", {TagRow(298)[1]})->size(), 1u);
    // The writer starts from what the file holds: a duplicate is still refused and a new
    // key still goes in.
    EXPECT_EQ((*db)->InsertRow("T", TagRow(0)).code(), ErrorCode::kAlreadyExists);
    ASSERT_TRUE((*db)->InsertRow("T", TagRow(5000)).ok());
    EXPECT_EQ((*db)->SeekIndex("T", "ByTag", {TagRow(5000)[1]})->size(), 1u);
    EXPECT_TRUE((*db)->CheckIntegrity().ok());
  };

  int failures = 0;
  for (int64_t fail_at = 1;; fail_at += 3) {
    testing::MemoryDisk disk = base.Copy();
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

TEST(BTreeTest, AccessWrittenTreesTakeDeletesAndInserts) {
  // Access writes tail pointers and shared prefixes; a delete and re-insert of each table's
  // first row goes through both (and through a uniqueness probe of the stored pages).
  const fs::path source = fs::path(TABULON_SHARED_DIR) / "fixtures/access/compIndexTestV2000.mdb";
  if (!fs::exists(source)) GTEST_SKIP() << "no fixtures";
  const fs::path path = TempPath("access.mdb");
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
  auto db = Database::Open(path.string(), OpenMode::kReadWrite);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto tables = (*db)->ListTables();
  ASSERT_TRUE(tables.ok());
  int changed = 0;
  for (const std::string& name : *tables) {
    const std::vector<Row> rows = testing::TableRows(**db, name);
    if (rows.empty() || (*db)->GetTable(name)->indexes.empty()) continue;
    const Row first = rows.front();
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
  const fs::path path = TempPath("unique.mdb");
  auto db = Database::Create(path.string());
  ASSERT_TRUE(db.ok());
  constexpr int kStored = 200000000;  // beyond the batches' keys
  MakeTagTable(**db, Numbers(kStored, kStored + 100));
  if (HasFatalFailure()) return;
  std::set<int> seen;
  for (int i = kStored; i < kStored + 400; ++i) seen.insert(i);
  // First a duplicate late in an operation (after splits changed decoded pages) undoes the
  // operation; the same Database then writes on from the file, not from stale pages.
  std::vector<Row> more;
  for (int i = kStored + 100; i < kStored + 400; ++i) more.push_back(TagRow(i));
  more.push_back(TagRow(kStored + 7));
  EXPECT_EQ((*db)->InsertRows("T", more).code(), ErrorCode::kAlreadyExists);
  more.pop_back();
  ASSERT_TRUE((*db)->InsertRows("T", more).ok());
  EXPECT_GE(ExpectTagTree(**db, testing::ReadFileBytes(path), 400).levels, 2u);

  std::mt19937 random(7);
  std::vector<int> order;
  // Enough random keys in one batch that the waiting entries fill more than one 1 MB block.
  constexpr size_t kRows = 40000;
  for (size_t i = 0; i < kRows; ++i) {
    order.push_back(i < 1000 ? static_cast<int>(i) : 1000 + static_cast<int>(random() % 100000000));
  }
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
  ExpectTagTree(**db, testing::ReadFileBytes(path), seen.size());
  db->reset();
  fs::remove(path);
}

// Table T (ID) with a Long primary key, in a new in-memory database.
std::unique_ptr<Database> NewKeyedTable(const testing::MemoryDisk& disk) {
  auto db = Database::Create(disk.File());
  EXPECT_TRUE(db.ok());
  if (!db.ok()) return nullptr;
  EXPECT_TRUE((*db)->CreateTable(testing::NewTable("T", {NewColumn("ID", ColumnType::kLong)})).ok());
  EXPECT_TRUE((*db)->CreateIndex("T", testing::PrimaryKeyOn({"ID"})).ok());
  return std::move(*db);
}

TEST(BTreeTest, KeysArrivingInOrderFillLeavesLikeABulkBuild) {
  // Keys that keep landing next to the previous one fill pages as a bulk build does: random
  // keys in one call (merged in order), descending keys committed one by one, ascending keys.
  constexpr int kRows = 2000;
  constexpr size_t kLeastLeaves = (kRows * 9 + 3615) / 3616;  // 9-byte entries, 3616 per page
  std::vector<int> random_order = Numbers(0, kRows);
  std::shuffle(random_order.begin(), random_order.end(), std::mt19937(3));
  for (const int order : {0, 1, 2}) {
    SCOPED_TRACE(order);
    const testing::MemoryDisk disk;
    std::unique_ptr<Database> db = NewKeyedTable(disk);
    ASSERT_TRUE(db);
    if (order == 0) {
      std::vector<Row> rows;
      for (int key : random_order) rows.push_back({int32_t{key}});
      ASSERT_TRUE(db->InsertRows("T", rows).ok());
    } else {
      ASSERT_TRUE(db->BeginBatch().ok());
      for (int i = 0; i < kRows; ++i) {
        ASSERT_TRUE(db->InsertRow("T", {int32_t{order == 1 ? kRows - i : i}}).ok());
        if (order == 1) {
          ASSERT_TRUE(db->FlushBatch().ok());
        }
      }
      ASSERT_TRUE(db->CommitBatch().ok());
    }
    auto def = db->GetTable("T");
    TreeShape shape;
    ASSERT_EQ(CheckTree(*disk.bytes, def->indexes[0].root_page, def->tdef_page, shape), "");
    EXPECT_EQ(shape.entries, static_cast<uint64_t>(kRows));
    EXPECT_LE(shape.leaves, kLeastLeaves + 1);
    EXPECT_TRUE(db->CheckIntegrity().ok()) << db->CheckIntegrity().ToString();
  }
}

TEST(BTreeTest, AppendsAtTheRightEdgeKeepEveryCheckRight) {
  // Ascending keys go to the end of the last leaf without a descent, and the nodes above learn
  // the new last entry only when the tree is next read: a duplicate of a key appended since
  // then must still be refused, before and after other keys wait for a merge or a delete.
  const testing::MemoryDisk disk;
  std::unique_ptr<Database> db = NewKeyedTable(disk);
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->BeginBatch().ok());
  auto append = [&](int32_t from, int32_t to, int32_t step) {
    for (int32_t i = from; i < to; i += step) ASSERT_TRUE(db->InsertRow("T", {i}).ok()) << i;
  };
  append(0, 1000, 2);  // two leaves
  EXPECT_EQ(db->InsertRow("T", {int32_t{998}}).code(), ErrorCode::kAlreadyExists);
  append(1000, 1400, 2);
  EXPECT_EQ(db->InsertRow("T", {int32_t{1398}}).code(), ErrorCode::kAlreadyExists);
  EXPECT_EQ(db->InsertRow("T", {int32_t{1396}}).code(), ErrorCode::kAlreadyExists);
  ASSERT_TRUE(db->InsertRow("T", {int32_t{501}}).ok());  // waits for a merge
  EXPECT_EQ(db->InsertRow("T", {int32_t{1394}}).code(), ErrorCode::kAlreadyExists);
  EXPECT_EQ(db->InsertRow("T", {int32_t{501}}).code(), ErrorCode::kAlreadyExists);
  append(1400, 1800, 1);
  // A delete (it commits the batch first), then appends again.
  auto deleted = db->DeleteRows("T", [](const Row& row) { return std::get<int32_t>(row[0]) >= 1790; });
  ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
  EXPECT_EQ(*deleted, 10u);
  append(1790, 2000, 1);
  EXPECT_EQ(db->InsertRow("T", {int32_t{1999}}).code(), ErrorCode::kAlreadyExists);
  ASSERT_TRUE(db->CommitBatch().ok());
  auto def = db->GetTable("T");
  TreeShape shape;
  ASSERT_EQ(CheckTree(*disk.bytes, def->indexes[0].root_page, def->tdef_page, shape), "");
  EXPECT_EQ(shape.entries, 500u + 200u + 1u + 400u - 10u + 210u);
  EXPECT_EQ(def->indexes[0].unique_entry_count, shape.entries);
  EXPECT_EQ(db->SeekIndex("T", "PrimaryKey", {int32_t{1999}})->size(), 1u);
  EXPECT_TRUE(db->CheckIntegrity().ok()) << db->CheckIntegrity().ToString();
}

// A row of People (ID, Email, Notes).
Row Person(Value id, Value email, Value notes = Null{}) { return {std::move(id), std::move(email), std::move(notes)}; }
Row Person(int32_t id, const char* email) { return Person(id, std::string(email)); }

TEST(IndexWriteTest, UniqueAndRequiredViolationsWriteNothing) {
  auto db = NewDatabase(TempPath("unique.mdb"));
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->CreateTable(testing::NewTable("People", {NewColumn("ID", ColumnType::kLong),
                                                           NewColumn("Email", ColumnType::kText, 60),
                                                           NewColumn("Notes", ColumnType::kMemo)}))
                  .ok());
  ASSERT_TRUE(db->InsertRows("People", {Person(1, "a@x"), Person(2, "b@x")}).ok());
  // Existing duplicates refuse the unique index; nothing of it remains.
  ASSERT_TRUE(db->InsertRow("People", Person(3, "A@X ")).ok());
  Status refused = db->CreateIndex("People", Index("Email", {{"Email", true}}, true));
  EXPECT_EQ(refused.code(), ErrorCode::kAlreadyExists) << refused.ToString();
  EXPECT_TRUE(db->GetTable("People")->indexes.empty());
  ASSERT_EQ(*db->DeleteRows("People", [](const Row& r) { return std::get<int32_t>(r[0]) == 3; }), 1u);

  const IndexSpec pk = testing::PrimaryKeyOn({"ID"});
  ASSERT_TRUE(db->CreateIndex("People", pk).ok());
  ASSERT_TRUE(db->CreateIndex("People", Index("Email", {{"Email", true}}, true)).ok());
  const uint32_t pages = db->page_count();

  // A duplicate inside a batch (found once the batch is sorted), against stored rows,
  // case-insensitively, and a Null key.
  for (const auto& batch : std::vector<std::vector<Row>>{
           {Person(int32_t{10}, std::string("c@x"), std::string(5000, 'n')), Person(1, "d@x")},
           {Person(11, "e@x"), Person(12, "e@x")},
           {Person(13, "B@X")},
           {Person(30, "q@x"), Person(31, "g@x"), Person(32, "Q@x")},
           {Person(Null{}, std::string("f@x"))}}) {
    Status s = db->InsertRows("People", batch);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("'People'"), std::string::npos) << s.ToString();
  }
  Status dup = db->InsertRow("People", Person(2, "z@x"));
  EXPECT_EQ(dup.code(), ErrorCode::kAlreadyExists);
  EXPECT_NE(dup.message().find("PrimaryKey"), std::string::npos) << dup.ToString();
  EXPECT_NE(dup.message().find("ID='2'"), std::string::npos) << dup.ToString();
  EXPECT_EQ(db->InsertRow("People", Person(Null{}, std::string("y@x"))).code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(db->ReadAllRows(*db->GetTable("People"))->size(), 2u);
  EXPECT_LE(db->page_count(), pages + 1);

  // Bad definitions: a second key, an unknown column, no columns, a column twice.
  EXPECT_EQ(db->CreateIndex("People", pk).code(), ErrorCode::kAlreadyExists);
  EXPECT_FALSE(db->CreateIndex("People", {.name = "Other", .columns = {{"Email", true}}, .primary = true}).ok());
  EXPECT_EQ(db->CreateIndex("People", Index("X", {{"Nope", true}})).code(), ErrorCode::kNotFound);
  EXPECT_FALSE(db->CreateIndex("People", Index("Y", {})).ok());
  EXPECT_FALSE(db->CreateIndex("People", Index("Z", {{"ID", true}, {"id", false}})).ok());

  // Dropping the first index (names without case) moves the other down to number 0.
  ASSERT_TRUE(db->DropIndex("People", "primarykey").ok());
  auto table = db->GetTable("People");
  ASSERT_EQ(table->indexes.size(), 1u);
  EXPECT_EQ(table->indexes[0].real_number, 0u);
  EXPECT_EQ(table->indexes[0].logical_number, 0u);
  EXPECT_EQ(db->SeekIndex("People", "Email", {std::string("b@x")})->size(), 1u);
  EXPECT_EQ(db->DropIndex("People", "PrimaryKey").code(), ErrorCode::kNotFound);
  EXPECT_TRUE(db->CheckIntegrity().ok()) << db->CheckIntegrity().ToString();
}

TEST(IndexWriteTest, UnknownCharacterRemovesTheIndexAndKeepsTheRow) {
  const fs::path path = TempPath("unknown.mdb");
  auto db = NewDatabase(path);
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->CreateTable(testing::NewTable("Cities", {NewColumn("ID", ColumnType::kLong),
                                                           NewColumn("Name", ColumnType::kText, 40)}))
                  .ok());
  ASSERT_TRUE(db->InsertRow("Cities", {int32_t{1}, std::string("Paris")}).ok());
  ASSERT_TRUE(db->CreateIndex("Cities", testing::PrimaryKeyOn({"ID"})).ok());
  ASSERT_TRUE(db->CreateIndex("Cities", Index("ByName", {{"Name", true}})).ok());
  EXPECT_TRUE(db->TakeDroppedIndexes().empty());

  // Inside a batch too, the removal is reported as soon as the insert that caused it returns.
  ASSERT_TRUE(db->BeginBatch().ok());
  ASSERT_TRUE(db->InsertRow("Cities", {int32_t{2}, std::string("Москва")}).ok());
  std::vector<DroppedIndex> dropped = db->TakeDroppedIndexes();
  ASSERT_TRUE(db->CommitBatch().ok());
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].table, "Cities");
  EXPECT_EQ(dropped[0].index, "ByName");
  EXPECT_NE(dropped[0].ToStatus().message().find("U+041C"), std::string::npos) << dropped[0].ToStatus().ToString();
  auto table = db->GetTable("Cities");
  ASSERT_TRUE(table.ok());
  ASSERT_EQ(table->indexes.size(), 1u);
  EXPECT_EQ(table->indexes[0].name, "PrimaryKey");
  EXPECT_EQ(db->ReadAllRows(*table)->size(), 2u);
  // The primary key still works and is still enforced.
  EXPECT_EQ(db->SeekIndex("Cities", "PrimaryKey", {int32_t{2}})->size(), 1u);
  EXPECT_FALSE(db->InsertRow("Cities", {int32_t{2}, std::string("x")}).ok());
  EXPECT_TRUE(db->CheckIntegrity().ok()) << db->CheckIntegrity().ToString();
  // Creating such an index over such rows is refused outright.
  Status s = db->CreateIndex("Cities", Index("ByName", {{"Name", true}}));
  EXPECT_EQ(s.code(), ErrorCode::kUnsupported) << s.ToString();
  EXPECT_NE(s.message().find("'ByName'"), std::string::npos);
}

// ---- Files Access wrote ---------------------------------------------------------------

const fs::path kFixtures = fs::path(TABULON_SHARED_DIR) / "fixtures" / "access";

// Every user index of every table of the fixture: its stored entries must be the keys this
// engine builds from the rows they point to, and a seek with the row's values finds the row.
void CheckFixtureIndexes(const std::string& file, int* checked_entries) {
  SCOPED_TRACE(file);
  auto db = Database::Open((kFixtures / file).string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto tables = (*db)->ListTables();
  ASSERT_TRUE(tables.ok());
  for (const std::string& name : *tables) {
    auto table = (*db)->GetTable(name);
    ASSERT_TRUE(table.ok()) << table.status().ToString();
    for (const IndexDefinition& index : table->indexes) {
      SCOPED_TRACE(name + "." + index.name);
      auto entries = format::ReadIndexEntries((*db)->pager(), index.root_page);
      ASSERT_TRUE(entries.ok()) << entries.status().ToString();
      const std::vector<size_t> at = KeyPositions(*table, index);
      ASSERT_EQ(at.size(), index.columns.size());
      // Rows whose key columns are all Null stay out of an ignore-nulls index.
      if ((index.flags & 0x02) == 0) {
        EXPECT_EQ(entries->size(), table->row_count);
      }
      for (const format::IndexEntry& e : *entries) {
        auto row = (*db)->ReadRow(*table, e.row_pointer);
        ASSERT_TRUE(row.ok()) << row.status().ToString();
        std::string key;
        Row seek;
        bool encodable = true;
        for (size_t k = 0; k < at.size(); ++k) {
          encodable &= AppendColumnKey(table->columns[at[k]], (*row)[at[k]], index.columns[k].ascending, key).ok();
          seek.push_back((*row)[at[k]]);
        }
        if (!encodable) continue;
        EXPECT_EQ(FormatHex(key), FormatHex(e.key));
        auto found = (*db)->SeekIndex(name, index.name, seek);
        ASSERT_TRUE(found.ok()) << found.status().ToString();
        EXPECT_NE(std::find(found->begin(), found->end(), e.row_pointer), found->end());
        ++*checked_entries;
      }
    }
  }
}

TEST(IndexFixtureTest, AccessWrittenKeysEqualOursAndSeeksFindEveryRow) {
  if (!fs::exists(kFixtures)) GTEST_SKIP() << "no fixtures";
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(kFixtures)) {
    if (entry.path().extension() == ".mdb") CheckFixtureIndexes(entry.path().filename(), &checked);
  }
  EXPECT_GT(checked, 500);
}

// The value of a row of testdata/column_keys.json, in its column's form.
Value KeyValue(ColumnType type, const nlohmann::json& v) {
  if (v.is_null()) return Null{};
  switch (type) {
    case ColumnType::kLong: return v.get<int32_t>();
    case ColumnType::kCurrency: return Currency{v.get<int64_t>()};
    case ColumnType::kDateTime: return DateTime{v.get<double>()};
    case ColumnType::kNumeric: return Decimal::Parse(v.get<std::string>(), 2).value();
    case ColumnType::kBoolean: return v.get<bool>();
    case ColumnType::kByte: return v.get<uint8_t>();
    case ColumnType::kGuid: return ParseGuid(v.get<std::string>()).value();
    case ColumnType::kBinary: {
      const auto bytes = v.get<std::vector<uint8_t>>();
      return Bytes{std::string(bytes.begin(), bytes.end())};
    }
    default: return v.get<std::string>();
  }
}

// Keys Access and other Jet writers produce for these values (one per type and rule).
TEST(IndexKeyTest, KnownKeys) {
  const auto data = nlohmann::json::parse(std::ifstream(TABULON_JET_TESTDATA "/column_keys.json"));
  for (const auto& c : data["keys"]) {
    const ColumnType type = testing::ColumnTypeNamed(c["type"]);
    const ColumnDefinition column = NewColumn("C", type, c.value("size", 50), 2);
    std::string key;
    ASSERT_TRUE(AppendColumnKey(column, KeyValue(type, c["value"]), !c.value("descending", false), key).ok()) << c;
    EXPECT_EQ(FormatHex(key), c["key"].get<std::string>()) << c;
  }
}

}  // namespace
}  // namespace tabulon::jet
