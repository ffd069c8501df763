// AES counter mode (SP 800-38A 6.5): a keystream that carries its unused
// bytes from call to call, the file-position form, the RFC 3686 form and the
// counter-mode suite.
#include "crypto/cipher/internal.h"
#include "crypto/fips/gate.h"
#include "kel/aes_modes.h"
#include "kel/vor.h"

namespace {


// Encrypts the counter block into the keystream and steps the counter.
void next_keystream(AesCtrContext &c, int width) {
  aesEncrypt(c.aes.roundKeys, c.aes.rounds, c.counterBlock, c.keystream);
  kel::aes::increment_counter(c.counterBlock, width);
}

// The stream after the exported entries' checks: nothing for a length of 0
// or less, a null pointer refused only when there is something to process.
int32_t stream(AesCtrContext &c, uint8_t *data, int32_t length, int width) {
  if (length <= 0) return 0;
  if (data == nullptr) return ERR_NULL_POINTER;
  kel::aes::ctr_stream(c, data, static_cast<size_t>(length), width);
  return 0;
}

}  // namespace

namespace kel::aes {

void ctr_stream(AesCtrContext &c, uint8_t *data, size_t left, int width) {
  // Use up the keystream left over from the previous call.
  while (c.keystreamOffset != 0 && left > 0) {
    *data++ ^= c.keystream[c.keystreamOffset];
    c.keystreamOffset = static_cast<uint8_t>((c.keystreamOffset + 1) & 15);
    --left;
  }
  const size_t blocks = left / 16;
  ctr_xor(c.aes, c.counterBlock, width, data, data, blocks);
  data += 16 * blocks;
  left -= 16 * blocks;
  if (left > 0) {
    next_keystream(c, width);
    cipher::xor_bytes(data, c.keystream, left);
    c.keystreamOffset = static_cast<uint8_t>(left);
  }
}

}  // namespace kel::aes

int32_t AESCTRInit(AesCtrContext *ctx, const uint8_t *key, uint32_t keyLength, const uint8_t counter[16]) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || key == nullptr || counter == nullptr) return ERR_NULL_POINTER;
  kel::mem::secure_zero(ctx, sizeof *ctx);
  std::memcpy(ctx->counterBlock, counter, 16);
  if (keyLength > 32) return ERR_AES_BAD_KEY_LENGTH;
  return kel::aes::set_key(ctx->aes, static_cast<int32_t>(keyLength * 8), key, 1, MODE_ECB);
}

BulkCtx CreateAESCTRCtx(const uint8_t *keyMaterial, uint32_t keyLength, int32_t) {
  // The counter block comes from the end of the key material: there must be
  // a key before it.
  if (kel::fips::gate() != 0 || keyMaterial == nullptr || keyLength <= 16) return nullptr;
  auto *ctx = kel::mem::make<AesCtrContext>();
  if (ctx == nullptr) return nullptr;
  std::memcpy(ctx->counterBlock, keyMaterial + keyLength - 16, 16);
  if (keyLength - 16 > 32 ||
      kel::aes::set_key(ctx->aes, static_cast<int32_t>((keyLength - 16) * 8), keyMaterial, 1, MODE_ECB) != 0)
    kel::mem::destroy(&ctx);
  return ctx;
}

int32_t DeleteAESCTRCtx(BulkCtx *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  kel::mem::destroy<AesCtrContext>(ctx);
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
  kel::aes::ctr_stream(c, data, static_cast<size_t>(length), counterWidth);
  return 0;
}

// Lengths beyond the signed range run as one keystream all the same.
int32_t DoAESCTR(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t, uint8_t *iv) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  if (length == 0) return 0;
  if (data == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<AesCtrContext *>(ctx);
  if (iv != nullptr) {
    std::memcpy(c.counterBlock, iv, 16);
    c.keystreamOffset = 0;
  }
  kel::aes::ctr_stream(c, data, length, 16);
  return 0;
}

int32_t DoAESCTRFileIo(BulkCtx ctx, uint8_t *data, int32_t length, int32_t, const uint8_t nonce[12],
                       uint32_t position) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || nonce == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<AesCtrContext *>(ctx);
  std::memcpy(c.counterBlock, nonce, 12);
  VOR_HTONL(c.counterBlock + 12, position / 16);
  c.keystreamOffset = static_cast<uint8_t>(position % 16);
  if (c.keystreamOffset != 0) next_keystream(c, 16);
  return stream(c, data, length, 16);
}

BulkCtx CreateAesCtrCtx(const uint8_t *keyMaterial, uint32_t keyLength, int32_t) {
  // RFC 3686: key || 4-byte nonce; the counter block is nonce || iv || 1.
  if (keyMaterial == nullptr || keyLength <= 4 || keyLength > 36) return nullptr;
  auto *c = kel::mem::make<AesCtrContext>();
  if (c == nullptr) return nullptr;
  std::memcpy(c->counterBlock, keyMaterial + keyLength - 4, 4);
  c->counterBlock[15] = 1;
  if (kel::aes::set_key(c->aes, static_cast<int32_t>((keyLength - 4) * 8), keyMaterial, 1, MODE_ECB) != 0)
    kel::mem::destroy(&c);
  return c;
}

int32_t DoAesCtr(BulkCtx ctx, uint8_t *data, int32_t length, int32_t, const uint8_t iv[8]) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || iv == nullptr) return ERR_NULL_POINTER;
  auto &c = *static_cast<AesCtrContext *>(ctx);
  std::memcpy(c.counterBlock + 4, iv, 8);
  return stream(c, data, length, 16);
}

// Counter mode as a stream suite: the key material ends with the counter block.
extern "C" const CipherSuite CRYPTO_AESCtrSuite = {0, CreateAESCTRCtx, DeleteAESCTRCtx, DoAESCTR};
