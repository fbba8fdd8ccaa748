// Backup scripts of what a table has besides its columns and rows, read from the .mdb file
// itself: its AutoNumbers and indexes (KEYS/<t>.keys), the relationships it refers through
// (RELATIONSHIPS/<name>.rel) and its properties (PROPERTIES/<t>.prop). Every script is Access
// SQL (docs/sql-dialect.md) that RestoreBackup replays after the tables and their rows.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <memory>

#include "base/status.h"
#include "data/provider.h"
#include "jet/database.h"
#include "target_access/target_context.h"

namespace tabulon::target_access {

// The connected target's .mdb file opened for reading, after the session's pending changes are
// committed; an error for a target that is not an .mdb file of the built-in provider.
Result<std::unique_ptr<jet::Database>> OpenTargetFile(TargetContext& owner, data::Session* session);

// "ALTER TABLE `t` ALTER COLUMN `c` COUNTER(next, 1);" per Long AutoNumber (next: the table's
// next number), "ALTER TABLE `t` ALTER COLUMN `c` COUNTER;" per GUID AutoNumber, then one
// "CREATE [UNIQUE] INDEX `i` ON `t` (`c` [DESC], ...) [WITH PRIMARY DISALLOW NULL IGNORE NULL];"
// per index that is not a relationship's own foreign-key index.
Result<std::string> KeysScript(jet::Database& db, const std::string& table);

// Per relationship whose referring ("many") table is `table`: its name and
// "ALTER TABLE `f` ADD CONSTRAINT `r` FOREIGN KEY (...) REFERENCES `p` (...) [ON UPDATE CASCADE]
// [ON DELETE CASCADE] [ON DELETE SET NULL] [NOT ENFORCED] [ONE TO ONE] [LEFT JOIN|RIGHT JOIN];".
Result<std::vector<std::pair<std::string, std::string>>> RelationshipScripts(jet::Database& db,
                                                                             const std::string& table);

// "ALTER TABLE `t` CLEAR PROPERTIES;" then, in stored order, one
// "ALTER TABLE `t` [ALTER COLUMN `c`] SET PROPERTY `name` = value AS <type> [DDL];" per property
// of the table's own map and of each column's.
Result<std::string> PropertiesScript(jet::Database& db, const std::string& table);

}  // namespace tabulon::target_access
