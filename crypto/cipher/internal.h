// Helpers shared by the cipher sources and the block engines that the modes
// call (each picks the hardware or the portable path at run time).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/common/bytes.h"
#include "crypto/common/cpu.h"
#include "crypto/common/ct.h"
#include "crypto/common/mem.h"
#include "kel/aes.h"
#include "kel/aes_modes.h"

namespace kel::cipher {

inline void xor16(uint8_t *dst, const uint8_t *a, const uint8_t *b) {
  uint64_t x0, x1, y0, y1;
  std::memcpy(&x0, a, 8);
  std::memcpy(&x1, a + 8, 8);
  std::memcpy(&y0, b, 8);
  std::memcpy(&y1, b + 8, 8);
  x0 ^= y0;
  x1 ^= y1;
  std::memcpy(dst, &x0, 8);
  std::memcpy(dst + 8, &x1, 8);
}

inline void xor_bytes(uint8_t *dst, const uint8_t *src, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] ^= src[i];
}

}  // namespace kel::cipher

namespace kel::aes {

// Keys ctx for a direction and mode: 128, 192 or 256 bits, else
// ERR_AES_BAD_KEY_LENGTH (the context is left as it was).
int32_t set_key(AesContext &ctx, int32_t keyBits, const uint8_t *key, int32_t encrypt, int32_t mode);

// Counter mode over a byte stream: the keystream left over from the last
// call first, then whole blocks, then a partial block whose unused
// keystream stays in the context. `width` bytes of the counter count.
void ctr_stream(AesCtrContext &c, uint8_t *data, size_t length, int width);

// Block engines over a keyed AesContext (the schedule in the context decides
// encryption or decryption). n counts 16-byte blocks; in and out may coincide.
void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n);
void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n);
void cbc_encrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n);
void cbc_decrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n);
// XORs the keystream of n successive counter blocks into in -> out; the last
// `width` bytes of counter count big-endian and are left at the next block.
// ctr_xor takes the counter as public (a mode's IV) and may split its work
// where the low word wraps; ctr_xor_secret (the DRBG's V, GCM's J0) lets
// nothing about the counter's value shape the work.
void ctr_xor(const AesContext &ctx, uint8_t counter[16], int width, const uint8_t *in, uint8_t *out, size_t n);
void ctr_xor_secret(const AesContext &ctx, uint8_t counter[16], int width, const uint8_t *in, uint8_t *out,
                    size_t n);
// CBC-MAC over n whole blocks: mac <- E(mac XOR block) for each.
void cbc_mac(const AesContext &ctx, uint8_t mac[16], const uint8_t *in, size_t n);
// CCM over n whole blocks in place: the CBC-MAC runs over the plaintext (read
// before encryption, after decryption) and the counter (128-bit increment)
// supplies the keystream; both advance.
void ccm_blocks(const AesContext &ctx, uint8_t mac[16], uint8_t counter[16], uint8_t *data, size_t n, bool encrypt);
// XTS over n whole blocks in place with the data key's schedule; T is the
// encrypted tweak of the first block and is left at the next block's.
void xts_blocks(const AesContext &dataKey, uint8_t T[16], uint8_t *data, size_t n, bool encrypt);
// T <- T * alpha: the 16 bytes as a little-endian number shifted left by one,
// 0x87 folded into byte 0 when a bit leaves byte 15 (IEEE 1619 5.2).
inline void xts_mul_alpha(uint8_t T[16]) {
  const uint8_t carry = static_cast<uint8_t>(-(T[15] >> 7));
  for (int i = 15; i > 0; --i) T[i] = static_cast<uint8_t>(T[i] << 1 | T[i - 1] >> 7);
  T[0] = static_cast<uint8_t>((T[0] << 1) ^ (carry & 0x87));
}
// Adds 1 to the last `width` bytes of counter, big-endian, dropping the carry.
// The counter may be secret (the DRBG's V, GCM's J0 under a long nonce): the
// carry runs through every byte of the width, never a branch on its value.
inline void increment_counter(uint8_t counter[16], int width) {
  unsigned carry = 1;
  for (int i = 15; i >= 16 - width; --i) {
    const unsigned sum = counter[i] + carry;
    counter[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
}

// The portable forms (bitsliced, always available) of the engines above.
namespace table {
int key_setup_enc(uint32_t *rk, const uint8_t *key, int32_t keyBits);
int key_setup_dec(uint32_t *rk, const uint8_t *key, int32_t keyBits);
void encrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out);
void decrypt_block(const uint32_t *rk, int nr, const uint8_t *in, uint8_t *out);
void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n);
void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n);
void cbc_encrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n);
void cbc_decrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n);
void cbc_mac(const AesContext &ctx, uint8_t mac[16], const uint8_t *in, size_t n);
void ccm_blocks(const AesContext &ctx, uint8_t mac[16], uint8_t counter[16], uint8_t *data, size_t n, bool encrypt);
void xts_blocks(const AesContext &dataKey, uint8_t T[16], uint8_t *data, size_t n, bool encrypt);
}  // namespace table

}  // namespace kel::aes

namespace kel::gcm {
struct GcmState;
}

namespace kel::cipher {

// The kernel table of the cipher area: AES key setup, single blocks and the
// block engines, and GHASH. Filled from the CPU features at first use and
// again whenever kel::cpu::restrict_to changes them (kernels.cpp). The
// wide entries (VAES, VPCLMULQDQ) take runs of 16 blocks and more and are
// null where the CPU lacks them; so are the AES-NI counter, GHASH and GCM entries,
// whose callers then take the portable path.
struct Kernels {
  using KeySetup = int (*)(uint32_t *, const uint8_t *, int32_t);
  using Block = void (*)(const uint32_t *, int, const uint8_t *, uint8_t *);
  using Blocks = void (*)(const AesContext &, const uint8_t *, uint8_t *, size_t);
  using Chain = void (*)(const AesContext &, uint8_t *, const uint8_t *, uint8_t *, size_t);
  using Ctr32 = void (*)(const AesContext &, uint8_t *, const uint8_t *, uint8_t *, size_t);
  using Mac = void (*)(const AesContext &, uint8_t *, const uint8_t *, size_t);
  using Ccm = void (*)(const AesContext &, uint8_t *, uint8_t *, uint8_t *, size_t, bool);
  using Xts = void (*)(const AesContext &, uint8_t *, uint8_t *, size_t, bool);
  using Ghash = void (*)(const uint8_t (*)[16], uint32_t *, const uint8_t *, size_t);
  using Powers = void (*)(gcm::GcmState &);
  using GcmText = void (*)(const uint8_t (*)[16], int, const uint8_t (*)[16], uint32_t *, uint8_t *,
                           const uint8_t *, uint8_t *, size_t, bool);
  using GcmStart = void (*)(const uint8_t (*)[16], int, const uint8_t *, uint8_t *, uint8_t (*)[16]);
  using DesRounds = void (*)(uint32_t *, uint32_t *, size_t, const uint32_t *, const uint32_t *, const uint32_t *);

  std::atomic<KeySetup> keySetupEnc, keySetupDec;
  std::atomic<Block> encryptBlock, decryptBlock;
  std::atomic<Blocks> encrypt, decrypt, encryptWide, decryptWide;
  std::atomic<Chain> cbcEncrypt, cbcDecrypt, cbcDecryptWide;
  std::atomic<Ctr32> ctr32, ctr32Wide;
  std::atomic<Mac> cbcMac;
  std::atomic<Ccm> ccm;
  std::atomic<Xts> xts, xtsWide;
  std::atomic<Ghash> ghash, ghashWide;
  std::atomic<Powers> ghashPowers;
  std::atomic<GcmText> gcmText, gcmTextWide;  // AES-NI with PCLMULQDQ, VAES with VPCLMULQDQ: stitched
  std::atomic<GcmStart> gcmStart;
  std::atomic<DesRounds> desRounds;  // AVX-512 bit shuffles, else null (the portable rounds)
};
extern Kernels g_kernels;
extern std::atomic<bool> g_kernelsReady;
void fill_kernels();

inline const Kernels &kernels() {
  cpu::ensure_filled(g_kernelsReady, fill_kernels);
  return g_kernels;
}

// One entry of the table.
template <class F>
inline F kernel(const std::atomic<F> &entry) {
  return entry.load(std::memory_order_relaxed);
}

}  // namespace kel::cipher
