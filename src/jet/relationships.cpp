// Relationships: MSysRelationships rows (one per column pair), their catalog object and, when
// enforced, the foreign-key indexes of both tables.
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "base/text.h"
#include "jet/catalog_writer.h"
#include "jet/database.h"
#include "jet/index_key.h"
#include "jet/referential.h"
#include "jet/write_state.h"

namespace tabulon::jet {
namespace {

constexpr uint32_t kOneToOne = 0x00000001;
constexpr uint32_t kNotEnforced = 0x00000002;
constexpr uint32_t kCascadeUpdate = 0x00000100;
constexpr uint32_t kCascadeDelete = 0x00001000;
constexpr uint32_t kCascadeNull = 0x00002000;
constexpr uint32_t kLeftJoin = 0x01000000;
constexpr uint32_t kRightJoin = 0x02000000;
constexpr int16_t kRelationshipObjectType = 8;
constexpr size_t kMaxRelationshipColumns = 10;
constexpr uint8_t kForeignKeyIndexType = 0x02;

// The key of the given columns of a row, or nullopt when one of them is Null (such a row
// references nothing).
std::optional<std::string> TupleKey(const TableDefinition& table, const std::vector<int>& at, const Row& row) {
  std::string key;
  for (int i : at) {
    const Value& v = row[static_cast<size_t>(i)];
    if (std::holds_alternative<Null>(v)) return std::nullopt;
    if (!AppendColumnKey(table.columns[static_cast<size_t>(i)], v, true, key).ok()) {
      // No exact key (text beyond the known sort codes): compare the values' own bytes.
      key += std::to_string(v.index()) + ":" +
             (std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "") + "|";
    }
  }
  return key;
}

}  // namespace

uint32_t Relationship::Flags() const {
  uint32_t flags = 0;
  if (one_to_one) flags |= kOneToOne;
  if (!enforced) flags |= kNotEnforced;
  if (cascade_update) flags |= kCascadeUpdate;
  if (cascade_delete) flags |= kCascadeDelete;
  if (cascade_null) flags |= kCascadeNull;
  if (join == JoinKind::kLeft) flags |= kLeftJoin;
  if (join == JoinKind::kRight) flags |= kRightJoin;
  return flags;
}

Relationship Relationship::FromFlags(uint32_t grbit) {
  Relationship r;
  r.one_to_one = (grbit & kOneToOne) != 0;
  r.enforced = (grbit & kNotEnforced) == 0;
  r.cascade_update = (grbit & kCascadeUpdate) != 0;
  r.cascade_delete = (grbit & kCascadeDelete) != 0;
  r.cascade_null = (grbit & kCascadeNull) != 0;
  r.join = (grbit & kLeftJoin) ? JoinKind::kLeft : (grbit & kRightJoin) ? JoinKind::kRight : JoinKind::kInner;
  return r;
}

namespace {

// The relationships stored in MSysRelationships (`table`), whose rows `scan` visits.
Result<std::vector<Relationship>> ParseRelationships(const TableDefinition& table,
                                                     const std::function<Status(const RowVisitor&)>& scan) {
  const int name = ColumnIndex(table, "szRelationship"), grbit = ColumnIndex(table, "grbit"),
            index = ColumnIndex(table, "icolumn"), object = ColumnIndex(table, "szObject"),
            column = ColumnIndex(table, "szColumn"), referenced = ColumnIndex(table, "szReferencedObject"),
            referenced_column = ColumnIndex(table, "szReferencedColumn");
  if (std::min({name, grbit, index, object, column, referenced, referenced_column}) < 0) {
    return CorruptError("MSysRelationships lacks one of its columns");
  }
  struct Pair {
    int32_t index;
    std::string primary, foreign;
  };
  std::vector<Relationship> out;
  std::map<std::string, std::vector<Pair>> pairs;
  RETURN_IF_ERROR(scan([&](RowPointer, const Row& row) {
    auto text = [&](int at) {
      const auto* s = std::get_if<std::string>(&row[static_cast<size_t>(at)]);
      return s ? *s : std::string();
    };
    auto number = [&](int at) {
      const auto* v = std::get_if<int32_t>(&row[static_cast<size_t>(at)]);
      return v ? *v : 0;
    };
    const std::string key = AsciiLower(text(name));
    if (!pairs.count(key)) {
      Relationship r = Relationship::FromFlags(static_cast<uint32_t>(number(grbit)));
      r.name = text(name);
      r.foreign_table = text(object);
      r.primary_table = text(referenced);
      out.push_back(std::move(r));
    }
    pairs[key].push_back({number(index), text(referenced_column), text(column)});
    return Status::Ok();
  }));
  for (Relationship& r : out) {
    std::vector<Pair>& list = pairs[AsciiLower(r.name)];
    std::stable_sort(list.begin(), list.end(), [](const Pair& a, const Pair& b) { return a.index < b.index; });
    for (const Pair& p : list) {
      r.primary_columns.push_back(p.primary);
      r.foreign_columns.push_back(p.foreign);
    }
  }
  return out;
}

}  // namespace

Result<std::vector<Relationship>> Database::ListRelationships() {
  ASSIGN_OR_RETURN(TableDefinition table, GetTable("MSysRelationships"));
  return ParseRelationships(table, [&](const RowVisitor& visit) { return ScanRows(table, visit); });
}

Result<std::vector<Relationship>> ReadRelationships(CatalogWriter& w) {
  if (!w.FindObject("MSysRelationships", kTablesContainerId)) return std::vector<Relationship>{};
  ASSIGN_OR_RETURN(const TableDefinition* table, w.Table("MSysRelationships"));
  return ParseRelationships(*table, [&](const RowVisitor& visit) { return w.ScanRows("MSysRelationships", visit); });
}

namespace {

// What RewriteRelationshipRows does with one row.
enum class RowEdit { kKeep, kChanged, kDrop };

// Writes MSysRelationships anew when `edit` changes or drops a row. Every row is deleted and the
// kept ones are inserted again, so that no deleted row slot comes before a live one: mdbtools
// reads only as many row slots as the table has rows, and would miss relationships stored
// behind deleted rows.
Status RewriteRelationshipRows(CatalogWriter& w, const std::function<RowEdit(Row&)>& edit) {
  std::vector<std::pair<RowPointer, Row>> rows;
  RETURN_IF_ERROR(w.ScanRows("MSysRelationships", [&](RowPointer where, const Row& row) {
    rows.emplace_back(where, row);
    return Status::Ok();
  }));
  bool changed = false;
  std::vector<Row> kept;
  for (auto& [where, row] : rows) {
    const RowEdit what = edit(row);
    changed |= what != RowEdit::kKeep;
    if (what != RowEdit::kDrop) kept.push_back(std::move(row));
  }
  if (!changed) return Status::Ok();
  for (const auto& [where, row] : rows) RETURN_IF_ERROR(w.DeleteRow("MSysRelationships", where));
  for (const Row& row : kept) RETURN_IF_ERROR(w.InsertRow("MSysRelationships", row).status());
  return Status::Ok();
}

}  // namespace

Status RemoveRelationship(CatalogWriter& w, const Relationship& r) {
  ASSIGN_OR_RETURN(const TableDefinition* table, w.Table("MSysRelationships"));
  const int name = ColumnIndex(*table, "szRelationship");
  RETURN_IF_ERROR(RewriteRelationshipRows(w, [&](Row& row) {
    const auto* s = std::get_if<std::string>(&row[static_cast<size_t>(name)]);
    return s && EqualsIgnoreAsciiCase(*s, r.name) ? RowEdit::kDrop : RowEdit::kKeep;
  }));
  if (const CatalogEntry* object = w.FindObject(r.name, kRelationshipsContainerId)) {
    const CatalogEntry entry = *object;
    RETURN_IF_ERROR(w.RemoveObject(entry));
  }
  // The index pair: the referencing table's index carries the relationship's name and names
  // its partner on the referenced table.
  if (r.enforced && w.FindObject(r.foreign_table, kTablesContainerId)) {
    ASSIGN_OR_RETURN(const TableDefinition* foreign, w.Table(r.foreign_table));
    const IndexDefinition* fk = nullptr;
    for (const IndexDefinition& index : foreign->indexes) {
      if (index.index_type == kForeignKeyIndexType && index.fk_side == 2 && EqualsIgnoreAsciiCase(index.name, r.name)) {
        fk = &index;
      }
    }
    if (fk) {
      const uint32_t partner_page = fk->fk_other_table_page;
      const uint32_t partner_number = fk->fk_other_index;
      const std::string foreign_name = foreign->name;
      RETURN_IF_ERROR(w.RemoveForeignKeyIndex(foreign_name, r.name));
      for (const CatalogEntry& e : w.Objects()) {
        if (!e.is_table() || e.tdef_page() != partner_page) continue;
        const std::string primary_name = e.name;
        ASSIGN_OR_RETURN(const TableDefinition* primary, w.Table(primary_name));
        for (const IndexDefinition& index : primary->indexes) {
          if (index.index_type == kForeignKeyIndexType && index.fk_side == 1 &&
              index.logical_number == partner_number) {
            const std::string index_name = index.name;
            RETURN_IF_ERROR(w.RemoveForeignKeyIndex(primary_name, index_name));
            break;
          }
        }
        break;
      }
    }
  }
  return RebuildSystemTableIndexes(w, "MSysRelationships");
}

Status DetachRelationships(CatalogWriter& w, std::string_view table, DropTableMode mode) {
  ASSIGN_OR_RETURN(std::vector<Relationship> all, ReadRelationships(w));
  for (const Relationship& r : all) {
    if (!EqualsIgnoreAsciiCase(r.primary_table, table) && !EqualsIgnoreAsciiCase(r.foreign_table, table)) {
      continue;
    }
    if (mode != DropTableMode::kWithRelationships) {
      return InvalidArgumentError("table '" + std::string(table) + "' takes part in relationship '" + r.name + "' (" +
                                  r.primary_table + " to " + r.foreign_table + "); remove the relationship first");
    }
    RETURN_IF_ERROR(RemoveRelationship(w, r));
  }
  return Status::Ok();
}

Status RenameInRelationships(CatalogWriter& w, std::string_view from, std::string_view to) {
  if (!w.FindObject("MSysRelationships", kTablesContainerId)) return Status::Ok();
  ASSIGN_OR_RETURN(const TableDefinition* table, w.Table("MSysRelationships"));
  const int object = ColumnIndex(*table, "szObject");
  const int referenced = ColumnIndex(*table, "szReferencedObject");
  if (object < 0 || referenced < 0) return CorruptError("MSysRelationships lacks one of its columns");
  bool renamed = false;
  RETURN_IF_ERROR(RewriteRelationshipRows(w, [&](Row& row) {
    RowEdit what = RowEdit::kKeep;
    for (int at : {object, referenced}) {
      const auto* s = std::get_if<std::string>(&row[static_cast<size_t>(at)]);
      if (s && EqualsIgnoreAsciiCase(*s, from)) {
        row[static_cast<size_t>(at)] = std::string(to);
        what = RowEdit::kChanged;
        renamed = true;
      }
    }
    return what;
  }));
  if (!renamed) return Status::Ok();
  return RebuildSystemTableIndexes(w, "MSysRelationships");
}

Status Database::DropRelationship(std::string_view name) {
  return RunCatalogWrite([&](CatalogWriter& w) -> Status {
    ASSIGN_OR_RETURN(std::vector<Relationship> all, ReadRelationships(w));
    for (const Relationship& r : all) {
      if (EqualsIgnoreAsciiCase(r.name, name)) return RemoveRelationship(w, r);
    }
    return NotFoundError("no relationship named '" + std::string(name) + "'");
  });
}

Status Database::CreateRelationship(const Relationship& r) {
  const auto name16 = Utf8ToUtf16(r.name);
  if (!name16.ok() || name16->empty() || name16->size() > 64) {
    return InvalidArgumentError("relationship name '" + r.name + "' must have 1 to 64 characters");
  }
  if (r.primary_columns.empty() || r.primary_columns.size() != r.foreign_columns.size() ||
      r.primary_columns.size() > kMaxRelationshipColumns) {
    return InvalidArgumentError("relationship '" + r.name + "' needs 1 to 10 column pairs, as many on each side");
  }
  if (r.cascade_null && r.cascade_delete) {
    return InvalidArgumentError("relationship '" + r.name + "' cannot both delete and set to Null on delete");
  }
  return RunCatalogWrite([&](CatalogWriter& w) -> Status {
    if (const CatalogEntry* clash = w.FindObject(r.name, kRelationshipsContainerId)) {
      return AlreadyExistsError("a relationship named '" + clash->name + "' already exists");
    }
    ASSIGN_OR_RETURN(const TableDefinition* primary_ptr, w.Table(r.primary_table));
    ASSIGN_OR_RETURN(const TableDefinition* foreign_ptr, w.Table(r.foreign_table));
    const TableDefinition primary = *primary_ptr;
    const TableDefinition foreign = *foreign_ptr;
    std::vector<int> primary_at, foreign_at;
    for (size_t i = 0; i < r.primary_columns.size(); ++i) {
      const int p = ColumnIndex(primary, r.primary_columns[i]);
      const int f = ColumnIndex(foreign, r.foreign_columns[i]);
      if (p < 0) return NotFoundError("table '" + primary.name + "' has no column '" + r.primary_columns[i] + "'");
      if (f < 0) return NotFoundError("table '" + foreign.name + "' has no column '" + r.foreign_columns[i] + "'");
      const ColumnType pt = primary.columns[static_cast<size_t>(p)].type;
      const ColumnType ft = foreign.columns[static_cast<size_t>(f)].type;
      // Jet indexes no Memo or OLE column, so only a relationship it does not enforce may name one.
      if (pt != ft || (r.enforced && (pt == ColumnType::kMemo || pt == ColumnType::kOle))) {
        return InvalidArgumentError("relationship '" + r.name + "': columns '" + primary.name + "." +
                                    r.primary_columns[i] + "' and '" + foreign.name + "." + r.foreign_columns[i] +
                                    "' cannot be related (types " + ColumnTypeName(pt) + " and " + ColumnTypeName(ft) +
                                    ")");
      }
      primary_at.push_back(p);
      foreign_at.push_back(f);
    }
    if (r.enforced) {
      // Existing rows must already keep the rule.
      std::set<std::string> keys;
      RETURN_IF_ERROR(w.ScanRows(primary.name, [&](RowPointer, const Row& row) {
        if (auto key = TupleKey(primary, primary_at, row)) keys.insert(*key);
        return Status::Ok();
      }));
      uint64_t orphans = 0;
      RETURN_IF_ERROR(w.ScanRows(foreign.name, [&](RowPointer, const Row& row) {
        auto key = TupleKey(foreign, foreign_at, row);
        if (key && !keys.count(*key)) ++orphans;
        return Status::Ok();
      }));
      if (orphans > 0) {
        const bool one = orphans == 1;
        return InvalidArgumentError("relationship '" + r.name + "': " + std::to_string(orphans) +
                                    (one ? " row of '" : " rows of '") + foreign.name + (one ? "' refers" : "' refer") +
                                    " to no row of '" + primary.name + "'");
      }
      ForeignKeyIndexSpec spec;
      spec.name = r.name;
      spec.primary_table = primary.name;
      spec.foreign_table = foreign.name;
      for (int p : primary_at) spec.primary_columns.push_back(primary.columns[static_cast<size_t>(p)].name);
      for (int f : foreign_at) spec.foreign_columns.push_back(foreign.columns[static_cast<size_t>(f)].name);
      spec.cascade_update = r.cascade_update;
      spec.cascade_delete = r.cascade_delete;
      spec.cascade_null = r.cascade_null;
      RETURN_IF_ERROR(w.AddForeignKeyIndexes(spec).status());
    }
    ASSIGN_OR_RETURN(const TableDefinition* table, w.Table("MSysRelationships"));
    for (size_t i = 0; i < primary_at.size(); ++i) {
      Row row(table->columns.size(), Null{});
      auto set = [&](const char* column, Value v) {
        const int at = ColumnIndex(*table, column);
        if (at >= 0) row[static_cast<size_t>(at)] = std::move(v);
      };
      set("szRelationship", r.name);
      set("grbit", static_cast<int32_t>(r.Flags()));
      set("ccolumn", static_cast<int32_t>(primary_at.size()));
      set("icolumn", static_cast<int32_t>(i));
      set("szObject", foreign.name);
      set("szColumn", foreign.columns[static_cast<size_t>(foreign_at[i])].name);
      set("szReferencedObject", primary.name);
      set("szReferencedColumn", primary.columns[static_cast<size_t>(primary_at[i])].name);
      RETURN_IF_ERROR(w.InsertRow("MSysRelationships", row).status());
    }
    CatalogEntry entry;
    entry.name = r.name;
    entry.id = NextSyntheticObjectId(w.Objects());
    entry.parent_id = kRelationshipsContainerId;
    entry.type = kRelationshipObjectType;
    RETURN_IF_ERROR(w.AddObject(entry, {}).status());
    return RebuildSystemTableIndexes(w, "MSysRelationships");
  });
}

}  // namespace tabulon::jet
