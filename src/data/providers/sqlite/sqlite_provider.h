// The provider "SQLite": a SQLite database file opened read-only with libsqlite3.
//
// The data source is the file's path (DBPROP_INIT_DATASOURCE); a missing file, a folder or a
// file that is not a SQLite database is refused with a text naming the path, and no file is
// ever created. Statements run as SQLite runs them; rows come as text: integers in decimal,
// reals as the shortest text that reads back as the same number, text as stored, blobs as
// upper-case hexadecimal digits. Column types are OLE DB codes from the declared type (see
// sqlite_types.h), from the first value's storage class where the declaration says nothing.
// GetInfo: "SQLite", the library's version, the path; the one catalog is the file name without
// its extension (the name the trees and the migration flows give the database).
#pragma once

#include <span>

#include "data/provider.h"

namespace tabulon::data {

inline constexpr char kSqliteProviderName[] = "SQLite";
inline constexpr char kSqliteDbmsName[] = "SQLite";

class SqliteProvider : public Provider {
 public:
  OpenedDataSource OpenDataSource(std::span<const PropertySet> sets) override;
};

}  // namespace tabulon::data
