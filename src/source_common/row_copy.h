// The row copy every source adapter uses: the rows of an opened select go into the target's
// table, with the same lines, progress, stop checks and data file whatever the source. Where the
// target has a row loader (the built-in engine) the rows go in as typed values; elsewhere as one
// INSERT statement each. The source is read on a thread of its own while the rows are written.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "data/field.h"
#include "data/provider.h"
#include "data/statement.h"
#include "source_common/source_context.h"

namespace tabulon::source_common {

// Turns one fetched value (never NULL: the copy keeps NULL itself) into the field its column
// gets; an error fails the row, which is then reported like a refused INSERT and not written.
// The value comes typed from a typed rowset, else as kText (the provider's text of it).
using FieldWriter = std::function<Status(const data::Field& value, data::Field& out)>;

// Text as it comes (a typed value as its text).
Status WriteTextField(const data::Field& value, data::Field& out);
// A number as it comes; text that is not a plain number stays text, so the target converts it
// or refuses it by its own rules.
Status WriteNumberField(const data::Field& value, data::Field& out);
// Bytes as they come; text must be hexadecimal digits (the form text rowsets give bytes in).
Status WriteBinaryField(const data::Field& value, data::Field& out);

// Appends the Access literal of a field: 'text' (quotes doubled), numbers as digits, 0x... for
// bytes, #YYYY-MM-DD HH:MM:SS[.fff...]# for dates, True / False, NULL.
void AppendFieldLiteral(std::string& out, const data::Field& field);

// True when a date or time text ("2011-03-20 14:05:09.1234567", "14:05:09.1235Z") has a digit
// other than 0 below the millisecond, which a Date/Time value cannot hold.
bool HasDigitsBelowMillisecond(std::string_view value);
// The same for a fetched value: a date's fraction or a text's digits.
bool HasDigitsBelowMillisecond(const data::Field& value);

// The rows a row copy reads: the select (typed where its provider has typed rows) and one writer
// per data column (a missing writer writes text).
struct CopySource;
// Reads the next row of `source` as it was fetched, one field per data column (long values
// whole): true with a row, false after the last one, or an error with the provider's words
// (`long_value` set when it was reading a long value that failed).
Result<bool> FetchCopyRow(CopySource& source, std::vector<data::Field>& fetched, bool* long_value = nullptr);

struct CopySource {
  data::TextRowset rows;
  std::vector<FieldWriter> writers;

 private:
  friend Result<bool> FetchCopyRow(CopySource& source, std::vector<data::Field>& fetched, bool* long_value);
  // Typed rows fetched ahead, a few at a time (FetchCopyRow hands them out one by one), and how
  // the fetch that gave them ended.
  std::vector<std::vector<data::Field>> ahead_;
  size_t ahead_next_ = 0;
  size_t ahead_count_ = 0;
  data::Hresult ahead_end_ = data::S_OK;
};
// Writes a fetched row through the source's writers into `fields`: "" or why the row is refused
// ("column [c]: ...").
std::string WriteCopyFields(const CopySource& source, const std::vector<data::Field>& fetched,
                            std::vector<data::Field>& fields);

// The row copy's check of its two sessions: for a missing one the line "No Source Connection!"
// or "No Target Connection!" and an error with that text.
Status CheckCopySessions(const SourceContext& owner, data::Session* source, data::Session* target);

// Copies the rows of `source` into the Access table of `table` (AccessTableName), through the
// target's row loader or as "insert into `T` values (...)" per row; every 2000 rows "[T] n
// records converted!"; a stop request ends the copy after the current row ("Data Converting
// Terminaled!"); the first ten refused rows are reported with the target's text and all of them
// counted; with auto backup each row's INSERT statement also goes to the data file "T.data" in
// the work folder. Ends with "[T] n records converted, convertion completed SUCCESSFULLY!" (n =
// rows stored). Values that a Date/Time column of the target holds only to the millisecond are
// counted as rounded, with the line "T::TABLE [T]: values rounded to the millisecond: [c] n; ..."
// before the last one. Returns the counts, or an error with the provider's words when reading
// the source or storing the rows failed (its line is written already).
Result<RowCopyCounts> CopyRows(const SourceContext& owner, CopySource& source, data::Session* target,
                               const SourceTable& table);

// A source adapter's OpenCopyRows: opens the select a row copy of `table` reads, or an error
// with the provider's words.
using OpenCopyRowsFunction = Status (*)(const SourceContext& owner, data::Session* source, std::string_view database,
                                        const SourceTable& table, CopySource* rows);

// A source adapter's TransferTableRows: CheckCopySessions, then the rows opened by `open` go
// through CopyRows. A failed open writes "E::[T] Reading rows failed: <words>" and returns its
// error; a select that yields no rowset writes "RESULT: EMPTY" and gives zero counts.
Result<RowCopyCounts> CopyTableRows(const SourceContext& owner, data::Session* source, data::Session* target,
                                    std::string_view database, const SourceTable& table, OpenCopyRowsFunction open);

}  // namespace tabulon::source_common
