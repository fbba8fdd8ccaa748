#include "base/status.h"

namespace tabulon {

const char* ErrorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::kOk: return "OK";
    case ErrorCode::kInvalidArgument: return "Invalid argument";
    case ErrorCode::kNotFound: return "Not found";
    case ErrorCode::kAlreadyExists: return "Already exists";
    case ErrorCode::kCorrupt: return "Corrupt";
    case ErrorCode::kIo: return "I/O error";
    case ErrorCode::kUnsupported: return "Unsupported";
    case ErrorCode::kLimit: return "Limit exceeded";
    case ErrorCode::kProvider: return "Provider error";
    case ErrorCode::kNoConnection: return "No connection";
    case ErrorCode::kCancelled: return "Cancelled";
    case ErrorCode::kInternal: return "Internal error";
  }
  return "Unknown error";
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  return std::string(ErrorCodeName(code_)) + ": " + message_;
}

Status Status::WithContext(const std::string& context) const {
  if (ok()) return *this;
  return Status(code_, context + ": " + message_);
}

Status InvalidArgumentError(std::string message) { return {ErrorCode::kInvalidArgument, std::move(message)}; }
Status NotFoundError(std::string message) { return {ErrorCode::kNotFound, std::move(message)}; }
Status AlreadyExistsError(std::string message) { return {ErrorCode::kAlreadyExists, std::move(message)}; }
Status CorruptError(std::string message) { return {ErrorCode::kCorrupt, std::move(message)}; }
Status IoError(std::string message) { return {ErrorCode::kIo, std::move(message)}; }
Status UnsupportedError(std::string message) { return {ErrorCode::kUnsupported, std::move(message)}; }
Status LimitError(std::string message) { return {ErrorCode::kLimit, std::move(message)}; }
Status ProviderError(std::string message) { return {ErrorCode::kProvider, std::move(message)}; }
Status InternalError(std::string message) { return {ErrorCode::kInternal, std::move(message)}; }

}  // namespace tabulon
