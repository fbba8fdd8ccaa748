#include "jet/row_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/bytes.h"
#include "base/text.h"

namespace tabulon::jet {
namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr size_t kMaxCompressedCharacters = 1024;
constexpr uint32_t kLongValueInline = 0x80000000u;
constexpr uint32_t kMaxLongValueLength = 0x3FFFFFFFu;  // 30-bit length field

Status TypeError(const ColumnDefinition& column, const char* expected) {
  return InvalidArgumentError("column '" + column.name + "' (" + ColumnTypeName(column.type) + ") needs " + expected);
}

// Integer value of any integral alternative, for columns that take a narrower type.
bool IntegerOf(const Value& value, int64_t& out) {
  if (const auto* v = std::get_if<int32_t>(&value)) return out = *v, true;
  if (const auto* v = std::get_if<int16_t>(&value)) return out = *v, true;
  if (const auto* v = std::get_if<uint8_t>(&value)) return out = *v, true;
  if (const auto* v = std::get_if<bool>(&value)) return out = *v ? -1 : 0, true;
  return false;
}

Uint128 Magnitude(const Decimal& d) {
  Uint128 m = 0;
  for (int i = 3; i >= 0; --i) m = (m << 32) | d.words[static_cast<size_t>(i)];
  return m;
}

int DigitCount(Uint128 m) {
  int digits = 0;
  while (m != 0) {
    m /= 10;
    ++digits;
  }
  return digits;
}

}  // namespace

Result<std::string> EncodeText(std::string_view utf8, bool compress) {
  ASSIGN_OR_RETURN(std::u16string text, Utf8ToUtf16(utf8));
  std::string out;
  const bool compressible = compress && text.size() > 2 && text.size() <= kMaxCompressedCharacters &&
                            std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 1 && c <= 0xFF; });
  if (compressible) {
    out.reserve(text.size() + 2);
    out.push_back('\xFF');
    out.push_back('\xFE');
    for (char16_t c : text) out.push_back(static_cast<char>(c));
  } else {
    out.reserve(text.size() * 2);
    AppendUtf16Le(text, out);
  }
  return out;
}

RowEncoder::RowEncoder(const TableDefinition& table) : table_(table) {
  uint16_t max_variable = 0;
  bool any_variable = false;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDefinition& c = table.columns[i];
    column_count_ = std::max<uint16_t>(column_count_, static_cast<uint16_t>(c.number + 1));
    if (c.fixed()) {
      if (c.type != ColumnType::kBoolean) {
        fixed_size_ = std::max<uint16_t>(fixed_size_, static_cast<uint16_t>(c.fixed_offset + c.length));
      }
    } else {
      any_variable = true;
      max_variable = std::max(max_variable, c.variable_index);
    }
  }
  column_count_ = std::max(column_count_, table.max_column_count);
  variable_count_ = any_variable ? static_cast<uint16_t>(max_variable + 1) : 0;
  variable_count_ = std::max(variable_count_, table.variable_column_count);
  variable_order_.assign(variable_count_, SIZE_MAX);
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (!table.columns[i].fixed()) variable_order_[table.columns[i].variable_index] = i;
  }
  fields_.resize(variable_count_);
}

Status RowEncoder::EncodeFixed(const ColumnDefinition& c, const Value& value, uint8_t* at) const {
  int64_t integer = 0;
  switch (c.type) {
    case ColumnType::kByte:
      if (!IntegerOf(value, integer) || integer < 0 || integer > 255) {
        return TypeError(c, "a whole number from 0 to 255");
      }
      at[0] = static_cast<uint8_t>(integer);
      return Status::Ok();
    case ColumnType::kInteger:
      if (!IntegerOf(value, integer) || integer < INT16_MIN || integer > INT16_MAX) {
        return TypeError(c, "a whole number from -32768 to 32767");
      }
      WriteI16(at, static_cast<int16_t>(integer));
      return Status::Ok();
    case ColumnType::kLong:
      if (!IntegerOf(value, integer)) return TypeError(c, "a 32-bit whole number");
      WriteI32(at, static_cast<int32_t>(integer));
      return Status::Ok();
    case ColumnType::kCurrency:
      if (const auto* v = std::get_if<Currency>(&value)) {
        WriteI64(at, v->scaled);
        return Status::Ok();
      }
      if (IntegerOf(value, integer)) {
        WriteI64(at, integer * 10000);
        return Status::Ok();
      }
      return TypeError(c, "a Currency value");
    case ColumnType::kSingle:
      if (const auto* v = std::get_if<float>(&value)) {
        WriteF32(at, *v);
        return Status::Ok();
      }
      if (IntegerOf(value, integer)) {
        WriteF32(at, static_cast<float>(integer));
        return Status::Ok();
      }
      return TypeError(c, "a Single value");
    case ColumnType::kDouble:
      if (const auto* v = std::get_if<double>(&value)) {
        WriteF64(at, *v);
      } else if (const auto* f = std::get_if<float>(&value)) {
        WriteF64(at, static_cast<double>(*f));
      } else if (IntegerOf(value, integer)) {
        WriteF64(at, static_cast<double>(integer));
      } else {
        return TypeError(c, "a Double value");
      }
      return Status::Ok();
    case ColumnType::kDateTime:
      if (const auto* v = std::get_if<DateTime>(&value)) {
        if (!std::isfinite(v->days)) return TypeError(c, "a finite date");
        WriteF64(at, v->days);
        return Status::Ok();
      }
      return TypeError(c, "a DateTime value");
    case ColumnType::kGuid:
      if (const auto* v = std::get_if<Guid>(&value)) {
        std::memcpy(at, v->bytes.data(), 16);
        return Status::Ok();
      }
      return TypeError(c, "a GUID");
    case ColumnType::kNumeric: {
      const auto* v = std::get_if<Decimal>(&value);
      if (!v) return TypeError(c, "a Decimal value");
      Uint128 m = Magnitude(*v);
      if (v->scale > c.scale) {
        // Digits beyond the column's scale may only be zeros: nothing is silently rounded.
        for (int s = v->scale; s > c.scale; --s) {
          if (m % 10 != 0) {
            return InvalidArgumentError("column '" + c.name + "': " + v->ToString() + " has more than " +
                                        std::to_string(c.scale) + " decimal places");
          }
          m /= 10;
        }
      }
      for (int s = v->scale; s < c.scale; ++s) {
        if (m > (~Uint128{0}) / 10) return TypeError(c, "a smaller Decimal value");
        m *= 10;
      }
      if (DigitCount(m) > c.precision) {
        return InvalidArgumentError("column '" + c.name + "': " + v->ToString() + " does not fit Decimal(" +
                                    std::to_string(c.precision) + "," + std::to_string(c.scale) + ")");
      }
      at[0] = v->negative && m != 0 ? 0x80 : 0x00;
      for (int word = 3; word >= 0; --word) {
        WriteU32(at + 1 + 4 * (3 - word), static_cast<uint32_t>(m >> (32 * word)));
      }
      return Status::Ok();
    }
    default:
      return UnsupportedError("column '" + c.name + "': cannot store type " + ColumnTypeName(c.type) +
                              " in the fixed area");
  }
}

Status RowEncoder::LongValueData(const ColumnDefinition& c, const Value& value, std::string& data) const {
  if (c.type == ColumnType::kMemo) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text) return TypeError(c, "text");
    auto encoded = EncodeText(*text, (c.extra_flags & 0x01) != 0);
    if (!encoded.ok()) return encoded.status().WithContext("column '" + c.name + "'");
    data = std::move(*encoded);
  } else {
    if (const auto* b = std::get_if<Bytes>(&value)) {
      data = b->data;
    } else {
      return TypeError(c, "bytes");
    }
  }
  if (data.size() > kMaxLongValueLength) {
    return LimitError("column '" + c.name + "': a value of " + std::to_string(data.size()) +
                      " bytes exceeds the 1 GB limit of a long value");
  }
  return Status::Ok();
}

Status RowEncoder::EncodeVariable(const ColumnDefinition& c, const Value& value, std::string& out) const {
  switch (c.type) {
    case ColumnType::kText: {
      const auto* text = std::get_if<std::string>(&value);
      if (!text) return TypeError(c, "text");
      auto utf16 = Utf8ToUtf16(*text);
      if (!utf16.ok()) return utf16.status().WithContext("column '" + c.name + "'");
      const size_t max_chars = c.length / 2u;
      if (utf16->size() > max_chars) {
        return LimitError("column '" + c.name + "': text of " + std::to_string(utf16->size()) +
                          " characters is longer than the column's " + std::to_string(max_chars));
      }
      ASSIGN_OR_RETURN(out, EncodeText(*text, (c.extra_flags & 0x01) != 0));
      return Status::Ok();
    }
    case ColumnType::kBinary: {
      const auto* b = std::get_if<Bytes>(&value);
      if (!b) return TypeError(c, "bytes");
      if (b->data.size() > c.length) {
        return LimitError("column '" + c.name + "': " + std::to_string(b->data.size()) +
                          " bytes are more than the column's " + std::to_string(c.length));
      }
      out = b->data;
      return Status::Ok();
    }
    case ColumnType::kNumeric: {
      // Some writers keep Decimal in the variable area; same 17 bytes.
      out.assign(17, '\0');
      return EncodeFixed(c, value, reinterpret_cast<uint8_t*>(out.data()));
    }
    default:
      return UnsupportedError("column '" + c.name + "': cannot store type " + ColumnTypeName(c.type) +
                              " in the variable area");
  }
}

Status RowEncoder::Encode(const Row& row, LongValueSink& long_values, std::string& out) {
  if (row.size() != table_.columns.size()) {
    return InvalidArgumentError("table '" + table_.name + "' has " + std::to_string(table_.columns.size()) +
                                " columns, the row has " + std::to_string(row.size()) + " values");
  }
  const size_t mask_size = (column_count_ + 7u) / 8u;
  out.assign(2u + fixed_size_, '\0');
  auto* bytes = reinterpret_cast<uint8_t*>(out.data());
  WriteU16(bytes, column_count_);
  std::string mask(mask_size, '\0');
  auto set_bit = [&](uint16_t number) {
    mask[number / 8u] = static_cast<char>(mask[number / 8u] | (1 << (number % 8u)));
  };

  // Long-value payloads first, to decide which stay inline.
  size_t long_inline_bytes = 0;
  struct Pending {
    size_t variable_index;
    std::string data;
  };
  std::vector<Pending> long_pending;

  for (size_t i = 0; i < table_.columns.size(); ++i) {
    const ColumnDefinition& c = table_.columns[i];
    const Value& v = row[i];
    const bool is_null = std::holds_alternative<Null>(v);
    if (is_null && c.required) {
      return InvalidArgumentError("column '" + c.name + "' is required and cannot be NULL");
    }
    if (c.type == ColumnType::kBoolean) {
      if (is_null) continue;  // Booleans are the null-mask bit itself: NULL reads as False
      const auto* b = std::get_if<bool>(&v);
      if (!b) return TypeError(c, "true or false");
      if (*b) set_bit(c.number);
      continue;
    }
    if (c.fixed()) {
      if (is_null) continue;
      RETURN_IF_ERROR(EncodeFixed(c, v, bytes + 2 + c.fixed_offset));
      set_bit(c.number);
      continue;
    }
    std::string& field = fields_[c.variable_index];
    field.clear();
    if (is_null) continue;
    set_bit(c.number);
    if (IsLongValueType(c.type)) {
      Pending p{c.variable_index, {}};
      RETURN_IF_ERROR(LongValueData(c, v, p.data));
      if (p.data.size() <= kMaxInlineLongValue) long_inline_bytes += p.data.size();
      long_pending.push_back(std::move(p));
    } else {
      RETURN_IF_ERROR(EncodeVariable(c, v, field));
    }
  }

  size_t base = 2u + fixed_size_ + mask_size;
  if (variable_count_ > 0) base += 4u + 2u * variable_count_;
  for (const std::string& f : fields_) base += f.size();
  base += 12u * long_pending.size();
  // Small long values stay in the row unless that would make it too large.
  const bool keep_inline = base + long_inline_bytes <= kMaxRowSize;
  for (Pending& p : long_pending) {
    const ColumnDefinition& c = table_.columns[variable_order_[p.variable_index]];
    std::string& field = fields_[p.variable_index];
    if (keep_inline && p.data.size() <= kMaxInlineLongValue) {
      field.assign(12, '\0');
      WriteU32(reinterpret_cast<uint8_t*>(field.data()), kLongValueInline | static_cast<uint32_t>(p.data.size()));
      field += p.data;
    } else {
      ASSIGN_OR_RETURN(field, long_values.Store(c, p.data));
    }
  }

  // Variable data, then the trailer: end offset, offsets from the last column down, count.
  std::vector<uint16_t> offsets(variable_count_);
  for (uint16_t k = 0; k < variable_count_; ++k) {
    offsets[k] = static_cast<uint16_t>(out.size());
    out += fields_[k];
    if (out.size() > kMaxRowSize) break;
  }
  const size_t total = out.size() + (variable_count_ > 0 ? 4u + 2u * variable_count_ : 0) + mask_size;
  if (total > kMaxRowSize) {
    return LimitError("a row of table '" + table_.name + "' needs " + std::to_string(total) + " bytes, more than the " +
                      std::to_string(kMaxRowSize) + " a row can hold (store long text as Memo)");
  }
  if (variable_count_ > 0) {
    const auto end = static_cast<uint16_t>(out.size());
    auto put16 = [&](uint16_t v) {
      out.push_back(static_cast<char>(v & 0xFF));
      out.push_back(static_cast<char>(v >> 8));
    };
    put16(end);
    for (int k = variable_count_ - 1; k >= 0; --k) put16(offsets[static_cast<size_t>(k)]);
    put16(variable_count_);
  }
  out += mask;
  return Status::Ok();
}

}  // namespace tabulon::jet
