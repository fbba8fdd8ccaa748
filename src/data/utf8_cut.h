// Cutting UTF-8 text short without leaving half a character at the end.
#pragma once

#include <cstddef>
#include <string_view>

namespace tabulon::data {

// The length of `text` without a trailing incomplete UTF-8 sequence. Bytes that do not look like
// UTF-8 are kept as they are.
inline size_t CompleteUtf8Prefix(std::string_view text) {
  size_t i = text.size();
  size_t continuation = 0;
  while (i > 0 && continuation < 3 && (static_cast<unsigned char>(text[i - 1]) & 0xC0) == 0x80) {
    --i;
    ++continuation;
  }
  if (i == 0) return text.size();
  const auto lead = static_cast<unsigned char>(text[i - 1]);
  size_t needed = 0;
  if ((lead & 0xE0) == 0xC0) {
    needed = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    needed = 2;
  } else if ((lead & 0xF8) == 0xF0) {
    needed = 3;
  } else {
    return text.size();
  }
  return continuation < needed ? i - 1 : text.size();
}

}  // namespace tabulon::data
