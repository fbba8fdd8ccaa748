#include "converters/migration_report.h"

#include <algorithm>
#include <utility>

namespace tabulon::converters {

ReportedTable& MigrationReport::Entry(std::string_view table) {
  auto it = std::find_if(tables_.begin(), tables_.end(), [&](const ReportedTable& t) { return t.name == table; });
  if (it != tables_.end()) return *it;
  tables_.push_back(ReportedTable{});
  tables_.back().name = std::string(table);
  return tables_.back();
}

void MigrationReport::BeginTable(std::string_view table) {
  std::lock_guard guard(mutex_);
  ReportedTable& entry = Entry(table);
  entry = ReportedTable{};
  entry.name = std::string(table);
}

void MigrationReport::TableCreated(std::string_view table) {
  std::lock_guard guard(mutex_);
  Entry(table).created = true;
}

void MigrationReport::SetRows(std::string_view table, const source_common::RowCopyCounts& counts) {
  ProgressListener listener;
  {
    std::lock_guard guard(mutex_);
    ReportedTable& entry = Entry(table);
    entry.rows = counts;
    entry.rows_copied = counts.finished;
    listener = listener_;
  }
  if (listener) listener(table, counts);
}

void MigrationReport::AddColumnNote(const source_common::ColumnNote& note) {
  std::lock_guard guard(mutex_);
  Entry(note.table).columns.push_back(note);
}

void MigrationReport::AddRename(const source_common::Rename& rename) {
  std::lock_guard guard(mutex_);
  Entry(rename.table).renames.push_back(rename);
}

void MigrationReport::AddColumnMapping(const source_common::ColumnMapping& mapping) {
  std::lock_guard guard(mutex_);
  Entry(mapping.table).mappings.push_back(mapping);
}

void MigrationReport::SetVolume(std::string_view table, const source_common::SourceVolume& volume) {
  std::lock_guard guard(mutex_);
  Entry(table).volume = volume;
}

void MigrationReport::FailTable(std::string_view table, std::string_view reason) {
  std::lock_guard guard(mutex_);
  ReportedTable& entry = Entry(table);
  if (entry.error.empty()) entry.error = reason.empty() ? "failed" : std::string(reason);
}

void MigrationReport::AddObject(ReportedObject object) {
  std::lock_guard guard(mutex_);
  objects_.push_back(std::move(object));
}

void MigrationReport::SetProgressListener(ProgressListener listener) {
  std::lock_guard guard(mutex_);
  listener_ = std::move(listener);
}

std::vector<ReportedTable> MigrationReport::Tables() const {
  std::lock_guard guard(mutex_);
  return tables_;
}

std::vector<ReportedObject> MigrationReport::Objects() const {
  std::lock_guard guard(mutex_);
  return objects_;
}

bool MigrationReport::AnyFailure() const {
  std::lock_guard guard(mutex_);
  const bool table_failed = std::any_of(tables_.begin(), tables_.end(), [](const ReportedTable& t) {
    return !t.created || !t.error.empty() || t.rows.failed > 0;
  });
  return table_failed || std::any_of(objects_.begin(), objects_.end(),
                                     [](const ReportedObject& o) {
                       return o.outcome != ObjectOutcome::kCreated && o.outcome != ObjectOutcome::kNotEnforced;
                     });
}

void MigrationReport::Clear() {
  std::lock_guard guard(mutex_);
  tables_.clear();
  objects_.clear();
}

const char* ObjectOutcomeText(ObjectOutcome outcome) {
  switch (outcome) {
    case ObjectOutcome::kCreated: return "created";
    case ObjectOutcome::kFailed: return "failed";
    case ObjectOutcome::kUnsupported: return "unsupported";
    case ObjectOutcome::kNotEnforced: return "not enforced";
  }
  return "failed";
}

}  // namespace tabulon::converters
