// The ODBC driver manager's list of installed drivers (odbcinst.ini), for the driver checks.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tabulon::data {

struct OdbcDriver {
  std::string name;                               // the section name, e.g. "SQLite3"
  std::map<std::string, std::string> attributes;  // "Driver", "Setup", ... as written
};

// The drivers the driver manager knows, in its order; empty when it cannot be asked.
std::vector<OdbcDriver> ListOdbcDrivers();

struct OdbcDataSource {
  std::string name;         // the data source name
  std::string description;  // its driver's name
};
// The user and system data sources the driver manager knows (odbc.ini), in its order.
std::vector<OdbcDataSource> ListOdbcDataSources();

// True when an ODBC environment can be created (the driver manager is installed and works).
bool OdbcDriverManagerUsable();

}  // namespace tabulon::data
