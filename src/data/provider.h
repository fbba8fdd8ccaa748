// The driver interface: the five capabilities every database provider offers to the rest of the
// program (open a data source from properties, open a session, execute statement text, describe
// the result's columns, fetch rows as text with a NULL status). Providers map their own metadata
// onto OLE DB type codes and column flags so callers decide formatting in one way.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "data/field.h"
#include "data/hresult.h"
#include "data/properties.h"
#include "data/row_buffer.h"

namespace tabulon::data {

// OLE DB type codes (DBTYPE_*).
using DbType = std::uint16_t;
inline constexpr DbType DBTYPE_EMPTY = 0;
inline constexpr DbType DBTYPE_I2 = 2;
inline constexpr DbType DBTYPE_I4 = 3;
inline constexpr DbType DBTYPE_R4 = 4;
inline constexpr DbType DBTYPE_R8 = 5;
inline constexpr DbType DBTYPE_CY = 6;
inline constexpr DbType DBTYPE_DATE = 7;
inline constexpr DbType DBTYPE_BSTR = 8;
inline constexpr DbType DBTYPE_BOOL = 11;
inline constexpr DbType DBTYPE_VARIANT = 12;
inline constexpr DbType DBTYPE_DECIMAL = 14;
inline constexpr DbType DBTYPE_I1 = 16;
inline constexpr DbType DBTYPE_UI1 = 17;
inline constexpr DbType DBTYPE_UI2 = 18;
inline constexpr DbType DBTYPE_UI4 = 19;
inline constexpr DbType DBTYPE_I8 = 20;
inline constexpr DbType DBTYPE_UI8 = 21;
inline constexpr DbType DBTYPE_GUID = 72;
inline constexpr DbType DBTYPE_BYTES = 128;
inline constexpr DbType DBTYPE_STR = 129;
inline constexpr DbType DBTYPE_WSTR = 130;
inline constexpr DbType DBTYPE_NUMERIC = 131;
inline constexpr DbType DBTYPE_DBDATE = 133;
inline constexpr DbType DBTYPE_DBTIME = 134;
inline constexpr DbType DBTYPE_DBTIMESTAMP = 135;

// Column flags (DBCOLUMNFLAGS_*).
inline constexpr std::uint32_t DBCOLUMNFLAGS_ISBOOKMARK = 0x1;
inline constexpr std::uint32_t DBCOLUMNFLAGS_MAYDEFER = 0x2;
inline constexpr std::uint32_t DBCOLUMNFLAGS_WRITE = 0x4;
inline constexpr std::uint32_t DBCOLUMNFLAGS_WRITEUNKNOWN = 0x8;
inline constexpr std::uint32_t DBCOLUMNFLAGS_ISFIXEDLENGTH = 0x10;
inline constexpr std::uint32_t DBCOLUMNFLAGS_ISNULLABLE = 0x20;
inline constexpr std::uint32_t DBCOLUMNFLAGS_MAYBENULL = 0x40;
inline constexpr std::uint32_t DBCOLUMNFLAGS_ISLONG = 0x80;
inline constexpr std::uint32_t DBCOLUMNFLAGS_ISROWID = 0x100;
inline constexpr std::uint32_t DBCOLUMNFLAGS_ISROWVER = 0x200;

// Precision or scale that does not apply to a type (OLE DB's ~0 in a byte).
inline constexpr std::uint8_t kNotApplicable = 255;

struct ColumnInfo {
  std::string name;    // may be empty (an unnamed expression)
  size_t ordinal = 0;  // 1-based; 0 only for a bookmark column
  DbType type = DBTYPE_STR;
  std::uint32_t flags = 0;
  size_t size = 0;  // characters for text, bytes for binary and fixed-size types
  std::uint8_t precision = kNotApplicable;
  std::uint8_t scale = kNotApplicable;
};

// How a statement's rows are to be read.
struct RowsetOptions {
  // Read every value whole as well (see ReadFullValue): fetches one row at a time and keeps the
  // whole values of the current row only. Off: rows may be fetched in blocks.
  bool full_values = false;
  // Hand the rows out as typed values (Rowset::FetchNextTypedRow) where the provider can; a
  // provider that cannot ignores this, and its rowset says so (HasTypedRows false).
  bool typed = false;
};

// An object that can say why its last call failed: the provider's diagnostic records, first
// first. Only the text of each record is kept.
class ErrorSource {
 public:
  virtual ~ErrorSource() = default;
  virtual std::vector<std::string> ErrorRecords() const = 0;
};

class Rowset : public ErrorSource {
 public:
  virtual Hresult GetColumnInfo(std::vector<ColumnInfo>* columns) = 0;
  // Fetches the next row into `buffer` (sized for the columns): S_OK, DB_S_ENDOFROWSET at the
  // end, or a failure.
  virtual Hresult FetchNextRow(RowBuffer& buffer) = 0;
  // The whole value of column `ordinal` of the current row, nullopt for NULL. Needs a rowset
  // opened with RowsetOptions::full_values.
  virtual Result<std::optional<std::string>> ReadFullValue(size_t ordinal) = 0;
  // Whether FetchNextTypedRow gives the rows (opened with RowsetOptions::typed by a provider
  // that has typed rows); such a rowset is read with it alone.
  virtual bool HasTypedRows() const { return false; }
  // Fetches the next row as one typed value per column (bookmark left out), long values whole:
  // S_OK, DB_S_ENDOFROWSET at the end, or a failure.
  virtual Hresult FetchNextTypedRow(std::vector<Field>& /*row*/) { return E_NOTIMPL; }
  // Up to rows.size() next rows at once, each as FetchNextTypedRow gives it: S_OK with
  // *fetched rows (fewer only at the end of the rows), DB_S_ENDOFROWSET with none, or the
  // failure of the row after the *fetched good ones.
  virtual Hresult FetchNextTypedRows(std::span<std::vector<Field>> rows, size_t* fetched) {
    *fetched = 0;
    for (std::vector<Field>& row : rows) {
      const Hresult code = FetchNextTypedRow(row);
      if (code == DB_S_ENDOFROWSET) return *fetched > 0 ? S_OK : code;
      if (code != S_OK) return code;
      ++*fetched;
    }
    return S_OK;
  }
};

// A row a RowPreparer has worked on; what it holds is the provider's own.
class PreparedRow {
 public:
  virtual ~PreparedRow() = default;
};

// The part of appending a row that needs nothing of the target's state (values converted to
// the columns' types, the record built), done ahead on a thread of the caller's, so that the
// writing thread only stores. Used by one thread at a time; it may run while its loader
// appends other rows.
class RowPreparer {
 public:
  virtual ~RowPreparer() = default;
  // Works on `row` (one value per column), into `*prepared` (made when null, else reused; it
  // must come from this preparer). Never fails: whatever it cannot do is left to the append.
  virtual void PrepareRow(std::span<const Field> row, std::unique_ptr<PreparedRow>* prepared) = 0;
};

// Appends rows of typed values to one table, in the spirit of a fast-load rowset: each row is
// checked and stored on its own (a refused row leaves no trace and the load goes on), and
// Commit makes the rows so far durable.
class RowLoader : public ErrorSource {
 public:
  // One value per column of the table, in the table's column order: S_OK, or a failure for this
  // row alone, with ErrorRecords saying why.
  virtual Hresult AppendRow(std::span<const Field> row) = 0;
  // A preparer for this loader's rows, or null when the loader has none (rows then go through
  // AppendRow alone).
  virtual std::unique_ptr<RowPreparer> OpenPreparer() { return nullptr; }
  // AppendRow of `row` as `prepared` (from this loader's preparer) has it ready: the same
  // outcome, the same checks, less work on this thread.
  virtual Hresult AppendPreparedRow(std::span<const Field> row, const PreparedRow& /*prepared*/) {
    return AppendRow(row);
  }
  // What the last AppendRow has to tell the user beyond its outcome (as Command::Notices).
  virtual std::vector<std::string> Notices() const { return {}; }
  // Makes the appended rows durable; a failure names what could not be stored.
  virtual Hresult Commit() = 0;
};

class Command : public ErrorSource {
 public:
  // Runs `sql`. `rowset` receives the result rows when the statement produced any (it must be
  // released before the command); otherwise it stays null. S_OK is clean success; a positive
  // code (DB_S_ERRORSOCCURRED) is success with warnings.
  virtual Hresult Execute(std::string_view sql, const PropertySet& rowset_properties, const RowsetOptions& options,
                          std::unique_ptr<Rowset>* rowset) = 0;
  // What the last Execute has to tell the user beyond its outcome (something the database
  // gave up to store the statement, such as an index it removed), one text a line.
  virtual std::vector<std::string> Notices() const { return {}; }
};

// The catalogue rowsets a session can open (DBSCHEMA_CATALOGS, _TABLES, _COLUMNS, _VIEWS,
// _INDEXES); their columns are in data/schema_rowset.h.
enum class SchemaRowsetKind { kCatalogs, kTables, kColumns, kViews, kIndexes };
// Restriction values in OLE DB order, nullopt (or absent) for none. CATALOGS: CATALOG_NAME;
// TABLES: TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE; COLUMNS: TABLE_CATALOG,
// TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME; VIEWS: TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME;
// INDEXES: TABLE_CATALOG, TABLE_SCHEMA, INDEX_NAME, TYPE, TABLE_NAME (the table comes last).
using SchemaRestrictions = std::vector<std::optional<std::string>>;

class Session : public ErrorSource {
 public:
  virtual Hresult CreateCommand(std::unique_ptr<Command>* command) = 0;
  // A session on a connection of its own to the same database, for reading on another thread
  // beside this one; E_NOTIMPL where the provider has none.
  virtual Hresult OpenSeparateSession(std::unique_ptr<Session>* /*session*/) { return E_NOTIMPL; }
  // Makes the session's changes durable now. Statements are committed as they run, except
  // that a provider may hold a batch of inserts back (the Jet provider does); closing the
  // session commits as well, but only this call reports a failure.
  virtual Hresult Commit() { return S_OK; }
  // A loader for typed rows into `table`, for providers that have one; others answer E_NOTIMPL
  // and are written with INSERT statements. The loader must be released before the session.
  virtual Hresult OpenRowLoader(std::string_view /*table*/, std::unique_ptr<RowLoader>* /*loader*/) {
    return E_NOTIMPL;
  }
  // Opens a schema rowset; providers that have none answer E_NOTIMPL.
  virtual Hresult OpenSchemaRowset(SchemaRowsetKind /*kind*/, const SchemaRestrictions& /*restrictions*/,
                                   std::unique_ptr<Rowset>* /*rowset*/) {
    return E_NOTIMPL;
  }
};

class DataSource : public ErrorSource {
 public:
  virtual Hresult CreateSession(std::unique_ptr<Session>* session) = 0;
  // A DBPROPSET_DATASOURCEINFO or DBPROPSET_DATASOURCE property as text (DBPROP_DBMSNAME,
  // DBPROP_DBMSVER, DBPROP_DATASOURCENAME, DBPROP_CURRENTCATALOG).
  virtual Hresult GetInfo(const Guid& set_id, PropertyId id, std::string* text) = 0;
};

// What opening a data source gives: the data source, or the code and the provider's records.
struct OpenedDataSource {
  Hresult code = E_FAIL;
  std::unique_ptr<DataSource> data_source;
  std::vector<std::string> errors;
};

class Provider {
 public:
  virtual ~Provider() = default;
  virtual OpenedDataSource OpenDataSource(std::span<const PropertySet> sets) = 0;
};

}  // namespace tabulon::data
