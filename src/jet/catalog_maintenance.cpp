// Catalog maintenance of the writing side: the MSysObjects and MSysACEs rows kept in memory,
// their indexes rebuilt on commit, object names checked, and the CatalogWriter through which
// saved queries, relationships and properties change the catalog.
#include <algorithm>
#include <set>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/format/table_def.h"
#include "jet/index_key.h"
#include "jet/database_write.h"

namespace tabulon::jet {
namespace {

constexpr size_t kMaxNameCharacters = 64;
constexpr int32_t kFullAccess = 1048575;

}  // namespace

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

// ---- WriteState: catalog rows ---------------------------------------------------------------

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
