// tabulon-cli verify: compares the tables of a source database, read as a migration reads them,
// row by row and value by value with an .mdb file, and prints per table whether they are equal.
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "converters/connect.h"
#include "converters/workbench.h"
#include "core_session.h"
#include "source_side.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kVerifyUsage =
    "Usage: tabulon-cli verify --source SOURCE --database DB --target FILE.mdb\n"
    "                          [--table T]... [--where TABLE=CONDITION]...\n"
    "                          [--config FILE] [--type-map FILE|access-native]\n"
    "  Reads the tables of the database DB of SOURCE (or the tables given) as a migration reads\n"
    "  them (its type map, names and conditions) and compares every row, value by value, with\n"
    "  the table of FILE.mdb: rows are matched by the primary key, or as whole rows where the\n"
    "  table has none. Prints per table\n"
    "    [T] equal (N rows)\n"
    "  or its numbers of differing, missing and extra rows with the first ten of them:\n"
    "    key=(...) column C: source <value> target <value>\n"
    "    missing key=(...)\n"
    "    extra key=(...)\n"
    "  Values of a column the migration does not carry exactly (a type it changes) and dates\n"
    "  rounded to the millisecond are compared as the migration converts them and counted\n"
    "  apart (\"N inexact\").\n"
    "  --source, --where, --config, --type-map as for tabulon-cli migrate.\n"
    "Exit codes: 0 every table is equal, 1 a table differs or cannot be compared, 2 bad usage.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "tabulon-cli verify: %s\n%s", problem.c_str(), kVerifyUsage);
  return 2;
}

int Fail(const std::string& problem) {
  std::fprintf(stderr, "tabulon-cli verify: %s\n", problem.c_str());
  return 1;
}

}  // namespace

int RunVerifyCommand(int argc, char** argv) {
  std::string source, database, target, config, type_map;
  std::vector<std::string> tables;
  std::vector<std::pair<std::string, std::string>> conditions;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kVerifyUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc || !arg.starts_with("--")) return Usage("unknown option or missing value: " + arg);
    const std::string value = argv[++i];
    if (arg == "--table") {
      tables.push_back(value);
    } else if (arg == "--where") {
      const size_t equals = value.find('=');
      if (equals == 0 || equals == std::string::npos || equals + 1 == value.size()) {
        return Usage("--where takes TABLE=CONDITION, got '" + value + "'");
      }
      conditions.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else {
      std::string* slot = arg == "--source"     ? &source
                          : arg == "--database" ? &database
                          : arg == "--target"   ? &target
                          : arg == "--config"   ? &config
                          : arg == "--type-map" ? &type_map
                                                : nullptr;
      if (slot == nullptr) return Usage("unknown option: " + arg);
      *slot = value;
    }
  }
  if (source.empty() || database.empty() || target.empty())
    return Usage("--source, --database and --target are needed");
  const std::string file = AbsolutePath(target);
  std::error_code error;
  if (!fs::is_regular_file(file, error)) return Fail(file + ": no such file");

  CoreSession session("verify", config);
  tabulon::converters::Workbench& workbench = session.workbench();
  // Only the verdict goes to stdout; the core's failures go to stderr.
  workbench.output().SetListener([](const tabulon::workspace::OutputLine& line) {
    if (line.severity == tabulon::workspace::Severity::kError) std::fprintf(stderr, "%s\n", line.text.c_str());
  });
  if (std::optional<int> code = SetSourceProfile("verify", kVerifyUsage, source, session)) return *code;
  if (std::optional<int> code = InstallTypeMap("verify", type_map, workbench)) return *code;
  tabulon::converters::ConnectSource(workbench);
  if (workbench.source().session == nullptr) return Fail("the source does not open");
  std::string found;
  {
    std::lock_guard guard(workbench.tree_lock());
    std::optional<std::string> named = FindDatabase(workbench.source_tree(), database);
    if (!named) return Fail("the source has no database named '" + database + "'");
    found = *named;
  }
  for (const auto& [table, condition] : conditions) workbench.SetConditionOverride(table, condition);
  return VerifyAndShow("verify", workbench, found, tables, file);
}
