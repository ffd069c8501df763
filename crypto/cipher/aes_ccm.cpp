// AES-CCM (SP 800-38C, RFC 3610): one-call encryption and decryption with the
// key given directly or as a keyed context. Only the forward cipher runs.
#include "crypto/cipher/internal.h"
#include "crypto/fips/gate.h"
#include "kel/aes_modes.h"
#include "kel/vor.h"

namespace {

using kel::cipher::xor16;

// Checks M (tag bytes), L (length-field bytes) and the data length.
int32_t check_parameters(uint32_t M, int32_t L, uint32_t dataLength) {
  if (M % 2 != 0 || M < 4 || M > 16 || L < 2 || L > 8) return ERR_INVALID_ARG;
  uint64_t rest = dataLength;
  for (int32_t i = 0; i < L; ++i) rest >>= 8;
  return rest == 0 ? 0 : ERR_INVALID_ARG;
}

// CBC-MAC over B0 and the encoded additional data (RFC 3610 2.2); the payload
// follows through ccm_blocks.
void mac_header(const AesContext &aes, uint8_t T[16], uint32_t M, int L, const uint8_t *nonce, uint32_t dataLength,
                const uint8_t *aad, uint32_t aadLength) {
  kel::mem::Wiped<uint8_t[16]> b;
  std::memset(b, 0, 16);
  b[0] = static_cast<uint8_t>((aadLength != 0 ? 64 : 0) + 8 * ((M - 2) / 2) + (L - 1));
  std::memcpy(b + 1, nonce, static_cast<size_t>(15 - L));
  uint64_t len = dataLength;
  for (int i = 15; i >= 16 - L; --i, len >>= 8) b[i] = static_cast<uint8_t>(len);
  std::memset(T, 0, 16);
  kel::aes::cbc_mac(aes, T, b, 1);
  if (aadLength != 0) {
    std::memset(b, 0, 16);
    size_t head, used;
    if (aadLength > 0xFEFF) {
      b[0] = 0xFF;
      b[1] = 0xFE;
      kel::store_be32(b + 2, aadLength);
      head = 6;
    } else {
      b[0] = static_cast<uint8_t>(aadLength >> 8);
      b[1] = static_cast<uint8_t>(aadLength);
      head = 2;
    }
    used = aadLength < 16 - head ? aadLength : 16 - head;
    std::memcpy(b + head, aad, used);
    kel::aes::cbc_mac(aes, T, b, 1);
    const size_t rest = aadLength - used, whole = rest / 16, tail = rest % 16;
    kel::aes::cbc_mac(aes, T, aad + used, whole);
    if (tail != 0) {
      std::memset(b, 0, 16);
      std::memcpy(b, aad + used + 16 * whole, tail);
      kel::aes::cbc_mac(aes, T, b, 1);
    }
  }
}

// The whole operation over a keyed forward cipher; tag is written (encrypt)
// or checked (decrypt).
int32_t ccm(const AesContext &aes, uint32_t M, int L, const uint8_t *nonce, uint8_t *data, uint32_t dataLength,
            const uint8_t *aad, uint32_t aadLength, uint8_t *tag, bool encrypt) {
  kel::mem::Wiped<uint8_t[16]> T, s0, ctr, last;
  std::memset(ctr, 0, 16);
  ctr[0] = static_cast<uint8_t>(L - 1);
  std::memcpy(ctr + 1, nonce, static_cast<size_t>(15 - L));
  aesEncrypt(aes.roundKeys, aes.rounds, ctr, s0);  // E(A0) masks the tag
  ctr[15] = 1;
  mac_header(aes, T, M, L, nonce, dataLength, aad, aadLength);
  const size_t whole = dataLength / 16, tail = dataLength % 16;
  kel::aes::ccm_blocks(aes, T, ctr, data, whole, encrypt);
  if (tail != 0) {
    uint8_t *p = data + 16 * whole;
    aesEncrypt(aes.roundKeys, aes.rounds, ctr, last);
    if (!encrypt) kel::cipher::xor_bytes(p, last, tail);
    for (size_t i = 0; i < tail; ++i) T[i] ^= p[i];
    aesEncrypt(aes.roundKeys, aes.rounds, T, T);
    if (encrypt) kel::cipher::xor_bytes(p, last, tail);
  }
  xor16(T, T, s0);
  int32_t status = 0;
  if (encrypt)
    std::memcpy(tag, T, M);
  else if (!kel::ct_equal(T, tag, M))
    status = ERR_AES_CCM_AUTH_FAIL;
  return status;
}

int32_t one_call(uint8_t M, uint8_t L, const uint8_t *key, int32_t keyLength, const uint8_t *nonce, uint8_t *data,
                 uint32_t dataLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag, bool encrypt) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (key == nullptr || nonce == nullptr || data == nullptr || tag == nullptr || (aad == nullptr && aadLength != 0))
    return ERR_NULL_POINTER;
  if (int32_t s = check_parameters(M, L, dataLength); s != 0) return s;
  if (keyLength < 0 || keyLength > 32) return ERR_AES_BAD_KEY_LENGTH;
  kel::mem::Wiped<AesContext> aes;
  int32_t s = kel::aes::set_key(*aes, keyLength * 8, key, 1, MODE_ECB);
  if (s == 0) s = ccm(*aes, M, L, nonce, data, dataLength, aad, aadLength, tag, encrypt);
  return s;
}

}  // namespace

int32_t AESCCM_encrypt(uint8_t M, uint8_t L, const uint8_t *key, int32_t keyLength, const uint8_t *nonce,
                       uint8_t *data, uint32_t dataLength, const uint8_t *aad, uint32_t aadLength, uint8_t *tag) {
  return one_call(M, L, key, keyLength, nonce, data, dataLength, aad, aadLength, tag, true);
}

int32_t AESCCM_decrypt(uint8_t M, uint8_t L, const uint8_t *key, int32_t keyLength, const uint8_t *nonce,
                       uint8_t *data, uint32_t dataLength, const uint8_t *aad, uint32_t aadLength, const uint8_t *tag) {
  return one_call(M, L, key, keyLength, nonce, data, dataLength, aad, aadLength, const_cast<uint8_t *>(tag), false);
}

BulkCtx AESCCM_createCtx(const uint8_t *key, uint32_t keyLength, int32_t) {
  if (kel::fips::gate() != 0 || key == nullptr || keyLength > 32) return nullptr;
  auto *p = kel::mem::make<AesContext>();
  if (p != nullptr && kel::aes::set_key(*p, static_cast<int32_t>(keyLength * 8), key, 1, MODE_ECB) != 0)
    kel::mem::destroy(&p);
  return p;
}

int32_t AESCCM_deleteCtx(BulkCtx *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  kel::mem::destroy<AesContext>(ctx);
  return 0;
}

int32_t AESCCM_cipher(BulkCtx ctx, const uint8_t *nonce, uint32_t nonceLength, const uint8_t *aad, uint32_t aadLength,
                      uint8_t *data, uint32_t dataLength, uint32_t tagLength, int32_t encrypt) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || nonce == nullptr || data == nullptr || (aad == nullptr && aadLength != 0))
    return ERR_NULL_POINTER;
  if (nonceLength > 15) return ERR_INVALID_ARG;
  const int32_t L = 15 - static_cast<int32_t>(nonceLength);
  if (int32_t s = check_parameters(tagLength, L, dataLength); s != 0) return s;
  // A copy keeps the caller's context untouched while the engines run.
  kel::mem::Wiped<AesContext> aes(*static_cast<const AesContext *>(ctx));
  return ccm(*aes, tagLength, L, nonce, data, dataLength, aad, aadLength, data + dataLength, encrypt != 0);
}
