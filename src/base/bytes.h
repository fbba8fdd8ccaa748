// Little-endian codecs over raw byte buffers. Callers check bounds before calling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tabulon {

inline uint8_t ReadU8(const uint8_t* p) { return p[0]; }
inline uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadU24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t ReadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // the project builds for little-endian hosts only (checked in bytes.cpp)
}
inline uint64_t ReadU64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline int16_t ReadI16(const uint8_t* p) { return static_cast<int16_t>(ReadU16(p)); }
inline int32_t ReadI32(const uint8_t* p) { return static_cast<int32_t>(ReadU32(p)); }
inline int64_t ReadI64(const uint8_t* p) { return static_cast<int64_t>(ReadU64(p)); }
inline float ReadF32(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}
inline double ReadF64(const uint8_t* p) {
  double v;
  std::memcpy(&v, p, 8);
  return v;
}

inline void WriteU8(uint8_t* p, uint8_t v) { p[0] = v; }
inline void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteU24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void WriteU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void WriteU64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
inline void WriteI16(uint8_t* p, int16_t v) { WriteU16(p, static_cast<uint16_t>(v)); }
inline void WriteI32(uint8_t* p, int32_t v) { WriteU32(p, static_cast<uint32_t>(v)); }
inline void WriteI64(uint8_t* p, int64_t v) { WriteU64(p, static_cast<uint64_t>(v)); }
inline void WriteF32(uint8_t* p, float v) { std::memcpy(p, &v, 4); }
inline void WriteF64(uint8_t* p, double v) { std::memcpy(p, &v, 8); }

}  // namespace tabulon
