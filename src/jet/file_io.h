// The one interface through which the engine touches a file, so tests run in memory and
// inject failures at any operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
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

  // A companion file beside this one (its name + `suffix`), such as the rollback journal, so
  // it travels through the same interface as the file itself. Without `create` a missing
  // companion is NotFound. Files without companions answer Unsupported.
  virtual Result<std::unique_ptr<FileIo>> OpenCompanion(std::string_view suffix, bool create);
  // Removes the companion; a missing one is not an error.
  virtual Status RemoveCompanion(std::string_view suffix);
};

enum class OpenMode { kReadOnly, kReadWrite, kCreateNew /* fails when the file exists */ };

// A file on disk through POSIX calls.
Result<std::unique_ptr<FileIo>> OpenPosixFile(const std::string& path, OpenMode mode);

// A file held in memory. The bytes are shared, so a test can reopen the "same file" after the
// first handle is gone, and inspect or damage them.
class MemoryFile : public FileIo {
 public:
  // Companion files by suffix; share it (with the bytes) to reopen the same "file".
  using Companions = std::map<std::string, std::shared_ptr<std::vector<uint8_t>>, std::less<>>;

  explicit MemoryFile(std::shared_ptr<std::vector<uint8_t>> bytes = nullptr,
                      std::shared_ptr<Companions> companions = nullptr);

  Status ReadAt(uint64_t offset, void* buffer, size_t size) override;
  Status WriteAt(uint64_t offset, const void* buffer, size_t size) override;
  Result<uint64_t> Size() override;
  Status Truncate(uint64_t size) override;
  Status Sync() override;
  std::string Name() const override { return "memory"; }
  Result<std::unique_ptr<FileIo>> OpenCompanion(std::string_view suffix, bool create) override;
  Status RemoveCompanion(std::string_view suffix) override;

  const std::shared_ptr<std::vector<uint8_t>>& bytes() const { return bytes_; }
  const std::shared_ptr<Companions>& companions() const { return companions_; }

 private:
  std::shared_ptr<std::vector<uint8_t>> bytes_;
  std::shared_ptr<Companions> companions_;
};

// Wraps another file and fails the Nth mutating operation (write, truncate, sync, companion
// removal) and every operation after it, as a full disk or a lost device would. With
// `reads_too`, reads count as operations and fail the same way (a device that stops answering).
// Companion files opened through it share the same operation count.
class FaultInjectingFile : public FileIo {
 public:
  FaultInjectingFile(std::unique_ptr<FileIo> inner, int64_t fail_at_operation, bool reads_too = false);

  Status ReadAt(uint64_t offset, void* buffer, size_t size) override;
  Status WriteAt(uint64_t offset, const void* buffer, size_t size) override;
  Result<uint64_t> Size() override;
  Status Truncate(uint64_t size) override;
  Status Sync() override;
  std::string Name() const override { return inner_->Name(); }
  Result<std::unique_ptr<FileIo>> OpenCompanion(std::string_view suffix, bool create) override;
  Status RemoveCompanion(std::string_view suffix) override;

  int64_t operations() const { return counter_->operations; }
  bool failed() const { return counter_->failed; }

 private:
  struct Counter {
    int64_t fail_at = 0;
    int64_t operations = 0;
    bool failed = false;
    bool reads_too = false;
  };
  FaultInjectingFile(std::unique_ptr<FileIo> inner, std::shared_ptr<Counter> counter);
  Status CountOperation(const char* what);

  std::unique_ptr<FileIo> inner_;
  std::shared_ptr<Counter> counter_;
};

// A file held in memory that loses power. Writes reach a volatile copy; Sync makes a file's
// writes durable (`durable`, the bytes a MemoryFile reopens afterwards). At the Nth mutating
// operation (write, truncate, sync, companion creation or removal) the power fails: that
// operation and every later one fail (reads too), and the durable bytes hold only what was synced
// before. Companion files (the journal) share the power and the count; creating or removing one
// is durable at once, as a file system's metadata journal makes it.
class PowerLossFile : public FileIo {
 public:
  PowerLossFile(std::shared_ptr<std::vector<uint8_t>> durable,
                std::shared_ptr<MemoryFile::Companions> durable_companions, int64_t fail_at_operation);

  Status ReadAt(uint64_t offset, void* buffer, size_t size) override;
  Status WriteAt(uint64_t offset, const void* buffer, size_t size) override;
  Result<uint64_t> Size() override;
  Status Truncate(uint64_t size) override;
  Status Sync() override;
  std::string Name() const override { return "memory" + suffix_; }
  Result<std::unique_ptr<FileIo>> OpenCompanion(std::string_view suffix, bool create) override;
  Status RemoveCompanion(std::string_view suffix) override;

  bool power_lost() const { return power_->lost; }

 private:
  struct Power {
    int64_t fail_at = 0;
    int64_t operations = 0;
    bool lost = false;
    std::shared_ptr<MemoryFile::Companions> durable_companions;
    std::map<std::string, std::vector<uint8_t>, std::less<>> volatile_files;  // by suffix; "" the file
  };
  PowerLossFile(std::shared_ptr<std::vector<uint8_t>> durable, std::string suffix, std::shared_ptr<Power> power);
  Status CountOperation(const char* what);
  Status Check() const;
  std::vector<uint8_t>& Volatile() { return power_->volatile_files[suffix_]; }

  std::shared_ptr<std::vector<uint8_t>> durable_;
  std::string suffix_;
  std::shared_ptr<Power> power_;
};

}  // namespace tabulon::jet
