// Connection properties, the provider check, the tree built from a replayed catalogue, switching
// databases, and FreeTDS's failure paths for real (loopback only).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "data/error_text.h"
#include "data/providers/odbc/odbc_connection_string.h"
#include "source_sqlserver/connection.h"
#include "tests/source_sqlserver/source_test_util.h"

namespace tabulon::source_sqlserver {
namespace {

using namespace data;
using namespace workspace;
using tabulon::testing::kNull;

TEST(SourcePropertiesTest, ServerAndCatalogOrTheTcpProviderString) {
  ConnectionProfile profile{"Microsoft OLE DB Provider for SQL Server", "SQLOLEDB", "", "", "sa", "pw", ""};
  PropertySet set(DBPROPSET_DBINIT);
  EXPECT_TRUE(BuildSourceConnectionProperties(profile, &set));
  EXPECT_EQ(set.FindString(DBPROP_AUTH_PASSWORD), "pw");
  EXPECT_EQ(set.Find(DBPROP_INIT_DATASOURCE), nullptr);  // no data source, no catalog when empty
  EXPECT_EQ(set.Find(DBPROP_INIT_CATALOG), nullptr);

  profile.provider_display_name = "tcp/ip:port";
  profile.source_name = "db.example";
  PropertySet tcp(DBPROPSET_DBINIT);
  BuildSourceConnectionProperties(profile, &tcp);
  EXPECT_EQ(tcp.FindString(DBPROP_INIT_PROVIDERSTRING),
            ";Driver={SQL Server};Server=db.example;Address=db.example,1433;Network=DBMSSOCN;");
  profile.source_name = "db.example:2000";
  profile.catalog = "ShopDemo";
  PropertySet with_port(DBPROPSET_DBINIT);
  BuildSourceConnectionProperties(profile, &with_port);
  const std::string text = *with_port.FindString(DBPROP_INIT_PROVIDERSTRING);
  EXPECT_TRUE(text.ends_with("db.example,2000;Network=DBMSSOCN;Database=ShopDemo")) << text;
  EXPECT_EQ(with_port.FindString(DBPROP_INIT_DATASOURCE), std::nullopt);

  // The ODBC provider sends that string to FreeTDS with the port where FreeTDS reads it.
  EXPECT_EQ(MapSqlServerDriver(text, "FreeTDS"),
            "Driver=FreeTDS;Server=db.example;Network=DBMSSOCN;Database=ShopDemo;Port=2000;ClientCharset=UTF-8;TDS_"
            "Version=7.4");
  EXPECT_EQ(MapSqlServerDriver(text, "ODBC Driver 18 for SQL Server"),
            "Driver=ODBC Driver 18 for SQL "
            "Server;Server=db.example;Address=db.example,2000;Network=DBMSSOCN;Database=ShopDemo");
  EXPECT_EQ(MapSqlServerDriver("DSN=x;UID=u", "FreeTDS"), "DSN=x;UID=u");
}

TEST(ProviderCheckTest, FieldsFollowRegistrationDriversAndFiles) {
  ProviderFacts facts;
  EXPECT_EQ(FormatSqlServerProviders(facts),
            "Microsoft OLE DB Provider for SQL Server|Not Installed|Unusable|"
            "Microsoft OLE DB Provider for ODBC Drivers|Not Installed|Unusable|");
  facts.sql_server_provider_registered = facts.odbc_provider_registered = facts.driver_manager_usable = true;
  facts.drivers = {{"FreeTDS", {{"Driver", "libtdsodbc.so"}}}};  // its library is missing
  EXPECT_EQ(FormatSqlServerProviders(facts),
            "Microsoft OLE DB Provider for SQL Server|Installed|Unusable|"
            "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|Unusable|");
  // This machine: FreeTDS is installed by the set-up script, so everything is usable.
  EXPECT_EQ(CheckSqlServerProviders(),
            "Microsoft OLE DB Provider for SQL Server|Installed|Usable|"
            "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|Usable|");
}

// The items under `ids` as indented lines: "schema.text kind" (the kind as its number), "+" when
// expanded.
std::string Dump(const DbTree& tree, const std::vector<int>& ids, size_t depth = 0) {
  std::string text;
  for (const int id : ids) {
    const TreeNode& n = tree.node(id);
    text += std::string(2 * depth, ' ') + (n.schema.empty() ? "" : n.schema + ".") + n.text + " " +
            std::to_string(static_cast<int>(n.kind)) + (n.expanded ? " +" : "") + "\n" +
            Dump(tree, n.children, depth + 1);
  }
  return text;
}

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src_.script->SetDataSourceName("  sqlhost  ");
    src_.script->OnSchema(SchemaRowsetKind::kCatalogs, {}, {{"master"}, {"msdb"}, {"ShopDemo"}, {"tempdb"}});
    const std::optional<std::string> table = "TABLE", view = "VIEW";
    src_.script->OnSchema(SchemaRowsetKind::kTables, {kNull, kNull, kNull, table},
                          {{"ShopDemo", "dbo", "Customers", "TABLE"},
                           {"ShopDemo", "dbo", "Order Details", "TABLE"},
                           {"ShopDemo", "Sales", "Order", "TABLE"}});
    src_.script->OnSchema(SchemaRowsetKind::kTables, {kNull, kNull, kNull, view},
                          {{"ShopDemo", "dbo", "vCustomerOrders", "VIEW"},
                           {"ShopDemo", "INFORMATION_SCHEMA", "COLUMNS", "VIEW"},
                           {"ShopDemo", "sys", "all_columns", "VIEW"}});
    view_.connection = &src_.source;
    view_.output = &src_.pane;

    target_view_.side_kind = kTargetSideKind;
  }
  testing::ReplayedSource src_;
  DbTreeView view_, target_view_;
};

// Every table is listed (a name with a blank, another schema kept), system views are not, and
// each item has its kind.
TEST_F(TreeTest, SelectDatabaseBuildsTheTreeByTheRules) {
  src_.script->On("use [ShopDemo];").NoRowset();
  ASSERT_TRUE(SelectDatabase(view_, target_view_, "C:\\data/ShopDemo", 0));
  EXPECT_EQ(view_.current_database, "ShopDemo");
  EXPECT_EQ(Dump(view_.tree, view_.tree.top_level()),
            "sqlhost 0 +\n  master 1\n  msdb 1\n  ShopDemo 1 +\n    Tables 3\n      dbo.Customers 2\n"
            "      dbo.Order Details 2\n      Sales.Order 2\n    Views 9\n      dbo.vCustomerOrders 8\n  tempdb 1\n");
  // The items the commands work on.
  EXPECT_EQ(view_.tree.top_level(), std::vector<int>{view_.root_item});
  ASSERT_NE(view_.current_database_item, kNoItem);
  EXPECT_EQ(view_.tree.node(view_.current_database_item).text, "ShopDemo");
  EXPECT_EQ(view_.tree.node(view_.current_database_item).children,
            (std::vector<int>{view_.tables_folder, view_.views_folder}));
  EXPECT_TRUE(view_.user_messages.empty());

  // An unknown database: false, the name is kept, nothing is written.
  src_.script->On("use [No]]Such];").Fails("Database 'No]Such' does not exist.");
  EXPECT_FALSE(SelectDatabase(view_, target_view_, "No]Such", 0));
  EXPECT_EQ(view_.current_database, "No]Such");
  EXPECT_TRUE(src_.pane.Lines().empty());
  EXPECT_TRUE(SelectDatabase(view_, target_view_, "x", 7));
}

// A driver that lists no catalogs (or fails to): the server's own list stands in, and the
// current database matches it without regard to case.
TEST_F(TreeTest, TheDatabaseListFallsBackToTheServersOwn) {
  view_.database_list_statement = kDatabaseListStatement;
  src_.script->On(kDatabaseListStatement).Column("name", DBTYPE_WSTR, 128).Row({"master"}).Row({"ShopDemo"});
  for (const bool fails : {false, true}) {
    if (fails) {
      src_.script->FailSchema(SchemaRowsetKind::kCatalogs, {});
    } else {
      src_.script->OnSchema(SchemaRowsetKind::kCatalogs, {}, {});
    }
    view_.current_database = "shopdemo";
    view_.RefreshTree();
    EXPECT_EQ(view_.tree.ChildTexts(view_.root_item), (std::vector<std::string>{"master", "ShopDemo"}));
    ASSERT_NE(view_.current_database_item, kNoItem);
    EXPECT_EQ(view_.tree.ChildTexts(view_.tables_folder).size(), 3u);
  }
}

TEST_F(TreeTest, NoMatchingDatabasePutsTheFoldersAtTheTopAndANamelessSourceIsDatabases) {
  src_.script->SetDataSourceName(std::nullopt);
  view_.current_database = "Elsewhere";
  view_.RefreshTree();
  EXPECT_EQ(view_.user_messages, (std::vector<std::string>{"Get Datasource Name Error!"}));
  EXPECT_EQ(view_.tree.node(view_.root_item).text, "DATABASES");
  EXPECT_EQ(view_.current_database_item, kNoItem);
  EXPECT_EQ(view_.tree.ChildTexts(kNoItem), (std::vector<std::string>{"DATABASES", "Tables", "Views"}));
  // The current catalogue stands in for an empty database name; "null" means none.
  src_.script->SetCurrentCatalog("null");
  view_.current_database.clear();
  view_.RefreshTree();
  EXPECT_EQ(view_.tables_folder, kNoItem);
  view_.connection = nullptr;
  view_.RefreshTree();
  EXPECT_EQ(view_.tree.size(), 0u);
}

// --- FreeTDS for real ---------------------------------------------------------------------

int LoopbackSocket(bool listen_on_it, int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 || (listen_on_it && listen(fd, 4) != 0)) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  if (!listen_on_it) {
    close(fd);
    return 0;
  }
  return fd;
}

struct Attempt {
  Hresult code = S_OK;
  std::string error;
  double seconds = 0;
};

Attempt Connect(const std::string& provider, const ConnectionProfile& profile) {
  DbConnection connection;
  connection.profile = profile;
  connection.profile.provider_name = provider;
  PropertySet set(DBPROPSET_DBINIT);
  BuildSourceConnectionProperties(connection.profile, &set);
  set.AddI4(DBPROP_INIT_TIMEOUT, 2);
  const auto start = std::chrono::steady_clock::now();
  Attempt attempt;
  attempt.code = OpenDataSource(connection, {&set, 1});
  attempt.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  attempt.error = ErrorDescription(connection);
  return attempt;
}

TEST(FreeTdsFailureTest, AServerThatNeverAnswersTimesOut) {
  int port = 0;
  const int listener = LoopbackSocket(true, &port);
  ASSERT_GT(listener, 0);
  const Attempt attempt =
      Connect("SQLOLEDB", {"SQL Server", "SQLOLEDB", "127.0.0.1," + std::to_string(port), "master", "sa", "x", ""});
  close(listener);
  EXPECT_TRUE(Failed(attempt.code));
  EXPECT_NE(attempt.error.find("[FreeTDS]"), std::string::npos) << attempt.error;
  EXPECT_LT(attempt.seconds, 30);
}

// A refused port, through the server setting (its login text full of connection-string
// characters) and through the TCP/IP setting: FreeTDS says so.
TEST(FreeTdsFailureTest, RefusedPortsAndLoginTextWithConnectionStringCharacters) {
  int port = 0;
  ASSERT_EQ(LoopbackSocket(false, &port), 0);
  ConnectionProfile profile{"SQL Server", "SQLOLEDB", "127.0.0.1," + std::to_string(port), "Shop;Demo", "sa;Port=1",
                            "p}w;{x=",    ""};
  for (const Attempt& attempt :
       {Connect("SQLOLEDB", profile),
        Connect("MSDASQL", {"TCP/IP:Port", "MSDASQL", "127.0.0.1:" + std::to_string(port), "master", "sa", "x", ""})}) {
    EXPECT_TRUE(Failed(attempt.code));
    EXPECT_NE(attempt.error.find("[FreeTDS]"), std::string::npos) << attempt.error;
    EXPECT_LT(attempt.seconds, 10);
  }
}

}  // namespace
}  // namespace tabulon::source_sqlserver
