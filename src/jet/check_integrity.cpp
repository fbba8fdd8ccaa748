// Walks every structure of an open database and reports the first problem found: page types
// and owners, row bounds, row counts, long-value chains, usage maps against the global page
// map, the entries of every index whose keys this engine can encode, and every relationship
// (its tables, columns, foreign-key index pair and, when enforced, a parent for every row).
#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "base/bytes.h"
#include "jet/database.h"
#include "jet/format/data_page.h"
#include "jet/format/index_page.h"
#include "jet/format/long_value.h"
#include "jet/format/properties.h"
#include "jet/format/usage_map.h"
#include "base/text.h"
#include "jet/index_key.h"
#include "jet/values.h"

namespace tabulon::jet {
namespace {

using format::PageAt;

std::string Pages(const std::vector<uint32_t>& pages) {
  std::string out;
  for (size_t i = 0; i < pages.size() && i < 8; ++i) out += (i ? ", " : "") + std::to_string(pages[i]);
  if (pages.size() > 8) out += ", ...";
  return out;
}

// One physical index of a table and the entries its rows call for.
struct IndexCheck {
  const IndexDefinition* index = nullptr;
  bool encodable = true;  // false when some key has a type or character without an encoding
  std::vector<std::string> expected;  // key + row pointer, as stored in leaf entries
  std::set<std::string> null_keys;    // keys with a Null column: exempt from uniqueness
};

class Checker {
 public:
  Checker(Database& db, Pager& pager) : db_(db), pager_(pager), claims_(pager.page_count()) {}

  Status Run() {
    RETURN_IF_ERROR(Claim(0, "the database header"));
    RETURN_IF_ERROR(Claim(1, "the global page map"));
    auto global = format::ReadUsageMap(pager_, MakeRowPointer(1, 0));
    if (!global.ok()) return global.status().WithContext("global page map");
    ASSIGN_OR_RETURN(std::vector<CatalogEntry> objects, db_.ListObjects());
    ASSIGN_OR_RETURN(const TableDefinition catalog, db_.ReadTableDefinition(2, "MSysObjects"));
    for (const CatalogEntry& object : objects) {
      Status s = CheckProperties(catalog, object);
      if (!s.ok()) return s.WithContext("catalog object '" + object.name + "'");
      if (!object.is_table()) continue;
      s = CheckTable(object);
      if (!s.ok()) return s.WithContext("table '" + object.name + "'");
    }
    RETURN_IF_ERROR(CheckRelationships(objects));
    // Every page a structure uses must be marked in use (bit clear) where the map covers it.
    for (uint32_t page : global->pages) {
      if (!claims_[page].empty()) {
        return CorruptError(PageAt(page, 0) + "in use by " + claims_[page] +
                            " but marked free in the global page map");
      }
    }
    return Status::Ok();
  }

 private:
  Status Claim(uint32_t page, const std::string& who) {
    if (page >= claims_.size()) {
      return CorruptError("page " + std::to_string(page) + " (used by " + who +
                          ") is beyond the end of the file");
    }
    if (!claims_[page].empty() && claims_[page] != who) {
      return CorruptError(PageAt(page, 0) + "used by both " + claims_[page] + " and " + who);
    }
    claims_[page] = who;
    return Status::Ok();
  }

  // Reads a usage map and claims the page holding its row.
  Result<format::UsageMap> Map(uint32_t pointer, const std::string& what) {
    if (pointer == 0) return format::UsageMap{};  // no map (Access system tables)
    RETURN_IF_ERROR(Claim(RowPointerPage(pointer), "usage maps"));
    auto map = format::ReadUsageMap(pager_, pointer);
    if (!map.ok()) return map.status().WithContext(what);
    for (uint32_t bitmap : map->bitmap_pages) {
      if (bitmap != 0) RETURN_IF_ERROR(Claim(bitmap, "usage bitmaps"));
    }
    return map;
  }

  // The object's property blob, when it has one, must decode.
  Status CheckProperties(const TableDefinition& catalog, const CatalogEntry& object) {
    auto column = std::find_if(catalog.columns.begin(), catalog.columns.end(),
                               [](const ColumnDefinition& c) { return c.name == "LvProp"; });
    if (column == catalog.columns.end()) return Status::Ok();
    ASSIGN_OR_RETURN(Row row, db_.ReadRow(catalog, object.row));
    const auto* blob = std::get_if<Bytes>(&row[static_cast<size_t>(column - catalog.columns.begin())]);
    if (blob == nullptr) return Status::Ok();
    auto maps = format::DecodePropertyBlob(blob->data);
    return maps.ok() ? Status::Ok()
                     : maps.status().WithContext("catalog row at page " +
                                                 std::to_string(RowPointerPage(object.row)) + " row " +
                                                 std::to_string(RowPointerRow(object.row)));
  }

  Status CheckTable(const CatalogEntry& object) {
    ASSIGN_OR_RETURN(TableDefinition table, db_.ReadTableDefinition(object.tdef_page(), object.name));
    const std::string label = "table '" + table.name + "'";
    for (uint32_t page : table.definition_pages) {
      RETURN_IF_ERROR(Claim(page, "the definition of " + label));
    }

    // Data pages: type, owner and row table (Parse checks the offsets).
    ASSIGN_OR_RETURN(format::UsageMap owned, Map(table.owned_pages_map, "owned-pages map"));
    std::set<uint32_t> data_pages(owned.pages.begin(), owned.pages.end());
    for (uint32_t page : owned.pages) {
      ASSIGN_OR_RETURN(const uint8_t* raw, pager_.ReadPage(page));
      ASSIGN_OR_RETURN(format::DataPageView view, format::DataPageView::Parse(raw, page));
      if (view.owner() != table.tdef_page) {
        return CorruptError(PageAt(page, format::kDataPageOwnerOffset) + "data page of " + label +
                            " names owner " + std::to_string(view.owner()));
      }
      RETURN_IF_ERROR(Claim(page, "the rows of " + label));
    }
    ASSIGN_OR_RETURN(format::UsageMap free_map, Map(table.free_pages_map, "free-space map"));
    for (uint32_t page : free_map.pages) {
      if (!data_pages.count(page)) {
        return CorruptError("free-space map of " + label + " lists page " +
                            std::to_string(page) + ", which is not one of its data pages");
      }
    }

    // Long-value columns: their pages, then every value's chain.
    std::unordered_map<uint16_t, std::set<uint32_t>> long_value_pages;
    for (const LongValueMaps& maps : table.long_value_maps) {
      const std::string what = "long-value map of column " + std::to_string(maps.column_number);
      ASSIGN_OR_RETURN(format::UsageMap lv_owned, Map(maps.owned_pages_map, what));
      ASSIGN_OR_RETURN(format::UsageMap lv_free, Map(maps.free_pages_map, what));
      long_value_pages[maps.column_number].insert(lv_owned.pages.begin(), lv_owned.pages.end());
    }
    uint32_t rows = 0;
    std::vector<format::LongValueChunk> chunks;
    std::string data;
    // Each physical index once; the rows' keys are collected during the scan.
    std::vector<IndexCheck> indexes;
    std::set<uint32_t> seen_real;
    for (const IndexDefinition& index : table.indexes) {
      if (seen_real.insert(index.real_number).second) indexes.push_back({&index, true, {}, {}});
    }
    std::string key;
    ScanOptions raw;
    raw.read_long_values = false;
    auto visit = [&](RowPointer where, const Row& row) -> Status {
          ++rows;
          for (size_t i = 0; i < table.columns.size(); ++i) {
            const ColumnDefinition& column = table.columns[i];
            const auto* field = std::get_if<Bytes>(&row[i]);
            if (!IsLongValueType(column.type) || field == nullptr) continue;
            chunks.clear();
            Status s = format::ReadLongValueData(
                pager_, reinterpret_cast<const uint8_t*>(field->data.data()), field->data.size(),
                data, &chunks);
            if (!s.ok()) {
              return s.WithContext("column '" + column.name + "' of the row at page " +
                                   std::to_string(RowPointerPage(where)) + " row " +
                                   std::to_string(RowPointerRow(where)));
            }
            for (const auto& chunk : chunks) {
              RETURN_IF_ERROR(CheckLongValuePage(table, column, RowPointerPage(chunk.row_pointer),
                                                 long_value_pages));
            }
          }
          for (IndexCheck& check : indexes) {
            if (!check.encodable) continue;
            bool all_null = false;
            bool has_null = false;
            if (!BuildKey(table, *check.index, row, key, all_null, has_null)) {
              check.encodable = false;
              check.expected.clear();
              continue;
            }
            if (all_null && (check.index->flags & 0x02)) continue;  // ignore-nulls index
            if (has_null) check.null_keys.insert(key);
            AppendEntryRowPointer(where, key);
            check.expected.push_back(key);
          }
          return Status::Ok();
    };
    RETURN_IF_ERROR(db_.ScanRows(table, visit, raw));
    // Access leaves stale counts on its own system tables (MSysQueries in particular), so
    // only user tables must agree.
    if (rows != table.row_count && !table.system) {
      return CorruptError(PageAt(table.tdef_page, 0x10) + "the definition of " + label +
                          " counts " + std::to_string(table.row_count) + " rows, its pages hold " +
                          std::to_string(rows));
    }

    for (IndexCheck& check : indexes) {
      Status s = CheckIndex(table, check);
      if (!s.ok()) return s.WithContext("index '" + check.index->name + "'");
    }
    return Status::Ok();
  }

  Status CheckLongValuePage(const TableDefinition& table, const ColumnDefinition& column,
                            uint32_t page,
                            const std::unordered_map<uint16_t, std::set<uint32_t>>& maps) {
    ASSIGN_OR_RETURN(const uint8_t* raw, pager_.ReadPage(page));
    if (ReadU32(raw + format::kDataPageOwnerOffset) != format::kLongValuePageOwner) {
      return CorruptError(PageAt(page, format::kDataPageOwnerOffset) + "long value of column '" +
                          column.name + "' lives on a page not marked LVAL");
    }
    auto it = maps.find(column.number);
    if (it != maps.end() && !it->second.empty() && !it->second.count(page)) {
      return CorruptError(PageAt(page, 0) + "long-value page of column '" + column.name +
                          "' is missing from the column's usage map");
    }
    return Claim(page, "the long values of table '" + table.name + "'");
  }

  // Builds the key of `row` for `index`; false when a column type or character has no
  // encoding here (the index is then checked for structure only).
  static bool BuildKey(const TableDefinition& table, const IndexDefinition& index, const Row& row,
                       std::string& key, bool& all_null, bool& has_null) {
    key.clear();
    all_null = true;
    has_null = false;
    for (const IndexColumn& ic : index.columns) {
      auto column = std::find_if(table.columns.begin(), table.columns.end(),
                                 [&](const ColumnDefinition& c) { return c.number == ic.column_number; });
      if (column == table.columns.end()) return false;
      // Memo values are not read by this scan (and Jet keys only their first 255 characters).
      if (column->type == ColumnType::kMemo) return false;
      const Value& value = row[static_cast<size_t>(column - table.columns.begin())];
      if (!std::holds_alternative<Null>(value) || column->type == ColumnType::kBoolean) {
        all_null = false;
      } else {
        has_null = true;
      }
      if (!AppendColumnKey(*column, value, ic.ascending, key).ok()) return false;
    }
    return true;
  }

  Status CheckIndex(const TableDefinition& table, IndexCheck& check) {
    const IndexDefinition& index = *check.index;
    ASSIGN_OR_RETURN(format::UsageMap map, Map(index.usage_map, "usage map"));
    const std::set<uint32_t> mapped(map.pages.begin(), map.pages.end());
    std::vector<uint32_t> tree_pages;
    ASSIGN_OR_RETURN(std::vector<format::IndexEntry> entries,
                     format::ReadIndexEntries(pager_, index.root_page, &tree_pages));
    for (uint32_t page : tree_pages) {
      if (!mapped.count(page)) {
        return CorruptError(PageAt(page, 0) + "index page is missing from the index's usage map (" +
                            Pages(map.pages) + ")");
      }
      ASSIGN_OR_RETURN(const uint8_t* raw, pager_.ReadPage(page));
      if (ReadU32(raw + 4) != table.tdef_page) {
        return CorruptError(PageAt(page, 4) + "index page names owner " +
                            std::to_string(ReadU32(raw + 4)));
      }
      RETURN_IF_ERROR(Claim(page, "the indexes of table '" + table.name + "'"));
    }
    // Stored entries as key + row pointer, the form the expected ones were built in; the tree
    // must hold them in strictly increasing order.
    std::vector<std::string> actual;
    actual.reserve(entries.size());
    for (auto& e : entries) {
      AppendEntryRowPointer(e.row_pointer, e.key);
      if (!actual.empty() && actual.back() >= e.key) {
        return CorruptError("index entries out of order at entry " +
                            std::to_string(actual.size()) + " (row pointer page " +
                            std::to_string(RowPointerPage(e.row_pointer)) + " row " +
                            std::to_string(RowPointerRow(e.row_pointer)) + ")");
      }
      actual.push_back(std::move(e.key));
    }
    if (!check.encodable) return Status::Ok();  // keys this engine cannot build
    std::sort(check.expected.begin(), check.expected.end());
    auto describe = [](const std::string& entry) {
      const auto* tail = reinterpret_cast<const uint8_t*>(entry.data()) + entry.size() - 4;
      return "page " + std::to_string((uint32_t{tail[0]} << 16) | (tail[1] << 8) | tail[2]) +
             " row " + std::to_string(tail[3]);
    };
    auto a = actual.begin();
    for (const std::string& want : check.expected) {
      if (a == actual.end() || *a > want) {
        return CorruptError("no index entry for the row at " + describe(want));
      }
      if (*a < want) {
        return CorruptError("index entry for " + describe(*a) + " matches no row with that key");
      }
      ++a;
    }
    if (a != actual.end()) {
      return CorruptError("index entry for " + describe(*a) + " matches no row with that key");
    }
    if ((index.flags & 0x01) != 0 && check.encodable) {
      // A unique index holds each key once, unless a key column is Null.
      for (size_t i = 1; i < actual.size(); ++i) {
        const std::string_view k(actual[i].data(), actual[i].size() - 4);
        if (k == std::string_view(actual[i - 1].data(), actual[i - 1].size() - 4) &&
            check.null_keys.count(std::string(k)) == 0) {
          return CorruptError("unique index holds the key of the rows at " +
                              describe(actual[i - 1]) + " and " + describe(actual[i]) + " twice");
        }
      }
    }
    return Status::Ok();
  }

  static const IndexDefinition* LogicalNumbered(const TableDefinition& table, uint32_t number) {
    for (const IndexDefinition& index : table.indexes) {
      if (index.logical_number == number) return &index;
    }
    return nullptr;
  }

  // Foreign-key indexes come in pairs naming each other; every relationship names existing
  // tables and columns, an enforced one has its index pair and no row without a parent.
  Status CheckRelationships(const std::vector<CatalogEntry>& objects) {
    std::map<uint32_t, TableDefinition> tables;  // by definition page
    bool have_relationships = false;
    for (const CatalogEntry& object : objects) {
      if (!object.is_table()) continue;
      ASSIGN_OR_RETURN(tables[object.tdef_page()],
                       db_.ReadTableDefinition(object.tdef_page(), object.name));
      have_relationships |= object.name == "MSysRelationships";
    }
    for (const auto& [page, table] : tables) {
      for (const IndexDefinition& index : table.indexes) {
        if (index.index_type != 0x02) continue;
        const std::string label = "foreign-key index '" + index.name + "' of table '" + table.name + "'";
        auto other = tables.find(index.fk_other_table_page);
        if (other == tables.end()) {
          return CorruptError(label + " names table page " + std::to_string(index.fk_other_table_page) +
                              ", which holds no table");
        }
        const IndexDefinition* partner = LogicalNumbered(other->second, index.fk_other_index);
        if (!partner || partner->index_type != 0x02 || partner->fk_side == index.fk_side ||
            partner->fk_other_table_page != page || partner->fk_other_index != index.logical_number ||
            (index.fk_side != 1 && index.fk_side != 2)) {
          return CorruptError(label + " has no partner index " + std::to_string(index.fk_other_index) +
                              " naming it back in table '" + other->second.name + "'");
        }
      }
    }
    if (!have_relationships) return Status::Ok();
    ASSIGN_OR_RETURN(std::vector<Relationship> relationships, db_.ListRelationships());
    for (const Relationship& r : relationships) {
      Status s = CheckRelationship(r, tables);
      if (!s.ok()) return s.WithContext("relationship '" + r.name + "'");
    }
    return Status::Ok();
  }

  Status CheckRelationship(const Relationship& r, const std::map<uint32_t, TableDefinition>& tables) {
    auto find_table = [&](const std::string& name) -> const TableDefinition* {
      for (const auto& [page, table] : tables) {
        if (EqualsIgnoreAsciiCase(table.name, name)) return &table;
      }
      return nullptr;
    };
    const TableDefinition* primary = find_table(r.primary_table);
    const TableDefinition* foreign = find_table(r.foreign_table);
    if (!primary || !foreign) {
      return CorruptError("names table '" + (primary ? r.foreign_table : r.primary_table) +
                          "', which does not exist");
    }
    if (r.primary_columns.empty() || r.primary_columns.size() != r.foreign_columns.size()) {
      return CorruptError("has " + std::to_string(r.primary_columns.size()) + " referenced and " +
                          std::to_string(r.foreign_columns.size()) + " referencing columns");
    }
    std::vector<size_t> primary_at, foreign_at;
    auto column_at = [](const TableDefinition& table, const std::string& name,
                        std::vector<size_t>& at) -> Status {
      for (size_t i = 0; i < table.columns.size(); ++i) {
        if (EqualsIgnoreAsciiCase(table.columns[i].name, name)) {
          at.push_back(i);
          return Status::Ok();
        }
      }
      return CorruptError("names column '" + name + "', which table '" + table.name + "' lacks");
    };
    for (size_t i = 0; i < r.primary_columns.size(); ++i) {
      RETURN_IF_ERROR(column_at(*primary, r.primary_columns[i], primary_at));
      RETURN_IF_ERROR(column_at(*foreign, r.foreign_columns[i], foreign_at));
    }
    if (!r.enforced) return Status::Ok();

    // The referencing table's index over the foreign-key columns, paired (checked above)
    // with one over the referenced columns.
    auto same_columns = [](const TableDefinition& table, const IndexDefinition& index,
                           const std::vector<size_t>& at) {
      if (index.columns.size() != at.size()) return false;
      for (size_t i = 0; i < at.size(); ++i) {
        if (index.columns[i].column_number != table.columns[at[i]].number) return false;
      }
      return true;
    };
    bool paired = false;
    for (const IndexDefinition& index : foreign->indexes) {
      if (index.index_type != 0x02 || index.fk_side != 2 ||
          index.fk_other_table_page != primary->tdef_page || !same_columns(*foreign, index, foreign_at)) {
        continue;
      }
      const IndexDefinition* partner = LogicalNumbered(*primary, index.fk_other_index);
      paired |= partner && same_columns(*primary, *partner, primary_at);
    }
    if (!paired) {
      return CorruptError("is enforced but table '" + foreign->name +
                          "' has no foreign-key index over its columns paired with one of '" +
                          primary->name + "'");
    }

    // Every referencing row with no Null in its key has a parent. Keys compare as the indexes
    // do (text by its sort key); a text without one compares by its characters.
    auto key_of = [&](const Row& row, const std::vector<size_t>& at) -> std::optional<std::string> {
      std::string key;
      for (size_t i = 0; i < at.size(); ++i) {
        const Value& v = row[at[i]];
        if (std::holds_alternative<Null>(v)) return std::nullopt;
        if (!AppendColumnKey(primary->columns[primary_at[i]], v, true, key).ok()) {
          key += '\xff' + FormatValue(v).value_or("") + '\0';
        }
      }
      return key;
    };
    std::unordered_set<std::string> parents;
    RETURN_IF_ERROR(db_.ScanRows(*primary, [&](RowPointer, const Row& row) {
      if (auto key = key_of(row, primary_at)) parents.insert(std::move(*key));
      return Status::Ok();
    }));
    return db_.ScanRows(*foreign, [&](RowPointer where, const Row& row) -> Status {
      auto key = key_of(row, foreign_at);
      if (!key || parents.count(*key)) return Status::Ok();
      std::string values;
      for (size_t i = 0; i < foreign_at.size(); ++i) {
        values += (i ? ", " : "") + foreign->columns[foreign_at[i]].name + "='" +
                  FormatValue(row[foreign_at[i]]).value_or("") + "'";
      }
      return CorruptError("the row of '" + foreign->name + "' at page " +
                          std::to_string(RowPointerPage(where)) + " row " +
                          std::to_string(RowPointerRow(where)) + " refers to (" + values +
                          "), which no row of '" + primary->name + "' has");
    });
  }

  Database& db_;
  Pager& pager_;
  std::vector<std::string> claims_;  // what uses each page; empty when nothing found yet
};

}  // namespace

Status Database::CheckIntegrity() { return Checker(*this, *pager_).Run(); }

}  // namespace tabulon::jet
