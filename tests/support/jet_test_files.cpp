#include "jet_test_files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tabulon::testing {

std::filesystem::path ScratchFile(const std::string& program, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tabulon_" + program + "_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path path = dir / name;
  // A folder of that name may be left by an earlier process that had the same id.
  fs::remove_all(path);
  return path;
}

std::string ReadTextFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ExpectGoldenFile(const std::string& relative_path, const std::string& actual) {
  const std::string path = std::string(TABULON_SOURCE_DIR) + "/" + relative_path;
  const char* update = std::getenv("TABULON_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  EXPECT_EQ(ReadTextFile(path), actual) << "golden file " << path << " differs (TABULON_UPDATE_GOLDEN=1 rewrites it)";
}

CommandRun RunCommand(const std::string& command) {
  CommandRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace tabulon::testing
