// Text conversions at the boundaries: the program works in UTF-8, Jet stores UTF-16LE.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace tabulon {

// UTF-8 to UTF-16 code units. Malformed input (bad bytes, overlong forms, surrogates encoded
// in UTF-8, truncated sequences) is refused with the byte offset of the fault.
Result<std::u16string> Utf8ToUtf16(std::string_view utf8);

// UTF-16 code units to UTF-8. A lone surrogate becomes U+FFFD so reading never fails.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Decodes `size` bytes of UTF-16LE into UTF-8 (an odd trailing byte is ignored).
std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t size);

// Appends the UTF-16LE bytes of `utf16` to `out`.
void AppendUtf16Le(std::u16string_view utf16, std::string& out);

// True when every byte is a valid UTF-8 sequence.
bool IsValidUtf8(std::string_view text);

// Lower-case ASCII copy (other bytes unchanged).
std::string AsciiLower(std::string_view text);
// ASCII case-insensitive equality.
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
// A whole decimal number ("-12", "+7", "0"): nothing else, and within long long; nullopt otherwise.
std::optional<long long> ParseWholeNumber(std::string_view text);

}  // namespace tabulon
