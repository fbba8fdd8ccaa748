#include "data/providers/odbc/odbc_typed_rows.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/text.h"
#include "data/providers/odbc/odbc_diagnostics.h"

namespace tabulon::data {
namespace {

constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kMaxBlockRows = 1000;
// Columns declared larger than this are long values, read whole rather than bound.
constexpr std::uint64_t kMaxBoundSize = 8000;
// Text buffers hold at least this much, so short types (times, GUIDs, numbers) whose display
// size a driver understates still fit.
constexpr size_t kMinTextWidth = 64;
constexpr size_t kFirstPiece = 64 * 1024;
constexpr size_t kMaxPiece = 16 * 1024 * 1024;

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool ParseWholeNumber(std::string_view text, int64_t* value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

bool ParseFiniteDouble(std::string_view text, double* value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && std::isfinite(*value);
}

// Optional sign, digits with an optional decimal point, an optional exponent: what a number
// literal may say. "NaN", "Infinity", "$12.50" and "" are not numbers.
bool IsNumberText(std::string_view t) {
  size_t i = 0;
  const size_t n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0;
  while (i < n && IsDigit(t[i])) ++i, ++digits;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    size_t exponent = 0;
    while (i < n && IsDigit(t[i])) ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == n;
}

bool ReadDigits(std::string_view t, size_t pos, size_t count, int* value) {
  if (pos + count > t.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (!IsDigit(t[i])) return false;
    v = v * 10 + (t[i] - '0');
  }
  *value = v;
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// "YYYY-MM-DD", optionally followed by " HH:MM", ":SS" and ".fraction" (or 'T' for the blank).
bool ParseIsoDate(std::string_view t, DateParts* out) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(t, 0, 4, &year) || t.size() < 10 || t[4] != '-' || !ReadDigits(t, 5, 2, &month) || t[7] != '-' ||
      !ReadDigits(t, 8, 2, &day)) {
    return false;
  }
  size_t pos = 10;
  uint32_t fraction = 0;
  if (pos < t.size()) {
    if ((t[pos] != ' ' && t[pos] != 'T') || !ReadDigits(t, 11, 2, &hour) || t.size() < 16 || t[13] != ':' ||
        !ReadDigits(t, 14, 2, &minute)) {
      return false;
    }
    pos = 16;
    if (pos < t.size()) {
      if (t[pos] != ':' || !ReadDigits(t, 17, 2, &second)) return false;
      pos = 19;
    }
    if (pos < t.size()) {
      if (t[pos] != '.' || pos + 1 == t.size()) return false;
      uint32_t scale = 100000000;  // nanoseconds of the first digit; digits past the ninth are dropped
      for (++pos; pos < t.size(); ++pos) {
        if (!IsDigit(t[pos])) return false;
        fraction += static_cast<uint32_t>(t[pos] - '0') * scale;
        scale /= 10;
      }
    }
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  out->year = static_cast<int16_t>(year);
  out->month = static_cast<uint8_t>(month);
  out->day = static_cast<uint8_t>(day);
  out->hour = static_cast<uint8_t>(hour);
  out->minute = static_cast<uint8_t>(minute);
  out->second = static_cast<uint8_t>(second);
  out->fraction_ns = fraction;
  return true;
}

void SetDouble(double value, Field& field) {
  if (std::isfinite(value)) {
    field.SetDouble(value);
  } else {
    field.SetText(Field::Kind::kText, std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf");
  }
}

DateParts FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts) {
  DateParts d;
  d.year = static_cast<int16_t>(ts.year);
  d.month = static_cast<uint8_t>(ts.month);
  d.day = static_cast<uint8_t>(ts.day);
  d.hour = static_cast<uint8_t>(ts.hour);
  d.minute = static_cast<uint8_t>(ts.minute);
  d.second = static_cast<uint8_t>(ts.second);
  d.fraction_ns = ts.fraction;
  return d;
}

// A value handed out as text or bytes.
void SetFromBytes(const OdbcTypedColumn& column, std::string_view bytes, Field& field) {
  SetFieldFromText(column.c_type == SQL_C_BINARY ? Field::Kind::kBytes : column.kind, bytes, field);
}

bool IsMoneyType(std::string_view type_name) {
  return EqualsIgnoreAsciiCase(type_name, "money") || EqualsIgnoreAsciiCase(type_name, "smallmoney");
}

}  // namespace

void SetFieldFromText(Field::Kind kind, std::string_view text, Field& field) {
  switch (kind) {
    case Field::Kind::kInteger: {
      int64_t value = 0;
      if (ParseWholeNumber(text, &value)) return field.SetInteger(value);
      break;
    }
    case Field::Kind::kDouble: {
      double value = 0;
      if (ParseFiniteDouble(text, &value)) return field.SetDouble(value);
      break;
    }
    case Field::Kind::kDate: {
      DateParts date;
      if (ParseIsoDate(text, &date)) return field.SetDate(date);
      // A date column's number (a day count, say) means something else as a number: text.
      return field.SetText(Field::Kind::kText, text);
    }
    case Field::Kind::kText:
    case Field::Kind::kBytes: return field.SetText(kind, text);
    default: break;
  }
  field.SetText(IsNumberText(text) ? Field::Kind::kNumber : Field::Kind::kText, text);
}

OdbcTypedColumn PlanOdbcTypedColumn(const OdbcColumnMetadata& m, bool is_unsigned, bool typed_by_text) {
  ColumnInfo info;
  MapOdbcColumn(m, info);
  const bool is_long = (info.flags & DBCOLUMNFLAGS_ISLONG) != 0 || m.column_size == 0 || m.column_size > kMaxBoundSize;
  OdbcTypedColumn column;
  const auto fixed = [&](Field::Kind kind, SQLSMALLINT c_type, size_t width) {
    column.kind = kind;
    column.c_type = c_type;
    column.width = width;
  };
  const auto text = [&](Field::Kind kind) {
    column.kind = kind;
    column.c_type = SQL_C_CHAR;
    column.whole = is_long;
    // Sizes count characters: up to four bytes each in UTF-8, and the terminating zero.
    column.width = is_long ? 0 : std::max<size_t>(static_cast<size_t>(m.column_size) * 4 + 1, kMinTextWidth);
  };
  switch (m.sql_type) {
    case SQL_BIT: fixed(Field::Kind::kInteger, SQL_C_BIT, 1); break;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER: fixed(Field::Kind::kInteger, SQL_C_SBIGINT, sizeof(int64_t)); break;
    case SQL_BIGINT:
      // An unsigned BIGINT may pass the signed range: its text, as a number.
      if (is_unsigned) {
        text(Field::Kind::kNumber);
      } else {
        fixed(Field::Kind::kInteger, SQL_C_SBIGINT, sizeof(int64_t));
      }
      break;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      // PostgreSQL's money arrives as a float whose text is "$12.50": never through a double.
      if (IsMoneyType(m.type_name)) {
        text(Field::Kind::kNumber);
      } else {
        fixed(Field::Kind::kDouble, SQL_C_DOUBLE, sizeof(double));
      }
      break;
    case SQL_DECIMAL:
    case SQL_NUMERIC: text(Field::Kind::kNumber); break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_DATE: fixed(Field::Kind::kDate, SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)); break;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      column.kind = Field::Kind::kBytes;
      column.c_type = SQL_C_BINARY;
      column.whole = is_long;
      column.width = is_long ? 0 : std::max<size_t>(static_cast<size_t>(m.column_size), 1);
      break;
    default: text(Field::Kind::kText); break;
  }
  if (typed_by_text && column.c_type != SQL_C_CHAR && column.c_type != SQL_C_BINARY) {
    column.c_type = SQL_C_CHAR;
    column.width = kMinTextWidth;
  }
  return column;
}

size_t OdbcTypedBlockRows(std::span<const OdbcTypedColumn> columns) {
  size_t row_bytes = 0;
  for (const OdbcTypedColumn& c : columns) {
    if (!c.whole) row_bytes += c.width + sizeof(SQLLEN);
  }
  if (row_bytes == 0) return 1;
  return std::clamp<size_t>(kBlockBytes / row_bytes, 1, kMaxBlockRows);
}

OdbcDriverTraits ReadOdbcDriverTraits(SQLHDBC dbc) {
  OdbcDriverTraits traits;
  SQLCHAR name[256] = {};
  SQLSMALLINT length = 0;
  if (Ok(SQLGetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, &length))) {
    traits.typed_by_text = EqualsIgnoreAsciiCase(reinterpret_cast<const char*>(name), "SQLite");
  }
  SQLUINTEGER extensions = 0;
  if (Ok(SQLGetInfo(dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr))) {
    traits.getdata_extensions = extensions;
  }
  return traits;
}

OdbcTypedReader::OdbcTypedReader(SQLHSTMT stmt, std::vector<OdbcTypedColumn> columns, std::vector<std::string> names,
                                 const OdbcDriverTraits& traits)
    : stmt_(stmt), columns_(std::move(columns)), names_(std::move(names)), traits_(traits) {}

OdbcTypedReader::~OdbcTypedReader() {
  if (!prepared_) return;
  SQLFreeStmt(stmt_, SQL_UNBIND);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
}

Hresult OdbcTypedReader::DriverFailure(std::vector<std::string>& errors) const {
  errors = ReadOdbcDiagnostics(SQL_HANDLE_STMT, stmt_);
  if (errors.empty()) errors.push_back("The ODBC driver reported a failure without a message.");
  return E_FAIL;
}

Hresult OdbcTypedReader::Bind(std::vector<std::string>& errors) {
  prepared_ = true;
  const size_t n = columns_.size();
  // Without SQL_GD_ANY_COLUMN the driver reads with SQLGetData only the columns after the last
  // bound one: everything from the first long value on is read that way.
  const bool any_column = (traits_.getdata_extensions & SQL_GD_ANY_COLUMN) != 0;
  bool after_long = false, any_unbound = false;
  bound_.assign(n, false);
  for (size_t c = 0; c < n; ++c) {
    after_long = after_long || columns_[c].whole;
    bound_[c] = !columns_[c].whole && (any_column || !after_long);
    any_unbound = any_unbound || !bound_[c];
  }
  use_fetched_count_ = Ok(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0));
  // A row at a time when values are read after the fetch, or when a driver that enforces no
  // sizes might cut a value it cannot read again within a block.
  rows_ = 1;
  if (!any_unbound && !traits_.typed_by_text && use_fetched_count_) {
    rows_ = OdbcTypedBlockRows(columns_);
  }
  // Set even for one row: an earlier rowset of the statement may have left a larger size.
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
  SQLULEN actual = 1;
  if (!Ok(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows_), 0)) ||
      !Ok(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, &actual, 0, nullptr))) {
    if (rows_ > 1) SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
    actual = 1;
  }
  rows_ = std::clamp<size_t>(actual, 1, rows_);
  row_status_.assign(rows_, SQL_ROW_SUCCESS);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, row_status_.data(), 0);
  values_.assign(n, {});
  indicators_.assign(n, {});
  for (size_t c = 0; c < n; ++c) {
    if (!bound_[c]) continue;
    values_[c].assign(rows_ * columns_[c].width, 0);
    indicators_[c].assign(rows_, 0);
    if (!Ok(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(c + 1), columns_[c].c_type, values_[c].data(),
                       static_cast<SQLLEN>(columns_[c].width), indicators_[c].data()))) {
      return DriverFailure(errors);
    }
  }
  return S_OK;
}

Hresult OdbcTypedReader::FetchBlock(std::vector<std::string>& errors) {
  fetched_ = 0;
  position_ = 0;
  const SQLRETURN rc = SQLFetch(stmt_);
  if (rc == SQL_NO_DATA) return DB_S_ENDOFROWSET;
  if (!Ok(rc)) return DriverFailure(errors);
  if (!use_fetched_count_) fetched_ = 1;
  if (rc == SQL_SUCCESS_WITH_INFO) {
    // A value the driver changed to fit its C type (a fraction cut off) is never passed on.
    std::vector<std::string> states;
    std::vector<std::string> records = ReadOdbcDiagnostics(SQL_HANDLE_STMT, stmt_, &states);
    if (std::find(states.begin(), states.end(), "01S07") != states.end()) {
      errors = std::move(records);
      return E_FAIL;
    }
  }
  return fetched_ == 0 ? DB_S_ENDOFROWSET : S_OK;
}

Hresult OdbcTypedReader::FetchNext(std::vector<Field>& row, std::vector<std::string>& errors) {
  if (!bind_errors_.empty()) {  // a statement half bound gives no rows
    errors = bind_errors_;
    return E_FAIL;
  }
  if (!prepared_) {
    const Hresult code = Bind(errors);
    if (Failed(code)) {
      bind_errors_ = errors;
      return code;
    }
  }
  if (position_ >= fetched_) {
    const Hresult code = FetchBlock(errors);
    if (code != S_OK) return code;
  }
  const size_t r = position_++;
  positioned_ = false;
  if (row_status_[r] == SQL_ROW_ERROR) return DriverFailure(errors);
  row.resize(columns_.size());
  for (size_t c = 0; c < columns_.size(); ++c) {
    Field& field = row[c];
    const OdbcTypedColumn& column = columns_[c];
    if (!bound_[c]) {
      const Hresult code = ReadWhole(c, field, errors);
      if (Failed(code)) return code;
      continue;
    }
    const SQLLEN indicator = indicators_[c][r];
    const char* value = values_[c].data() + r * column.width;
    if (indicator == SQL_NULL_DATA) {
      field.SetNull();
      continue;
    }
    switch (column.c_type) {
      case SQL_C_SBIGINT: {
        int64_t v = 0;
        std::memcpy(&v, value, sizeof v);
        field.SetInteger(v);
        break;
      }
      case SQL_C_BIT: field.SetInteger(static_cast<unsigned char>(value[0])); break;
      case SQL_C_DOUBLE: {
        double v = 0;
        std::memcpy(&v, value, sizeof v);
        SetDouble(v, field);
        break;
      }
      case SQL_C_TYPE_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT ts{};
        std::memcpy(&ts, value, sizeof ts);
        field.SetDate(FromTimestamp(ts));
        break;
      }
      default: {
        const size_t room = column.c_type == SQL_C_CHAR ? column.width - 1 : column.width;
        if (indicator < 0 || static_cast<size_t>(indicator) > room) {  // SQL_NO_TOTAL, or cut
          const Hresult code = ReadCut(c, r, field, errors);
          if (Failed(code)) return code;
        } else {
          SetFromBytes(column, std::string_view(value, static_cast<size_t>(indicator)), field);
        }
      }
    }
  }
  return S_OK;
}

Hresult OdbcTypedReader::ReadCut(size_t c, size_t row, Field& field, std::vector<std::string>& errors) {
  const SQLUINTEGER needed = SQL_GD_BOUND | (rows_ > 1 ? SQL_GD_BLOCK : 0);
  if ((traits_.getdata_extensions & needed) != needed) {
    errors = {"The value of column '" + names_[c] + "' is longer than the column's declared size, and the ODBC " +
              "driver cannot read it again: the rows cannot be read as typed values."};
    return E_FAIL;
  }
  if (rows_ > 1 && !positioned_) {
    if (!Ok(SQLSetPos(stmt_, static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE))) {
      return DriverFailure(errors);
    }
    positioned_ = true;
  }
  return ReadWhole(c, field, errors);
}

Hresult OdbcTypedReader::ReadWhole(size_t c, Field& field, std::vector<std::string>& errors) {
  const OdbcTypedColumn& column = columns_[c];
  const auto ordinal = static_cast<SQLUSMALLINT>(c + 1);
  SQLLEN indicator = 0;
  const auto get = [&](void* target, SQLLEN size) {
    return SQLGetData(stmt_, ordinal, column.c_type, target, size, &indicator);
  };
  switch (column.c_type) {
    case SQL_C_SBIGINT: {
      int64_t v = 0;
      if (!Ok(get(&v, sizeof v))) return DriverFailure(errors);
      if (indicator != SQL_NULL_DATA) field.SetInteger(v);
      break;
    }
    case SQL_C_BIT: {
      unsigned char v = 0;
      if (!Ok(get(&v, sizeof v))) return DriverFailure(errors);
      if (indicator != SQL_NULL_DATA) field.SetInteger(v);
      break;
    }
    case SQL_C_DOUBLE: {
      double v = 0;
      if (!Ok(get(&v, sizeof v))) return DriverFailure(errors);
      if (indicator != SQL_NULL_DATA) SetDouble(v, field);
      break;
    }
    case SQL_C_TYPE_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT ts{};
      if (!Ok(get(&ts, sizeof ts))) return DriverFailure(errors);
      if (indicator != SQL_NULL_DATA) field.SetDate(FromTimestamp(ts));
      break;
    }
    default: {
      // In pieces; a text piece ends with a terminating zero, a binary one does not.
      const size_t zero = column.c_type == SQL_C_CHAR ? 1 : 0;
      size_t have = 0, room = kFirstPiece;
      for (;;) {
        piece_.resize(have + room + zero);
        const SQLRETURN rc = get(piece_.data() + have, static_cast<SQLLEN>(room + zero));
        if (rc == SQL_NO_DATA) break;
        if (!Ok(rc)) return DriverFailure(errors);
        if (indicator == SQL_NULL_DATA) break;
        if (indicator >= 0 && static_cast<size_t>(indicator) <= room) {
          have += static_cast<size_t>(indicator);
          break;
        }
        have += room;
        if (rc == SQL_SUCCESS) break;
        room = indicator == SQL_NO_TOTAL ? std::min(room * 2, kMaxPiece) : static_cast<size_t>(indicator) - room;
      }
      if (indicator != SQL_NULL_DATA) SetFromBytes(column, std::string_view(piece_.data(), have), field);
    }
  }
  if (indicator == SQL_NULL_DATA) field.SetNull();
  return S_OK;
}

}  // namespace tabulon::data
