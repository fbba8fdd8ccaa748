// Views read back: CREATE VIEW stores the SELECT as a saved query whose Access SQL text (as
// Access itself renders saved queries) is the SELECT that was written, for the queries Access
// wrote into the fixture file, for views written by hand and for a view as it arrives from
// SQL Server. mdb-queries lists them and shows their heads.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_files.h"
#include "jetsql/executor.h"

namespace tabulon::jetsql {
namespace {

namespace fs = std::filesystem;

std::string FixtureSql(const std::string& name) {
  std::ifstream in(fs::path(TABULON_SHARED_DIR) / "fixtures/access/queryTestV2000.json");
  if (!in) return {};
  const nlohmann::json fixture = nlohmann::json::parse(in);
  for (const auto& q : fixture["queries"]) {
    if (q["name"] == name) return q["sql"].get<std::string>();
  }
  return {};
}

TEST(ViewRoundTrip, StoredViewsReadBackAsTheirSelect) {
  const fs::path file = testing::ScratchFile("view_round_trip", "views.mdb");
  fs::remove(file.string() + "-journal");
  auto db = jet::Database::Create(file.string());
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  Session session(**db);
  for (const char* sql : {"create table Table1 (col1 Text(50), col2 Text(50), col3 Text(50))",
                          "create table Table2 (col1 Text(50), col2 Text(50), col3 Text(50))",
                          "create table Table3 (col1 Text(50), col2 Text(50), col3 Text(50))",
                          "create table Customers (CustomerID Long, Name Text(50))",
                          "create table Orders (OrderID Long, CustomerID Long, OrderDate DateTime, Total Currency)",
                          "create table OrderLines (OrderID Long, Qty Short)"}) {
    ASSERT_TRUE(session.Execute(sql).ok()) << sql;
  }
  std::vector<std::pair<std::string, std::string>> views;  // name, SELECT as Access shows it
  if (std::string select = FixtureSql("SelectQuery"); !select.empty()) {
    views.emplace_back("SelectQuery", select);
  }
  if (std::string make = FixtureSql("MakeTableQuery"); !make.empty()) {
    make.erase(make.find(" INTO Table4"), 12);  // the same SELECT without its target
    views.emplace_back("Grouped", make);
  }
  views.emplace_back("Nested",
                     "SELECT TOP 10 PERCENT c.Name AS Who, Count(*) AS N, Sum([o].[Total]*2) AS Twice\n"
                     "FROM Customers AS c LEFT JOIN (Orders AS o INNER JOIN OrderLines AS l ON "
                     "o.OrderID = l.OrderID) ON c.CustomerID = o.CustomerID\n"
                     "WHERE (((o.OrderDate) Between #1/1/2011# And #12/31/2011#) AND ((l.Qty)>0))\n"
                     "GROUP BY c.Name\nHAVING (((Count(*))>1))\nORDER BY Count(*) DESC, c.Name;");
  views.emplace_back("Everything", "SELECT DISTINCTROW *\nFROM Customers, Orders;");
  for (const auto& [name, select] : views) {
    SCOPED_TRACE(name);
    auto created = session.Execute("CREATE VIEW [" + name + "] AS " + select);
    ASSERT_TRUE(created.ok()) << created.status().ToString();
    auto sql = (*db)->GetQuerySql(name);
    ASSERT_TRUE(sql.ok()) << sql.status().ToString();
    EXPECT_EQ(*sql, select);
  }

  // As the migration sends a SQL Server view: head, schema prefixes, line ends, bare JOIN.
  ASSERT_TRUE(session
                  .Execute("CREATE VIEW dbo.vCustomerOrders\r\nAS\r\n\nSELECT c.CustomerID, c.Name, "
                           "o.OrderID, o.OrderDate, o.Total\r\nFROM dbo.Customers AS c\r\nJOIN "
                           "dbo.Orders AS o ON o.CustomerID = c.CustomerID\r\n")
                  .ok());
  EXPECT_EQ(*(*db)->GetQuerySql("vCustomerOrders"),
            "SELECT c.CustomerID, c.Name, o.OrderID, o.OrderDate, o.Total\n"
            "FROM Customers AS c INNER JOIN Orders AS o ON o.CustomerID = c.CustomerID;");
  ASSERT_TRUE((*db)->CheckIntegrity().ok());
  db->reset();

  if (!testing::MdbToolsAvailable()) GTEST_SKIP() << "mdbtools not installed";
  auto list = testing::MdbToolsQueries(file.string());
  ASSERT_TRUE(list.ok()) << list.status().ToString();
  for (const auto& [name, select] : views) EXPECT_NE(std::find(list->begin(), list->end(), name), list->end()) << name;
  EXPECT_EQ(testing::MdbToolsQuerySql(file.string(), "vCustomerOrders")
                .value()
                .rfind("SELECT c.CustomerID,c.Name,o.OrderID,o.OrderDate,o.Total FROM [Customers],[Orders]", 0),
            0u);
  EXPECT_EQ(testing::MdbToolsQuerySql(file.string(), "Nested").value().rfind("SELECT TOP 10 PERCENT c.Name,", 0), 0u);
}

}  // namespace
}  // namespace tabulon::jetsql
