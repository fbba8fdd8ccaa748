// The output pane: time-stamped lines written from any thread, at most 1001 of them, each with a
// severity taken from a three-character marker at the start of the message ("E::" an error,
// "S::" a success, "T::" a warning); front ends choose the colours.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::workspace {

// kPlain: the front end's default colours; the others are shown red, green and orange.
enum class Severity { kPlain, kError, kSuccess, kWarning };

struct OutputLine {
  std::string timestamp;  // "2011/03/02 09:05:03:007 " (ends with one blank)
  std::string text;       // the message without its marker
  Severity severity = Severity::kPlain;

  std::string Full() const { return timestamp + text; }
};

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Reads the local time now.
LocalTime CurrentLocalTime();

class OutputPane {
 public:
  static constexpr size_t kMaxLines = 1001;
  static constexpr size_t kMessageBuffer = 1024;  // a formatted message keeps at most 1023 bytes

  using Clock = std::function<LocalTime()>;
  // Called for every new line, in order, while the pane is locked: it must not call back into
  // the pane. Front ends print or queue the line.
  using Listener = std::function<void(const OutputLine&)>;

  OutputPane();
  explicit OutputPane(Clock clock);

  void SetListener(Listener listener);

  // Appends a message: a leading marker selects the severity and is dropped.
  void AppendMessage(std::string_view message);
  // Appends `text` as a plain line, whatever it starts with.
  void AppendPlain(std::string_view text);

  std::vector<OutputLine> Lines() const;
  size_t LineCount() const;
  void Clear();

 private:
  void Append(OutputLine line);

  mutable std::mutex mutex_;
  Clock clock_;
  Listener listener_;
  std::deque<OutputLine> lines_;
};

// "%04d/%02d/%02d %02d:%02d:%02d:%03d " of `t`.
std::string FormatTimestamp(const LocalTime& t);

// printf-style line: formatted into a 1024-byte buffer (longer messages are cut, never in the
// middle of a UTF-8 character), then appended with its marker. A null pane is ignored. Never pass
// provider or user text as the format: use "%s".
void WriteOutput(OutputPane* pane, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes `text` as a plain line (no format, no marker), e.g. a provider's message or a value.
void WriteOutputText(OutputPane* pane, std::string_view text);

}  // namespace tabulon::workspace
