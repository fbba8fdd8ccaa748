// Index keys of Jet 4: the byte strings whose unsigned order is the index order. Text keys
// follow the "General" sort order (locale 1033, sort version 0). Characters with a known code:
//  - U+0000 to U+00FF;
//  - Latin Extended-A and -B, U+0100 to U+024F, but for 34 code points (see
//    general_sort_ext.inc); Ș ș Ț ț and the later additions are ignored;
//  - the CJK ideographs U+4E00 to U+9FA5 and U+F900 to U+FA2D, and the enclosed ideograph forms
//    of U+3000 to U+33FF (circled, parenthesized, kanbun marks, era squares), each with a
//    two-byte code in one ideograph sequence;
//  - the fullwidth and subscript forms of Latin-1 characters (U+FF01 to U+FF5E, U+FFE0 to U+FFE5,
//    the ideographic space U+3000, subscript digits and letters), which key as that character.
// Every other character (IPA, Greek, Cyrillic, kana, Hangul, symbols, ...) is refused.
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
// A character without a known code (see above) is refused (Unsupported).
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
Status AppendColumnKey(const ColumnDefinition& column, const Value& value, bool ascending, std::string& key);

// True when the UTF-16 code unit has a General sort code (a surrogate never has one).
bool HasGeneralSortCode(char16_t c);
// True when the text is valid UTF-8 and every character of it has a General sort code, so
// AppendTextKey accepts it.
bool HasGeneralSortCodes(std::string_view utf8);

}  // namespace tabulon::jet
