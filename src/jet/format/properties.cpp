#include "jet/format/properties.h"

#include "base/bytes.h"
#include "base/text.h"

namespace tabulon::jet::format {
namespace {

constexpr std::string_view kMagic("MR2\0", 4);
constexpr uint16_t kNamesChunk = 0x80;
constexpr uint16_t kObjectChunk = 0x00;
constexpr uint16_t kColumnChunk = 0x01;

Status Bad(size_t at, const std::string& what) {
  return CorruptError("property blob offset " + std::to_string(at) + ": " + what);
}

}  // namespace

Result<std::vector<PropertyMap>> DecodePropertyBlob(std::string_view blob) {
  const auto* b = reinterpret_cast<const uint8_t*>(blob.data());
  if (blob.substr(0, 4) != kMagic) return Bad(0, "no MR2 signature");
  std::vector<std::string> names;
  std::vector<PropertyMap> maps;
  size_t at = 4;
  while (at < blob.size()) {
    if (blob.size() - at < 6) return Bad(at, "truncated chunk header");
    const uint32_t length = ReadU32(b + at);
    const uint16_t type = ReadU16(b + at + 4);
    if (length < 6 || length > blob.size() - at) return Bad(at, "chunk length " + std::to_string(length));
    const size_t end = at + length;
    size_t p = at + 6;
    if (type == kNamesChunk) {
      while (p < end) {
        if (end - p < 2 || ReadU16(b + p) > end - p - 2) return Bad(p, "name runs past its chunk");
        const uint16_t n = ReadU16(b + p);
        names.push_back(Utf16LeBytesToUtf8(b + p + 2, n));
        p += 2u + n;
      }
    } else if (type == kObjectChunk || type == kColumnChunk) {
      if (end - p < 6) return Bad(p, "truncated map name");
      const uint32_t block = ReadU32(b + p);
      const uint16_t n = ReadU16(b + p + 4);
      if (block < 6u + n || block > end - p) return Bad(p, "map name block of " + std::to_string(block));
      PropertyMap map;
      map.column = type == kColumnChunk;
      map.name = Utf16LeBytesToUtf8(b + p + 6, n);
      for (p += block; p < end;) {
        if (end - p < 8) return Bad(p, "truncated property");
        const uint16_t record = ReadU16(b + p);
        const uint16_t name_index = ReadU16(b + p + 4);
        const uint16_t size = ReadU16(b + p + 6);
        if (record < 8u + size || record > end - p) return Bad(p, "property of " + std::to_string(record) + " bytes");
        if (name_index >= names.size()) return Bad(p + 4, "unknown property name " + std::to_string(name_index));
        map.properties.push_back({names[name_index], b[p + 3], b[p + 2] != 0, std::string(blob.substr(p + 8, size))});
        p += record;
      }
      maps.push_back(std::move(map));
    }  // other chunk types carry nothing a reader needs
    at = end;
  }
  return maps;
}

void ApplyColumnProperties(const std::vector<PropertyMap>& maps, TableDefinition& table) {
  for (const PropertyMap& map : maps) {
    if (!map.column) continue;
    for (const Property& property : map.properties) {
      if (property.name != "Required" || property.type != static_cast<uint8_t>(ColumnType::kBoolean) ||
          property.data.size() != 1) {
        continue;
      }
      for (ColumnDefinition& column : table.columns) {
        if (EqualsIgnoreAsciiCase(column.name, map.name)) column.required = property.data[0] != 0;
      }
    }
  }
}

}  // namespace tabulon::jet::format
