// Constant-time check of the toolkit's secret paths. Keys, plaintexts,
// entropy and counters are marked undefined (valgrind memcheck) or poisoned
// (MemorySanitizer); any branch on them or memory address computed from them
// is then reported. Built twice by tests/ct/run.sh, never into the library.
//
//   ct_check            every case on every path this run can reach
//   ct_check CASE...    the named cases
//   ct_check --list     the case names
//   ct_check canary     a deliberate leak that the checker must report
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "crypto/bignum/internal.h"
#include "crypto/bignum/mont.h"
#include "crypto/common/cpu.h"
#include "kel/aes.h"
#include "kel/aes_modes.h"
#include "kel/ctr_drbg.h"
#include "kel/des.h"
#include "kel/dh.h"
#include "kel/dsa.h"
#include "kel/ec.h"
#include "kel/fips.h"
#include "kel/gcm.h"
#include "kel/hash.h"
#include "kel/hmac.h"
#include "kel/random.h"
#include "kel/rsa.h"
#include "kel/vor.h"

#if defined(KEL_CT_CHECK_VALGRIND)
#include <valgrind/memcheck.h>
#define SECRET(p, n) VALGRIND_MAKE_MEM_UNDEFINED((p), (n))
#define PUBLIC(p, n) VALGRIND_MAKE_MEM_DEFINED((p), (n))
#elif defined(KEL_CT_CHECK_MSAN)
#include <sanitizer/msan_interface.h>
#define SECRET(p, n) __msan_poison((p), (n))
#define PUBLIC(p, n) __msan_unpoison((p), (n))
#else
#error "build with KEL_CT_CHECK_VALGRIND or KEL_CT_CHECK_MSAN"
#endif

namespace {

int g_failures = 0;

// A status is public; anything else the check reads back is made public
// first, so that the harness itself never branches on a secret.
void expect(bool ok, const char *what) {
  if (!ok) {
    std::printf("  FAILED: %s\n", what);
    ++g_failures;
  }
}

void fill(uint8_t *p, size_t n, uint8_t seed) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(seed + 37 * i);
}
void fill_secret(uint8_t *p, size_t n, uint8_t seed) {
  fill(p, n, seed);
  SECRET(p, n);
}

// ---- AES in every mode and key size ----

void aes_modes() {
  const struct {
    BulkCtx (*create)(const uint8_t *, uint32_t, int32_t);
    int32_t (*run)(BulkCtx, uint8_t *, uint32_t, int32_t, uint8_t *);
    int32_t (*remove)(BulkCtx *);
  } modes[] = {{CreateAESECBCtx, DoAESECB, DeleteAESECBCtx},
               {CreateAESCtx, DoAES, DeleteAESCtx},
               {CreateAESCFBCtx, DoAES, DeleteAESCtx},
               {CreateAESOFBCtx, DoAES, DeleteAESCtx}};
  for (uint32_t keyLength : {16u, 24u, 32u}) {
    for (const auto &m : modes)
      for (int32_t encrypt : {1, 0}) {
        uint8_t key[32], iv[16], data[16 * 20];
        fill_secret(key, sizeof key, 1);
        fill(iv, sizeof iv, 2);
        fill_secret(data, sizeof data, 3);
        BulkCtx ctx = m.create(key, keyLength, encrypt);
        expect(ctx != nullptr, "create");
        if (ctx == nullptr) continue;
        for (uint32_t len : {16u, 64u, 16u * 20})  // one block, a short run, the wide kernels
          expect(m.run(ctx, data, len, encrypt, iv) == 0, "AES mode");
        m.remove(&ctx);
      }
    // Counter mode: the key is secret, the counter block (the IV) public; a
    // 4-byte counter may be secret (GCM's J0), and secret 16-byte counters
    // are the DRBG's (its own case).
    uint8_t material[48], data[16 * 20 + 5];
    fill_secret(material, sizeof material, 4);
    fill_secret(data, sizeof data, 5);
    BulkCtx ctr = CreateAESCTRCtx(material, keyLength + 16, 1);
    expect(ctr != nullptr, "CTR create");
    for (int32_t width : {4, 16}) {
      uint8_t counter[16];
      fill(counter, sizeof counter, 6);
      if (width == 4) SECRET(counter, sizeof counter);
      expect(DoAESCTREx(ctr, data, sizeof data, 1, counter, width) == 0, "CTR");
      expect(DoAESCTREx(ctr, data, 7, 1, nullptr, width) == 0, "CTR tail");
    }
    DeleteAESCTRCtx(&ctr);
    if (keyLength != 24) {
      uint8_t xtsKey[64], tweak[16] = {9};
      fill_secret(xtsKey, sizeof xtsKey, 7);
      for (int32_t encrypt : {1, 0}) {
        BulkCtx xts = CreateAESXTSCtx(xtsKey, static_cast<int32_t>(2 * keyLength), encrypt);
        expect(xts != nullptr, "XTS create");
        expect(DoAESXTS(xts, data, 16 * 20 + 5, encrypt, tweak) == 0, "XTS");
        DeleteAESXTSCtx(&xts);
      }
    }
  }
}

// ---- Authenticated modes and their tag checks ----

void gcm() {
  for (uint32_t keyLength : {16u, 24u, 32u})
    for (uint32_t nonceLength : {12u, 8u})  // J0 from the nonce, or through GHASH under the key
      for (uint32_t len : {100u, 600u}) {    // the keystream computed at init; the stitched loops
        uint8_t key[32], nonce[12], aad[20], data[600 + 16];
        fill_secret(key, sizeof key, 10);
        fill(nonce, sizeof nonce, 11);
        fill(aad, sizeof aad, 12);
        fill(data, sizeof data, 13);
        SECRET(data, len);
        BulkCtx ctx = GCM_createCtx_256b(key, keyLength, 1);
        expect(ctx != nullptr, "GCM create");
        for (uint8_t flip : {0, 1}) {  // opened as sealed, then with a forged tag
          expect(GCM_cipher_256b(ctx, nonce, nonceLength, aad, sizeof aad, data, len, 16, 1) == 0, "GCM seal");
          PUBLIC(data, sizeof data);  // the sealed message is public
          data[len] ^= flip;
          const int32_t want = flip ? ERR_GCM_TAG_MISMATCH : 0;
          expect(GCM_cipher_256b(ctx, nonce, nonceLength, aad, sizeof aad, data, len, 16, 0) == want, "GCM open");
        }
        GCM_deleteCtx_256b(&ctx);
      }
}

void ccm_cmac() {
  for (int32_t keyLength : {16, 24, 32}) {
    uint8_t key[32], nonce[13], aad[24], data[70], tag[16];
    fill_secret(key, sizeof key, 20);
    fill(nonce, sizeof nonce, 21);
    fill(aad, sizeof aad, 22);
    fill_secret(data, sizeof data, 23);
    for (uint8_t flip : {0, 0x40}) {  // opened as sealed, then with a forged tag
      expect(AESCCM_encrypt(16, 2, key, keyLength, nonce, data, sizeof data, aad, sizeof aad, tag) == 0, "CCM seal");
      PUBLIC(data, sizeof data);
      PUBLIC(tag, sizeof tag);
      tag[5] ^= flip;
      const int32_t want = flip ? -7909 : 0;
      expect(AESCCM_decrypt(16, 2, key, keyLength, nonce, data, sizeof data, aad, sizeof aad, tag) == want, "CCM open");
    }
    fill_secret(data, sizeof data, 31);  // the CMAC message
    AesCmacContext ctx;
    expect(AESCMAC_init(key, static_cast<uint32_t>(keyLength), &ctx) == 0, "CMAC init");
    expect(AESCMAC_update(data, 33, &ctx) == 0 && AESCMAC_update(data + 33, 37, &ctx) == 0, "CMAC update");
    expect(AESCMAC_final(tag, &ctx) == 0, "CMAC final");
  }
}

// ---- Digests and HMAC: every path, the portable one included ----

void digests() {
  using Complete = int32_t (*)(const uint8_t *, uint32_t, uint8_t *);
  const Complete complete[] = {SHA224_completeDigest, SHA256_completeDigest, SHA384_completeDigest,
                               SHA512_completeDigest, SHA1_completeDigest};
  uint8_t key[200], text[300], out[64];
  fill_secret(key, sizeof key, 50);
  fill_secret(text, sizeof text, 51);
  for (Complete d : complete)
    for (uint32_t length : {0u, 55u, 56u, 111u, 112u, 300u})
      expect(d(text, length, out) == 0, "digest");
  for (int32_t id : {4, 5, 11, 12, 13, 14}) {
    const HashSuite *suite = nullptr;
    CRYPTO_getRSAHashAlgo(id, &suite);
    for (uint32_t keyLength : {16u, 64u, 200u})  // short, one block, hashed first
      expect(HmacQuick(key, keyLength, text, 150, out, suite) == 0, "HMAC");
  }
  expect(HMAC_SHA1(key, 80, text, 90, nullptr, 0, out) == 0, "HMAC_SHA1");
  expect(HMAC_MD5(key, 16, text, 90, nullptr, 0, out) == 0, "HMAC_MD5");
}

// ---- The CTR-DRBG: secret entropy, so V and Key are secret ----

void drbg() {
  for (uint32_t keyLength : {16u, 24u, 32u}) {
    uint8_t entropy[48], add[20], out[1000];
    fill_secret(entropy, sizeof entropy, 60);
    fill(add, sizeof add, 61);
    RandomContext *ctx = nullptr;
    expect(NIST_CTRDRBG_newContext(&ctx, entropy, keyLength + 16, keyLength, 16, nullptr, 0,
                                   CTRDRBG_FLAG_NO_HEALTH_TEST) == 0,
           "DRBG new");
    for (uint32_t bytes : {16u, 5u, 48u, 1000u})
      expect(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 8 * bytes, 0) == 0, "DRBG generate");
    expect(NIST_CTRDRBG_generate(ctx, add, sizeof add, out, 8 * 100, 0) == 0, "DRBG generate with input");
    expect(NIST_CTRDRBG_reseed(ctx, entropy, keyLength + 16, add, sizeof add) == 0, "DRBG reseed");
    expect(NIST_CTRDRBG_generate(ctx, nullptr, 0, out, 8 * 64, 0) == 0, "DRBG after reseed");
    NIST_CTRDRBG_deleteContext(&ctx);
    uint8_t nonce[16];
    fill(nonce, sizeof nonce, 62);
    SECRET(entropy, sizeof entropy);
    expect(NIST_CTRDRBG_newDFContext(&ctx, keyLength, 16, entropy, keyLength, nonce, sizeof nonce, nullptr, 0,
                                     CTRDRBG_FLAG_NO_HEALTH_TEST) == 0,
           "DRBG df new");
    expect(NIST_CTRDRBG_generate(ctx, add, sizeof add, out, 8 * 200, 0) == 0, "DRBG df generate");
    NIST_CTRDRBG_deleteContext(&ctx);
  }
}

// ---- DES and triple DES: keys and data secret ----

void des() {
  uint8_t key[24], iv[8], data[8 * 9];
  fill_secret(key, sizeof key, 70);
  fill(iv, sizeof iv, 71);
  fill_secret(data, sizeof data, 72);
  DesContext single;
  TripleDesContext triple;
  expect(DES_initKey(&single, key, 8) == 0, "DES key");
  expect(DES_encipher(&single, data, data, sizeof data) == 0 && DES_decipher(&single, data, data, 24) == 0, "DES");
  expect(THREE_DES_initKey(&triple, key, 24) == 0, "3DES key");
  expect(THREE_DES_encipher(&triple, data, data, sizeof data) == 0, "3DES encipher");
  expect(THREE_DES_decipher(&triple, data, data, 8) == 0, "3DES decipher");
  for (int32_t encrypt : {1, 0}) {
    void *cbc = Create3DESCtx(key, 24, encrypt);
    expect(cbc != nullptr, "3DES create");
    expect(Do3DES(cbc, data, sizeof data, encrypt, iv) == 0, "3DES CBC");
    Delete3DESCtx(&cbc);
    void *two = Create2Key3DESCtx(key, 16, encrypt);
    expect(Do3DES(two, data, 16, encrypt, iv) == 0, "two-key 3DES CBC");
    Delete3DESCtx(&two);
  }
}

// ---- P-256 and P-384: private scalars, ECDH scalars and signing nonces
// secret (the generator's bytes come out secret) ----

int32_t secret_bytes(void *, uint32_t length, uint8_t *out) {
  static uint8_t counter = 90;
  fill_secret(out, length, counter++);
  return 0;
}

void ec() {
  for (const PrimeCurve *curve : {EC_P256, EC_P384}) {
    const uint32_t n = curve->field->unitCount;
    uint32_t k[12], x[12], y[12], px[12], py[12], r[12], s[12];
    uint8_t hash[48];
    fill(hash, sizeof hash, 80);
    std::memset(k, 0x5c, sizeof k);
    k[n - 1] = 0x7fffffff;  // below the order
    SECRET(k, sizeof k);
    expect(EC_multiplyPoint(curve->field, px, py, k, curve->baseX, curve->baseY) == 0, "fixed-base multiple");
    PUBLIC(px, sizeof px);  // another point: kG
    PUBLIC(py, sizeof py);
    expect(EC_multiplyPoint(curve->field, x, y, k, px, py) == 0, "variable-base multiple");
    uint8_t *secret = nullptr;
    int32_t length = 0;
    expect(ECDH_generateSharedSecretAux(curve, px, py, k, &secret, &length, 1) == 0, "ECDH");
    VOR_free(reinterpret_cast<void **>(&secret));
    expect(ECDSA_RAC_sign(curve, k, secret_bytes, nullptr, hash, 4 * n, r, s) == 0, "ECDSA sign");
    expect(EC_generateKeyPair(curve, secret_bytes, nullptr, k, x, y) == 0, "EC key pair");
  }
}

// ---- exponentiation by a secret exponent: the constant-time path over a
// secret modulus and over a public one, at the widths of the wide kernels.
// The lengths and the modulus' top and bottom units are public. ----

vlong *make_value(uint32_t units, uint8_t seed) {
  uint8_t bytes[4 * 128];
  fill(bytes, 4 * units, seed);
  bytes[0] |= 0x80;
  bytes[4 * units - 1] |= 1;
  vlong *v = nullptr;
  VLONG_vlongFromByteString(bytes, static_cast<int32_t>(4 * units), &v, nullptr);
  PUBLIC(v->units, 4 * v->capacity);  // the spare units past the value too
  return v;
}

void modexp() {
  for (uint32_t units : {32u, 64u}) {
    vlong *m = make_value(units, 3), *x = make_value(2 * units - 1, 5), *e = make_value(units, 9);
    for (auto kind : {kel::bignum::Exponent::kSecret, kel::bignum::Exponent::kSecretPublicModulus}) {
      SECRET(e->units, 4 * e->length);
      SECRET(x->units, 4 * (x->length - 1));
      if (kind == kel::bignum::Exponent::kSecret) SECRET(m->units + 1, 4 * (m->length - 2));
      // The Montgomery space itself: the vlong wrapping trims the result's
      // length, which follows its value (the integer form's rule).
      kel::bignum::MontSpace ms(nullptr);
      kel::bignum::limb_t *g = nullptr, *acc = nullptr;
      int32_t status = kind == kel::bignum::Exponent::kSecret ? ms.init_consttime(m) : ms.init_public_consttime(m);
      if (status == 0) status = ms.take(&g);
      if (status == 0) status = ms.take(&acc);
      if (status == 0) status = ms.to_mont_consttime(g, x);
      if (status == 0) status = ms.pow_consttime(acc, g, e);
      PUBLIC(&status, sizeof status);
      expect(status == 0, "modexp");
      if (status == 0) {
        ms.from_mont(acc, acc);
        PUBLIC(acc, 8 * ms.n());
      }
      for (vlong *v : {m, x, e}) PUBLIC(v->units, 4 * v->capacity);
    }
    for (vlong *v : {m, x, e}) VLONG_freeVlong(&v, nullptr);
  }
}

// ---- RSA private operations: the primes, the CRT exponents and the
// coefficient secret (the key is made, and its helpers built, first); the
// blinding values and the plaintext a decryption recovers secret ----

void mark(const vlong *v, bool secret, bool endsPublic = false) {
  if (secret) SECRET(v->units + endsPublic, 4 * (v->length - 2 * endsPublic));
  else PUBLIC(v->units, 4 * v->capacity);
}

// The primes' lengths, top and bottom units are public (as the modulus' are
// in the exponentiation case); the rest of the key is secret throughout.
void mark_key(const RsaKeyObject *key, bool secret) {
  const ModExpHelper *h1 = key->prime1Helper, *h2 = key->prime2Helper;
  for (const vlong *v : {key->exponent1, key->exponent2, key->coefficient, h1->montRInverse, h2->montRInverse})
    mark(v, secret);
  for (const vlong *v : {key->prime1, key->prime2, h1->modulus, h2->modulus}) mark(v, secret, true);
}

void rsa() {
  RandomContext *rng = nullptr;
  RsaKeyObject *key = nullptr;
  expect(RANDOM_acquireContext(&rng) == 0 && RSA_createKey(&key) == 0, "RSA set-up");
  expect(RSA_generateKey(rng, key, 1024, nullptr) == 0, "RSA key");
  uint8_t message[36], signature[128], plain[128];
  fill(message, sizeof message, 60);
  mark_key(key, true);
  expect(RSA_signMessage(key, message, sizeof message, signature, nullptr) == 0, "RSA sign");
  PUBLIC(signature, sizeof signature);
  // The signature is a public input to the decryption (its padding check
  // fails, in constant time); a real block type 2 follows.
  uint32_t length = 0;
  expect(RSA_decrypt(key, signature, plain, &length, nullptr, nullptr, nullptr) == ERR_RSA_BAD_PADDING,
         "RSA decrypt, block type 1");
  uint8_t cipher[128];
  mark_key(key, false);
  fill(message, sizeof message, 61);  // encryption is a public-key operation
  expect(RSA_encrypt(key, message, sizeof message, cipher, RANDOM_rngFun, rng, nullptr) == 0, "RSA encrypt");
  PUBLIC(cipher, sizeof cipher);
  mark_key(key, true);
  expect(RSA_decrypt(key, cipher, plain, &length, nullptr, nullptr, nullptr) == 0, "RSA decrypt");
  for (int use = 0; use < 34; ++use)  // a blinding pair drawn, squared 32 times, drawn again
    expect(RSA_decrypt(key, cipher, plain, &length, secret_bytes, nullptr, nullptr) == 0, "RSA decrypt, blinded");
  mark_key(key, false);
  PUBLIC(plain, sizeof plain);
  PUBLIC(&length, sizeof length);
  RSA_freeKey(&key, nullptr);
  RANDOM_releaseContext(&rng);
}

// ---- DSA signing (x and k secret) and Diffie-Hellman (the private value
// secret); the domain parameters and the peer's value are public ----

void dsa_dh() {
  RandomContext *rng = nullptr;
  DsaKeyObject *key = nullptr;
  expect(RANDOM_acquireContext(&rng) == 0 && DSA_createKey(&key) == 0, "DSA set-up");
  expect(DSA_generateKey(rng, key, 1024, nullptr, nullptr, nullptr, nullptr) == 0, "DSA key");
  uint8_t digest[20];
  fill(digest, sizeof digest, 70);
  vlong *m = nullptr, *r = nullptr, *s = nullptr;
  VLONG_vlongFromByteString(digest, sizeof digest, &m, nullptr);
  mark(key->x, true);
  expect(DSA_computeSignatureEx(secret_bytes, nullptr, key, m, nullptr, &r, &s, nullptr) == 0, "DSA sign");
  for (const vlong *v : {key->x, r, s}) mark(v, false);
  for (vlong *v : {m, r, s}) VLONG_freeVlong(&v, nullptr);
  DSA_freeKey(&key, nullptr);

  DhContext *a = nullptr, *b = nullptr;
  expect(DH_allocateServer(rng, &a, 14) == 0 && DH_allocateServer(rng, &b, 14) == 0, "DH contexts");
  a->peerPublicValue = b->ownPublicValue;  // handed over: b's value is public
  b->ownPublicValue = nullptr;
  mark(a->privateValue, true);
  expect(DH_computeKeyExchange(a, nullptr) == 0, "DH shared secret");
  for (const vlong *v : {a->privateValue, a->sharedSecret}) mark(v, false);
  DH_freeDhContext(&a, nullptr);
  DH_freeDhContext(&b, nullptr);
  RANDOM_releaseContext(&rng);
}

const struct Case {
  const char *name;
  void (*run)();
} kCases[] = {
    {"aes-modes", aes_modes}, {"gcm", gcm}, {"ccm-cmac", ccm_cmac}, {"digests", digests}, {"drbg", drbg},
    {"des", des},             {"ec", ec},   {"modexp", modexp},     {"rsa", rsa},         {"dsa-dh", dsa_dh},
};

// A table look-up and a branch on a secret byte: the checker must object.
__attribute__((noinline)) int canary() {
  static const uint8_t table[256] = {1, 2, 3};
  uint8_t secret = 0x2a;
  SECRET(&secret, 1);
  volatile uint8_t sink = table[secret];
  if (secret & 1) sink = static_cast<uint8_t>(sink + 1);
  return sink;
}

void run_case(const Case &c) {
  for (uint32_t allowed : {0u, ~0u}) {  // the portable code, then all the processor offers
    kel::cpu::restrict_to(allowed);
    std::printf("%-10s %-9s features %#x\n", c.name, allowed ? "hardware" : "portable", kel::cpu::features());
    std::fflush(stdout);
    c.run();
  }
  kel::cpu::restrict_to(~0u);
}

}  // namespace

int main(int argc, char **argv) {
  gFIPS_powerupStatus = 0;
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const Case &c : kCases) std::printf("%s\n", c.name);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "canary") == 0) {
    canary();
    return 0;  // the checker, not this program, reports the leak
  }
  int ran = 0;
  for (const Case &c : kCases) {
    bool wanted = argc == 1;
    for (int i = 1; i < argc; ++i) wanted |= std::strcmp(argv[i], c.name) == 0;
    if (!wanted) continue;
    run_case(c);
    ++ran;
  }
  if (ran == 0 || ran < argc - 1) {
    std::printf("unknown case\n");
    return 2;
  }
  return g_failures == 0 ? 0 : 1;
}
