// Loads and stores of 32- and 64-bit words in either byte order, from any
// alignment.
#pragma once

#include <cstdint>
#include <cstring>

namespace kel {

inline uint32_t load_le32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t load_le64(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline uint32_t load_be32(const uint8_t *p) { return __builtin_bswap32(load_le32(p)); }
inline uint64_t load_be64(const uint8_t *p) { return __builtin_bswap64(load_le64(p)); }

inline void store_le32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void store_le64(uint8_t *p, uint64_t v) { std::memcpy(p, &v, 8); }
inline void store_be32(uint8_t *p, uint32_t v) { store_le32(p, __builtin_bswap32(v)); }
inline void store_be64(uint8_t *p, uint64_t v) { store_le64(p, __builtin_bswap64(v)); }

}  // namespace kel
