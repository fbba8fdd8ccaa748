// Text forms of engine values: dates, GUIDs, exact decimals, and the one canonical text of any
// value used by CSV export and by tests that compare with other readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "jet/schema.h"

namespace tabulon::jet {

// The proleptic Gregorian calendar: days since 1970-01-01 of a civil date, and back.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);

// Days since 1899-12-30 (Jet's stored form: the time of day is added to a non-negative day and
// subtracted from a negative one) to "YYYY-MM-DD HH:MM:SS", plus ".fff" when the milliseconds
// are not zero. Values outside years 1..9999 or not finite give "#invalid date".
std::string FormatDateTime(double days);
// Inverse of FormatDateTime: "YYYY-MM-DD", optionally followed by " HH:MM:SS" or "THH:MM:SS"
// and ".f" to ".fff". Returns nullopt for anything else or an impossible date.
std::optional<double> ParseDateTime(std::string_view text);

// "{6F9619FF-8B86-D011-B42D-00C04FC964FF}" from the stored 16 bytes (first three groups are
// little-endian in storage).
std::string FormatGuid(const Guid& guid);
std::optional<Guid> ParseGuid(std::string_view text);

// Currency (value × 10,000) as exact text with four decimals, e.g. "-1.5000".
std::string FormatCurrency(int64_t scaled);

// Shortest text that reads back as the same number ("0.1", "1e+308", "nan", "inf").
std::string FormatDouble(double value);
std::string FormatFloat(float value);

// Lower-case hex of raw bytes.
std::string FormatHex(std::string_view bytes);

// The canonical text of a value, nullopt for NULL: integers in decimal; Single/Double as the
// shortest round-trip text; Currency and Decimal exact without trailing zeros ("1.5", "2");
// Boolean "true"/"false"; DateTime as FormatDateTime; Text/Memo as is; Binary/OLE as
// lower-case hex; GUID as FormatGuid.
std::optional<std::string> FormatValue(const Value& value);

// Whether two values are the same: the same type and the same canonical text.
bool SameValue(const Value& a, const Value& b);

// One CSV field (RFC 4180): NULL is an empty field, an empty string is "", and a field with a
// comma, quote, CR or LF is quoted with inner quotes doubled.
std::string CsvField(const std::optional<std::string>& text);

// Strips trailing zeros (and a trailing point) from exact decimal text: "1.5000" -> "1.5".
std::string TrimDecimalZeros(std::string text);

}  // namespace tabulon::jet
