// Relationships and their foreign-key index pairs. Access-written ones read back, and the same
// schema written here stores the same index records. New pairs are numbered as Access numbers
// them (named indexes like their physical index, foreign keys after them, each side naming its
// partner) through every schema change; inserts and deletes are enforced (cascades, Set Null);
// dropping and renaming keep the file sound; CheckIntegrity names each kind of damage. Every file
// is checked against both independent readers and mdb-schema's FOREIGN KEY lines.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/database.h"
#include "jet/format/table_def.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
using Record = std::array<uint8_t, format::kTdefLogicalIndexSize>;

constexpr uint32_t kPage = 4096;
const fs::path kAccess = fs::path(TABULON_SHARED_DIR) / "fixtures/access";

// The stored logical index records of a table, by index name.
std::map<std::string, Record> RawRecords(const fs::path& file, const TableDefinition& table) {
  const std::vector<uint8_t> bytes = testing::ReadFileBytes(file);
  std::map<std::string, Record> out;
  for (const IndexDefinition& index : table.indexes) {
    std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(testing::LogicalIndexRecordOffset(table, index.name)),
                sizeof(Record), out[index.name].begin());
  }
  return out;
}

ColumnDefinition Long(const std::string& name) { return NewColumn(name, ColumnType::kLong); }
ColumnDefinition Text(const std::string& name) { return NewColumn(name, ColumnType::kText, 30); }

Relationship Rel(std::string name, std::string primary, std::vector<std::string> primary_columns, std::string foreign,
                 std::vector<std::string> foreign_columns) {
  return {.name = std::move(name),
          .primary_table = std::move(primary),
          .primary_columns = std::move(primary_columns),
          .foreign_table = std::move(foreign),
          .foreign_columns = std::move(foreign_columns)};
}

// A row of Long values; nullopt is Null.
Row L(std::initializer_list<std::optional<int32_t>> values) {
  Row row;
  for (const auto& v : values) row.push_back(v ? Value(*v) : Value(Null{}));
  return row;
}

// The status is an error whose message names every one of `parts`.
void ExpectNames(const Status& s, std::initializer_list<const char*> parts) {
  EXPECT_FALSE(s.ok());
  for (const char* part : parts) EXPECT_NE(s.message().find(part), std::string::npos) << part << ": " << s.ToString();
}

std::function<bool(const Row&)> First(int32_t id) {
  return [id](const Row& row) { return std::get<int32_t>(row[0]) == id; };
}

class Relationships : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = testing::ScratchFile("relationships", std::string(info->name()) + ".mdb");
    auto db = Database::Create(path_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
  }

  // A table of `columns`, with a primary key over `key` when it names any column.
  void MakeTable(const std::string& name, std::vector<ColumnDefinition> columns,
                 const std::vector<std::string>& key = {}) {
    ASSERT_TRUE(db_->CreateTable(testing::NewTable(name, std::move(columns))).ok());
    if (!key.empty()) MakeIndex(name, "PrimaryKey", key, true, true);
  }
  void MakeLongs(const std::string& name, const std::vector<std::string>& columns,
                 const std::vector<std::string>& key = {}) {
    std::vector<ColumnDefinition> longs;
    for (const std::string& c : columns) longs.push_back(Long(c));
    MakeTable(name, std::move(longs), key);
  }
  void MakeIndex(const std::string& table, const std::string& name, const std::vector<std::string>& columns,
                 bool unique, bool primary = false) {
    IndexSpec spec{.name = name, .columns = {}, .primary = primary, .unique = unique, .required = primary};
    for (const std::string& c : columns) spec.columns.push_back({c, true});
    const Status s = db_->CreateIndex(table, spec);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  // Customers (ID key, Name) with 1 Ann and 2 Bo; Orders (OrderID, CustomerID) with 10->1,
  // 11->2, 12->Null.
  void CustomersAndOrders() {
    MakeTable("Customers", {Long("ID"), Text("Name")}, {"ID"});
    MakeLongs("Orders", {"OrderID", "CustomerID"});
    ASSERT_TRUE(db_->InsertRows("Customers", {{int32_t{1}, std::string("Ann")}, {int32_t{2}, std::string("Bo")}}).ok());
    ASSERT_TRUE(db_->InsertRows("Orders", {L({10, 1}), L({11, 2}), L({12, std::nullopt})}).ok());
  }
  static Relationship CustomersOrders(bool cascade_delete = true) {
    Relationship r = Rel("CustomersOrders", "Customers", {"ID"}, "Orders", {"CustomerID"});
    r.cascade_delete = cascade_delete;
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
  // Logical number of `table`.`index`, and its physical number unless `real` is negative.
  void ExpectNumbers(const std::string& table, const std::string& index, uint32_t logical, int real = -1) {
    const TableDefinition t = Get(table);
    const IndexDefinition* i = Find(t, index);
    ASSERT_TRUE(i) << table << "." << index;
    EXPECT_EQ(i->logical_number, logical) << table << "." << index;
    if (real >= 0) {
      EXPECT_EQ(i->real_number, static_cast<uint32_t>(real)) << table << "." << index;
    }
  }
  bool HasForeignKeyIndex(const std::string& table) {
    const TableDefinition t = Get(table);
    return std::any_of(t.indexes.begin(), t.indexes.end(), [](const IndexDefinition& i) { return i.index_type == 2; });
  }
  // Rows as sorted text.
  std::vector<std::string> Rows(const std::string& table) { return Sorted(testing::TableRows(*db_, table)); }
  static std::vector<std::string> Sorted(const std::vector<Row>& rows) { return testing::SortedRowTexts(rows); }
  void Reopen() {
    db_.reset();
    auto db = Database::Open(path_.string(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
  }

  // The whole file: no integrity problem; every table numbered as Access numbers (named
  // indexes like their physical index, then foreign keys), each foreign-key index naming a
  // partner that names it back; both readers give back every row; mdb-schema lists every
  // column pair of every enforced relationship.
  void ExpectSound() {
    auto problems = db_->FindIntegrityProblems();
    ASSERT_TRUE(problems.ok()) << problems.status().ToString();
    for (const Status& p : *problems) ADD_FAILURE() << p.ToString();
    auto tables = db_->ListTables();
    ASSERT_TRUE(tables.ok());
    std::map<uint32_t, TableDefinition> by_page;
    for (const std::string& name : *tables) {
      TableDefinition t = Get(name);
      by_page[t.tdef_page] = std::move(t);
    }
    std::vector<testing::ReaderTable> read;
    if (testing::MdbReaderAvailable()) {
      auto all = testing::ReadWithMdbReader(path_.string());
      ASSERT_TRUE(all.ok()) << all.status().ToString();
      read = std::move(*all);
    }
    for (const auto& [page, t] : by_page) {
      std::vector<bool> seen(t.indexes.size(), false);
      uint32_t named = 0;
      for (const IndexDefinition& i : t.indexes) named += i.index_type != 2;
      for (const IndexDefinition& i : t.indexes) {
        const std::string where = t.name + "." + i.name;
        ASSERT_LT(i.logical_number, t.indexes.size()) << where;
        EXPECT_FALSE(seen[i.logical_number]) << where;
        seen[i.logical_number] = true;
        if (i.index_type != 2) {
          EXPECT_EQ(i.logical_number, i.real_number) << where;
          continue;
        }
        EXPECT_GE(i.logical_number, named) << where;
        ASSERT_TRUE(by_page.count(i.fk_other_table_page)) << where;
        const TableDefinition& other = by_page.at(i.fk_other_table_page);
        auto partner = std::find_if(other.indexes.begin(), other.indexes.end(),
                                    [&](const IndexDefinition& o) { return o.logical_number == i.fk_other_index; });
        ASSERT_NE(partner, other.indexes.end()) << where;
        EXPECT_EQ(partner->index_type, 2) << where;
        EXPECT_EQ(partner->fk_side + i.fk_side, 3) << where;
        EXPECT_EQ(partner->fk_other_table_page, t.tdef_page) << where;
        EXPECT_EQ(partner->fk_other_index, i.logical_number) << where;
      }
      EXPECT_EQ(testing::CompareTableWithReaders(path_.string(), t.name, t.columns, testing::TableRows(*db_, t.name),
                                                 read.empty() ? nullptr : &read),
                "");
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

// Access's own file relates Table2 and Table3 to Table1 (which also has a plain index "id"
// beside its primary key): its relationships read back as its dump lists them, and the same
// schema written here stores the same records, field by field, up to the table pages.
TEST_F(Relationships, AccessRelationshipsReadBackAndOursStoreTheirRecords) {
  const fs::path access = kAccess / "indexTestV2000.mdb";
  if (!fs::exists(access)) GTEST_SKIP() << "no fixture " << access;
  const nlohmann::json expected =
      nlohmann::json::parse(std::ifstream(kAccess / "indexTestV2000.json"))["relationships"];
  auto theirs_db = Database::Open(access.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(theirs_db.ok());
  auto list = (*theirs_db)->ListRelationships();
  ASSERT_TRUE(list.ok()) << list.status().ToString();
  // Access's own relationships between its system tables are not in the dump.
  std::erase_if(*list, [](const Relationship& r) { return r.primary_table.rfind("MSys", 0) == 0; });
  ASSERT_EQ(list->size(), expected.size());
  for (const auto& want : expected) {
    auto r = std::find_if(list->begin(), list->end(), [&](const Relationship& x) { return x.name == want["name"]; });
    ASSERT_NE(r, list->end()) << want["name"];
    // The dump names the referenced ("one") side "from".
    EXPECT_EQ(r->primary_table, want["fromTable"]);
    EXPECT_EQ(r->primary_columns, want["fromColumns"].get<std::vector<std::string>>());
    EXPECT_EQ(r->foreign_table, want["toTable"]);
    EXPECT_EQ(r->foreign_columns, want["toColumns"].get<std::vector<std::string>>());
    EXPECT_EQ(r->enforced, want["enforced"].get<bool>());
    EXPECT_EQ(r->cascade_update, want["cascadeUpdates"].get<bool>());
    EXPECT_EQ(r->cascade_delete, want["cascadeDeletes"].get<bool>());
    EXPECT_EQ(r->Flags(), std::stoul(want["rawFlags"].get<std::string>(), nullptr, 16));
  }

  for (const std::string t : {"Table1", "Table2", "Table3"}) {
    MakeTable(t, t == "Table1"
                     ? std::vector{Long("id"), Long("otherfk1"), Long("otherfk2"), Text("data"), Long("otherfk3")}
                     : std::vector{Long("id"), Text("data")});
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
      EXPECT_EQ(our_tables[ReadU32(got.data() + 17)], their_tables[ReadU32(want.data() + 17)]) << t << "." << name;
    }
  }
}

TEST_F(Relationships, StoredWithItsIndexPairAndSeenByTheReaders) {
  CustomersAndOrders();
  Relate(CustomersOrders());
  // The one side shares the primary key's physical index; the many side gets its own.
  ExpectNumbers("Customers", ".rB", 1, 0);
  ExpectNumbers("Orders", "CustomersOrders", 0, 0);
  const TableDefinition customers = Get("Customers");
  EXPECT_EQ(Find(customers, ".rB")->flags, 0x89);
  EXPECT_TRUE(Find(customers, ".rB")->cascade_delete);
  EXPECT_EQ(Find(Get("Orders"), "CustomersOrders")->flags, 0x80);
  Reopen();
  auto list = db_->ListRelationships();
  ASSERT_TRUE(list.ok());
  ASSERT_EQ(list->size(), 1u);
  const Relationship& r = (*list)[0];
  EXPECT_EQ(r.name, "CustomersOrders");
  EXPECT_EQ(r.foreign_columns, std::vector<std::string>{"CustomerID"});
  EXPECT_TRUE(r.enforced && r.cascade_delete && !r.cascade_update);
  EXPECT_EQ(r.Flags(), 0x1000u);
  // Still enforced after reopening; the new index follows new rows.
  EXPECT_FALSE(db_->InsertRow("Orders", L({13, 3})).ok());
  ASSERT_TRUE(db_->InsertRow("Orders", L({13, 2})).ok());
  EXPECT_EQ(db_->SeekIndex("Orders", "CustomersOrders", {int32_t{2}})->size(), 2u);
  EXPECT_EQ(db_->SeekIndex("Orders", "CustomersOrders", {Null{}})->size(), 1u);
  ExpectSound();
  if (testing::MdbToolsAvailable()) {
    auto schema = testing::MdbToolsSchema(path_.string(), "postgres");
    ASSERT_TRUE(schema.ok());
    EXPECT_NE(schema->find("ON DELETE CASCADE"), std::string::npos) << *schema;
  }
}

// The index pair alone, without its MSysRelationships row: the primary side needs a unique
// index, and the check names the pair as belonging to no relationship.
TEST_F(Relationships, IndexPairWithoutARelationship) {
  CustomersAndOrders();
  ForeignKeyIndexSpec fk{"CustomersOrders", "Customers", {"Name"}, "Orders", {"CustomerID"}};
  EXPECT_FALSE(db_->CreateForeignKeyIndexes(fk).ok());  // no unique index over Customers.Name
  fk.primary_columns = {"ID"};
  auto made = db_->CreateForeignKeyIndexes(fk);
  ASSERT_TRUE(made.ok()) << made.status().ToString();
  EXPECT_EQ(made->primary_index, ".rB");
  auto problems = db_->FindIntegrityProblems();
  ASSERT_TRUE(problems.ok());
  ASSERT_EQ(problems->size(), 1u) << problems->front().ToString();
  EXPECT_NE(problems->front().message().find("'CustomersOrders': belongs to no enforced relationship"),
            std::string::npos)
      << problems->front().ToString();
  EXPECT_FALSE(db_->DropIndex("Orders", "CustomersOrders").ok());
}

TEST_F(Relationships, RefusesWhatCannotHoldAndWritesNothing) {
  CustomersAndOrders();
  ASSERT_TRUE(db_->InsertRow("Orders", L({13, 99})).ok());  // an orphan
  EXPECT_EQ(db_->CreateRelationship(CustomersOrders()).code(), ErrorCode::kInvalidArgument);
  Relationship bad = CustomersOrders();
  bad.foreign_columns = {"Customer"};
  EXPECT_EQ(db_->CreateRelationship(bad).code(), ErrorCode::kNotFound);
  bad = CustomersOrders();
  bad.foreign_columns = {"OrderID", "CustomerID"};
  EXPECT_EQ(db_->CreateRelationship(bad).code(), ErrorCode::kInvalidArgument);
  bad = CustomersOrders();
  bad.primary_columns = {"Name"};
  EXPECT_EQ(db_->CreateRelationship(bad).code(), ErrorCode::kInvalidArgument);  // Text vs Long
  EXPECT_TRUE(db_->ListRelationships()->empty());
  EXPECT_FALSE(HasForeignKeyIndex("Customers") || HasForeignKeyIndex("Orders"));
  EXPECT_TRUE(db_->CheckIntegrity().ok());

  ASSERT_EQ(*db_->DeleteRows("Orders", First(13)), 1u);
  Relate(CustomersOrders());
  EXPECT_EQ(db_->CreateRelationship(CustomersOrders()).code(), ErrorCode::kAlreadyExists);
}

// Numbering as relationships and unique indexes come and go on both sides.
TEST_F(Relationships, NumbersFollowEverySchemaChange) {
  MakeTable("Customers", {Long("ID"), Text("Name"), Text("Code"), Text("Alias")}, {"ID"});
  MakeIndex("Customers", "Code", {"Code"}, true);
  MakeLongs("Staff", {"ID"}, {"ID"});
  MakeTable("Orders", {Long("ID"), Long("CustomerID"), Long("StaffID"), Text("Note")}, {"ID"});
  MakeTable("Invoices", {Long("ID"), Text("CustomerCode")}, {"ID"});
  Relate(Rel("CustomersOrders", "Customers", {"ID"}, "Orders", {"CustomerID"}));
  Relate(Rel("StaffOrders", "Staff", {"ID"}, "Orders", {"StaffID"}));
  // References the unique index, not the key; a unique index made afterwards goes before it.
  Relate(Rel("CustomersInvoices", "Customers", {"Code"}, "Invoices", {"CustomerCode"}));
  MakeIndex("Customers", "Alias", {"Alias"}, true);
  ExpectNumbers("Customers", ".rB", 3, 0);
  ExpectNumbers("Customers", ".rC", 4, 1);  // shares Code's physical index
  ExpectNumbers("Customers", "Alias", 2, 2);
  ExpectNumbers("Orders", "CustomersOrders", 1);
  ExpectNumbers("Orders", "StaffOrders", 2);
  // A plain index added to the child goes before the foreign keys' physical indexes.
  MakeIndex("Orders", "Note", {"Note"}, false);
  ExpectNumbers("Orders", "Note", 1, 1);
  ExpectNumbers("Orders", "CustomersOrders", 2, 2);
  ExpectSound();

  ASSERT_TRUE(db_->DropIndex("Orders", "Note").ok());
  ASSERT_TRUE(db_->DropIndex("Customers", "Alias").ok());
  EXPECT_FALSE(db_->DropIndex("Orders", "CustomersOrders").ok());
  ASSERT_TRUE(db_->DropRelationship("CustomersOrders").ok());
  // StaffOrders moved down to the first foreign-key number, and Staff's side followed.
  ExpectNumbers("Orders", "StaffOrders", 1);
  EXPECT_EQ(Find(Get("Staff"), ".rB")->fk_other_index, 1u);
  ExpectNumbers("Customers", ".rC", 2);
  ExpectSound();
  Relate(Rel("CustomersOrders", "Customers", {"ID"}, "Orders", {"CustomerID"}));
  ASSERT_TRUE(db_->RenameTable("Customers", "Clients").ok());
  ASSERT_TRUE(db_->RenameTable("Orders", "Sales").ok());
  ASSERT_TRUE(db_->InsertRows("Clients", {{int32_t{1}, std::string("a"), std::string("A"), Null{}}}).ok());
  ASSERT_TRUE(db_->InsertRows("Staff", {L({2})}).ok());
  ASSERT_TRUE(db_->InsertRows("Sales", {{int32_t{1}, int32_t{1}, int32_t{2}, Null{}}}).ok());
  // Renaming kept the relationships, their names for the tables and their enforcement.
  const std::vector<Relationship> renamed = db_->ListRelationships().value();
  for (const Relationship& r : renamed) {
    EXPECT_TRUE(r.primary_table != "Customers" && r.foreign_table != "Orders") << r.name;
  }
  EXPECT_FALSE(db_->InsertRow("Sales", {int32_t{2}, int32_t{5}, Null{}, Null{}}).ok());
  ExpectSound();
}

// ---- Enforcement -------------------------------------------------------------------------

TEST_F(Relationships, InsertNeedsAParentUnlessAKeyColumnIsNull) {
  CustomersAndOrders();
  Relate(CustomersOrders(false));
  Status orphan = db_->InsertRow("Orders", L({13, 99}));
  EXPECT_EQ(orphan.code(), ErrorCode::kInvalidArgument);
  ExpectNames(orphan, {"CustomersOrders", "'Customers'", "'Orders'", "CustomerID='99'", "ID='99'"});
  // A bad row fails its whole call; earlier rows of the call do not remain.
  EXPECT_FALSE(db_->InsertRows("Orders", {L({14, 1}), L({15, 99})}).ok());
  EXPECT_EQ(Rows("Orders").size(), 3u);
  ASSERT_TRUE(db_->InsertRows("Orders", {L({16, std::nullopt}), L({17, 2}), L({18, 2})}).ok());

  // Two columns, and the parent's key index in its own column order.
  MakeLongs("Lines", {"LineNo", "OrderID"}, {"OrderID", "LineNo"});
  MakeLongs("Notes", {"NoteID", "OrderID", "LineNo"});
  ASSERT_TRUE(db_->InsertRows("Lines", {L({1, 10}), L({2, 10}), L({1, 11})}).ok());
  Relate(Rel("LinesNotes", "Lines", {"OrderID", "LineNo"}, "Notes", {"OrderID", "LineNo"}));
  EXPECT_EQ(Find(Get("Notes"), "LinesNotes")->columns.size(), 2u);
  EXPECT_TRUE(db_->InsertRows("Notes", {L({1, 10, 2}), L({2, 11, 1}), L({3, 11, std::nullopt})}).ok());
  EXPECT_EQ(db_->InsertRow("Notes", L({4, 11, 2})).code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(db_->InsertRow("Notes", L({5, 12, 1})).code(), ErrorCode::kInvalidArgument);

  // A relationship that is not enforced checks nothing.
  Relationship loose = Rel("Loose", "Customers", {"ID"}, "Notes", {"NoteID"});
  loose.enforced = false;
  Relate(loose);
  EXPECT_TRUE(db_->InsertRow("Notes", L({77, std::nullopt, std::nullopt})).ok());
  ExpectSound();
}

TEST_F(Relationships, SelfReferenceAndCascadeThroughACycle) {
  MakeLongs("Staff", {"ID", "Boss"}, {"ID"});
  Relationship r = Rel("StaffStaff", "Staff", {"ID"}, "Staff", {"Boss"});
  r.cascade_update = r.cascade_delete = true;
  Relate(r);
  // The cascade rules in the foreign-key record: byte 21 updates, byte 22 deletes (1) or sets
  // Null (2); the integrity check holds the partner and MSysRelationships to the same.
  auto cascade_bytes = [&] {
    const Record many = RawRecords(path_, Get("Staff")).at("StaffStaff");
    return std::vector<int>{many[21], many[22]};
  };
  EXPECT_EQ(cascade_bytes(), (std::vector<int>{1, 1}));
  const TableDefinition staff = Get("Staff");
  EXPECT_EQ(std::min(Find(staff, "StaffStaff")->logical_number, Find(staff, ".rB")->logical_number), 1u);
  // A row may name itself or an earlier row of the same call, not a later one.
  ASSERT_TRUE(db_->InsertRows("Staff", {L({1, 1}), L({2, 1}), L({3, 2}), L({4, std::nullopt})}).ok());
  EXPECT_EQ(db_->InsertRows("Staff", {L({6, 7}), L({7, 4})}).code(), ErrorCode::kInvalidArgument);
  ASSERT_TRUE(db_->InsertRows("Staff", {L({5, 4}), L({6, 5})}).ok());
  // Deleting the top of a chain takes the chain; the row naming itself ends the recursion.
  auto deleted = db_->DeleteRows("Staff", First(1));
  ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
  EXPECT_EQ(*deleted, 1u);
  EXPECT_EQ(Rows("Staff"), Sorted({L({4, std::nullopt}), L({5, 4}), L({6, 5})}));
  // Set Null on a self reference clears the key of the rows below.
  ASSERT_TRUE(db_->DropRelationship("StaffStaff").ok());
  r.cascade_delete = false;
  r.cascade_null = true;
  Relate(r);
  EXPECT_EQ(cascade_bytes(), (std::vector<int>{1, 2}));
  ASSERT_EQ(*db_->DeleteRows("Staff", First(4)), 1u);
  EXPECT_EQ(Rows("Staff"), Sorted({L({5, std::nullopt}), L({6, 5})}));
  ExpectSound();
}

TEST_F(Relationships, DeleteRefusedCascadedOrSetToNull) {
  CustomersAndOrders();
  MakeLongs("Items", {"ItemID", "OrderID"}, {"ItemID"});
  MakeIndex("Orders", "PrimaryKey", {"OrderID"}, true, true);
  ASSERT_TRUE(db_->InsertRows("Items", {L({100, 10}), L({101, 10}), L({102, 11})}).ok());
  Relationship items = Rel("OrdersItems", "Orders", {"OrderID"}, "Items", {"OrderID"});
  Relate(items);
  Relate(CustomersOrders());  // cascades deletes

  // Customer 1 cascades to order 10, whose items refuse: nothing at all is deleted.
  auto refused = db_->DeleteRows("Customers", First(1));
  EXPECT_EQ(refused.status().code(), ErrorCode::kInvalidArgument);
  ExpectNames(refused.status(), {"OrdersItems", "'Items'"});
  EXPECT_EQ(Rows("Customers").size(), 2u);
  EXPECT_EQ(Rows("Orders").size(), 3u);

  // With a cascade there too, two levels go.
  ASSERT_TRUE(db_->DropRelationship("OrdersItems").ok());
  items.cascade_delete = true;
  Relate(items);
  auto deleted = db_->DeleteRows("Customers", First(1));
  ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
  EXPECT_EQ(*deleted, 1u);
  EXPECT_EQ(Rows("Orders"), Sorted({L({11, 2}), L({12, std::nullopt})}));
  EXPECT_EQ(Rows("Items"), Sorted({L({102, 11})}));

  ExpectSound();
}

TEST_F(Relationships, DropRelationshipAndDropTable) {
  CustomersAndOrders();
  Relate(CustomersOrders());
  for (const char* table : {"Customers", "Orders"}) {
    const Status s = db_->DropTable(table);
    EXPECT_EQ(s.code(), ErrorCode::kInvalidArgument) << table;
    ExpectNames(s, {"CustomersOrders"});
  }
  EXPECT_EQ(db_->DropRelationship("NoSuch").code(), ErrorCode::kNotFound);

  // Dropping it takes both foreign-key indexes (and the index made for it) and the check.
  ASSERT_TRUE(db_->DropRelationship("customersorders").ok());
  EXPECT_TRUE(db_->ListRelationships()->empty());
  EXPECT_FALSE(HasForeignKeyIndex("Customers"));
  EXPECT_TRUE(Get("Orders").indexes.empty());
  ASSERT_TRUE(db_->InsertRow("Orders", L({13, 99})).ok());
  ExpectSound();
  if (testing::MdbToolsAvailable()) {
    auto schema = testing::MdbToolsSchema(path_.string(), "postgres");
    ASSERT_TRUE(schema.ok());
    EXPECT_EQ(schema->find("FOREIGN KEY"), std::string::npos) << *schema;
  }

  // Dropping a table with its relationships leaves the other table without its index.
  ASSERT_TRUE(db_->DeleteRows("Orders", First(13)).ok());
  Relate(CustomersOrders());
  ASSERT_TRUE(db_->DropTable("Customers", DropTableMode::kWithRelationships).ok());
  EXPECT_TRUE(db_->ListRelationships()->empty());
  EXPECT_FALSE(HasForeignKeyIndex("Orders"));
  Reopen();
  EXPECT_EQ(db_->ListTables().value(), std::vector<std::string>{"Orders"});
  ExpectSound();
}

TEST_F(Relationships, KeyWithoutSortCodeIsRefusedWhereARelationshipNeedsIt) {
  MakeTable("Codes", {NewColumn("Code", ColumnType::kText, 10)}, {"Code"});
  MakeTable("Uses", {NewColumn("Code", ColumnType::kText, 10)});
  ASSERT_TRUE(db_->InsertRow("Codes", {std::string("abc")}).ok());
  Relate(Rel("CodesUses", "Codes", {"Code"}, "Uses", {"Code"}));
  // The primary key would have to go, and the relationship with it: the row is refused.
  EXPECT_EQ(db_->InsertRow("Codes", {std::string("\u03a9")}).code(), ErrorCode::kUnsupported);
  EXPECT_EQ(db_->InsertRow("Uses", {std::string("\u03a9")}).code(), ErrorCode::kInvalidArgument);
  EXPECT_TRUE(db_->InsertRow("Uses", {std::string("ABC")}).ok());  // Jet compares text without case
  // Inside a batch the insert itself is refused, not the commit after it.
  ASSERT_TRUE(db_->BeginBatch().ok());
  EXPECT_EQ(db_->InsertRow("Codes", {std::string("\u03a9")}).code(), ErrorCode::kUnsupported);
  EXPECT_TRUE(db_->CommitBatch().ok());
  EXPECT_EQ(Rows("Codes").size(), 1u);
  EXPECT_TRUE(HasForeignKeyIndex("Codes"));
  EXPECT_TRUE(db_->TakeDroppedIndexes().empty());
  ASSERT_TRUE(db_->CheckIntegrity().ok()) << db_->CheckIntegrity().ToString();
}

// ---- Integrity check -----------------------------------------------------------------------

// Each kind of damage to a written pair (testdata/relationship_damage.json) is named by
// CheckIntegrity with its table, its index and what is wrong.
TEST_F(Relationships, CheckIntegrityNamesEachDamage) {
  MakeTable("P", {Long("ID"), Text("N")}, {"ID"});
  MakeLongs("C", {"CID", "PID"}, {"CID"});
  Relate(Rel("FK_C_P", "P", {"ID"}, "C", {"PID"}));
  ASSERT_TRUE(db_->InsertRows("P", {{int32_t{1}, std::string("a")}}).ok());
  ASSERT_TRUE(db_->InsertRows("C", {L({1, 1})}).ok());
  ASSERT_TRUE(db_->CheckIntegrity().ok());
  std::map<std::string, uint64_t> offsets;
  for (const char* t : {"P", "C"}) {
    const TableDefinition def = Get(t);
    for (const IndexDefinition& i : def.indexes)
      offsets[std::string(t) + "." + i.name] = testing::LogicalIndexRecordOffset(def, i.name);
  }
  db_.reset();
  const fs::path damaged = path_.string() + ".damaged.mdb";
  const auto data = nlohmann::json::parse(std::ifstream(TABULON_JET_TESTDATA "/relationship_damage.json"));
  for (const auto& d : data["damages"]) {
    SCOPED_TRACE(d["what"].get<std::string>());
    fs::copy_file(path_, damaged, fs::copy_options::overwrite_existing);
    testing::PatchFile(damaged, offsets.at(d["index"]) + d["field"].get<uint64_t>(), d["value"], d["width"]);
    auto db = Database::Open(damaged.string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto problems = (*db)->FindIntegrityProblems();
    ASSERT_TRUE(problems.ok()) << problems.status().ToString();
    std::string all;
    bool named = false;
    for (const Status& p : *problems) {
      all += p.ToString() + "\n";
      EXPECT_EQ(p.code(), ErrorCode::kCorrupt) << p.ToString();
      named |= std::all_of(d["expected"].begin(), d["expected"].end(), [&](const nlohmann::json& part) {
        return p.message().find(part.get<std::string>()) != std::string::npos;
      });
    }
    EXPECT_TRUE(named) << all;
    EXPECT_FALSE((*db)->CheckIntegrity().ok());
  }
  fs::remove(damaged);
}

// Writes a Long into the fixed area of a stored row, behind the engine's back.
void PatchFixedLong(const fs::path& path, RowPointer where, uint16_t fixed_offset, int32_t value) {
  const uint64_t page = uint64_t{RowPointerPage(where)} * kPage;
  const uint16_t offset = ReadU16(testing::ReadFileBytes(path).data() + page + 14 + 2 * RowPointerRow(where)) & 0x1FFF;
  testing::PatchFile(path, page + offset + 2 + fixed_offset, static_cast<uint32_t>(value));
}

TEST_F(Relationships, CheckIntegrityFindsBrokenRelationships) {
  // An orphan under a relationship that is stored as not enforced...
  CustomersAndOrders();
  ASSERT_TRUE(db_->InsertRow("Orders", L({13, 99})).ok());
  Relationship r = CustomersOrders();
  r.enforced = false;
  Relate(r);
  ASSERT_TRUE(db_->CheckIntegrity().ok());
  const TableDefinition msys = Get("MSysRelationships");
  RowPointer row = 0;
  ASSERT_TRUE(db_->ScanRows(msys,
                            [&](RowPointer where, const Row&) {
                              row = where;
                              return Status::Ok();
                            })
                  .ok());
  auto grbit = std::find_if(msys.columns.begin(), msys.columns.end(),
                            [](const ColumnDefinition& c) { return c.name == "grbit"; });
  ASSERT_NE(grbit, msys.columns.end());
  db_.reset();
  // ...then marked enforced by hand: its index pair is missing.
  PatchFixedLong(path_, row, grbit->fixed_offset, 0);
  auto db = Database::Open(path_.string(), OpenMode::kReadWrite);
  ASSERT_TRUE(db.ok());
  Status s = (*db)->CheckIntegrity();
  EXPECT_EQ(s.code(), ErrorCode::kCorrupt);
  ExpectNames(s, {"CustomersOrders", "foreign-key index"});

  // With the pair in place, the row without a parent is named.
  ForeignKeyIndexSpec spec{"CustomersOrders", "Customers", {"ID"}, "Orders", {"CustomerID"}};
  ASSERT_TRUE((*db)->CreateForeignKeyIndexes(spec).ok());
  s = (*db)->CheckIntegrity();
  EXPECT_EQ(s.code(), ErrorCode::kCorrupt);
  ExpectNames(s, {"CustomersOrders", "'Orders' at page", "CustomerID='99'", "'Customers'"});
}

}  // namespace
}  // namespace tabulon::jet
