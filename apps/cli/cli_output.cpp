#include "cli_output.h"

#include <unistd.h>

#include <cstdio>

namespace {

using namespace tabulon::data;

const char* AnsiColour(const OutputLine& line) {
  if (!line.coloured) return nullptr;
  switch (line.text_colour) {
    case kColourRed:
      return "\033[31m";
    case kColourGreen:
      return "\033[32m";
    case kColourOrange:
      return "\033[38;5;208m";
    default:
      return nullptr;
  }
}

}  // namespace

void PrintOutputLines(OutputPane& pane) {
  const bool terminal = isatty(fileno(stdout)) != 0;
  pane.SetListener([terminal](const OutputLine& line) {
    const char* colour = terminal ? AnsiColour(line) : nullptr;
    if (colour != nullptr) {
      std::printf("%s%s%s\033[0m\n", line.timestamp.c_str(), colour, line.text.c_str());
    } else {
      std::printf("%s%s\n", line.timestamp.c_str(), line.text.c_str());
    }
    std::fflush(stdout);
  });
}
