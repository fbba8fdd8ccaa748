// FreeTDS connect failures, and the odbc command of tabulon-cli against a temporary SQLite file.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "data/db_connection.h"
#include "data/error_text.h"
#include "workspace/output_pane.h"

namespace tabulon::data {
using namespace workspace;
namespace {

// A loopback port that nothing listens on: bound once, then closed.
int ClosedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  close(fd);
  return ntohs(address.sin_port);
}

TEST(FreeTdsTest, ClosedPortFailsQuicklyWithTheDriversText) {
  const int port = ClosedLoopbackPort();
  ASSERT_GT(port, 0);
  DbConnection connection;
  connection.profile.provider_name = "SQLOLEDB";
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, "127.0.0.1," + std::to_string(port));
  init.AddString(DBPROP_INIT_CATALOG, "master");
  init.AddString(DBPROP_AUTH_USERID, "sa");
  init.AddString(DBPROP_AUTH_PASSWORD, "secret");
  init.AddI4(DBPROP_INIT_TIMEOUT, 3);
  const auto start = std::chrono::steady_clock::now();
  const Hresult code = OpenDataSource(connection, {&init, 1});
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  EXPECT_TRUE(Failed(code));
  EXPECT_EQ(connection.data_source, nullptr);
  EXPECT_LT(seconds.count(), 10);

  OutputPane pane;
  WriteOutput(&pane, "E::%s", FormatHresult("Database Init", code).c_str());
  WriteOutput(&pane, "E::%s", ErrorDescription(connection).c_str());
  const std::string text = pane.Lines()[1].text;
  EXPECT_NE(text.find("[FreeTDS]"), std::string::npos) << text;
  EXPECT_NE(text.find("connect"), std::string::npos) << text;
  EXPECT_EQ(OpenSession(connection), E_UNEXPECTED);  // nothing to open a session on
}

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
