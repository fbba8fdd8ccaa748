// Typed rows from an ODBC statement: each column read as the data::Field kind its SQL type gives,
// bound to typed buffers and fetched in blocks of rows where the columns and the driver allow.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/field.h"
#include "data/hresult.h"
#include "data/providers/odbc/odbc_types.h"

namespace tabulon::data {

// What the rows of a connection's driver need to be read soundly, asked once per connection.
struct OdbcDriverTraits {
  // SQLite keeps any value in any column whatever the column's declared type and size, and its
  // driver converts a value that does not fit the C type asked for without a word ('abc' in an
  // integer column becomes NULL, 3.7 becomes 3). Its values are read as the driver's text (bytes
  // as bytes), one row at a time, and typed from that text.
  bool typed_by_text = false;
  SQLUINTEGER getdata_extensions = 0;  // SQL_GETDATA_EXTENSIONS (SQL_GD_*)
};

// The traits of the driver behind a connected handle.
OdbcDriverTraits ReadOdbcDriverTraits(SQLHDBC dbc);

// How one column of a typed row is read.
struct OdbcTypedColumn {
  Field::Kind kind = Field::Kind::kText;  // what a value becomes (see SetFieldFromText for text)
  SQLSMALLINT c_type = SQL_C_CHAR;        // the C type the driver hands the value out as
  size_t width = 0;                       // bytes of one value's buffer when bound
  bool whole = false;                     // a long value: never bound, read whole with SQLGetData
};

// The reading of a column of the given metadata (`is_unsigned`: SQL_DESC_UNSIGNED).
OdbcTypedColumn PlanOdbcTypedColumn(const OdbcColumnMetadata& metadata, bool is_unsigned, bool typed_by_text);

// Rows per block for bound columns of these widths: about 1 MB a block, at most 1000 rows.
size_t OdbcTypedBlockRows(std::span<const OdbcTypedColumn> columns);

// Types a value the driver gave as text for a column of `kind`: a whole number, a number, a
// finite double or a calendar date (ISO text) when the text is one; otherwise, with the text
// unchanged, kNumber when it is still a decimal number and kText when not (a date column's
// other text is always kText). Text and bytes keep their kind.
void SetFieldFromText(Field::Kind kind, std::string_view text, Field& field);

// Reads the rows of an executed statement as typed values. Binds on the first fetch; the
// destructor takes every binding and row-array setting back off the statement.
class OdbcTypedReader {
 public:
  OdbcTypedReader(SQLHSTMT stmt, std::vector<OdbcTypedColumn> columns, std::vector<std::string> names,
                  const OdbcDriverTraits& traits);
  OdbcTypedReader(const OdbcTypedReader&) = delete;
  OdbcTypedReader& operator=(const OdbcTypedReader&) = delete;
  ~OdbcTypedReader();

  // The next row, one value per column: S_OK, DB_S_ENDOFROWSET, or a failure with `errors` set
  // (the driver's records, or why a value cannot be read whole).
  Hresult FetchNext(std::vector<Field>& row, std::vector<std::string>& errors);

  size_t block_rows() const { return rows_; }

 private:
  Hresult Bind(std::vector<std::string>& errors);
  Hresult FetchBlock(std::vector<std::string>& errors);
  Hresult ReadCut(size_t c, size_t row, Field& field, std::vector<std::string>& errors);
  Hresult ReadWhole(size_t c, Field& field, std::vector<std::string>& errors);
  Hresult DriverFailure(std::vector<std::string>& errors) const;

  SQLHSTMT stmt_;
  std::vector<OdbcTypedColumn> columns_;
  std::vector<std::string> names_;
  OdbcDriverTraits traits_;
  bool prepared_ = false;
  std::vector<std::string> bind_errors_;
  std::vector<bool> bound_;  // per column
  size_t rows_ = 1;          // per block
  bool use_fetched_count_ = false;
  SQLULEN fetched_ = 0;
  size_t position_ = 0;
  bool positioned_ = false;  // SQLSetPos done for the current row of a block
  std::vector<SQLUSMALLINT> row_status_;
  std::vector<std::vector<char>> values_;
  std::vector<std::vector<SQLLEN>> indicators_;
  std::string piece_;
};

}  // namespace tabulon::data
