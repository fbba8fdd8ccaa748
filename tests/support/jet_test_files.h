// Scratch files for engine tests: one folder per test program and process, so programs that
// run side by side never share a file.
#pragma once

#include <filesystem>
#include <string>

namespace tabulon::testing {

// `name` in the scratch folder of `program` (created when missing); any old file of that name
// is removed first.
std::filesystem::path ScratchFile(const std::string& program, const std::string& name);

}  // namespace tabulon::testing
