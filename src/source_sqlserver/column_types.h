// The Access type of a SQL Server column, decided here from the facts the catalogue gives (the
// catalogue statement only reads them): the user's type map first, then the built-in map.
#pragma once

#include <optional>
#include <string>

#include "base/status.h"
#include "source_common/type_map.h"

namespace tabulon::source_sqlserver {

// One row of the columns statement (BuildColumnsStatement). Sources of the catalogue views:
// sys.all_columns, sys.identity_columns (seed_value, increment_value: sql_variant of the column's
// type) and sys.default_constraints (definition: nvarchar(max)), Microsoft's Transact-SQL
// reference.
struct ColumnFacts {
  std::string name;
  int type_id = 0;             // the built-in type; an alias type's base type
  std::string type_name;       // its name ("nvarchar")
  std::string declared_type;   // the declared type's name: the alias ("Phone") or type_name
  int max_length = 0;          // bytes; -1 for (max) and xml
  int precision = 0;
  int scale = 0;
  bool nullable = true;
  bool identity = false;
  std::string seed;            // identity only
  std::string increment;       // identity only
  bool has_default = false;    // default_object_id <> 0
  std::optional<std::string> default_definition;  // nullopt for a default bound from a default object
  std::string collation;
};

// The declared type as SQL Server's DDL writes it: "nvarchar(100)", "decimal(38,10)",
// "varbinary(max)", "datetime2(7)", "Phone".
std::string DeclaredTypeText(const ColumnFacts& column);

// The facts the type map matches: lengths in characters for character types, the precision of
// decimals, the fractional digits of time types.
source_common::SourceType TypeMapView(const ColumnFacts& column);

struct ColumnDecision {
  source_common::AccessType type;
  bool auto_number = false;
  // Why the values are not kept exactly as the source types them ("" when they are): a length
  // counted in bytes, a type widened or narrowed, a value class changed, an AutoNumber made or
  // not made.
  std::string note;
  // The values themselves change form or range (ColumnNote::changes_values).
  bool changes_values = false;
  // A decimal wider than Access's 28 digits: the type depends on the stored values
  // (DecideWideDecimal).
  bool needs_value_check = false;
};

// The Access type of `column` for a Jet target (`jet_target`) or an Access ODBC driver. An error
// names the type map rule that cannot give this column a type.
Result<ColumnDecision> DecideColumnType(const ColumnFacts& column, const source_common::TypeMap& map, bool jet_target);

// A decimal or numeric column of precision above 28, once the largest stored value's digits
// before the point are known (`integer_digits`, 0 when the table is empty): Numeric(28,s) when
// every value fits, else text long enough for every value.
ColumnDecision DecideWideDecimal(const ColumnFacts& column, int integer_digits);

}  // namespace tabulon::source_sqlserver
