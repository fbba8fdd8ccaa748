#include <cstdio>

#include "commands.h"

int RunOdbcCommand(int /*argc*/, char** /*argv*/) {
  std::fputs("tabulon-cli odbc: not built yet\n", stderr);
  return 1;
}
