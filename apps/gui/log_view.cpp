#include "log_view.h"

#include <QAbstractItemModel>
#include <QBrush>
#include <QColor>
#include <QScrollBar>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <utility>

namespace tabulon::gui {
namespace {

constexpr int kMaxItems = static_cast<int>(workspace::OutputPane::kMaxLines);

// 0x00BBGGRR as a colour.
// The text colour of a line of `severity`; plain lines keep the view's own colours.
QColor ColourOf(workspace::Severity severity) {
  switch (severity) {
    case workspace::Severity::kError: return QColor(255, 0, 0);
    case workspace::Severity::kSuccess: return QColor(0, 255, 0);
    case workspace::Severity::kWarning: return QColor(255, 128, 0);
    case workspace::Severity::kPlain: break;
  }
  return {};
}

}  // namespace

LogView::LogView(QWidget* parent) : QListWidget(parent) {
  setUniformItemSizes(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setWordWrap(false);
}

void LogView::Post(const workspace::OutputLine& line) {
  bool post = false;
  {
    std::lock_guard guard(mutex_);
    pending_.push_back(line);
    if (pending_.size() > workspace::OutputPane::kMaxLines) pending_.pop_front();
    post = !flush_posted_;
    flush_posted_ = true;
  }
  if (post) QMetaObject::invokeMethod(this, &LogView::Flush, Qt::QueuedConnection);
}

void LogView::Flush() {
  std::deque<workspace::OutputLine> lines;
  {
    std::lock_guard guard(mutex_);
    lines.swap(pending_);
    flush_posted_ = false;
  }
  if (lines.empty()) return;

  QScrollBar* vertical = verticalScrollBar();
  const bool at_bottom = count() == 0 || vertical->value() >= vertical->maximum();
  const int added = static_cast<int>(lines.size());
  const int removed = std::max(0, count() + added - kMaxItems);
  // Off the bottom the view keeps showing the same lines, unless they are the ones dropped.
  QListWidgetItem* top = at_bottom ? nullptr : itemAt(0, 0);
  if (top != nullptr && row(top) < removed) top = nullptr;

  setUpdatesEnabled(false);
  if (removed > 0) model()->removeRows(0, std::min(removed, count()));
  QStringList texts;
  texts.reserve(added);
  for (const workspace::OutputLine& line : lines) texts.append(QString::fromStdString(line.Full()));
  const int first = count();
  addItems(texts);
  for (int i = 0; i < added; ++i) {
    const workspace::OutputLine& line = lines[static_cast<std::size_t>(i)];
    if (line.severity == workspace::Severity::kPlain) continue;
    QListWidgetItem* shown = item(first + i);
    shown->setForeground(ColourOf(line.severity));
    shown->setBackground(QColor(Qt::white));
  }
  if (at_bottom) {
    scrollToBottom();
  } else if (top != nullptr) {
    scrollToItem(top, QAbstractItemView::PositionAtTop);
  }
  setUpdatesEnabled(true);
}

}  // namespace tabulon::gui
