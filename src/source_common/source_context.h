// What a source adapter needs from its owner (the program's core object): the output pane, both
// connections, the migration settings and the stop request; and the name of a source object.
// Front ends and tests fill the context in; nothing here is owned.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/db_connection.h"
#include "source_common/type_map.h"
#include "workspace/output_pane.h"

namespace tabulon::source_common {

// A table or view of the source. An empty schema leaves the name to the source's default
// schema resolution; the Access object gets `name` alone (Access has no schemas).
struct SourceTable {
  std::string schema;
  std::string name;

  SourceTable() = default;
  SourceTable(std::string schema_name, std::string object_name)
      : schema(std::move(schema_name)), name(std::move(object_name)) {}
  // A bare name, as the trees and the flows pass it.
  SourceTable(const char* object_name) : name(object_name) {}             // NOLINT(google-explicit-constructor)
  SourceTable(std::string object_name) : name(std::move(object_name)) {}  // NOLINT(google-explicit-constructor)
};

// Rows of one table's copy so far. `finished` is set once, after the copy's last commit.
struct RowCopyCounts {
  long long read = 0;
  long long written = 0;
  long long failed = 0;
  // Values of stored rows whose digits below a millisecond a Date/Time column rounded away.
  long long rounded = 0;
  bool finished = false;
};

// A column whose values the target does not hold exactly as the source types them (a length
// counted in bytes, a type widened or narrowed, a value class changed, an AutoNumber made or not).
struct ColumnNote {
  std::string table;
  std::string column;
  std::string source_type;  // as the source declares it: "nvarchar(100)"
  std::string target_type;  // as the target gets it: "VarChar(200)"
  std::string why;
  // The values themselves change form or range (kept as text, narrowed, kept in a binary form,
  // chosen by the user's type map), not only how a length is counted or that an AutoNumber is made.
  bool changes_values = false;
};

// How a table translation maps one source column (every column, also those kept exactly).
struct ColumnMapping {
  std::string table;          // the source table
  std::string column;         // the source column
  std::string access_column;  // its name in Access
  std::string source_type;    // as the source declares it: "nvarchar(100)"
  std::string target_type;    // as CREATE TABLE gives it: "VarChar(100)", "COUNTER"
};

// What the rows of a source column take, under the migration condition.
struct SourceColumnVolume {
  std::string column;    // the source column
  long long values = 0;  // values that are not NULL
  // Their total length: characters for character types, bytes for the others.
  long long length = 0;
};
struct SourceVolume {
  long long rows = 0;
  std::vector<SourceColumnVolume> columns;
};
// The volume a measuring statement gives: `counts` holds the row count, then per column of
// `columns` its values and their length.
SourceVolume VolumeFromCounts(const std::vector<std::string>& columns, const std::vector<long long>& counts);

// An object that Access gets under another name than the source's.
struct Rename {
  std::string kind;   // "table", "column", "view", "index", "relationship"
  std::string table;  // the source table (or view) it belongs to
  std::string from;
  std::string to;
};

class AccessNames;

struct SourceContext {
  workspace::OutputPane* output = nullptr;
  data::DbConnection* source = nullptr;
  // The target's provider name decides the Jet-only parts of a translation.
  data::DbConnection* target = nullptr;
  // The migration condition (a WHERE text) of a table of a source database; unset or "": none.
  std::function<std::string(std::string_view database, std::string_view table)> condition;
  // "Auto Backup": every INSERT of a row transfer is also written to the table's data file.
  bool auto_backup = false;
  // Rows go to the target as INSERT statements even where it takes typed rows (the way to
  // targets without a row loader; kept selectable to compare the two).
  bool insert_statements = false;
  // Where the row data files go; empty: the current directory.
  std::string work_folder;
  // True when the user asked the running task to stop (looked at between rows).
  std::function<bool()> stop_requested;
  // Told how a row copy goes: when it starts, every few hundred rows and when it ends. Called on
  // the copying thread; it must be cheap.
  std::function<void(std::string_view table, const RowCopyCounts& counts)> row_progress;
  // Told when the target gave up an object of `table` while rows were copied (an index whose
  // key it cannot sort), with the target's words.
  std::function<void(std::string_view table, std::string_view notice)> object_lost;
  // The user's type map, consulted before the built-in one; null or empty: the built-in map.
  std::shared_ptr<const TypeMap> type_map;
  // Told of every column a table translation does not carry exactly (its line is written).
  std::function<void(const ColumnNote& note)> column_noted;
  // Told of every column of a table translation, as it maps it (no line is written).
  std::function<void(const ColumnMapping& mapping)> column_mapped;
  // The Access names of the migration's objects (access_names.h); null: each name on its own.
  std::shared_ptr<AccessNames> names;
  // Told of every object Access gets under another name (its line is written).
  std::function<void(const Rename& rename)> renamed;
};

// The user's type map of `owner`, or an empty one.
const TypeMap& UserTypeMap(const SourceContext& owner);

// True when the target is the built-in Jet provider.
bool TargetIsJet(const SourceContext& owner);

// The migration condition of `table` ("" when there is none).
std::string MigrationCondition(const SourceContext& owner, std::string_view database, std::string_view table);

}  // namespace tabulon::source_common
