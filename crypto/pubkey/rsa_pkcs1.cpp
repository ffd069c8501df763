// PKCS #1 v1.5 (RFC 8017, 7.2 and 8.2 with the caller's encoded message):
// encryption, decryption, signature and signature recovery, and the four raw
// primitives.
#include "crypto/bignum/internal.h"
#include "crypto/fips/gate.h"
#include "crypto/pubkey/rsa_internal.h"

namespace kel::rsa {

namespace {

constexpr uint32_t kMinPadding = 8;
constexpr uint32_t kOverhead = kMinPadding + 3;  // 00 0x PS(>= 8) 00

int32_t vlong_from(const uint8_t *bytes, uint32_t length, vlong **out, vlong **queue) {
  SecretVlong v(queue);
  int32_t s = VLONG_vlongFromByteString(bytes, static_cast<int32_t>(length), v.out(), queue);
  if (s == kOk) *out = v.release();
  return s;
}

// Writes v (below n, so k bytes hold it) as exactly k big-endian bytes. The
// units are read by their count, never by value: a decrypted block is secret
// and its leading bytes are what the padding check judges.
int32_t bytes_from(const vlong *v, uint8_t *dest, uint32_t k) {
  if (v->length > (k + 3) / 4) return ERR_VLONG_BUFFER_TOO_SMALL;
  for (uint32_t i = 0; i < k; ++i) {
    const uint32_t unit = i / 4 < v->length ? v->units[i / 4] : 0;
    dest[k - 1 - i] = static_cast<uint8_t>(unit >> (8 * (i % 4)));
  }
  return kOk;
}

// Clears an output buffer when the operation fails, on every path.
class WipeOnFailure {
 public:
  WipeOnFailure(uint8_t *buf, uint32_t n) : buf_(buf), n_(n) {}
  ~WipeOnFailure() {
    if (buf_ != nullptr) secure_zero(buf_, n_);
  }
  int32_t done(int32_t status) {
    if (status == kOk) buf_ = nullptr;
    return status;
  }

 private:
  uint8_t *buf_;
  uint32_t n_;
};

// Moves buf[from .. k) to the start of buf and zeroes the rest, where `from`
// is secret: log2(k) passes, each shifting the whole buffer by one power of
// two or not, by mask. Every byte is read and written on every pass.
void ct_move_to_front(uint8_t *buf, uint32_t k, uint32_t from) {
  for (uint32_t shift = 0; (1u << shift) < k; ++shift) {
    const uint32_t step = 1u << shift;
    const uint8_t mask = static_cast<uint8_t>(0u - ((barrier(from) >> shift) & 1u));
    for (uint32_t i = 0; i + step < k; ++i) buf[i] = static_cast<uint8_t>((buf[i + step] & mask) | (buf[i] & ~mask));
  }
  const uint32_t kept = k - from;
  for (uint32_t i = 0; i < k; ++i) buf[i] &= static_cast<uint8_t>(ct_lt(i, kept));
}

int32_t decrypt(RsaKeyObject *key, const uint8_t *cipherText, uint8_t *plainText, uint32_t *plainTextLength,
                RngFun rng, void *rngArg, vlong **queue) {
  const uint32_t k = modulus_bytes(key);
  if (k < kOverhead) return ERR_RSA_BAD_KEY;
  WipeOnFailure wipe(plainText, k);
  bignum::Temp c(queue);
  SecretVlong m(queue);
  if (int32_t s = VLONG_vlongFromByteString(cipherText, static_cast<int32_t>(k), c.out(), queue); s != kOk)
    return s;
  if (int32_t s = private_op(key, c.get(), rng, rngArg, m.out(), queue); s != kOk) return s;
  if (int32_t s = bytes_from(m.get(), plainText, k); s != kOk) return s;

  // The block is checked without a branch or an address that depends on its
  // bytes: every byte is examined, the separator's position and the verdict
  // are masks, and only the final status leaves. A check that stopped early,
  // or took longer for some failures than others, would be a padding oracle
  // (Bleichenbacher 1998) that decrypts any ciphertext for whoever can time it.
  uint32_t good = ct_is_zero(plainText[0]) & ct_eq(plainText[1], 2);
  uint32_t looking = 0xffffffffu, separator = 0;
  for (uint32_t i = 2; i < k; ++i) {
    const uint32_t isZero = ct_is_zero(plainText[i]);
    separator |= looking & isZero & i;
    looking &= ~isZero;
  }
  good &= ~looking;                                // a separator was found
  good &= ~ct_lt(separator, 2 + kMinPadding);      // after at least 8 padding bytes
  const uint32_t from = (separator + 1) & good;    // nothing survives a bad block
  ct_move_to_front(plainText, k, from | (~good & k));
  good = barrier(good);
  KEL_DECLASSIFY(&good, sizeof good);  // the verdict is the status, which is public
  if (good == 0) return ERR_RSA_BAD_PADDING;
  *plainTextLength = k - from;
  return wipe.done(kOk);
}

int32_t encrypt(const RsaKeyObject *key, const uint8_t *plainText, uint32_t length, uint8_t *cipherText,
                RngFun rng, void *rngArg, vlong **queue) {
  const uint32_t k = modulus_bytes(key);
  if (k < kOverhead || length > k - kOverhead) return ERR_RSA_BAD_KEY;
  WipeOnFailure wipe(cipherText, k);
  // EM = 00 02 PS 00 M, PS non-zero random bytes.
  uint8_t *em = cipherText;
  const uint32_t ps = k - length - 3;
  em[0] = 0;
  em[1] = 2;
  if (int32_t s = rng(rngArg, ps, em + 2); s != kOk) return s;
  for (uint32_t i = 2; i < 2 + ps; ++i) em[i] |= static_cast<uint8_t>(ct_is_zero(em[i]) & 1);
  em[k - length - 1] = 0;
  if (length != 0) std::memmove(em + k - length, plainText, length);
  SecretVlong m(queue);
  bignum::Temp c(queue);
  if (int32_t s = vlong_from(em, k, m.out(), queue); s != kOk) return s;
  if (int32_t s = public_op(key, m.get(), c.out(), queue); s != kOk) return s;
  return wipe.done(bytes_from(c.get(), cipherText, k));
}

}  // namespace

int32_t sign(const RsaKeyObject *key, const uint8_t *message, uint32_t length, uint8_t *signature, vlong **queue) {
  const uint32_t k = modulus_bytes(key);
  if (k < kOverhead || length > k - kOverhead) return ERR_RSA_BAD_KEY;
  if (!key->hasPrivatePart) return ERR_RSA_INCOMPLETE_KEY;
  WipeOnFailure wipe(signature, k);
  // EM = 00 01 FF..FF 00 M.
  std::memmove(signature + k - length, message, length);
  signature[0] = 0;
  signature[1] = 1;
  std::memset(signature + 2, 0xff, k - length - 3);
  signature[k - length - 1] = 0;
  bignum::Temp m(queue);
  SecretVlong s(queue);
  if (int32_t st = vlong_from(signature, k, m.out(), queue); st != kOk) return st;
  if (int32_t st = private_op(key, m.get(), nullptr, nullptr, s.out(), queue); st != kOk) return st;
  return wipe.done(bytes_from(s.get(), signature, k));
}

int32_t verify(const RsaKeyObject *key, const uint8_t *signature, uint8_t *output, uint32_t *outputLength,
               vlong **queue) {
  if (key->modulus == nullptr) return kNull;
  const uint32_t k = modulus_bytes(key);
  if (k > RSA_MAX_VERIFY_BYTES) return ERR_RSA_MODULUS_TOO_LONG;
  if (key->publicExponent == nullptr || key->publicExponent->length > 1) return ERR_RSA_EXPONENT_TOO_LONG;
  if (k < kOverhead) return ERR_RSA_BAD_PADDING;
  bignum::Temp s(queue), m(queue);
  if (int32_t st = VLONG_vlongFromByteString(signature, static_cast<int32_t>(k), s.out(), queue); st != kOk)
    return st;
  if (int32_t st = public_op(key, s.get(), m.out(), queue); st != kOk) return st;
  if (int32_t st = bytes_from(m.get(), output, k); st != kOk) return st;
  // Everything here is public: a plain scan will do.
  if (output[0] != 0 || output[1] != 1) return ERR_RSA_BAD_PADDING;
  uint32_t i = 2;
  while (i < k && output[i] == 0xff) ++i;
  if (i == k || output[i] != 0 || i - 2 < kMinPadding) return ERR_RSA_BAD_PADDING;
  const uint32_t length = k - i - 1;
  std::memmove(output, output + i + 1, length);
  *outputLength = length;
  return kOk;
}

}  // namespace kel::rsa

using namespace kel::rsa;
using kel::fips::gate;

int32_t RSA_encrypt(const RsaKeyObject *key, const uint8_t *plainText, uint32_t plainTextLength, uint8_t *cipherText,
                    RngFun rngFun, void *rngFunArg, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr) return ERR_RSA_BAD_KEY;
  if (plainText == nullptr || cipherText == nullptr || rngFun == nullptr) return kNull;
  if (key->modulus == nullptr || key->publicExponent == nullptr) return kNull;
  return encrypt(key, plainText, plainTextLength, cipherText, rngFun, rngFunArg, queue);
}

int32_t RSA_decrypt(RsaKeyObject *key, const uint8_t *cipherText, uint8_t *plainText, uint32_t *plainTextLength,
                    RngFun rngFun, void *rngFunArg, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr || !key->hasPrivatePart) return ERR_RSA_BAD_KEY;
  if (cipherText == nullptr || plainText == nullptr || plainTextLength == nullptr) return kNull;
  if (key->modulus == nullptr || key->publicExponent == nullptr) return kNull;
  return decrypt(key, cipherText, plainText, plainTextLength, rngFun, rngFunArg, queue);
}

int32_t RSA_signMessage(const RsaKeyObject *key, const uint8_t *message, uint32_t messageLength, uint8_t *signature,
                        vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr || message == nullptr || signature == nullptr) return ERR_RSA_BAD_KEY;
  if (key->modulus == nullptr || key->publicExponent == nullptr) return kNull;
  return sign(key, message, messageLength, signature, queue);
}

int32_t RSA_verifySignature(const RsaKeyObject *key, const uint8_t *signature, uint8_t *output,
                            uint32_t *outputLength, vlong **queue) {
  if (int32_t s = gate(); s != 0) return s;
  if (key == nullptr) return ERR_RSA_BAD_KEY;
  if (signature == nullptr || output == nullptr || outputLength == nullptr) return kNull;
  return verify(key, signature, output, outputLength, queue);
}

namespace {

int32_t check(const RsaKeyObject *key, const vlong *input, vlong **out) {
  if (key == nullptr) return ERR_RSA_BAD_KEY;
  if (input == nullptr || out == nullptr || key->modulus == nullptr || key->publicExponent == nullptr) return kNull;
  return kOk;
}

}  // namespace

int32_t RSA_RSAEP(const RsaKeyObject *key, const vlong *input, vlong **out, vlong **queue) {
  if (int32_t s = check(key, input, out); s != kOk) return s;
  return public_op(key, input, out, queue);
}

int32_t RSA_RSAVP1(const RsaKeyObject *key, const vlong *input, vlong **out, vlong **queue) {
  if (int32_t s = check(key, input, out); s != kOk) return s;
  return public_op(key, input, out, queue);
}

int32_t RSA_RSADP(const RsaKeyObject *key, const vlong *input, vlong **out, vlong **queue) {
  if (int32_t s = check(key, input, out); s != kOk) return s;
  return private_op(key, input, nullptr, nullptr, out, queue);
}

int32_t RSA_RSASP1(RsaKeyObject *key, const vlong *input, RngFun rngFun, void *rngFunArg, vlong **out,
                   vlong **queue) {
  if (int32_t s = check(key, input, out); s != kOk) return s;
  return private_op(key, input, rngFun, rngFunArg, out, queue);
}
