// The public interface of the .mdb engine: one open Jet 4 database file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/file_io.h"
#include "jet/format/page0.h"
#include "jet/format/properties.h"
#include "jet/pager.h"
#include "jet/saved_query.h"
#include "jet/schema.h"

namespace tabulon::jet {

// One object of the catalog (a row of MSysObjects).
struct CatalogEntry {
  std::string name;
  int32_t id = 0;  // as stored (signed); a table's id is its definition page
  int32_t parent_id = 0;
  int16_t type = 0;   // 1 table, 2 database, 3 container, 4/6 linked, 5 query, 8 relationship
  int32_t flags = 0;  // 0x80000002 system, 0x00000008 hidden
  uint32_t row = 0;   // row pointer of the catalog row: (page << 8) | row number

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

// ---- User indexes (index_writer.cpp, index_read.cpp) -------------------------------------

// One key column of a new index.
struct IndexKeyColumn {
  std::string column;
  bool ascending = true;
};

// A new index for CreateIndex. Flags as Jet keeps them: a primary key is unique and required;
// `ignore_nulls` leaves rows whose key columns are all Null out of the index; `required`
// refuses rows with a Null in any key column. A unique index refuses a second row with the
// same key unless a key column is Null.
struct IndexSpec {
  std::string name;                     // 1 to 64 characters, unique in the table
  std::vector<IndexKeyColumn> columns;  // 1 to 10, no Memo/OLE
  bool primary = false;
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
};

// The two logical indexes of an enforced relationship: one on the referenced ("one") table,
// backed by its unique index over the referenced columns, and one on the referencing ("many")
// table, backed by an index over the foreign-key columns (an existing one with the same
// columns in the same order, or a new plain index).
struct ForeignKeyIndexSpec {
  std::string name;  // the relationship name; also the foreign table's logical index name
  std::string primary_table;
  std::vector<std::string> primary_columns;
  std::string foreign_table;
  std::vector<std::string> foreign_columns;  // parallel to primary_columns
  bool cascade_update = false;
  bool cascade_delete = false;
  bool cascade_null = false;
};
struct ForeignKeyIndexes {
  std::string primary_index;  // the ".rB"-style name given on the primary table
  uint32_t primary_logical_number = 0;
  uint32_t foreign_logical_number = 0;
};

// A bound of ScanIndexRange: values for the first 1..n key columns of the index (a shorter
// list bounds by that prefix). Bounds are in the index's own order, so for a descending
// column `low` is the larger value.
struct IndexBound {
  Row values;
  bool inclusive = true;
};
struct IndexRange {
  std::optional<IndexBound> low;   // none: from the first entry
  std::optional<IndexBound> high;  // none: to the last entry
};

// An index the engine took off a table because a row's key could not be encoded exactly
// (a text character whose General sort code is unknown). The row was kept.
struct DroppedIndex {
  std::string table;
  std::string index;
  std::string reason;
  Status ToStatus() const;  // an Unsupported error naming index, table and reason
};

// ---- Relationships, saved queries, properties, column metadata ----------------------------
// (relationships.cpp, saved_query_store.cpp, object_properties.cpp, column_metadata.cpp)

// A relationship between a referenced ("one", primary) table and a referencing ("many",
// foreign) table over parallel column lists.
struct Relationship {
  std::string name;  // unique among relationships; Access names them primary + foreign table
  std::string primary_table;
  std::vector<std::string> primary_columns;
  std::string foreign_table;
  std::vector<std::string> foreign_columns;
  bool enforced = true;  // referential integrity checked on insert (and FK indexes kept)
  bool cascade_update = false;
  bool cascade_delete = false;
  bool cascade_null = false;
  bool one_to_one = false;
  JoinKind join = JoinKind::kInner;  // how Access's query designer joins the two (display)

  uint32_t Flags() const;                         // MSysRelationships.grbit
  static Relationship FromFlags(uint32_t grbit);  // the flag fields of a stored relationship
};

// What DropTable does with the relationships of the table: Jet refuses to drop a table that
// takes part in one; kWithRelationships removes those relationships first (rows, catalog
// object and the foreign-key indexes of the other table too).
enum class DropTableMode { kRefuseIfRelated, kWithRelationships };

// The properties of one object (MSysObjects.LvProp): the object's own map (name empty) and one
// per column.
using ObjectProperties = std::vector<format::PropertyMap>;

// A column as the Jet OLE DB provider describes it in its COLUMNS schema rowset.
struct ColumnMetadata {
  std::string name;
  uint32_t ordinal = 0;   // 1-based, in column order
  uint16_t ole_type = 0;  // DBTYPE: 2, 3, 4, 5, 6, 7, 11, 17, 72, 128, 130, 131
  uint32_t flags = 0;     // DBCOLUMNFLAGS as Jet reports them: 24, 74, 90, 106, 122, 202, 234
  uint32_t size = 0;      // characters (Text), bytes (Binary); 0 for the others
  bool nullable = true;
  bool has_default = false;
  std::string default_value;  // the DefaultValue property (Jet expression text)
  uint8_t precision = 0;      // Decimal
  uint8_t scale = 0;
};

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
  Status ScanRows(const TableDefinition& table, const RowVisitor& visit, const ScanOptions& options = {});
  // One row by its pointer (long values read); NotFound when no live row of the table is there.
  Result<Row> ReadRow(const TableDefinition& table, RowPointer where);
  // All rows at once (small tables, tests).
  Result<std::vector<Row>> ReadAllRows(const TableDefinition& table);

  // Decodes a Memo or OLE field (the 12-byte header and any inline data as stored in the
  // row): a std::string (UTF-8) for Memo, Bytes for OLE. Chains are bounded by the declared
  // length and by the file size; loops are reported as corruption.
  Result<Value> ReadLongValue(const ColumnDefinition& column, std::string_view field);

  // Walks every structure of the file (pages, maps, rows, long values, index trees and
  // definitions, foreign-key index pairs, relationships) and reports the first problem, naming
  // page and offset or table and index.
  Status CheckIntegrity();
  // Every problem CheckIntegrity would find, in the order it finds them (empty: none); an
  // error when not even the catalog can be read.
  Result<std::vector<Status>> FindIntegrityProblems();

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
  // NewColumn). Names: 1 to 64 characters, each with a General sort code (index_key.h: Latin-1,
  // CJK ideographs, fullwidth forms), no control characters, none of . ! ` [ ], unique
  // regardless of case.
  Status CreateTable(const TableDefinition& table);
  // Rows hold one value per column in the order of GetTable(name).columns. A Null in an
  // AutoNumber column takes the next number; an explicit number raises the counter.
  Status InsertRow(std::string_view table, const Row& row);
  // The same, with the row's record encoded ahead (RowEncoder over a copy of this table's
  // definition, possibly on another thread) by the caller, who vouches that the table's
  // columns have not changed since; when an AutoNumber is assigned the row is encoded again.
  Status InsertRow(std::string_view table, const Row& row, const std::string& encoded);
  Status InsertRows(std::string_view table, const std::vector<Row>& rows);
  // Streams rows: `next` fills `row` and returns false when there are no more.
  using RowSource = std::function<Result<bool>(Row& row)>;
  Status InsertRows(std::string_view table, const RowSource& next);
  // Deletes the rows `match` selects; returns how many.
  using RowPredicate = std::function<bool(const Row& row)>;
  Result<uint64_t> DeleteRows(std::string_view table, const RowPredicate& match);
  // Says, for a row (long values read), whether it changes: true with `updated` (which comes
  // in as a copy of the row) holding its new values. An error stops the update before
  // anything is written and is returned.
  using RowUpdater = std::function<Result<bool>(RowPointer where, const Row& row, Row& updated)>;
  // Changes the rows `update` selects; returns how many it selected. All or nothing: every
  // row is checked as it ends up (Required, lengths, unique and required indexes against the
  // table after the whole update, so keys may be swapped or shifted). A changed AutoNumber
  // value is refused. A row keeps its place when its new bytes fit its page, else it moves.
  // Enforced relationships: a changed foreign key must name an existing row; a changed
  // referenced key carries its referencing rows along through a cascade-update relationship
  // (recursively) and is otherwise refused while rows refer to it.
  Result<uint64_t> UpdateRows(std::string_view table, const RowUpdater& update);
  // Removes a user table; its pages become free for reuse. A table in a relationship is
  // refused (InvalidArgument naming the relationship) unless the mode says otherwise.
  Status DropTable(std::string_view name, DropTableMode mode = DropTableMode::kRefuseIfRelated);
  Status RenameTable(std::string_view from, std::string_view to);

  // Batches: many small inserts in one transaction, for callers that insert row by row.
  // Between BeginBatch and CommitBatch the InsertRow(s) calls share one transaction and are
  // durable only once it commits. Each insert checks its row before it changes a page, so a
  // refused row leaves no trace and the batch goes on. A failure after pages changed (an I/O
  // error, a key violation found late) undoes every insert since the last commit; the
  // returned error then says so, and batch_pending() is 0. Any other write operation, and
  // ScanRows / ListObjects, first commit the inserts so far (so reads see them). Destroying
  // the Database commits as well, but only CommitBatch reports a failure.
  Status BeginBatch();
  // Commits the inserts since the last commit and ends the batch.
  Status CommitBatch();
  // Commits the inserts so far and keeps the batch open.
  Status FlushBatch();
  bool in_batch() const { return batch_; }
  // Inserts of the batch not yet committed.
  uint64_t batch_pending() const { return batch_pending_; }

  // ---------------------------------------------------------------------------------------
  // User indexes (index_writer.cpp, index_read.cpp). Indexes are kept up to date by
  // InsertRow(s) and DeleteRows. A row violating a unique or required index fails the whole
  // InsertRows call with AlreadyExists / InvalidArgument naming index, table and key; nothing
  // of the call remains. A text key holding a character without a known General sort code
  // (index_key.h lists the characters covered) does not fail the insert: the row is stored,
  // the index is removed from the table (an index must never be silently wrong) and reported by
  // TakeDroppedIndexes() as soon as the insert returns (inside a batch, that insert commits
  // the batch).

  // Creates an index and fills it from the table's rows in one pass. Fails, creating nothing,
  // when the rows violate it or a key cannot be encoded.
  Status CreateIndex(std::string_view table, const IndexSpec& spec);
  // Removes an index (and frees its pages unless another logical index shares them).
  Status DropIndex(std::string_view table, std::string_view index);
  // Makes `column` an AutoNumber: a Long column numbers new rows (with `next`, the table's next
  // number becomes `next`), a GUID column is given a new GUID per row (no `next`). Any other
  // column type is refused.
  Status SetAutoNumber(std::string_view table, std::string_view column, std::optional<uint32_t> next);
  // Allows or forbids compressing the Text or Memo `column`'s values (values already stored
  // stay as they are: readers tell compressed text by its marker).
  Status SetUnicodeCompression(std::string_view table, std::string_view column, bool allowed);
  // Adds the foreign-key logical indexes of an enforced relationship to both tables (see
  // ForeignKeyIndexSpec). The primary side needs a unique index over exactly its columns.
  Result<ForeignKeyIndexes> CreateForeignKeyIndexes(const ForeignKeyIndexSpec& spec);
  // Row pointers of the rows whose first key.size() index columns equal `key`, in index
  // order. A Null in `key` matches Null.
  Result<std::vector<RowPointer>> SeekIndex(std::string_view table, std::string_view index, const Row& key);
  // Row pointers of the entries between the bounds, in index order.
  Result<std::vector<RowPointer>> ScanIndexRange(std::string_view table, std::string_view index,
                                                 const IndexRange& range);
  // Indexes removed since the last call (see above), oldest first.
  std::vector<DroppedIndex> TakeDroppedIndexes();

  // ---------------------------------------------------------------------------------------
  // Relationships, saved queries, properties and column metadata.

  // Relationships (MSysRelationships), one per name, columns in stored order.
  Result<std::vector<Relationship>> ListRelationships();
  // Records a relationship: its MSysRelationships rows, catalog object and, when enforced,
  // the foreign-key indexes on both tables. Fails (creating nothing) when a table or column
  // is missing, the column types differ, or existing rows already break it.
  Status CreateRelationship(const Relationship& relationship);
  // Removes a relationship: its rows, catalog object and the foreign-key indexes of both
  // tables (a real index made only for the relationship goes with it).
  Status DropRelationship(std::string_view name);
  // Enforced relationships (see docs/format/jet4.md): InsertRow(s) refuses a row of the
  // referencing table whose foreign-key columns are all non-Null and match no row of the
  // referenced table (InvalidArgument naming relationship, tables and key; nothing of the
  // call remains). DeleteRows deletes referencing rows of a cascade-delete relationship
  // (recursively), sets the foreign-key columns of a cascade-set-Null one to Null, and
  // otherwise refuses (InvalidArgument) before deleting anything.

  // Saved queries (catalog objects of type 5) with their MSysQueries rows.
  Result<std::vector<SavedQuery>> ListQueries();
  // The Access SQL text of a saved query.
  Result<std::string> GetQuerySql(std::string_view name);
  // Stores a SELECT view as a saved query.
  Status CreateView(const ViewDefinition& view);
  // Stores a saved query of any kind from its MSysQueries rows, verbatim (the object flags
  // follow the kind row; query.object_id and query.object_flags are not used). Fails
  // (InvalidArgument) on a name of no or more than 64 characters, rows without one start, one
  // kind row of a known kind and one end, an unknown attribute, or a name or expression too long;
  // AlreadyExists when a table or query has the name. The objects the rows read need not exist.
  Status CreateQuery(const SavedQuery& query);
  // Removes a saved query and its rows.
  Status DropQuery(std::string_view name);

  // The decoded LvProp blob of a table or query (empty when it has none).
  Result<ObjectProperties> ReadProperties(std::string_view object);
  // Replaces the properties of a table or query.
  Status WriteProperties(std::string_view object, const ObjectProperties& properties);

  // The table's columns as the Jet provider reports them.
  Result<std::vector<ColumnMetadata>> GetColumnMetadata(std::string_view table);

 private:
  Database(std::unique_ptr<Pager> pager, OpenMode mode);
  Status ChangeColumn(std::string_view table, std::string_view column,
                      const std::function<Status(TableDefinition&, ColumnDefinition&)>& change);
  Status LoadHeader();
  Status LoadCatalogDefinition();
  Status InsertRowEncoded(std::string_view table, const Row& row, const std::string* encoded);
  // Sets the Required flags of `table` from the property blob of its catalog row. A blob
  // that does not decode is left out (the rows stay usable); CheckIntegrity reports it.
  Status ApplyStoredColumnProperties(RowPointer catalog_row, TableDefinition& table);

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
  // `batchable`: an insert that may stay uncommitted inside a batch.
  template <typename Operation>
  Status RunWrite(Operation&& operation, bool batchable = false);
  bool batch_ = false;
  uint64_t batch_pending_ = 0;
  bool in_operation_ = false;  // a write operation (or its commit) is running
  // Commits the write state after an operation that returned `status`, or undoes everything
  // since the last commit; returns the operation's outcome.
  Status EndWrite(WriteState& state, Status status);
  std::unique_ptr<WriteState, WriteStateDeleter> writer_;
  // Runs `body` as one write operation with the catalog helpers of catalog_writer.h.
  Status RunCatalogWrite(const std::function<Status(class CatalogWriter&)>& body);
  std::vector<DroppedIndex> dropped_indexes_;
  // Foreign-key indexes inside a write operation of the caller (relationships).
  Result<ForeignKeyIndexes> AddForeignKeyIndexes(WriteState& w, const ForeignKeyIndexSpec& spec);
};

// A column for CreateTable. `size` is characters for Text (1..255), bytes for Binary
// (1..255), precision for Decimal (1..28; use `scale` for the scale); ignored otherwise.
ColumnDefinition NewColumn(std::string name, ColumnType type, uint16_t size = 0, uint8_t scale = 0);

}  // namespace tabulon::jet
