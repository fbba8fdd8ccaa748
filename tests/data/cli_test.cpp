// The data commands of tabulon-cli: odbc against a temporary SQLite file, sql against an .mdb.
// (FreeTDS's failures to connect are proved in tests/source_sqlserver/connection_test.cpp.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "jet_readers.h"
#include "jet_test_files.h"

namespace tabulon::data {
namespace {

std::string Scratch(const std::string& name) { return testing::ScratchFile("data_cli_test", name).string(); }

// tabulon-cli with `arguments`: its exit code and what it printed (stdout and stderr).
testing::CommandRun RunCli(const std::string& arguments) {
  return testing::RunCommand(std::string("'") + TABULON_CLI + "' " + arguments + " 2>&1");
}

TEST(OdbcCommandTest, RunsStatementsAgainstSqlite) {
  const std::string db = Scratch("odbc.db");
  const std::string source = "\"Driver=SQLite3;Database=" + db + "\"";

  testing::CommandRun created = RunCli("odbc " + source + " \"create table t(a integer, b text)\"");
  EXPECT_EQ(created.exit_code, 0) << created.out;
  EXPECT_NE(created.out.find(" RESULT: The operation completed SUCCESSFULLY\n"), std::string::npos) << created.out;
  ASSERT_EQ(RunCli("odbc " + source + " \"insert into t values (1, 'one'), (2, NULL)\"").exit_code, 0);

  testing::CommandRun selected = RunCli("odbc " + source + " \"select a, b from t order by a\"");
  EXPECT_EQ(selected.exit_code, 0) << selected.out;
  EXPECT_EQ(selected.out.find('\033'), std::string::npos) << "no colours on a pipe";
  // Four lines: 1, one, 2, (NULL); each a 24-character time stamp and the value.
  std::vector<std::string> values;
  size_t pos = 0;
  while (pos < selected.out.size()) {
    const size_t end = selected.out.find('\n', pos);
    values.push_back(selected.out.substr(pos + 24, end - pos - 24));
    pos = end + 1;
  }
  EXPECT_EQ(values, (std::vector<std::string>{"1", "one", "2", "(NULL)"}));

  testing::CommandRun failed = RunCli("odbc " + source + " \"select * from missing\"");
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_NE(failed.out.find("no such table"), std::string::npos) << failed.out;
  testing::CommandRun bad_driver = RunCli("odbc \"Driver=NoSuchDriver\" \"select 1\"");
  EXPECT_EQ(bad_driver.exit_code, 1);
  EXPECT_NE(bad_driver.out.find("failed with error code:[0x80004005]"), std::string::npos) << bad_driver.out;
  EXPECT_EQ(RunCli("odbc \"Driver=SQLite3\"").exit_code, 2);
  std::filesystem::remove(db);
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
  testing::CommandRun created = RunCli("sql " + path + " --create --file " + script);
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
  testing::CommandRun stopped = RunCli("sql " + path + " --file " + failing);
  EXPECT_EQ(stopped.exit_code, 1) << stopped.out;
  EXPECT_NE(stopped.out.find("line 3"), std::string::npos) << stopped.out;
  testing::CommandRun count = RunCli("sql " + path + " \"SELECT COUNT(*) FROM People\"");
  EXPECT_EQ(count.exit_code, 0);
  EXPECT_NE(count.out.find("3\n"), std::string::npos) << count.out;

  testing::CommandRun kept = RunCli("sql " + path + " --keep-going --file " + failing);
  EXPECT_EQ(kept.exit_code, 1) << kept.out;
  count = RunCli("sql " + path + " \"SELECT id FROM People WHERE id = 4\"");
  EXPECT_NE(count.out.find("4\n"), std::string::npos) << count.out;

  // Usage and file errors.
  EXPECT_EQ(RunCli("sql").exit_code, 2);
  EXPECT_EQ(RunCli("sql " + path).exit_code, 2);
  testing::CommandRun exists = RunCli("sql " + path + " --create \"SELECT 1\"");  // a new file only
  EXPECT_EQ(exists.exit_code, 1);
  EXPECT_NE(exists.out.find("already exists"), std::string::npos) << exists.out;
  testing::CommandRun missing = RunCli("sql " + Scratch("absent.mdb") + " \"SELECT * FROM t\"");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.out.find("Could not find file"), std::string::npos) << missing.out;
}

}  // namespace
}  // namespace tabulon::data
