#include "data/providers/file_provider.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tabulon::data {

OpenedDataSource OpenFailure(Hresult code, std::string error) {
  OpenedDataSource out;
  out.code = code;
  out.errors.push_back(std::move(error));
  return out;
}

std::string DataSourcePath(std::span<const PropertySet> sets) {
  const Property* p = FindProperty(sets, DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE);
  return p != nullptr && p->value.type == VT_BSTR ? p->value.text : std::string();
}

std::optional<OpenedDataSource> CheckDatabaseFile(const std::string& path) {
  if (path.empty()) return OpenFailure(E_INVALIDARG, "No database file was given (the data source is empty).");
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return OpenFailure(E_FAIL, "Could not find file '" + path + "'.");
    return OpenFailure(E_FAIL, "Cannot open '" + path + "': " + std::strerror(errno) + ".");
  }
  if (S_ISDIR(info.st_mode)) return OpenFailure(E_FAIL, "'" + path + "' is a folder, not a database file.");
  if (::access(path.c_str(), R_OK) != 0) {
    return OpenFailure(E_FAIL, "Cannot open '" + path + "': " + std::strerror(errno) + ".");
  }
  return std::nullopt;
}

Hresult AnswerSourceInfo(const FileSourceInfo& info, const Guid& set_id, PropertyId id, std::string* text,
                         std::vector<std::string>* errors) {
  text->clear();
  if (set_id == DBPROPSET_DATASOURCE && id == DBPROP_CURRENTCATALOG) {
    *text = info.catalog;
    return S_OK;
  }
  if (set_id == DBPROPSET_DATASOURCEINFO) {
    switch (id) {
      case DBPROP_DBMSNAME: *text = info.dbms_name; return S_OK;
      case DBPROP_DBMSVER: *text = info.dbms_version; return S_OK;
      case DBPROP_DATASOURCENAME: *text = info.path; return S_OK;
      default: break;
    }
  }
  *errors = {"The property is not supported by the " + info.provider + " provider."};
  return DB_E_ERRORSOCCURRED;
}

Hresult AnswerSchemaRowset(SchemaRowsetKind kind, Result<std::vector<SchemaRow>> rows, std::vector<std::string>* errors,
                           std::unique_ptr<Rowset>* rowset) {
  if (!rows.ok()) {
    *errors = {rows.status().message()};
    return E_FAIL;
  }
  errors->clear();
  *rowset = std::make_unique<MemoryRowset>(SchemaRowsetColumns(kind), std::move(*rows));
  return S_OK;
}

}  // namespace tabulon::data
