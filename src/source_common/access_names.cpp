#include "source_common/access_names.h"

#include <algorithm>

#include "base/text.h"
#include "source_common/access_statements.h"

namespace tabulon::source_common {

namespace {

// A name as Access compares names: without regard to the case of Latin letters.
std::string FoldedName(std::string_view name) {
  Result<std::u16string> units = Utf8ToUtf16(name);
  if (!units.ok()) return AsciiLower(name);
  for (char16_t& u : *units) {
    if ((u >= u'A' && u <= u'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7)) u = static_cast<char16_t>(u + 32);
  }
  return Utf16ToUtf8(*units);
}

}  // namespace

std::vector<std::string> UniqueAccessNames(const std::vector<std::string>& names,
                                           const std::vector<std::string>& identities) {
  std::vector<std::string> out(names.size());
  std::map<std::string, std::vector<size_t>> groups;
  for (size_t i = 0; i < names.size(); ++i) {
    out[i] = AccessObjectName(names[i]);
    groups[FoldedName(out[i])].push_back(i);
  }
  for (auto& [folded, members] : groups) {
    if (members.size() < 2) continue;
    // The keeper: a name Access takes as it is before one it had to change, then by identity.
    const auto keeper = *std::min_element(members.begin(), members.end(), [&](size_t a, size_t b) {
      const bool a_changed = out[a] != names[a];
      const bool b_changed = out[b] != names[b];
      return a_changed != b_changed ? b_changed : identities[a] < identities[b];
    });
    for (size_t i : members) {
      if (i != keeper && identities[i] != identities[keeper]) out[i] = NameWithHash(out[i], identities[i]);
    }
  }
  return out;
}

AccessNames::AccessNames(const std::vector<SourceTable>& objects) {
  std::vector<std::string> names, identities;
  for (const SourceTable& t : objects) {
    names.push_back(t.name);
    identities.push_back(Identity(t));
  }
  const std::vector<std::string> access = UniqueAccessNames(names, identities);
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects_.emplace(identities[i], access[i]).second) listed_by_name_.emplace(names[i], objects[i]);
  }
}

std::string AccessNames::Identity(const SourceTable& table) { return table.schema + "." + table.name; }

std::string AccessNames::Key(const SourceTable& table) const {
  return Identity(table.schema.empty() ? Listed(table.name, "") : table);
}

std::string AccessNames::Object(const SourceTable& object) const {
  const auto found = objects_.find(Key(object));
  return found != objects_.end() ? found->second : AccessObjectName(object.name);
}

SourceTable AccessNames::Listed(std::string_view name, std::string_view schema) const {
  const auto [first, last] = listed_by_name_.equal_range(name);
  if (first == last) return SourceTable(std::string(name));
  for (auto it = first; it != last; ++it) {
    if (it->second.schema == schema) return it->second;
  }
  return std::next(first) == last ? first->second : SourceTable(std::string(name));
}

void AccessNames::SetColumns(const SourceTable& table, const std::vector<std::string>& columns) {
  const std::vector<std::string> access = UniqueAccessNames(columns, columns);
  std::map<std::string, std::string, std::less<>> names;
  for (size_t i = 0; i < columns.size(); ++i) names.emplace(columns[i], access[i]);
  std::lock_guard guard(mutex_);
  columns_[Key(table)] = std::move(names);
}

bool AccessNames::HasColumns(const SourceTable& table) const {
  std::lock_guard guard(mutex_);
  return columns_.contains(Key(table));
}

std::string AccessNames::Column(const SourceTable& table, std::string_view column) const {
  std::lock_guard guard(mutex_);
  if (const auto found = columns_.find(Key(table)); found != columns_.end()) {
    if (const auto name = found->second.find(column); name != found->second.end()) return name->second;
  }
  return AccessObjectName(column);
}

std::string AccessTableName(const SourceContext& owner, const SourceTable& table) {
  return owner.names ? owner.names->Object(table) : AccessObjectName(table.name);
}

std::string AccessColumnName(const SourceContext& owner, const SourceTable& table, std::string_view column) {
  return owner.names ? owner.names->Column(table, column) : AccessObjectName(column);
}

std::vector<KeyColumn> AccessKeyColumns(const SourceContext& owner, const SourceTable& table,
                                        std::vector<KeyColumn> columns) {
  for (KeyColumn& c : columns) c.name = AccessColumnName(owner, table, c.name);
  return columns;
}

AccessTableNames NameTableForAccess(const SourceContext& owner, const SourceTable& table,
                                    const std::vector<std::string>& columns, std::vector<Rename>& renames) {
  AccessTableNames names{AccessTableName(owner, table), UniqueAccessNames(columns, columns)};
  if (owner.names) owner.names->SetColumns(table, columns);
  AddRename(renames, "table", table.name, table.name, names.table);
  for (size_t k = 0; k < columns.size(); ++k) AddRename(renames, "column", table.name, columns[k], names.columns[k]);
  return names;
}

}  // namespace tabulon::source_common
