// The columns of a table of the target as its COLUMNS schema rowset lists them: what the
// translations ask of a table they have just made (Date/Time columns, Memo/OLE columns, classes).
#pragma once

#include <string>
#include <vector>

#include "data/db_connection.h"

namespace tabulon::source_common {

struct TargetColumn {
  std::string name;
  unsigned long ordinal = 0;  // from 1
  unsigned long type = 0;     // DBTYPE_*
  unsigned long flags = 0;    // DBCOLUMNFLAGS_*
};

// None when the target cannot list them (which only leaves what depends on them undone).
std::vector<TargetColumn> ReadTargetColumns(data::Session* target, const std::string& table);

}  // namespace tabulon::source_common
