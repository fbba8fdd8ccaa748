// Output lines of the core printed on stdout: time stamp and text, coloured on a terminal.
#pragma once

#include "workspace/output_pane.h"

#include <string>

// A line as printed: time stamp and text, in its marker's colour when `terminal`, no line end.
std::string FormatOutputLine(const tabulon::workspace::OutputLine& line, bool terminal);

// Makes `pane` print every line as it is written.
void PrintOutputLines(tabulon::workspace::OutputPane& pane);
