#include "source_common/row_copy.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "data/error_text.h"
#include "data/properties.h"
#include "source_common/access_statements.h"

namespace tabulon::source_common {

using namespace data;
using namespace workspace;

namespace {

constexpr int kReportedInsertFailures = 10;
constexpr int kProgressEvery = 2000;
constexpr int kProgressCallbackEvery = 250;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string ColumnName(const TextRowset& rows, size_t ordinal) {
  for (const ColumnInfo& c : rows.columns()) {
    if (c.ordinal == ordinal) return c.name;
  }
  return std::to_string(ordinal);
}

}  // namespace

Status WriteTextLiteral(std::string& out, std::string_view value) {
  AppendAccessString(out, value);
  return Status::Ok();
}

Status WriteNumberLiteral(std::string& out, std::string_view value) {
  if (IsNumberLiteral(value)) {
    out.append(value);
  } else {
    AppendAccessString(out, value);
  }
  return Status::Ok();
}

Status WriteBinaryLiteral(std::string& out, std::string_view hex_digits) {
  if (hex_digits.size() % 2 != 0 || !std::all_of(hex_digits.begin(), hex_digits.end(), IsHexDigit)) {
    return InvalidArgumentError("the binary value is not hexadecimal text");
  }
  out += "0x";
  out.append(hex_digits);
  return Status::Ok();
}

Status CheckCopySessions(const SourceContext& owner, Session* source, Session* target) {
  for (const auto& [session, missing] :
       {std::pair{source, "No Source Connection!"}, std::pair{target, "No Target Connection!"}}) {
    if (session == nullptr) {
      WriteOutput(owner.output, "%s", missing);
      return InvalidArgumentError(missing);
    }
  }
  return Status::Ok();
}

// What `result` holds while the copy goes well; anything else is the failure's text.
constexpr char kCopied[] = "true";

Result<RowCopyCounts> CopyRows(const SourceContext& owner, TextRowset& rows, Session* target,
                               std::string_view table_name, const std::vector<LiteralWriter>& writers) {
  const std::string table(table_name);
  namespace fs = std::filesystem;
  const fs::path data_file = fs::path(owner.work_folder) / (SafeFileName(table) + ".data");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(data_file.c_str(), "w+"), &std::fclose);
  if (file == nullptr && owner.auto_backup) {
    WriteOutput(owner.output, "E::[%s] The data file %s cannot be written", table.c_str(), data_file.c_str());
  }

  std::unique_ptr<Command> command;
  if (Failed(target->CreateCommand(&command)) || command == nullptr) {
    const std::string error = ErrorDescription(target);
    WriteOutput(owner.output, "E::[%s] %s", table.c_str(), error.c_str());
    return ProviderError(error);
  }
  const PropertySet properties = BuildStatementRowsetProperties();
  const std::string prefix = "insert into " + AccessName(table) + " values (";
  std::string statement;
  long long read = 0, written = 0, failed = 0;
  std::string result = kCopied;
  const auto tell = [&](bool finished) {
    if (owner.row_progress) owner.row_progress(table, RowCopyCounts{read, written, failed, finished});
  };
  tell(false);
  const auto refuse = [&](const std::string& why) {
    if (++failed <= kReportedInsertFailures) {
      WriteOutput(owner.output, "E::[%s] Record %lld was not inserted: %s", table.c_str(), read, why.c_str());
    }
  };
  for (;;) {
    const Hresult fetched = MoveNextRow(rows);
    if (fetched == DB_S_ENDOFROWSET) break;
    if (fetched != S_OK) {
      // Rows that cannot be read are not silently dropped: the copy is reported as failed.
      result = ErrorDescription(rows.error_source());
      WriteOutput(owner.output, "E::[%s] Reading rows failed after %lld records: %s", table.c_str(), read,
                  result.c_str());
      break;
    }
    ++read;
    statement.assign(prefix);
    std::string refused;
    const RowBuffer& buffer = rows.buffer();
    for (size_t k = 1; k <= buffer.columns() && refused.empty(); ++k) {
      if (k > 1) statement += ',';
      std::optional<std::string> whole;
      std::optional<std::string_view> value;
      if (buffer.IsNull(k)) {
        value = std::nullopt;
      } else if (buffer.Status(k) == DBSTATUS_S_TRUNCATED) {
        Result<std::optional<std::string>> full = ReadFullValue(rows, k);
        if (!full.ok()) {
          result = full.status().message();
          WriteOutput(owner.output, "E::[%s] Reading a long value failed: %s", table.c_str(), result.c_str());
          break;
        }
        whole = std::move(*full);
        if (whole) value = *whole;
      } else {
        value = buffer.Value(k);
      }
      if (!value) {
        statement += "NULL";
        continue;
      }
      const Status status = k <= writers.size() && writers[k - 1] ? writers[k - 1](statement, *value)
                                                                  : WriteTextLiteral(statement, *value);
      if (!status.ok()) {
        refused = "column [" + ColumnName(rows, k) + "]: " + status.message();
      }
    }
    if (result != "true") break;
    if (!refused.empty()) {
      refuse(refused);
    } else {
      statement += ");\n";
      if (owner.auto_backup && file != nullptr) std::fwrite(statement.data(), 1, statement.size(), file.get());
      std::unique_ptr<Rowset> no_rows;
      const Hresult code = command->Execute(statement, properties, {}, &no_rows);
      no_rows.reset();
      // An insert can make the target give up an index (a key it cannot sort): said here, as
      // ExecuteStatement says it, or the index would be lost without a word.
      for (const std::string& notice : command->Notices()) {
        WriteOutput(owner.output, "T::%s", notice.c_str());
        if (owner.object_lost) owner.object_lost(table, notice);
      }
      if (code == S_OK) {
        ++written;
      } else {
        refuse(ErrorDescription(command.get()));
      }
    }
    if (read % kProgressEvery == 0) WriteOutput(owner.output, "[%s] %lld records converted!", table.c_str(), read);
    if (read % kProgressCallbackEvery == 0) tell(false);
    if (owner.stop_requested && owner.stop_requested()) {
      WriteOutput(owner.output, "Data Converting Terminaled!");
      break;
    }
  }
  // Inserts the target held back in a batch must be stored before the count is given.
  if (Failed(target->Commit())) {
    result = ErrorDescription(target);
    WriteOutput(owner.output, "E::[%s] Storing the records failed: %s", table.c_str(), result.c_str());
    tell(true);
    return ProviderError(result);
  }
  if (failed > 0) {
    WriteOutput(owner.output, "E::[%s] %lld records could not be inserted!", table.c_str(), failed);
  }
  WriteOutput(owner.output, "[%s] %lld records converted, convertion completed SUCCESSFULLY!", table.c_str(), written);
  tell(true);
  if (result != kCopied) return ProviderError(result);
  return RowCopyCounts{read, written, failed, true};
}

}  // namespace tabulon::source_common
