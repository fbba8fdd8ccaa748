// The compiled-in images, the about box and the way the manual is found.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "about_dialog.h"
#include "gui_test_support.h"
#include "icons.h"

using tabulon::workspace::TreeNodeKind;
namespace gui = tabulon::gui;

namespace {

// The three indexed sets: trees, main toolbar, task buttons.
std::vector<std::vector<QIcon>> IconSets() {
  std::vector<std::vector<QIcon>> sets(3);
  for (int i = 0; i < 10; ++i) sets[0].push_back(gui::NodeIcon(static_cast<TreeNodeKind>(i)));
  for (int i = 0; i < 6; ++i) sets[1].push_back(gui::ToolbarIcon(i));
  for (int i = 0; i < 6; ++i) sets[2].push_back(gui::TaskButtonIcon(i));
  return sets;
}

QImage Render(const QIcon& icon, int size) {
  return icon.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
}

int OpaquePixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
  }
  return count;
}

}  // namespace

class IconsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { gui::LoadGuiResources(); }

  // Each image draws at least a fifth of its square at the sizes the trees,
  // toolbars and window use (a larger size still comes out whole, which only
  // the SVG engine does); two entries of a set never show the same picture,
  // which a slip in the index tables would; and an index outside a set gives an
  // empty icon rather than a crash.
  void iconSetsRenderAndDiffer() {
    const auto sets = IconSets();
    for (std::size_t s = 0; s < sets.size(); ++s) {
      for (std::size_t i = 0; i < sets[s].size(); ++i) {
        const QString name = QStringLiteral("set %1 icon %2").arg(s).arg(i);
        for (int size : {16, 24, 48}) {
          const QImage image = Render(sets[s][i], size);
          QVERIFY2(image.size() == QSize(size, size) && OpaquePixels(image) >= size * size / 5, qPrintable(name));
        }
        for (std::size_t j = i + 1; j < sets[s].size(); ++j) {
          QVERIFY2(Render(sets[s][i], 16) != Render(sets[s][j], 16), qPrintable(name));
        }
      }
    }
    QVERIFY(OpaquePixels(Render(gui::ApplicationIcon(), 48)) >= 48 * 48 / 5);
    QVERIFY(gui::ToolbarIcon(-1).isNull() && gui::ToolbarIcon(6).isNull());
    QVERIFY(gui::TaskButtonIcon(-1).isNull() && gui::TaskButtonIcon(6).isNull());
    QVERIFY(gui::NodeIcon(static_cast<TreeNodeKind>(10)).isNull());
  }

  // Every drawing in the source folder is compiled in and is a drawable SVG.
  void everyDrawingIsCompiledIn() {
    const QDir folder(QStringLiteral(TABULON_SOURCE_DIR "/apps/gui/resources/icons"));
    const QStringList files = folder.entryList({QStringLiteral("*.svg")}, QDir::Files);
    QVERIFY(files.size() >= 23);
    for (const QString& file : files) {
      const QString resource = QStringLiteral(":/icons/") + file;
      QVERIFY2(gui::testing::ReadBytes(resource).contains("viewBox=\"0 0 "), qPrintable(file));
      QVERIFY2(OpaquePixels(Render(QIcon(resource), 16)) > 0, qPrintable(file));
    }
  }

  // The box names the product and version; Help asks for the manual and leaves
  // the box open, Close ends it without accepting.
  void aboutBox() {
    gui::AboutDialog box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About Tabulon"));
    QSet<QString> texts;
    for (const QLabel* label : box.findChildren<QLabel*>()) texts.insert(label->text());
    QVERIFY(texts.contains(QStringLiteral("Tabulon")) && texts.contains(QStringLiteral("Version: 1.0")));
    QVERIFY(!box.findChild<QLabel*>(QStringLiteral("logo"))->pixmap().isNull());

    box.show();
    QSignalSpy help_spy(&box, &gui::AboutDialog::helpRequested);
    QSignalSpy finished_spy(&box, &QDialog::finished);
    auto* help = box.findChild<QPushButton*>(QStringLiteral("helpButton"));
    auto* close = box.findChild<QPushButton*>(QStringLiteral("closeButton"));
    QCOMPARE(help->text(), QStringLiteral("Help"));
    QCOMPARE(close->text(), QStringLiteral("Close"));
    QTest::mouseClick(help, Qt::LeftButton);
    QCOMPARE(help_spy.count(), 1);
    QVERIFY(box.isVisible());
    QTest::mouseClick(close, Qt::LeftButton);
    QCOMPARE(finished_spy.count(), 1);
    QCOMPARE(finished_spy.at(0).at(0).toInt(), int{QDialog::Rejected});
    QCOMPARE(help_spy.count(), 1);
  }

  // The manual is found in the source tree, and a copy beside an installed
  // program wins.
  void manualPath() {
    const QString path = gui::ManualPath();
    QVERIFY2(QFileInfo(path).isFile() && QFileInfo(path).isAbsolute(), qPrintable(path));
    QVERIFY(path.endsWith(QStringLiteral("manual/index.html")));

    const QDir program(QCoreApplication::applicationDirPath());
    if (program.exists(QStringLiteral("manual"))) QSKIP("a manual folder is already beside the test program");
    QVERIFY(program.mkdir(QStringLiteral("manual")));
    const auto cleanup = qScopeGuard([&] { QDir(program.filePath(QStringLiteral("manual"))).removeRecursively(); });
    const QString beside = program.filePath(QStringLiteral("manual/index.html"));
    QVERIFY(gui::testing::WriteBytes(beside, "<html></html>"));
    QCOMPARE(gui::ManualPath(), beside);
  }

  // The manual is one self-contained page (no outside files or addresses) whose
  // every inside link leads to a section that exists.
  void manualIsSelfContained() {
    const QString html = QString::fromUtf8(gui::testing::ReadBytes(gui::ManualPath()));
    QVERIFY(html.startsWith(QStringLiteral("<!DOCTYPE html>")));
    QVERIFY(!html.contains(QRegularExpression(QStringLiteral("(src|href)=\"(https?:|//|file:)|<link|<script"))));
    QSet<QString> ids;
    auto id_it = QRegularExpression(QStringLiteral("\\sid=\"([^\"]+)\"")).globalMatch(html);
    while (id_it.hasNext()) ids.insert(id_it.next().captured(1));
    int links = 0;
    auto link_it = QRegularExpression(QStringLiteral("href=\"#([^\"]+)\"")).globalMatch(html);
    for (; link_it.hasNext(); ++links) {
      const QString target = link_it.next().captured(1);
      QVERIFY2(ids.contains(target), qPrintable("no section " + target));
    }
    QVERIFY(links >= 10);  // the contents list
  }
};

QTEST_MAIN(IconsTest)
#include "common_icons_test.moc"
