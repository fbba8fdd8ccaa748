// Saved queries: Access-written queries read back as Access SQL, views stored and read back,
// and the files opened by the independent readers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
const fs::path kAccess = fs::path(TABULON_SHARED_DIR) / "fixtures/access";

TEST(SavedQueryFixture, EveryAccessQueryReadsBackAsItsSql) {
  const fs::path mdb = kAccess / "queryTestV2000.mdb";
  if (!fs::exists(mdb)) GTEST_SKIP() << "no fixture " << mdb;
  const nlohmann::json expected = nlohmann::json::parse(std::ifstream(kAccess / "queryTestV2000.json"));
  auto db = Database::Open(mdb.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto queries = (*db)->ListQueries();
  ASSERT_TRUE(queries.ok()) << queries.status().ToString();
  ASSERT_EQ(queries->size(), expected["queries"].size());
  for (const auto& q : expected["queries"]) {
    SCOPED_TRACE(q["name"].get<std::string>());
    auto sql = (*db)->GetQuerySql(q["name"].get<std::string>());
    ASSERT_TRUE(sql.ok()) << sql.status().ToString();
    std::string want = q["sql"].get<std::string>();
    // DDL and pass-through text as stored ends with a NUL the dump keeps.
    if (!want.empty() && want.back() == '\0') want.pop_back();
    EXPECT_EQ(*sql, want);
    const auto found =
        std::find_if(queries->begin(), queries->end(), [&](const SavedQuery& s) { return s.name == q["name"]; });
    ASSERT_NE(found, queries->end());
    EXPECT_EQ(found->object_id, q["objectId"].get<int32_t>());
    EXPECT_EQ(found->object_flags, q["objectFlag"].get<int32_t>());
  }
}

ViewDefinition CustomersWithOrders() {
  ViewDefinition v;
  v.name = "Big Orders";
  v.columns = {{"Customers.ID", ""}, {"Customers.Name", ""}, {"Orders.OrderDate", "Ordered"}};
  v.tables = {{"Customers", ""}, {"Orders", ""}};
  v.joins = {{"Customers", "Orders", JoinKind::kInner, "Customers.ID = Orders.CustomerID"}};
  v.where = "(((Orders.OrderID)>100) AND ((Customers.Name) Like \"O'*\"))";
  v.order_by = {{"Customers.Name", true}};
  return v;
}

// Refused before anything is written: a join to a table the view does not read, no columns, a
// TOP that is not a number, a query in FROM without an alias, a union of one operand; rows
// without a start cannot be read back.
TEST(SavedQueryRows, RefusesViewsThatCannotBeStored) {
  for (const auto& spoil : std::vector<std::function<void(ViewDefinition&)>>{
           [](ViewDefinition& v) { v.joins[0].right = "Invoices"; }, [](ViewDefinition& v) { v.columns.clear(); },
           [](ViewDefinition& v) { v.top = "1; DROP"; },
           [](ViewDefinition& v) {
             v.tables.push_back({"SELECT 1 FROM Orders", "", true});
           },
           [](ViewDefinition& v) { v.union_first = "SELECT 1 FROM Orders"; }}) {
    ViewDefinition v = CustomersWithOrders();
    spoil(v);
    EXPECT_EQ(EncodeViewRows(v).status().code(), ErrorCode::kInvalidArgument);
  }
  EXPECT_EQ(RenderQuerySql({}).status().code(), ErrorCode::kCorrupt);
}

TEST(SavedQueryWrite, ViewsAreStoredReadBackAndDropped) {
  const std::vector<ColumnDefinition> kCustomerColumns = {NewColumn("ID", ColumnType::kLong),
                                                          NewColumn("Name", ColumnType::kText, 50)};
  const fs::path path = testing::ScratchFile("saved_query", "views.mdb");
  {
    auto db = Database::Create(path.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE((*db)->CreateTable(testing::NewTable("Customers", kCustomerColumns)).ok());
    ASSERT_TRUE((*db)
                    ->CreateTable(testing::NewTable(
                        "Orders", {NewColumn("OrderID", ColumnType::kLong), NewColumn("CustomerID", ColumnType::kLong),
                                   NewColumn("OrderDate", ColumnType::kDateTime)}))
                    .ok());
    ASSERT_TRUE((*db)->InsertRow("Customers", {int32_t{1}, std::string("O'Hara")}).ok());

    ASSERT_TRUE((*db)->CreateView(CustomersWithOrders()).ok());
    ViewDefinition all;
    all.name = "AllCustomers";
    all.select_all = true;
    all.tables = {{"Customers", "C"}};
    all.where = "(C.Name Like \"" + std::string(150, 'x') + "*\")";  // a long value of its own
    ASSERT_TRUE((*db)->CreateView(all).ok());

    // A taken name is refused whatever its case.
    ViewDefinition clash = all;
    clash.name = "customers";
    EXPECT_EQ((*db)->CreateView(clash).code(), ErrorCode::kAlreadyExists);
  }
  {
    auto db = Database::Open(path.string(), OpenMode::kReadWrite);
    ASSERT_TRUE(db.ok());
    auto sql = (*db)->GetQuerySql("big orders");
    ASSERT_TRUE(sql.ok()) << sql.status().ToString();
    EXPECT_EQ(*sql,
              "SELECT Customers.ID, Customers.Name, Orders.OrderDate AS Ordered\n"
              "FROM Customers INNER JOIN Orders ON Customers.ID = Orders.CustomerID\n"
              "WHERE (((Orders.OrderID)>100) AND ((Customers.Name) Like \"O'*\"))\n"
              "ORDER BY Customers.Name DESC;");
    EXPECT_EQ(*(*db)->GetQuerySql("AllCustomers"),
              "SELECT *\nFROM Customers AS C\nWHERE (C.Name Like \"" + std::string(150, 'x') + "*\");");
    auto queries = (*db)->ListQueries();
    ASSERT_EQ(queries->size(), 2u);
    // Synthetic ids count up from 0x80000000 like Access's.
    EXPECT_EQ((*queries)[0].object_id, INT32_MIN + 1);
    EXPECT_EQ((*queries)[1].object_id, INT32_MIN);
  }
  if (testing::MdbToolsAvailable()) {
    auto names = testing::MdbToolsQueries(path.string()).value();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"AllCustomers", "Big Orders"}));
    const std::string text = testing::MdbToolsQuerySql(path.string(), "Big Orders").value();
    EXPECT_NE(text.find("FROM [Customers],[Orders]"), std::string::npos) << text;
  }
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), "Customers", kCustomerColumns,
                                             {{int32_t{1}, std::string("O'Hara")}}),
            "");
  {
    auto db = Database::Open(path.string(), OpenMode::kReadWrite);
    ASSERT_TRUE((*db)->DropQuery("Big Orders").ok());
    EXPECT_EQ((*db)->DropQuery("Big Orders").code(), ErrorCode::kNotFound);
    EXPECT_EQ((*db)->ListQueries()->size(), 1u);
    EXPECT_TRUE((*db)->CheckIntegrity().ok());
    EXPECT_EQ((*db)->GetQuerySql("Big Orders").status().code(), ErrorCode::kNotFound);
  }
  fs::remove(path);
}

// Every query of an Access file, stored from its rows in a new file, reads back with the same
// rows, flags and SQL; the file stays sound and mdbtools lists the queries.
TEST(SavedQueryWrite, EveryAccessQueryIsStoredFromItsRows) {
  const fs::path mdb = kAccess / "queryTestV2000.mdb";
  if (!fs::exists(mdb)) GTEST_SKIP() << "no fixture " << mdb;
  auto source = Database::Open(mdb.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(source.ok()) << source.status().ToString();
  const std::vector<SavedQuery> queries = (*source)->ListQueries().value();
  const fs::path path = testing::ScratchFile("saved_query", "copied.mdb");
  {
    auto db = Database::Create(path.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    for (const SavedQuery& q : queries) ASSERT_TRUE((*db)->CreateQuery(q).ok()) << q.name;
    EXPECT_EQ((*db)->CreateQuery(queries.front()).code(), ErrorCode::kAlreadyExists);
  }
  auto db = Database::Open(path.string(), OpenMode::kReadWrite);
  ASSERT_TRUE(db.ok());
  const std::vector<SavedQuery> copied = (*db)->ListQueries().value();
  ASSERT_EQ(copied.size(), queries.size());
  std::vector<std::string> names;
  for (size_t i = 0; i < queries.size(); ++i) {
    SCOPED_TRACE(queries[i].name);
    EXPECT_EQ(copied[i].name, queries[i].name);
    EXPECT_EQ(copied[i].object_flags, queries[i].object_flags);
    EXPECT_EQ(copied[i].rows, queries[i].rows);
    EXPECT_EQ((*db)->GetQuerySql(queries[i].name).value(), (*source)->GetQuerySql(queries[i].name).value());
    names.push_back(queries[i].name);
  }
  EXPECT_TRUE((*db)->CheckIntegrity().ok());

  // Rows that do not make a query are refused, naming the query and the row.
  const std::vector<QueryRow> good = queries.front().rows;
  for (const auto& spoil : std::vector<std::function<void(SavedQuery&)>>{
           [](SavedQuery& q) { q.name.clear(); }, [](SavedQuery& q) { q.name = std::string(65, 'q'); },
           [](SavedQuery& q) { q.rows.erase(q.rows.begin()); },  // no start
           [](SavedQuery& q) { q.rows.pop_back(); },             // no end
           [](SavedQuery& q) { q.rows[1].flag = 10; },           // unknown kind
           [](SavedQuery& q) { q.rows.push_back(q.rows[1]); },   // two kinds
           [](SavedQuery& q) { q.rows[1].attribute = 12; },      // unknown attribute
           [](SavedQuery& q) { q.rows[1].name1 = std::string(256, 'n'); },
           [](SavedQuery& q) { q.rows[1].expression = std::string("\xff"); }}) {
    SavedQuery q{"Spoilt", 0, 0, good};
    spoil(q);
    const Status status = (*db)->CreateQuery(q);
    EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument) << status.ToString();
  }
  EXPECT_EQ((*db)->ListQueries()->size(), queries.size());
  db->reset();
  if (testing::MdbToolsAvailable()) {
    auto listed = testing::MdbToolsQueries(path.string()).value();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, names);
  }
  fs::remove(path);
}

}  // namespace
}  // namespace tabulon::jet
