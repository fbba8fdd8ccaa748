// tabulon-cli check: the driver check as a table. For each side, every provider or driver the
// program can use, whether it is installed and whether it works.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "config/driver_check.h"
#include "converters/settings_commands.h"

namespace {

using tabulon::config::DriverRow;

constexpr const char* kCheckUsage =
    "Usage: tabulon-cli check\n"
    "  Shows the providers and drivers of the source (SQL Server, SQLite) and of the target\n"
    "  (Access): whether each is installed and whether it is usable. Exit code 0 when each side\n"
    "  has a usable one, else 1.\n";

constexpr const char* kNote =
    "Note: If there is no 'Usable' Driver, your computer can not connect to remote/local database. "
    "So, your must install/repair at least one of them. ('Installed' but 'Unusable' need repair.)\n"
    "If have not a Setup Software, you can link to the authoritative site to download.\n";

// Prints one side's rows under `title`; true when one of them is usable. On a terminal the
// usability is green or red.
bool PrintSide(const char* title, const std::vector<DriverRow>& rows, bool colour) {
  size_t width = std::strlen("Provider or driver");
  for (const DriverRow& row : rows) width = std::max(width, row.name.size());
  std::printf("%s\n  %-*s  %-14s  %s\n", title, static_cast<int>(width), "Provider or driver", "Installed", "Usable");
  bool any_usable = false;
  for (const DriverRow& row : rows) {
    const bool usable = tabulon::config::IsUsable(row.usable);
    any_usable = any_usable || usable;
    const char* on = !colour ? "" : usable ? "\033[32m" : "\033[31m";
    std::printf("  %-*s  %-14s  %s%s%s\n", static_cast<int>(width), row.name.c_str(), row.installed.c_str(), on,
                row.usable.c_str(), colour ? "\033[0m" : "");
  }
  return any_usable;
}

}  // namespace

int RunCheckCommand(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kCheckUsage, stdout);
    return 0;
  }
  if (argc != 1) {
    std::fputs(kCheckUsage, stderr);
    return 2;
  }
  const bool colour = isatty(fileno(stdout)) != 0;
  const tabulon::converters::DriverCheckRows rows = tabulon::converters::RunDriverCheck();
  const bool source_ok = PrintSide("Source: SQL Server and SQLite", rows.source, colour);
  std::printf("\n");
  const bool target_ok = PrintSide("Target: Access", rows.target, colour);
  if (source_ok && target_ok) return 0;
  std::printf("\n%sSQL Server drivers: %s\n", kNote, tabulon::converters::kDriverSetupSite);
  return 1;
}
