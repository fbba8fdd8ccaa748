// Row transfer: the rows of a SQLite table, read as typed values, go through the shared row copy
// with a writer per column chosen from its Access form.
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
  // Binary columns are read as bytes whatever the storage class of a value (numbers and text as
  // the bytes of their text); NULL stays NULL.
  if (column.access.form != ValueForm::kBinary) return name;
  return "cast(" + name + " as blob)";
}

// Milliseconds since 1970-01-01 00:00 UTC of a stored date: text in SQLite's formats, or a
// number (Julian day number below 5373484.5, else Unix seconds).
std::optional<std::int64_t> StoredDateMs(const Field& value) {
  double number = 0;
  if (value.kind == Field::Kind::kInteger) {
    number = static_cast<double>(value.integer);
  } else if (value.kind == Field::Kind::kDouble) {
    number = value.real;
  } else {
    const std::string shown = value.kind == Field::Kind::kText ? std::string() : FieldText(value);
    const std::string_view text = TrimBlanks(value.kind == Field::Kind::kText ? std::string_view(value.text) : shown);
    if (!source_common::IsNumberLiteral(text)) return ParseDateText(text);
    number = std::strtod(std::string(text).c_str(), nullptr);
  }
  const double unix_ms = number >= 0 && number < 5373484.5 ? (number - 2440587.5) * 86400000.0 : number * 1000.0;
  if (!std::isfinite(unix_ms) || std::fabs(unix_ms) >= 1e15) return std::nullopt;
  return std::llround(unix_ms);
}

Status WriteDate(const Field& value, Field& out) {
  ASSIGN_OR_RETURN(DateParts date, AccessDate(value));
  out.SetDate(date);
  return Status::Ok();
}

source_common::FieldWriter WriterFor(ValueForm form) {
  switch (form) {
    case ValueForm::kNumber: return source_common::WriteNumberField;
    case ValueForm::kBinary: return source_common::WriteBinaryField;
    case ValueForm::kDate: return WriteDate;
    case ValueForm::kText: break;
  }
  return source_common::WriteTextField;
}

}  // namespace

Result<DateParts> AccessDate(const Field& stored) {
  const std::optional<std::int64_t> ms = StoredDateMs(stored);
  const auto shown = [&stored] { return "'" + FieldText(stored) + "'"; };
  if (!ms) return InvalidArgumentError(shown() + " cannot be read as a date");
  std::int64_t days = *ms / kMsPerDay, rest = *ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  std::int64_t y;
  unsigned m, d;
  jet::CivilFromDays(days, y, m, d);
  if (y < 100 || y > 9999) return InvalidArgumentError(shown() + " is outside the dates Access holds (years 100 to 9999)");
  const std::int64_t seconds = rest / 1000;
  DateParts date;
  date.year = static_cast<std::int16_t>(y);
  date.month = static_cast<std::uint8_t>(m);
  date.day = static_cast<std::uint8_t>(d);
  date.hour = static_cast<std::uint8_t>(seconds / 3600);
  date.minute = static_cast<std::uint8_t>(seconds / 60 % 60);
  date.second = static_cast<std::uint8_t>(seconds % 60);
  date.fraction_ns = static_cast<std::uint32_t>(rest % 1000) * 1'000'000u;
  return date;
}

Result<std::string> AccessDateLiteral(std::string_view stored) {
  Field value;
  value.SetText(Field::Kind::kText, stored);
  ASSIGN_OR_RETURN(DateParts date, AccessDate(value));
  Field field;
  field.SetDate(date);
  return "#" + FieldText(field) + "#";
}

Status OpenCopyRows(const SourceContext& owner, Session* source, std::string_view database, const SourceTable& table,
                    source_common::CopySource* rows) {
  Result<std::vector<SourceColumn>> columns =
      ReadColumns(source, table, source_common::TargetIsJet(owner), true, source_common::UserTypeMap(owner));
  if (!columns.ok()) return ProviderError(columns.status().message());
  // Without columns the table is unknown: the select below says so in SQLite's words.
  std::string sql = "select ";
  std::vector<source_common::FieldWriter>& writers = rows->writers;
  writers.clear();
  for (const SourceColumn& c : *columns) {
    if (!writers.empty()) sql += ", ";
    sql += SelectExpression(c);
    writers.push_back(WriterFor(c.access.form));
  }
  if (writers.empty()) sql += "*";
  sql += " from " + QuoteSqliteName(table.name);
  const std::string condition = source_common::MigrationCondition(owner, database, table.name);
  if (!condition.empty()) sql += " where " + condition;
  if (OpenTextRowset(source, sql, &rows->rows, {.full_values = true, .typed = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows->rows.error_source()));
  }
  return Status::Ok();
}

Result<source_common::RowCopyCounts> TransferTableRows(const SourceContext& owner, Session* source, Session* target,
                                                       std::string_view database, const SourceTable& table) {
  return source_common::CopyTableRows(owner, source, target, database, table, OpenCopyRows);
}

}  // namespace tabulon::source_sqlite
