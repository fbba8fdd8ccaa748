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
#include "jet/format/table_def.h"
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
  bool encodable = true;              // false when some key has a type or character without an encoding
  std::vector<std::string> expected;  // key + row pointer, as stored in leaf entries
  std::set<std::string> null_keys;    // keys with a Null column: exempt from uniqueness
};

// Problems beyond this many are counted, not described: a badly damaged file would
// otherwise list every page.
constexpr size_t kMaxProblems = 200;

class Checker {
 public:
  Checker(Database& db, Pager& pager) : db_(db), pager_(pager), claims_(pager.page_count()) {}

  // Every problem found; an error when not even the catalog can be read.
  Result<std::vector<Status>> Run() {
    Note(Claim(0, "the database header"));
    Note(Claim(1, "the global page map"));
    auto global = format::ReadUsageMap(pager_, MakeRowPointer(1, 0));
    if (!global.ok()) Note(global.status().WithContext("global page map"));
    ASSIGN_OR_RETURN(std::vector<CatalogEntry> objects, db_.ListObjects());
    ASSIGN_OR_RETURN(const TableDefinition catalog, db_.ReadTableDefinition(2, "MSysObjects"));
    for (const CatalogEntry& object : objects) {
      Status s = CheckProperties(catalog, object);
      if (!s.ok()) Note(s.WithContext("catalog object '" + object.name + "'"));
      if (!object.is_table()) continue;
      s = CheckTable(object);
      if (!s.ok()) Note(s.WithContext("table '" + object.name + "'"));
    }
    CheckRelationships(objects);
    // Every page a structure uses must be marked in use (bit clear) where the map covers it.
    if (global.ok()) {
      for (uint32_t page : global->pages) {
        if (page < claims_.size() && !claims_[page].empty()) {
          Note(
              CorruptError(PageAt(page, 0) + "in use by " + claims_[page] + " but marked free in the global page map"));
        }
      }
    }
    if (unlisted_ > 0) {
      problems_.push_back(CorruptError(std::to_string(unlisted_) + " more problems"));
    }
    return std::move(problems_);
  }

 private:
  void Note(Status status) {
    if (status.ok()) return;
    if (problems_.size() < kMaxProblems) {
      problems_.push_back(std::move(status));
    } else {
      ++unlisted_;
    }
  }

  Status Claim(uint32_t page, const std::string& who) {
    if (page >= claims_.size()) {
      return CorruptError("page " + std::to_string(page) + " (used by " + who + ") is beyond the end of the file");
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
                     : maps.status().WithContext("catalog row at page " + std::to_string(RowPointerPage(object.row)) +
                                                 " row " + std::to_string(RowPointerRow(object.row)));
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
        return CorruptError(PageAt(page, format::kDataPageOwnerOffset) + "data page of " + label + " names owner " +
                            std::to_string(view.owner()));
      }
      RETURN_IF_ERROR(Claim(page, "the rows of " + label));
    }
    ASSIGN_OR_RETURN(format::UsageMap free_map, Map(table.free_pages_map, "free-space map"));
    for (uint32_t page : free_map.pages) {
      if (!data_pages.count(page)) {
        return CorruptError("free-space map of " + label + " lists page " + std::to_string(page) +
                            ", which is not one of its data pages");
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
        Status s = format::ReadLongValueData(pager_, reinterpret_cast<const uint8_t*>(field->data.data()),
                                             field->data.size(), data, &chunks);
        if (!s.ok()) {
          return s.WithContext("column '" + column.name + "' of the row at page " +
                               std::to_string(RowPointerPage(where)) + " row " + std::to_string(RowPointerRow(where)));
        }
        for (const auto& chunk : chunks) {
          RETURN_IF_ERROR(CheckLongValuePage(table, column, RowPointerPage(chunk.row_pointer), long_value_pages));
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
      return CorruptError(PageAt(table.tdef_page, 0x10) + "the definition of " + label + " counts " +
                          std::to_string(table.row_count) + " rows, its pages hold " + std::to_string(rows));
    }

    for (IndexCheck& check : indexes) {
      Status s = CheckIndex(table, check);
      if (!s.ok()) return s.WithContext("index '" + check.index->name + "'");
    }
    return Status::Ok();
  }

  Status CheckLongValuePage(const TableDefinition& table, const ColumnDefinition& column, uint32_t page,
                            const std::unordered_map<uint16_t, std::set<uint32_t>>& maps) {
    ASSIGN_OR_RETURN(const uint8_t* raw, pager_.ReadPage(page));
    if (ReadU32(raw + format::kDataPageOwnerOffset) != format::kLongValuePageOwner) {
      return CorruptError(PageAt(page, format::kDataPageOwnerOffset) + "long value of column '" + column.name +
                          "' lives on a page not marked LVAL");
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
  static bool BuildKey(const TableDefinition& table, const IndexDefinition& index, const Row& row, std::string& key,
                       bool& all_null, bool& has_null) {
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
        return CorruptError(PageAt(page, 0) + "index page is missing from the index's usage map (" + Pages(map.pages) +
                            ")");
      }
      ASSIGN_OR_RETURN(const uint8_t* raw, pager_.ReadPage(page));
      if (ReadU32(raw + 4) != table.tdef_page) {
        return CorruptError(PageAt(page, 4) + "index page names owner " + std::to_string(ReadU32(raw + 4)));
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
        return CorruptError("index entries out of order at entry " + std::to_string(actual.size()) +
                            " (row pointer page " + std::to_string(RowPointerPage(e.row_pointer)) + " row " +
                            std::to_string(RowPointerRow(e.row_pointer)) + ")");
      }
      actual.push_back(std::move(e.key));
    }
    if (!check.encodable) return Status::Ok();  // keys this engine cannot build
    std::sort(check.expected.begin(), check.expected.end());
    auto describe = [](const std::string& entry) {
      const auto* tail = reinterpret_cast<const uint8_t*>(entry.data()) + entry.size() - 4;
      return "page " + std::to_string((uint32_t{tail[0]} << 16) | (tail[1] << 8) | tail[2]) + " row " +
             std::to_string(tail[3]);
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
          return CorruptError("unique index holds the key of the rows at " + describe(actual[i - 1]) + " and " +
                              describe(actual[i]) + " twice");
        }
      }
    }
    return Status::Ok();
  }

  // ---- Index definitions, foreign-key pairs and relationships ---------------------------------

  static const IndexDefinition* LogicalNumbered(const TableDefinition& table, uint32_t number) {
    for (const IndexDefinition& index : table.indexes) {
      if (index.logical_number == number) return &index;
    }
    return nullptr;
  }

  // Where a logical index's record lies, for messages: "(definition page P, offset O)".
  static std::string RecordAt(const TableDefinition& table, const IndexDefinition& index, uint32_t field) {
    const auto position = static_cast<uint32_t>(&index - table.indexes.data());
    const uint32_t offset = table.logical_index_offset + position * format::kTdefLogicalIndexSize + field;
    return " (definition page " + std::to_string(table.tdef_page) + ", offset 0x" + Hex(offset) + ")";
  }

  static std::string Names(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return "(" + out + ")";
  }

  static std::string Hex(uint32_t value) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    do {
      out.insert(out.begin(), digits[value & 0xF]);
      value >>= 4;
    } while (value != 0);
    return out;
  }

  static std::string IndexLabel(const TableDefinition& table, const IndexDefinition& index) {
    return "table '" + table.name + "', " + (index.index_type == 0x02 ? "foreign-key index '" : "index '") +
           index.name + "'";
  }

  // The names of an index's key columns: "(a, b)".
  static std::string ColumnList(const TableDefinition& table, const IndexDefinition& index) {
    std::string out;
    for (const IndexColumn& ic : index.columns) {
      if (!out.empty()) out += ", ";
      auto column = std::find_if(table.columns.begin(), table.columns.end(),
                                 [&](const ColumnDefinition& c) { return c.number == ic.column_number; });
      out += column == table.columns.end() ? "#" + std::to_string(ic.column_number) : column->name;
    }
    return "(" + out + ")";
  }

  // Logical numbers each used once and not negative (Access leaves gaps where it dropped an
  // index, so a gap is no fault [F: testIndexPropertiesV2000]); every physical index backs some
  // index; one primary key; type and side bytes Jet knows.
  void CheckIndexDefinitions(const TableDefinition& table) {
    std::map<uint32_t, const IndexDefinition*> numbered;
    std::vector<bool> real_used(table.real_index_count, false);
    const IndexDefinition* primary_key = nullptr;
    for (const IndexDefinition& index : table.indexes) {
      const std::string label = IndexLabel(table, index);
      if (index.logical_number >= 0x80000000u) {
        Note(CorruptError(label + ": logical number " + std::to_string(static_cast<int32_t>(index.logical_number)) +
                          " is negative" + RecordAt(table, index, 4)));
      } else if (auto [it, fresh] = numbered.emplace(index.logical_number, &index); !fresh) {
        Note(CorruptError(label + ": logical number " + std::to_string(index.logical_number) +
                          " is also that of index '" + it->second->name + "'" + RecordAt(table, index, 4)));
      }
      if (index.real_number < real_used.size()) real_used[index.real_number] = true;
      if (index.index_type > 0x02) {
        Note(CorruptError(label + ": index type " + std::to_string(index.index_type) +
                          " is none of 0 (plain), 1 (primary key), 2 (foreign key)" + RecordAt(table, index, 23)));
      }
      if (index.index_type == 0x01) {
        if (primary_key) {
          Note(CorruptError("table '" + table.name + "': two primary keys, '" + primary_key->name + "' and '" +
                            index.name + "'"));
        }
        primary_key = &index;
        // Jet's own catalog keeps primary keys over plain physical indexes.
        if (!table.system && (index.flags & 0x09) != 0x09) {
          Note(CorruptError(label + ": a primary key whose physical index is not unique and required"));
        }
      }
      if (index.index_type == 0x02 && index.fk_side != 1 && index.fk_side != 2) {
        Note(CorruptError(label + ": side " + std::to_string(index.fk_side) +
                          " is neither 1 (referenced table) nor 2 (referencing table)" + RecordAt(table, index, 12)));
      }
    }
    for (uint32_t r = 0; r < real_used.size(); ++r) {
      if (!real_used[r]) {
        Note(CorruptError("table '" + table.name + "': physical index " + std::to_string(r) + " backs no index"));
      }
    }
  }

  // The foreign-key index that `index` names, when it names one that names it back.
  struct Resolved {
    const TableDefinition* table = nullptr;
    const IndexDefinition* index = nullptr;
  };
  Resolved Partner(const std::map<uint32_t, TableDefinition>& tables, const TableDefinition& table,
                   const IndexDefinition& index, bool report) {
    const std::string label = IndexLabel(table, index);
    auto other = tables.find(index.fk_other_table_page);
    if (other == tables.end()) {
      if (report) {
        Note(CorruptError(label + ": names table page " + std::to_string(index.fk_other_table_page) +
                          ", which holds no table" + RecordAt(table, index, 17)));
      }
      return {};
    }
    const TableDefinition& theirs = other->second;
    const IndexDefinition* partner = LogicalNumbered(theirs, index.fk_other_index);
    std::string fault;
    if (!partner) {
      fault = "names index number " + std::to_string(index.fk_other_index) + " of table '" + theirs.name +
              "', which has none with that number";
    } else if (partner->index_type != 0x02) {
      fault = "names index '" + partner->name + "' of table '" + theirs.name + "', which is not a foreign-key index";
    } else if (partner->fk_side == index.fk_side) {
      fault = "its partner '" + partner->name + "' of table '" + theirs.name + "' is on the same side";
    } else if (partner->fk_other_table_page != table.tdef_page || partner->fk_other_index != index.logical_number) {
      fault = "its partner '" + partner->name + "' of table '" + theirs.name + "' names index number " +
              std::to_string(partner->fk_other_index) + " of table page " +
              std::to_string(partner->fk_other_table_page) + " instead";
    }
    if (!fault.empty()) {
      if (report) Note(CorruptError(label + ": " + fault + RecordAt(table, index, 13)));
      return {};
    }
    return {&theirs, partner};
  }

  // Both indexes of a pair (`index` on the referencing side) relate the same number of columns
  // of the same types, agree on the cascade rules, and the referenced side is unique.
  void CheckPair(const TableDefinition& table, const IndexDefinition& index, const Resolved& partner) {
    const std::string label = IndexLabel(table, index);
    const IndexDefinition& other = *partner.index;
    if (index.columns.size() != other.columns.size()) {
      Note(CorruptError(label + ": has " + std::to_string(index.columns.size()) + " key columns, its partner '" +
                        other.name + "' of table '" + partner.table->name + "' " +
                        std::to_string(other.columns.size())));
      return;
    }
    for (size_t i = 0; i < index.columns.size(); ++i) {
      const ColumnDefinition* a = ColumnNumbered(table, index.columns[i].column_number);
      const ColumnDefinition* b = ColumnNumbered(*partner.table, other.columns[i].column_number);
      if (!a || !b || a->type != b->type) {
        Note(CorruptError(label + ": key column " + std::to_string(i + 1) + " differs in type from that of '" +
                          other.name + "' of table '" + partner.table->name + "'"));
        return;
      }
    }
    if (index.cascade_update != other.cascade_update || index.cascade_delete != other.cascade_delete ||
        index.cascade_null != other.cascade_null) {
      Note(CorruptError(label + ": its cascade rules (" + Cascades(index) + ") differ from those of '" + other.name +
                        "' of table '" + partner.table->name + "' (" + Cascades(other) + ")" +
                        RecordAt(table, index, 21)));
    }
    if ((other.flags & 0x01) == 0) {
      Note(CorruptError(IndexLabel(*partner.table, other) + ": the referenced index " +
                        ColumnList(*partner.table, other) + " is not unique"));
    }
  }

  static const ColumnDefinition* ColumnNumbered(const TableDefinition& table, uint16_t number) {
    for (const ColumnDefinition& c : table.columns) {
      if (c.number == number) return &c;
    }
    return nullptr;
  }

  template <typename Rules>
  static std::string Cascades(const Rules& r) {
    std::string out;
    if (r.cascade_update) out += "update";
    if (r.cascade_delete) out += std::string(out.empty() ? "" : ", ") + "delete";
    if (r.cascade_null) out += std::string(out.empty() ? "" : ", ") + "set Null";
    return out.empty() ? "no cascades" : "cascade " + out;
  }

  // Every table's index definitions; foreign-key indexes in pairs naming each other; every
  // relationship names existing tables and columns, an enforced one has its index pair over its
  // columns with its rules and no row without a parent; no pair without a relationship.
  void CheckRelationships(const std::vector<CatalogEntry>& objects) {
    std::map<uint32_t, TableDefinition> tables;  // by definition page; unreadable ones are noted already
    bool have_relationships = false;
    for (const CatalogEntry& object : objects) {
      if (!object.is_table()) continue;
      auto table = db_.ReadTableDefinition(object.tdef_page(), object.name);
      if (!table.ok()) continue;
      have_relationships |= object.name == "MSysRelationships";
      CheckIndexDefinitions(*table);
      tables.emplace(object.tdef_page(), std::move(*table));
    }
    for (const auto& [page, table] : tables) {
      for (const IndexDefinition& index : table.indexes) {
        if (index.index_type != 0x02 || (index.fk_side != 1 && index.fk_side != 2)) continue;
        const Resolved partner = Partner(tables, table, index, true);
        if (partner.index && index.fk_side == 2) CheckPair(table, index, partner);
      }
    }
    std::vector<Relationship> relationships;
    if (have_relationships) {
      Status rows = CheckRelationshipRows();
      if (!rows.ok()) Note(rows.WithContext("MSysRelationships"));
      auto listed = db_.ListRelationships();
      if (!listed.ok()) {
        Note(listed.status().WithContext("MSysRelationships"));
        return;
      }
      relationships = std::move(*listed);
    }
    std::set<std::pair<uint32_t, uint32_t>> claimed;  // (table page, logical number) of used pairs
    for (const Relationship& r : relationships) {
      Status s = CheckRelationship(r, tables, claimed);
      if (!s.ok()) Note(s.WithContext("relationship '" + r.name + "'"));
    }
    for (const auto& [page, table] : tables) {
      for (const IndexDefinition& index : table.indexes) {
        if (index.index_type == 0x02 && index.fk_side == 2 && !claimed.count({page, index.logical_number})) {
          Note(CorruptError(IndexLabel(table, index) + ": belongs to no enforced relationship of MSysRelationships"));
        }
      }
    }
  }

  // The rows of one relationship agree on its tables, flags and column count, and number
  // their column pairs 0..n-1.
  Status CheckRelationshipRows() {
    ASSIGN_OR_RETURN(TableDefinition table, db_.GetTable("MSysRelationships"));
    auto at = [&](const char* name) { return ColumnIndex(table, name); };
    const int name = at("szRelationship"), grbit = at("grbit"), count = at("ccolumn"), index = at("icolumn"),
              object = at("szObject"), referenced = at("szReferencedObject");
    if (std::min({name, grbit, count, index, object, referenced}) < 0) {
      return CorruptError("lacks one of its columns");
    }
    struct Seen {
      std::string grbit_and_tables;
      int32_t count = 0;
      std::set<int32_t> pairs;
    };
    std::map<std::string, Seen> seen;
    RETURN_IF_ERROR(db_.ScanRows(table, [&](RowPointer where, const Row& row) -> Status {
      auto text = [&](int i) {
        const auto* v = std::get_if<std::string>(&row[static_cast<size_t>(i)]);
        return v ? *v : std::string();
      };
      auto number = [&](int i) {
        const auto* v = std::get_if<int32_t>(&row[static_cast<size_t>(i)]);
        return v ? *v : -1;
      };
      const std::string key = AsciiLower(text(name));
      const std::string facts =
          std::to_string(number(grbit)) + "|" + AsciiLower(text(object)) + "|" + AsciiLower(text(referenced));
      const std::string where_text =
          "the row at page " + std::to_string(RowPointerPage(where)) + " row " + std::to_string(RowPointerRow(where));
      auto [it, fresh] = seen.emplace(key, Seen{facts, number(count), {}});
      if (!fresh && (it->second.grbit_and_tables != facts || it->second.count != number(count))) {
        Note(CorruptError("relationship '" + text(name) + "': " + where_text +
                          " disagrees with its other rows on the tables, flags or column count"));
      }
      if (number(index) < 0 || number(index) >= it->second.count || !it->second.pairs.insert(number(index)).second) {
        Note(CorruptError("relationship '" + text(name) + "': " + where_text + " holds column pair " +
                          std::to_string(number(index)) + " of " + std::to_string(it->second.count) +
                          " (missing, repeated or out of range)"));
      }
      return Status::Ok();
    }));
    for (const auto& [key, s] : seen) {
      if (static_cast<int32_t>(s.pairs.size()) != s.count) {
        Note(CorruptError("relationship '" + key + "': MSysRelationships holds " + std::to_string(s.pairs.size()) +
                          " of its " + std::to_string(s.count) + " column pairs"));
      }
    }
    return Status::Ok();
  }

  Status CheckRelationship(const Relationship& r, const std::map<uint32_t, TableDefinition>& tables,
                           std::set<std::pair<uint32_t, uint32_t>>& claimed) {
    auto find_table = [&](const std::string& name) -> const TableDefinition* {
      for (const auto& [page, table] : tables) {
        if (EqualsIgnoreAsciiCase(table.name, name)) return &table;
      }
      return nullptr;
    };
    const TableDefinition* primary = find_table(r.primary_table);
    const TableDefinition* foreign = find_table(r.foreign_table);
    if (!primary || !foreign) {
      return CorruptError("names table '" + (primary ? r.foreign_table : r.primary_table) + "', which does not exist");
    }
    if (r.primary_columns.empty() || r.primary_columns.size() != r.foreign_columns.size()) {
      return CorruptError("has " + std::to_string(r.primary_columns.size()) + " referenced and " +
                          std::to_string(r.foreign_columns.size()) + " referencing columns");
    }
    std::vector<size_t> primary_at, foreign_at;
    auto column_at = [](const TableDefinition& table, const std::string& name, std::vector<size_t>& at) -> Status {
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

    // The referencing table's foreign-key index over exactly the referencing columns, paired
    // with one of the referenced table over exactly the referenced columns; the one named like
    // the relationship when there are several.
    auto same_columns = [](const TableDefinition& table, const IndexDefinition& index, const std::vector<size_t>& at) {
      if (index.columns.size() != at.size()) return false;
      for (size_t i = 0; i < at.size(); ++i) {
        if (index.columns[i].column_number != table.columns[at[i]].number) return false;
      }
      return true;
    };
    const IndexDefinition* found = nullptr;
    const IndexDefinition* named = nullptr;
    for (const IndexDefinition& index : foreign->indexes) {
      if (index.index_type != 0x02 || index.fk_side != 2) continue;
      if (EqualsIgnoreAsciiCase(index.name, r.name)) named = &index;
      if (index.fk_other_table_page != primary->tdef_page || !same_columns(*foreign, index, foreign_at)) continue;
      const Resolved partner = Partner(tables, *foreign, index, false);
      if (!partner.index || !same_columns(*primary, *partner.index, primary_at)) continue;
      if (!found || EqualsIgnoreAsciiCase(index.name, r.name)) found = &index;
    }
    if (!found) {
      std::string why = "table '" + foreign->name + "' has no foreign-key index over " + Names(r.foreign_columns) +
                        " paired with one of table '" + primary->name + "' over " + Names(r.primary_columns);
      if (named) {
        why += " (its index '" + named->name + "' covers " + ColumnList(*foreign, *named);
        const Resolved partner = Partner(tables, *foreign, *named, false);
        if (partner.index) {
          why += " and is paired with '" + partner.index->name + "' of table '" + partner.table->name + "' over " +
                 ColumnList(*partner.table, *partner.index);
        }
        why += ")";
      }
      return CorruptError("is enforced but " + why);
    }
    claimed.insert({foreign->tdef_page, found->logical_number});
    if (found->cascade_update != r.cascade_update || found->cascade_delete != r.cascade_delete ||
        found->cascade_null != r.cascade_null) {
      Note(CorruptError("relationship '" + r.name + "': MSysRelationships says " + Cascades(r) +
                        ", foreign-key index '" + found->name + "' of table '" + foreign->name + "' " +
                        Cascades(*found)));
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
      return CorruptError("the row of '" + foreign->name + "' at page " + std::to_string(RowPointerPage(where)) +
                          " row " + std::to_string(RowPointerRow(where)) + " refers to (" + values +
                          "), which no row of '" + primary->name + "' has");
    });
  }

  Database& db_;
  Pager& pager_;
  std::vector<std::string> claims_;  // what uses each page; empty when nothing found yet
  std::vector<Status> problems_;
  size_t unlisted_ = 0;  // problems beyond kMaxProblems
};

}  // namespace

Result<std::vector<Status>> Database::FindIntegrityProblems() { return Checker(*this, *pager_).Run(); }

Status Database::CheckIntegrity() {
  ASSIGN_OR_RETURN(std::vector<Status> problems, FindIntegrityProblems());
  return problems.empty() ? Status::Ok() : problems.front();
}

}  // namespace tabulon::jet
