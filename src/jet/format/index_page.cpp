#include "jet/format/index_page.h"

#include <cstring>
#include <unordered_set>

#include "base/bytes.h"
#include "jet/format/data_page.h"

namespace tabulon::jet::format {
namespace {

constexpr int kMaxDepth = 16;

uint32_t ReadBigEndian(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

Status Walk(Pager& pager, uint32_t page_number, int depth, std::unordered_set<uint32_t>& seen,
            std::vector<IndexEntry>& out, std::vector<uint32_t>* pages) {
  if (depth > kMaxDepth) {
    return CorruptError(PageAt(page_number, 0) + "index tree deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  if (!seen.insert(page_number).second) {
    return CorruptError(PageAt(page_number, 0) + "index page reached twice (loop in the tree)");
  }
  if (pages) pages->push_back(page_number);
  ASSIGN_OR_RETURN(const uint8_t* raw, pager.ReadPage(page_number));
  ASSIGN_OR_RETURN(IndexPage page, DecodeIndexPage(raw, page_number));
  if (page.leaf()) {
    for (IndexEntry& e : page.entries) out.push_back(std::move(e));
    return Status::Ok();
  }
  for (const IndexEntry& e : page.entries) {
    RETURN_IF_ERROR(Walk(pager, e.child_page, depth + 1, seen, out, pages));
  }
  if (page.tail_page != 0) RETURN_IF_ERROR(Walk(pager, page.tail_page, depth + 1, seen, out, pages));
  return Status::Ok();
}

}  // namespace

Result<IndexPage> DecodeIndexPage(const uint8_t* raw, uint32_t page_number) {
  IndexPage page;
  page.type = raw[0];
  if (page.type != 0x03 && page.type != 0x04) {
    return CorruptError(PageAt(page_number, 0) + "expected an index page, found type " + std::to_string(page.type) +
                        " (" + PageTypeName(page.type) + ")");
  }
  page.free_space = ReadU16(raw + 2);
  page.owner = ReadU32(raw + 4);
  page.prev_page = ReadU32(raw + kIndexPrevPageOffset);
  page.next_page = ReadU32(raw + kIndexNextPageOffset);
  page.tail_page = ReadU32(raw + kIndexTailPageOffset);
  page.prefix_length = ReadU16(raw + kIndexPrefixOffset);
  const uint32_t tail_size = page.leaf() ? 4 : 8;
  uint32_t start = kIndexEntriesOffset;
  std::string prefix;
  for (uint32_t bit = 0; bit < kIndexBitmapSize * 8; ++bit) {
    if (!((raw[kIndexBitmapOffset + bit / 8] >> (bit % 8)) & 1)) continue;
    const uint32_t end = kIndexEntriesOffset + bit;
    if (end > kPageSize) {
      return CorruptError(PageAt(page_number, kIndexBitmapOffset + bit / 8) + "index entry ends past the page");
    }
    IndexEntry entry;
    const bool first = page.entries.empty();
    const size_t stored = end - start;
    const size_t shared = first ? 0 : prefix.size();
    entry.key.resize(shared + stored);
    if (shared) std::memcpy(entry.key.data(), prefix.data(), shared);
    std::memcpy(entry.key.data() + shared, raw + start, stored);
    if (entry.key.size() < tail_size) {
      return CorruptError(PageAt(page_number, start) + "index entry of " + std::to_string(entry.key.size()) +
                          " bytes is too short");
    }
    if (first) {
      if (page.prefix_length > entry.key.size() - tail_size) {
        return CorruptError(PageAt(page_number, kIndexPrefixOffset) + "prefix length " +
                            std::to_string(page.prefix_length) + " exceeds the first key");
      }
      prefix.assign(entry.key.data(), page.prefix_length);
    }
    const auto* tail = reinterpret_cast<const uint8_t*>(entry.key.data()) + entry.key.size() - tail_size;
    entry.row_pointer = (ReadBigEndian(tail, 3) << 8) | tail[3];
    if (!page.leaf()) entry.child_page = ReadBigEndian(tail + 4, 4);
    entry.key.erase(entry.key.end() - tail_size, entry.key.end());
    page.entries.push_back(std::move(entry));
    start = end;
  }
  return page;
}

Result<std::vector<IndexEntry>> ReadIndexEntries(Pager& pager, uint32_t root, std::vector<uint32_t>* pages) {
  std::vector<IndexEntry> out;
  std::unordered_set<uint32_t> seen;
  RETURN_IF_ERROR(Walk(pager, root, 0, seen, out, pages));
  return out;
}

}  // namespace tabulon::jet::format
