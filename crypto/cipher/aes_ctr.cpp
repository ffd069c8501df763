// AES counter mode (SP 800-38A 6.5): a keystream that carries its unused
// bytes from call to call, the file-position form, the RFC 3686 form and the
// counter-mode suite.
#include "crypto/cipher/internal.h"
#include "crypto/fips/gate.h"
#include "kel/aes_modes.h"
#include "kel/vor.h"

namespace {

using kel::cipher::release;

// Encrypts the counter block into the keystream and steps the counter.
void next_keystream(AesCtrContext &c, int width) {
  aesEncrypt(c.aes.roundKeys, c.aes.rounds, c.counterBlock, c.keystream);
  kel::aes::increment_counter(c.counterBlock, width);
}

}  // namespace

int32_t AESCTRInit(AesCtrContext *ctx, const uint8_t *key, uint32_t keyLength, const uint8_t counter[16]) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || key == nullptr || counter == nullptr) return ERR_NULL_POINTER;
  kel::cipher::secure_zero(ctx, sizeof *ctx);
  std::memcpy(ctx->counterBlock, counter, 16);
  if (keyLength > 32) return ERR_AES_BAD_KEY_LENGTH;
  return AESALGO_makeAesKey(&ctx->aes, static_cast<int32_t>(keyLength * 8), key, 1, MODE_ECB);
}

BulkCtx CreateAESCTRCtx(const uint8_t *keyMaterial, uint32_t keyLength, int32_t) {
  // The counter block comes from the end of the key material: there must be
  // a key before it.
  if (kel::fips::gate() != 0 || keyMaterial == nullptr || keyLength <= 16) return nullptr;
  void *ctx = kel::cipher::alloc_zeroed(sizeof(AesCtrContext));
  if (ctx == nullptr) return nullptr;
  if (AESCTRInit(static_cast<AesCtrContext *>(ctx), keyMaterial, keyLength - 16, keyMaterial + keyLength - 16) != 0)
    release(&ctx, sizeof(AesCtrContext));
  return ctx;
}

int32_t DeleteAESCTRCtx(BulkCtx *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  release(ctx, sizeof(AesCtrContext));
  return 0;
}

int32_t DoAESCTREx(BulkCtx ctx, uint8_t *data, int32_t length, int32_t, const uint8_t *iv, int32_t counterWidth) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (counterWidth < 0 || counterWidth > 16) return ERR_INVALID_ARG;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  if (length <= 0) return 0;
  if (data == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<AesCtrContext *>(ctx);
  if (iv != nullptr) {
    std::memcpy(c.counterBlock, iv, 16);
    c.keystreamOffset = 0;
  }
  size_t left = static_cast<size_t>(length);
  // Use up the keystream left over from the previous call.
  while (c.keystreamOffset != 0 && left > 0) {
    *data++ ^= c.keystream[c.keystreamOffset];
    c.keystreamOffset = static_cast<uint8_t>((c.keystreamOffset + 1) & 15);
    --left;
  }
  const size_t blocks = left / 16;
  kel::aes::ctr_xor(c.aes, c.counterBlock, counterWidth, data, data, blocks);
  data += 16 * blocks;
  left -= 16 * blocks;
  if (left > 0) {
    next_keystream(c, counterWidth);
    kel::cipher::xor_bytes(data, c.keystream, left);
    c.keystreamOffset = static_cast<uint8_t>(left);
  }
  return 0;
}

int32_t DoAESCTR(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *iv) {
  // Lengths beyond the signed range go through in pieces of the one keystream.
  constexpr uint32_t kPiece = 1u << 30;
  int32_t s = DoAESCTREx(ctx, data, static_cast<int32_t>(length < kPiece ? length : kPiece), encrypt, iv, 16);
  for (uint32_t done = kPiece; s == 0 && done < length; done += kPiece) {
    const uint32_t piece = length - done < kPiece ? length - done : kPiece;
    s = DoAESCTREx(ctx, data + done, static_cast<int32_t>(piece), encrypt, nullptr, 16);
  }
  return s;
}

int32_t DoAESCTRFileIo(BulkCtx ctx, uint8_t *data, int32_t length, int32_t encrypt, const uint8_t nonce[12],
                       uint32_t position) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || nonce == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<AesCtrContext *>(ctx);
  std::memcpy(c.counterBlock, nonce, 12);
  VOR_HTONL(c.counterBlock + 12, position / 16);
  c.keystreamOffset = static_cast<uint8_t>(position % 16);
  if (c.keystreamOffset != 0) next_keystream(c, 16);
  return DoAESCTREx(ctx, data, length, encrypt, nullptr, 16);
}

BulkCtx CreateAesCtrCtx(const uint8_t *keyMaterial, uint32_t keyLength, int32_t) {
  // RFC 3686: key || 4-byte nonce; the counter block is nonce || iv || 1.
  if (keyMaterial == nullptr || keyLength <= 4 || keyLength > 36) return nullptr;
  void *p = kel::cipher::alloc_zeroed(sizeof(AesCtrContext));
  if (p == nullptr) return nullptr;
  auto *c = static_cast<AesCtrContext *>(p);
  std::memcpy(c->counterBlock, keyMaterial + keyLength - 4, 4);
  c->counterBlock[15] = 1;
  if (AESALGO_makeAesKey(&c->aes, static_cast<int32_t>((keyLength - 4) * 8), keyMaterial, 1, MODE_ECB) != 0)
    release(&p, sizeof(AesCtrContext));
  return p;
}

int32_t DoAesCtr(BulkCtx ctx, uint8_t *data, int32_t length, int32_t encrypt, const uint8_t iv[8]) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || iv == nullptr) return ERR_NULL_POINTER;
  std::memcpy(static_cast<AesCtrContext *>(ctx)->counterBlock + 4, iv, 8);
  return DoAESCTREx(ctx, data, length, encrypt, nullptr, 16);
}

// Counter mode as a stream suite: the key material ends with the counter block.
extern "C" const CipherSuite CRYPTO_AESCtrSuite = {0, CreateAESCTRCtx, DeleteAESCTRCtx, DoAESCTR};
