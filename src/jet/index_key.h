// Index keys of Jet 4: the byte strings whose unsigned order is the index order. Text keys
// follow the "General" sort order (locale 1033, sort version 0), exact for U+0000 to U+00FF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "jet/schema.h"

namespace tabulon::jet {

inline constexpr uint8_t kKeyAscending = 0x7F;
inline constexpr uint8_t kKeyNullAscending = 0x00;
inline constexpr uint8_t kKeyDescending = 0x80;
inline constexpr uint8_t kKeyNullDescending = 0xFF;

// Appends the ascending key of a UTF-8 text (first 255 characters, trailing spaces dropped):
// flag byte, sort codes, then the extra sections for accents and unprintable characters.
// A character beyond U+00FF has no known code here and is refused (Unsupported).
Status AppendTextKey(std::string_view utf8, std::string& key);

// Appends the ascending key of a Long (flag byte + big-endian value with the sign bit flipped).
void AppendLongKey(int32_t value, std::string& key);
// Appends the ascending key of a NULL value of any type.
void AppendNullKey(std::string& key);

// Appends the row pointer part of an index entry: 3-byte big-endian page, 1-byte row.
void AppendEntryRowPointer(uint32_t row_pointer, std::string& entry);

// Appends the key part of one column value, flag byte included, in the given order. Accepts
// the values the row encoder accepts for the column (a Long column takes any whole number, a
// Double one a Single, ...); Null gives the one-byte Null key (Boolean columns are never Null:
// Null keys as False). Memo and Text use the first 255 characters. OLE is not indexable.
// Unsupported when a text holds a character without a known General sort code.
Status AppendColumnKey(const ColumnDefinition& column, const Value& value, bool ascending,
                       std::string& key);

// True when every character of the UTF-8 text is at most U+00FF (so it has a sort code).
bool HasGeneralSortCodes(std::string_view utf8);

}  // namespace tabulon::jet
