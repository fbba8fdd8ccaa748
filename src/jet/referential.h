// Internal to the writing side: keeping enforced relationships true. Jet keeps an enforced
// relationship as a pair of foreign-key logical indexes (type 2): one on the referencing
// ("many") table, named like the relationship, one on the referenced ("one") table (".rB",
// ...), each naming the other by table page and logical number. The checks follow those
// pairs, as Jet does, and look keys up in the real indexes behind them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/status.h"
#include "jet/catalog_writer.h"
#include "jet/database.h"
#include "jet/write_state.h"

namespace tabulon::jet {

// One enforced relationship as its index pair describes it. Pair i relates key column i of
// the referenced index to key column i of the referencing index.
struct EnforcedRelationship {
  std::string name;
  TableState* primary = nullptr;
  TableState* foreign = nullptr;
  uint32_t primary_real = 0;          // real index over the referenced columns
  uint32_t foreign_real = 0;          // real index over the foreign-key columns
  std::vector<size_t> primary_slots;  // Row positions, pair order
  std::vector<size_t> foreign_slots;
  std::vector<bool> primary_ascending;
  std::vector<bool> foreign_ascending;
  bool cascade_update = false;
  bool cascade_delete = false;
  bool cascade_null = false;
};

// Checks rows about to be inserted into a table against the enforced relationships that make
// it the referencing side. Rows placed earlier in the same operation count as parents.
class InsertReferenceCheck {
 public:
  // False when the table refers to no other table's rows: its inserts need no check.
  static bool Needed(const TableDefinition& def);
  static Result<InsertReferenceCheck> For(Pager& pager, TableState& table, const TableAtPage& at);
  // Ok when every relationship finds the row's parent (or a foreign-key column is Null).
  Status Check(const Row& row);

 private:
  Pager* pager_ = nullptr;
  std::vector<EnforcedRelationship> relationships_;
  std::vector<std::unordered_set<std::string>> found_;  // parent keys seen, per relationship
};

// What deleting rows does to other rows through enforced relationships. Tables by their
// definition page.
struct DeletePlan {
  std::map<uint32_t, std::set<RowPointer>> cascaded;                    // rows deleted besides the chosen ones
  std::map<uint32_t, std::map<RowPointer, std::set<size_t>>> set_null;  // Row positions to clear
};
// Plans the deletion of `doomed` rows of `table` (values as scanned; key columns are never
// long values). Refuses, changing nothing, when a row still referenced by a relationship
// without a cascade would go.
Result<DeletePlan> PlanDelete(Database& db, Pager& pager, TableState& table,
                              const std::vector<std::pair<RowPointer, Row>>& doomed, const TableAtPage& at);

// Rows an update changes, by table definition page and row pointer: the values before (long
// values read) and after.
struct RowChange {
  Row before;
  Row after;
};
using UpdatePlan = std::map<uint32_t, std::map<RowPointer, RowChange>>;
// Adds to `plan` the rows that cascade-update relationships change along with its rows (their
// foreign keys follow the changed keys they refer to, recursively), and refuses
// (InvalidArgument) a changed referenced key that a row not re-pointed by the plan still
// refers to. Reads the rows as they are before the update; changes nothing.
Status PlanCascadeUpdate(Database& db, Pager& pager, UpdatePlan& plan, const TableAtPage& at);
// After the rows of `plan` changed: a changed foreign key must name an existing row
// (InvalidArgument).
Status CheckUpdatedReferences(Pager& pager, const UpdatePlan& plan, const TableAtPage& at);

// The foreign-key indexes of a table before its indexes are stored, and the check after:
// an index that cannot hold a key is dropped by the store, which must never silently end
// a relationship's enforcement; the operation fails instead (Unsupported).
std::vector<IndexDefinition> ForeignKeyIndexesOf(const TableDefinition& def);
Status CheckForeignKeyIndexesKept(const TableState& table, const std::vector<IndexDefinition>& before);

// ---- Relationship bookkeeping inside a catalog write (relationships.cpp) ------------------

// The relationships as the current operation sees them.
Result<std::vector<Relationship>> ReadRelationships(CatalogWriter& w);
// Removes a relationship: its MSysRelationships rows, catalog object and foreign-key indexes.
Status RemoveRelationship(CatalogWriter& w, const Relationship& relationship);
// Before a table is dropped: refuses when it takes part in a relationship, or removes those
// relationships when asked to.
Status DetachRelationships(CatalogWriter& w, std::string_view table, DropTableMode mode);
// After a table is renamed: MSysRelationships names tables, so its rows follow.
Status RenameInRelationships(CatalogWriter& w, std::string_view from, std::string_view to);

}  // namespace tabulon::jet
