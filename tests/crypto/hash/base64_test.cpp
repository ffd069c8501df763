// Base64: round trips of every length against OpenSSL, and every way a text
// can be refused.
#include "kel/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "crypto/common/alloc.h"
#include "kel/vor.h"
#include "support/vectors.h"

namespace kel::test {
namespace {

class Base64 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(BASE64_initializeContext(), 0); }
  void TearDown() override { BASE64_freeContext(); }

  static std::string Encode(const Bytes &data) {
    uint8_t *text = nullptr;
    uint32_t len = 99;
    const uint8_t *p = data.empty() ? reinterpret_cast<const uint8_t *>("") : data.data();
    EXPECT_EQ(BASE64_encodeMessage(p, static_cast<uint32_t>(data.size()), &text, &len), 0);
    std::string s(reinterpret_cast<char *>(text), len);
    EXPECT_EQ(BASE64_freeMessage(&text), 0);
    return s;
  }
  // The status, and the bytes when it is 0.
  static int32_t Decode(const std::string &text, Bytes *out) {
    uint8_t *data = nullptr;
    uint32_t len = 0;
    const auto *p = reinterpret_cast<const uint8_t *>(text.data());
    const int32_t s = BASE64_decodeMessage(p, static_cast<uint32_t>(text.size()), &data, &len);
    if (s == 0) out->assign(data, data + len);
    if (data != nullptr) {
      EXPECT_EQ(BASE64_freeMessage(&data), 0);  // handed over even on failure
    }
    return s;
  }
};

TEST_F(Base64, RoundTripsAgreeWithOpenssl) {
  std::mt19937 rng(5);
  for (size_t n = 0; n < 200; ++n) {
    Bytes data(n);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    std::string want(4 * ((n + 2) / 3) + 1, '\0');
    want.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(want.data()), data.data(), static_cast<int>(n)));
    ASSERT_EQ(Encode(data), want) << n;
    if (n == 0) continue;
    Bytes back;
    ASSERT_EQ(Decode(want, &back), 0);
    EXPECT_EQ(back, data) << n;
  }
}

TEST_F(Base64, RefusedTexts) {
  for (const char *bad : {"", "Zg=", "Zm9vY", "Zm9vYg=", "Zg==Zm9v", "Zm8=Zm9v", "=m9v", "Z=9v", "==9v", "Zm9!",
                          "Zm9v\nZm9v", "Zm 9", "Zm9-", "Zm9_", "Zg\x80=", "====", "Zm9v===="}) {
    Bytes out;
    EXPECT_EQ(Decode(bad, &out), ERR_BASE64_BAD_INPUT) << bad;
  }
  // After the first "=" of the last group nothing more is looked at.
  Bytes out;
  ASSERT_EQ(Decode("Zg=x", &out), 0);
  EXPECT_EQ(out, Bytes{'f'});
}

TEST_F(Base64, NullsTablesAndAllocation) {
  uint8_t *buf = nullptr;
  uint32_t len = 0;
  const uint8_t text[] = "Zm9v";
  EXPECT_EQ(BASE64_encodeMessage(nullptr, 0, &buf, &len), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_encodeMessage(text, 4, nullptr, &len), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_encodeMessage(text, 4, &buf, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_decodeMessage(nullptr, 4, &buf, &len), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_decodeMessage(text, 4, nullptr, &len), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_freeMessage(nullptr), ERR_NULL_POINTER);
  // A text too long for a 32-bit length is refused before anything is read.
  EXPECT_EQ(BASE64_encodeMessage(text, 0xffffffffu, &buf, &len), -6003);
  EXPECT_EQ(buf, nullptr);

  kel::mem::fail_after(0);
  EXPECT_EQ(BASE64_encodeMessage(text, 4, &buf, &len), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(0);
  EXPECT_EQ(BASE64_decodeMessage(text, 4, &buf, &len), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(0);
  EXPECT_EQ(BASE64_initializeContext(), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(-1);
  EXPECT_EQ(buf, nullptr);

  // Initialising twice does not leak (the sanitizer build checks); after the
  // release, decoding has no table and a second release has nothing to free.
  ASSERT_EQ(BASE64_initializeContext(), 0);
  ASSERT_EQ(BASE64_freeContext(), 0);
  EXPECT_EQ(BASE64_freeContext(), ERR_NULL_POINTER);
  EXPECT_EQ(BASE64_decodeMessage(text, 4, &buf, &len), ERR_BASE64_NO_TABLE);
  EXPECT_EQ(buf, nullptr);
  // Encoding needs no table.
  ASSERT_EQ(BASE64_encodeMessage(text, 4, &buf, &len), 0);
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(BASE64_freeMessage(&buf), 0);
}

}  // namespace
}  // namespace kel::test
