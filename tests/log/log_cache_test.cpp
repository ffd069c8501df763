// The per-user last-error cache: ERROR and WARN messages of an ordinary
// user, nothing for root, never a directory created.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "kel/generic.h"
#include "kel/log.h"
#include "log_test_util.h"

namespace {

using kel::test::Exists;
using kel::test::ReadFile;
using kel::test::WriteFile;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
const std::string kCache = "/home/nobody/.kel/last_error.log";

// The cache as the dump returns it: owned std::string, or "<null>".
std::string Dump() {
  char *text = LOG_cache_dump();
  if (text == nullptr) return "<null>";
  std::string s(text);
  std::free(text);
  return s;
}

class LogCache : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    for (const char *dir : {"/home/nobody", "/home/nobody/.kel", "/home/nobody/logs"}) {
      ASSERT_EQ(mkdir(dir, 0755), 0);
      ASSERT_EQ(chown(dir, kNobody, kNogroup), 0);
    }
  }
  void AsNobody(const std::function<void()> &fn) { EXPECT_EQ(kel::test::RunAsUser(kNobody, kNogroup, fn), 0); }
};

TEST_F(LogCache, KeepsErrorAndWarnMessagesEvenWithEveryOutputOff) {
  AsNobody([] {
    EXPECT_STREQ(GENERIC_get_user_name(), "nobody");
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/nobody/logs"), 0u);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "first %s\r\n", "error");
    LOG_printf(LOG_LEVEL_WARN, "t", "f", 2, "a warning\r\n");
    LOG_printf(LOG_LEVEL_INFO, "t", "f", 3, "not cached\r\n");
    LOG_printf(7, "t", "f", 4, "printed as error\r\n");
    LOG_set_option(0);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 5, "silent\n");
    LOG_set_print_level(LOG_LEVEL_ERROR);
    LOG_printf(LOG_LEVEL_WARN, "t", "f", 6, "filtered out\n");

    const std::string stamp = kel::test::kStampPattern;
    EXPECT_TRUE(std::regex_match(ReadFile(kCache), std::regex(stamp + " first error\r\n" + stamp + " a warning\r\n" +
                                                              stamp + " printed as error\r\n" + stamp + " silent\n")))
        << ReadFile(kCache);
    // The dump is the content less its last character.
    std::string content = ReadFile(kCache);
    EXPECT_EQ(Dump(), content.substr(0, content.size() - 1));
    EXPECT_EQ(ReadFile("/home/nobody/logs/app-kel.log").find("silent"), std::string::npos);

    LOG_cache_reset();
    EXPECT_TRUE(Exists(kCache));
    EXPECT_EQ(ReadFile(kCache), "");
    EXPECT_EQ(Dump(), "<null>");
  });
}

TEST_F(LogCache, DumpDropsTheLastCharacterAndResetCreatesTheFile) {
  AsNobody([] {
    EXPECT_EQ(Dump(), "<null>");  // no file yet
    LOG_cache_reset();
    EXPECT_TRUE(Exists(kCache));
    EXPECT_EQ(Dump(), "<null>");  // empty
    ASSERT_TRUE(WriteFile(kCache, "abc\n"));
    EXPECT_EQ(Dump(), "abc");
    ASSERT_TRUE(WriteFile(kCache, "abc"));
    EXPECT_EQ(Dump(), "ab");
    ASSERT_TRUE(WriteFile(kCache, "x"));
    EXPECT_EQ(Dump(), "");
    LOG_cache_error_string("piece one, ");
    LOG_cache_error_string(nullptr);
    LOG_cache_error_string("piece two\n");
    EXPECT_EQ(ReadFile(kCache), "xpiece one, piece two\n");
    // An unreadable cache is no cache.
    ASSERT_EQ(chmod(kCache.c_str(), 0200), 0);
    EXPECT_EQ(Dump(), "<null>");
  });
}

TEST_F(LogCache, WithoutTheKelDirectoryThereIsNoCache) {
  ASSERT_EQ(rmdir("/home/nobody/.kel"), 0);
  AsNobody([] {
    LOG_cache_error_string("lost\n");
    LOG_cache_reset();
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/nobody/logs"), 0u);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "also lost\n");
    EXPECT_EQ(Dump(), "<null>");
    EXPECT_FALSE(Exists("/home/nobody/.kel"));
  });
}

TEST_F(LogCache, RootHasNoCache) {
  ASSERT_STREQ(GENERIC_get_user_name(), "root");
  ASSERT_EQ(mkdir("/home/root", 0755), 0);
  ASSERT_EQ(mkdir("/home/root/.kel", 0755), 0);
  const std::string cache = "/home/root/.kel/last_error.log";
  ASSERT_TRUE(WriteFile(cache, "keep me\n"));
  kel::test::InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/root/logs"), 0u);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "an error\n");
    LOG_cache_error_string("text\n");
    LOG_cache_reset();
    EXPECT_EQ(Dump(), "<null>");
  });
  EXPECT_EQ(ReadFile(cache), "keep me\n");
  EXPECT_NE(ReadFile("/home/root/logs/app-kel.log").find("an error"), std::string::npos);
}

}  // namespace
