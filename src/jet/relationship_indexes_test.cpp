// Foreign-key index pairs as Access writes them: logical numbers 0..n-1 (named indexes like
// their physical index, foreign keys after them), each side naming its partner's table page and
// number, shared physical indexes, cascade bytes; kept so through every schema change; and
// CheckIntegrity naming table, index and fault for each kind of damage to them.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "base/text.h"
#include "jet/database.h"
#include "jet/format/table_def.h"
#include "jet_readers.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
using Record = std::array<uint8_t, format::kTdefLogicalIndexSize>;

constexpr uint32_t kPage = 4096;
const fs::path kAccess = fs::path(TABULON_SHARED_DIR) / "fixtures/access";

uint32_t U32(const Record& r, size_t at) {
  return uint32_t{r[at]} | uint32_t{r[at + 1]} << 8 | uint32_t{r[at + 2]} << 16 | uint32_t{r[at + 3]} << 24;
}

// Where the stored record of logical index `index` of `table` lies in the file.
uint64_t RecordOffset(const TableDefinition& table, const std::string& index) {
  for (size_t i = 0; i < table.indexes.size(); ++i) {
    if (table.indexes[i].name != index) continue;
    const uint32_t at = table.logical_index_offset + static_cast<uint32_t>(i) * format::kTdefLogicalIndexSize;
    EXPECT_LE(at + format::kTdefLogicalIndexSize, kPage) << "definition of " << table.name << " spans pages";
    return uint64_t{table.tdef_page} * kPage + at;
  }
  ADD_FAILURE() << "table " << table.name << " has no index " << index;
  return 0;
}

// The stored logical index records of a table, by index name.
std::map<std::string, Record> RawRecords(const fs::path& file, const TableDefinition& table) {
  std::ifstream in(file, std::ios::binary);
  std::map<std::string, Record> out;
  for (const IndexDefinition& index : table.indexes) {
    Record r{};
    in.seekg(static_cast<std::streamoff>(RecordOffset(table, index.name)));
    in.read(reinterpret_cast<char*>(r.data()), r.size());
    out[index.name] = r;
  }
  return out;
}

ColumnDefinition Long(const std::string& name) { return NewColumn(name, ColumnType::kLong); }
ColumnDefinition Text(const std::string& name) { return NewColumn(name, ColumnType::kText, 30); }

class RelationshipIndexes : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = testing::ScratchFile("relidx", std::string(info->name()) + ".mdb");
    auto db = Database::Create(path_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
  }

  void MakeTable(const std::string& name, std::vector<ColumnDefinition> columns, const std::vector<std::string>& key) {
    TableDefinition t;
    t.name = name;
    t.columns = std::move(columns);
    ASSERT_TRUE(db_->CreateTable(t).ok());
    if (!key.empty()) MakeIndex(name, "PrimaryKey", key, true, true);
  }
  void MakeIndex(const std::string& table, const std::string& name, const std::vector<std::string>& columns,
                 bool unique, bool primary = false) {
    IndexSpec spec;
    spec.name = name;
    for (const std::string& c : columns) spec.columns.push_back({c, true});
    spec.unique = unique;
    spec.primary = spec.required = primary;
    const Status s = db_->CreateIndex(table, spec);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  Relationship Rel(const std::string& name, const std::string& primary, std::vector<std::string> primary_columns,
                   const std::string& foreign, std::vector<std::string> foreign_columns) {
    Relationship r;
    r.name = name;
    r.primary_table = primary;
    r.primary_columns = std::move(primary_columns);
    r.foreign_table = foreign;
    r.foreign_columns = std::move(foreign_columns);
    return r;
  }
  void Relate(const Relationship& r) {
    const Status s = db_->CreateRelationship(r);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  TableDefinition Get(const std::string& table) {
    auto t = db_->GetTable(table);
    EXPECT_TRUE(t.ok()) << t.status().ToString();
    return t.ok() ? *t : TableDefinition{};
  }
  const IndexDefinition* Find(const TableDefinition& t, const std::string& index) {
    for (const IndexDefinition& i : t.indexes) {
      if (i.name == index) return &i;
    }
    ADD_FAILURE() << t.name << " has no index " << index;
    return nullptr;
  }

  // The whole file: no integrity problem; every table numbered as Access numbers (named
  // indexes like their physical index, then foreign keys); both readers give back every row;
  // mdb-schema lists every column pair of every enforced relationship.
  void ExpectSound() {
    auto problems = db_->FindIntegrityProblems();
    ASSERT_TRUE(problems.ok()) << problems.status().ToString();
    for (const Status& p : *problems) ADD_FAILURE() << p.ToString();
    auto tables = db_->ListTables();
    ASSERT_TRUE(tables.ok());
    std::vector<testing::ReaderTable> read;
    if (testing::MdbReaderAvailable()) {
      auto all = testing::ReadWithMdbReader(path_.string());
      ASSERT_TRUE(all.ok()) << all.status().ToString();
      read = std::move(*all);
    }
    for (const std::string& name : *tables) {
      const TableDefinition t = Get(name);
      std::vector<bool> seen(t.indexes.size(), false);
      uint32_t named = 0;
      for (const IndexDefinition& i : t.indexes) {
        if (i.index_type != 0x02) ++named;
      }
      for (const IndexDefinition& i : t.indexes) {
        ASSERT_LT(i.logical_number, t.indexes.size()) << name << "." << i.name;
        EXPECT_FALSE(seen[i.logical_number]) << name << "." << i.name;
        seen[i.logical_number] = true;
        if (i.index_type != 0x02) {
          EXPECT_EQ(i.logical_number, i.real_number) << name << "." << i.name;
        } else {
          EXPECT_GE(i.logical_number, named) << name << "." << i.name;
        }
      }
      auto rows = db_->ReadAllRows(t);
      ASSERT_TRUE(rows.ok());
      EXPECT_EQ(
          testing::CompareTableWithReaders(path_.string(), name, t.columns, *rows, read.empty() ? nullptr : &read), "");
    }
    if (!testing::MdbToolsAvailable()) return;
    auto schema = testing::MdbToolsSchema(path_.string(), "postgres");
    ASSERT_TRUE(schema.ok());
    auto relationships = db_->ListRelationships();
    ASSERT_TRUE(relationships.ok());
    for (const Relationship& r : *relationships) {
      for (size_t i = 0; r.enforced && i < r.foreign_columns.size(); ++i) {
        const std::string line = "FOREIGN KEY (\"" + AsciiLower(r.foreign_columns[i]) + "\") REFERENCES \"" +
                                 r.primary_table + "\"(\"" + AsciiLower(r.primary_columns[i]) + "\")";
        EXPECT_NE(schema->find(line), std::string::npos) << line << "\n" << *schema;
      }
    }
  }

  fs::path path_;
  std::unique_ptr<Database> db_;
};

// The smallest case: one parent, one child, one relationship.
TEST_F(RelationshipIndexes, OneForeignKeyNamesItsPartnerBothWays) {
  MakeTable("P", {Long("ID"), Text("N")}, {"ID"});
  MakeTable("C", {Long("CID"), Long("PID")}, {"CID"});
  Relate(Rel("FK_C_P", "P", {"ID"}, "C", {"PID"}));
  const TableDefinition p = Get("P"), c = Get("C");
  const IndexDefinition* one = Find(p, ".rB");
  const IndexDefinition* many = Find(c, "FK_C_P");
  ASSERT_TRUE(one && many);
  EXPECT_EQ(one->logical_number, 1u);
  EXPECT_EQ(one->real_number, 0u);  // shares the primary key's
  EXPECT_EQ(one->fk_other_index, many->logical_number);
  EXPECT_EQ(one->fk_other_table_page, c.tdef_page);
  EXPECT_EQ(many->logical_number, 1u);
  EXPECT_EQ(many->real_number, 1u);  // its own plain index
  EXPECT_EQ(many->fk_other_index, one->logical_number);
  EXPECT_EQ(many->fk_other_table_page, p.tdef_page);
  ASSERT_TRUE(db_->InsertRows("P", {{int32_t{1}, std::string("a")}}).ok());
  ASSERT_TRUE(db_->InsertRows("C", {{int32_t{7}, int32_t{1}}, {int32_t{8}, Null{}}}).ok());
  EXPECT_FALSE(db_->InsertRow("C", {int32_t{9}, int32_t{2}}).ok());  // still enforced
  ExpectSound();
}

// Access's own file relates Table2 and Table3 to Table1 (which also has a plain index "id"
// beside its primary key); the same schema written here stores the same records, field by
// field, up to the table pages.
TEST_F(RelationshipIndexes, RecordsMatchThoseAccessWrote) {
  const fs::path access = kAccess / "indexTestV2000.mdb";
  if (!fs::exists(access)) GTEST_SKIP() << "no fixture " << access;
  MakeTable("Table1", {Long("id"), Long("otherfk1"), Long("otherfk2"), Text("data"), Long("otherfk3")}, {});
  MakeIndex("Table1", "id", {"id"}, false);
  MakeIndex("Table1", "PrimaryKey", {"id"}, true, true);
  for (const char* t : {"Table2", "Table3"}) {
    MakeTable(t, {Long("id"), Text("data")}, {});
    MakeIndex(t, "id", {"id"}, false);
    MakeIndex(t, "PrimaryKey", {"id"}, true, true);
  }
  Relationship r2 = Rel("Table2Table1", "Table2", {"id"}, "Table1", {"otherfk1"});
  r2.cascade_delete = true;
  Relate(r2);
  Relationship r3 = Rel("Table3Table1", "Table3", {"id"}, "Table1", {"otherfk2"});
  r3.cascade_update = true;
  Relate(r3);
  ExpectSound();

  auto theirs_db = Database::Open(access.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(theirs_db.ok());
  std::map<uint32_t, std::string> their_tables, our_tables;  // definition page -> name
  for (const char* t : {"Table1", "Table2", "Table3"}) {
    their_tables[(*theirs_db)->GetTable(t)->tdef_page] = t;
    our_tables[Get(t).tdef_page] = t;
  }
  for (const char* t : {"Table1", "Table2", "Table3"}) {
    auto theirs = RawRecords(access, *(*theirs_db)->GetTable(t));
    auto ours = RawRecords(path_, Get(t));
    std::map<std::string, Record> same_names;
    // Access named Table2's and Table3's side ".rC"; ours is the first free name, ".rB".
    for (auto& [name, record] : ours) same_names[name == ".rB" ? ".rC" : name] = record;
    ASSERT_EQ(same_names.size(), theirs.size()) << t;
    for (const auto& [name, want] : theirs) {
      ASSERT_TRUE(same_names.count(name)) << t << "." << name;
      const Record& got = same_names[name];
      for (size_t at = 0; at < want.size(); ++at) {
        if (at >= 17 && at < 21) continue;  // the partner's table page, compared by name below
        EXPECT_EQ(got[at], want[at]) << t << "." << name << " byte " << at;
      }
      EXPECT_EQ(our_tables[U32(got, 17)], their_tables[U32(want, 17)]) << t << "." << name;
    }
  }
}

TEST_F(RelationshipIndexes, TwoForeignKeysFromOneChildAndTwoChildrenOfOneParent) {
  MakeTable("Customers", {Long("ID"), Text("Name")}, {"ID"});
  MakeTable("Staff", {Long("ID"), Text("Name")}, {"ID"});
  MakeTable("Orders", {Long("ID"), Long("CustomerID"), Long("StaffID")}, {"ID"});
  MakeTable("Invoices", {Long("ID"), Long("CustomerID")}, {"ID"});
  Relate(Rel("CustomersOrders", "Customers", {"ID"}, "Orders", {"CustomerID"}));
  Relate(Rel("StaffOrders", "Staff", {"ID"}, "Orders", {"StaffID"}));
  Relate(Rel("CustomersInvoices", "Customers", {"ID"}, "Invoices", {"CustomerID"}));
  const TableDefinition customers = Get("Customers");
  EXPECT_EQ(Find(customers, ".rB")->logical_number, 1u);
  EXPECT_EQ(Find(customers, ".rC")->logical_number, 2u);
  const TableDefinition orders = Get("Orders");
  EXPECT_EQ(Find(orders, "CustomersOrders")->logical_number, 1u);
  EXPECT_EQ(Find(orders, "StaffOrders")->logical_number, 2u);
  ASSERT_TRUE(db_->InsertRows("Customers", {{int32_t{1}, std::string("Ann")}}).ok());
  ASSERT_TRUE(db_->InsertRows("Staff", {{int32_t{5}, std::string("Bo")}}).ok());
  ASSERT_TRUE(db_->InsertRows("Orders", {{int32_t{1}, int32_t{1}, int32_t{5}}}).ok());
  ASSERT_TRUE(db_->InsertRows("Invoices", {{int32_t{1}, int32_t{1}}}).ok());
  ExpectSound();
}

// A unique index made before and after the relationship keeps its number equal to its
// physical index's; the foreign key moves behind it, and the child follows.
TEST_F(RelationshipIndexes, UniqueIndexesOfTheParentBeforeAndAfter) {
  MakeTable("P", {Long("ID"), Text("Code"), Text("Alias")}, {"ID"});
  MakeIndex("P", "Code", {"Code"}, true);
  MakeTable("C", {Long("ID"), Text("PCode")}, {"ID"});
  Relate(Rel("PC", "P", {"Code"}, "C", {"PCode"}));  // references the unique index, not the key
  MakeIndex("P", "Alias", {"Alias"}, true);
  const TableDefinition p = Get("P");
  const IndexDefinition* rb = Find(p, ".rB");
  ASSERT_TRUE(rb);
  EXPECT_EQ(rb->logical_number, 3u);
  EXPECT_EQ(rb->real_number, Find(p, "Code")->real_number);
  EXPECT_EQ(Find(p, "Alias")->logical_number, 2u);
  EXPECT_EQ(Find(Get("C"), "PC")->fk_other_index, 3u);
  ExpectSound();
}

TEST_F(RelationshipIndexes, SelfReferenceAndTwoColumnKey) {
  MakeTable("Staff", {Long("ID"), Long("Boss")}, {"ID"});
  Relationship boss = Rel("StaffStaff", "Staff", {"ID"}, "Staff", {"Boss"});
  boss.cascade_null = true;
  Relate(boss);
  MakeTable("Lines", {Long("OrderID"), Long("LineNo"), Text("Item")}, {});
  MakeIndex("Lines", "PrimaryKey", {"OrderID", "LineNo"}, true, true);
  MakeTable("Notes", {Long("ID"), Long("OrderID"), Long("LineNo")}, {"ID"});
  Relate(Rel("LinesNotes", "Lines", {"OrderID", "LineNo"}, "Notes", {"OrderID", "LineNo"}));
  const TableDefinition staff = Get("Staff");
  const IndexDefinition* many = Find(staff, "StaffStaff");
  const IndexDefinition* one = Find(staff, ".rB");
  ASSERT_TRUE(many && one);
  EXPECT_EQ(many->fk_other_index, one->logical_number);
  EXPECT_EQ(one->fk_other_index, many->logical_number);
  EXPECT_EQ(std::min(many->logical_number, one->logical_number), 1u);
  EXPECT_EQ(Find(Get("Notes"), "LinesNotes")->columns.size(), 2u);
  ASSERT_TRUE(db_->InsertRows("Staff", {{int32_t{1}, Null{}}, {int32_t{2}, int32_t{1}}}).ok());
  ASSERT_TRUE(db_->InsertRows("Lines", {{int32_t{1}, int32_t{1}, std::string("x")}}).ok());
  ASSERT_TRUE(db_->InsertRows("Notes", {{int32_t{1}, int32_t{1}, int32_t{1}}}).ok());
  EXPECT_FALSE(db_->InsertRow("Notes", {int32_t{2}, int32_t{1}, int32_t{2}}).ok());
  auto deleted = db_->DeleteRows("Staff", [](const Row& r) { return std::get<int32_t>(r[0]) == 1; });
  ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
  EXPECT_EQ(*deleted, 1u);
  ExpectSound();
}

TEST_F(RelationshipIndexes, ForeignKeyAddedBeforeAndAfterRows) {
  MakeTable("P", {Long("ID")}, {"ID"});
  MakeTable("Before", {Long("ID"), Long("PID")}, {"ID"});
  MakeTable("After", {Long("ID"), Long("PID")}, {"ID"});
  Relate(Rel("PBefore", "P", {"ID"}, "Before", {"PID"}));
  std::vector<Row> parents, children;
  for (int i = 0; i < 3000; ++i) {
    parents.push_back({int32_t{i}});
    children.push_back({int32_t{i}, i % 7 == 0 ? Value(Null{}) : Value(int32_t{(i * 31) % 3000})});
  }
  ASSERT_TRUE(db_->InsertRows("P", parents).ok());
  ASSERT_TRUE(db_->InsertRows("Before", children).ok());
  ASSERT_TRUE(db_->InsertRows("After", children).ok());
  Relate(Rel("PAfter", "P", {"ID"}, "After", {"PID"}));
  EXPECT_EQ(db_->SeekIndex("After", "PAfter", {int32_t{31}})->size(), 1u);
  ExpectSound();
}

TEST_F(RelationshipIndexes, DroppedAndAddedAgainAndBothTablesRenamed) {
  MakeTable("P", {Long("ID")}, {"ID"});
  MakeTable("C", {Long("ID"), Long("PID"), Long("QID")}, {"ID"});
  MakeTable("Q", {Long("ID")}, {"ID"});
  Relate(Rel("PC", "P", {"ID"}, "C", {"PID"}));
  Relate(Rel("QC", "Q", {"ID"}, "C", {"QID"}));
  ASSERT_TRUE(db_->DropRelationship("PC").ok());
  // QC moved down to the first foreign-key number, and Q's side followed.
  EXPECT_EQ(Find(Get("C"), "QC")->logical_number, 1u);
  EXPECT_EQ(Find(Get("Q"), ".rB")->fk_other_index, 1u);
  ExpectSound();
  Relate(Rel("PC", "P", {"ID"}, "C", {"PID"}));
  ASSERT_TRUE(db_->RenameTable("P", "Parents").ok());
  ASSERT_TRUE(db_->RenameTable("C", "Children").ok());
  ASSERT_TRUE(db_->InsertRows("Parents", {{int32_t{1}}}).ok());
  ASSERT_TRUE(db_->InsertRows("Q", {{int32_t{2}}}).ok());
  ASSERT_TRUE(db_->InsertRows("Children", {{int32_t{1}, int32_t{1}, int32_t{2}}}).ok());
  EXPECT_FALSE(db_->InsertRow("Children", {int32_t{2}, int32_t{5}, Null{}}).ok());
  ExpectSound();
}

// Cascade rules in MSysRelationships and in both records: byte 21 updates, byte 22 deletes
// (1) or sets Null (2).
TEST_F(RelationshipIndexes, CascadeBytesOnBothSides) {
  struct Case {
    const char* name;
    bool update, remove, set_null;
    uint8_t byte21, byte22;
  };
  const Case cases[] = {{"None", false, false, false, 0, 0},
                        {"Update", true, false, false, 1, 0},
                        {"Delete", false, true, false, 0, 1},
                        {"SetNull", false, false, true, 0, 2},
                        {"UpdateDelete", true, true, false, 1, 1}};
  MakeTable("P", {Long("ID")}, {"ID"});
  for (const Case& c : cases) {
    MakeTable(c.name, {Long("ID"), Long("PID")}, {"ID"});
    Relationship r = Rel(std::string("P") + c.name, "P", {"ID"}, c.name, {"PID"});
    r.cascade_update = c.update;
    r.cascade_delete = c.remove;
    r.cascade_null = c.set_null;
    Relate(r);
  }
  const auto parent = RawRecords(path_, Get("P"));
  for (const Case& c : cases) {
    const TableDefinition child = Get(c.name);
    const Record many = RawRecords(path_, child).at(std::string("P") + c.name);
    EXPECT_EQ(many[21], c.byte21) << c.name;
    EXPECT_EQ(many[22], c.byte22) << c.name;
    EXPECT_EQ(many[23], 2) << c.name;
    const uint32_t partner = U32(many, 13);
    bool found = false;
    for (const auto& [name, one] : parent) {
      if (U32(one, 4) != partner) continue;
      found = true;
      EXPECT_EQ(one[12], 1) << c.name;
      EXPECT_EQ(one[21], c.byte21) << c.name;
      EXPECT_EQ(one[22], c.byte22) << c.name;
      EXPECT_EQ(U32(one, 17), child.tdef_page) << c.name;
    }
    EXPECT_TRUE(found) << c.name;
  }
  ExpectSound();
}

TEST_F(RelationshipIndexes, IndexAddedAndDroppedOnRelatedTables) {
  MakeTable("P", {Long("ID"), Text("Name")}, {"ID"});
  MakeTable("C", {Long("ID"), Long("PID"), Text("Note")}, {"ID"});
  Relate(Rel("PC", "P", {"ID"}, "C", {"PID"}));
  MakeIndex("C", "Note", {"Note"}, false);
  MakeIndex("P", "Name", {"Name"}, true);
  {
    const TableDefinition c = Get("C");
    EXPECT_EQ(Find(c, "Note")->real_number, 1u);  // before the physical index of the foreign key
    EXPECT_EQ(Find(c, "PC")->real_number, 2u);
    EXPECT_EQ(Find(c, "PC")->logical_number, 2u);
  }
  ExpectSound();
  ASSERT_TRUE(db_->DropIndex("C", "Note").ok());
  ASSERT_TRUE(db_->DropIndex("P", "Name").ok());
  EXPECT_FALSE(db_->DropIndex("C", "PC").ok());
  EXPECT_EQ(Find(Get("C"), "PC")->logical_number, 1u);
  EXPECT_EQ(Find(Get("P"), ".rB")->logical_number, 1u);
  ASSERT_TRUE(db_->InsertRows("P", {{int32_t{1}, std::string("a")}}).ok());
  ASSERT_TRUE(db_->InsertRows("C", {{int32_t{1}, int32_t{1}, std::string("n")}}).ok());
  ExpectSound();
}

// Each kind of damage to a written pair is named by CheckIntegrity with its table, its index and
// what is wrong.
TEST_F(RelationshipIndexes, CheckIntegrityNamesEachDamage) {
  struct Damage {
    const char* what;
    const char* table;
    const char* index;
    size_t field;  // offset in the 28-byte record
    std::vector<uint8_t> bytes;
    std::vector<const char*> expected;  // all in one problem
  };
  const std::vector<Damage> damages = {
      {"negative number",
       "P",
       ".rB",
       4,
       {0xFF, 0xFF, 0xFF, 0xFF},
       {"table 'P', foreign-key index '.rB'", "logical number -1 is negative"}},
      {"number twice", "P", ".rB", 4, {0, 0, 0, 0}, {"table 'P', ", "logical number 0 is also that of index '"}},
      {"partner number",
       "C",
       "FK_C_P",
       13,
       {0, 0, 0, 0},
       {"table 'C', foreign-key index 'FK_C_P'", "index 'PrimaryKey' of table 'P', which is not a foreign-key index"}},
      {"partner number unknown",
       "C",
       "FK_C_P",
       13,
       {0xFF, 0xFF, 0xFF, 0xFF},
       {"table 'C', foreign-key index 'FK_C_P'", "number 4294967295 of table 'P', which has none"}},
      {"partner table",
       "C",
       "FK_C_P",
       17,
       {1, 0, 0, 0},
       {"table 'C', foreign-key index 'FK_C_P'", "table page 1, which holds no table"}},
      {"partner not a foreign key",
       "P",
       ".rB",
       23,
       {0},
       {"table 'C', foreign-key index 'FK_C_P'", "index '.rB' of table 'P', which is not a foreign-key index"}},
      {"same side",
       "P",
       ".rB",
       12,
       {2},
       {"table 'C', foreign-key index 'FK_C_P'", "its partner '.rB' of table 'P' is on the same side"}},
      {"side byte", "P", ".rB", 12, {0}, {"table 'P', foreign-key index '.rB'", "side 0 is neither 1"}},
      {"cascade bytes differ",
       "C",
       "FK_C_P",
       22,
       {1},
       {"table 'C', foreign-key index 'FK_C_P'", "cascade rules (cascade delete) differ from those of '.rB'"}},
      {"cascade bytes against the relationship",
       "C",
       "FK_C_P",
       21,
       {1},
       {"relationship 'FK_C_P'", "MSysRelationships says no cascades", "'FK_C_P' of table 'C' cascade update"}},
      {"over other columns",
       "C",
       "FK_C_P",
       8,
       {0, 0, 0, 0},
       {"relationship 'FK_C_P'", "table 'C' has no foreign-key index over (PID)", "covers (CID)"}},
      {"physical index unused", "C", "FK_C_P", 8, {0, 0, 0, 0}, {"table 'C'", "physical index 1 backs no index"}},
      {"index type", "P", "PrimaryKey", 23, {9}, {"table 'P', index 'PrimaryKey'", "index type 9 is none of"}},
  };
  MakeTable("P", {Long("ID"), Text("N")}, {"ID"});
  MakeTable("C", {Long("CID"), Long("PID")}, {"CID"});
  Relate(Rel("FK_C_P", "P", {"ID"}, "C", {"PID"}));
  ASSERT_TRUE(db_->InsertRows("P", {{int32_t{1}, std::string("a")}}).ok());
  ASSERT_TRUE(db_->InsertRows("C", {{int32_t{1}, int32_t{1}}}).ok());
  ASSERT_TRUE(db_->CheckIntegrity().ok());
  std::map<std::string, uint64_t> offsets;
  for (const char* t : {"P", "C"}) {
    const TableDefinition def = Get(t);
    for (const IndexDefinition& i : def.indexes) offsets[std::string(t) + "." + i.name] = RecordOffset(def, i.name);
  }
  db_.reset();
  const fs::path damaged = path_.string() + ".damaged.mdb";
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    fs::copy_file(path_, damaged, fs::copy_options::overwrite_existing);
    const uint64_t at = offsets.at(std::string(d.table) + "." + d.index) + d.field;
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(reinterpret_cast<const char*>(d.bytes.data()), static_cast<std::streamsize>(d.bytes.size()));
    f.close();
    auto db = Database::Open(damaged.string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto problems = (*db)->FindIntegrityProblems();
    ASSERT_TRUE(problems.ok()) << problems.status().ToString();
    std::string all;
    bool named = false;
    for (const Status& p : *problems) {
      all += p.ToString() + "\n";
      EXPECT_EQ(p.code(), ErrorCode::kCorrupt) << p.ToString();
      bool every = true;
      for (const char* part : d.expected) every &= p.message().find(part) != std::string::npos;
      named |= every;
    }
    EXPECT_TRUE(named) << all;
    EXPECT_FALSE((*db)->CheckIntegrity().ok());
  }
  fs::remove(damaged);
}

}  // namespace
}  // namespace tabulon::jet
