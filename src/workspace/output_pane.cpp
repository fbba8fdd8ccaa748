#include "workspace/output_pane.h"

#include "data/utf8_cut.h"

#include <fmt/format.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <utility>

namespace tabulon::workspace {

LocalTime CurrentLocalTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&seconds, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms)};
}

std::string FormatTimestamp(const LocalTime& t) {
  return fmt::format("{:04d}/{:02d}/{:02d} {:02d}:{:02d}:{:02d}:{:03d} ", t.year, t.month, t.day, t.hour, t.minute,
                     t.second, t.millisecond);
}

OutputPane::OutputPane() : OutputPane(CurrentLocalTime) {}

OutputPane::OutputPane(Clock clock) : clock_(std::move(clock)) {}

void OutputPane::SetListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void OutputPane::AppendMessage(std::string_view message) {
  struct Marker {
    std::string_view text;
    Severity severity;
  };
  static constexpr Marker kMarkers[] = {
      {"E::", Severity::kError}, {"S::", Severity::kSuccess}, {"T::", Severity::kWarning}};
  for (const Marker& m : kMarkers) {
    if (message.substr(0, 3) == m.text) {
      Append({{}, std::string(message.substr(3)), m.severity});
      return;
    }
  }
  AppendPlain(message);
}

void OutputPane::AppendPlain(std::string_view text) { Append({{}, std::string(text), Severity::kPlain}); }

void OutputPane::Append(OutputLine line) {
  std::lock_guard lock(mutex_);
  if (lines_.size() > kMaxLines - 1) lines_.pop_front();
  line.timestamp = FormatTimestamp(clock_());
  lines_.push_back(std::move(line));
  if (listener_) listener_(lines_.back());
}

std::vector<OutputLine> OutputPane::Lines() const {
  std::lock_guard lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

size_t OutputPane::LineCount() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

void OutputPane::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

void WriteOutput(OutputPane* pane, const char* format, ...) {
  if (pane == nullptr || format == nullptr) return;
  char buffer[OutputPane::kMessageBuffer] = {};
  va_list args;
  va_start(args, format);
  const int wanted = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (wanted < 0) return;
  std::string message(buffer);
  if (static_cast<size_t>(wanted) >= sizeof buffer) message.resize(data::CompleteUtf8Prefix(message));
  pane->AppendMessage(message);
}

void WriteOutputText(OutputPane* pane, std::string_view text) {
  if (pane != nullptr) pane->AppendPlain(text);
}

}  // namespace tabulon::workspace
