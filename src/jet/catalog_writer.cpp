#include "jet/catalog_writer.h"

#include <algorithm>
#include <set>

#include "base/bytes.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/index_key.h"

namespace tabulon::jet {

int32_t NextSyntheticObjectId(const std::vector<CatalogEntry>& objects) {
  int64_t next = INT32_MIN;
  for (const CatalogEntry& e : objects) {
    if (e.id < 0) next = std::max<int64_t>(next, int64_t{e.id} + 1);
  }
  return static_cast<int32_t>(std::min<int64_t>(next, -1));
}

Status RebuildSystemTableIndexes(CatalogWriter& writer, std::string_view table) {
  ASSIGN_OR_RETURN(const TableDefinition* def, writer.Table(table));
  std::vector<std::pair<RowPointer, Row>> rows;
  RETURN_IF_ERROR(writer.ScanRows(table, [&](RowPointer where, const Row& row) {
    rows.emplace_back(where, row);
    return Status::Ok();
  }));
  std::set<uint32_t> done;
  for (const IndexDefinition& index : def->indexes) {
    if (index.index_type == 0x02 || !done.insert(index.real_number).second) continue;
    std::vector<std::string> entries;
    entries.reserve(rows.size());
    for (const auto& [where, row] : rows) {
      std::string entry;
      for (const IndexColumn& ic : index.columns) {
        auto column = std::find_if(def->columns.begin(), def->columns.end(),
                                   [&](const auto& c) { return c.number == ic.column_number; });
        if (column == def->columns.end()) {
          return CorruptError("index '" + index.name + "' of '" + def->name + "' names a missing column");
        }
        const size_t at = static_cast<size_t>(column - def->columns.begin());
        RETURN_IF_ERROR(AppendColumnKey(*column, row[at], ic.ascending, entry)
                            .WithContext("index '" + index.name + "' of '" + def->name + "'"));
      }
      AppendEntryRowPointer(where, entry);
      entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end());
    uint32_t distinct = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const std::string_view key(entries[i].data(), entries[i].size() - 4);
      if (i > 0 && key == std::string_view(entries[i - 1].data(), entries[i - 1].size() - 4)) {
        if ((index.flags & 0x01) != 0) {
          return AlreadyExistsError("index '" + index.name + "' of '" + def->name + "' would hold a duplicate key");
        }
        continue;
      }
      ++distinct;
    }
    ASSIGN_OR_RETURN(format::UsageMap map, format::ReadUsageMap(writer.pager(), index.usage_map));
    std::vector<uint32_t> pages;
    for (uint32_t p : map.pages) {
      if (p != index.root_page) pages.push_back(p);
    }
    RETURN_IF_ERROR(
        WriteIndexTree(writer.pager(), writer.allocator(), def->tdef_page, index.root_page, entries, pages));
    pages.push_back(index.root_page);
    std::sort(pages.begin(), pages.end());
    RETURN_IF_ERROR(StoreUsageMap(writer.pager(), writer.allocator(), index.usage_map, pages, map.bitmap_pages));
    ASSIGN_OR_RETURN(uint8_t * tdef, writer.pager().MutablePage(def->tdef_page));
    WriteU32(tdef + format::kTdefHeaderSize + format::kTdefRealIndexBlockSize * index.real_number + 4, distinct);
  }
  return Status::Ok();
}

}  // namespace tabulon::jet
