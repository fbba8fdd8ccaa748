// Updates on the writing side: the rows a caller changes, the rows cascade-update relationships
// change with them, each written again in its place or moved, and the relationships checked
// against the result.
#include <map>

#include "jet/database_write.h"
#include "jet/values.h"

namespace tabulon::jet {

Status Database::WriteState::ApplyUpdatePlan(const UpdatePlan& plan) {
  struct Pending {
    TableState* table;
    RowPointer where;
    const Row* values;
  };
  std::vector<Pending> pending;
  for (const auto& entry : plan) {
    const auto& rows = entry.second;  // a name a lambda can capture (a structured binding is not)
    if (rows.empty()) continue;
    ASSIGN_OR_RETURN(TableState * table, TableAt(entry.first));
    // The rows as stored (long-value fields undecoded), to release their long values.
    std::map<RowPointer, Row> stored;
    ScanOptions raw;
    raw.read_long_values = false;
    RETURN_IF_ERROR(StoreMaps(*table));
    RETURN_IF_ERROR(db.ScanRows(
        table->def,
        [&](RowPointer where, const Row& row) {
          if (rows.count(where)) stored.emplace(where, row);
          return Status::Ok();
        },
        raw));
    if (stored.size() != rows.size()) {
      return CorruptError("table '" + table->def.name + "': a row to update is no longer where it was found");
    }
    if (table->indexes.maintained) RETURN_IF_ERROR(LoadIndexes(pager, *table));
    for (const auto& [where, change] : rows) {
      if (table->indexes.maintained) {
        RETURN_IF_ERROR(RemoveIndexEntries(pager, *this, *table, change.before, where));
      }
      RETURN_IF_ERROR(ReleaseLongValues(*table, stored[where]));
      pending.push_back({table, where, &change.after});
    }
  }
  for (const Pending& p : pending) {
    RETURN_IF_ERROR(RewriteRow(*p.table, p.where, *p.values).WithContext("table '" + p.table->def.name + "'"));
  }
  return Status::Ok();
}

Status Database::WriteState::RewriteRow(TableState& table, RowPointer where, const Row& values) {
  LongValues long_values(*this, table);
  std::string encoded;
  RETURN_IF_ERROR(table.encoder->Encode(values, long_values, encoded));
  const bool indexed = table.indexes.maintained;
  if (indexed) RETURN_IF_ERROR(PrepareKeys(table, values));
  const uint32_t number = RowPointerPage(where);
  ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(number));
  uint16_t start = 0;
  uint16_t end = 0;
  const bool live = RowBounds(page, RowPointerRow(where), start, end);
  RowPointer at = where;
  if (live &&
      ReplaceRowOnPage(page, RowPointerRow(where), reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size())) {
    if (encoded.size() < static_cast<size_t>(end - start)) RETURN_IF_ERROR(NoteRoom(table, number));
  } else {
    // The row no longer fits its page (or Access had moved it): it goes where a new row would.
    RETURN_IF_ERROR(DeleteAt(table, where, /*index_entries=*/false));
    ASSIGN_OR_RETURN(at, InsertEncoded(table, encoded));
  }
  if (indexed) RETURN_IF_ERROR(AddPreparedIndexEntries(pager, *this, table, at));
  return Status::Ok();
}

Result<uint64_t> Database::UpdateRows(std::string_view table, const RowUpdater& update) {
  uint64_t selected = 0;
  Status status = RunWrite([&](WriteState& w) -> Status {
    ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
    const TableDefinition& def = state->def;
    UpdatePlan plan;
    std::map<RowPointer, RowChange>& rows = plan[def.tdef_page];
    // Every row is asked before anything changes.
    Row updated;
    RETURN_IF_ERROR(ScanRows(def, [&](RowPointer where, const Row& row) -> Status {
      updated = row;
      ASSIGN_OR_RETURN(bool changes, update(where, row, updated));
      if (!changes) return Status::Ok();
      if (updated.size() != row.size()) {
        return InvalidArgumentError("table '" + def.name + "' has " + std::to_string(row.size()) +
                                    " columns, the updated row " + std::to_string(updated.size()));
      }
      ++selected;
      bool same = true;
      for (size_t i = 0; i < row.size(); ++i) {
        if (SameValue(row[i], updated[i])) continue;
        if (def.columns[i].auto_number()) {
          return InvalidArgumentError("table '" + def.name + "': cannot update AutoNumber column '" +
                                      def.columns[i].name + "'");
        }
        same = false;
      }
      if (!same) rows.emplace(where, RowChange{row, updated});
      return Status::Ok();
    }));
    RETURN_IF_ERROR(PlanCascadeUpdate(*this, *pager_, plan, w.TablesByPage()));
    RETURN_IF_ERROR(w.ApplyUpdatePlan(plan));
    return CheckUpdatedReferences(*pager_, plan, w.TablesByPage());
  });
  if (!status.ok()) return status;
  return selected;
}

}  // namespace tabulon::jet
