// `tabulon --screenshot FOLDER`: migrates the sample database in a scratch folder with the
// real window and dialogs, and saves pictures of them as PNG files (for the README and for
// checking the layout without a display).
#pragma once

#include <QString>

namespace tabulon::gui {

// The sample database built with the program (examples/sample.sql), or "" when unknown.
QString DefaultSampleDatabase();

// Writes main_window.png, task_list.png, settings.png, driver_check.png and condition.png into
// `folder` (created when missing). `sample_database`: the SQLite file to migrate. Returns the
// process exit code (0: every picture written); what went wrong is printed on stderr.
int RunScreenshots(const QString& folder, const QString& sample_database);

}  // namespace tabulon::gui
