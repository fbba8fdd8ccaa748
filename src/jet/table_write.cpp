// Tables of the writing side: a new table laid out and created, dropped, renamed, and its
// user and foreign-key indexes (the index work itself is in index_writer.cpp).
#include <functional>
#include <algorithm>
#include <set>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/format/data_page.h"
#include "jet/object_properties.h"
#include "jet/database_write.h"

namespace tabulon::jet {

// ---- User indexes (the work is in index_writer.cpp) ----------------------------------------

Status Database::CreateIndex(std::string_view table, const IndexSpec& spec) {
  return RunWrite([&](WriteState& w) -> Status {
    ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
    return CreateIndexIn(*pager_, w, *state, spec, w.RowsOf(*state));
  });
}

Status Database::DropIndex(std::string_view table, std::string_view index) {
  return RunWrite([&](WriteState& w) -> Status {
    ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
    return DropIndexIn(*pager_, w, *state, index);
  });
}

// Changes one column's definition in place with `change`, which may refuse; the definition
// (column flags and header) is written again when the operation ends.
Status Database::ChangeColumn(std::string_view table, std::string_view column,
                              const std::function<Status(TableDefinition&, ColumnDefinition&)>& change) {
  return RunWrite([&](WriteState& w) -> Status {
    ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
    TableDefinition& def = state->def;
    const int at = ColumnIndex(def, column);
    if (at < 0) return NotFoundError("table '" + def.name + "' has no column '" + std::string(column) + "'");
    RETURN_IF_ERROR(change(def, def.columns[static_cast<size_t>(at)]));
    state->header_dirty = true;
    RETURN_IF_ERROR(LoadIndexes(*pager_, *state));
    state->indexes.definition_dirty = true;
    return Status::Ok();
  });
}

Status Database::SetAutoNumber(std::string_view table, std::string_view column, std::optional<uint32_t> next) {
  return ChangeColumn(table, column, [&](TableDefinition& def, ColumnDefinition& c) -> Status {
    if (c.type == ColumnType::kLong) {
      if (next && (*next < 1 || *next > static_cast<uint32_t>(INT32_MAX))) {
        return InvalidArgumentError("the next AutoNumber of '" + def.name + "' must be from 1 to 2147483647");
      }
      c.flags |= kColumnAutoNumber;
      if (next) def.last_auto_number = *next - 1;
    } else if (c.type == ColumnType::kGuid) {
      if (next) return InvalidArgumentError("column '" + c.name + "' numbers its rows with GUIDs: it takes no seed");
      c.flags |= kColumnAutoGuid;
    } else {
      return InvalidArgumentError("column '" + c.name + "' is neither Long nor GUID and cannot be an AutoNumber");
    }
    return Status::Ok();
  });
}

Status Database::SetUnicodeCompression(std::string_view table, std::string_view column, bool allowed) {
  return ChangeColumn(table, column, [&](TableDefinition&, ColumnDefinition& c) -> Status {
    if (c.type != ColumnType::kText && c.type != ColumnType::kMemo) {
      return InvalidArgumentError("column '" + c.name + "' holds no text: it has no Unicode compression");
    }
    c.extra_flags = allowed ? (c.extra_flags | kColumnCompressed) : (c.extra_flags & ~kColumnCompressed);
    return Status::Ok();
  });
}

Result<ForeignKeyIndexes> Database::AddForeignKeyIndexes(WriteState& w, const ForeignKeyIndexSpec& spec) {
  ASSIGN_OR_RETURN(TableState * primary, w.UserTable(spec.primary_table));
  ASSIGN_OR_RETURN(TableState * foreign, w.UserTable(spec.foreign_table));
  return AddForeignKeyIndexesIn(*pager_, w, *primary, *foreign, spec, w.RowsOf(*foreign));
}

Result<ForeignKeyIndexes> Database::CreateForeignKeyIndexes(const ForeignKeyIndexSpec& spec) {
  ForeignKeyIndexes made;
  Status status = RunWrite([&](WriteState& w) -> Status {
    ASSIGN_OR_RETURN(made, AddForeignKeyIndexes(w, spec));
    return Status::Ok();
  });
  if (!status.ok()) return status;
  // The numbers the indexes were given when the operation ended.
  ASSIGN_OR_RETURN(TableDefinition primary, GetTable(spec.primary_table));
  ASSIGN_OR_RETURN(TableDefinition foreign, GetTable(spec.foreign_table));
  for (const IndexDefinition& index : primary.indexes) {
    if (index.index_type == 0x02 && index.name == made.primary_index)
      made.primary_logical_number = index.logical_number;
  }
  for (const IndexDefinition& index : foreign.indexes) {
    if (index.index_type == 0x02 && index.name == spec.name) made.foreign_logical_number = index.logical_number;
  }
  return made;
}

std::vector<DroppedIndex> Database::TakeDroppedIndexes() {
  std::vector<DroppedIndex> taken;
  taken.swap(dropped_indexes_);
  return taken;
}

ColumnDefinition NewColumn(std::string name, ColumnType type, uint16_t size, uint8_t scale) {
  ColumnDefinition c;
  c.name = std::move(name);
  c.type = type;
  switch (type) {
    case ColumnType::kText: c.length = static_cast<uint16_t>(2 * (size == 0 ? 255 : size)); break;
    case ColumnType::kBinary: c.length = size == 0 ? 255 : size; break;
    case ColumnType::kNumeric:
      c.precision = static_cast<uint8_t>(size == 0 ? 18 : size);
      c.scale = scale;
      break;
    default: break;
  }
  if (type == ColumnType::kText || type == ColumnType::kMemo) c.extra_flags = 0x01;
  return c;
}

uint16_t FixedSize(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return 1;
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong: return 4;
    case ColumnType::kCurrency: return 8;
    case ColumnType::kSingle: return 4;
    case ColumnType::kDouble: return 8;
    case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return 17;
    default: return 0;
  }
}

// Numbers and lays out the columns of a new table; checks what Jet would refuse.
Result<TableDefinition> LayOutTable(const TableDefinition& request) {
  RETURN_IF_ERROR(CheckObjectName(request.name, "table"));
  if (request.columns.empty()) {
    return InvalidArgumentError("table '" + request.name + "' needs at least one column");
  }
  if (request.columns.size() > 255) {
    return LimitError("table '" + request.name + "' has " + std::to_string(request.columns.size()) +
                      " columns; a table holds at most 255");
  }
  TableDefinition t;
  t.name = request.name;
  uint16_t fixed_offset = 0;
  uint16_t variable_index = 0;
  std::set<std::string> seen;
  for (size_t i = 0; i < request.columns.size(); ++i) {
    const ColumnDefinition& in = request.columns[i];
    RETURN_IF_ERROR(CheckObjectName(in.name, "column").WithContext("table '" + request.name + "'"));
    if (!seen.insert(AsciiLower(in.name)).second) {
      return InvalidArgumentError("table '" + request.name + "' has two columns named '" + in.name + "'");
    }
    ColumnDefinition c;
    c.name = in.name;
    c.type = in.type;
    c.number = static_cast<uint16_t>(i);
    c.required = in.required;
    c.default_value = in.default_value;
    c.allow_zero_length = in.allow_zero_length;
    c.flags = kColumnUpdatable;
    const std::string where = "column '" + in.name + "' of table '" + request.name + "'";
    switch (in.type) {
      case ColumnType::kText:
        if (in.length < 2 || in.length > 510 || in.length % 2 != 0) {
          return InvalidArgumentError(where + ": Text holds 1 to 255 characters");
        }
        c.length = in.length;
        c.extra_flags = in.extra_flags & 0x01;
        break;
      case ColumnType::kBinary:
        if (in.length < 1 || in.length > 255) {
          return InvalidArgumentError(where + ": Binary holds 1 to 255 bytes");
        }
        c.length = in.length;
        break;
      case ColumnType::kMemo: c.extra_flags = in.extra_flags & 0x01; break;
      case ColumnType::kOle: break;
      case ColumnType::kNumeric:
        if (in.precision < 1 || in.precision > 28 || in.scale > in.precision) {
          return InvalidArgumentError(where +
                                      ": Decimal needs precision 1 to 28 and a scale "
                                      "no larger than the precision");
        }
        c.precision = in.precision;
        c.scale = in.scale;
        break;
      case ColumnType::kBoolean:
      case ColumnType::kByte:
      case ColumnType::kInteger:
      case ColumnType::kLong:
      case ColumnType::kCurrency:
      case ColumnType::kSingle:
      case ColumnType::kDouble:
      case ColumnType::kDateTime:
      case ColumnType::kGuid: break;
      default: return UnsupportedError(where + ": type " + ColumnTypeName(in.type) + " cannot be created");
    }
    if (in.auto_number()) {
      if (in.type != ColumnType::kLong) {
        return InvalidArgumentError(where + ": only Long columns can be AutoNumber");
      }
      c.flags |= kColumnAutoNumber;
    }
    const uint16_t size = FixedSize(in.type);
    if (size != 0) {
      c.flags |= kColumnFixed;
      c.length = size;
      if (in.type != ColumnType::kBoolean) {
        c.fixed_offset = fixed_offset;
        fixed_offset = static_cast<uint16_t>(fixed_offset + size);
      }
    } else {
      c.variable_index = variable_index++;
    }
    t.columns.push_back(std::move(c));
  }
  t.max_column_count = static_cast<uint16_t>(t.columns.size());
  t.variable_column_count = variable_index;
  return t;
}

Status Database::CreateTable(const TableDefinition& request) {
  ASSIGN_OR_RETURN(TableDefinition table, LayOutTable(request));
  return RunWrite([&](WriteState& w) -> Status {
    if (w.FindObject(table.name, kTablesContainerId)) {
      return AlreadyExistsError("an object named '" + table.name + "' already exists");
    }
    // Definition page and one page for the table's usage-map rows: owned, free, and a pair
    // per long-value column.
    ASSIGN_OR_RETURN(uint32_t tdef_page, w.Allocate());
    uint32_t map_page = 0;
    uint8_t* maps = nullptr;
    const std::string empty_map(kMapRowSize, '\0');
    auto add_map = [&]() -> Result<RowPointer> {
      // A page holds 57 map rows; a table with many Memo/OLE columns takes more pages.
      if (!maps || !DataPageFits(maps, kMapRowSize)) {
        ASSIGN_OR_RETURN(map_page, w.Allocate());
        ASSIGN_OR_RETURN(maps, pager_->MutablePage(map_page));
        InitDataPage(maps, 0);
      }
      return MakeRowPointer(map_page,
                            AddRowToPage(maps, reinterpret_cast<const uint8_t*>(empty_map.data()), kMapRowSize));
    };
    ASSIGN_OR_RETURN(table.owned_pages_map, add_map());
    ASSIGN_OR_RETURN(table.free_pages_map, add_map());
    for (const ColumnDefinition& c : table.columns) {
      if (!IsLongValueType(c.type)) continue;
      LongValueMaps m;
      m.column_number = c.number;
      ASSIGN_OR_RETURN(m.owned_pages_map, add_map());
      ASSIGN_OR_RETURN(m.free_pages_map, add_map());
      table.long_value_maps.push_back(m);
    }
    table.tdef_page = tdef_page;
    DefinitionContent definition;
    definition.table = &table;
    ASSIGN_OR_RETURN(std::vector<uint8_t> bytes, EncodeTableDefinition(definition));
    std::vector<uint32_t> pages = {tdef_page};
    RETURN_IF_ERROR(WriteTableDefinitionPages(*pager_, w, bytes, pages));

    CatalogEntry entry;
    entry.id = static_cast<int32_t>(tdef_page);
    entry.parent_id = kTablesContainerId;
    entry.name = table.name;
    entry.type = 1;
    entry.flags = 0;
    RETURN_IF_ERROR(w.AddObject(entry, w.new_object_owner, NewTablePropertyBlob(table)));
    return w.AddAces(entry.id);
  });
}

Status Database::DropTable(std::string_view name, DropTableMode mode) {
  return RunCatalogWrite([&](CatalogWriter& catalog_writer) -> Status {
    WriteState& w = *writer_;
    ASSIGN_OR_RETURN(const CatalogEntry* entry, w.UserTableEntry(name));
    const std::string table_name = entry->name;
    RETURN_IF_ERROR(DetachRelationships(catalog_writer, table_name, mode));
    ASSIGN_OR_RETURN(entry, w.UserTableEntry(table_name));
    const CatalogEntry doomed = *entry;
    ASSIGN_OR_RETURN(TableState * state, w.Table(doomed.tdef_page(), doomed.name));
    // Every page the table owns becomes free: data, long values, indexes, its definition and
    // (when nothing else lives there) the page of its usage-map rows.
    std::set<uint32_t> pages(state->owned.pages.begin(), state->owned.pages.end());
    for (const MapState& m : state->long_value_owned) pages.insert(m.pages.begin(), m.pages.end());
    std::vector<MapState> index_maps;
    for (const IndexDefinition& index : state->def.indexes) {
      if (index.index_type == 0x02 || index.usage_map == 0) continue;
      MapState m;
      RETURN_IF_ERROR(LoadMap(*pager_, index.usage_map, m));
      pages.insert(m.pages.begin(), m.pages.end());
      index_maps.push_back(std::move(m));
    }
    auto add_bitmaps = [&](const MapState& m) {
      for (uint32_t p : m.bitmap_pages) {
        if (p != 0) pages.insert(p);
      }
    };
    add_bitmaps(state->owned);
    add_bitmaps(state->free);
    for (const MapState& m : state->long_value_owned) add_bitmaps(m);
    for (const MapState& m : state->long_value_free) add_bitmaps(m);
    for (const MapState& m : index_maps) add_bitmaps(m);
    pages.insert(state->def.definition_pages.begin(), state->def.definition_pages.end());

    std::set<uint32_t> map_rows_pages;
    std::set<uint32_t> map_rows;
    auto note_map = [&](uint32_t row_pointer) {
      if (row_pointer == 0) return;
      map_rows_pages.insert(RowPointerPage(row_pointer));
      map_rows.insert(row_pointer);
    };
    note_map(state->def.owned_pages_map);
    note_map(state->def.free_pages_map);
    for (const LongValueMaps& m : state->def.long_value_maps) {
      note_map(m.owned_pages_map);
      note_map(m.free_pages_map);
    }
    for (const IndexDefinition& index : state->def.indexes) note_map(index.usage_map);
    for (uint32_t map_page : map_rows_pages) {
      ASSIGN_OR_RETURN(const uint8_t* page, pager_->ReadPage(map_page));
      bool only_ours = page[0] == format::kPageData && ReadU32(page + 4) == 0;
      for (uint16_t r = 0; only_ours && r < DataPageRowCount(page); ++r) {
        uint16_t s = 0;
        uint16_t e = 0;
        if (RowBounds(page, static_cast<uint8_t>(r), s, e) &&
            map_rows.count(MakeRowPointer(map_page, static_cast<uint8_t>(r))) == 0) {
          only_ours = false;
        }
      }
      if (only_ours) pages.insert(map_page);
    }
    w.tables.erase(doomed.tdef_page());
    for (uint32_t p : pages) w.Free(p);

    // Its catalog row and access rights go.
    ASSIGN_OR_RETURN(TableState * catalog, w.Table(kCatalogTdefPage, "MSysObjects"));
    RETURN_IF_ERROR(w.DeleteAt(*catalog, doomed.row));
    w.objects.erase(
        std::remove_if(w.objects.begin(), w.objects.end(), [&](const CatalogEntry& e) { return e.row == doomed.row; }),
        w.objects.end());
    w.objects_dirty = true;
    if (w.aces_tdef != 0) {
      ASSIGN_OR_RETURN(TableState * aces, w.Table(w.aces_tdef, "MSysACEs"));
      for (const AceRow& a : w.aces) {
        if (a.object_id == doomed.id) RETURN_IF_ERROR(w.DeleteAt(*aces, a.row));
      }
      w.aces.erase(
          std::remove_if(w.aces.begin(), w.aces.end(), [&](const AceRow& a) { return a.object_id == doomed.id; }),
          w.aces.end());
      w.aces_dirty = true;
    }
    return Status::Ok();
  });
}

Status Database::RenameTable(std::string_view from, std::string_view to) {
  RETURN_IF_ERROR(CheckObjectName(to, "table"));
  return RunCatalogWrite([&](CatalogWriter& catalog_writer) -> Status {
    WriteState& w = *writer_;
    ASSIGN_OR_RETURN(const CatalogEntry* entry, w.UserTableEntry(from));
    const std::string old_name = entry->name;
    const CatalogEntry* clash = w.FindObject(to, kTablesContainerId);
    if (clash && clash != entry) {
      return AlreadyExistsError("an object named '" + clash->name + "' already exists");
    }
    // The catalog row is rewritten whole (keeping every column, long values included) with the
    // new name and update date.
    ASSIGN_OR_RETURN(TableState * catalog, w.Table(kCatalogTdefPage, "MSysObjects"));
    const RowPointer old_row = entry->row;
    Row stored;
    bool found = false;
    RETURN_IF_ERROR(ScanRows(catalog->def, [&](RowPointer where, const Row& row) {
      if (where == old_row) {
        stored = row;
        found = true;
      }
      return Status::Ok();
    }));
    if (!found) return CorruptError("the catalog row of '" + entry->name + "' is missing");
    for (size_t i = 0; i < catalog->def.columns.size(); ++i) {
      const std::string& column = catalog->def.columns[i].name;
      if (column == "Name") stored[i] = std::string(to);
      if (column == "DateUpdate") stored[i] = DateTime{w.now};
    }
    RETURN_IF_ERROR(w.DeleteAt(*catalog, old_row));
    RowPointer new_row = 0;
    RETURN_IF_ERROR(w.InsertValues(*catalog, stored, &new_row));
    for (CatalogEntry& e : w.objects) {
      if (e.row == old_row) {
        e.row = new_row;
        e.name = std::string(to);
      }
    }
    w.objects_dirty = true;
    return RenameInRelationships(catalog_writer, old_name, to);
  });
}

}  // namespace tabulon::jet
