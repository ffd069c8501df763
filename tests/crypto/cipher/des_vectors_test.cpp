// Published vectors: NIST CAVP TDES KAT and MMT (ECB and CBC), RFC 2268 RC2.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "kel/des.h"
#include "kel/fips.h"
#include "kel/rc2.h"
#include "support/vectors.h"

namespace {

using kel::test::Bytes;
using kel::test::ToHex;

class DesVectors : public ::testing::TestWithParam<const char *> {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override { gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN; }
};

struct TdesCase {
  Bytes key;  // 24 bytes: k1 || k2 || k3
  Bytes iv, in, out;
  bool encrypt;
  std::string where;
};

std::vector<TdesCase> ReadTdes(const std::string &file) {
  std::vector<TdesCase> cases;
  for (const auto &r : kel::test::ReadRsp("tdes/" + file)) {
    TdesCase c;
    c.encrypt = r.section.count("ENCRYPT") != 0;
    if (r.Has("KEYs")) {  // keying option 3: one key for all three
      Bytes k = r.Hex("KEYs");
      for (int i = 0; i < 3; ++i) c.key.insert(c.key.end(), k.begin(), k.end());
    } else {
      for (const char *name : {"KEY1", "KEY2", "KEY3"}) {
        Bytes k = r.Hex(name);
        c.key.insert(c.key.end(), k.begin(), k.end());
      }
    }
    if (r.Has("IV")) c.iv = r.Hex("IV");
    Bytes pt = r.Hex("PLAINTEXT"), ct = r.Hex("CIPHERTEXT");
    c.in = c.encrypt ? pt : ct;
    c.out = c.encrypt ? ct : pt;
    c.where = file + ":" + std::to_string(r.line);
    cases.push_back(std::move(c));
  }
  EXPECT_GT(cases.size(), 3u) << file;
  return cases;
}

bool SameKeys(const Bytes &key, size_t a, size_t b) {
  return std::equal(key.begin() + 8 * a, key.begin() + 8 * a + 8, key.begin() + 8 * b);
}

// ECB through the block functions, in place and out of place, and through
// single DES when the three keys are one.
TEST_P(DesVectors, Ecb) {
  for (const auto &c : ReadTdes(std::string("TECB") + GetParam() + ".rsp")) {
    SCOPED_TRACE(c.where);
    TripleDesContext ctx;
    ASSERT_EQ(THREE_DES_initKey(&ctx, c.key.data(), 24), 0);
    auto run = c.encrypt ? THREE_DES_encipher : THREE_DES_decipher;
    Bytes out(c.in.size());
    ASSERT_EQ(run(&ctx, c.in.data(), out.data(), static_cast<uint32_t>(c.in.size())), 0);
    EXPECT_EQ(ToHex(out), ToHex(c.out));
    Bytes inplace = c.in;
    ASSERT_EQ(run(&ctx, inplace.data(), inplace.data(), static_cast<uint32_t>(inplace.size())), 0);
    EXPECT_EQ(inplace, c.out);
    if (SameKeys(c.key, 0, 1) && SameKeys(c.key, 1, 2)) {
      DesContext des;
      ASSERT_EQ(DES_initKey(&des, c.key.data(), 8), 0);
      Bytes single(c.in.size());
      (c.encrypt ? DES_encipher : DES_decipher)(&des, c.in.data(), single.data(), static_cast<uint32_t>(single.size()));
      EXPECT_EQ(single, c.out);
    }
  }
}

// CBC through the contexts: one call, then one block per call with the iv
// carrying the chain; two-key records also through the two-key context and
// each record through its suite.
TEST_P(DesVectors, Cbc) {
  for (const auto &c : ReadTdes(std::string("TCBC") + GetParam() + ".rsp")) {
    SCOPED_TRACE(c.where);
    const int32_t dir = c.encrypt ? 1 : 0;
    const uint32_t len = static_cast<uint32_t>(c.in.size());
    void *ctx = Create3DESCtx(c.key.data(), 24, dir);
    ASSERT_NE(ctx, nullptr);
    Bytes data = c.in, iv = c.iv;
    ASSERT_EQ(Do3DES(ctx, data.data(), len, dir, iv.data()), 0);
    EXPECT_EQ(ToHex(data), ToHex(c.out));
    EXPECT_EQ(ToHex(iv), ToHex(c.encrypt ? c.out : c.in).substr(2 * (len - 8)));
    data = c.in;
    iv = c.iv;
    for (uint32_t off = 0; off < len; off += 8) ASSERT_EQ(Do3DES(ctx, data.data() + off, 8, dir, iv.data()), 0);
    EXPECT_EQ(data, c.out);
    ASSERT_EQ(Delete3DESCtx(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);

    data = c.in;
    iv = c.iv;
    ASSERT_EQ(CRYPTO_Process(&CRYPTO_TripleDESSuite, c.key.data(), 24, iv.data(), data.data(), len, dir), 0);
    EXPECT_EQ(data, c.out);
    if (SameKeys(c.key, 0, 2)) {
      data = c.in;
      iv = c.iv;
      ASSERT_EQ(CRYPTO_Process(&CRYPTO_TwoKeyTripleDESSuite, c.key.data(), 16, iv.data(), data.data(), len, dir), 0);
      EXPECT_EQ(data, c.out);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cavp, DesVectors,
                         ::testing::Values("invperm", "permop", "subtab", "varkey", "vartext", "MMT1", "MMT2", "MMT3"));

// RFC 2268 section 5, read from the RFC text: "Name = hex" lines, a key may
// continue on the next line.
struct Rc2Case {
  uint32_t keyLength = 0, effectiveBits = 0;
  Bytes key, pt, ct;
};

std::vector<Rc2Case> ReadRfc2268() {
  std::ifstream in(kel::test::VectorPath("rc2/rfc2268_rc2.txt"));
  EXPECT_TRUE(in.good());
  std::vector<Rc2Case> cases;
  Rc2Case cur;
  std::string *continued = nullptr, keyHex;
  const std::regex field(R"(^\s*([A-Za-z ()]+?)\s*=\s*([0-9a-fA-F ]+)\s*$)");
  const std::regex hexOnly(R"(^\s+([0-9a-fA-F ]+)\s*$)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, field)) {
      continued = nullptr;
      std::string name = m[1], value = m[2];
      if (name == "Key length (bytes)") cur.keyLength = std::stoul(value);
      if (name == "Effective key length (bits)") cur.effectiveBits = std::stoul(value);
      if (name == "Key") continued = &(keyHex = value);
      if (name == "Plaintext") cur.pt = kel::test::FromHex(value);
      if (name == "Ciphertext") {
        cur.ct = kel::test::FromHex(value);
        cur.key = kel::test::FromHex(keyHex);
        cases.push_back(cur);
        cur = Rc2Case{};
      }
    } else if (continued != nullptr && std::regex_match(line, m, hexOnly)) {
      *continued += " " + m[1].str();
    } else {
      continued = nullptr;
    }
  }
  return cases;
}

TEST(Rc2Vectors, Rfc2268) {
  auto cases = ReadRfc2268();
  ASSERT_EQ(cases.size(), 8u);
  for (const auto &c : cases) {
    SCOPED_TRACE("key " + ToHex(c.key) + " bits " + std::to_string(c.effectiveBits));
    ASSERT_EQ(c.key.size(), c.keyLength);
    Rc2Context ctx;
    ASSERT_EQ(rc2_keyschedule(&ctx, c.key.data(), c.keyLength, c.effectiveBits), 0);
    uint8_t block[8];
    ASSERT_EQ(rc2_encrypt(&ctx, c.pt.data(), block), 0);
    EXPECT_EQ(ToHex(block, 8), ToHex(c.ct));
    ASSERT_EQ(rc2_decrypt(&ctx, block, block), 0);
    EXPECT_EQ(ToHex(block, 8), ToHex(c.pt));

    // One block of CBC with a zero iv is ECB: the suite with effective bits.
    Bytes data = c.pt, iv(8, 0);
    ASSERT_EQ(CRYPTO_Process(&CRYPTO_RC2EffectiveBitsSuite, c.key.data(), c.keyLength, iv.data(), data.data(), 8,
                             static_cast<int32_t>(c.effectiveBits)),
              0);
    EXPECT_EQ(data, c.ct);
    if (c.effectiveBits == 8 * c.keyLength) {  // the plain suite uses key length x 8
      data = c.ct;
      iv.assign(8, 0);
      ASSERT_EQ(CRYPTO_Process(&CRYPTO_RC2Suite, c.key.data(), c.keyLength, iv.data(), data.data(), 8, 0), 0);
      EXPECT_EQ(data, c.pt);
    }
  }
}

}  // namespace
