// The skeleton of a new database: the four system tables exactly as the Jet engine defines
// them, their usage-map rows on page 6 and their index roots on pages 7 to 13; Database::Create
// writes them and the catalog rows of a minimal database.
#include <algorithm>
#include <cstring>

#include <unistd.h>

#include "base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/database_write.h"
#include "jet/file_io.h"
#include "jet/write_state.h"

namespace tabulon::jet {
namespace {

constexpr uint8_t kSystemFixed = 0x13;
constexpr uint8_t kSystemVariable = 0x12;
constexpr uint8_t kSystemOwnerColumn = 0x32;  // Owner and SID columns
constexpr uint32_t kMapPage = 6;
constexpr uint32_t kSkeletonPages = 14;

std::string SidBytes(uint16_t sid) { return {static_cast<char>(sid >> 8), static_cast<char>(sid & 0xFF)}; }

ColumnDefinition Fixed(const char* name, ColumnType type, uint16_t number, uint16_t offset, uint16_t length) {
  ColumnDefinition c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.fixed_offset = offset;
  c.length = length;
  c.flags = kSystemFixed;
  return c;
}

ColumnDefinition Variable(const char* name, ColumnType type, uint16_t number, uint16_t index, uint16_t length = 0,
                          uint8_t flags = kSystemVariable) {
  ColumnDefinition c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.variable_index = index;
  c.length = length;
  c.flags = flags;
  return c;
}

constexpr uint32_t MapRow(uint32_t row) { return (kMapPage << 8) | row; }

// Map rows on page 6, per table: owned, free, one (owned, free) pair per long-value column
// in column order, one row per real index.
struct SkeletonLayout {
  uint32_t tdef_page;
  uint32_t first_map_row;
  std::vector<uint32_t> index_roots;
};
const SkeletonLayout kLayout[] = {
    {2, 0, {7, 8}},
    {3, 18, {9}},
    {4, 21, {10}},
    {5, 26, {11, 12, 13}},
};

// A page allocator for the skeleton, whose pages are all laid out in advance.
class NoAllocator : public PageAllocator {
 public:
  Result<uint32_t> Allocate() override { return InternalError("the skeleton of a new database needs no extra pages"); }
  void Free(uint32_t /*page*/) override {}
};

}  // namespace

std::vector<TableDefinition> SystemTableDefinitions() {
  using T = ColumnType;
  std::vector<TableDefinition> tables(4);
  tables[0].name = "MSysObjects";
  tables[0].columns = {
      Fixed("Id", T::kLong, 0, 0, 4),
      Fixed("ParentId", T::kLong, 1, 4, 4),
      Variable("Name", T::kText, 2, 0, 510),
      Fixed("Type", T::kInteger, 3, 8, 2),
      Fixed("DateCreate", T::kDateTime, 4, 10, 8),
      Fixed("DateUpdate", T::kDateTime, 5, 18, 8),
      Variable("Owner", T::kBinary, 6, 1, 510, kSystemOwnerColumn),
      Fixed("Flags", T::kLong, 7, 26, 4),
      Variable("Database", T::kMemo, 8, 2),
      Variable("Connect", T::kMemo, 9, 3),
      Variable("ForeignName", T::kText, 10, 4, 510),
      Variable("RmtInfoShort", T::kBinary, 11, 5, 510),
      Variable("RmtInfoLong", T::kOle, 12, 6),
      Variable("Lv", T::kOle, 13, 7),
      Variable("LvProp", T::kOle, 14, 8),
      Variable("LvModule", T::kOle, 15, 9),
      Variable("LvExtra", T::kOle, 16, 10),
  };
  tables[1].name = "MSysACEs";
  tables[1].columns = {
      Fixed("ObjectId", T::kLong, 0, 0, 4),
      Variable("SID", T::kBinary, 1, 0, 510, kSystemOwnerColumn),
      Fixed("ACM", T::kLong, 2, 4, 4),
      Fixed("FInheritable", T::kBoolean, 3, 0, 1),
  };
  tables[2].name = "MSysQueries";
  tables[2].columns = {
      Fixed("ObjectId", T::kLong, 0, 0, 4),     Fixed("Attribute", T::kByte, 1, 4, 1),
      Variable("Order", T::kBinary, 2, 0, 510), Variable("Name1", T::kText, 3, 1, 510),
      Variable("Name2", T::kText, 4, 2, 510),   Variable("Expression", T::kMemo, 5, 3),
      Fixed("Flag", T::kInteger, 6, 5, 2),      Fixed("LvExtra", T::kLong, 7, 7, 4),
  };
  tables[3].name = "MSysRelationships";
  tables[3].columns = {
      Variable("szRelationship", T::kText, 0, 0, 510),
      Fixed("grbit", T::kLong, 1, 0, 4),
      Fixed("ccolumn", T::kLong, 2, 4, 4),
      Fixed("icolumn", T::kLong, 3, 8, 4),
      Variable("szObject", T::kText, 4, 1, 510),
      Variable("szColumn", T::kText, 5, 2, 510),
      Variable("szReferencedObject", T::kText, 6, 3, 510),
      Variable("szReferencedColumn", T::kText, 7, 4, 510),
  };
  for (size_t t = 0; t < tables.size(); ++t) {
    TableDefinition& table = tables[t];
    const SkeletonLayout& layout = kLayout[t];
    table.system = true;
    table.tdef_page = layout.tdef_page;
    uint32_t row = layout.first_map_row;
    table.owned_pages_map = MapRow(row++);
    table.free_pages_map = MapRow(row++);
    for (const ColumnDefinition& c : table.columns) {
      if (!IsLongValueType(c.type)) continue;
      LongValueMaps maps;
      maps.column_number = c.number;
      maps.owned_pages_map = MapRow(row++);
      maps.free_pages_map = MapRow(row++);
      table.long_value_maps.push_back(maps);
    }
    table.max_column_count = static_cast<uint16_t>(table.columns.size());
  }
  return tables;
}

std::vector<SystemIndexes> SystemTableIndexes() {
  auto real = [](std::vector<uint16_t> columns, uint8_t flags, uint32_t map_row, uint32_t root) {
    RealIndexEntry r;
    for (uint16_t c : columns) r.columns.push_back({c, true});
    r.flags = flags;
    r.usage_map = MapRow(map_row);
    r.root_page = root;
    return r;
  };
  std::vector<SystemIndexes> indexes(4);
  indexes[0].real = {real({1, 2}, 0x81, 16, 7), real({0}, 0x81, 17, 8)};
  indexes[0].logical = {{"ParentIdName", 0, 0, 0}, {"Id", 1, 1, 0x01}};
  indexes[1].real = {real({0}, 0x88, 20, 9)};
  indexes[1].logical = {{"ObjectId", 0, 0, 0}};
  indexes[2].real = {real({0, 1, 2}, 0x81, 25, 10)};
  indexes[2].logical = {{"ObjectIdAttribute", 0, 0, 0x01}};
  indexes[3].real = {real({0}, 0x82, 28, 11), real({4}, 0x82, 29, 12), real({6}, 0x82, 30, 13)};
  indexes[3].logical = {{"szRelationship", 0, 0, 0}, {"szObject", 1, 1, 0}, {"szReferencedObject", 2, 2, 0}};
  return indexes;
}

Status WriteSkeletonPages(Pager& pager, const CreationIdentity& identity) {
  if (pager.page_count() != 0) return InternalError("the skeleton needs an empty file");
  for (uint32_t i = 0; i < kSkeletonPages; ++i) RETURN_IF_ERROR(pager.AppendPage().status());

  ASSIGN_OR_RETURN(uint8_t * header, pager.MutablePage(0));
  BuildHeaderPage(header, identity);

  // Page 1: the global page map (row 0) and the second, always empty, map row. Pages from
  // the end of the skeleton on are marked free; the commit rewrites it for the final size.
  ASSIGN_OR_RETURN(uint8_t * global, pager.MutablePage(1));
  InitDataPage(global, 1);
  uint8_t map_row[kMapRowSize] = {};
  for (uint32_t p = kSkeletonPages; p < kInlineMapPages; ++p) {
    map_row[5 + p / 8] = static_cast<uint8_t>(map_row[5 + p / 8] | (1u << (p % 8)));
  }
  AddRowToPage(global, map_row, kMapRowSize);
  std::memset(map_row, 0, kMapRowSize);
  AddRowToPage(global, map_row, kMapRowSize);

  ASSIGN_OR_RETURN(uint8_t * maps, pager.MutablePage(kMapPage));
  InitDataPage(maps, 0);
  for (int i = 0; i < 31; ++i) AddRowToPage(maps, map_row, kMapRowSize);

  NoAllocator no_allocator;
  const std::vector<TableDefinition> tables = SystemTableDefinitions();
  const std::vector<SystemIndexes> indexes = SystemTableIndexes();
  for (size_t t = 0; t < tables.size(); ++t) {
    DefinitionContent content;
    content.table = &tables[t];
    content.real_indexes = indexes[t].real;
    content.logical_indexes = indexes[t].logical;
    ASSIGN_OR_RETURN(std::vector<uint8_t> definition, EncodeTableDefinition(content));
    std::vector<uint32_t> pages = {tables[t].tdef_page};
    RETURN_IF_ERROR(WriteTableDefinitionPages(pager, no_allocator, definition, pages));
    for (const RealIndexEntry& r : indexes[t].real) {
      std::vector<uint32_t> index_pages;
      RETURN_IF_ERROR(WriteIndexTree(pager, no_allocator, tables[t].tdef_page, r.root_page, {}, index_pages));
      std::vector<uint32_t> bitmap_pages;
      RETURN_IF_ERROR(StoreUsageMap(pager, no_allocator, r.usage_map, {r.root_page}, bitmap_pages));
    }
  }
  return Status::Ok();
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

}  // namespace tabulon::jet
