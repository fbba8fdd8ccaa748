// What the providers over a database file (Jet, SQLite) share: reading the file's path from
// the initialisation properties, the checks before opening it, and the answers of a data
// source and a session that are the same for any file.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/status.h"
#include "data/provider.h"
#include "data/schema_rowset.h"

namespace tabulon::data {

// A failed open with one error record.
OpenedDataSource OpenFailure(Hresult code, std::string error);

// DBPROP_INIT_DATASOURCE as text; empty when absent or not a string.
std::string DataSourcePath(std::span<const PropertySet> sets);

// The failure of opening `path` for reading when it is empty, missing, a folder or unreadable
// (with the text the user sees); nullopt when it can be opened.
std::optional<OpenedDataSource> CheckDatabaseFile(const std::string& path);

// The file's answers to DataSource::GetInfo.
struct FileSourceInfo {
  std::string catalog;       // DBPROP_CURRENTCATALOG
  std::string dbms_name;     // DBPROP_DBMSNAME
  std::string dbms_version;  // DBPROP_DBMSVER
  std::string path;          // DBPROP_DATASOURCENAME
  std::string provider;      // names the provider in the refusal of any other property
};
Hresult AnswerSourceInfo(const FileSourceInfo& info, const Guid& set_id, PropertyId id, std::string* text,
                         std::vector<std::string>* errors);

// Hands out a schema rowset's rows, or keeps the reason they could not be read.
Hresult AnswerSchemaRowset(SchemaRowsetKind kind, Result<std::vector<SchemaRow>> rows, std::vector<std::string>* errors,
                           std::unique_ptr<Rowset>* rowset);

}  // namespace tabulon::data
