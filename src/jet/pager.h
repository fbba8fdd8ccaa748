// Page-granular access to a Jet 4 file (4096-byte pages) with a write-back cache.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/file_io.h"

namespace tabulon::jet {

inline constexpr uint32_t kPageSize = 4096;

class Pager {
 public:
  // `page_count` is taken from the file size; a size that is not a whole number of pages is
  // corruption (reported by the caller that knows the context).
  static Result<std::unique_ptr<Pager>> Open(std::unique_ptr<FileIo> file, bool writable);

  uint32_t page_count() const { return page_count_; }
  bool writable() const { return writable_; }
  FileIo& file() { return *file_; }

  // The page's bytes, valid until the next call that changes the cache.
  Result<const uint8_t*> ReadPage(uint32_t page);
  // A writable copy of the page in the cache, marked dirty.
  Result<uint8_t*> MutablePage(uint32_t page);
  // Adds a zero-filled page at the end of the file (in the cache) and returns its number.
  Result<uint32_t> AppendPage();
  // Writes the dirty pages in page order, then syncs when `sync` is set.
  Status Flush(bool sync = true);
  // Drops every cached page without writing it (after a failed operation).
  void DiscardDirty();

  size_t dirty_count() const { return dirty_.size(); }

 private:
  Pager(std::unique_ptr<FileIo> file, bool writable, uint32_t page_count);
  Status CheckPage(uint32_t page) const;

  std::unique_ptr<FileIo> file_;
  bool writable_;
  uint32_t page_count_;
  uint32_t file_page_count_;  // pages present in the file itself
  // Clean pages read recently; small, since rows are mostly streamed.
  std::unordered_map<uint32_t, std::vector<uint8_t>> clean_;
  std::unordered_map<uint32_t, std::vector<uint8_t>> dirty_;
};

}  // namespace tabulon::jet
