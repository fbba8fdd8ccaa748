#include "source_sqlserver/connection.h"

#include <filesystem>
#include <utility>

#include "base/text.h"
#include "data/error_text.h"
#include "data/provider_registry.h"
#include "data/providers/odbc/odbc_connection_string.h"
#include "data/regex_helper.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "source_sqlserver/sql_names.h"

namespace tabulon::source_sqlserver {

using namespace data;
using namespace workspace;

std::string FormatSqlServerProviders(const ProviderFacts& facts) {
  const auto exists = [&](const std::string& path) { return facts.library_exists && facts.library_exists(path); };
  const OdbcDriver* driver = nullptr;
  for (const OdbcDriver& d : facts.drivers) {
    if (EqualsIgnoreAsciiCase(d.name, facts.sql_server_driver)) driver = &d;
  }
  std::string library;
  bool names_library = false;
  if (driver != nullptr) {
    for (const auto& [key, value] : driver->attributes) {
      if (!names_library && EqualsIgnoreAsciiCase(key, "Driver")) {
        library = value;
        names_library = true;
      }
    }
  }

  std::string text = "Microsoft OLE DB Provider for SQL Server|";
  // The SQL Server provider is the ODBC provider over the SQL Server driver: installed when both
  // are there, usable when the driver's library is.
  const bool installed = facts.sql_server_provider_registered && driver != nullptr;
  text += installed ? "Installed|" : "Not Installed|";
  text += installed && names_library && exists(library) ? "Usable|" : "Unusable|";

  text += "Microsoft OLE DB Provider for ODBC Drivers|";
  text += facts.odbc_provider_registered ? "Installed|" : "Not Installed|";
  if (!facts.odbc_provider_registered || !facts.driver_manager_usable) {
    text += "Unusable|";
    return text;
  }
  text += "Usable|";
  if (driver == nullptr) {
    text += "Unusable|";
  } else if (!names_library) {
    text += "Usable|";
  } else {
    text += exists(library) ? "Usable|" : "Unusable|";
  }
  return text;
}

bool DriverLibraryExists(const std::string& library) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (library.empty()) return false;
  const fs::path path(library);
  if (path.is_absolute()) return fs::is_regular_file(path, error);
  for (const char* folder :
       {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu/odbc",
        "/usr/lib/aarch64-linux-gnu", "/usr/lib/odbc", "/usr/lib", "/usr/local/lib", "/lib"}) {
    if (fs::is_regular_file(fs::path(folder) / path, error)) return true;
  }
  return false;
}

std::string CheckSqlServerProviders() {
  ProviderFacts facts;
  facts.sql_server_provider_registered = FindProvider("SQLOLEDB") != nullptr;
  facts.odbc_provider_registered = FindProvider("MSDASQL") != nullptr;
  facts.driver_manager_usable = OdbcDriverManagerUsable();
  facts.drivers = ListOdbcDrivers();
  facts.sql_server_driver = SqlServerDriverName();
  facts.library_exists = DriverLibraryExists;
  return FormatSqlServerProviders(facts);
}

bool BuildSourceConnectionProperties(const ConnectionProfile& profile, PropertySet* set) {
  set->AddBool(DBPROP_AUTH_ENCRYPT_PASSWORD, false);
  set->AddBool(DBPROP_AUTH_MASK_PASSWORD, false);
  set->AddString(DBPROP_AUTH_PASSWORD, profile.password);
  set->AddString(DBPROP_AUTH_USERID, profile.user_id);
  if (!EqualsIgnoreAsciiCase(profile.provider_display_name, "TCP/IP:Port")) {
    if (!profile.source_name.empty()) set->AddString(DBPROP_INIT_DATASOURCE, profile.source_name);
    if (!profile.catalog.empty()) set->AddString(DBPROP_INIT_CATALOG, profile.catalog);
  } else {
    const size_t colon = profile.source_name.find(':');
    const std::string host = profile.source_name.substr(0, colon);
    const std::string port = colon == std::string::npos ? "1433" : profile.source_name.substr(colon + 1);
    std::string text = ";Driver={SQL Server};Server=" + host + ";Address=" + host + "," + port + ";Network=DBMSSOCN;";
    if (!profile.catalog.empty()) text += "Database=" + profile.catalog;
    set->AddString(DBPROP_INIT_PROVIDERSTRING, std::move(text));
  }
  set->AddI4(DBPROP_INIT_MODE, DB_MODE_SHARE_DENY_NONE);
  set->AddI2(DBPROP_INIT_PROMPT, DBPROMPT_NOPROMPT);
  return true;
}

std::string GetServerVersion(OutputPane* owner, Session* session) {
  if (session == nullptr) {
    WriteOutput(owner, "No Connection!");
    return {};
  }
  TextRowset rows;
  if (OpenTextRowset(session, "select @@Version", &rows) != S_OK) return ErrorDescription(rows.error_source());
  if (!rows.has_rowset()) {
    WriteOutput(owner, "RESULT: The operation completed SUCCESSFULLY");
    return "RESULT: The operation completed SUCCESSFULLY";
  }
  std::string version;
  for (;;) {
    Result<bool> fetched = FetchRow(rows);
    if (!fetched.ok()) return fetched.status().message();
    if (!*fetched) break;
    version =
        rows.buffer().columns() == 0 || rows.buffer().IsNull(1) ? std::string() : std::string(rows.buffer().Value(1));
  }
  return version;
}

bool SelectDatabase(DbTreeView& source_tree, DbTreeView& target_tree, std::string_view database, int side) {
  if (side != 0 && side != 1) return true;
  const std::string name = RegexReplace(std::string(database), ".*(\\\\|/)", "");
  DbTreeView& tree = side == 0 ? source_tree : target_tree;
  // The source is SQL Server: its name goes in brackets so any database name works. The target
  // keeps the statement as the Access side has always received it.
  std::string statement;
  if (side == 0) {
    statement = "use " + QuoteSqlServerName(name) + ";";
  } else {
    statement = "use \"" + name + "\";";
  }
  tree.current_database = name;
  Session* session = tree.connection != nullptr ? tree.connection->session.get() : nullptr;
  if (!ExecuteStatement(tree.output, session, statement, 0)) return false;
  tree.RefreshTree();
  return true;
}

}  // namespace tabulon::source_sqlserver
