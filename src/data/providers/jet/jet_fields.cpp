#include "data/providers/jet/jet_fields.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <variant>

#include "jetsql/convert.h"

namespace tabulon::data {
namespace {

using jet::ColumnType;
using jetsql::Literal;

bool IsLeap(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

// Days as ParseDateText reads the text of the date (FieldText), or nullopt when it would not.
std::optional<double> DateDays(const DateParts& d) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 100 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > kDays[d.month - 1] + (d.month == 2 && IsLeap(d.year) ? 1 : 0) || d.hour > 23 || d.minute > 59 ||
      d.second > 59 || d.fraction_ns > 999'999'999) {
    return std::nullopt;
  }
  // The reading rounds on the first four digits of the fraction.
  const int64_t ms = (static_cast<int64_t>(d.fraction_ns / 100'000) + 5) / 10;
  return jetsql::DaysFromParts(d.year, d.month, d.day, ((int64_t{d.hour} * 60 + d.minute) * 60 + d.second) * 1000 + ms);
}

template <size_t I = 0>
jet::Value ValueOfIndex(size_t index) {
  if constexpr (I < std::variant_size_v<jet::Value>) {
    if (index == I) return jet::Value(std::in_place_index<I>);
    return ValueOfIndex<I + 1>(index);
  } else {
    return jet::Null{};
  }
}

}  // namespace

Literal LiteralOfField(const Field& field) {
  Literal literal;
  switch (field.kind) {
    case Field::Kind::kNull: literal.kind = Literal::Kind::kNull; break;
    case Field::Kind::kInteger:
      literal.kind = Literal::Kind::kNumber;
      literal.text = std::to_string(field.integer);
      break;
    case Field::Kind::kDouble:
      // Not a number literal unless finite: "inf" is text, as it would be in a statement.
      literal.kind = std::isfinite(field.real) ? Literal::Kind::kNumber : Literal::Kind::kString;
      literal.text = FieldText(field);
      break;
    case Field::Kind::kNumber:
      literal.kind = Literal::Kind::kNumber;
      literal.text = field.text;
      break;
    case Field::Kind::kText:
      literal.kind = Literal::Kind::kString;
      literal.text = field.text;
      break;
    case Field::Kind::kBytes:
      literal.kind = Literal::Kind::kBinary;
      literal.text = field.text;
      break;
    case Field::Kind::kDate:
      literal.kind = Literal::Kind::kDate;
      literal.text = FieldText(field);
      break;
    case Field::Kind::kBoolean:
      literal.kind = Literal::Kind::kBoolean;
      literal.boolean = field.boolean;
      break;
  }
  return literal;
}

Result<jet::Value> ConvertField(const Field& field, const jet::ColumnDefinition& column) {
  const ColumnType type = column.type;
  switch (field.kind) {
    case Field::Kind::kNull: return jet::Value(jet::Null{});
    case Field::Kind::kText:
      if (type == ColumnType::kText || type == ColumnType::kMemo) return jet::Value(field.text);
      break;
    case Field::Kind::kInteger: {
      const int64_t v = field.integer;
      if (type == ColumnType::kLong && v >= std::numeric_limits<int32_t>::min() &&
          v <= std::numeric_limits<int32_t>::max()) {
        return jet::Value(static_cast<int32_t>(v));
      }
      if (type == ColumnType::kInteger && v >= -32768 && v <= 32767) return jet::Value(static_cast<int16_t>(v));
      if (type == ColumnType::kByte && v >= 0 && v <= 255) return jet::Value(static_cast<uint8_t>(v));
      // Both round to the nearest double, as reading the digits does.
      if (type == ColumnType::kDouble) return jet::Value(static_cast<double>(v));
      if (type == ColumnType::kBoolean) return jet::Value(v != 0);
      break;
    }
    case Field::Kind::kDouble:
      if (type == ColumnType::kDouble && std::isfinite(field.real)) return jet::Value(field.real);
      break;
    case Field::Kind::kDate:
      if (type == ColumnType::kDateTime) {
        if (const std::optional<double> days = DateDays(field.date)) return jet::Value(jet::DateTime{*days});
      }
      break;
    case Field::Kind::kBytes:
      if (type == ColumnType::kBinary || type == ColumnType::kOle) return jet::Value(jet::Bytes{field.text});
      break;
    case Field::Kind::kNumber:
    case Field::Kind::kBoolean: break;
  }
  return jetsql::ConvertLiteral(LiteralOfField(field), column);
}

Status ConvertFieldInto(const Field& field, const jet::ColumnDefinition& column, jet::Value& out) {
  if (field.kind == Field::Kind::kText && (column.type == ColumnType::kText || column.type == ColumnType::kMemo)) {
    if (auto* text = std::get_if<std::string>(&out)) {
      text->assign(field.text);
    } else {
      out = field.text;
    }
    return Status::Ok();
  }
  Result<jet::Value> value = ConvertField(field, column);
  if (!value.ok()) return value.status();
  out = std::move(*value);
  return Status::Ok();
}

void AppendRowBytes(const jet::Row& row, std::string& out) {
  const auto put = [&out](const void* data, size_t size) { out.append(static_cast<const char*>(data), size); };
  const auto count = static_cast<uint32_t>(row.size());
  put(&count, sizeof count);
  for (const jet::Value& value : row) {
    out.push_back(static_cast<char>(value.index()));
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, jet::Bytes>) {
            const std::string& data = [&]() -> const std::string& {
              if constexpr (std::is_same_v<T, jet::Bytes>) {
                return v.data;
              } else {
                return v;
              }
            }();
            const auto size = static_cast<uint32_t>(data.size());
            put(&size, sizeof size);
            put(data.data(), data.size());
          } else {
            static_assert(std::is_trivially_copyable_v<T>);
            put(&v, sizeof v);
          }
        },
        value);
  }
}


jet::Row ReadRowBytes(std::string_view bytes, size_t& at) {
  const auto get = [&](void* data, size_t size) {
    std::memcpy(data, bytes.data() + at, size);
    at += size;
  };
  uint32_t count = 0;
  get(&count, sizeof count);
  jet::Row row;
  row.reserve(count);
  for (uint32_t k = 0; k < count; ++k) {
    jet::Value value = ValueOfIndex(static_cast<unsigned char>(bytes[at++]));
    std::visit(
        [&](auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, jet::Bytes>) {
            uint32_t size = 0;
            get(&size, sizeof size);
            std::string data(bytes.substr(at, size));
            at += size;
            if constexpr (std::is_same_v<T, jet::Bytes>) {
              v.data = std::move(data);
            } else {
              v = std::move(data);
            }
          } else {
            get(&v, sizeof v);
          }
        },
        value);
    row.push_back(std::move(value));
  }
  return row;
}

}  // namespace tabulon::data
