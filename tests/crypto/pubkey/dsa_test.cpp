// DSA: signing with a chosen k against GMP, generation and validation, range
// checks, blobs, copies, the gate, allocation failures; CAVP vectors.
#include <random>

#include "crypto/random/internal.h"
#include "pubkey_test_util.h"

namespace kel::test::ffc {
namespace {

using Dsa = RandomTest;

// SigVer's records with x and a passing signature, their domain's P, Q, G copied in.
std::vector<RspRecord> KeysWithX() {
  std::vector<RspRecord> out;
  RspRecord domain;
  for (auto r : ReadRsp("dsa/SigVer_186-2.rsp")) {
    if (r.Has("P")) domain = r;
    if (!r.Has("X") || r.Get("Result")[0] != 'P') continue;
    for (const char *f : {"P", "Q", "G"}) r.fields[f] = domain.Get(f);
    out.push_back(r);
  }
  return out;
}

Key KeyOf(const RspRecord &r) { return MakeKey(r.Hex("P"), r.Hex("Q"), r.Hex("G"), r.Hex("X"), true); }

int32_t Sign(const DsaKeyObject *key, const vlong *m) {
  V r, s;
  return DSA_computeSignatureEx(OpenSslRng, nullptr, key, m, nullptr, r.out(), s.out(), nullptr);
}

// k is the 40 replayed bytes reduced mod q; r and s as FIPS 186-2 gives them
// (computed with GMP), on the portable and on the MULX/ADX kernels.
TEST_F(Dsa, SignsWithAChosenKAsTheFormulaSays) {
  std::mt19937 gen(15);
  const auto records = KeysWithX();
  for (size_t i = 0; i < 2 * records.size(); ++i) {
    const auto &rec = records[i % records.size()];
    kel::cpu::restrict_to(i < records.size() ? 0u : ~0u);
    Key key = KeyOf(rec);
    V m = Representative(rec.Hex("Msg"));
    for (int round = 0; round < 3; ++round) {
      Bytes kb;
      for (int i = 0; i < 40; ++i) kb.push_back(round == 1 && i < 20 ? 0xff : static_cast<uint8_t>(gen()));
      ScriptedRng k{{kb}};
      uint32_t verified = 0;
      V sr, ss;
      ASSERT_EQ(DSA_computeSignatureEx(ScriptedRng::Fun, &k, key.get(), m.get(), &verified, sr.out(), ss.out(),
                                       nullptr), 0);
      EXPECT_EQ(verified, 1u);
      Mpz kk, p, q, g, x, mm, r, s, t;
      mpz_import(kk, kb.size(), 1, 1, 0, 0, kb.data());
      ToMpz(p, key->p), ToMpz(q, key->q), ToMpz(g, key->g), ToMpz(x, key->x), ToMpz(mm, m.get());
      mpz_mod(kk, kk, q), mpz_powm(r, g, kk, p), mpz_mod(r, r, q);  // r = (g^k mod p) mod q
      mpz_mul(t, x, r), mpz_add(t, t, mm), mpz_invert(s, kk, q), mpz_mul(s, s, t), mpz_mod(s, s, q);  // s = (m + xr)/k
      EXPECT_EQ(Str(sr.get()), r.Hex()) << rec.line;
      EXPECT_EQ(Str(ss.get()), s.Hex()) << rec.line;
    }
  }
  Key key = KeyOf(records[0]);
  V m = Representative(records[0].Hex("Msg")), sr, ss;
  ScriptedRng failing;
  EXPECT_EQ(DSA_computeSignatureEx(ScriptedRng::Fun, &failing, key.get(), m.get(), nullptr, sr.out(), ss.out(), nullptr),
            -17999);
}

// Sizes below 512, between steps and above 1024 bits: p and q prime, g of order
// q, y = g^x; the seed, counter and h handed back validate, a neighbouring counter not.
TEST_F(Dsa, GeneratesValidParameters) {
  for (auto [asked, bits] : {std::pair{100u, 512u}, {700u, 704u}, {2048u, 1024u}}) {
    SCOPED_TRACE(asked);
    DsaKeyObject *k = nullptr;
    ASSERT_EQ(DSA_createKey(&k), 0);
    Key key(k);
    uint32_t counter = 99999, valid = 0;
    uint8_t seed[20];
    V h;
    ASSERT_EQ(DSA_generateKey(rng_, k, asked, &counter, seed, h.out(), nullptr), 0);
    EXPECT_EQ(VLONG_bitLength(k->p), bits);
    EXPECT_EQ(VLONG_bitLength(k->q), 160u);
    Mpz p, q, g, x, t;
    ToMpz(p, k->p), ToMpz(q, k->q), ToMpz(g, k->g), ToMpz(x, k->x);
    EXPECT_TRUE(mpz_probab_prime_p(p, 30) && mpz_probab_prime_p(q, 30));
    mpz_powm(t, g, q, p);
    EXPECT_EQ(t.Hex(), "1");
    mpz_powm(t, g, x, p);
    EXPECT_EQ(Str(k->y), t.Hex());
    for (uint32_t c : {counter, counter + 1}) {
      ASSERT_EQ(DSA_verifyKeys(rng_, seed, k, c, h.get(), &valid, nullptr), 0);
      EXPECT_EQ(valid, c == counter ? 1u : 0u);
    }
  }
  random::as_ctr(rng_)->state.reseedCounter = UINT64_MAX;
  DsaKeyObject *k = nullptr;
  ASSERT_EQ(DSA_createKey(&k), 0);
  Key key(k);
  EXPECT_EQ(DSA_generateKey(rng_, k, 512, nullptr, nullptr, nullptr, nullptr), ERR_DRBG_RESEED_REQUIRED);
  Key loaded = KeyOf(KeysWithX().front());
  EXPECT_EQ(DSA_computeKeyPair(rng_, loaded.get(), nullptr), ERR_DRBG_RESEED_REQUIRED);
}

TEST_F(Dsa, VerificationRangeChecks) {
  const auto rec = KeysWithX().front();
  Key key = KeyOf(rec);
  V m = Representative(rec.Hex("Msg")), r = VHex(rec.Get("R")), s = VHex(rec.Get("S"));
  V zero = VHex(""), q = VHex(Str(key->q)), negative = VHex(rec.Get("R")), other = Representative(Bytes{1});
  negative->isNegative = 1;
  const struct { const vlong *m, *r, *s; int32_t status; uint32_t valid; } cases[] = {
      {m.get(), zero.get(), s.get(), -9007, 0}, {m.get(), r.get(), zero.get(), -9007, 0},
      {m.get(), q.get(), s.get(), -9007, 0},    {m.get(), r.get(), q.get(), -9007, 0},
      {m.get(), negative.get(), s.get(), -9007, 0}, {m.get(), r.get(), s.get(), 0, 1},
      {other.get(), r.get(), s.get(), 0, 0},    {nullptr, r.get(), s.get(), -6001, 7}};
  for (const auto &c : cases) {
    uint32_t valid = 7;
    EXPECT_EQ(DSA_verifySignature(key.get(), c.m, c.r, c.s, &valid, nullptr), c.status);
    EXPECT_EQ(valid, c.valid);
  }
  DsaKeyObject noY = *key;
  noY.y = nullptr;
  uint32_t valid = 0;
  EXPECT_EQ(DSA_verifySignature(&noY, m.get(), r.get(), s.get(), &valid, nullptr), -6001);
  EXPECT_EQ(Sign(&noY, m.get()), 0);  // signing needs no y
  noY.x = nullptr;
  EXPECT_EQ(Sign(&noY, m.get()), -6001);  // no x
}

Bytes BlobOf(const DsaKeyObject *key) { return KeyBlob(DSA_makeKeyBlob, key); }

// Round trips (the public blob is the private one without x); a blob cut
// anywhere else, one byte too long, or empty is refused with -7402.
TEST_F(Dsa, KeyBlobsAndCopies) {
  Key priv = KeyOf(KeysWithX().front());
  DsaKeyObject pubHalf = *priv;
  pubHalf.x = nullptr;
  Bytes full = BlobOf(priv.get()), pub = BlobOf(&pubHalf);
  ASSERT_TRUE(pub.size() < full.size() && std::equal(pub.begin(), pub.end(), full.begin()));
  for (const Bytes *blob : {&full, &pub}) {
    DsaKeyObject *k = nullptr, *clone = nullptr;
    ASSERT_EQ(DSA_extractKeyBlob(&k, blob->data(), blob->size()), 0);
    ASSERT_EQ(DSA_cloneKey(&clone, k), 0);
    Key back(k), copy(clone);
    uint8_t equal = 0;
    ASSERT_EQ(DSA_equalKey(copy.get(), priv.get(), &equal), 0);  // x is not compared
    EXPECT_EQ(equal, 1);
    EXPECT_EQ(copy->x ? Str(copy->x) : "none", blob == &full ? Str(priv->x) : "none");
    EXPECT_EQ(BlobOf(copy.get()), *blob);
  }
  full.push_back(0);
  for (uint32_t n = 0; n <= full.size(); ++n) {
    if (n == pub.size() || n == full.size() - 1) continue;
    DsaKeyObject *k = nullptr;
    const Bytes cut(full.begin(), full.begin() + n);  // exact size: an over-read shows under ASan
    EXPECT_EQ(DSA_extractKeyBlob(&k, n ? cut.data() : full.data(), n), -7402) << n;
    Key partial(k);
  }
  DsaKeyObject *k = nullptr;
  uint8_t equal = 1;
  ASSERT_EQ(DSA_equalKey(KeyOf(KeysWithX().back()).get(), priv.get(), &equal), 0);
  EXPECT_EQ(equal, 0);
  int32_t length = 0;
  uint32_t blobLength = 0;
  DsaKeyObject empty{};
  EXPECT_EQ(DSA_getCipherTextLength(priv.get(), &length), 0);
  EXPECT_EQ(length, 128);
  for (int32_t st : {DSA_getCipherTextLength(&empty, &length), DSA_extractKeyBlob(&k, nullptr, 4),
                     DSA_makeKeyBlob(&empty, nullptr, &blobLength), DSA_makeKeyBlob(priv.get(), nullptr, nullptr),
                     DSA_createKey(nullptr)})
    EXPECT_EQ(st, -6001);
}

// A key whose y does not belong to x fails the consistency test, which closes
// the gate: every gated entry then returns the status and changes nothing;
// DSA_setAllKeyParameters checks null first.
TEST_F(Dsa, ConsistencyFailureClosesTheGate) {
  Key key = KeyOf(KeysWithX().front());
  EXPECT_EQ(DSA_generateKey_FIPS_consistancy_test(rng_, key.get()), 0);
  EXPECT_EQ(gFIPS_powerupStatus, 0);
  ASSERT_EQ(VLONG_increment(key->y, nullptr), 0);
  const Bytes blob = BlobOf(key.get());
  const std::string before = Str(key->x) + Str(key->y);
  V m = Representative(Bytes{1}), one = VHex("01");
  const uint8_t b[20] = {1};
  EXPECT_EQ(DSA_generateKey_FIPS_consistancy_test(rng_, key.get()), -16502);
  EXPECT_EQ(FIPS_powerupSelfTestStatus(), -16502);
  DsaKeyObject *k = key.get(), *out = nullptr;
  vlong *r = nullptr, *s = nullptr;
  uint32_t flag = 0, n = 0;
  uint8_t equal = 0;
  const int32_t results[] = {
      DSA_createKey(&out), DSA_cloneKey(&out, k), DSA_equalKey(k, k, &equal), DSA_freeKey(&k, nullptr),
      DSA_verifySignature(k, m.get(), one.get(), one.get(), &flag, nullptr),
      DSA_computeSignature(rng_, k, m.get(), nullptr, &r, &s, nullptr),
      DSA_computeSignatureEx(OpenSslRng, nullptr, k, m.get(), nullptr, &r, &s, nullptr), DSA_computeKeyPair(rng_, k, nullptr),
      DSA_generateKey(rng_, k, 512, nullptr, nullptr, nullptr, nullptr), DSA_generateKey_FIPS_consistancy_test(rng_, k),
      DSA_makeKeyBlob(k, nullptr, &n), DSA_extractKeyBlob(&out, blob.data(), blob.size()),
      DSA_verifyKeys(rng_, b, k, 0, one.get(), &flag, nullptr), DSA_setAllKeyParameters(k, b, 1, b, 1, b, 1, b, 1, nullptr),
      DSA_setPublicKeyParameters(k, b, 1, b, 1, b, 1, b, 1, nullptr)};
  for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], -16502) << "entry " << i;
  EXPECT_TRUE(out == nullptr && r == nullptr && k == key.get());
  EXPECT_EQ(DSA_setAllKeyParameters(k, nullptr, 1, b, 1, b, 1, b, 1, nullptr), -6001);
  int32_t length = 0;
  EXPECT_EQ(DSA_getCipherTextLength(k, &length), 0);
  gFIPS_powerupStatus = 0;  // to free the key
  EXPECT_EQ(Str(key->x) + Str(key->y), before);
}

// The last toolkit allocation made while a key still has no p: with a fixed
// generator, generation makes it in the same place each time.
const DsaKeyObject *gGenerating = nullptr;
uint64_t gLastBeforeP = 0;
void NoteWhileNoP(const void *, uint32_t) {
  if (gGenerating->p == nullptr) gLastBeforeP = mem::allocation_count();
}

// Every allocation of a signature and of a blob parse may fail, and so may the
// last one before p is stored (in the search for g): the generation fails.
TEST_F(Dsa, AllocationFailures) {
  uint64_t offset = 0;  // of that allocation in the call
  for (bool failing : {false, true}) {
    const uint8_t xkey[20] = {4, 2};
    RandomContext *fixed = nullptr;
    DsaKeyObject *k = nullptr;
    ASSERT_EQ(RANDOM_newFIPS186Context(&fixed, 20, xkey, 0, nullptr) | DSA_createKey(&k), 0);
    Key generated(k);
    gGenerating = k;
    if (failing) mem::fail_after(static_cast<int64_t>(offset) - 1);
    else mem::observe(NoteWhileNoP, nullptr);
    const uint64_t start = mem::allocation_count();
    EXPECT_EQ(DSA_generateKey(fixed, k, 512, nullptr, nullptr, nullptr, nullptr), failing ? -6101 : 0);
    offset = gLastBeforeP - start;
    mem::observe(nullptr, nullptr);
    mem::fail_after(-1);
    RANDOM_releaseContext(&fixed);
  }
  Key key = KeyOf(KeysWithX().front());
  const Bytes blob = BlobOf(key.get());
  V m = Representative(Bytes{9});
  EXPECT_GT(FailAllocationsInTurn([&] { return Sign(key.get(), m.get()); }), 2);
  EXPECT_GT(FailAllocationsInTurn([&] {
              DsaKeyObject *k = nullptr;
              const int32_t s = DSA_extractKeyBlob(&k, blob.data(), blob.size());
              Key held(k);
              return s;
            }), 2);
}

using DsaVectors = RandomTest;

bool Passes(const RspRecord &r) { return !r.Has("Result") || r.Get("Result").rfind("P", 0) == 0; }

// The given seed, counter and h validate the given p, q and g (PQGVer says
// which do not). Key pairs: y = g^x is checked with GMP on generated keys.
TEST_F(DsaVectors, DomainParametersFromSeedAndCounter) {
  for (const char *file : {"dsa/PQGGen_186-2.rsp", "dsa/PQGVer_186-2.rsp"}) {
    int checked = 0;
    for (const auto &r : ReadRsp(file)) {
      if (!r.Has("Seed")) continue;
      SCOPED_TRACE(std::string(file) + ":" + std::to_string(r.line));
      Key key = MakeKey(r.Hex("P"), r.Hex("Q"), r.Hex("G"), r.Hex("G"), false);  // y is not looked at
      const Bytes seed = r.Hex("Seed");
      const uint32_t counter = static_cast<uint32_t>(std::stoul(r.Get("c")));
      V h = VHex(r.Get("H"));
      uint32_t valid = 7;
      ASSERT_EQ(DSA_verifyKeys(rng_, seed.data(), key.get(), counter, h.get(), &valid, nullptr), 0);
      EXPECT_EQ(valid, Passes(r) ? 1u : 0u) << (r.Has("Result") ? r.Get("Result") : "PQGGen");
      ++checked;
    }
    EXPECT_GE(checked, 5) << file;
  }
}

// SigVer: the verdict matches Result (an out-of-range r or s may instead be
// refused with -9007). SigGen: every published signature verifies.
TEST_F(DsaVectors, Signatures) {
  for (const char *file : {"dsa/SigVer_186-2.rsp", "dsa/SigVer_186-3.rsp", "dsa/SigGen_186-2.rsp"}) {
    RspRecord d;
    int good = 0, bad = 0;
    for (const auto &r : ReadRsp(file)) {
      if (r.Has("P")) d = r;
      if (!r.Has("Msg") || !r.Has("R")) continue;  // SigGen's last message has no answer
      SCOPED_TRACE(std::string(file) + ":" + std::to_string(r.line));
      Key key = MakeKey(d.Hex("P"), d.Hex("Q"), d.Hex("G"), r.Hex("Y"), false);
      V m = Representative(r.Hex("Msg"), SectionHash(r)), rr = VHex(r.Get("R")), ss = VHex(r.Get("S"));
      uint32_t valid = 7;
      const int32_t s = DSA_verifySignature(key.get(), m.get(), rr.get(), ss.get(), &valid, nullptr);
      const bool pass = Passes(r);
      EXPECT_TRUE(s == 0 || (!pass && s == -9007)) << s;
      EXPECT_EQ(valid, pass ? 1u : 0u) << (pass ? "" : r.Get("Result"));
      ++(pass ? good : bad);
    }
    EXPECT_GT(good, 3) << file;
    EXPECT_TRUE(bad > 3 || std::string(file).find("SigGen") != std::string::npos) << file;
  }
}

}  // namespace
}  // namespace kel::test::ffc
