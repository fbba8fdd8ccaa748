// What migrate and verify share: the source named on the command line, the type map, the
// source database found in the tree, and the verification's lines.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "converters/workbench.h"
#include "core_session.h"
#include "workspace/db_tree.h"

// Turns SOURCE (sqlite:PATH, a connection string or SourceDB) into the source side's profile; an
// exit code when it cannot, its reason printed after "tabulon-cli COMMAND:" (with `usage` for a
// source of no known form).
std::optional<int> SetSourceProfile(const char* command, const char* usage, const std::string& source,
                                    CoreSession& session);

// Gives the Workbench the rules of the file `type_map` (or its preset) or else of the settings
// file's [TypeMap] section; 2 when they cannot be read, the reason printed.
std::optional<int> InstallTypeMap(const char* command, const std::string& type_map,
                                  tabulon::converters::Workbench& workbench);

// The database of the tree named `name`, exactly or else without regard to case.
std::optional<std::string> FindDatabase(const tabulon::workspace::DbTreeView& view, const std::string& name);

// Compares the tables (none: every table) of `database` of the connected source with `file` and
// prints per table "[T] equal (N rows)" or its counts and first differences; 0 when everything
// is equal, 1 when anything differs or cannot be compared (the reason on stderr).
int VerifyAndShow(const char* command, tabulon::converters::Workbench& workbench, const std::string& database,
                  const std::vector<std::string>& tables, const std::string& file);
