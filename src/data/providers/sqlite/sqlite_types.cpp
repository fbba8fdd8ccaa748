#include "data/providers/sqlite/sqlite_types.h"

#include <charconv>
#include <cctype>
#include <initializer_list>
#include <limits>

namespace tabulon::data {
namespace {

bool IsAnyOf(std::string_view words, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (words == name) return true;
  }
  return false;
}

bool Contains(std::string_view words, std::string_view part) { return words.find(part) != std::string_view::npos; }

std::uint8_t Byte(std::int64_t value) { return static_cast<std::uint8_t>(value < 0 ? 0 : value > 254 ? 254 : value); }

void SetStorageType(SqliteStorage storage, ColumnInfo& column) {
  switch (storage) {
    case SqliteStorage::kInteger:
      column.type = DBTYPE_I8;
      column.size = 8;
      column.precision = 19;
      column.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
      return;
    case SqliteStorage::kReal:
      column.type = DBTYPE_R8;
      column.size = 8;
      column.precision = 15;
      column.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
      return;
    case SqliteStorage::kBlob:
      column.type = DBTYPE_BYTES;
      column.size = kSqliteLongColumnSize;
      column.flags |= DBCOLUMNFLAGS_ISLONG;
      return;
    case SqliteStorage::kNull:
    case SqliteStorage::kText:
      column.type = DBTYPE_WSTR;
      column.size = kSqliteLongColumnSize;
      column.flags |= DBCOLUMNFLAGS_ISLONG;
      return;
  }
}

void SetFixed(ColumnInfo& column, DbType type, size_t size, std::uint8_t precision) {
  column.type = type;
  column.size = size;
  column.precision = precision;
  column.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
}

// A declared length as a column size; none (or nonsense) is a long column.
void SetSized(ColumnInfo& column, DbType type, const std::vector<std::int64_t>& args) {
  column.type = type;
  if (!args.empty() && args[0] > 0) {
    column.size = static_cast<size_t>(args[0]);
  } else {
    column.size = kSqliteLongColumnSize;
    column.flags |= DBCOLUMNFLAGS_ISLONG;
  }
}

}  // namespace

SqliteDeclaredType ParseSqliteDeclaredType(std::string_view declared) {
  SqliteDeclaredType out;
  std::string_view rest = declared;
  const size_t open = declared.find('(');
  if (open != std::string_view::npos) {
    rest = declared.substr(0, open);
    std::string_view numbers = declared.substr(open + 1);
    numbers = numbers.substr(0, numbers.find(')'));
    while (!numbers.empty()) {
      const size_t comma = numbers.find(',');
      std::string_view item = numbers.substr(0, comma);
      while (!item.empty() && std::isspace(static_cast<unsigned char>(item.front()))) item.remove_prefix(1);
      while (!item.empty() && std::isspace(static_cast<unsigned char>(item.back()))) item.remove_suffix(1);
      std::int64_t n = 0;
      if (!item.empty() && item.front() == '+') item.remove_prefix(1);
      const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), n);
      out.args.push_back(error == std::errc() && end == item.data() + item.size() ? n : -1);
      if (comma == std::string_view::npos) break;
      numbers.remove_prefix(comma + 1);
    }
  }
  for (char c : rest) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.words.empty() && out.words.back() != ' ') out.words += ' ';
    } else {
      out.words += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  if (!out.words.empty() && out.words.back() == ' ') out.words.pop_back();
  return out;
}

SqliteTypeKind ClassifySqliteType(const SqliteDeclaredType& type) {
  const std::string_view w = type.words;
  if (w.empty()) return SqliteTypeKind::kNone;
  if (IsAnyOf(w, {"BOOLEAN", "BOOL", "BIT", "LOGICAL"})) return SqliteTypeKind::kBoolean;
  if (w == "DATE") return SqliteTypeKind::kDate;
  if (IsAnyOf(w, {"DATETIME", "TIMESTAMP", "SMALLDATETIME", "DATETIME2"})) return SqliteTypeKind::kDateTime;
  if (w == "TIME") return SqliteTypeKind::kTime;
  if (IsAnyOf(w, {"DECIMAL", "NUMERIC", "DEC"})) return SqliteTypeKind::kDecimal;
  if (IsAnyOf(w, {"MONEY", "SMALLMONEY", "CURRENCY"})) return SqliteTypeKind::kMoney;
  if (Contains(w, "INT")) {
    if (IsAnyOf(w, {"TINYINT", "INT1", "UNSIGNED TINYINT"})) return SqliteTypeKind::kTinyInt;
    if (IsAnyOf(w, {"SMALLINT", "INT2"})) return SqliteTypeKind::kSmallInt;
    if (IsAnyOf(w, {"BIGINT", "INT8", "UNSIGNED BIG INT", "UNSIGNED BIGINT"})) return SqliteTypeKind::kBigInt;
    return SqliteTypeKind::kInt;
  }
  if (Contains(w, "CHAR") || Contains(w, "CLOB") || Contains(w, "TEXT")) return SqliteTypeKind::kText;
  if (Contains(w, "BLOB") || IsAnyOf(w, {"BINARY", "VARBINARY"})) return SqliteTypeKind::kBlob;
  if (Contains(w, "REAL") || Contains(w, "FLOA") || Contains(w, "DOUB")) return SqliteTypeKind::kReal;
  return SqliteTypeKind::kOther;
}

void MapSqliteColumn(std::string_view declared, SqliteStorage first_value, ColumnInfo& column) {
  column.flags = DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
  column.precision = kNotApplicable;
  column.scale = kNotApplicable;
  const SqliteDeclaredType type = ParseSqliteDeclaredType(declared);
  switch (ClassifySqliteType(type)) {
    case SqliteTypeKind::kBoolean: SetFixed(column, DBTYPE_BOOL, 2, kNotApplicable); return;
    case SqliteTypeKind::kTinyInt: SetFixed(column, DBTYPE_UI1, 1, 3); return;
    case SqliteTypeKind::kSmallInt: SetFixed(column, DBTYPE_I2, 2, 5); return;
    case SqliteTypeKind::kInt: SetFixed(column, DBTYPE_I4, 4, 10); return;
    case SqliteTypeKind::kBigInt: SetFixed(column, DBTYPE_I8, 8, 19); return;
    case SqliteTypeKind::kReal: SetFixed(column, DBTYPE_R8, 8, 15); return;
    case SqliteTypeKind::kMoney: SetFixed(column, DBTYPE_CY, 8, 19); return;
    case SqliteTypeKind::kDecimal:
      SetFixed(column, DBTYPE_NUMERIC, 19, type.args.empty() ? 18 : Byte(type.args[0]));
      column.scale = type.args.size() < 2 ? 0 : Byte(type.args[1]);
      return;
    case SqliteTypeKind::kDate: SetFixed(column, DBTYPE_DBDATE, 6, kNotApplicable); return;
    case SqliteTypeKind::kDateTime: SetFixed(column, DBTYPE_DBTIMESTAMP, 16, kNotApplicable); return;
    case SqliteTypeKind::kTime: SetFixed(column, DBTYPE_DBTIME, 6, kNotApplicable); return;
    case SqliteTypeKind::kText: SetSized(column, DBTYPE_WSTR, type.args); return;
    case SqliteTypeKind::kBlob: SetSized(column, DBTYPE_BYTES, type.args); return;
    case SqliteTypeKind::kNone:
    case SqliteTypeKind::kOther: SetStorageType(first_value, column); return;
  }
}

std::string SqliteRealText(double value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  if (error != std::errc()) return std::to_string(value);
  return std::string(text, end);
}

std::string HexDigits(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

std::string SqliteCatalogName(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const size_t dot = path.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
  return std::string(path);
}

}  // namespace tabulon::data
