// SQLite's declared column types, read the way both the SQLite provider and the SQLite source
// adapter need them. SQLite keeps whatever type name a column was declared with and stores each
// value in one of five storage classes: the declared name tells the column's intent, the
// storage class what one value is. Nothing here includes sqlite3.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/provider.h"

namespace tabulon::data {

struct SqliteDeclaredType {
  std::string words;               // upper case, one blank between words, numbers left out
  std::vector<std::int64_t> args;  // the numbers in parentheses: VARCHAR(40) {40}, DECIMAL(10,2) {10,2}
};
SqliteDeclaredType ParseSqliteDeclaredType(std::string_view declared);

// What a declared type stands for. SQLite's own affinity rules decide where no better-known
// name does: a name holding INT is an integer, CHAR/CLOB/TEXT text, BLOB binary,
// REAL/FLOA/DOUB floating point; anything else is kOther (numeric affinity).
enum class SqliteTypeKind {
  kNone,  // no declared type
  kBoolean,
  kTinyInt,
  kSmallInt,
  kInt,
  kBigInt,
  kReal,
  kDecimal,
  kMoney,
  kDate,
  kDateTime,
  kTime,
  kText,
  kBlob,
  kOther,
};
SqliteTypeKind ClassifySqliteType(const SqliteDeclaredType& type);

enum class SqliteStorage { kNull, kInteger, kReal, kText, kBlob };

// Column size of a long column (TEXT, BLOB, no declared length): unlimited.
inline constexpr size_t kSqliteLongColumnSize = ~size_t{0};

// Type, flags, size, precision and scale of a column declared as `declared`; without a declared
// type (or with one of kOther) the storage class of the column's first value decides. Name and
// ordinal are left alone.
void MapSqliteColumn(std::string_view declared, SqliteStorage first_value, ColumnInfo& column);

// The shortest decimal text that reads back as exactly `value` ("0.1", "1e+300", "-0", "inf").
std::string SqliteRealText(double value);
// Upper-case hexadecimal digits of `bytes`.
std::string HexDigits(std::string_view bytes);
// The database name of a SQLite file: its file name without folders and without its last
// extension ("/data/shop.sqlite3" gives "shop").
std::string SqliteCatalogName(std::string_view path);

}  // namespace tabulon::data
