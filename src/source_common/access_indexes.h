// The indexes and relationships of a source table as Access can hold them: which are created,
// under which names and with which rules, and which are left out and why. Both sources describe
// their catalogue in these shapes; the rules of Jet are applied here once.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/status.h"
#include "source_common/access_statements.h"
#include "source_common/source_context.h"
#include "source_common/translation.h"

namespace tabulon::source_common {

// Jet's limits: key columns of one index, indexes (logical, foreign-key ones included) of a table.
inline constexpr size_t kMaxAccessIndexColumns = 10;
inline constexpr size_t kMaxAccessIndexes = 32;

// One index of a source table that is not its primary key, as the source lists it.
struct SourceIndex {
  std::string name;
  bool unique = false;
  std::vector<KeyColumn> columns;     // key columns by source name; an empty name is an expression
  std::vector<std::string> included;  // columns stored beside the key (SQL Server's INCLUDE)
  std::string cannot_hold;            // why Access has no such index ("a filtered index"); "" if it has
};

// The CREATE INDEX statements of `table`'s indexes, in the order listed, with a note for each one
// left out or kept only in part. A unique index is named `T_IDX_n`, n its place in the list; a
// plain one keeps its own name (made unique among the table's). Left out: what `cannot_hold`
// names, an expression, more than 10 key columns, a key column in `long_columns` (Access names,
// lower case: Memo and OLE Object columns cannot be indexed), a plain index whose keys equal an
// earlier index's (the primary key's included), and whatever passes the 32 indexes of a table
// after the primary key and the `foreign_key_indexes` that relationships will need.
Translation AccessIndexes(const SourceContext& owner, const SourceTable& table, const std::vector<SourceIndex>& indexes,
                          const std::vector<KeyColumn>& primary_key, size_t foreign_key_indexes,
                          const std::set<std::string>& long_columns);

// The Access names (lower case) of the Memo and OLE Object columns of the target's table `table`
// (an Access name); none when the target cannot list its columns.
std::set<std::string> TargetLongColumns(const SourceContext& owner, const std::string& table);

// What a source does when a referenced row is deleted or its key changed.
enum class ReferentialAction { kNoAction, kCascade, kSetNull, kSetDefault };

// One foreign key of a table: its column pairs in key order (source names) and its rules.
struct SourceForeignKey {
  std::string name;
  std::string referenced_schema;  // "": the table's own
  std::string referenced_table;
  std::vector<std::string> columns;
  std::vector<std::string> referenced_columns;
  ReferentialAction on_delete = ReferentialAction::kNoAction;
  ReferentialAction on_update = ReferentialAction::kNoAction;
  std::string not_enforced;  // why the source does not enforce it ("disabled"); "" when it does
};

// The foreign keys of `table` as Access statements, one per key, every name as Access gets it
// (`record_columns` records the columns of a table first; its error is the answer). The rules
// Access has (ON DELETE CASCADE / SET NULL, ON UPDATE CASCADE) are kept for the built-in engine;
// SET DEFAULT and ON UPDATE SET NULL keep the relationship enforced without a rule, with a note;
// a key the source does not enforce is created NOT ENFORCED (the engine) or left out (others).
Result<Translation> AccessForeignKeys(const SourceContext& owner, const SourceTable& table,
                                      const std::vector<SourceForeignKey>& keys,
                                      const std::function<Status(const SourceTable&)>& record_columns);

}  // namespace tabulon::source_common
