// What tabulon-cli migrate shows while it runs: the output lines (coloured on a terminal) and,
// on a terminal, a progress bar for the table whose rows are being copied, kept below the lines.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

#include "workspace/output_pane.h"
#include "source_common/source_context.h"

class MigrateDisplay {
 public:
  // `terminal`: stdout is a terminal; `quiet`: neither lines nor bar are shown.
  MigrateDisplay(bool terminal, bool quiet) : terminal_(terminal), quiet_(quiet) {}

  void ShowLine(const tabulon::workspace::OutputLine& line);
  void ShowProgress(std::string_view table, const tabulon::source_common::RowCopyCounts& counts);

 private:
  void ClearBar();

  const bool terminal_;
  const bool quiet_;
  std::mutex mutex_;
  std::string bar_;  // the bar now on screen; "" when none
  std::string table_;
  std::chrono::steady_clock::time_point started_;
};
