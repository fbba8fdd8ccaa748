// What the SQL Server source adapter needs from its owner (the program's core object): the
// output pane, both connections, the migration settings and the stop request. Front ends and
// tests fill it in; nothing here is owned.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "data/db_connection.h"
#include "data/output_pane.h"

namespace tabulon::source_sqlserver {

struct SourceContext {
  data::OutputPane* output = nullptr;
  data::DbConnection* source = nullptr;
  // The target's provider name decides the Jet-only parts of a translation.
  data::DbConnection* target = nullptr;
  // The migration condition of a table (the WHERE text without "where") for a source database
  // and table; null or "": every row is copied.
  std::function<std::string(std::string_view database, std::string_view table)> condition;
  // "Auto Backup": every INSERT of a row transfer is also written to the table's data file.
  bool auto_backup = false;
  // Where the row data files go; empty: the current directory.
  std::string work_folder;
  // True when the user asked the running task to stop (looked at between rows).
  std::function<bool()> stop_requested;
};

// True when the target is the built-in Jet provider.
bool TargetIsJet(const SourceContext& owner);

}  // namespace tabulon::source_sqlserver
