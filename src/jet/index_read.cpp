// Seeks and range scans through an index: a descent from the root to the first leaf entry at
// or after the lower bound, then along the leaf chain while entries are within the upper one.
#include <algorithm>
#include <unordered_set>

#include "base/text.h"
#include "jet/database.h"
#include "jet/format/data_page.h"
#include "jet/format/index_page.h"
#include "jet/index_key.h"

namespace tabulon::jet {
namespace {

constexpr int kMaxDepth = 16;

// Key bytes of the first values.size() columns of `index`.
Result<std::string> BoundKey(const TableDefinition& table, const IndexDefinition& index, const Row& values) {
  if (values.size() > index.columns.size()) {
    return InvalidArgumentError("index '" + index.name + "' has " + std::to_string(index.columns.size()) +
                                " columns, not " + std::to_string(values.size()));
  }
  std::string key;
  for (size_t i = 0; i < values.size(); ++i) {
    auto column = std::find_if(table.columns.begin(), table.columns.end(),
                               [&](const ColumnDefinition& c) { return c.number == index.columns[i].column_number; });
    if (column == table.columns.end()) {
      return CorruptError("index '" + index.name + "' names a column the table lacks");
    }
    RETURN_IF_ERROR(AppendColumnKey(*column, values[i], index.columns[i].ascending, key)
                        .WithContext("index '" + index.name + "' of table '" + table.name + "'"));
  }
  return key;
}

std::string FullEntry(const format::IndexEntry& e) {
  std::string full = e.key;
  AppendEntryRowPointer(e.row_pointer, full);
  return full;
}

// Compares the first prefix.size() bytes of `key` with `prefix`.
int ComparePrefix(std::string_view key, std::string_view prefix) {
  const int c = key.substr(0, prefix.size()).compare(prefix);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Row pointers of the leaf entries from the first one at or after `low` on, classified by
// `position` (-1 before the range, 0 inside, 1 past it).
Result<std::vector<RowPointer>> Walk(Pager& pager, uint32_t root, const std::string& low,
                                     const std::function<int(const std::string& key)>& position) {
  // Descend: in a node, the first entry whose (key, row) is not below `low` names the child
  // holding the first wanted entry; past every entry, the tail page does (if any).
  uint32_t page_number = root;
  std::unordered_set<uint32_t> seen;
  format::IndexPage page;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth || !seen.insert(page_number).second) {
      return CorruptError(format::PageAt(page_number, 0) + "index tree loops or is too deep");
    }
    ASSIGN_OR_RETURN(const uint8_t* raw, pager.ReadPage(page_number));
    ASSIGN_OR_RETURN(page, format::DecodeIndexPage(raw, page_number));
    if (page.leaf()) break;
    uint32_t child = page.tail_page;
    for (const format::IndexEntry& e : page.entries) {
      if (FullEntry(e) >= low) {
        child = e.child_page;
        break;
      }
    }
    if (child == 0) return std::vector<RowPointer>{};
    page_number = child;
  }
  std::vector<RowPointer> rows;
  std::unordered_set<uint32_t> leaves;
  for (;;) {
    for (const format::IndexEntry& e : page.entries) {
      const int where = position(e.key);
      if (where < 0) continue;
      if (where > 0) return rows;
      rows.push_back(e.row_pointer);
    }
    if (page.next_page == 0) return rows;
    page_number = page.next_page;
    if (!leaves.insert(page_number).second) {
      return CorruptError(format::PageAt(page_number, 0) + "index leaf chain loops");
    }
    ASSIGN_OR_RETURN(const uint8_t* raw, pager.ReadPage(page_number));
    ASSIGN_OR_RETURN(page, format::DecodeIndexPage(raw, page_number));
    if (!page.leaf()) return CorruptError(format::PageAt(page_number, 0) + "leaf chain reaches a node");
  }
}

Result<const IndexDefinition*> FindIndex(const TableDefinition& table, std::string_view name) {
  for (const IndexDefinition& index : table.indexes) {
    if (EqualsIgnoreAsciiCase(index.name, name)) return &index;
  }
  return NotFoundError("table '" + table.name + "' has no index named '" + std::string(name) + "'");
}

}  // namespace

Result<std::vector<RowPointer>> Database::SeekIndex(std::string_view table, std::string_view index, const Row& key) {
  IndexBound bound{key, true};
  return ScanIndexRange(table, index, IndexRange{bound, bound});
}

Result<std::vector<RowPointer>> Database::ScanIndexRange(std::string_view table, std::string_view index,
                                                         const IndexRange& range) {
  ASSIGN_OR_RETURN(TableDefinition def, GetTable(table));
  ASSIGN_OR_RETURN(const IndexDefinition* found, FindIndex(def, index));
  std::string low;
  std::string high;
  if (range.low) {
    ASSIGN_OR_RETURN(low, BoundKey(def, *found, range.low->values));
  }
  if (range.high) {
    ASSIGN_OR_RETURN(high, BoundKey(def, *found, range.high->values));
  }
  const bool low_inclusive = !range.low || range.low->inclusive;
  const bool high_inclusive = !range.high || range.high->inclusive;
  // -1: before the range, 0: inside, 1: past it.
  auto position = [&](const std::string& key) {
    if (range.low && !low.empty()) {
      const int c = ComparePrefix(key, low);
      if (c < 0 || (c == 0 && !low_inclusive)) return -1;
    }
    if (range.high && !high.empty()) {
      const int c = ComparePrefix(key, high);
      if (c > 0 || (c == 0 && !high_inclusive)) return 1;
    }
    return 0;
  };
  return Walk(*pager_, found->root_page, low, position);
}

}  // namespace tabulon::jet
