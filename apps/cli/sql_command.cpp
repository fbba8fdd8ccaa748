// tabulon-cli sql FILE.mdb [--create] [--keep-going] ("STATEMENT" ... | --file SCRIPT): runs
// Access SQL statements on an .mdb file through the Jet provider and shows each result as
// output lines. In a script a statement ends with ";" at the end of a line (outside quotes and
// brackets) and may span lines.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli_connection.h"
#include "cli_output.h"
#include "commands.h"
#include "data/db_connection.h"
#include "data/error_text.h"
#include "workspace/output_pane.h"
#include "data/properties.h"
#include "data/provider_registry.h"
#include "data/providers/jet/jet_provider.h"
#include "workspace/statement_output.h"
#include "sql_script.h"

using namespace tabulon::data;
using namespace tabulon::workspace;

namespace {

constexpr const char* kSqlUsage =
    "Usage: tabulon-cli sql FILE.mdb [--create] [--keep-going] (\"STATEMENT\" ... | --file SCRIPT)\n"
    "  --create      create FILE.mdb first (it must not exist)\n"
    "  --keep-going  run the remaining statements after one fails (the exit code is still 1)\n"
    "  --file SCRIPT statements that each end with ';' at the end of a line\n";

bool CreateFile(const std::string& path, OutputPane& pane) {
  auto provider = std::dynamic_pointer_cast<JetProvider>(FindProvider(kJetProviderName));
  if (provider == nullptr) {
    WriteOutput(&pane, "E::The Jet provider is not available");
    return false;
  }
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, path);
  std::vector<std::string> errors;
  const Hresult code = provider->CreateDataSource(std::span<const PropertySet>(&init, 1), &errors);
  if (Failed(code)) {
    WriteOutput(&pane, "E::%s", FormatHresult("Create DB", code).c_str());
    for (const std::string& e : errors) WriteOutput(&pane, "E::%s", e.c_str());
    return false;
  }
  return true;
}

}  // namespace

int RunSqlCommand(int argc, char** argv) {
  std::string path;
  bool create = false;
  bool keep_going = false;
  std::string script_path;
  std::vector<ScriptStatement> statements;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--create") {
      create = true;
    } else if (arg == "--keep-going") {
      keep_going = true;
    } else if (arg == "--file" && i + 1 < argc && script_path.empty()) {
      script_path = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kSqlUsage, stdout);
      return 0;
    } else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "tabulon-cli sql: unknown option '%s'\n%s", arg.c_str(), kSqlUsage);
      return 2;
    } else if (path.empty()) {
      path = arg;
    } else {
      statements.push_back({arg, 0});
    }
  }
  if (path.empty() || (script_path.empty() == statements.empty())) {
    std::fputs(kSqlUsage, stderr);
    return 2;
  }
  if (!script_path.empty()) {
    std::ifstream in(script_path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "tabulon-cli sql: cannot read '%s'\n", script_path.c_str());
      return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    statements = SplitSqlScript(text.str());
  }

  OutputPane pane;
  PrintOutputLines(pane);
  if (create && !CreateFile(path, pane)) return 1;

  DbConnection connection;
  connection.profile.provider_name = kJetProviderName;
  connection.profile.source_name = path;
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, path);
  init.AddI4(DBPROP_INIT_MODE, DB_MODE_SHARE_DENY_NONE);
  if (!OpenCliConnection(pane, connection, init)) return 1;
  int failures = 0;
  for (size_t i = 0; i < statements.size(); ++i) {
    if (RunAndShowStatement(&pane, connection.session.get(), statements[i].text, 1)) continue;
    ++failures;
    if (statements[i].line > 0) {
      std::fprintf(stderr, "tabulon-cli sql: %s: the statement at line %zu failed\n", script_path.c_str(),
                   statements[i].line);
    } else {
      std::fprintf(stderr, "tabulon-cli sql: statement %zu failed\n", i + 1);
    }
    if (!keep_going) break;
  }
  // The last inserts may still be held in a batch: commit them where a failure is seen.
  if (Failed(connection.session->Commit())) {
    WriteOutput(&pane, "T::%s", ErrorDescription(connection.session.get()).c_str());
    ++failures;
  }
  CloseConnection(connection);
  return failures == 0 ? 0 : 1;
}
