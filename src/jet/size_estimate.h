// How many bytes a table takes in a file this engine writes, from its definition and a few
// measures of its rows (count, non-NULL values and their total length per column), before a
// row is written: a Jet 4 file cannot pass 2 GB, so a migration checks its estimate first.
// The model follows what the engine writes (row layout, text compression, long values inline,
// in one row or in chains, next-fit data pages, index entries and how full splits leave index
// pages); where the measures leave a choice open it leans high. docs/format/jet4.md
// ("Estimating a file's size") describes it.
#pragma once

#include <string>
#include <vector>

#include "jet/schema.h"

namespace tabulon::jet {

struct ColumnVolume {
  std::string column;    // the column's name in the table definition (any case)
  long long values = 0;  // values that are not NULL
  long long length = 0;  // total length of those values: characters for Text and Memo, bytes
                         // for Binary and OLE Object; ignored for fixed-size types
};

struct TableVolume {
  long long rows = 0;
  std::vector<ColumnVolume> columns;  // columns not listed: assume every value present and, for
                                      // variable ones, half the declared length (Memo/OLE: 0)
};

struct TableSizeEstimate {
  long long data_bytes = 0;        // data pages (rows, their offset tables, page headers, fill)
  long long long_value_bytes = 0;  // pages holding Memo/OLE values stored outside the row
  long long index_bytes = 0;       // index pages of every index (primary key, unique, plain, FK)
  long long other_bytes = 0;       // usage maps, definition pages and the like
  long long total() const { return data_bytes + long_value_bytes + index_bytes + other_bytes; }
};

// The bytes `table` takes once its rows are written: its definition, usage maps, catalog
// entries, data pages, long values and index pages, all in whole pages.
TableSizeEstimate EstimateTableSize(const TableDefinition& table, const TableVolume& volume);

// The size of a new file as the engine creates it, with no user tables (system tables only).
long long EmptyFileBytes();

}  // namespace tabulon::jet
