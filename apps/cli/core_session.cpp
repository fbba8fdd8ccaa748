#include "core_session.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "cli_output.h"
#include "config/program_folders.h"
#include "converters/connect.h"
#include "data/providers/jet/jet_provider.h"

namespace {

namespace fs = std::filesystem;
using tabulon::converters::Workbench;
using tabulon::converters::WorkbenchOptions;

tabulon::config::ProgramFolders FindFolders(const std::string& config_file) {
  if (!config_file.empty()) {
    return tabulon::config::ExplicitProgramFolders(fs::path(AbsolutePath(config_file)).parent_path().string());
  }
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  return tabulon::config::FindProgramFolders(error ? std::string() : executable.parent_path().string(),
                                             [](std::string_view name) -> std::optional<std::string> {
                                               const char* value = std::getenv(std::string(name).c_str());
                                               if (value == nullptr) return std::nullopt;
                                               return std::string(value);
                                             });
}

WorkbenchOptions MakeOptions(const std::string& config_file) {
  const tabulon::config::ProgramFolders folders = FindFolders(config_file);
  WorkbenchOptions options;
  options.program_folder = folders.config;
  options.data_folder = folders.data;
  // The controller ends after the pass that ran the last task; no one is watching for a
  // task queued during a pause.
  options.pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
  return options;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const fs::path whole = fs::absolute(path, error);
  return error ? path : whole.lexically_normal().string();
}

void CommandLinePrompt::ShowMessage(std::string_view text, std::string_view /*caption*/) {
  std::fprintf(stderr, "tabulon-cli %s: %.*s\n", command_.c_str(), static_cast<int>(text.size()), text.data());
}

CoreSession::CoreSession(const std::string& command, const std::string& config_file)
    : prompt_(command), workbench_(prompt_, MakeOptions(config_file)) {
  PrintOutputLines(workbench_.output());
  workbench_.target().profile.provider_name = tabulon::data::kJetProviderName;
}

bool CoreSession::ConnectTarget(const std::string& path) {
  workbench_.target().profile.source_name = path;
  tabulon::converters::ConnectTarget(workbench_);
  return workbench_.target().session != nullptr;
}

int CoreSession::WaitForTasks() {
  tabulon::converters::TaskList& tasks = workbench_.tasks();
  // Nothing queued: a controller a command started anyway would wait for work for ever.
  if (tasks.Size() == 0) workbench_.RequestControllerStop();
  workbench_.JoinController();
  const std::vector<tabulon::converters::MigrationTask> ran = tasks.Snapshot();
  bool all_succeeded = !ran.empty();
  for (const tabulon::converters::MigrationTask& task : ran) {
    all_succeeded = all_succeeded && task.state == tabulon::converters::kTaskSucceeded;
  }
  return all_succeeded ? 0 : 1;
}
