// tabulon-cli odbc "CONNECTION STRING" "STATEMENT": connects through MSDASQL and shows the
// statement's result as output lines.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_connection.h"
#include "cli_output.h"
#include "commands.h"
#include "data/db_connection.h"
#include "workspace/output_pane.h"
#include "data/properties.h"
#include "workspace/statement_output.h"

using namespace tabulon::data;
using namespace tabulon::workspace;

int RunOdbcCommand(int argc, char** argv) {
  static constexpr const char* kUsage =
      "Usage: tabulon-cli odbc \"CONNECTION STRING\" \"STATEMENT\"\n"
      "  CONNECTION STRING  an ODBC connection string (Driver=...;...) or a data source name\n"
      "  STATEMENT          the statement to run; its rows or its outcome are printed\n";
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string source = argv[1];
  const std::string statement = argv[2];

  OutputPane pane;
  PrintOutputLines(pane);

  DbConnection connection;
  connection.profile.provider_name = "MSDASQL";
  connection.profile.source_name = source;
  PropertySet init(DBPROPSET_DBINIT);
  // A string with '=' is a whole connection string, anything else names a data source.
  init.AddString(source.find('=') != std::string::npos ? DBPROP_INIT_PROVIDERSTRING : DBPROP_INIT_DATASOURCE, source);
  init.AddI4(DBPROP_INIT_MODE, DB_MODE_SHARE_DENY_NONE);
  init.AddI2(DBPROP_INIT_PROMPT, DBPROMPT_NOPROMPT);

  if (!OpenCliConnection(pane, connection, init)) return 1;
  const bool ok = RunAndShowStatement(&pane, connection.session.get(), statement, 1);
  CloseConnection(connection);
  return ok ? 0 : 1;
}
