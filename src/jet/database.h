// The public interface of the .mdb engine: one open Jet 4 database file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/file_io.h"
#include "jet/format/page0.h"
#include "jet/pager.h"
#include "jet/schema.h"

namespace tabulon::jet {

// One object of the catalog (a row of MSysObjects).
struct CatalogEntry {
  std::string name;
  int32_t id = 0;         // as stored (signed); a table's id is its definition page
  int32_t parent_id = 0;
  int16_t type = 0;       // 1 table, 2 database, 3 container, 4/6 linked, 5 query, 8 relationship
  int32_t flags = 0;      // 0x80000002 system, 0x00000008 hidden
  uint32_t row = 0;       // row pointer of the catalog row: (page << 8) | row number

  bool is_table() const { return (type & 0x7F) == 1; }
  bool is_system() const { return (static_cast<uint32_t>(flags) & 0x80000002u) != 0; }
  uint32_t tdef_page() const { return static_cast<uint32_t>(id) & 0x00FFFFFFu; }
};

// Where a row lives: (page << 8) | row number, the form every on-disk row pointer takes.
using RowPointer = uint32_t;
inline RowPointer MakeRowPointer(uint32_t page, uint8_t row) { return (page << 8) | row; }
inline uint32_t RowPointerPage(RowPointer pointer) { return pointer >> 8; }
inline uint8_t RowPointerRow(RowPointer pointer) { return static_cast<uint8_t>(pointer & 0xFF); }

// Called for every live row of a scan, in page order. A non-ok status stops the scan and is
// returned by ScanRows (use ErrorCode::kCancelled to stop early without an error).
using RowVisitor = std::function<Status(RowPointer where, const Row& row)>;

struct ScanOptions {
  // When false, a non-null Memo or OLE value is returned as Bytes holding the field as stored
  // in the row (12-byte header + inline data) and its pages are not read.
  bool read_long_values = true;
};

using format::DatabaseHeader;

class Database {
 public:
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // ---------------------------------------------------------------------------------------
  // Opening and reading (database.cpp, check_integrity.cpp).

  // Opens an existing file. kReadOnly never writes; kReadWrite allows the write operations.
  // Page 0 and the catalog's definition are checked on open; errors name page and offset.
  static Result<std::unique_ptr<Database>> Open(std::unique_ptr<FileIo> file, OpenMode mode);
  static Result<std::unique_ptr<Database>> Open(const std::string& path, OpenMode mode);

  const DatabaseHeader& header() const { return header_; }
  Pager& pager() { return *pager_; }
  uint32_t page_count() const { return pager_->page_count(); }

  // Every catalog row (MSysObjects), in storage order.
  Result<std::vector<CatalogEntry>> ListObjects();
  // Names of the tables, in storage order; system tables only when asked for.
  Result<std::vector<std::string>> ListTables(bool include_system = false);
  // The definition of a table by name (case-insensitive, like Jet), read from its pages, with
  // the Required flags of its columns from the catalog's property blob.
  Result<TableDefinition> GetTable(std::string_view name);
  // The definition stored at a table-definition page; `name` is put into the result.
  Result<TableDefinition> ReadTableDefinition(uint32_t tdef_page, std::string name = {});

  // Visits every live row of the table (pages of its owned-pages map, in page order).
  Status ScanRows(const TableDefinition& table, const RowVisitor& visit,
                  const ScanOptions& options = {});
  // One row by its pointer (long values read); NotFound when no live row of the table is there.
  Result<Row> ReadRow(const TableDefinition& table, RowPointer where);
  // All rows at once (small tables, tests).
  Result<std::vector<Row>> ReadAllRows(const TableDefinition& table);

  // Decodes a Memo or OLE field (the 12-byte header and any inline data as stored in the
  // row): a std::string (UTF-8) for Memo, Bytes for OLE. Chains are bounded by the declared
  // length and by the file size; loops are reported as corruption.
  Result<Value> ReadLongValue(const ColumnDefinition& column, std::string_view field);

  // Walks every structure of the file and reports the first problem with page and offset.
  Status CheckIntegrity();

  // ---------------------------------------------------------------------------------------
  // Creating and writing (database_write.cpp and friends). Declarations below this line
  // belong to the writing side.
  //
  // Every write operation is one transaction: on success it is durable when the call returns;
  // on failure nothing of it remains (the rollback journal beside the file undoes it, at the
  // latest when the file is next opened).

  // A new, empty Jet 4 database: header, page map and the four system tables with their
  // catalog rows and indexes. The file must not exist.
  static Result<std::unique_ptr<Database>> Create(std::unique_ptr<FileIo> file);
  static Result<std::unique_ptr<Database>> Create(const std::string& path);

  // Adds a user table. Only name, type, length, precision/scale, required, auto_number flag
  // and compression of each column are taken; numbering and layout are derived (see
  // NewColumn). Names: 1 to 64 characters, U+0001..U+00FF, none of . ! ` [ ], unique
  // regardless of case.
  Status CreateTable(const TableDefinition& table);
  // Rows hold one value per column in the order of GetTable(name).columns. A Null in an
  // AutoNumber column takes the next number; an explicit number raises the counter.
  Status InsertRow(std::string_view table, const Row& row);
  Status InsertRows(std::string_view table, const std::vector<Row>& rows);
  // Streams rows: `next` fills `row` and returns false when there are no more.
  using RowSource = std::function<Result<bool>(Row& row)>;
  Status InsertRows(std::string_view table, const RowSource& next);
  // Deletes the rows `match` selects; returns how many.
  using RowPredicate = std::function<bool(const Row& row)>;
  Result<uint64_t> DeleteRows(std::string_view table, const RowPredicate& match);
  // Removes a user table; its pages become free for reuse.
  Status DropTable(std::string_view name);
  Status RenameTable(std::string_view from, std::string_view to);

 private:
  Database(std::unique_ptr<Pager> pager, OpenMode mode);
  Status LoadHeader();
  Status LoadCatalogDefinition();

  std::unique_ptr<Pager> pager_;
  OpenMode mode_;
  DatabaseHeader header_;
  TableDefinition catalog_;  // MSysObjects, read on open

  // ---------------------------------------------------------------------------------------
  // Private state of the writing side below this line.
  struct WriteState;
  struct WriteStateDeleter {
    void operator()(WriteState* state) const;
  };
  Result<WriteState*> Writer();
  template <typename Operation>
  Status RunWrite(Operation&& operation);
  std::unique_ptr<WriteState, WriteStateDeleter> writer_;
};

// A column for CreateTable. `size` is characters for Text (1..255), bytes for Binary
// (1..255), precision for Decimal (1..28; use `scale` for the scale); ignored otherwise.
ColumnDefinition NewColumn(std::string name, ColumnType type, uint16_t size = 0,
                           uint8_t scale = 0);

}  // namespace tabulon::jet
