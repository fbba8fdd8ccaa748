#include "jet/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tabulon::jet {
namespace {

Result<std::unique_ptr<FileIo>> OpenPosixWithFlags(const std::string& path, int flags);

class PosixFile : public FileIo {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  Status ReadAt(uint64_t offset, void* buffer, size_t size) override {
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
      const ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Error("read", offset);
      }
      if (n == 0) {
        return CorruptError(path_ + ": unexpected end of file at offset " + std::to_string(offset));
      }
      out += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return Status::Ok();
  }

  Status WriteAt(uint64_t offset, const void* buffer, size_t size) override {
    const auto* in = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, in, size, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Error("write", offset);
      }
      in += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return Status::Ok();
  }

  Result<uint64_t> Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return Error("stat", 0);
    return static_cast<uint64_t>(st.st_size);
  }

  Status Truncate(uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Error("truncate", size);
    return Status::Ok();
  }

  Status Sync() override {
    if (::fdatasync(fd_) != 0) return Error("sync", 0);
    return Status::Ok();
  }

  std::string Name() const override { return path_; }

  Result<std::unique_ptr<FileIo>> OpenCompanion(std::string_view suffix, bool create) override {
    return OpenPosixWithFlags(path_ + std::string(suffix), O_CLOEXEC | O_RDWR | (create ? O_CREAT : 0));
  }

  Status RemoveCompanion(std::string_view suffix) override {
    const std::string path = path_ + std::string(suffix);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return IoError(path + ": cannot remove: " + std::strerror(errno));
    }
    return Status::Ok();
  }

 private:
  Status Error(const char* what, uint64_t offset) const {
    return IoError(path_ + ": " + what + " at offset " + std::to_string(offset) + " failed: " + std::strerror(errno));
  }

  int fd_;
  std::string path_;
};

}  // namespace

Result<std::unique_ptr<FileIo>> FileIo::OpenCompanion(std::string_view suffix, bool /*create*/) {
  return UnsupportedError(Name() + ": no companion file " + std::string(suffix));
}

Status FileIo::RemoveCompanion(std::string_view suffix) {
  return UnsupportedError(Name() + ": no companion file " + std::string(suffix));
}

Result<std::unique_ptr<FileIo>> OpenPosixFile(const std::string& path, OpenMode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kReadOnly: flags |= O_RDONLY; break;
    case OpenMode::kReadWrite: flags |= O_RDWR; break;
    case OpenMode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
  }
  return OpenPosixWithFlags(path, flags);
}

namespace {
Result<std::unique_ptr<FileIo>> OpenPosixWithFlags(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) return NotFoundError(path + ": no such file");
    if (err == EEXIST) return AlreadyExistsError(path + ": file already exists");
    return IoError(path + ": cannot open: " + std::strerror(err));
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
    ::close(fd);
    return InvalidArgumentError(path + ": not a regular file");
  }
  return std::unique_ptr<FileIo>(new PosixFile(fd, path));
}
}  // namespace

MemoryFile::MemoryFile(std::shared_ptr<std::vector<uint8_t>> bytes, std::shared_ptr<Companions> companions)
    : bytes_(bytes ? std::move(bytes) : std::make_shared<std::vector<uint8_t>>()),
      companions_(companions ? std::move(companions) : std::make_shared<Companions>()) {}

Result<std::unique_ptr<FileIo>> MemoryFile::OpenCompanion(std::string_view suffix, bool create) {
  auto it = companions_->find(suffix);
  if (it == companions_->end()) {
    if (!create) return NotFoundError("memory" + std::string(suffix) + ": no such file");
    it = companions_->emplace(std::string(suffix), std::make_shared<std::vector<uint8_t>>()).first;
  }
  // A companion has no companions of its own.
  return std::unique_ptr<FileIo>(new MemoryFile(it->second, std::make_shared<Companions>()));
}

Status MemoryFile::RemoveCompanion(std::string_view suffix) {
  if (auto it = companions_->find(suffix); it != companions_->end()) companions_->erase(it);
  return Status::Ok();
}

Status MemoryFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (offset > bytes_->size() || size > bytes_->size() - offset) {
    return CorruptError("memory: unexpected end of file at offset " + std::to_string(offset));
  }
  if (size > 0) std::memcpy(buffer, bytes_->data() + offset, size);
  return Status::Ok();
}

Status MemoryFile::WriteAt(uint64_t offset, const void* buffer, size_t size) {
  if (offset + size > bytes_->size()) bytes_->resize(offset + size);
  if (size > 0) std::memcpy(bytes_->data() + offset, buffer, size);
  return Status::Ok();
}

Result<uint64_t> MemoryFile::Size() { return static_cast<uint64_t>(bytes_->size()); }

Status MemoryFile::Truncate(uint64_t size) {
  bytes_->resize(size);
  return Status::Ok();
}

Status MemoryFile::Sync() { return Status::Ok(); }

FaultInjectingFile::FaultInjectingFile(std::unique_ptr<FileIo> inner, int64_t fail_at_operation, bool reads_too)
    : FaultInjectingFile(std::move(inner), std::make_shared<Counter>(Counter{fail_at_operation, 0, false, reads_too})) {
}

FaultInjectingFile::FaultInjectingFile(std::unique_ptr<FileIo> inner, std::shared_ptr<Counter> counter)
    : inner_(std::move(inner)), counter_(std::move(counter)) {}

Status FaultInjectingFile::CountOperation(const char* what) {
  Counter& c = *counter_;
  ++c.operations;
  if (c.failed || (c.fail_at > 0 && c.operations >= c.fail_at)) {
    c.failed = true;
    return IoError(inner_->Name() + ": injected failure of " + what + " (operation " + std::to_string(c.operations) +
                   ")");
  }
  return Status::Ok();
}

Result<std::unique_ptr<FileIo>> FaultInjectingFile::OpenCompanion(std::string_view suffix, bool create) {
  if (create) RETURN_IF_ERROR(CountOperation("create"));
  ASSIGN_OR_RETURN(auto companion, inner_->OpenCompanion(suffix, create));
  return std::unique_ptr<FileIo>(new FaultInjectingFile(std::move(companion), counter_));
}

Status FaultInjectingFile::RemoveCompanion(std::string_view suffix) {
  RETURN_IF_ERROR(CountOperation("remove"));
  return inner_->RemoveCompanion(suffix);
}

Status FaultInjectingFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (counter_->reads_too) RETURN_IF_ERROR(CountOperation("read"));
  return inner_->ReadAt(offset, buffer, size);
}

Status FaultInjectingFile::WriteAt(uint64_t offset, const void* buffer, size_t size) {
  RETURN_IF_ERROR(CountOperation("write"));
  return inner_->WriteAt(offset, buffer, size);
}

Result<uint64_t> FaultInjectingFile::Size() { return inner_->Size(); }

Status FaultInjectingFile::Truncate(uint64_t size) {
  RETURN_IF_ERROR(CountOperation("truncate"));
  return inner_->Truncate(size);
}

Status FaultInjectingFile::Sync() {
  RETURN_IF_ERROR(CountOperation("sync"));
  return inner_->Sync();
}

PowerLossFile::PowerLossFile(std::shared_ptr<std::vector<uint8_t>> durable,
                             std::shared_ptr<MemoryFile::Companions> durable_companions, int64_t fail_at_operation)
    : durable_(std::move(durable)), power_(std::make_shared<Power>()) {
  power_->fail_at = fail_at_operation;
  power_->durable_companions = std::move(durable_companions);
  power_->volatile_files[""] = *durable_;
}

PowerLossFile::PowerLossFile(std::shared_ptr<std::vector<uint8_t>> durable, std::string suffix,
                             std::shared_ptr<Power> power)
    : durable_(std::move(durable)), suffix_(std::move(suffix)), power_(std::move(power)) {}

Status PowerLossFile::Check() const { return power_->lost ? IoError(Name() + ": the power is lost") : Status::Ok(); }

Status PowerLossFile::CountOperation(const char* what) {
  RETURN_IF_ERROR(Check());
  if (++power_->operations >= power_->fail_at && power_->fail_at > 0) {
    power_->lost = true;
    return IoError(Name() + ": power lost during " + what + " (operation " + std::to_string(power_->operations) + ")");
  }
  return Status::Ok();
}

Status PowerLossFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  RETURN_IF_ERROR(Check());
  const std::vector<uint8_t>& bytes = Volatile();
  if (offset > bytes.size() || size > bytes.size() - offset) {
    return IoError(Name() + ": read of " + std::to_string(size) + " bytes at " + std::to_string(offset) +
                   " beyond the end");
  }
  std::memcpy(buffer, bytes.data() + offset, size);
  return Status::Ok();
}

Status PowerLossFile::WriteAt(uint64_t offset, const void* buffer, size_t size) {
  RETURN_IF_ERROR(CountOperation("write"));
  std::vector<uint8_t>& bytes = Volatile();
  if (bytes.size() < offset + size) bytes.resize(offset + size);
  std::memcpy(bytes.data() + offset, buffer, size);
  return Status::Ok();
}

Result<uint64_t> PowerLossFile::Size() {
  RETURN_IF_ERROR(Check());
  return static_cast<uint64_t>(Volatile().size());
}

Status PowerLossFile::Truncate(uint64_t size) {
  RETURN_IF_ERROR(CountOperation("truncate"));
  Volatile().resize(size);
  return Status::Ok();
}

Status PowerLossFile::Sync() {
  RETURN_IF_ERROR(CountOperation("sync"));
  *durable_ = Volatile();
  return Status::Ok();
}

Result<std::unique_ptr<FileIo>> PowerLossFile::OpenCompanion(std::string_view suffix, bool create) {
  RETURN_IF_ERROR(Check());
  MemoryFile::Companions& durable = *power_->durable_companions;
  auto on_disk = durable.find(suffix);
  if (on_disk == durable.end()) {
    if (!create) return NotFoundError(Name() + std::string(suffix) + ": no such file");
    RETURN_IF_ERROR(CountOperation("create"));
    on_disk = durable.emplace(std::string(suffix), std::make_shared<std::vector<uint8_t>>()).first;
    power_->volatile_files[std::string(suffix)].clear();
  } else if (power_->volatile_files.find(suffix) == power_->volatile_files.end()) {
    power_->volatile_files[std::string(suffix)] = *on_disk->second;
  }
  return std::unique_ptr<FileIo>(new PowerLossFile(on_disk->second, std::string(suffix), power_));
}

Status PowerLossFile::RemoveCompanion(std::string_view suffix) {
  RETURN_IF_ERROR(CountOperation("remove"));
  if (auto it = power_->volatile_files.find(suffix); it != power_->volatile_files.end()) {
    power_->volatile_files.erase(it);
  }
  if (auto it = power_->durable_companions->find(suffix); it != power_->durable_companions->end()) {
    power_->durable_companions->erase(it);
  }
  return Status::Ok();
}

}  // namespace tabulon::jet
