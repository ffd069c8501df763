// Copies of the built library with one stored expected value (found by its
// content) changed fail their self-test; the integrity-file paths.
#include <dlfcn.h>

#include <cctype>
#include <climits>
#include <cstdlib>

#include "crypto/fips/internal.h"
#include "kel/fips.h"
#include "support/sandbox.h"
#include "support/vectors.h"

namespace {

using kel::test::Bytes;

Bytes Tail(std::span<const uint8_t> blob, size_t n) { return Bytes(blob.end() - n, blob.end()); }

struct Break {
  std::string name;
  Bytes content;    // found in the library file
  size_t offset;    // of the byte changed, within content
  int32_t status;   // the power-up run's verdict with the change
};

// Every stored expected value of the library's table (provenance_test shows
// where each comes from), then the pairwise-consistency tests.
std::vector<Break> Breaks() {
  std::vector<Break> all;
  for (const auto &v : kel::fips::stored_values())
    all.push_back({v.name, Bytes(v.located, v.located + v.locatedLength), v.offset + v.length - 1, v.status});
  const Bytes faults = {'k', 'e', 'l', '-', 'p', 'c', 't', '-', 'f', 'a', 'u', 'l', 't', 's', ':', '0', '0', '0'};
  // DSA: a wrong private value signs for another public value. RSA: a wrong qInv garbles the
  // decryption, which the private operation's own check catches.
  all.push_back({"DsaPct", Tail(kel::fips::dsa_key_blob(), 20), 10, ERR_FIPS_DSA_PCT});
  all.push_back({"RsaPct", Tail(kel::fips::rsa_key_blob(), 40), 20, -7709});
  all.push_back({"EcdsaPct", faults, 15, ERR_FIPS_ECDSA_PCT});
  all.push_back({"EcdhPct", faults, 16, ERR_FIPS_ECDH_PCT});
  all.push_back({"DhPct", faults, 17, ERR_FIPS_DH_PCT});
  return all;
}

void PrintTo(const Break &b, std::ostream *os) { *os << b.name; }

class BreakOne : public ::testing::TestWithParam<Break> {};

// A copy of the library with the value changed: the power-up run, and then a
// gated operation, answer the break's status.
TEST_P(BreakOne, FailsThePowerupRunAndClosesTheGate) {
#ifdef KEL_SANITIZED
  GTEST_SKIP() << "a second sanitized copy of the library cannot be loaded into this process";
#endif
  const Break &b = GetParam();
  std::string lib = kel::test::ReadFile(KEL_LIBRARY_PATH);
  const std::string content(b.content.begin(), b.content.end());
  ASSERT_FALSE(content.empty());
  size_t copies = 0;  // every copy the compiler laid down is changed
  for (size_t at = 0; (at = lib.find(content, at)) != std::string::npos; ++at, ++copies)
    lib[at + b.offset] = static_cast<char>(lib[at + b.offset] ^ 0x01);
  ASSERT_GT(copies, 0u) << b.name << ": the stored value is not in the library";
  const kel::test::TempDir dir;
  const std::string copy = dir / "libbroken.so";
  ASSERT_TRUE(kel::test::WriteFile(copy, lib));
  EXPECT_EQ(0, kel::test::RunInChild([&] {
    void *h = dlopen(copy.c_str(), RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << dlerror();
    auto powerup = reinterpret_cast<int32_t (*)()>(dlsym(h, "FIPS_powerupSelfTest"));
    auto sha256 = reinterpret_cast<int32_t (*)(const uint8_t *, uint32_t, uint8_t *)>(
        dlsym(h, "SHA256_completeDigest"));
    ASSERT_TRUE(powerup != nullptr && sha256 != nullptr);
    // The consistency tests sign fresh random values: a fault shows on every run.
    for (int run = 0; run < (b.name.ends_with("Pct") ? 8 : 1); ++run) EXPECT_EQ(powerup(), b.status) << run;
    uint8_t digest[32];
    EXPECT_EQ(sha256(digest, 1, digest), b.status) << "a gated operation answers with the verdict";
  }));
}

INSTANTIATE_TEST_SUITE_P(EachStoredValue, BreakOne, ::testing::ValuesIn(Breaks()),
                         [](const auto &info) {
                           std::string n = info.param.name;
                           for (char &c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return n;
                         });

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
  const kel::test::TempDir tmp;
  const std::string dir = tmp.path(), src = dir + "/tv.c", so = dir + "/libtvcrypto.so.1";
  kel::test::WriteFile(src, "int FIPS_SetForceFailFromFile(void) { return 0; }\n"
                            "int FIPS_powerupSelfTest(void) { return 0; }\n");
  if (std::system(("cc -shared -fPIC -o '" + so + "' '" + src + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no C compiler";
  // The same library where its name lies beyond the 260 bytes copied.
  const std::string deep = dir + "/" + std::string(250, 'd'), far = deep + "/libtvcrypto.so.1", cut = far.substr(0, 260);
  ASSERT_EQ(std::system(("mkdir '" + deep + "' && cp '" + so + "' '" + far + "'").c_str()), 0);
  const std::pair<std::string, std::vector<std::pair<int, std::string>>> cases[] = {
      {so, {{0, so}, {0, ""}, {0, dir + "/libtvcrypto.sig"}, {0, ""}, {0, dir + "/libtvcrypto.fft"}, {0, ""}}},
      {far, {{2, cut}, {0, ""}, {2, cut}, {0, ""}, {2, cut}, {0, ""}}}};
  for (const auto &[path, want] : cases)
    EXPECT_EQ(0, kel::test::RunInChild([&] {
      ASSERT_NE(dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL), nullptr) << dlerror();
      EXPECT_EQ(AskLibrary(), want);
    }));
  EXPECT_EQ(0, kel::test::RunInChild([&] {
    auto got = AskLibrary();
    ASSERT_EQ(got.size(), 6u);
    // No toolkit library: the loader names no object for the
    // symbol (buffer untouched); the others find only this library.
    EXPECT_EQ(got[0], std::make_pair(-1, std::string(261, 'x')));
    EXPECT_EQ(got[2].first, 2);
    char real[PATH_MAX];
    ASSERT_NE(realpath(KEL_LIBRARY_PATH, real), nullptr);
    EXPECT_TRUE(got[2].second == real || got[2].second == KEL_LIBRARY_PATH) << got[2].second;
    EXPECT_EQ(got[4], got[2]);
  }));
}

}  // namespace
