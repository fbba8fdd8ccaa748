// The compiled-in images, the about box and the way the manual is found.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <vector>

#include "about_dialog.h"
#include "icons.h"

using tabulon::data::TreeNodeKind;
namespace gui = tabulon::gui;

namespace {

struct NamedIcon {
  QString name;
  QIcon icon;
};

std::vector<NamedIcon> Set(const QString& prefix, int count, const std::function<QIcon(int)>& make) {
  std::vector<NamedIcon> icons;
  for (int i = 0; i < count; ++i) icons.push_back({prefix + QString::number(i), make(i)});
  return icons;
}

std::vector<NamedIcon> NodeIcons() {
  return Set("node ", 10, [](int kind) { return gui::NodeIcon(static_cast<TreeNodeKind>(kind)); });
}
std::vector<NamedIcon> ToolbarIcons() { return Set("toolbar ", 6, gui::ToolbarIcon); }
std::vector<NamedIcon> TaskButtonIcons() { return Set("task button ", 6, gui::TaskButtonIcon); }

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

QString ReadText(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace

class IconsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { gui::LoadGuiResources(); }

  // Each image draws something at the sizes the trees, toolbars and window use; a larger size
  // still comes out at full size, which only the SVG engine does for 16-pixel drawings.
  void everyIconRenders() {
    std::vector<NamedIcon> all = NodeIcons();
    for (const auto& set : {ToolbarIcons(), TaskButtonIcons()}) all.insert(all.end(), set.begin(), set.end());
    all.push_back({"application", gui::ApplicationIcon()});
    for (const NamedIcon& entry : all) {
      QVERIFY2(!entry.icon.isNull(), qPrintable(entry.name));
      for (int size : {16, 24, 48}) {
        const QImage image = Render(entry.icon, size);
        QVERIFY2(image.size() == QSize(size, size), qPrintable(entry.name + " at " + QString::number(size)));
        // A fifth of the square at least: a blank or barely drawn image is a broken file.
        QVERIFY2(OpaquePixels(image) >= size * size / 5, qPrintable(entry.name + " at " + QString::number(size)));
      }
    }
  }

  // Two entries of one set must never show the same picture: a slip in the index tables would.
  void imagesWithinASetDiffer() {
    for (const auto& set : {NodeIcons(), ToolbarIcons(), TaskButtonIcons()}) {
      for (std::size_t i = 0; i < set.size(); ++i) {
        for (std::size_t j = i + 1; j < set.size(); ++j) {
          QVERIFY2(Render(set[i].icon, 16) != Render(set[j].icon, 16), qPrintable(set[i].name + " = " + set[j].name));
        }
      }
    }
  }

  void outOfRangeGivesEmptyIcon() {
    QVERIFY(gui::ToolbarIcon(-1).isNull());
    QVERIFY(gui::ToolbarIcon(6).isNull());
    QVERIFY(gui::TaskButtonIcon(-1).isNull());
    QVERIFY(gui::TaskButtonIcon(6).isNull());
    QVERIFY(gui::NodeIcon(static_cast<TreeNodeKind>(10)).isNull());
    QVERIFY(gui::NodeIcon(static_cast<TreeNodeKind>(-1)).isNull());
  }

  void iconsAreMadeOnce() {
    QCOMPARE(gui::NodeIcon(TreeNodeKind::kTable).cacheKey(), gui::NodeIcon(TreeNodeKind::kTable).cacheKey());
    QCOMPARE(gui::ToolbarIcon(2).cacheKey(), gui::ToolbarIcon(2).cacheKey());
    QCOMPARE(gui::ApplicationIcon().cacheKey(), gui::ApplicationIcon().cacheKey());
    gui::LoadGuiResources();  // a second call is harmless
    QVERIFY(!gui::TaskButtonIcon(0).isNull());
  }

  // Every drawing in the source folder is compiled in, and every one is valid SVG.
  void everyDrawingIsCompiledIn() {
    const QDir folder(QStringLiteral(TABULON_SOURCE_DIR "/apps/gui/resources/icons"));
    const QStringList files = folder.entryList({QStringLiteral("*.svg")}, QDir::Files);
    QVERIFY(files.size() >= 23);
    for (const QString& file : files) {
      const QString resource = QStringLiteral(":/icons/") + file;
      QVERIFY2(QFile::exists(resource), qPrintable(resource));
      const QString text = ReadText(resource);
      QVERIFY2(text.contains(QRegularExpression(QStringLiteral("viewBox=\"0 0 (16 16|24 24)\""))), qPrintable(file));
      QVERIFY2(OpaquePixels(Render(QIcon(resource), 16)) > 0, qPrintable(file));
    }
  }

  void aboutBoxShowsProductAndVersion() {
    gui::AboutDialog box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About Tabulon"));
    QVERIFY(!box.windowIcon().isNull());
    QSet<QString> texts;
    for (const QLabel* label : box.findChildren<QLabel*>()) texts.insert(label->text());
    QVERIFY(texts.contains(QStringLiteral("Tabulon")));
    QVERIFY(texts.contains(QStringLiteral("Version: 1.0")));
    const auto* logo = box.findChild<QLabel*>(QStringLiteral("logo"));
    QVERIFY(logo != nullptr);
    QVERIFY(!logo->pixmap().isNull());
    QStringList buttons;
    for (const QPushButton* button : box.findChildren<QPushButton*>()) buttons << button->text();
    buttons.sort();
    QCOMPARE(buttons, QStringList({QStringLiteral("Close"), QStringLiteral("Help")}));
  }

  // Help asks for the manual and leaves the box open; Close ends it without accepting.
  void aboutBoxButtons() {
    gui::AboutDialog box;
    box.show();
    QSignalSpy help_spy(&box, &gui::AboutDialog::helpRequested);
    auto* help = box.findChild<QPushButton*>(QStringLiteral("helpButton"));
    auto* close = box.findChild<QPushButton*>(QStringLiteral("closeButton"));
    QVERIFY(help != nullptr && close != nullptr);
    QTest::mouseClick(help, Qt::LeftButton);
    QCOMPARE(help_spy.count(), 1);
    QVERIFY(box.isVisible());
    QSignalSpy finished_spy(&box, &QDialog::finished);
    QTest::mouseClick(close, Qt::LeftButton);
    QCOMPARE(finished_spy.count(), 1);
    QCOMPARE(finished_spy.at(0).at(0).toInt(), int{QDialog::Rejected});
    QVERIFY(!box.isVisible());
    QCOMPARE(help_spy.count(), 1);
  }

  void manualIsFoundInTheSourceTree() {
    const QString path = gui::ManualPath();
    QVERIFY2(QFileInfo(path).isFile(), qPrintable(path));
    QVERIFY(QFileInfo(path).isAbsolute());
    QVERIFY(path.endsWith(QStringLiteral("manual/index.html")));
  }

  // An installed program carries its manual beside it, and that copy wins.
  void manualBesideTheProgramWins() {
    const QDir program(QCoreApplication::applicationDirPath());
    if (program.exists(QStringLiteral("manual"))) QSKIP("a manual folder is already beside the test program");
    QVERIFY(program.mkdir(QStringLiteral("manual")));
    const auto cleanup = qScopeGuard([&] { QDir(program.filePath(QStringLiteral("manual"))).removeRecursively(); });
    const QString beside = program.filePath(QStringLiteral("manual/index.html"));
    {
      QFile file(beside);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("<html></html>");
    }
    QCOMPARE(gui::ManualPath(), beside);
  }

  // The manual is one self-contained page: styles inline, no outside files or addresses, and every
  // link inside it leads to a section that exists.
  void manualIsSelfContained() {
    const QString html = ReadText(gui::ManualPath());
    QVERIFY(html.startsWith(QStringLiteral("<!DOCTYPE html>")));
    QVERIFY(html.contains(QStringLiteral("<style>")));
    QVERIFY(!html.contains(QRegularExpression(QStringLiteral("(src|href)=\"(https?:|//|file:)"))));
    QVERIFY(!html.contains(QStringLiteral("<link")));
    QVERIFY(!html.contains(QStringLiteral("<script")));
    QSet<QString> ids;
    QRegularExpressionMatchIterator id_it = QRegularExpression(QStringLiteral("\\sid=\"([^\"]+)\"")).globalMatch(html);
    while (id_it.hasNext()) {
      const QString id = id_it.next().captured(1);
      QVERIFY2(!ids.contains(id), qPrintable("duplicate id " + id));
      ids.insert(id);
    }
    const QRegularExpression link_pattern(QStringLiteral("href=\"#([^\"]+)\""));
    QRegularExpressionMatchIterator link_it = link_pattern.globalMatch(html);
    int links = 0;
    while (link_it.hasNext()) {
      const QString target = link_it.next().captured(1);
      QVERIFY2(ids.contains(target), qPrintable("no section " + target));
      ++links;
    }
    QVERIFY(links >= 10);  // the contents list
    // Images, if any, sit beside the page.
    const QRegularExpression image_pattern(QStringLiteral("<img[^>]*src=\"([^\"]+)\""));
    QRegularExpressionMatchIterator img_it = image_pattern.globalMatch(html);
    while (img_it.hasNext()) {
      const QString image = QFileInfo(gui::ManualPath()).dir().filePath(img_it.next().captured(1));
      QVERIFY2(QFileInfo(image).isFile(), qPrintable(image));
    }
  }
};

QTEST_MAIN(IconsTest)
#include "common_icons_test.moc"
