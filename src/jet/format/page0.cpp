#include "jet/format/page0.h"

#include <cmath>
#include <cstring>

#include "base/bytes.h"

namespace tabulon::jet::format {
namespace {

std::array<uint8_t, kHeaderMaskSize> ComputeMask() {
  static constexpr uint8_t kKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
  std::array<uint8_t, 256> s{};
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + kKey[i % 4]);
    std::swap(s[i], s[j]);
  }
  std::array<uint8_t, kHeaderMaskSize> mask{};
  uint8_t a = 0;
  uint8_t b = 0;
  for (auto& out : mask) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    out = s[static_cast<uint8_t>(s[a] + s[b])];
  }
  return mask;
}

}  // namespace

const std::array<uint8_t, kHeaderMaskSize>& HeaderMask() {
  static const std::array<uint8_t, kHeaderMaskSize> mask = ComputeMask();
  return mask;
}

void ApplyHeaderMask(uint8_t* page0) {
  const auto& mask = HeaderMask();
  for (uint32_t i = 0; i < kHeaderMaskSize; ++i) page0[kHeaderMaskOffset + i] ^= mask[i];
}

std::array<uint8_t, kHeaderPasswordSize> EmptyPasswordField(double creation_date) {
  uint8_t key[4];
  // A damaged header may hold any double; only a representable day number makes a key.
  const double day = std::floor(creation_date);
  const bool representable = std::isfinite(day) && std::fabs(day) < 2147483648.0;
  WriteU32(key, representable ? static_cast<uint32_t>(static_cast<int32_t>(day)) : 0);
  std::array<uint8_t, kHeaderPasswordSize> field{};
  for (uint32_t i = 0; i < kHeaderPasswordSize; ++i) field[i] = key[i % 4];
  return field;
}

Result<DatabaseHeader> DecodeHeader(const uint8_t* raw) {
  if (raw[0] != 0x00) {
    return CorruptError("page 0 offset 0x0: page type " + std::to_string(raw[0]) + ", a database header has 0");
  }
  if (std::memcmp(raw + 4, kEngineName, sizeof(kEngineName) - 1) != 0) {
    return CorruptError("page 0 offset 0x4: not a Jet database (engine name missing)");
  }
  DatabaseHeader header;
  header.version = raw[kHeaderVersionOffset];
  if (header.version != kVersionJet4) {
    return UnsupportedError("page 0 offset 0x14: file format version " + std::to_string(header.version) +
                            " (only Jet 4 is supported)");
  }
  uint8_t page[kHeaderMaskOffset + kHeaderMaskSize];
  std::memcpy(page, raw, sizeof(page));
  ApplyHeaderMask(page);
  header.code_page = ReadU16(page + kHeaderCodePageOffset);
  header.database_key = ReadU32(page + kHeaderDatabaseKeyOffset);
  header.sort_order = ReadU16(page + kHeaderSortOrderOffset);
  header.sort_version = page[kHeaderSortVersionOffset];
  header.creation_date = ReadF64(page + kHeaderCreationDateOffset);
  if (!std::isfinite(header.creation_date)) header.creation_date = 0;
  const auto mask = EmptyPasswordField(header.creation_date);
  for (uint32_t i = 0; i + 1 < kHeaderPasswordSize; i += 2) {
    const auto c = static_cast<char16_t>((page[kHeaderPasswordOffset + i] ^ mask[i]) |
                                         ((page[kHeaderPasswordOffset + i + 1] ^ mask[i + 1]) << 8));
    if (c == 0) break;
    header.password.push_back(c);
  }
  if (header.database_key != 0) {
    return UnsupportedError("page 0 offset 0x3e: the database is encrypted (key " +
                            std::to_string(header.database_key) + "), which is not supported");
  }
  return header;
}

}  // namespace tabulon::jet::format
