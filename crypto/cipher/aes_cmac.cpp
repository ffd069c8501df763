// AES-CMAC (SP 800-38B): the OMAC state machine over a keyed AES context and
// the combined context with its key.
#include "crypto/cipher/internal.h"
#include "crypto/fips/gate.h"
#include "kel/aes_modes.h"
#include "kel/vor.h"

namespace {

// Doubling in GF(2^128) on a big-endian byte string (SP 800-38B 6.1).
void dbl(uint8_t out[16], const uint8_t in[16]) {
  const uint8_t carry = static_cast<uint8_t>(-(in[0] >> 7));  // 0xFF when the top bit is set
  for (int i = 0; i < 15; ++i) out[i] = static_cast<uint8_t>(in[i] << 1 | in[i + 1] >> 7);
  out[15] = static_cast<uint8_t>((in[15] << 1) ^ (carry & 0x87));
}

}  // namespace

int32_t AES_OMAC_init(AesOmacState *state) {
  if (state == nullptr) return ERR_NULL_POINTER;
  kel::mem::secure_zero(state, sizeof *state);
  return 0;
}

int32_t AES_OMAC_update(AesContext *aes, AesOmacState *state, const uint8_t *data, uint32_t length) {
  if (aes == nullptr || state == nullptr || (data == nullptr && length != 0)) return ERR_NULL_POINTER;
  if (state->blockFill > 16) return ERR_INVALID_ARG;
  size_t left = length;
  // Top up the held block; absorb it only when more data follow, so that the
  // last block of the message is always kept for the final step.
  if (state->blockFill != 0 && left > 0) {
    const size_t take = std::min<size_t>(16u - state->blockFill, left);
    std::memcpy(state->block + state->blockFill, data, take);
    state->blockFill = static_cast<uint8_t>(state->blockFill + take);
    data += take;
    left -= take;
  }
  if (left == 0) return 0;
  if (state->blockFill == 16) {
    kel::aes::cbc_mac(*aes, state->mac, state->block, 1);
    state->blockFill = 0;
  }
  const size_t whole = (left - 1) / 16;  // keep 1..16 bytes back
  kel::aes::cbc_mac(*aes, state->mac, data, whole);
  data += 16 * whole;
  left -= 16 * whole;
  std::memcpy(state->block, data, left);
  state->blockFill = static_cast<uint8_t>(left);
  return 0;
}

int32_t AES_OMAC_final(AesContext *aes, AesOmacState *state, uint8_t tag[16]) {
  if (aes == nullptr || state == nullptr || tag == nullptr) return ERR_NULL_POINTER;
  if (state->blockFill > 16) return ERR_INVALID_ARG;
  kel::mem::Wiped<uint8_t[16]> L, K;
  std::memset(L, 0, 16);
  aesEncrypt(aes->roundKeys, aes->rounds, L, L);
  dbl(K, L);  // K1
  if (state->blockFill == 16) {
    kel::cipher::xor16(state->block, state->block, K);
  } else {
    dbl(K, K);  // K2
    state->block[state->blockFill] = 0x80;
    std::memset(state->block + state->blockFill + 1, 0, 15u - state->blockFill);
    kel::cipher::xor16(state->block, state->block, K);
  }
  kel::cipher::xor16(tag, state->block, state->mac);
  aesEncrypt(aes->roundKeys, aes->rounds, tag, tag);
  return 0;
}

int32_t AESCMAC_init(const uint8_t *key, uint32_t keyLength, AesCmacContext *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (key == nullptr || ctx == nullptr) return ERR_NULL_POINTER;
  if (keyLength > 32) return ERR_AES_BAD_KEY_LENGTH;
  if (int32_t s = kel::aes::set_key(ctx->aes, static_cast<int32_t>(keyLength * 8), key, 1, MODE_CBC); s != 0)
    return s;
  return AES_OMAC_init(&ctx->omac);
}

int32_t AESCMAC_update(const uint8_t *data, uint32_t length, AesCmacContext *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  return AES_OMAC_update(&ctx->aes, &ctx->omac, data, length);
}

int32_t AESCMAC_final(uint8_t tag[16], AesCmacContext *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr) return ERR_NULL_POINTER;
  const int32_t s = AES_OMAC_final(&ctx->aes, &ctx->omac, tag);
  kel::mem::secure_zero(ctx, sizeof *ctx);
  return s;
}

static_assert(sizeof(AesCmacContext) == sizeof(AesCtrContext));
