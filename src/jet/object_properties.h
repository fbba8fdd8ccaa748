// Property blobs written by the engine (MSysObjects.LvProp) and typed access to their values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "jet/database.h"

namespace tabulon::jet {

// The blob of `properties`: names in first-use order, the object's own map (type 0) when it
// has values, then one map per column. Empty when there is no value at all.
std::string EncodePropertyBlob(const ObjectProperties& properties);

// The column properties a new table is written with: Required (when set), DefaultValue (when
// given) and AllowZeroLength (when given, Text and Memo only), all engine (DDL) properties.
std::string NewTablePropertyBlob(const TableDefinition& table);

// Property constructors: Boolean, Long and Memo (UTF-16LE text) values.
format::Property BooleanProperty(std::string name, bool value, bool ddl = true);
format::Property LongProperty(std::string name, int32_t value, bool ddl = false);
format::Property TextProperty(std::string name, const std::string& utf8, bool ddl = true);

// A property's value as an engine value (Boolean, Byte, Integer, Long, Text/Memo as UTF-8,
// Binary otherwise); Null when the data does not fit the type.
Value PropertyValue(const format::Property& property);

// The word of a property type in Access SQL (Boolean, Byte, Integer, Long, Currency, Single,
// Double, DateTime, Binary, Text, Memo, GUID; other codes: their number), and back (any case;
// a number from 0 to 255 too).
std::string PropertyTypeWord(uint8_t type);
std::optional<uint8_t> PropertyTypeCode(std::string_view word);

// The named property of a map (names compared like Jet: regardless of case), or null.
const format::Property* FindProperty(const format::PropertyMap& map, std::string_view name);

}  // namespace tabulon::jet
