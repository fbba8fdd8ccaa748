// User indexes on the writing side: keys of inserted and deleted rows, uniqueness, bulk
// creation, foreign-key logical indexes and the write-back of changed B-trees.
#include "jet/index_writer.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/format/data_page.h"
#include "jet/format/index_page.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/index_key.h"
#include "jet/values.h"
#include "jet/write_state.h"

namespace tabulon::jet {
namespace {

constexpr size_t kMaxIndexColumns = 10;
constexpr size_t kMaxLogicalIndexes = 32;  // Jet's limit, foreign-key indexes included
constexpr uint8_t kFlagUnique = 0x01;
constexpr uint8_t kFlagIgnoreNulls = 0x02;
constexpr uint8_t kFlagRequired = 0x08;
constexpr uint8_t kFlagAlways = 0x80;  // set by Access 2000 and later on every index

void AppendRowPointer(RowPointer where, std::string& entry) { AppendEntryRowPointer(where, entry); }

std::string_view KeyOf(const std::string& entry) { return std::string_view(entry.data(), entry.size() - 4); }

// The logical (named) indexes backed by a real index, for messages.
std::string IndexNames(const TableDefinition& def, uint32_t real) {
  std::string names;
  for (const IndexDefinition& index : def.indexes) {
    if (index.real_number != real || index.index_type == 0x02) continue;
    if (!names.empty()) names += "/";
    names += index.name;
  }
  if (names.empty()) {
    for (const IndexDefinition& index : def.indexes) {
      if (index.real_number == real) return index.name;
    }
  }
  return names;
}

const IndexDefinition* FirstLogical(const TableDefinition& def, uint32_t real) {
  for (const IndexDefinition& index : def.indexes) {
    if (index.real_number == real) return &index;
  }
  return nullptr;
}

// Builds the key of `row` for one real index.
Status BuildKey(const TableDefinition& def, const RealIndexState& index, const Row& row, std::string& key,
                bool& has_null, bool& all_null) {
  key.clear();
  has_null = false;
  all_null = true;
  for (size_t i = 0; i < index.column_slots.size(); ++i) {
    const size_t slot = index.column_slots[i];
    static const Value kNull = Null{};
    const Value& value = slot < row.size() ? row[slot] : kNull;
    const ColumnDefinition& column = def.columns[slot];
    const bool null = std::holds_alternative<Null>(value) && column.type != ColumnType::kBoolean;
    has_null |= null;
    all_null &= null;
    RETURN_IF_ERROR(AppendColumnKey(column, value, index.ascending[i], key));
  }
  if (key.size() > kMaxIndexKeyBytes) {
    return UnsupportedError("its key takes " + std::to_string(key.size()) +
                            " bytes, more than an index page entry may hold (" + std::to_string(kMaxIndexKeyBytes) +
                            ")");
  }
  return Status::Ok();
}

std::string DescribeKey(const TableDefinition& def, const RealIndexState& index, const Row& row) {
  std::string text;
  for (size_t slot : index.column_slots) {
    if (!text.empty()) text += ", ";
    text += def.columns[slot].name + "=";
    const auto value = slot < row.size() ? FormatValue(row[slot]) : std::nullopt;
    text += value ? "'" + *value + "'" : "Null";
  }
  return "(" + text + ")";
}

Result<RealIndexState> NewRealState(const TableDefinition& def, const IndexDefinition& logical) {
  RealIndexState state;
  state.number = logical.real_number;
  state.flags = logical.flags;
  for (const IndexColumn& ic : logical.columns) {
    size_t slot = SIZE_MAX;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number == ic.column_number) slot = i;
    }
    if (slot == SIZE_MAX) {
      return CorruptError("index '" + logical.name + "' of table '" + def.name + "' names column number " +
                          std::to_string(ic.column_number) + ", which the table lacks");
    }
    state.column_slots.push_back(slot);
    state.ascending.push_back(ic.ascending);
  }
  return state;
}

// Frees every page of a real index and the row of its usage map.
Status FreeIndexPages(Pager& pager, PageAllocator& allocator, const IndexDefinition& index) {
  if (index.usage_map != 0) {
    ASSIGN_OR_RETURN(format::UsageMap map, format::ReadUsageMap(pager, index.usage_map));
    for (uint32_t p : map.pages) allocator.Free(p);
    for (uint32_t p : map.bitmap_pages) {
      if (p != 0) allocator.Free(p);
    }
    ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(RowPointerPage(index.usage_map)));
    DeleteRowOnPage(page, RowPointerRow(index.usage_map));
  }
  if (index.root_page != 0) allocator.Free(index.root_page);
  return Status::Ok();
}

// Takes real index `number` off the table: its logical indexes, pages and memory state; later
// real indexes move down one number.
Status RemoveRealIndex(Pager& pager, PageAllocator& allocator, TableState& table, uint32_t number) {
  TableDefinition& def = table.def;
  for (RealIndexState& r : table.indexes.real) {
    // Pages this operation added to the tree are listed in the usage map once flushed.
    if (r.number == number && r.tree) RETURN_IF_ERROR(r.tree->Flush(pager, allocator));
  }
  if (const IndexDefinition* first = FirstLogical(def, number)) {
    RETURN_IF_ERROR(FreeIndexPages(pager, allocator, *first));
  }
  // Logical numbers stay as they are until the operation ends (NumberIndexes): foreign-key
  // indexes of other tables name them.
  def.indexes.erase(std::remove_if(def.indexes.begin(), def.indexes.end(),
                                   [&](const IndexDefinition& i) { return i.real_number == number; }),
                    def.indexes.end());
  for (IndexDefinition& index : def.indexes) {
    if (index.real_number > number) --index.real_number;
  }
  auto& real = table.indexes.real;
  real.erase(std::remove_if(real.begin(), real.end(), [&](const RealIndexState& r) { return r.number == number; }),
             real.end());
  for (RealIndexState& r : real) {
    if (r.number > number) --r.number;
  }
  table.indexes.definition_dirty = true;
  return Status::Ok();
}

Status RewriteDefinition(Pager& pager, PageAllocator& allocator, TableState& table) {
  TableDefinition& def = table.def;
  const DefinitionContent content = DefinitionContentOf(def);
  ASSIGN_OR_RETURN(std::vector<uint8_t> bytes, EncodeTableDefinition(content));
  std::vector<uint32_t> pages = def.definition_pages;
  if (pages.empty()) pages = {def.tdef_page};
  RETURN_IF_ERROR(WriteTableDefinitionPages(pager, allocator, bytes, pages));
  def.definition_pages = std::move(pages);
  def.definition_length = static_cast<uint32_t>(bytes.size());
  table.indexes.definition_dirty = false;
  return Status::Ok();
}

// A root page and a usage-map row for a new real index, and its tree over `entries`
// (sorted). Returns the number of distinct keys.
Result<uint32_t> BuildIndexPages(Pager& pager, PageAllocator& allocator, TableState& table, IndexDefinition& index,
                                 std::vector<std::string> entries) {
  ASSIGN_OR_RETURN(index.root_page, allocator.Allocate());
  const std::string empty_map(kMapRowSize, '\0');
  const auto* row = reinterpret_cast<const uint8_t*>(empty_map.data());
  const uint32_t map_page = RowPointerPage(table.def.owned_pages_map);
  ASSIGN_OR_RETURN(uint8_t * page, pager.MutablePage(map_page));
  if (page[0] == format::kPageData && DataPageFits(page, kMapRowSize)) {
    index.usage_map = MakeRowPointer(map_page, AddRowToPage(page, row, kMapRowSize));
  } else {
    ASSIGN_OR_RETURN(uint32_t fresh, allocator.Allocate());
    ASSIGN_OR_RETURN(uint8_t * bytes, pager.MutablePage(fresh));
    InitDataPage(bytes, 0);
    index.usage_map = MakeRowPointer(fresh, AddRowToPage(bytes, row, kMapRowSize));
  }
  uint32_t distinct = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i == 0 || KeyOf(entries[i]) != KeyOf(entries[i - 1])) ++distinct;
  }
  std::vector<uint32_t> pages;
  RETURN_IF_ERROR(WriteIndexTree(pager, allocator, table.def.tdef_page, index.root_page, std::move(entries), pages));
  pages.push_back(index.root_page);
  std::sort(pages.begin(), pages.end());
  std::vector<uint32_t> bitmaps;
  RETURN_IF_ERROR(StoreUsageMap(pager, allocator, index.usage_map, pages, bitmaps));
  return distinct;
}

// A logical number no index of the table has, above all others: new indexes keep it until the
// operation ends and NumberIndexes gives the final numbers.
uint32_t NewLogicalNumber(const TableDefinition& def) {
  uint32_t next = 0;
  for (const IndexDefinition& index : def.indexes) {
    if (index.logical_number < UINT32_MAX) next = std::max(next, index.logical_number + 1);
  }
  return next;
}

const IndexDefinition* FindLogical(const TableDefinition& def, std::string_view name) {
  for (const IndexDefinition& index : def.indexes) {
    if (EqualsIgnoreAsciiCase(index.name, name)) return &index;
  }
  return nullptr;
}

Status CheckIndexName(const TableDefinition& def, std::string_view name) {
  auto utf16 = Utf8ToUtf16(name);
  if (!utf16.ok() || utf16->empty() || utf16->size() > 64) {
    return InvalidArgumentError("index name '" + std::string(name) + "' must have 1 to 64 characters");
  }
  for (char16_t c : *utf16) {
    if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') {
      return InvalidArgumentError("index name '" + std::string(name) +
                                  "' must not contain . ! ` [ ] or control characters");
    }
  }
  if (FindLogical(def, name)) {
    return AlreadyExistsError("table '" + def.name + "' already has an index named '" + std::string(name) + "'");
  }
  return Status::Ok();
}

// The sorted entries of a new real index over the table's rows, uniqueness checked.
Result<std::vector<std::string>> CollectEntries(const TableDefinition& def, const std::string& name,
                                                const RealIndexState& index, const RowScan& rows) {
  std::vector<std::string> entries;
  std::unordered_set<std::string> null_keys;  // keys exempt from uniqueness
  std::string key;
  RETURN_IF_ERROR(rows([&](RowPointer where, const Row& row) -> Status {
    bool has_null = false;
    bool all_null = false;
    Status s = BuildKey(def, index, row, key, has_null, all_null);
    if (!s.ok()) {
      return s.WithContext("index '" + name + "' of table '" + def.name + "', row " + DescribeKey(def, index, row));
    }
    if (index.required() && has_null) {
      return InvalidArgumentError("index '" + name + "' of table '" + def.name + "' does not allow Null, but the row " +
                                  DescribeKey(def, index, row) + " has one");
    }
    if (index.ignore_nulls() && all_null) return Status::Ok();
    if (has_null && index.unique()) null_keys.insert(key);
    std::string entry = key;
    AppendRowPointer(where, entry);
    entries.push_back(std::move(entry));
    return Status::Ok();
  }));
  std::sort(entries.begin(), entries.end());
  if (index.unique()) {
    for (size_t i = 1; i < entries.size(); ++i) {
      const std::string_view k = KeyOf(entries[i]);
      if (k == KeyOf(entries[i - 1]) && null_keys.count(std::string(k)) == 0) {
        return AlreadyExistsError("unique index '" + name + "' cannot be created on table '" + def.name +
                                  "': two rows have the same key");
      }
    }
  }
  return entries;
}

}  // namespace

Status LoadIndexes(Pager&, TableState& table) {
  TableIndexes& indexes = table.indexes;
  if (indexes.loaded) return Status::Ok();
  std::vector<RealIndexState> real;
  for (uint32_t n = 0;; ++n) {
    const IndexDefinition* first = FirstLogical(table.def, n);
    if (!first) break;
    ASSIGN_OR_RETURN(RealIndexState state, NewRealState(table.def, *first));
    if (indexes.maintained) {
      state.tree = std::make_unique<IndexTree>(first->root_page, table.def.tdef_page, first->usage_map);
    }
    real.push_back(std::move(state));
  }
  indexes.real = std::move(real);
  indexes.loaded = true;
  return Status::Ok();
}

Status PrepareIndexEntries(Pager& pager, TableState& table, const Row& values) {
  for (RealIndexState& index : table.indexes.real) {
    index.pending_skip = true;
    if (!index.drop_reason.empty() || !index.tree) continue;
    bool all_null = false;
    Status s = BuildKey(table.def, index, values, index.pending, index.pending_has_null, all_null);
    if (s.code() == ErrorCode::kUnsupported) {
      // The row stays; an index that cannot hold it exactly goes (never silently wrong).
      index.drop_reason = s.message();
      table.indexes.definition_dirty = true;
      table.indexes.drop_marked = true;
      continue;
    }
    RETURN_IF_ERROR(s);
    if (index.required() && index.pending_has_null) {
      return InvalidArgumentError("index '" + IndexNames(table.def, index.number) + "' of table '" + table.def.name +
                                  "' does not allow Null: " + DescribeKey(table.def, index, values));
    }
    if (index.ignore_nulls() && all_null) continue;
    if (index.unique() && !index.pending_has_null) {
      ASSIGN_OR_RETURN(bool duplicate, index.tree->HasKey(pager, index.pending));
      if (duplicate) {
        return AlreadyExistsError("the key " + DescribeKey(table.def, index, values) + " is already in unique index '" +
                                  IndexNames(table.def, index.number) + "' of table '" + table.def.name + "'");
      }
    }
    index.pending_skip = false;
  }
  return Status::Ok();
}

Status AddPreparedIndexEntries(Pager& pager, PageAllocator& allocator, TableState& table, RowPointer where) {
  for (RealIndexState& index : table.indexes.real) {
    if (index.pending_skip) continue;
    AppendRowPointer(where, index.pending);
    RETURN_IF_ERROR(index.tree->Insert(pager, allocator, index.pending));
  }
  return Status::Ok();
}

Status RemoveIndexEntries(Pager& pager, PageAllocator& allocator, TableState& table, const Row& row, RowPointer where) {
  std::string key;
  for (RealIndexState& index : table.indexes.real) {
    if (!index.drop_reason.empty() || !index.tree) continue;
    bool has_null = false;
    bool all_null = false;
    Status s = BuildKey(table.def, index, row, key, has_null, all_null);
    if (s.code() == ErrorCode::kUnsupported) continue;  // never entered
    RETURN_IF_ERROR(s);
    if (index.ignore_nulls() && all_null) continue;
    AppendRowPointer(where, key);
    RETURN_IF_ERROR(index.tree->Remove(pager, allocator, key));
  }
  return Status::Ok();
}

Result<std::vector<RowPointer>> FindIndexKey(Pager& pager, TableState& table, uint32_t number, std::string_view key) {
  RETURN_IF_ERROR(LoadIndexes(pager, table));
  for (RealIndexState& index : table.indexes.real) {
    if (index.number != number) continue;
    if (index.tree) return index.tree->FindKey(pager, key);
    // A table whose indexes are rebuilt elsewhere: a read-only look at the stored tree.
    const IndexDefinition* logical = FirstLogical(table.def, number);
    if (!logical) break;
    IndexTree tree(logical->root_page, table.def.tdef_page, logical->usage_map);
    return tree.FindKey(pager, key);
  }
  return NotFoundError("table '" + table.def.name + "' has no real index " + std::to_string(number));
}

Status DropUnkeyableIndexes(Pager& pager, PageAllocator& allocator, TableState& table) {
  TableIndexes& indexes = table.indexes;
  for (size_t i = indexes.real.size(); i-- > 0;) {
    if (indexes.real[i].drop_reason.empty()) continue;
    const std::string reason = indexes.real[i].drop_reason;
    const uint32_t number = indexes.real[i].number;
    for (const IndexDefinition& index : table.def.indexes) {
      if (index.real_number == number) indexes.dropped.push_back({table.def.name, index.name, reason});
    }
    RETURN_IF_ERROR(RemoveRealIndex(pager, allocator, table, number));
  }
  indexes.drop_marked = false;
  return Status::Ok();
}

Status NumberIndexes(Pager& pager, TableState& table, const TableAtPage& at) {
  RETURN_IF_ERROR(LoadIndexes(pager, table));
  TableDefinition& def = table.def;
  std::vector<IndexDefinition>& indexes = def.indexes;
  const size_t count = indexes.size();
  auto is_foreign_key = [](const IndexDefinition& i) { return i.index_type == 0x02; };

  // Each foreign-key index's partner (the index naming it back), found by the numbers it has now.
  struct Partner {
    size_t at = 0;  // our index
    TableState* table = nullptr;
    size_t position = 0;  // the partner in table->def.indexes
  };
  std::vector<Partner> partners;
  for (size_t i = 0; i < count; ++i) {
    const IndexDefinition& index = indexes[i];
    if (!is_foreign_key(index)) continue;
    TableState* other = &table;
    if (index.fk_other_table_page != def.tdef_page) {
      auto found = at(index.fk_other_table_page);
      if (!found.ok()) continue;  // a dangling reference: nothing to keep in step
      other = *found;
    }
    const std::vector<IndexDefinition>& theirs = other->def.indexes;
    for (size_t j = 0; j < theirs.size(); ++j) {
      const IndexDefinition& p = theirs[j];
      if ((other == &table && j == i) || !is_foreign_key(p) || p.fk_side == index.fk_side ||
          p.fk_other_table_page != def.tdef_page || p.fk_other_index != index.logical_number) {
        continue;
      }
      partners.push_back({i, other, j});
      break;
    }
  }

  // Real indexes: those a named index uses, in their order, then those of foreign keys only.
  uint32_t real_count = 0;
  for (const IndexDefinition& index : indexes) real_count = std::max(real_count, index.real_number + 1);
  std::vector<uint32_t> new_real(real_count, UINT32_MAX);
  uint32_t next = 0;
  for (uint32_t r = 0; r < real_count; ++r) {
    for (const IndexDefinition& index : indexes) {
      if (index.real_number == r && !is_foreign_key(index)) {
        new_real[r] = next++;
        break;
      }
    }
  }
  for (uint32_t r = 0; r < real_count; ++r) {
    if (new_real[r] == UINT32_MAX) new_real[r] = next++;
  }

  // Logical numbers: named indexes by their (new) real index, then foreign keys as made.
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const IndexDefinition& x = indexes[a];
    const IndexDefinition& y = indexes[b];
    if (is_foreign_key(x) != is_foreign_key(y)) return !is_foreign_key(x);
    if (is_foreign_key(x)) return x.logical_number < y.logical_number;
    return new_real[x.real_number] < new_real[y.real_number];
  });
  std::vector<uint32_t> number(count);
  for (size_t k = 0; k < count; ++k) number[order[k]] = static_cast<uint32_t>(k);

  bool changed = false;
  for (const Partner& p : partners) {
    IndexDefinition& theirs = p.table->def.indexes[p.position];
    if (theirs.fk_other_index == number[p.at]) continue;
    theirs.fk_other_index = number[p.at];
    if (p.table == &table) {
      changed = true;
    } else {
      RETURN_IF_ERROR(LoadIndexes(pager, *p.table));
      p.table->indexes.definition_dirty = true;
    }
  }
  for (size_t i = 0; i < count; ++i) {
    IndexDefinition& index = indexes[i];
    const uint32_t real = new_real[index.real_number];
    changed |= index.logical_number != number[i] || index.real_number != real;
    index.logical_number = number[i];
    index.real_number = real;
  }
  for (RealIndexState& r : table.indexes.real) {
    if (r.number < real_count) r.number = new_real[r.number];
  }
  std::sort(table.indexes.real.begin(), table.indexes.real.end(),
            [](const RealIndexState& a, const RealIndexState& b) { return a.number < b.number; });
  // Stored in number order, so that readers which pair real and named indexes by position
  // agree with those that pair them by number.
  std::stable_sort(indexes.begin(), indexes.end(), [](const IndexDefinition& a, const IndexDefinition& b) {
    return a.logical_number < b.logical_number;
  });
  if (changed) table.indexes.definition_dirty = true;
  return Status::Ok();
}

Status StoreIndexes(Pager& pager, PageAllocator& allocator, TableState& table) {
  TableIndexes& indexes = table.indexes;
  for (RealIndexState& index : indexes.real) {
    if (!index.tree || !index.tree->changed()) continue;
    RETURN_IF_ERROR(index.tree->Flush(pager, allocator));
    ASSIGN_OR_RETURN(uint64_t keys, index.tree->DistinctKeys(pager));
    const auto distinct = static_cast<uint32_t>(keys);
    for (IndexDefinition& d : table.def.indexes) {
      if (d.real_number == index.number) d.unique_entry_count = distinct;
    }
    if (!indexes.definition_dirty) {
      ASSIGN_OR_RETURN(uint8_t * tdef, pager.MutablePage(table.def.tdef_page));
      WriteU32(tdef + format::kTdefHeaderSize + format::kTdefRealIndexBlockSize * index.number + 4, distinct);
    }
  }
  if (indexes.definition_dirty) RETURN_IF_ERROR(RewriteDefinition(pager, allocator, table));
  return Status::Ok();
}

Status CreateIndexIn(Pager& pager, PageAllocator& allocator, TableState& table, const IndexSpec& spec,
                     const RowScan& rows) {
  TableDefinition& def = table.def;
  RETURN_IF_ERROR(CheckIndexName(def, spec.name).WithContext("table '" + def.name + "'"));
  const std::string what = "index '" + spec.name + "' of table '" + def.name + "'";
  if (spec.columns.empty() || spec.columns.size() > kMaxIndexColumns) {
    return InvalidArgumentError(what + " needs 1 to 10 columns");
  }
  if (def.indexes.size() >= kMaxLogicalIndexes) {
    return LimitError(what + ": a table holds at most 32 indexes");
  }
  if (spec.primary) {
    for (const IndexDefinition& index : def.indexes) {
      if (index.index_type == 0x01) {
        return AlreadyExistsError(what + ": the table already has primary key '" + index.name + "'");
      }
    }
  }
  RETURN_IF_ERROR(LoadIndexes(pager, table));
  IndexDefinition logical;
  logical.name = spec.name;
  logical.index_type = spec.primary ? 0x01 : 0x00;
  logical.flags = static_cast<uint8_t>(kFlagAlways | (spec.primary || spec.unique ? kFlagUnique : 0) |
                                       (spec.primary || spec.required ? kFlagRequired : 0) |
                                       (spec.ignore_nulls ? kFlagIgnoreNulls : 0));
  for (const IndexKeyColumn& key : spec.columns) {
    const ColumnDefinition* column = nullptr;
    for (const ColumnDefinition& c : def.columns) {
      if (EqualsIgnoreAsciiCase(c.name, key.column)) column = &c;
    }
    if (!column) return NotFoundError(what + ": no column named '" + key.column + "'");
    if (column->type == ColumnType::kOle) {
      return InvalidArgumentError(what + ": OLE column '" + column->name + "' cannot be indexed");
    }
    for (const IndexColumn& ic : logical.columns) {
      if (ic.column_number == column->number) {
        return InvalidArgumentError(what + " names column '" + column->name + "' twice");
      }
    }
    logical.columns.push_back({column->number, key.ascending});
  }
  logical.real_number = static_cast<uint32_t>(table.indexes.real.size());
  logical.logical_number = NewLogicalNumber(def);
  ASSIGN_OR_RETURN(RealIndexState state, NewRealState(def, logical));
  {
    ASSIGN_OR_RETURN(std::vector<std::string> entries, CollectEntries(def, spec.name, state, rows));
    ASSIGN_OR_RETURN(logical.unique_entry_count, BuildIndexPages(pager, allocator, table, logical, std::move(entries)));
  }
  if (table.indexes.maintained) {
    state.tree = std::make_unique<IndexTree>(logical.root_page, def.tdef_page, logical.usage_map);
  }
  def.indexes.push_back(std::move(logical));
  table.indexes.real.push_back(std::move(state));
  table.indexes.definition_dirty = true;
  return Status::Ok();
}

Status DropIndexIn(Pager& pager, PageAllocator& allocator, TableState& table, std::string_view name) {
  RETURN_IF_ERROR(LoadIndexes(pager, table));
  const IndexDefinition* index = FindLogical(table.def, name);
  if (!index) {
    return NotFoundError("table '" + table.def.name + "' has no index named '" + std::string(name) + "'");
  }
  if (index->index_type == 0x02) {
    return InvalidArgumentError("index '" + index->name + "' of table '" + table.def.name +
                                "' belongs to a relationship; remove the relationship instead");
  }
  const uint32_t real = index->real_number;
  const uint32_t users =
      static_cast<uint32_t>(std::count_if(table.def.indexes.begin(), table.def.indexes.end(),
                                          [&](const IndexDefinition& i) { return i.real_number == real; }));
  if (users > 1) {
    table.def.indexes.erase(table.def.indexes.begin() + (index - table.def.indexes.data()));
    table.indexes.definition_dirty = true;
    return Status::Ok();
  }
  return RemoveRealIndex(pager, allocator, table, real);
}

Result<ForeignKeyIndexes> AddForeignKeyIndexesIn(Pager& pager, PageAllocator& allocator, TableState& primary,
                                                 TableState& foreign, const ForeignKeyIndexSpec& spec,
                                                 const RowScan& foreign_rows) {
  const std::string what = "relationship '" + spec.name + "'";
  if (spec.primary_columns.empty() || spec.primary_columns.size() != spec.foreign_columns.size() ||
      spec.primary_columns.size() > kMaxIndexColumns) {
    return InvalidArgumentError(what + " needs 1 to 10 column pairs");
  }
  auto column_numbers = [&](const TableDefinition& def,
                            const std::vector<std::string>& names) -> Result<std::vector<uint16_t>> {
    std::vector<uint16_t> numbers;
    for (const std::string& name : names) {
      const ColumnDefinition* column = nullptr;
      for (const ColumnDefinition& c : def.columns) {
        if (EqualsIgnoreAsciiCase(c.name, name)) column = &c;
      }
      if (!column) return NotFoundError(what + ": table '" + def.name + "' has no column '" + name + "'");
      numbers.push_back(column->number);
    }
    return numbers;
  };
  auto same_columns = [](const IndexDefinition& index, const std::vector<uint16_t>& numbers) {
    if (index.columns.size() != numbers.size()) return false;
    for (size_t i = 0; i < numbers.size(); ++i) {
      if (index.columns[i].column_number != numbers[i] || !index.columns[i].ascending) return false;
    }
    return true;
  };
  ASSIGN_OR_RETURN(std::vector<uint16_t> primary_numbers, column_numbers(primary.def, spec.primary_columns));
  ASSIGN_OR_RETURN(std::vector<uint16_t> foreign_numbers, column_numbers(foreign.def, spec.foreign_columns));
  RETURN_IF_ERROR(LoadIndexes(pager, primary));
  RETURN_IF_ERROR(LoadIndexes(pager, foreign));
  const IndexDefinition* referenced = nullptr;
  for (const IndexDefinition& index : primary.def.indexes) {
    if (index.index_type != 0x02 && (index.flags & kFlagUnique) != 0 && same_columns(index, primary_numbers)) {
      referenced = &index;
      if (index.index_type == 0x01) break;  // prefer the primary key
    }
  }
  if (!referenced) {
    return InvalidArgumentError(what + ": table '" + primary.def.name +
                                "' has no unique index over the referenced columns");
  }
  if (FindLogical(foreign.def, spec.name)) {
    return AlreadyExistsError(what + ": table '" + foreign.def.name + "' already has an index named '" + spec.name +
                              "'");
  }
  const uint32_t referenced_real = referenced->real_number;

  // The foreign side: an existing index over the same columns, or a new plain one.
  uint32_t foreign_real = UINT32_MAX;
  for (const IndexDefinition& index : foreign.def.indexes) {
    if (same_columns(index, foreign_numbers)) foreign_real = index.real_number;
  }
  if (foreign_real == UINT32_MAX) {
    IndexSpec plain;
    plain.name = spec.name;
    for (const std::string& c : spec.foreign_columns) plain.columns.push_back({c, true});
    RETURN_IF_ERROR(CreateIndexIn(pager, allocator, foreign, plain, foreign_rows));
    // Re-made below as the foreign-key logical index.
    IndexDefinition made = foreign.def.indexes.back();
    foreign.def.indexes.pop_back();
    foreign_real = made.real_number;
    // Keep the real index: a placeholder logical entry until the FK entry replaces it.
    made.index_type = 0x02;
    foreign.def.indexes.push_back(made);
  } else {
    const IndexDefinition* base = FirstLogical(foreign.def, foreign_real);
    IndexDefinition fk = *base;
    fk.name = spec.name;
    fk.index_type = 0x02;
    fk.logical_number = NewLogicalNumber(foreign.def);
    foreign.def.indexes.push_back(fk);
  }
  IndexDefinition& foreign_fk = foreign.def.indexes.back();
  foreign_fk.name = spec.name;

  // The primary side: ".rB", ".rC", ... the first name not taken.
  std::string name;
  for (char c = 'B'; c <= 'Z' && name.empty(); ++c) {
    const std::string candidate = std::string(".r") + c;
    if (!FindLogical(primary.def, candidate)) name = candidate;
  }
  if (name.empty()) return LimitError(what + ": table '" + primary.def.name + "' has too many relationships");
  IndexDefinition primary_fk = *FirstLogical(primary.def, referenced_real);
  primary_fk.name = name;
  primary_fk.index_type = 0x02;
  primary_fk.logical_number = NewLogicalNumber(primary.def);  // after foreign_fk's in a self-reference
  if (primary.def.indexes.size() >= kMaxLogicalIndexes || foreign.def.indexes.size() > kMaxLogicalIndexes) {
    return LimitError(what + ": a table holds at most 32 indexes");
  }
  for (IndexDefinition* fk : {&primary_fk, &foreign_fk}) {
    fk->cascade_update = spec.cascade_update;
    fk->cascade_delete = spec.cascade_delete;
    fk->cascade_null = spec.cascade_null;
  }
  primary_fk.fk_side = 1;
  primary_fk.fk_other_index = foreign_fk.logical_number;
  primary_fk.fk_other_table_page = foreign.def.tdef_page;
  foreign_fk.fk_side = 2;
  foreign_fk.fk_other_index = primary_fk.logical_number;
  foreign_fk.fk_other_table_page = primary.def.tdef_page;
  ForeignKeyIndexes result{name, primary_fk.logical_number, foreign_fk.logical_number};
  primary.def.indexes.push_back(std::move(primary_fk));
  primary.indexes.definition_dirty = true;
  foreign.indexes.definition_dirty = true;
  return result;
}

Status DroppedIndex::ToStatus() const {
  return UnsupportedError("index '" + index + "' was removed from table '" + table +
                          "' because a row's key cannot be sorted exactly: " + reason);
}

}  // namespace tabulon::jet
