// The choices the connection settings offer: the DBMS names, each DBMS's providers, which
// provider names open a file or an ODBC data source, the driver prefixes that pick a DBMS's data
// sources, and the SQL Server servers named in FreeTDS's configuration (the client aliases).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tabulon::config {

// "Text Data File", "MSSQL", "MySQL", "Sybase", "Access", "Excel", "Oracle", "SybaseIQ".
const std::vector<std::string>& DbmsNames();
inline constexpr int kSourceDbmsIndex = 1;  // "MSSQL"
inline constexpr int kTargetDbmsIndex = 4;  // "Access"

// The provider display names offered for a DBMS (case-insensitive), unsorted; the SQL Server
// side also offers "SQLite" (a SQLite database file as the source). Other DBMS: none.
std::vector<std::string> ProvidersForDbms(std::string_view dbms);

inline constexpr const char* kTcpIpProvider = "TCP/IP:Port";
inline constexpr const char* kSqlServerProvider = "Microsoft OLE DB Provider for SQL Server";
inline constexpr const char* kSqliteDisplayName = "SQLite";

// "Microsoft Jet 4.0 OLE DB Provider" or "Microsoft Jet 3.51 OLE DB Provider".
bool IsJetDisplayName(std::string_view display_name);
// The display names whose source name is an ODBC data source.
bool IsOdbcDisplayName(std::string_view display_name);
// Display names whose source name is a file chosen with a file dialog (Jet, SQLite).
bool IsFileDisplayName(std::string_view display_name);

// A data source qualifies for a DBMS when its driver's name begins with one of these.
std::vector<std::string> DriverPrefixesForDbms(std::string_view dbms);

struct DataSourceEntry {
  std::string name;    // the data source name
  std::string driver;  // its driver's description
};
// The names of the data sources whose driver begins with one of the DBMS's prefixes, in order.
std::vector<std::string> DataSourcesForDbms(std::string_view dbms, const std::vector<DataSourceEntry>& sources);

// The server sections of a freetds.conf text ("[name]" lines other than [global]), in order.
std::vector<std::string> ReadFreeTdsServers(std::string_view conf_text);
// The FreeTDS configuration in use: $FREETDSCONF, else ~/.freetds.conf, else
// /etc/freetds/freetds.conf (the first that exists; "" when none does).
std::string FreeTdsConfigPath();
// The servers of that file, or none.
std::vector<std::string> SqlServerAliases();

}  // namespace tabulon::config
