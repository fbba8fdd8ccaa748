// Internal to the writing side of Database (database_write.cpp and the files beside it:
// page_allocation.cpp, catalog_maintenance.cpp, table_write.cpp, row_write.cpp,
// long_value_write.cpp, database_create.cpp): the state of one write transaction and the helpers
// those files share.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "jet/catalog_writer.h"
#include "jet/index_writer.h"
#include "jet/referential.h"
#include "jet/write_state.h"

namespace tabulon::jet {

inline constexpr uint32_t kMaxFilePages = 0x80000000u / kPageSize;  // Jet's 2 GB limit

// Now as an OLE date (days since 1899-12-30).
double OleNow();

// Object names: what Jet and Access accept, and what our sort codes cover.
Status CheckObjectName(std::string_view name, const char* what);

// The catalog index's sort key of an object name.
Result<std::string> NameKey(std::string_view name);

// Reads the usage map at `row_pointer` into `map` (pages ascending).
Status LoadMap(Pager& pager, uint32_t row_pointer, MapState& map);

// ---- WriteState ---------------------------------------------------------------------------

struct Database::WriteState : public PageAllocator {
  WriteState(Database& database, Pager& p) : db(database), pager(p) {}

  Database& db;
  Pager& pager;
  double now = OleNow();

  // Global page map.
  std::set<uint32_t> free_pages;
  std::vector<uint32_t> global_bitmap_pages;
  bool global_dirty = false;

  // Catalog.
  std::vector<CatalogEntry> objects;
  std::vector<AceRow> aces;
  std::string new_object_owner;         // the MSysDb owner
  std::vector<std::string> table_sids;  // SIDs with rights on the Tables container
  bool objects_dirty = false;
  bool aces_dirty = false;
  uint32_t aces_tdef = 0;

  std::map<uint32_t, std::unique_ptr<TableState>> tables;
  size_t last_user_table = SIZE_MAX;  // position in `objects` of the table UserTable found last

  // Whether an operation marked an index to go (see PrepareIndexEntries): asked after every
  // insert of a batch, so it is a flag rather than a walk over every table's indexes.
  bool index_drop_marked = false;
  bool RemovesAnIndex() const { return index_drop_marked; }
  // The keys of a row about to be written into the table's indexes, checked.
  Status PrepareKeys(TableState& table, const Row& values) {
    Status status = PrepareIndexEntries(pager, table, values);
    index_drop_marked |= table.indexes.drop_marked;
    return status;
  }

  // Long values of one table, stored on the LVAL pages of their column.
  class LongValues : public LongValueSink {
   public:
    LongValues(WriteState& state, TableState& table) : state_(state), table_(table) {}
    Result<std::string> Store(const ColumnDefinition& column, std::string_view data) override;

   private:
    WriteState& state_;
    TableState& table_;
  };

  // PageAllocator.
  Result<uint32_t> Allocate() override {
    uint32_t page;
    if (!free_pages.empty()) {
      page = *free_pages.begin();
      free_pages.erase(free_pages.begin());
      ASSIGN_OR_RETURN(uint8_t * bytes, pager.MutablePage(page));
      std::memset(bytes, 0, kPageSize);
    } else {
      if (pager.page_count() >= kMaxFilePages) {
        return LimitError(pager.file().Name() + ": the database would grow beyond 2 GB, the limit of a Jet 4 file");
      }
      ASSIGN_OR_RETURN(page, pager.AppendPage());
    }
    global_dirty = true;
    return page;
  }

  void Free(uint32_t page) override {
    if (page < 3) return;  // never header, page map or catalog definition
    free_pages.insert(page);
    global_dirty = true;
    // A freed page reads as "never written"; failing to clear it only leaves stale bytes in
    // a page nothing refers to, so the error is dropped.
    if (auto bytes = pager.MutablePage(page); bytes.ok()) std::memset(*bytes, 0, kPageSize);
  }

  Status Load();
  Result<TableState*> Table(uint32_t tdef_page, const std::string& name);
  Result<TableState*> UserTable(std::string_view name);
  // A table by its definition page (the form foreign-key indexes name their partner in).
  Result<TableState*> TableAt(uint32_t tdef_page);
  TableAtPage TablesByPage() {
    return [this](uint32_t page) { return TableAt(page); };
  }
  // Deletes rows of a table found by a delete plan, and clears the columns it names.
  Status ApplyDeletePlan(const DeletePlan& plan);
  // The catalog entry of a table that is not a system table.
  Result<const CatalogEntry*> UserTableEntry(std::string_view name) const;
  const CatalogEntry* FindObject(std::string_view name, int32_t parent) const;
  Status LoadColumnProperties(TableDefinition& table);

  // A page of `owner` that takes a row of `size` bytes: `current`, else the first page of
  // `free_map` that does (it becomes `current`); null when a new page is needed.
  Result<uint8_t*> PageWithRoom(uint32_t& current, MapState& free_map, uint32_t owner, size_t size);
  Result<RowPointer> InsertEncoded(TableState& table, const std::string& row);
  // Puts a long-value row on a page of its column. `first_on_page` asks for row number 0 of
  // a new page (see LongValues::Store).
  Result<RowPointer> PlaceLongValueRow(TableState& table, size_t lv, const std::string& row,
                                       bool first_on_page = false);
  // `encoded_ahead`: the row already encoded for this table's layout (Database::InsertRow).
  Status InsertValues(TableState& table, const Row& row, RowPointer* where,
                      const std::string* encoded_ahead = nullptr);
  // `index_entries`: take the row's keys out of the table's indexes (false: already done).
  Status DeleteAt(TableState& table, RowPointer where, bool index_entries = true);
  // Changes the rows of an update plan: every changed row first leaves its indexes and gives
  // its long values back, then each is written again (in its place when it fits its page,
  // else moved), so keys are checked against the rows as they end up.
  Status ApplyUpdatePlan(const UpdatePlan& plan);
  Status RewriteRow(TableState& table, RowPointer where, const Row& values);
  // After a delete on a data page of the table: list it as having room, or give it back to
  // the file when no live row is left.
  Status NoteRoom(TableState& table, uint32_t page);
  // Deletes the long-value rows of a row (`stored` as scanned without reading long values)
  // and gives pages left empty back to the file.
  Status ReleaseLongValues(TableState& table, const Row& stored);

  // Visits every row of the table, this operation's rows included (for building indexes).
  RowScan RowsOf(TableState& table) {
    return [this, &table](const std::function<Status(RowPointer, const Row&)>& visit) -> Status {
      RETURN_IF_ERROR(StoreMaps(table));
      return db.ScanRows(table.def, visit);
    };
  }
  Status AddObject(CatalogEntry entry, const std::string& owner, const std::string& properties = {});
  Status AddAces(int32_t object_id);
  Status RebuildCatalogIndexes(TableState& table, bool aces);
  Status StoreMaps(TableState& table);
  Status StoreGlobalMap();
  Status Finish();
};

// Runs one write operation and commits it (or, in a batch, leaves it to the batch's commit).
template <typename Operation>
Status Database::RunWrite(Operation&& operation, bool batchable) {
  const bool batched = batchable && batch_;
  // Other operations may read the table's pages: the batch's inserts go to the file first.
  if (!batched) RETURN_IF_ERROR(FlushBatch());
  ASSIGN_OR_RETURN(WriteState * state, Writer());
  const uint64_t changes_before = pager_->change_count();
  in_operation_ = true;
  Status status = operation(*state);
  in_operation_ = false;
  if (batched && status.ok()) {
    ++batch_pending_;
    // An insert that takes an index off its table commits at once, so that the removal is
    // reported (TakeDroppedIndexes) right after the insert that caused it.
    if (!state->RemovesAnIndex()) return status;
    return EndWrite(*state, std::move(status));
  }
  if (batched && pager_->change_count() == changes_before) {
    // Refused before it changed a page: the batch goes on (the in-memory state holds only
    // what the batch's earlier inserts put there).
    return status;
  }
  return EndWrite(*state, std::move(status));
}

}  // namespace tabulon::jet
