// Running statements whose outcome is shown in the output pane.
#pragma once

#include <string>

#include "workspace/output_pane.h"
#include "data/provider.h"

namespace tabulon::workspace {

using data::Session;

// Runs `sql` on `session` (a side's session member; null = not connected).
// - null session: the red line "No Connection!" (whatever `report` says), false;
// - only S_OK counts as success: warnings (any positive code) fail like errors;
// - success without rows: with report 1 the line "RESULT: The operation completed SUCCESSFULLY";
// - success with rows: the rows are dropped unread, no line;
// - failure: with report 1 an orange line with the provider's first diagnostic ("Unknown Error!"
//   when it keeps none);
// - an exception inside the run counts as failure and writes a red line;
// - the command's notices (Command::Notices) come first, each an orange line, whatever
//   `report` says.
// `error`, when given, receives the failure's text (the provider's diagnostic) whatever `report`.
bool ExecuteStatement(OutputPane* owner, Session* session, std::string sql, int report, std::string* error = nullptr);

// Runs `sql` and writes one plain line per value of the first 100 rows ("(NULL)" for NULL);
// later rows are fetched and not shown. No session: the line "No Connection!", false. A provider
// failure: its text as a plain line, false. No rows and report 1: the success line.
bool RunAndShowStatement(OutputPane* owner, Session* session, std::string sql, int report);

// Runs `sql` and returns its first usable value: within the first 100 rows, columns in order,
// NULLs write "(NULL)" and are skipped, as is a value that reads as a negative number. Failures
// return the provider's text without writing a line; no session returns "" after "No
// Connection!"; no rows returns "" (and the success line with report 1).
std::string RunScalarStatement(OutputPane* owner, Session* session, std::string sql, int report);

}  // namespace tabulon::workspace
