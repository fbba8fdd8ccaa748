// The log tab: lines written on several threads through a real output pane,
// their colours, the 1001-line cap and where the view stays when lines arrive.
#include <QCoreApplication>
#include <QScrollBar>
#include <QTest>
#include <string>
#include <thread>
#include <vector>

#include "log_view.h"

using tabulon::gui::LogView;
using tabulon::workspace::OutputLine;
using tabulon::workspace::OutputPane;

namespace {

void Post(LogView& view, int from, int to) {
  OutputLine line;
  for (int i = from; i < to; ++i) {
    line.text = "message " + std::to_string(i);
    view.Post(line);
  }
}

}  // namespace

class LogViewTest : public QObject {
  Q_OBJECT

 private slots:
  void linesFromSeveralThreadsKeepTheirOrder() {
    LogView view;
    OutputPane pane;
    pane.SetListener([&view](const OutputLine& line) { view.Post(line); });
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&pane, t] {
        for (int i = 0; i < kLines; ++i) tabulon::workspace::WriteOutput(&pane, "writer %d line %d", t, i);
      });
    }
    for (std::thread& writer : writers) writer.join();
    QTRY_COMPARE(view.count(), kThreads * kLines);
    const std::vector<OutputLine> lines = pane.Lines();
    std::vector<int> next(kThreads, 0);
    for (int row = 0; row < view.count(); ++row) {
      QCOMPARE(view.item(row)->text(), QString::fromStdString(lines[static_cast<std::size_t>(row)].Full()));
      const QStringList words = view.item(row)->text().split(' ');
      QCOMPARE(words.last().toInt(), next[static_cast<std::size_t>(words[words.size() - 3].toInt())]++);
    }
  }

  void markersColourTheLines() {
    LogView view;
    OutputPane pane([] { return tabulon::workspace::LocalTime{2011, 3, 2, 9, 5, 3, 7}; });
    pane.SetListener([&view](const OutputLine& line) { view.Post(line); });
    pane.AppendMessage("E::No Connection!");
    pane.AppendMessage("S::green");
    pane.AppendMessage("T::provider text");
    pane.AppendMessage("plain E:: line");
    pane.AppendPlain("E::not a marker here");
    QTRY_COMPARE(view.count(), 5);
    QCOMPARE(view.item(0)->text(), QStringLiteral("2011/03/02 09:05:03:007 No Connection!"));
    const QColor expected[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(255, 128, 0)};
    for (int row = 0; row < 3; ++row) {
      QCOMPARE(view.item(row)->foreground().color(), expected[row]);
      QCOMPARE(view.item(row)->background().color(), QColor(Qt::white));
    }
    for (int row = 3; row < 5; ++row) QVERIFY(!view.item(row)->data(Qt::ForegroundRole).isValid());
    QCOMPARE(view.item(4)->text(), QStringLiteral("2011/03/02 09:05:03:007 E::not a marker here"));
  }

  // Only the newest 1001 lines stay, whether they come in one batch, in two, or
  // as a flood from a worker thread.
  void keepsTheNewest1001Lines() {
    LogView two_batches;
    Post(two_batches, 1, 701);
    QTRY_COMPARE(two_batches.count(), 700);
    Post(two_batches, 701, 1501);
    QTRY_COMPARE(two_batches.item(two_batches.count() - 1)->text(), QStringLiteral("message 1500"));
    QCOMPARE(two_batches.count(), 1001);
    QCOMPARE(two_batches.item(0)->text(), QStringLiteral("message 500"));

    LogView flooded;
    std::thread worker([&flooded] { Post(flooded, 0, 50000); });
    while (!QTest::currentTestFailed() && flooded.count() < 1001) QCoreApplication::processEvents();
    worker.join();
    QTRY_COMPARE(flooded.item(flooded.count() - 1)->text(), QStringLiteral("message 49999"));
    QCOMPARE(flooded.count(), 1001);
    QCOMPARE(flooded.item(0)->text(), QStringLiteral("message 48999"));
  }

  void followsTheBottomOnlyWhenAtTheBottom() {
    LogView view;
    view.resize(300, 150);
    view.show();
    QScrollBar* bar = view.verticalScrollBar();
    Post(view, 0, 100);
    QTRY_COMPARE(view.count(), 100);
    QVERIFY(bar->maximum() > 0);
    Post(view, 100, 1001);
    QTRY_COMPARE(view.count(), 1001);
    QCOMPARE(bar->value(), bar->maximum());

    // Scrolled up, the same lines stay in view, also while the oldest lines are
    // dropped.
    view.scrollToItem(view.item(600), QAbstractItemView::PositionAtTop);
    const QString top = view.itemAt(0, 0)->text();
    Post(view, 1001, 1051);
    QTRY_COMPARE(view.item(1000)->text(), QStringLiteral("message 1050"));
    QVERIFY(bar->value() < bar->maximum());
    QCOMPARE(view.itemAt(0, 0)->text(), top);
  }
};

QTEST_MAIN(LogViewTest)
#include "tasks_log_view_test.moc"
