// VAES forms of the parallel engines on 512-bit registers (four blocks per
// instruction), for processors with AVX-512 and VAES. Each takes any number
// of blocks and leaves the last few to the 128-bit AES-NI code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/common/cpu.h"
#include "kel/aes.h"

namespace kel::aes::vaes {

inline bool available() {
  return cpu::has(cpu::kVaes | cpu::kAvx512f | cpu::kAvx512bw | cpu::kAvx512vl | cpu::kAesni | cpu::kSsse3 |
                  cpu::kSse41);
}

void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n);
void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n);
void cbc_decrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n);
void ctr32_xor(const AesContext &ctx, uint8_t counter[16], const uint8_t *in, uint8_t *out, size_t n);
// Needs VPCLMULQDQ besides VAES.
void xts_blocks(const AesContext &dataKey, uint8_t T[16], uint8_t *data, size_t n, bool encrypt);

// GCM's text as aes::ni::gcm_blocks, sixteen blocks a pass (n a multiple of
// 16), the GHASH by hrev (H^16 .. H^1, twisted) with VPCLMULQDQ; needs that
// besides VAES.
void gcm_blocks(const uint8_t (*keys)[16], int nr, const uint8_t (*hrev)[16], uint32_t X[4], uint8_t counter[16],
                const uint8_t *in, uint8_t *out, size_t n, bool encrypt);

}  // namespace kel::aes::vaes
