// Errors as values: every fallible operation of the core returns a Status or a Result<T>.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tabulon {

enum class ErrorCode {
  kOk = 0,
  kInvalidArgument,  // the caller passed something the operation cannot take
  kNotFound,         // a named object (table, file, column) does not exist
  kAlreadyExists,
  kCorrupt,      // a file does not follow its format; the message names page and offset
  kIo,           // the operating system refused a file operation
  kUnsupported,  // valid input the program does not handle (yet)
  kLimit,        // a value or a file exceeds what the target can hold
  kProvider,     // a database provider reported a failure; the message is its text
  kNoConnection,
  kCancelled,
  kInternal,
};

// Short English name of a code, for messages and test output.
const char* ErrorCodeName(ErrorCode code);

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(ErrorCode code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status Ok() { return {}; }

  bool ok() const { return code_ == ErrorCode::kOk; }
  ErrorCode code() const { return code_; }
  const std::string& message() const { return message_; }

  // "Corrupt: page 12 offset 0x1a: bad row count" style text.
  std::string ToString() const;

  // Returns this status with "context: " put before the message (no-op when ok).
  Status WithContext(const std::string& context) const;

 private:
  ErrorCode code_ = ErrorCode::kOk;
  std::string message_;
};

Status InvalidArgumentError(std::string message);
Status NotFoundError(std::string message);
Status AlreadyExistsError(std::string message);
Status CorruptError(std::string message);
Status IoError(std::string message);
Status UnsupportedError(std::string message);
Status LimitError(std::string message);
Status ProviderError(std::string message);
Status InternalError(std::string message);

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : data_(std::move(value)) {}        // NOLINT(google-explicit-constructor)
  Result(Status status) : data_(std::move(status)) {  // NOLINT(google-explicit-constructor)
    assert(!std::get<Status>(data_).ok() && "a Result needs a value or an error");
  }

  bool ok() const { return std::holds_alternative<T>(data_); }
  explicit operator bool() const { return ok(); }

  const Status& status() const {
    static const Status kOkStatus;
    return ok() ? kOkStatus : std::get<Status>(data_);
  }

  T& value() & { return std::get<T>(data_); }
  const T& value() const& { return std::get<T>(data_); }
  T&& value() && { return std::get<T>(std::move(data_)); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, Status> data_;
};

}  // namespace tabulon

#define TABULON_CONCAT_INNER(a, b) a##b
#define TABULON_CONCAT(a, b) TABULON_CONCAT_INNER(a, b)

// Returns the status from the enclosing function when it is an error.
#define RETURN_IF_ERROR(expr)                          \
  do {                                                 \
    ::tabulon::Status tabulon_status_ = (expr);        \
    if (!tabulon_status_.ok()) return tabulon_status_; \
  } while (0)

// Declares `lhs` from a Result's value, or returns its status from the enclosing function.
#define ASSIGN_OR_RETURN(lhs, expr) ASSIGN_OR_RETURN_IMPL(TABULON_CONCAT(tabulon_result_, __LINE__), lhs, expr)
#define ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
  auto tmp = (expr);                          \
  if (!tmp.ok()) return tmp.status();         \
  lhs = std::move(tmp).value()
