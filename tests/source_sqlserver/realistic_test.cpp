// The replayed Tradewind database (fixtures/realistic.replay) as the source tree shows it. Its
// migration into a real .mdb, value by value, is the SQL Server end-to-end test of
// tests/converters/flows_test.cpp.
#include <gtest/gtest.h>

#include "source_sqlserver/connection.h"
#include "tests/source_sqlserver/source_test_util.h"

namespace tabulon::source_sqlserver {
namespace {

using namespace data;
using namespace workspace;
using tabulon::testing::kNull;

class RealisticTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::LoadFixture(*src_.script, "realistic.replay", true); }

  testing::ReplayedSource src_;
};

TEST_F(RealisticTest, TheTreeListsEveryTableAndLeavesOutSystemViews) {
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
            (std::vector<std::string>{"AllTypes", "Customers", "EventLog", "Order", "Order Details", "OrderLines",
                                      "Products", "Shipments", "StockLevels", "Warehouses", "Regions"}));
  EXPECT_EQ(tree.node(tree.node(view.tables_folder).children.back()).schema, "Sales");
  EXPECT_EQ(tree.ChildTexts(view.views_folder), (std::vector<std::string>{"vActiveProducts", "vCustomerOrders"}));
  EXPECT_TRUE(view.user_messages.empty());
}

}  // namespace
}  // namespace tabulon::source_sqlserver
