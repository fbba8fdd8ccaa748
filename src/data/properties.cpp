#include "data/properties.h"

#include <utility>

namespace tabulon::data {

void PropertySet::AddBool(PropertyId id, bool value) {
  properties_.push_back({id, 0, 0, Variant{VT_BOOL, value ? VARIANT_TRUE : VARIANT_FALSE, {}}});
}

void PropertySet::AddI2(PropertyId id, std::int16_t value) {
  properties_.push_back({id, 0, 0, Variant{VT_I2, value, {}}});
}

void PropertySet::AddI4(PropertyId id, std::int32_t value) {
  properties_.push_back({id, 0, 0, Variant{VT_I4, value, {}}});
}

void PropertySet::AddString(PropertyId id, std::string value) {
  properties_.push_back({id, 0, 0, Variant{VT_BSTR, 0, std::move(value)}});
}

const Property* PropertySet::Find(PropertyId id) const {
  for (auto it = properties_.rbegin(); it != properties_.rend(); ++it) {
    if (it->id == id) return &*it;
  }
  return nullptr;
}

std::optional<std::string> PropertySet::FindString(PropertyId id) const {
  const Property* p = Find(id);
  if (p == nullptr || p->value.type != VT_BSTR) return std::nullopt;
  return p->value.text;
}

std::optional<std::int32_t> PropertySet::FindNumber(PropertyId id) const {
  const Property* p = Find(id);
  if (p == nullptr || (p->value.type != VT_I2 && p->value.type != VT_I4)) return std::nullopt;
  return p->value.number;
}

const Property* FindProperty(std::span<const PropertySet> sets, const Guid& set_id, PropertyId id) {
  for (const PropertySet& set : sets) {
    if (set.set_id() == set_id) return set.Find(id);
  }
  return nullptr;
}

PropertySet BuildStatementRowsetProperties() {
  PropertySet set(DBPROPSET_ROWSET);
  set.AddBool(DBPROP_IRowsetChange, true);
  set.AddI4(DBPROP_UPDATABILITY, 7);
  return set;
}

}  // namespace tabulon::data
