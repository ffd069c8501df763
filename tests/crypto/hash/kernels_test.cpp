// The hardware compression kernels against OpenSSL's block transforms: random
// states and block counts, unaligned input ending exactly at a page-less
// buffer end (ASan sees any over-read), the published sample digests through
// a minimal padding, and the run-time switch.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>
#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/common/cpu.h"
#include "crypto/hash/kernels.h"
#include "support/vectors.h"

namespace {

using kel::test::ToHex;

struct Sha1K {
  using Word = uint32_t;
  static constexpr size_t kWords = 5, kBlock = 64, kLenBytes = 8;
  static constexpr bool kBigEndian = true;
  static constexpr uint32_t kFeatures = kel::cpu::kSha | kel::cpu::kSse41 | kel::cpu::kSsse3;
  static constexpr Word kIv[kWords] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  static bool available() { return kel::hash::sha1_shani_available(); }
  static void blocks(Word *s, const uint8_t *d, size_t n) { kel::hash::sha1_blocks_shani(s, d, n); }
  static void reference(Word *s, const uint8_t *d, size_t n) {
    SHA_CTX c{};
    c.h0 = s[0], c.h1 = s[1], c.h2 = s[2], c.h3 = s[3], c.h4 = s[4];
    for (size_t i = 0; i < n; ++i) SHA1_Transform(&c, d + i * kBlock);
    s[0] = c.h0, s[1] = c.h1, s[2] = c.h2, s[3] = c.h3, s[4] = c.h4;
  }
  static constexpr const char *kSamples[][2] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
  };
};

struct Sha256K {
  using Word = uint32_t;
  static constexpr size_t kWords = 8, kBlock = 64, kLenBytes = 8;
  static constexpr bool kBigEndian = true;
  static constexpr uint32_t kFeatures = kel::cpu::kSha | kel::cpu::kSse41 | kel::cpu::kSsse3;
  static constexpr Word kIv[kWords] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  static bool available() { return kel::hash::sha256_shani_available(); }
  static void blocks(Word *s, const uint8_t *d, size_t n) { kel::hash::sha256_blocks_shani(s, d, n); }
  static void reference(Word *s, const uint8_t *d, size_t n) {
    SHA256_CTX c{};
    std::memcpy(c.h, s, sizeof c.h);
    for (size_t i = 0; i < n; ++i) SHA256_Transform(&c, d + i * kBlock);
    std::memcpy(s, c.h, sizeof c.h);
  }
  static constexpr const char *kSamples[][2] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
};

struct Sha512K {
  using Word = uint64_t;
  static constexpr size_t kWords = 8, kBlock = 128, kLenBytes = 16;
  static constexpr bool kBigEndian = true;
  static constexpr uint32_t kFeatures = kel::cpu::kAvx2 | kel::cpu::kBmi2;
  static constexpr Word kIv[kWords] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                       0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                       0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
  static bool available() { return kel::hash::sha512_fast_available(); }
  static void blocks(Word *s, const uint8_t *d, size_t n) { kel::hash::sha512_blocks_fast(s, d, n); }
  static void reference(Word *s, const uint8_t *d, size_t n) {
    SHA512_CTX c{};
    std::memcpy(c.h, s, sizeof c.h);
    for (size_t i = 0; i < n; ++i) SHA512_Transform(&c, d + i * kBlock);
    std::memcpy(s, c.h, sizeof c.h);
  }
  static constexpr const char *kSamples[][2] = {
      {"abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
       "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
       "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
  };
};

struct Md5K {
  using Word = uint32_t;
  static constexpr size_t kWords = 4, kBlock = 64, kLenBytes = 8;
  static constexpr bool kBigEndian = false;
  static constexpr uint32_t kFeatures = kel::cpu::kBmi2;
  static constexpr Word kIv[kWords] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  static bool available() { return kel::hash::md5_fast_available(); }
  static void blocks(Word *s, const uint8_t *d, size_t n) { kel::hash::md5_blocks_fast(s, d, n); }
  static void reference(Word *s, const uint8_t *d, size_t n) {
    MD5_CTX c{};
    c.A = s[0], c.B = s[1], c.C = s[2], c.D = s[3];
    for (size_t i = 0; i < n; ++i) MD5_Transform(&c, d + i * kBlock);
    s[0] = c.A, s[1] = c.B, s[2] = c.C, s[3] = c.D;
  }
  // RFC 1321 A.5.
  static constexpr const char *kSamples[][2] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
};

template <class K>
class KernelTest : public ::testing::Test {
 protected:
  using Word = typename K::Word;
  using State = std::array<Word, K::kWords>;

  void SetUp() override {
    kel::cpu::restrict_to(~0u);
    if (!K::available()) GTEST_SKIP() << "this CPU lacks the kernel's features";
  }

  // The message padded to whole blocks: 0x80, zeros, the bit length in the
  // digest's byte order (FIPS 180-4 5.1, RFC 1321 3.1-3.2).
  static std::vector<uint8_t> Pad(const std::string &msg) {
    std::vector<uint8_t> out(msg.begin(), msg.end());
    out.push_back(0x80);
    while (out.size() % K::kBlock != K::kBlock - K::kLenBytes) out.push_back(0);
    const uint64_t bits = uint64_t{msg.size()} * 8;
    for (size_t i = 0; i < K::kLenBytes; ++i) {
      const size_t shift = K::kBigEndian ? 8 * (K::kLenBytes - 1 - i) : 8 * i;
      out.push_back(shift < 64 ? static_cast<uint8_t>(bits >> shift) : 0);
    }
    return out;
  }

  static std::string Digest(const State &s) {
    std::vector<uint8_t> out;
    for (Word w : s) {
      for (size_t i = 0; i < sizeof(Word); ++i) {
        const size_t shift = K::kBigEndian ? 8 * (sizeof(Word) - 1 - i) : 8 * i;
        out.push_back(static_cast<uint8_t>(w >> shift));
      }
    }
    return ToHex(out);
  }
};

using Kernels = ::testing::Types<Sha1K, Sha256K, Sha512K, Md5K>;
TYPED_TEST_SUITE(KernelTest, Kernels);

TYPED_TEST(KernelTest, MatchesOpenSslOnRandomStatesAndUnalignedData) {
  using K = TypeParam;
  std::mt19937_64 rng(0x6b656c + K::kWords * K::kBlock);
  for (size_t blocks = 0; blocks <= 40; ++blocks) {
    for (size_t offset : {size_t{0}, size_t{1}, size_t{7}, size_t{13}}) {
      // The input ends exactly at the end of its own allocation.
      std::vector<uint8_t> buf(offset + blocks * K::kBlock);
      for (auto &b : buf) b = static_cast<uint8_t>(rng());
      typename TestFixture::State got, want;
      for (auto &w : got) w = static_cast<typename K::Word>(rng());
      want = got;
      const auto *data = buf.data() + offset;
      K::blocks(got.data(), data, blocks);
      K::reference(want.data(), data, blocks);
      ASSERT_EQ(got, want) << blocks << " blocks at offset " << offset;
    }
  }
}

TYPED_TEST(KernelTest, SampleDigests) {
  using K = TypeParam;
  for (const auto &[msg, hex] : K::kSamples) {
    const auto padded = TestFixture::Pad(msg);
    typename TestFixture::State s;
    std::copy(std::begin(K::kIv), std::end(K::kIv), s.begin());
    K::blocks(s.data(), padded.data(), padded.size() / K::kBlock);
    EXPECT_EQ(TestFixture::Digest(s).substr(0, std::strlen(hex)), hex) << '"' << msg << '"';
  }
}

TYPED_TEST(KernelTest, AvailabilityFollowsTheCpuSwitch) {
  using K = TypeParam;
  EXPECT_EQ(K::available(), kel::cpu::has(K::kFeatures));
  kel::cpu::restrict_to(0);
  EXPECT_FALSE(K::available());
  kel::cpu::restrict_to(~0u & ~K::kFeatures);
  EXPECT_FALSE(K::available());
  kel::cpu::restrict_to(~0u);
  EXPECT_TRUE(K::available());
}

}  // namespace
