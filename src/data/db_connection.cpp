#include "data/db_connection.h"

#include "data/provider_registry.h"

namespace tabulon::data {

DbConnection::~DbConnection() { CloseConnection(*this); }

Hresult OpenDataSource(DbConnection& connection, std::span<const PropertySet> sets) {
  CloseConnection(connection);
  connection.open_errors.clear();
  std::shared_ptr<Provider> provider = FindProvider(connection.profile.provider_name);
  if (provider == nullptr) {
    connection.open_errors.push_back("Provider '" + connection.profile.provider_name + "' is not registered.");
    return REGDB_E_CLASSNOTREG;
  }
  OpenedDataSource opened = provider->OpenDataSource(sets);
  if (Failed(opened.code) || opened.data_source == nullptr) {
    connection.open_errors = std::move(opened.errors);
    return Failed(opened.code) ? opened.code : E_FAIL;
  }
  connection.data_source = std::move(opened.data_source);
  return S_OK;
}

Hresult OpenSession(DbConnection& connection) {
  connection.session.reset();
  if (connection.data_source == nullptr) return E_UNEXPECTED;
  std::unique_ptr<Session> session;
  const Hresult code = connection.data_source->CreateSession(&session);
  if (Failed(code) || session == nullptr) {
    connection.open_errors = connection.data_source->ErrorRecords();
    return Failed(code) ? code : E_FAIL;
  }
  connection.session = std::move(session);
  return S_OK;
}

Hresult ReadDataSourceInfo(DbConnection& connection, PropertyId id, std::string* text) {
  text->clear();
  if (connection.data_source == nullptr) return E_UNEXPECTED;
  return connection.data_source->GetInfo(DBPROPSET_DATASOURCEINFO, id, text);
}

void CloseConnection(DbConnection& connection) {
  connection.session.reset();
  connection.data_source.reset();
}

}  // namespace tabulon::data
