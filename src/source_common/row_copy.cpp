#include "source_common/row_copy.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "data/error_text.h"
#include "data/properties.h"
#include "source_common/target_columns.h"
#include "source_common/access_names.h"
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

// The target's Date/Time columns of `table` by ordinal (from 1); none when the target cannot list
// its columns, which only leaves rounding uncounted.
std::vector<bool> TargetDateColumns(Session* target, const std::string& table) {
  std::vector<bool> dates;
  for (const TargetColumn& c : ReadTargetColumns(target, table)) {
    if (c.ordinal == 0 || c.ordinal > 4096) continue;
    if (dates.size() < c.ordinal + 1) dates.resize(c.ordinal + 1);
    dates[c.ordinal] = c.type == DBTYPE_DATE;
  }
  return dates;
}

}  // namespace

bool HasDigitsBelowMillisecond(std::string_view value) {
  const size_t colon = value.rfind(':');
  if (colon == std::string_view::npos) return false;
  size_t i = value.find('.', colon);
  if (i == std::string_view::npos) return false;
  for (size_t digit = 1; ++i < value.size() && value[i] >= '0' && value[i] <= '9'; ++digit) {
    if (digit > 3 && value[i] != '0') return true;
  }
  return false;
}

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
                               const SourceTable& source_table, const std::vector<LiteralWriter>& writers) {
  const std::string& table = source_table.name;
  const std::string access_table = AccessTableName(owner, source_table);
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
  const std::string prefix = "insert into " + AccessName(access_table) + " values (";
  const std::vector<bool> dates = TargetDateColumns(target, access_table);
  std::vector<long long> rounded_by_column(dates.size(), 0);
  std::string statement;
  long long read = 0, written = 0, failed = 0, rounded = 0;
  std::string result = kCopied;
  const auto tell = [&](bool finished) {
    if (owner.row_progress) owner.row_progress(table, RowCopyCounts{read, written, failed, rounded, finished});
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
    std::vector<size_t> rounded_columns;
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
      if (k < dates.size() && dates[k] && HasDigitsBelowMillisecond(*value)) rounded_columns.push_back(k);
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
        for (size_t k : rounded_columns) ++rounded_by_column[k];
        rounded += static_cast<long long>(rounded_columns.size());
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
  if (rounded > 0) {
    std::string line = "T::TABLE [" + table + "]: values rounded to the millisecond:";
    for (size_t k = 1; k < rounded_by_column.size(); ++k) {
      if (rounded_by_column[k] == 0) continue;
      line += (line.back() == ':' ? " [" : "; [") + ColumnName(rows, k) + "] " + std::to_string(rounded_by_column[k]);
    }
    WriteOutput(owner.output, "%s", line.c_str());
  }
  WriteOutput(owner.output, "[%s] %lld records converted, convertion completed SUCCESSFULLY!", table.c_str(), written);
  tell(true);
  if (result != kCopied) return ProviderError(result);
  return RowCopyCounts{read, written, failed, rounded, true};
}

Result<RowCopyCounts> CopyTableRows(const SourceContext& owner, Session* source, Session* target,
                                    std::string_view database, const SourceTable& table, OpenCopyRowsFunction open) {
  RETURN_IF_ERROR(CheckCopySessions(owner, source, target));
  TextRowset rows;
  std::vector<LiteralWriter> writers;
  if (Status opened = open(owner, source, database, table, &rows, &writers); !opened.ok()) {
    // Said here, since the table flow goes on: a failed read must not look like an empty table.
    WriteOutput(owner.output, "E::[%s] Reading rows failed: %s", table.name.c_str(), opened.message().c_str());
    return opened;
  }
  if (!rows.has_rowset()) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return RowCopyCounts{};
  }
  return CopyRows(owner, rows, target, table, writers);
}

}  // namespace tabulon::source_common
