#include "cli_output.h"

#include <unistd.h>

#include <cstdio>

namespace {

using namespace tabulon::workspace;

const char* AnsiColour(const OutputLine& line) {
  switch (line.severity) {
    case Severity::kError: return "\033[31m";
    case Severity::kSuccess: return "\033[32m";
    case Severity::kWarning: return "\033[38;5;208m";
    case Severity::kPlain: break;
  }
  return nullptr;
}

}  // namespace

std::string FormatOutputLine(const OutputLine& line, bool terminal) {
  const char* colour = terminal ? AnsiColour(line) : nullptr;
  if (colour == nullptr) return line.timestamp + line.text;
  return line.timestamp + colour + line.text + "\033[0m";
}

void PrintOutputLines(OutputPane& pane) {
  const bool terminal = isatty(fileno(stdout)) != 0;
  pane.SetListener([terminal](const OutputLine& line) {
    std::printf("%s\n", FormatOutputLine(line, terminal).c_str());
    std::fflush(stdout);
  });
}
