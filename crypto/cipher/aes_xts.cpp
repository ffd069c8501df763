// XTS-AES (IEEE 1619, SP 800-38E): one data unit in place, with ciphertext
// stealing for a partial last block.
#include "crypto/cipher/internal.h"
#include "crypto/fips/gate.h"
#include "kel/aes_modes.h"
#include "kel/vor.h"

namespace {

constexpr uint32_t kMaxUnit = 1u << 24;

int32_t check(AesXtsContext *ctx, const uint8_t *tweak, const uint8_t *data, uint32_t length, bool encrypt) {
  if (ctx == nullptr || tweak == nullptr || data == nullptr) return ERR_NULL_POINTER;
  if (length < 16 || length > kMaxUnit) return ERR_INVALID_ARG;
  // The data key's schedule was made for one direction only.
  if ((ctx->dataKey.encrypt != 0) != encrypt) return ERR_AES_BAD_KEY_DIR;
  return 0;
}

// One block with tweak T (left unchanged).
void one_block(const AesContext &key, const uint8_t T[16], uint8_t *block, bool encrypt) {
  kel::mem::Wiped<uint8_t[16]> t;
  std::memcpy(t, T, 16);
  kel::aes::xts_blocks(key, t, block, 1, encrypt);
}

}  // namespace

int32_t AESXTSInit(AesXtsContext *ctx, const uint8_t *dataKey, const uint8_t *tweakKey, uint32_t keyLength,
                   int32_t encrypt) {
  if (ctx == nullptr || dataKey == nullptr || tweakKey == nullptr) return ERR_NULL_POINTER;
  if (keyLength > 32) return ERR_AES_BAD_KEY_LENGTH;
  const int32_t bits = static_cast<int32_t>(keyLength * 8);
  if (int32_t s = kel::aes::set_key(ctx->dataKey, bits, dataKey, encrypt, MODE_ECB); s != 0) return s;
  return kel::aes::set_key(ctx->tweakKey, bits, tweakKey, 1, MODE_ECB);
}

BulkCtx CreateAESXTSCtx(const uint8_t *keyMaterial, int32_t keyLength, int32_t encrypt) {
  // Two halves of equal length: an odd length has no such split.
  if (kel::fips::gate() != 0 || keyMaterial == nullptr || keyLength <= 0 || keyLength % 2 != 0) return nullptr;
  auto *p = kel::mem::make<AesXtsContext>();
  const uint32_t half = static_cast<uint32_t>(keyLength) / 2;
  if (p != nullptr && AESXTSInit(p, keyMaterial, keyMaterial + half, half, encrypt) != 0) kel::mem::destroy(&p);
  return p;
}

int32_t DeleteAESXTSCtx(BulkCtx *ctx) {
  kel::mem::destroy<AesXtsContext>(ctx);
  return 0;
}

int32_t AESXTSEncrypt(AesXtsContext *ctx, const uint8_t tweak[16], uint8_t *data, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (int32_t s = check(ctx, tweak, data, length, true); s != 0) return s;
  kel::mem::Wiped<uint8_t[16]> T, pp;
  aesEncrypt(ctx->tweakKey.roundKeys, ctx->tweakKey.rounds, tweak, T);
  const size_t q = length / 16, r = length % 16;
  kel::aes::xts_blocks(ctx->dataKey, T, data, q, true);
  if (r != 0) {
    // Ciphertext stealing: the partial block borrows the tail of the last
    // full ciphertext block, which moves to the end.
    uint8_t *last = data + 16 * (q - 1), *partial = data + 16 * q;
    std::memcpy(pp, partial, r);
    std::memcpy(pp + r, last + r, 16 - r);
    std::memcpy(partial, last, r);
    one_block(ctx->dataKey, T, pp, true);
    std::memcpy(last, pp, 16);
  }
  return 0;
}

int32_t AESXTSDecrypt(AesXtsContext *ctx, const uint8_t tweak[16], uint8_t *data, uint32_t length) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (int32_t s = check(ctx, tweak, data, length, false); s != 0) return s;
  kel::mem::Wiped<uint8_t[16]> T, Tnext, pp;
  aesEncrypt(ctx->tweakKey.roundKeys, ctx->tweakKey.rounds, tweak, T);
  const size_t q = length / 16, r = length % 16;
  if (r == 0) {
    kel::aes::xts_blocks(ctx->dataKey, T, data, q, false);
  } else {
    kel::aes::xts_blocks(ctx->dataKey, T, data, q - 1, false);
    uint8_t *last = data + 16 * (q - 1), *partial = data + 16 * q;
    std::memcpy(Tnext, T, 16);
    kel::aes::xts_mul_alpha(Tnext);
    std::memcpy(pp, last, 16);
    one_block(ctx->dataKey, Tnext, pp, false);  // PP
    std::memcpy(last, partial, r);              // CC = partial ciphertext || tail of PP
    std::memcpy(last + r, pp + r, 16 - r);
    std::memcpy(partial, pp, r);
    one_block(ctx->dataKey, T, last, false);
  }
  return 0;
}

int32_t DoAESXTS(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *tweak) {
  auto *x = static_cast<AesXtsContext *>(ctx);
  return encrypt ? AESXTSEncrypt(x, tweak, data, length) : AESXTSDecrypt(x, tweak, data, length);
}
