#include "jet/format/row.h"

#include <cstring>

#include "base/bytes.h"
#include "base/text.h"

namespace tabulon::jet::format {
namespace {

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Values of a row are rewritten in place, so a scan reuses the strings' buffers.
std::string& StringSlot(Value& value) {
  if (auto* s = std::get_if<std::string>(&value)) {
    s->clear();
    return *s;
  }
  return value.emplace<std::string>();
}
std::string& BytesSlot(Value& value) {
  if (auto* b = std::get_if<Bytes>(&value)) {
    b->data.clear();
    return b->data;
  }
  return value.emplace<Bytes>().data;
}

Status RowError(uint32_t where, const std::string& what) {
  return CorruptError("row at page " + std::to_string(where >> 8) + " row " + std::to_string(where & 0xFF) + ": " +
                      what);
}

}  // namespace

void DecodeText(const uint8_t* data, size_t size, std::string& out) {
  out.clear();
  if (size >= 2 && data[0] == kTextCompressedMark0 && data[1] == kTextCompressedMark1) {
    // Compressed: one byte per character (high byte 0); a 0x00 switches to two-byte UTF-16LE
    // units and back.
    bool compressed = true;
    std::u16string wide;
    size_t i = 2;
    while (i < size) {
      if (data[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        wide.push_back(data[i]);
        ++i;
      } else if (i + 1 < size) {
        wide.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
        i += 2;
      } else {
        break;
      }
    }
    out = Utf16ToUtf8(wide);
    return;
  }
  // Plain UTF-16LE; the common all-BMP case is converted without a temporary.
  out.reserve(size);
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c >= 0xD800 && c <= 0xDFFF) {
      out = Utf16LeBytesToUtf8(data, size);
      return;
    }
    AppendUtf8(c, out);
  }
}

uint32_t FixedSize(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return 0;
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle: return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return 17;
    default: return 0;
  }
}

RowDecoder::RowDecoder(const TableDefinition& table) {
  columns_.reserve(table.columns.size());
  for (const ColumnDefinition& c : table.columns) {
    const bool fixed = c.type == ColumnType::kBoolean || c.fixed();
    const uint32_t size = FixedSize(c.type);
    columns_.push_back({c.type, c.number, fixed, c.fixed_offset, c.variable_index,
                        static_cast<uint16_t>(size != 0 ? size : c.length), c.scale, &c.name});
    if (!fixed) has_variable_ = true;
  }
}

Status RowDecoder::Decode(const uint8_t* row, uint32_t size, uint32_t where, LongValueSource* long_values,
                          Row& out) const {
  out.resize(columns_.size());
  if (size < 2) return RowError(where, "row of " + std::to_string(size) + " bytes");
  const uint16_t row_columns = ReadU16(row);
  const uint32_t mask_size = (row_columns + 7u) / 8u;
  if (2u + mask_size > size) {
    return RowError(where, "row declares " + std::to_string(row_columns) + " columns, too many for its " +
                               std::to_string(size) + " bytes");
  }
  const uint8_t* mask = row + size - mask_size;
  // Variable-offset table: [EOD][offset n-1]...[offset 0][n] just before the null mask.
  uint32_t var_count = 0;
  const uint8_t* var_table = nullptr;  // points at the count; offset k is at var_table - 2(k+1)
  uint32_t eod = 0;
  uint32_t data_end = size - mask_size;  // nothing of a value may reach into the trailer
  if (has_variable_) {
    const uint32_t trailer = size - mask_size;
    if (trailer < 4) return RowError(where, "no room for the variable-column table");
    var_count = ReadU16(row + trailer - 2);
    if (uint64_t{trailer} < 4 + 2ull * var_count + 2) {
      return RowError(where,
                      "variable-column table of " + std::to_string(var_count) + " entries does not fit in the row");
    }
    var_table = row + trailer - 2;
    eod = ReadU16(row + trailer - 4 - 2 * var_count);
    data_end = trailer - 4 - 2 * var_count;
    if (eod > data_end) {
      return RowError(where, "variable data ends at " + std::to_string(eod) + ", past the row's data area (" +
                                 std::to_string(data_end) + ")");
    }
  }

  for (size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    Value& value = out[i];
    // Columns added after the row was written are absent from it: NULL.
    const bool present = c.number < row_columns;
    const bool bit = present && (mask[c.number / 8] >> (c.number % 8)) & 1;
    if (c.type == ColumnType::kBoolean) {
      value = bit;
      continue;
    }
    if (!bit) {
      value = Null{};
      continue;
    }
    const uint8_t* data;
    uint32_t length;
    if (c.fixed) {
      length = c.fixed_size;
      const uint32_t start = 2u + c.fixed_offset;
      if (length == 0 || start + length > data_end) {
        return RowError(where, "fixed column '" + *c.name + "' at " + std::to_string(start) + " (+" +
                                   std::to_string(length) + ") is outside the row");
      }
      data = row + start;
    } else {
      if (c.variable_index >= var_count) {
        value = Null{};
        continue;
      }
      const uint32_t start = ReadU16(var_table - 2 * (c.variable_index + 1));
      const uint32_t end = c.variable_index + 1u < var_count ? ReadU16(var_table - 2 * (c.variable_index + 2)) : eod;
      if (start > end || end > eod) {
        return RowError(where, "column '" + *c.name + "' spans [" + std::to_string(start) + ", " + std::to_string(end) +
                                   "), outside the variable data");
      }
      data = row + start;
      length = end - start;
    }
    switch (c.type) {
      case ColumnType::kByte: value = data[0]; break;
      case ColumnType::kInteger: value = ReadI16(data); break;
      case ColumnType::kLong: value = ReadI32(data); break;
      case ColumnType::kCurrency: value = Currency{ReadI64(data)}; break;
      case ColumnType::kSingle: value = ReadF32(data); break;
      case ColumnType::kDouble: value = ReadF64(data); break;
      case ColumnType::kDateTime: value = DateTime{ReadF64(data)}; break;
      case ColumnType::kGuid: {
        Guid g;
        if (length < 16) return RowError(where, "GUID column '" + *c.name + "' is short");
        std::memcpy(g.bytes.data(), data, 16);
        value = g;
        break;
      }
      case ColumnType::kNumeric: {
        if (length < 17) return RowError(where, "Decimal column '" + *c.name + "' is short");
        Decimal d;
        d.negative = (data[0] & 0x80) != 0;
        d.scale = c.scale;
        for (int w = 0; w < 4; ++w) d.words[3 - w] = ReadU32(data + 1 + 4 * w);
        value = d;
        break;
      }
      case ColumnType::kText: DecodeText(data, length, StringSlot(value)); break;
      case ColumnType::kMemo:
      case ColumnType::kOle: {
        if (long_values == nullptr) {
          BytesSlot(value).assign(reinterpret_cast<const char*>(data), length);
          break;
        }
        if (c.type == ColumnType::kOle) {
          Status s = long_values->Read(data, length, BytesSlot(value));
          if (!s.ok())
            return s.WithContext("column '" + *c.name + "' of the row at page " + std::to_string(where >> 8) + " row " +
                                 std::to_string(where & 0xFF));
        } else {
          Status s = long_values->Read(data, length, scratch_);
          if (!s.ok())
            return s.WithContext("column '" + *c.name + "' of the row at page " + std::to_string(where >> 8) + " row " +
                                 std::to_string(where & 0xFF));
          DecodeText(reinterpret_cast<const uint8_t*>(scratch_.data()), scratch_.size(), StringSlot(value));
        }
        break;
      }
      default:  // Binary and types without a decoding of their own
        BytesSlot(value).assign(reinterpret_cast<const char*>(data), length);
        break;
    }
  }
  return Status::Ok();
}

}  // namespace tabulon::jet::format
