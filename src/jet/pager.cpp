#include "jet/pager.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "base/bytes.h"

namespace tabulon::jet {
namespace {

constexpr size_t kMaxCleanPages = 2048;  // 8 MB of read cache at most
// Buffers of dropped pages kept for the next pages of the transaction (as many as the read
// cache holds). Under AddressSanitizer they are freed at once instead, so that a page pointer
// kept past a change of the cache still shows as a use after free.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kMaxSparePages = 0;
#else
constexpr size_t kMaxSparePages = kMaxCleanPages;
#endif

// Journal layout: a 32-byte header, then records of (page, checksum, original image).
constexpr char kJournalMagic[8] = {'T', 'B', 'L', 'N', 'J', 'R', 'N', '1'};
constexpr uint32_t kJournalHeaderSize = 32;
constexpr uint32_t kJournalRecordHeader = 8;
constexpr uint32_t kJournalRecordSize = kJournalRecordHeader + kPageSize;

uint32_t Checksum(uint32_t seed, const uint8_t* data, size_t size) {
  uint32_t h = 2166136261u ^ seed;  // FNV-1a, seeded so records of an older journal never match
  for (size_t i = 0; i < size; ++i) {
    h ^= data[i];
    h *= 16777619u;
  }
  return h;
}

uint32_t RecordChecksum(uint32_t nonce, uint32_t page, const uint8_t* image) {
  uint8_t prefix[4];
  WriteU32(prefix, page);
  return Checksum(Checksum(nonce, prefix, 4), image, kPageSize);
}

uint32_t NewNonce() {
  static uint32_t counter = 0;
  const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return static_cast<uint32_t>(now ^ (now >> 32)) ^ (++counter * 0x9E3779B9u);
}

struct JournalHeader {
  uint32_t nonce = 0;
  uint32_t base_page_count = 0;
};

// Reads and checks a journal's header; nullopt-like false when it is empty or not valid.
bool ParseJournalHeader(FileIo& journal, uint64_t size, JournalHeader& out) {
  if (size < kJournalHeaderSize) return false;
  uint8_t h[kJournalHeaderSize];
  if (!journal.ReadAt(0, h, sizeof h).ok()) return false;
  if (std::memcmp(h, kJournalMagic, 8) != 0) return false;
  if (ReadU32(h + 16) != kPageSize) return false;
  if (ReadU32(h + 24) != Checksum(0, h, 24)) return false;
  out.nonce = ReadU32(h + 8);
  out.base_page_count = ReadU32(h + 12);
  return true;
}

}  // namespace

Pager::Pager(std::unique_ptr<FileIo> file, bool writable, uint32_t page_count)
    : file_(std::move(file)), writable_(writable), page_count_(page_count), file_page_count_(page_count) {}

Result<std::unique_ptr<Pager>> Pager::Open(std::unique_ptr<FileIo> file, bool writable) {
  ASSIGN_OR_RETURN(uint64_t size, file->Size());
  std::unique_ptr<Pager> pager(new Pager(std::move(file), writable, 0));
  if (writable) {
    RETURN_IF_ERROR(pager->Recover());
    ASSIGN_OR_RETURN(size, pager->file_->Size());
  } else {
    RETURN_IF_ERROR(pager->LoadReadOnlyOverlay());
  }
  FileIo& f = *pager->file_;
  if (!pager->overlay_journal_ && size % kPageSize != 0) {
    return CorruptError(f.Name() + ": size " + std::to_string(size) + " is not a whole number of 4096-byte pages");
  }
  if (size / kPageSize > UINT32_MAX) return CorruptError(f.Name() + ": file too large");
  if (!pager->overlay_journal_) {
    pager->page_count_ = pager->file_page_count_ = static_cast<uint32_t>(size / kPageSize);
  }
  return pager;
}

Status Pager::Recover() {
  auto journal = file_->OpenCompanion(kJournalSuffix, /*create=*/false);
  if (!journal.ok()) {
    const ErrorCode code = journal.status().code();
    if (code == ErrorCode::kNotFound || code == ErrorCode::kUnsupported) return Status::Ok();
    return journal.status();
  }
  FileIo& j = **journal;
  ASSIGN_OR_RETURN(uint64_t size, j.Size());
  JournalHeader header;
  if (ParseJournalHeader(j, size, header)) {
    std::vector<uint8_t> record(kJournalRecordSize);
    for (uint64_t at = kJournalHeaderSize; at + kJournalRecordSize <= size; at += kJournalRecordSize) {
      RETURN_IF_ERROR(j.ReadAt(at, record.data(), record.size()));
      const uint32_t page = ReadU32(record.data());
      const uint8_t* image = record.data() + kJournalRecordHeader;
      // A torn or stale record ends the journal: no page behind it was overwritten yet.
      if (ReadU32(record.data() + 4) != RecordChecksum(header.nonce, page, image)) break;
      if (page >= header.base_page_count) break;
      RETURN_IF_ERROR(
          file_->WriteAt(uint64_t{page} * kPageSize, image, kPageSize).WithContext("rolling back an unfinished write"));
    }
    RETURN_IF_ERROR(file_->Truncate(uint64_t{header.base_page_count} * kPageSize));
    RETURN_IF_ERROR(file_->Sync());
  }
  RETURN_IF_ERROR(j.Truncate(0));
  RETURN_IF_ERROR(j.Sync());
  journal->reset();
  return file_->RemoveCompanion(kJournalSuffix);
}

Status Pager::LoadReadOnlyOverlay() {
  auto journal = file_->OpenCompanion(kJournalSuffix, /*create=*/false);
  if (!journal.ok()) return Status::Ok();  // no journal (or none possible): nothing to undo
  FileIo& j = **journal;
  ASSIGN_OR_RETURN(uint64_t size, j.Size());
  JournalHeader header;
  if (!ParseJournalHeader(j, size, header)) return Status::Ok();
  std::vector<uint8_t> record(kJournalRecordSize);
  for (uint64_t at = kJournalHeaderSize; at + kJournalRecordSize <= size; at += kJournalRecordSize) {
    RETURN_IF_ERROR(j.ReadAt(at, record.data(), record.size()));
    const uint32_t page = ReadU32(record.data());
    if (ReadU32(record.data() + 4) != RecordChecksum(header.nonce, page, record.data() + kJournalRecordHeader) ||
        page >= header.base_page_count) {
      break;
    }
    overlay_.emplace(page, at + kJournalRecordHeader);  // the first image is the original
  }
  ASSIGN_OR_RETURN(uint64_t file_size, file_->Size());
  const uint64_t present = file_size / kPageSize;
  page_count_ = file_page_count_ = static_cast<uint32_t>(std::min<uint64_t>(present, header.base_page_count));
  // Pages the interrupted write never reached are still in the file; pages it appended are cut.
  overlay_journal_ = std::move(*journal);
  return Status::Ok();
}

Status Pager::CheckPage(uint32_t page) const {
  if (page >= page_count_) {
    return CorruptError("page " + std::to_string(page) + " is beyond the end of the file (" +
                        std::to_string(page_count_) + " pages)");
  }
  return Status::Ok();
}

Status Pager::CheckWritable() const {
  if (!writable_) return InvalidArgumentError(file_->Name() + ": opened read-only");
  if (broken_) {
    return IoError(file_->Name() +
                   ": an earlier write failed and could not be undone; reopen the file to "
                   "roll it back");
  }
  return Status::Ok();
}

void Pager::CacheClean(uint32_t page, std::vector<uint8_t> bytes) {
  if (clean_.size() >= kMaxCleanPages) DropCleanPages();
  clean_.insert_or_assign(page, std::move(bytes));
}

void Pager::DropCleanPages() {
  // The buffers serve the next pages read or appended: a large write appends pages as fast as
  // it writes them out, and needs no allocation per page.
  for (auto& [page, bytes] : clean_) {
    if (spare_.size() >= kMaxSparePages) break;
    spare_.push_back(std::move(bytes));
  }
  clean_.clear();
}

std::vector<uint8_t> Pager::PageBuffer() {
  if (spare_.empty()) return std::vector<uint8_t>(kPageSize);
  std::vector<uint8_t> bytes = std::move(spare_.back());
  spare_.pop_back();
  return bytes;
}

Result<const uint8_t*> Pager::ReadPage(uint32_t page) {
  RETURN_IF_ERROR(CheckPage(page));
  if (auto it = dirty_.find(page); it != dirty_.end()) return it->second.data();
  if (auto it = clean_.find(page); it != clean_.end()) return it->second.data();
  std::vector<uint8_t> bytes = PageBuffer();
  if (auto it = overlay_.find(page); it != overlay_.end()) {
    RETURN_IF_ERROR(overlay_journal_->ReadAt(it->second, bytes.data(), kPageSize));
  } else {
    RETURN_IF_ERROR(file_->ReadAt(uint64_t{page} * kPageSize, bytes.data(), kPageSize));
  }
  if (clean_.size() >= kMaxCleanPages) DropCleanPages();
  auto [it, inserted] = clean_.emplace(page, std::move(bytes));
  return it->second.data();
}

Status Pager::Fail(Status status) {
  // Whatever reached the file is undone from the journal; if even that fails, the journal
  // stays behind for the next open.
  (void)Rollback();
  return status;
}

Status Pager::BeginTransaction() {
  if (in_transaction_) return Status::Ok();
  ASSIGN_OR_RETURN(journal_, file_->OpenCompanion(kJournalSuffix, /*create=*/true));
  journal_nonce_ = NewNonce();
  base_page_count_ = file_page_count_;
  journaled_.assign(base_page_count_, false);
  uint8_t h[kJournalHeaderSize] = {};
  std::memcpy(h, kJournalMagic, 8);
  WriteU32(h + 8, journal_nonce_);
  WriteU32(h + 12, base_page_count_);
  WriteU32(h + 16, kPageSize);
  WriteU32(h + 24, Checksum(0, h, 24));
  in_transaction_ = true;
  RETURN_IF_ERROR(journal_->Truncate(0));
  RETURN_IF_ERROR(journal_->WriteAt(0, h, sizeof h));
  journal_size_ = kJournalHeaderSize;
  journal_synced_ = false;
  return Status::Ok();
}

Status Pager::JournalPage(uint32_t page, const uint8_t* original) {
  std::vector<uint8_t> record(kJournalRecordSize);
  WriteU32(record.data(), page);
  WriteU32(record.data() + 4, RecordChecksum(journal_nonce_, page, original));
  std::memcpy(record.data() + kJournalRecordHeader, original, kPageSize);
  RETURN_IF_ERROR(journal_->WriteAt(journal_size_, record.data(), record.size()));
  journal_size_ += kJournalRecordSize;
  journal_synced_ = false;
  journaled_[page] = true;
  return Status::Ok();
}

Status Pager::SyncJournal() {
  if (journal_synced_) return Status::Ok();
  RETURN_IF_ERROR(journal_->Sync());
  journal_synced_ = true;
  return Status::Ok();
}

Result<uint8_t*> Pager::MutablePage(uint32_t page) {
  RETURN_IF_ERROR(CheckWritable());
  RETURN_IF_ERROR(CheckPage(page));
  ++change_count_;
  if (auto it = dirty_.find(page); it != dirty_.end()) return it->second.data();
  if (Status s = BeginTransaction(); !s.ok()) return Fail(s);
  std::vector<uint8_t> bytes;
  if (auto it = clean_.find(page); it != clean_.end()) {
    bytes = std::move(it->second);
    clean_.erase(it);
  } else {
    bytes.resize(kPageSize);
    if (page < file_page_count_) {
      RETURN_IF_ERROR(file_->ReadAt(uint64_t{page} * kPageSize, bytes.data(), kPageSize));
    }
  }
  if (page < base_page_count_ && !journaled_[page]) {
    if (Status s = JournalPage(page, bytes.data()); !s.ok()) return Fail(s);
  }
  if (dirty_.size() >= max_dirty_) {
    if (Status s = Spill(); !s.ok()) return Fail(s);
  }
  auto [it, inserted] = dirty_.emplace(page, std::move(bytes));
  return it->second.data();
}

Result<uint32_t> Pager::AppendPage() {
  RETURN_IF_ERROR(CheckWritable());
  if (page_count_ == UINT32_MAX) return LimitError(file_->Name() + ": too many pages");
  ++change_count_;
  if (Status s = BeginTransaction(); !s.ok()) return Fail(s);
  if (dirty_.size() >= max_dirty_) {
    if (Status s = Spill(); !s.ok()) return Fail(s);
  }
  const uint32_t page = page_count_++;
  std::vector<uint8_t> bytes = PageBuffer();
  std::memset(bytes.data(), 0, kPageSize);
  dirty_.emplace(page, std::move(bytes));
  return page;
}

Status Pager::WriteDirty() {
  RETURN_IF_ERROR(SyncJournal());
  std::vector<uint32_t> pages;
  pages.reserve(dirty_.size());
  for (const auto& [page, bytes] : dirty_) pages.push_back(page);
  std::sort(pages.begin(), pages.end());
  // Pages appended past the end of the file must not leave a hole: write in order.
  for (uint32_t page : pages) {
    RETURN_IF_ERROR(file_->WriteAt(uint64_t{page} * kPageSize, dirty_[page].data(), kPageSize));
    file_page_count_ = std::max(file_page_count_, page + 1);
  }
  for (uint32_t page : pages) {
    auto node = dirty_.extract(page);
    CacheClean(page, std::move(node.mapped()));
  }
  return Status::Ok();
}

Status Pager::Spill() { return WriteDirty(); }

Status Pager::EndJournal() {
  // Emptying the journal is the commit point: from then on the next open finds nothing to
  // undo. Only a synced emptying counts: after a power loss an unsynced one may be undone, and
  // the next open would then roll the committed changes back. A failed sync is reported (the
  // commit may or may not have reached the disk); removing the empty file is tidiness.
  RETURN_IF_ERROR(journal_->Truncate(0));
  RETURN_IF_ERROR(journal_->Sync());
  journal_.reset();
  in_transaction_ = false;
  journaled_.clear();
  (void)file_->RemoveCompanion(kJournalSuffix);
  return Status::Ok();
}

Status Pager::Commit() {
  if (!in_transaction_) return Status::Ok();
  RETURN_IF_ERROR(CheckWritable());
  Status s = WriteDirty();
  if (s.ok()) s = file_->Sync();
  if (s.ok()) s = EndJournal();
  if (!s.ok()) return Fail(s);
  std::vector<std::vector<uint8_t>>().swap(spare_);  // between transactions the memory goes back
  return Status::Ok();
}

Status Pager::Rollback() {
  dirty_.clear();
  clean_.clear();
  if (!in_transaction_) {
    page_count_ = file_page_count_;
    return Status::Ok();
  }
  journal_.reset();
  in_transaction_ = false;
  journaled_.clear();
  Status s = Recover();
  if (s.ok()) {
    file_page_count_ = page_count_ = base_page_count_;
    return Status::Ok();
  }
  broken_ = true;
  page_count_ = file_page_count_ = base_page_count_;
  return s;
}

}  // namespace tabulon::jet
