// AES-NI forms of the block engines. They read and write the same big-endian
// round-key words as the table form, so a context keyed on one path works on
// the other. The kernel table (kernels.cpp) takes them when available().
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/common/cpu.h"
#include "kel/aes.h"

namespace kel::aes::ni {

inline bool available() { return cpu::has(cpu::kAesni | cpu::kSsse3 | cpu::kSse41); }

int key_setup_enc(uint32_t *rk, const uint8_t *key, int32_t keyBits);
int key_setup_dec(uint32_t *rk, const uint8_t *key, int32_t keyBits);
void encrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out);
void decrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out);

void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n);
void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n);
void cbc_encrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n);
void cbc_decrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n);
// Counter mode with a 32-bit (or wider) big-endian counter that does not wrap
// within the n blocks: the caller splits at wraps.
void ctr32_xor(const AesContext &ctx, uint8_t counter[16], const uint8_t *in, uint8_t *out, size_t n);

void cbc_mac(const AesContext &ctx, uint8_t mac[16], const uint8_t *in, size_t n);
void ccm_blocks(const AesContext &ctx, uint8_t mac[16], uint8_t counter[16], uint8_t *data, size_t n, bool encrypt);

// Eight blocks a pass, the tweaks doubled in general registers.
void xts_blocks(const AesContext &dataKey, uint8_t T[16], uint8_t *data, size_t n, bool encrypt);

// GCM's text over n whole blocks, in place or not: counter mode with the
// 32-bit counter, stitched with GHASH of the ciphertext into X (GcmContext
// order) by the byte-reflected powers hpow of H (x86/clmul.h). keys: the
// nr + 1 round keys as the instructions take them (the schedule's words
// big-endian), 16-byte aligned. Needs PCLMULQDQ besides AES-NI.
// E(K, J0) into mask and the keystream of the four counter blocks after J0
// into ks (32-bit increments), five blocks side by side; keys as for
// gcm_blocks.
void gcm_start(const uint8_t (*keys)[16], int nr, const uint8_t j0[16], uint8_t mask[16], uint8_t ks[4][16]);
void gcm_blocks(const uint8_t (*keys)[16], int nr, const uint8_t (*hpow)[16], uint32_t X[4], uint8_t counter[16],
                const uint8_t *in, uint8_t *out, size_t n, bool encrypt);

}  // namespace kel::aes::ni
