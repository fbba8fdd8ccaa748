// The one interface through which the engine touches a file, so tests run in memory and
// inject failures at any operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"

namespace tabulon::jet {

class FileIo {
 public:
  virtual ~FileIo() = default;

  // Reads exactly `size` bytes at `offset`; reading past the end is an error.
  virtual Status ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
  virtual Status WriteAt(uint64_t offset, const void* buffer, size_t size) = 0;
  virtual Result<uint64_t> Size() = 0;
  virtual Status Truncate(uint64_t size) = 0;
  // Makes every completed write durable.
  virtual Status Sync() = 0;
  // A name for messages (the path, or "memory").
  virtual std::string Name() const = 0;
};

enum class OpenMode { kReadOnly, kReadWrite, kCreateNew /* fails when the file exists */ };

// A file on disk through POSIX calls.
Result<std::unique_ptr<FileIo>> OpenPosixFile(const std::string& path, OpenMode mode);

// A file held in memory. The bytes are shared, so a test can reopen the "same file" after the
// first handle is gone, and inspect or damage them.
class MemoryFile : public FileIo {
 public:
  explicit MemoryFile(std::shared_ptr<std::vector<uint8_t>> bytes = nullptr);

  Status ReadAt(uint64_t offset, void* buffer, size_t size) override;
  Status WriteAt(uint64_t offset, const void* buffer, size_t size) override;
  Result<uint64_t> Size() override;
  Status Truncate(uint64_t size) override;
  Status Sync() override;
  std::string Name() const override { return "memory"; }

  const std::shared_ptr<std::vector<uint8_t>>& bytes() const { return bytes_; }

 private:
  std::shared_ptr<std::vector<uint8_t>> bytes_;
};

// Wraps another file and fails the Nth mutating operation (write, truncate, sync) and every
// operation after it, as a full disk or a lost device would.
class FaultInjectingFile : public FileIo {
 public:
  FaultInjectingFile(std::unique_ptr<FileIo> inner, int64_t fail_at_operation);

  Status ReadAt(uint64_t offset, void* buffer, size_t size) override;
  Status WriteAt(uint64_t offset, const void* buffer, size_t size) override;
  Result<uint64_t> Size() override;
  Status Truncate(uint64_t size) override;
  Status Sync() override;
  std::string Name() const override { return inner_->Name(); }

  int64_t operations() const { return operations_; }
  bool failed() const { return failed_; }

 private:
  Status CountOperation(const char* what);

  std::unique_ptr<FileIo> inner_;
  int64_t fail_at_;
  int64_t operations_ = 0;
  bool failed_ = false;
};

}  // namespace tabulon::jet
