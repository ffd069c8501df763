// The CTR-DRBG's own checks: the known-answer runner over a DRBG test
// record, and the health test (a known answer, then error paths that must
// fail exactly as designed).
#include "crypto/random/internal.h"

namespace kel::drbg {
namespace {

using random::kOk;

// Inputs of the first record of NIST CAVS 14.3 CTR_DRBG (drbgvectors_pr_true)
// for AES-128, AES-192 and AES-256 without derivation function, with
// personalisation string and additional inputs of seedlen bytes. The expected
// block is the second 16-byte output of instantiate, reseed, generate 16
// bytes, reseed, generate 16 bytes.
constexpr uint8_t H(char c) { return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10); }

template <size_t N>
constexpr void unhex(uint8_t (&out)[N], uint32_t &len, const char *hex) {
  len = 0;
  while (hex[2 * len] != 0) {
    out[len] = static_cast<uint8_t>(H(hex[2 * len]) << 4 | H(hex[2 * len + 1]));
    ++len;
  }
}

struct VectorText {
  const char *entropy, *pers, *add1, *entropy1, *add2, *entropy2, *expected;
};

consteval DrbgTestVector make_vector(const VectorText &t) {
  DrbgTestVector v{};
  unhex(v.entropyInput, v.entropyInputLength, t.entropy);
  unhex(v.personalization, v.personalizationLength, t.pers);
  unhex(v.additionalInput1, v.additionalInput1Length, t.add1);
  unhex(v.reseedEntropy1, v.reseedEntropy1Length, t.entropy1);
  unhex(v.additionalInput2, v.additionalInput2Length, t.add2);
  unhex(v.reseedEntropy2, v.reseedEntropy2Length, t.entropy2);
  unhex(v.expectedOutput, v.outputLength, t.expected);
  return v;
}

constexpr DrbgTestVector kAes128 = make_vector({
    "f623911bb7efe5f6c4e969799724b317d6aa2107a356ab6a05143eee99e675b3",
    "19733edbc20bedc0bc269c4837a1a471377cfeb6cd60039e4944b31af73bc4c0",
    "0591feffa77de223d6fb1a91579f766c4c09f3e9540d14fd2ee98894f7a80053",
    "60a809d63f6d5efeb4335b819e1d0a06b7be668765ca72f5404992a0e90b7a70",
    "c5f7b282a516a2f831d668ca4448662c92907cbbfa9b90c3745ea2e79b28ec6d",
    "530e7a6dfa6339aaa6661bc4fb13ff1f351c79e9d3415e2d0d570b8f9907c8b4",
    "7dba372b0e3066f1a3fd9b9441c4d0a1",
});

constexpr DrbgTestVector kAes192 = make_vector({
    "feea3b6964664c58bc58f5ac8f0e9d35d3ccf87220bb5e7a84c13c68cd9a28f1ff576675224c84c2",
    "eebac711edbb4034a7d7fd17c301467bb1369b85aeff93dbe82bce803ca059492caf3e96b5f01d83",
    "a5500c3f37b20cec3391effcac45676674ab8aba5f9690517b80eb6d2610f832564128f87c4f88b2",
    "ab87b81b15e4203ced5dcfa7a2e92f71784832a5c47f0054850ff32a06c6874747446c69cb481ef4",
    "61384443e07a5659c7bdb9bf9f3fde677ad95737e9260b53635fd7b9d4b63a7995861285ee613265",
    "29de4f15b489c4e8cdc73244570012b443a1242f28f9dd7fa43f98293a0e490aef281eea13d1e136",
    "c74b041b6cbd262d49bd217be7271735",
});

constexpr DrbgTestVector kAes256 = make_vector({
    "c54805274bde00aa5289e0513579019707666d2fa7a1c8908865891c87c0c652335a4d3cc415bc30742b164647f8820f",
    "d63fb5afa2101fa4b8a6c3b89d9c250ac728fc1ddad0e7585b5d54728ed20c2f940e89155596e3b963635b6d6088164b",
    "744bfae3c23a5cc9a3b373b6c50795068d35eb8a339746ac810d16f864e880061082edf9d2687c211960aa83400f85f9",
    "b2ad31d1f20dcf30dd526ec9156c07f270216bdb59197325bab180675929888ab699c54fb21819b7d921d6346bff2f7f",
    "ad55c682962aa4fe9ebc227c9402e79b0aa7874844d33eaee7e2d15baf81d9d33936e4d93f28ad109657b512aee115a5",
    "eca449048d26fd38f8ca435237dce66eadec7069ee5dd0b70084b819a711c0820a7556bbd0ae20f06e5169278b593b71",
    "f45560a114a8b2d6fd9552a93440a56b",
});

// The same inputs through the derivation function, with a nonce of 16 bytes
// (TDEA reuses the AES-128 inputs); the expected output is the second block
// of the same sequence, 16 bytes for AES and 8 for TDEA, taken from an
// independent model of SP 800-90A.
consteval DrbgTestVector with_df(DrbgTestVector v, const char *nonce, const char *expected) {
  unhex(v.nonce, v.nonceLength, nonce);
  for (auto &b : v.expectedOutput) b = 0;
  unhex(v.expectedOutput, v.outputLength, expected);
  return v;
}

constexpr const char *kDfNonce = "2d4a5c8f1e3b7a6d9c0f4e2b8a1d5c7e";
constexpr DrbgTestVector kAes128Df = with_df(kAes128, kDfNonce, "868f22f898faff028b28d82213aabf53");
constexpr DrbgTestVector kAes192Df = with_df(kAes192, kDfNonce, "1c45fca5b181bf8558af25dd81e1255a");
constexpr DrbgTestVector kAes256Df = with_df(kAes256, kDfNonce, "aaee6d4d825dbd4fa0ce5926ad49b696");
constexpr DrbgTestVector kTdeaDf = with_df(kAes128, kDfNonce, "261559790e168569");

static_assert(kAes128.entropyInputLength == 32 && kAes128.personalizationLength == 32 && kAes128.outputLength == 16);
static_assert(kAes192.entropyInputLength == 40 && kAes192.reseedEntropy2Length == 40 && kAes192.outputLength == 16);
static_assert(kAes256.entropyInputLength == 48 && kAes256.additionalInput2Length == 48 && kAes256.outputLength == 16);

constexpr int32_t kAnyFailure = 1;  // a step that must fail, with whatever status

// 0 when a step gave what it must; otherwise the health test's result: the
// step's own failure, or -16524 when it succeeded where it had to fail.
int32_t judge(int32_t got, int32_t want) {
  if (want == kAnyFailure) return got != kOk ? kOk : ERR_DRBG_KAT_FAILED;
  if (got == want) return kOk;
  return got != kOk ? got : ERR_DRBG_KAT_FAILED;
}

// The error-path steps on fresh test instances t (flag 2, so that they do
// not recurse into health tests of their own).
int32_t error_paths(const CtrDrbgState &s, const DrbgTestVector &v, RandomContext *&t) {
  const uint32_t bl = v.outputLength, kl = s.keyLength;
  auto make = [&](uint32_t entropyLength, uint32_t persLength) {
    return NIST_CTRDRBG_newContext(&t, v.entropyInput, entropyLength, kl, bl, v.personalization, persLength,
                                   CTRDRBG_FLAG_NO_HEALTH_TEST);
  };
  uint8_t out[16];
  uint8_t longInput[64] = {};  // longer than any instance's additional-input limit
  if (s.maxAdditionalLength >= sizeof longInput) return ERR_DRBG_KAT_FAILED;
  auto generate = [&](const uint8_t *add, uint32_t addLength, uint32_t bits) {
    return NIST_CTRDRBG_generate(t, add, addLength, out, bits, CTRDRBG_FLAG_NO_HEALTH_TEST);
  };
  const uint32_t pl = v.personalizationLength, el = v.entropyInputLength;
  int32_t st;
  if ((st = judge(make(el, pl + 1), ERR_DRBG_PERS_TOO_LONG)) != kOk) return st;                    // 1
  if ((st = judge(make(0, pl), ERR_DRBG_BAD_ENTROPY_LENGTH)) != kOk) return st;                    // 2
  if ((st = judge(generate(nullptr, 0, bl * 8), kAnyFailure)) != kOk) return st;                   // 3
  if ((st = judge(make(s.entropyLengthLow - 1, pl), ERR_DRBG_BAD_ENTROPY_LENGTH)) != kOk) return st;  // 4
  if ((st = judge(make(s.entropyLengthHigh + 1, pl), ERR_DRBG_BAD_ENTROPY_LENGTH)) != kOk) return st; // 5
  if ((st = judge(make(el, pl), kOk)) != kOk) return st;                                           // 6
  if ((st = judge(generate(nullptr, 0, bl * 8), kOk)) != kOk) return st;                           // 7
  if ((st = judge(generate(nullptr, 0, s.maxBitsPerRequest + 1), kAnyFailure)) != kOk) return st;  // 8
  if ((st = judge(generate(longInput, s.maxAdditionalLength + 1, bl * 8), kAnyFailure)) != kOk) return st;  // 9
  if ((st = judge(NIST_CTRDRBG_deleteContext(&t), kOk)) != kOk) return st;                         // 10
  if ((st = judge(make(el, pl), kOk)) != kOk) return st;                                           // 11
  if ((st = judge(generate(nullptr, 0, bl * 8), kOk)) != kOk) return st;
  random::as_ctr(t)->state.reseedCounter = s.reseedInterval;                                       // 12
  if ((st = judge(generate(nullptr, 0, bl * 8), ERR_DRBG_RESEED_REQUIRED)) != kOk) return st;
  if ((st = judge(NIST_CTRDRBG_deleteContext(&t), kOk)) != kOk) return st;
  if ((st = judge(make(el, pl), kOk)) != kOk) return st;                                           // 13
  auto reseed = [&](uint32_t entropyLength, const uint8_t *add, uint32_t addLength) {
    return NIST_CTRDRBG_reseed(t, v.entropyInput, entropyLength, add, addLength);
  };
  if ((st = judge(reseed(el, longInput, s.maxAdditionalLength + 1), ERR_DRBG_ADDITIONAL_TOO_LONG)) != kOk)
    return st;                                                                                     // 14
  if ((st = judge(reseed(0, nullptr, 0), ERR_DRBG_BAD_ENTROPY_LENGTH)) != kOk) return st;          // 15
  if ((st = judge(reseed(s.entropyLengthHigh + 1, nullptr, 0), ERR_DRBG_BAD_ENTROPY_LENGTH)) != kOk) return st;
  if ((st = judge(reseed(s.entropyLengthLow - 1, nullptr, 0), ERR_DRBG_BAD_ENTROPY_LENGTH)) != kOk) return st;
  return judge(NIST_CTRDRBG_deleteContext(&t), kOk);                                               // 18
}

}  // namespace

const DrbgTestVector &builtin_vector(uint32_t keyLength) {
  if (keyLength == 16) return kAes128;
  if (keyLength == 24) return kAes192;
  return kAes256;
}

int32_t health_test(const CtrDrbgState &s, const DrbgTestVector &v) {
  if (int32_t st = FIPS_NIST_CTRDRGB_DoKAT(0, &v, s.keyLength); st != kOk) return st;
  RandomContext *t = nullptr;
  int32_t status = error_paths(s, v, t);
  if (t != nullptr) NIST_CTRDRBG_deleteContext(&t);
  return status;
}

const DrbgTestVector &builtin_df_vector(uint32_t keyLength) {
  if (keyLength == 16) return kAes128Df;
  if (keyLength == 24) return kAes192Df;
  if (keyLength == 21) return kTdeaDf;
  return kAes256Df;
}

int32_t df_health_test(const CtrDrbgState &s, const DrbgTestVector &v) {
  if (int32_t st = FIPS_NIST_CTRDRGB_DoKAT(1, &v, s.keyLength); st != kOk) return st;
  const uint32_t strength = security_strength(s.keyLength);
  RandomContext *t = nullptr;
  auto make = [&](uint32_t entropyLength, const uint8_t *nonce, uint32_t nonceLength) {
    return NIST_CTRDRBG_newDFContext(&t, s.keyLength, v.outputLength, v.entropyInput, entropyLength, nonce,
                                     nonceLength, nullptr, 0, CTRDRBG_FLAG_NO_HEALTH_TEST);
  };
  int32_t st = judge(make(strength - 1, v.nonce, v.nonceLength), ERR_DRBG_INPUT_TOO_SHORT);
  if (st == kOk) st = judge(make(strength, nullptr, 0), ERR_DRBG_INPUT_TOO_SHORT);
  if (st == kOk) st = judge(make(strength, v.nonce, strength / 2 - 1), ERR_DRBG_INPUT_TOO_SHORT);
  if (t != nullptr) NIST_CTRDRBG_deleteContext(&t);
  return st;
}

int32_t run_health_test(const CtrDrbgState &s) {
  if ((s.flags & CTRDRBG_FLAG_NO_HEALTH_TEST) != 0) return kOk;
  if ((s.usesDf & 1) != 0) return df_health_test(s, builtin_df_vector(s.keyLength));
  return health_test(s, builtin_vector(s.keyLength));
}

}  // namespace kel::drbg

int32_t FIPS_NIST_CTRDRGB_DoKAT(uint8_t useDf, const DrbgTestVector *v, uint32_t keyLength) {
  if (v == nullptr) return kel::random::kNullPointer;
  RandomContext *t = nullptr;
  const uint8_t flags = CTRDRBG_FLAG_NO_HEALTH_TEST;
  int32_t status =
      useDf != 0 ? NIST_CTRDRBG_newDFContext(&t, keyLength, v->outputLength, v->entropyInput, v->entropyInputLength,
                                             v->nonce, v->nonceLength, v->personalization, v->personalizationLength,
                                             flags)
                 : NIST_CTRDRBG_newContext(&t, v->entropyInput, v->entropyInputLength, keyLength, v->outputLength,
                                           v->personalization, v->personalizationLength, flags);
  // The block length is the output length, so a created instance has at
  // most 16 bytes per output.
  kel::mem::Wiped<uint8_t[16]> out;
  const uint32_t bits = v->outputLength * 8;
  if (status == 0)
    status = NIST_CTRDRBG_reseed(t, v->reseedEntropy1, v->reseedEntropy1Length, v->additionalInput1,
                                 v->additionalInput1Length);
  if (status == 0) status = NIST_CTRDRBG_generate(t, nullptr, 0, out, bits, flags);
  if (status == 0)
    status = NIST_CTRDRBG_reseed(t, v->reseedEntropy2, v->reseedEntropy2Length, v->additionalInput2,
                                 v->additionalInput2Length);
  if (status == 0) status = NIST_CTRDRBG_generate(t, nullptr, 0, out, bits, flags);
  if (status == 0 && std::memcmp(out, v->expectedOutput, v->outputLength) != 0) status = ERR_DRBG_KAT_FAILED;
  if (t != nullptr) NIST_CTRDRBG_deleteContext(&t);
  return status;
}
