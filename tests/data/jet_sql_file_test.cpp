// A file written through the Jet provider's statements, read back by the provider, the engine and
// both independent readers.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_files.h"
#include "tests/support/provider_helpers.h"

namespace tabulon::data {
using namespace workspace;
namespace {

std::string Scratch(const std::string& name) { return testing::ScratchFile("jet_sql_file_test", name).string(); }

// One table of every type, written through the provider's statements: the provider's rowset
// describes its columns as Jet's own provider does and gives back the values as text, and the
// engine and both independent readers read the file back.
TEST(JetSqlFileTest, EveryTypeWrittenThroughStatementsReadsBackEverywhere) {
  const std::string path = Scratch("all_types.mdb");
  {
    JetProvider provider;
    PropertySet init(DBPROPSET_DBINIT);
    init.AddString(DBPROP_INIT_DATASOURCE, path);
    std::vector<std::string> errors;
    ASSERT_EQ(provider.CreateDataSource({&init, 1}, &errors), S_OK);
  }
  const std::string memo(5000, 'm');
  std::string blob_hex;
  for (int i = 0; i < 3000; ++i) blob_hex += "0123456789ABCDEF"[i % 16];
  const std::vector<std::string> statements = {
      "CREATE TABLE `All Types` (\n id COUNTER PRIMARY KEY, flag BIT, tiny BYTE, small SHORT, big LONG NOT NULL,\n"
      " price CURRENCY, f SINGLE, ratio DOUBLE, at DATETIME, code GUID, amount DECIMAL(12,3),\n"
      " name TEXT(60), note MEMO, raw BINARY(16), blob LONGBINARY)",
      "INSERT INTO `All Types` (flag, tiny, small, big, price, f, ratio, at, code, amount, name, note, raw, blob) "
      "VALUES (true, 200, -32768, 2147483647, -922337203685477.5808, 1.5, 0.1, #2024-02-29 13:45:10#, "
      "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}', -123456789.125, 'O''Brien; \"quoted\"', '" +
          memo + "', 0x00FF10, 0x" + blob_hex + ")",
      "INSERT INTO `All Types` (flag, big) VALUES (false, -1)",
      "INSERT INTO `All Types` (name, note, raw, big) VALUES ('Zoë — 日本語 ✓', 'line one\nline two', 0x, 0)",
      "INSERT INTO `All Types` (name, at, tiny, amount, big) VALUES ('', #1899-12-30#, 0, 0, 1)",
  };
  DbConnection connection;
  ASSERT_EQ(testing::OpenProvider(connection, kJetProviderName, path), S_OK) << ErrorDescription(connection);
  OutputPane pane;
  for (const std::string& sql : statements) {
    ASSERT_TRUE(ExecuteStatement(&pane, connection.session.get(), sql, 1)) << sql.substr(0, 120) << "\n"
                                                                           << pane.Lines().back().text;
  }

  TextRowset rowset;
  ASSERT_EQ(OpenTextRowset(connection.session.get(), "select * from `All Types`", &rowset), S_OK);
  // The bookmark column first; only the data columns have slots.
  ASSERT_EQ(rowset.columns().size(), 16u);
  EXPECT_EQ(rowset.buffer().columns(), 15u);
  EXPECT_EQ(rowset.columns()[0].ordinal, 0u);
  EXPECT_TRUE(rowset.columns()[0].flags & DBCOLUMNFLAGS_ISBOOKMARK);
  using Described = std::tuple<std::string, DbType, std::uint32_t, size_t>;
  std::vector<Described> described;
  for (size_t k = 1; k < rowset.columns().size(); ++k) {
    const ColumnInfo& c = rowset.columns()[k];
    EXPECT_EQ(c.ordinal, k);
    described.emplace_back(c.name, c.type, c.flags, c.size);
  }
  EXPECT_EQ(described, (std::vector<Described>{
                           {"id", DBTYPE_I4, 24, 4},      // required and fixed: no MAYBENULL
                           {"flag", DBTYPE_BOOL, 24, 2},  // a Yes/No column is never NULL
                           {"tiny", DBTYPE_UI1, 122, 1},
                           {"small", DBTYPE_I2, 122, 2},
                           {"big", DBTYPE_I4, 90, 4},  // NOT NULL: no ISNULLABLE
                           {"price", DBTYPE_CY, 122, 8},
                           {"f", DBTYPE_R4, 122, 4},
                           {"ratio", DBTYPE_R8, 122, 8},
                           {"at", DBTYPE_DATE, 122, 8},
                           {"code", DBTYPE_GUID, 122, 16},
                           {"amount", DBTYPE_NUMERIC, 122, 19},
                           {"name", DBTYPE_WSTR, 106, 60},
                           {"note", DBTYPE_WSTR, 234, 0},  // long
                           {"raw", DBTYPE_BYTES, 106, 16},
                           {"blob", DBTYPE_BYTES, 234, 0},
                       }));
  EXPECT_EQ(rowset.columns()[11].precision, 12);
  EXPECT_EQ(rowset.columns()[11].scale, 3);
  const std::string null = "<NULL>";
  EXPECT_EQ(
      testing::RowTexts(rowset),
      (std::vector<std::vector<std::string>>{
          {"1", "True", "200", "-32768", "2147483647", "-922337203685477.5808", "1.5", "0.1", "2024-02-29 13:45:10",
           "{6F9619FF-8B86-D011-B42D-00C04FC964FF}", "-123456789.125", "O'Brien; \"quoted\"", memo, "00FF10", blob_hex},
          {"2", "False", null, null, "-1", null, null, null, null, null, null, null, null, null, null},
          {"3", "False", null, null, "0", null, null, null, null, null, null, "Zoë — 日本語 ✓", "line one\nline two",
           "", null},
          {"4", "False", "0", null, "1", null, null, null, "1899-12-30 00:00:00", null, "0", "", null, null, null},
      }));
  rowset.Close();
  CloseConnection(connection);

  auto db = jet::Database::Open(path, jet::OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto def = (*db)->GetTable("All Types");
  ASSERT_TRUE(def.ok()) << def.status().ToString();
  auto rows = (*db)->ReadAllRows(*def);
  ASSERT_TRUE(rows.ok()) << rows.status().ToString();
  EXPECT_TRUE((*db)->CheckIntegrity().ok());
  EXPECT_EQ(testing::CompareTableWithReaders(path, "All Types", def->columns, *rows), "");
}

}  // namespace
}  // namespace tabulon::data
