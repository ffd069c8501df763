// Triple DES in EDE form: the block functions (not gated; the CTR-DRBG with
// TDEA builds on them) and the gated CBC contexts of the cipher suites.

#include "crypto/cipher/des_internal.h"
#include "crypto/fips/gate.h"
#include "kel/vor.h"

int32_t THREE_DES_initKey(TripleDesContext *ctx, const uint8_t *key, uint32_t keyLength) {
  if (ctx == nullptr || key == nullptr) return ERR_NULL_POINTER;
  if (keyLength != THREE_DES_KEY_SIZE) return ERR_3DES_BAD_KEY_LENGTH;
  kel::des::key_schedule(key, ctx->k1.encryptKeys, ctx->k1.decryptKeys);
  kel::des::key_schedule(key + 8, ctx->k2.encryptKeys, ctx->k2.decryptKeys);
  kel::des::key_schedule(key + 16, ctx->k3.encryptKeys, ctx->k3.decryptKeys);
  return 0;
}

// Each block runs E(k1), D(k2), E(k3) back to back, which equals the three
// passes over the whole buffer and pays for IP and FP once.
int32_t THREE_DES_encipher(const TripleDesContext *ctx, const uint8_t *input, uint8_t *output, uint32_t length) {
  if (ctx == nullptr || input == nullptr || output == nullptr) return ERR_NULL_POINTER;
  if (length % DES_BLOCK_SIZE != 0) return ERR_DES_BAD_DATA_LENGTH;
  kel::des::ecb(input, output, length / DES_BLOCK_SIZE, kel::des::triple_encrypt(*ctx));
  return 0;
}

int32_t THREE_DES_decipher(const TripleDesContext *ctx, const uint8_t *input, uint8_t *output, uint32_t length) {
  if (ctx == nullptr || input == nullptr || output == nullptr) return ERR_NULL_POINTER;
  if (length % DES_BLOCK_SIZE != 0) return ERR_DES_BAD_DATA_LENGTH;
  kel::des::ecb(input, output, length / DES_BLOCK_SIZE, kel::des::triple_decrypt(*ctx));
  return 0;
}

namespace {

// A context keyed for one direction with a 24-byte key, or null.
void *create(const uint8_t *key, int32_t direction) {
  auto *ctx = kel::mem::make<TripleDesCbcContext>();
  if (ctx == nullptr) return nullptr;
  ctx->encrypt = direction != 0;
  TripleDesContext *half = direction != 0 ? &ctx->encryptHalf : &ctx->decryptHalf;
  if (THREE_DES_initKey(half, key, THREE_DES_KEY_SIZE) != 0) kel::mem::destroy(&ctx);
  return ctx;
}

}  // namespace

void *Create3DESCtx(const uint8_t *key, uint32_t keyLength, int32_t direction) {
  if (kel::fips::gate() != 0) return nullptr;
  if (key == nullptr || keyLength != THREE_DES_KEY_SIZE) return nullptr;
  return create(key, direction);
}

void *Create2Key3DESCtx(const uint8_t *key, uint32_t keyLength, int32_t direction) {
  if (kel::fips::gate() != 0) return nullptr;
  if (key == nullptr || keyLength != TWO_KEY_3DES_KEY_SIZE) return nullptr;
  kel::mem::Wiped<uint8_t[THREE_DES_KEY_SIZE]> full;  // k1 || k2 || k1
  for (int i = 0; i < 16; ++i) full[i] = key[i];
  for (int i = 0; i < 8; ++i) full[16 + i] = key[i];
  return create(full, direction);
}

int32_t Delete3DESCtx(void **ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  if (*ctx == nullptr) return 0;
  kel::mem::destroy<TripleDesCbcContext>(ctx);
  return 0;
}

int32_t Do3DES(void *ctx, uint8_t *data, uint32_t length, int32_t direction, uint8_t *iv) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return 0;
  if (data == nullptr || iv == nullptr) return ERR_NULL_POINTER;
  if (length % DES_BLOCK_SIZE != 0) return ERR_3DES_BAD_DATA_LENGTH;
  const auto &c = *static_cast<const TripleDesCbcContext *>(ctx);
  // The other half was never keyed: running it would use an all-zero schedule.
  if ((direction != 0) != (c.encrypt != 0)) return ERR_3DES_WRONG_DIRECTION;
  if (direction != 0)
    kel::des::cbc_encrypt(data, data, length / DES_BLOCK_SIZE, iv, kel::des::triple_encrypt(c.encryptHalf));
  else
    kel::des::cbc_decrypt(data, data, length / DES_BLOCK_SIZE, iv, kel::des::triple_decrypt(c.decryptHalf));
  return 0;
}

extern "C" const CipherSuite CRYPTO_TripleDESSuite = {DES_BLOCK_SIZE, Create3DESCtx, Delete3DESCtx, Do3DES};
extern "C" const CipherSuite CRYPTO_TwoKeyTripleDESSuite = {DES_BLOCK_SIZE, Create2Key3DESCtx, Delete3DESCtx,
                                                             Do3DES};
