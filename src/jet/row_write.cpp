// Rows of the writing side: rows encoded and placed on data pages (AutoNumber and index keys
// kept), rows deleted (moved rows and referring rows of other tables included).
#include <algorithm>
#include <optional>
#include <set>

#include "base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/database_write.h"

namespace tabulon::jet {

Result<RowPointer> Database::WriteState::InsertEncoded(TableState& table, const std::string& row) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(row.data());
  ASSIGN_OR_RETURN(uint8_t * page, PageWithRoom(table.current_page, table.free, table.def.tdef_page, row.size()));
  if (!page) {
    ASSIGN_OR_RETURN(uint32_t page_number, Allocate());
    ASSIGN_OR_RETURN(page, pager.MutablePage(page_number));
    InitDataPage(page, table.def.tdef_page);
    table.owned.Add(page_number);
    // The free-space map names the pages new rows go to.
    table.free.Add(page_number);
    table.current_page = page_number;
  }
  const uint8_t number = AddRowToPage(page, bytes, row.size());
  ++table.def.row_count;
  table.header_dirty = true;
  return MakeRowPointer(table.current_page, number);
}

Status Database::WriteState::InsertValues(TableState& table, const Row& row, RowPointer* where,
                                          const std::string* encoded_ahead) {
  const Row* values = &row;
  Row numbered;
  for (size_t i = 0; i < table.def.columns.size() && i < row.size(); ++i) {
    const ColumnDefinition& c = table.def.columns[i];
    if (!c.auto_number() || c.type != ColumnType::kLong) continue;
    if (values == &row) {
      numbered = row;
      values = &numbered;
    }
    if (std::holds_alternative<Null>(numbered[i])) {
      if (table.def.last_auto_number >= static_cast<uint32_t>(INT32_MAX)) {
        return LimitError("table '" + table.def.name + "': AutoNumber column '" + c.name + "' has no numbers left");
      }
      numbered[i] = static_cast<int32_t>(++table.def.last_auto_number);
      encoded_ahead = nullptr;  // encoded with the Null
    } else if (const auto* v = std::get_if<int32_t>(&numbered[i]); v && *v > 0) {
      table.def.last_auto_number = std::max(table.def.last_auto_number, static_cast<uint32_t>(*v));
    }
    table.header_dirty = true;
  }
  static thread_local std::string encoded_here;
  const std::string* encoded = encoded_ahead;
  if (encoded == nullptr) {
    LongValues long_values(*this, table);
    RETURN_IF_ERROR(table.encoder->Encode(*values, long_values, encoded_here));
    encoded = &encoded_here;
  }
  const bool indexed = table.indexes.maintained;
  if (indexed) {
    // Keys are checked before the row is placed: a violation leaves no trace of the row.
    RETURN_IF_ERROR(LoadIndexes(pager, table));
    RETURN_IF_ERROR(PrepareKeys(table, *values));
  }
  ASSIGN_OR_RETURN(RowPointer at, InsertEncoded(table, *encoded));
  if (indexed) RETURN_IF_ERROR(AddPreparedIndexEntries(pager, *this, table, at));
  if (where) *where = at;
  return Status::Ok();
}

Status Database::WriteState::DeleteAt(TableState& table, RowPointer where, bool index_entries) {
  if (table.indexes.maintained && index_entries) {
    RETURN_IF_ERROR(LoadIndexes(pager, table));
    if (!table.indexes.real.empty()) {
      ASSIGN_OR_RETURN(Row row, db.ReadRow(table.def, where));
      RETURN_IF_ERROR(RemoveIndexEntries(pager, *this, table, row, where));
    }
  }
  const uint32_t number = RowPointerPage(where);
  ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(number));
  RowPointer moved_to = 0;
  if (RowPointerRow(where) < DataPageRowCount(page)) {
    // A row Access moved elsewhere leaves a 4-byte pointer (overflow flag only) in its slot;
    // deleting it deletes the moved row too.
    const uint16_t entry = ReadU16(page + format::kDataPageHeaderSize + 2 * RowPointerRow(where));
    if ((entry & 0xC000) == format::kRowOverflow) {
      WriteU16(page + format::kDataPageHeaderSize + 2 * RowPointerRow(where),
               static_cast<uint16_t>(entry & ~format::kRowOverflow));
      uint16_t start = 0;
      uint16_t end = 0;
      if (RowBounds(page, RowPointerRow(where), start, end) && end - start >= 4) {
        moved_to = ReadU32(page + start);
      }
    }
  }
  if (!DeleteRowOnPage(page, RowPointerRow(where))) {
    return CorruptError(format::PageAt(number, 0) + "row " + std::to_string(RowPointerRow(where)) +
                        " to delete is missing");
  }
  if (table.def.row_count > 0) --table.def.row_count;
  table.header_dirty = true;
  if (moved_to != 0) {
    ASSIGN_OR_RETURN(uint8_t * target, pager.MutablePage(RowPointerPage(moved_to)));
    const uint8_t row = RowPointerRow(moved_to);
    if (target[0] == format::kPageData && row < DataPageRowCount(target)) {
      // The moved row carries the deleted flag already; the full mark gives its bytes back.
      const size_t at = format::kDataPageHeaderSize + 2u * row;
      WriteU16(target + at, static_cast<uint16_t>(ReadU16(target + at) & ~0xC000));
      DeleteRowOnPage(target, row);
      if (std::binary_search(table.owned.pages.begin(), table.owned.pages.end(), RowPointerPage(moved_to))) {
        RETURN_IF_ERROR(NoteRoom(table, RowPointerPage(moved_to)));
      }
    }
  }
  return NoteRoom(table, number);
}

Status Database::WriteState::ApplyDeletePlan(const DeletePlan& plan) {
  std::set<uint32_t> pages;
  for (const auto& entry : plan.cascaded) pages.insert(entry.first);
  for (const auto& entry : plan.set_null) pages.insert(entry.first);
  for (uint32_t page : pages) {
    ASSIGN_OR_RETURN(TableState * table, TableAt(page));
    const auto cascaded = plan.cascaded.find(page);
    const auto cleared = plan.set_null.find(page);
    auto listed = [&](RowPointer where) {
      return (cascaded != plan.cascaded.end() && cascaded->second.count(where)) ||
             (cleared != plan.set_null.end() && cleared->second.count(where));
    };
    // Rows as stored (long-value fields undecoded), to release their long values.
    std::vector<std::pair<RowPointer, Row>> stored;
    ScanOptions raw;
    raw.read_long_values = false;
    RETURN_IF_ERROR(StoreMaps(*table));
    RETURN_IF_ERROR(db.ScanRows(
        table->def,
        [&](RowPointer where, const Row& row) {
          if (listed(where)) stored.emplace_back(where, row);
          return Status::Ok();
        },
        raw));
    for (const auto& [where, row] : stored) {
      std::optional<Row> kept;
      if (cleared != plan.set_null.end()) {
        if (auto it = cleared->second.find(where); it != cleared->second.end()) {
          // Set Null is a delete and an insert of the row with those columns cleared.
          ASSIGN_OR_RETURN(kept, db.ReadRow(table->def, where));
          for (size_t slot : it->second) (*kept)[slot] = Null{};
        }
      }
      RETURN_IF_ERROR(DeleteAt(*table, where));
      RETURN_IF_ERROR(ReleaseLongValues(*table, row));
      if (kept) RETURN_IF_ERROR(InsertValues(*table, *kept, nullptr));
    }
  }
  return Status::Ok();
}

// ---- Database: row operations ---------------------------------------------------------------

Status Database::InsertRows(std::string_view table, const RowSource& next) {
  return RunWrite(
      [&](WriteState& w) -> Status {
        ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
        ASSIGN_OR_RETURN(InsertReferenceCheck references, InsertReferenceCheck::For(*pager_, *state, w.TablesByPage()));
        Row row;
        uint64_t number = 0;
        for (;;) {
          ASSIGN_OR_RETURN(bool more, next(row));
          if (!more) break;
          ++number;
          Status s = references.Check(row);
          if (s.ok()) s = w.InsertValues(*state, row, nullptr);
          if (!s.ok()) return s.WithContext("row " + std::to_string(number) + " of '" + state->def.name + "'");
        }
        return Status::Ok();
      },
      /*batchable=*/true);
}

Status Database::InsertRows(std::string_view table, const std::vector<Row>& rows) {
  size_t at = 0;
  return InsertRows(table, [&](Row& row) -> Result<bool> {
    if (at == rows.size()) return false;
    row = rows[at++];
    return true;
  });
}

Status Database::InsertRow(std::string_view table, const Row& row) { return InsertRowEncoded(table, row, nullptr); }

Status Database::InsertRow(std::string_view table, const Row& row, const std::string& encoded) {
  return InsertRowEncoded(table, row, &encoded);
}

Status Database::InsertRowEncoded(std::string_view table, const Row& row, const std::string* encoded) {
  // InsertRows with one row, without copying it: row-by-row imports call this per row.
  return RunWrite(
      [&](WriteState& w) -> Status {
        ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
        Status s;
        if (InsertReferenceCheck::Needed(state->def)) {
          ASSIGN_OR_RETURN(InsertReferenceCheck references,
                           InsertReferenceCheck::For(*pager_, *state, w.TablesByPage()));
          s = references.Check(row);
        }
        if (s.ok()) s = w.InsertValues(*state, row, nullptr, encoded);
        if (!s.ok()) return s.WithContext("row 1 of '" + state->def.name + "'");
        return Status::Ok();
      },
      /*batchable=*/true);
}

Result<uint64_t> Database::DeleteRows(std::string_view table, const RowPredicate& match) {
  uint64_t deleted = 0;
  Status status = RunWrite([&](WriteState& w) -> Status {
    ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
    // Rows are scanned with their long-value fields as stored, so the rows holding their
    // data can be released; the predicate sees the values themselves.
    std::vector<std::pair<RowPointer, Row>> doomed;
    ScanOptions stored;
    stored.read_long_values = false;
    Row resolved;
    RETURN_IF_ERROR(ScanRows(
        state->def,
        [&](RowPointer where, const Row& row) -> Status {
          resolved = row;
          for (size_t i = 0; i < resolved.size(); ++i) {
            const ColumnDefinition& column = state->def.columns[i];
            const auto* field = std::get_if<Bytes>(&row[i]);
            if (!field || !IsLongValueType(column.type)) continue;
            ASSIGN_OR_RETURN(resolved[i], ReadLongValue(column, field->data));
          }
          if (match(resolved)) doomed.emplace_back(where, row);
          return Status::Ok();
        },
        stored));
    // Rows of other tables that refer to these are planned before anything changes.
    ASSIGN_OR_RETURN(DeletePlan plan, PlanDelete(*this, *pager_, *state, doomed, w.TablesByPage()));
    for (const auto& [where, row] : doomed) {
      // The row goes first: its index keys are read from it, long values included.
      RETURN_IF_ERROR(w.DeleteAt(*state, where));
      RETURN_IF_ERROR(w.ReleaseLongValues(*state, row));
    }
    RETURN_IF_ERROR(w.ApplyDeletePlan(plan));
    deleted = doomed.size();
    return Status::Ok();
  });
  if (!status.ok()) return status;
  return deleted;
}

}  // namespace tabulon::jet
