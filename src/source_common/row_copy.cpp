#include "source_common/row_copy.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "data/error_text.h"
#include "data/properties.h"
#include "source_common/access_names.h"
#include "source_common/access_statements.h"
#include "source_common/target_columns.h"

namespace tabulon::source_common {

using namespace data;
using namespace workspace;

namespace {

constexpr int kReportedInsertFailures = 10;
constexpr int kProgressEvery = 2000;
constexpr int kProgressCallbackEvery = 250;
// The reading thread hands rows over in blocks of this many rows or bytes (whichever comes
// first), and runs at most kBlocksAhead blocks ahead of the writing: memory stays flat.
constexpr size_t kBlockRows = 512;
constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kBlocksAhead = 4;
// Typed rows are fetched this many at a time.
constexpr size_t kRowsFetchedAhead = 32;
// The reading thread prepares rows for the target while this many blocks wait for the writer,
// looked at every kPrepareCheckRows rows.
constexpr size_t kPrepareWhenWaiting = 2;
constexpr size_t kPrepareCheckRows = 64;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

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

size_t FieldBytes(const Field& field) { return sizeof(Field) + field.text.size(); }

// One row on its way from the reading thread to the writing one.
struct CopyRow {
  std::vector<Field> fields;
  std::unique_ptr<PreparedRow> prepared;  // the target's preparer's work, when `is_prepared`
  bool is_prepared = false;
  std::string refused;          // why a writer refused a value; "" when the row is to be stored
  std::vector<size_t> rounded;  // target Date/Time columns (ordinals) whose value is rounded
};

// Rows read, and how the reading ended once it has.
struct CopyBlock {
  std::vector<CopyRow> rows;
  size_t count = 0;
  bool last = false;              // no block follows
  std::string failure;            // the provider's words when reading failed
  bool long_value_failed = false; // reading a long value failed (else fetching a row)
};

// Blocks between the two threads: at most kBlocksAhead wait; used blocks go back to be refilled.
class BlockQueue {
 public:
  // False when the writer closed the queue (the reader then stops).
  bool Push(std::unique_ptr<CopyBlock> block) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return closed_ || full_.size() < kBlocksAhead; });
    if (closed_) return false;
    full_.push_back(std::move(block));
    ready_.notify_one();
    return true;
  }
  std::unique_ptr<CopyBlock> Pop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !full_.empty(); });
    std::unique_ptr<CopyBlock> block = std::move(full_.front());
    full_.pop_front();
    room_.notify_one();
    return block;
  }
  void Recycle(std::unique_ptr<CopyBlock> block) {
    std::lock_guard lock(mutex_);
    // Every block stays for refilling (at most kBlocksAhead + 2 exist: those waiting, the one
    // filled and the one written): rows keep their buffers, and nothing is made anew a block.
    spare_.push_back(std::move(block));
  }
  // How many blocks wait for the writer now.
  size_t Waiting() {
    std::lock_guard lock(mutex_);
    return full_.size();
  }
  std::unique_ptr<CopyBlock> TakeSpare() {
    std::lock_guard lock(mutex_);
    if (spare_.empty()) return std::make_unique<CopyBlock>();
    std::unique_ptr<CopyBlock> block = std::move(spare_.back());
    spare_.pop_back();
    return block;
  }
  // The writer needs no more rows: a waiting reader gives up.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    room_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable room_, ready_;
  std::deque<std::unique_ptr<CopyBlock>> full_;
  std::vector<std::unique_ptr<CopyBlock>> spare_;
  bool closed_ = false;
};

// The reading side: fetches rows, writes their fields and hands them over in blocks until the
// rows end, reading fails or the queue is closed.
void ReadRows(CopySource& source, const std::vector<bool>& dates, RowPreparer* preparer, BlockQueue& queue) {
  std::vector<Field> fetched;
  for (;;) {
    std::unique_ptr<CopyBlock> block = queue.TakeSpare();
    RowPreparer* prepare = nullptr;
    block->count = 0;
    block->failure.clear();
    block->last = false;
    size_t bytes = 0;
    while (block->count < kBlockRows && bytes < kBlockBytes) {
      bool long_value = false;
      Result<bool> got = FetchCopyRow(source, fetched, &long_value);
      if (!got.ok() || !*got) {
        block->last = true;
        if (!got.ok()) {
          block->failure = got.status().message();
          block->long_value_failed = long_value;
        }
        break;
      }
      // Rows are prepared here only while the writer has blocks waiting: whichever thread is
      // ahead takes on the preparing, so that neither waits for the other long.
      if (block->count % kPrepareCheckRows == 0) prepare = queue.Waiting() >= kPrepareWhenWaiting ? preparer : nullptr;
      if (block->rows.size() == block->count) block->rows.emplace_back();
      CopyRow& row = block->rows[block->count++];
      row.rounded.clear();
      for (size_t k = 1; k <= fetched.size(); ++k) {
        if (k < dates.size() && dates[k] && HasDigitsBelowMillisecond(fetched[k - 1])) row.rounded.push_back(k);
        bytes += FieldBytes(fetched[k - 1]);
      }
      row.refused = WriteCopyFields(source, fetched, row.fields);
      row.is_prepared = prepare != nullptr && row.refused.empty();
      if (row.is_prepared) prepare->PrepareRow(row.fields, &row.prepared);
    }
    const bool last = block->last;
    if (!queue.Push(std::move(block)) || last) return;
  }
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

bool HasDigitsBelowMillisecond(const Field& value) {
  if (value.kind == Field::Kind::kDate) return value.date.fraction_ns % 1'000'000 != 0;
  if (value.kind == Field::Kind::kText) return HasDigitsBelowMillisecond(value.text);
  return false;
}

Status WriteTextField(const Field& value, Field& out) {
  if (value.kind == Field::Kind::kText) {
    out.SetText(Field::Kind::kText, value.text);
  } else {
    out.SetText(Field::Kind::kText, FieldText(value));
  }
  return Status::Ok();
}

Status WriteNumberField(const Field& value, Field& out) {
  switch (value.kind) {
    case Field::Kind::kInteger: out.SetInteger(value.integer); return Status::Ok();
    case Field::Kind::kNumber: out.SetText(Field::Kind::kNumber, value.text); return Status::Ok();
    case Field::Kind::kDouble:
      if (std::isfinite(value.real)) {
        out.SetDouble(value.real);
        return Status::Ok();
      }
      break;
    default: break;
  }
  std::string text = value.kind == Field::Kind::kText ? value.text : FieldText(value);
  const Field::Kind kind = IsNumberLiteral(text) ? Field::Kind::kNumber : Field::Kind::kText;
  out.kind = kind;
  out.text = std::move(text);
  return Status::Ok();
}

Status WriteBinaryField(const Field& value, Field& out) {
  if (value.kind == Field::Kind::kBytes) {
    out.SetText(Field::Kind::kBytes, value.text);
    return Status::Ok();
  }
  const std::string_view hex = value.text;
  if (value.kind != Field::Kind::kText || hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), IsHexDigit)) {
    return InvalidArgumentError("the binary value is not hexadecimal text");
  }
  out.kind = Field::Kind::kBytes;
  out.text.resize(hex.size() / 2);
  for (size_t i = 0; i < out.text.size(); ++i) {
    out.text[i] = static_cast<char>(HexValue(hex[2 * i]) * 16 + HexValue(hex[2 * i + 1]));
  }
  return Status::Ok();
}

void AppendFieldLiteral(std::string& out, const Field& field) {
  switch (field.kind) {
    case Field::Kind::kNull: out += "NULL"; return;
    case Field::Kind::kText: AppendAccessString(out, field.text); return;
    case Field::Kind::kNumber: out += field.text; return;
    case Field::Kind::kBytes:
      out += "0x";
      out += HexText(field.text);
      return;
    case Field::Kind::kDate:
      out += '#';
      out += FieldText(field);
      out += '#';
      return;
    case Field::Kind::kDouble:
      if (!std::isfinite(field.real)) {
        AppendAccessString(out, FieldText(field));
        return;
      }
      out += FieldText(field);
      return;
    case Field::Kind::kInteger:
    case Field::Kind::kBoolean: out += FieldText(field); return;
  }
}

Result<bool> FetchCopyRow(CopySource& source, std::vector<Field>& fetched, bool* long_value) {
  if (long_value != nullptr) *long_value = false;
  TextRowset& rows = source.rows;
  if (rows.typed()) {
    if (source.ahead_next_ == source.ahead_count_) {
      // The rows fetched ahead are used up: the next few, unless the last fetch ended.
      if (source.ahead_end_ == DB_S_ENDOFROWSET) return false;
      if (source.ahead_end_ != S_OK) return ProviderError(ErrorDescription(rows.error_source()));
      source.ahead_.resize(kRowsFetchedAhead);
      source.ahead_next_ = 0;
      source.ahead_end_ = MoveNextTypedRows(rows, source.ahead_, &source.ahead_count_);
      if (source.ahead_end_ == S_OK && source.ahead_count_ < kRowsFetchedAhead) source.ahead_end_ = DB_S_ENDOFROWSET;
      if (source.ahead_count_ == 0) return FetchCopyRow(source, fetched, long_value);
    }
    fetched.swap(source.ahead_[source.ahead_next_++]);
    return true;
  }
  const Hresult code = MoveNextRow(rows);
  if (code == DB_S_ENDOFROWSET) return false;
  if (code != S_OK) return ProviderError(ErrorDescription(rows.error_source()));
  const RowBuffer& buffer = rows.buffer();
  fetched.resize(buffer.columns());
  for (size_t k = 1; k <= buffer.columns(); ++k) {
    Field& field = fetched[k - 1];
    if (buffer.IsNull(k)) {
      field.SetNull();
    } else if (buffer.Status(k) == DBSTATUS_S_TRUNCATED) {
      Result<std::optional<std::string>> whole = ReadFullValue(rows, k);
      if (!whole.ok()) {
        if (long_value != nullptr) *long_value = true;
        return whole.status();
      }
      if (*whole) {
        field.kind = Field::Kind::kText;
        field.text = std::move(**whole);
      } else {
        field.SetNull();
      }
    } else {
      field.SetText(Field::Kind::kText, buffer.Value(k));
    }
  }
  return true;
}

std::string WriteCopyFields(const CopySource& source, const std::vector<Field>& fetched, std::vector<Field>& fields) {
  fields.resize(fetched.size());
  for (size_t k = 0; k < fetched.size(); ++k) {
    if (fetched[k].is_null()) {
      fields[k].SetNull();
      continue;
    }
    const Status status = k < source.writers.size() && source.writers[k] ? source.writers[k](fetched[k], fields[k])
                                                                         : WriteTextField(fetched[k], fields[k]);
    if (!status.ok()) return "column [" + ColumnName(source.rows, k + 1) + "]: " + status.message();
  }
  return {};
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

Result<RowCopyCounts> CopyRows(const SourceContext& owner, CopySource& source, Session* target,
                               const SourceTable& source_table) {
  const std::string& table = source_table.name;
  const std::string access_table = AccessTableName(owner, source_table);
  namespace fs = std::filesystem;
  const fs::path data_file = fs::path(owner.work_folder) / (SafeFileName(table) + ".data");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(data_file.c_str(), "w+"), &std::fclose);
  if (file == nullptr && owner.auto_backup) {
    WriteOutput(owner.output, "E::[%s] The data file %s cannot be written", table.c_str(), data_file.c_str());
  }

  // Typed rows where the target takes them; else one INSERT statement a row.
  std::unique_ptr<RowLoader> loader;
  if (!owner.insert_statements && (target->OpenRowLoader(access_table, &loader) != S_OK)) loader.reset();
  std::unique_ptr<Command> command;
  if (loader == nullptr && (Failed(target->CreateCommand(&command)) || command == nullptr)) {
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
  std::optional<std::string> failure;
  const auto tell = [&](bool finished) {
    if (owner.row_progress) owner.row_progress(table, RowCopyCounts{read, written, failed, rounded, finished});
  };
  tell(false);
  const auto refuse = [&](const std::string& why) {
    if (++failed <= kReportedInsertFailures) {
      WriteOutput(owner.output, "E::[%s] Record %lld was not inserted: %s", table.c_str(), read, why.c_str());
    }
  };
  // Stores one row; true when the target took it.
  const auto store = [&](const CopyRow& row) -> bool {
    const bool keep_text = owner.auto_backup && file != nullptr;
    if (loader == nullptr || keep_text) {
      statement.assign(prefix);
      for (size_t k = 0; k < row.fields.size(); ++k) {
        if (k > 0) statement += ',';
        AppendFieldLiteral(statement, row.fields[k]);
      }
      statement += ");\n";
      if (keep_text) std::fwrite(statement.data(), 1, statement.size(), file.get());
    }
    Hresult code;
    std::vector<std::string> notices;
    if (loader != nullptr) {
      code = row.is_prepared ? loader->AppendPreparedRow(row.fields, *row.prepared) : loader->AppendRow(row.fields);
      notices = loader->Notices();
    } else {
      std::unique_ptr<Rowset> no_rows;
      code = command->Execute(statement, properties, {}, &no_rows);
      no_rows.reset();
      notices = command->Notices();
    }
    // An insert can make the target give up an index (a key it cannot sort): said here, as
    // ExecuteStatement says it, or the index would be lost without a word.
    for (const std::string& notice : notices) {
      WriteOutput(owner.output, "T::%s", notice.c_str());
      if (owner.object_lost) owner.object_lost(table, notice);
    }
    if (code == S_OK) return true;
    refuse(loader != nullptr ? ErrorDescription(loader.get()) : ErrorDescription(command.get()));
    return false;
  };

  // The target's own work on each row that needs nothing of its state is done on the reading
  // thread too: the writing thread is the copy's narrow part.
  std::unique_ptr<RowPreparer> preparer = loader != nullptr ? loader->OpenPreparer() : nullptr;
  BlockQueue queue;
  std::thread reader;
  try {
    reader = std::thread(ReadRows, std::ref(source), std::cref(dates), preparer.get(), std::ref(queue));
  } catch (const std::system_error& e) {
    const std::string error = std::string("the reading thread could not be started: ") + e.what();
    WriteOutput(owner.output, "E::[%s] %s", table.c_str(), error.c_str());
    return InternalError(error);
  }
  bool stopped = false;
  while (!stopped) {
    std::unique_ptr<CopyBlock> block = queue.Pop();
    for (size_t i = 0; i < block->count && !stopped; ++i) {
      const CopyRow& row = block->rows[i];
      ++read;
      if (!row.refused.empty()) {
        refuse(row.refused);
      } else if (store(row)) {
        ++written;
        for (size_t k : row.rounded) ++rounded_by_column[k];
        rounded += static_cast<long long>(row.rounded.size());
      }
      if (read % kProgressEvery == 0) WriteOutput(owner.output, "[%s] %lld records converted!", table.c_str(), read);
      if (read % kProgressCallbackEvery == 0) tell(false);
      if (owner.stop_requested && owner.stop_requested()) {
        WriteOutput(owner.output, "Data Converting Terminaled!");
        stopped = true;
      }
    }
    if (!stopped && block->last) {
      stopped = true;
      if (!block->failure.empty()) {
        // Rows that cannot be read are not silently dropped: the copy is reported as failed.
        failure = block->failure;
        if (block->long_value_failed) {
          WriteOutput(owner.output, "E::[%s] Reading a long value failed: %s", table.c_str(), failure->c_str());
        } else {
          WriteOutput(owner.output, "E::[%s] Reading rows failed after %lld records: %s", table.c_str(), read,
                      failure->c_str());
        }
      }
    }
    queue.Recycle(std::move(block));
  }
  queue.Close();
  reader.join();

  // Rows the target held back in a batch must be stored before the count is given.
  const bool committed = loader != nullptr ? loader->Commit() == S_OK : !Failed(target->Commit());
  if (!committed) {
    const std::string error = loader != nullptr ? ErrorDescription(loader.get()) : ErrorDescription(target);
    WriteOutput(owner.output, "E::[%s] Storing the records failed: %s", table.c_str(), error.c_str());
    tell(true);
    return ProviderError(error);
  }
  loader.reset();
  if (failed > 0) {
    WriteOutput(owner.output, "E::[%s] %lld records could not be inserted!", table.c_str(), failed);
  }
  if (rounded > 0) {
    std::string line = "T::TABLE [" + table + "]: values rounded to the millisecond:";
    for (size_t k = 1; k < rounded_by_column.size(); ++k) {
      if (rounded_by_column[k] == 0) continue;
      line += (line.back() == ':' ? " [" : "; [") + ColumnName(source.rows, k) + "] " +
              std::to_string(rounded_by_column[k]);
    }
    WriteOutput(owner.output, "%s", line.c_str());
  }
  WriteOutput(owner.output, "[%s] %lld records converted, convertion completed SUCCESSFULLY!", table.c_str(), written);
  tell(true);
  if (failure) return ProviderError(*failure);
  return RowCopyCounts{read, written, failed, rounded, true};
}

Result<RowCopyCounts> CopyTableRows(const SourceContext& owner, Session* source, Session* target,
                                    std::string_view database, const SourceTable& table, OpenCopyRowsFunction open) {
  RETURN_IF_ERROR(CheckCopySessions(owner, source, target));
  CopySource rows;
  if (Status opened = open(owner, source, database, table, &rows); !opened.ok()) {
    // Said here, since the table flow goes on: a failed read must not look like an empty table.
    WriteOutput(owner.output, "E::[%s] Reading rows failed: %s", table.name.c_str(), opened.message().c_str());
    return opened;
  }
  if (!rows.rows.has_rowset()) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return RowCopyCounts{};
  }
  return CopyRows(owner, rows, target, table);
}

}  // namespace tabulon::source_common
