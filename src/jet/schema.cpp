#include "jet/schema.h"

#include "base/text.h"

#include <string_view>

namespace tabulon::jet {
namespace {
__extension__ typedef unsigned __int128 Uint128;

Uint128 Magnitude(const Decimal& d) {
  Uint128 v = 0;
  for (int w = 3; w >= 0; --w) v = (v << 32) | d.words[w];
  return v;
}

// 10^28 - 1: the largest magnitude Jet's Decimal holds (precision 28).
const Uint128 kMaxMagnitude = [] {
  Uint128 v = 1;
  for (int i = 0; i < 28; ++i) v *= 10;
  return v - 1;
}();
}  // namespace

int ColumnIndex(const TableDefinition& table, std::string_view name) {
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (EqualsIgnoreAsciiCase(table.columns[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

const char* ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return "Boolean";
    case ColumnType::kByte: return "Byte";
    case ColumnType::kInteger: return "Integer";
    case ColumnType::kLong: return "Long";
    case ColumnType::kCurrency: return "Currency";
    case ColumnType::kSingle: return "Single";
    case ColumnType::kDouble: return "Double";
    case ColumnType::kDateTime: return "DateTime";
    case ColumnType::kBinary: return "Binary";
    case ColumnType::kText: return "Text";
    case ColumnType::kOle: return "OLE";
    case ColumnType::kMemo: return "Memo";
    case ColumnType::kGuid: return "GUID";
    case ColumnType::kNumeric: return "Decimal";
    case ColumnType::kUnknown0D: return "Unknown(0x0D)";
    case ColumnType::kUnknown11: return "Unknown(0x11)";
  }
  return "Unknown";
}

bool IsLongValueType(ColumnType type) { return type == ColumnType::kMemo || type == ColumnType::kOle; }

std::string Decimal::ToString() const {
  Uint128 v = Magnitude(*this);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  const bool zero = Magnitude(*this) == 0;
  return (negative && !zero ? "-" : "") + digits;
}

std::optional<Decimal> Decimal::Parse(std::string_view text, uint8_t scale) {
  if (scale > 28) return std::nullopt;
  Decimal d;
  d.scale = scale;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
  Uint128 v = 0;
  int fraction_digits = -1;  // -1: no point seen yet
  bool any_digit = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && fraction_digits < 0) {
      fraction_digits = 0;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    any_digit = true;
    if (fraction_digits >= 0) {
      if (fraction_digits == scale) {
        if (c != '0') return std::nullopt;  // would lose digits
        continue;
      }
      ++fraction_digits;
    }
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > kMaxMagnitude) return std::nullopt;
  }
  if (!any_digit) return std::nullopt;
  for (int k = fraction_digits < 0 ? 0 : fraction_digits; k < scale; ++k) {
    v *= 10;
    if (v > kMaxMagnitude) return std::nullopt;
  }
  for (int w = 0; w < 4; ++w) {
    d.words[w] = static_cast<uint32_t>(v);
    v >>= 32;
  }
  if (Magnitude(d) == 0) d.negative = false;
  return d;
}

}  // namespace tabulon::jet
