#include "config/settings_choices.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/text.h"

namespace tabulon::config {
namespace {

bool Equals(std::string_view a, std::string_view b) { return EqualsIgnoreAsciiCase(a, b); }

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && Equals(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimView(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

const std::vector<std::string>& DbmsNames() {
  static const std::vector<std::string> names = {"Text Data File", "MSSQL", "MySQL",  "Sybase",
                                                 "Access",         "Excel", "Oracle", "SybaseIQ"};
  return names;
}

std::vector<std::string> ProvidersForDbms(std::string_view dbms) {
  if (Equals(dbms, "MSSQL")) {
    return {"Microsoft OLE DB Provider for ODBC Divers", kSqlServerProvider, kTcpIpProvider, kSqliteDisplayName};
  }
  if (Equals(dbms, "Access")) {
    return {"Microsoft Jet 4.0 OLE DB Provider", "Microsoft Jet 3.51 OLE DB Provider", "Driver do Microsoft Access",
            "Microsoft Access Driver"};
  }
  return {};
}

bool IsJetDisplayName(std::string_view display_name) {
  return Equals(display_name, "Microsoft Jet 4.0 OLE DB Provider") ||
         Equals(display_name, "Microsoft Jet 3.51 OLE DB Provider");
}

bool IsOdbcDisplayName(std::string_view display_name) {
  for (std::string_view name : {"Microsoft OLE DB Provider for ODBC Divers", "Driver do Microsoft Excel",
                                "Microsoft Excel Driver", "Driver do Microsoft Access", "Microsoft Access Driver"}) {
    if (Equals(display_name, name)) return true;
  }
  return false;
}

bool IsFileDisplayName(std::string_view display_name) {
  return IsJetDisplayName(display_name) || Equals(display_name, kSqliteDisplayName);
}

std::vector<std::string> DriverPrefixesForDbms(std::string_view dbms) {
  // Linux drivers for SQL Server are FreeTDS and Microsoft's "ODBC Driver NN for SQL Server".
  if (Equals(dbms, "MSSQL")) return {"SQL Server", "FreeTDS", "ODBC Driver"};
  if (Equals(dbms, "Access")) return {"Driver do Microsoft Access", "Microsoft Access Driver", "MDBTools"};
  return {};
}

std::vector<std::string> DataSourcesForDbms(std::string_view dbms, const std::vector<DataSourceEntry>& sources) {
  std::vector<std::string> names;
  const std::vector<std::string> prefixes = DriverPrefixesForDbms(dbms);
  for (const DataSourceEntry& source : sources) {
    for (const std::string& prefix : prefixes) {
      if (StartsWith(source.driver, prefix)) {
        names.push_back(source.name);
        break;
      }
    }
  }
  return names;
}

std::vector<std::string> ReadFreeTdsServers(std::string_view conf_text) {
  std::vector<std::string> servers;
  size_t start = 0;
  while (start <= conf_text.size()) {
    size_t end = conf_text.find('\n', start);
    if (end == std::string_view::npos) end = conf_text.size();
    const std::string_view line = TrimView(conf_text.substr(start, end - start));
    start = end + 1;
    if (line.size() < 3 || line.front() != '[' || line.back() != ']') continue;
    const std::string_view name = TrimView(line.substr(1, line.size() - 2));
    if (name.empty() || Equals(name, "global")) continue;
    servers.emplace_back(name);
  }
  return servers;
}

std::string FreeTdsConfigPath() {
  std::error_code error;
  if (const char* explicit_path = std::getenv("FREETDSCONF"); explicit_path != nullptr && *explicit_path != '\0') {
    return std::filesystem::is_regular_file(explicit_path, error) ? explicit_path : "";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    const std::string user = std::string(home) + "/.freetds.conf";
    if (std::filesystem::is_regular_file(user, error)) return user;
  }
  const std::string system = "/etc/freetds/freetds.conf";
  return std::filesystem::is_regular_file(system, error) ? system : "";
}

std::vector<std::string> SqlServerAliases() {
  const std::string path = FreeTdsConfigPath();
  if (path.empty()) return {};
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return ReadFreeTdsServers(text.str());
}

}  // namespace tabulon::config
