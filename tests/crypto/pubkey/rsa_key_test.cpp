// The RSA key object, its blob, the paddings' edges, blinding, bad input,
// allocation failure, the fault check and the gate.
#include <thread>

#include "rsa_test_util.h"

namespace kel::test {
namespace {

using kel::test::Bytes;

class RsaKeyTest : public RsaTest {
 protected:
  static void SetUpTestSuite() { pkey_ = OpensslKey(1024); }
  static void TearDownTestSuite() { EVP_PKEY_free(pkey_); }
  void SetUp() override {
    RsaTest::SetUp();
    FromOpenssl(key_, pkey_);
  }
  void TearDown() override {
    gFIPS_powerupStatus = 0;
    if (key_.k) {
      EXPECT_EQ(RSA_freeKey(&key_.k, nullptr), 0);
    }
    RsaTest::TearDown();
  }
  Bytes Export(RsaKeyObject *k) {
    uint32_t len = 0;
    EXPECT_EQ(RSA_byteStringFromKey(k, nullptr, &len), 0);
    Bytes b(len);
    EXPECT_EQ(RSA_byteStringFromKey(k, b.data(), &len), 0);
    return b;
  }
  Bytes N() const { return BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_N); }
  // The private operation on a block we choose (no padding check).
  Bytes Raw(const Bytes &block, bool privateOp) {
    V in = FromMpz(Mpz(ToHex(block).c_str())), out;
    EXPECT_EQ(privateOp ? RSA_RSADP(key_.k, in.get(), out.out(), nullptr)
                        : RSA_RSAEP(key_.k, in.get(), out.out(), nullptr), 0);
    Bytes b(128);
    int32_t len = 128;
    EXPECT_EQ(VLONG_byteStringFromVlong(out.get(), b.data(), &len), 0);
    return b;
  }
  static EVP_PKEY *pkey_;
  Key key_;
};
EVP_PKEY *RsaKeyTest::pkey_ = nullptr;

// Field order, length, round trip, truncations, versions, trailing bytes,
// and the destination-size protocol.
TEST_F(RsaKeyTest, Blob) {
  const Bytes blob = Export(key_.k);
  std::vector<Bytes> f;
  for (const char *n : {OSSL_PKEY_PARAM_RSA_E, OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_FACTOR1,
                        OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                        OSSL_PKEY_PARAM_RSA_COEFFICIENT1})
    f.push_back(BnBytes(pkey_, n));
  if (f[2] < f[3]) {  // ours keeps p > q: the CRT values follow the order
    std::swap(f[2], f[3]);
    std::swap(f[4], f[5]);
    Mpz p(ToHex(f[2]).c_str()), q(ToHex(f[3]).c_str()), inv;
    mpz_invert(inv.z, q.z, p.z);
    f[6] = Hex(inv.Hex());
  }
  EXPECT_EQ(blob, Blob(f));
  for (uint32_t cut = 0; cut < blob.size(); ++cut) {
    RsaKeyObject *k = reinterpret_cast<RsaKeyObject *>(&f);
    EXPECT_EQ(RSA_keyFromByteString(&k, blob.data(), cut, nullptr), ERR_RSA_BLOB_LENGTH) << cut;
    EXPECT_EQ(k, reinterpret_cast<RsaKeyObject *>(&f));
  }
  for (uint8_t version : {0, 1, 2, 3}) {
    Bytes b = blob;
    b[0] = version;
    b.insert(b.end(), {1, 2, 3, 4, 5});  // ignored
    Key k;
    const int32_t st = RSA_keyFromByteString(&k.k, b.data(), static_cast<uint32_t>(b.size()), nullptr);
    if (version > 2) {
      EXPECT_EQ(st, ERR_RSA_BLOB_VERSION);
      continue;
    }
    ASSERT_EQ(st, 0);
    EXPECT_EQ(Export(k.k), blob);
  }
  uint32_t len = static_cast<uint32_t>(blob.size() - 1);
  Bytes small(len);
  EXPECT_EQ(RSA_byteStringFromKey(key_.k, small.data(), &len), ERR_RSA_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, blob.size());
  // The public half: 2 + 8 + len(e) + len(n), and equal to the private key.
  Key pub;
  const Bytes n = N();
  ASSERT_EQ(RSA_createKey(&pub.k), 0);
  ASSERT_EQ(RSA_setPublicKeyParameters(pub.k, 65537, n.data(), static_cast<uint32_t>(n.size()), nullptr), 0);
  EXPECT_EQ(Export(pub.k), Blob({{1, 0, 1}, n}));
  uint8_t equal = 9;
  EXPECT_EQ(RSA_equalKey(key_.k, pub.k, &equal), 0);
  EXPECT_EQ(equal, 1);
}

// p and q in either order give the same key; a clone signs alike, and a
// private key without its CRT values cannot be cloned.
TEST_F(RsaKeyTest, PrimeOrderCloneAndEquality) {
  const Bytes n = N(), p = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_FACTOR1), q = BnBytes(pkey_, OSSL_PKEY_PARAM_RSA_FACTOR2);
  Key a, b, clone;
  ASSERT_EQ(RSA_createKey(&a.k), 0);
  ASSERT_EQ(RSA_createKey(&b.k), 0);
  const auto sz = [](const Bytes &x) { return static_cast<uint32_t>(x.size()); };
  ASSERT_EQ(RSA_setAllKeyParameters(a.k, 65537, n.data(), sz(n), p.data(), sz(p), q.data(), sz(q), nullptr), 0);
  ASSERT_EQ(RSA_setAllKeyParameters(b.k, 65537, n.data(), sz(n), q.data(), sz(q), p.data(), sz(p), nullptr), 0);
  EXPECT_EQ(Export(a.k), Export(b.k));
  EXPECT_EQ(Export(a.k), Export(key_.k));
  ASSERT_EQ(RSA_cloneKey(&clone.k, a.k, nullptr), 0);
  const Bytes msg(40, 0x5c);
  Bytes s1(128), s2(128);
  ASSERT_EQ(RSA_signMessage(a.k, msg.data(), 40, s1.data(), nullptr), 0);
  ASSERT_EQ(RSA_signMessage(clone.k, msg.data(), 40, s2.data(), nullptr), 0);
  EXPECT_EQ(s1, s2);
  Key other;
  EVP_PKEY *otherKey = OpensslKey(1024);
  FromOpenssl(other, otherKey);
  EVP_PKEY_free(otherKey);
  uint8_t equal = 9;
  EXPECT_EQ(RSA_equalKey(a.k, other.k, &equal), 0);
  EXPECT_EQ(equal, 0);
  VLONG_freeVlong(&a->exponent1, nullptr);
  RsaKeyObject *none = nullptr;
  EXPECT_EQ(RSA_cloneKey(&none, a.k, nullptr), ERR_RSA_INCOMPLETE_KEY);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(RSA_signMessage(a.k, msg.data(), 40, s1.data(), nullptr), ERR_RSA_INCOMPLETE_KEY);
}

// Decryption blocks at the edges of the padding rules, encrypted raw.
TEST_F(RsaKeyTest, DecryptionPaddingEdges) {
  struct Case {
    const char *name;
    uint8_t b0, b1;
    size_t padding;   // non-zero bytes after the two leading ones
    bool separator;
    size_t message;
    int32_t status;
  };
  const Case cases[] = {{"8 padding bytes", 0, 2, 8, true, 117, 0},
                        {"7 padding bytes", 0, 2, 7, true, 118, ERR_RSA_BAD_PADDING},
                        {"empty message", 0, 2, 125, true, 0, 0},
                        {"no separator", 0, 2, 126, false, 0, ERR_RSA_BAD_PADDING},
                        {"block type 1", 0, 1, 60, true, 65, ERR_RSA_BAD_PADDING},
                        {"leading 01", 1, 2, 60, true, 65, ERR_RSA_BAD_PADDING}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Bytes em{c.b0, c.b1};
    em.insert(em.end(), c.padding, 0x7f);
    if (c.separator) em.push_back(0);
    em.insert(em.end(), c.message, 0x33);
    ASSERT_EQ(em.size(), 128u);
    const Bytes ct = Raw(em, false);  // below n: n's top byte is at least 0x80
    Bytes out(128);
    uint32_t len = 99;
    EXPECT_EQ(RSA_decrypt(key_.k, ct.data(), out.data(), &len, nullptr, nullptr, nullptr), c.status);
    if (c.status == 0) {
      EXPECT_EQ(len, c.message);
      EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(len)), Bytes(c.message, 0x33));
    }
  }
}

// Signature blocks: only 00 01 FF..FF (at least 8) 00 is accepted.
TEST_F(RsaKeyTest, SignaturePaddingEdges) {
  const auto block = [](uint8_t type, size_t ffs, uint8_t stray) {
    Bytes em{0, type};
    em.insert(em.end(), ffs, 0xff);
    if (stray) em[5] = stray;
    em.push_back(0);
    em.insert(em.end(), 128 - em.size(), 0x44);
    return em;
  };
  const struct {
    Bytes em;
    int32_t status;
  } cases[] = {{block(1, 8, 0), 0},
               {block(1, 7, 0), ERR_RSA_BAD_PADDING},
               {block(1, 40, 0xfe), ERR_RSA_BAD_PADDING},
               {block(2, 40, 0), ERR_RSA_BAD_PADDING}};
  for (const auto &c : cases) {
    int32_t st = 0;
    const Bytes got = Recover(key_, Raw(c.em, true), &st);
    EXPECT_EQ(st, c.status);
    if (st == 0) {
      EXPECT_EQ(got, Bytes(128 - 11, 0x44));
    }
  }
}

// Each refusal with its status, and nothing written where a result would go.
TEST_F(RsaKeyTest, BadInput) {
  Key pub, empty;
  const Bytes n = N();
  ASSERT_EQ(RSA_createKey(&pub.k), 0);
  ASSERT_EQ(RSA_createKey(&empty.k), 0);
  ASSERT_EQ(RSA_setPublicKeyParameters(pub.k, 65537, n.data(), 128, nullptr), 0);
  Bytes big(513, 0xff), msg(118, 1), buf(600), out(600);
  uint32_t len = 0;
  int32_t k = 0;
  RsaKeyObject *none = nullptr;
  Key bigKey, longE;
  ASSERT_EQ(RSA_createKey(&bigKey.k), 0);
  ASSERT_EQ(RSA_setPublicKeyParameters(bigKey.k, 3, big.data(), 513, nullptr), 0);  // 4104 bits
  LoadBlob(longE, Blob({{1, 0, 0, 0, 1}, n}));                                       // e = 2^32 + 1
  const struct {
    const char *name;
    int32_t got, want;
  } cases[] = {
      {"create null", RSA_createKey(nullptr), ERR_RSA_NULL},
      {"free null", RSA_freeKey(&none, nullptr), ERR_RSA_NULL},
      {"exponent 1", RSA_setPublicKeyParameters(pub.k, 1, n.data(), 128, nullptr), ERR_RSA_BAD_EXPONENT},
      {"exponent 0", RSA_setPublicKeyParameters(pub.k, 0, n.data(), 128, nullptr), ERR_RSA_BAD_EXPONENT},
      {"set null key", RSA_setPublicKeyParameters(nullptr, 3, n.data(), 128, nullptr), ERR_RSA_BAD_KEY},
      {"length of empty key", RSA_getCipherTextLength(empty.k, &k), ERR_RSA_NULL},
      {"encrypt 118 bytes", RSA_encrypt(pub.k, msg.data(), 118, buf.data(), OpensslRng, nullptr, nullptr),
       ERR_RSA_BAD_KEY},
      {"encrypt 117 bytes", RSA_encrypt(pub.k, msg.data(), 117, buf.data(), OpensslRng, nullptr, nullptr), 0},
      {"encrypt no generator", RSA_encrypt(pub.k, msg.data(), 1, buf.data(), nullptr, nullptr, nullptr),
       ERR_RSA_NULL},
      {"encrypt null key", RSA_encrypt(nullptr, msg.data(), 1, buf.data(), OpensslRng, nullptr, nullptr),
       ERR_RSA_BAD_KEY},
      {"decrypt with public key", RSA_decrypt(pub.k, buf.data(), out.data(), &len, nullptr, nullptr, nullptr),
       ERR_RSA_BAD_KEY},
      {"decrypt null length", RSA_decrypt(key_.k, buf.data(), out.data(), nullptr, nullptr, nullptr, nullptr),
       ERR_RSA_NULL},
      {"sign 118 bytes", RSA_signMessage(key_.k, msg.data(), 118, buf.data(), nullptr), ERR_RSA_BAD_KEY},
      {"sign null message", RSA_signMessage(key_.k, nullptr, 1, buf.data(), nullptr), ERR_RSA_BAD_KEY},
      {"sign with public key", RSA_signMessage(pub.k, msg.data(), 1, buf.data(), nullptr), ERR_RSA_INCOMPLETE_KEY},
      {"verify 4104 bits", RSA_verifySignature(bigKey.k, big.data(), out.data(), &len, nullptr),
       ERR_RSA_MODULUS_TOO_LONG},
      {"verify e >= 2^32", RSA_verifySignature(longE.k, buf.data(), out.data(), &len, nullptr),
       ERR_RSA_EXPONENT_TOO_LONG},
      {"verify null output", RSA_verifySignature(pub.k, buf.data(), nullptr, &len, nullptr), ERR_RSA_NULL},
      {"blob null", RSA_keyFromByteString(&none, nullptr, 10, nullptr), ERR_RSA_NULL},
      {"RSADP public key", RSA_RSADP(pub.k, pub->modulus, nullptr, nullptr), ERR_RSA_NULL},
      {"generate null key", RSA_generateKey(nullptr, nullptr, 1024, nullptr), ERR_RSA_BAD_KEY},
      {"generate 896", RSA_generateKey(reinterpret_cast<RandomContext *>(&k), pub.k, 896, nullptr),
       ERR_RSA_KEY_SIZE},
      {"generate 0", RSA_generateKey(reinterpret_cast<RandomContext *>(&k), pub.k, 0, nullptr), ERR_RSA_KEY_SIZE},
  };
  for (const auto &c : cases) EXPECT_EQ(c.got, c.want) << c.name;
  EXPECT_EQ(none, nullptr);
  V m;
  EXPECT_EQ(RSA_RSADP(pub.k, pub->modulus, m.out(), nullptr), ERR_RSA_INCOMPLETE_KEY);
}

// A fault in a CRT value is caught by the check against e: nothing leaves.
TEST_F(RsaKeyTest, FaultyPrivateResultIsWithheld) {
  ASSERT_EQ(VLONG_addImmediate(key_->exponent1, 2, nullptr), 0);
  Bytes sig(128, 0xaa);
  EXPECT_EQ(RSA_signMessage(key_.k, sig.data(), 20, sig.data(), nullptr), ERR_RSA_FAULT);
  EXPECT_EQ(sig, Bytes(128, 0));
  EXPECT_EQ(RSA_generateKey_FIPS_consistancy_test(key_.k), ERR_RSA_FAULT);
}

// One pair serves 33 operations (count 0 .. 32), the 34th draws a new one;
// results stay right throughout and across threads sharing the key.
TEST_F(RsaKeyTest, BlindingPairReuseAndThreads) {
  const Bytes msg(50, 0x21);
  Bytes ct(128), out(128);
  ASSERT_EQ(RSA_encrypt(key_.k, msg.data(), 50, ct.data(), OpensslRng, nullptr, nullptr), 0);
  for (uint32_t i = 0; i < 34; ++i) {
    uint32_t len = 0;
    ASSERT_EQ(RSA_decrypt(key_.k, ct.data(), out.data(), &len, OpensslRng, nullptr, nullptr), 0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + len), msg);
    EXPECT_EQ(key_->blindingUseCount, i < 33 ? i : 0u);
  }
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      vlong *queue = nullptr;
      for (int i = 0; i < 25; ++i) {
        Bytes o(128), s(128);
        uint32_t len = 0;
        if (RSA_decrypt(key_.k, ct.data(), o.data(), &len, OpensslRng, nullptr, &queue) != 0 ||
            Bytes(o.begin(), o.begin() + len) != msg)
          ++wrong;
        V in = FromMpz(Mpz("1234567890abcdef")), sgn, back;
        if (RSA_RSASP1(key_.k, in.get(), t % 2 ? OpensslRng : nullptr, nullptr, sgn.out(), &queue) != 0 ||
            RSA_RSAVP1(key_.k, sgn.get(), back.out(), &queue) != 0 || Str(back.get()) != "1234567890abcdef")
          ++wrong;
      }
      VLONG_freeVlongQueue(&queue);
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Every allocation failure on the way gives a status (and ASan sees no leak).
TEST_F(RsaKeyTest, AllocationFailures) {
  const Bytes blob = Export(key_.k), msg(20, 7);
  Bytes ct(128), out(128);
  ASSERT_EQ(RSA_encrypt(key_.k, msg.data(), 20, ct.data(), OpensslRng, nullptr, nullptr), 0);
  for (int64_t n = 0;; ++n) {
    mem::fail_after(n);
    Key k;
    uint32_t len = 0;
    int32_t st = RSA_keyFromByteString(&k.k, blob.data(), static_cast<uint32_t>(blob.size()), nullptr);
    if (st == 0) st = RSA_decrypt(k.k, ct.data(), out.data(), &len, OpensslRng, nullptr, nullptr);
    if (st == 0) st = RSA_signMessage(k.k, msg.data(), 20, out.data(), nullptr);
    mem::fail_after(-1);
    if (st == 0) break;
    EXPECT_LT(st, 0);
    ASSERT_LT(n, 2000);
  }
}

// Before the self-test every gated entry returns the status and touches
// nothing; the primitives are not gated.
TEST_F(RsaKeyTest, Gate) {
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  RsaKeyObject *out = reinterpret_cast<RsaKeyObject *>(&out);
  RsaKeyObject *const canary = out;
  Bytes buf(128, 0x5a);
  uint32_t len = 77;
  int32_t k = 77;
  uint8_t eq = 77;
  const int32_t got[] = {RSA_createKey(&out), RSA_cloneKey(&out, key_.k, nullptr), RSA_freeKey(&out, nullptr),
                         RSA_equalKey(key_.k, key_.k, &eq), RSA_setPublicKeyParameters(key_.k, 3, buf.data(), 128, nullptr),
                         RSA_prepareKey(key_.k, nullptr),
                         RSA_setAllKeyParameters(key_.k, 3, buf.data(), 128, buf.data(), 64, buf.data(), 64, nullptr),
                         RSA_getCipherTextLength(key_.k, &k),
                         RSA_encrypt(key_.k, buf.data(), 1, buf.data(), OpensslRng, nullptr, nullptr),
                         RSA_decrypt(key_.k, buf.data(), buf.data(), &len, nullptr, nullptr, nullptr),
                         RSA_signMessage(key_.k, buf.data(), 1, buf.data(), nullptr),
                         RSA_verifySignature(key_.k, buf.data(), buf.data(), &len, nullptr),
                         RSA_keyFromByteString(&out, buf.data(), 128, nullptr),
                         RSA_byteStringFromKey(key_.k, buf.data(), &len),
                         RSA_generateKey(nullptr, key_.k, 1024, nullptr)};
  for (int32_t st : got) EXPECT_EQ(st, ERR_FIPS_SELFTEST_NOT_RUN);
  EXPECT_EQ(out, canary);
  EXPECT_EQ(buf, Bytes(128, 0x5a));
  EXPECT_TRUE(len == 77 && k == 77 && eq == 77);
  V c;
  EXPECT_EQ(RSA_RSAEP(key_.k, key_->prime2, c.out(), nullptr), 0);
  V m;
  EXPECT_EQ(RSA_RSADP(key_.k, c.get(), m.out(), nullptr), 0);
  EXPECT_EQ(VLONG_compareSignedVlongs(m.get(), key_->prime2), 0);
}

}  // namespace
}  // namespace kel::test
