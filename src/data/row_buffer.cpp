#include "data/row_buffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "base/bytes.h"
#include "data/utf8_cut.h"

namespace tabulon::data {

void RowBuffer::Clear() {
  // Every row is cleared before it is fetched: only the bytes a reader looks at are reset (a
  // slot's value is read through its length), not all 8200 bytes of every slot.
  for (size_t offset = 0; offset + kSlotSize <= bytes_.size(); offset += kSlotSize) {
    std::uint8_t* slot = bytes_.data() + offset;
    slot[0] = 0;
    WriteU32(slot + kSlotLengthOffset, 0);
    WriteU32(slot + kSlotStatusOffset, DBSTATUS_S_OK);
  }
}

std::uint8_t* RowBuffer::Slot(size_t ordinal) {
  assert(ordinal >= 1 && ordinal <= columns());
  return bytes_.data() + (ordinal - 1) * kSlotSize;
}

const std::uint8_t* RowBuffer::Slot(size_t ordinal) const {
  assert(ordinal >= 1 && ordinal <= columns());
  return bytes_.data() + (ordinal - 1) * kSlotSize;
}

void RowBuffer::SetNull(size_t ordinal) {
  std::uint8_t* slot = Slot(ordinal);
  slot[0] = 0;
  WriteU32(slot + kSlotLengthOffset, 0);
  WriteU32(slot + kSlotStatusOffset, DBSTATUS_S_ISNULL);
}

void RowBuffer::SetValue(size_t ordinal, std::string_view value, bool cut_short) {
  std::uint8_t* slot = Slot(ordinal);
  size_t n = std::min(value.size(), kSlotValueBytes - 1);
  cut_short = cut_short || n < value.size();
  if (cut_short) n = CompleteUtf8Prefix(value.substr(0, n));
  if (n > 0) std::memcpy(slot, value.data(), n);
  slot[n] = 0;
  WriteU32(slot + kSlotLengthOffset, static_cast<std::uint32_t>(n));
  WriteU32(slot + kSlotStatusOffset, cut_short ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK);
}

std::string_view RowBuffer::Value(size_t ordinal) const {
  const std::uint8_t* slot = Slot(ordinal);
  const size_t n = std::min<size_t>(ReadU32(slot + kSlotLengthOffset), kSlotValueBytes - 1);
  return {reinterpret_cast<const char*>(slot), n};
}

std::uint32_t RowBuffer::Length(size_t ordinal) const { return ReadU32(Slot(ordinal) + kSlotLengthOffset); }

std::uint32_t RowBuffer::Status(size_t ordinal) const { return ReadU32(Slot(ordinal) + kSlotStatusOffset); }

}  // namespace tabulon::data
