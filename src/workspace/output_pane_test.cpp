#include "workspace/output_pane.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tabulon::workspace {
namespace {

LocalTime FixedTime() { return {2011, 3, 2, 9, 5, 3, 7}; }

// A marker at the start sets the severity and is dropped; anywhere else, or in plain text
// (which is never a format either), it is text.
TEST(OutputPaneTest, TimestampAndMarkers) {
  OutputPane pane(FixedTime);
  WriteOutput(&pane, "E::No Connection!");
  WriteOutput(&pane, "T::%s", "provider text");
  WriteOutput(&pane, "S::%d done", 3);
  WriteOutput(&pane, "plain E:: in the middle");
  WriteOutputText(&pane, "E::%s%n%d 100% sure");
  WriteOutput(&pane, "E:");
  WriteOutput(nullptr, "ignored %d", 1);  // a null pane is not a crash
  const std::vector<OutputLine> lines = pane.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].Full(), "2011/03/02 09:05:03:007 No Connection!");
  std::vector<std::string> shown;  // "E ", "S ", "W " or "  ", then the text
  for (const OutputLine& line : lines)
    shown.push_back(std::string(1, " ESW"[static_cast<int>(line.severity)]) + " " + line.text);
  EXPECT_EQ(shown, (std::vector<std::string>{"E No Connection!", "W provider text", "S 3 done",
                                             "  plain E:: in the middle", "  E::%s%n%d 100% sure", "  E:"}));
}

TEST(OutputPaneTest, LongMessagesAreCutAtACharacterBoundary) {
  OutputPane pane(FixedTime);
  // 1022 ASCII bytes, then a two-byte character that does not fit into the 1023 usable bytes.
  const std::string message = std::string(1022, 'a') + "\xC3\xA9" + std::string(5000, 'b');
  WriteOutput(&pane, "%s", message.c_str());
  const std::string text = pane.Lines()[0].text;
  EXPECT_EQ(text, std::string(1022, 'a'));
  WriteOutput(&pane, "E::%s", std::string(3000, 'x').c_str());
  EXPECT_EQ(pane.Lines()[1].text.size(), 1020u);  // 1023 bytes less the marker
  EXPECT_NE(pane.Lines()[1].severity, Severity::kPlain);
}

TEST(OutputPaneTest, ListenerSeesEveryLineInOrderFromManyThreads) {
  OutputPane pane;
  std::vector<std::string> seen;
  pane.SetListener([&seen](const OutputLine& line) { seen.push_back(line.text); });
  constexpr int kThreads = 8;
  constexpr int kPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&pane, t] {
      for (int i = 0; i < kPerThread; ++i) {
        WriteOutput(&pane, "%s%d-%d", i % 2 ? "E::" : "", t, i);
        if (i % 50 == 0) (void)pane.Lines();
      }
    });
  }
  for (std::thread& th : threads) th.join();
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread));
  const std::vector<OutputLine> lines = pane.Lines();
  ASSERT_EQ(lines.size(), 1001u);
  // The pane keeps exactly the listener's last 1001 lines, in the same order.
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].text, seen[seen.size() - lines.size() + i]);
  // Each thread's lines arrive in the order it wrote them.
  std::vector<int> next(kThreads, 0);
  for (const std::string& s : seen) {
    const int t = std::stoi(s);
    const int i = std::stoi(s.substr(s.find('-') + 1));
    EXPECT_EQ(i, next[t]++);
  }
}

}  // namespace
}  // namespace tabulon::workspace
