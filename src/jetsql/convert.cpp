#include "jetsql/convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/text.h"
#include "jet/values.h"

namespace tabulon::jetsql {
namespace {

using jet::ColumnDefinition;
using jet::ColumnType;
using jet::Value;

__extension__ typedef __int128 Int128;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Shown(std::string_view text) {
  if (text.size() > 60) return "'" + std::string(text.substr(0, 57)) + "...'";
  return "'" + std::string(text) + "'";
}

Status ColumnError(const ColumnDefinition& column, const std::string& what) {
  return InvalidArgumentError("column '" + column.name + "' (" + jet::ColumnTypeName(column.type) + "): " + what);
}

// A decimal number split into sign, integer digits and fraction digits, with any exponent
// applied, leading zeros of the integer part and trailing zeros of the fraction removed.
struct ExactNumber {
  bool negative = false;
  std::string integer;   // "" for zero
  std::string fraction;  // "" when whole
};

std::optional<ExactNumber> ParseExactNumber(std::string_view text) {
  text = Trim(text);
  ExactNumber n;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) n.negative = text[i++] == '-';
  std::string digits;
  long point = -1;
  for (; i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.'); ++i) {
    if (text[i] == '.') {
      if (point >= 0) return std::nullopt;
      point = static_cast<long>(digits.size());
    } else {
      digits.push_back(text[i]);
    }
  }
  if (digits.empty()) return std::nullopt;
  if (point < 0) point = static_cast<long>(digits.size());
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    long exponent = 0;
    auto [end, ec] = std::from_chars(text.data() + i + 1 + (i + 1 < text.size() && text[i + 1] == '+'),
                                     text.data() + text.size(), exponent);
    if (ec != std::errc() || end != text.data() + text.size() || exponent > 400 || exponent < -400) {
      return std::nullopt;
    }
    point += exponent;
    i = text.size();
  }
  if (i != text.size()) return std::nullopt;
  if (point < 0) {
    digits.insert(0, static_cast<size_t>(-point), '0');
    point = 0;
  }
  if (point > static_cast<long>(digits.size())) {
    digits.append(static_cast<size_t>(point) - digits.size(), '0');
  }
  n.integer = digits.substr(0, static_cast<size_t>(point));
  n.fraction = digits.substr(static_cast<size_t>(point));
  n.integer.erase(
      0, n.integer.find_first_not_of('0') == std::string::npos ? n.integer.size() : n.integer.find_first_not_of('0'));
  while (!n.fraction.empty() && n.fraction.back() == '0') n.fraction.pop_back();
  if (n.integer.empty() && n.fraction.empty()) n.negative = false;
  return n;
}

// The whole number of `n` when it has no fraction and fits 64 bits.
std::optional<int64_t> WholeNumber(const ExactNumber& n) {
  if (!n.fraction.empty() || n.integer.size() > 19) return std::nullopt;
  Int128 v = 0;
  for (char c : n.integer) v = v * 10 + (c - '0');
  if (n.negative) v = -v;
  if (v > std::numeric_limits<int64_t>::max() || v < std::numeric_limits<int64_t>::min()) {
    return std::nullopt;
  }
  return static_cast<int64_t>(v);
}

// Text that is meant as a number: a numeric literal, or a string holding one.
Result<ExactNumber> NumberOf(const Literal& literal, const ColumnDefinition& column) {
  auto n = ParseExactNumber(literal.text);
  if (!n) return ColumnError(column, Shown(literal.text) + " is not a number");
  return *n;
}

// A number literal of at most 18 plain digits (and a minus), read directly: the common case
// of the exact reading below.
std::optional<int64_t> PlainInteger(const Literal& literal) {
  if (literal.kind != Literal::Kind::kNumber) return std::nullopt;
  std::string_view text = literal.text;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return negative ? -v : v;
}

Result<Value> ToInteger(const Literal& literal, const ColumnDefinition& column, int64_t low, int64_t high) {
  int64_t v = 0;
  if (literal.kind == Literal::Kind::kBoolean) {
    v = literal.boolean ? -1 : 0;
  } else if (const std::optional<int64_t> plain = PlainInteger(literal); plain && *plain >= low && *plain <= high) {
    v = *plain;
  } else {
    ASSIGN_OR_RETURN(ExactNumber n, NumberOf(literal, column));
    if (!n.fraction.empty()) {
      return ColumnError(column, Shown(literal.text) + " is not a whole number");
    }
    auto whole = WholeNumber(n);
    if (!whole || *whole < low || *whole > high) {
      return ColumnError(column, Shown(literal.text) + " is out of range (" + std::to_string(low) + " to " +
                                     std::to_string(high) + ")");
    }
    v = *whole;
  }
  if (v < low || v > high) {
    return ColumnError(
        column, std::to_string(v) + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
  }
  switch (column.type) {
    case ColumnType::kByte: return Value(static_cast<uint8_t>(v));
    case ColumnType::kInteger: return Value(static_cast<int16_t>(v));
    default: return Value(static_cast<int32_t>(v));
  }
}

Result<Value> ToCurrency(const Literal& literal, const ColumnDefinition& column) {
  if (literal.kind == Literal::Kind::kBoolean) {
    return Value(jet::Currency{literal.boolean ? -10000 : 0});
  }
  ASSIGN_OR_RETURN(ExactNumber n, NumberOf(literal, column));
  if (n.fraction.size() > 4) {
    return ColumnError(column, Shown(literal.text) + " has more than 4 decimals");
  }
  std::string fraction = n.fraction;
  fraction.resize(4, '0');
  const Int128 limit = Int128{std::numeric_limits<int64_t>::max()};
  Int128 v = 0;
  bool overflow = n.integer.size() > 16;
  for (char c : n.integer + fraction) {
    if (overflow) break;
    v = v * 10 + (c - '0');
    overflow = v > limit + 1;
  }
  if (n.negative) v = -v;
  if (overflow || v > limit || v < -limit - 1) {
    return ColumnError(column, Shown(literal.text) + " is out of range for Currency");
  }
  return Value(jet::Currency{static_cast<int64_t>(v)});
}

Result<Value> ToDecimal(const Literal& literal, const ColumnDefinition& column) {
  ExactNumber n;
  if (literal.kind == Literal::Kind::kBoolean) {
    n.negative = literal.boolean;
    n.integer = literal.boolean ? "1" : "";
  } else {
    ASSIGN_OR_RETURN(n, NumberOf(literal, column));
  }
  if (n.fraction.size() > column.scale) {
    return ColumnError(column, Shown(literal.text) + " has more than " + std::to_string(column.scale) + " decimals");
  }
  if (n.integer.size() + column.scale > column.precision) {
    return ColumnError(column, Shown(literal.text) + " has more than " +
                                   std::to_string(column.precision - column.scale) + " digits before the point");
  }
  std::string text = (n.negative ? "-" : "") + (n.integer.empty() ? "0" : n.integer);
  if (!n.fraction.empty()) text += "." + n.fraction;
  auto d = jet::Decimal::Parse(text, column.scale);
  if (!d) return ColumnError(column, Shown(literal.text) + " is out of range");
  return Value(*d);
}

Result<Value> ToFloating(const Literal& literal, const ColumnDefinition& column) {
  const bool single = column.type == ColumnType::kSingle;
  if (literal.kind == Literal::Kind::kBoolean) {
    const double v = literal.boolean ? -1 : 0;
    return single ? Value(static_cast<float>(v)) : Value(v);
  }
  std::string_view text = Trim(literal.text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const char* begin = text.data();
  const char* end = begin + text.size();
  std::from_chars_result result{};
  Value value;
  if (single) {
    float f = 0;
    result = std::from_chars(begin, end, f);
    value = f;
  } else {
    double d = 0;
    result = std::from_chars(begin, end, d);
    value = d;
  }
  // from_chars also reads "inf" and "nan", which are no numbers in SQL.
  // A number token is always in exact form; other text is checked.
  if (result.ec == std::errc::invalid_argument || result.ptr != end || text.empty() ||
      (literal.kind != Literal::Kind::kNumber && !ParseExactNumber(text))) {
    return ColumnError(column, Shown(literal.text) + " is not a number");
  }
  if (result.ec == std::errc::result_out_of_range) {
    // Underflow to zero is out of range too: the value would change beyond recognition.
    return ColumnError(column, Shown(literal.text) + " is out of range for " + (single ? "Single" : "Double"));
  }
  return value;
}

Result<Value> ToBoolean(const Literal& literal, const ColumnDefinition& column) {
  if (literal.kind == Literal::Kind::kBoolean) return Value(literal.boolean);
  if (literal.kind == Literal::Kind::kString) {
    const std::string word = AsciiLower(Trim(literal.text));
    if (word == "true" || word == "yes" || word == "on") return Value(true);
    if (word == "false" || word == "no" || word == "off") return Value(false);
  }
  auto n = ParseExactNumber(literal.text);
  if (!n) return ColumnError(column, Shown(literal.text) + " is not a Yes/No value");
  return Value(!n->integer.empty() || !n->fraction.empty());
}

Result<Value> ToDateTime(const Literal& literal, const ColumnDefinition& column) {
  if (literal.kind == Literal::Kind::kNumber) {
    // A number is a day count, as in Jet.
    double days = 0;
    auto [end, ec] = std::from_chars(literal.text.data(), literal.text.data() + literal.text.size(), days);
    if (ec != std::errc() || end != literal.text.data() + literal.text.size() || std::fabs(days) > 2958465.0 + 1) {
      return ColumnError(column, Shown(literal.text) + " is not a date");
    }
    return Value(jet::DateTime{days});
  }
  if (literal.kind == Literal::Kind::kBoolean) return Value(jet::DateTime{literal.boolean ? -1.0 : 0.0});
  auto days = ParseDateText(literal.text);
  if (!days) return ColumnError(column, Shown(literal.text) + " is not a date");
  return Value(jet::DateTime{*days});
}

// Bytes from "0x0A0B" text; nullopt when the text is not of that form.
std::optional<std::string> HexText(std::string_view text) {
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || text.size() % 2 != 0) {
    return std::nullopt;
  }
  std::string out;
  out.reserve(text.size() / 2 - 1);
  for (size_t i = 2; i < text.size(); i += 2) {
    int byte = 0;
    for (size_t k = i; k < i + 2; ++k) {
      const char c = text[k];
      int v = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (v < 0) return std::nullopt;
      byte = byte * 16 + v;
    }
    out.push_back(static_cast<char>(byte));
  }
  return out;
}

Result<Value> ToBytes(const Literal& literal, const ColumnDefinition& column) {
  if (literal.kind == Literal::Kind::kBinary) return Value(jet::Bytes{literal.text});
  if (literal.kind == Literal::Kind::kString) {
    if (auto bytes = HexText(literal.text)) return Value(jet::Bytes{std::move(*bytes)});
    // Other text is stored as Jet stores it in a binary field: its UTF-16LE code units.
    ASSIGN_OR_RETURN(std::u16string utf16, Utf8ToUtf16(literal.text));
    std::string bytes;
    AppendUtf16Le(utf16, bytes);
    return Value(jet::Bytes{std::move(bytes)});
  }
  return ColumnError(column, "a number is no binary value");
}

Result<Value> ToText(const Literal& literal, const ColumnDefinition& column) {
  switch (literal.kind) {
    case Literal::Kind::kString: return Value(literal.text);
    case Literal::Kind::kNumber: return Value(literal.text);
    case Literal::Kind::kBoolean: return Value(std::string(literal.boolean ? "-1" : "0"));
    case Literal::Kind::kDate: {
      auto days = ParseDateText(literal.text);
      if (!days) return ColumnError(column, "#" + literal.text + "# is not a date");
      return Value(jet::FormatDateTime(*days));
    }
    default: return ColumnError(column, "a binary value cannot be stored as text");
  }
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

// Reads 1 to `max` digits at `pos`.
bool ReadNumber(std::string_view text, size_t& pos, size_t max, int& out, size_t* count = nullptr) {
  const size_t start = pos;
  out = 0;
  while (pos < text.size() && pos - start < max && text[pos] >= '0' && text[pos] <= '9') {
    out = out * 10 + (text[pos++] - '0');
  }
  if (count) *count = pos - start;
  return pos > start;
}

// "H:MM[:SS[.fff...]][ AM|PM]" from `pos` to the end; milliseconds since midnight.
std::optional<int64_t> ParseTimeText(std::string_view text, size_t pos) {
  int h = 0, m = 0, s = 0;
  int64_t fraction_ms = 0;
  if (!ReadNumber(text, pos, 2, h) || pos >= text.size() || text[pos++] != ':' || !ReadNumber(text, pos, 2, m)) {
    return std::nullopt;
  }
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadNumber(text, pos, 2, s)) return std::nullopt;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      const size_t start = pos;
      int64_t scaled = 0;  // the first four digits, for rounding to the millisecond
      size_t digits = 0;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (digits < 4) scaled = scaled * 10 + (text[pos] - '0');
        ++digits;
        ++pos;
      }
      if (pos == start) return std::nullopt;
      for (size_t k = digits; k < 4; ++k) scaled *= 10;
      fraction_ms = (scaled + 5) / 10;
    }
  }
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos < text.size()) {
    const std::string suffix = AsciiLower(text.substr(pos));
    if (suffix != "am" && suffix != "pm") return std::nullopt;
    if (h < 1 || h > 12) return std::nullopt;
    h = h % 12 + (suffix == "pm" ? 12 : 0);
  }
  if (h > 23 || m > 59 || s > 59) return std::nullopt;
  return ((int64_t{h} * 60 + m) * 60 + s) * 1000 + fraction_ms;
}

double NumberClass(const Value& v, bool& ok) {
  ok = true;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? -1 : 0;
  if (const auto* x = std::get_if<uint8_t>(&v)) return *x;
  if (const auto* x = std::get_if<int16_t>(&v)) return *x;
  if (const auto* x = std::get_if<int32_t>(&v)) return *x;
  if (const auto* x = std::get_if<jet::Currency>(&v)) return static_cast<double>(x->scaled) / 10000.0;
  if (const auto* x = std::get_if<float>(&v)) return *x;
  if (const auto* x = std::get_if<double>(&v)) return *x;
  if (const auto* x = std::get_if<jet::DateTime>(&v)) return x->days;
  if (const auto* x = std::get_if<jet::Decimal>(&v)) return std::strtod(x->ToString().c_str(), nullptr);
  ok = false;
  return 0;
}

int Sign(double a, double b) { return a < b ? -1 : a > b ? 1 : 0; }

}  // namespace

std::optional<double> ParseDateText(std::string_view text) {
  text = Trim(text);
  size_t pos = 0;
  int a = 0, b = 0, c = 0;
  size_t a_digits = 0, c_digits = 0;
  int year = 1899, month = 12, day = 30;
  bool has_date = false;
  if (ReadNumber(text, pos, 4, a, &a_digits) && pos < text.size() && (text[pos] == '-' || text[pos] == '/')) {
    const char separator = text[pos++];
    if (!ReadNumber(text, pos, 2, b) || pos >= text.size() || text[pos++] != separator ||
        !ReadNumber(text, pos, 4, c, &c_digits)) {
      return std::nullopt;
    }
    if (a_digits == 4) {  // year first: 2024-01-31, 2024/01/31
      if (c_digits > 2) return std::nullopt;
      year = a, month = b, day = c;
    } else if (separator == '/') {  // US order: 1/31/2024, 1/31/24
      if (c_digits == 2) {
        year = c < 30 ? 2000 + c : 1900 + c;
      } else if (c_digits == 4) {
        year = c;
      } else {
        return std::nullopt;
      }
      month = a, day = b;
    } else {
      return std::nullopt;
    }
    has_date = true;
    if (year < 100 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
      return std::nullopt;
    }
  } else {
    pos = 0;  // a time alone
  }
  int64_t time_ms = 0;
  if (pos < text.size()) {
    if (has_date) {
      if (text[pos] != ' ' && text[pos] != 'T') return std::nullopt;
      while (pos < text.size() && text[pos] == ' ') ++pos;
      if (pos < text.size() && text[pos] == 'T') ++pos;
    }
    auto time = ParseTimeText(text, pos);
    if (!time) return std::nullopt;
    time_ms = *time;
  } else if (!has_date) {
    return std::nullopt;
  }
  return DaysFromParts(year, month, day, time_ms);
}

double DaysFromParts(int year, int month, int day, int64_t time_ms) {
  // 1970-01-01 is day 25569.
  constexpr int64_t kMsPerDay = 86'400'000;
  int64_t whole = jet::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + 25569;
  if (time_ms >= kMsPerDay) {  // a fraction rounded up past midnight
    time_ms -= kMsPerDay;
    whole += 1;
  }
  const double time = static_cast<double>(time_ms) / kMsPerDay;
  // Jet keeps the time positive within the day: before 1899-12-30 it is subtracted.
  return whole >= 0 ? static_cast<double>(whole) + time : static_cast<double>(whole) - time;
}

Result<Value> ConvertLiteral(const Literal& literal, const ColumnDefinition& column) {
  if (literal.kind == Literal::Kind::kNull) return Value(jet::Null{});
  if (literal.kind == Literal::Kind::kBinary && column.type != ColumnType::kBinary && column.type != ColumnType::kOle &&
      column.type != ColumnType::kGuid) {
    return ColumnError(column, "a binary value fits only Binary and OLE columns");
  }
  if (literal.kind == Literal::Kind::kDate && column.type != ColumnType::kDateTime &&
      column.type != ColumnType::kText && column.type != ColumnType::kMemo) {
    return ColumnError(column, "#" + literal.text + "# is a date");
  }
  switch (column.type) {
    case ColumnType::kBoolean: return ToBoolean(literal, column);
    case ColumnType::kByte: return ToInteger(literal, column, 0, 255);
    case ColumnType::kInteger: return ToInteger(literal, column, -32768, 32767);
    case ColumnType::kLong:
      return ToInteger(literal, column, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    case ColumnType::kCurrency: return ToCurrency(literal, column);
    case ColumnType::kNumeric: return ToDecimal(literal, column);
    case ColumnType::kSingle:
    case ColumnType::kDouble: return ToFloating(literal, column);
    case ColumnType::kDateTime: return ToDateTime(literal, column);
    case ColumnType::kText:
    case ColumnType::kMemo: return ToText(literal, column);
    case ColumnType::kBinary:
    case ColumnType::kOle: return ToBytes(literal, column);
    case ColumnType::kGuid: {
      if (literal.kind == Literal::Kind::kBinary && literal.text.size() == 16) {
        jet::Guid g;
        std::memcpy(g.bytes.data(), literal.text.data(), 16);
        return Value(g);
      }
      auto guid = literal.kind == Literal::Kind::kString ? jet::ParseGuid(Trim(literal.text)) : std::nullopt;
      if (!guid) return ColumnError(column, Shown(literal.text) + " is not a GUID");
      return Value(*guid);
    }
    default: return ColumnError(column, "values of this column type cannot be written");
  }
}

jet::Value LiteralValue(const Literal& literal) {
  switch (literal.kind) {
    case Literal::Kind::kNull: return jet::Null{};
    case Literal::Kind::kString: return literal.text;
    case Literal::Kind::kNumber: return std::strtod(literal.text.c_str(), nullptr);
    case Literal::Kind::kDate: {
      auto days = ParseDateText(literal.text);
      if (!days) return literal.text;  // compared as text; a bad date matches nothing
      return jet::DateTime{*days};
    }
    case Literal::Kind::kBinary: return jet::Bytes{literal.text};
    case Literal::Kind::kBoolean: return literal.boolean;
  }
  return jet::Null{};
}

Result<std::optional<int>> CompareValues(const Value& a, const Value& b) {
  if (std::holds_alternative<jet::Null>(a) || std::holds_alternative<jet::Null>(b)) {
    return std::optional<int>();
  }
  const auto* text_a = std::get_if<std::string>(&a);
  const auto* text_b = std::get_if<std::string>(&b);
  if (text_a && text_b) {
    const std::string x = AsciiLower(*text_a), y = AsciiLower(*text_b);
    return std::optional<int>(x < y ? -1 : x > y ? 1 : 0);
  }
  bool ok_a = false, ok_b = false;
  double x = NumberClass(a, ok_a), y = NumberClass(b, ok_b);
  if (ok_a && ok_b) return std::optional<int>(Sign(x, y));
  // Text against a number or a date: read the text as one.
  if ((ok_a && text_b) || (ok_b && text_a)) {
    const std::string& text = ok_a ? *text_b : *text_a;
    const bool date = std::holds_alternative<jet::DateTime>(ok_a ? a : b);
    std::optional<double> v;
    if (date) {
      v = ParseDateText(text);
    } else if (ParseExactNumber(text)) {
      v = std::strtod(std::string(Trim(text)).c_str(), nullptr);
    }
    if (!v) return InvalidArgumentError("type mismatch: " + Shown(text) + " is not a " + (date ? "date" : "number"));
    return std::optional<int>(ok_a ? Sign(x, *v) : Sign(*v, y));
  }
  const auto* bytes_a = std::get_if<jet::Bytes>(&a);
  const auto* bytes_b = std::get_if<jet::Bytes>(&b);
  if (bytes_a && bytes_b) {
    const int c = bytes_a->data.compare(bytes_b->data);
    return std::optional<int>(c < 0 ? -1 : c > 0 ? 1 : 0);
  }
  const auto* guid_a = std::get_if<jet::Guid>(&a);
  const auto* guid_b = std::get_if<jet::Guid>(&b);
  if (guid_a || guid_b) {
    std::optional<jet::Guid> ga = guid_a   ? std::optional<jet::Guid>(*guid_a)
                                  : text_a ? jet::ParseGuid(Trim(*text_a))
                                           : std::nullopt;
    std::optional<jet::Guid> gb = guid_b   ? std::optional<jet::Guid>(*guid_b)
                                  : text_b ? jet::ParseGuid(Trim(*text_b))
                                           : std::nullopt;
    if (ga && gb) {
      const std::string sa = jet::FormatGuid(*ga), sb = jet::FormatGuid(*gb);
      return std::optional<int>(sa < sb ? -1 : sa > sb ? 1 : 0);
    }
  }
  return InvalidArgumentError("type mismatch in comparison");
}

}  // namespace tabulon::jetsql
