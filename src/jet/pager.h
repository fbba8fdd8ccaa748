// Page-granular access to a Jet 4 file (4096-byte pages) with a write-back cache and a rollback
// journal, so a write that fails half-way never leaves a damaged file behind.
//
// Writes are grouped into transactions. The first change after a commit starts one: the
// journal companion file ("<name>-journal") receives a header with the file's page count and,
// before a page of the file is first changed, that page's original image. The journal is
// synced before any page of the file is overwritten; the file is synced before the journal is
// emptied (the commit point). Opening a file whose journal is still valid puts the original
// pages back and cuts the file to its old length. Pages appended by the transaction need no
// journal entry: the rollback cuts them off.
//
// The dirty set is bounded: when it grows past a limit the dirty pages are written early
// (after the journal is synced), so a transaction of any size needs bounded memory.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/file_io.h"

namespace tabulon::jet {

inline constexpr uint32_t kPageSize = 4096;
inline constexpr char kJournalSuffix[] = "-journal";

class Pager {
 public:
  // `page_count` is taken from the file size; a size that is not a whole number of pages is
  // corruption. A writable pager first rolls back a journal left by an interrupted write; a
  // read-only one reads through it without changing anything.
  static Result<std::unique_ptr<Pager>> Open(std::unique_ptr<FileIo> file, bool writable);

  uint32_t page_count() const { return page_count_; }
  bool writable() const { return writable_; }
  FileIo& file() { return *file_; }

  // The page's bytes, valid until the next call that changes the cache.
  Result<const uint8_t*> ReadPage(uint32_t page);
  // A writable copy of the page in the cache, marked dirty. Journals the original first.
  Result<uint8_t*> MutablePage(uint32_t page);
  // Adds a zero-filled page at the end of the file (in the cache) and returns its number.
  Result<uint32_t> AppendPage();

  // Makes every change since the last commit durable and ends the transaction.
  Status Commit();
  // Undoes every change since the last commit: drops the cache and restores the file from the
  // journal. When that fails too (the device is gone) the journal stays for the next open.
  Status Rollback();

  // True once a write failed and could not be rolled back; the pager then refuses changes.
  bool broken() const { return broken_; }
  bool in_transaction() const { return in_transaction_; }
  size_t dirty_count() const { return dirty_.size(); }
  // Counts MutablePage and AppendPage calls: equal counts before and after a call mean the
  // call changed no page (a batch uses this to tell a clean refusal from a half-done write).
  uint64_t change_count() const { return change_count_; }
  // Upper bound on dirty pages kept in memory before they are written early.
  void set_max_dirty_pages(size_t pages) { max_dirty_ = pages < 16 ? 16 : pages; }

 private:
  Pager(std::unique_ptr<FileIo> file, bool writable, uint32_t page_count);
  Status CheckPage(uint32_t page) const;
  Status CheckWritable() const;
  Status BeginTransaction();
  Status JournalPage(uint32_t page, const uint8_t* original);
  Status SyncJournal();
  Status WriteDirty();
  Status Spill();
  Status EndJournal();
  Status Recover();
  Status LoadReadOnlyOverlay();
  void CacheClean(uint32_t page, std::vector<uint8_t> bytes);
  // Empties the read cache, keeping its buffers for PageBuffer.
  void DropCleanPages();
  // A page-sized buffer (contents undefined).
  std::vector<uint8_t> PageBuffer();
  Status Fail(Status status);

  std::unique_ptr<FileIo> file_;
  bool writable_;
  uint32_t page_count_;       // pages including those appended in the cache
  uint32_t file_page_count_;  // pages present in the file itself
  // Clean pages read recently; small, since rows are mostly streamed.
  std::unordered_map<uint32_t, std::vector<uint8_t>> clean_;
  std::unordered_map<uint32_t, std::vector<uint8_t>> dirty_;
  std::vector<std::vector<uint8_t>> spare_;  // page buffers to use again
  size_t max_dirty_ = 2048;  // 8 MB

  // Transaction state.
  bool in_transaction_ = false;
  bool broken_ = false;
  uint64_t change_count_ = 0;
  uint32_t base_page_count_ = 0;  // file pages when the transaction began
  std::vector<bool> journaled_;   // per page below base_page_count_
  std::unique_ptr<FileIo> journal_;
  uint64_t journal_size_ = 0;
  bool journal_synced_ = true;
  uint32_t journal_nonce_ = 0;
  // Read-only pagers of a file with an unfinished write: page -> offset of its original image.
  std::unordered_map<uint32_t, uint64_t> overlay_;
  std::unique_ptr<FileIo> overlay_journal_;
};

}  // namespace tabulon::jet
