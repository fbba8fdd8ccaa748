// Reaching a SQLite source: the file is the data source (the connection properties name its
// path) and holds one database, named after the file.
#pragma once

#include <string>
#include <string_view>

#include "data/db_connection.h"
#include "workspace/db_tree.h"
#include "data/properties.h"

namespace tabulon::source_sqlite {

// Appends the source's initialisation properties to `set` (DBPROPSET_DBINIT): the file's path
// from the profile's source name, read-only.
void BuildSourceConnectionProperties(const data::ConnectionProfile& profile, data::PropertySet* set);

// Makes `database` the source tree's current database and refreshes the tree. The file's one
// database answers to its name (a path is read by its file name without extension); any other
// name fails with a line, and the tree is left as it was.
bool SelectDatabase(workspace::DbTreeView& source_tree, std::string_view database);

}  // namespace tabulon::source_sqlite
