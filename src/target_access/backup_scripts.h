// Backup scripts of the connected Access target: a table's definition as CREATE TABLE, its rows
// as INSERT statements in a data file, a view's definition as CREATE VIEW, and a saved query of
// any kind as its stored rows (CREATE QUERY). Every script is
// Access SQL that RestoreBackup (restore_backup.h) replays into an equal object.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
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

// The saved queries of every kind (MSysObjects type 5), by name, without Access's hidden form
// and report queries (names starting with "~"), as the VIEW listing leaves them out.
Result<std::vector<std::string>> SavedQueryNames(data::Session* session);

// The backup script of a saved query: its SQL as Access shows it, each line as a "-- " comment,
// then "CREATE QUERY `q` ROWS" with its MSysQueries rows, one "(attribute, order, flag, name1,
// name2, expression)" a line, and, when it has properties, "ALTER QUERY `q` SET PROPERTIES
// 0x<blob>;". A text holding a control character (line ends, the NUL of pass-through text) is
// written as a 0x literal of its UTF-8 bytes. Fails when the query has no rows or its rows or
// property blob cannot be read.
Result<std::string> QueryBackupScript(data::Session* session, const std::string& query);

}  // namespace tabulon::target_access
