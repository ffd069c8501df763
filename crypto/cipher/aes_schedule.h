// The AES key expansion (FIPS 197 5.2), shared by the portable path and
// AES-NI: they differ only in how SubWord is computed.
#pragma once

#include <cstdint>

#include "crypto/common/bytes.h"

namespace kel::aes {

constexpr int rounds_for(int32_t keyBits) {
  return keyBits == 128 ? 10 : keyBits == 192 ? 12 : keyBits == 256 ? 14 : 0;
}

// Fills rk with the 4 * (nr + 1) big-endian round-key words and returns nr,
// or 0 for a key size other than 128, 192 or 256 bits. sub_word(w, rot)
// returns SubWord(w), or SubWord(RotWord(w)) when rot is set.
template <class SubWord>
inline int expand_key(uint32_t *rk, const uint8_t *key, int32_t keyBits, SubWord sub_word) {
  static constexpr uint8_t kRcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};
  const int nr = rounds_for(keyBits);
  if (nr == 0) return 0;
  const int nk = keyBits / 32;
  for (int i = 0; i < nk; ++i) rk[i] = kel::load_be32(key + 4 * i);
  for (int i = nk; i < 4 * (nr + 1); ++i) {
    uint32_t t = rk[i - 1];
    if (i % nk == 0)
      t = sub_word(t, true) ^ (uint32_t{kRcon[i / nk - 1]} << 24);
    else if (nk > 6 && i % nk == 4)
      t = sub_word(t, false);
    rk[i] = rk[i - nk] ^ t;
  }
  return nr;
}

}  // namespace kel::aes
