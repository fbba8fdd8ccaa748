// Set-up shared by the desktop tests: a SQLite source made by the sqlite3 program, and a
// Workbench whose waits are instant with that source connected.
#pragma once

#include <QProcess>
#include <QString>
#include <chrono>
#include <memory>

#include "converters/connect.h"
#include "converters/workbench.h"
#include "data/user_prompt.h"

namespace tabulon::gui::testing {

// Runs `sql` into a new SQLite file at `path`; false when sqlite3 refuses it.
inline bool MakeSqlite(const QString& path, const char* sql) {
  QProcess process;
  process.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), path});
  if (!process.waitForStarted()) return false;
  process.write(sql);
  process.closeWriteChannel();
  return process.waitForFinished() && process.exitCode() == 0;
}

// A Workbench in `folder` (no waits, no pause) with the SQLite file `sqlite` as its connected
// source; the caller checks owner->source().session.
inline std::unique_ptr<converters::Workbench> MakeSqliteWorkbench(data::UserPrompt& prompt, const QString& folder,
                                                                  const QString& sqlite) {
  converters::WorkbenchOptions options;
  options.program_folder = folder.toStdString();
  options.sleep = [](std::chrono::milliseconds) {};
  options.pause = [] {};
  auto owner = std::make_unique<converters::Workbench>(prompt, options);
  owner->target_context().system_database_path = (folder + QStringLiteral("/System.mdw")).toStdString();
  owner->source().profile.provider_name = "SQLite";
  owner->source().profile.source_name = sqlite.toStdString();
  converters::ConnectSource(*owner);
  return owner;
}

}  // namespace tabulon::gui::testing
