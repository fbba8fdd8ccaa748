// Row transfer: the rows of a SQLite table become one INSERT each on the target, written by
// the shared row copy with a writer per column chosen from its Access type.
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "data/error_text.h"
#include "jet/values.h"
#include "data/statement.h"
#include "source_common/access_statements.h"
#include "source_common/row_copy.h"
#include "source_sqlite/columns.h"

namespace tabulon::source_sqlite {

using namespace data;
using namespace workspace;

namespace {

constexpr std::int64_t kMsPerDay = 86400000;

std::int64_t DaysInMonth(std::int64_t y, std::int64_t m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// Reads `count` digits at `pos` of `s`.
bool Digits(std::string_view s, size_t& pos, size_t count, std::int64_t& value) {
  if (pos + count > s.size()) return false;
  value = 0;
  for (size_t k = 0; k < count; ++k) {
    const char c = s[pos + k];
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return true;
}

bool Expect(std::string_view s, size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

// Milliseconds since 1970-01-01 00:00 UTC of a date text in SQLite's formats.
std::optional<std::int64_t> ParseDateText(std::string_view s) {
  size_t pos = 0;
  std::int64_t days = jet::DaysFromCivil(1899, 12, 30);
  std::int64_t y, mo, d;
  const bool has_date = s.size() >= 10 && s[4] == '-';
  if (has_date) {
    if (!Digits(s, pos, 4, y) || !Expect(s, pos, '-') || !Digits(s, pos, 2, mo) || !Expect(s, pos, '-') ||
        !Digits(s, pos, 2, d)) {
      return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo)) return std::nullopt;
    days = jet::DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    if (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T' || s[pos] == 't')) {
      while (pos < s.size() && s[pos] == ' ') ++pos;
      if (pos < s.size() && (s[pos] == 'T' || s[pos] == 't')) ++pos;
    }
  }
  std::int64_t h = 0, mi = 0, sec = 0, ms = 0;
  if (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
    if (!Digits(s, pos, 2, h) || !Expect(s, pos, ':') || !Digits(s, pos, 2, mi)) return std::nullopt;
    if (pos < s.size() && s[pos] == ':') {
      ++pos;
      if (!Digits(s, pos, 2, sec)) return std::nullopt;
      if (pos < s.size() && s[pos] == '.') {
        ++pos;
        std::int64_t scale = 100, digits = 0;
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
          const int digit = s[pos++] - '0';
          if (scale >= 1) ms += digit * scale;
          if (scale == 0 && digits == 3 && digit >= 5) ++ms;  // rounded to the millisecond
          scale /= 10;
          ++digits;
        }
        if (digits == 0) return std::nullopt;
      }
    }
    if (h > 23 || mi > 59 || sec > 59) return std::nullopt;
  } else if (!has_date) {
    return std::nullopt;
  }
  while (pos < s.size() && s[pos] == ' ') ++pos;
  std::int64_t offset = 0;
  if (pos < s.size() && (s[pos] == 'Z' || s[pos] == 'z')) {
    ++pos;
  } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    const bool minus = s[pos++] == '-';
    std::int64_t oh, om;
    if (!Digits(s, pos, 2, oh) || !Expect(s, pos, ':') || !Digits(s, pos, 2, om) || oh > 23 || om > 59) {
      return std::nullopt;
    }
    offset = (oh * 60 + om) * 60000 * (minus ? -1 : 1);
  }
  if (pos != s.size()) return std::nullopt;
  return days * kMsPerDay + ((h * 60 + mi) * 60 + sec) * 1000 + ms - offset;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string SelectExpression(const SourceColumn& column) {
  const std::string name = QuoteSqliteName(column.name);
  // Binary values are read as hexadecimal digits, whatever their storage class (hex() makes
  // NULL an empty text: NULL stays NULL).
  if (column.access.form != ValueForm::kBinary) return name;
  return "case when " + name + " is null then null else hex(" + name + ") end";
}

Status WriteDate(std::string& out, std::string_view value) {
  Result<std::string> literal = AccessDateLiteral(value);
  if (!literal.ok()) return literal.status();
  out += *literal;
  return Status::Ok();
}

source_common::LiteralWriter WriterFor(ValueForm form) {
  switch (form) {
    case ValueForm::kNumber: return source_common::WriteNumberLiteral;
    case ValueForm::kBinary: return source_common::WriteBinaryLiteral;
    case ValueForm::kDate: return WriteDate;
    case ValueForm::kText: break;
  }
  return source_common::WriteTextLiteral;
}

}  // namespace

Result<std::string> AccessDateLiteral(std::string_view stored) {
  const std::string_view text = TrimBlanks(stored);
  std::optional<std::int64_t> ms;
  if (source_common::IsNumberLiteral(text)) {
    const double v = std::strtod(std::string(text).c_str(), nullptr);
    // Julian day numbers as SQLite's "auto" reads them; larger numbers are Unix seconds.
    const double unix_ms = v >= 0 && v < 5373484.5 ? (v - 2440587.5) * 86400000.0 : v * 1000.0;
    if (std::isfinite(unix_ms) && std::fabs(unix_ms) < 1e15) ms = std::llround(unix_ms);
  } else {
    ms = ParseDateText(text);
  }
  if (!ms) return InvalidArgumentError("'" + std::string(stored) + "' cannot be read as a date");
  std::int64_t days = *ms / kMsPerDay, rest = *ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  std::int64_t y;
  unsigned m, d;
  jet::CivilFromDays(days, y, m, d);
  if (y < 100 || y > 9999) {
    return InvalidArgumentError("'" + std::string(stored) + "' is outside the dates Access holds (years 100 to 9999)");
  }
  // Formatted by hand: this runs for every date of every row.
  const std::int64_t seconds = rest / 1000, fraction = rest % 1000;
  std::string literal = "#0000-00-00 00:00:00";
  const auto put = [&literal](size_t end, std::int64_t value) {
    for (size_t at = end; value > 0; value /= 10) literal[--at] = static_cast<char>('0' + value % 10);
  };
  put(5, y);
  put(8, m);
  put(11, d);
  put(14, seconds / 3600);
  put(17, seconds / 60 % 60);
  put(20, seconds % 60);
  if (fraction != 0) {
    literal += ".000";
    put(24, fraction);
  }
  literal += '#';
  return literal;
}

Status OpenCopyRows(const SourceContext& owner, Session* source, std::string_view database, const SourceTable& table,
                    TextRowset* rows, std::vector<source_common::LiteralWriter>* writers) {
  Result<std::vector<SourceColumn>> columns =
      ReadColumns(source, table, source_common::TargetIsJet(owner), true, source_common::UserTypeMap(owner));
  if (!columns.ok()) return ProviderError(columns.status().message());
  // Without columns the table is unknown: the select below says so in SQLite's words.
  std::string sql = "select ";
  writers->clear();
  for (const SourceColumn& c : *columns) {
    if (!writers->empty()) sql += ", ";
    sql += SelectExpression(c);
    writers->push_back(WriterFor(c.access.form));
  }
  if (writers->empty()) sql += "*";
  sql += " from " + QuoteSqliteName(table.name);
  const std::string condition = source_common::MigrationCondition(owner, database, table.name);
  if (!condition.empty()) sql += " where " + condition;
  if (OpenTextRowset(source, sql, rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows->error_source()));
  }
  return Status::Ok();
}

Result<source_common::RowCopyCounts> TransferTableRows(const SourceContext& owner, Session* source, Session* target,
                                                       std::string_view database, const SourceTable& table) {
  return source_common::CopyTableRows(owner, source, target, database, table, OpenCopyRows);
}

}  // namespace tabulon::source_sqlite
