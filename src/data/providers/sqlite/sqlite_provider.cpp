#include "data/providers/sqlite/sqlite_provider.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "data/providers/file_provider.h"
#include "data/providers/sqlite/sqlite_types.h"
#include "data/schema_rowset.h"

namespace tabulon::data {
namespace {

// The open database, shared by the data source, its sessions, commands and rowsets. The
// user-interface thread and a task worker may share one session: every use of the handle
// holds `mutex`, so an error message is read before another call can replace it.
class SqliteFile {
 public:
  SqliteFile(std::string path, std::string absolute_path, sqlite3* db)
      : path_(std::move(path)), absolute_path_(std::move(absolute_path)), catalog_(SqliteCatalogName(path_)), db_(db) {}
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;
  ~SqliteFile() { sqlite3_close_v2(db_); }

  std::mutex& mutex() { return mutex_; }
  sqlite3* db() { return db_; }
  const std::string& path() const { return path_; }
  // The file as it was opened, whatever the working folder is now (to open it again).
  const std::string& absolute_path() const { return absolute_path_; }
  const std::string& catalog() const { return catalog_; }
  std::string Message() const { return sqlite3_errmsg(db_); }

 private:
  std::mutex mutex_;
  std::string path_;
  std::string absolute_path_;
  std::string catalog_;
  sqlite3* db_;
};

SqliteStorage StorageOf(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: return SqliteStorage::kInteger;
    case SQLITE_FLOAT: return SqliteStorage::kReal;
    case SQLITE_TEXT: return SqliteStorage::kText;
    case SQLITE_BLOB: return SqliteStorage::kBlob;
    default: return SqliteStorage::kNull;
  }
}

// One value of the current row as text. Blobs, and every value of a binary column, are
// hexadecimal digits, so no raw bytes reach the text of a row.
std::optional<std::string> ValueText(sqlite3_stmt* stmt, int column, DbType type) {
  const int storage = sqlite3_column_type(stmt, column);
  if (storage == SQLITE_NULL) return std::nullopt;
  if (storage == SQLITE_BLOB || type == DBTYPE_BYTES) {
    const void* bytes = sqlite3_column_blob(stmt, column);
    const int size = sqlite3_column_bytes(stmt, column);
    return HexDigits(
        std::string_view(static_cast<const char*>(bytes), bytes == nullptr ? 0 : static_cast<size_t>(size)));
  }
  if (storage == SQLITE_INTEGER) return std::to_string(sqlite3_column_int64(stmt, column));
  if (storage == SQLITE_FLOAT) return SqliteRealText(sqlite3_column_double(stmt, column));
  const unsigned char* text = sqlite3_column_text(stmt, column);
  const int size = sqlite3_column_bytes(stmt, column);
  return std::string(reinterpret_cast<const char*>(text), text == nullptr ? 0 : static_cast<size_t>(size));
}

// One value of the current row as a typed value: integers, reals, text and blobs as stored, and
// every value of a binary column as its bytes.
void ReadField(sqlite3_stmt* stmt, int column, DbType type, Field& field) {
  const int storage = sqlite3_column_type(stmt, column);
  if (storage == SQLITE_NULL) {
    field.SetNull();
  } else if (storage == SQLITE_BLOB || type == DBTYPE_BYTES) {
    const void* bytes = sqlite3_column_blob(stmt, column);
    const int size = sqlite3_column_bytes(stmt, column);
    field.SetText(Field::Kind::kBytes, std::string_view(static_cast<const char*>(bytes),
                                                        bytes == nullptr ? 0 : static_cast<size_t>(size)));
  } else if (storage == SQLITE_INTEGER) {
    field.SetInteger(sqlite3_column_int64(stmt, column));
  } else if (storage == SQLITE_FLOAT) {
    field.SetDouble(sqlite3_column_double(stmt, column));
  } else {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    const int size = sqlite3_column_bytes(stmt, column);
    field.SetText(Field::Kind::kText, std::string_view(reinterpret_cast<const char*>(text),
                                                       text == nullptr ? 0 : static_cast<size_t>(size)));
  }
}

// The rows of one statement. The first row was stepped by the command (so that a failure of
// the statement is the command's failure); later rows are stepped as they are fetched.
class SqliteRowset : public Rowset {
 public:
  // Takes `stmt`; `step` is the result of its first step (SQLITE_ROW or SQLITE_DONE).
  SqliteRowset(std::shared_ptr<SqliteFile> file, sqlite3_stmt* stmt, int step, bool typed)
      : file_(std::move(file)),
        stmt_(stmt),
        done_(step != SQLITE_ROW),
        first_pending_(step == SQLITE_ROW),
        typed_(typed) {
    const int count = sqlite3_column_count(stmt_);
    for (int k = 0; k < count; ++k) {
      ColumnInfo column;
      const char* name = sqlite3_column_name(stmt_, k);
      column.name = name != nullptr ? name : "";
      column.ordinal = static_cast<size_t>(k) + 1;
      const char* declared = sqlite3_column_decltype(stmt_, k);
      MapSqliteColumn(declared != nullptr ? declared : "", first_pending_ ? StorageOf(stmt_, k) : SqliteStorage::kNull,
                      column);
      columns_.push_back(std::move(column));
    }
  }
  SqliteRowset(const SqliteRowset&) = delete;
  SqliteRowset& operator=(const SqliteRowset&) = delete;
  ~SqliteRowset() override {
    std::lock_guard lock(file_->mutex());
    sqlite3_finalize(stmt_);
  }

  std::vector<std::string> ErrorRecords() const override { return errors_; }

  Hresult GetColumnInfo(std::vector<ColumnInfo>* columns) override {
    *columns = columns_;
    return S_OK;
  }

  bool HasTypedRows() const override { return typed_; }

  Hresult FetchNextTypedRow(std::vector<Field>& row) override {
    if (!typed_) return E_UNEXPECTED;
    std::lock_guard lock(file_->mutex());
    const Hresult stepped = Step();
    if (stepped != S_OK) return stepped;
    ReadRow(row);
    return S_OK;
  }

  // The rows of a block under one lock: taking it for every row was a good part of reading.
  Hresult FetchNextTypedRows(std::span<std::vector<Field>> rows, size_t* fetched) override {
    *fetched = 0;
    if (!typed_) return E_UNEXPECTED;
    std::lock_guard lock(file_->mutex());
    for (std::vector<Field>& row : rows) {
      const Hresult stepped = Step();
      if (stepped == DB_S_ENDOFROWSET) return *fetched > 0 ? S_OK : stepped;
      if (stepped != S_OK) return stepped;
      ReadRow(row);
      ++*fetched;
    }
    return S_OK;
  }

  Hresult FetchNextRow(RowBuffer& buffer) override {
    std::lock_guard lock(file_->mutex());
    const Hresult stepped = Step();
    if (stepped != S_OK) return stepped;
    for (size_t k = 1; k <= columns_.size() && k <= buffer.columns(); ++k) {
      std::optional<std::string> text = ValueText(stmt_, static_cast<int>(k - 1), columns_[k - 1].type);
      if (text) {
        buffer.SetValue(k, *text);
      } else {
        buffer.SetNull(k);
      }
    }
    return S_OK;
  }

  Result<std::optional<std::string>> ReadFullValue(size_t ordinal) override {
    std::lock_guard lock(file_->mutex());
    if (!has_row_) return InvalidArgumentError("no current row");
    if (ordinal < 1 || ordinal > columns_.size()) return InvalidArgumentError("column ordinal out of range");
    return ValueText(stmt_, static_cast<int>(ordinal - 1), columns_[ordinal - 1].type);
  }

 private:
  void ReadRow(std::vector<Field>& row) {
    row.resize(columns_.size());
    for (size_t k = 0; k < columns_.size(); ++k) ReadField(stmt_, static_cast<int>(k), columns_[k].type, row[k]);
  }

  // Moves to the next row (the first was stepped already): S_OK, DB_S_ENDOFROWSET or E_FAIL.
  Hresult Step() {
    has_row_ = false;
    if (first_pending_) {
      first_pending_ = false;
    } else {
      if (done_) return DB_S_ENDOFROWSET;
      const int step = sqlite3_step(stmt_);
      if (step == SQLITE_DONE) {
        done_ = true;
        return DB_S_ENDOFROWSET;
      }
      if (step != SQLITE_ROW) {
        done_ = true;
        errors_ = {file_->Message()};
        return E_FAIL;
      }
    }
    if (done_) return DB_S_ENDOFROWSET;
    has_row_ = true;
    return S_OK;
  }

  std::shared_ptr<SqliteFile> file_;
  sqlite3_stmt* stmt_;
  bool done_;
  bool first_pending_;
  bool typed_;
  bool has_row_ = false;
  std::vector<ColumnInfo> columns_;
  std::vector<std::string> errors_;
};

class SqliteCommand : public Command {
 public:
  explicit SqliteCommand(std::shared_ptr<SqliteFile> file) : file_(std::move(file)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_; }

  // Runs every statement of `sql` in turn; the rows of the last one that has columns are the
  // rowset. Earlier statements run to their end with their rows unread.
  Hresult Execute(std::string_view sql, const PropertySet& /*rowset_properties*/, const RowsetOptions& options,
                  std::unique_ptr<Rowset>* rowset) override {
    rowset->reset();
    errors_.clear();
    std::lock_guard lock(file_->mutex());
    // A query's first row is stepped at once (its failure is the statement's); it becomes the
    // rowset unless another statement follows.
    sqlite3_stmt* held = nullptr;
    int held_step = SQLITE_DONE;
    std::string_view rest = sql;
    while (!rest.empty()) {
      sqlite3_stmt* stmt = nullptr;
      const char* tail = nullptr;
      if (sqlite3_prepare_v2(file_->db(), rest.data(), static_cast<int>(rest.size()), &stmt, &tail) != SQLITE_OK) {
        sqlite3_finalize(held);
        return Fail(stmt);
      }
      if (tail == nullptr || tail <= rest.data()) {
        sqlite3_finalize(stmt);
        break;
      }
      rest.remove_prefix(static_cast<size_t>(tail - rest.data()));
      if (stmt == nullptr) continue;  // only blanks or a comment
      if (held != nullptr) {
        const int drained = Drain(held, held_step);
        held = nullptr;
        if (drained != SQLITE_DONE) {
          sqlite3_finalize(stmt);
          return DB_E_ERRORSINCOMMAND;
        }
      }
      const int step = sqlite3_step(stmt);
      if (step != SQLITE_ROW && step != SQLITE_DONE) return Fail(stmt);
      if (sqlite3_column_count(stmt) == 0) {
        if (Drain(stmt, step) != SQLITE_DONE) return DB_E_ERRORSINCOMMAND;
        continue;
      }
      held = stmt;
      held_step = step;
    }
    if (held != nullptr) *rowset = std::make_unique<SqliteRowset>(file_, held, held_step, options.typed);
    return S_OK;
  }

 private:
  Hresult Fail(sqlite3_stmt* stmt) {
    errors_ = {file_->Message()};
    sqlite3_finalize(stmt);
    return DB_E_ERRORSINCOMMAND;
  }

  // Steps `stmt` (last step `step`) to its end and finalises it; SQLITE_DONE, or the failing
  // code with the error kept.
  int Drain(sqlite3_stmt* stmt, int step) {
    while (step == SQLITE_ROW) step = sqlite3_step(stmt);
    if (step != SQLITE_DONE) errors_ = {file_->Message()};
    sqlite3_finalize(stmt);
    return step;
  }

  std::shared_ptr<SqliteFile> file_;
  std::vector<std::string> errors_;
};

// --- schema rowsets ---------------------------------------------------------------------------

// A prepared statement finalised on every way out.
struct Statement {
  sqlite3_stmt* stmt = nullptr;
  ~Statement() { sqlite3_finalize(stmt); }
};

std::optional<std::string> Column(sqlite3_stmt* stmt, int column) {
  if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return std::nullopt;
  const unsigned char* text = sqlite3_column_text(stmt, column);
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

struct CatalogObject {
  std::string name;
  std::string type;  // "TABLE" or "VIEW"
  std::optional<std::string> sql;
};

// The tables and views of the file, internal objects (sqlite_%) left out, in the order OLE DB
// sorts TABLES: by type, then by name.
Result<std::vector<CatalogObject>> ListObjects(SqliteFile& file) {
  Statement s;
  const char* sql =
      "select name, upper(type), sql from sqlite_master where type in ('table', 'view') "
      "and name not like 'sqlite\\_%' escape '\\'";
  if (sqlite3_prepare_v2(file.db(), sql, -1, &s.stmt, nullptr) != SQLITE_OK) return InternalError(file.Message());
  std::vector<CatalogObject> objects;
  int step;
  while ((step = sqlite3_step(s.stmt)) == SQLITE_ROW) {
    objects.push_back({Column(s.stmt, 0).value_or(""), Column(s.stmt, 1).value_or(""), Column(s.stmt, 2)});
  }
  if (step != SQLITE_DONE) return InternalError(file.Message());
  std::sort(objects.begin(), objects.end(), [](const CatalogObject& a, const CatalogObject& b) {
    if (a.type != b.type) return a.type < b.type;
    return AsciiLower(a.name) < AsciiLower(b.name);
  });
  return objects;
}

// SQLite has one schema of user objects, "main": a schema restriction naming another finds
// nothing, and so does a catalog restriction naming another database.
bool InThisDatabase(const SqliteFile& file, const SchemaRestrictions& restrictions) {
  const std::string* catalog = SchemaRestriction(restrictions, 0);
  const std::string* schema_name = SchemaRestriction(restrictions, 1);
  return (catalog == nullptr || EqualsIgnoreAsciiCase(*catalog, file.catalog())) &&
         (schema_name == nullptr || schema_name->empty() || EqualsIgnoreAsciiCase(*schema_name, "main"));
}

Result<std::vector<SchemaRow>> TablesRows(SqliteFile& file, const SchemaRestrictions& restrictions) {
  std::vector<SchemaRow> rows;
  if (!InThisDatabase(file, restrictions)) return rows;
  ASSIGN_OR_RETURN(std::vector<CatalogObject> objects, ListObjects(file));
  for (CatalogObject& o : objects) {
    if (!PassesRestriction(restrictions, 2, o.name) || !PassesRestriction(restrictions, 3, o.type)) continue;
    SchemaRow row(SchemaRowsetColumns(SchemaRowsetKind::kTables).size());
    row[schema::kTableCatalog - 1] = file.catalog();
    row[schema::kTableName - 1] = std::move(o.name);
    row[schema::kTableType - 1] = std::move(o.type);
    rows.push_back(std::move(row));
  }
  return rows;
}

Result<std::vector<SchemaRow>> ColumnsRows(SqliteFile& file, const SchemaRestrictions& restrictions) {
  std::vector<SchemaRow> rows;
  if (!InThisDatabase(file, restrictions)) return rows;
  ASSIGN_OR_RETURN(std::vector<CatalogObject> objects, ListObjects(file));
  const size_t width = SchemaRowsetColumns(SchemaRowsetKind::kColumns).size();
  for (const CatalogObject& o : objects) {
    if (!PassesRestriction(restrictions, 2, o.name)) continue;
    Statement s;
    // Hidden columns of virtual tables (hidden = 1) are not columns a SELECT * shows.
    const char* sql = "select name, type, \"notnull\", dflt_value, pk from pragma_table_xinfo(?1) where hidden <> 1";
    if (sqlite3_prepare_v2(file.db(), sql, -1, &s.stmt, nullptr) != SQLITE_OK) return InternalError(file.Message());
    sqlite3_bind_text(s.stmt, 1, o.name.data(), static_cast<int>(o.name.size()), SQLITE_TRANSIENT);
    int step;
    size_t ordinal = 0;
    while ((step = sqlite3_step(s.stmt)) == SQLITE_ROW) {
      ++ordinal;
      std::optional<std::string> name = Column(s.stmt, 0);
      if (!PassesRestriction(restrictions, 3, name)) continue;
      ColumnInfo info;
      MapSqliteColumn(Column(s.stmt, 1).value_or(""), SqliteStorage::kNull, info);
      const bool not_null = sqlite3_column_int(s.stmt, 2) != 0 || sqlite3_column_int(s.stmt, 4) != 0;
      if (not_null) info.flags &= ~(DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL);
      std::optional<std::string> default_value = Column(s.stmt, 3);
      SchemaRow row(width);
      row[schema::kTableCatalog - 1] = file.catalog();
      row[schema::kTableName - 1] = o.name;
      row[schema::kColumnName - 1] = std::move(name);
      row[schema::kOrdinalPosition - 1] = std::to_string(ordinal);
      row[schema::kColumnHasDefault - 1] = std::string(BoolText(default_value.has_value()));
      row[schema::kColumnDefault - 1] = std::move(default_value);
      row[schema::kColumnFlags - 1] = std::to_string(info.flags);
      row[schema::kIsNullable - 1] = std::string(BoolText(!not_null));
      row[schema::kDataType - 1] = std::to_string(info.type);
      if (info.type == DBTYPE_WSTR || info.type == DBTYPE_BYTES) {
        // OLE DB reports an unlimited length as 0.
        const size_t size = info.size == kSqliteLongColumnSize ? 0 : info.size;
        row[schema::kCharacterMaximumLength - 1] = std::to_string(size);
        row[schema::kCharacterOctetLength - 1] = std::to_string(info.type == DBTYPE_WSTR ? size * 2 : size);
      }
      if (info.precision != kNotApplicable) row[schema::kNumericPrecision - 1] = std::to_string(info.precision);
      if (info.type == DBTYPE_NUMERIC) row[schema::kNumericScale - 1] = std::to_string(info.scale);
      rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE) return InternalError(file.Message());
  }
  return rows;
}

Result<std::vector<SchemaRow>> ViewsRows(SqliteFile& file, const SchemaRestrictions& restrictions) {
  std::vector<SchemaRow> rows;
  if (!InThisDatabase(file, restrictions)) return rows;
  ASSIGN_OR_RETURN(std::vector<CatalogObject> objects, ListObjects(file));
  for (CatalogObject& o : objects) {
    if (o.type != "VIEW" || !PassesRestriction(restrictions, 2, o.name)) continue;
    SchemaRow row(SchemaRowsetColumns(SchemaRowsetKind::kViews).size());
    row[schema::kTableCatalog - 1] = file.catalog();
    row[schema::kTableName - 1] = std::move(o.name);
    row[schema::kViewDefinition - 1] = std::move(o.sql);
    rows.push_back(std::move(row));
  }
  return rows;
}

// One row per key column of each index, under the names SQLite gives them: the index SQLite
// makes for a PRIMARY KEY or UNIQUE constraint is listed as "sqlite_autoindex_<table>_<n>"
// (PRIMARY_KEY True for the primary key's). An INTEGER PRIMARY KEY is the rowid and has none.
// A key column that is an expression has a NULL COLUMN_NAME.
Result<std::vector<SchemaRow>> IndexesRows(SqliteFile& file, const SchemaRestrictions& restrictions) {
  std::vector<SchemaRow> rows;
  if (!InThisDatabase(file, restrictions) || !PassesRestriction(restrictions, 3, std::string("1"))) return rows;
  ASSIGN_OR_RETURN(std::vector<CatalogObject> objects, ListObjects(file));
  for (const CatalogObject& o : objects) {
    if (o.type != "TABLE" || !PassesRestriction(restrictions, 4, o.name)) continue;
    Statement s;
    const char* sql =
        "select il.name, il.\"unique\", il.origin = 'pk', ii.seqno + 1, ii.name "
        "from pragma_index_list(?1) il join pragma_index_info(il.name) ii order by il.name, ii.seqno";
    if (sqlite3_prepare_v2(file.db(), sql, -1, &s.stmt, nullptr) != SQLITE_OK) return InternalError(file.Message());
    sqlite3_bind_text(s.stmt, 1, o.name.data(), static_cast<int>(o.name.size()), SQLITE_TRANSIENT);
    int step;
    while ((step = sqlite3_step(s.stmt)) == SQLITE_ROW) {
      std::optional<std::string> index = Column(s.stmt, 0);
      if (!PassesRestriction(restrictions, 2, index)) continue;
      SchemaRow row =
          IndexRow(o.name, index.value_or(""), sqlite3_column_int(s.stmt, 2) != 0, sqlite3_column_int(s.stmt, 1) != 0,
                   static_cast<size_t>(sqlite3_column_int(s.stmt, 3)), {});
      row[schema::kTableCatalog - 1] = file.catalog();
      row[schema::kIndexColumnName - 1] = Column(s.stmt, 4);
      rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE) return InternalError(file.Message());
  }
  SortIndexRows(rows);
  return rows;
}

// Opens the SQLite database at `path` (`open_path`: where it is now) for reading; the error says
// why not, naming the path.
Result<std::shared_ptr<SqliteFile>> OpenSqliteFile(const std::string& path, std::string open_path) {
  // A relative path gets "./" so that a name starting with "file:" is never read as a URI.
  if (open_path.front() != '/') {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(open_path, error);
    open_path = error ? "./" + open_path : absolute.string();
  }
  sqlite3* db = nullptr;
  // Every use of the handle holds the file's own mutex (see SqliteFile): SQLite's would be a
  // second lock around every value read.
  const int opened = sqlite3_open_v2(open_path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (opened != SQLITE_OK) {
    std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(opened);
    sqlite3_close_v2(db);
    return IoError("Cannot open '" + path + "': " + message + ".");
  }
  auto file = std::make_shared<SqliteFile>(path, open_path, db);
  // Another program may be writing the file: wait for its lock a while before failing.
  sqlite3_busy_timeout(db, 5000);
  // Opening reads nothing yet; reading the schema tells a database from any other file.
  const int probe = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
  if (probe == SQLITE_NOTADB) return IoError("'" + path + "' is not a SQLite database file.");
  if (probe != SQLITE_OK) return IoError("Cannot open '" + path + "': " + file->Message() + ".");
  return file;
}

class SqliteSession : public Session {
 public:
  explicit SqliteSession(std::shared_ptr<SqliteFile> file) : file_(std::move(file)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_; }

  Hresult CreateCommand(std::unique_ptr<Command>* command) override {
    *command = std::make_unique<SqliteCommand>(file_);
    return S_OK;
  }

  Hresult OpenSeparateSession(std::unique_ptr<Session>* session) override {
    session->reset();
    Result<std::shared_ptr<SqliteFile>> file = OpenSqliteFile(file_->path(), file_->absolute_path());
    if (!file.ok()) {
      errors_ = {file.status().message()};
      return E_FAIL;
    }
    *session = std::make_unique<SqliteSession>(std::move(*file));
    return S_OK;
  }

  Hresult OpenSchemaRowset(SchemaRowsetKind kind, const SchemaRestrictions& restrictions,
                           std::unique_ptr<Rowset>* rowset) override {
    rowset->reset();
    Result<std::vector<SchemaRow>> rows = [&]() -> Result<std::vector<SchemaRow>> {
      std::lock_guard lock(file_->mutex());
      switch (kind) {
        case SchemaRowsetKind::kCatalogs: {
          std::vector<SchemaRow> catalogs;
          if (PassesRestriction(restrictions, 0, file_->catalog()))
            catalogs.push_back({file_->catalog(), std::nullopt});
          return catalogs;
        }
        case SchemaRowsetKind::kTables: return TablesRows(*file_, restrictions);
        case SchemaRowsetKind::kColumns: return ColumnsRows(*file_, restrictions);
        case SchemaRowsetKind::kViews: return ViewsRows(*file_, restrictions);
        case SchemaRowsetKind::kIndexes: return IndexesRows(*file_, restrictions);
      }
      return InvalidArgumentError("unknown schema rowset");
    }();
    return AnswerSchemaRowset(kind, std::move(rows), &errors_, rowset);
  }

 private:
  std::shared_ptr<SqliteFile> file_;
  std::vector<std::string> errors_;
};

class SqliteDataSource : public DataSource {
 public:
  explicit SqliteDataSource(std::shared_ptr<SqliteFile> file) : file_(std::move(file)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_; }

  Hresult CreateSession(std::unique_ptr<Session>* session) override {
    *session = std::make_unique<SqliteSession>(file_);
    return S_OK;
  }

  Hresult GetInfo(const Guid& set_id, PropertyId id, std::string* text) override {
    return AnswerSourceInfo({file_->catalog(), kSqliteDbmsName, sqlite3_libversion(), file_->path(), "SQLite"}, set_id,
                            id, text, &errors_);
  }

 private:
  std::shared_ptr<SqliteFile> file_;
  std::vector<std::string> errors_;
};

}  // namespace

OpenedDataSource SqliteProvider::OpenDataSource(std::span<const PropertySet> sets) {
  const std::string path = DataSourcePath(sets);
  if (std::optional<OpenedDataSource> refused = CheckDatabaseFile(path)) return std::move(*refused);
  Result<std::shared_ptr<SqliteFile>> file = OpenSqliteFile(path, path);
  if (!file.ok()) return OpenFailure(E_FAIL, file.status().message());
  OpenedDataSource out;
  out.code = S_OK;
  out.data_source = std::make_unique<SqliteDataSource>(std::move(*file));
  return out;
}

}  // namespace tabulon::data
