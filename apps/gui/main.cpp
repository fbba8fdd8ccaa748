// tabulon: the desktop application. `tabulon [--config FILE]` opens the main window;
// `tabulon --screenshot FOLDER [--sample FILE]` renders its windows into PNG files without a
// display.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "config/program_folders.h"
#include "config/settings_file.h"
#include "converters/workbench.h"
#include "gui_prompt.h"
#include "main_dialog.h"
#include "screenshot.h"
#include "target_access/access_files.h"
#include "tabulon_version.h"

namespace {

bool HasArgument(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == name) return true;
  }
  return false;
}

// Ends the core while the window's thread keeps answering: a task that asks something on its way
// out gets the closed prompt's answer instead of waiting forever.
void EndWorkbench(std::unique_ptr<tabulon::converters::Workbench> workbench) {
  std::atomic<bool> ended{false};
  std::thread reaper([&] {
    workbench.reset();
    ended = true;
  });
  while (!ended) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  reaper.join();
}

}  // namespace

int main(int argc, char** argv) {
  // Pictures need no display.
  if (HasArgument(argc, argv, "--screenshot") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tabulon");
  QApplication::setApplicationVersion(QStringLiteral(TABULON_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Tabulon: copies a SQL Server or SQLite database into a Microsoft Access .mdb file.");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption config_option(
      "config",
      "Use FILE as the settings file (tabulon.cfg); its folder also holds Condition.cfg, data_cache and backup.",
      "FILE");
  const QCommandLineOption screenshot_option("screenshot",
                                             "Render the main window after a migration of the sample database, and the "
                                             "dialogs, into PNG files in FOLDER, then end.",
                                             "FOLDER");
  const QCommandLineOption sample_option(
      "sample", "The SQLite database the screenshot run migrates (default: the sample built with the program).",
      "FILE");
  const QCommandLineOption no_check_option("no-driver-check", "Do not open the driver check at start-up.");
  parser.addOptions({config_option, screenshot_option, sample_option, no_check_option});
  parser.process(app);

  if (parser.isSet(screenshot_option)) {
    const QString sample =
        parser.isSet(sample_option) ? parser.value(sample_option) : tabulon::gui::DefaultSampleDatabase();
    return tabulon::gui::RunScreenshots(parser.value(screenshot_option), sample);
  }

  tabulon::config::ProgramFolders folders;
  if (parser.isSet(config_option)) {
    const QFileInfo file(parser.value(config_option));
    folders = tabulon::config::ExplicitProgramFolders(file.absolutePath().toStdString());
  } else {
    folders = tabulon::config::FindProgramFolders(QCoreApplication::applicationDirPath().toStdString(),
                                                  tabulon::target_access::ProcessEnvironment);
  }
  const std::string settings_path = parser.isSet(config_option)
                                        ? QFileInfo(parser.value(config_option)).absoluteFilePath().toStdString()
                                        : folders.config + "/" + tabulon::config::kSettingsFileName;

  tabulon::gui::GuiPrompt prompt;
  tabulon::converters::WorkbenchOptions options;
  options.program_folder = folders.config;
  options.data_folder = folders.data;
  auto workbench = std::make_unique<tabulon::converters::Workbench>(prompt, options);

  int code = 0;
  {
    tabulon::gui::MainDialogOptions window_options;
    window_options.settings_path = settings_path;
    window_options.driver_check_at_start = !parser.isSet(no_check_option);
    tabulon::gui::MainDialog window(*workbench, window_options);
    prompt.SetParent(&window);
    window.show();
    code = QApplication::exec();
    prompt.Close();
  }
  EndWorkbench(std::move(workbench));
  return code;
}
