// mdbdump FILE.mdb [PAGE...]
// Without pages: one line per page with its type and owner. With pages: every field of each.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "jet/database.h"
#include "jet/format/data_page.h"
#include "jet/format/index_page.h"
#include "jet/format/long_value.h"
#include "jet/format/page0.h"
#include "jet/format/row.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/values.h"

namespace {

using namespace tabulon;
using namespace tabulon::jet;

std::string Hex(const uint8_t* p, size_t n, size_t limit = 48) {
  std::string out = FormatHex(std::string_view(reinterpret_cast<const char*>(p), std::min(n, limit)));
  if (n > limit) out += "...";
  return out;
}

std::string Pointer(uint32_t pointer) {
  return "page " + std::to_string(pointer >> 8) + " row " + std::to_string(pointer & 0xFF);
}

std::string PageList(const std::vector<uint32_t>& pages) {
  std::string out;
  for (size_t i = 0; i < pages.size(); ++i) {
    // Collapse runs: 5-9 instead of 5,6,7,8,9.
    size_t j = i;
    while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
    if (!out.empty()) out += ",";
    out += std::to_string(pages[i]);
    if (j > i) out += "-" + std::to_string(pages[j]);
    i = j;
  }
  return out.empty() ? "(none)" : out;
}

// Table names by definition page, for owner fields.
std::map<uint32_t, std::string> TableNames(Database& db) {
  std::map<uint32_t, std::string> names;
  auto objects = db.ListObjects();
  if (!objects.ok()) return names;
  for (const CatalogEntry& e : *objects) {
    if (e.is_table()) names[e.tdef_page()] = e.name;
  }
  return names;
}

void DumpHeader(const uint8_t* page) {
  auto header = format::DecodeHeader(page);
  std::printf("page 0: database header\n");
  std::printf("  engine name      : %.15s\n", reinterpret_cast<const char*>(page + 4));
  std::printf("  version (0x14)   : %u\n", page[format::kHeaderVersionOffset]);
  if (!header.ok()) {
    std::printf("  error            : %s\n", header.status().ToString().c_str());
    return;
  }
  std::printf("  code page (0x3c) : %u\n", header->code_page);
  std::printf("  db key (0x3e)    : %u\n", header->database_key);
  std::printf("  sort order (0x6e): 0x%04x version %u\n", header->sort_order, header->sort_version);
  std::printf("  created (0x72)   : %s (%.10f)\n", FormatDateTime(header->creation_date).c_str(),
              header->creation_date);
  std::printf("  password         : %s\n", header->password.empty() ? "(none)" : "(set)");
}

void DumpUsageMapRow(Database& db, const uint8_t* row, uint32_t size, uint32_t where) {
  auto map = format::DecodeUsageMap(db.pager(), row, size, where);
  if (!map.ok()) {
    std::printf("      not a usage map: %s\n", map.status().ToString().c_str());
    return;
  }
  if (map->kind == format::kUsageMapInline) {
    std::printf("      usage map type 0 (inline), start page %u, %u bits, pages set: %s\n", map->start_page,
                map->inline_bits, PageList(map->pages).c_str());
  } else {
    std::printf("      usage map type 1 (reference), bitmap pages: %s; pages set: %s\n",
                PageList(map->bitmap_pages).c_str(), PageList(map->pages).c_str());
  }
}

void DumpDataPage(Database& db, uint32_t number, const uint8_t* page, const std::map<uint32_t, std::string>& tables) {
  auto view = format::DataPageView::Parse(page, number);
  if (!view.ok()) {
    std::printf("  error: %s\n", view.status().ToString().c_str());
    return;
  }
  const uint32_t owner = view->owner();
  const bool lval = owner == format::kLongValuePageOwner;
  std::string owner_text = lval         ? "LVAL (long values)"
                           : owner <= 1 ? std::to_string(owner) + " (usage maps)"
                                        : std::to_string(owner);
  if (auto it = tables.find(owner); it != tables.end()) owner_text += " (table " + it->second + ")";
  std::printf("page %u: data page\n  free space: %u\n  owner     : %s\n  rows      : %u\n", number, view->free_space(),
              owner_text.c_str(), view->row_count());
  std::optional<TableDefinition> table;
  if (!lval && owner > 1) {
    if (auto t = db.ReadTableDefinition(owner, tables.count(owner) ? tables.at(owner) : ""); t.ok()) {
      table = std::move(*t);
    }
  }
  for (uint16_t i = 0; i < view->row_count(); ++i) {
    const format::RowSlot slot = view->Row(i);
    std::printf("  row %u: offset 0x%03x size %u%s%s\n", i, slot.start, slot.size(), slot.deleted ? " DELETED" : "",
                slot.overflow ? " OVERFLOW" : "");
    if (slot.deleted && !lval) continue;
    if (!view->CheckBounds(slot, i).ok()) continue;
    const uint8_t* row = page + slot.start;
    if (slot.overflow && slot.size() >= 4) {
      std::printf("      moved to %s\n", Pointer(ReadU32(row)).c_str());
    } else if (owner <= 1) {
      DumpUsageMapRow(db, row, slot.size(), MakeRowPointer(number, static_cast<uint8_t>(i)));
    } else if (lval) {
      std::printf("      next chunk (if chained): %s; data: %s\n",
                  slot.size() >= 4 ? Pointer(ReadU32(row)).c_str() : "-", Hex(row, slot.size(), 24).c_str());
    } else if (table) {
      format::RowDecoder decoder(*table);
      Row values;
      Status s = decoder.Decode(row, slot.size(), MakeRowPointer(number, static_cast<uint8_t>(i)), nullptr, values);
      if (!s.ok()) {
        std::printf("      error: %s\n", s.ToString().c_str());
        continue;
      }
      for (size_t c = 0; c < values.size(); ++c) {
        const auto text = FormatValue(values[c]);
        std::string shown = text ? *text : "NULL";
        if (shown.size() > 60) shown = shown.substr(0, 60) + "...";
        std::printf("      %s = %s\n", table->columns[c].name.c_str(), shown.c_str());
      }
    } else {
      std::printf("      bytes: %s\n", Hex(row, slot.size()).c_str());
    }
  }
}

void DumpTableDefinition(Database& db, uint32_t number, const uint8_t* page) {
  std::printf("page %u: table definition\n  free space : %u\n  next page  : %u\n", number, ReadU16(page + 2),
              ReadU32(page + format::kTdefNextPageOffset));
  auto table = db.ReadTableDefinition(number);
  if (!table.ok()) {
    std::printf("  (not the first page of a definition: %s)\n", table.status().ToString().c_str());
    return;
  }
  const TableDefinition& t = *table;
  std::printf("  length     : %u bytes on pages %s\n", t.definition_length, PageList(t.definition_pages).c_str());
  std::printf("  rows       : %u\n  autonumber : %u\n  type       : %s\n", t.row_count, t.last_auto_number,
              t.system ? "system (0x53)" : "user (0x4e)");
  std::printf("  columns    : %zu (max number %u, variable %u)\n", t.columns.size(), t.max_column_count,
              t.variable_column_count);
  std::printf("  owned map  : %s\n  free map   : %s\n", Pointer(t.owned_pages_map).c_str(),
              Pointer(t.free_pages_map).c_str());
  for (const ColumnDefinition& c : t.columns) {
    std::printf("  column %3u %-24s %-9s len %3u flags 0x%02x ext 0x%02x %s %u", c.number, c.name.c_str(),
                ColumnTypeName(c.type), c.length, c.flags, c.extra_flags, c.fixed() ? "fixed@" : "var#",
                c.fixed() ? c.fixed_offset : c.variable_index);
    if (c.type == ColumnType::kNumeric) std::printf(" precision %u scale %u", c.precision, c.scale);
    std::printf("\n");
  }
  for (const IndexDefinition& i : t.indexes) {
    std::printf("  index %u '%s' real %u type %u flags 0x%02x root %u map %s unique keys %u cols", i.logical_number,
                i.name.c_str(), i.real_number, i.index_type, i.flags, i.root_page, Pointer(i.usage_map).c_str(),
                i.unique_entry_count);
    for (const IndexColumn& c : i.columns) std::printf(" %u%s", c.column_number, c.ascending ? "" : " desc");
    if (i.index_type == 2) {
      std::printf(" fk side %u other table %u other index %u", i.fk_side, i.fk_other_table_page, i.fk_other_index);
    }
    std::printf("\n");
  }
  for (const LongValueMaps& m : t.long_value_maps) {
    std::printf("  long values of column %u: owned %s, free %s\n", m.column_number, Pointer(m.owned_pages_map).c_str(),
                Pointer(m.free_pages_map).c_str());
  }
}

void DumpIndexPage(uint32_t number, const uint8_t* page) {
  auto index = format::DecodeIndexPage(page, number);
  if (!index.ok()) {
    std::printf("page %u: error: %s\n", number, index.status().ToString().c_str());
    return;
  }
  std::printf(
      "page %u: index %s page\n  free space: %u\n  owner     : %u\n  prev/next : %u / %u\n"
      "  tail      : %u\n  prefix    : %u\n  entries   : %zu\n",
      number, index->leaf() ? "leaf" : "node", index->free_space, index->owner, index->prev_page, index->next_page,
      index->tail_page, index->prefix_length, index->entries.size());
  for (const auto& e : index->entries) {
    std::printf("    key %s -> %s", Hex(reinterpret_cast<const uint8_t*>(e.key.data()), e.key.size()).c_str(),
                Pointer(e.row_pointer).c_str());
    if (!index->leaf()) std::printf(", child %u", e.child_page);
    std::printf("\n");
  }
}

void DumpBitmapPage(uint32_t number, const uint8_t* page) {
  size_t set = 0;
  for (uint32_t i = format::kUsageBitmapPageHeader; i < kPageSize; ++i) set += __builtin_popcount(page[i]);
  std::printf("page %u: usage bitmap page\n  bits set: %zu of %u\n", number, set, format::kPagesPerBitmapPage);
}

std::string Summary(const uint8_t* page, uint32_t number, const std::map<uint32_t, std::string>& tables) {
  const uint8_t type = page[0];
  std::string line = format::PageTypeName(type);
  if (number == 0) return "database header";
  auto owner_name = [&](uint32_t owner) {
    auto it = tables.find(owner);
    return std::to_string(owner) + (it != tables.end() ? " (" + it->second + ")" : "");
  };
  switch (type) {
    case format::kPageData: {
      const uint32_t owner = ReadU32(page + 4);
      if (owner == format::kLongValuePageOwner) return "long values, " + std::to_string(ReadU16(page + 12)) + " rows";
      if (owner <= 1) return "usage maps, " + std::to_string(ReadU16(page + 12)) + " rows";
      return "data, owner " + owner_name(owner) + ", " + std::to_string(ReadU16(page + 12)) + " rows";
    }
    case format::kPageTableDef: {
      auto it = tables.find(number);
      return it != tables.end() ? "table definition of " + it->second : "table definition (continuation)";
    }
    case format::kPageIndexNode:
    case format::kPageIndexLeaf: return line + ", owner " + owner_name(ReadU32(page + 4));
    default: return line + " (type " + std::to_string(type) + ")";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mdbdump FILE.mdb [PAGE...]\n");
    return 2;
  }
  auto db = Database::Open(argv[1], OpenMode::kReadOnly);
  if (!db.ok()) {
    std::fprintf(stderr, "mdbdump: %s\n", db.status().ToString().c_str());
    return 1;
  }
  Pager& pager = (*db)->pager();
  const auto tables = TableNames(**db);
  std::vector<uint32_t> pages;
  for (int i = 2; i < argc; ++i) {
    char* end = nullptr;
    const unsigned long page = std::strtoul(argv[i], &end, 0);
    if (*end != '\0' || page >= pager.page_count()) {
      std::fprintf(stderr, "mdbdump: '%s' is not a page of this file (0 to %u)\n", argv[i], pager.page_count() - 1);
      return 2;
    }
    pages.push_back(static_cast<uint32_t>(page));
  }
  if (pages.empty()) {
    std::printf("%s: %u pages\n", argv[1], pager.page_count());
    for (uint32_t p = 0; p < pager.page_count(); ++p) {
      auto page = pager.ReadPage(p);
      if (!page.ok()) {
        std::printf("%6u: error: %s\n", p, page.status().ToString().c_str());
        continue;
      }
      std::printf("%6u: %s\n", p, Summary(*page, p, tables).c_str());
    }
    return 0;
  }
  for (uint32_t p : pages) {
    auto read = pager.ReadPage(p);
    if (!read.ok()) {
      std::printf("page %u: error: %s\n", p, read.status().ToString().c_str());
      continue;
    }
    // Keep a copy: decoding may read other pages through the same cache.
    std::vector<uint8_t> page(*read, *read + kPageSize);
    if (p == 0) {
      DumpHeader(page.data());
    } else if (page[0] == format::kPageData) {
      DumpDataPage(**db, p, page.data(), tables);
    } else if (page[0] == format::kPageTableDef) {
      DumpTableDefinition(**db, p, page.data());
    } else if (page[0] == format::kPageIndexNode || page[0] == format::kPageIndexLeaf) {
      DumpIndexPage(p, page.data());
    } else if (page[0] == format::kPageUsageBitmap) {
      DumpBitmapPage(p, page.data());
    } else {
      std::printf("page %u: type %u (%s)\n  first bytes: %s\n", p, page[0], format::PageTypeName(page[0]),
                  Hex(page.data(), 32).c_str());
    }
    std::printf("\n");
  }
  return 0;
}
