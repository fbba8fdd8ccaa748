// Internal to the writing side: a set of key hashes that answers "certainly absent" or "maybe
// present", so a uniqueness check only reads an index leaf when the key may be there.
//
// Blocked Bloom filters: each key sets four bits of one 64-bit word (one cache line touched per
// key). When a filter holds as many keys as it was sized for, a new one four times as large
// takes the new keys and lookups ask every filter; no key is ever hashed twice. Past the
// memory budget the last filter keeps taking keys and simply answers "maybe" more often, so
// memory stays bounded however many keys arrive and an answer of "absent" is always right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tabulon::jet {

class KeyFilter {
 public:
  // `max_bytes`: the most all filters together may take.
  explicit KeyFilter(size_t max_bytes = size_t{22} << 20) : max_bytes_(max_bytes) {}

  void Add(uint64_t hash) {
    if (parts_.empty() || (parts_.back().keys >= parts_.back().capacity && CanGrow())) Grow();
    Part& part = parts_.back();
    part.words[hash & part.mask] |= Bits(hash);
    ++part.keys;
  }

  bool MayContain(uint64_t hash) const {
    const uint64_t bits = Bits(hash);
    for (const Part& part : parts_) {
      if ((part.words[hash & part.mask] & bits) == bits) return true;
    }
    return false;
  }

  void Clear() { parts_.clear(); }
  size_t bytes() const {
    size_t total = 0;
    for (const Part& part : parts_) total += part.words.size() * sizeof(uint64_t);
    return total;
  }

 private:
  // 16 bits per key: about one false "maybe" in 400 while a filter is within its size.
  static constexpr size_t kBitsPerKey = 16;
  static constexpr size_t kFirstWords = size_t{1} << 13;  // 64 KB

  struct Part {
    std::vector<uint64_t> words;
    uint64_t mask = 0;
    size_t keys = 0;
    size_t capacity = 0;
  };

  // The word comes from the hash's low bits; the four bit positions from a remix of it, so
  // they do not repeat the word choice.
  static uint64_t Bits(uint64_t hash) {
    uint64_t m = hash * 0x9E3779B97F4A7C15ull;
    m ^= m >> 29;
    return (uint64_t{1} << (m >> 58)) | (uint64_t{1} << ((m >> 52) & 63)) | (uint64_t{1} << ((m >> 46) & 63)) |
           (uint64_t{1} << ((m >> 40) & 63));
  }

  size_t NextWords() const { return parts_.empty() ? kFirstWords : parts_.back().words.size() * 4; }
  bool CanGrow() const { return bytes() + NextWords() * sizeof(uint64_t) <= max_bytes_; }

  void Grow() {
    Part part;
    part.words.assign(NextWords(), 0);
    part.mask = part.words.size() - 1;
    part.capacity = part.words.size() * 64 / kBitsPerKey;
    parts_.push_back(std::move(part));
  }

  size_t max_bytes_;
  std::vector<Part> parts_;
};

}  // namespace tabulon::jet
