// The writing side of Database: new files, tables, rows, long values, catalog maintenance,
// page allocation and the commit of every write operation.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>

#include <unistd.h>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/catalog_writer.h"
#include "jet/index_key.h"
#include "jet/object_properties.h"
#include "jet/referential.h"
#include "jet/write_state.h"

namespace tabulon::jet {
namespace {

constexpr uint32_t kGlobalMapRow = 1u << 8;                  // page 1, row 0
constexpr uint32_t kMaxFilePages = 0x80000000u / kPageSize;  // Jet's 2 GB limit
constexpr size_t kMaxNameCharacters = 64;
constexpr uint32_t kMaxSingleLongValue = 4076;  // one row filling an empty LVAL page
constexpr uint32_t kMaxChainChunk = 4072;       // plus the 4-byte pointer to the next chunk
constexpr int32_t kFullAccess = 1048575;
constexpr uint32_t kMaxGlobalInlineRow = 4082 - 4 - kMapRowSize;  // page 1 also holds row 1

double OleNow() {
  const auto seconds = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  return 25569.0 + seconds / 86400.0;
}

std::string SidBytes(uint16_t sid) { return {static_cast<char>(sid >> 8), static_cast<char>(sid & 0xFF)}; }

// Object names: what Jet and Access accept, and what our sort codes cover.
Status CheckObjectName(std::string_view name, const char* what) {
  auto utf16 = Utf8ToUtf16(name);
  if (!utf16.ok()) return utf16.status().WithContext(std::string(what) + " name");
  if (utf16->empty() || utf16->size() > kMaxNameCharacters) {
    return InvalidArgumentError(std::string(what) + " name '" + std::string(name) + "' must have 1 to 64 characters");
  }
  if ((*utf16)[0] == u' ') {
    return InvalidArgumentError(std::string(what) + " name '" + std::string(name) + "' must not start with a space");
  }
  for (char16_t c : *utf16) {
    if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') {
      return InvalidArgumentError(std::string(what) + " name '" + std::string(name) +
                                  "' must not contain . ! ` [ ] or control characters");
    }
    if (!HasGeneralSortCode(c)) {
      return UnsupportedError(std::string(what) + " name '" + std::string(name) +
                              "' has a character without a known General sort code, which the "
                              "catalog index cannot sort");
    }
  }
  return Status::Ok();
}

Result<std::string> NameKey(std::string_view name) {
  std::string key;
  RETURN_IF_ERROR(AppendTextKey(name, key));
  return key;
}

}  // namespace

// ---- MapState -----------------------------------------------------------------------------

void MapState::Add(uint32_t page) {
  if (pages.empty() || page > pages.back()) {
    pages.push_back(page);
  } else {
    auto it = std::lower_bound(pages.begin(), pages.end(), page);
    if (it != pages.end() && *it == page) return;
    pages.insert(it, page);
  }
  dirty = true;
}

void MapState::Remove(uint32_t page) {
  auto it = std::lower_bound(pages.begin(), pages.end(), page);
  if (it != pages.end() && *it == page) {
    pages.erase(it);
    dirty = true;
  }
}

void MapState::Clear() {
  if (!pages.empty()) dirty = true;
  pages.clear();
}

// ---- WriteState ---------------------------------------------------------------------------

struct Database::WriteState : public PageAllocator {
  WriteState(Database& database, Pager& p) : db(database), pager(p) {}

  Database& db;
  Pager& pager;
  double now = OleNow();

  // Global page map.
  std::set<uint32_t> free_pages;
  std::vector<uint32_t> global_bitmap_pages;
  bool global_dirty = false;

  // Catalog.
  std::vector<CatalogEntry> objects;
  std::vector<AceRow> aces;
  std::string new_object_owner;         // the MSysDb owner
  std::vector<std::string> table_sids;  // SIDs with rights on the Tables container
  bool objects_dirty = false;
  bool aces_dirty = false;
  uint32_t aces_tdef = 0;

  std::map<uint32_t, std::unique_ptr<TableState>> tables;

  // Whether an operation marked an index to go (see PrepareIndexEntries).
  bool RemovesAnIndex() const {
    for (const auto& [page, table] : tables) {
      for (const RealIndexState& index : table->indexes.real) {
        if (!index.drop_reason.empty()) return true;
      }
    }
    return false;
  }

  // Long values of one table, stored on the LVAL pages of their column.
  class LongValues : public LongValueSink {
   public:
    LongValues(WriteState& state, TableState& table) : state_(state), table_(table) {}
    Result<std::string> Store(const ColumnDefinition& column, std::string_view data) override;

   private:
    WriteState& state_;
    TableState& table_;
  };

  // PageAllocator.
  Result<uint32_t> Allocate() override {
    uint32_t page;
    if (!free_pages.empty()) {
      page = *free_pages.begin();
      free_pages.erase(free_pages.begin());
      ASSIGN_OR_RETURN(uint8_t * bytes, pager.MutablePage(page));
      std::memset(bytes, 0, kPageSize);
    } else {
      if (pager.page_count() >= kMaxFilePages) {
        return LimitError(pager.file().Name() + ": the database would grow beyond 2 GB, the limit of a Jet 4 file");
      }
      ASSIGN_OR_RETURN(page, pager.AppendPage());
    }
    global_dirty = true;
    return page;
  }

  void Free(uint32_t page) override {
    if (page < 3) return;  // never header, page map or catalog definition
    free_pages.insert(page);
    global_dirty = true;
    // A freed page reads as "never written"; failing to clear it only leaves stale bytes in
    // a page nothing refers to, so the error is dropped.
    if (auto bytes = pager.MutablePage(page); bytes.ok()) std::memset(*bytes, 0, kPageSize);
  }

  Status Load();
  Result<TableState*> Table(uint32_t tdef_page, const std::string& name);
  Result<TableState*> UserTable(std::string_view name);
  // A table by its definition page (the form foreign-key indexes name their partner in).
  Result<TableState*> TableAt(uint32_t tdef_page);
  TableAtPage TablesByPage() {
    return [this](uint32_t page) { return TableAt(page); };
  }
  // Deletes rows of a table found by a delete plan, and clears the columns it names.
  Status ApplyDeletePlan(const DeletePlan& plan);
  // The catalog entry of a table that is not a system table.
  Result<const CatalogEntry*> UserTableEntry(std::string_view name) const;
  const CatalogEntry* FindObject(std::string_view name, int32_t parent) const;
  Status LoadColumnProperties(TableDefinition& table);

  // A page of `owner` that takes a row of `size` bytes: `current`, else the first page of
  // `free_map` that does (it becomes `current`); null when a new page is needed.
  Result<uint8_t*> PageWithRoom(uint32_t& current, MapState& free_map, uint32_t owner, size_t size);
  Result<RowPointer> InsertEncoded(TableState& table, const std::string& row);
  // Puts a long-value row on a page of its column. `first_on_page` asks for row number 0 of
  // a new page (see LongValues::Store).
  Result<RowPointer> PlaceLongValueRow(TableState& table, size_t lv, const std::string& row,
                                       bool first_on_page = false);
  Status InsertValues(TableState& table, const Row& row, RowPointer* where);
  Status DeleteAt(TableState& table, RowPointer where);
  // After a delete on a data page of the table: list it as having room, or give it back to
  // the file when no live row is left.
  Status NoteRoom(TableState& table, uint32_t page);
  // Deletes the long-value rows of a row (`stored` as scanned without reading long values)
  // and gives pages left empty back to the file.
  Status ReleaseLongValues(TableState& table, const Row& stored);

  // Visits every row of the table, this operation's rows included (for building indexes).
  RowScan RowsOf(TableState& table) {
    return [this, &table](const std::function<Status(RowPointer, const Row&)>& visit) -> Status {
      RETURN_IF_ERROR(StoreMaps(table));
      return db.ScanRows(table.def, visit);
    };
  }
  Status AddObject(CatalogEntry entry, const std::string& owner, const std::string& properties = {});
  Status AddAces(int32_t object_id);
  Status RebuildCatalogIndexes(TableState& table, bool aces);
  Status StoreMaps(TableState& table);
  Status StoreGlobalMap();
  Status Finish();
};

void Database::WriteStateDeleter::operator()(WriteState* state) const { delete state; }

namespace {

Status LoadMap(Pager& pager, uint32_t row_pointer, MapState& map) {
  map.row_pointer = row_pointer;
  ASSIGN_OR_RETURN(format::UsageMap m, format::ReadUsageMap(pager, row_pointer));
  map.pages = std::move(m.pages);
  std::sort(map.pages.begin(), map.pages.end());
  map.bitmap_pages = std::move(m.bitmap_pages);
  return Status::Ok();
}

}  // namespace

Result<std::string> Database::WriteState::LongValues::Store(const ColumnDefinition& column, std::string_view data) {
  size_t lv = SIZE_MAX;
  for (size_t i = 0; i < table_.def.long_value_maps.size(); ++i) {
    if (table_.def.long_value_maps[i].column_number == column.number) lv = i;
  }
  if (lv == SIZE_MAX) {
    return UnsupportedError("column '" + column.name + "' has no long-value pages of its own");
  }
  std::string header(12, '\0');
  auto* h = reinterpret_cast<uint8_t*>(header.data());
  const auto length = static_cast<uint32_t>(data.size());
  if (data.size() <= kMaxSingleLongValue) {
    ASSIGN_OR_RETURN(RowPointer where, state_.PlaceLongValueRow(table_, lv, std::string(data)));
    WriteU32(h, 0x40000000u | length);
    WriteU32(h + 4, where);
    return header;
  }
  // A chain, written from its last chunk backwards so each chunk knows its successor.
  RowPointer next = 0;
  size_t chunks = (data.size() + kMaxChainChunk - 1) / kMaxChainChunk;
  std::string row;
  while (chunks-- > 0) {
    const size_t at = chunks * kMaxChainChunk;
    const size_t size = std::min<size_t>(kMaxChainChunk, data.size() - at);
    row.assign(4, '\0');
    WriteU32(reinterpret_cast<uint8_t*>(row.data()), next);
    row.append(data.substr(at, size));
    // Each chunk of a chain is row 0 of its page: a reader that takes a row's end from the
    // previous offset entry without masking its flags (mdb-reader) would read a chunk after a
    // deleted row as running to the end of the page, and stop the chain there.
    ASSIGN_OR_RETURN(next, state_.PlaceLongValueRow(table_, lv, row, true));
  }
  WriteU32(h, length);
  WriteU32(h + 4, next);
  return header;
}

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

const CatalogEntry* Database::WriteState::FindObject(std::string_view name, int32_t parent) const {
  // Names of one parent never clash, so an exact match is the answer; sort keys (slow to make)
  // are needed only for a name spelt differently.
  for (const CatalogEntry& e : objects) {
    if (e.parent_id == parent && e.name == name) return &e;
  }
  auto key = NameKey(name);
  for (const CatalogEntry& e : objects) {
    if (e.parent_id != parent) continue;
    // The catalog index compares names by sort key, so names differing only in case clash.
    if (key.ok()) {
      auto other = NameKey(e.name);
      if (other.ok() && *other == *key) return &e;
    }
  }
  return nullptr;
}

Result<const CatalogEntry*> Database::WriteState::UserTableEntry(std::string_view name) const {
  const CatalogEntry* entry = FindObject(name, kTablesContainerId);
  if (!entry || !entry->is_table()) {
    return NotFoundError("no table named '" + std::string(name) + "'");
  }
  if (entry->is_system()) {
    return InvalidArgumentError("'" + entry->name + "' is a system table");
  }
  return entry;
}

Result<TableState*> Database::WriteState::UserTable(std::string_view name) {
  const CatalogEntry* e = FindObject(name, kTablesContainerId);
  if (!e || !e->is_table()) return NotFoundError("no table named '" + std::string(name) + "'");
  return Table(e->tdef_page(), e->name);
}

Result<TableState*> Database::WriteState::TableAt(uint32_t tdef_page) {
  for (const CatalogEntry& e : objects) {
    if (e.is_table() && e.tdef_page() == tdef_page) return Table(tdef_page, e.name);
  }
  return CorruptError("no table has its definition at page " + std::to_string(tdef_page));
}

Status Database::WriteState::ApplyDeletePlan(const DeletePlan& plan) {
  std::set<uint32_t> pages;
  for (const auto& entry : plan.cascaded) pages.insert(entry.first);
  for (const auto& entry : plan.set_null) pages.insert(entry.first);
  for (uint32_t page : pages) {
    ASSIGN_OR_RETURN(TableState * table, TableAt(page));
    const auto cascaded = plan.cascaded.find(page);
    const auto cleared = plan.set_null.find(page);
    auto listed = [&](RowPointer where) {
      return (cascaded != plan.cascaded.end() && cascaded->second.count(where)) ||
             (cleared != plan.set_null.end() && cleared->second.count(where));
    };
    // Rows as stored (long-value fields undecoded), to release their long values.
    std::vector<std::pair<RowPointer, Row>> stored;
    ScanOptions raw;
    raw.read_long_values = false;
    RETURN_IF_ERROR(StoreMaps(*table));
    RETURN_IF_ERROR(db.ScanRows(
        table->def,
        [&](RowPointer where, const Row& row) {
          if (listed(where)) stored.emplace_back(where, row);
          return Status::Ok();
        },
        raw));
    for (const auto& [where, row] : stored) {
      std::optional<Row> kept;
      if (cleared != plan.set_null.end()) {
        if (auto it = cleared->second.find(where); it != cleared->second.end()) {
          // Set Null is a delete and an insert of the row with those columns cleared.
          ASSIGN_OR_RETURN(kept, db.ReadRow(table->def, where));
          for (size_t slot : it->second) (*kept)[slot] = Null{};
        }
      }
      RETURN_IF_ERROR(DeleteAt(*table, where));
      RETURN_IF_ERROR(ReleaseLongValues(*table, row));
      if (kept) RETURN_IF_ERROR(InsertValues(*table, *kept, nullptr));
    }
  }
  return Status::Ok();
}

Result<uint8_t*> Database::WriteState::PageWithRoom(uint32_t& current, MapState& free_map, uint32_t owner,
                                                    size_t size) {
  auto usable = [&](uint32_t number) -> Result<uint8_t*> {
    ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(number));
    if (page[0] == format::kPageData && ReadU32(page + 4) == owner && DataPageFits(page, size)) {
      return page;
    }
    return nullptr;
  };
  if (current != 0) {
    ASSIGN_OR_RETURN(uint8_t * page, usable(current));
    if (page) return page;
  }
  // Pages that gained room through deletes. One that cannot take this row leaves the map, so
  // a long run of inserts tries each such page once.
  while (!free_map.pages.empty()) {
    const uint32_t candidate = free_map.pages.front();
    if (candidate != current) {
      ASSIGN_OR_RETURN(uint8_t * page, usable(candidate));
      if (page) {
        current = candidate;
        return page;
      }
    }
    free_map.Remove(candidate);
  }
  current = 0;
  return nullptr;
}

Result<RowPointer> Database::WriteState::InsertEncoded(TableState& table, const std::string& row) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(row.data());
  ASSIGN_OR_RETURN(uint8_t * page, PageWithRoom(table.current_page, table.free, table.def.tdef_page, row.size()));
  if (!page) {
    ASSIGN_OR_RETURN(uint32_t page_number, Allocate());
    ASSIGN_OR_RETURN(page, pager.MutablePage(page_number));
    InitDataPage(page, table.def.tdef_page);
    table.owned.Add(page_number);
    // The free-space map names the pages new rows go to.
    table.free.Add(page_number);
    table.current_page = page_number;
  }
  const uint8_t number = AddRowToPage(page, bytes, row.size());
  ++table.def.row_count;
  table.header_dirty = true;
  return MakeRowPointer(table.current_page, number);
}

Result<RowPointer> Database::WriteState::PlaceLongValueRow(TableState& table, size_t lv, const std::string& row,
                                                           bool first_on_page) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(row.data());
  uint32_t& current = table.long_value_page[lv];
  uint8_t* page = nullptr;
  if (!first_on_page) {
    ASSIGN_OR_RETURN(page, PageWithRoom(current, table.long_value_free[lv], kLongValueOwner, row.size()));
  }
  if (!page) {
    ASSIGN_OR_RETURN(uint32_t page_number, Allocate());
    ASSIGN_OR_RETURN(page, pager.MutablePage(page_number));
    InitDataPage(page, kLongValueOwner);
    table.long_value_owned[lv].Add(page_number);
    current = page_number;
  }
  return MakeRowPointer(current, AddRowToPage(page, bytes, row.size()));
}

Status Database::WriteState::InsertValues(TableState& table, const Row& row, RowPointer* where) {
  const Row* values = &row;
  Row numbered;
  for (size_t i = 0; i < table.def.columns.size() && i < row.size(); ++i) {
    const ColumnDefinition& c = table.def.columns[i];
    if (!c.auto_number() || c.type != ColumnType::kLong) continue;
    if (values == &row) {
      numbered = row;
      values = &numbered;
    }
    if (std::holds_alternative<Null>(numbered[i])) {
      if (table.def.last_auto_number >= static_cast<uint32_t>(INT32_MAX)) {
        return LimitError("table '" + table.def.name + "': AutoNumber column '" + c.name + "' has no numbers left");
      }
      numbered[i] = static_cast<int32_t>(++table.def.last_auto_number);
    } else if (const auto* v = std::get_if<int32_t>(&numbered[i]); v && *v > 0) {
      table.def.last_auto_number = std::max(table.def.last_auto_number, static_cast<uint32_t>(*v));
    }
    table.header_dirty = true;
  }
  LongValues long_values(*this, table);
  static thread_local std::string encoded;
  RETURN_IF_ERROR(table.encoder->Encode(*values, long_values, encoded));
  const bool indexed = table.indexes.maintained;
  if (indexed) {
    // Keys are checked before the row is placed: a violation leaves no trace of the row.
    RETURN_IF_ERROR(LoadIndexes(pager, table));
    RETURN_IF_ERROR(PrepareIndexEntries(pager, table, *values));
  }
  ASSIGN_OR_RETURN(RowPointer at, InsertEncoded(table, encoded));
  if (indexed) RETURN_IF_ERROR(AddPreparedIndexEntries(pager, *this, table, at));
  if (where) *where = at;
  return Status::Ok();
}

Status Database::WriteState::DeleteAt(TableState& table, RowPointer where) {
  if (table.indexes.maintained) {
    RETURN_IF_ERROR(LoadIndexes(pager, table));
    if (!table.indexes.real.empty()) {
      ASSIGN_OR_RETURN(Row row, db.ReadRow(table.def, where));
      RETURN_IF_ERROR(RemoveIndexEntries(pager, *this, table, row, where));
    }
  }
  const uint32_t number = RowPointerPage(where);
  ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(number));
  RowPointer moved_to = 0;
  if (RowPointerRow(where) < DataPageRowCount(page)) {
    // A row Access moved elsewhere leaves a 4-byte pointer (overflow flag only) in its slot;
    // deleting it deletes the moved row too.
    const uint16_t entry = ReadU16(page + format::kDataPageHeaderSize + 2 * RowPointerRow(where));
    if ((entry & 0xC000) == format::kRowOverflow) {
      WriteU16(page + format::kDataPageHeaderSize + 2 * RowPointerRow(where),
               static_cast<uint16_t>(entry & ~format::kRowOverflow));
      uint16_t start = 0;
      uint16_t end = 0;
      if (RowBounds(page, RowPointerRow(where), start, end) && end - start >= 4) {
        moved_to = ReadU32(page + start);
      }
    }
  }
  if (!DeleteRowOnPage(page, RowPointerRow(where))) {
    return CorruptError(format::PageAt(number, 0) + "row " + std::to_string(RowPointerRow(where)) +
                        " to delete is missing");
  }
  if (table.def.row_count > 0) --table.def.row_count;
  table.header_dirty = true;
  if (moved_to != 0) {
    ASSIGN_OR_RETURN(uint8_t * target, pager.MutablePage(RowPointerPage(moved_to)));
    const uint8_t row = RowPointerRow(moved_to);
    if (target[0] == format::kPageData && row < DataPageRowCount(target)) {
      // The moved row carries the deleted flag already; the full mark gives its bytes back.
      const size_t at = format::kDataPageHeaderSize + 2u * row;
      WriteU16(target + at, static_cast<uint16_t>(ReadU16(target + at) & ~0xC000));
      DeleteRowOnPage(target, row);
      if (std::binary_search(table.owned.pages.begin(), table.owned.pages.end(), RowPointerPage(moved_to))) {
        RETURN_IF_ERROR(NoteRoom(table, RowPointerPage(moved_to)));
      }
    }
  }
  return NoteRoom(table, number);
}

Status Database::WriteState::NoteRoom(TableState& table, uint32_t number) {
  ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(number));
  if (DataPageHasLiveRows(page)) {
    table.free.Add(number);
    return Status::Ok();
  }
  // An empty data page goes back to the file for any use.
  table.owned.Remove(number);
  table.free.Remove(number);
  if (table.current_page == number) table.current_page = 0;
  Free(number);
  return Status::Ok();
}

Status Database::WriteState::ReleaseLongValues(TableState& table, const Row& stored) {
  for (size_t lv = 0; lv < table.def.long_value_maps.size(); ++lv) {
    const uint16_t column_number = table.def.long_value_maps[lv].column_number;
    for (size_t i = 0; i < table.def.columns.size() && i < stored.size(); ++i) {
      if (table.def.columns[i].number != column_number) continue;
      const auto* field = std::get_if<Bytes>(&stored[i]);
      if (!field) continue;
      const auto* bytes = reinterpret_cast<const uint8_t*>(field->data.data());
      ASSIGN_OR_RETURN(format::LongValueHeader header, format::DecodeLongValueHeader(bytes, field->data.size()));
      if (header.kind == format::kLongValueInline) continue;
      std::string data;
      std::vector<format::LongValueChunk> chunks;
      RETURN_IF_ERROR(format::ReadLongValueData(pager, bytes, field->data.size(), data, &chunks));
      MapState& owned = table.long_value_owned[lv];
      for (const format::LongValueChunk& chunk : chunks) {
        const uint32_t number = RowPointerPage(chunk.row_pointer);
        ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(number));
        DeleteRowOnPage(page, RowPointerRow(chunk.row_pointer));
        // Only pages this column owns are recycled; anything else keeps its (now deleted) row.
        if (!std::binary_search(owned.pages.begin(), owned.pages.end(), number)) continue;
        if (DataPageHasLiveRows(page)) {
          table.long_value_free[lv].Add(number);
        } else {
          owned.Remove(number);
          table.long_value_free[lv].Remove(number);
          if (table.long_value_page[lv] == number) table.long_value_page[lv] = 0;
          Free(number);
        }
      }
    }
  }
  return Status::Ok();
}

Status Database::WriteState::AddObject(CatalogEntry entry, const std::string& owner, const std::string& properties) {
  ASSIGN_OR_RETURN(TableState * catalog, Table(kCatalogTdefPage, "MSysObjects"));
  Row row(catalog->def.columns.size(), Null{});
  for (size_t i = 0; i < catalog->def.columns.size(); ++i) {
    const std::string& column = catalog->def.columns[i].name;
    if (column == "Id") row[i] = entry.id;
    if (column == "ParentId") row[i] = entry.parent_id;
    if (column == "Name") row[i] = entry.name;
    if (column == "Type") row[i] = entry.type;
    if (column == "DateCreate" || column == "DateUpdate") row[i] = DateTime{now};
    if (column == "Owner") row[i] = Bytes{owner};
    if (column == "Flags") row[i] = entry.flags;
    if (column == "LvProp" && !properties.empty()) row[i] = Bytes{properties};
  }
  RETURN_IF_ERROR(InsertValues(*catalog, row, &entry.row));
  objects.push_back(std::move(entry));
  objects_dirty = true;
  return Status::Ok();
}

Status Database::WriteState::AddAces(int32_t object_id) {
  if (aces_tdef == 0) return Status::Ok();
  ASSIGN_OR_RETURN(TableState * table, Table(aces_tdef, "MSysACEs"));
  for (const std::string& sid : table_sids) {
    Row row(table->def.columns.size(), Null{});
    for (size_t i = 0; i < table->def.columns.size(); ++i) {
      const std::string& column = table->def.columns[i].name;
      if (column == "ObjectId") row[i] = object_id;
      if (column == "SID") row[i] = Bytes{sid};
      if (column == "ACM") row[i] = kFullAccess;
      if (column == "FInheritable") row[i] = false;
    }
    AceRow ace{object_id, sid, 0};
    RETURN_IF_ERROR(InsertValues(*table, row, &ace.row));
    aces.push_back(std::move(ace));
  }
  aces_dirty = true;
  return Status::Ok();
}

Status Database::WriteState::RebuildCatalogIndexes(TableState& table, bool for_aces) {
  const TableDefinition& def = table.def;
  std::set<uint32_t> done;
  for (const IndexDefinition& index : def.indexes) {
    if (index.index_type == 0x02 || !done.insert(index.real_number).second) continue;
    // One key part per index column, from the catalog rows kept in memory.
    std::vector<std::string> columns;
    for (const IndexColumn& ic : index.columns) {
      std::string name;
      for (const ColumnDefinition& c : def.columns) {
        if (c.number == ic.column_number) name = c.name;
      }
      if (!ic.ascending) {
        return UnsupportedError("catalog index '" + index.name + "' is descending");
      }
      columns.push_back(name);
    }
    std::vector<std::string> entries;
    auto add_entry = [&](auto&& part, RowPointer row) -> Status {
      std::string entry;
      for (const std::string& column : columns) RETURN_IF_ERROR(part(column, entry));
      AppendEntryRowPointer(row, entry);
      entries.push_back(std::move(entry));
      return Status::Ok();
    };
    if (for_aces) {
      for (const AceRow& a : aces) {
        auto part = [&](const std::string& column, std::string& key) -> Status {
          if (column != "ObjectId") {
            return UnsupportedError("cannot maintain MSysACEs index on '" + column + "'");
          }
          AppendLongKey(a.object_id, key);
          return Status::Ok();
        };
        RETURN_IF_ERROR(add_entry(part, a.row));
      }
    } else {
      for (const CatalogEntry& e : objects) {
        auto part = [&](const std::string& column, std::string& key) -> Status {
          if (column == "Id") {
            AppendLongKey(e.id, key);
          } else if (column == "ParentId") {
            AppendLongKey(e.parent_id, key);
          } else if (column == "Name") {
            return AppendTextKey(e.name, key).WithContext("object '" + e.name + "'");
          } else {
            return UnsupportedError("cannot maintain MSysObjects index on '" + column + "'");
          }
          return Status::Ok();
        };
        RETURN_IF_ERROR(add_entry(part, e.row));
      }
    }
    std::sort(entries.begin(), entries.end());
    uint32_t distinct = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const std::string_view key(entries[i].data(), entries[i].size() - 4);
      if (i == 0 || key != std::string_view(entries[i - 1].data(), entries[i - 1].size() - 4)) {
        ++distinct;
      } else if ((index.flags & 0x01) != 0) {
        return InternalError("catalog index '" + index.name + "' would hold a duplicate key");
      }
    }
    MapState map;
    RETURN_IF_ERROR(LoadMap(pager, index.usage_map, map));
    std::vector<uint32_t> pages;
    for (uint32_t p : map.pages) {
      if (p != index.root_page) pages.push_back(p);
    }
    RETURN_IF_ERROR(WriteIndexTree(pager, *this, def.tdef_page, index.root_page, entries, pages));
    pages.push_back(index.root_page);
    std::sort(pages.begin(), pages.end());
    RETURN_IF_ERROR(StoreUsageMap(pager, *this, index.usage_map, pages, map.bitmap_pages));
    // The real index's count of distinct keys, kept in the definition's first page.
    ASSIGN_OR_RETURN(uint8_t * tdef, pager.MutablePage(def.tdef_page));
    const uint32_t at = format::kTdefHeaderSize + format::kTdefRealIndexBlockSize * index.real_number + 4;
    WriteU32(tdef + at, distinct);
  }
  return Status::Ok();
}

Status Database::WriteState::StoreMaps(TableState& table) {
  auto store = [&](MapState& map) -> Status {
    if (!map.dirty) return Status::Ok();
    RETURN_IF_ERROR(StoreUsageMap(pager, *this, map.row_pointer, map.pages, map.bitmap_pages));
    map.dirty = false;
    return Status::Ok();
  };
  RETURN_IF_ERROR(store(table.owned));
  RETURN_IF_ERROR(store(table.free));
  for (MapState& m : table.long_value_owned) RETURN_IF_ERROR(store(m));
  for (MapState& m : table.long_value_free) RETURN_IF_ERROR(store(m));
  if (table.header_dirty) {
    ASSIGN_OR_RETURN(uint8_t * tdef, pager.MutablePage(table.def.tdef_page));
    WriteU32(tdef + format::kTdefRowCountOffset, table.def.row_count);
    WriteU32(tdef + format::kTdefAutoNumberOffset, table.def.last_auto_number);
    table.header_dirty = false;
  }
  return Status::Ok();
}

Status Database::WriteState::StoreGlobalMap() {
  if (!global_dirty) return Status::Ok();
  // A Jet file keeps its length; pages given back are only marked free for reuse.
  uint32_t count = pager.page_count();
  const uint32_t bitmap_bytes = std::max<uint32_t>(64, ((count + 7) / 8 + 31) / 32 * 32);
  ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(1));
  uint16_t start = 0;
  uint16_t end = 0;
  if (!RowBounds(page, 0, start, end)) {
    return CorruptError(format::PageAt(1, 0) + "the global page map row is missing");
  }
  const uint32_t row_size = 5 + bitmap_bytes;
  if (row_size <= kMaxGlobalInlineRow) {
    for (uint32_t& p : global_bitmap_pages) {
      if (p != 0) free_pages.insert(p);
      p = 0;
    }
    // Rebuild page 1 with a row 0 large enough for every page of the file.
    InitDataPage(page, 1);
    std::string row(row_size, '\0');
    auto* bits = reinterpret_cast<uint8_t*>(row.data()) + 5;
    for (uint32_t p = 0; p < bitmap_bytes * 8; ++p) {
      if (p >= count || free_pages.count(p) != 0) bits[p / 8] |= static_cast<uint8_t>(1u << (p % 8));
    }
    AddRowToPage(page, reinterpret_cast<const uint8_t*>(row.data()), row.size());
    const std::string second(kMapRowSize, '\0');
    AddRowToPage(page, reinterpret_cast<const uint8_t*>(second.data()), second.size());
    global_dirty = false;
    return Status::Ok();
  }
  // A large file: row 0 points to bitmap pages, one per 32736 pages. Allocate them first (they
  // are in use themselves), then fill in every bit.
  InitDataPage(page, 1);
  std::string row(kMapRowSize, '\0');
  row[0] = static_cast<char>(format::kUsageMapReference);
  const uint32_t slots = (kMapRowSize - 1) / 4;
  global_bitmap_pages.resize(slots, 0);
  for (uint32_t slot = 0; slot < slots; ++slot) {
    if (uint64_t{slot} * format::kPagesPerBitmapPage < pager.page_count() + 8 && global_bitmap_pages[slot] == 0) {
      ASSIGN_OR_RETURN(global_bitmap_pages[slot], Allocate());
    }
  }
  count = pager.page_count();
  AddRowToPage(page, reinterpret_cast<const uint8_t*>(row.data()), row.size());
  const std::string second(kMapRowSize, '\0');
  AddRowToPage(page, reinterpret_cast<const uint8_t*>(second.data()), second.size());
  uint16_t row_start = 0;
  uint16_t row_end = 0;
  RowBounds(page, 0, row_start, row_end);
  for (uint32_t slot = 0; slot < slots; ++slot) {
    WriteU32(page + row_start + 1 + 4 * slot, global_bitmap_pages[slot]);
  }
  for (uint32_t slot = 0; slot < slots; ++slot) {
    if (global_bitmap_pages[slot] == 0) continue;
    ASSIGN_OR_RETURN(uint8_t * bitmap, pager.MutablePage(global_bitmap_pages[slot]));
    std::memset(bitmap, 0, kPageSize);
    bitmap[0] = format::kPageUsageBitmap;
    bitmap[1] = 0x01;
    const uint64_t first = uint64_t{slot} * format::kPagesPerBitmapPage;
    for (uint32_t bit = 0; bit < format::kPagesPerBitmapPage; ++bit) {
      const uint64_t p = first + bit;
      if (p >= count || free_pages.count(static_cast<uint32_t>(p)) != 0) {
        bitmap[format::kUsageBitmapPageHeader + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
      }
    }
  }
  global_dirty = false;
  return Status::Ok();
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

// ---- Database: write operations ----------------------------------------------------------

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

template <typename Operation>
Status Database::RunWrite(Operation&& operation, bool batchable) {
  const bool batched = batchable && batch_;
  // Other operations may read the table's pages: the batch's inserts go to the file first.
  if (!batched) RETURN_IF_ERROR(FlushBatch());
  ASSIGN_OR_RETURN(WriteState * state, Writer());
  const uint64_t changes_before = pager_->change_count();
  in_operation_ = true;
  Status status = operation(*state);
  in_operation_ = false;
  if (batched && status.ok()) {
    ++batch_pending_;
    // An insert that takes an index off its table commits at once, so that the removal is
    // reported (TakeDroppedIndexes) right after the insert that caused it.
    if (!state->RemovesAnIndex()) return status;
    return EndWrite(*state, std::move(status));
  }
  if (batched && pager_->change_count() == changes_before) {
    // Refused before it changed a page: the batch goes on (the in-memory state holds only
    // what the batch's earlier inserts put there).
    return status;
  }
  return EndWrite(*state, std::move(status));
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

Result<std::unique_ptr<Database>> Database::Create(std::unique_ptr<FileIo> file) {
  const std::string name = file->Name();
  ASSIGN_OR_RETURN(uint64_t size, file->Size());
  if (size != 0) return AlreadyExistsError(name + ": not empty; a new database needs a new file");
  ASSIGN_OR_RETURN(std::unique_ptr<Pager> pager, Pager::Open(std::move(file), true));
  const CreationIdentity& identity = DefaultCreationIdentity();
  Status status = WriteSkeletonPages(*pager, identity);
  if (!status.ok()) {
    (void)pager->Rollback();
    return status.WithContext(name);
  }
  std::unique_ptr<Database> db(new Database(std::move(pager), OpenMode::kReadWrite));
  status = db->LoadHeader();
  if (status.ok()) status = db->LoadCatalogDefinition();
  if (status.ok()) {
    status = db->RunWrite([&](WriteState& w) -> Status {
      // The catalog rows of a minimal database, dated like the header they belong with.
      const uint8_t date_bytes[8] = {0x4E, 0xFB, 0xD3, 0x3B, 0x3E, 0xAB, 0xE4, 0x40};
      w.now = ReadF64(date_bytes);
      const uint16_t k = identity.system_owner;
      const std::string system_owner = SidBytes(k);
      w.new_object_owner = SidBytes(k ^ 0x0102);
      struct Object {
        int32_t id;
        int32_t parent;
        const char* name;
        int16_t type;
      };
      const Object skeleton[] = {
          {kTablesContainerId, kRootContainerId, "Tables", 3},
          {kDatabasesContainerId, kRootContainerId, "Databases", 3},
          {kRelationshipsContainerId, kRootContainerId, "Relationships", 3},
          {kDatabaseObjectId, kDatabasesContainerId, "MSysDb", 2},
          {2, kTablesContainerId, "MSysObjects", 1},
          {3, kTablesContainerId, "MSysACEs", 1},
          {4, kTablesContainerId, "MSysQueries", 1},
          {5, kTablesContainerId, "MSysRelationships", 1},
      };
      for (const Object& o : skeleton) {
        CatalogEntry e;
        e.id = o.id;
        e.parent_id = o.parent;
        e.name = o.name;
        e.type = o.type;
        e.flags = static_cast<int32_t>(0x80000000u);
        RETURN_IF_ERROR(w.AddObject(e, o.id == kDatabaseObjectId ? w.new_object_owner : system_owner));
      }
      // Access rights of the system objects and containers, as the Jet engine grants them.
      struct Ace {
        int32_t object;
        int32_t acm;
        bool inheritable;
        uint16_t sid_delta;
      };
      const Ace rights[] = {
          {2, 393216, false, 0x0102},
          {3, 393216, false, 0x0102},
          {4, 393216, false, 0x0102},
          {5, 917504, false, 0x0102},
          {kTablesContainerId, 983294, true, 0x0007},
          {kTablesContainerId, 393217, false, 0x0102},
          {kRelationshipsContainerId, 983294, true, 0x0007},
          {kRelationshipsContainerId, 393217, false, 0x0102},
          {kDatabasesContainerId, 393216, false, 0x0102},
          {kDatabaseObjectId, 393230, false, 0x0102},
          {kDatabaseObjectId, 14, false, 0x0002},
          {4, 20, false, 0x0002},
          {5, 20, false, 0x0002},
          {2, 20, false, 0x0002},
          {kTablesContainerId, 1048319, true, 0x0002},
          {kRelationshipsContainerId, 1048575, true, 0x0002},
      };
      w.aces_tdef = 3;
      ASSIGN_OR_RETURN(TableState * aces, w.Table(3, "MSysACEs"));
      for (const Ace& a : rights) {
        const std::string sid = SidBytes(static_cast<uint16_t>(k ^ a.sid_delta));
        Row row = {a.object, Bytes{sid}, a.acm, a.inheritable};
        AceRow ace{a.object, sid, 0};
        RETURN_IF_ERROR(w.InsertValues(*aces, row, &ace.row));
        w.aces.push_back(ace);
        if (a.object == kTablesContainerId &&
            std::find(w.table_sids.begin(), w.table_sids.end(), sid) == w.table_sids.end()) {
          w.table_sids.push_back(sid);
        }
      }
      w.aces_dirty = true;
      w.global_dirty = true;
      return Status::Ok();
    });
  }
  if (!status.ok()) return status.WithContext(name);
  db->writer_.reset();  // later writes date their objects "now"
  return db;
}

Result<std::unique_ptr<Database>> Database::Create(const std::string& path) {
  ASSIGN_OR_RETURN(std::unique_ptr<FileIo> file, OpenPosixFile(path, OpenMode::kCreateNew));
  auto db = Create(std::move(file));
  if (!db.ok()) {
    // Nothing usable was made: take the half-made file (and its journal) away again.
    ::unlink((path + kJournalSuffix).c_str());
    ::unlink(path.c_str());
  }
  return db;
}

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

namespace {

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

}  // namespace

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

Status Database::InsertRows(std::string_view table, const RowSource& next) {
  return RunWrite(
      [&](WriteState& w) -> Status {
        ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
        ASSIGN_OR_RETURN(InsertReferenceCheck references, InsertReferenceCheck::For(*pager_, *state, w.TablesByPage()));
        Row row;
        uint64_t number = 0;
        for (;;) {
          ASSIGN_OR_RETURN(bool more, next(row));
          if (!more) break;
          ++number;
          Status s = references.Check(row);
          if (s.ok()) s = w.InsertValues(*state, row, nullptr);
          if (!s.ok()) return s.WithContext("row " + std::to_string(number) + " of '" + state->def.name + "'");
        }
        return Status::Ok();
      },
      /*batchable=*/true);
}

Status Database::InsertRows(std::string_view table, const std::vector<Row>& rows) {
  size_t at = 0;
  return InsertRows(table, [&](Row& row) -> Result<bool> {
    if (at == rows.size()) return false;
    row = rows[at++];
    return true;
  });
}

Status Database::InsertRow(std::string_view table, const Row& row) {
  bool given = false;
  return InsertRows(table, [&](Row& out) -> Result<bool> {
    if (given) return false;
    given = true;
    out = row;
    return true;
  });
}

Result<uint64_t> Database::DeleteRows(std::string_view table, const RowPredicate& match) {
  uint64_t deleted = 0;
  Status status = RunWrite([&](WriteState& w) -> Status {
    ASSIGN_OR_RETURN(TableState * state, w.UserTable(table));
    // Rows are scanned with their long-value fields as stored, so the rows holding their
    // data can be released; the predicate sees the values themselves.
    std::vector<std::pair<RowPointer, Row>> doomed;
    ScanOptions stored;
    stored.read_long_values = false;
    Row resolved;
    RETURN_IF_ERROR(ScanRows(
        state->def,
        [&](RowPointer where, const Row& row) -> Status {
          resolved = row;
          for (size_t i = 0; i < resolved.size(); ++i) {
            const ColumnDefinition& column = state->def.columns[i];
            const auto* field = std::get_if<Bytes>(&row[i]);
            if (!field || !IsLongValueType(column.type)) continue;
            ASSIGN_OR_RETURN(resolved[i], ReadLongValue(column, field->data));
          }
          if (match(resolved)) doomed.emplace_back(where, row);
          return Status::Ok();
        },
        stored));
    // Rows of other tables that refer to these are planned before anything changes.
    ASSIGN_OR_RETURN(DeletePlan plan, PlanDelete(*this, *pager_, *state, doomed, w.TablesByPage()));
    for (const auto& [where, row] : doomed) {
      // The row goes first: its index keys are read from it, long values included.
      RETURN_IF_ERROR(w.DeleteAt(*state, where));
      RETURN_IF_ERROR(w.ReleaseLongValues(*state, row));
    }
    RETURN_IF_ERROR(w.ApplyDeletePlan(plan));
    deleted = doomed.size();
    return Status::Ok();
  });
  if (!status.ok()) return status;
  return deleted;
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

// ---- Catalog writers of other files (saved queries, relationships, properties) -----------

Status Database::RunCatalogWrite(const std::function<Status(CatalogWriter&)>& body) {
  // A local class shares this member function's access to the write state.
  class CatalogWriterImpl : public CatalogWriter {
   public:
    CatalogWriterImpl(Database& db, Database::WriteState& w) : db_(db), w_(w) {}

    Database& database() override { return db_; }
    Pager& pager() override { return w_.pager; }
    PageAllocator& allocator() override { return w_; }
    const std::vector<CatalogEntry>& Objects() override { return w_.objects; }
    const CatalogEntry* FindObject(std::string_view name, int32_t parent) override {
      return w_.FindObject(name, parent);
    }

    Result<CatalogEntry> AddObject(CatalogEntry entry, const std::string& properties) override {
      RETURN_IF_ERROR(w_.AddObject(entry, w_.new_object_owner, properties));
      RETURN_IF_ERROR(w_.AddAces(entry.id));
      return w_.objects.back();
    }

    Status SetObjectProperties(const CatalogEntry& entry, const std::string& blob) override {
      // The catalog row is rewritten whole with the new blob, like a rename.
      ASSIGN_OR_RETURN(TableState * catalog, w_.Table(kCatalogTdefPage, "MSysObjects"));
      RETURN_IF_ERROR(w_.StoreMaps(*catalog));
      Row stored;
      bool found = false;
      const Status scan = db_.ScanRows(catalog->def, [&](RowPointer where, const Row& row) {
        if (where != entry.row) return Status::Ok();
        stored = row;
        found = true;
        return Status(ErrorCode::kCancelled, "found");
      });
      if (!scan.ok() && scan.code() != ErrorCode::kCancelled) return scan;
      if (!found) return CorruptError("the catalog row of '" + entry.name + "' is missing");
      for (size_t i = 0; i < catalog->def.columns.size(); ++i) {
        const std::string& column = catalog->def.columns[i].name;
        if (column == "LvProp") stored[i] = blob.empty() ? Value(Null{}) : Value(Bytes{blob});
        if (column == "DateUpdate") stored[i] = DateTime{w_.now};
      }
      RETURN_IF_ERROR(w_.DeleteAt(*catalog, entry.row));
      RowPointer new_row = 0;
      RETURN_IF_ERROR(w_.InsertValues(*catalog, stored, &new_row));
      for (CatalogEntry& e : w_.objects) {
        if (e.row == entry.row) e.row = new_row;
      }
      w_.objects_dirty = true;
      return Status::Ok();
    }

    Status RemoveObject(const CatalogEntry& entry) override {
      const CatalogEntry doomed = entry;
      ASSIGN_OR_RETURN(TableState * catalog, w_.Table(kCatalogTdefPage, "MSysObjects"));
      RETURN_IF_ERROR(w_.DeleteAt(*catalog, doomed.row));
      std::erase_if(w_.objects, [&](const CatalogEntry& e) { return e.row == doomed.row; });
      w_.objects_dirty = true;
      if (w_.aces_tdef != 0) {
        ASSIGN_OR_RETURN(TableState * aces, w_.Table(w_.aces_tdef, "MSysACEs"));
        for (const AceRow& a : w_.aces) {
          if (a.object_id == doomed.id) RETURN_IF_ERROR(w_.DeleteAt(*aces, a.row));
        }
        std::erase_if(w_.aces, [&](const AceRow& a) { return a.object_id == doomed.id; });
        w_.aces_dirty = true;
      }
      return Status::Ok();
    }

    Result<const TableDefinition*> Table(std::string_view name) override {
      ASSIGN_OR_RETURN(TableState * state, State(name));
      return &state->def;
    }
    Result<RowPointer> InsertRow(std::string_view table, const Row& row) override {
      ASSIGN_OR_RETURN(TableState * state, State(table));
      RowPointer where = 0;
      RETURN_IF_ERROR(w_.InsertValues(*state, row, &where));
      return where;
    }
    Status DeleteRow(std::string_view table, RowPointer where) override {
      ASSIGN_OR_RETURN(TableState * state, State(table));
      return w_.DeleteAt(*state, where);
    }
    Status ScanRows(std::string_view table, const RowVisitor& visit) override {
      ASSIGN_OR_RETURN(TableState * state, State(table));
      // The scan follows the owned-pages map, so this transaction's pages are stored first.
      RETURN_IF_ERROR(w_.StoreMaps(*state));
      return db_.ScanRows(state->def, visit);
    }
    Result<ForeignKeyIndexes> AddForeignKeyIndexes(const ForeignKeyIndexSpec& spec) override {
      return db_.AddForeignKeyIndexes(w_, spec);
    }
    Status RemoveForeignKeyIndex(std::string_view table, std::string_view index) override {
      ASSIGN_OR_RETURN(TableState * state, State(table));
      auto it = std::find_if(state->def.indexes.begin(), state->def.indexes.end(), [&](const IndexDefinition& i) {
        return i.index_type == 0x02 && EqualsIgnoreAsciiCase(i.name, index);
      });
      if (it == state->def.indexes.end()) {
        return NotFoundError("table '" + state->def.name + "' has no foreign-key index '" + std::string(index) + "'");
      }
      // As a plain index it drops like one: the real index goes too when nothing else uses it.
      it->index_type = 0x00;
      const std::string name = it->name;
      return DropIndexIn(w_.pager, w_, *state, name);
    }

   private:
    Result<TableState*> State(std::string_view name) {
      const CatalogEntry* e = w_.FindObject(name, kTablesContainerId);
      if (!e || !e->is_table()) return NotFoundError("no table named '" + std::string(name) + "'");
      return w_.Table(e->tdef_page(), e->name);
    }

    Database& db_;
    Database::WriteState& w_;
  };

  return RunWrite([&](WriteState& w) -> Status {
    CatalogWriterImpl writer(*this, w);
    return body(writer);
  });
}

}  // namespace tabulon::jet
