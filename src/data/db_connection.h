// One side's connection (source or target): its settings, data source and session. A null
// session means the side is not connected; statement runners receive a pointer to the session.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "data/hresult.h"
#include "data/properties.h"
#include "data/provider.h"

namespace tabulon::data {

// The settings the Connect command uses for one side.
struct ConnectionProfile {
  std::string provider_display_name;  // as the settings dialog shows it, e.g. "TCP/IP:Port"
  std::string provider_name;          // programmatic name: SQLOLEDB, MSDASQL, ...
  std::string source_name;            // server, ODBC data source or connection string, or .mdb path
  std::string catalog;
  std::string user_id;
  std::string password;
  std::string connection_method;
};

// Never copied: trees and task workers keep pointers to its members.
struct DbConnection {
  DbConnection() = default;
  DbConnection(const DbConnection&) = delete;
  DbConnection& operator=(const DbConnection&) = delete;
  ~DbConnection();

  ConnectionProfile profile;
  std::unique_ptr<DataSource> data_source;
  std::unique_ptr<Session> session;
  // The provider's records of the last failed OpenDataSource / OpenSession (see ErrorDescription).
  std::vector<std::string> open_errors;
};

// Closes the side, then opens profile.provider_name with the property sets. Returns the first
// failing step's code (REGDB_E_CLASSNOTREG for an unknown provider); the side stays
// disconnected then.
Hresult OpenDataSource(DbConnection& connection, std::span<const PropertySet> sets);
// Creates the session on the opened data source.
Hresult OpenSession(DbConnection& connection);
// A DBPROPSET_DATASOURCEINFO property (DBPROP_DBMSNAME, DBPROP_DBMSVER, ...) as text.
Hresult ReadDataSourceInfo(DbConnection& connection, PropertyId id, std::string* text);
// Releases the session, then the data source.
void CloseConnection(DbConnection& connection);

}  // namespace tabulon::data
