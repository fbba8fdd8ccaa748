// The replayed ShopDemo database migrated into a real .mdb by the built-in Jet provider, then
// read back by the independent readers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "jet_readers.h"
#include "source_sqlserver/translate.h"
#include "tests/source_sqlserver/source_test_util.h"

namespace tabulon::source_sqlserver {
namespace {

using namespace data;

TEST(MigrationTest, ShopDemoArrivesWholeInAnMdb) {
  testing::ReplayedSource src;
  testing::LoadFixture(*src.script, "shopdemo.replay", true);
  const std::string folder = std::filesystem::temp_directory_path() / ("tabulon_shop_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/ShopDemo.mdb";
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, path);
  std::vector<std::string> errors;
  ASSERT_EQ(JetProvider().CreateDataSource({&init, 1}, &errors), S_OK);
  src.target.profile.provider_name = kJetProviderName;
  ASSERT_EQ(OpenDataSource(src.target, {&init, 1}), S_OK);
  ASSERT_EQ(OpenSession(src.target), S_OK);
  Session* target = src.target.session.get();
  src.owner.work_folder = folder;

  for (const char* table : {"Customers", "Orders", "OrderLines"}) {
    testing::RunPieces(target, TranslateTableDefinition(src.owner, src.session(), "ShopDemo", table), &src.pane);
    testing::RunPieces(target, TranslatePrimaryKey(src.owner, src.session(), "ShopDemo", table), &src.pane);
    testing::RunPieces(target, TranslateUniqueIndexes(src.owner, src.session(), "ShopDemo", table), &src.pane);
    EXPECT_EQ(TransferTableRows(src.owner, src.session(), target, "ShopDemo", table), "true");
  }
  for (const char* table : {"Orders", "OrderLines"}) {
    testing::RunPieces(target, TranslateForeignKeys(src.owner, src.session(), "ShopDemo", table), &src.pane);
  }
  testing::RunPieces(target, TranslateViewDefinition(src.owner, src.session(), "ShopDemo", "vCustomerOrders"), &src.pane);
  for (const std::string& line : testing::OutputTexts(src.pane)) {
    EXPECT_EQ(line.find("failed"), std::string::npos) << line;
    EXPECT_EQ(line.find("not inserted"), std::string::npos) << line;
  }
  CloseConnection(src.target);

  if (!tabulon::testing::MdbToolsAvailable()) GTEST_SKIP() << "mdbtools is not installed";
  Result<tabulon::testing::ReaderTable> customers = tabulon::testing::MdbToolsExport(path, "Customers");
  ASSERT_TRUE(customers.ok()) << customers.status().ToString();
  ASSERT_EQ(customers->rows.size(), 3u);
  EXPECT_EQ(customers->rows[2][1], "Müller & Söhne");
  EXPECT_EQ(customers->rows[1][2], std::nullopt);
  EXPECT_EQ(customers->rows[0][3], "2011-03-20 14:05:09.123");
  Result<tabulon::testing::ReaderTable> orders = tabulon::testing::MdbToolsExport(path, "Orders");
  ASSERT_TRUE(orders.ok());
  ASSERT_EQ(orders->rows.size(), 3u);
  EXPECT_EQ(orders->rows[2][4], "line 1\r\nline 2");
  // Keys, the unique index and both relationships, as an independent reader sees them (the
  // postgres backend of mdb-schema prints indexes and foreign keys; the default one does not).
  Result<std::string> schema = tabulon::testing::MdbToolsSchema(path, "postgres");
  ASSERT_TRUE(schema.ok()) << schema.status().ToString();
  auto count = [&](std::string_view what) {
    size_t n = 0;
    for (size_t at = schema->find(what); at != std::string::npos; at = schema->find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("PRIMARY KEY"), 3u) << *schema;
  EXPECT_EQ(count("CREATE UNIQUE INDEX"), 1u) << *schema;
  EXPECT_EQ(count("FOREIGN KEY"), 2u) << *schema;
  EXPECT_NE(schema->find("PRIMARY KEY (\"orderid\", \"linenumber\")"), std::string::npos) << *schema;
  if (tabulon::testing::MdbReaderAvailable()) {
    Result<std::vector<tabulon::testing::ReaderTable>> tables = tabulon::testing::ReadWithMdbReader(path);
    ASSERT_TRUE(tables.ok()) << tables.status().ToString();
    bool found = false;
    for (const auto& t : *tables) {
      if (t.name != "OrderLines") continue;
      found = true;
      ASSERT_EQ(t.rows.size(), 3u);
      EXPECT_EQ(t.rows[0][2], "Widget");
    }
    EXPECT_TRUE(found);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tabulon::source_sqlserver
