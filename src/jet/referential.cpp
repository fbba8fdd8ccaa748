// Enforced relationships on the writing side: the parent check of inserted rows and the plan
// of what a delete does to referencing rows (cascade, set Null or refusal).
#include "jet/referential.h"

#include <algorithm>
#include <deque>
#include <optional>

#include "jet/index_key.h"
#include "jet/index_writer.h"
#include "jet/values.h"

namespace tabulon::jet {
namespace {

constexpr uint8_t kForeignKeyIndex = 0x02;
constexpr uint8_t kPrimarySide = 1;
constexpr uint8_t kForeignSide = 2;

const IndexDefinition* LogicalNumbered(const TableDefinition& def, uint32_t number) {
  for (const IndexDefinition& index : def.indexes) {
    if (index.logical_number == number) return &index;
  }
  return nullptr;
}

Status Slots(const TableDefinition& def, const IndexDefinition& index, std::vector<size_t>& slots,
             std::vector<bool>& ascending) {
  for (const IndexColumn& ic : index.columns) {
    auto it = std::find_if(def.columns.begin(), def.columns.end(),
                           [&](const ColumnDefinition& c) { return c.number == ic.column_number; });
    if (it == def.columns.end()) {
      return CorruptError("index '" + index.name + "' of table '" + def.name + "' names column number " +
                          std::to_string(ic.column_number) + ", which the table lacks");
    }
    slots.push_back(static_cast<size_t>(it - def.columns.begin()));
    ascending.push_back(ic.ascending);
  }
  return Status::Ok();
}

// The relationship behind a foreign-key index `index` of `table` (either side).
Result<EnforcedRelationship> Describe(TableState& table, const IndexDefinition& index, const TableAtPage& at) {
  ASSIGN_OR_RETURN(TableState * other, at(index.fk_other_table_page));
  const IndexDefinition* partner = LogicalNumbered(other->def, index.fk_other_index);
  const uint8_t other_side = index.fk_side == kPrimarySide ? kForeignSide : kPrimarySide;
  if (!partner || partner->index_type != kForeignKeyIndex || partner->fk_side != other_side ||
      partner->columns.size() != index.columns.size()) {
    return CorruptError("foreign-key index '" + index.name + "' of table '" + table.def.name +
                        "' has no matching index in table '" + other->def.name + "'");
  }
  const bool primary_side = index.fk_side == kPrimarySide;
  const IndexDefinition& p = primary_side ? index : *partner;
  const IndexDefinition& f = primary_side ? *partner : index;
  EnforcedRelationship r;
  r.name = f.name;  // the referencing side's index carries the relationship's name
  r.primary = primary_side ? &table : other;
  r.foreign = primary_side ? other : &table;
  r.primary_real = p.real_number;
  r.foreign_real = f.real_number;
  r.cascade_update = index.cascade_update;
  r.cascade_delete = index.cascade_delete;
  r.cascade_null = index.cascade_null;
  RETURN_IF_ERROR(Slots(r.primary->def, p, r.primary_slots, r.primary_ascending));
  RETURN_IF_ERROR(Slots(r.foreign->def, f, r.foreign_slots, r.foreign_ascending));
  return r;
}

Result<std::vector<EnforcedRelationship>> RelationshipsOf(TableState& table, uint8_t side, const TableAtPage& at) {
  std::vector<EnforcedRelationship> out;
  const auto on_side = [&](const IndexDefinition& index) {
    return index.index_type == kForeignKeyIndex && index.fk_side == side;
  };
  // Most tables take part in no relationship: they cost no copy (one insert per call asks).
  if (std::none_of(table.def.indexes.begin(), table.def.indexes.end(), on_side)) return out;
  // Copied: looking up the other table may load it, never this one, but stay independent.
  const std::vector<IndexDefinition> indexes = table.def.indexes;
  for (const IndexDefinition& index : indexes) {
    if (!on_side(index)) continue;
    ASSIGN_OR_RETURN(EnforcedRelationship r, Describe(table, index, at));
    out.push_back(std::move(r));
  }
  return out;
}

// The key, in the index whose columns are `key_def`.columns[key_slots] (directions
// `ascending`), of the values row[value_slots]. Nullopt when a value is Null: such a row
// refers to nothing.
Result<std::optional<std::string>> KeyOf(const TableDefinition& key_def, const std::vector<size_t>& key_slots,
                                         const std::vector<bool>& ascending, const Row& row,
                                         const std::vector<size_t>& value_slots) {
  std::string key;
  for (size_t i = 0; i < key_slots.size(); ++i) {
    const ColumnDefinition& column = key_def.columns[key_slots[i]];
    const Value& value = row[value_slots[i]];
    if (std::holds_alternative<Null>(value) && column.type != ColumnType::kBoolean) {
      return std::optional<std::string>();
    }
    RETURN_IF_ERROR(AppendColumnKey(column, value, ascending[i], key));
  }
  return std::optional<std::string>(std::move(key));
}

// "(Col=1, Other='x')": the values row[slots] under the names of def.columns[slots].
std::string DescribeValues(const TableDefinition& def, const std::vector<size_t>& names, const Row& row,
                           const std::vector<size_t>& slots) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!text.empty()) text += ", ";
    const auto value = FormatValue(row[slots[i]]);
    text += def.columns[names[i]].name + "=" + (value ? "'" + *value + "'" : "Null");
  }
  return "(" + text + ")";
}

}  // namespace

bool InsertReferenceCheck::Needed(const TableDefinition& def) {
  return std::any_of(def.indexes.begin(), def.indexes.end(), [](const IndexDefinition& index) {
    return index.index_type == kForeignKeyIndex && index.fk_side == kForeignSide;
  });
}

Result<InsertReferenceCheck> InsertReferenceCheck::For(Pager& pager, TableState& table, const TableAtPage& at) {
  InsertReferenceCheck check;
  check.pager_ = &pager;
  ASSIGN_OR_RETURN(check.relationships_, RelationshipsOf(table, kForeignSide, at));
  check.found_.resize(check.relationships_.size());
  return check;
}

Status InsertReferenceCheck::Check(const Row& row) {
  for (size_t n = 0; n < relationships_.size(); ++n) {
    const EnforcedRelationship& r = relationships_[n];
    const TableDefinition& primary = r.primary->def;
    const TableDefinition& foreign = r.foreign->def;
    auto key = KeyOf(primary, r.primary_slots, r.primary_ascending, row, r.foreign_slots);
    if (!key.ok()) {
      return InvalidArgumentError("relationship '" + r.name + "': the row of '" + foreign.name + "' with " +
                                  DescribeValues(foreign, r.foreign_slots, row, r.foreign_slots) +
                                  " cannot be looked up in '" + primary.name + "': " + key.status().message());
    }
    if (!*key || found_[n].count(**key)) continue;
    bool found = false;
    if (r.primary == r.foreign) {
      // A row may refer to itself (an employee who is their own manager).
      ASSIGN_OR_RETURN(auto own, KeyOf(primary, r.primary_slots, r.primary_ascending, row, r.primary_slots));
      found = own && *own == **key;
    }
    if (!found) {
      ASSIGN_OR_RETURN(std::vector<RowPointer> parents, FindIndexKey(*pager_, *r.primary, r.primary_real, **key));
      found = !parents.empty();
    }
    if (!found) {
      return InvalidArgumentError("relationship '" + r.name + "': no row of '" + primary.name + "' has " +
                                  DescribeValues(primary, r.primary_slots, row, r.foreign_slots) +
                                  ", which the new row of '" + foreign.name + "' refers to with " +
                                  DescribeValues(foreign, r.foreign_slots, row, r.foreign_slots));
    }
    found_[n].insert(std::move(**key));  // parents stay for the rest of an insert
  }
  return Status::Ok();
}

Result<DeletePlan> PlanDelete(Database& db, Pager& pager, TableState& table,
                              const std::vector<std::pair<RowPointer, Row>>& doomed, const TableAtPage& at) {
  DeletePlan plan;
  std::map<uint32_t, std::vector<EnforcedRelationship>> referenced;  // by table page
  auto relationships_of = [&](TableState& t) -> Result<const std::vector<EnforcedRelationship>*> {
    auto it = referenced.find(t.def.tdef_page);
    if (it == referenced.end()) {
      ASSIGN_OR_RETURN(auto list, RelationshipsOf(t, kPrimarySide, at));
      it = referenced.emplace(t.def.tdef_page, std::move(list)).first;
    }
    return &it->second;
  };
  ASSIGN_OR_RETURN(const auto* direct, relationships_of(table));
  if (direct->empty()) return plan;

  struct Pending {
    TableState* table;
    RowPointer where;
    Row row;
  };
  struct Blocked {
    const EnforcedRelationship* relationship;
    Row parent;
    RowPointer child;
  };
  std::set<std::pair<uint32_t, RowPointer>> going;  // every row the delete removes
  std::deque<Pending> queue;
  for (const auto& [where, row] : doomed) {
    going.insert({table.def.tdef_page, where});
    queue.push_back({&table, where, row});
  }
  std::vector<Blocked> blocked;
  while (!queue.empty()) {
    Pending p = std::move(queue.front());
    queue.pop_front();
    ASSIGN_OR_RETURN(const auto* list, relationships_of(*p.table));
    for (const EnforcedRelationship& r : *list) {
      ASSIGN_OR_RETURN(auto key, KeyOf(r.foreign->def, r.foreign_slots, r.foreign_ascending, p.row, r.primary_slots));
      if (!key) continue;
      ASSIGN_OR_RETURN(std::vector<RowPointer> children, FindIndexKey(pager, *r.foreign, r.foreign_real, *key));
      const uint32_t child_page = r.foreign->def.tdef_page;
      for (RowPointer child : children) {
        if (going.count({child_page, child})) continue;  // also deleted (cycles end here)
        if (r.cascade_delete) {
          going.insert({child_page, child});
          plan.cascaded[child_page].insert(child);
          ASSIGN_OR_RETURN(Row values, db.ReadRow(r.foreign->def, child));
          queue.push_back({r.foreign, child, std::move(values)});
        } else if (r.cascade_null) {
          plan.set_null[child_page][child].insert(r.foreign_slots.begin(), r.foreign_slots.end());
        } else {
          blocked.push_back({&r, p.row, child});
        }
      }
    }
  }
  // A referencing row only blocks the delete when no cascade removes it too.
  for (const Blocked& b : blocked) {
    const EnforcedRelationship& r = *b.relationship;
    if (going.count({r.foreign->def.tdef_page, b.child})) continue;
    return InvalidArgumentError("relationship '" + r.name + "': the row of '" + r.primary->def.name + "' with " +
                                DescribeValues(r.primary->def, r.primary_slots, b.parent, r.primary_slots) +
                                " cannot be deleted, rows of '" + r.foreign->def.name + "' refer to it");
  }
  for (auto& [page, rows] : plan.set_null) {
    std::erase_if(rows, [&, p = page](const auto& entry) { return going.count({p, entry.first}) != 0; });
  }
  std::erase_if(plan.set_null, [](const auto& entry) { return entry.second.empty(); });
  return plan;
}

namespace {

// Whether the values in `slots` differ between a row's old and new values.
bool Changed(const RowChange& change, const std::vector<size_t>& slots) {
  return std::any_of(slots.begin(), slots.end(),
                     [&](size_t slot) { return !SameValue(change.before[slot], change.after[slot]); });
}

}  // namespace

Status PlanCascadeUpdate(Database& db, Pager& pager, UpdatePlan& plan, const TableAtPage& at) {
  std::map<uint32_t, std::vector<EnforcedRelationship>> referenced;  // by table page
  std::deque<std::pair<uint32_t, RowPointer>> queue;
  for (const auto& [page, rows] : plan) {
    for (const auto& entry : rows) queue.emplace_back(page, entry.first);
  }
  // A row changes again only when a key it follows changed again; cycles of cascades settle
  // long before this bound.
  std::map<std::pair<uint32_t, RowPointer>, int> visits;
  constexpr int kMaxVisits = 64;
  while (!queue.empty()) {
    const auto [page, where] = queue.front();
    queue.pop_front();
    if (++visits[{page, where}] > kMaxVisits) {
      return InvalidArgumentError("the cascading updates of the relationships do not settle");
    }
    ASSIGN_OR_RETURN(TableState * table, at(page));
    auto it = referenced.find(page);
    if (it == referenced.end()) {
      ASSIGN_OR_RETURN(auto list, RelationshipsOf(*table, kPrimarySide, at));
      it = referenced.emplace(page, std::move(list)).first;
    }
    for (const EnforcedRelationship& r : it->second) {
      const RowChange change = plan[page][where];  // a copy: the row may refer to itself
      if (!r.cascade_update || !Changed(change, r.primary_slots)) continue;
      ASSIGN_OR_RETURN(auto key,
                       KeyOf(r.foreign->def, r.foreign_slots, r.foreign_ascending, change.before, r.primary_slots));
      if (!key) continue;
      ASSIGN_OR_RETURN(std::vector<RowPointer> children, FindIndexKey(pager, *r.foreign, r.foreign_real, *key));
      const uint32_t child_page = r.foreign->def.tdef_page;
      for (RowPointer child : children) {
        auto& rows = plan[child_page];
        auto found = rows.find(child);
        if (found == rows.end()) {
          ASSIGN_OR_RETURN(Row values, db.ReadRow(r.foreign->def, child));
          found = rows.emplace(child, RowChange{values, values}).first;
        }
        bool moved = false;
        for (size_t i = 0; i < r.foreign_slots.size(); ++i) {
          Value& value = found->second.after[r.foreign_slots[i]];
          if (SameValue(value, change.after[r.primary_slots[i]])) continue;
          value = change.after[r.primary_slots[i]];
          moved = true;
        }
        if (moved) queue.emplace_back(child_page, child);
      }
    }
  }
  // A referenced key that changes must take every row referring to it along: through the
  // cascade above, or by the update itself.
  for (const auto& [page, rows] : plan) {
    const auto it = referenced.find(page);
    if (it == referenced.end()) continue;
    for (const auto& [where, change] : rows) {
      for (const EnforcedRelationship& r : it->second) {
        const TableDefinition& primary = r.primary->def;
        const TableDefinition& foreign = r.foreign->def;
        ASSIGN_OR_RETURN(auto old_key,
                         KeyOf(foreign, r.foreign_slots, r.foreign_ascending, change.before, r.primary_slots));
        ASSIGN_OR_RETURN(auto new_key,
                         KeyOf(foreign, r.foreign_slots, r.foreign_ascending, change.after, r.primary_slots));
        if (!old_key || old_key == new_key) continue;
        ASSIGN_OR_RETURN(std::vector<RowPointer> children, FindIndexKey(pager, *r.foreign, r.foreign_real, *old_key));
        const auto changed = plan.find(foreign.tdef_page);
        for (RowPointer child : children) {
          if (changed != plan.end()) {
            const auto entry = changed->second.find(child);
            if (entry != changed->second.end()) {
              ASSIGN_OR_RETURN(
                  auto now, KeyOf(foreign, r.foreign_slots, r.foreign_ascending, entry->second.after, r.foreign_slots));
              if (now != old_key) continue;
            }
          }
          return InvalidArgumentError("relationship '" + r.name + "': the key " +
                                      DescribeValues(primary, r.primary_slots, change.before, r.primary_slots) +
                                      " of '" + primary.name + "' cannot change, rows of '" + foreign.name +
                                      "' refer to it");
        }
      }
    }
  }
  return Status::Ok();
}

Status CheckUpdatedReferences(Pager& pager, const UpdatePlan& plan, const TableAtPage& at) {
  for (const auto& [page, rows] : plan) {
    if (rows.empty()) continue;
    ASSIGN_OR_RETURN(TableState * table, at(page));
    ASSIGN_OR_RETURN(auto referencing, RelationshipsOf(*table, kForeignSide, at));
    for (const auto& [where, change] : rows) {
      for (const EnforcedRelationship& r : referencing) {
        if (!Changed(change, r.foreign_slots)) continue;
        const TableDefinition& primary = r.primary->def;
        const TableDefinition& foreign = r.foreign->def;
        ASSIGN_OR_RETURN(auto key, KeyOf(primary, r.primary_slots, r.primary_ascending, change.after, r.foreign_slots));
        if (!key) continue;
        ASSIGN_OR_RETURN(std::vector<RowPointer> parents, FindIndexKey(pager, *r.primary, r.primary_real, *key));
        if (parents.empty()) {
          return InvalidArgumentError("relationship '" + r.name + "': no row of '" + primary.name + "' has " +
                                      DescribeValues(primary, r.primary_slots, change.after, r.foreign_slots) +
                                      ", which the changed row of '" + foreign.name + "' refers to with " +
                                      DescribeValues(foreign, r.foreign_slots, change.after, r.foreign_slots));
        }
      }
    }
  }
  return Status::Ok();
}

std::vector<IndexDefinition> ForeignKeyIndexesOf(const TableDefinition& def) {
  std::vector<IndexDefinition> out;
  for (const IndexDefinition& index : def.indexes) {
    if (index.index_type == kForeignKeyIndex) out.push_back(index);
  }
  return out;
}

Status CheckForeignKeyIndexesKept(const TableState& table, const std::vector<IndexDefinition>& before) {
  for (const IndexDefinition& fk : before) {
    const bool kept = std::any_of(table.def.indexes.begin(), table.def.indexes.end(), [&](const IndexDefinition& i) {
      return i.index_type == kForeignKeyIndex && i.logical_number == fk.logical_number;
    });
    if (kept) continue;
    std::string reason = "it was removed";
    for (const DroppedIndex& d : table.indexes.dropped) {
      if (d.index == fk.name) reason = d.reason;
    }
    return UnsupportedError("table '" + table.def.name + "': the index behind foreign-key index '" + fk.name +
                            "' cannot hold a key (" + reason +
                            "), and a relationship depends on it; nothing was written");
  }
  return Status::Ok();
}

}  // namespace tabulon::jet
