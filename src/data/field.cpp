#include "data/field.h"

#include <charconv>
#include <cstdio>

namespace tabulon::data {

std::string HexText(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex(bytes.size() * 2, '0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    hex[2 * i] = kDigits[byte >> 4];
    hex[2 * i + 1] = kDigits[byte & 0xF];
  }
  return hex;
}

std::string FieldText(const Field& field) {
  switch (field.kind) {
    case Field::Kind::kNull: return {};
    case Field::Kind::kInteger: return std::to_string(field.integer);
    case Field::Kind::kDouble: {
      char text[64];
      const auto [end, error] = std::to_chars(text, text + sizeof text, field.real);
      return error == std::errc() ? std::string(text, end) : std::to_string(field.real);
    }
    case Field::Kind::kNumber:
    case Field::Kind::kText: return field.text;
    case Field::Kind::kBytes: return HexText(field.text);
    case Field::Kind::kDate: {
      const DateParts& d = field.date;
      char text[48];
      int n = std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", d.year, d.month, d.day, d.hour,
                            d.minute, d.second);
      if (d.fraction_ns != 0 && n > 0 && d.fraction_ns < 1'000'000'000) {
        // Milliseconds in three digits, finer fractions without their trailing zeros.
        uint32_t fraction = d.fraction_ns;
        int digits = 9;
        while (fraction % 10 == 0 && digits > 3) {
          fraction /= 10;
          --digits;
        }
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ".%0*u", digits, fraction);
      }
      return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
    }
    case Field::Kind::kBoolean: return field.boolean ? "True" : "False";
  }
  return {};
}

}  // namespace tabulon::data
