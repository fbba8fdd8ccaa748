// Page 0 of a Jet 4 file: the database header, partly masked with a fixed RC4 keystream.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/status.h"

namespace tabulon::jet::format {

inline constexpr uint32_t kHeaderMaskOffset = 0x18;
inline constexpr uint32_t kHeaderMaskSize = 128;
inline constexpr uint32_t kHeaderVersionOffset = 0x14;
inline constexpr uint32_t kHeaderCodePageOffset = 0x3C;
inline constexpr uint32_t kHeaderDatabaseKeyOffset = 0x3E;
inline constexpr uint32_t kHeaderPasswordOffset = 0x42;
inline constexpr uint32_t kHeaderPasswordSize = 40;
inline constexpr uint32_t kHeaderSortOrderOffset = 0x6E;
inline constexpr uint32_t kHeaderSortVersionOffset = 0x71;
inline constexpr uint32_t kHeaderCreationDateOffset = 0x72;
inline constexpr uint8_t kVersionJet4 = 0x01;
inline constexpr char kEngineName[] = "Standard Jet DB";

// The keystream of RC4 with the fixed key C7 DA 39 6B over the masked region.
const std::array<uint8_t, kHeaderMaskSize>& HeaderMask();

// XORs the masked region of a page-0 image in place (masking and unmasking are the same).
void ApplyHeaderMask(uint8_t* page0);

// Facts of page 0.
struct DatabaseHeader {
  uint8_t version = kVersionJet4;
  uint16_t code_page = 1252;
  uint32_t database_key = 0;  // non-zero: pages >= 1 are encrypted (not supported)
  uint16_t sort_order = 0x0409;
  uint8_t sort_version = 0;
  double creation_date = 0;  // days since 1899-12-30
  std::u16string password;   // empty when none
};

// Decodes a raw (masked) page 0. Refuses anything that is not an unencrypted Jet 4 file.
Result<DatabaseHeader> DecodeHeader(const uint8_t* page0);

// The 40-byte password field of a header without a password (the creation-date mask).
std::array<uint8_t, kHeaderPasswordSize> EmptyPasswordField(double creation_date);

}  // namespace tabulon::jet::format
