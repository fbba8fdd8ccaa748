// Long values (Memo, OLE) of the writing side: stored on the LVAL pages of their column, in one
// row or a chain of rows, and released again when their row goes.
#include <algorithm>

#include "base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/database_write.h"

namespace tabulon::jet {
namespace {

constexpr uint32_t kMaxSingleLongValue = 4076;  // one row filling an empty LVAL page
constexpr uint32_t kMaxChainChunk = 4072;       // plus the 4-byte pointer to the next chunk

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

}  // namespace tabulon::jet
