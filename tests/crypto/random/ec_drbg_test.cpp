// The EC-DRBG: NIST CAVP Dual_EC_DRBG vectors, an independent model over
// OpenSSL's curve arithmetic and digests, the statuses, the continuous test
// and the gate.
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <cstring>

#include "crypto/common/alloc.h"
#include "kel/ec_drbg.h"
#include "random_test_util.h"

namespace kel::test {
namespace {

const char *kQ[2][2] = {
    {"c97445f45cdef9f0d3e05e1e585fc297235b82b5be8ff3efca67c59852018192",
     "b28ef557ba31dfcbdd21ac46e2a91e3c304f44cb87058ada2cb815151e610046"},
    {"8e722de3125bddb05580164bfe20b8b432216a62926c57502ceede31c47816edd1e89769124179d0b695106428815065",
     "023b1660dd701d0839fd45eec36f9ee7b32e13b315dc02610aa1b636e346df671f790f84c5e09b05674dbb7e45c803dd"}};

// Dual_EC_DRBG written from SP 800-90 over OpenSSL: Hash_df with EVP, s P and
// s Q with EC_POINT_mul.
class ModelEcDrbg {
 public:
  ModelEcDrbg(bool p384, const EVP_MD *md) : p384_(p384), md_(md) {
    group_ = EC_GROUP_new_by_curve_name(p384 ? NID_secp384r1 : NID_X9_62_prime256v1);
    q_ = EC_POINT_hex2point(group_, (std::string("04") + kQ[p384][0] + kQ[p384][1]).c_str(), nullptr, nullptr);
  }
  ~ModelEcDrbg() {
    EC_POINT_free(q_);
    EC_GROUP_free(group_);
  }
  size_t len() const { return p384_ ? 48 : 32; }
  size_t outBits() const { return p384_ ? 368 : 240; }
  Bytes HashDf(const std::vector<Bytes> &in) const {
    const uint32_t bits = uint32_t(8 * len());
    Bytes msg = {0, uint8_t(bits >> 24), uint8_t(bits >> 16), uint8_t(bits >> 8), uint8_t(bits)}, out;
    for (const Bytes &b : in) msg.insert(msg.end(), b.begin(), b.end());
    for (uint8_t counter = 1; out.size() < len(); ++counter) {
      msg[0] = counter;
      Bytes d(EVP_MAX_MD_SIZE);
      unsigned n = 0;
      EVP_Digest(msg.data(), msg.size(), d.data(), &n, md_, nullptr);
      out.insert(out.end(), d.begin(), d.begin() + n);
    }
    out.resize(len());
    return out;
  }
  void Instantiate(const Bytes &e, const Bytes &n, const Bytes &p) { s_ = HashDf({e, n, p}); }
  void Reseed(const Bytes &e, const Bytes &add) { s_ = HashDf({s_, e, add}); }
  Bytes Generate(size_t bits, const Bytes &add = {}) {
    if (!add.empty()) {
      const Bytes a = HashDf({add});
      for (size_t i = 0; i < len(); ++i) s_[i] ^= a[i];
    }
    Bytes stream;
    do {
      s_ = X(s_, nullptr);
      const Bytes r = X(s_, q_);
      stream.insert(stream.end(), r.end() - outBits() / 8, r.end());
    } while (stream.size() * 8 < bits);
    s_ = X(s_, nullptr);
    Bytes out(stream.begin(), stream.begin() + (bits + 7) / 8);
    if (bits % 8) out.back() &= uint8_t(0xff00 >> (bits % 8));
    return out;
  }
  // The next block r the generator would produce (without moving on).
  Bytes PeekBlock() const { return X(X(s_, nullptr), q_); }

 private:
  Bytes X(const Bytes &k, const EC_POINT *p) const {
    BIGNUM *bk = BN_bin2bn(k.data(), int(k.size()), nullptr), *x = BN_new();
    EC_POINT *r = EC_POINT_new(group_);
    EC_POINT_mul(group_, r, p ? nullptr : bk, p, p ? bk : nullptr, nullptr);
    Bytes out(len(), 0);
    if (!EC_POINT_is_at_infinity(group_, r)) {
      EC_POINT_get_affine_coordinates(group_, r, x, nullptr, nullptr);
      BN_bn2binpad(x, out.data(), int(len()));
    }
    EC_POINT_free(r);
    BN_free(bk);
    BN_free(x);
    return out;
  }
  bool p384_;
  const EVP_MD *md_;
  EC_GROUP *group_;
  EC_POINT *q_;
  Bytes s_;
};

struct HashChoice {
  uint8_t id;
  const char *label;  // as in the CAVP section names
  const EVP_MD *md() const {
    return EVP_get_digestbyname(std::string(label).erase(3, 1).c_str());
  }
};
constexpr HashChoice kHashes[] = {{5, "SHA-1"}, {14, "SHA-224"}, {11, "SHA-256"}, {12, "SHA-384"}, {13, "SHA-512"}};

class EcDrbg : public GateOpenTest {
 protected:
  void TearDown() override {
    kel::mem::fail_after(-1);
    GateOpenTest::TearDown();
  }
};

RandomContext *New(const PrimeCurve *curve, uint8_t hash, const Bytes &e, const Bytes &n, const Bytes &p) {
  RandomContext *ctx = nullptr;
  EXPECT_EQ(NIST_ECDRBG_newContext(&ctx, curve, hash, e.data(), Len(e), n.data(), Len(n), Ptr(p), Len(p)), 0);
  return ctx;
}

TEST_F(EcDrbg, NistVectors) {
  int count = 0;
  for (const char *file : {"drbg/Dual_EC_DRBG_no_reseed.rsp", "drbg/Dual_EC_DRBG_pr_false.rsp"}) {
    for (const RspRecord &r : ReadRsp(file)) {
      const HashChoice *hash = nullptr;
      const PrimeCurve *curve = nullptr;
      uint32_t bits = 0;
      for (const auto &[name, value] : r.section) {
        if (name == "ReturnedBitsLen") bits = uint32_t(std::stoul(value));
        if (name.rfind("P-", 0) != 0) continue;
        curve = name.rfind("P-384", 0) == 0 ? EC_P384 : EC_P256;
        for (const HashChoice &h : kHashes)
          if (name.substr(6) == h.label) hash = &h;
      }
      ASSERT_TRUE(hash != nullptr && curve != nullptr && bits != 0) << file << ":" << r.line;
      RandomContext *ctx = New(curve, hash->id, r.Hex("EntropyInput"), r.Hex("Nonce"), r.Hex("PersonalizationString"));
      ASSERT_NE(ctx, nullptr);
      if (r.Has("EntropyInputReseed")) {
        const Bytes e = r.Hex("EntropyInputReseed"), a = r.Hex("AdditionalInputReseed");
        ASSERT_EQ(NIST_ECDRBG_reseed(ctx, e.data(), Len(e), Ptr(a), Len(a)), 0);
      }
      Bytes out((bits + 7) / 8);
      const Bytes a1 = r.Hex("AdditionalInput"), a2 = r.Hex("AdditionalInput2");
      ASSERT_EQ(NIST_ECDRBG_generate(ctx, Ptr(a1), Len(a1), out.data(), bits), 0);
      ASSERT_EQ(NIST_ECDRBG_generate(ctx, Ptr(a2), Len(a2), out.data(), bits), 0);
      EXPECT_EQ(ToHex(out), r.Get("ReturnedBits")) << file << ":" << r.line;
      EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), 0);
      EXPECT_EQ(ctx, nullptr);
      ++count;
    }
  }
  EXPECT_EQ(count, 144);
}

// Random inputs, odd bit counts, additional input and reseeds, against the model.
TEST_F(EcDrbg, MatchesTheModel) {
  for (const bool p384 : {false, true}) {
    for (const HashChoice &h : kHashes) {
      if (p384 && h.id == 5) continue;
      SCOPED_TRACE(std::string(p384 ? "P-384 " : "P-256 ") + h.label);
      ModelEcDrbg model(p384, h.md());
      Bytes e(32), n(16), p(h.id % 2 ? 0 : 20);
      RAND_bytes(e.data(), 32);
      RAND_bytes(n.data(), 16);
      RAND_bytes(p.data(), int(p.size()));
      RandomContext *ctx = New(p384 ? EC_P384 : EC_P256, h.id, e, n, p);
      ASSERT_NE(ctx, nullptr);
      model.Instantiate(e, n, p);
      for (uint32_t bits : {12u, 300u, 0u, 8u, 1000u, 368u}) {
        Bytes add(bits % 3 == 0 ? 7 : 0, 0x5c);
        Bytes out((bits + 7) / 8 + 1, 0xee);
        ASSERT_EQ(NIST_ECDRBG_generate(ctx, Ptr(add), Len(add), out.data(), bits), 0);
        EXPECT_EQ(out.back(), 0xee) << "wrote past " << bits << " bits";
        out.pop_back();
        EXPECT_EQ(ToHex(out), ToHex(model.Generate(bits, add))) << bits << " bits";
        if (bits == 300) {
          ASSERT_EQ(NIST_ECDRBG_reseed(ctx, e.data(), 16, add.data(), Len(add)), 0);
          model.Reseed(Bytes(e.begin(), e.begin() + 16), add);
        }
      }
      Bytes out(40);
      ASSERT_EQ(NIST_ECDRBG_rngFun(ctx, 40, out.data()), 0);
      EXPECT_EQ(ToHex(out), ToHex(model.Generate(320)));
      NIST_ECDRBG_deleteContext(&ctx);
    }
  }
}

TEST_F(EcDrbg, StatusesOfBadArguments) {
  const Bytes e(24, 1), n(12, 2), big(1025, 3);
  RandomContext *ctx = nullptr;
  struct Case {
    const char *what;
    int32_t status;
    int32_t got;
  } cases[] = {
      {"null out", -6001, NIST_ECDRBG_newContext(nullptr, EC_P256, 11, e.data(), 24, n.data(), 12, nullptr, 0)},
      {"null entropy", -6001, NIST_ECDRBG_newContext(&ctx, EC_P256, 11, nullptr, 24, n.data(), 12, nullptr, 0)},
      {"no nonce", -6001, NIST_ECDRBG_newContext(&ctx, EC_P256, 11, e.data(), 24, n.data(), 0, nullptr, 0)},
      {"long entropy", -17203, NIST_ECDRBG_newContext(&ctx, EC_P256, 11, big.data(), 1025, n.data(), 12, nullptr, 0)},
      {"long pers", -17203, NIST_ECDRBG_newContext(&ctx, EC_P256, 11, e.data(), 24, n.data(), 12, big.data(), 1025)},
      {"P-256 15-byte entropy", -17211, NIST_ECDRBG_newContext(&ctx, EC_P256, 11, e.data(), 15, n.data(), 8, nullptr, 0)},
      {"P-256 7-byte nonce", -17211, NIST_ECDRBG_newContext(&ctx, EC_P256, 11, e.data(), 16, n.data(), 7, nullptr, 0)},
      {"P-384 23-byte entropy", -17211, NIST_ECDRBG_newContext(&ctx, EC_P384, 11, e.data(), 23, n.data(), 12, nullptr, 0)},
      {"P-384 SHA-1", -17204, NIST_ECDRBG_newContext(&ctx, EC_P384, 5, e.data(), 24, n.data(), 12, nullptr, 0)},
      {"MD5", -17204, NIST_ECDRBG_newContext(&ctx, EC_P256, 4, e.data(), 24, n.data(), 12, nullptr, 0)},
      {"other curve", -17202,
       NIST_ECDRBG_newContext(&ctx, reinterpret_cast<const PrimeCurve *>(&e), 11, e.data(), 24, n.data(), 12, nullptr, 0)},
      {"null delete", -6001, NIST_ECDRBG_deleteContext(nullptr)},
      {"null reseed", -6001, NIST_ECDRBG_reseed(nullptr, e.data(), 24, nullptr, 0)},
      {"null generate", -6001, NIST_ECDRBG_generate(nullptr, nullptr, 0, ctx == nullptr ? nullptr : nullptr, 8)},
  };
  for (const Case &c : cases) EXPECT_EQ(c.got, c.status) << c.what;
  EXPECT_EQ(ctx, nullptr);

  // P-256 takes SHA-1; the context is kind 1, which the generic entries refuse
  ctx = New(EC_P256, 5, Bytes(16, 1), Bytes(8, 2), {});
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->kind, RANDOM_KIND_ECDRBG);
  uint8_t out[4];
  EXPECT_EQ(RANDOM_numberGenerator(ctx, out, 4), -6001);
  EXPECT_EQ(RANDOM_addEntropyBit(ctx, 1), -6001);
  EXPECT_EQ(RANDOM_releaseContext(&ctx), -6001);
  EXPECT_EQ(NIST_ECDRBG_generate(ctx, nullptr, 0, nullptr, 8), -6001);
  EXPECT_EQ(NIST_ECDRBG_reseed(ctx, nullptr, 0, nullptr, 0), -6001);
  // the block count may not wrap
  reinterpret_cast<EcDrbgState *>(ctx + 1)->blockCount = 0xfffffff0u;
  EXPECT_EQ(NIST_ECDRBG_generate(ctx, nullptr, 0, out, 8 * 30 * 17), ERR_ECDRBG_COUNT_WRAP);
  // other kinds are not deleted here
  RandomContext other = {RANDOM_KIND_CTRDRBG, 0};
  RandomContext *otherPtr = &other;
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&otherPtr), -6001);
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), 0);
}

TEST_F(EcDrbg, RepeatedBlockTripsTheContinuousTest) {
  const Bytes e(16, 7), n(8, 8);
  RandomContext *ctx = New(EC_P256, 11, e, n, {});
  ModelEcDrbg model(false, EVP_sha256());
  model.Instantiate(e, n, {});
  // plant the coming block as the "previous" one
  const Bytes next = model.PeekBlock();
  EcDrbgState *s = reinterpret_cast<EcDrbgState *>(ctx + 1);
  std::memcpy(s->blockBuffer + 32, next.data(), 32);
  uint8_t out[30];
  EXPECT_EQ(NIST_ECDRBG_generate(ctx, nullptr, 0, out, 240), ERR_ECDRBG_CONTINUOUS_TEST);
  EXPECT_EQ(gFIPS_powerupStatus, ERR_ECDRBG_CONTINUOUS_TEST);
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), ERR_ECDRBG_CONTINUOUS_TEST);  // the gate is now shut
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), 0);
}

TEST_F(EcDrbg, GatedEntriesAndAllocationFailures) {
  const Bytes e(16, 7), n(8, 8);
  RandomContext *ctx = New(EC_P256, 11, e, n, {});
  uint8_t out[8] = {};
  gFIPS_powerupStatus = -16508;
  RandomContext *none = nullptr;
  EXPECT_EQ(NIST_ECDRBG_newContext(&none, EC_P256, 11, e.data(), 16, n.data(), 8, nullptr, 0), -16508);
  EXPECT_EQ(NIST_ECDRBG_reseed(ctx, e.data(), 16, nullptr, 0), -16508);
  EXPECT_EQ(NIST_ECDRBG_generate(ctx, nullptr, 0, out, 64), -16508);
  EXPECT_EQ(NIST_ECDRBG_numberGenerator(ctx, out, 8), -16508);
  EXPECT_EQ(NIST_ECDRBG_rngFun(ctx, 8, out), -16508);
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), -16508);
  EXPECT_EQ(Bytes(out, out + 8), Bytes(8, 0));
  EXPECT_EQ(none, nullptr);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(NIST_ECDRBG_deleteContext(&ctx), 0);
  // every allocation of instantiation may fail; nothing leaks (ASan) and nothing is handed out
  int failures = 0;
  for (int64_t k = 0; k < 12; ++k) {
    kel::mem::fail_after(k);
    const Bytes e384(24, 7), n384(12, 8);
    const int32_t st = NIST_ECDRBG_newContext(&ctx, EC_P384, 12, e384.data(), 24, n384.data(), 12, nullptr, 0);
    kel::mem::fail_after(-1);
    if (st == 0) {
      NIST_ECDRBG_deleteContext(&ctx);
      break;
    }
    EXPECT_TRUE(st == -6101 || st == -5802) << st;  // the allocator's status, or the lock's
    EXPECT_EQ(ctx, nullptr);
    ++failures;
  }
  EXPECT_GE(failures, 6);  // context, three elements, block buffer, lock
}

}  // namespace
}  // namespace kel::test
