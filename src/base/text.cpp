#include "base/text.h"

#include <charconv>

#include <string>

namespace tabulon {
namespace {

// Decodes one code point at `i`, advancing `i`; returns -1 on malformed input.
int32_t DecodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len;
  uint32_t cp;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    return -1;
  }
  if (i + static_cast<size_t>(len) > s.size()) return -1;
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<uint8_t>(s[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  i += static_cast<size_t>(len);
  return static_cast<int32_t>(cp);
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

template <typename NextUnit>
std::string DecodeUtf16(size_t count, NextUnit unit_at) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = unit_at(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      const uint32_t lo = unit_at(i + 1);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00), out);
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(u, out);
  }
  return out;
}

}  // namespace

Result<std::u16string> Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const size_t at = i;
    const int32_t cp = DecodeUtf8(utf8, i);
    if (cp < 0) return InvalidArgumentError("invalid UTF-8 at byte " + std::to_string(at));
    if (cp >= 0x10000) {
      const uint32_t v = static_cast<uint32_t>(cp) - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  return DecodeUtf16(utf16.size(), [&](size_t i) { return static_cast<uint32_t>(utf16[i]); });
}

std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t size) {
  return DecodeUtf16(size / 2, [&](size_t i) { return static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); });
}

void AppendUtf16Le(std::u16string_view utf16, std::string& out) {
  for (char16_t c : utf16) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
}

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    if (DecodeUtf8(text, i) < 0) return false;
  }
  return true;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace tabulon
