#include "jet/values.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tabulon::jet {

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

namespace {

const int64_t kJetEpoch = DaysFromCivil(1899, 12, 30);
constexpr int64_t kMsPerDay = 86'400'000;

bool ParseDigits(std::string_view text, size_t pos, size_t count, int& out) {
  if (pos + count > text.size()) return false;
  out = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FormatDateTime(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3e6) return "#invalid date";
  const double whole = std::trunc(days);
  auto day = static_cast<int64_t>(whole);
  int64_t ms = std::llround(std::fabs(days - whole) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    day += 1;
  }
  int64_t y;
  unsigned m, d;
  CivilFromDays(kJetEpoch + day, y, m, d);
  if (y < 1 || y > 9999) return "#invalid date";
  const auto seconds = static_cast<int>(ms / 1000);
  const auto millis = static_cast<int>(ms % 1000);
  char buffer[40];
  if (millis != 0) {
    std::snprintf(buffer, sizeof(buffer), "%04d-%02u-%02u %02d:%02d:%02d.%03d", static_cast<int>(y), m, d,
                  seconds / 3600, seconds / 60 % 60, seconds % 60, millis);
  } else {
    std::snprintf(buffer, sizeof(buffer), "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(y), m, d, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
  }
  return buffer;
}

std::optional<double> ParseDateTime(std::string_view text) {
  int y, mo, d, h = 0, mi = 0, s = 0, ms = 0;
  if (!ParseDigits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !ParseDigits(text, 5, 2, mo) ||
      text[7] != '-' || !ParseDigits(text, 8, 2, d)) {
    return std::nullopt;
  }
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || text.size() < 19 || !ParseDigits(text, 11, 2, h) || text[13] != ':' ||
        !ParseDigits(text, 14, 2, mi) || text[16] != ':' || !ParseDigits(text, 17, 2, s)) {
      return std::nullopt;
    }
    if (text.size() > 19) {
      const size_t digits = text.size() - 20;
      if (text[19] != '.' || digits < 1 || digits > 3 || !ParseDigits(text, 20, digits, ms)) {
        return std::nullopt;
      }
      for (size_t i = digits; i < 3; ++i) ms *= 10;
    }
  }
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return std::nullopt;
  const int64_t serial = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  int64_t check_y;
  unsigned check_m, check_d;
  CivilFromDays(serial, check_y, check_m, check_d);
  if (check_d != static_cast<unsigned>(d)) return std::nullopt;  // e.g. 2023-02-30
  const int64_t day = serial - kJetEpoch;
  const double time = static_cast<double>((int64_t{h} * 3600 + mi * 60 + s) * 1000 + ms) / kMsPerDay;
  return day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
}

std::string FormatGuid(const Guid& g) {
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    const uint8_t b = g.bytes[kOrder[i]];
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  out.push_back('}');
  return out;
}

std::optional<Guid> ParseGuid(std::string_view text) {
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return std::nullopt;
  Guid g;
  size_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      if (text[pos++] != '-') return std::nullopt;
    }
    const int hi = HexDigit(text[pos]);
    const int lo = HexDigit(text[pos + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    g.bytes[kOrder[i]] = static_cast<uint8_t>(hi * 16 + lo);
    pos += 2;
  }
  return g;
}

std::string FormatCurrency(int64_t scaled) {
  // Work on the unsigned magnitude so INT64_MIN is exact.
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? ~static_cast<uint64_t>(scaled) + 1 : static_cast<uint64_t>(scaled);
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%s%llu.%04llu", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / 10000), static_cast<unsigned long long>(magnitude % 10000));
  return buffer;
}

namespace {

// The shortest text that reads back as the same value.
template <typename Number>
std::string FormatShortest(Number value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string FormatDouble(double value) { return FormatShortest(value); }
std::string FormatFloat(float value) { return FormatShortest(value); }

std::string FormatHex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

std::string TrimDecimalZeros(std::string text) {
  if (text.find('.') == std::string::npos) return text;
  size_t end = text.size();
  while (end > 0 && text[end - 1] == '0') --end;
  if (end > 0 && text[end - 1] == '.') --end;
  text.resize(end);
  if (text == "-0") return "0";
  return text;
}

std::string CsvField(const std::optional<std::string>& text) {
  if (!text) return {};
  if (!text->empty() && text->find_first_of(",\"\r\n") == std::string::npos) return *text;
  std::string out = "\"";
  for (char c : *text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

bool SameValue(const Value& a, const Value& b) { return a.index() == b.index() && FormatValue(a) == FormatValue(b); }

std::optional<std::string> FormatValue(const Value& value) {
  struct Visitor {
    std::optional<std::string> operator()(const Null&) const { return std::nullopt; }
    std::optional<std::string> operator()(bool v) const { return v ? "true" : "false"; }
    std::optional<std::string> operator()(uint8_t v) const { return std::to_string(v); }
    std::optional<std::string> operator()(int16_t v) const { return std::to_string(v); }
    std::optional<std::string> operator()(int32_t v) const { return std::to_string(v); }
    std::optional<std::string> operator()(const Currency& v) const {
      return TrimDecimalZeros(FormatCurrency(v.scaled));
    }
    std::optional<std::string> operator()(float v) const { return FormatFloat(v); }
    std::optional<std::string> operator()(double v) const { return FormatDouble(v); }
    std::optional<std::string> operator()(const DateTime& v) const { return FormatDateTime(v.days); }
    std::optional<std::string> operator()(const Bytes& v) const { return FormatHex(v.data); }
    std::optional<std::string> operator()(const std::string& v) const { return v; }
    std::optional<std::string> operator()(const Guid& v) const { return FormatGuid(v); }
    std::optional<std::string> operator()(const Decimal& v) const { return TrimDecimalZeros(v.ToString()); }
  };
  return std::visit(Visitor{}, value);
}

}  // namespace tabulon::jet
