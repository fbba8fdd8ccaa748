// Backup scripts of the connected Access target: a table's definition as CREATE TABLE, its rows
// as INSERT statements in a data file, and a view's definition as CREATE VIEW. Every script is
// Access SQL that RestoreBackup (restore_backup.h) replays into an equal object.
#pragma once

#include <string>

#include "data/provider.h"
#include "target_access/target_context.h"

namespace tabulon::target_access {

inline constexpr char kNoConnection[] = "No Connection!";
// What TableDataScript returns when it wrote the rows.
inline constexpr char kRowsWritten[] = "\x01";

// "CREATE TABLE `t`(\n" + one clause per column in ordinal order, joined by ",\n", + ")". A
// clause is "`name` " + AccessTypeName + " " + ["default " + the stored default + " "] +
// "NULL " or "NOT NULL ". A schema rowset that cannot be read, or whose reading fails half-way,
// is reported on the output pane (the script then has no columns and does not replay).
std::string TableDefinitionScript(TargetContext& owner, data::Session* session, const std::string& table);

// Writes every row of `table` to `data_file_path` (created or emptied) as one statement
// "insert into `t` values (...)" and a line end, with progress lines every 1000 rows and a
// closing count. Returns kNoConnection, "RESULT: The operation completed SUCCESSFULLY" for a
// statement without rows, an error text, or kRowsWritten. A stop request ends the file after
// the current row ("Data Backup Terminaled!").
std::string TableDataScript(TargetContext& owner, data::Session* session, const std::string& table,
                            const std::string& data_file_path);

// "CREATE VIEW `v` AS \n" + the view's query + "\n". A provider with the VIEWS schema rowset
// (the built-in one) gives the complete query; for others it is rebuilt from MSysQueries
// (columns with their aliases, tables and the condition only). On failure (no such view, or
// its definition cannot be read): " view :[Microsoft][<provider>] NO PERMISSION!\n".
std::string ViewDefinitionScript(TargetContext& owner, data::Session* session, const std::string& view);

}  // namespace tabulon::target_access
