// DES, triple DES and RC2: statuses, the gate, bad input, chaining across
// calls and allocation failure.
#include <gtest/gtest.h>

#include <random>
#include <cstring>

#include "crypto/common/alloc.h"
#include "kel/des.h"
#include "kel/fips.h"
#include "kel/rc2.h"
#include "kel/vor.h"
#include "support/vectors.h"

namespace {

using kel::test::Bytes;
using kel::test::FromHex;

class Des : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override {
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
    kel::mem::fail_after(-1);
  }
  std::mt19937 rng{20261205};
  Bytes Random(size_t n) {
    Bytes b(n);
    for (auto &x : b) x = static_cast<uint8_t>(rng());
    return b;
  }
};

const Bytes kKey24 = FromHex("0123456789abcdef23456789abcdef01456789abcdef0123");

TEST_F(Des, BadLengthsAndNullsLeaveDataAlone) {
  DesContext des;
  TripleDesContext tdes;
  Rc2Context rc2;
  uint8_t key[24] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(DES_initKey(&des, key, 7), ERR_DES_BAD_KEY_LENGTH);
  EXPECT_EQ(DES_initKey(&des, key, 16), ERR_DES_BAD_KEY_LENGTH);
  EXPECT_EQ(DES_initKey(nullptr, key, 8), ERR_NULL_POINTER);
  EXPECT_EQ(DES_initKey(&des, nullptr, 8), ERR_NULL_POINTER);
  EXPECT_EQ(THREE_DES_initKey(&tdes, key, 16), ERR_3DES_BAD_KEY_LENGTH);
  EXPECT_EQ(THREE_DES_initKey(nullptr, key, 24), ERR_NULL_POINTER);
  ASSERT_EQ(DES_initKey(&des, key, 8), 0);
  ASSERT_EQ(THREE_DES_initKey(&tdes, key, 24), 0);
  ASSERT_EQ(rc2_keyschedule(&rc2, key, 8, 64), 0);

  Bytes in = Random(16), out(16, 0xee), untouched = out;
  for (auto fn : {DES_encipher, DES_decipher}) {
    EXPECT_EQ(fn(&des, in.data(), out.data(), 12), ERR_DES_BAD_DATA_LENGTH);
    EXPECT_EQ(fn(nullptr, in.data(), out.data(), 8), ERR_NULL_POINTER);
    EXPECT_EQ(fn(&des, nullptr, out.data(), 8), ERR_NULL_POINTER);
    EXPECT_EQ(fn(&des, in.data(), nullptr, 8), ERR_NULL_POINTER);
    EXPECT_EQ(fn(&des, in.data(), out.data(), 0), 0);
  }
  for (auto fn : {THREE_DES_encipher, THREE_DES_decipher}) {
    EXPECT_EQ(fn(&tdes, in.data(), out.data(), 12), ERR_DES_BAD_DATA_LENGTH);
    EXPECT_EQ(fn(&tdes, nullptr, out.data(), 8), ERR_NULL_POINTER);
  }
  EXPECT_EQ(out, untouched);
  EXPECT_EQ(rc2_encrypt(nullptr, in.data(), out.data()), ERR_NULL_POINTER);
  EXPECT_EQ(rc2_decrypt(&rc2, in.data(), nullptr), ERR_NULL_POINTER);

  uint8_t iv[8] = {};
  void *ctx = Create3DESCtx(kKey24.data(), 24, 1);
  ASSERT_NE(ctx, nullptr);
  Bytes data = in;
  EXPECT_EQ(Do3DES(ctx, data.data(), 12, 1, iv), ERR_3DES_BAD_DATA_LENGTH);
  EXPECT_EQ(Do3DES(ctx, nullptr, 8, 1, iv), ERR_NULL_POINTER);
  EXPECT_EQ(Do3DES(ctx, data.data(), 8, 1, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(Do3DES(nullptr, data.data(), 16, 1, iv), 0);
  EXPECT_EQ(Do3DES(ctx, data.data(), 0, 1, iv), 0);
  EXPECT_EQ(data, in);
  EXPECT_EQ(Delete3DESCtx(nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(Delete3DESCtx(&ctx), 0);
  EXPECT_EQ(Delete3DESCtx(&ctx), 0);  // already null: nothing to do

  ctx = CreateRC2Ctx(key, 8, 1);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(DoRC2(ctx, data.data(), 12, 1, iv), ERR_RC2_BAD_DATA_LENGTH);
  EXPECT_EQ(DoRC2(ctx, nullptr, 8, 1, iv), ERR_NULL_POINTER);
  EXPECT_EQ(DoRC2(nullptr, data.data(), 16, 1, iv), 0);
  EXPECT_EQ(data, in);
  EXPECT_EQ(DeleteRC2Ctx(nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(DeleteRC2Ctx(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

TEST_F(Des, CreateRefusesBadKeys) {
  Bytes key = Random(200);
  EXPECT_EQ(Create3DESCtx(nullptr, 24, 1), nullptr);
  for (uint32_t n : {0u, 8u, 16u, 23u, 25u, 32u}) EXPECT_EQ(Create3DESCtx(key.data(), n, 1), nullptr) << n;
  for (uint32_t n : {0u, 8u, 15u, 17u, 24u}) EXPECT_EQ(Create2Key3DESCtx(key.data(), n, 1), nullptr) << n;
  EXPECT_EQ(Create2Key3DESCtx(nullptr, 16, 1), nullptr);

  // RC2 keys of 0 or more than 128 bytes, effective bits outside 0..1024.
  Rc2Context rc2;
  EXPECT_EQ(rc2_keyschedule(&rc2, key.data(), 0, 64), ERR_RC2_BAD_KEY_LENGTH);
  EXPECT_EQ(rc2_keyschedule(&rc2, key.data(), 129, 64), ERR_RC2_BAD_KEY_LENGTH);
  EXPECT_EQ(rc2_keyschedule(&rc2, key.data(), 16, 1025), ERR_RC2_BAD_KEY_LENGTH);
  EXPECT_EQ(rc2_keyschedule(&rc2, nullptr, 16, 64), ERR_NULL_POINTER);
  EXPECT_EQ(CreateRC2Ctx2(key.data(), 0, 64), nullptr);
  EXPECT_EQ(CreateRC2Ctx2(key.data(), 129, 0), nullptr);
  EXPECT_EQ(CreateRC2Ctx2(key.data(), 16, 1025), nullptr);
  EXPECT_EQ(CreateRC2Ctx2(key.data(), 16, -1), nullptr);
  EXPECT_EQ(CreateRC2Ctx2(nullptr, 16, 64), nullptr);
  EXPECT_EQ(CreateRC2Ctx(key.data(), 0, 1), nullptr);
  EXPECT_EQ(CreateRC2Ctx(key.data(), 129, 1), nullptr);
  EXPECT_EQ(CreateRC2Ctx(key.data(), 0x20000001u, 1), nullptr);  // key length x 8 would wrap

  // 128-byte keys and effective bits 0 (= 1024) are the upper limits.
  void *ctx = CreateRC2Ctx(key.data(), 128, 1);
  ASSERT_NE(ctx, nullptr);
  void *ctx1024 = CreateRC2Ctx2(key.data(), 128, 0);
  ASSERT_NE(ctx1024, nullptr);
  EXPECT_EQ(0, memcmp(ctx, ctx1024, sizeof(Rc2Context)));
  DeleteRC2Ctx(&ctx);
  DeleteRC2Ctx(&ctx1024);
}

// A 3DES context keys only the half for its direction: the other is refused.
TEST_F(Des, WrongDirectionIsRefused) {
  Bytes data = Random(32), copy = data;
  uint8_t iv[8] = {}, ivCopy[8] = {};
  for (int32_t made : {0, 1}) {
    void *ctx = Create3DESCtx(kKey24.data(), 24, made);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(Do3DES(ctx, data.data(), 32, !made, iv), ERR_3DES_WRONG_DIRECTION);
    EXPECT_EQ(data, copy);
    EXPECT_EQ(0, memcmp(iv, ivCopy, 8));
    Delete3DESCtx(&ctx);
  }
  // Any nonzero direction means encryption.
  void *enc = Create3DESCtx(kKey24.data(), 24, -7);
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(Do3DES(enc, data.data(), 32, 2, iv), 0);
  Delete3DESCtx(&enc);
}

TEST_F(Des, GateClosesTripleDesOnly) {
  for (int32_t status : {ERR_FIPS_SELFTEST_NOT_RUN, -16501}) {
    gFIPS_powerupStatus = 0;
    void *ctx = Create3DESCtx(kKey24.data(), 24, 1);
    ASSERT_NE(ctx, nullptr);
    gFIPS_powerupStatus = status;
    EXPECT_EQ(Create3DESCtx(kKey24.data(), 24, 1), nullptr);
    EXPECT_EQ(Create2Key3DESCtx(kKey24.data(), 16, 1), nullptr);
    Bytes data = Random(16), copy = data;
    uint8_t iv[8] = {};
    EXPECT_EQ(Do3DES(ctx, data.data(), 16, 1, iv), status);
    EXPECT_EQ(Do3DES(nullptr, nullptr, 3, 1, nullptr), status);  // before any argument check
    EXPECT_EQ(data, copy);
    EXPECT_EQ(Delete3DESCtx(&ctx), status);
    EXPECT_NE(ctx, nullptr);  // nothing released
    EXPECT_EQ(Delete3DESCtx(nullptr), status);
    EXPECT_EQ(CRYPTO_Process(&CRYPTO_TripleDESSuite, kKey24.data(), 24, iv, data.data(), 16, 1), ERR_MEM_ALLOC_FAIL);

    // Single DES, the triple-DES block functions and RC2 stay open.
    DesContext des;
    TripleDesContext tdes;
    EXPECT_EQ(DES_initKey(&des, kKey24.data(), 8), 0);
    EXPECT_EQ(DES_encipher(&des, data.data(), data.data(), 16), 0);
    EXPECT_EQ(THREE_DES_initKey(&tdes, kKey24.data(), 24), 0);
    EXPECT_EQ(THREE_DES_encipher(&tdes, data.data(), data.data(), 16), 0);
    EXPECT_EQ(CRYPTO_Process(&CRYPTO_RC2Suite, kKey24.data(), 16, iv, data.data(), 16, 1), 0);
    EXPECT_NE(data, copy);
    gFIPS_powerupStatus = 0;
    EXPECT_EQ(Delete3DESCtx(&ctx), 0);
  }
}

// CBC split into calls of any number of whole blocks gives one call's result,
// for 3DES and RC2, and decryption inverts it.
TEST_F(Des, CbcChainsAcrossCalls) {
  struct Suite {
    const CipherSuite *suite;
    uint32_t keyLength;
  };
  for (Suite s : {Suite{&CRYPTO_TripleDESSuite, 24}, Suite{&CRYPTO_TwoKeyTripleDESSuite, 16},
                  Suite{&CRYPTO_RC2Suite, 11}}) {
    ASSERT_EQ(s.suite->blockSize, 8);
    Bytes key = Random(s.keyLength), iv = Random(8), msg = Random(8 * 37);
    Bytes whole = msg, ivWhole = iv;
    ASSERT_EQ(CRYPTO_Process(s.suite, key.data(), s.keyLength, ivWhole.data(), whole.data(), 8 * 37, 1), 0);
    for (int32_t dir : {1, 0}) {
      void *ctx = s.suite->createFunc(key.data(), s.keyLength, dir);
      ASSERT_NE(ctx, nullptr);
      Bytes data = dir ? msg : whole, ivPieces = iv;
      for (uint32_t off = 0; off < data.size();) {
        uint32_t n = 8 * std::min<uint32_t>(1 + rng() % 5, static_cast<uint32_t>(data.size() - off) / 8);
        ASSERT_EQ(s.suite->cipherFunc(ctx, data.data() + off, n, dir, ivPieces.data()), 0);
        off += n;
      }
      EXPECT_EQ(data, dir ? whole : msg);
      EXPECT_EQ(ivPieces, ivWhole);  // the last ciphertext block either way
      EXPECT_EQ(s.suite->deleteFunc(&ctx), 0);
      EXPECT_EQ(ctx, nullptr);
    }
  }
}

TEST_F(Des, AllocationFailureCreatesNothing) {
  uint8_t key[24] = {9};
  for (auto create : {Create3DESCtx, Create2Key3DESCtx, CreateRC2Ctx}) {
    kel::mem::fail_after(0);
    EXPECT_EQ(create(key, create == Create2Key3DESCtx ? 16 : 24, 1), nullptr);
  }
  kel::mem::fail_after(0);
  uint8_t iv[8] = {}, data[8] = {};
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_TripleDESSuite, key, 24, iv, data, 8, 1), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(-1);
  const uint64_t before = kel::mem::allocation_count();
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_TripleDESSuite, key, 24, iv, data, 8, 1), 0);
  EXPECT_EQ(kel::mem::allocation_count(), before + 1);  // one context, and it went back
}

}  // namespace
