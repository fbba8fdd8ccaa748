// What the migration flows did, as facts a front end can print or store: per table whether it
// was created and how many rows were read, written and refused, and per key, index,
// relationship and view whether it was created or why not. Filled on the controller thread,
// read by front ends at any time.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "source_common/source_context.h"

namespace tabulon::converters {

struct ReportedTable {
  std::string name;
  bool created = false;
  bool rows_copied = false;  // the row copy ran to its end (it may still have refused rows)
  source_common::RowCopyCounts rows;
  std::string error;  // why the table or its rows failed; "" when nothing failed
  // Columns whose values the target does not hold exactly as the source types them.
  std::vector<source_common::ColumnNote> columns;
  // Its objects that Access got under other names.
  std::vector<source_common::Rename> renames;
  // Every column as the translation mapped it.
  std::vector<source_common::ColumnMapping> mappings;
  // A planning run's measure of the rows instead of their copy.
  std::optional<source_common::SourceVolume> volume;
};

// kNotEnforced: a relationship kept but not enforced (its reason says why).
enum class ObjectOutcome { kCreated, kFailed, kUnsupported, kNotEnforced };

struct ReportedObject {
  std::string kind;  // "primary key", "index", "relationship", "view"
  std::string name;  // the view's name; for the others the table they belong to
  std::string statement;
  ObjectOutcome outcome = ObjectOutcome::kCreated;
  std::string reason;  // the target's or the translation's words when not created
};

class MigrationReport {
 public:
  using ProgressListener = std::function<void(std::string_view table, const source_common::RowCopyCounts& counts)>;

  // A table's migration begins (a table migrated twice keeps one entry, the last run's).
  void BeginTable(std::string_view table);
  void TableCreated(std::string_view table);
  void SetRows(std::string_view table, const source_common::RowCopyCounts& counts);
  // Keeps the first reason given.
  void FailTable(std::string_view table, std::string_view reason);
  void AddObject(ReportedObject object);
  // A column of a table (begun already or not) that is not carried exactly as typed; not a failure.
  void AddColumnNote(const source_common::ColumnNote& note);
  void AddRename(const source_common::Rename& rename);
  void AddColumnMapping(const source_common::ColumnMapping& mapping);
  void SetVolume(std::string_view table, const source_common::SourceVolume& volume);

  // Told of every SetRows, outside the report's lock, on the thread that copies.
  void SetProgressListener(ProgressListener listener);

  std::vector<ReportedTable> Tables() const;
  std::vector<ReportedObject> Objects() const;
  // True when a table, a row or an object failed (an unsupported object counts: it is missing).
  bool AnyFailure() const;
  void Clear();

 private:
  ReportedTable& Entry(std::string_view table);

  mutable std::mutex mutex_;
  std::vector<ReportedTable> tables_;
  std::vector<ReportedObject> objects_;
  ProgressListener listener_;
};

// "created", "failed" or "unsupported".
const char* ObjectOutcomeText(ObjectOutcome outcome);

}  // namespace tabulon::converters
