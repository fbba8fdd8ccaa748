// The command identifiers of the menu bar, the mini toolbar, the tree menus and the task
// viewer's toolbar. Every QAction carries its identifier as data and as the object name
// "command_<id>", so a command is found and triggered by its number.
#pragma once

#include <QString>

namespace tabulon::gui {

enum CommandId : int {
  // "&Connect"
  kCmdConfig = 32777,
  kCmdConnect = 32780,
  kCmdDriverCheck = 32793,
  kCmdExit = 2,
  // "&Operation"
  kCmdMigrate = 32778,
  kCmdReviewMigration = 32797,  // "Review Migration...": the plan of the selected migration
  kCmdDeleteSelected = 32779,
  kCmdBackup = 32782,
  kCmdRestore = 32795,  // "Restore Backup...": replays a backup folder into an .mdb file
  // "D&atabases"
  kCmdNewDatabase = 32775,
  kCmdChangeCharset = 32774,  // removed at start-up, never offered
  kCmdStorageEngine = 32794,  // removed at start-up, never offered
  // "&Database"
  kCmdDeleteDatabase = 32772,
  kCmdClearAllTables = 32773,
  kCmdClearAllData = 32790,
  // "&Table"
  kCmdMigrationCondition = 32776,
  kCmdDropTable = 32787,
  kCmdDropView = 32788,
  kCmdRenameTable = 32789,
  // "&Help" and "&About"
  kCmdManual = 32783,
  kCmdAbout = 0x10,
  kCmdWebPage = 32796,
  // The mini toolbar
  kCmdConfigureButton = 1026,
  kCmdConnectButton = 1028,
  kCmdMigrateButton = 1035,
  kCmdDeleteButton = 1030,
  kCmdBackupButton = 1034,
  kCmdAboutButton = 1032,
  // The task viewer's toolbar
  kCmdClearAllTasks = 5561,
  kCmdDeleteTask = 5550,
  kCmdItemDown = 5580,
  kCmdItemUp = 5579,
  kCmdStartStop = 5560,
};

inline QString CommandObjectName(int id) { return QStringLiteral("command_%1").arg(id); }

}  // namespace tabulon::gui
