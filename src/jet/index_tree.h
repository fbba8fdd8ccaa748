// Internal to the writing side: one user index's B-tree, changed in place through the pager.
//
// Entries are key bytes + the 4-byte row pointer, ordered as byte strings. Inserts descend
// from the root to the leaf where the entry belongs; pages that overflow split (the root's
// content moves down into two new pages, since the root page number is fixed by the table
// definition). Deletes empty and free leaves, and node entries always repeat the last entry of
// their child. Decoded pages stay in a small cache and are encoded when they leave it or on
// Flush, so appending ascending keys costs a few string operations per entry. Entries that do
// not go to the right edge wait in a bounded buffer and go in sorted, each leaf once per
// merge, so inserting keys in random order does not cost a page read and write per entry.
// Uniqueness checks ask a filter of key hashes first (key_filter.h), so a key that is new
// costs no leaf read either.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/key_filter.h"
#include "jet/page_writer.h"
#include "jet/pager.h"

namespace tabulon::jet {

// Longest key an index entry may carry: two entries (plus the node suffix) must always fit
// one page for a split to succeed.
inline constexpr size_t kMaxIndexKeyBytes = 1000;

class IndexTree {
 public:
  IndexTree(uint32_t root, uint32_t owner_tdef, uint32_t usage_map)
      : root_(root), owner_(owner_tdef), usage_map_(usage_map) {}
  IndexTree(const IndexTree&) = delete;
  IndexTree& operator=(const IndexTree&) = delete;

  // True when an entry (waiting ones included) has exactly the key `key`. Changes no page.
  Result<bool> HasKey(Pager& pager, std::string_view key);
  // Row pointers of the entries whose key is exactly `key`, ascending.
  Result<std::vector<RowPointer>> FindKey(Pager& pager, std::string_view key);

  // `entry` = key + row pointer. Inserting an entry already present and removing one that is
  // absent change nothing.
  Status Insert(Pager& pager, PageAllocator& allocator, std::string_view entry);
  Status Remove(Pager& pager, PageAllocator& allocator, std::string_view entry);

  // Number of distinct keys, counted from the tree on first use and kept up to date after.
  // The same walk fills the key filter that spares most uniqueness checks a leaf read.
  Result<uint64_t> DistinctKeys(Pager& pager);
  // True once Insert or Remove changed something since the last Flush.
  bool changed() const { return changed_; }
  // Encodes every changed page into the pager and stores the usage map if pages came or went.
  Status Flush(Pager& pager, PageAllocator& allocator);

 private:
  struct Node {
    uint32_t page = 0;
    bool leaf = true;
    bool dirty = false;
    uint32_t prev = 0;
    uint32_t next = 0;
    uint32_t tail = 0;  // only in pages read from the file; replaced by an entry when changed
    uint32_t bytes = 0;
    std::vector<std::string> entries;  // stored form: key + row pointer (+ child page in nodes)
  };
  struct Step {
    Node* node;
    size_t index;  // child taken (nodes) or entry position (leaf)
  };

  Result<Node*> Get(Pager& pager, uint32_t page);
  Result<Node*> NewNode(Pager& pager, PageAllocator& allocator, bool leaf);
  void Encode(Node& node, uint8_t* raw) const;
  // Trims the cache to the last path; `clean_only` drops only unchanged pages (no page of
  // the file is written).
  Status Evict(Pager& pager, bool clean_only = false);
  Status LoadPageList(Pager& pager);
  // Walks the leaf chain once: counts distinct keys (when not known yet) and, with
  // `fill_filter`, puts every key of the tree and of the waiting entries in the filter.
  Status Survey(Pager& pager, bool fill_filter);
  Status EnsureFilter(Pager& pager);
  Status SetLink(Pager& pager, uint32_t page, uint32_t offset, uint32_t value);
  Status ReplaceTail(Pager& pager, Node& node);
  // Fills path_ from the root to the leaf for `target` (a key, or a whole entry). `change`
  // turns tail pointers on the way into entries, so every child on the path has one.
  Status Descend(Pager& pager, std::string_view target, bool change);
  Result<bool> NeighbourHasKey(Pager& pager, const Node& leaf, size_t before, size_t after, std::string_view entry);
  void UpdateLastEntries(size_t level);
  Status Split(Pager& pager, PageAllocator& allocator, size_t level, bool appended);
  // Where a leaf that overflowed under an insert continuing a run splits: right after the new
  // entry. False when that cut would not serve (then Split cuts near the middle).
  bool RunCut(const Node& leaf, size_t& cut) const;
  // Records that an entry went to position `at` of leaf `page`; returns the direction of the run
  // it continues when that run is long enough to guide a split (else 0).
  int NoteInsert(uint32_t page, size_t at);
  Status FixOverflow(Pager& pager, PageAllocator& allocator, bool appended);
  Status RemoveEmpty(Pager& pager, PageAllocator& allocator, size_t level);
  Status CutChildLinks(Pager& pager, const Node& left, const Node& right);
  Result<bool> TreeHasKey(Pager& pager, std::string_view key);
  Result<std::vector<RowPointer>> Collect(Pager& pager, std::string_view key);
  Status InsertNow(Pager& pager, PageAllocator& allocator, std::string_view entry);
  // Puts the waiting entries into the tree.
  Status Merge(Pager& pager, PageAllocator& allocator);
  void RememberPath();

  uint32_t root_;
  uint32_t owner_;
  uint32_t usage_map_;
  std::unordered_map<uint32_t, std::unique_ptr<Node>> cache_;
  std::vector<Step> path_;
  std::vector<uint32_t> keep_;  // pages of the last path, kept when the cache is trimmed
  // True while path_ is the path of the last insert and still matches the tree (no split,
  // removal or trim since), so the next insert into the same leaf may skip the descent.
  bool path_reusable_ = false;
  // True while, besides, path_ leads to the rightmost leaf and its last entry (the last insert
  // appended there): an entry past it goes to the end of that leaf without a descent.
  bool at_right_edge_ = false;
  bool AtRightEdge() const { return path_reusable_ && at_right_edge_; }
  // Entries appended at the right edge since the nodes on path_ last repeated the leaf's last
  // entry. Every other reader and writer of the tree brings them up to date first.
  bool right_edge_stale_ = false;
  void SyncRightEdge() {
    if (!right_edge_stale_) return;
    right_edge_stale_ = false;
    UpdateLastEntries(path_.size() - 1);
  }
  uint64_t splits_ = 0;
  // The leaf page and position the last entry went to (page 0: none) and the run it belongs
  // to (NoteInsert); while an insert fixes overflows, the new entry's position (else SIZE_MAX)
  // and the run's direction when it is long enough to guide a split: 1 ascending, -1
  // descending, 0 none.
  uint32_t last_leaf_page_ = 0;
  size_t last_leaf_at_ = 0;
  uint32_t run_length_ = 0;
  int run_direction_ = 0;
  size_t inserted_at_ = SIZE_MAX;
  int run_ = 0;
  // Entries not yet in the tree, unordered: their bytes lie back to back in large blocks (an
  // entry never straddles two), so each costs no allocation and a merge sorts small records.
  struct Waiting {
    uint32_t offset;  // block number * kWaitingBlockBytes + position in the block
    uint32_t size;
  };
  static constexpr size_t kWaitingBlockBytes = size_t{1} << 20;
  std::vector<Waiting> waiting_;
  std::vector<std::unique_ptr<char[]>> waiting_blocks_;
  size_t waiting_block_used_ = 0;  // bytes taken in the last block
  size_t waiting_bytes_ = 0;
  std::string_view WaitingEntry(Waiting w) const {
    return {waiting_blocks_[w.offset / kWaitingBlockBytes].get() + w.offset % kWaitingBlockBytes, w.size};
  }
  void AddWaiting(std::string_view entry);
  void ClearWaiting();
  // Hashes of their keys: open addressing, 0 = empty slot (a zero hash is stored as 1).
  std::vector<uint64_t> waiting_keys_;
  size_t waiting_key_count_ = 0;
  void AddWaitingKey(uint64_t hash);
  bool MayBeWaiting(uint64_t hash) const;
  // Every key of the tree and of the waiting entries once filter_ready_: a key it has never
  // seen needs no leaf read to be ruled out. Filled by a walk over the leaves on the first
  // lookup of a key inside the tree's range (appending ascending keys never needs it).
  KeyFilter filter_;
  bool filter_ready_ = false;
  bool changed_ = false;
  bool distinct_known_ = false;
  uint64_t distinct_ = 0;
  bool pages_loaded_ = false;
  bool pages_dirty_ = false;
  std::vector<uint32_t> pages_;  // the usage map's pages, ascending
  std::vector<uint32_t> bitmap_pages_;
};

}  // namespace tabulon::jet
