// tabulon-cli: the command-line front end over the Tabulon core.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "tabulon_version.h"

namespace {

constexpr const char* kUsage =
    "Usage: tabulon-cli <command> [arguments]\n"
    "\n"
    "Copies SQL Server databases into Microsoft Access (.mdb) files, backs up .mdb files as\n"
    "scripts and restores them. Each command shows its own options with --help.\n"
    "\n"
    "Commands:\n"
    "  odbc \"CONNECTION STRING\" \"STATEMENT\"   run one statement through ODBC and show its result\n"
    "  mdb create|tables|export|summary|check FILE.mdb …\n"
    "                                         create an .mdb, list its tables, export a table as CSV,\n"
    "                                         count its tables, rows, keys, relationships and views,\n"
    "                                         check every structure of it\n"
    "  sql FILE.mdb [--create] [--keep-going] (\"STATEMENT\" … | --file SCRIPT)\n"
    "                                         run Access SQL statements on an .mdb file\n"
    "  backup FILE.mdb [--table T | --view V | --tables | --views] --out FOLDER\n"
    "                                         back up tables and views as scripts into FOLDER\n"
    "  restore FOLDER --target FILE.mdb       replay a backup into a new or an existing .mdb\n"
    "  migrate --source SOURCE --database DB (--target FILE.mdb | --clone FOLDER)\n"
    "                                         copy a database, its tables or views into an .mdb\n"
    "  verify --source SOURCE --database DB --target FILE.mdb [--table T]… [--where T=COND]…\n"
    "                                         compare a source's tables row by row with an .mdb\n"
    "  check                                  show the source and target drivers and whether they work\n"
    "  translate --from tsql|sqlite [FILE|-]  print the Access SQL of each CREATE VIEW of a script\n"
    "  --help                                 show this text\n"
    "  --version                              show the version\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::puts("tabulon-cli " TABULON_VERSION);
    return 0;
  }
  if (std::strcmp(argv[1], "odbc") == 0) return RunOdbcCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "mdb") == 0) return RunMdbCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "sql") == 0) return RunSqlCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "backup") == 0) return RunBackupCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "restore") == 0) return RunRestoreCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "migrate") == 0) return RunMigrateCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "verify") == 0) return RunVerifyCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "check") == 0) return RunCheckCommand(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "translate") == 0) return RunTranslateCommand(argc - 1, argv + 1);
  std::fprintf(stderr, "tabulon-cli: unknown command '%s' (see --help)\n", argv[1]);
  return 2;
}
