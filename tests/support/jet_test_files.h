// Scratch files for engine tests: one folder per test program and process, so programs that
// run side by side never share a file. Golden files, and commands run as a user runs them.
#pragma once

#include <filesystem>
#include <string>

namespace tabulon::testing {

// `name` in the scratch folder of `program` (created when missing); any old file or folder of
// that name is removed first.
std::filesystem::path ScratchFile(const std::string& program, const std::string& name);

// The bytes of a file ("" when it cannot be read).
std::string ReadTextFile(const std::filesystem::path& path);

// Compares `actual` with the file at `relative_path` below the source tree;
// TABULON_UPDATE_GOLDEN=1 rewrites the file instead.
void ExpectGoldenFile(const std::string& relative_path, const std::string& actual);

// Runs `command` with the shell: its exit code (-1 when it did not exit) and standard output.
struct CommandRun {
  int exit_code = -1;
  std::string out;
};
CommandRun RunCommand(const std::string& command);

}  // namespace tabulon::testing
