// Conversion of SQL literals to the values of a column, the way Jet converts them, except that
// nothing is silently changed: a value the column cannot hold exactly is an error naming the
// column (a fraction for an integer column, a fifth decimal for Currency, a number beyond the
// column's range, an impossible date).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "jet/schema.h"
#include "jetsql/ast.h"

namespace tabulon::jetsql {

// The value `literal` gives in `column`. Strings are converted to numbers, dates, GUIDs and
// booleans; a string "0x..." of hex digits and a binary literal give bytes for Binary and OLE
// columns; numbers and TRUE/FALSE (-1/0) give text in Text and Memo columns.
Result<jet::Value> ConvertLiteral(const Literal& literal, const jet::ColumnDefinition& column);

// Date and time text as Jet reads it: "2024-01-31", "2024-01-31 13:45:10.250",
// "2024-01-31T13:45:10", "1/31/2024 1:45:10 PM", "13:45" (a time alone is on 1899-12-30).
// Fractions of a second are kept to the millisecond (rounded). Days since 1899-12-30 as Jet
// stores them; nullopt when the text is not a valid date.
std::optional<double> ParseDateText(std::string_view text);

// Days since 1899-12-30 as Jet stores them of a valid civil date (years 100 to 9999) and a time
// of day in milliseconds (a full day or more moves to the next day).
double DaysFromParts(int year, int month, int day, int64_t time_ms);

// Orders two values the way Jet compares them in a condition: numbers (and Yes/No as -1/0,
// dates as days) by value, text without regard to case, bytes and GUIDs bytewise; text against
// a number or a date is read as one. nullopt when either is NULL; an error when the two cannot
// be compared.
Result<std::optional<int>> CompareValues(const jet::Value& a, const jet::Value& b);

// The value of a literal in a condition (no column type to convert to): strings stay text,
// numbers are Double, dates DateTime, TRUE/FALSE Yes/No.
jet::Value LiteralValue(const Literal& literal);

}  // namespace tabulon::jetsql
