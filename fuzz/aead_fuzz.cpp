// AES-GCM and AES-CCM with lengths of every kind: whatever the key, nonce,
// additional data, text and tag lengths, a sealed message opens to the same
// text, streaming GCM in two pieces equals the one-call form, a changed tag
// is refused, and arbitrary bytes offered as a sealed message are refused or
// opened without any access out of bounds.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "kel/aes_modes.h"
#include "kel/fips.h"
#include "kel/gcm.h"

using kel::fuzz::check;
using kel::fuzz::Input;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kKeyLengths[] = {16, 24, 32};

Bytes Take(Input &in, size_t n) {
  size_t got = 0;
  const uint8_t *p = in.take(n, &got);
  return Bytes(p, p + got);
}

void Gcm(Input &in) {
  const uint32_t keyLength = kKeyLengths[in.byte() % 3];
  const uint32_t nonceLength = in.byte() % 80;  // 0 is refused
  const uint32_t aadLength = in.byte() % 64;
  const uint32_t tagLength = in.byte() % 18;  // 0 and 17 are refused
  const uint32_t split = in.u16();
  const Bytes key = Take(in, keyLength), nonce = Take(in, nonceLength), aad = Take(in, aadLength);
  Bytes text = Take(in, in.left());
  if (key.size() != keyLength) return;
  BulkCtx enc = GCM_createCtx_256b(key.data(), keyLength, 1), dec = GCM_createCtx_256b(key.data(), keyLength, 0);
  check(enc != nullptr && dec != nullptr, "GCM context");
  const auto textLength = static_cast<uint32_t>(text.size());
  Bytes sealed = text;
  sealed.resize(text.size() + 16);
  const int32_t s = GCM_cipher_256b(enc, nonce.data(), static_cast<uint32_t>(nonce.size()), aad.data(),
                                    static_cast<uint32_t>(aad.size()), sealed.data(), textLength, tagLength, 1);
  if (s == 0 && tagLength > 0) {
    // Two pieces, cut anywhere, give the same text and tag.
    Bytes streamed = text;
    streamed.reserve(1);  // a valid pointer even for an empty text
    uint8_t tag[16];
    const uint32_t cut = textLength == 0 ? 0 : split % (textLength + 1);
    check(GCM_init_256b(enc, nonce.data(), static_cast<uint32_t>(nonce.size()), aad.data(),
                        static_cast<uint32_t>(aad.size())) == 0, "GCM init");
    check(GCM_update_encrypt_256b(enc, streamed.data(), cut) == 0, "GCM update");
    check(GCM_update_encrypt_256b(enc, streamed.data() + cut, textLength - cut) == 0, "GCM update");
    check(GCM_final_256b(enc, tag) == 0, "GCM final");
    check(std::memcmp(streamed.data(), sealed.data(), textLength) == 0, "GCM streamed text");
    check(std::memcmp(tag, sealed.data() + textLength, tagLength) == 0, "GCM streamed tag");

    Bytes opened = sealed;
    check(GCM_cipher_256b(dec, nonce.data(), static_cast<uint32_t>(nonce.size()), aad.data(),
                          static_cast<uint32_t>(aad.size()), opened.data(), textLength, tagLength, 0) == 0,
          "GCM opens its own message");
    check(Bytes(opened.begin(), opened.begin() + textLength) == text, "GCM round trip");
    opened = sealed;
    opened[textLength + split % tagLength] ^= static_cast<uint8_t>(1u << (split % 8));
    check(GCM_cipher_256b(dec, nonce.data(), static_cast<uint32_t>(nonce.size()), aad.data(),
                          static_cast<uint32_t>(aad.size()), opened.data(), textLength, tagLength,
                          0) == ERR_GCM_TAG_MISMATCH,
          "GCM refuses a changed tag");
  }
  // The input itself as a sealed message: refused (or, rarely, opened).
  if (s == 0 && text.size() >= tagLength) {
    const int32_t d = GCM_cipher_256b(dec, nonce.data(), static_cast<uint32_t>(nonce.size()), aad.data(),
                                      static_cast<uint32_t>(aad.size()), text.data(), textLength - tagLength,
                                      tagLength, 0);
    check(d == 0 || d == ERR_GCM_TAG_MISMATCH, "GCM decrypt status");
  }
  GCM_deleteCtx_256b(&enc);
  GCM_deleteCtx_256b(&dec);
}

void Ccm(Input &in) {
  const uint32_t keyLength = kKeyLengths[in.byte() % 3];
  const auto M = static_cast<uint8_t>(in.byte() % 18);  // valid: 4..16, even
  const auto L = static_cast<uint8_t>(in.byte() % 10);  // valid: 2..8
  const uint32_t aadLength = in.u16() % 300;
  const uint32_t flip = in.byte();
  const Bytes key = Take(in, keyLength), nonce = Take(in, 15u - L), aad = Take(in, aadLength);
  Bytes text = Take(in, in.left());
  if (key.size() != keyLength || nonce.size() != static_cast<size_t>(15 - L)) return;
  const auto textLength = static_cast<uint32_t>(text.size());
  Bytes sealed = text;
  uint8_t tag[16] = {};
  const int32_t s = AESCCM_encrypt(M, L, key.data(), static_cast<int32_t>(keyLength), nonce.data(), sealed.data(),
                                   textLength, aad.data(), static_cast<uint32_t>(aad.size()), tag);
  const bool valid = M >= 4 && M <= 16 && M % 2 == 0 && L >= 2 && L <= 8;
  check(valid || s != 0, "CCM accepts only valid M and L");
  if (s != 0) return;
  Bytes opened = sealed;
  check(AESCCM_decrypt(M, L, key.data(), static_cast<int32_t>(keyLength), nonce.data(), opened.data(), textLength,
                       aad.data(), static_cast<uint32_t>(aad.size()), tag) == 0,
        "CCM opens its own message");
  check(opened == text, "CCM round trip");
  tag[flip % M] ^= static_cast<uint8_t>(1u << (flip % 8));
  opened = sealed;
  check(AESCCM_decrypt(M, L, key.data(), static_cast<int32_t>(keyLength), nonce.data(), opened.data(), textLength,
                       aad.data(), static_cast<uint32_t>(aad.size()), tag) == ERR_AES_CCM_AUTH_FAIL,
        "CCM refuses a changed tag");
  // The input as ciphertext under the changed tag: refused (or, rarely,
  // opened) without harm.
  const int32_t d = AESCCM_decrypt(M, L, key.data(), static_cast<int32_t>(keyLength), nonce.data(), text.data(),
                                   textLength, aad.data(), static_cast<uint32_t>(aad.size()), tag);
  check(d == 0 || d == ERR_AES_CCM_AUTH_FAIL, "CCM decrypt status");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  gFIPS_powerupStatus = 0;  // the self-test is not what is fuzzed here
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  if (in.byte() & 1)
    Ccm(in);
  else
    Gcm(in);
  return 0;
}
