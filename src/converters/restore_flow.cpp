// The restore flow: a backup folder (TABLES, DATA, VIEWS) replayed into an .mdb file, which is
// made first when it does not exist. The target side stays connected to that file afterwards,
// as it does after a migration.
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "converters/core_task_flows.h"
#include "converters/flow_support.h"
#include "converters/workbench.h"
#include "data/error_text.h"
#include "data/provider_registry.h"
#include "data/providers/jet/jet_provider.h"
#include "target_access/restore_backup.h"

namespace tabulon::converters {
namespace {

namespace fs = std::filesystem;

// Makes an empty .mdb at `path` with the built-in provider, reporting as the file creation of
// the target adapter does.
bool CreateMdbFile(workspace::OutputPane* out, const std::string& path) {
  workspace::WriteOutput(out, "Create Access MDB File [%s]", path.c_str());
  const std::shared_ptr<data::Provider> provider = data::FindProvider(data::kJetProviderName);
  auto* jet = dynamic_cast<data::JetProvider*>(provider.get());
  if (jet == nullptr) {
    workspace::WriteOutputText(out, data::FormatHresult("Database Init", data::REGDB_E_CLASSNOTREG));
    return false;
  }
  data::PropertySet set(data::DBPROPSET_DBINIT);
  set.AddString(data::DBPROP_INIT_DATASOURCE, path);
  std::vector<std::string> errors;
  const data::Hresult code = jet->CreateDataSource({&set, 1}, &errors);
  if (data::Failed(code)) {
    workspace::WriteOutputText(out, data::FormatHresult("Create DB", code));
    if (!errors.empty()) workspace::WriteOutputText(out, errors.front());
    return false;
  }
  return true;
}

}  // namespace

bool HoldsBackup(const std::string& folder) {
  std::error_code error;
  for (const char* part : {"TABLES", "DATA", "VIEWS", "QUERIES"}) {
    if (fs::is_directory(fs::path(folder) / part, error)) return true;
  }
  return false;
}

std::string MdbFilePath(const std::string& database) {
  // The reconnection applies the same rule, so both name the same file.
  return database.find(".mdb") == std::string::npos ? database + ".mdb" : database;
}

bool CoreTaskFlows::RestoreBackup(TaskRunContext& run) {
  workspace::OutputPane* out = run.output();
  const std::string& folder = run.source_database;
  // Checked before the file is made: a folder without a backup leaves no empty file behind.
  if (!HoldsBackup(folder)) {
    workspace::WriteOutput(out, "E::No backup in [%s]: it holds no TABLES, DATA or VIEWS folder!", folder.c_str());
    return false;
  }
  const std::string file = MdbFilePath(run.target_database);
  std::error_code error;
  if (!fs::exists(file, error) && !CreateMdbFile(out, file)) {
    workspace::WriteOutput(out, "Create Target Database[%s] Error!", file.c_str());
    return false;
  }
  run.SetProgress(10);
  // A file that does not open is reported by the connection; the restore then finds no session.
  ReconnectTarget(run, run.target_database);
  run.SetProgress(20);
  const Result<target_access::RestoreResult> restored =
      target_access::RestoreBackup(owner_.target_context(), run.target->session.get(), folder);
  if (!restored.ok()) {
    if (restored.status().code() != ErrorCode::kNoConnection) {
      workspace::WriteOutput(out, "E::%s", restored.status().message().c_str());
    }
    return false;
  }
  const target_access::RestoreResult& r = *restored;
  // Saved queries are Access's views: the summary counts them with the views (a query's own
  // script stands in for its view script, so none is counted twice).
  const size_t views_restored = r.views_restored + r.queries_restored;
  const size_t views_failed = r.views_failed + r.queries_failed;
  workspace::WriteOutput(out, "Restored into [%s]: %zu tables, %llu records, %zu views", file.c_str(),
                         r.tables_restored, static_cast<unsigned long long>(r.rows_restored), views_restored);
  const size_t others_failed = r.keys_failed + r.relationships_failed + r.properties_failed;
  const bool complete = r.tables_failed == 0 && r.rows_failed == 0 && r.data_files_skipped == 0 && views_failed == 0 &&
                        others_failed == 0;
  if (r.tables_failed != 0 || r.rows_failed != 0 || r.data_files_skipped != 0 || views_failed != 0) {
    workspace::WriteOutput(out, "T::Not restored: %zu tables, %llu records, %zu views", r.tables_failed,
                           static_cast<unsigned long long>(r.rows_failed), views_failed);
  }
  if (others_failed != 0) {
    workspace::WriteOutput(out, "T::Not restored: %zu keys or AutoNumbers, %zu relationships, %zu properties",
                           r.keys_failed, r.relationships_failed, r.properties_failed);
  }
  return complete && !r.stopped;
}

}  // namespace tabulon::converters
