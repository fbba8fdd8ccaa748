// Reaching a SQL Server source: the provider check, the connection properties, the server
// version and switching a side to a database.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "data/db_connection.h"
#include "workspace/db_tree.h"
#include "data/odbc_drivers.h"
#include "workspace/output_pane.h"
#include "data/properties.h"

namespace tabulon::source_sqlserver {

// The driver check's fields: "Microsoft OLE DB Provider for SQL Server|", "Installed|" or "Not
// Installed|", "Usable|" or "Unusable|", the same for "Microsoft OLE DB Provider for ODBC
// Drivers|", then "Usable|" or "Unusable|" for the SQL Server ODBC driver.
std::string CheckSqlServerProviders();

// Lists the server's databases by name: the source tree's second way when the driver's catalog
// enumeration fails or lists none.
inline constexpr const char* kDatabaseListStatement = "select name from sys.databases order by name";

// The facts the check stands on here: the registered providers, the driver manager, its list of
// drivers, the SQL Server driver's name and how to tell whether a library file exists.
struct ProviderFacts {
  bool sql_server_provider_registered = false;
  bool odbc_provider_registered = false;
  bool driver_manager_usable = false;
  std::vector<data::OdbcDriver> drivers;
  std::string sql_server_driver = "FreeTDS";
  std::function<bool(const std::string&)> library_exists;
};
std::string FormatSqlServerProviders(const ProviderFacts& facts);

// True when a driver library named in odbcinst.ini exists: an absolute path as it is, a bare
// file name in the system's library folders (where the driver manager's loader finds it).
bool DriverLibraryExists(const std::string& library);

// Appends the source's initialisation properties to `set` (DBPROPSET_DBINIT) and returns true.
// The provider display name "TCP/IP:Port" makes a provider string for the "SQL Server" ODBC
// driver (the ODBC provider maps it to FreeTDS), with the port after a ':' (1433 without one).
bool BuildSourceConnectionProperties(const data::ConnectionProfile& profile, data::PropertySet* set);

// The server's version text ("select @@Version"); "" and "No Connection!" without a session;
// the provider's error text when the statement fails.
std::string GetServerVersion(workspace::OutputPane* owner, data::Session* session);

// Switches side 0 (the source) or 1 (the target) to `database` (a file path keeps its last
// component only) and refreshes that side's tree. False when the statement fails; other side
// values do nothing and return true.
bool SelectDatabase(workspace::DbTreeView& source_tree, workspace::DbTreeView& target_tree, std::string_view database,
                    int side);

}  // namespace tabulon::source_sqlserver
