#include "jet/object_properties.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/catalog_writer.h"
#include "jet/write_state.h"

namespace tabulon::jet {
namespace {

void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<uint16_t>(v >> 16));
}
std::string Utf16(const std::string& utf8) {
  std::string out;
  if (auto text = Utf8ToUtf16(utf8); text.ok()) AppendUtf16Le(*text, out);
  return out;
}

// Finds the catalog row of a table or query by name.
const CatalogEntry* FindTableOrQuery(const std::vector<CatalogEntry>& objects, std::string_view name) {
  for (const CatalogEntry& e : objects) {
    if (e.parent_id == kTablesContainerId && EqualsIgnoreAsciiCase(e.name, name)) return &e;
  }
  return nullptr;
}

}  // namespace

namespace {

constexpr std::pair<ColumnType, const char*> kPropertyTypeWords[] = {
    {ColumnType::kBoolean, "Boolean"}, {ColumnType::kByte, "Byte"},         {ColumnType::kInteger, "Integer"},
    {ColumnType::kLong, "Long"},       {ColumnType::kCurrency, "Currency"}, {ColumnType::kSingle, "Single"},
    {ColumnType::kDouble, "Double"},   {ColumnType::kDateTime, "DateTime"}, {ColumnType::kBinary, "Binary"},
    {ColumnType::kText, "Text"},       {ColumnType::kMemo, "Memo"},         {ColumnType::kGuid, "GUID"},
};

}  // namespace

std::string PropertyTypeWord(uint8_t type) {
  for (const auto& [code, word] : kPropertyTypeWords) {
    if (static_cast<uint8_t>(code) == type) return word;
  }
  return std::to_string(type);
}

std::optional<uint8_t> PropertyTypeCode(std::string_view word) {
  for (const auto& [code, name] : kPropertyTypeWords) {
    if (EqualsIgnoreAsciiCase(word, name)) return static_cast<uint8_t>(code);
  }
  unsigned number = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
  if (error == std::errc() && end == word.data() + word.size() && number <= 255) return static_cast<uint8_t>(number);
  return std::nullopt;
}

format::Property BooleanProperty(std::string name, bool value, bool ddl) {
  return {std::move(name), static_cast<uint8_t>(ColumnType::kBoolean), ddl, std::string(1, value ? '\1' : '\0')};
}

format::Property LongProperty(std::string name, int32_t value, bool ddl) {
  std::string data;
  Put32(data, static_cast<uint32_t>(value));
  return {std::move(name), static_cast<uint8_t>(ColumnType::kLong), ddl, data};
}

format::Property TextProperty(std::string name, const std::string& utf8, bool ddl) {
  return {std::move(name), static_cast<uint8_t>(ColumnType::kMemo), ddl, Utf16(utf8)};
}

std::string EncodePropertyBlob(const ObjectProperties& properties) {
  std::vector<std::string> names;
  auto name_index = [&](const std::string& name) {
    auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) it = names.insert(names.end(), name);
    return static_cast<uint16_t>(it - names.begin());
  };
  std::string chunks;
  // Jet keeps the object's own map ahead of the column maps.
  std::vector<const format::PropertyMap*> ordered;
  for (const auto& m : properties)
    if (!m.column) ordered.push_back(&m);
  for (const auto& m : properties)
    if (m.column) ordered.push_back(&m);
  for (const format::PropertyMap* map : ordered) {
    if (map->properties.empty()) continue;
    const std::string map_name = map->column ? Utf16(map->name) : std::string();
    std::string chunk;
    Put32(chunk, static_cast<uint32_t>(6 + map_name.size()));
    Put16(chunk, static_cast<uint16_t>(map_name.size()));
    chunk += map_name;
    for (const format::Property& p : map->properties) {
      Put16(chunk, static_cast<uint16_t>(8 + p.data.size()));
      chunk.push_back(p.ddl ? '\1' : '\0');
      chunk.push_back(static_cast<char>(p.type));
      Put16(chunk, name_index(p.name));
      Put16(chunk, static_cast<uint16_t>(p.data.size()));
      chunk += p.data;
    }
    Put32(chunks, static_cast<uint32_t>(6 + chunk.size()));
    Put16(chunks, map->column ? 0x01 : 0x00);
    chunks += chunk;
  }
  if (chunks.empty()) return {};
  std::string list;
  for (const std::string& n : names) {
    const std::string bytes = Utf16(n);
    Put16(list, static_cast<uint16_t>(bytes.size()));
    list += bytes;
  }
  std::string blob("MR2\0", 4);
  Put32(blob, static_cast<uint32_t>(6 + list.size()));
  Put16(blob, 0x80);
  return blob + list + chunks;
}

std::string NewTablePropertyBlob(const TableDefinition& table) {
  ObjectProperties properties;
  for (const ColumnDefinition& c : table.columns) {
    format::PropertyMap map;
    map.name = c.name;
    map.column = true;
    if (c.required) map.properties.push_back(BooleanProperty("Required", true));
    if (!c.default_value.empty()) map.properties.push_back(TextProperty("DefaultValue", c.default_value));
    if (c.allow_zero_length && (c.type == ColumnType::kText || c.type == ColumnType::kMemo)) {
      map.properties.push_back(BooleanProperty("AllowZeroLength", *c.allow_zero_length));
    }
    if (!map.properties.empty()) properties.push_back(std::move(map));
  }
  return EncodePropertyBlob(properties);
}

Value PropertyValue(const format::Property& property) {
  const auto* b = reinterpret_cast<const uint8_t*>(property.data.data());
  const size_t n = property.data.size();
  switch (static_cast<ColumnType>(property.type)) {
    case ColumnType::kBoolean:
      if (n >= 1) return b[0] != 0;
      break;
    case ColumnType::kByte:
      if (n == 1) return b[0];
      break;
    case ColumnType::kInteger:
      // Access stores Integer properties in four bytes; the value is the first two.
      if (n == 2 || n == 4) return ReadI16(b);
      break;
    case ColumnType::kLong:
      if (n == 4) return ReadI32(b);
      break;
    case ColumnType::kText:
    case ColumnType::kMemo: return Utf16LeBytesToUtf8(b, n);
    default: return Bytes{property.data};
  }
  return Null{};
}

const format::Property* FindProperty(const format::PropertyMap& map, std::string_view name) {
  for (const format::Property& p : map.properties) {
    if (EqualsIgnoreAsciiCase(p.name, name)) return &p;
  }
  return nullptr;
}

Result<ObjectProperties> Database::ReadProperties(std::string_view object) {
  ASSIGN_OR_RETURN(std::vector<CatalogEntry> objects, ListObjects());
  const CatalogEntry* entry = FindTableOrQuery(objects, object);
  if (!entry) return NotFoundError("no table or query named '" + std::string(object) + "'");
  int lv_prop = -1;
  for (size_t i = 0; i < catalog_.columns.size(); ++i) {
    if (catalog_.columns[i].name == "LvProp") lv_prop = static_cast<int>(i);
  }
  if (lv_prop < 0) return ObjectProperties{};
  ASSIGN_OR_RETURN(Row row, ReadRow(catalog_, entry->row));
  const auto* blob = std::get_if<Bytes>(&row[static_cast<size_t>(lv_prop)]);
  if (!blob) return ObjectProperties{};
  auto maps = format::DecodePropertyBlob(blob->data);
  if (!maps.ok()) return maps.status().WithContext("properties of '" + entry->name + "'");
  return maps;
}

Status Database::WriteProperties(std::string_view object, const ObjectProperties& properties) {
  for (const format::PropertyMap& map : properties) {
    for (const format::Property& p : map.properties) {
      if (p.name.empty() || p.data.size() > 0xFFF0) {
        return InvalidArgumentError("property '" + p.name + "' of '" + std::string(object) +
                                    "' has no name or too much data");
      }
    }
  }
  const std::string blob = EncodePropertyBlob(properties);
  return RunCatalogWrite([&](CatalogWriter& w) -> Status {
    const CatalogEntry* entry = FindTableOrQuery(w.Objects(), object);
    if (!entry) return NotFoundError("no table or query named '" + std::string(object) + "'");
    return w.SetObjectProperties(*entry, blob);
  });
}

}  // namespace tabulon::jet
