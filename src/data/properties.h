// Property sets: the initialisation and rowset properties handed to a provider, modelled on the
// OLE DB property structures (a set id, then properties of id, options, status and a variant).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tabulon::data {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  friend bool operator==(const Guid&, const Guid&) = default;
};

inline constexpr Guid DBPROPSET_DATASOURCE{
    0xc8b522ba, 0x5cf3, 0x11ce, {0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d}};
inline constexpr Guid DBPROPSET_DATASOURCEINFO{
    0xc8b522bb, 0x5cf3, 0x11ce, {0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d}};
inline constexpr Guid DBPROPSET_DBINIT{0xc8b522bc, 0x5cf3, 0x11ce, {0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d}};
inline constexpr Guid DBPROPSET_ROWSET{0xc8b522be, 0x5cf3, 0x11ce, {0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d}};

using PropertyId = std::uint32_t;

// DBPROPSET_DBINIT
inline constexpr PropertyId DBPROP_AUTH_CACHE_AUTHINFO = 0x05;
inline constexpr PropertyId DBPROP_AUTH_ENCRYPT_PASSWORD = 0x06;
inline constexpr PropertyId DBPROP_AUTH_INTEGRATED = 0x07;
inline constexpr PropertyId DBPROP_AUTH_MASK_PASSWORD = 0x08;
inline constexpr PropertyId DBPROP_AUTH_PASSWORD = 0x09;
inline constexpr PropertyId DBPROP_AUTH_USERID = 0x0C;
inline constexpr PropertyId DBPROP_INIT_DATASOURCE = 0x3B;
inline constexpr PropertyId DBPROP_INIT_LOCATION = 0x3C;
inline constexpr PropertyId DBPROP_INIT_MODE = 0x3F;
inline constexpr PropertyId DBPROP_INIT_PROMPT = 0x40;
inline constexpr PropertyId DBPROP_INIT_TIMEOUT = 0x42;  // login timeout in seconds (VT_I4)
inline constexpr PropertyId DBPROP_INIT_PROVIDERSTRING = 0xA0;
inline constexpr PropertyId DBPROP_INIT_LCID = 0xBA;
inline constexpr PropertyId DBPROP_INIT_CATALOG = 0xE9;
// DBPROPSET_DATASOURCE / DBPROPSET_DATASOURCEINFO
inline constexpr PropertyId DBPROP_CURRENTCATALOG = 0x25;
inline constexpr PropertyId DBPROP_DATASOURCENAME = 0x26;
inline constexpr PropertyId DBPROP_DBMSNAME = 0x28;
inline constexpr PropertyId DBPROP_DBMSVER = 0x29;
// DBPROPSET_ROWSET
inline constexpr PropertyId DBPROP_BOOKMARKS = 0x0E;
inline constexpr PropertyId DBPROP_UPDATABILITY = 0x75;
inline constexpr PropertyId DBPROP_IRowsetChange = 0x7E;

inline constexpr std::int32_t DB_MODE_READ = 0x01;
inline constexpr std::int32_t DB_MODE_WRITE = 0x02;
inline constexpr std::int32_t DB_MODE_SHARE_DENY_NONE = 0x10;
inline constexpr std::int16_t DBPROMPT_NOPROMPT = 4;

enum VarType : std::uint16_t { VT_EMPTY = 0, VT_I2 = 2, VT_I4 = 3, VT_BSTR = 8, VT_BOOL = 11 };

inline constexpr std::int16_t VARIANT_TRUE = -1;  // all bits set
inline constexpr std::int16_t VARIANT_FALSE = 0;

struct Variant {
  VarType type = VT_EMPTY;
  std::int32_t number = 0;  // VT_I2, VT_I4, and VT_BOOL as VARIANT_TRUE / VARIANT_FALSE
  std::string text;         // VT_BSTR, UTF-8

  bool AsBool() const { return type == VT_BOOL && number != VARIANT_FALSE; }
};

struct Property {
  PropertyId id = 0;
  std::uint32_t options = 0;  // always 0 (required)
  std::uint32_t status = 0;   // set by the provider
  Variant value;
};

// A growable list of properties under one set id; each Add grows it by exactly one element.
class PropertySet {
 public:
  explicit PropertySet(const Guid& set_id) : set_id_(set_id) {}

  const Guid& set_id() const { return set_id_; }
  const std::vector<Property>& properties() const { return properties_; }
  size_t size() const { return properties_.size(); }

  void AddBool(PropertyId id, bool value);
  void AddI2(PropertyId id, std::int16_t value);
  void AddI4(PropertyId id, std::int32_t value);
  void AddString(PropertyId id, std::string value);

  // The last property with `id` (later entries override earlier ones), or null.
  const Property* Find(PropertyId id) const;
  // The text of a VT_BSTR property, when present.
  std::optional<std::string> FindString(PropertyId id) const;
  // The number of a VT_I2/VT_I4 property, when present.
  std::optional<std::int32_t> FindNumber(PropertyId id) const;

 private:
  Guid set_id_;
  std::vector<Property> properties_;
};

// The property that names `id` in the first set with id `set_id`, or null.
const Property* FindProperty(std::span<const PropertySet> sets, const Guid& set_id, PropertyId id);

// The rowset properties passed with every executed statement: DBPROP_IRowsetChange = true
// (VT_BOOL), then DBPROP_UPDATABILITY = 7 (change, delete and insert; VT_I4).
PropertySet BuildStatementRowsetProperties();

}  // namespace tabulon::data
