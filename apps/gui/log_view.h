// The "Log" tab: the output pane's time-stamped lines, coloured by their marker. Lines may be
// posted from any thread; they are shown by the user-interface thread in batches, so a task that
// writes many lines never waits for the window.
#pragma once

#include <QListWidget>
#include <deque>
#include <mutex>

#include "workspace/output_pane.h"

namespace tabulon::gui {

class LogView : public QListWidget {
  Q_OBJECT

 public:
  explicit LogView(QWidget* parent = nullptr);

  // Thread-safe: queues the line and asks the user-interface thread to show it. Whoever posts
  // must have stopped before the view is destroyed.
  void Post(const workspace::OutputLine& line);
  // Shows the queued lines (user-interface thread); at most the pane's 1001 lines are kept.
  void Flush();

 private:
  std::mutex mutex_;
  // Lines posted and not shown yet; never more than the view keeps, the older ones could never
  // be seen.
  std::deque<workspace::OutputLine> pending_;
  bool flush_posted_ = false;
};

}  // namespace tabulon::gui
