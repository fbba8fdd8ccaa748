// Compares what the engine reads from two .mdb files, table by table and view by view: for
// tests that make one file from another (backup and restore, copies) and must lose nothing.
#pragma once

#include <string>
#include <vector>

#include "jet/database.h"

namespace tabulon::testing {

// A table as text: each column as the engine and its metadata describe it, then every row
// (dates by their exact stored number, other values by their canonical text).
std::vector<std::string> EngineTableText(jet::Database& db, const std::string& table);

// What differs between `copy` and the file `from` it was made from: the same tables, equal
// through the engine and through both independent readers (where a reader cannot show a value
// it must fail the same way on `from`), and the same SQL for each of `views`; the copy
// must pass the integrity check. Entries: "Table [t] is missing", "View [v] is missing",
// "Table [t] is extra", "<t> differs", "view <v> differs", a reader's difference.
std::vector<std::string> CompareCopiedFile(const std::string& from, const std::string& copy,
                                           const std::vector<std::string>& views);

}  // namespace tabulon::testing
