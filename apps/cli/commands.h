// The sub-commands of tabulon-cli; each lives in its own file and returns the exit code
// (0 success, 1 failure, 2 bad usage). argv[0] is the sub-command's name.
#pragma once

int RunOdbcCommand(int argc, char** argv);
int RunMdbCommand(int argc, char** argv);
int RunSqlCommand(int argc, char** argv);
int RunBackupCommand(int argc, char** argv);
int RunRestoreCommand(int argc, char** argv);
int RunMigrateCommand(int argc, char** argv);
int RunVerifyCommand(int argc, char** argv);
int RunCheckCommand(int argc, char** argv);
int RunTranslateCommand(int argc, char** argv);
