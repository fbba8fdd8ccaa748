// Verification of a migration: every row of the source tables, read and converted exactly as the
// row copy reads and converts them (the adapter's select with the migration condition, its
// literal writers, the engine's conversion of each literal to the target column's type), compared
// value by value with the rows of the Access file.
//
// Rows are matched by the target table's primary key or, for a table without one, as multisets of
// whole rows. A migrated table's rows lie in the file in the order the source gives them, so the
// file is scanned first in step with the source: each source row is compared with the next row of
// the file while their keys (whole rows without a key) agree, holding nothing. From the first
// disagreement on, the file's remaining rows are indexed (key text -> row position, or a 64-bit
// hash of the whole row -> row positions) and the rest of the source is looked up there, each
// target row read again by its position. Memory grows with that index, never with the values;
// rows left in it at the end are extra.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "data/provider.h"
#include "source_common/source_adapter.h"
#include "source_common/source_context.h"

namespace tabulon::jet {
class Database;
}

namespace tabulon::converters {

class Workbench;

inline constexpr size_t kShownDifferences = 10;

struct VerifyDifference {
  enum class Kind { kValue, kMissing, kExtra };
  Kind kind = Kind::kValue;
  std::string key;     // "(1, 'Ann')": the key values (the whole row without a key)
  std::string column;  // kValue: the Access column
  std::string source;  // kValue: the source value converted for the column, as shown
  std::string target;  // kValue: the target's value, as shown
};

struct TableVerification {
  std::string table;         // the source table
  std::string access_table;  // its table in the file
  std::string error;         // set when the table could not be compared at all
  bool keyed = false;        // rows matched by the primary key
  long long rows = 0;        // source rows read
  long long differing = 0;   // rows present on both sides with a value that differs
  long long missing = 0;     // source rows the file does not hold
  long long extra = 0;       // rows of the file the source does not have
  // Values compared under an inexact conversion: a column whose values the migration notes as not
  // kept as typed (kept as text, narrowed, kept in a binary form, mapped by the user's type map),
  // a date rounded to the millisecond, or a NULL of a Yes/No column (which holds No).
  long long inexact = 0;
  std::vector<VerifyDifference> first;  // the first kShownDifferences, in the order found

  bool equal() const { return error.empty() && differing == 0 && missing == 0 && extra == 0; }
};

// Compares one source table with its table in `target`. `owner` is the migration's context
// (conditions, type map, names; output may be null: nothing is written).
TableVerification VerifyTable(const source_common::SourceContext& owner, const source_common::SourceAdapter& adapter,
                              data::Session* source, std::string_view database, const source_common::SourceTable& table,
                              jet::Database& target);

struct VerifyRequest {
  std::string source_database;      // as the source tree names it
  std::vector<std::string> tables;  // empty: every table of the database
  std::string target_file;          // the .mdb
};

// Verifies against the Workbench's connected source, with its type map and conditions (its
// overrides first, then the condition file), as a migration of the same tables reads them.
// An error when the source database cannot be used or listed, or the file does not open.
Result<std::vector<TableVerification>> RunVerification(Workbench& owner, const VerifyRequest& request);

}  // namespace tabulon::converters
