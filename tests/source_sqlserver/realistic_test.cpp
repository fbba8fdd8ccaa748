// The replayed Tradewind database (fixtures/realistic.replay): every built-in SQL Server type,
// composite keys, several unique indexes on one table, multi-column relationships, a table
// outside dbo, reserved-word names, views with comments and a line longer than one
// sp_helptext row, and 10,000 generated rows with NULLs, quotes, unicode and long values.
// Everything is migrated into a real .mdb through the built-in Jet provider and read back by
// mdb-reader and mdbtools.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "source_sqlserver/connection.h"
#include "source_sqlserver/translate.h"
#include "tests/source_sqlserver/source_test_util.h"

namespace tabulon::source_sqlserver {
namespace {

using namespace data;
using namespace workspace;
using tabulon::testing::kNull;
using tabulon::testing::Shown;
using Values = std::vector<std::optional<std::string>>;

constexpr size_t kEventRows = 10000;

// The tables in migration order (referenced tables first); "Order Details" is only listed by
// the catalogue, the tree leaves it out.
const std::vector<SourceTable> kTables = {{"Sales", "Regions"}, "Customers",  "Products",    "Order",    "OrderLines",
                                          "Shipments",          "Warehouses", "StockLevels", "EventLog", "AllTypes"};

// EventLog row `i` as FreeTDS hands it over: NULLs, empty strings, quotes, pipes, backslashes,
// unicode beyond the BMP and every 97th message 6,000 characters long.
void MakeEventRow(size_t i, Values& v) {
  const auto n = std::to_string(i);
  char at[32];
  std::snprintf(at, sizeof at, "2024-%02zu-%02zu %02zu:%02zu:%02zu.%02zu%c", 1 + i / 1000 % 12, 1 + i / 40 % 28, i % 24,
                i % 60, i * 7 % 60, i % 100, "037"[i % 3]);
  v[0] = std::to_string(i + 1);
  v[1] = at;
  v[2] = i % 7 == 0 ? kNull : std::optional<std::string>(std::to_string(i % 6));
  v[3] = i % 11 == 0 ? kNull : i % 11 == 1 ? "" : "app-" + std::to_string(i % 17) + (i % 5 == 0 ? "'s \"svc\"|x" : "");
  v[4] = i % 13 == 0 ? kNull : i % 3 == 0 ? "Ærøskøbing\\Ølstykke" : i % 3 == 1 ? "用户" + n : "o'neil";
  if (i % 19 == 0) {
    v[5] = kNull;
  } else if (i % 97 == 0) {
    std::string text;
    while (text.size() < 6000) text += "Größe 𝄞 '" + n + "' ";
    v[5] = text;
  } else {
    v[5] = "Event " + n + " said 'hello' — “done” ✓\r\nline 2";
  }
  if (i % 3 == 0) {
    v[6] = kNull;
  } else {
    const long cents = static_cast<long>(i * 37 % 100000) - 50000;
    char amount[32];
    std::snprintf(amount, sizeof amount, "%s%ld.%02ld", cents < 0 ? "-" : "", std::labs(cents) / 100,
                  std::labs(cents) % 100);
    v[6] = amount;
  }
  char payload[16];
  std::snprintf(payload, sizeof payload, "%08zx", i * 2654435761u % 0xFFFFFFFFu);
  v[7] = i % 4 == 0 ? kNull : std::optional<std::string>(payload);
}

void RecordEventLogRows(tabulon::testing::ReplayScript& script) {
  script.On(BuildSelectRowsStatement(SourceTable("EventLog"), ""))
      .Column("EventID", DBTYPE_I4, 0, DBCOLUMNFLAGS_ISFIXEDLENGTH)
      .Column("LoggedAt", DBTYPE_DBTIMESTAMP, 0, DBCOLUMNFLAGS_ISFIXEDLENGTH)
      .Column("Level", DBTYPE_UI1)
      .Column("Source", DBTYPE_STR, 50)
      .Column("User", DBTYPE_WSTR, 60)
      .Column("Message", DBTYPE_WSTR, 0, DBCOLUMNFLAGS_ISLONG | DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL)
      .Column("Amount", DBTYPE_NUMERIC, 0, DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL, 12, 2)
      .Column("Payload", DBTYPE_BYTES, 0, DBCOLUMNFLAGS_ISLONG | DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL)
      .Generated(kEventRows, MakeEventRow);
}

class RealisticTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::LoadFixture(*src_.script, "realistic.replay", true);
    RecordEventLogRows(*src_.script);
  }

  testing::ReplayedSource src_;
};

TEST_F(RealisticTest, EveryTableKeyIndexRelationshipAndRowArrivesInAnMdb) {
  const std::string folder =
      std::filesystem::temp_directory_path() / ("tabulon_realistic_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/Tradewind.mdb";
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, path);
  std::vector<std::string> errors;
  ASSERT_EQ(JetProvider().CreateDataSource({&init, 1}, &errors), S_OK);
  src_.target.profile.provider_name = kJetProviderName;
  ASSERT_EQ(OpenDataSource(src_.target, {&init, 1}), S_OK);
  ASSERT_EQ(OpenSession(src_.target), S_OK);
  Session* target = src_.target.session.get();
  src_.owner.work_folder = folder;

  for (const SourceTable& table : kTables) {
    SCOPED_TRACE(table.name);
    testing::RunPieces(target, Shown(TranslateTableDefinition(src_.owner, src_.session(), "Tradewind", table)),
                       &src_.pane);
    testing::RunPieces(target, Shown(TranslatePrimaryKey(src_.owner, src_.session(), "Tradewind", table)), &src_.pane);
    testing::RunPieces(target, Shown(TranslateUniqueIndexes(src_.owner, src_.session(), "Tradewind", table)),
                       &src_.pane);
    EXPECT_EQ(Shown(TransferTableRows(src_.owner, src_.session(), target, "Tradewind", table)), "true");
  }
  for (const SourceTable& table : kTables) {
    testing::RunPieces(target, Shown(TranslateForeignKeys(src_.owner, src_.session(), "Tradewind", table)), &src_.pane);
  }
  // Comments go, the long select line cut into two rows is whole again, "--" inside quotes stays.
  const std::string active = Shown(TranslateViewDefinition(src_.owner, src_.session(), "Tradewind", "vActiveProducts"));
  EXPECT_NE(active.find("Name <> 'n/a -- none'"), std::string::npos) << active;
  EXPECT_EQ(active.find("EUR"), std::string::npos) << active;
  const std::string orders = Shown(TranslateViewDefinition(src_.owner, src_.session(), "Tradewind", "vCustomerOrders"));
  EXPECT_NE(orders.find("p.Name AS ProductName, l.Qty * l.UnitPrice AS LineAmount \n"), std::string::npos) << orders;
  EXPECT_EQ(orders.find("report"), std::string::npos) << orders;
  testing::RunPieces(target, active, &src_.pane);
  testing::RunPieces(target, orders, &src_.pane);
  for (const std::string& line : testing::OutputTexts(src_.pane)) {
    EXPECT_EQ(line.find("failed"), std::string::npos) << line;
    EXPECT_EQ(line.find("not inserted"), std::string::npos) << line;
    EXPECT_EQ(line.find("left out"), std::string::npos) << line;
  }
  CloseConnection(src_.target);

  if (!tabulon::testing::MdbToolsAvailable() || !tabulon::testing::MdbReaderAvailable()) {
    GTEST_SKIP() << "mdbtools or mdb-reader is not installed";
  }
  // Every row, value by value, in both readers.
  for (const SourceTable& table : kTables) {
    const testing::AccessTableContent expected = testing::ExpectedAccessTable(*src_.script, table);
    EXPECT_EQ(tabulon::testing::CompareTableWithReaders(path, table.name, expected.columns, expected.rows), "")
        << table.name;
  }
  // Keys, unique indexes and relationships as mdb-schema's postgres backend prints them.
  Result<std::string> schema = tabulon::testing::MdbToolsSchema(path, "postgres");
  ASSERT_TRUE(schema.ok()) << schema.status().ToString();
  auto count = [&](std::string_view what) {
    size_t n = 0;
    for (size_t at = schema->find(what); at != std::string::npos; at = schema->find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("PRIMARY KEY"), kTables.size()) << *schema;
  EXPECT_EQ(count("CREATE UNIQUE INDEX"), 5u) << *schema;
  EXPECT_EQ(count("FOREIGN KEY"), 9u) << *schema;  // one line per column pair
  for (const char* wanted :
       {"PRIMARY KEY (\"sitecode\", \"bin\", \"productid\")", "ON \"customers\" (\"country\", \"taxnumber\" DESC)",
        "\"OrderLines\" ADD CONSTRAINT \"orderlines_orderid_fk\" FOREIGN KEY (\"orderid\") REFERENCES \"Order\"",
        "FOREIGN KEY (\"regioncode\") REFERENCES \"Regions\"(\"regioncode\")"}) {
    EXPECT_NE(schema->find(wanted), std::string::npos) << wanted << "\n" << *schema;
  }
  // A two-column relationship is one relationship of two columns, in key order.
  Result<tabulon::testing::ReaderTable> relationships = tabulon::testing::MdbToolsExport(path, "MSysRelationships");
  ASSERT_TRUE(relationships.ok()) << relationships.status().ToString();
  std::vector<std::string> pairs;
  for (const auto& row : relationships->rows)
    pairs.push_back(*row[0] + " " + *row[2] + " " + *row[3] + " " + *row[4] + "." + *row[5] + " -> " + *row[6] + "." +
                    *row[7]);
  EXPECT_EQ(pairs,
            (std::vector<std::string>{"FK_Customers_Regions 1 0 Customers.RegionCode -> Regions.RegionCode",
                                      "FK_Order_Customers 1 0 Order.CustomerID -> Customers.CustomerID",
                                      "FK_OrderLines_Order 1 0 OrderLines.OrderID -> Order.OrderID",
                                      "FK_OrderLines_Products 1 0 OrderLines.ProductID -> Products.ProductID",
                                      "FK_Shipments_OrderLines 2 0 Shipments.OrderID -> OrderLines.OrderID",
                                      "FK_Shipments_OrderLines 2 1 Shipments.LineNumber -> OrderLines.LineNumber",
                                      "FK_StockLevels_Products 1 0 StockLevels.ProductID -> Products.ProductID",
                                      "FK_StockLevels_Warehouses 2 0 StockLevels.SiteCode -> Warehouses.SiteCode",
                                      "FK_StockLevels_Warehouses 2 1 StockLevels.Bin -> Warehouses.Bin"}));
  // Both views are saved queries another reader finds.
  Result<std::vector<std::string>> queries = tabulon::testing::MdbToolsQueries(path);
  ASSERT_TRUE(queries.ok()) << queries.status().ToString();
  EXPECT_EQ(*queries, (std::vector<std::string>{"vActiveProducts", "vCustomerOrders"}));
  Result<std::string> active_sql = tabulon::testing::MdbToolsQuerySql(path, "vActiveProducts");
  ASSERT_TRUE(active_sql.ok());
  EXPECT_NE(active_sql->find("WHERE Discontinued = 0 AND Name <> 'n/a -- none'"), std::string::npos) << *active_sql;
  std::filesystem::remove_all(folder);
}

TEST_F(RealisticTest, TheTreeLeavesOutBlanksAndSystemViews) {
  src_.script->SetDataSourceName("sqlhost");
  src_.script->OnSchema(SchemaRowsetKind::kCatalogs, {}, {{"master"}, {"msdb"}, {"tempdb"}, {"Tradewind"}});
  std::vector<std::vector<std::optional<std::string>>> tables, views;
  for (const char* name : {"AllTypes", "Customers", "EventLog", "Order", "Order Details", "OrderLines", "Products",
                           "Shipments", "StockLevels", "Warehouses"}) {
    tables.push_back({"Tradewind", "dbo", name, "TABLE"});
  }
  tables.push_back({"Tradewind", "Sales", "Regions", "TABLE"});
  for (const auto& [schema, name] :
       {std::pair{"dbo", "vActiveProducts"}, std::pair{"dbo", "vCustomerOrders"},
        std::pair{"INFORMATION_SCHEMA", "COLUMNS"}, std::pair{"INFORMATION_SCHEMA", "VIEWS"},
        std::pair{"sys", "all_columns"}, std::pair{"sys", "objects"}}) {
    views.push_back({"Tradewind", schema, name, "VIEW"});
  }
  src_.script->OnSchema(SchemaRowsetKind::kTables, {kNull, kNull, kNull, "TABLE"}, tables);
  src_.script->OnSchema(SchemaRowsetKind::kTables, {kNull, kNull, kNull, "VIEW"}, views);
  DbTreeView view, target_view;
  view.connection = &src_.source;
  view.output = &src_.pane;
  target_view.side_kind = kTargetSideKind;

  // "use" answers with the 5701 message, as FreeTDS does: still a success.
  ASSERT_TRUE(SelectDatabase(view, target_view, "Tradewind", 0));
  const DbTree& tree = view.tree;
  EXPECT_EQ(tree.ChildTexts(view.root_item), (std::vector<std::string>{"master", "msdb", "tempdb", "Tradewind"}));
  ASSERT_NE(view.current_database_item, kNoItem);
  EXPECT_EQ(tree.ChildTexts(view.tables_folder),
            (std::vector<std::string>{"AllTypes", "Customers", "EventLog", "Order", "OrderLines", "Products",
                                      "Shipments", "StockLevels", "Warehouses", "Regions"}));
  EXPECT_EQ(tree.node(tree.node(view.tables_folder).children.back()).schema, "Sales");
  EXPECT_EQ(tree.ChildTexts(view.views_folder), (std::vector<std::string>{"vActiveProducts", "vCustomerOrders"}));
  EXPECT_TRUE(view.user_messages.empty());
}

}  // namespace
}  // namespace tabulon::source_sqlserver
