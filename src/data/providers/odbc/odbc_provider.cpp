#include "data/providers/odbc/odbc_provider.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/providers/odbc/odbc_connection_string.h"
#include "data/providers/odbc/odbc_diagnostics.h"
#include "data/providers/odbc/odbc_schema.h"
#include "data/providers/odbc/odbc_typed_rows.h"
#include "data/providers/odbc/odbc_types.h"

namespace tabulon::data {
namespace {

constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kMaxBlockRows = 64;
constexpr size_t kFullValueChunk = 64 * 1024;

// Binary values are read as bytes and shown as upper-case hexadecimal digits, whatever text form
// the driver would give them (SQLite's is an X'..' literal, FreeTDS's lower case).
constexpr size_t kSlotBinaryBytes = (kSlotValueBytes - 1) / 2;

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

void AppendHex(std::string& out, const char* bytes, size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
}

// The process's one ODBC environment (ODBC 3 behaviour), made on first use.
SQLHENV Environment() {
  static SQLHENV env = [] {
    SQLHENV h = SQL_NULL_HENV;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h))) return SQLHENV{SQL_NULL_HENV};
    SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return h;
  }();
  return env;
}

// An ODBC connection handle shared by the data source and its session.
class Connection {
 public:
  explicit Connection(SQLHDBC dbc) : dbc_(dbc) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }
  SQLHDBC handle() const { return dbc_; }

  // Asked of the driver on first use.
  const OdbcDriverTraits& traits() {
    std::call_once(traits_read_, [this] { traits_ = ReadOdbcDriverTraits(dbc_); });
    return traits_;
  }

 private:
  SQLHDBC dbc_;
  std::once_flag traits_read_;
  OdbcDriverTraits traits_;
};

// Keeps the records of the last failed call of one object.
class ErrorRecordsHolder {
 public:
  std::vector<std::string> Get() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  void Set(std::vector<std::string> records) {
    std::lock_guard lock(mutex_);
    records_ = std::move(records);
  }
  void Set(std::string record) { Set(std::vector<std::string>{std::move(record)}); }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> records_;
};

class OdbcRowset : public Rowset {
 public:
  // `traits` given: the rows are read as typed values.
  OdbcRowset(SQLHSTMT stmt, SQLSMALLINT column_count, const RowsetOptions& options,
             std::optional<OdbcDriverTraits> traits)
      : stmt_(stmt),
        column_count_(static_cast<size_t>(column_count)),
        full_values_(options.full_values),
        typed_traits_(traits) {}

  ~OdbcRowset() override {
    // The statement outlives the rowset: it must not keep pointers into this object.
    SQLCloseCursor(stmt_);
    typed_.reset();
    if (bound_) {
      SQLFreeStmt(stmt_, SQL_UNBIND);
      SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
      SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
      // A later statement on the same handle fetches one row at a time unless it says otherwise.
      SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
    }
  }

  std::vector<std::string> ErrorRecords() const override { return errors_.Get(); }

  Hresult GetColumnInfo(std::vector<ColumnInfo>* columns) override {
    const Hresult code = DescribeColumns(columns, nullptr);
    if (Failed(code)) return code;
    binary_.clear();
    for (const ColumnInfo& c : *columns) binary_.push_back(c.type == DBTYPE_BYTES);
    return S_OK;
  }

  bool HasTypedRows() const override { return typed_traits_.has_value(); }

  Hresult FetchNextTypedRow(std::vector<Field>& row) override {
    if (!typed_traits_) return E_NOTIMPL;
    if (typed_ == nullptr) {
      std::vector<ColumnInfo> columns;
      std::vector<OdbcTypedColumn> plan;
      const Hresult code = DescribeColumns(&columns, &plan);
      if (Failed(code)) return code;
      std::vector<std::string> names;
      for (ColumnInfo& c : columns) names.push_back(std::move(c.name));
      typed_ = std::make_unique<OdbcTypedReader>(stmt_, std::move(plan), std::move(names), *typed_traits_);
    }
    std::vector<std::string> errors;
    const Hresult code = typed_->FetchNext(row, errors);
    if (Failed(code)) errors_.Set(std::move(errors));
    return code;
  }

  Hresult FetchNextRow(RowBuffer& buffer) override {
    if (typed_traits_) {
      errors_.Set("The rows of this statement are read as typed values.");
      return E_UNEXPECTED;
    }
    if (buffer.columns() < column_count_) return DB_E_BADACCESSORHANDLE;
    if (full_values_) return FetchWhole(buffer);
    if (!bound_) {
      const Hresult code = BindBlock();
      if (Failed(code)) return code;
    }
    while (position_ >= fetched_) {
      fetched_ = 0;
      position_ = 0;
      const SQLRETURN rc = SQLFetch(stmt_);
      if (rc == SQL_NO_DATA) return DB_S_ENDOFROWSET;
      if (!Ok(rc)) return Fail(E_FAIL);
      if (!use_fetched_count_) fetched_ = 1;
    }
    const size_t row = position_++;
    if (row_status_[row] == SQL_ROW_ERROR) return Fail(E_FAIL);
    for (size_t c = 0; c < column_count_; ++c) {
      const SQLLEN indicator = indicators_[c][row];
      // Column-wise binding puts row `row` at row * the buffer length the column was bound with.
      const char* value = values_[c].data() + row * (IsBinary(c) ? kSlotBinaryBytes : kSlotValueBytes);
      if (indicator == SQL_NULL_DATA) {
        buffer.SetNull(c + 1);
      } else if (IsBinary(c)) {
        const bool cut = indicator == SQL_NO_TOTAL || indicator > static_cast<SQLLEN>(kSlotBinaryBytes);
        std::string hex;
        AppendHex(hex, value, cut ? kSlotBinaryBytes : static_cast<size_t>(std::max<SQLLEN>(indicator, 0)));
        buffer.SetValue(c + 1, hex, cut);
      } else if (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(kSlotValueBytes)) {
        buffer.SetValue(c + 1, std::string_view(value, strnlen(value, kSlotValueBytes - 1)), true);
      } else {
        buffer.SetValue(c + 1, std::string_view(value, static_cast<size_t>(std::max<SQLLEN>(indicator, 0))));
      }
    }
    return S_OK;
  }

  Result<std::optional<std::string>> ReadFullValue(size_t ordinal) override {
    if (!full_values_) return InvalidArgumentError("whole values need a rowset opened for them");
    if (!on_row_) return InvalidArgumentError("no current row");
    if (ordinal < 1 || ordinal > current_.size()) return InvalidArgumentError("column ordinal out of range");
    return current_[ordinal - 1];
  }

 private:
  Hresult Fail(Hresult code) {
    errors_.Set(ReadOdbcDiagnostics(SQL_HANDLE_STMT, stmt_));
    return code;
  }

  // The columns as OLE DB describes them and, when `typed` is given, how each is read typed.
  Hresult DescribeColumns(std::vector<ColumnInfo>* columns, std::vector<OdbcTypedColumn>* typed) {
    columns->clear();
    for (size_t k = 1; k <= column_count_; ++k) {
      const auto ordinal = static_cast<SQLUSMALLINT>(k);
      SQLCHAR name[512] = {};
      SQLSMALLINT name_length = 0;
      SQLSMALLINT type = 0;
      SQLULEN size = 0;
      SQLSMALLINT digits = 0;
      SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
      if (!Ok(SQLDescribeCol(stmt_, ordinal, name, sizeof name, &name_length, &type, &size, &digits, &nullable))) {
        return Fail(E_FAIL);
      }
      SQLLEN updatable = SQL_ATTR_READWRITE_UNKNOWN;
      if (!Ok(SQLColAttribute(stmt_, ordinal, SQL_DESC_UPDATABLE, nullptr, 0, nullptr, &updatable))) {
        updatable = SQL_ATTR_READWRITE_UNKNOWN;
      }
      SQLCHAR type_name[128] = {};
      SQLSMALLINT type_name_length = 0;
      if (!Ok(SQLColAttribute(stmt_, ordinal, SQL_DESC_TYPE_NAME, type_name, sizeof type_name, &type_name_length,
                              nullptr))) {
        type_name[0] = 0;
      }
      ColumnInfo column;
      column.name.assign(reinterpret_cast<const char*>(name),
                         std::min<size_t>(std::max<SQLSMALLINT>(name_length, 0), sizeof name - 1));
      column.ordinal = k;
      const auto* type_name_text = reinterpret_cast<const char*>(type_name);
      const OdbcColumnMetadata metadata{type, size, digits, nullable, updatable, type_name_text};
      MapOdbcColumn(metadata, column);
      columns->push_back(std::move(column));
      if (typed != nullptr) {
        SQLLEN is_unsigned = SQL_FALSE;
        if (!Ok(SQLColAttribute(stmt_, ordinal, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &is_unsigned))) {
          is_unsigned = SQL_FALSE;
        }
        typed->push_back(PlanOdbcTypedColumn(metadata, is_unsigned == SQL_TRUE, typed_traits_->typed_by_text));
      }
    }
    return S_OK;
  }

  bool IsBinary(size_t c) const { return c < binary_.size() && binary_[c]; }

  // Column-wise binding of a block of rows, each value in a slot-sized buffer.
  Hresult BindBlock() {
    size_t rows = OdbcBlockRows(column_count_);
    if (rows > 1) {
      SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
      if (Ok(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0))) {
        SQLULEN actual = 1;
        if (Ok(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, &actual, 0, nullptr)))
          rows = std::max<SQLULEN>(actual, 1);
      } else {
        rows = 1;
      }
    }
    row_status_.assign(rows, SQL_ROW_SUCCESS);
    use_fetched_count_ = Ok(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0));
    SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, row_status_.data(), 0);
    values_.assign(column_count_, std::vector<char>(rows * kSlotValueBytes));
    indicators_.assign(column_count_, std::vector<SQLLEN>(rows));
    for (size_t c = 0; c < column_count_; ++c) {
      const bool binary = IsBinary(c);
      if (!Ok(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(c + 1), binary ? SQL_C_BINARY : SQL_C_CHAR, values_[c].data(),
                         static_cast<SQLLEN>(binary ? kSlotBinaryBytes : kSlotValueBytes), indicators_[c].data()))) {
        return Fail(DB_E_BADACCESSORHANDLE);
      }
    }
    bound_ = true;
    return S_OK;
  }

  // One row; every value read whole with SQLGetData, the slot gets its first 8191 bytes.
  Hresult FetchWhole(RowBuffer& buffer) {
    on_row_ = false;
    current_.assign(column_count_, std::nullopt);
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) return DB_S_ENDOFROWSET;
    if (!Ok(rc)) return Fail(E_FAIL);
    std::vector<char> chunk(kFullValueChunk + 1);
    for (size_t c = 0; c < column_count_; ++c) {
      const bool binary = IsBinary(c);
      // Text chunks end with a terminating zero, binary ones do not.
      const size_t chunk_data = binary ? chunk.size() : chunk.size() - 1;
      std::string value;
      bool is_null = false;
      for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN got = SQLGetData(stmt_, static_cast<SQLUSMALLINT>(c + 1), binary ? SQL_C_BINARY : SQL_C_CHAR,
                                         chunk.data(), static_cast<SQLLEN>(chunk.size()), &indicator);
        if (got == SQL_NO_DATA) break;
        if (!Ok(got)) return Fail(E_FAIL);
        if (indicator == SQL_NULL_DATA) {
          is_null = true;
          break;
        }
        const bool more = indicator == SQL_NO_TOTAL || indicator > static_cast<SQLLEN>(chunk_data);
        const size_t n = more ? chunk_data : static_cast<size_t>(std::max<SQLLEN>(indicator, 0));
        if (binary) {
          AppendHex(value, chunk.data(), n);
        } else {
          value.append(chunk.data(), n);
        }
        if (got == SQL_SUCCESS || !more) break;
      }
      if (is_null) {
        buffer.SetNull(c + 1);
      } else {
        buffer.SetValue(c + 1, value);
        current_[c] = std::move(value);
      }
    }
    on_row_ = true;
    return S_OK;
  }

  SQLHSTMT stmt_;
  size_t column_count_;
  bool full_values_;
  ErrorRecordsHolder errors_;
  std::vector<bool> binary_;  // per column, from GetColumnInfo
  // Block reading.
  bool bound_ = false;
  bool use_fetched_count_ = false;
  SQLULEN fetched_ = 0;
  size_t position_ = 0;
  std::vector<SQLUSMALLINT> row_status_;
  std::vector<std::vector<char>> values_;
  std::vector<std::vector<SQLLEN>> indicators_;
  // Whole values of the current row.
  bool on_row_ = false;
  std::vector<std::optional<std::string>> current_;
  // Typed rows.
  std::optional<OdbcDriverTraits> typed_traits_;
  std::unique_ptr<OdbcTypedReader> typed_;
};

class OdbcCommand : public Command {
 public:
  OdbcCommand(std::shared_ptr<Connection> connection, SQLHSTMT stmt)
      : connection_(std::move(connection)), stmt_(stmt) {}
  ~OdbcCommand() override { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }

  std::vector<std::string> ErrorRecords() const override { return errors_.Get(); }

  Hresult Execute(std::string_view sql, const PropertySet& /*rowset_properties*/, const RowsetOptions& options,
                  std::unique_ptr<Rowset>* rowset) override {
    rowset->reset();
    std::string text(sql);
    SQLRETURN rc = SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
    if (rc == SQL_NO_DATA) return S_OK;  // a searched UPDATE or DELETE that touched no row
    if (!Ok(rc)) return Fail(DB_E_ERRORSINCOMMAND);
    bool warned = rc == SQL_SUCCESS_WITH_INFO && Warned();
    // A batch may answer with row counts before its first rows: move on to the first result
    // that has columns.
    SQLSMALLINT columns = 0;
    for (;;) {
      if (!Ok(SQLNumResultCols(stmt_, &columns))) return Fail(DB_E_ERRORSINCOMMAND);
      if (columns > 0) break;
      rc = SQLMoreResults(stmt_);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) return Fail(DB_E_ERRORSINCOMMAND);
      if (rc == SQL_SUCCESS_WITH_INFO && !warned) warned = Warned();
    }
    if (columns > 0) {
      std::optional<OdbcDriverTraits> typed;
      // Typed rows carry long values whole: asked for with full_values too, they are what is given.
      if (options.typed) typed = connection_->traits();
      *rowset = std::make_unique<OdbcRowset>(stmt_, columns, options, typed);
    }
    return warned ? DB_S_ERRORSOCCURRED : S_OK;
  }

 private:
  Hresult Fail(Hresult code) {
    errors_.Set(ReadOdbcDiagnostics(SQL_HANDLE_STMT, stmt_));
    return code;
  }

  // After SQL_SUCCESS_WITH_INFO: keeps the records and says whether they hold a real warning.
  // Pure information (every record 01000, such as SQL Server's "Changed database context")
  // is success, as it was for the SQL Server OLE DB provider; truncation (01004) and the like
  // stay warnings.
  bool Warned() {
    std::vector<std::string> states;
    std::vector<std::string> records = ReadOdbcDiagnostics(SQL_HANDLE_STMT, stmt_, &states);
    const bool information_only =
        !states.empty() && std::all_of(states.begin(), states.end(), [](const std::string& s) { return s == "01000"; });
    errors_.Set(std::move(records));
    return !information_only;
  }

  std::shared_ptr<Connection> connection_;  // keeps the connection alive while the command lives
  SQLHSTMT stmt_;
  ErrorRecordsHolder errors_;
};

class OdbcSession : public Session {
 public:
  explicit OdbcSession(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_.Get(); }

  Hresult CreateCommand(std::unique_ptr<Command>* command) override {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, connection_->handle(), &stmt))) {
      errors_.Set(ReadOdbcDiagnostics(SQL_HANDLE_DBC, connection_->handle()));
      return E_FAIL;
    }
    *command = std::make_unique<OdbcCommand>(connection_, stmt);
    return S_OK;
  }

  Hresult OpenSchemaRowset(SchemaRowsetKind kind, const SchemaRestrictions& restrictions,
                           std::unique_ptr<Rowset>* rowset) override {
    rowset->reset();
    if (kind == SchemaRowsetKind::kViews) return E_NOTIMPL;  // ODBC has no catalogue call for view texts
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, connection_->handle(), &stmt))) {
      errors_.Set(ReadOdbcDiagnostics(SQL_HANDLE_DBC, connection_->handle()));
      return E_FAIL;
    }
    Result<std::vector<SchemaRow>> rows = ReadOdbcSchemaRows(connection_->handle(), stmt, kind, restrictions);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (!rows.ok()) {
      errors_.Set(rows.status().message());
      return E_FAIL;
    }
    *rowset = std::make_unique<MemoryRowset>(SchemaRowsetColumns(kind), std::move(*rows));
    return S_OK;
  }

 private:
  std::shared_ptr<Connection> connection_;
  ErrorRecordsHolder errors_;
};

class OdbcDataSource : public DataSource {
 public:
  explicit OdbcDataSource(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_.Get(); }

  Hresult CreateSession(std::unique_ptr<Session>* session) override {
    *session = std::make_unique<OdbcSession>(connection_);
    return S_OK;
  }

  Hresult GetInfo(const Guid& set_id, PropertyId id, std::string* text) override {
    text->clear();
    if (set_id == DBPROPSET_DATASOURCE && id == DBPROP_CURRENTCATALOG) {
      SQLCHAR buffer[512] = {};
      SQLINTEGER length = 0;
      if (!Ok(SQLGetConnectAttr(connection_->handle(), SQL_ATTR_CURRENT_CATALOG, buffer, sizeof buffer, &length))) {
        return Fail();
      }
      text->assign(reinterpret_cast<const char*>(buffer),
                   std::min<size_t>(std::max<SQLINTEGER>(length, 0), sizeof buffer - 1));
      return S_OK;
    }
    if (set_id != DBPROPSET_DATASOURCEINFO) return DB_E_ERRORSOCCURRED;
    switch (id) {
      case DBPROP_DBMSNAME: return ReadInfo(SQL_DBMS_NAME, text);
      case DBPROP_DBMSVER: return ReadInfo(SQL_DBMS_VER, text);
      case DBPROP_DATASOURCENAME: {
        const Hresult code = ReadInfo(SQL_DATA_SOURCE_NAME, text);
        if (Succeeded(code) && !text->empty()) return code;
        return ReadInfo(SQL_SERVER_NAME, text);
      }
      default: errors_.Set("The property is not supported by the ODBC provider."); return DB_E_ERRORSOCCURRED;
    }
  }

 private:
  Hresult ReadInfo(SQLUSMALLINT info, std::string* text) {
    SQLCHAR buffer[1024] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetInfo(connection_->handle(), info, buffer, sizeof buffer, &length))) return Fail();
    text->assign(reinterpret_cast<const char*>(buffer),
                 std::min<size_t>(std::max<SQLSMALLINT>(length, 0), sizeof buffer - 1));
    return S_OK;
  }

  Hresult Fail() {
    errors_.Set(ReadOdbcDiagnostics(SQL_HANDLE_DBC, connection_->handle()));
    return E_FAIL;
  }

  std::shared_ptr<Connection> connection_;
  ErrorRecordsHolder errors_;
};

OpenedDataSource OpenFailure(Hresult code, std::vector<std::string> errors) {
  OpenedDataSource out;
  out.code = code;
  out.errors = std::move(errors);
  if (out.errors.empty()) out.errors.push_back("The ODBC driver manager reported a failure without a message.");
  return out;
}

}  // namespace

size_t OdbcBlockRows(size_t columns) {
  if (columns == 0) return 1;
  return std::clamp<size_t>(kBlockBytes / (columns * kSlotValueBytes), 1, kMaxBlockRows);
}

OpenedDataSource OdbcProvider::OpenDataSource(std::span<const PropertySet> sets) {
  Result<std::string> connection_string = kind_ == Kind::kSqlServer
                                              ? BuildSqlServerConnectionString(sets, sql_server_driver_)
                                              : BuildGenericConnectionString(sets);
  if (!connection_string.ok()) return OpenFailure(E_INVALIDARG, {connection_string.status().message()});

  SQLHENV env = Environment();
  if (env == SQL_NULL_HENV) return OpenFailure(E_FAIL, {"The ODBC environment could not be created."});
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    return OpenFailure(E_OUTOFMEMORY, ReadOdbcDiagnostics(SQL_HANDLE_ENV, env));
  }
  // Without a timeout a SQL Server driver may wait forever for an unanswering host.
  const auto timeout = static_cast<SQLULEN>(LoginTimeoutSeconds(sets));
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);
  SQLSetConnectAttr(dbc, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);

  std::string text = std::move(connection_string).value();
  SQLCHAR out[1024] = {};
  SQLSMALLINT out_length = 0;
  const SQLRETURN rc =
      SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLSMALLINT>(text.size()),
                       out, sizeof out, &out_length, SQL_DRIVER_NOPROMPT);
  if (!Ok(rc)) {
    std::string state;
    std::vector<std::string> errors = ReadOdbcDiagnostics(SQL_HANDLE_DBC, dbc, nullptr, &state);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    return OpenFailure(state == "28000" ? DB_SEC_E_AUTH_FAILED : E_FAIL, std::move(errors));
  }
  OpenedDataSource opened;
  opened.code = S_OK;
  opened.data_source = std::make_unique<OdbcDataSource>(std::make_shared<Connection>(dbc));
  return opened;
}

}  // namespace tabulon::data
