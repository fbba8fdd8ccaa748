// The value library of Access SQL expressions: operators, scalar functions and aggregates.
#include "jetsql/functions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/text.h"
#include "jet/values.h"
#include "jetsql/convert.h"

namespace tabulon::jetsql {
namespace {

using jet::Value;
__extension__ typedef __int128 Int128;

constexpr double kMinDays = -657434.0;  // 1/1/100
constexpr double kMaxDays = 2958465.0;  // 12/31/9999, before its time of day
constexpr int64_t kJetEpoch = -25569;   // DaysFromCivil(1899, 12, 30)

bool IsNull(const Value& v) { return std::holds_alternative<jet::Null>(v); }
bool IsText(const Value& v) { return std::holds_alternative<std::string>(v); }
bool IsDate(const Value& v) { return std::holds_alternative<jet::DateTime>(v); }

// Whole numbers: Yes/No (-1/0), Byte, Integer, Long.
std::optional<int64_t> WholeOf(const Value& v) {
  if (const bool* b = std::get_if<bool>(&v)) return *b ? -1 : 0;
  if (const uint8_t* b = std::get_if<uint8_t>(&v)) return *b;
  if (const int16_t* i = std::get_if<int16_t>(&v)) return *i;
  if (const int32_t* l = std::get_if<int32_t>(&v)) return *l;
  return std::nullopt;
}

// A value shown in a message: text in quotes, anything else in its text form.
std::string Shown(const Value& v) {
  if (std::holds_alternative<jet::Bytes>(v)) return "binary data";
  auto text = ValueText(v);
  if (!text) return "Null";
  return IsText(v) ? "'" + *text + "'" : *text;
}

Status TypeMismatch(const Value& v, std::string_view what, std::string_view where) {
  return InvalidArgumentError("Type mismatch: " + Shown(v) + " is not " + std::string(what) + " (in " +
                              std::string(where) + ")");
}
Status Overflow(std::string_view where) { return LimitError("Overflow in " + std::string(where)); }
Status InvalidCall(std::string_view detail) {
  return InvalidArgumentError("Invalid procedure call: " + std::string(detail));
}
Status DivisionByZero() { return InvalidArgumentError("Division by zero"); }

std::string Trimmed(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return std::string(text.substr(b, e - b));
}

// Text read as a number the way a conversion reads it: spaces around, a sign, digits with
// thousands commas, a point, an exponent, a leading "$"; "&H1F" and "&O17" in hex and octal.
std::optional<double> ParseNumberText(std::string_view raw) {
  std::string text = Trimmed(raw);
  if (text.empty()) return std::nullopt;
  if (text.size() > 2 && text[0] == '&' && (text[1] == 'H' || text[1] == 'h' || text[1] == 'O' || text[1] == 'o')) {
    const int base = (text[1] == 'H' || text[1] == 'h') ? 16 : 8;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text.c_str() + 2, &end, base);
    if (*end != '\0' || n > 0xFFFFFFFFull) return std::nullopt;
    // Up to four hex digits are an Integer, more a Long (both signed).
    if (base == 16 && text.size() <= 6) return static_cast<double>(static_cast<int16_t>(n));
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(n)));
  }
  std::string plain;
  size_t i = 0;
  if (text[i] == '+' || text[i] == '-') plain += text[i++];
  if (i < text.size() && text[i] == '$') ++i;
  bool digits = false, point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      plain += c;
    } else if (c == ',' && digits && !point) {
      continue;
    } else if (c == '.' && !point) {
      point = true;
      plain += c;
    } else {
      break;
    }
  }
  if (!digits) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    plain += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    bool exp_digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      plain += text[i];
      exp_digits = true;
    }
    if (!exp_digits) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  const double value = std::strtod(plain.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// Number text with up to `significant` digits, as Access writes it ("0.1", "1E+20", "1E-05").
std::string GeneralNumber(double value, int significant) {
  if (value == 0) return "0";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*G", significant, value);
  return buffer;
}

// ---- Dates: stored days (the time of day added to the day's magnitude) and linear days.

double LinearDays(double stored) {
  const double day = std::trunc(stored);
  return day + std::fabs(stored - day);
}
double StoredDays(double linear) {
  const double day = std::floor(linear);
  const double time = linear - day;
  return day >= 0 ? day + time : day - time;
}

struct DateParts {
  int64_t year = 1899;
  unsigned month = 12, day = 30;
  int64_t serial = 0;  // whole days since 1899-12-30
  int hour = 0, minute = 0, second = 0;
};

DateParts PartsOf(double stored) {
  // Whole seconds of the linear time, so 23:59:59.7 rounds into the next day as Access shows it.
  const int64_t seconds = std::llround(LinearDays(stored) * 86400.0);
  DateParts p;
  p.serial = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  const int64_t time = seconds - p.serial * 86400;
  p.hour = static_cast<int>(time / 3600);
  p.minute = static_cast<int>(time / 60 % 60);
  p.second = static_cast<int>(time % 60);
  jet::CivilFromDays(p.serial + kJetEpoch, p.year, p.month, p.day);
  return p;
}

int64_t SerialOf(int64_t year, int64_t month, int64_t day) {
  // Months and days past their range carry over (month 13 is January of the next year).
  year += (month - 1 >= 0 ? (month - 1) / 12 : -((12 - month) / 12));
  month = ((month - 1) % 12 + 12) % 12 + 1;
  return jet::DaysFromCivil(year, static_cast<unsigned>(month), 1) - kJetEpoch + (day - 1);
}

unsigned DaysInMonth(int64_t year, unsigned month) {
  return static_cast<unsigned>(SerialOf(year, month + 1, 1) - SerialOf(year, month, 1));
}

// 1 = `first_day` ... 7; first_day 1 is Sunday (0 means the system's, Sunday).
int WeekdayOf(int64_t serial, int first_day) {
  const int sunday_based = static_cast<int>(((serial + 6) % 7 + 7) % 7) + 1;  // 1899-12-30 was a Saturday
  if (first_day == 0) first_day = 1;
  return (sunday_based - first_day + 7) % 7 + 1;
}

// The week of the year: week 1 holds January 1 (first_week 1), has four days of the year (2),
// or is the first full week (3).
int WeekOfYear(int64_t serial, int64_t year, int first_day, int first_week) {
  const int64_t jan1 = SerialOf(year, 1, 1);
  const int jan1_weekday = WeekdayOf(jan1, first_day);
  int64_t week1 = jan1 - (jan1_weekday - 1);
  if ((first_week == 2 && jan1_weekday > 4) || (first_week == 3 && jan1_weekday != 1)) week1 += 7;
  if (serial < week1) return WeekOfYear(serial, year - 1, first_day, first_week);
  return static_cast<int>((serial - week1) / 7) + 1;
}

Value DateValueOf(double linear) { return jet::DateTime{StoredDays(linear)}; }

// Years 100 to 9999, the dates Access has.
bool InDateRange(double stored) {
  return std::isfinite(stored) && LinearDays(stored) >= kMinDays && LinearDays(stored) < kMaxDays + 1;
}

const std::array<const char*, 12> kMonthNames = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
const std::array<const char*, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};

std::string TwoDigits(int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string ShortDateText(const DateParts& p) {
  return std::to_string(p.month) + "/" + std::to_string(p.day) + "/" + std::to_string(p.year);
}
std::string LongTimeText(const DateParts& p) {
  const int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
  return std::to_string(h12) + ":" + TwoDigits(p.minute) + ":" + TwoDigits(p.second) + (p.hour < 12 ? " AM" : " PM");
}
std::string GeneralDateText(double stored) {
  const DateParts p = PartsOf(stored);
  const bool has_time = p.hour != 0 || p.minute != 0 || p.second != 0;
  if (p.serial == 0 && has_time) return LongTimeText(p);
  return has_time ? ShortDateText(p) + " " + LongTimeText(p) : ShortDateText(p);
}

// ---- Exact decimals: an unscaled 128-bit integer with a scale of 0..28.

struct Dec {
  Int128 unscaled = 0;
  int scale = 0;
};
constexpr Int128 kDecMax = (static_cast<Int128>(1) << 96) - 1;

Int128 Pow10(int n) {
  Int128 p = 1;
  for (int k = 0; k < n; ++k) p *= 10;
  return p;
}

Int128 DivideHalfEven(Int128 n, Int128 d) {
  Int128 q = n / d, r = n % d;
  const Int128 twice = (r < 0 ? -r : r) * 2;
  const Int128 ad = d < 0 ? -d : d;
  if (twice > ad || (twice == ad && q % 2 != 0)) q += ((n < 0) != (d < 0)) ? -1 : 1;
  return q;
}

Dec DecOf(const jet::Decimal& d) {
  Int128 v = 0;
  for (int w = 3; w >= 0; --w) v = (v << 32) | d.words[static_cast<size_t>(w)];
  return {d.negative ? -v : v, d.scale};
}

// Fits a result into 96 bits and a scale of 28 by rounding off decimals; nullopt on overflow.
std::optional<jet::Decimal> ToDecimal(Dec d) {
  while (d.scale > 28 || ((d.unscaled < 0 ? -d.unscaled : d.unscaled) > kDecMax && d.scale > 0)) {
    d.unscaled = DivideHalfEven(d.unscaled, 10);
    --d.scale;
  }
  Int128 magnitude = d.unscaled < 0 ? -d.unscaled : d.unscaled;
  if (magnitude > kDecMax) return std::nullopt;
  jet::Decimal out;
  out.negative = d.unscaled < 0;
  out.scale = static_cast<uint8_t>(d.scale);
  for (size_t w = 0; w < 4; ++w) {
    out.words[w] = static_cast<uint32_t>(magnitude);
    magnitude >>= 32;
  }
  return out;
}

std::optional<Dec> DecFromText(std::string_view text) {
  std::string digits;
  int scale = 0;
  bool point = false, negative = false;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  for (; i < text.size(); ++i) {
    if (text[i] == '.' && !point) {
      point = true;
    } else if (text[i] >= '0' && text[i] <= '9') {
      digits += text[i];
      if (point) ++scale;
    } else {
      return std::nullopt;
    }
  }
  if (digits.empty() || digits.size() > 36) return std::nullopt;
  Int128 v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return Dec{negative ? -v : v, scale};
}

// A whole number, Currency, Decimal or a number (through its 15 significant digits) as Dec.
std::optional<Dec> DecOfValue(const Value& v) {
  if (auto whole = WholeOf(v)) return Dec{*whole, 0};
  if (const auto* c = std::get_if<jet::Currency>(&v)) return Dec{c->scaled, 4};
  if (const auto* d = std::get_if<jet::Decimal>(&v)) return DecOf(*d);
  return std::nullopt;
}
std::optional<Dec> DecOfDouble(double x) {
  if (!std::isfinite(x) || std::fabs(x) >= 7.9e28) return std::nullopt;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", x);
  std::string text = buffer;
  const size_t e = text.find('e');
  if (e == std::string::npos) return DecFromText(text);
  // Scientific form: shift the point by the exponent.
  const int exponent = std::atoi(text.c_str() + e + 1);
  auto mantissa = DecFromText(text.substr(0, e));
  if (!mantissa) return std::nullopt;
  int scale = mantissa->scale - exponent;
  Int128 unscaled = mantissa->unscaled;
  while (scale < 0) unscaled *= 10, ++scale;
  while (scale > 28) unscaled = DivideHalfEven(unscaled, 10), --scale;
  return Dec{unscaled, scale};
}

double DecToDouble(const Dec& d) { return static_cast<double>(d.unscaled) / std::pow(10.0, d.scale); }

std::optional<Dec> Rescaled(Dec d, int scale) {
  while (d.scale < scale) {
    if (__builtin_mul_overflow(d.unscaled, static_cast<Int128>(10), &d.unscaled)) return std::nullopt;
    ++d.scale;
  }
  return d;
}

// ---- Number kinds of the arithmetic operators.

enum class Kind { kWhole, kCurrency, kDecimal, kDouble, kDate };

Kind KindOf(const Value& v) {
  if (WholeOf(v)) return Kind::kWhole;
  if (std::holds_alternative<jet::Currency>(v)) return Kind::kCurrency;
  if (std::holds_alternative<jet::Decimal>(v)) return Kind::kDecimal;
  if (IsDate(v)) return Kind::kDate;
  return Kind::kDouble;
}

Result<double> NumberOf(const Value& v, std::string_view where) {
  auto n = ValueNumber(v);
  if (!n.ok()) return TypeMismatch(v, "a number", where);
  return **n;  // callers have handled Null
}

Result<Value> WholeResult(Int128 n, std::string_view op) {
  if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max()) {
    return Value(static_cast<int32_t>(n));
  }
  (void)op;
  return Value(static_cast<double>(n));  // past Long's range the result is a Double
}

Result<Value> CurrencyResult(Int128 scaled, std::string_view op) {
  if (scaled < std::numeric_limits<int64_t>::min() || scaled > std::numeric_limits<int64_t>::max()) {
    return Overflow(op);
  }
  return Value(jet::Currency{static_cast<int64_t>(scaled)});
}

Result<Value> DoubleResult(double x, std::string_view op) {
  if (!std::isfinite(x)) return Overflow(op);
  return Value(x);
}

Result<Value> DecimalArithmetic(char op, Dec a, Dec b, std::string_view name) {
  Dec r;
  if (op == '*') {
    if (__builtin_mul_overflow(a.unscaled, b.unscaled, &r.unscaled)) return Overflow(name);
    r.scale = a.scale + b.scale;
  } else {
    const int scale = std::max(a.scale, b.scale);
    auto x = Rescaled(a, scale), y = Rescaled(b, scale);
    if (!x || !y) return Overflow(name);
    r.scale = scale;
    if (__builtin_add_overflow(x->unscaled, op == '+' ? y->unscaled : -y->unscaled, &r.unscaled)) {
      return Overflow(name);
    }
  }
  auto d = ToDecimal(r);
  if (!d) return Overflow(name);
  return Value(*d);
}

Result<Value> Concatenate(const Value& left, const Value& right) {
  if (IsNull(left) && IsNull(right)) return Value(jet::Null{});
  return Value(ValueText(left).value_or("") + ValueText(right).value_or(""));
}

// Logical operators on Yes/No, bitwise on whole numbers, with three-valued Null.
Result<Value> Logical(std::string_view op, const Value& left, const Value& right) {
  std::optional<int64_t> a, b;
  for (auto [value, out] : {std::pair{&left, &a}, std::pair{&right, &b}}) {
    if (IsNull(*value)) continue;
    ASSIGN_OR_RETURN(double n, NumberOf(*value, op));
    if (!(n >= -2147483648.5 && n <= 2147483647.5)) return Overflow(op);
    *out = static_cast<int64_t>(std::nearbyint(n));
  }
  const bool booleans =
      (IsNull(left) || std::holds_alternative<bool>(left)) && (IsNull(right) || std::holds_alternative<bool>(right));
  auto make = [&](int64_t n) { return booleans ? Value(n != 0) : Value(static_cast<int32_t>(n)); };
  if (op == "imp") {
    // False Imp anything and anything Imp True are True even with a Null on the other side.
    if (a && *a == 0 && !b) return make(-1);
    if (b && *b == -1 && !a) return make(-1);
    if (!a || !b) return Value(jet::Null{});
    return make(~*a | *b);
  }
  if (op == "and" || op == "or") {
    // False And Null is False, True Or Null is True; otherwise a Null side gives Null.
    const int64_t decides = op == "and" ? 0 : -1;
    if ((a && *a == decides && !b) || (b && *b == decides && !a)) return make(decides);
    if (!a || !b) return Value(jet::Null{});
    return make(op == "and" ? (*a & *b) : (*a | *b));
  }
  if (!a || !b) return Value(jet::Null{});
  if (op == "xor") return make(*a ^ *b);
  return make(~(*a ^ *b));  // eqv
}

Result<Value> Arithmetic(std::string_view op, const Value& left, const Value& right) {
  if (IsNull(left) || IsNull(right)) return Value(jet::Null{});
  ASSIGN_OR_RETURN(double x, NumberOf(left, op));
  ASSIGN_OR_RETURN(double y, NumberOf(right, op));
  const Kind kl = IsText(left) ? Kind::kDouble : KindOf(left);
  const Kind kr = IsText(right) ? Kind::kDouble : KindOf(right);
  const char c = op.size() == 1 ? op[0] : 'm';  // 'm' for mod

  if (c == '/') {
    if (y == 0) return DivisionByZero();
    return DoubleResult(x / y, op);
  }
  if (c == '^') {
    if (x < 0 && y != std::trunc(y)) return InvalidCall("a negative number to a fractional power");
    return DoubleResult(std::pow(x, y), op);
  }
  if (c == '\\' || c == 'm') {
    const double a = std::nearbyint(x), b = std::nearbyint(y);
    if (!(std::fabs(a) <= 2147483647.0 && std::fabs(b) <= 2147483647.0)) return Overflow(op);
    if (b == 0) return DivisionByZero();
    const auto ia = static_cast<int64_t>(a), ib = static_cast<int64_t>(b);
    return WholeResult(c == 'm' ? ia % ib : ia / ib, op);
  }
  // + - *
  if ((kl == Kind::kDate || kr == Kind::kDate) && c != '*') {
    if (kl == Kind::kDate && kr == Kind::kDate && c == '-') return Value(LinearDays(x) - LinearDays(y));
    const double lx = kl == Kind::kDate ? LinearDays(x) : x, ly = kr == Kind::kDate ? LinearDays(y) : y;
    const double linear = c == '+' ? lx + ly : lx - ly;
    if (!InDateRange(StoredDays(linear))) return Overflow(op);
    return DateValueOf(linear);
  }
  const bool floating = kl == Kind::kDouble || kr == Kind::kDouble || kl == Kind::kDate || kr == Kind::kDate;
  if (floating) return DoubleResult(c == '+' ? x + y : c == '-' ? x - y : x * y, op);
  if (kl == Kind::kDecimal || kr == Kind::kDecimal)
    return DecimalArithmetic(c, *DecOfValue(left), *DecOfValue(right), op);
  if (kl == Kind::kCurrency || kr == Kind::kCurrency) {
    const Dec a = *DecOfValue(left), b = *DecOfValue(right);
    if (c == '*') {
      Int128 product = 0;
      if (__builtin_mul_overflow(a.unscaled, b.unscaled, &product)) return Overflow(op);
      return CurrencyResult(DivideHalfEven(product, Pow10(a.scale + b.scale - 4)), op);
    }
    const Int128 sa = a.unscaled * Pow10(4 - a.scale), sb = b.unscaled * Pow10(4 - b.scale);
    return CurrencyResult(c == '+' ? sa + sb : sa - sb, op);
  }
  const Int128 a = *WholeOf(left), b = *WholeOf(right);
  return WholeResult(c == '+' ? a + b : c == '-' ? a - b : a * b, op);
}

}  // namespace

std::optional<std::string> ValueText(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::optional<std::string> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, jet::Null>) {
          return std::nullopt;
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "True" : "False";
        } else if constexpr (std::is_integral_v<T>) {
          return std::to_string(static_cast<int64_t>(v));
        } else if constexpr (std::is_same_v<T, jet::Currency>) {
          return jet::TrimDecimalZeros(jet::FormatCurrency(v.scaled));
        } else if constexpr (std::is_same_v<T, float>) {
          return GeneralNumber(v, 7);
        } else if constexpr (std::is_same_v<T, double>) {
          return GeneralNumber(v, 15);
        } else if constexpr (std::is_same_v<T, jet::DateTime>) {
          return InDateRange(v.days) ? GeneralDateText(v.days) : GeneralNumber(v.days, 15);
        } else if constexpr (std::is_same_v<T, jet::Bytes>) {
          // Binary data read as UTF-16LE text, as Access turns bytes into text.
          return Utf16LeBytesToUtf8(reinterpret_cast<const uint8_t*>(v.data.data()), v.data.size());
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else if constexpr (std::is_same_v<T, jet::Guid>) {
          return jet::FormatGuid(v);
        } else {
          return jet::TrimDecimalZeros(v.ToString());
        }
      },
      value);
}

Result<std::optional<double>> ValueNumber(const Value& value) {
  if (IsNull(value)) return std::optional<double>();
  if (auto whole = WholeOf(value)) return std::optional<double>(static_cast<double>(*whole));
  if (const auto* c = std::get_if<jet::Currency>(&value)) return std::optional<double>(c->scaled / 10000.0);
  if (const auto* f = std::get_if<float>(&value)) return std::optional<double>(*f);
  if (const auto* d = std::get_if<double>(&value)) return std::optional<double>(*d);
  if (const auto* t = std::get_if<jet::DateTime>(&value)) return std::optional<double>(t->days);
  if (const auto* d = std::get_if<jet::Decimal>(&value)) return std::optional<double>(DecToDouble(DecOf(*d)));
  if (const auto* s = std::get_if<std::string>(&value)) {
    if (auto n = ParseNumberText(*s)) return std::optional<double>(*n);
    return InvalidArgumentError("Type mismatch: '" + *s + "' is not a number");
  }
  return InvalidArgumentError("Type mismatch: " + Shown(value) + " is not a number");
}

Result<std::optional<bool>> ValueTruth(const Value& value) {
  if (const bool* b = std::get_if<bool>(&value)) return std::optional<bool>(*b);
  if (const auto* s = std::get_if<std::string>(&value)) {
    const std::string t = Trimmed(*s);
    if (EqualsIgnoreAsciiCase(t, "true")) return std::optional<bool>(true);
    if (EqualsIgnoreAsciiCase(t, "false")) return std::optional<bool>(false);
  }
  ASSIGN_OR_RETURN(std::optional<double> n, ValueNumber(value));
  if (!n) return std::optional<bool>();
  return std::optional<bool>(*n != 0);
}

Result<Value> ApplyBinary(std::string_view op, const Value& left, const Value& right) {
  const std::string name = AsciiLower(op);
  if (name == "&") return Concatenate(left, right);
  if (name == "xor" || name == "eqv" || name == "imp" || name == "and" || name == "or") {
    return Logical(name, left, right);
  }
  if (name == "+" && IsText(left) && IsText(right))
    return Value(std::get<std::string>(left) + std::get<std::string>(right));
  if (name == "+" || name == "-" || name == "*" || name == "/" || name == "\\" || name == "^" || name == "mod") {
    return Arithmetic(name, left, right);
  }
  return InvalidArgumentError("unknown operator " + std::string(op));
}

Result<Value> ApplyUnary(std::string_view op, const Value& operand) {
  const std::string name = AsciiLower(op);
  if (IsNull(operand)) return Value(jet::Null{});
  if (name == "not") {
    if (const bool* b = std::get_if<bool>(&operand)) return Value(!*b);
    ASSIGN_OR_RETURN(double n, NumberOf(operand, "Not"));
    if (!(std::fabs(n) <= 2147483648.0)) return Overflow("Not");
    return Value(static_cast<int32_t>(~static_cast<int64_t>(std::nearbyint(n))));
  }
  if (name != "-" && name != "+") return InvalidArgumentError("unknown operator " + std::string(op));
  if (name == "+") {
    if (IsText(operand)) return operand;
    RETURN_IF_ERROR(NumberOf(operand, "+").status());
    return operand;
  }
  if (auto whole = WholeOf(operand)) {
    // Minus widens: -Byte is an Integer, -(-32768) a Long, -(-2147483648) a Double.
    if (std::holds_alternative<bool>(operand) || std::holds_alternative<uint8_t>(operand)) {
      return Value(static_cast<int16_t>(-*whole));
    }
    if (std::holds_alternative<int16_t>(operand) && *whole != -32768) return Value(static_cast<int16_t>(-*whole));
    return WholeResult(-static_cast<Int128>(*whole), "-");
  }
  if (const auto* c = std::get_if<jet::Currency>(&operand)) return CurrencyResult(-static_cast<Int128>(c->scaled), "-");
  if (const auto* d = std::get_if<jet::Decimal>(&operand)) {
    jet::Decimal negated = *d;
    negated.negative = !negated.negative && DecOf(*d).unscaled != 0;
    return Value(negated);
  }
  if (const auto* f = std::get_if<float>(&operand)) return Value(-*f);
  if (const auto* t = std::get_if<jet::DateTime>(&operand)) return Value(jet::DateTime{-t->days});
  ASSIGN_OR_RETURN(double n, NumberOf(operand, "-"));
  return Value(-n);
}

namespace {

// ---- Scalar functions.

using Args = std::vector<Value>;

Result<std::u16string> TextArg(const Value& v) { return Utf8ToUtf16(ValueText(v).value_or("")); }
// Text a function builds is kept to what a Memo can hold (about 2^29 characters), far below.
constexpr size_t kMaxBuiltText = size_t{1} << 25;
Status CheckBuiltLength(size_t length, std::string_view name) {
  if (length <= kMaxBuiltText) return Status::Ok();
  return LimitError(std::string(name) + " would build text of " + std::to_string(length) + " characters");
}

Value TextValue(std::u16string_view text) { return Value(Utf16ToUtf8(text)); }

Result<double> NumberArg(const Value& v, std::string_view where) { return NumberOf(v, where); }

// A whole-number argument (rounded half to even), within Long's range.
Result<int64_t> WholeArg(const Value& v, std::string_view where) {
  ASSIGN_OR_RETURN(double n, NumberOf(v, where));
  const double r = std::nearbyint(n);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) return Overflow(where);  // NaN too
  return static_cast<int64_t>(r);
}

// A date argument as stored days: a date, a number of days or date text.
Result<double> DateArg(const Value& v, std::string_view where) {
  double days = 0;
  if (const auto* t = std::get_if<jet::DateTime>(&v)) {
    days = t->days;
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    auto parsed = ParseDateText(*s);
    if (!parsed) parsed = ParseNumberText(*s);
    if (!parsed) return TypeMismatch(v, "a date", where);
    days = *parsed;
  } else {
    auto n = ValueNumber(v);
    if (!n.ok()) return TypeMismatch(v, "a date", where);
    days = **n;
  }
  if (!InDateRange(days)) return Overflow(where);
  return days;
}

char16_t LowerChar(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x410 && c <= 0x42F) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2)) {
    return static_cast<char16_t>(c + 32);
  }
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c == 0x178) return 0xFF;
  if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) && c % 2 == 0) return static_cast<char16_t>(c + 1);
  if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && c % 2 == 1) return static_cast<char16_t>(c + 1);
  return c;
}
char16_t UpperChar(char16_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x430 && c <= 0x44F) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2)) {
    return static_cast<char16_t>(c - 32);
  }
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  if (c == 0xFF) return 0x178;
  if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) && c % 2 == 1) return static_cast<char16_t>(c - 1);
  if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && c % 2 == 0) return static_cast<char16_t>(c - 1);
  return c;
}
std::u16string Folded(std::u16string text, bool fold) {
  if (fold) {
    for (char16_t& c : text) c = LowerChar(c);
  }
  return text;
}

// The compare argument: 0 binary, 1 (the default in queries) and 2 without case.
Result<bool> TextCompare(const Args& a, size_t index, std::string_view where) {
  if (index >= a.size()) return true;
  ASSIGN_OR_RETURN(int64_t mode, WholeArg(a[index], where));
  if (mode < -1 || mode > 2) return InvalidCall(std::string(where) + " with compare " + std::to_string(mode));
  return mode != 0;
}

Result<Value> FnLen(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  return Value(static_cast<int32_t>(s.size()));
}

Result<Value> LeftOrRight(const Args& a, bool left) {
  const char* name = left ? "Left" : "Right";
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  ASSIGN_OR_RETURN(int64_t n, WholeArg(a[1], name));
  if (n < 0) return InvalidCall(std::string(name) + " with length " + std::to_string(n));
  const size_t count = std::min(s.size(), static_cast<size_t>(n));
  return TextValue(left ? s.substr(0, count) : s.substr(s.size() - count));
}
Result<Value> FnLeft(const Args& a) { return LeftOrRight(a, true); }
Result<Value> FnRight(const Args& a) { return LeftOrRight(a, false); }

Result<Value> FnMid(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  ASSIGN_OR_RETURN(int64_t start, WholeArg(a[1], "Mid"));
  if (start < 1) return InvalidCall("Mid with start " + std::to_string(start));
  int64_t length = static_cast<int64_t>(s.size());
  if (a.size() > 2) {
    ASSIGN_OR_RETURN(length, WholeArg(a[2], "Mid"));
    if (length < 0) return InvalidCall("Mid with length " + std::to_string(length));
  }
  if (static_cast<size_t>(start) > s.size()) return Value(std::string());
  return TextValue(s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(length)));
}

Result<Value> TrimSides(const Args& a, bool front, bool back) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  size_t b = 0, e = s.size();
  while (front && b < e && s[b] == u' ') ++b;
  while (back && e > b && s[e - 1] == u' ') --e;
  return TextValue(std::u16string_view(s).substr(b, e - b));
}
Result<Value> FnLTrim(const Args& a) { return TrimSides(a, true, false); }
Result<Value> FnRTrim(const Args& a) { return TrimSides(a, false, true); }
Result<Value> FnTrim(const Args& a) { return TrimSides(a, true, true); }

Result<Value> FnUCase(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  for (char16_t& c : s) c = UpperChar(c);
  return TextValue(s);
}
Result<Value> FnLCase(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  return TextValue(Folded(std::move(s), true));
}

Result<Value> FnInStr(const Args& a) {
  // InStr(s1, s2) or InStr(start, s1, s2[, compare]).
  const bool with_start = a.size() > 2;
  int64_t start = 1;
  if (with_start) {
    ASSIGN_OR_RETURN(start, WholeArg(a[0], "InStr"));
    if (start < 1) return InvalidCall("InStr with start " + std::to_string(start));
  }
  ASSIGN_OR_RETURN(bool fold, TextCompare(a, 3, "InStr"));
  ASSIGN_OR_RETURN(std::u16string s1, TextArg(a[with_start ? 1 : 0]));
  ASSIGN_OR_RETURN(std::u16string s2, TextArg(a[with_start ? 2 : 1]));
  if (s1.empty() || static_cast<size_t>(start) > s1.size()) return Value(int32_t{0});
  if (s2.empty()) return Value(static_cast<int32_t>(start));
  const size_t found = Folded(s1, fold).find(Folded(s2, fold), static_cast<size_t>(start - 1));
  return Value(static_cast<int32_t>(found == std::u16string::npos ? 0 : found + 1));
}

Result<Value> FnInStrRev(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s1, TextArg(a[0]));
  ASSIGN_OR_RETURN(std::u16string s2, TextArg(a[1]));
  int64_t start = -1;
  if (a.size() > 2) {
    ASSIGN_OR_RETURN(start, WholeArg(a[2], "InStrRev"));
    if (start == 0 || start < -1) return InvalidCall("InStrRev with start " + std::to_string(start));
  }
  ASSIGN_OR_RETURN(bool fold, TextCompare(a, 3, "InStrRev"));
  if (start == -1) start = static_cast<int64_t>(s1.size());
  if (static_cast<size_t>(start) > s1.size()) return Value(int32_t{0});
  if (s2.empty()) return Value(static_cast<int32_t>(start));
  if (s2.size() > static_cast<size_t>(start)) return Value(int32_t{0});
  const size_t found = Folded(s1, fold).rfind(Folded(s2, fold), static_cast<size_t>(start) - s2.size());
  return Value(static_cast<int32_t>(found == std::u16string::npos ? 0 : found + 1));
}

// Replace gives the text from `start` on, as Access does, with up to `count` replacements.
Result<Value> FnReplace(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  ASSIGN_OR_RETURN(std::u16string find, TextArg(a[1]));
  ASSIGN_OR_RETURN(std::u16string with, TextArg(a[2]));
  int64_t start = 1, count = -1;
  if (a.size() > 3) {
    ASSIGN_OR_RETURN(start, WholeArg(a[3], "Replace"));
  }
  if (a.size() > 4) {
    ASSIGN_OR_RETURN(count, WholeArg(a[4], "Replace"));
  }
  if (start < 1 || count < -1) return InvalidCall("Replace with start " + std::to_string(start));
  ASSIGN_OR_RETURN(bool fold, TextCompare(a, 5, "Replace"));
  if (static_cast<size_t>(start) > s.size()) return Value(std::string());
  s.erase(0, static_cast<size_t>(start - 1));
  if (find.empty() || count == 0) return TextValue(s);
  const std::u16string folded = Folded(s, fold), folded_find = Folded(find, fold);
  std::u16string out;
  size_t pos = 0;
  for (int64_t done = 0; count == -1 || done < count; ++done) {
    const size_t hit = folded.find(folded_find, pos);
    if (hit == std::u16string::npos) break;
    out.append(s, pos, hit - pos).append(with);
    RETURN_IF_ERROR(CheckBuiltLength(out.size(), "Replace"));
    pos = hit + find.size();
  }
  out.append(s, pos);
  return TextValue(out);
}

Result<Value> FnSpace(const Args& a) {
  ASSIGN_OR_RETURN(int64_t n, WholeArg(a[0], "Space"));
  if (n < 0) return InvalidCall("Space with length " + std::to_string(n));
  RETURN_IF_ERROR(CheckBuiltLength(static_cast<size_t>(n), "Space"));
  return Value(std::string(static_cast<size_t>(n), ' '));
}

// Windows-1252 characters 0x80..0x9F, as Asc and Chr know them.
constexpr std::array<char16_t, 32> kCp1252High = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                                  0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

Result<char16_t> CharOfCode(int64_t code, std::string_view where) {
  if (code < 0 || code > 255) return InvalidCall(std::string(where) + " with code " + std::to_string(code));
  if (code >= 0x80 && code < 0xA0) return kCp1252High[static_cast<size_t>(code - 0x80)];
  return static_cast<char16_t>(code);
}

Result<Value> FnString(const Args& a) {
  ASSIGN_OR_RETURN(int64_t n, WholeArg(a[0], "String"));
  if (n < 0) return InvalidCall("String with length " + std::to_string(n));
  char16_t c = 0;
  if (IsText(a[1])) {
    ASSIGN_OR_RETURN(std::u16string s, TextArg(a[1]));
    if (s.empty()) return InvalidCall("String with an empty character");
    c = s[0];
  } else {
    ASSIGN_OR_RETURN(int64_t code, WholeArg(a[1], "String"));
    ASSIGN_OR_RETURN(c, CharOfCode(((code % 256) + 256) % 256, "String"));
  }
  RETURN_IF_ERROR(CheckBuiltLength(static_cast<size_t>(n), "String"));
  return TextValue(std::u16string(static_cast<size_t>(n), c));
}

Result<Value> FnStrReverse(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  std::reverse(s.begin(), s.end());
  for (size_t i = 0; i + 1 < s.size(); ++i) {  // keep surrogate pairs in order
    if (s[i] >= 0xDC00 && s[i] <= 0xDFFF && s[i + 1] >= 0xD800 && s[i + 1] <= 0xDBFF) std::swap(s[i], s[i + 1]), ++i;
  }
  return TextValue(s);
}

Result<Value> FnStrComp(const Args& a) {
  ASSIGN_OR_RETURN(bool fold, TextCompare(a, 2, "StrComp"));
  ASSIGN_OR_RETURN(std::u16string x, TextArg(a[0]));
  ASSIGN_OR_RETURN(std::u16string y, TextArg(a[1]));
  const int c = Folded(x, fold).compare(Folded(y, fold));
  return Value(static_cast<int16_t>(c < 0 ? -1 : c > 0 ? 1 : 0));
}

Result<Value> FnAsc(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  if (s.empty()) return InvalidCall("Asc of empty text");
  for (size_t k = 0; k < kCp1252High.size(); ++k) {
    if (kCp1252High[k] == s[0]) return Value(static_cast<int16_t>(0x80 + k));
  }
  return Value(static_cast<int16_t>(s[0] < 256 ? s[0] : '?'));
}
Result<Value> FnAscW(const Args& a) {
  ASSIGN_OR_RETURN(std::u16string s, TextArg(a[0]));
  if (s.empty()) return InvalidCall("AscW of empty text");
  return Value(static_cast<int16_t>(s[0]));
}
Result<Value> FnChr(const Args& a) {
  ASSIGN_OR_RETURN(int64_t code, WholeArg(a[0], "Chr"));
  ASSIGN_OR_RETURN(char16_t c, CharOfCode(code, "Chr"));
  return TextValue(std::u16string(1, c));
}
Result<Value> FnChrW(const Args& a) {
  ASSIGN_OR_RETURN(int64_t code, WholeArg(a[0], "ChrW"));
  if (code < -32768 || code > 65535) return InvalidCall("ChrW with code " + std::to_string(code));
  return TextValue(std::u16string(1, static_cast<char16_t>(code & 0xFFFF)));
}

// Val reads the number at the start of the text, skipping spaces anywhere; 0 when there is none.
Result<Value> FnVal(const Args& a) {
  const std::string text = ValueText(a[0]).value_or("");
  std::string plain;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') plain += c;
  }
  if (plain.size() > 2 && plain[0] == '&') {
    const bool hex = plain[1] == 'H' || plain[1] == 'h';
    size_t end = 2;
    while (end < plain.size() && std::isxdigit(static_cast<unsigned char>(plain[end])) &&
           (hex || (plain[end] >= '0' && plain[end] <= '7'))) {
      ++end;
    }
    if (end > 2 && (hex || plain[1] == 'O' || plain[1] == 'o')) {
      if (auto n = ParseNumberText(plain.substr(0, std::min<size_t>(end, hex ? 10 : 13)))) return Value(*n);
    }
    return Value(0.0);
  }
  size_t i = 0;
  if (i < plain.size() && (plain[i] == '+' || plain[i] == '-')) ++i;
  bool point = false;
  while (i < plain.size() && (std::isdigit(static_cast<unsigned char>(plain[i])) || (plain[i] == '.' && !point))) {
    point = point || plain[i] == '.';
    ++i;
  }
  size_t end = i;
  if (i < plain.size() && (plain[i] == 'e' || plain[i] == 'E' || plain[i] == 'd' || plain[i] == 'D')) {
    size_t j = i + 1;
    if (j < plain.size() && (plain[j] == '+' || plain[j] == '-')) ++j;
    if (j < plain.size() && std::isdigit(static_cast<unsigned char>(plain[j]))) {
      while (j < plain.size() && std::isdigit(static_cast<unsigned char>(plain[j]))) ++j;
      plain[i] = 'e';
      end = j;
    }
  }
  const double n = std::strtod(plain.substr(0, end).c_str(), nullptr);
  if (!std::isfinite(n)) return Overflow("Val");
  return Value(n);
}

Result<Value> FnStr(const Args& a) {
  if (IsDate(a[0])) return Value(*ValueText(a[0]));
  ASSIGN_OR_RETURN(double n, NumberArg(a[0], "Str"));
  const Value shown = IsText(a[0]) ? Value(n) : a[0];
  std::string text = *ValueText(std::holds_alternative<bool>(shown) ? Value(static_cast<int16_t>(n)) : shown);
  return Value(n >= 0 ? " " + text : text);
}

// Abs, Int and Fix keep the argument's number type; text gives a Double.
template <typename Op>
Result<Value> KeepType(const Value& v, std::string_view name, Op op) {
  if (auto whole = WholeOf(v)) {
    const Int128 r = static_cast<Int128>(op(static_cast<double>(*whole)));
    if (std::holds_alternative<int32_t>(v)) {
      if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max()) return Overflow(name);
      return Value(static_cast<int32_t>(r));
    }
    if (r < -32768 || r > 32767) return Overflow(name);
    return Value(static_cast<int16_t>(r));
  }
  if (const auto* c = std::get_if<jet::Currency>(&v)) {
    return CurrencyResult(static_cast<Int128>(op(static_cast<double>(c->scaled) / 10000.0) * 10000.0), name);
  }
  if (const auto* f = std::get_if<float>(&v)) return Value(static_cast<float>(op(*f)));
  if (const auto* t = std::get_if<jet::DateTime>(&v)) return Value(jet::DateTime{StoredDays(op(LinearDays(t->days)))});
  if (const auto* d = std::get_if<jet::Decimal>(&v)) {
    // Exactly: the whole part, one less for a negative fraction when `op` rounds down.
    const Dec x = DecOf(*d);
    const Int128 unit = Pow10(x.scale);
    Int128 whole = x.unscaled / unit;
    if (x.unscaled % unit != 0 && x.unscaled < 0 && op(-0.5) == -1.0) --whole;
    return Value(*ToDecimal(Dec{whole, 0}));
  }
  ASSIGN_OR_RETURN(double n, NumberOf(v, name));
  return Value(op(n));
}

Result<Value> FnAbs(const Args& a) {
  if (const auto* c = std::get_if<jet::Currency>(&a[0]))
    return CurrencyResult(c->scaled < 0 ? -static_cast<Int128>(c->scaled) : c->scaled, "Abs");
  if (const auto* d = std::get_if<jet::Decimal>(&a[0])) {
    jet::Decimal r = *d;
    r.negative = false;
    return Value(r);
  }
  if (IsDate(a[0])) return Value(std::fabs(std::get<jet::DateTime>(a[0]).days));
  if (std::holds_alternative<int32_t>(a[0]) && std::get<int32_t>(a[0]) == std::numeric_limits<int32_t>::min()) {
    return Overflow("Abs");
  }
  if (std::holds_alternative<bool>(a[0])) return Value(static_cast<int16_t>(std::get<bool>(a[0]) ? 1 : 0));
  return KeepType(a[0], "Abs", [](double x) { return std::fabs(x); });
}
Result<Value> FnInt(const Args& a) {
  if (const auto* c = std::get_if<jet::Currency>(&a[0])) {
    const Int128 s = c->scaled;
    return CurrencyResult((s >= 0 ? s / 10000 : -((-s + 9999) / 10000)) * 10000, "Int");
  }
  return KeepType(a[0], "Int", [](double x) { return std::floor(x); });
}
Result<Value> FnFix(const Args& a) {
  if (const auto* c = std::get_if<jet::Currency>(&a[0])) return Value(jet::Currency{c->scaled / 10000 * 10000});
  return KeepType(a[0], "Fix", [](double x) { return std::trunc(x); });
}
Result<Value> FnSgn(const Args& a) {
  ASSIGN_OR_RETURN(double n, NumberArg(a[0], "Sgn"));
  return Value(static_cast<int16_t>(n > 0 ? 1 : n < 0 ? -1 : 0));
}

// The decimal digits of |x| rounded to `fraction` decimals from its `significant` digits, as
// one digit string holding |x| × 10^fraction: half to even, or half away from zero.
std::string ScaledDigits(double x, int fraction, int significant, bool half_even) {
  x = std::fabs(x);
  if (x == 0 || !std::isfinite(x)) return "0";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", significant - 1, x);
  const std::string text = buffer;
  const size_t e = text.find('e');
  std::string digits = text.substr(0, 1) + text.substr(2, e - 2);
  const int exponent = std::atoi(text.c_str() + e + 1);
  const int keep = exponent + 1 + fraction;  // significant digits left of the cut
  if (keep >= static_cast<int>(digits.size()))
    return digits + std::string(static_cast<size_t>(keep) - digits.size(), '0');
  if (keep < 0) return "0";
  std::string kept = digits.substr(0, static_cast<size_t>(keep));
  const std::string rest = digits.substr(static_cast<size_t>(keep));
  const bool above = rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string::npos);
  const bool half = rest[0] == '5' && !above;
  const bool odd = !kept.empty() && (kept.back() - '0') % 2 == 1;
  if (above || (half && (!half_even || odd))) {
    int k = static_cast<int>(kept.size()) - 1;
    for (; k >= 0 && kept[static_cast<size_t>(k)] == '9'; --k) kept[static_cast<size_t>(k)] = '0';
    if (k < 0) {
      kept.insert(0, "1");
    } else {
      ++kept[static_cast<size_t>(k)];
    }
  }
  const size_t first = kept.find_first_not_of('0');
  return first == std::string::npos ? "0" : kept.substr(first);
}

// "123.45" from the scaled digits of ScaledDigits.
std::string WithPoint(std::string digits, int fraction) {
  if (fraction <= 0) return digits;
  if (digits.size() <= static_cast<size_t>(fraction))
    digits.insert(0, static_cast<size_t>(fraction) + 1 - digits.size(), '0');
  digits.insert(digits.size() - static_cast<size_t>(fraction), ".");
  return digits;
}

double RoundDouble(double x, int digits, int significant) {
  const double r = std::strtod(WithPoint(ScaledDigits(x, digits, significant, true), digits).c_str(), nullptr);
  return x < 0 ? -r : r;
}

Result<Value> FnRound(const Args& a) {
  int64_t digits = 0;
  if (a.size() > 1) {
    ASSIGN_OR_RETURN(digits, WholeArg(a[1], "Round"));
  }
  if (digits < 0) return InvalidCall("Round with " + std::to_string(digits) + " decimals");
  digits = std::min<int64_t>(digits, 330);  // past any digit a Double has
  const Value& v = a[0];
  if (WholeOf(v)) return std::holds_alternative<bool>(v) ? Value(static_cast<int16_t>(*WholeOf(v))) : v;
  if (const auto* c = std::get_if<jet::Currency>(&v)) {
    if (digits >= 4) return v;
    const Int128 unit = Pow10(4 - static_cast<int>(digits));
    return CurrencyResult(DivideHalfEven(c->scaled, unit) * unit, "Round");
  }
  if (const auto* d = std::get_if<jet::Decimal>(&v)) {
    Dec x = DecOf(*d);
    if (x.scale <= digits) return v;
    x.unscaled = DivideHalfEven(x.unscaled, Pow10(x.scale - static_cast<int>(digits)));
    x.scale = static_cast<int>(digits);
    return Value(*ToDecimal(x));
  }
  if (const auto* f = std::get_if<float>(&v))
    return Value(static_cast<float>(RoundDouble(*f, static_cast<int>(digits), 7)));
  ASSIGN_OR_RETURN(double n, NumberArg(v, "Round"));
  return Value(RoundDouble(n, static_cast<int>(digits), 15));
}

template <double (*F)(double)>
Result<Value> MathFunction(const Args& a, std::string_view name, bool positive_only, bool nonnegative_only) {
  ASSIGN_OR_RETURN(double n, NumberArg(a[0], name));
  if ((positive_only && n <= 0) || (nonnegative_only && n < 0)) {
    return InvalidCall(std::string(name) + " of " + GeneralNumber(n, 15));
  }
  return DoubleResult(F(n), name);
}
double Exp(double x) { return std::exp(x); }
double Log(double x) { return std::log(x); }
double Sqrt(double x) { return std::sqrt(x); }
double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Tan(double x) { return std::tan(x); }
double Atan(double x) { return std::atan(x); }
Result<Value> FnSqr(const Args& a) { return MathFunction<Sqrt>(a, "Sqr", false, true); }
Result<Value> FnExp(const Args& a) { return MathFunction<Exp>(a, "Exp", false, false); }
Result<Value> FnLog(const Args& a) { return MathFunction<Log>(a, "Log", true, false); }
Result<Value> FnSin(const Args& a) { return MathFunction<Sin>(a, "Sin", false, false); }
Result<Value> FnCos(const Args& a) { return MathFunction<Cos>(a, "Cos", false, false); }
Result<Value> FnTan(const Args& a) { return MathFunction<Tan>(a, "Tan", false, false); }
Result<Value> FnAtn(const Args& a) { return MathFunction<Atan>(a, "Atn", false, false); }

// ---- Dates and times.

double LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const int64_t serial = SerialOf(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return static_cast<double>(serial) + (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
}
Result<Value> FnNow(const Args&) { return Value(jet::DateTime{LocalNow()}); }
Result<Value> FnDate(const Args&) { return Value(jet::DateTime{std::floor(LocalNow())}); }
Result<Value> FnTime(const Args&) {
  const double now = LocalNow();
  return Value(jet::DateTime{now - std::floor(now)});
}

enum class Part { kYear, kMonth, kDay, kHour, kMinute, kSecond };
Result<Value> DatePartOf(const Args& a, std::string_view name, Part part) {
  ASSIGN_OR_RETURN(double days, DateArg(a[0], name));
  const DateParts p = PartsOf(days);
  const int64_t values[] = {p.year, p.month, p.day, p.hour, p.minute, p.second};
  return Value(static_cast<int16_t>(values[static_cast<int>(part)]));
}
Result<Value> FnYear(const Args& a) { return DatePartOf(a, "Year", Part::kYear); }
Result<Value> FnMonth(const Args& a) { return DatePartOf(a, "Month", Part::kMonth); }
Result<Value> FnDay(const Args& a) { return DatePartOf(a, "Day", Part::kDay); }
Result<Value> FnHour(const Args& a) { return DatePartOf(a, "Hour", Part::kHour); }
Result<Value> FnMinute(const Args& a) { return DatePartOf(a, "Minute", Part::kMinute); }
Result<Value> FnSecond(const Args& a) { return DatePartOf(a, "Second", Part::kSecond); }

Result<int> FirstDayArg(const Args& a, size_t index, std::string_view name) {
  if (index >= a.size()) return 1;
  ASSIGN_OR_RETURN(int64_t day, WholeArg(a[index], name));
  if (day < 0 || day > 7) return InvalidCall(std::string(name) + " with first day " + std::to_string(day));
  return day == 0 ? 1 : static_cast<int>(day);
}

Result<Value> FnWeekday(const Args& a) {
  ASSIGN_OR_RETURN(double days, DateArg(a[0], "Weekday"));
  ASSIGN_OR_RETURN(int first_day, FirstDayArg(a, 1, "Weekday"));
  return Value(static_cast<int16_t>(WeekdayOf(PartsOf(days).serial, first_day)));
}

Result<Value> CheckedDate(double linear, std::string_view name) {
  const double stored = StoredDays(linear);
  if (!InDateRange(stored)) return InvalidCall(std::string(name) + " past the dates Access has");
  return Value(jet::DateTime{stored});
}

Result<Value> FnDateSerial(const Args& a) {
  ASSIGN_OR_RETURN(int64_t year, WholeArg(a[0], "DateSerial"));
  ASSIGN_OR_RETURN(int64_t month, WholeArg(a[1], "DateSerial"));
  ASSIGN_OR_RETURN(int64_t day, WholeArg(a[2], "DateSerial"));
  if (year >= 0 && year < 30) year += 2000;  // two-digit years as Access reads them
  if (year >= 30 && year < 100) year += 1900;
  if (year < 0 || year > 20000) return InvalidCall("DateSerial with year " + std::to_string(year));
  return CheckedDate(static_cast<double>(SerialOf(year, month, day)), "DateSerial");
}

Result<Value> FnTimeSerial(const Args& a) {
  ASSIGN_OR_RETURN(int64_t hour, WholeArg(a[0], "TimeSerial"));
  ASSIGN_OR_RETURN(int64_t minute, WholeArg(a[1], "TimeSerial"));
  ASSIGN_OR_RETURN(int64_t second, WholeArg(a[2], "TimeSerial"));
  return CheckedDate(static_cast<double>(hour * 3600 + minute * 60 + second) / 86400.0, "TimeSerial");
}

Result<Value> FnDateValue(const Args& a) {
  ASSIGN_OR_RETURN(double days, DateArg(a[0], "DateValue"));
  return Value(jet::DateTime{static_cast<double>(PartsOf(days).serial)});
}
Result<Value> FnTimeValue(const Args& a) {
  ASSIGN_OR_RETURN(double days, DateArg(a[0], "TimeValue"));
  const DateParts p = PartsOf(days);
  return Value(jet::DateTime{(p.hour * 3600 + p.minute * 60 + p.second) / 86400.0});
}

// yyyy q m y d w ww h n s
Result<std::string> IntervalArg(const Value& v, std::string_view name) {
  const std::string interval = AsciiLower(Trimmed(ValueText(v).value_or("")));
  static const std::array<const char*, 10> kIntervals = {"yyyy", "q", "m", "y", "d", "w", "ww", "h", "n", "s"};
  for (const char* known : kIntervals) {
    if (interval == known) return interval;
  }
  return InvalidCall(std::string(name) + " with interval '" + interval + "'");
}

int64_t AddMonths(int64_t serial, int64_t months) {
  int64_t year = 0;
  unsigned month = 0, day = 0;
  jet::CivilFromDays(serial + kJetEpoch, year, month, day);
  const int64_t total = year * 12 + (month - 1) + months;
  const int64_t new_year = total >= 0 ? total / 12 : -((-total + 11) / 12);
  const auto new_month = static_cast<unsigned>(total - new_year * 12 + 1);
  return SerialOf(new_year, new_month, std::min(day, DaysInMonth(new_year, new_month)));
}

Result<Value> FnDateAdd(const Args& a) {
  ASSIGN_OR_RETURN(std::string interval, IntervalArg(a[0], "DateAdd"));
  ASSIGN_OR_RETURN(double amount, NumberArg(a[1], "DateAdd"));
  ASSIGN_OR_RETURN(double days, DateArg(a[2], "DateAdd"));
  if (!(std::fabs(amount) <= 1e10)) return InvalidCall("DateAdd past the dates Access has");
  const auto n = static_cast<int64_t>(std::trunc(amount));  // a fraction is dropped, as Access does
  const double linear = LinearDays(days);
  const double day = std::floor(linear), time = linear - day;
  const auto serial = static_cast<int64_t>(day);
  double result = 0;
  if (interval == "yyyy" || interval == "q" || interval == "m") {
    const int64_t months = n * (interval == "yyyy" ? 12 : interval == "q" ? 3 : 1);
    if (std::llabs(months) > 120000) return InvalidCall("DateAdd past the dates Access has");
    result = static_cast<double>(AddMonths(serial, months)) + time;
  } else if (interval == "y" || interval == "d" || interval == "w" || interval == "ww") {
    result = linear + static_cast<double>(n * (interval == "ww" ? 7 : 1));
  } else {
    const int64_t unit = interval == "h" ? 3600 : interval == "n" ? 60 : 1;
    const auto ms = std::llround(linear * 86400000.0) + n * unit * 1000;
    result = static_cast<double>(ms) / 86400000.0;
  }
  return CheckedDate(result, "DateAdd");
}

// DateDiff counts the boundaries crossed between the two dates: year numbers, months, days,
// weeks starting on the first day, hours, minutes; "w" counts whole weeks of days.
Result<Value> FnDateDiff(const Args& a) {
  ASSIGN_OR_RETURN(std::string interval, IntervalArg(a[0], "DateDiff"));
  ASSIGN_OR_RETURN(double d1, DateArg(a[1], "DateDiff"));
  ASSIGN_OR_RETURN(double d2, DateArg(a[2], "DateDiff"));
  ASSIGN_OR_RETURN(int first_day, FirstDayArg(a, 3, "DateDiff"));
  const DateParts p1 = PartsOf(d1), p2 = PartsOf(d2);
  int64_t diff = 0;
  if (interval == "yyyy") {
    diff = p2.year - p1.year;
  } else if (interval == "q") {
    diff = (p2.year * 4 + (p2.month - 1) / 3) - (p1.year * 4 + (p1.month - 1) / 3);
  } else if (interval == "m") {
    diff = (p2.year * 12 + p2.month) - (p1.year * 12 + p1.month);
  } else if (interval == "y" || interval == "d") {
    diff = p2.serial - p1.serial;
  } else if (interval == "w") {
    diff = (p2.serial - p1.serial) / 7;
  } else if (interval == "ww") {
    const int64_t w1 = p1.serial - (WeekdayOf(p1.serial, first_day) - 1);
    const int64_t w2 = p2.serial - (WeekdayOf(p2.serial, first_day) - 1);
    diff = (w2 - w1) / 7;
  } else {
    const int64_t unit = interval == "h" ? 3600 : interval == "n" ? 60 : 1;
    auto seconds = [](const DateParts& p) { return p.serial * 86400 + p.hour * 3600 + p.minute * 60 + p.second; };
    auto floor_div = [](int64_t x, int64_t y) { return x >= 0 ? x / y : -((-x + y - 1) / y); };
    diff = floor_div(seconds(p2), unit) - floor_div(seconds(p1), unit);
  }
  return WholeResult(diff, "DateDiff");
}

Result<Value> FnDatePart(const Args& a) {
  ASSIGN_OR_RETURN(std::string interval, IntervalArg(a[0], "DatePart"));
  ASSIGN_OR_RETURN(double days, DateArg(a[1], "DatePart"));
  ASSIGN_OR_RETURN(int first_day, FirstDayArg(a, 2, "DatePart"));
  int64_t first_week = 1;
  if (a.size() > 3) {
    ASSIGN_OR_RETURN(first_week, WholeArg(a[3], "DatePart"));
  }
  if (first_week < 0 || first_week > 3) return InvalidCall("DatePart with first week " + std::to_string(first_week));
  const DateParts p = PartsOf(days);
  int64_t part = 0;
  if (interval == "yyyy") part = p.year;
  if (interval == "q") part = (p.month - 1) / 3 + 1;
  if (interval == "m") part = p.month;
  if (interval == "y") part = p.serial - SerialOf(p.year, 1, 1) + 1;
  if (interval == "d") part = p.day;
  if (interval == "w") part = WeekdayOf(p.serial, first_day);
  if (interval == "ww")
    part = WeekOfYear(p.serial, p.year, first_day, first_week == 0 ? 1 : static_cast<int>(first_week));
  if (interval == "h") part = p.hour;
  if (interval == "n") part = p.minute;
  if (interval == "s") part = p.second;
  return Value(static_cast<int16_t>(part));
}

Result<Value> FnMonthName(const Args& a) {
  ASSIGN_OR_RETURN(int64_t month, WholeArg(a[0], "MonthName"));
  if (month < 1 || month > 12) return InvalidCall("MonthName with month " + std::to_string(month));
  bool abbreviate = false;
  if (a.size() > 1) {
    ASSIGN_OR_RETURN(std::optional<bool> truth, ValueTruth(a[1]));
    abbreviate = truth.value_or(false);
  }
  const std::string name = kMonthNames[static_cast<size_t>(month - 1)];
  return Value(abbreviate ? name.substr(0, 3) : name);
}

Result<Value> FnWeekdayName(const Args& a) {
  ASSIGN_OR_RETURN(int64_t weekday, WholeArg(a[0], "WeekdayName"));
  if (weekday < 1 || weekday > 7) return InvalidCall("WeekdayName with weekday " + std::to_string(weekday));
  bool abbreviate = false;
  if (a.size() > 1) {
    ASSIGN_OR_RETURN(std::optional<bool> truth, ValueTruth(a[1]));
    abbreviate = truth.value_or(false);
  }
  ASSIGN_OR_RETURN(int first_day, FirstDayArg(a, 2, "WeekdayName"));
  const std::string name = kDayNames[static_cast<size_t>((weekday - 1 + first_day - 1) % 7)];
  return Value(abbreviate ? name.substr(0, 3) : name);
}

// ---- Conversions.

Result<Value> FnCStr(const Args& a) { return Value(*ValueText(a[0])); }

template <typename T>
Result<Value> WholeConversion(const Args& a, std::string_view name) {
  auto n = ValueNumber(a[0]);
  if (!n.ok()) return TypeMismatch(a[0], "a number", name);
  const double r = std::nearbyint(**n);  // half to even
  if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
        r <= static_cast<double>(std::numeric_limits<T>::max()))) {
    return LimitError("Overflow in " + std::string(name) + "(" + Shown(a[0]) + ")");
  }
  return Value(static_cast<T>(r));
}
Result<Value> FnCInt(const Args& a) { return WholeConversion<int16_t>(a, "CInt"); }
Result<Value> FnCLng(const Args& a) { return WholeConversion<int32_t>(a, "CLng"); }
Result<Value> FnCByte(const Args& a) { return WholeConversion<uint8_t>(a, "CByte"); }

Result<Value> FnCSng(const Args& a) {
  ASSIGN_OR_RETURN(double n, NumberArg(a[0], "CSng"));
  if (std::fabs(n) > std::numeric_limits<float>::max()) return LimitError("Overflow in CSng(" + Shown(a[0]) + ")");
  return Value(static_cast<float>(n));
}
Result<Value> FnCDbl(const Args& a) {
  ASSIGN_OR_RETURN(double n, NumberArg(a[0], "CDbl"));
  return Value(n);
}

Result<Value> FnCCur(const Args& a) {
  if (std::holds_alternative<jet::Currency>(a[0])) return a[0];
  std::optional<Dec> d = DecOfValue(a[0]);
  if (!d) {
    ASSIGN_OR_RETURN(double n, NumberArg(a[0], "CCur"));
    if (!(std::fabs(n) < 922337203685477.5)) return LimitError("Overflow in CCur(" + Shown(a[0]) + ")");
    const std::string digits = ScaledDigits(n, 4, 15, true);
    const Int128 scaled = std::strtoll(digits.c_str(), nullptr, 10);
    d = Dec{n < 0 ? -scaled : scaled, 4};
  }
  const Int128 scaled =
      d->scale <= 4 ? d->unscaled * Pow10(4 - d->scale) : DivideHalfEven(d->unscaled, Pow10(d->scale - 4));
  if (scaled < std::numeric_limits<int64_t>::min() || scaled > std::numeric_limits<int64_t>::max()) {
    return LimitError("Overflow in CCur(" + Shown(a[0]) + ")");
  }
  return Value(jet::Currency{static_cast<int64_t>(scaled)});
}

Result<Value> FnCDec(const Args& a) {
  std::optional<Dec> d = DecOfValue(a[0]);
  if (!d && IsText(a[0])) {
    std::string plain;
    for (char c : Trimmed(std::get<std::string>(a[0]))) {
      if (c != ',' && c != '$') plain += c;
    }
    d = DecFromText(plain);
  }
  if (!d) {
    ASSIGN_OR_RETURN(double n, NumberArg(a[0], "CDec"));
    d = DecOfDouble(n);
  }
  std::optional<jet::Decimal> r = d ? ToDecimal(*d) : std::nullopt;
  if (!r) return LimitError("Overflow in CDec(" + Shown(a[0]) + ")");
  return Value(*r);
}

Result<Value> FnCBool(const Args& a) {
  auto truth = ValueTruth(a[0]);
  if (!truth.ok() || IsDate(a[0])) return TypeMismatch(a[0], "a truth value", "CBool");
  return Value(**truth);
}

Result<Value> FnCDate(const Args& a) {
  ASSIGN_OR_RETURN(double days, DateArg(a[0], "CDate"));
  return Value(jet::DateTime{days});
}

Result<Value> FnCVar(const Args& a) { return a[0]; }
Result<Value> FnIsNull(const Args& a) { return Value(IsNull(a[0])); }
Result<Value> FnIsNumeric(const Args& a) {
  if (IsNull(a[0]) || IsDate(a[0])) return Value(false);
  return Value(ValueNumber(a[0]).ok());
}
Result<Value> FnIsDate(const Args& a) {
  if (IsDate(a[0])) return Value(true);
  if (const auto* s = std::get_if<std::string>(&a[0])) return Value(ParseDateText(*s).has_value());
  return Value(false);
}
Result<Value> FnNz(const Args& a) {
  if (!IsNull(a[0])) return a[0];
  return a.size() > 1 ? a[1] : Value(std::string());
}

Result<Value> FnChoose(const Args& a) {
  if (IsNull(a[0])) return Value(jet::Null{});
  ASSIGN_OR_RETURN(double n, NumberArg(a[0], "Choose"));
  const double index = std::trunc(n);  // a fraction is dropped
  if (!(index >= 1 && index < static_cast<double>(a.size()))) return Value(jet::Null{});
  return a[static_cast<size_t>(index)];
}

Result<Value> InBase(const Args& a, std::string_view name, int base) {
  ASSIGN_OR_RETURN(int64_t n, WholeArg(a[0], name));
  uint32_t bits = static_cast<uint32_t>(static_cast<int32_t>(n));
  // An Integer-sized negative number shows its 16 bits, as Access does.
  if (n < 0 && (std::holds_alternative<int16_t>(a[0]) || std::holds_alternative<bool>(a[0]))) {
    bits &= 0xFFFF;
  }
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789ABCDEF"[bits % static_cast<uint32_t>(base)]);
    bits /= static_cast<uint32_t>(base);
  } while (bits != 0);
  return Value(digits);
}
Result<Value> FnHex(const Args& a) { return InBase(a, "Hex", 16); }
Result<Value> FnOct(const Args& a) { return InBase(a, "Oct", 8); }

Result<Value> FnFormat(const Args& a);

// ---- Format.

struct DateToken {
  enum Kind {
    kLiteral,
    kDay,
    kMonth,
    kMinute,
    kYear,
    kHour,
    kSecond,
    kWeekday,
    kWeek,
    kQuarter,
    kAmPm,
    kGeneral,
    kLongTime
  };
  Kind kind = kLiteral;
  int width = 1;     // letters in the run
  std::string text;  // literal text, or the AM/PM form as written
};

bool StartsWithNoCase(std::string_view text, size_t pos, std::string_view prefix) {
  return text.size() - pos >= prefix.size() && EqualsIgnoreAsciiCase(text.substr(pos, prefix.size()), prefix);
}

std::vector<DateToken> DateTokens(std::string_view pattern) {
  std::vector<DateToken> tokens;
  auto literal = [&](std::string_view text) {
    if (tokens.empty() || tokens.back().kind != DateToken::kLiteral) tokens.push_back({DateToken::kLiteral, 0, ""});
    tokens.back().text += text;
  };
  for (size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    if (c == '"') {
      const size_t end = pattern.find('"', i + 1);
      literal(pattern.substr(i + 1, (end == std::string_view::npos ? pattern.size() : end) - i - 1));
      i = end == std::string_view::npos ? pattern.size() : end + 1;
      continue;
    }
    if (c == '\\') {
      if (i + 1 < pattern.size()) literal(pattern.substr(i + 1, 1));
      i += 2;
      continue;
    }
    bool matched = false;
    for (std::string_view ampm : {"am/pm", "a/p", "ampm"}) {
      if (StartsWithNoCase(pattern, i, ampm)) {
        tokens.push_back({DateToken::kAmPm, 0, std::string(pattern.substr(i, ampm.size()))});
        i += ampm.size();
        matched = true;
        break;
      }
    }
    if (matched) continue;
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t run = 1;
    while (i + run < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[i + run])) == lower) ++run;
    const int width = static_cast<int>(run);
    switch (lower) {
      case 'd': tokens.push_back({DateToken::kDay, width, ""}); break;
      case 'm': tokens.push_back({DateToken::kMonth, width, ""}); break;
      case 'y': tokens.push_back({DateToken::kYear, width, ""}); break;
      case 'h': tokens.push_back({DateToken::kHour, width, ""}); break;
      case 'n': tokens.push_back({DateToken::kMinute, width, ""}); break;
      case 's': tokens.push_back({DateToken::kSecond, width, ""}); break;
      case 'w': tokens.push_back({width >= 2 ? DateToken::kWeek : DateToken::kWeekday, width, ""}); break;
      case 'q': tokens.push_back({DateToken::kQuarter, width, ""}); break;
      case 'c': tokens.push_back({DateToken::kGeneral, width, ""}); break;
      case 't':
        if (run >= 5) {
          tokens.push_back({DateToken::kLongTime, width, ""});
          break;
        }
        [[fallthrough]];
      default: literal(pattern.substr(i, run));
    }
    i += run;
  }
  // m and mm after an hour or before a second are minutes.
  for (size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].kind != DateToken::kMonth || tokens[k].width > 2) continue;
    const DateToken* before = nullptr;
    const DateToken* after = nullptr;
    for (size_t j = k; j-- > 0;) {
      if (tokens[j].kind != DateToken::kLiteral) {
        before = &tokens[j];
        break;
      }
    }
    for (size_t j = k + 1; j < tokens.size(); ++j) {
      if (tokens[j].kind != DateToken::kLiteral) {
        after = &tokens[j];
        break;
      }
    }
    if ((before && before->kind == DateToken::kHour) || (after && after->kind == DateToken::kSecond)) {
      tokens[k].kind = DateToken::kMinute;
    }
  }
  return tokens;
}

std::string FormatDate(double stored, std::string_view pattern, int first_day, int first_week) {
  const std::vector<DateToken> tokens = DateTokens(pattern);
  const bool twelve_hour =
      std::any_of(tokens.begin(), tokens.end(), [](const DateToken& t) { return t.kind == DateToken::kAmPm; });
  const DateParts p = PartsOf(stored);
  const int weekday = WeekdayOf(p.serial, 1);
  auto padded = [](int64_t n, int width) { return width >= 2 ? TwoDigits(n) : std::to_string(n); };
  std::string out;
  for (const DateToken& t : tokens) {
    switch (t.kind) {
      case DateToken::kLiteral: out += t.text; break;
      case DateToken::kDay:
        if (t.width <= 2) out += padded(p.day, t.width);
        if (t.width == 3) out += std::string(kDayNames[static_cast<size_t>(weekday - 1)]).substr(0, 3);
        if (t.width == 4) out += kDayNames[static_cast<size_t>(weekday - 1)];
        if (t.width == 5) out += ShortDateText(p);
        if (t.width >= 6) out += FormatDate(stored, "dddd, mmmm d, yyyy", first_day, first_week);
        break;
      case DateToken::kMonth:
        if (t.width <= 2) out += padded(p.month, t.width);
        if (t.width == 3) out += std::string(kMonthNames[p.month - 1]).substr(0, 3);
        if (t.width >= 4) out += kMonthNames[p.month - 1];
        break;
      case DateToken::kMinute: out += padded(p.minute, t.width); break;
      case DateToken::kSecond: out += padded(p.second, t.width); break;
      case DateToken::kYear:
        if (t.width == 1) out += std::to_string(p.serial - SerialOf(p.year, 1, 1) + 1);
        if (t.width == 2) out += TwoDigits(p.year % 100);
        if (t.width >= 3) out += std::to_string(p.year);
        break;
      case DateToken::kHour: {
        const int hour = twelve_hour ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
        out += padded(hour, t.width);
        break;
      }
      case DateToken::kWeekday: out += std::to_string(WeekdayOf(p.serial, first_day)); break;
      case DateToken::kWeek: out += std::to_string(WeekOfYear(p.serial, p.year, first_day, first_week)); break;
      case DateToken::kQuarter: out += std::to_string((p.month - 1) / 3 + 1); break;
      case DateToken::kGeneral: out += GeneralDateText(stored); break;
      case DateToken::kLongTime: out += LongTimeText(p); break;
      case DateToken::kAmPm: {
        const bool pm = p.hour >= 12;
        if (EqualsIgnoreAsciiCase(t.text, "a/p")) {
          out += pm ? t.text[2] : t.text[0];
        } else if (EqualsIgnoreAsciiCase(t.text, "ampm")) {
          out += pm ? "PM" : "AM";
        } else {
          out += pm ? t.text.substr(3, 2) : t.text.substr(0, 2);
        }
        break;
      }
    }
  }
  return out;
}

// Pattern sections split at ';' outside quotes.
std::vector<std::string> Sections(std::string_view pattern) {
  std::vector<std::string> sections(1);
  bool quoted = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '"') quoted = !quoted;
    if (c == '\\' && i + 1 < pattern.size()) {
      sections.back() += pattern.substr(i, 2);
      ++i;
      continue;
    }
    if (c == ';' && !quoted) {
      sections.emplace_back();
    } else {
      sections.back() += c;
    }
  }
  return sections;
}

struct NumberToken {
  char kind;  // '0' '#' '.' ',' '%' 'E' (exponent) 'L' (literal)
  std::string text;
  int exponent_zeros = 0;
};

std::vector<NumberToken> NumberTokens(std::string_view section) {
  std::vector<NumberToken> tokens;
  bool point = false;
  for (size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"') {
      const size_t end = section.find('"', i + 1);
      tokens.push_back(
          {'L', std::string(section.substr(i + 1, (end == std::string_view::npos ? section.size() : end) - i - 1))});
      i = end == std::string_view::npos ? section.size() : end;
    } else if (c == '\\' && i + 1 < section.size()) {
      tokens.push_back({'L', std::string(1, section[++i])});
    } else if ((c == 'E' || c == 'e') && i + 1 < section.size() && (section[i + 1] == '+' || section[i + 1] == '-')) {
      NumberToken t{'E', std::string(section.substr(i, 2))};
      i += 2;
      while (i < section.size() && (section[i] == '0' || section[i] == '#')) t.exponent_zeros += section[i++] == '0';
      --i;
      tokens.push_back(t);
    } else if (c == '0' || c == '#' || c == ',' || c == '%' || (c == '.' && !point)) {
      point = point || c == '.';
      tokens.push_back({c, ""});
    } else {
      tokens.push_back({'L', std::string(1, c)});
    }
  }
  return tokens;
}

std::string FormatNumber(double x, std::string_view section, bool show_minus) {
  const std::vector<NumberToken> tokens = NumberTokens(section);
  int int_places = 0, int_zeros_from = -1, frac_places = 0, frac_zeros = 0, percent = 0;
  bool after_point = false, grouping = false, scientific = false;
  for (const NumberToken& t : tokens) {
    if (t.kind == '.') after_point = true;
    if (t.kind == 'E') scientific = true;
    if (t.kind == '%') ++percent;
    if (t.kind == ',' && !after_point && int_places > 0) grouping = true;
    if (t.kind == '0' || t.kind == '#') {
      if (after_point) {
        ++frac_places;
        if (t.kind == '0') frac_zeros = frac_places;
      } else {
        if (t.kind == '0' && int_zeros_from < 0) int_zeros_from = int_places;
        ++int_places;
      }
    }
  }
  const int min_int = int_zeros_from < 0 ? 0 : int_places - int_zeros_from;
  double magnitude = std::fabs(x) * std::pow(100.0, percent);
  if (!std::isfinite(magnitude)) return GeneralNumber(x, 15);
  int exponent = 0;
  if (scientific && magnitude != 0) {
    exponent = static_cast<int>(std::floor(std::log10(magnitude))) - (std::max(int_places, 1) - 1);
    const std::string check = ScaledDigits(magnitude / std::pow(10.0, exponent), frac_places, 15, false);
    if (static_cast<int>(check.size()) > std::max(int_places, 1) + frac_places) ++exponent;
    magnitude /= std::pow(10.0, exponent);
  }
  const std::string digits = ScaledDigits(magnitude, frac_places, 15, false);
  std::string int_text = digits.size() > static_cast<size_t>(frac_places)
                             ? digits.substr(0, digits.size() - static_cast<size_t>(frac_places))
                             : "";
  std::string frac_text = digits.size() > static_cast<size_t>(frac_places)
                              ? digits.substr(int_text.size())
                              : std::string(static_cast<size_t>(frac_places) - digits.size(), '0') + digits;
  if (int_text == "0") int_text.clear();
  if (int_text.size() < static_cast<size_t>(min_int))
    int_text.insert(0, static_cast<size_t>(min_int) - int_text.size(), '0');
  while (frac_text.size() > static_cast<size_t>(frac_zeros) && frac_text.back() == '0') frac_text.pop_back();
  if (grouping) {
    for (int k = static_cast<int>(int_text.size()) - 3; k > 0; k -= 3) int_text.insert(static_cast<size_t>(k), ",");
  }
  std::string out = show_minus ? "-" : "";
  int int_seen = 0, frac_seen = 0;
  after_point = false;
  const int int_slots = std::max(int_places, 1);
  for (const NumberToken& t : tokens) {
    if (t.kind == '.') {
      after_point = true;
      out += '.';
    } else if ((t.kind == '0' || t.kind == '#') && !after_point) {
      // The first place takes every digit that has no place of its own.
      const int from_right = int_slots - 1 - int_seen++;
      const int len = static_cast<int>(int_text.size());
      if (from_right == int_slots - 1) {
        out += int_text.substr(0, static_cast<size_t>(std::max(0, len - from_right)));
      } else if (len - 1 - from_right >= 0) {
        out += int_text[static_cast<size_t>(len - 1 - from_right)];
      }
    } else if (t.kind == '0' || t.kind == '#') {
      if (static_cast<size_t>(frac_seen) < frac_text.size()) out += frac_text[static_cast<size_t>(frac_seen)];
      ++frac_seen;
    } else if (t.kind == '%') {
      out += '%';
    } else if (t.kind == 'E') {
      std::string e = std::to_string(std::abs(exponent));
      if (e.size() < static_cast<size_t>(t.exponent_zeros))
        e.insert(0, static_cast<size_t>(t.exponent_zeros) - e.size(), '0');
      out += t.text[0];
      out += exponent < 0 ? "-" : t.text[1] == '+' ? "+" : "";
      out += e;
    } else if (t.kind == 'L') {
      out += t.text;
    }
  }
  return out;
}

std::string FormatNumberSections(double x, std::string_view pattern) {
  const std::vector<std::string> sections = Sections(pattern);
  if (x == 0 && sections.size() > 2 && !sections[2].empty()) return FormatNumber(0, sections[2], false);
  if (x < 0 && sections.size() > 1 && !sections[1].empty()) return FormatNumber(x, sections[1], false);
  return FormatNumber(x, sections[0], x < 0);
}

bool IsNumberPattern(std::string_view pattern) {
  for (const NumberToken& t : NumberTokens(Sections(pattern)[0])) {
    if (t.kind == '0' || t.kind == '#' || t.kind == '%' || t.kind == 'E') return true;
  }
  return false;
}

Result<Value> FnFormat(const Args& a) {
  const Value& v = a[0];
  const std::string pattern = a.size() > 1 ? ValueText(a[1]).value_or("") : "";
  ASSIGN_OR_RETURN(int first_day, FirstDayArg(a, 2, "Format"));
  int64_t first_week = 1;
  if (a.size() > 3) {
    ASSIGN_OR_RETURN(first_week, WholeArg(a[3], "Format"));
  }
  if (first_week < 0 || first_week > 3) return InvalidCall("Format with first week " + std::to_string(first_week));
  if (first_week == 0) first_week = 1;
  if (pattern.empty()) return Value(*ValueText(v));

  // Text that is neither a number nor a date is only changed in case by > and <.
  std::optional<double> number;
  std::optional<double> date;
  if (IsDate(v)) {
    date = std::get<jet::DateTime>(v).days;
    number = date;
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    number = ParseNumberText(*s);
    if (!number) date = ParseDateText(*s);
    if (!number && !date) {
      if (pattern.find('>') != std::string::npos) return FnUCase({v});
      if (pattern.find('<') != std::string::npos) return FnLCase({v});
      return v;
    }
  } else {
    auto n = ValueNumber(v);
    if (!n.ok()) return TypeMismatch(v, "a number or a date", "Format");
    number = **n;
  }
  const std::string name = AsciiLower(pattern);
  static const std::vector<std::pair<std::string_view, std::string_view>> kNamed = {
      {"long date", "dddd, mmmm d, yyyy"},
      {"medium date", "dd-mmm-yy"},
      {"short date", "m/d/yyyy"},
      {"long time", "h:nn:ss AM/PM"},
      {"medium time", "hh:nn AM/PM"},
      {"short time", "hh:nn"},
      {"currency", "$#,##0.00;($#,##0.00)"},
      {"fixed", "0.00"},
      {"standard", "#,##0.00"},
      {"percent", "0.00%"},
      {"scientific", "0.00E+00"}};
  std::string_view effective = pattern;
  for (const auto& [named, replacement] : kNamed) {
    if (name == named) effective = replacement;
  }
  const double days = date ? *date : *number;
  if (name == "general date") {
    if (!InDateRange(days)) return Overflow("Format");
    return Value(GeneralDateText(days));
  }
  if (name == "general number") return Value(GeneralNumber(number.value_or(days), 15));
  if (name == "yes/no" || name == "true/false" || name == "on/off") {
    const bool truth = (number ? *number : days) != 0;
    const size_t slash = name.find('/');
    std::string word = truth ? pattern.substr(0, slash) : pattern.substr(slash + 1);
    word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    for (size_t k = 1; k < word.size(); ++k)
      word[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(word[k])));
    return Value(word);
  }
  if (IsNumberPattern(effective)) {
    if (!number) return Value(FormatNumberSections(days, effective));
    return Value(FormatNumberSections(*number, effective));
  }
  if (!InDateRange(days)) return Overflow("Format");
  return Value(FormatDate(days, effective, first_day, static_cast<int>(first_week)));
}

struct FunctionDef {
  std::string_view name;
  int min_args;
  int max_args;
  Result<Value> (*call)(const Args&);
  bool takes_null;  // otherwise a Null argument gives Null
};

constexpr FunctionDef kFunctions[] = {
    {"Len", 1, 1, FnLen, false},
    {"Left", 2, 2, FnLeft, false},
    {"Right", 2, 2, FnRight, false},
    {"Mid", 2, 3, FnMid, false},
    {"LTrim", 1, 1, FnLTrim, false},
    {"RTrim", 1, 1, FnRTrim, false},
    {"Trim", 1, 1, FnTrim, false},
    {"UCase", 1, 1, FnUCase, false},
    {"LCase", 1, 1, FnLCase, false},
    {"InStr", 2, 4, FnInStr, false},
    {"InStrRev", 2, 4, FnInStrRev, false},
    {"Replace", 3, 6, FnReplace, false},
    {"Space", 1, 1, FnSpace, false},
    {"String", 2, 2, FnString, false},
    {"StrReverse", 1, 1, FnStrReverse, false},
    {"StrComp", 2, 3, FnStrComp, false},
    {"Asc", 1, 1, FnAsc, false},
    {"AscW", 1, 1, FnAscW, false},
    {"Chr", 1, 1, FnChr, false},
    {"ChrW", 1, 1, FnChrW, false},
    {"Val", 1, 1, FnVal, false},
    {"Str", 1, 1, FnStr, false},
    {"Abs", 1, 1, FnAbs, false},
    {"Sgn", 1, 1, FnSgn, false},
    {"Sqr", 1, 1, FnSqr, false},
    {"Int", 1, 1, FnInt, false},
    {"Fix", 1, 1, FnFix, false},
    {"Round", 1, 2, FnRound, false},
    {"Exp", 1, 1, FnExp, false},
    {"Log", 1, 1, FnLog, false},
    {"Sin", 1, 1, FnSin, false},
    {"Cos", 1, 1, FnCos, false},
    {"Tan", 1, 1, FnTan, false},
    {"Atn", 1, 1, FnAtn, false},
    {"Now", 0, 0, FnNow, false},
    {"Date", 0, 0, FnDate, false},
    {"Time", 0, 0, FnTime, false},
    {"Year", 1, 1, FnYear, false},
    {"Month", 1, 1, FnMonth, false},
    {"Day", 1, 1, FnDay, false},
    {"Hour", 1, 1, FnHour, false},
    {"Minute", 1, 1, FnMinute, false},
    {"Second", 1, 1, FnSecond, false},
    {"Weekday", 1, 2, FnWeekday, false},
    {"DateSerial", 3, 3, FnDateSerial, false},
    {"TimeSerial", 3, 3, FnTimeSerial, false},
    {"DateValue", 1, 1, FnDateValue, false},
    {"TimeValue", 1, 1, FnTimeValue, false},
    {"DateAdd", 3, 3, FnDateAdd, false},
    {"DateDiff", 3, 5, FnDateDiff, false},
    {"DatePart", 2, 4, FnDatePart, false},
    {"MonthName", 1, 2, FnMonthName, false},
    {"WeekdayName", 1, 3, FnWeekdayName, false},
    {"CStr", 1, 1, FnCStr, false},
    {"CInt", 1, 1, FnCInt, false},
    {"CLng", 1, 1, FnCLng, false},
    {"CByte", 1, 1, FnCByte, false},
    {"CSng", 1, 1, FnCSng, false},
    {"CDbl", 1, 1, FnCDbl, false},
    {"CCur", 1, 1, FnCCur, false},
    {"CDec", 1, 1, FnCDec, false},
    {"CBool", 1, 1, FnCBool, false},
    {"CDate", 1, 1, FnCDate, false},
    {"CVDate", 1, 1, FnCDate, false},
    {"CVar", 1, 1, FnCVar, true},
    {"IsNull", 1, 1, FnIsNull, true},
    {"IsNumeric", 1, 1, FnIsNumeric, true},
    {"IsDate", 1, 1, FnIsDate, true},
    {"Nz", 1, 2, FnNz, true},
    {"Choose", 2, 255, FnChoose, true},
    {"Hex", 1, 1, FnHex, false},
    {"Oct", 1, 1, FnOct, false},
    {"Format", 1, 4, FnFormat, false},
};

std::string CountText(const FunctionDef& f) {
  auto arguments = [](int n) { return n == 1 ? std::string(" argument") : std::string(" arguments"); };
  if (f.max_args == 0) return f.name.data() + std::string(" takes no arguments");
  const std::string name(f.name);
  if (f.min_args == f.max_args) return name + " takes " + std::to_string(f.min_args) + arguments(f.min_args);
  if (f.max_args == 255) return name + " takes at least " + std::to_string(f.min_args) + arguments(f.min_args);
  if (f.max_args == f.min_args + 1) {
    return name + " takes " + std::to_string(f.min_args) + " or " + std::to_string(f.max_args) + " arguments";
  }
  return name + " takes " + std::to_string(f.min_args) + " to " + std::to_string(f.max_args) + " arguments";
}

// ---- Aggregates.

class CountAggregator : public Aggregator {
 public:
  Status Add(const Value& value) override {
    if (!IsNull(value)) ++count_;
    return Status::Ok();
  }
  tabulon::Result<Value> Result() const override { return Value(static_cast<int32_t>(count_)); }

 private:
  int64_t count_ = 0;
};

// Sum and Avg: whole numbers sum exactly (a Long, or a Double past its range), Currency and
// Decimal exactly in their own type, anything else as Double.
class SumAggregator : public Aggregator {
 public:
  SumAggregator(bool average, std::string name) : average_(average), name_(std::move(name)) {}

  Status Add(const Value& value) override {
    if (IsNull(value)) return Status::Ok();
    ++count_;
    Kind kind = IsText(value) ? Kind::kDouble : KindOf(value);
    if (kind == Kind::kDate) kind = Kind::kDouble;
    ASSIGN_OR_RETURN(double n, NumberOf(value, name_));
    real_ += n;
    if (kind_ == Kind::kDouble || kind == Kind::kDouble) {
      kind_ = Kind::kDouble;
      return Status::Ok();
    }
    if (kind == Kind::kDecimal || kind_ == Kind::kDecimal) kind_ = Kind::kDecimal;
    if (kind == Kind::kCurrency && kind_ == Kind::kWhole) kind_ = Kind::kCurrency;
    const Dec d = *DecOfValue(value);
    const int scale = std::max(exact_.scale, d.scale);
    auto x = Rescaled(exact_, scale), y = Rescaled(d, scale);
    if (!x || !y || __builtin_add_overflow(x->unscaled, y->unscaled, &exact_.unscaled)) return Overflow(name_);
    exact_.scale = scale;
    return Status::Ok();
  }

  tabulon::Result<Value> Result() const override {
    if (count_ == 0) return Value(jet::Null{});
    if (kind_ == Kind::kDouble) return DoubleResult(average_ ? real_ / static_cast<double>(count_) : real_, name_);
    if (kind_ == Kind::kCurrency) {
      const Int128 scaled = exact_.unscaled * Pow10(4 - exact_.scale);
      return CurrencyResult(average_ ? DivideHalfEven(scaled, count_) : scaled, name_);
    }
    if (average_) return Value(DecToDouble(exact_) / static_cast<double>(count_));
    if (kind_ == Kind::kDecimal) {
      auto d = ToDecimal(exact_);
      if (!d) return Overflow(name_);
      return Value(*d);
    }
    return WholeResult(exact_.unscaled, name_);
  }

 private:
  bool average_;
  std::string name_;
  int64_t count_ = 0;
  Kind kind_ = Kind::kWhole;
  Dec exact_;
  double real_ = 0;
};

class PickAggregator : public Aggregator {
 public:
  enum Mode { kMin, kMax, kFirst, kLast };
  explicit PickAggregator(Mode mode) : mode_(mode) {}

  Status Add(const Value& value) override {
    if (IsNull(value)) return Status::Ok();
    if (IsNull(best_) || mode_ == kLast) {
      best_ = value;
      return Status::Ok();
    }
    if (mode_ == kFirst) return Status::Ok();
    ASSIGN_OR_RETURN(std::optional<int> order, CompareValues(value, best_));
    if (order && ((mode_ == kMin && *order < 0) || (mode_ == kMax && *order > 0))) best_ = value;
    return Status::Ok();
  }
  tabulon::Result<Value> Result() const override { return best_; }

 private:
  Mode mode_;
  Value best_;
};

// StDev and Var from a running mean (sample or population).
class SpreadAggregator : public Aggregator {
 public:
  SpreadAggregator(bool deviation, bool population, std::string name)
      : deviation_(deviation), population_(population), name_(std::move(name)) {}

  Status Add(const Value& value) override {
    if (IsNull(value)) return Status::Ok();
    ASSIGN_OR_RETURN(double x, NumberOf(value, name_));
    ++count_;
    const double delta = x - mean_;
    mean_ += delta / static_cast<double>(count_);
    squares_ += delta * (x - mean_);
    return Status::Ok();
  }
  tabulon::Result<Value> Result() const override {
    if (count_ < (population_ ? 1 : 2)) return Value(jet::Null{});
    const double variance = std::max(0.0, squares_ / static_cast<double>(population_ ? count_ : count_ - 1));
    return Value(deviation_ ? std::sqrt(variance) : variance);
  }

 private:
  bool deviation_, population_;
  std::string name_;
  int64_t count_ = 0;
  double mean_ = 0, squares_ = 0;
};

const FunctionDef* FindFunction(std::string_view name) {
  if (!name.empty() && name.back() == '$') name.remove_suffix(1);  // Left$ and the like
  for (const FunctionDef& f : kFunctions) {
    if (EqualsIgnoreAsciiCase(f.name, name)) return &f;
  }
  return nullptr;
}

}  // namespace

Result<Value> CallFunction(std::string_view name, const std::vector<Value>& arguments) {
  const FunctionDef* f = FindFunction(name);
  if (!f) return NotFoundError("unknown function " + std::string(name));
  const auto n = static_cast<int>(arguments.size());
  if (n < f->min_args || n > f->max_args) return InvalidArgumentError(CountText(*f));
  if (!f->takes_null && std::any_of(arguments.begin(), arguments.end(), IsNull)) return Value(jet::Null{});
  return f->call(arguments);
}

bool IsAggregate(std::string_view name) {
  for (std::string_view aggregate :
       {"Count", "Sum", "Avg", "Min", "Max", "StDev", "StDevP", "Var", "VarP", "First", "Last"}) {
    if (EqualsIgnoreAsciiCase(aggregate, name)) return true;
  }
  return false;
}

Result<std::unique_ptr<Aggregator>> MakeAggregator(std::string_view name) {
  const std::string lower = AsciiLower(name);
  std::unique_ptr<Aggregator> made;
  if (lower == "count") made = std::make_unique<CountAggregator>();
  if (lower == "sum") made = std::make_unique<SumAggregator>(false, "Sum");
  if (lower == "avg") made = std::make_unique<SumAggregator>(true, "Avg");
  if (lower == "min") made = std::make_unique<PickAggregator>(PickAggregator::kMin);
  if (lower == "max") made = std::make_unique<PickAggregator>(PickAggregator::kMax);
  if (lower == "first") made = std::make_unique<PickAggregator>(PickAggregator::kFirst);
  if (lower == "last") made = std::make_unique<PickAggregator>(PickAggregator::kLast);
  if (lower == "stdev") made = std::make_unique<SpreadAggregator>(true, false, "StDev");
  if (lower == "stdevp") made = std::make_unique<SpreadAggregator>(true, true, "StDevP");
  if (lower == "var") made = std::make_unique<SpreadAggregator>(false, false, "Var");
  if (lower == "varp") made = std::make_unique<SpreadAggregator>(false, true, "VarP");
  if (!made) return NotFoundError("unknown aggregate " + std::string(name));
  return made;
}

}  // namespace tabulon::jetsql
