#include "jet/index_tree.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/index_page.h"
#include "jet/format/usage_map.h"
#include "jet/index_key.h"

namespace tabulon::jet {
namespace {

// Decoded pages kept per index; the last path survives a trim. A trim encodes the dirty
// pages that leave, so the cache bounds memory however many rows an operation writes.
constexpr size_t kMaxCachedPages = 512;
// Bytes (with their bookkeeping) of entries waiting for a merge.
constexpr size_t kMaxWaitingBytes = 24u << 20;
constexpr size_t kMaxDepth = 16;
// Inserts in a row, each next to the previous one, before a leaf split follows their run.
constexpr uint32_t kMinRunLength = 8;

// The part of a stored entry that orders it: a node entry's last 4 bytes name its child.
std::string_view OrderPart(const std::string& entry, bool leaf) {
  return std::string_view(entry.data(), leaf ? entry.size() : entry.size() - 4);
}

uint32_t ChildOf(const std::string& node_entry) {
  const auto* p = reinterpret_cast<const uint8_t*>(node_entry.data()) + node_entry.size() - 4;
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

RowPointer RowPointerOf(std::string_view entry) {
  const auto* p = reinterpret_cast<const uint8_t*>(entry.data()) + entry.size() - 4;
  return MakeRowPointer((uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2], p[3]);
}

// Byte order of two short strings, compared in place: ascending keys share all but their last
// bytes, and for keys of a few bytes a call to memcmp costs more than this loop.
int CompareShort(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  if (n > 16) return a.compare(b);
  const auto* x = reinterpret_cast<const unsigned char*>(a.data());
  const auto* y = reinterpret_cast<const unsigned char*>(b.data());
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool EntryHasKey(std::string_view entry, std::string_view key) {
  return entry.size() == key.size() + 4 && entry.compare(0, key.size(), key) == 0;
}

bool SameKey(std::string_view a, std::string_view b) {
  return a.size() == b.size() && a.compare(0, a.size() - 4, b.substr(0, b.size() - 4)) == 0;
}

void AppendChild(uint32_t child, std::string& entry) {
  for (int shift = 24; shift >= 0; shift -= 8) entry.push_back(static_cast<char>(child >> shift));
}

uint64_t KeyHash(std::string_view key) {
  const uint64_t h = std::hash<std::string_view>()(key);
  return h == 0 ? 1 : h;
}

// Where the entries of a stored index page end, ascending, from its bitmap read eight bytes
// at a time (most of it is zero). `ends` holds kIndexBitmapSize * 8 values.
size_t ReadEntryEnds(const uint8_t* raw, uint16_t* ends) {
  size_t count = 0;
  for (uint32_t byte = 0; byte < format::kIndexBitmapSize; byte += 8) {
    uint8_t chunk[8] = {};
    std::memcpy(chunk, raw + format::kIndexBitmapOffset + byte, std::min<uint32_t>(8, format::kIndexBitmapSize - byte));
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | chunk[i];
    while (bits != 0) {
      const int bit = __builtin_ctzll(bits);
      bits &= bits - 1;
      ends[count++] = static_cast<uint16_t>(format::kIndexEntriesOffset + byte * 8 + static_cast<uint32_t>(bit));
    }
  }
  return count;
}

// True when a stored leaf page holds an entry with exactly the key `target`, found without
// decoding the page: entries after the first share the page's prefix.
bool RawLeafHasKey(const uint8_t* raw, std::string_view target) {
  constexpr size_t suffix = 4;  // the row pointer
  const size_t prefix = ReadU16(raw + format::kIndexPrefixOffset);
  uint16_t ends[format::kIndexBitmapSize * 8];
  size_t count = ReadEntryEnds(raw, ends);
  while (count > 0 && ends[count - 1] > kPageSize) --count;
  const auto* base = reinterpret_cast<const char*>(raw);
  const std::string_view shared(base + format::kIndexEntriesOffset, prefix);
  // Compares the key of entry i (prefix restored) with the target.
  std::string key;
  auto compare = [&](size_t i) {
    const size_t start = i == 0 ? format::kIndexEntriesOffset : ends[i - 1];
    key.assign(i == 0 ? std::string_view() : shared);
    key.append(base + start, ends[i] - start);
    key.resize(key.size() < suffix ? 0 : key.size() - suffix);
    return key.compare(target);
  };
  size_t low = 0;
  size_t high = count;
  while (low < high) {
    const size_t mid = (low + high) / 2;
    if (compare(mid) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low < count && compare(low) == 0;
}

uint32_t SumBytes(const std::vector<std::string>& entries) {
  uint32_t bytes = 0;
  for (const std::string& e : entries) bytes += static_cast<uint32_t>(e.size());
  return bytes;
}

// First entry of the node whose ordering part is not below `target`.
size_t LowerBound(const std::vector<std::string>& entries, bool leaf, std::string_view target) {
  if (entries.empty() || OrderPart(entries.back(), leaf) < target) return entries.size();
  return static_cast<size_t>(std::partition_point(entries.begin(), entries.end(),
                                                  [&](const std::string& e) { return OrderPart(e, leaf) < target; }) -
                             entries.begin());
}

}  // namespace

Result<IndexTree::Node*> IndexTree::Get(Pager& pager, uint32_t page) {
  if (auto it = cache_.find(page); it != cache_.end()) return it->second.get();
  ASSIGN_OR_RETURN(const uint8_t* raw, pager.ReadPage(page));
  if (raw[0] != format::kPageIndexLeaf && raw[0] != format::kPageIndexNode) {
    return format::DecodeIndexPage(raw, page).status();  // names the page type found
  }
  // With the shared prefix restored, a stored entry is already in the decoded form (key, row
  // pointer, child page in nodes): one copy per entry.
  auto node = std::make_unique<Node>();
  node->page = page;
  node->leaf = raw[0] == format::kPageIndexLeaf;
  node->prev = ReadU32(raw + format::kIndexPrevPageOffset);
  node->next = ReadU32(raw + format::kIndexNextPageOffset);
  node->tail = node->leaf ? 0 : ReadU32(raw + format::kIndexTailPageOffset);
  const size_t tail_size = node->leaf ? 4 : 8;
  const size_t prefix = ReadU16(raw + format::kIndexPrefixOffset);
  uint16_t ends[format::kIndexBitmapSize * 8];
  const size_t count = ReadEntryEnds(raw, ends);
  node->entries.reserve(count);
  size_t start = format::kIndexEntriesOffset;
  for (size_t i = 0; i < count; ++i) {
    const size_t end = ends[i];
    if (end > kPageSize) {
      return CorruptError(format::PageAt(page, static_cast<uint32_t>(format::kIndexBitmapOffset +
                                                                     (end - format::kIndexEntriesOffset) / 8)) +
                          "index entry ends past the page");
    }
    const size_t shared = i == 0 ? 0 : prefix;
    std::string& entry = node->entries.emplace_back(shared + end - start, '\0');
    std::memcpy(entry.data(), raw + format::kIndexEntriesOffset, shared);
    std::memcpy(entry.data() + shared, raw + start, end - start);
    if (entry.size() < tail_size) {
      return CorruptError(format::PageAt(page, static_cast<uint32_t>(start)) + "index entry of " +
                          std::to_string(entry.size()) + " bytes is too short");
    }
    if (i == 0 && prefix > entry.size() - tail_size) {
      return CorruptError(format::PageAt(page, format::kIndexPrefixOffset) + "prefix length " + std::to_string(prefix) +
                          " exceeds the first key");
    }
    start = end;
  }
  node->bytes = SumBytes(node->entries);
  Node* result = node.get();
  cache_.emplace(page, std::move(node));
  return result;
}

Status IndexTree::LoadPageList(Pager& pager) {
  if (pages_loaded_) return Status::Ok();
  ASSIGN_OR_RETURN(format::UsageMap map, format::ReadUsageMap(pager, usage_map_));
  pages_ = std::move(map.pages);
  std::sort(pages_.begin(), pages_.end());
  bitmap_pages_ = std::move(map.bitmap_pages);
  pages_loaded_ = true;
  return Status::Ok();
}

Result<IndexTree::Node*> IndexTree::NewNode(Pager& pager, PageAllocator& allocator, bool leaf) {
  RETURN_IF_ERROR(LoadPageList(pager));
  ASSIGN_OR_RETURN(uint32_t page, allocator.Allocate());
  pages_.insert(std::lower_bound(pages_.begin(), pages_.end(), page), page);
  pages_dirty_ = true;
  auto node = std::make_unique<Node>();
  node->page = page;
  node->leaf = leaf;
  node->dirty = true;
  Node* result = node.get();
  cache_[page] = std::move(node);
  return result;
}

void IndexTree::Encode(Node& node, uint8_t* raw) const {
  WriteIndexPage(raw, node.leaf, owner_, node.prev, node.next, node.entries, node.tail);
  node.dirty = false;
}

Status IndexTree::Evict(Pager& pager, bool clean_only) {
  SyncRightEdge();
  if (cache_.size() <= kMaxCachedPages) return Status::Ok();
  // Leaves go first: interior pages are few and every descent passes through them. Only
  // when they alone fill half the cache (a very large tree) do they leave too.
  size_t interior = 0;
  for (const auto& [page, node] : cache_) interior += node->leaf ? 0 : 1;
  const bool drop_interior = interior > kMaxCachedPages / 2;
  for (auto it = cache_.begin(); it != cache_.end();) {
    Node& node = *it->second;
    if (node.page == root_ || (clean_only && node.dirty) || (!node.leaf && !drop_interior) ||
        std::find(keep_.begin(), keep_.end(), node.page) != keep_.end()) {
      ++it;
      continue;
    }
    if (node.dirty) {
      ASSIGN_OR_RETURN(uint8_t * raw, pager.MutablePage(node.page));
      Encode(node, raw);
    }
    it = cache_.erase(it);
    path_reusable_ = false;
    at_right_edge_ = false;
  }
  return Status::Ok();
}

Status IndexTree::SetLink(Pager& pager, uint32_t page, uint32_t offset, uint32_t value) {
  if (auto it = cache_.find(page); it != cache_.end()) {
    Node& node = *it->second;
    (offset == format::kIndexPrevPageOffset ? node.prev : node.next) = value;
    if (node.dirty) return Status::Ok();
  }
  // A page that is not otherwise changed keeps its stored form (and any shared prefix Access
  // gave it): only the link is patched.
  ASSIGN_OR_RETURN(uint8_t * raw, pager.MutablePage(page));
  if (raw[0] != format::kPageIndexLeaf && raw[0] != format::kPageIndexNode) {
    return CorruptError(format::PageAt(page, 0) + "index sibling is not an index page");
  }
  WriteU32(raw + offset, value);
  return Status::Ok();
}

Status IndexTree::ReplaceTail(Pager& pager, Node& node) {
  ASSIGN_OR_RETURN(Node * child, Get(pager, node.tail));
  if (child->entries.empty()) {
    return CorruptError(format::PageAt(node.tail, 0) + "index tail page holds no entry");
  }
  std::string entry(OrderPart(child->entries.back(), child->leaf));
  AppendChild(node.tail, entry);
  node.bytes += static_cast<uint32_t>(entry.size());
  node.entries.push_back(std::move(entry));
  node.tail = 0;
  node.dirty = true;
  return Status::Ok();
}

Status IndexTree::Descend(Pager& pager, std::string_view target, bool change) {
  SyncRightEdge();
  path_reusable_ = false;
  at_right_edge_ = false;
  path_.clear();
  uint32_t page = root_;
  for (;;) {
    if (path_.size() > kMaxDepth) {
      return CorruptError(format::PageAt(root_, 0) + "index tree loops or is too deep");
    }
    ASSIGN_OR_RETURN(Node * node, Get(pager, page));
    if (node->leaf) {
      path_.push_back({node, LowerBound(node->entries, true, target)});
      return Status::Ok();
    }
    if (change && node->tail != 0) RETURN_IF_ERROR(ReplaceTail(pager, *node));
    size_t i = LowerBound(node->entries, false, target);
    if (i == node->entries.size()) {
      if (!change && node->tail != 0) {
        path_.push_back({node, i});
        page = node->tail;
        continue;
      }
      if (node->entries.empty()) {
        return CorruptError(format::PageAt(page, 0) + "index node page holds no entry");
      }
      i = node->entries.size() - 1;  // beyond every key: the last child takes it
    }
    path_.push_back({node, i});
    page = ChildOf(node->entries[i]);
  }
}

Result<std::vector<RowPointer>> IndexTree::Collect(Pager& pager, std::string_view key) {
  // A lookup changes no page (a refused row must leave the pager untouched): only unchanged
  // pages leave the cache here.
  RETURN_IF_ERROR(Evict(pager, true));
  RETURN_IF_ERROR(Descend(pager, key, false));
  std::vector<RowPointer> found;
  const Node* leaf = path_.back().node;
  size_t i = path_.back().index;
  for (size_t hops = 0;; ++hops) {
    for (; i < leaf->entries.size(); ++i) {
      if (!EntryHasKey(leaf->entries[i], key)) return found;
      found.push_back(RowPointerOf(leaf->entries[i]));
    }
    if (leaf->next == 0 || hops > pager.page_count()) return found;
    ASSIGN_OR_RETURN(leaf, Get(pager, leaf->next));
    if (!leaf->leaf) return CorruptError(format::PageAt(leaf->page, 0) + "leaf chain reaches a node");
    i = 0;
  }
}

Result<bool> IndexTree::TreeHasKey(Pager& pager, std::string_view key) {
  SyncRightEdge();
  // Node pages are few and visited by every probe: they are decoded into the cache. Leaves
  // held decoded are searched as such, others in their stored form (unique keys in random
  // order probe a different leaf each time; decoding it would cost more than the search).
  RETURN_IF_ERROR(Evict(pager, true));
  uint32_t page = root_;
  for (size_t depth = 0;; ++depth) {
    if (depth > kMaxDepth || page == 0) {
      return CorruptError(format::PageAt(root_, 0) + "index tree loops or is too deep");
    }
    if (auto it = cache_.find(page); it != cache_.end()) {
      const Node& node = *it->second;
      const size_t i = LowerBound(node.entries, node.leaf, key);
      if (node.leaf) return i < node.entries.size() && EntryHasKey(node.entries[i], key);
      if (i < node.entries.size()) {
        page = ChildOf(node.entries[i]);
      } else if (node.tail != 0) {
        page = node.tail;
      } else {
        return false;
      }
      continue;
    }
    ASSIGN_OR_RETURN(const uint8_t* raw, pager.ReadPage(page));
    if (raw[0] == format::kPageIndexNode) {
      RETURN_IF_ERROR(Get(pager, page).status());
      continue;
    }
    if (raw[0] != format::kPageIndexLeaf) {
      return CorruptError(format::PageAt(page, 0) + "expected an index page");
    }
    return RawLeafHasKey(raw, key);
  }
}

Result<bool> IndexTree::HasKey(Pager& pager, std::string_view key) {
  if (waiting_.empty() && AtRightEdge()) {
    const std::string& last = path_.back().node->entries.back();
    if (CompareShort(std::string_view(last).substr(0, last.size() - 4), key) < 0) return false;
  } else if (waiting_.empty()) {
    SyncRightEdge();
    // Past the last key (ascending keys): certainly absent, no filter needed.
    ASSIGN_OR_RETURN(Node * root, Get(pager, root_));
    if (root->entries.empty()) {
      if (root->leaf) return false;
    } else if (root->tail == 0) {
      const std::string_view last = OrderPart(root->entries.back(), root->leaf);
      if (last.substr(0, last.size() - 4) < key) return false;
    }
  }
  RETURN_IF_ERROR(EnsureFilter(pager));
  const uint64_t hash = KeyHash(key);
  if (!filter_.MayContain(hash)) return false;
  if (MayBeWaiting(hash)) {
    for (Waiting w : waiting_) {
      if (EntryHasKey(WaitingEntry(w), key)) return true;
    }
  }
  return TreeHasKey(pager, key);
}

Result<std::vector<RowPointer>> IndexTree::FindKey(Pager& pager, std::string_view key) {
  ASSIGN_OR_RETURN(std::vector<RowPointer> found, Collect(pager, key));
  if (MayBeWaiting(KeyHash(key))) {
    for (Waiting w : waiting_) {
      const std::string_view e = WaitingEntry(w);
      if (EntryHasKey(e, key)) found.push_back(RowPointerOf(e));
    }
    std::sort(found.begin(), found.end());
  }
  return found;
}

Result<uint64_t> IndexTree::DistinctKeys(Pager& pager) {
  if (!distinct_known_) RETURN_IF_ERROR(Survey(pager, false));
  return distinct_;
}

Status IndexTree::EnsureFilter(Pager& pager) { return filter_ready_ ? Status::Ok() : Survey(pager, true); }

Status IndexTree::Survey(Pager& pager, bool fill_filter) {
  SyncRightEdge();
  // Down the first children to the leftmost leaf, then along the leaf chain. Pages are read
  // through the cache when there, otherwise decoded and dropped, so memory stays flat.
  auto visit = [&](uint32_t page, auto&& use) -> Status {
    if (auto it = cache_.find(page); it != cache_.end()) return use(*it->second);
    ASSIGN_OR_RETURN(Node * node, Get(pager, page));
    Status s = use(*node);
    cache_.erase(page);
    return s;
  };
  uint32_t page = root_;
  for (size_t depth = 0;; ++depth) {
    if (depth > kMaxDepth) return CorruptError(format::PageAt(root_, 0) + "index tree too deep");
    bool leaf = false;
    RETURN_IF_ERROR(visit(page, [&](const Node& node) -> Status {
      leaf = node.leaf;
      if (!leaf) page = node.entries.empty() ? node.tail : ChildOf(node.entries.front());
      return Status::Ok();
    }));
    if (leaf) break;
    if (page == 0) return CorruptError(format::PageAt(root_, 0) + "index node without children");
  }
  uint64_t count = 0;
  std::string last;
  if (fill_filter) filter_.Clear();
  for (uint32_t hops = 0; page != 0; ++hops) {
    if (hops > pager.page_count()) return CorruptError(format::PageAt(page, 0) + "index leaf chain loops");
    RETURN_IF_ERROR(visit(page, [&](const Node& node) -> Status {
      for (const std::string& e : node.entries) {
        if (last.empty() || !SameKey(last, e)) {
          ++count;
          if (fill_filter) filter_.Add(KeyHash(std::string_view(e).substr(0, e.size() - 4)));
        }
        last = e;
      }
      page = node.next;
      return Status::Ok();
    }));
  }
  if (fill_filter) {
    for (Waiting w : waiting_) filter_.Add(KeyHash(WaitingEntry(w).substr(0, w.size - 4)));
    filter_ready_ = true;
  }
  if (!distinct_known_) distinct_ = count;  // otherwise kept up to date by every change
  distinct_known_ = true;
  return Status::Ok();
}

Result<bool> IndexTree::NeighbourHasKey(Pager& pager, const Node& leaf, size_t before, size_t after,
                                        std::string_view entry) {
  // `before` / `after`: positions in `leaf` of the entries around `entry` (SIZE_MAX: none
  // on this page, look at the neighbouring leaf).
  if (before != SIZE_MAX) {
    if (SameKey(leaf.entries[before], entry)) return true;
  } else if (leaf.prev != 0) {
    ASSIGN_OR_RETURN(Node * prev, Get(pager, leaf.prev));
    if (!prev->entries.empty() && SameKey(prev->entries.back(), entry)) return true;
  }
  if (after < leaf.entries.size()) return SameKey(leaf.entries[after], entry);
  if (leaf.next != 0) {
    ASSIGN_OR_RETURN(Node * next, Get(pager, leaf.next));
    return !next->entries.empty() && SameKey(next->entries.front(), entry);
  }
  return false;
}

// After the last entry of path_[level] changed: its parent's entry follows, and so on up
// while the changed entry is the parent's last.
void IndexTree::UpdateLastEntries(size_t level) {
  for (size_t i = level; i > 0; --i) {
    const Node& child = *path_[i].node;
    Step& up = path_[i - 1];
    std::string& entry = up.node->entries[up.index];
    const std::string_view last = OrderPart(child.entries.back(), child.leaf);
    up.node->bytes -= static_cast<uint32_t>(entry.size());
    entry.assign(last);
    AppendChild(child.page, entry);
    up.node->bytes += static_cast<uint32_t>(entry.size());
    up.node->dirty = true;
    if (up.index + 1 != up.node->entries.size()) return;
  }
}

Status IndexTree::CutChildLinks(Pager& pager, const Node& left, const Node& right) {
  // Node pages link only to siblings under the same parent; leaves link across the level.
  if (left.leaf || left.entries.empty() || right.entries.empty()) return Status::Ok();
  ASSIGN_OR_RETURN(Node * first_right, Get(pager, ChildOf(right.entries.front())));
  if (first_right->leaf) return Status::Ok();
  RETURN_IF_ERROR(SetLink(pager, ChildOf(left.entries.back()), format::kIndexNextPageOffset, 0));
  return SetLink(pager, first_right->page, format::kIndexPrevPageOffset, 0);
}

int IndexTree::NoteInsert(uint32_t page, size_t at) {
  // A run: entries that go in right after (ascending) or right before (descending: the
  // previous one was at this place and moved on by one) the previous entry, in one leaf.
  const bool after = last_leaf_page_ == page && last_leaf_at_ + 1 == at;
  const bool before = last_leaf_page_ == page && last_leaf_at_ == at;
  const int direction = after ? 1 : before ? -1 : 0;
  run_length_ = direction != 0 && direction == run_direction_ ? run_length_ + 1 : 1;
  run_direction_ = direction;
  // Random keys merged in order fall next to one another now and then; only a longer run
  // says that more will follow.
  last_leaf_page_ = page;
  last_leaf_at_ = at;
  return run_length_ >= kMinRunLength ? direction : 0;
}

bool IndexTree::RunCut(const Node& leaf, size_t& cut) const {
  // Inserts in order (a sorted merge, ascending or descending keys) keep coming to one side of
  // the new entry: the other side is left as full as it is, the way a bulk build fills pages,
  // when it holds at least half the bytes (else a cut near the middle serves better).
  const std::vector<std::string>& entries = leaf.entries;
  const size_t at = inserted_at_;
  if (at + 1 >= entries.size()) return false;
  uint32_t left = 0;
  for (size_t i = 0; i <= at; ++i) left += static_cast<uint32_t>(entries[i].size());
  const uint32_t right = leaf.bytes - left;
  if (left > kIndexPageEntryBytes || right > kIndexPageEntryBytes) return false;
  if (2 * (run_ > 0 ? left : right) < leaf.bytes) return false;
  cut = at + 1;
  return true;
}

Status IndexTree::Split(Pager& pager, PageAllocator& allocator, size_t level, bool appended) {
  Node& node = *path_[level].node;
  std::vector<std::string>& entries = node.entries;
  if (entries.size() < 2) return InternalError("an index entry larger than a page");
  ++splits_;
  // Where to cut: after the old entries when the new one went to the end (ascending keys fill
  // pages completely, as a bulk build does), otherwise near the middle by bytes.
  size_t cut = entries.size() - 1;
  // The leaf an insert put its entry in (InsertNow sets inserted_at_ while it fixes overflows).
  const bool leaf_of_insert = inserted_at_ != SIZE_MAX && level + 1 == path_.size() && node.leaf;
  if ((!appended || node.bytes - entries.back().size() > kIndexPageEntryBytes) && leaf_of_insert && run_ != 0 &&
      RunCut(node, cut)) {
    // Right after the new entry, which continues a run of inserts into this leaf (see RunCut).
  } else if (!appended || node.bytes - entries.back().size() > kIndexPageEntryBytes) {
    uint32_t left = 0;
    cut = 0;
    while (cut + 1 < entries.size() &&
           (left + entries[cut].size() <= node.bytes / 2 || node.bytes - left > kIndexPageEntryBytes)) {
      left += static_cast<uint32_t>(entries[cut++].size());
    }
    if (cut == 0) left += static_cast<uint32_t>(entries[cut++].size());
    if (left > kIndexPageEntryBytes || node.bytes - left > kIndexPageEntryBytes) {
      return InternalError(format::PageAt(node.page, 0) + "index entries too large to split");
    }
  }
  std::vector<std::string> moved(std::make_move_iterator(entries.begin() + static_cast<ptrdiff_t>(cut)),
                                 std::make_move_iterator(entries.end()));
  entries.resize(cut);
  node.bytes = SumBytes(entries);
  node.dirty = true;
  // Which half the new entry went to, for the next insert's run (set below, once pages exist).
  const bool new_entry_left = leaf_of_insert && inserted_at_ < cut;

  if (level == 0) {
    // The root keeps its page number: its content moves into two new children.
    ASSIGN_OR_RETURN(Node * left, NewNode(pager, allocator, node.leaf));
    ASSIGN_OR_RETURN(Node * right, NewNode(pager, allocator, node.leaf));
    left->entries = std::move(entries);
    left->bytes = node.bytes;
    right->entries = std::move(moved);
    right->bytes = SumBytes(right->entries);
    left->next = right->page;
    right->prev = left->page;
    RETURN_IF_ERROR(CutChildLinks(pager, *left, *right));
    if (leaf_of_insert) {
      last_leaf_page_ = new_entry_left ? left->page : right->page;
      last_leaf_at_ = new_entry_left ? inserted_at_ : inserted_at_ - cut;
    }
    node.leaf = false;
    node.prev = node.next = node.tail = 0;
    node.entries.clear();
    for (const Node* child : {left, right}) {
      std::string e(OrderPart(child->entries.back(), child->leaf));
      AppendChild(child->page, e);
      node.entries.push_back(std::move(e));
    }
    node.bytes = SumBytes(node.entries);
    return Status::Ok();
  }

  ASSIGN_OR_RETURN(Node * right, NewNode(pager, allocator, node.leaf));
  Node& left = node;
  right->entries = std::move(moved);
  // Ascending keys fill the new page as they filled this one: room for as many at once.
  if (appended) right->entries.reserve(cut + 1);
  right->bytes = SumBytes(right->entries);
  right->prev = left.page;
  right->next = left.next;
  if (left.next != 0) RETURN_IF_ERROR(SetLink(pager, left.next, format::kIndexPrevPageOffset, right->page));
  left.next = right->page;
  RETURN_IF_ERROR(CutChildLinks(pager, left, *right));
  if (leaf_of_insert) {
    last_leaf_page_ = new_entry_left ? left.page : right->page;
    last_leaf_at_ = new_entry_left ? inserted_at_ : inserted_at_ - cut;
  }
  // The parent's entry for the old page now belongs to the right half (same last entry);
  // the left half gets a new entry before it.
  Step& up = path_[level - 1];
  std::string& old_entry = up.node->entries[up.index];
  old_entry.resize(old_entry.size() - 4);
  AppendChild(right->page, old_entry);
  std::string e(OrderPart(left.entries.back(), left.leaf));
  AppendChild(left.page, e);
  up.node->bytes += static_cast<uint32_t>(e.size());
  up.node->entries.insert(up.node->entries.begin() + static_cast<ptrdiff_t>(up.index), std::move(e));
  up.node->dirty = true;
  return Status::Ok();
}

Status IndexTree::FixOverflow(Pager& pager, PageAllocator& allocator, bool appended) {
  for (size_t level = path_.size(); level-- > 0;) {
    Node& node = *path_[level].node;
    if (node.bytes <= kIndexPageEntryBytes) {
      appended = false;
      continue;
    }
    const bool parent_appended = level > 0 && path_[level - 1].index + 1 == path_[level - 1].node->entries.size();
    RETURN_IF_ERROR(Split(pager, allocator, level, appended));
    appended = parent_appended;
  }
  return Status::Ok();
}

Status IndexTree::Insert(Pager& pager, PageAllocator& allocator, std::string_view entry) {
  if (entry.size() > kMaxIndexKeyBytes + 4) {
    return InternalError("index key longer than " + std::to_string(kMaxIndexKeyBytes) + " bytes");
  }
  changed_ = true;
  const std::string_view key = entry.substr(0, entry.size() - 4);
  if (waiting_.empty()) {
    // Past the last entry (ascending keys): straight in, the path is cached.
    bool past_end = false;
    if (AtRightEdge()) {
      Node& leaf = *path_.back().node;
      // Entries order as whole byte strings. Keys of one length (Long keys) are compared once:
      // that also tells a new key from a repeated one.
      const std::string_view last = leaf.entries.back();
      const std::string_view last_key = last.substr(0, last.size() - 4);
      const int order = CompareShort(last_key, key);
      if (order == 0) {
        past_end = CompareShort(last.substr(last_key.size()), entry.substr(key.size())) < 0;
      } else {
        past_end = last_key.size() == key.size() ? order < 0 : last < entry;
      }
      if (past_end && distinct_known_ && leaf.bytes + entry.size() <= kIndexPageEntryBytes) {
        // The common case of ascending keys, at the cost of an append: the nodes above learn
        // their new last entry when something else next reads the tree (SyncRightEdge).
        if (filter_ready_) filter_.Add(KeyHash(key));
        if (order != 0) ++distinct_;
        leaf.entries.emplace_back(entry);
        leaf.bytes += static_cast<uint32_t>(entry.size());
        leaf.dirty = true;
        path_.back().index = leaf.entries.size() - 1;
        NoteInsert(leaf.page, path_.back().index);
        right_edge_stale_ = path_.size() > 1;
        return Status::Ok();
      }
    } else {
      ASSIGN_OR_RETURN(Node * root, Get(pager, root_));
      past_end =
          root->entries.empty() || (root->tail == 0 && OrderPart(root->entries.back(), root->leaf) < entry);
    }
    if (past_end) {
      if (filter_ready_) filter_.Add(KeyHash(key));
      return InsertNow(pager, allocator, entry);
    }
  }
  const uint64_t hash = KeyHash(key);
  if (filter_ready_) filter_.Add(hash);
  AddWaiting(entry);
  AddWaitingKey(hash);
  // The record, and about two hash slots of the key set.
  waiting_bytes_ += entry.size() + sizeof(Waiting) + 2 * sizeof(uint64_t);
  if (waiting_bytes_ > kMaxWaitingBytes) return Merge(pager, allocator);
  return Status::Ok();
}

Status IndexTree::Merge(Pager& pager, PageAllocator& allocator) {
  std::sort(waiting_.begin(), waiting_.end(),
            [this](Waiting a, Waiting b) { return WaitingEntry(a) < WaitingEntry(b); });
  for (Waiting w : waiting_) RETURN_IF_ERROR(InsertNow(pager, allocator, WaitingEntry(w)));
  ClearWaiting();
  return Status::Ok();
}

void IndexTree::AddWaiting(std::string_view entry) {
  if (waiting_blocks_.empty() || waiting_block_used_ + entry.size() > kWaitingBlockBytes) {
    waiting_blocks_.push_back(std::make_unique_for_overwrite<char[]>(kWaitingBlockBytes));
    waiting_block_used_ = 0;
  }
  std::memcpy(waiting_blocks_.back().get() + waiting_block_used_, entry.data(), entry.size());
  const size_t offset = (waiting_blocks_.size() - 1) * kWaitingBlockBytes + waiting_block_used_;
  waiting_.push_back({static_cast<uint32_t>(offset), static_cast<uint32_t>(entry.size())});
  waiting_block_used_ += entry.size();
}

void IndexTree::ClearWaiting() {
  waiting_.clear();
  waiting_blocks_.clear();
  waiting_block_used_ = 0;
  std::fill(waiting_keys_.begin(), waiting_keys_.end(), 0);
  waiting_key_count_ = 0;
  waiting_bytes_ = 0;
}

void IndexTree::AddWaitingKey(uint64_t hash) {
  if (2 * (waiting_key_count_ + 1) > waiting_keys_.size()) {
    std::vector<uint64_t> old = std::move(waiting_keys_);
    waiting_keys_.assign(std::max<size_t>(1024, old.size() * 2), 0);
    waiting_key_count_ = 0;
    for (uint64_t h : old) {
      if (h != 0) AddWaitingKey(h);
    }
  }
  const size_t mask = waiting_keys_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    if (waiting_keys_[i] == hash) return;
    if (waiting_keys_[i] == 0) {
      waiting_keys_[i] = hash;
      ++waiting_key_count_;
      return;
    }
  }
}

bool IndexTree::MayBeWaiting(uint64_t hash) const {
  if (waiting_key_count_ == 0) return false;
  const size_t mask = waiting_keys_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    if (waiting_keys_[i] == hash) return true;
    if (waiting_keys_[i] == 0) return false;
  }
}

void IndexTree::RememberPath() {
  keep_.clear();
  for (const Step& step : path_) keep_.push_back(step.node->page);
}

Status IndexTree::InsertNow(Pager& pager, PageAllocator& allocator, std::string_view entry) {
  SyncRightEdge();
  ASSIGN_OR_RETURN(uint64_t distinct, DistinctKeys(pager));
  RETURN_IF_ERROR(Evict(pager));
  // Sorted waiting entries mostly land in the leaf the previous one went to: when the entry
  // falls strictly between that leaf's first and last entries, the leaf is the right one and
  // the path to it still holds, so the descent is skipped.
  // An entry past the last one of the rightmost leaf (ascending keys) goes to its end.
  const std::vector<std::string>* last_leaf = path_reusable_ ? &path_.back().node->entries : nullptr;
  const bool reuse = last_leaf && !last_leaf->empty() && last_leaf->front() < entry && entry < last_leaf->back();
  if (AtRightEdge() && last_leaf->back() < entry) {
    path_.back().index = last_leaf->size();
  } else if (reuse) {
    path_.back().index = LowerBound(*last_leaf, true, entry);
  } else {
    RETURN_IF_ERROR(Descend(pager, entry, true));
  }
  path_reusable_ = false;  // until this insert is through
  Node& leaf = *path_.back().node;
  const size_t at = path_.back().index;
  if (at < leaf.entries.size() && leaf.entries[at] == entry) {
    path_reusable_ = true;
    return Status::Ok();
  }
  ASSIGN_OR_RETURN(bool seen, NeighbourHasKey(pager, leaf, at == 0 ? SIZE_MAX : at - 1, at, entry));
  if (!seen) distinct_ = distinct + 1;
  leaf.entries.emplace(leaf.entries.begin() + static_cast<ptrdiff_t>(at), entry);
  leaf.bytes += static_cast<uint32_t>(entry.size());
  leaf.dirty = true;
  const bool appended = at + 1 == leaf.entries.size();
  if (appended) UpdateLastEntries(path_.size() - 1);
  run_ = NoteInsert(leaf.page, at);
  inserted_at_ = at;
  const uint64_t splits = splits_;
  Status fixed = FixOverflow(pager, allocator, appended);
  inserted_at_ = SIZE_MAX;  // only this insert's splits follow it
  RETURN_IF_ERROR(fixed);
  path_reusable_ = splits == splits_;  // a split moves entries off the path
  at_right_edge_ = path_reusable_ && appended && leaf.next == 0;
  for (size_t level = 0; at_right_edge_ && level + 1 < path_.size(); ++level) {
    at_right_edge_ = path_[level].index + 1 == path_[level].node->entries.size();
  }
  RememberPath();
  if (appended && splits != splits_ && leaf.leaf && leaf.page != root_) {
    // The entry that split this leaf went to a new page after it: the leaf is full and behind
    // the keys that follow (ascending keys, a sorted merge). Stored now, it holds no memory.
    // (path_ is rebuilt before its next use: the split made it unusable.)
    ASSIGN_OR_RETURN(uint8_t * raw, pager.MutablePage(leaf.page));
    Encode(leaf, raw);
    cache_.erase(leaf.page);
  }
  return Status::Ok();
}

Status IndexTree::RemoveEmpty(Pager& pager, PageAllocator& allocator, size_t level) {
  // path_[level] holds no entry: it leaves its level's chain and the tree.
  path_reusable_ = false;
  at_right_edge_ = false;
  for (;;) {
    Node& node = *path_[level].node;
    if (level == 0) {  // the root stays, as an empty leaf
      node.leaf = true;
      node.tail = 0;
      node.dirty = true;
      return Status::Ok();
    }
    if (node.prev != 0) RETURN_IF_ERROR(SetLink(pager, node.prev, format::kIndexNextPageOffset, node.next));
    if (node.next != 0) RETURN_IF_ERROR(SetLink(pager, node.next, format::kIndexPrevPageOffset, node.prev));
    RETURN_IF_ERROR(LoadPageList(pager));
    const uint32_t page = node.page;
    if (auto it = std::lower_bound(pages_.begin(), pages_.end(), page); it != pages_.end() && *it == page) {
      pages_.erase(it);
    }
    pages_dirty_ = true;
    allocator.Free(page);
    cache_.erase(page);
    path_.resize(level);
    Step& up = path_[level - 1];
    const bool was_last = up.index + 1 == up.node->entries.size();
    up.node->bytes -= static_cast<uint32_t>(up.node->entries[up.index].size());
    up.node->entries.erase(up.node->entries.begin() + static_cast<ptrdiff_t>(up.index));
    up.node->dirty = true;
    --level;
    if (!up.node->entries.empty()) {
      if (was_last) {
        up.index = up.node->entries.size() - 1;
        UpdateLastEntries(level);
      }
      return Status::Ok();
    }
  }
}

Status IndexTree::Remove(Pager& pager, PageAllocator& allocator, std::string_view entry) {
  RETURN_IF_ERROR(Merge(pager, allocator));
  ASSIGN_OR_RETURN(uint64_t distinct, DistinctKeys(pager));
  RETURN_IF_ERROR(Evict(pager));
  RETURN_IF_ERROR(Descend(pager, entry, true));
  Node& leaf = *path_.back().node;
  const size_t at = path_.back().index;
  if (at == leaf.entries.size() || leaf.entries[at] != entry) return Status::Ok();
  ASSIGN_OR_RETURN(bool seen, NeighbourHasKey(pager, leaf, at == 0 ? SIZE_MAX : at - 1, at + 1, entry));
  if (!seen) distinct_ = distinct - 1;
  leaf.bytes -= static_cast<uint32_t>(entry.size());
  leaf.entries.erase(leaf.entries.begin() + static_cast<ptrdiff_t>(at));
  last_leaf_page_ = 0;
  run_length_ = 0;
  leaf.dirty = true;
  changed_ = true;
  if (leaf.entries.empty()) {
    RETURN_IF_ERROR(RemoveEmpty(pager, allocator, path_.size() - 1));
  } else if (at == leaf.entries.size()) {
    UpdateLastEntries(path_.size() - 1);
  }
  // A new last key may be longer than the one it replaces in the nodes above.
  RETURN_IF_ERROR(FixOverflow(pager, allocator, false));
  RememberPath();
  return Status::Ok();
}

Status IndexTree::Flush(Pager& pager, PageAllocator& allocator) {
  SyncRightEdge();
  RETURN_IF_ERROR(Merge(pager, allocator));
  for (auto& [page, node] : cache_) {
    if (!node->dirty) continue;
    ASSIGN_OR_RETURN(uint8_t * raw, pager.MutablePage(page));
    Encode(*node, raw);
  }
  if (pages_dirty_) {
    RETURN_IF_ERROR(StoreUsageMap(pager, allocator, usage_map_, pages_, bitmap_pages_));
    pages_dirty_ = false;
  }
  changed_ = false;
  return Status::Ok();
}

}  // namespace tabulon::jet
