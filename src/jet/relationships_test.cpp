// Relationships: Access-written ones read back, new ones written with their foreign-key
// indexes, refused when rows already break them, and seen by mdbtools; enforcement on insert
// and delete (cascades), dropping and renaming, and CheckIntegrity's relationship checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "jet/database.h"
#include "jet_readers.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
const fs::path kAccess = fs::path(TABULON_SHARED_DIR) / "fixtures/access";

TEST(RelationshipFixture, AccessRelationshipsReadBackAsStored) {
  const fs::path mdb = kAccess / "indexTestV2000.mdb";
  if (!fs::exists(mdb)) GTEST_SKIP() << "no fixture " << mdb;
  std::ifstream in(kAccess / "indexTestV2000.json");
  const nlohmann::json expected = nlohmann::json::parse(in)["relationships"];
  auto db = Database::Open(mdb.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  auto list = (*db)->ListRelationships();
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
  EXPECT_TRUE((*db)->CheckIntegrity().ok());
}

Relationship Rel(std::string name, std::string primary, std::vector<std::string> primary_columns, std::string foreign,
                 std::vector<std::string> foreign_columns) {
  Relationship r;
  r.name = std::move(name);
  r.primary_table = std::move(primary);
  r.primary_columns = std::move(primary_columns);
  r.foreign_table = std::move(foreign);
  r.foreign_columns = std::move(foreign_columns);
  return r;
}

class RelationshipWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = fs::temp_directory_path() / ("tabulon_rel_" + std::to_string(getpid()) + ".mdb");
    fs::remove(path_);
    fs::remove(path_.string() + "-journal");
    auto db = Database::Create(path_.string());
    ASSERT_TRUE(db.ok());
    db_ = std::move(*db);
    CreateTable("Customers", {NewColumn("ID", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 40)}, {"ID"});
    CreateTable("Orders", {NewColumn("OrderID", ColumnType::kLong), NewColumn("CustomerID", ColumnType::kLong)});
    ASSERT_TRUE(db_->InsertRows("Customers", {{int32_t{1}, std::string("Ann")}, {int32_t{2}, std::string("Bo")}}).ok());
    orders_ = {{int32_t{10}, int32_t{1}}, {int32_t{11}, int32_t{2}}, {int32_t{12}, Null{}}};
    ASSERT_TRUE(db_->InsertRows("Orders", orders_).ok());
  }
  void TearDown() override {
    db_.reset();
    fs::remove(path_);
  }
  // A table of `columns`, with a primary key over `key` when it names any column.
  void CreateTable(const std::string& name, std::vector<ColumnDefinition> columns,
                   const std::vector<std::string>& key = {}) {
    TableDefinition t;
    t.name = name;
    t.columns = std::move(columns);
    ASSERT_TRUE(db_->CreateTable(t).ok());
    if (!key.empty()) CreatePrimaryKey(name, key);
  }
  void CreatePrimaryKey(const std::string& table, const std::vector<std::string>& key) {
    IndexSpec pk;
    pk.name = "PrimaryKey";
    for (const std::string& c : key) pk.columns.push_back({c, true});
    pk.primary = pk.unique = pk.required = true;
    ASSERT_TRUE(db_->CreateIndex(table, pk).ok());
  }
  static Relationship CustomersOrders() {
    Relationship r = Rel("CustomersOrders", "Customers", {"ID"}, "Orders", {"CustomerID"});
    r.cascade_delete = true;
    return r;
  }

  fs::path path_;
  std::unique_ptr<Database> db_;
  std::vector<Row> orders_;
};

TEST_F(RelationshipWrite, EnforcedRelationshipIsStoredWithItsIndexes) {
  ASSERT_TRUE(db_->CreateRelationship(CustomersOrders()).ok());
  Relationship loose = Rel("Loose", "Customers", {"Name"}, "Customers", {"Name"});
  loose.enforced = false;
  ASSERT_TRUE(db_->CreateRelationship(loose).ok());
  db_.reset();

  auto db = Database::Open(path_.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  EXPECT_TRUE((*db)->CheckIntegrity().ok()) << (*db)->CheckIntegrity().ToString();
  auto list = (*db)->ListRelationships();
  ASSERT_TRUE(list.ok());
  ASSERT_EQ(list->size(), 2u);
  const Relationship& r = (*list)[0];
  EXPECT_EQ(r.name, "CustomersOrders");
  EXPECT_EQ(r.foreign_columns, std::vector<std::string>{"CustomerID"});
  EXPECT_TRUE(r.enforced && r.cascade_delete && !r.cascade_update);
  EXPECT_EQ(r.Flags(), 0x1000u);
  EXPECT_FALSE((*list)[1].enforced);
  auto orders = (*db)->GetTable("Orders");
  const bool has_fk = std::any_of(orders->indexes.begin(), orders->indexes.end(),
                                  [](const IndexDefinition& i) { return i.index_type == 0x02; });
  EXPECT_TRUE(has_fk);
  if (testing::MdbToolsAvailable()) {
    auto schema = testing::MdbToolsSchema(path_.string(), "postgres");
    ASSERT_TRUE(schema.ok());
    EXPECT_NE(schema->find("FOREIGN KEY"), std::string::npos) << *schema;
    EXPECT_NE(schema->find("ON DELETE CASCADE"), std::string::npos) << *schema;
  }
  EXPECT_EQ(testing::CompareTableWithReaders(
                path_.string(), "Orders",
                {NewColumn("OrderID", ColumnType::kLong), NewColumn("CustomerID", ColumnType::kLong)}, orders_),
            "");
}

TEST_F(RelationshipWrite, RefusesWhatCannotHoldAndWritesNothing) {
  ASSERT_TRUE(db_->InsertRow("Orders", {int32_t{13}, int32_t{99}}).ok());  // an orphan
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
  EXPECT_TRUE(db_->CheckIntegrity().ok());

  ASSERT_EQ(*db_->DeleteRows("Orders",
                             [](const Row& row) {
                               return std::holds_alternative<int32_t>(row[1]) && std::get<int32_t>(row[1]) == 99;
                             }),
            1u);
  ASSERT_TRUE(db_->CreateRelationship(CustomersOrders()).ok());
  EXPECT_EQ(db_->CreateRelationship(CustomersOrders()).code(), ErrorCode::kAlreadyExists);
}

// ---- Enforcement -------------------------------------------------------------------------

Row L(std::initializer_list<std::optional<int32_t>> values) {
  Row row;
  for (const auto& v : values) row.push_back(v ? Value(*v) : Value(Null{}));
  return row;
}

class Enforcement : public RelationshipWrite {
 protected:
  void AddTable(const std::string& name, const std::vector<std::string>& columns, const std::vector<std::string>& key) {
    std::vector<ColumnDefinition> longs;
    for (const std::string& c : columns) longs.push_back(NewColumn(c, ColumnType::kLong));
    CreateTable(name, std::move(longs), key);
  }
  std::vector<Row> Rows(const std::string& table) {
    auto def = db_->GetTable(table);
    EXPECT_TRUE(def.ok());
    auto rows = db_->ReadAllRows(*def);
    EXPECT_TRUE(rows.ok());
    return rows.ok() ? *rows : std::vector<Row>{};
  }
  // Rows of Long values as sorted text, for comparison.
  static std::vector<std::string> Sorted(const std::vector<Row>& rows) {
    std::vector<std::string> out;
    for (const Row& row : rows) out.push_back(FormatRow(row));
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::string FormatRow(const Row& row) {
    std::string s;
    for (const Value& v : row)
      s += (std::holds_alternative<Null>(v) ? "-" : std::to_string(std::get<int32_t>(v))) + ",";
    return s;
  }
  // Reopens the file read-only: CheckIntegrity, and both readers agree with the engine on
  // every listed table of Long columns.
  void ExpectSound(const std::vector<std::string>& tables) {
    ASSERT_TRUE(db_->CheckIntegrity().ok()) << db_->CheckIntegrity().ToString();
    for (const std::string& table : tables) {
      auto def = db_->GetTable(table);
      ASSERT_TRUE(def.ok());
      std::vector<ColumnDefinition> columns;
      for (const ColumnDefinition& c : def->columns) columns.push_back(NewColumn(c.name, c.type));
      EXPECT_EQ(testing::CompareTableWithReaders(path_.string(), table, columns, Rows(table)), "") << table;
    }
  }
  bool HasForeignKeyIndex(const std::string& table) {
    auto def = db_->GetTable(table);
    return std::any_of(def->indexes.begin(), def->indexes.end(),
                       [](const IndexDefinition& i) { return i.index_type == 0x02; });
  }
};

TEST_F(Enforcement, InsertNeedsAParentUnlessAKeyColumnIsNull) {
  Relationship r = CustomersOrders();
  r.cascade_delete = false;
  ASSERT_TRUE(db_->CreateRelationship(r).ok());
  Status orphan = db_->InsertRow("Orders", L({13, 99}));
  EXPECT_EQ(orphan.code(), ErrorCode::kInvalidArgument);
  for (const char* part : {"CustomersOrders", "'Customers'", "'Orders'", "CustomerID='99'", "ID='99'"}) {
    EXPECT_NE(orphan.message().find(part), std::string::npos) << orphan.ToString();
  }
  // A bad row fails its whole call; earlier rows of the call do not remain.
  EXPECT_FALSE(db_->InsertRows("Orders", {L({14, 1}), L({15, 99})}).ok());
  EXPECT_EQ(Rows("Orders").size(), 3u);
  ASSERT_TRUE(db_->InsertRows("Orders", {L({16, std::nullopt}), L({17, 2}), L({18, 2})}).ok());

  // Two columns, and the parent's key index in its own column order.
  AddTable("Lines", {"LineNo", "OrderID"}, {"OrderID", "LineNo"});
  AddTable("Notes", {"NoteID", "OrderID", "LineNo"}, {});
  ASSERT_TRUE(db_->InsertRows("Lines", {L({1, 10}), L({2, 10}), L({1, 11})}).ok());
  ASSERT_TRUE(
      db_->CreateRelationship(Rel("LinesNotes", "Lines", {"OrderID", "LineNo"}, "Notes", {"OrderID", "LineNo"})).ok());
  EXPECT_TRUE(db_->InsertRows("Notes", {L({1, 10, 2}), L({2, 11, 1}), L({3, 11, std::nullopt})}).ok());
  EXPECT_EQ(db_->InsertRow("Notes", L({4, 11, 2})).code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(db_->InsertRow("Notes", L({5, 12, 1})).code(), ErrorCode::kInvalidArgument);

  // A relationship that is not enforced checks nothing.
  Relationship loose = Rel("Loose", "Customers", {"ID"}, "Notes", {"NoteID"});
  loose.enforced = false;
  ASSERT_TRUE(db_->CreateRelationship(loose).ok());
  EXPECT_TRUE(db_->InsertRow("Notes", L({77, std::nullopt, std::nullopt})).ok());
  ExpectSound({"Orders", "Notes"});
}

TEST_F(Enforcement, SelfReferenceAndCascadeThroughACycle) {
  AddTable("Staff", {"ID", "Boss"}, {"ID"});
  Relationship r = Rel("StaffStaff", "Staff", {"ID"}, "Staff", {"Boss"});
  r.cascade_delete = true;
  ASSERT_TRUE(db_->CreateRelationship(r).ok());
  // A row may name itself or an earlier row of the same call, not a later one.
  ASSERT_TRUE(db_->InsertRows("Staff", {L({1, 1}), L({2, 1}), L({3, 2}), L({4, std::nullopt})}).ok());
  EXPECT_EQ(db_->InsertRows("Staff", {L({6, 7}), L({7, 4})}).code(), ErrorCode::kInvalidArgument);
  ASSERT_TRUE(db_->InsertRows("Staff", {L({5, 4}), L({6, 5})}).ok());
  // Deleting the top of a chain takes the chain; the row naming itself ends the recursion.
  auto deleted = db_->DeleteRows("Staff", [](const Row& row) { return std::get<int32_t>(row[0]) == 1; });
  ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
  EXPECT_EQ(*deleted, 1u);
  EXPECT_EQ(Sorted(Rows("Staff")), Sorted({L({4, std::nullopt}), L({5, 4}), L({6, 5})}));
  ExpectSound({"Staff"});
}

TEST_F(Enforcement, DeleteRefusedCascadedOrSetToNull) {
  AddTable("Items", {"ItemID", "OrderID"}, {"ItemID"});
  CreatePrimaryKey("Orders", {"OrderID"});
  ASSERT_TRUE(db_->InsertRows("Items", {L({100, 10}), L({101, 10}), L({102, 11})}).ok());
  Relationship items = Rel("OrdersItems", "Orders", {"OrderID"}, "Items", {"OrderID"});
  ASSERT_TRUE(db_->CreateRelationship(items).ok());
  ASSERT_TRUE(db_->CreateRelationship(CustomersOrders()).ok());  // cascades deletes

  // Customer 1 cascades to order 10, whose items refuse: nothing at all is deleted.
  auto customer = [](int32_t id) { return [id](const Row& row) { return std::get<int32_t>(row[0]) == id; }; };
  auto refused = db_->DeleteRows("Customers", customer(1));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.status().code(), ErrorCode::kInvalidArgument);
  EXPECT_NE(refused.status().message().find("OrdersItems"), std::string::npos) << refused.status().ToString();
  EXPECT_NE(refused.status().message().find("'Items'"), std::string::npos);
  EXPECT_EQ(Rows("Customers").size(), 2u);
  EXPECT_EQ(Rows("Orders").size(), 3u);

  // With a cascade there too, two levels go.
  ASSERT_TRUE(db_->DropRelationship("OrdersItems").ok());
  items.cascade_delete = true;
  ASSERT_TRUE(db_->CreateRelationship(items).ok());
  auto deleted = db_->DeleteRows("Customers", customer(1));
  ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
  EXPECT_EQ(*deleted, 1u);
  EXPECT_EQ(Sorted(Rows("Orders")), Sorted({L({11, 2}), L({12, std::nullopt})}));
  EXPECT_EQ(Sorted(Rows("Items")), Sorted({L({102, 11})}));

  // Set Null: the referencing row stays with its key cleared.
  ASSERT_TRUE(db_->DropRelationship("CustomersOrders").ok());
  Relationship set_null = CustomersOrders();
  set_null.cascade_delete = false;
  set_null.cascade_null = true;
  ASSERT_TRUE(db_->CreateRelationship(set_null).ok());
  ASSERT_TRUE(db_->DeleteRows("Customers", customer(2)).ok());
  EXPECT_EQ(Sorted(Rows("Orders")), Sorted({L({11, std::nullopt}), L({12, std::nullopt})}));
  EXPECT_EQ(Sorted(Rows("Items")), Sorted({L({102, 11})}));
  ExpectSound({"Customers", "Orders", "Items"});
}

TEST_F(Enforcement, DropRelationshipDropTableAndRename) {
  ASSERT_TRUE(db_->CreateRelationship(CustomersOrders()).ok());
  for (const char* table : {"Customers", "Orders"}) {
    const Status s = db_->DropTable(table);
    EXPECT_EQ(s.code(), ErrorCode::kInvalidArgument) << table;
    EXPECT_NE(s.message().find("CustomersOrders"), std::string::npos) << s.ToString();
  }
  EXPECT_EQ(db_->DropRelationship("NoSuch").code(), ErrorCode::kNotFound);

  // Renaming keeps the relationship, its name for the table and its enforcement.
  ASSERT_TRUE(db_->RenameTable("Customers", "Clients").ok());
  auto list = db_->ListRelationships();
  ASSERT_TRUE(list.ok() && list->size() == 1u);
  EXPECT_EQ((*list)[0].primary_table, "Clients");
  EXPECT_EQ(db_->InsertRow("Orders", L({13, 99})).code(), ErrorCode::kInvalidArgument);
  ASSERT_TRUE(db_->CheckIntegrity().ok()) << db_->CheckIntegrity().ToString();
  if (testing::MdbToolsAvailable()) {
    auto schema = testing::MdbToolsSchema(path_.string(), "postgres");
    ASSERT_TRUE(schema.ok());
    EXPECT_NE(schema->find("Clients"), std::string::npos) << *schema;
  }

  // Dropping it takes both foreign-key indexes (and the index made for it) and the check.
  ASSERT_TRUE(db_->DropRelationship("customersorders").ok());
  EXPECT_TRUE(db_->ListRelationships()->empty());
  EXPECT_FALSE(HasForeignKeyIndex("Orders"));
  EXPECT_FALSE(HasForeignKeyIndex("Clients"));
  EXPECT_TRUE(db_->GetTable("Orders")->indexes.empty());
  ASSERT_TRUE(db_->InsertRow("Orders", L({13, 99})).ok());
  ExpectSound({"Orders"});
  if (testing::MdbToolsAvailable()) {
    auto schema = testing::MdbToolsSchema(path_.string(), "postgres");
    ASSERT_TRUE(schema.ok());
    EXPECT_EQ(schema->find("FOREIGN KEY"), std::string::npos) << *schema;
  }

  // Dropping a table with its relationships leaves the other table without its index.
  ASSERT_TRUE(db_->DeleteRows("Orders", [](const Row& row) { return std::get<int32_t>(row[0]) == 13; }).ok());
  Relationship again = CustomersOrders();
  again.primary_table = "Clients";
  ASSERT_TRUE(db_->CreateRelationship(again).ok());
  ASSERT_TRUE(db_->DropTable("Clients", DropTableMode::kWithRelationships).ok());
  EXPECT_TRUE(db_->ListRelationships()->empty());
  EXPECT_FALSE(HasForeignKeyIndex("Orders"));
  ExpectSound({"Orders"});
  db_.reset();
  auto reopened = Database::Open(path_.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(reopened.ok());
  EXPECT_TRUE((*reopened)->CheckIntegrity().ok()) << (*reopened)->CheckIntegrity().ToString();
  EXPECT_EQ((*reopened)->ListTables().value(), std::vector<std::string>{"Orders"});
}

TEST_F(Enforcement, KeyWithoutSortCodeIsRefusedWhereARelationshipNeedsIt) {
  CreateTable("Codes", {NewColumn("Code", ColumnType::kText, 10)}, {"Code"});
  CreateTable("Uses", {NewColumn("Code", ColumnType::kText, 10)});
  ASSERT_TRUE(db_->InsertRow("Codes", {std::string("abc")}).ok());
  ASSERT_TRUE(db_->CreateRelationship(Rel("CodesUses", "Codes", {"Code"}, "Uses", {"Code"})).ok());
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

// Writes a Long into the fixed area of a stored row, behind the engine's back.
void PatchFixedLong(const fs::path& path, RowPointer where, uint16_t fixed_offset, int32_t value) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  const std::streamoff page = std::streamoff{RowPointerPage(where)} * 4096;
  unsigned char entry[2];
  f.seekg(page + 14 + 2 * RowPointerRow(where));
  f.read(reinterpret_cast<char*>(entry), 2);
  const uint16_t offset = static_cast<uint16_t>((entry[0] | (entry[1] << 8)) & 0x1FFF);
  const auto v = static_cast<uint32_t>(value);
  const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                         static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
  f.seekp(page + offset + 2 + fixed_offset);
  f.write(bytes, 4);
}

TEST_F(Enforcement, CheckIntegrityFindsBrokenRelationships) {
  // An orphan under a relationship that is stored as not enforced...
  ASSERT_TRUE(db_->InsertRow("Orders", L({13, 99})).ok());
  Relationship r = CustomersOrders();
  r.enforced = false;
  ASSERT_TRUE(db_->CreateRelationship(r).ok());
  ASSERT_TRUE(db_->CheckIntegrity().ok());
  auto msys = db_->GetTable("MSysRelationships");
  ASSERT_TRUE(msys.ok());
  RowPointer row = 0;
  ASSERT_TRUE(db_->ScanRows(*msys,
                            [&](RowPointer where, const Row&) {
                              row = where;
                              return Status::Ok();
                            })
                  .ok());
  auto grbit = std::find_if(msys->columns.begin(), msys->columns.end(),
                            [](const ColumnDefinition& c) { return c.name == "grbit"; });
  ASSERT_NE(grbit, msys->columns.end());
  const uint16_t grbit_offset = grbit->fixed_offset;
  db_.reset();
  // ...then marked enforced by hand: its index pair is missing.
  PatchFixedLong(path_, row, grbit_offset, 0);
  auto db = Database::Open(path_.string(), OpenMode::kReadWrite);
  ASSERT_TRUE(db.ok());
  Status s = (*db)->CheckIntegrity();
  EXPECT_EQ(s.code(), ErrorCode::kCorrupt);
  EXPECT_NE(s.message().find("CustomersOrders"), std::string::npos) << s.ToString();
  EXPECT_NE(s.message().find("foreign-key index"), std::string::npos) << s.ToString();

  // With the pair in place, the row without a parent is named.
  ForeignKeyIndexSpec spec{"CustomersOrders", "Customers", {"ID"}, "Orders", {"CustomerID"}};
  ASSERT_TRUE((*db)->CreateForeignKeyIndexes(spec).ok());
  s = (*db)->CheckIntegrity();
  EXPECT_EQ(s.code(), ErrorCode::kCorrupt);
  for (const char* part : {"CustomersOrders", "'Orders' at page", "CustomerID='99'", "'Customers'"}) {
    EXPECT_NE(s.message().find(part), std::string::npos) << s.ToString();
  }
}

}  // namespace
}  // namespace tabulon::jet
