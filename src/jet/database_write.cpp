// The writing side of Database: the write transaction (its state loaded from the file, the
// commit that stores it back) and batches of inserts. The operations themselves live beside it:
// page_allocation.cpp, catalog_maintenance.cpp, table_write.cpp, row_write.cpp,
// long_value_write.cpp and database_create.cpp.
#include <algorithm>
#include <chrono>

#include "jet/format/usage_map.h"
#include "jet/database_write.h"

namespace tabulon::jet {
namespace {

constexpr uint32_t kGlobalMapRow = 1u << 8;  // page 1, row 0

}  // namespace

double OleNow() {
  const auto seconds = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  return 25569.0 + seconds / 86400.0;
}

// ---- WriteState ---------------------------------------------------------------------------

void Database::WriteStateDeleter::operator()(WriteState* state) const { delete state; }

Status Database::WriteState::Load() {
  // The global page map: a set bit marks a free page.
  {
    ASSIGN_OR_RETURN(format::UsageMap global, format::ReadUsageMap(pager, kGlobalMapRow));
    for (uint32_t p : global.pages) {
      if (p >= 3) free_pages.insert(p);
    }
    global_bitmap_pages = std::move(global.bitmap_pages);
  }
  ASSIGN_OR_RETURN(TableState * catalog, Table(kCatalogTdefPage, "MSysObjects"));
  const TableDefinition& def = catalog->def;
  const int id = ColumnIndex(def, "Id");
  const int parent = ColumnIndex(def, "ParentId");
  const int name = ColumnIndex(def, "Name");
  const int type = ColumnIndex(def, "Type");
  const int flags = ColumnIndex(def, "Flags");
  const int owner = ColumnIndex(def, "Owner");
  if (id < 0 || parent < 0 || name < 0 || type < 0 || flags < 0 || owner < 0) {
    return CorruptError("page 2: the catalog lacks one of Id, ParentId, Name, Type, Flags, Owner");
  }
  ScanOptions options;
  options.read_long_values = false;
  RETURN_IF_ERROR(db.ScanRows(
      def,
      [&](RowPointer where, const Row& row) {
        CatalogEntry e;
        if (auto* v = std::get_if<int32_t>(&row[static_cast<size_t>(id)])) e.id = *v;
        if (auto* v = std::get_if<int32_t>(&row[static_cast<size_t>(parent)])) e.parent_id = *v;
        if (auto* v = std::get_if<std::string>(&row[static_cast<size_t>(name)])) e.name = *v;
        if (auto* v = std::get_if<int16_t>(&row[static_cast<size_t>(type)])) e.type = *v;
        if (auto* v = std::get_if<int32_t>(&row[static_cast<size_t>(flags)])) e.flags = *v;
        e.row = where;
        if (e.id == kDatabaseObjectId) {
          if (auto* v = std::get_if<Bytes>(&row[static_cast<size_t>(owner)])) {
            new_object_owner = v->data;
          }
        }
        objects.push_back(std::move(e));
        return Status::Ok();
      },
      options));

  const CatalogEntry* aces_entry = FindObject("MSysACEs", kTablesContainerId);
  if (aces_entry) {
    aces_tdef = aces_entry->tdef_page();
    ASSIGN_OR_RETURN(TableState * aces_table, Table(aces_tdef, "MSysACEs"));
    const int object = ColumnIndex(aces_table->def, "ObjectId");
    const int sid = ColumnIndex(aces_table->def, "SID");
    if (object < 0 || sid < 0) return CorruptError("MSysACEs lacks ObjectId or SID");
    RETURN_IF_ERROR(db.ScanRows(
        aces_table->def,
        [&](RowPointer where, const Row& row) {
          AceRow a;
          if (auto* v = std::get_if<int32_t>(&row[static_cast<size_t>(object)])) a.object_id = *v;
          if (auto* v = std::get_if<Bytes>(&row[static_cast<size_t>(sid)])) a.sid = v->data;
          a.row = where;
          if (a.object_id == kTablesContainerId &&
              std::find(table_sids.begin(), table_sids.end(), a.sid) == table_sids.end()) {
            table_sids.push_back(a.sid);
          }
          aces.push_back(std::move(a));
          return Status::Ok();
        },
        options));
  }
  return Status::Ok();
}

Result<TableState*> Database::WriteState::Table(uint32_t tdef_page, const std::string& name) {
  if (auto it = tables.find(tdef_page); it != tables.end()) return it->second.get();
  auto state = std::make_unique<TableState>();
  ASSIGN_OR_RETURN(state->def, db.ReadTableDefinition(tdef_page, name));
  state->def.tdef_page = tdef_page;
  if (state->def.definition_pages.empty()) state->def.definition_pages = {tdef_page};
  RETURN_IF_ERROR(LoadMap(pager, state->def.owned_pages_map, state->owned));
  RETURN_IF_ERROR(LoadMap(pager, state->def.free_pages_map, state->free));
  for (const LongValueMaps& m : state->def.long_value_maps) {
    MapState owned;
    MapState free;
    RETURN_IF_ERROR(LoadMap(pager, m.owned_pages_map, owned));
    RETURN_IF_ERROR(LoadMap(pager, m.free_pages_map, free));
    state->long_value_page.push_back(owned.pages.empty() ? 0 : owned.pages.back());
    state->long_value_owned.push_back(std::move(owned));
    state->long_value_free.push_back(std::move(free));
  }
  // New rows go to the last data page while it has room.
  if (!state->owned.pages.empty()) state->current_page = state->owned.pages.back();
  if (!state->def.system && tdef_page != kCatalogTdefPage) {
    RETURN_IF_ERROR(LoadColumnProperties(state->def));
  }
  state->encoder = std::make_unique<RowEncoder>(state->def);
  // The catalog's and MSysACEs' indexes are rebuilt from the rows kept in memory instead.
  state->indexes.maintained = tdef_page != kCatalogTdefPage && tdef_page != aces_tdef;
  TableState* raw = state.get();
  tables.emplace(tdef_page, std::move(state));
  return raw;
}

Status Database::WriteState::LoadColumnProperties(TableDefinition& table) {
  for (const CatalogEntry& e : objects) {
    if (e.is_table() && e.tdef_page() == table.tdef_page) {
      return db.ApplyStoredColumnProperties(e.row, table);
    }
  }
  return Status::Ok();  // being created in this transaction
}

Result<TableState*> Database::WriteState::UserTable(std::string_view name) {
  // Row-by-row inserts name the same table each time: the entry found last is tried first
  // (names of one parent never clash, so an exact match is the answer).
  if (last_user_table < objects.size()) {
    const CatalogEntry& e = objects[last_user_table];
    if (e.parent_id == kTablesContainerId && e.is_table() && e.name == name) return Table(e.tdef_page(), e.name);
  }
  const CatalogEntry* e = FindObject(name, kTablesContainerId);
  if (!e || !e->is_table()) return NotFoundError("no table named '" + std::string(name) + "'");
  last_user_table = static_cast<size_t>(e - objects.data());
  return Table(e->tdef_page(), e->name);
}

Result<TableState*> Database::WriteState::TableAt(uint32_t tdef_page) {
  for (const CatalogEntry& e : objects) {
    if (e.is_table() && e.tdef_page() == tdef_page) return Table(tdef_page, e.name);
  }
  return CorruptError("no table has its definition at page " + std::to_string(tdef_page));
}

Status Database::WriteState::Finish() {
  // Indexes a key could not be built for go first; tables whose indexes changed are numbered
  // again (which may touch the tables their foreign keys name), then every tree is stored.
  std::vector<TableState*> renumber;
  for (auto& [page, table] : tables) {
    if (!table->indexes.loaded) continue;
    const std::vector<IndexDefinition> foreign_keys = ForeignKeyIndexesOf(table->def);
    RETURN_IF_ERROR(DropUnkeyableIndexes(pager, *this, *table));
    RETURN_IF_ERROR(CheckForeignKeyIndexesKept(*table, foreign_keys));
    if (table->indexes.definition_dirty) renumber.push_back(table.get());
  }
  index_drop_marked = false;
  for (TableState* table : renumber) RETURN_IF_ERROR(NumberIndexes(pager, *table, TablesByPage()));
  for (auto& [page, table] : tables) {
    if (table->indexes.loaded) RETURN_IF_ERROR(StoreIndexes(pager, *this, *table));
  }
  for (auto& [page, table] : tables) RETURN_IF_ERROR(StoreMaps(*table));
  if (objects_dirty) {
    ASSIGN_OR_RETURN(TableState * catalog, Table(kCatalogTdefPage, "MSysObjects"));
    RETURN_IF_ERROR(RebuildCatalogIndexes(*catalog, false));
    objects_dirty = false;
  }
  if (aces_dirty && aces_tdef != 0) {
    ASSIGN_OR_RETURN(TableState * table, Table(aces_tdef, "MSysACEs"));
    RETURN_IF_ERROR(RebuildCatalogIndexes(*table, true));
    aces_dirty = false;
  }
  // Index rebuilds may have allocated or freed pages (their maps were stored as they went).
  for (auto& [page, table] : tables) RETURN_IF_ERROR(StoreMaps(*table));
  RETURN_IF_ERROR(StoreGlobalMap());
  RETURN_IF_ERROR(pager.Commit());
  for (auto& [page, table] : tables) {
    auto& dropped = table->indexes.dropped;
    db.dropped_indexes_.insert(db.dropped_indexes_.end(), dropped.begin(), dropped.end());
    dropped.clear();
  }
  return Status::Ok();
}

// ---- Database: write transactions ---------------------------------------------------------

Result<Database::WriteState*> Database::Writer() {
  if (mode_ == OpenMode::kReadOnly) {
    return InvalidArgumentError(pager_->file().Name() + ": opened read-only");
  }
  if (!writer_) {
    std::unique_ptr<WriteState, WriteStateDeleter> state(new WriteState(*this, *pager_));
    RETURN_IF_ERROR(state->Load().WithContext(pager_->file().Name()));
    writer_ = std::move(state);
  }
  return writer_.get();
}

Status Database::EndWrite(WriteState& state, Status status) {
  in_operation_ = true;
  if (status.ok()) status = state.Finish();
  in_operation_ = false;
  const uint64_t undone = status.ok() ? 0 : batch_pending_;
  batch_pending_ = 0;
  if (status.ok()) return status;
  // Undo everything since the last commit; the in-memory state is reloaded from the file on
  // the next write.
  writer_.reset();
  if (undone > 0) {
    status =
        status.WithContext("(the " + std::to_string(undone) + " uncommitted inserts of the batch were undone too)");
  }
  if (Status rollback = pager_->Rollback(); !rollback.ok()) {
    return status.WithContext("(the rollback failed too: " + rollback.message() +
                              "; the file is restored when next opened)");
  }
  return status;
}

Status Database::BeginBatch() {
  if (mode_ == OpenMode::kReadOnly) {
    return InvalidArgumentError(pager_->file().Name() + ": opened read-only");
  }
  batch_ = true;
  return Status::Ok();
}

Status Database::FlushBatch() {
  if (batch_pending_ == 0 || in_operation_ || !writer_) return Status::Ok();
  return EndWrite(*writer_, Status::Ok());
}

Status Database::CommitBatch() {
  Status status = FlushBatch();
  batch_ = false;
  return status;
}

}  // namespace tabulon::jet
