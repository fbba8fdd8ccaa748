#include "data/providers/jet/jet_provider.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/text.h"
#include "data/providers/file_provider.h"
#include "data/providers/jet/jet_fields.h"
#include "data/providers/jet/jet_columns.h"
#include "data/schema_rowset.h"
#include "jet/database.h"
#include "jet/row_encoder.h"
#include "jetsql/executor.h"

namespace tabulon::data {
namespace {

using Clock = std::chrono::steady_clock;

// A row of typed values made ready for a table ahead of its insert: its values converted (or why
// one cannot be), its record encoded when that needs nothing of the file, and its bytes for the
// batch's replay.
struct JetPreparedRow : PreparedRow {
  uint64_t generation = 0;  // of the table definitions it was made with (JetFile::generation)
  Status converted;         // the row's answer when a value does not convert
  jet::Row values;
  bool encoded_ready = false;
  std::string encoded;
  std::string replay;  // AppendRowBytes of values
};

// Long values are placed on pages of the file: a row with one is encoded on the writing side.
class NoLongValues : public jet::LongValueSink {
 public:
  Result<std::string> Store(const jet::ColumnDefinition& column, std::string_view /*data*/) override {
    return UnsupportedError("column '" + column.name + "': a long value is stored by the writing side");
  }
};

// A row's fields as values of the table's columns (the storage of `values` reused), the same
// on the preparing and on the writing side.
Status ConvertRow(const jet::TableDefinition& definition, std::span<const Field> fields, jet::Row& values) {
  const auto& columns = definition.columns;
  if (fields.size() != columns.size()) {
    return InvalidArgumentError("table '" + definition.name + "' has " + std::to_string(columns.size()) +
                                " columns but " + std::to_string(fields.size()) + " values were given");
  }
  values.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) RETURN_IF_ERROR(ConvertFieldInto(fields[i], columns[i], values[i]));
  return Status::Ok();
}

// Works on rows with a copy of the table's definition, apart from the file.
class JetRowPreparer : public RowPreparer {
 public:
  JetRowPreparer(const jet::TableDefinition& definition, uint64_t generation)
      : definition_(definition), encoder_(definition_), generation_(generation) {}
  JetRowPreparer(const JetRowPreparer&) = delete;  // the encoder refers to definition_
  JetRowPreparer& operator=(const JetRowPreparer&) = delete;

  void PrepareRow(std::span<const Field> row, std::unique_ptr<PreparedRow>* prepared) override {
    if (*prepared == nullptr) *prepared = std::make_unique<JetPreparedRow>();
    auto& p = static_cast<JetPreparedRow&>(**prepared);
    p.generation = generation_;
    p.encoded_ready = false;
    p.converted = ConvertRow(definition_, row, p.values);
    if (!p.converted.ok()) return;
    // A row the encoder refuses is encoded again on the writing side, whose checks come first.
    p.encoded_ready = encoder_.Encode(p.values, long_values_, p.encoded).ok();
    p.replay.clear();
    AppendRowBytes(p.values, p.replay);
  }

 private:
  jet::TableDefinition definition_;
  jet::RowEncoder encoder_;
  NoLongValues long_values_;
  uint64_t generation_;
};


// The open file, shared by the data source, its sessions and their commands. Every use of the
// engine holds `mutex`: the user-interface thread and a task worker may share one session.
class JetFile {
 public:
  JetFile(std::string path, std::unique_ptr<jet::Database> db, JetBatchPolicy policy)
      : path_(std::move(path)), db_(std::move(db)), sql_(*db_), policy_(policy) {}
  JetFile(const JetFile&) = delete;
  JetFile& operator=(const JetFile&) = delete;
  ~JetFile() {
    std::lock_guard lock(mutex_);
    (void)EndBatch();
  }

  std::mutex& mutex() { return mutex_; }
  const std::string& path() const { return path_; }
  jet::Database& db() { return *db_; }

  // Runs one statement; INSERTs join the batch, anything else commits it first.
  Result<jetsql::StatementResult> Run(std::string_view sql) {
    if (!read_only_ && IsInsert(sql)) return RunInsert(sql);
    loaded_definition_ = nullptr;  // the statement may change or drop tables
    ++generation_;
    RETURN_IF_ERROR(EndBatch());
    return sql_.Execute(sql);
  }

  // Stores a row of typed values in `table` as an INSERT of their literals would, in the batch.
  Status InsertFields(std::string_view table, std::span<const Field> fields) {
    ASSIGN_OR_RETURN(const jet::TableDefinition* definition, LoadDefinition(table));
    RETURN_IF_ERROR(ConvertRow(*definition, fields, loaded_row_));
    RETURN_IF_ERROR(StartBatch());
    if (Status inserted = sql_.InsertRow(*definition, loaded_row_); !inserted.ok()) return UndoneInsert(inserted);
    AddTypedRowToBatch(definition->name);
    AppendRowBytes(loaded_row_, batch_rows_);
    return CheckBatchSize();
  }

  // InsertFields of `fields`, made ready as `prepared` (by a preparer of this table); rows
  // prepared before a statement that may have changed tables are made again from `fields`.
  Status InsertPrepared(std::string_view table, std::span<const Field> fields, const JetPreparedRow& prepared) {
    if (prepared.generation != generation_) return InsertFields(table, fields);
    ASSIGN_OR_RETURN(const jet::TableDefinition* definition, LoadDefinition(table));
    RETURN_IF_ERROR(prepared.converted);
    RETURN_IF_ERROR(StartBatch());
    const Status inserted = prepared.encoded_ready ? sql_.InsertRow(*definition, prepared.values, prepared.encoded)
                                                   : sql_.InsertRow(*definition, prepared.values);
    if (!inserted.ok()) return UndoneInsert(inserted);
    AddTypedRowToBatch(definition->name);
    batch_rows_ += prepared.replay;
    return CheckBatchSize();
  }

  // A preparer for rows of `table`, with a copy of its definition as it stands.
  Result<std::unique_ptr<RowPreparer>> OpenPreparer(std::string_view table) {
    ASSIGN_OR_RETURN(const jet::TableDefinition* definition, LoadDefinition(table));
    return std::unique_ptr<RowPreparer>(std::make_unique<JetRowPreparer>(*definition, generation_));
  }

  // Commits the batch (a no-op outside one). On failure the batch's inserts are made again
  // one transaction each; the error names what could not be stored.
  Status EndBatch() {
    if (!db_->in_batch()) return Status::Ok();
    Status committed = db_->CommitBatch();
    if (committed.ok()) {
      batch_text_.clear();
      batch_ends_.clear();
      batch_rows_.clear();
      batch_tables_.clear();
      return committed;
    }
    return Replay(committed);
  }

  void set_read_only(bool read_only) { read_only_ = read_only; }

  Status FindTable(std::string_view table) {
    if (read_only_) return InvalidArgumentError("the database '" + path_ + "' is open for reading only");
    return sql_.FindTable(table).status();
  }

  // The indexes the engine removed since the last call (a key it could not sort exactly), as
  // lines for the user: the migrated index is gone and nobody else would say so.
  std::vector<std::string> TakeNotices() {
    std::vector<std::string> notices;
    for (const jet::DroppedIndex& dropped : db_->TakeDroppedIndexes()) {
      notices.push_back("Index [" + dropped.index + "] of table [" + dropped.table +
                        "] was dropped: a key holds a character the index sort order cannot hold (" + dropped.reason +
                        "); the rows were kept");
    }
    return notices;
  }

 private:
  static bool IsInsert(std::string_view sql) {
    size_t i = 0;
    while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n')) ++i;
    return sql.size() - i > 6 && EqualsIgnoreAsciiCase(sql.substr(i, 6), "insert") &&
           (sql[i + 6] == ' ' || sql[i + 6] == '\t' || sql[i + 6] == '\r' || sql[i + 6] == '\n');
  }

  // The definition is looked up again only after another table or a statement that may have
  // changed tables.
  Result<const jet::TableDefinition*> LoadDefinition(std::string_view table) {
    if (loaded_definition_ == nullptr || loaded_table_ != table) {
      ASSIGN_OR_RETURN(loaded_definition_, sql_.FindTable(table));
      loaded_table_.assign(table);
    }
    return loaded_definition_;
  }

  // A typed row's place in the batch's order; its bytes follow in batch_rows_.
  void AddTypedRowToBatch(const std::string& table) {
    if (batch_tables_.empty() || batch_tables_.back() != table) batch_tables_.push_back(table);
    const auto table_number = static_cast<uint32_t>(batch_tables_.size() - 1);
    batch_rows_.append(reinterpret_cast<const char*>(&table_number), sizeof table_number);
    batch_ends_.push_back(kTypedRow);
  }

  Status StartBatch() {
    if (db_->in_batch()) return Status::Ok();
    RETURN_IF_ERROR(db_->BeginBatch());
    batch_started_ = Clock::now();
    return Status::Ok();
  }

  // A refused insert: when its failure undid the batch's earlier inserts, they are put back.
  Status UndoneInsert(const Status& refused) {
    if (db_->batch_pending() == 0 && !batch_ends_.empty()) {
      Status replayed = Replay(refused);
      if (!replayed.ok()) return replayed;
    }
    return refused;
  }

  Status CheckBatchSize() {
    // The clock is read every 64 inserts only; it bounds the loss of a crash.
    if (batch_ends_.size() >= policy_.max_rows ||
        (batch_ends_.size() % 64 == 0 && Clock::now() - batch_started_ >= policy_.max_age)) {
      return EndBatch();
    }
    return Status::Ok();
  }

  Result<jetsql::StatementResult> RunInsert(std::string_view sql) {
    RETURN_IF_ERROR(StartBatch());
    Result<jetsql::StatementResult> result = sql_.Execute(sql);
    if (!result.ok()) return UndoneInsert(result.status());
    batch_text_.append(sql);
    batch_ends_.push_back(batch_text_.size());
    RETURN_IF_ERROR(CheckBatchSize());
    return result;
  }

  // Makes the inserts of an undone batch again, one transaction each, so that only those that
  // cannot be stored are lost.
  Status Replay(const Status& cause) {
    std::string text;
    std::vector<size_t> ends;
    std::string rows;
    std::vector<std::string> tables;
    text.swap(batch_text_);
    ends.swap(batch_ends_);
    rows.swap(batch_rows_);
    tables.swap(batch_tables_);
    (void)db_->CommitBatch();  // ends the (already undone) batch
    size_t refused = 0;
    std::string first;
    size_t begin = 0;
    size_t next_row = 0;  // where the next typed row begins in `rows`
    for (const size_t end : ends) {
      if (end == kTypedRow) {
        uint32_t table_number = 0;
        std::memcpy(&table_number, rows.data() + next_row, sizeof table_number);
        next_row += sizeof table_number;
        const jet::Row row = ReadRowBytes(rows, next_row);
        const std::string& table = tables[table_number];
        Result<const jet::TableDefinition*> definition = sql_.FindTable(table);
        Status again = definition.ok() ? sql_.InsertRow(**definition, row) : definition.status();
        if (!again.ok() && refused++ == 0) first = "a row of table '" + table + "': " + again.message();
        continue;
      }
      const std::string_view statement = std::string_view(text).substr(begin, end - begin);
      begin = end;
      Result<jetsql::StatementResult> again = sql_.Execute(statement);
      if (!again.ok() && refused++ == 0) first = std::string(statement) + ": " + again.status().message();
    }
    if (refused == 0) return Status::Ok();
    return Status(cause.code(), cause.message() + "; the " + std::to_string(ends.size()) +
                                    " inserts of the batch were stored again one by one and " +
                                    std::to_string(refused) + " of them failed, the first: " + first);
  }

  std::mutex mutex_;
  std::string path_;
  std::unique_ptr<jet::Database> db_;
  jetsql::Session sql_;
  JetBatchPolicy policy_;
  bool read_only_ = false;
  // The uncommitted inserts in order, kept to store them again: for a statement where its text
  // ends in `batch_text_` (the statements one after another), for a row of typed values
  // kTypedRow, the row being the next of `batch_rows_` (with its table's place in
  // `batch_tables_`).
  static constexpr size_t kTypedRow = static_cast<size_t>(-1);
  std::string batch_text_;
  std::vector<size_t> batch_ends_;
  std::string batch_rows_;  // each: the table's place in batch_tables_, then AppendRowBytes
  std::vector<std::string> batch_tables_;
  // The table typed rows went into last, its definition, and a row reused for each insert.
  std::string loaded_table_;
  const jet::TableDefinition* loaded_definition_ = nullptr;
  jet::Row loaded_row_;
  // Counts the statements that may have changed tables: a prepared row knows what it was made with.
  uint64_t generation_ = 0;
  Clock::time_point batch_started_;
};

// The rows of a query, formatted as text one row at a time.
class JetResultRowset : public Rowset {
 public:
  JetResultRowset(jetsql::StatementResult result, bool bookmark) : result_(std::move(result)), bookmark_(bookmark) {}

  std::vector<std::string> ErrorRecords() const override { return {}; }

  Hresult GetColumnInfo(std::vector<ColumnInfo>* columns) override {
    columns->clear();
    if (bookmark_) columns->push_back(JetBookmarkColumn());
    for (size_t k = 0; k < result_.columns.size(); ++k) {
      columns->push_back(JetColumnInfo(result_.columns[k], k + 1));
    }
    return S_OK;
  }

  Hresult FetchNextRow(RowBuffer& buffer) override {
    if (next_ >= result_.rows.size()) return DB_S_ENDOFROWSET;
    const jet::Row& row = result_.rows[next_++];
    for (size_t k = 1; k <= row.size() && k <= buffer.columns(); ++k) {
      std::optional<std::string> text = JetValueText(row[k - 1]);
      if (text) {
        buffer.SetValue(k, *text);
      } else {
        buffer.SetNull(k);
      }
    }
    return S_OK;
  }

  Result<std::optional<std::string>> ReadFullValue(size_t ordinal) override {
    if (next_ == 0 || next_ > result_.rows.size()) return InvalidArgumentError("no current row");
    const jet::Row& row = result_.rows[next_ - 1];
    if (ordinal < 1 || ordinal > row.size()) return InvalidArgumentError("column ordinal out of range");
    return JetValueText(row[ordinal - 1]);
  }

 private:
  jetsql::StatementResult result_;
  bool bookmark_;
  size_t next_ = 0;
};

class JetCommand : public Command {
 public:
  explicit JetCommand(std::shared_ptr<JetFile> file) : file_(std::move(file)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_; }
  std::vector<std::string> Notices() const override { return notices_; }

  Hresult Execute(std::string_view sql, const PropertySet& rowset_properties, const RowsetOptions& /*options*/,
                  std::unique_ptr<Rowset>* rowset) override {
    rowset->reset();
    Result<jetsql::StatementResult> result = [&] {
      std::lock_guard lock(file_->mutex());
      Result<jetsql::StatementResult> run = file_->Run(sql);
      notices_ = file_->TakeNotices();
      return run;
    }();
    if (!result.ok()) {
      errors_ = {result.status().message()};
      return DB_E_ERRORSINCOMMAND;
    }
    errors_.clear();
    if (result->has_rows) {
      // Rowsets opened for change carry a bookmark column, as Jet's do.
      const Property* change = rowset_properties.Find(DBPROP_IRowsetChange);
      const Property* bookmarks = rowset_properties.Find(DBPROP_BOOKMARKS);
      const bool bookmark =
          (change != nullptr && change->value.AsBool()) || (bookmarks != nullptr && bookmarks->value.AsBool());
      *rowset = std::make_unique<JetResultRowset>(std::move(*result), bookmark);
    }
    return S_OK;
  }

 private:
  std::shared_ptr<JetFile> file_;
  std::vector<std::string> errors_;
  std::vector<std::string> notices_;
};

// Rows of typed values into one table, through the file's batch.
class JetRowLoader : public RowLoader {
 public:
  JetRowLoader(std::shared_ptr<JetFile> file, std::string table) : file_(std::move(file)), table_(std::move(table)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_; }
  std::vector<std::string> Notices() const override { return notices_; }

  Hresult AppendRow(std::span<const Field> row) override {
    std::lock_guard lock(file_->mutex());
    Status status = file_->InsertFields(table_, row);
    notices_ = file_->TakeNotices();
    return Answer(status);
  }

  std::unique_ptr<RowPreparer> OpenPreparer() override {
    std::lock_guard lock(file_->mutex());
    Result<std::unique_ptr<RowPreparer>> preparer = file_->OpenPreparer(table_);
    return preparer.ok() ? std::move(*preparer) : nullptr;
  }

  Hresult AppendPreparedRow(std::span<const Field> row, const PreparedRow& prepared) override {
    std::lock_guard lock(file_->mutex());
    Status status = file_->InsertPrepared(table_, row, static_cast<const JetPreparedRow&>(prepared));
    notices_ = file_->TakeNotices();
    return Answer(status);
  }

  Hresult Commit() override {
    std::lock_guard lock(file_->mutex());
    return Answer(file_->EndBatch());
  }

 private:
  Hresult Answer(const Status& status) {
    if (status.ok()) {
      errors_.clear();
      return S_OK;
    }
    errors_ = {status.message()};
    return E_FAIL;
  }

  std::shared_ptr<JetFile> file_;
  std::string table_;
  std::vector<std::string> errors_;
  std::vector<std::string> notices_;
};

class JetSession : public Session {
 public:
  explicit JetSession(std::shared_ptr<JetFile> file) : file_(std::move(file)) {}
  ~JetSession() override {
    std::lock_guard lock(file_->mutex());
    (void)file_->EndBatch();
  }

  std::vector<std::string> ErrorRecords() const override { return errors_; }

  Hresult CreateCommand(std::unique_ptr<Command>* command) override {
    *command = std::make_unique<JetCommand>(file_);
    return S_OK;
  }

  Hresult Commit() override {
    std::lock_guard lock(file_->mutex());
    Status status = file_->EndBatch();
    if (status.ok()) return S_OK;
    errors_ = {status.message()};
    return E_FAIL;
  }

  Hresult OpenRowLoader(std::string_view table, std::unique_ptr<RowLoader>* loader) override {
    loader->reset();
    std::lock_guard lock(file_->mutex());
    // The table must exist now; a missing one is said here rather than at every row.
    Status found = file_->FindTable(table);
    if (!found.ok()) {
      errors_ = {found.message()};
      return DB_E_NOTABLE;
    }
    *loader = std::make_unique<JetRowLoader>(file_, std::string(table));
    return S_OK;
  }

  Hresult OpenSchemaRowset(SchemaRowsetKind kind, const SchemaRestrictions& restrictions,
                           std::unique_ptr<Rowset>* rowset) override {
    rowset->reset();
    std::lock_guard lock(file_->mutex());
    Status status = file_->EndBatch();
    return AnswerSchemaRowset(
        kind, status.ok() ? JetSchemaRows(file_->db(), file_->path(), kind, restrictions) : status, &errors_, rowset);
  }

 private:
  std::shared_ptr<JetFile> file_;
  std::vector<std::string> errors_;
};

class JetDataSource : public DataSource {
 public:
  explicit JetDataSource(std::shared_ptr<JetFile> file) : file_(std::move(file)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_; }

  Hresult CreateSession(std::unique_ptr<Session>* session) override {
    *session = std::make_unique<JetSession>(file_);
    return S_OK;
  }

  Hresult GetInfo(const Guid& set_id, PropertyId id, std::string* text) override {
    return AnswerSourceInfo({JetCatalogName(file_->path()), kJetDbmsName, kJetDbmsVersion, file_->path(), "Jet"},
                            set_id, id, text, &errors_);
  }

 private:
  std::shared_ptr<JetFile> file_;
  std::vector<std::string> errors_;
};

}  // namespace

OpenedDataSource JetProvider::OpenDataSource(std::span<const PropertySet> sets) {
  const std::string path = DataSourcePath(sets);
  if (std::optional<OpenedDataSource> refused = CheckDatabaseFile(path)) return std::move(*refused);
  const Property* mode = FindProperty(sets, DBPROPSET_DBINIT, DBPROP_INIT_MODE);
  bool read_only = mode != nullptr && (mode->value.number & (DB_MODE_READ | DB_MODE_WRITE)) == DB_MODE_READ;
  if (!read_only && ::access(path.c_str(), W_OK) != 0) read_only = true;

  auto db = jet::Database::Open(path, read_only ? jet::OpenMode::kReadOnly : jet::OpenMode::kReadWrite);
  if (!db.ok()) {
    return OpenFailure(E_FAIL, "Unrecognized database format '" + path + "': " + db.status().message());
  }
  auto file = std::make_shared<JetFile>(path, std::move(*db), policy_);
  file->set_read_only(read_only);
  OpenedDataSource opened;
  opened.code = S_OK;
  opened.data_source = std::make_unique<JetDataSource>(std::move(file));
  return opened;
}

Hresult JetProvider::CreateDataSource(std::span<const PropertySet> sets, std::vector<std::string>* errors) {
  errors->clear();
  const std::string path = DataSourcePath(sets);
  if (path.empty()) {
    errors->push_back("No database file was given (the data source is empty).");
    return E_INVALIDARG;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    errors->push_back("Database '" + path + "' already exists.");
    return E_FAIL;
  }
  auto db = jet::Database::Create(path);
  if (!db.ok()) {
    errors->push_back("Cannot create '" + path + "': " + db.status().message());
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace tabulon::data
