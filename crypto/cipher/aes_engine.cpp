// The block engines the modes run on, through the kernel table: AES-NI (and
// the wide VAES forms) where the processor has them, the portable form
// otherwise.
#include "crypto/cipher/internal.h"

namespace kel::aes {

using cipher::kernel;
using cipher::kernels;

void encrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  if (n == 0) return;
  const cipher::Kernels &k = kernels();
  if (n >= 16)
    if (auto wide = kernel(k.encryptWide)) return wide(ctx, in, out, n);
  kernel(k.encrypt)(ctx, in, out, n);
}

void decrypt_blocks(const AesContext &ctx, const uint8_t *in, uint8_t *out, size_t n) {
  if (n == 0) return;
  const cipher::Kernels &k = kernels();
  if (n >= 16)
    if (auto wide = kernel(k.decryptWide)) return wide(ctx, in, out, n);
  kernel(k.decrypt)(ctx, in, out, n);
}

void cbc_encrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n) {
  if (n == 0) return;
  kernel(kernels().cbcEncrypt)(ctx, iv, in, out, n);
}

void cbc_decrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n) {
  if (n == 0) return;
  const cipher::Kernels &k = kernels();
  if (n >= 16)
    if (auto wide = kernel(k.cbcDecryptWide)) return wide(ctx, iv, in, out, n);
  kernel(k.cbcDecrypt)(ctx, iv, in, out, n);
}

namespace table {

// Runs of blocks decrypted together (the portable cipher works four at a
// time); the ciphertext is copied first, since in and out may coincide.
void cbc_decrypt(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n) {
  constexpr size_t kRun = 16;
  mem::Wiped<uint8_t[16 * kRun]> t;
  uint8_t c[16 * kRun];
  for (size_t done = 0; done < n;) {
    const size_t run = std::min(n - done, kRun);
    std::memcpy(c, in + 16 * done, 16 * run);
    decrypt_blocks(ctx, c, t, run);
    for (size_t i = 0; i < run; ++i) cipher::xor16(out + 16 * (done + i), t + 16 * i, i == 0 ? iv : c + 16 * (i - 1));
    std::memcpy(iv, c + 16 * (run - 1), 16);
    done += run;
  }
}

}  // namespace table

namespace {

// A counter block as two big-endian 64-bit halves, stepped without a branch
// on its value: the low `width` bytes count, the rest stay as they are.
struct WideCounter {
  uint64_t hi, lo, keepHi, keepLo;  // keep*: the bits outside the width
  WideCounter(const uint8_t block[16], int width) {
    hi = uint64_t{kel::load_be32(block)} << 32 | kel::load_be32(block + 4);
    lo = uint64_t{kel::load_be32(block + 8)} << 32 | kel::load_be32(block + 12);
    const int bits = 8 * width;
    const uint64_t countLo = bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
    const uint64_t countHi = bits <= 64 ? 0 : bits >= 128 ? ~uint64_t{0} : (uint64_t{1} << (bits - 64)) - 1;
    keepLo = ~countLo;
    keepHi = ~countHi;
  }
  void store(uint8_t block[16]) const {
    kel::store_be32(block, static_cast<uint32_t>(hi >> 32));
    kel::store_be32(block + 4, static_cast<uint32_t>(hi));
    kel::store_be32(block + 8, static_cast<uint32_t>(lo >> 32));
    kel::store_be32(block + 12, static_cast<uint32_t>(lo));
  }
  void step() {
    const uint64_t nextLo = lo + 1;
    const uint64_t carry = ((nextLo | (0 - nextLo)) >> 63) ^ 1;  // 1 when the low half wrapped
    const uint64_t nextHi = hi + carry;
    lo = (lo & keepLo) | (nextLo & ~keepLo);
    hi = (hi & keepHi) | (nextHi & ~keepHi);
  }
};

}  // namespace

void ctr_xor(const AesContext &ctx, uint8_t counter[16], int width, const uint8_t *in, uint8_t *out, size_t n) {
  const cipher::Kernels &k = kernels();
  const auto ctr32 = kernel(k.ctr32);
  const auto ctr32Wide = kernel(k.ctr32Wide);
  if (ctr32 != nullptr && width == 4) return ctr_xor_secret(ctx, counter, width, in, out, n);
  if (ctr32 != nullptr && width > 4) {
    // The counter of a mode is public (its IV travels with the message): the
    // instructions count the low 32 bits, and a run is split where that word
    // wraps so that the carry into the wider counter takes the generic step.
    while (n > 0) {
      const uint64_t before_wrap = (uint64_t{1} << 32) - kel::load_be32(counter + 12);
      const size_t run = before_wrap < n ? static_cast<size_t>(before_wrap) : n;
      if (run >= 16 && ctr32Wide != nullptr)
        ctr32Wide(ctx, counter, in, out, run);
      else
        ctr32(ctx, counter, in, out, run);
      n -= run;
      in += 16 * run;
      out += 16 * run;
      if (run == before_wrap) {  // the low word is 0 again: carry into the rest
        for (int i = 11; i >= 16 - width; --i)
          if (++counter[i] != 0) break;
      }
    }
    return;
  }
  ctr_xor_secret(ctx, counter, width, in, out, n);
}

void ctr_xor_secret(const AesContext &ctx, uint8_t counter[16], int width, const uint8_t *in, uint8_t *out,
                    size_t n) {
  const cipher::Kernels &k = kernels();
  const auto ctr32 = kernel(k.ctr32);
  const auto ctr32Wide = kernel(k.ctr32Wide);
  if (ctr32 != nullptr && width == 4) {
    // The instructions count the low 32 bits and wrap them, exactly as a
    // 4-byte counter does: one pass, no split on the counter's value.
    if (n >= 16 && ctr32Wide != nullptr)
      ctr32Wide(ctx, counter, in, out, n);
    else if (n != 0)
      ctr32(ctx, counter, in, out, n);
    return;
  }
  // Wider (or narrower) counters, and the portable path: the counter blocks
  // of a stretch are laid out with branch-free steps and encrypted in bulk.
  // Stretches have a fixed size, so nothing about the counter's value shapes
  // the work.
  constexpr size_t kStretch = 32;
  alignas(64) uint8_t ks[16 * kStretch];
  WideCounter c(counter, width);
  while (n > 0) {
    const size_t run = n < kStretch ? n : kStretch;
    for (size_t i = 0; i < run; ++i, c.step()) c.store(ks + 16 * i);
    encrypt_blocks(ctx, ks, ks, run);
    for (size_t i = 0; i < run; ++i) cipher::xor16(out + 16 * i, in + 16 * i, ks + 16 * i);
    n -= run;
    in += 16 * run;
    out += 16 * run;
  }
  c.store(counter);
  kel::mem::secure_zero(ks, sizeof ks);
}

}  // namespace kel::aes

namespace kel::aes {

void cbc_mac(const AesContext &ctx, uint8_t mac[16], const uint8_t *in, size_t n) {
  if (n == 0) return;
  kernel(kernels().cbcMac)(ctx, mac, in, n);
}

void ccm_blocks(const AesContext &ctx, uint8_t mac[16], uint8_t counter[16], uint8_t *data, size_t n, bool encrypt) {
  if (n == 0) return;
  kernel(kernels().ccm)(ctx, mac, counter, data, n, encrypt);
}

void xts_blocks(const AesContext &dataKey, uint8_t T[16], uint8_t *data, size_t n, bool encrypt) {
  if (n == 0) return;
  const cipher::Kernels &k = kernels();
  if (n >= 16)
    if (auto wide = kernel(k.xtsWide)) return wide(dataKey, T, data, n, encrypt);
  kernel(k.xts)(dataKey, T, data, n, encrypt);
}

namespace table {

void xts_blocks(const AesContext &dataKey, uint8_t T[16], uint8_t *data, size_t n, bool encrypt) {
  constexpr size_t kRun = 16;
  mem::Wiped<uint8_t[16 * kRun]> tweaks;
  for (size_t done = 0; done < n;) {
    const size_t run = std::min(n - done, kRun);
    uint8_t *d = data + 16 * done;
    for (size_t i = 0; i < run; ++i) {
      std::memcpy(tweaks + 16 * i, T, 16);
      cipher::xor16(d + 16 * i, d + 16 * i, T);
      xts_mul_alpha(T);
    }
    if (encrypt)
      encrypt_blocks(dataKey, d, d, run);
    else
      decrypt_blocks(dataKey, d, d, run);
    for (size_t i = 0; i < run; ++i) cipher::xor16(d + 16 * i, d + 16 * i, tweaks + 16 * i);
    done += run;
  }
}

}  // namespace table
}  // namespace kel::aes
