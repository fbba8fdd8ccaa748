#include "jet/column_metadata.h"

#include "base/text.h"
#include "jet/object_properties.h"

namespace tabulon::jet {

ColumnMetadata DescribeColumn(const ColumnDefinition& column, uint32_t ordinal, const format::PropertyMap* properties) {
  ColumnMetadata m;
  m.name = column.name;
  m.ordinal = ordinal;
  bool required = column.required;
  if (properties) {
    if (const format::Property* p = FindProperty(*properties, "Required")) {
      const Value v = PropertyValue(*p);
      if (const auto* b = std::get_if<bool>(&v)) required = *b;
    }
    if (const format::Property* p = FindProperty(*properties, "DefaultValue")) {
      const Value v = PropertyValue(*p);
      if (const auto* text = std::get_if<std::string>(&v)) {
        m.has_default = true;
        m.default_value = *text;
      }
    }
  }
  enum Shape { kFixed, kVariable, kLong } shape = kFixed;
  switch (column.type) {
    case ColumnType::kBoolean: m.ole_type = 11; break;
    case ColumnType::kByte: m.ole_type = 17; break;
    case ColumnType::kInteger: m.ole_type = 2; break;
    case ColumnType::kLong: m.ole_type = 3; break;
    case ColumnType::kCurrency: m.ole_type = 6; break;
    case ColumnType::kSingle: m.ole_type = 4; break;
    case ColumnType::kDouble: m.ole_type = 5; break;
    case ColumnType::kDateTime: m.ole_type = 7; break;
    case ColumnType::kGuid: m.ole_type = 72; break;
    case ColumnType::kNumeric:
      m.ole_type = 131;
      m.precision = column.precision;
      m.scale = column.scale;
      break;
    case ColumnType::kText:
      m.ole_type = 130;
      m.size = column.length / 2u;
      shape = kVariable;
      break;
    case ColumnType::kBinary:
      m.ole_type = 128;
      m.size = column.length;
      shape = kVariable;
      break;
    case ColumnType::kMemo:
      m.ole_type = 130;
      shape = kLong;
      break;
    case ColumnType::kOle:
      m.ole_type = 128;
      shape = kLong;
      break;
    default:
      m.ole_type = 128;
      shape = kVariable;
      m.size = column.length;
      break;
  }
  const bool never_null =
      column.type == ColumnType::kBoolean || (column.type == ColumnType::kLong && column.auto_number());
  m.nullable = !required && !never_null;
  if (never_null) {
    m.flags = kDbColumnFixedLength | kDbColumnWriteUnknown;  // 24
    return m;
  }
  m.flags = kDbColumnMayBeNull | kDbColumnWriteUnknown | kDbColumnMayDefer;  // 74
  if (shape == kFixed) m.flags |= kDbColumnFixedLength;                      // 90
  if (shape == kLong) m.flags |= kDbColumnLong;                              // 202
  if (m.nullable) m.flags |= kDbColumnNullable;                              // 106, 122, 234
  return m;
}

Result<std::vector<ColumnMetadata>> Database::GetColumnMetadata(std::string_view table) {
  ASSIGN_OR_RETURN(TableDefinition def, GetTable(table));
  ASSIGN_OR_RETURN(ObjectProperties properties, ReadProperties(def.name));
  std::vector<ColumnMetadata> out;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const format::PropertyMap* map = nullptr;
    for (const format::PropertyMap& m : properties) {
      if (m.column && EqualsIgnoreAsciiCase(m.name, def.columns[i].name)) map = &m;
    }
    out.push_back(DescribeColumn(def.columns[i], static_cast<uint32_t>(i + 1), map));
  }
  return out;
}

}  // namespace tabulon::jet
