// Pairwise-consistency tests: the private and public halves of a key must
// agree (DSA and RSA on stored keys, ECDSA, ECDH and Diffie-Hellman on fresh
// ones), and the faults a break test can switch on in a patched copy.
#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#include "crypto/fips/internal.h"
#include "kel/dh.h"
#include "kel/dsa.h"
#include "kel/ec.h"
#include "kel/hash.h"
#include "kel/rsa.h"
#include "kel/vlong.h"
#include "kel/vor.h"

namespace kel::fips {

// Read through a volatile pointer, so no build folds them into the code: a
// patched copy of the library sees its patch. The tag locates them.
__attribute__((used)) const volatile char kPctFaults[] = "kel-pct-faults:000";

bool pct_fault(Pct which) { return kPctFaults[15 + static_cast<int>(which)] != '0'; }

namespace {

constexpr char kAttack[] = "Attack at dawn";
constexpr char kSignThis[] = "Sign this!";

// A DSA key of FIPS 186 shape: 512-bit p, 160-bit q. The domain parameters
// were generated with OpenSSL 3.0 (genpkey -genparam, 512/160 bits), x drawn
// at random below q and y = g^x mod p; the tests check the key with OpenSSL.
// Blob: the mpints of p, q, g, y and x.
constexpr auto kDsaBlob = hex<256>(
    "000000410096f8836436bc1757e7ae4eeb9e7a2ede06dc7b505ec712ffae438d4878345590645af28a4b69cabadc7da9"
    "62f453d5833ad6f4d42d63eff879333c2102e7c8db0000001500e1198bfd2022e8672058ce670d2876671444d8970000"
    "00404c73aca86bac03bdb628e468579d1b13dfc48fd374d076892e0da9ba78739235cdd09e08c642b95cb7822c5d5afe"
    "9d338954db5fcd73296dc58d7d55756d57300000004100817922a88c98ee58eed787605e8f64c1951e060b9190dbf73b"
    "7f664622ddb12537d042b5abc46c3355bccabd9fd45cd60817cf40ff43d7fbb375fc4a0957a2ba00000015008af6153e"
    "c6d4455c37992d8749ef94de21eb29a7");

// An RSA key of 2312 bits (e = 65537), generated with pyca/cryptography
// (OpenSSL), p > q, dP, dQ and qInv computed from them; the tests check it
// with OpenSSL. Blob: version 2, private, then e, n, p, q, dP, dQ, qInv.
constexpr auto kRsaBlob = hex<1047>(
    "02010000000301000100000121d68d429e47fd0473b2f66a0e2308dcd3043683cce284306516a93dfaae6a145baa21a0"
    "161f8c919b42b93f947f6800c01caa69450aff597b646e50b84ba97d64e40e0913afb3876c3069c56078b4b063d9094b"
    "a17dd5b26a13e462a68cb263ed0f8c80461c01b09b7621a825f050eb6308cf083d996b6bec34c4b51dd1ba9d7def4d19"
    "28441060e9635229c8e9ed1f115327634138f6da02feca618c9792b9d9d52d1b5d77ea242d4fab0f4060406f2baf1b71"
    "e4b4a983782df48538fc2cc7e7ef7e5e20acab18721244c836639f48e38da0c6415dafd90f5ef7c75bedf81918d5de11"
    "06dfc650e53234e19d5e73bb3960d5644a7b59d46b800aa5937eda29e7c39039371337e0d864c26e9dede28566ae2619"
    "2c319569eb7d108f1b4366efec4d000000910f6aff16444338a7e48628ae0b78fef2e6a029efa02a38c4b4156e7a9aa7"
    "2ed7cde733bcb7a4dd4b39c6849f88ac6390a128f3a40335d1c5a104f60026e9c4129bb29e3526bba99f699f0f3e7207"
    "95af27812ad13d78968c3f1732055d8df09816491b02f6b21ab1d1983cffe07ea1d40adf395307ab4ca9a4b004ba47ba"
    "51a7d69bfeb4fea68ce901d791bb520d271791000000910dea6c0309d86a1ba37d8ac0bd42eb5f8ef67070bbba96bc02"
    "a5eb35fe7a6e4bca3c6e308ad9c70149e67e47f7c04c3d04e00f8410675d9d3cfc108805d7ddcd866ef7367645143a21"
    "b599b7d7416783b7fe67a8bda0925bdc562486ededafd3e5754f5f01c5d12679b3ab2b266837e73013394c43d0cb7337"
    "b27f5c1f59f3c2edf906e482bc478c07bf9b762b68f682fd000000910e81337fe832715f89df28f02bfce5a4f090e742"
    "f7242189f47d611558df457362d34ada14ceb61daa39f7d4fa486bd6c9b6f4176da9b932babc270e978d3e97df005854"
    "5a9f1c01cbe506fb515d8f555bcde9d1358a77df730f4850c1e5e1ddc2c17df6f8cd2fcdf007d0034d58f4b7be8ea8a8"
    "5343b578b7659cdcfed3eb3401f379d91ee4e315e654be5642e7fac9f10000009108febe411c8d1ad1b0d5c6ea1dacf3"
    "2ebadfcc00e32892a507652eeca1098ce04ae2d32b67a5ac40c5ff4b23c41f3668bf0d029a906bf0946246617d3ba1b5"
    "0b5459c84d19184021ef864ece0a4389e117ff480c483f523c34ea2e04562a2d5ce056fb2e639bf63d53aff2f61a8685"
    "94587c24ae8aab9dc7657a695f2818e23bdfcdf8499fc48acf167721cbb9f5c85b15000000910d3b64c14f0f31ddd4a0"
    "f79907a5eb6fe1bd02ab3058c0294010b9d3cdd2fd437a1feeca4e4f39f9523b5ffbd243c75f29f3fc69b1c8af24b5f1"
    "60b42b99e8df4fda628c863117cdeb36f673fe7d39a0af671c626d019fe5ff0f120f249d4c9a05e0da87018b3af8d38b"
    "4a42c079c2e68918e162c3225bb7f45de25353d3e1e9f2255431716f0b55f9fd8f55fd42101f38");

// The largest scalar or coordinate of the two curves, in 32-bit units.
constexpr size_t kMaxUnits = 12;

}  // namespace

std::span<const uint8_t> dsa_key_blob() { return kDsaBlob; }
std::span<const uint8_t> rsa_key_blob() { return kRsaBlob; }

// One ECDH agreement between two fresh key pairs on the curve. With
// forceFail 1 the lowest bit of the first secret byte is flipped before the
// comparison.
int32_t ecdh_check(const PrimeCurve *curve, RandomContext *rng, int32_t forceFail) {
  kel::mem::Wiped<uint32_t[kMaxUnits]> da, db;
  uint32_t ax[kMaxUnits] = {}, ay[kMaxUnits] = {}, bx[kMaxUnits] = {}, by[kMaxUnits] = {};
  HeapBlock<> s1, s2;
  int32_t l1 = 0, l2 = 0;
  int32_t st = EC_generateKeyPair(curve, RANDOM_rngFun, rng, da, ax, ay);
  if (st == kOk) st = EC_generateKeyPair(curve, RANDOM_rngFun, rng, db, bx, by);
  if (st == kOk) st = ECDH_generateSharedSecretAux(curve, ax, ay, db, &s1.p, &l1, 1);
  s1.n = l1 > 0 ? static_cast<size_t>(l1) : 0;
  if (st == kOk) st = ECDH_generateSharedSecretAux(curve, bx, by, da, &s2.p, &l2, 1);
  s2.n = l2 > 0 ? static_cast<size_t>(l2) : 0;
  if (st == kOk) {
    if (forceFail == 1 && l1 > 0) s1.p[0] ^= 0x01;
    if (l1 != l2 || l1 <= 0 || std::memcmp(s1.p, s2.p, s1.n) != 0) st = ERR_FIPS_ECDH_PCT;
  }
  return st;
}

}  // namespace kel::fips

using namespace kel::fips;

int32_t FIPS_dsaPct(void *, RandomContext *rng) {
  DsaKeyObject *key = nullptr;
  vlong *queue = nullptr, *m = nullptr, *r = nullptr, *s = nullptr;
  uint32_t verified = 0, valid = 0;
  int32_t st = DSA_extractKeyBlob(&key, kDsaBlob.data(), kDsaBlob.size());
  if (st == kOk)
    st = VLONG_vlongFromByteString(reinterpret_cast<const uint8_t *>(kAttack), sizeof kAttack - 1, &m, &queue);
  if (st == kOk) st = DSA_computeSignature(rng, key, m, &verified, &r, &s, &queue);
  if (st == kOk && verified == 0) st = ERR_FIPS_DSA_PCT;
  if (st == kOk) st = DSA_verifySignature(key, m, r, s, &valid, &queue);
  if (st == kOk && valid == 0) st = ERR_FIPS_DSA_PCT;
  for (vlong **v : {&m, &r, &s})
    if (*v != nullptr) VLONG_freeVlong(v, &queue);
  if (key != nullptr) DSA_freeKey(&key, &queue);
  VLONG_freeVlongQueue(&queue);
  return st == kOk ? kOk : fail(st);
}

int32_t FIPS_rsaPct(void *, RandomContext *rng) {
  RsaKeyObject *key = nullptr;
  vlong *queue = nullptr;
  HeapBlock<> block;
  int32_t k = 0;
  const auto *msg = reinterpret_cast<const uint8_t *>(kAttack);
  const uint32_t len = sizeof kAttack;  // with the terminating NUL
  int32_t st = RSA_keyFromByteString(&key, kRsaBlob.data(), kRsaBlob.size(), &queue);
  if (st == kOk) st = RSA_getCipherTextLength(key, &k);
  // One block holds the ciphertext, the recovered text and the signature.
  void *b = nullptr;
  if (st == kOk && (k <= 0 || VOR_alloc(3 * static_cast<uint32_t>(k), &b) != kOk)) st = kNoMemory;
  block.p = static_cast<uint8_t *>(b), block.n = b != nullptr ? 3 * static_cast<size_t>(k) : 0;
  uint8_t *ct = block.p, *pt = ct + k, *sig = pt + k;
  uint32_t outLength = 0;
  if (st == kOk) st = RSA_encrypt(key, msg, len, ct, RANDOM_rngFun, rng, &queue);
  if (st == kOk && std::strncmp(reinterpret_cast<const char *>(ct), kAttack, len) == 0) st = ERR_FIPS_RSA_PCT;
  if (st == kOk) st = RSA_decrypt(key, ct, pt, &outLength, nullptr, nullptr, &queue);
  if (st == kOk && (outLength != len || std::memcmp(pt, msg, len) != 0)) st = ERR_FIPS_RSA_PCT;
  if (st == kOk) st = RSA_signMessage(key, msg, len, sig, &queue);
  if (st == kOk) st = RSA_verifySignature(key, sig, pt, &outLength, &queue);
  if (st == kOk && (outLength != len || std::memcmp(pt, msg, len) != 0)) st = ERR_FIPS_RSA_PCT;
  if (key != nullptr) RSA_freeKey(&key, &queue);
  VLONG_freeVlongQueue(&queue);
  return st == kOk ? kOk : fail(st);
}

int32_t FIPS_ecdsaPct(void *, RandomContext *rng) {
  const PrimeCurve *curve = EC_P256;
  EcKey *key = nullptr;
  uint8_t digest[32];
  uint32_t r[kMaxUnits] = {}, s[kMaxUnits] = {};
  int32_t st = EC_newKey(curve, &key);
  if (st == kOk) st = EC_generateKeyPair(curve, RANDOM_rngFun, rng, key->privateScalar, key->publicX, key->publicY);
  if (st == kOk) st = SHA256_completeDigest(reinterpret_cast<const uint8_t *>(kSignThis), 8, digest);
  if (st == kOk) st = ECDSA_RAC_sign(curve, key->privateScalar, RANDOM_rngFun, rng, digest, 8, r, s);
  if (st == kOk && pct_fault(Pct::kEcdsa)) r[0] ^= 1;
  if (st == kOk && ECDSA_verifySignature(curve, key->publicX, key->publicY, digest, 8, r, s) != kOk)
    st = ERR_FIPS_ECDSA_PCT;
  if (st == kOk && ECDSA_verifySignature(curve, key->publicX, key->publicY, digest, 7, r, s) == kOk)
    st = ERR_FIPS_ECDSA_PCT;
  if (key != nullptr) EC_deleteKey(&key);
  return st == kOk ? kOk : fail(st);
}

int32_t FIPS_ecdhPct(void *, RandomContext *rng) {
  const int32_t forceFail = pct_fault(Pct::kEcdh) ? 1 : 0;
  int32_t st = ecdh_check(EC_P256, rng, forceFail);
  if (st == kOk) st = ecdh_check(EC_P384, rng, forceFail);
  return st == kOk ? kOk : fail(st);
}

int32_t FIPS_dhPct(void *, RandomContext *rng) {
  DhContext *server = nullptr, *client = nullptr;
  vlong *queue = nullptr;
  int32_t st = DH_allocateServer(rng, &server, 2);
  if (st == kOk) st = DH_allocate(&client);
  if (st == kOk) st = DH_setPG(rng, 20, client, server->prime, server->generator);
  if (st == kOk) st = VLONG_makeVlongFromVlong(client->ownPublicValue, &server->peerPublicValue, &queue);
  if (st == kOk) st = VLONG_makeVlongFromVlong(server->ownPublicValue, &client->peerPublicValue, &queue);
  if (st == kOk) st = DH_computeKeyExchange(server, &queue);
  if (st == kOk) st = DH_computeKeyExchange(client, &queue);
  if (st == kOk && pct_fault(Pct::kDh)) st = VLONG_increment(client->sharedSecret, &queue);
  if (st == kOk && VLONG_compareSignedVlongs(server->sharedSecret, client->sharedSecret) != 0) st = ERR_FIPS_DH_PCT;
  if (server != nullptr) DH_freeDhContext(&server, &queue);
  if (client != nullptr) DH_freeDhContext(&client, &queue);
  VLONG_freeVlongQueue(&queue);
  return st == kOk ? kOk : fail(st);
}
