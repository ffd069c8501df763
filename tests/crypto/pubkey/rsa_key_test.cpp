// The RSA key object, its blob, the paddings' edges, blinding, bad input,
// allocation failure, the fault check and the gate.
#include <thread>

#include "kel/prime.h"
#include "pubkey_test_util.h"

namespace kel::test {
namespace {

using RsaTest = RandomTest;

class RsaKeyTest : public RsaTest {
 protected:
  static void SetUpTestSuite() { pkey_ = OpensslKey(1024); }
  static void TearDownTestSuite() { EVP_PKEY_free(pkey_); }
  void SetUp() override {
    RsaTest::SetUp();
    FromOpenssl(key_, pkey_);
  }
  void TearDown() override {
    gFIPS_powerupStatus = 0;  // the Gate test leaves it closed
    EXPECT_EQ(RSA_freeKey(&key_.k, nullptr), 0);
    RsaTest::TearDown();
  }
  Bytes Export(RsaKeyObject *k) { return KeyBlob(RSA_byteStringFromKey, k); }
  Bytes Raw(const Bytes &block, bool privateOp) {
    V in = FromMpz(Mpz(ToHex(block).c_str())), out;
    EXPECT_EQ((privateOp ? RSA_RSADP : RSA_RSAEP)(key_.k, in.get(), out.out(), nullptr), 0);
    Bytes b(128);
    int32_t len = 128;
    EXPECT_EQ(VLONG_byteStringFromVlong(out.get(), b.data(), &len), 0);
    return b;
  }
  static inline EVP_PKEY *pkey_ = nullptr;
  Key key_;
};

TEST_F(RsaKeyTest, Blob) {
  const Bytes blob = Export(key_.k);
  Bytes p = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_FACTOR1), q = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_FACTOR2);
  Bytes dP = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_EXPONENT1), dQ = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_EXPONENT2);
  if (p < q) std::swap(p, q), std::swap(dP, dQ);  // ours keeps p > q
  Mpz P(ToHex(p).c_str()), Q(ToHex(q).c_str()), qInv;
  mpz_invert(qInv.z, Q.z, P.z);
  const Bytes n = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_N);
  EXPECT_EQ(blob, Blob({{1, 0, 1}, n, p, q, dP, dQ, Hex(qInv.Hex())}));
  Key computed, reordered;  // CRT fields left empty are computed on load
  LoadBlob(computed, Blob({{1, 0, 1}, n, q, p, {}, {}, {}}));
  EXPECT_EQ(Export(computed.k), blob);
  Mpz pInv;  // the primes the other way round with that order's CRT values: all three remade
  mpz_invert(pInv.z, P.z, Q.z);
  LoadBlob(reordered, Blob({{1, 0, 1}, n, q, p, dQ, dP, Hex(pInv.Hex())}));
  EXPECT_EQ(Export(reordered.k), blob);
  for (uint32_t cut = 0; cut < blob.size(); ++cut) {
    RsaKeyObject *k = nullptr;
    EXPECT_EQ(RSA_keyFromByteString(&k, blob.data(), cut, nullptr), ERR_RSA_BLOB_LENGTH) << cut;
    EXPECT_EQ(k, nullptr);
  }
  for (uint8_t version : {0, 1, 2, 3}) {
    Bytes b = blob;
    b[0] = version;
    b.insert(b.end(), {1, 2, 3});  // ignored
    Key k;
    const int32_t st = RSA_keyFromByteString(&k.k, b.data(), static_cast<uint32_t>(b.size()), nullptr);
    EXPECT_EQ(st, version > 2 ? ERR_RSA_BLOB_VERSION : 0);
    EXPECT_TRUE(st != 0 || Export(k.k) == blob) << int(version);
  }
  uint32_t len = static_cast<uint32_t>(blob.size() - 1);
  EXPECT_EQ(RSA_byteStringFromKey(key_.k, Bytes(len).data(), &len), ERR_RSA_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, blob.size());
  Key pub(kCreated), otherE, otherN, none(kCreated);
  ASSERT_EQ(RSA_setPublicKeyParameters(pub.k, 65537, n.data(), 128, nullptr), 0);
  EXPECT_EQ(Export(pub.k), Blob({{1, 0, 1}, n}));
  uint8_t equal = 9;
  EXPECT_EQ(RSA_equalKey(key_.k, pub.k, &equal), 0);
  EXPECT_EQ(equal, 1);
  Bytes n2 = n;
  n2[100] ^= 1;
  LoadBlob(otherE, Blob({{3}, n}));
  LoadBlob(otherN, Blob({{1, 0, 1}, n2}));
  for (const Key *k : {&otherE, &otherN, &none})
    for (auto [a, b] : {std::pair{pub.k, k->k}, {k->k, pub.k}}) EXPECT_TRUE(RSA_equalKey(a, b, &equal) == 0 && !equal);
}

// Blocks at the edges of both paddings, made with the raw operations:
// {first byte, type, padding bytes, padding value, separator, result}.
TEST_F(RsaKeyTest, PaddingEdges) {
  const struct { uint8_t b0, type; size_t padding; uint8_t fill, stray; bool separator; int32_t status; } cases[] = {
      {0, 2, 8, 0x7f, 0, true, 0},        {0, 2, 7, 0x7f, 0, true, -7702},  {0, 2, 125, 0x7f, 0, true, 0},
      {0, 2, 126, 0x7f, 0, false, -7702}, {0, 1, 60, 0xff, 0, true, -7702}, {1, 2, 60, 0x7f, 0, true, -7702},
      {0, 1, 8, 0xff, 0, true, 0},        {0, 1, 7, 0xff, 0, true, -7702},  {0, 1, 40, 0xff, 0xfe, true, -7702},
      {0, 2, 40, 0xff, 0, true, -7702}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto &c = cases[i];
    Bytes em{c.b0, c.type};
    em.insert(em.end(), c.padding, c.fill);
    if (c.stray) em[5] = c.stray;
    if (c.separator) em.push_back(0);
    const size_t message = 128 - em.size();
    em.insert(em.end(), message, 0x33);
    Bytes out(128);
    uint32_t len = 99;
    int32_t st = 0;
    if (i < 6) {  // decryption: the block encrypted raw (below n, whose top byte is at least 0x80)
      st = RSA_decrypt(key_.k, Raw(em, false).data(), out.data(), &len, nullptr, nullptr, nullptr);
      out.resize(st == 0 ? len : 0);
    } else {      // signature: the block through RSADP
      out = Recover(key_, Raw(em, true), &st);
    }
    EXPECT_EQ(st, c.status) << "case " << i;
    EXPECT_TRUE(st != 0 || out == Bytes(message, 0x33)) << "case " << i;
  }
}

TEST_F(RsaKeyTest, BadInput) {
  Key pub(kCreated), bigKey(kCreated), longE;
  const Bytes n = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_N), big(513, 0xff);
  ASSERT_EQ(RSA_setPublicKeyParameters(pub.k, 65537, n.data(), 128, nullptr), 0);
  ASSERT_EQ(RSA_setPublicKeyParameters(bigKey.k, 3, big.data(), 513, nullptr), 0);  // 4104 bits
  LoadBlob(longE, Blob({{1, 0, 0, 0, 1}, n}));                                       // e = 2^32 + 1
  Bytes msg(118, 1), buf(600), out(600), huge(40000, 1);
  uint32_t len = 0;
  int32_t k = 0;
  auto *ctx = reinterpret_cast<RandomContext *>(&k);  // never reached
  vlong *none = nullptr;
  ScriptedRng failing;
  const struct { const char *name; int32_t got, want; } cases[] = {
      {"exponent 1", RSA_setPublicKeyParameters(pub.k, 1, n.data(), 128, nullptr), -6013},
      {"encrypt 118 bytes", RSA_encrypt(pub.k, msg.data(), 118, buf.data(), OpenSslRng, nullptr, nullptr), -7701},
      {"encrypt no generator", RSA_encrypt(pub.k, msg.data(), 1, buf.data(), nullptr, nullptr, nullptr), -6001},
      {"decrypt, public key", RSA_decrypt(pub.k, buf.data(), out.data(), &len, nullptr, nullptr, nullptr), -7701},
      {"decrypt, failing generator", RSA_decrypt(key_.k, buf.data(), out.data(), &len, ScriptedRng::Fun, &failing,
                                                 nullptr), -17999},
      {"sign 118 bytes", RSA_signMessage(key_.k, msg.data(), 118, buf.data(), nullptr), -7701},
      {"sign, public key", RSA_signMessage(pub.k, msg.data(), 1, buf.data(), nullptr), -7708},
      {"verify 4104 bits", RSA_verifySignature(bigKey.k, big.data(), out.data(), &len, nullptr), -7707},
      {"verify e >= 2^32", RSA_verifySignature(longE.k, buf.data(), out.data(), &len, nullptr), -7706},
      {"RSADP, public key", RSA_RSADP(pub.k, pub->modulus, &none, nullptr), -7708},
      {"RSADP, no input", RSA_RSADP(key_.k, nullptr, &none, nullptr), -6001},
      {"generate null key", RSA_generateKey(ctx, nullptr, 1024, nullptr), -7701},
      {"generate 896", RSA_generateKey(ctx, pub.k, 896, nullptr), -7710},
      {"modulus of 40000 bytes", RSA_setPublicKeyParameters(pub.k, 3, huge.data(), 40000, nullptr), -6003},
  };
  for (const auto &c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

// A fault in a CRT value is caught by the check against e: nothing leaves,
// and the key-generation consistency test reports it.
TEST_F(RsaKeyTest, FaultyPrivateResultIsWithheld) {
  ASSERT_EQ(VLONG_addImmediate(key_->exponent1, 2, nullptr), 0);
  Bytes sig(128, 0xaa);
  EXPECT_EQ(RSA_signMessage(key_.k, sig.data(), 20, sig.data(), nullptr), ERR_RSA_FAULT);
  EXPECT_EQ(sig, Bytes(128, 0));
  EXPECT_EQ(RSA_generateKey_FIPS_consistancy_test(key_.k), ERR_RSA_FAULT);
  // Zero exponent halves turn 3 into 1, whose power differs from 3 in a single low bit.
  ASSERT_EQ(VLONG_clearVlong(key_->exponent1) | VLONG_clearVlong(key_->exponent2), 0);
  V three = FromHex("3"), m;
  EXPECT_EQ(RSA_RSADP(key_.k, three.get(), m.out(), nullptr), ERR_RSA_FAULT);
}

// One pair serves 33 operations (count 0 .. 32), the 34th draws a new one;
// results stay right throughout and across threads sharing the key.
TEST_F(RsaKeyTest, BlindingPairReuseAndThreads) {
  const Bytes msg(50, 0x21);
  Bytes ct(128);
  ASSERT_EQ(RSA_encrypt(key_.k, msg.data(), 50, ct.data(), OpenSslRng, nullptr, nullptr), 0);
  const auto decrypts = [&](vlong **queue) {
    Bytes out(128);
    uint32_t len = 0;
    return RSA_decrypt(key_.k, ct.data(), out.data(), &len, OpenSslRng, nullptr, queue) == 0 &&
           Bytes(out.begin(), out.begin() + len) == msg;
  };
  for (uint32_t i = 0; i < 34; ++i) {
    EXPECT_TRUE(decrypts(nullptr));
    EXPECT_EQ(key_->blindingUseCount, i < 33 ? i : 0u);
  }
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      vlong *queue = nullptr;
      for (int i = 0; i < 25; ++i) {
        V in = FromMpz(Mpz("1234567890abcdef")), sig, back;
        if (!decrypts(&queue) ||
            RSA_RSASP1(key_.k, in.get(), t % 2 ? OpenSslRng : nullptr, nullptr, sig.out(), &queue) != 0 ||
            RSA_RSAVP1(key_.k, sig.get(), back.out(), &queue) != 0 || Str(back.get()) != "1234567890abcdef")
          ++wrong;
      }
      VLONG_freeVlongQueue(&queue);
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Every allocation failure on the way gives a status (and ASan sees no leak);
// primes given apart (OpenSSL's order, the other is the blob's case) give the
// key, and a key without its CRT values is not cloned until prepared again.
TEST_F(RsaKeyTest, AllocationFailures) {
  const Bytes blob = Export(key_.k), msg(20, 7);
  Bytes ct(128), out(128);
  ASSERT_EQ(RSA_encrypt(key_.k, msg.data(), 20, ct.data(), OpenSslRng, nullptr, nullptr), 0);
  for (int64_t n = 0;; ++n) {
    mem::fail_after(n);
    Key k;
    uint32_t len = 0;
    int32_t st = RSA_keyFromByteString(&k.k, blob.data(), static_cast<uint32_t>(blob.size()), nullptr);
    if (st == 0) st = RSA_decrypt(k.k, ct.data(), out.data(), &len, OpenSslRng, nullptr, nullptr);
    if (st == 0) st = RSA_signMessage(k.k, msg.data(), 20, out.data(), nullptr);
    mem::fail_after(-1);
    if (st == 0) break;
    EXPECT_LT(st, 0);
    ASSERT_LT(n, 2000);
  }
  for (int64_t n = 0; n < 20; ++n) {  // up to the draws of the first auxiliary starts
    Key g(kCreated);
    mem::fail_after(n);
    EXPECT_EQ(RSA_generateKey(rng_, g.k, 1024, nullptr), -6101) << n;
    mem::fail_after(-1);
  }
  const Bytes n = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_N), p = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_FACTOR1),
              q = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_FACTOR2);
  {
    ReleaseWatch watch;  // each call replaces the values the last one left
    Key pub(kCreated);
    EXPECT_GT(FailAllocationsInTurn([&] { return RSA_setPublicKeyParameters(pub.k, 65537, n.data(), 128, nullptr); }), 0);
  }
  EXPECT_EQ(ReleaseWatch::live.size(), 0u);
  Key all(kCreated), clone;
  EXPECT_GT(FailAllocationsInTurn([&] {
              return RSA_setAllKeyParameters(all.k, 65537, n.data(), 128, p.data(), 64, q.data(), 64, nullptr);
            }), 0);
  EXPECT_EQ(Export(all.k), blob) << "complete once it says so";
  VLONG_freeVlong(&all->exponent1, nullptr);
  EXPECT_EQ(RSA_cloneKey(&clone.k, all.k, nullptr), ERR_RSA_INCOMPLETE_KEY);
  EXPECT_EQ(clone.k, nullptr);
  ASSERT_EQ(RSA_prepareKey(all.k, nullptr), 0);
  ASSERT_EQ(RSA_cloneKey(&clone.k, all.k, nullptr), 0);
  for (const Key *k : {&all, &clone}) EXPECT_EQ(Export(k->k), blob);
}

TEST_F(RsaKeyTest, Gate) {
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  RsaKeyObject *out = reinterpret_cast<RsaKeyObject *>(&out), *const canary = out;
  Bytes buf(128, 0x5a);
  uint32_t len = 77;
  int32_t k = 77;
  uint8_t eq = 77;
  RsaKeyObject *K = key_.k;
  uint8_t *b = buf.data();
  for (int32_t st : {RSA_createKey(&out), RSA_cloneKey(&out, K, nullptr), RSA_freeKey(&out, nullptr),
                     RSA_equalKey(K, K, &eq), RSA_setPublicKeyParameters(K, 3, b, 128, nullptr),
                     RSA_prepareKey(K, nullptr), RSA_setAllKeyParameters(K, 3, b, 128, b, 64, b, 64, nullptr),
                     RSA_getCipherTextLength(K, &k), RSA_encrypt(K, b, 1, b, OpenSslRng, nullptr, nullptr),
                     RSA_decrypt(K, b, b, &len, nullptr, nullptr, nullptr), RSA_signMessage(K, b, 1, b, nullptr),
                     RSA_verifySignature(K, b, b, &len, nullptr), RSA_keyFromByteString(&out, b, 128, nullptr),
                     RSA_byteStringFromKey(K, b, &len), RSA_generateKey(nullptr, K, 1024, nullptr)})
    EXPECT_EQ(st, ERR_FIPS_SELFTEST_NOT_RUN);
  EXPECT_EQ(out, canary);
  EXPECT_EQ(buf, Bytes(128, 0x5a));
  EXPECT_TRUE(len == 77 && k == 77 && eq == 77);
  V c, m;
  EXPECT_EQ(RSA_RSAEP(K, K->prime2, c.out(), nullptr), 0);
  EXPECT_EQ(RSA_RSADP(K, c.get(), m.out(), nullptr), 0);
  EXPECT_EQ(VLONG_compareSignedVlongs(m.get(), K->prime2), 0);
}

// Generated keys: a size no multiple of 128 is rounded up.
class RsaGenerate : public RsaTest, public ::testing::WithParamInterface<std::pair<uint32_t, uint32_t>> {};
INSTANTIATE_TEST_SUITE_P(Bits, RsaGenerate,
                         ::testing::Values(std::pair{1024u, 1024u}, std::pair{2048u, 2048u}, std::pair{3072u, 3072u},
                                           std::pair{1000u, 1024u}));
TEST_P(RsaGenerate, ValuesCheckOut) {
  const auto [bits, nlen] = GetParam();
  Key key(kCreated);
  ASSERT_EQ(RSA_generateKey(rng_, key.k, bits, nullptr), 0);
  Mpz n, e, p, q;
  ToMpz(n, key->modulus), ToMpz(e, key->publicExponent), ToMpz(p, key->prime1), ToMpz(q, key->prime2);
  EXPECT_EQ(mpz_cmp_ui(e.z, 65537), 0);
  EXPECT_EQ(mpz_sizeinbase(n.z, 2), nlen);
  EXPECT_EQ(mpz_sizeinbase(q.z, 2), nlen / 2);
  EXPECT_GT(mpz_cmp(p.z, q.z), 0);
  EXPECT_TRUE(mpz_probab_prime_p(p.z, 30) && mpz_probab_prime_p(q.z, 30));
  Bytes msg(nlen / 8 - 11, 0xa7), sig(nlen / 8);
  ASSERT_EQ(RSA_signMessage(key.k, msg.data(), static_cast<uint32_t>(msg.size()), sig.data(), nullptr), 0);
  int32_t st = 0;
  EXPECT_EQ(Recover(key, sig, &st), msg);
  EXPECT_EQ(RSA_generateKey_FIPS_consistancy_test(key.k), 0);
}

// p - 1 is a multiple of p1 and p + 1 of p2, p1 and p2 the first primes at
// or above the auxiliary starts; gcd(p - 1, e) = 1; the flag is cleared.
TEST_F(RsaTest, AuxiliaryPrimeConditions) {
  V e, X, X1, X2, p, p1, p2;
  ASSERT_EQ(VLONG_makeVlongFromUnsignedValue(65537, e.out(), nullptr), 0);
  for (auto [v, bits] : {std::pair{&X, 512u}, std::pair{&X1, 101u}, std::pair{&X2, 101u}})
    ASSERT_EQ(VLONG_makeRandomVlong(rng_, v->out(), bits, nullptr), 0);
  uint32_t flag = 7;
  ASSERT_EQ(RSA_generateKeyFipsSteps(rng_, e.get(), X.get(), X1.get(), X2.get(), &flag, p.out(), nullptr), 0);
  EXPECT_EQ(flag, 0u);
  ASSERT_EQ(incrementalPrimeFind(rng_, X1.get(), p1.out(), nullptr), 0);
  ASSERT_EQ(incrementalPrimeFind(rng_, X2.get(), p2.out(), nullptr), 0);
  Mpz P, P1, P2, Xz, t;
  ToMpz(P, p.get()), ToMpz(P1, p1.get()), ToMpz(P2, p2.get()), ToMpz(Xz, X.get());
  EXPECT_GE(mpz_cmp(P.z, Xz.z), 0);
  EXPECT_GT(mpz_probab_prime_p(P.z, 30), 0);
  mpz_sub_ui(t.z, P.z, 1);
  EXPECT_TRUE(mpz_divisible_p(t.z, P1.z));
  EXPECT_NE(mpz_fdiv_ui(t.z, 65537), 0u);  // e is prime: gcd(p - 1, e) = 1
  mpz_add_ui(t.z, P.z, 1);
  EXPECT_TRUE(mpz_divisible_p(t.z, P2.z));
}

}  // namespace
}  // namespace kel::test
