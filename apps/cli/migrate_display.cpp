#include "migrate_display.h"

#include <cstdio>

#include "cli_output.h"

void MigrateDisplay::ClearBar() {
  if (bar_.empty()) return;
  std::fputs("\r\033[K", stdout);
  bar_.clear();
}

void MigrateDisplay::ShowLine(const tabulon::workspace::OutputLine& line) {
  if (quiet_) return;
  std::lock_guard guard(mutex_);
  const std::string bar = bar_;
  ClearBar();
  std::printf("%s\n", FormatOutputLine(line, terminal_).c_str());
  // The bar comes back below the line.
  if (!bar.empty()) {
    std::fputs(bar.c_str(), stdout);
    bar_ = bar;
  }
  std::fflush(stdout);
}

void MigrateDisplay::ShowProgress(std::string_view table, const tabulon::source_common::RowCopyCounts& counts) {
  if (quiet_ || !terminal_) return;
  std::lock_guard guard(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (table != table_ || counts.read == 0) {
    table_ = std::string(table);
    started_ = now;
  }
  ClearBar();
  if (!counts.finished) {
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const long long rate = seconds > 0.05 ? static_cast<long long>(static_cast<double>(counts.read) / seconds) : 0;
    char text[512];
    std::snprintf(text, sizeof(text), "\033[7m %s \033[0m %lld rows, %lld rows/s%s", table_.c_str(), counts.read, rate,
                  counts.failed > 0 ? (", " + std::to_string(counts.failed) + " refused").c_str() : "");
    bar_ = text;
    std::fputs(bar_.c_str(), stdout);
  }
  std::fflush(stdout);
}
