// Running a statement and showing its result in the output pane.
#pragma once

#include <string>

#include "data/output_pane.h"
#include "data/provider.h"

namespace tabulon::data {

// Runs `sql` and writes one plain line per value of the first 100 rows ("(NULL)" for NULL);
// later rows are fetched and not shown. No session: the line "No Connection!", false. A provider
// failure: its text as a plain line, false. No rows and report 1: the success line.
bool RunAndShowStatement(OutputPane* owner, Session* session, std::string sql, int report);

// Runs `sql` and returns its first usable value: within the first 100 rows, columns in order,
// NULLs write "(NULL)" and are skipped, as is a value that reads as a negative number. Failures
// return the provider's text without writing a line; no session returns "" after "No
// Connection!"; no rows returns "" (and the success line with report 1).
std::string RunScalarStatement(OutputPane* owner, Session* session, std::string sql, int report);

}  // namespace tabulon::data
