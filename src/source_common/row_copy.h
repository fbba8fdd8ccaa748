// The row copy every source adapter uses: the rows of an opened select become one INSERT each
// on the target, with the same lines, progress, stop checks and data file whatever the source.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "data/provider.h"
#include "data/statement.h"
#include "source_common/source_context.h"

namespace tabulon::source_common {

// Appends one fetched value (never NULL: the copy writes NULL itself) as an Access literal; an
// error fails the row, which is then reported like a refused INSERT and not written.
using LiteralWriter = std::function<Status(std::string& out, std::string_view value)>;

// 'text' with quotes doubled.
Status WriteTextLiteral(std::string& out, std::string_view value);
// A number as it comes; anything that is not a plain number goes in quoted, so the target
// converts it or refuses it by its own rules and nothing of it is read as SQL.
Status WriteNumberLiteral(std::string& out, std::string_view value);
// True when a date or time text ("2011-03-20 14:05:09.1234567", "14:05:09.1235Z") has a digit
// other than 0 below the millisecond, which a Date/Time value cannot hold.
bool HasDigitsBelowMillisecond(std::string_view value);
// Hexadecimal digits as a 0x... literal.
Status WriteBinaryLiteral(std::string& out, std::string_view hex_digits);

// The row copy's check of its two sessions: for a missing one the line "No Source Connection!"
// or "No Target Connection!" and an error with that text.
Status CheckCopySessions(const SourceContext& owner, data::Session* source, data::Session* target);

// Copies the rows of `rows` (opened with RowsetOptions::full_values, one writer per data column)
// into the Access table of `table` (AccessTableName): "insert into `T` values (...)" per row, run on `target`; every
// 2000 rows "[T] n records converted!"; a stop request ends the copy after the current row
// ("Data Converting Terminaled!"); the first ten refused rows are reported with the target's
// text and all of them counted; with auto backup each statement also goes to the data file
// "T.data" in the work folder. Ends with "[T] n records converted, convertion completed
// SUCCESSFULLY!" (n = rows stored). Values that a Date/Time column of the target holds only to the
// millisecond are counted as rounded, with the line "T::TABLE [T]: values rounded to the
// millisecond: [c] n; ..." before the last one. Returns the counts, or an error with the provider's words
// when reading the source or storing the rows failed (its line is written already).
Result<RowCopyCounts> CopyRows(const SourceContext& owner, data::TextRowset& rows, data::Session* target,
                               const SourceTable& table, const std::vector<LiteralWriter>& writers);

// A source adapter's OpenCopyRows: opens the select a row copy of `table` reads and gives one
// writer per data column, or an error with the provider's words.
using OpenCopyRowsFunction = Status (*)(const SourceContext& owner, data::Session* source, std::string_view database,
                                        const SourceTable& table, data::TextRowset* rows,
                                        std::vector<LiteralWriter>* writers);

// A source adapter's TransferTableRows: CheckCopySessions, then the rows opened by `open` go
// through CopyRows. A failed open writes "E::[T] Reading rows failed: <words>" and returns its
// error; a select that yields no rowset writes "RESULT: EMPTY" and gives zero counts.
Result<RowCopyCounts> CopyTableRows(const SourceContext& owner, data::Session* source, data::Session* target,
                                    std::string_view database, const SourceTable& table, OpenCopyRowsFunction open);

}  // namespace tabulon::source_common
