#include <cstdio>

#include "commands.h"

int RunMdbCommand(int /*argc*/, char** /*argv*/) {
  std::fputs("tabulon-cli mdb: not built yet\n", stderr);
  return 1;
}
