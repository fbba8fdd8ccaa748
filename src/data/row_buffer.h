// The memory one fetched row lands in: one 8200-byte slot per column, in column order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tabulon::data {

inline constexpr size_t kSlotSize = 8200;
inline constexpr size_t kSlotValueBytes = 8192;    // zero-terminated narrow (UTF-8) text
inline constexpr size_t kSlotLengthOffset = 8192;  // 4 bytes: bytes of the value in the slot
inline constexpr size_t kSlotStatusOffset = 8196;  // 4 bytes: DBSTATUS_*

inline constexpr std::uint32_t DBSTATUS_S_OK = 0;
inline constexpr std::uint32_t DBSTATUS_S_ISNULL = 3;
inline constexpr std::uint32_t DBSTATUS_S_TRUNCATED = 4;

// Slot k-1 belongs to column ordinal k. A value longer than 8191 bytes is cut at the slot (at a
// UTF-8 character boundary) and gets DBSTATUS_S_TRUNCATED; its length is what the slot holds, so
// a caller that trusts the length never reads past the slot.
class RowBuffer {
 public:
  RowBuffer() = default;
  explicit RowBuffer(size_t columns) : bytes_(columns * kSlotSize, 0) {}

  size_t columns() const { return bytes_.size() / kSlotSize; }
  // Empties every slot: an empty value with status DBSTATUS_S_OK.
  void Clear();

  void SetNull(size_t ordinal);
  // Copies `value` into the slot, cutting it when it does not fit. `cut_short` says the value
  // is already a cut prefix of a longer one.
  void SetValue(size_t ordinal, std::string_view value, bool cut_short = false);

  std::string_view Value(size_t ordinal) const;
  std::uint32_t Length(size_t ordinal) const;
  std::uint32_t Status(size_t ordinal) const;
  bool IsNull(size_t ordinal) const { return Status(ordinal) == DBSTATUS_S_ISNULL; }

  const std::uint8_t* data() const { return bytes_.data(); }

 private:
  std::uint8_t* Slot(size_t ordinal);
  const std::uint8_t* Slot(size_t ordinal) const;

  std::vector<std::uint8_t> bytes_;
};

}  // namespace tabulon::data
