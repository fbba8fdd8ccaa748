// Files written through the Jet provider's statements, read back by the engine and by both
// independent readers; and the sql command of tabulon-cli.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "jet/database.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_files.h"

namespace tabulon::data {
using namespace workspace;
namespace {

using Texts = std::vector<std::optional<std::string>>;

std::string Scratch(const std::string& name) { return testing::ScratchFile("jet_sql_file_test", name).string(); }

TEST(JetSqlFileTest, EveryTypeWrittenThroughStatementsReadsBackInBothReaders) {
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
      "CREATE TABLE `All Types` (\n id COUNTER PRIMARY KEY, flag BIT, tiny BYTE, small SHORT, big LONG,\n"
      " price CURRENCY, f SINGLE, ratio DOUBLE, at DATETIME, code GUID, amount DECIMAL(12,3),\n"
      " name TEXT(60), note MEMO, raw BINARY(16), blob LONGBINARY)",
      "INSERT INTO `All Types` (flag, tiny, small, big, price, f, ratio, at, code, amount, name, note, raw, blob) "
      "VALUES (true, 200, -32768, 2147483647, -922337203685477.5808, 1.5, 0.1, #2024-02-29 13:45:10#, "
      "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}', -123456789.125, 'O''Brien; \"quoted\"', '" +
          memo +
          "', "
          "0x00FF10, 0x" +
          blob_hex + ")",
      "INSERT INTO `All Types` (flag) VALUES (false)",
      "INSERT INTO `All Types` (name, note, raw) VALUES ('Zoë — 日本語 ✓', 'line one\nline two', 0x)",
      "INSERT INTO `All Types` (name, at, tiny, amount) VALUES ('', #1899-12-30#, 0, 0)",
  };
  {
    DbConnection connection;
    connection.profile.provider_name = kJetProviderName;
    PropertySet init(DBPROPSET_DBINIT);
    init.AddString(DBPROP_INIT_DATASOURCE, path);
    ASSERT_EQ(OpenDataSource(connection, {&init, 1}), S_OK) << ErrorDescription(connection);
    ASSERT_EQ(OpenSession(connection), S_OK);
    OutputPane pane;
    for (const std::string& sql : statements) {
      ASSERT_TRUE(ExecuteStatement(&pane, connection.session.get(), sql, 1)) << sql.substr(0, 120) << "\n"
                                                                             << pane.Lines().back().text;
    }
  }  // closing commits the inserts

  const std::optional<std::string> null;
  const std::vector<Texts> expected = {
      {"1", "true", "200", "-32768", "2147483647", "-922337203685477.5808", "1.5", "0.1", "2024-02-29 13:45:10",
       "{6F9619FF-8B86-D011-B42D-00C04FC964FF}", "-123456789.125", "O'Brien; \"quoted\"", memo, "00ff10",
       [&] {
         std::string lower;
         for (char c : blob_hex) lower += static_cast<char>(c >= 'A' ? c + 32 : c);
         return lower;
       }()},
      {"2", "false", null, null, null, null, null, null, null, null, null, null, null, null, null},
      {"3", "false", null, null, null, null, null, null, null, null, null, "Zoë — 日本語 ✓", "line one\nline two", "",
       null},
      {"4", "false", "0", null, null, null, null, null, "1899-12-30 00:00:00", null, "0", "", null, null, null},
  };
  auto db = jet::Database::Open(path, jet::OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto def = (*db)->GetTable("All Types");
  ASSERT_TRUE(def.ok()) << def.status().ToString();
  auto rows = (*db)->ReadAllRows(*def);
  ASSERT_TRUE(rows.ok()) << rows.status().ToString();
  ASSERT_EQ(rows->size(), expected.size());
  for (size_t r = 0; r < rows->size(); ++r) {
    for (size_t c = 0; c < expected[r].size(); ++c) {
      EXPECT_EQ(jet::FormatValue((*rows)[r][c]), expected[r][c]) << "row " << r + 1 << ", " << def->columns[c].name;
    }
  }
  EXPECT_TRUE((*db)->CheckIntegrity().ok());
  EXPECT_EQ(testing::CompareTableWithReaders(path, "All Types", def->columns, *rows), "");
}

// ---- tabulon-cli sql ----------------------------------------------------------------------

struct CliRun {
  int exit_code = -1;
  std::string out;  // stdout and stderr
};

CliRun RunCli(const std::string& arguments) {
  const std::string command = std::string(TABULON_CLI) + " " + arguments + " 2>&1";
  CliRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> chunk{};
  size_t n = 0;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) run.out.append(chunk.data(), n);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string WriteScript(const std::string& name, const std::string& text) {
  const std::string path = Scratch(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(SqlCliTest, RunsScriptsStopsAtTheFailingLineOrKeepsGoing) {
  const std::string path = Scratch("cli.mdb");
  const std::string script = WriteScript("create.sql",
                                         "CREATE TABLE People (\n"
                                         "  id LONG PRIMARY KEY,\n"
                                         "  name TEXT(40)\n"
                                         ");\n"
                                         "\n"
                                         "INSERT INTO People VALUES (1, 'semi; colon;');\n"
                                         "INSERT INTO People VALUES (2,\n"
                                         "  'two');\n"
                                         "SELECT name FROM People ORDER BY id;\n");
  CliRun created = RunCli("sql " + path + " --create --file " + script);
  EXPECT_EQ(created.exit_code, 0) << created.out;
  EXPECT_NE(created.out.find("semi; colon;\n"), std::string::npos) << created.out;
  EXPECT_NE(created.out.find("two\n"), std::string::npos) << created.out;
  auto exported = testing::MdbToolsExport(path, "People");
  if (testing::MdbToolsAvailable()) {
    ASSERT_TRUE(exported.ok()) << exported.status().ToString();
    EXPECT_EQ(exported->rows.size(), 2u);
  }

  // The second statement (line 3) fails: the run stops there with exit code 1.
  const std::string failing = WriteScript("failing.sql",
                                          "INSERT INTO People VALUES (3, 'three');\n"
                                          "\n"
                                          "INSERT INTO People\n"
                                          "  VALUES (1, 'duplicate');\n"
                                          "INSERT INTO People VALUES (4, 'four');\n");
  CliRun stopped = RunCli("sql " + path + " --file " + failing);
  EXPECT_EQ(stopped.exit_code, 1) << stopped.out;
  EXPECT_NE(stopped.out.find("line 3"), std::string::npos) << stopped.out;
  CliRun count = RunCli("sql " + path + " \"SELECT COUNT(*) FROM People\"");
  EXPECT_EQ(count.exit_code, 0);
  EXPECT_NE(count.out.find("3\n"), std::string::npos) << count.out;

  CliRun kept = RunCli("sql " + path + " --keep-going --file " + failing);
  EXPECT_EQ(kept.exit_code, 1) << kept.out;
  count = RunCli("sql " + path + " \"SELECT id FROM People WHERE id = 4\"");
  EXPECT_NE(count.out.find("4\n"), std::string::npos) << count.out;

  // Usage and file errors.
  EXPECT_EQ(RunCli("sql").exit_code, 2);
  EXPECT_EQ(RunCli("sql " + path).exit_code, 2);
  CliRun exists = RunCli("sql " + path + " --create \"SELECT 1\"");  // a new file only
  EXPECT_EQ(exists.exit_code, 1);
  EXPECT_NE(exists.out.find("already exists"), std::string::npos) << exists.out;
  CliRun missing = RunCli("sql " + Scratch("absent.mdb") + " \"SELECT * FROM t\"");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.out.find("Could not find file"), std::string::npos) << missing.out;
}

}  // namespace
}  // namespace tabulon::data
