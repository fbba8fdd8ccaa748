#include "jet/format/long_value.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "base/bytes.h"
#include "jet/format/data_page.h"

namespace tabulon::jet::format {
namespace {

std::string RowName(uint32_t pointer) {
  return "long-value row at page " + std::to_string(pointer >> 8) + " row " + std::to_string(pointer & 0xFF) + ": ";
}

// The bytes of the row `pointer`, valid until the pager reads another page.
struct RowBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

Result<RowBytes> FindRow(Pager& pager, uint32_t pointer) {
  const uint32_t page_number = pointer >> 8;
  const auto row_number = static_cast<uint16_t>(pointer & 0xFF);
  if (page_number == 0) return CorruptError(RowName(pointer) + "pointer to page 0");
  ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(page_number));
  auto view = DataPageView::Parse(page, page_number);
  if (!view.ok()) return view.status().WithContext(RowName(pointer) + "its page");
  if (row_number >= view->row_count()) {
    return CorruptError(RowName(pointer) + "the page holds only " + std::to_string(view->row_count()) + " rows");
  }
  // Flags on long-value rows are not trusted either way; the bounds are.
  const RowSlot slot = view->Row(row_number);
  RETURN_IF_ERROR(view->CheckBounds(slot, row_number));
  return RowBytes{page + slot.start, slot.size()};
}

}  // namespace

Result<LongValueHeader> DecodeLongValueHeader(const uint8_t* field, size_t size) {
  if (size < kLongValueHeaderSize) {
    return CorruptError("long-value field of " + std::to_string(size) + " bytes is shorter than its 12-byte header");
  }
  const uint32_t word = ReadU32(field);
  LongValueHeader header;
  header.kind = word & kLongValueKindMask;
  header.length = word & kLongValueLengthMask;
  header.first_row = ReadU32(field + 4);
  if (header.kind == kLongValueKindMask) {
    return CorruptError("long-value header with both kind bits set (0x" + std::to_string(word >> 30) + ")");
  }
  return header;
}

Status ReadLongValueData(Pager& pager, const uint8_t* field, size_t size, std::string& out,
                         std::vector<LongValueChunk>* chunks) {
  out.clear();
  ASSIGN_OR_RETURN(LongValueHeader header, DecodeLongValueHeader(field, size));
  if (header.kind == kLongValueInline) {
    if (header.length > size - kLongValueHeaderSize) {
      return CorruptError("inline long value declares " + std::to_string(header.length) + " bytes but the row holds " +
                          std::to_string(size - kLongValueHeaderSize));
    }
    out.assign(reinterpret_cast<const char*>(field + kLongValueHeaderSize), header.length);
    return Status::Ok();
  }
  // Every data byte lives on some page of the file: that caps the length we believe.
  const uint64_t file_bytes = uint64_t{pager.page_count()} * kPageSize;
  if (header.length > file_bytes) {
    return CorruptError("long value declares " + std::to_string(header.length) + " bytes, more than the file's " +
                        std::to_string(file_bytes));
  }
  if (header.kind == kLongValueSingle) {
    ASSIGN_OR_RETURN(RowBytes row, FindRow(pager, header.first_row));
    if (row.size < header.length) {
      return CorruptError(RowName(header.first_row) + "holds " + std::to_string(row.size) +
                          " bytes, the value declares " + std::to_string(header.length));
    }
    out.assign(reinterpret_cast<const char*>(row.data), header.length);
    if (chunks) chunks->push_back({header.first_row, header.length});
    return Status::Ok();
  }
  out.reserve(header.length);
  std::unordered_set<uint32_t> seen;
  uint32_t pointer = header.first_row;
  while (out.size() < header.length) {
    if (pointer == 0) {
      return CorruptError("long-value chain ends after " + std::to_string(out.size()) + " of " +
                          std::to_string(header.length) + " declared bytes");
    }
    if (!seen.insert(pointer).second) {
      return CorruptError(RowName(pointer) + "loop in the long-value chain");
    }
    ASSIGN_OR_RETURN(RowBytes row, FindRow(pager, pointer));
    if (row.size < kLongValueChunkPointerSize) {
      return CorruptError(RowName(pointer) + "chain row of " + std::to_string(row.size) + " bytes has no next pointer");
    }
    const uint32_t next = ReadU32(row.data);
    const size_t take = std::min<size_t>(row.size - kLongValueChunkPointerSize, header.length - out.size());
    out.append(reinterpret_cast<const char*>(row.data) + kLongValueChunkPointerSize, take);
    if (chunks) chunks->push_back({pointer, static_cast<uint32_t>(take)});
    pointer = next;
  }
  return Status::Ok();
}

}  // namespace tabulon::jet::format
