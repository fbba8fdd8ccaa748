#include "jet_test_files.h"

#include <unistd.h>

namespace tabulon::testing {

std::filesystem::path ScratchFile(const std::string& program, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tabulon_" + program + "_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path path = dir / name;
  fs::remove(path);
  return path;
}

}  // namespace tabulon::testing
