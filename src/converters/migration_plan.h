// A migration's plan, made before anything is written: the migration's own flows run against a
// scratch file in a temporary folder, with each table's rows counted and measured instead of
// copied. So the plan says what the migration will do in the migration's own words: per table the
// rows (under its condition), every column's source and Access type with a note where a value is
// not kept exactly, AutoNumbers, renamed names, the keys, indexes and relationships made or left
// out and why, the views translated or not; and an estimate of the target file's size, which
// decides whether the migration may start at all (a Jet 4 file cannot pass 2 GB).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/status.h"
#include "converters/migration_run.h"
#include "source_common/source_context.h"

namespace tabulon::converters {

class Workbench;

struct PlannedColumn {
  std::string name;         // in the source
  std::string access_name;  // in the file
  std::string source_type;  // as the source declares it
  std::string access_type;  // as CREATE TABLE gives it ("VarChar(50)", "COUNTER")
  std::string note;         // why a value is not kept exactly; "" when it is
  bool autonumber = false;
};

// A primary key, index, relationship, description or validation rule of a table.
struct PlannedObject {
  std::string kind;       // "primary key", "index", "relationship", "description", "check constraint"
  std::string outcome;    // "created", "left out", "not enforced", "fails"
  std::string statement;  // what will run; "" when left out
  std::string reason;     // why not created, or what changes
};

struct PlannedTable {
  std::string name;         // in the source
  std::string access_name;  // in the file
  std::string condition;    // the migration condition; "" for every row
  long long rows = -1;      // rows the copy will read; -1 when they could not be counted
  std::string error;        // why the table cannot be made or counted; "" when it can
  std::vector<PlannedColumn> columns;
  std::vector<source_common::Rename> renames;
  std::vector<PlannedObject> objects;
  long long estimated_bytes = 0;  // what its rows, long values and index entries take
};

struct PlannedView {
  std::string name;
  bool translated = false;
  std::string statement;  // the Access definition, when translated
  std::string reason;     // why not, or the translation's notes
};

struct MigrationPlan {
  std::vector<PlannedTable> tables;
  std::vector<PlannedView> views;
  // The file before the migration: an existing target's size, or a new file's.
  long long base_bytes = 0;
  long long estimated_bytes = 0;  // the whole file after the migration
};

// Plans `request` against the Workbench's connected source (borrowed for the run; the controller
// must be idle), with its type map and conditions. `target_file` is the file the migration will
// write: when it exists, its size is where the estimate starts. `stop_asked` ends the plan early
// (an error). Nothing is written outside a temporary folder, which is removed.
Result<MigrationPlan> PlanMigration(Workbench& owner, const MigrationRequest& request, const std::string& target_file,
                                    const std::function<bool()>& stop_asked);

// A Jet 4 file cannot pass 2 GB; above 1.8 GB a migration warns.
inline constexpr long long kJetFileCeiling = 2LL * 1024 * 1024 * 1024;
inline constexpr long long kJetFileWarning = kJetFileCeiling / 10 * 9;

struct SizeCheck {
  enum class Verdict { kFits, kNearCeiling, kOverCeiling };
  Verdict verdict = Verdict::kFits;
  // kNearCeiling, kOverCeiling: what to tell the user ("The estimated size of the file, 2.31 GB,
  // passes ... Largest tables: [A] 1.20 GB, ..."); a front end adds its own way out.
  std::string text;
};
SizeCheck CheckPlannedSize(const MigrationPlan& plan);

// "1.84 GB", "512.0 MB", "12.5 KB", "300 bytes".
std::string SizeText(long long bytes);

// The plan as lines for a person: per table its rows, columns, objects and estimate, then the
// views, then the estimated size (and the size check's text when there is one).
std::vector<std::string> PlanLines(const MigrationPlan& plan);

// The plan as a JSON value's text ("tables", "views", "base_bytes", "estimated_bytes").
std::string PlanJson(const MigrationPlan& plan);

}  // namespace tabulon::converters
