// DSA behaviour: signing with a chosen k against the textbook formula,
// OpenSSL both ways, generation and validation, range checks, blobs, key
// copies, the gate, the consistency test, allocation failures and threads.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/dsa.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <thread>

#include "crypto/common/alloc.h"
#include "dsa_test_util.h"

namespace kel::test {
namespace {

using Dsa = FfcTest;

struct Signed {
  V r{nullptr}, s{nullptr};
};

// The first few SigVer records with a private key and a good signature.
std::vector<RspRecord> KeysWithX() {
  std::vector<RspRecord> out;
  Bytes p, q, g;
  for (auto r : ReadRsp("dsa/SigVer_186-2.rsp")) {
    if (r.Has("P")) {
      p = r.Hex("P");
      q = r.Hex("Q");
      g = r.Hex("G");
      continue;
    }
    if (!r.Has("X") || r.Get("Result")[0] != 'P') continue;
    r.fields["P"] = ToHex(p);
    r.fields["Q"] = ToHex(q);
    r.fields["G"] = ToHex(g);
    out.push_back(r);
  }
  return out;
}

Key KeyOf(const RspRecord &r) { return PrivateKey(r.Hex("P"), r.Hex("Q"), r.Hex("G"), r.Hex("X")); }

// k is the 40 replayed bytes reduced mod q; r and s follow FIPS 186-2
// section 5, computed here with OpenSSL's BIGNUMs.
TEST_F(Dsa, SignsWithAChosenKAsTheFormulaSays) {
  std::mt19937 gen(15);
  BN_CTX *bn = BN_CTX_new();
  for (const auto &rec : KeysWithX()) {
    Key key = KeyOf(rec);
    for (int round = 0; round < 3; ++round) {
      Replay k;
      k.bytes.resize(40);
      for (auto &b : k.bytes) b = static_cast<uint8_t>(gen());
      if (round == 1) std::fill(k.bytes.begin(), k.bytes.begin() + 20, 0xff);  // top bits set: a real reduction
      V m = Representative(rec.Hex("Msg"));
      Signed sig;
      uint32_t verified = 0;
      vlong *r = nullptr, *s = nullptr;
      ASSERT_EQ(DSA_computeSignatureEx(Replay::Fun, &k, key.get(), m.get(), &verified, &r, &s, nullptr), 0);
      sig.r.reset(r);
      sig.s.reset(s);
      EXPECT_EQ(verified, 1u);

      Bn kk(BN_bin2bn(k.bytes.data(), 40, nullptr)), p = ToBn(key->p), q = ToBn(key->q), g = ToBn(key->g),
          x = ToBn(key->x), mm = ToBn(m.get()), er(BN_new()), es(BN_new()), t(BN_new());
      BN_mod(kk.get(), kk.get(), q.get(), bn);
      BN_mod_exp(er.get(), g.get(), kk.get(), p.get(), bn);
      BN_mod(er.get(), er.get(), q.get(), bn);
      BN_mod_mul(t.get(), x.get(), er.get(), q.get(), bn);
      BN_mod_add(t.get(), t.get(), mm.get(), q.get(), bn);
      BN_mod_inverse(es.get(), kk.get(), q.get(), bn);
      BN_mod_mul(es.get(), es.get(), t.get(), q.get(), bn);
      EXPECT_EQ(Hex(sig.r.get()), Hex(FromBn(er.get()).get())) << rec.line;
      EXPECT_EQ(Hex(sig.s.get()), Hex(FromBn(es.get()).get())) << rec.line;
    }
  }
  BN_CTX_free(bn);
}

// Our signatures verify in OpenSSL and OpenSSL's verify here; tampered ones
// fail on both sides.
TEST_F(Dsa, OpenSslBothWays) {
  for (const auto &rec : KeysWithX()) {
    Key key = KeyOf(rec);
    DSA *ossl = DSA_new();
    DSA_set0_pqg(ossl, ToBn(key->p).release(), ToBn(key->q).release(), ToBn(key->g).release());
    DSA_set0_key(ossl, ToBn(key->y).release(), ToBn(key->x).release());
    for (int i = 0; i < 4; ++i) {
      Bytes msg = rec.Hex("Msg");
      msg[0] = static_cast<uint8_t>(msg[0] + i);
      unsigned char d[20];
      EVP_Digest(msg.data(), msg.size(), d, nullptr, EVP_sha1(), nullptr);
      V m = Representative(msg);

      vlong *r = nullptr, *s = nullptr;
      ASSERT_EQ(DSA_computeSignature(rng_, key.get(), m.get(), nullptr, &r, &s, nullptr), 0);
      Signed ours{V(r), V(s)};
      DSA_SIG *sig = DSA_SIG_new();
      DSA_SIG_set0(sig, ToBn(r).release(), ToBn(s).release());
      EXPECT_EQ(DSA_do_verify(d, 20, sig, ossl), 1);
      d[0] ^= 1;
      EXPECT_EQ(DSA_do_verify(d, 20, sig, ossl), 0);
      d[0] ^= 1;
      DSA_SIG_free(sig);

      sig = DSA_do_sign(d, 20, ossl);
      const BIGNUM *br = nullptr, *bs = nullptr;
      DSA_SIG_get0(sig, &br, &bs);
      V theirR = FromBn(br), theirS = FromBn(bs);
      DSA_SIG_free(sig);
      uint32_t valid = 0;
      ASSERT_EQ(DSA_verifySignature(key.get(), m.get(), theirR.get(), theirS.get(), &valid, nullptr), 0);
      EXPECT_EQ(valid, 1u);
      ASSERT_EQ(DSA_verifySignature(key.get(), m.get(), theirS.get(), theirR.get(), &valid, nullptr), 0);
      EXPECT_EQ(valid, 0u);
    }
    DSA_free(ossl);
  }
}

// Requests below 512 bits, between sizes and above 1024 bits; the seed,
// counter and h handed back validate the parameters, a neighbouring
// counter does not, and the key pair is consistent.
TEST_F(Dsa, GeneratesValidParameters) {
  const struct { uint32_t asked, bits; } sizes[] = {{100, 512}, {700, 704}, {2048, 1024}};
  BN_CTX *bn = BN_CTX_new();
  for (const auto &size : sizes) {
    SCOPED_TRACE(size.asked);
    DsaKeyObject *k = nullptr;
    ASSERT_EQ(DSA_createKey(&k), 0);
    Key key(k);
    uint32_t counter = 99999;
    uint8_t seed[20];
    vlong *h = nullptr;
    ASSERT_EQ(DSA_generateKey(rng_, k, size.asked, &counter, seed, &h, nullptr), 0);
    V hHeld(h);
    EXPECT_EQ(VLONG_bitLength(k->p), size.bits);
    EXPECT_EQ(VLONG_bitLength(k->q), 160u);
    EXPECT_LT(counter, 4096u);
    Bn p = ToBn(k->p), q = ToBn(k->q), g = ToBn(k->g), x = ToBn(k->x), t(BN_new());
    EXPECT_EQ(BN_check_prime(p.get(), bn, nullptr), 1);
    EXPECT_EQ(BN_check_prime(q.get(), bn, nullptr), 1);
    BN_mod_exp(t.get(), g.get(), q.get(), p.get(), bn);
    EXPECT_TRUE(BN_is_one(t.get()));  // g has order q
    BN_mod_exp(t.get(), g.get(), x.get(), p.get(), bn);
    EXPECT_EQ(Hex(k->y), Hex(FromBn(t.get()).get()));
    uint32_t valid = 0;
    ASSERT_EQ(DSA_verifyKeys(rng_, seed, k, counter, h, &valid, nullptr), 0);
    EXPECT_EQ(valid, 1u);
    ASSERT_EQ(DSA_verifyKeys(rng_, seed, k, counter + 1, h, &valid, nullptr), 0);
    EXPECT_EQ(valid, 0u);
    seed[19] ^= 1;
    ASSERT_EQ(DSA_verifyKeys(rng_, seed, k, counter, h, &valid, nullptr), 0);
    EXPECT_EQ(valid, 0u);
  }
  BN_CTX_free(bn);
}

TEST_F(Dsa, VerificationRangeChecks) {
  const auto rec = KeysWithX().front();
  Key key = KeyOf(rec);
  V m = Representative(rec.Hex("Msg")), r = VHex(rec.Get("R")), s = VHex(rec.Get("S"));
  V zero = VHex(""), q = VHex(Hex(key->q)), negative = VHex(rec.Get("R"));
  negative->isNegative = 1;
  const struct { const vlong *r, *s; } bad[] = {
      {zero.get(), s.get()}, {r.get(), zero.get()}, {q.get(), s.get()}, {r.get(), q.get()}, {negative.get(), s.get()}};
  for (const auto &b : bad) {
    uint32_t valid = 7;
    EXPECT_EQ(DSA_verifySignature(key.get(), m.get(), b.r, b.s, &valid, nullptr), -9007);
    EXPECT_EQ(valid, 0u);
  }
  uint32_t valid = 7;
  ASSERT_EQ(DSA_verifySignature(key.get(), m.get(), r.get(), s.get(), &valid, nullptr), 0);
  EXPECT_EQ(valid, 1u);
  V other = Representative(Bytes{1, 2, 3});
  ASSERT_EQ(DSA_verifySignature(key.get(), other.get(), r.get(), s.get(), &valid, nullptr), 0);
  EXPECT_EQ(valid, 0u);
  DsaKeyObject noY = *key;
  noY.y = nullptr;
  EXPECT_EQ(DSA_verifySignature(&noY, m.get(), r.get(), s.get(), &valid, nullptr), -6001);
  EXPECT_EQ(DSA_verifySignature(key.get(), nullptr, r.get(), s.get(), &valid, nullptr), -6001);
  EXPECT_EQ(DSA_verifySignature(key.get(), m.get(), r.get(), s.get(), nullptr, nullptr), -6001);
}

Bytes BlobOf(const DsaKeyObject *key) {
  uint32_t n = 0;
  EXPECT_EQ(DSA_makeKeyBlob(key, nullptr, &n), 0);
  Bytes b(n);
  EXPECT_EQ(DSA_makeKeyBlob(key, b.data(), &n), 0);
  EXPECT_EQ(n, b.size());
  return b;
}

// Round trips; every truncation, one byte too many and an empty blob are
// refused (a cut exactly after y is a valid public key).
TEST_F(Dsa, KeyBlobs) {
  Key priv = KeyOf(KeysWithX().front());
  DsaKeyObject pubHalf = *priv;
  pubHalf.x = nullptr;
  const Bytes full = BlobOf(priv.get()), pub = BlobOf(&pubHalf);
  ASSERT_LT(pub.size(), full.size());
  EXPECT_TRUE(std::equal(pub.begin(), pub.end(), full.begin()));
  for (const Bytes *blob : {&full, &pub}) {
    DsaKeyObject *k = nullptr;
    ASSERT_EQ(DSA_extractKeyBlob(&k, blob->data(), blob->size()), 0);
    Key back(k);
    uint8_t equal = 0;
    ASSERT_EQ(DSA_equalKey(back.get(), priv.get(), &equal), 0);
    EXPECT_EQ(equal, 1);
    EXPECT_EQ(Hex(back->x), blob == &full ? Hex(priv->x) : "(null)");
    EXPECT_EQ(BlobOf(back.get()), *blob);
  }
  Bytes extended = full;
  extended.push_back(0);
  for (uint32_t n = 0; n <= extended.size(); ++n) {
    if (n == pub.size() || n == full.size()) continue;
    DsaKeyObject *k = nullptr;
    EXPECT_EQ(DSA_extractKeyBlob(&k, extended.data(), n), -7402) << n;
    Key partial(k);
  }
  Bytes longer = pub;
  longer.push_back(0);
  DsaKeyObject *k = nullptr;
  EXPECT_EQ(DSA_extractKeyBlob(&k, longer.data(), longer.size()), -7402);
  Key partial(k);
  EXPECT_EQ(DSA_extractKeyBlob(nullptr, pub.data(), pub.size()), -6001);
  EXPECT_EQ(DSA_extractKeyBlob(&k, nullptr, 4), -6001);
  uint32_t n = 0;
  EXPECT_EQ(DSA_makeKeyBlob(nullptr, nullptr, &n), -6001);
}

TEST_F(Dsa, CopiesComparisonAndLengths) {
  const auto recs = KeysWithX();
  Key a = KeyOf(recs.front());
  DsaKeyObject *c = nullptr;
  ASSERT_EQ(DSA_cloneKey(&c, a.get()), 0);
  Key clone(c);
  EXPECT_NE(clone->x, a->x);
  EXPECT_EQ(Hex(clone->x), Hex(a->x));
  DsaKeyObject pubHalf = *a;
  pubHalf.x = nullptr;
  uint8_t equal = 7;
  ASSERT_EQ(DSA_equalKey(&pubHalf, a.get(), &equal), 0);
  EXPECT_EQ(equal, 1);
  Key other = KeyOf(recs.back());
  ASSERT_EQ(DSA_equalKey(other.get(), a.get(), &equal), 0);
  EXPECT_EQ(equal, 0);
  int32_t length = 0;
  ASSERT_EQ(DSA_getCipherTextLength(a.get(), &length), 0);
  EXPECT_EQ(length, 128);
  DsaKeyObject empty{};
  EXPECT_EQ(DSA_getCipherTextLength(&empty, &length), -6001);
  EXPECT_EQ(DSA_cloneKey(nullptr, a.get()), -6001);
  EXPECT_EQ(DSA_equalKey(a.get(), nullptr, &equal), -6001);
  EXPECT_EQ(DSA_createKey(nullptr), -6001);
  EXPECT_EQ(DSA_freeKey(nullptr, nullptr), -6001);
  vlong *r = nullptr, *s = nullptr;
  V m = Representative(Bytes{1});
  EXPECT_EQ(DSA_computeSignature(rng_, &pubHalf, m.get(), nullptr, &r, &s, nullptr), -6001);  // no x
  EXPECT_EQ(DSA_computeKeyPair(rng_, &empty, nullptr), -6001);
}

// Before the self-test every gated entry returns the status and changes
// nothing; the null check of DSA_setAllKeyParameters comes first.
TEST_F(Dsa, GateClosed) {
  Key key = KeyOf(KeysWithX().front());
  const Bytes blob = BlobOf(key.get());
  const std::string before = Hex(key->x) + Hex(key->y);
  V m = Representative(Bytes{1}), one = VHex("01");
  uint8_t seed[20] = {};
  for (int32_t status : {-16508, -16502}) {
    gFIPS_powerupStatus = status;
    DsaKeyObject *k = key.get(), *out = nullptr;
    vlong *r = nullptr, *s = nullptr;
    uint32_t flag = 0, n = 0;
    uint8_t equal = 0;
    const uint8_t b[] = {1};
    const int32_t results[] = {
        DSA_createKey(&out), DSA_cloneKey(&out, k), DSA_equalKey(k, k, &equal), DSA_freeKey(&k, nullptr),
        DSA_verifySignature(k, m.get(), one.get(), one.get(), &flag, nullptr),
        DSA_computeSignature(rng_, k, m.get(), nullptr, &r, &s, nullptr),
        DSA_computeSignatureEx(Replay::Fun, nullptr, k, m.get(), nullptr, &r, &s, nullptr),
        DSA_computeKeyPair(rng_, k, nullptr), DSA_generateKey(rng_, k, 512, nullptr, nullptr, nullptr, nullptr),
        DSA_generateKey_FIPS_consistancy_test(rng_, k), DSA_makeKeyBlob(k, nullptr, &n),
        DSA_extractKeyBlob(&out, blob.data(), blob.size()),
        DSA_verifyKeys(rng_, seed, k, 0, one.get(), &flag, nullptr),
        DSA_setAllKeyParameters(k, b, 1, b, 1, b, 1, b, 1, nullptr),
        DSA_setPublicKeyParameters(k, b, 1, b, 1, b, 1, b, 1, nullptr)};
    for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], status) << "entry " << i;
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(k, key.get());
    EXPECT_EQ(DSA_setAllKeyParameters(k, nullptr, 1, b, 1, b, 1, b, 1, nullptr), -6001);
    int32_t length = 0;
    EXPECT_EQ(DSA_getCipherTextLength(k, &length), 0);
  }
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(Hex(key->x) + Hex(key->y), before);
}

// A key whose y does not belong to x fails the test, which switches the
// toolkit off; a good key passes and leaves it on.
TEST_F(Dsa, ConsistencyTest) {
  Key key = KeyOf(KeysWithX().front());
  EXPECT_EQ(DSA_generateKey_FIPS_consistancy_test(rng_, key.get()), 0);
  EXPECT_EQ(gFIPS_powerupStatus, 0);
  ASSERT_EQ(VLONG_increment(key->y, nullptr), 0);
  EXPECT_EQ(DSA_generateKey_FIPS_consistancy_test(rng_, key.get()), -16502);
  EXPECT_EQ(gFIPS_powerupStatus, -16502);
  EXPECT_EQ(FIPS_powerupSelfTestStatus(), -16502);
}

// Every allocation of a signature, a blob parse and a clone may fail: the
// status says so and nothing leaks (ASan's leak check).
TEST_F(Dsa, AllocationFailures) {
  Key key = KeyOf(KeysWithX().front());
  const Bytes blob = BlobOf(key.get());
  V m = Representative(Bytes{9});
  const std::function<int32_t()> ops[] = {
      [&] {
        vlong *r = nullptr, *s = nullptr;
        int32_t st = DSA_computeSignature(rng_, key.get(), m.get(), nullptr, &r, &s, nullptr);
        V hr(r), hs(s);
        return st;
      },
      [&] {
        DsaKeyObject *k = nullptr;
        int32_t st = DSA_extractKeyBlob(&k, blob.data(), blob.size());
        Key held(k);
        return st;
      },
      [&] {
        DsaKeyObject *k = nullptr;
        int32_t st = DSA_cloneKey(&k, key.get());
        Key held(k);
        return st;
      }};
  for (const auto &op : ops) {
    int failures = 0;
    for (int64_t n = 0; n < 500; ++n) {
      kel::mem::fail_after(n);
      const int32_t st = op();
      kel::mem::fail_after(-1);
      if (st == 0) break;
      EXPECT_EQ(st, -6101) << "allocation " << n;
      ++failures;
    }
    EXPECT_GT(failures, 2);
    EXPECT_LT(failures, 500);
  }
}

// One key shared by several threads, each with its own queue.
TEST_F(Dsa, SharedKeyAcrossThreads) {
  Key key = KeyOf(KeysWithX().front());
  std::atomic<int> verified{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      vlong *queue = nullptr;
      for (int i = 0; i < 10; ++i) {
        V m = Representative(Bytes{static_cast<uint8_t>(t), static_cast<uint8_t>(i)});
        vlong *r = nullptr, *s = nullptr;
        uint32_t valid = 0;
        if (DSA_computeSignature(rng_, key.get(), m.get(), nullptr, &r, &s, &queue) == 0 &&
            DSA_verifySignature(key.get(), m.get(), r, s, &valid, &queue) == 0 && valid == 1)
          ++verified;
        VLONG_freeVlong(&r, nullptr);
        VLONG_freeVlong(&s, nullptr);
      }
      VLONG_freeVlongQueue(&queue);
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(verified.load(), 40);
}

// x does not survive in the vlongs a freed key hands back to a queue.
TEST_F(Dsa, PrivateValueWipedOnTheWayToTheQueue) {
  DsaKeyObject *k = KeyOf(KeysWithX().front()).release();
  const uint32_t xUnit = k->x->units[0];
  vlong *queue = nullptr;
  ASSERT_EQ(DSA_freeKey(&k, &queue), 0);
  EXPECT_EQ(k, nullptr);
  for (vlong *v = queue; v != nullptr; v = v->queueNext)
    for (uint32_t i = 0; i < v->capacity; ++i) EXPECT_NE(v->units[i], xUnit);
  VLONG_freeVlongQueue(&queue);
}

}  // namespace
}  // namespace kel::test
