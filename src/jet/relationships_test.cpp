// Relationships: Access-written ones read back, new ones written with their foreign-key
// indexes, refused when rows already break them, and seen by mdbtools.
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
    auto r = std::find_if(list->begin(), list->end(),
                          [&](const Relationship& x) { return x.name == want["name"]; });
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

class RelationshipWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = fs::temp_directory_path() / ("tabulon_rel_" + std::to_string(getpid()) + ".mdb");
    fs::remove(path_);
    fs::remove(path_.string() + "-journal");
    auto db = Database::Create(path_.string());
    ASSERT_TRUE(db.ok());
    db_ = std::move(*db);
    TableDefinition customers;
    customers.name = "Customers";
    customers.columns = {NewColumn("ID", ColumnType::kLong), NewColumn("Name", ColumnType::kText, 40)};
    ASSERT_TRUE(db_->CreateTable(customers).ok());
    IndexSpec pk;
    pk.name = "PrimaryKey";
    pk.columns = {{"ID", true}};
    pk.primary = pk.unique = pk.required = true;
    ASSERT_TRUE(db_->CreateIndex("Customers", pk).ok());
    TableDefinition orders;
    orders.name = "Orders";
    orders.columns = {NewColumn("OrderID", ColumnType::kLong), NewColumn("CustomerID", ColumnType::kLong)};
    ASSERT_TRUE(db_->CreateTable(orders).ok());
    ASSERT_TRUE(db_->InsertRows("Customers", {{int32_t{1}, std::string("Ann")},
                                              {int32_t{2}, std::string("Bo")}}).ok());
    orders_ = {{int32_t{10}, int32_t{1}}, {int32_t{11}, int32_t{2}}, {int32_t{12}, Null{}}};
    ASSERT_TRUE(db_->InsertRows("Orders", orders_).ok());
  }
  void TearDown() override {
    db_.reset();
    fs::remove(path_);
  }
  static Relationship CustomersOrders() {
    Relationship r;
    r.name = "CustomersOrders";
    r.primary_table = "Customers";
    r.primary_columns = {"ID"};
    r.foreign_table = "Orders";
    r.foreign_columns = {"CustomerID"};
    r.cascade_delete = true;
    return r;
  }

  fs::path path_;
  std::unique_ptr<Database> db_;
  std::vector<Row> orders_;
};

TEST_F(RelationshipWrite, EnforcedRelationshipIsStoredWithItsIndexes) {
  ASSERT_TRUE(db_->CreateRelationship(CustomersOrders()).ok());
  Relationship loose;
  loose.name = "Loose";
  loose.primary_table = "Customers";
  loose.primary_columns = {"Name"};
  loose.foreign_table = "Customers";
  loose.foreign_columns = {"Name"};
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
                {NewColumn("OrderID", ColumnType::kLong), NewColumn("CustomerID", ColumnType::kLong)},
                orders_),
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

  ASSERT_EQ(*db_->DeleteRows("Orders", [](const Row& row) {
    return std::holds_alternative<int32_t>(row[1]) && std::get<int32_t>(row[1]) == 99;
  }), 1u);
  ASSERT_TRUE(db_->CreateRelationship(CustomersOrders()).ok());
  EXPECT_EQ(db_->CreateRelationship(CustomersOrders()).code(), ErrorCode::kAlreadyExists);
}

}  // namespace
}  // namespace tabulon::jet
