// The built library under attack: copies with one stored expected value
// (found by its content: published, or computed here with OpenSSL, so the
// stored bytes are shown to be right too) changed must fail their self-test; the stored keys are real keys; the
// integrity-file paths as the dynamic loader names the objects.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/fips/internal.h"
#include "kel/fips.h"
#include "support/sandbox.h"
#include "support/vectors.h"

namespace {

using kel::test::Bytes;
using kel::test::FromHex;

// SHA of 32 zero bytes; HMAC under the key 00..1f of the message 20..3f;
// CMAC of the CMAC test's message.
Bytes Digest(const char *md) {
  Bytes out(64), zeros(32);
  size_t n = 0;
  EVP_Q_digest(nullptr, md, nullptr, zeros.data(), 32, out.data(), &n);
  return out.resize(n), out;
}
Bytes Mac(const char *mac, const char *md, const Bytes &key, const std::string &m) {
  Bytes out(64);
  size_t n = 0;
  EVP_Q_mac(nullptr, mac, nullptr, md, nullptr, key.data(), key.size(), reinterpret_cast<const uint8_t *>(m.data()),
            m.size(), out.data(), 64, &n);
  return out.resize(n), out;
}
Bytes Hmac(const char *md) {
  return Mac("HMAC", md, FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
             std::string(" !\"#$%&'()*+,-./0123456789:;<=>?"));
}

// The runner's data (SP 800-38A key, IV and plaintext) through OpenSSL.
Bytes Cipher(const EVP_CIPHER *c, size_t ivLength, int encrypt = 1) {
  const Bytes key = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const Bytes data = FromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
  Bytes iv(16), out(48);
  for (size_t i = 0; i < ivLength; ++i) iv[i] = static_cast<uint8_t>(i);
  int n = 0;
  EVP_CIPHER_CTX *x = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(x, c, nullptr, key.data(), iv.data(), encrypt);
  EVP_CIPHER_CTX_set_padding(x, 0);
  EVP_CipherUpdate(x, out.data(), &n, data.data(), 32);
  EVP_CIPHER_CTX_free(x);
  out.resize(32);
  return out;
}

Bytes Tail(std::span<const uint8_t> blob, size_t n) { return Bytes(blob.end() - n, blob.end()); }

struct Break {
  const char *name;
  Bytes content;    // found once in the library file
  size_t offset;    // of the byte changed, within content
  int32_t status;   // the power-up run's verdict with the change
};

std::vector<Break> Breaks() {
  const Bytes faults = {'k', 'e', 'l', '-', 'p', 'c', 't', '-', 'f', 'a', 'u', 'l', 't', 's', ':', '0', '0', '0'};
  return {
      {"Fips186", FromHex("fccbeb651889c0c4836c2f94ebf67bbe59af0ef8"), 3, ERR_FIPS_RANDOM_KAT},  // CAVS VSTGEN
      {"CtrDrbgDf", FromHex("068aec032e4d1bdddab1a16092e9096b"), 0, ERR_FIPS_DRBG_KAT},
      {"EcDrbg", FromHex("4dc3d5655177a507cb18964ff525362f03107f9d856754c6b0e4740c8a2e"), 29, ERR_FIPS_DRBG_KAT},
      {"Sha1", Digest("SHA1"), 5, ERR_FIPS_HASH_KAT},
      {"Sha224", Digest("SHA224"), 27, ERR_FIPS_HASH_KAT},
      {"Sha256", Digest("SHA256"), 1, ERR_FIPS_HASH_KAT},
      {"Sha384", Digest("SHA384"), 40, ERR_FIPS_HASH_KAT},
      {"Sha512", Digest("SHA512"), 63, ERR_FIPS_HASH_KAT},
      {"HmacSha1", Hmac("SHA1"), 0, ERR_FIPS_HMAC_KAT},
      {"HmacSha224", Hmac("SHA224"), 9, ERR_FIPS_HMAC_KAT},
      {"HmacSha256", Hmac("SHA256"), 31, ERR_FIPS_HMAC_KAT},
      {"HmacSha384", Hmac("SHA384"), 20, ERR_FIPS_HMAC_KAT},
      {"HmacSha512", Hmac("SHA512"), 50, ERR_FIPS_HMAC_KAT},
      {"Tdes", Cipher(EVP_des_ede3_cbc(), 8), 7, ERR_FIPS_SYM_KAT},
      {"AesCbc", Cipher(EVP_aes_256_cbc(), 16), 16, ERR_FIPS_SYM_KAT},
      {"AesCtr", Cipher(EVP_aes_128_ctr(), 16), 2, ERR_FIPS_SYM_KAT},
      {"AesEcb", Cipher(EVP_aes_256_ecb(), 0), 31, ERR_FIPS_SYM_KAT},
      // RFC 3610 layout, packet #18: the tag's last byte.
      {"AesCcm", FromHex("9a71f713d9981cb4085251"), 10, ERR_FIPS_SYM_KAT},
      {"AesCmac", Mac("CMAC", "AES-128-CBC", FromHex("2b7e151628aed2a6abf7158809cf4f3c"),
                              "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
       8, ERR_FIPS_HASH_KAT},
      {"AesXts", FromHex("c454185e6a16936e39334038acef838bfb186fff7480adc4289382ecd6d394f0"), 4, ERR_FIPS_SYM_KAT},
      {"AesCfb", Cipher(EVP_aes_256_cfb128(), 16), 30, ERR_FIPS_SYM_KAT},
      // The decryptions: no published values, so OpenSSL's must be stored.
      {"TdesDecrypt", Cipher(EVP_des_ede3_cbc(), 8, 0), 0, ERR_FIPS_SYM_KAT},
      {"AesCbcDecrypt", Cipher(EVP_aes_256_cbc(), 16, 0), 1, ERR_FIPS_SYM_KAT},
      {"AesEcbDecrypt", Cipher(EVP_aes_256_ecb(), 0, 0), 2, ERR_FIPS_SYM_KAT},
      {"AesCfbDecrypt", Cipher(EVP_aes_256_cfb128(), 16, 0), 3, ERR_FIPS_SYM_KAT},
      {"AesGcm", FromHex("0388dace60b6a392f328c2b971b2fe78"), 15, ERR_FIPS_SYM_KAT},  // GCM test case 2
      // DSA: a wrong private value signs for another public value.
      {"DsaPct", Tail(kel::fips::dsa_key_blob(), 20), 10, ERR_FIPS_DSA_PCT},
      // RSA: a wrong qInv garbles the decryption, which the private
      // operation's own check catches.
      {"RsaPct", Tail(kel::fips::rsa_key_blob(), 40), 20, -7709},
      {"EcdsaPct", faults, 15, ERR_FIPS_ECDSA_PCT},
      {"EcdhPct", faults, 16, ERR_FIPS_ECDH_PCT},
      {"DhPct", faults, 17, ERR_FIPS_DH_PCT},
  };
}

void PrintTo(const Break &b, std::ostream *os) { *os << b.name; }

std::string TempDir() {
  char tmpl[] = "/tmp/kel-selftest-XXXXXX";
  const char *d = mkdtemp(tmpl);
  EXPECT_NE(d, nullptr);
  return d != nullptr ? d : "/tmp";
}

// The end of the last loadable segment in the file.
size_t LoadedBytes(const std::string &elf) {
  Elf64_Ehdr eh;
  std::memcpy(&eh, elf.data(), sizeof eh);
  size_t end = 0;
  for (int i = 0; i < eh.e_phnum; ++i) {
    Elf64_Phdr ph;
    std::memcpy(&ph, elf.data() + eh.e_phoff + i * size_t{eh.e_phentsize}, sizeof ph);
    if (ph.p_type == PT_LOAD) end = std::max<size_t>(end, ph.p_offset + ph.p_filesz);
  }
  return end;
}

class BreakOne : public ::testing::TestWithParam<Break> {};

TEST_P(BreakOne, FailsThePowerupRunAndClosesTheGate) {
#ifdef KEL_SANITIZED
  GTEST_SKIP() << "a second sanitized copy of the library cannot be loaded into this process";
#endif
  const Break &b = GetParam();
  std::string lib = kel::test::ReadFile(KEL_LIBRARY_PATH);
  const std::string content(b.content.begin(), b.content.end());
  ASSERT_FALSE(content.empty());
  const std::string loaded = lib.substr(0, LoadedBytes(lib));  // not the debug information
  // Every copy the compiler laid down is changed.
  size_t copies = 0;
  for (size_t at = loaded.find(content); at != std::string::npos; at = loaded.find(content, at + 1), ++copies)
    lib[at + b.offset] = static_cast<char>(lib[at + b.offset] ^ 0x01);
  ASSERT_GT(copies, 0u) << b.name << ": the stored value is not in the library";
  const std::string dir = TempDir(), copy = dir + "/libbroken.so";
  ASSERT_TRUE(kel::test::WriteFile(copy, lib));
  const int rc = kel::test::RunInChild([&] {
    void *h = dlopen(copy.c_str(), RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << dlerror();
    auto powerup = reinterpret_cast<int32_t (*)()>(dlsym(h, "FIPS_powerupSelfTest"));
    auto sha256 = reinterpret_cast<int32_t (*)(const uint8_t *, uint32_t, uint8_t *)>(
        dlsym(h, "SHA256_completeDigest"));
    ASSERT_TRUE(powerup != nullptr && sha256 != nullptr);
    EXPECT_EQ(powerup(), b.status);
    uint8_t digest[32];
    EXPECT_EQ(sha256(digest, 1, digest), b.status) << "a gated operation answers with the verdict";
  });
  EXPECT_EQ(rc, 0);
  std::remove(copy.c_str());
  rmdir(dir.c_str());
}

INSTANTIATE_TEST_SUITE_P(EachStoredValue, BreakOne, ::testing::ValuesIn(Breaks()),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The stored keys against OpenSSL ----

// The fields of a key blob: 4-byte big-endian length, then the value.
std::vector<BIGNUM *> Fields(std::span<const uint8_t> blob, size_t at) {
  std::vector<BIGNUM *> f;
  while (at + 4 <= blob.size()) {
    const size_t len = size_t{blob[at]} << 24 | size_t{blob[at + 1]} << 16 | size_t{blob[at + 2]} << 8 | blob[at + 3];
    if (at + 4 + len > blob.size()) break;
    f.push_back(BN_bin2bn(blob.data() + at + 4, static_cast<int>(len), nullptr));
    at += 4 + len;
  }
  EXPECT_EQ(at, blob.size()) << "the blob ends with its last field";
  return f;
}

TEST(StoredKeys, RsaKeyIsARealKeyOfItsSize) {
  auto blob = kel::fips::rsa_key_blob();
  ASSERT_EQ(blob.size(), 1047u);
  ASSERT_TRUE(blob[0] == 2 && blob[1] == 1) << "version 2, private";
  const auto f = Fields(blob, 2);  // e, n, p, q, dP, dQ, qInv
  ASSERT_EQ(f.size(), 7u);
  BN_CTX *ctx = BN_CTX_new();
  BIGNUM *t = BN_new(), *pm1 = BN_dup(f[2]), *qm1 = BN_dup(f[3]);
  BN_sub_word(pm1, 1);
  BN_sub_word(qm1, 1);
  EXPECT_EQ(BN_num_bits(f[1]), 2312);
  EXPECT_EQ(BN_check_prime(f[2], ctx, nullptr), 1);
  EXPECT_EQ(BN_check_prime(f[3], ctx, nullptr), 1);
  BN_mul(t, f[2], f[3], ctx);
  EXPECT_EQ(BN_cmp(t, f[1]), 0) << "n = p q";
  BN_mod_mul(t, f[0], f[4], pm1, ctx);
  EXPECT_TRUE(BN_is_one(t)) << "e dP = 1 mod p - 1";
  BN_mod_mul(t, f[0], f[5], qm1, ctx);
  EXPECT_TRUE(BN_is_one(t)) << "e dQ = 1 mod q - 1";
  BN_mod_mul(t, f[3], f[6], f[2], ctx);
  EXPECT_TRUE(BN_is_one(t)) << "q qInv = 1 mod p";
  for (BIGNUM *b : f) BN_free(b);
  BN_free(t), BN_free(pm1), BN_free(qm1), BN_CTX_free(ctx);
}

TEST(StoredKeys, DsaKeyIsARealKeyOfItsSize) {
  auto blob = kel::fips::dsa_key_blob();
  ASSERT_EQ(blob.size(), 256u);
  const auto v = Fields(blob, 0);  // p, q, g, y, x (positive mpints)
  ASSERT_EQ(v.size(), 5u);
  BN_CTX *ctx = BN_CTX_new();
  BIGNUM *t = BN_new();
  EXPECT_EQ(BN_num_bits(v[0]), 512);
  EXPECT_EQ(BN_num_bits(v[1]), 160);
  EXPECT_EQ(BN_check_prime(v[0], ctx, nullptr), 1);
  EXPECT_EQ(BN_check_prime(v[1], ctx, nullptr), 1);
  BN_sub(t, v[0], BN_value_one());
  BN_mod(t, t, v[1], ctx);
  EXPECT_TRUE(BN_is_zero(t)) << "q divides p - 1";
  BN_mod_exp(t, v[2], v[1], v[0], ctx);
  EXPECT_TRUE(BN_is_one(t) && !BN_is_one(v[2])) << "g has order q";
  BN_mod_exp(t, v[2], v[4], v[0], ctx);
  EXPECT_EQ(BN_cmp(t, v[3]), 0) << "y = g^x mod p";
  EXPECT_LT(BN_cmp(v[4], v[1]), 0);
  for (BIGNUM *b : v) BN_free(b);
  BN_free(t), BN_CTX_free(ctx);
}

// ---- Integrity-file paths, asked of the shipped library in a child ----

// getLibFilePath, getHashFilePath, getFFPath: each result and its buffer
// (261 'x' before the call), then the three with a null buffer.
std::vector<std::pair<int, std::string>> AskLibrary() {
  std::vector<std::pair<int, std::string>> r;
  void *h = dlopen(KEL_LIBRARY_PATH, RTLD_LAZY | RTLD_LOCAL);
  EXPECT_NE(h, nullptr) << dlerror();
  for (const char *fn : {"getLibFilePath", "getHashFilePath", "getFFPath"}) {
    auto f = reinterpret_cast<int (*)(char *)>(dlsym(h, fn));
    std::string buf(261, 'x');
    buf.resize(262);
    const int rc = f(buf.data());
    r.emplace_back(rc, buf.c_str());
    r.emplace_back(f(nullptr), "");
  }
  return r;
}

TEST(IntegrityPaths, BesideTheToolkitLibraryAndWithoutIt) {
  const std::string dir = TempDir(), src = dir + "/tv.c", so = dir + "/libtvcrypto.so.1";
  kel::test::WriteFile(src, "int FIPS_SetForceFailFromFile(void) { return 0; }\n"
                            "int FIPS_powerupSelfTest(void) { return 0; }\n");
  if (std::system(("cc -shared -fPIC -o '" + so + "' '" + src + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no C compiler";
  EXPECT_EQ(kel::test::RunInChild([&] {
              ASSERT_NE(dlopen(so.c_str(), RTLD_NOW | RTLD_GLOBAL), nullptr) << dlerror();
              const std::vector<std::pair<int, std::string>> want = {
                  {0, so}, {0, ""}, {0, dir + "/libtvcrypto.sig"}, {0, ""}, {0, dir + "/libtvcrypto.fft"}, {0, ""}};
              EXPECT_EQ(AskLibrary(), want);
            }),
            0);
  EXPECT_EQ(kel::test::RunInChild([&] {
              auto got = AskLibrary();
              ASSERT_EQ(got.size(), 6u);
              // No toolkit library: the loader names no object for the
              // symbol (buffer untouched); the others name this library.
              EXPECT_EQ(got[0], std::make_pair(-1, std::string(261, 'x')));
              char real[PATH_MAX];
              ASSERT_NE(realpath(KEL_LIBRARY_PATH, real), nullptr);
              EXPECT_TRUE(got[2].second == real || got[2].second == KEL_LIBRARY_PATH) << got[2].second;
              EXPECT_EQ(got[2].first, 2);
              EXPECT_EQ(got[4], got[2]);
              EXPECT_EQ(got[1].first | got[3].first | got[5].first, 0) << "a null buffer";
            }),
            0);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
