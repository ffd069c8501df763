// Toolkit start and stop, its globals and the whole-file utilities.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/common/alloc.h"
#include "kel/fips.h"
#include "kel/os.h"
#include "kel/random.h"
#include "kel/vorane.h"
#include "support/sandbox.h"

namespace {

class Toolkit : public ::testing::Test {
 protected:
  void TearDown() override {
    kel::mem::fail_after(-1);
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  }
};

TEST_F(Toolkit, StartsOnceAndOnlyAfterAPassedSelfTest) {
  // Refused before the self-test, and the failed start is not retried.
  EXPECT_EQ(VORANE_initVorane(), -16508);
  EXPECT_EQ(g_pRandomContext, nullptr);
  const RtosTime stamped = gStartTime;
  EXPECT_NE(stamped.seconds, 0u) << "the start time is stamped before the random context";
  ASSERT_EQ(FIPS_powerupSelfTest(), 0);
  EXPECT_EQ(VORANE_initVorane(), 0);
  EXPECT_EQ(g_pRandomContext, nullptr);
  EXPECT_EQ(std::memcmp(&gStartTime, &stamped, sizeof stamped), 0);
  EXPECT_EQ(VORANE_addEntropyBit(1), -6001) << "no random context";
  EXPECT_EQ(VORANE_freeVorane(), 0);
}

TEST_F(Toolkit, StartStopAndTheRandomContext) {
  ASSERT_EQ(FIPS_powerupSelfTest(), 0);
  ASSERT_EQ(VORANE_initVorane(), 0);
  ASSERT_NE(g_pRandomContext, nullptr);
  EXPECT_EQ(g_pRandomContext->kind, RANDOM_KIND_CTRDRBG);
  RandomContext *first = g_pRandomContext;
  EXPECT_EQ(VORANE_initVorane(), 0);
  EXPECT_EQ(g_pRandomContext, first) << "a second start changes nothing";
  EXPECT_EQ(VORANE_addEntropy32Bits(0x12345678), 0);
  // A failed toolkit refuses the entropy like every gated operation.
  gFIPS_powerupStatus = -16520;
  EXPECT_EQ(VORANE_addEntropyBit(1), -16520);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(VORANE_freeVorane(), 0);
  EXPECT_EQ(g_pRandomContext, nullptr);
  EXPECT_EQ(VORANE_initVorane(), 0);
  EXPECT_EQ(g_pRandomContext, nullptr) << "a stopped toolkit is not started again";
}

TEST_F(Toolkit, Entropy32BitsGoesLeastSignificantBitFirst) {
  ASSERT_EQ(FIPS_powerupSelfTest(), 0);
  // Two FIPS 186 contexts from the same key: one fed bit by bit, one through
  // the global with 0x80000001; their keys must end up the same.
  const uint8_t xkey[20] = {1, 2, 3};
  RandomContext *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_EQ(RANDOM_newFIPS186Context(&a, 20, xkey, 0, nullptr), 0);
  ASSERT_EQ(RANDOM_newFIPS186Context(&b, 20, xkey, 0, nullptr), 0);
  ASSERT_EQ(RANDOM_newFIPS186Context(&c, 20, xkey, 0, nullptr), 0);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(RANDOM_addEntropyBit(a, i == 0 || i == 31), 0);
  g_pRandomContext = b;
  EXPECT_EQ(VORANE_addEntropy32Bits(0x80000001u), 0);
  g_pRandomContext = c;
  EXPECT_EQ(VORANE_addEntropy32Bits(0x00000003u), 0);
  g_pRandomContext = nullptr;
  uint8_t oa[20], ob[20], oc[20];
  RANDOM_numberGeneratorFIPS186(a, oa, 20);
  RANDOM_numberGeneratorFIPS186(b, ob, 20);
  RANDOM_numberGeneratorFIPS186(c, oc, 20);
  EXPECT_EQ(std::memcmp(oa, ob, 20), 0);
  EXPECT_NE(std::memcmp(oa, oc, 20), 0);
  for (RandomContext **x : {&a, &b, &c}) RANDOM_deleteFIPS186Context(x);
}

std::vector<std::string> gLines;
void Hook(uint32_t module, uint32_t severity, const char *message) {
  gLines.push_back(std::to_string(module) + "/" + std::to_string(severity) + " " + message);
}

TEST_F(Toolkit, LogHook) {
  VORANE_log(1, 2, "before");  // no hook yet: nothing
  EXPECT_EQ(VORANE_initLog(Hook), 0);
  EXPECT_EQ(g_logFn, &Hook);
  VORANE_log(7, 5, nullptr);
  VORANE_log(7, 5, "hello");
  EXPECT_EQ(gLines, (std::vector<std::string>{"0/3 NOT A PRODUCTION BUILD: VORANE DEBUG CONSOLE HAS BEEN ENABLED.",
                                              "7/5 hello"}));
  EXPECT_EQ(VORANE_initLog(nullptr), 0);
  VORANE_log(7, 5, "after");
  EXPECT_EQ(gLines.size(), 2u);
}

TEST_F(Toolkit, WholeFiles) {
  char tmpl[] = "/tmp/kel-vorane-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/f", empty = dir + "/empty";
  const std::string text = std::string("a\0b", 3) + std::string(5000, 'z');
  auto bytes = reinterpret_cast<const uint8_t *>(text.data());
  EXPECT_EQ(UTILS_writeFile(path.c_str(), bytes, static_cast<uint32_t>(text.size())), 0);
  EXPECT_EQ(VORANE_writeFile(empty.c_str(), bytes, 0), 0);
  uint8_t *data = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(VORANE_readFile(path.c_str(), &data, &len), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(data), len), text);
  EXPECT_EQ(UTILS_freeReadFile(&data), 0);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(VORANE_freeReadFile(&data), 0) << "a null data pointer";
  struct Case {
    std::string path;
    int32_t want;
  } cases[] = {{dir + "/missing", -7201}, {empty, -7201}, {dir, 0}};  // a directory: -7201, -6101 or -7202
  for (const auto &c : cases) {
    data = reinterpret_cast<uint8_t *>(&len);
    len = 9;
    const int32_t st = UTILS_readFile(c.path.c_str(), &data, &len);
    if (c.want != 0) {
      EXPECT_EQ(st, c.want) << c.path;
    }
    EXPECT_LT(st, 0) << c.path;
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(len, 0u);
  }
  EXPECT_EQ(UTILS_readFile(path.c_str(), nullptr, &len), -6001);
  EXPECT_EQ(UTILS_readFile(path.c_str(), &data, nullptr), -6001);
  kel::mem::fail_after(0);
  EXPECT_EQ(UTILS_readFile(path.c_str(), &data, &len), -6101);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(UTILS_writeFile((dir + "/no/such").c_str(), bytes, 1), -7201);
  EXPECT_EQ(UTILS_writeFile("/dev/full", bytes, static_cast<uint32_t>(text.size())), -7204);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
