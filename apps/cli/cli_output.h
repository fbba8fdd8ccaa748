// Output lines of the core printed on stdout: time stamp and text, coloured on a terminal.
#pragma once

#include "data/output_pane.h"

// Makes `pane` print every line as it is written.
void PrintOutputLines(tabulon::data::OutputPane& pane);
