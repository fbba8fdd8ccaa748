#include "data/providers/odbc/odbc_connection_string.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/text.h"

namespace tabulon::data {
namespace {

std::string InitString(std::span<const PropertySet> sets, PropertyId id) {
  const Property* p = FindProperty(sets, DBPROPSET_DBINIT, id);
  return p != nullptr && p->value.type == VT_BSTR ? p->value.text : std::string();
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

void AppendKey(std::string& out, std::string_view key, std::string_view value) {
  if (!out.empty() && out.back() != ';') out += ';';
  out += key;
  out += '=';
  out += EscapeOdbcValue(value);
}

// Splits "k=v;k2={v;2}" into pairs; braced values keep their braces.
std::vector<std::pair<std::string, std::string>> SplitAttributes(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eq = text.find('=', pos);
    const size_t semi = text.find(';', pos);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      if (semi == std::string_view::npos) break;
      pos = semi + 1;  // an item without '=' (or an empty one) is dropped
      continue;
    }
    size_t end = eq + 1;
    while (end < text.size() && text[end] == ' ') ++end;
    if (end < text.size() && text[end] == '{') {
      ++end;
      while (end < text.size() && !(text[end] == '}' && (end + 1 == text.size() || text[end + 1] != '}'))) {
        end += text[end] == '}' ? 2 : 1;
      }
      if (end < text.size()) ++end;
    }
    end = std::min(text.find(';', end), text.size());
    out.emplace_back(std::string(Trim(text.substr(pos, eq - pos))),
                     std::string(Trim(text.substr(eq + 1, end - eq - 1))));
    pos = end + 1;
  }
  return out;
}

std::string_view Unbraced(std::string_view value) {
  if (value.size() >= 2 && value.front() == '{' && value.back() == '}') return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

std::string SqlServerDriverName() {
  const char* chosen = std::getenv("TABULON_SQLSERVER_DRIVER");
  return chosen != nullptr && *chosen != '\0' ? std::string(chosen) : std::string("FreeTDS");
}

std::string MapSqlServerDriver(std::string_view connection_string, std::string_view driver) {
  auto attributes = SplitAttributes(connection_string);
  bool names_sql_server = false;
  for (auto& [key, value] : attributes) {
    if (EqualsIgnoreAsciiCase(key, "Driver") && EqualsIgnoreAsciiCase(Unbraced(value), "SQL Server")) {
      names_sql_server = true;
      value = EscapeOdbcValue(driver);
    }
  }
  if (!names_sql_server) return std::string(connection_string);
  const bool freetds = EqualsIgnoreAsciiCase(driver, "FreeTDS");
  std::string out;
  std::string address_host, address_port;
  bool has_charset = false, has_version = false;
  for (const auto& [key, value] : attributes) {
    if (freetds && EqualsIgnoreAsciiCase(key, "Address")) {
      const std::string_view address = Unbraced(value);
      const size_t comma = address.find(',');
      address_host = Trim(address.substr(0, comma));
      if (comma != std::string_view::npos) address_port = Trim(address.substr(comma + 1));
      continue;
    }
    has_charset = has_charset || EqualsIgnoreAsciiCase(key, "ClientCharset");
    has_version = has_version || EqualsIgnoreAsciiCase(key, "TDS_Version");
    if (!out.empty()) out += ';';
    out += key + "=" + value;
  }
  if (freetds) {
    // Address names the host and port to use; Server may stay as the name it was given.
    if (!address_host.empty()) {
      auto rebuilt = SplitAttributes(out);
      out.clear();
      bool server_set = false;
      for (auto& [key, value] : rebuilt) {
        if (EqualsIgnoreAsciiCase(key, "Server")) {
          value = EscapeOdbcValue(address_host);
          server_set = true;
        }
        if (EqualsIgnoreAsciiCase(key, "Port") && !address_port.empty()) continue;
        if (!out.empty()) out += ';';
        out += key + "=" + value;
      }
      if (!server_set) AppendKey(out, "Server", address_host);
    }
    if (!address_port.empty()) AppendKey(out, "Port", address_port);
    if (!has_charset) AppendKey(out, "ClientCharset", "UTF-8");
    if (!has_version) AppendKey(out, "TDS_Version", "7.4");
  }
  return out;
}

std::string EscapeOdbcValue(std::string_view value) {
  const bool needs_braces = value.find_first_of(";{}=[](),?*!@") != std::string_view::npos ||
                            (!value.empty() && (std::isspace(static_cast<unsigned char>(value.front())) ||
                                                std::isspace(static_cast<unsigned char>(value.back()))));
  if (!needs_braces) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

bool HasOdbcKey(std::string_view connection_string, std::string_view key) {
  size_t pos = 0;
  while (pos < connection_string.size()) {
    const size_t eq = connection_string.find('=', pos);
    if (eq == std::string_view::npos) return false;
    if (EqualsIgnoreAsciiCase(Trim(connection_string.substr(pos, eq - pos)), key)) return true;
    // Skip the value: a braced value may hold ';'.
    size_t i = eq + 1;
    while (i < connection_string.size() && connection_string[i] == ' ') ++i;
    if (i < connection_string.size() && connection_string[i] == '{') {
      ++i;
      while (i < connection_string.size()) {
        if (connection_string[i] == '}') {
          if (i + 1 < connection_string.size() && connection_string[i + 1] == '}') {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
    }
    const size_t semi = connection_string.find(';', i);
    if (semi == std::string_view::npos) return false;
    pos = semi + 1;
  }
  return false;
}

Result<std::string> BuildSqlServerConnectionString(std::span<const PropertySet> sets, std::string_view driver) {
  std::string server(Trim(InitString(sets, DBPROP_INIT_DATASOURCE)));
  if (server.empty()) return InvalidArgumentError("no server name (DBPROP_INIT_DATASOURCE) given");
  std::string port;
  if (const size_t comma = server.find(','); comma != std::string::npos) {
    port = Trim(server.substr(comma + 1));
    server = Trim(server.substr(0, comma));
  } else if (const size_t colon = server.find(':'); colon != std::string::npos && server.rfind(':') == colon) {
    port = Trim(server.substr(colon + 1));
    server = Trim(server.substr(0, colon));
  }
  if (!port.empty() && port.find_first_not_of("0123456789") != std::string::npos) {
    return InvalidArgumentError("port '" + port + "' of server '" + server + "' is not a number");
  }
  if (server == "(local)" || server == ".") server = "localhost";
  std::string out;
  AppendKey(out, "Driver", driver);
  AppendKey(out, "Server", server);
  if (!port.empty()) AppendKey(out, "Port", port);
  if (std::string catalog = InitString(sets, DBPROP_INIT_CATALOG); !catalog.empty())
    AppendKey(out, "Database", catalog);
  if (std::string user = InitString(sets, DBPROP_AUTH_USERID); !user.empty()) AppendKey(out, "UID", user);
  if (std::string password = InitString(sets, DBPROP_AUTH_PASSWORD); !password.empty()) AppendKey(out, "PWD", password);
  AppendKey(out, "ClientCharset", "UTF-8");
  AppendKey(out, "TDS_Version", "7.4");
  return out;
}

Result<std::string> BuildGenericConnectionString(std::span<const PropertySet> sets) {
  std::string provider_string(Trim(InitString(sets, DBPROP_INIT_PROVIDERSTRING)));
  while (!provider_string.empty() && provider_string.front() == ';') provider_string.erase(0, 1);
  const std::string data_source(Trim(InitString(sets, DBPROP_INIT_DATASOURCE)));
  std::string out;
  if (!provider_string.empty()) {
    out = MapSqlServerDriver(provider_string, SqlServerDriverName());
  } else if (data_source.find('=') != std::string::npos) {
    out = MapSqlServerDriver(data_source, SqlServerDriverName());
  } else if (!data_source.empty()) {
    AppendKey(out, "DSN", data_source);
  } else {
    return InvalidArgumentError("no ODBC data source or connection string given");
  }
  if (std::string user = InitString(sets, DBPROP_AUTH_USERID); !user.empty() && !HasOdbcKey(out, "UID")) {
    AppendKey(out, "UID", user);
  }
  if (std::string password = InitString(sets, DBPROP_AUTH_PASSWORD); !password.empty() && !HasOdbcKey(out, "PWD")) {
    AppendKey(out, "PWD", password);
  }
  if (std::string catalog = InitString(sets, DBPROP_INIT_CATALOG); !catalog.empty() && !HasOdbcKey(out, "Database")) {
    AppendKey(out, "Database", catalog);
  }
  return out;
}

int LoginTimeoutSeconds(std::span<const PropertySet> sets) {
  const Property* p = FindProperty(sets, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT);
  if (p != nullptr && (p->value.type == VT_I4 || p->value.type == VT_I2) && p->value.number > 0) {
    return p->value.number;
  }
  return 15;
}

}  // namespace tabulon::data
