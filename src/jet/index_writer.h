// Internal to the writing side: user-index maintenance. Each real index's B-tree is changed in
// place (index_tree.h) as rows are inserted and deleted; the end of each write operation
// encodes the pages still held decoded and updates the distinct-key counts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/index_tree.h"
#include "jet/page_writer.h"
#include "jet/schema.h"

namespace tabulon::jet {

struct TableState;

struct RealIndexState {
  uint32_t number = 0;               // real index number in the table definition
  std::vector<size_t> column_slots;  // positions of the key columns in a Row
  std::vector<bool> ascending;
  uint8_t flags = 0;
  std::unique_ptr<IndexTree> tree;  // null for tables whose indexes are rebuilt elsewhere
  // The row being inserted: its key, or skipped (ignore nulls) / exempt from uniqueness.
  std::string pending;
  bool pending_skip = false;
  bool pending_has_null = false;
  std::string drop_reason;  // set: the index goes at the end of the operation

  bool unique() const { return (flags & 0x01) != 0; }
  bool ignore_nulls() const { return (flags & 0x02) != 0; }
  bool required() const { return (flags & 0x08) != 0; }
};

struct TableIndexes {
  bool loaded = false;
  bool maintained = true;  // false for tables whose indexes are rebuilt elsewhere (catalog)
  std::vector<RealIndexState> real;
  bool definition_dirty = false;
  bool drop_marked = false;           // a real index has a drop_reason (until it is dropped)
  std::vector<DroppedIndex> dropped;  // reported once the operation commits
};

// Index maintenance, called by the writing side for every row it inserts or deletes.
Status LoadIndexes(Pager& pager, TableState& table);
// Computes the keys of a row about to be inserted and checks unique and required indexes.
Status PrepareIndexEntries(Pager& pager, TableState& table, const Row& values);
Status AddPreparedIndexEntries(Pager& pager, PageAllocator& allocator, TableState& table, RowPointer where);
// `row` holds the values of the row at `where` (long values read).
Status RemoveIndexEntries(Pager& pager, PageAllocator& allocator, TableState& table, const Row& row, RowPointer where);
// A table's state in the current write operation, by its definition page.
using TableAtPage = std::function<Result<TableState*>(uint32_t tdef_page)>;

// The first step of ending an operation: takes off the indexes marked for dropping (a row's
// key could not be encoded).
Status DropUnkeyableIndexes(Pager& pager, PageAllocator& allocator, TableState& table);
// Numbers a table's indexes as Access does, after indexes were added or removed: real
// indexes that back a named index first, then those only foreign-key indexes use; logical
// numbers 0..n-1, the named indexes first (each numbered like its real index), then the
// foreign-key indexes in the order they were made. Every foreign-key index that names one
// of them (in this or another table) follows; those tables' definitions are rewritten too.
Status NumberIndexes(Pager& pager, TableState& table, const TableAtPage& at);
// Ends the operation for the table's indexes: encodes changed pages, stores distinct-key
// counts (and the definition when indexes were added or removed).
Status StoreIndexes(Pager& pager, PageAllocator& allocator, TableState& table);

// Row pointers of the entries of real index `number` whose key is exactly `key`, as of the
// current write operation (its additions and removals included), ascending.
Result<std::vector<RowPointer>> FindIndexKey(Pager& pager, TableState& table, uint32_t number, std::string_view key);

// Schema changes, inside a write operation. `rows` visits every row of the table.
using RowScan = std::function<Status(const std::function<Status(RowPointer, const Row&)>&)>;
Status CreateIndexIn(Pager& pager, PageAllocator& allocator, TableState& table, const IndexSpec& spec,
                     const RowScan& rows);
Status DropIndexIn(Pager& pager, PageAllocator& allocator, TableState& table, std::string_view name);
Result<ForeignKeyIndexes> AddForeignKeyIndexesIn(Pager& pager, PageAllocator& allocator, TableState& primary,
                                                 TableState& foreign, const ForeignKeyIndexSpec& spec,
                                                 const RowScan& foreign_rows);

}  // namespace tabulon::jet
