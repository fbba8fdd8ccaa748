// A typed value as it travels between providers on the typed row path: a source hands one out
// per column (Rowset::FetchNextTypedRow) and a target takes a row of them (RowLoader). Each kind
// means what the corresponding Access SQL literal means, so a row loaded from fields becomes the
// same row as the INSERT statement written from them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tabulon::data {

// A calendar date and time as ODBC's timestamp structure gives it.
struct DateParts {
  int16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint32_t fraction_ns = 0;  // nanoseconds, 0 to 999,999,999
};

struct Field {
  enum class Kind : uint8_t {
    kNull,
    kInteger,  // `integer`: a whole number (a number literal of its digits)
    kDouble,   // `real`, finite: a binary floating-point number, kept exactly
    kNumber,   // `text`: an exact number as decimal text ("-12.50", "1e5"), as a number literal
    kText,     // `text`: UTF-8 text, as a string literal
    kBytes,    // `text`: raw bytes, as a binary literal
    kDate,     // `date`: as a date literal of its text (fractions below the millisecond rounded)
    kBoolean,  // `boolean`: as TRUE / FALSE
  };
  Kind kind = Kind::kNull;
  bool boolean = false;
  int64_t integer = 0;
  double real = 0;
  DateParts date;
  std::string text;

  bool is_null() const { return kind == Kind::kNull; }
  void SetNull() { kind = Kind::kNull; }
  void SetInteger(int64_t v) {
    kind = Kind::kInteger;
    integer = v;
  }
  void SetDouble(double v) {
    kind = Kind::kDouble;
    real = v;
  }
  void SetText(Kind k, std::string_view v) {
    kind = k;
    text.assign(v);
  }
  void SetDate(const DateParts& v) {
    kind = Kind::kDate;
    date = v;
  }
  void SetBoolean(bool v) {
    kind = Kind::kBoolean;
    boolean = v;
  }
};

}  // namespace tabulon::data

namespace tabulon::data {

// The text a provider shows for a field: whole numbers in decimal, doubles as the shortest text
// that reads back the same, exact numbers and text as they are, bytes as upper-case hexadecimal
// digits, dates "YYYY-MM-DD HH:MM:SS[.fff[ffffff]]" (milliseconds in three digits, a finer fraction
// without trailing zeros),
// booleans "True" / "False"; "" for NULL.
std::string FieldText(const Field& field);

// Upper-case hexadecimal digits of bytes.
std::string HexText(std::string_view bytes);

}  // namespace tabulon::data
