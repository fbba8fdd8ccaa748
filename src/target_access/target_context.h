// What the Access target adapter needs from its owner (the program's core object): the output
// pane, both connections, what each database tree keeps about its side, and
// the few commands it triggers. Front ends and tests fill it in; nothing here is owned.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "data/db_connection.h"
#include "workspace/db_tree.h"
#include "workspace/output_pane.h"

namespace tabulon::target_access {

enum class Side { kSource = 0, kTarget = 1 };

// The file operations read and change a tree's current database (for the target: the .mdb
// path without ".mdb") and its connection state (-1: connecting, or not connected).
using TreeBinding = workspace::DbTreeView;

struct TargetContext {
  workspace::OutputPane* output = nullptr;
  data::DbConnection* source = nullptr;
  data::DbConnection* target = nullptr;
  TreeBinding* source_tree = nullptr;
  TreeBinding* target_tree = nullptr;
  // Guards the trees when tasks change them on another thread; null: no other thread.
  std::recursive_mutex* tree_lock = nullptr;
  // The side the main window holds as the one in use: "Source" means the source tree, any
  // other text the target tree.
  std::string side_in_use = "Target";
  // The workgroup file; empty: the expansion of kSystemDatabaseTemplate.
  std::string system_database_path;
  // When tasks run: asks them to stop and waits a second (before a file is dropped).
  std::function<void()> stop_running_tasks;
  // Runs the Connect command of one side.
  std::function<void(Side)> connect;
  // Refreshes the target side (after the connected file was dropped).
  std::function<void()> refresh_target;
  // True once the running task has been asked to stop (read after every row of a backup or
  // restore); unset: never.
  std::function<bool()> stop_requested;
};

}  // namespace tabulon::target_access
