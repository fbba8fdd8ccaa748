#include "jet/pager.h"

#include <algorithm>
#include <string>

namespace tabulon::jet {
namespace {
constexpr size_t kMaxCleanPages = 4096;  // 16 MB of read cache at most
}

Pager::Pager(std::unique_ptr<FileIo> file, bool writable, uint32_t page_count)
    : file_(std::move(file)), writable_(writable), page_count_(page_count),
      file_page_count_(page_count) {}

Result<std::unique_ptr<Pager>> Pager::Open(std::unique_ptr<FileIo> file, bool writable) {
  ASSIGN_OR_RETURN(uint64_t size, file->Size());
  if (size % kPageSize != 0) {
    return CorruptError(file->Name() + ": size " + std::to_string(size) +
                        " is not a whole number of 4096-byte pages");
  }
  if (size / kPageSize > UINT32_MAX) return CorruptError(file->Name() + ": file too large");
  const auto count = static_cast<uint32_t>(size / kPageSize);
  return std::unique_ptr<Pager>(new Pager(std::move(file), writable, count));
}

Status Pager::CheckPage(uint32_t page) const {
  if (page >= page_count_) {
    return CorruptError("page " + std::to_string(page) + " is beyond the end of the file (" +
                        std::to_string(page_count_) + " pages)");
  }
  return Status::Ok();
}

Result<const uint8_t*> Pager::ReadPage(uint32_t page) {
  RETURN_IF_ERROR(CheckPage(page));
  if (auto it = dirty_.find(page); it != dirty_.end()) return it->second.data();
  if (auto it = clean_.find(page); it != clean_.end()) return it->second.data();
  if (clean_.size() >= kMaxCleanPages) clean_.clear();
  std::vector<uint8_t> bytes(kPageSize);
  RETURN_IF_ERROR(file_->ReadAt(uint64_t{page} * kPageSize, bytes.data(), kPageSize));
  auto [it, inserted] = clean_.emplace(page, std::move(bytes));
  return it->second.data();
}

Result<uint8_t*> Pager::MutablePage(uint32_t page) {
  if (!writable_) return InvalidArgumentError(file_->Name() + ": opened read-only");
  RETURN_IF_ERROR(CheckPage(page));
  if (auto it = dirty_.find(page); it != dirty_.end()) return it->second.data();
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
  auto [it, inserted] = dirty_.emplace(page, std::move(bytes));
  return it->second.data();
}

Result<uint32_t> Pager::AppendPage() {
  if (!writable_) return InvalidArgumentError(file_->Name() + ": opened read-only");
  const uint32_t page = page_count_++;
  dirty_.emplace(page, std::vector<uint8_t>(kPageSize));
  return page;
}

Status Pager::Flush(bool sync) {
  std::vector<uint32_t> pages;
  pages.reserve(dirty_.size());
  for (const auto& [page, bytes] : dirty_) pages.push_back(page);
  std::sort(pages.begin(), pages.end());
  for (uint32_t page : pages) {
    RETURN_IF_ERROR(file_->WriteAt(uint64_t{page} * kPageSize, dirty_[page].data(), kPageSize));
    file_page_count_ = std::max(file_page_count_, page + 1);
  }
  for (uint32_t page : pages) {
    auto node = dirty_.extract(page);
    if (clean_.size() < kMaxCleanPages) clean_.insert_or_assign(page, std::move(node.mapped()));
  }
  if (sync) RETURN_IF_ERROR(file_->Sync());
  return Status::Ok();
}

void Pager::DiscardDirty() {
  dirty_.clear();
  clean_.clear();
  page_count_ = file_page_count_;
}

}  // namespace tabulon::jet
