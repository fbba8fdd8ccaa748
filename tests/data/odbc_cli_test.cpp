// The odbc command of tabulon-cli against a temporary SQLite file. (FreeTDS's failures to connect
// are proved in tests/source_sqlserver/connection_test.cpp.)
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace tabulon::data {
namespace {

struct CliRun {
  int exit_code = -1;
  std::string out;
};

CliRun RunCli(const std::string& arguments) {
  CliRun run;
  const std::string command = std::string("'") + TABULON_CLI + "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> chunk{};
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) run.out.append(chunk.data(), n);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(OdbcCommandTest, RunsStatementsAgainstSqlite) {
  const std::filesystem::path db =
      std::filesystem::temp_directory_path() / ("tabulon_cli_" + std::to_string(getpid()) + ".db");
  const std::string source = "\"Driver=SQLite3;Database=" + db.string() + "\"";

  CliRun created = RunCli("odbc " + source + " \"create table t(a integer, b text)\"");
  EXPECT_EQ(created.exit_code, 0) << created.out;
  EXPECT_NE(created.out.find(" RESULT: The operation completed SUCCESSFULLY\n"), std::string::npos) << created.out;
  ASSERT_EQ(RunCli("odbc " + source + " \"insert into t values (1, 'one'), (2, NULL)\"").exit_code, 0);

  CliRun selected = RunCli("odbc " + source + " \"select a, b from t order by a\"");
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

  CliRun failed = RunCli("odbc " + source + " \"select * from missing\"");
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_NE(failed.out.find("no such table"), std::string::npos) << failed.out;
  CliRun bad_driver = RunCli("odbc \"Driver=NoSuchDriver\" \"select 1\"");
  EXPECT_EQ(bad_driver.exit_code, 1);
  EXPECT_NE(bad_driver.out.find("failed with error code:[0x80004005]"), std::string::npos) << bad_driver.out;
  EXPECT_EQ(RunCli("odbc \"Driver=SQLite3\"").exit_code, 2);
  std::filesystem::remove(db);
}

}  // namespace
}  // namespace tabulon::data
