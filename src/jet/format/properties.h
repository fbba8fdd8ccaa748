// Property blobs (MSysObjects.LvProp): "MR2\0", a list of property names, then one map of
// values for the object itself and one per column.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/schema.h"

namespace tabulon::jet::format {

struct Property {
  std::string name;
  uint8_t type = 0;  // a column type code (0x01 Boolean, 0x04 Long, 0x0A Text, 0x0C Memo, ...)
  bool ddl = false;  // set by the engine (DDL), not by the user interface
  std::string data;  // raw value bytes (text as UTF-16LE)
};

struct PropertyMap {
  std::string name;  // column name; empty for the object's own map
  bool column = false;
  std::vector<Property> properties;
};

// Decodes a whole blob; anything that does not add up is corruption.
Result<std::vector<PropertyMap>> DecodePropertyBlob(std::string_view blob);

// Sets ColumnDefinition::required from the "Required" properties of a decoded blob.
void ApplyColumnProperties(const std::vector<PropertyMap>& maps, TableDefinition& table);

}  // namespace tabulon::jet::format
