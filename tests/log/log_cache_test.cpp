// The per-user last-error cache: ERROR and WARN messages of an ordinary
// user, nothing for root, never a directory created.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kel/generic.h"
#include "log_test_util.h"

namespace {

using namespace kel::test;

constexpr uid_t kNobody = 65534;
const std::string kCache = "/home/nobody/.kel/last_error.log";

// The cache as the dump returns it, or "<null>".
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
      ASSERT_EQ(chown(dir, kNobody, kNobody), 0);
    }
  }
  void AsNobody(const std::function<void()> &fn) { EXPECT_EQ(RunAsUser(kNobody, kNobody, fn), 0); }
};

TEST_F(LogCache, KeepsErrorAndWarnMessagesEvenWithEveryOutputOff) {
  AsNobody([] {
    EXPECT_EQ(Dump(), "<null>");  // no file yet
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/nobody/logs"), 0u);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "first %s\r\n", "error");
    LOG_printf(LOG_LEVEL_WARN, "t", "f", 2, "a warning\r\n");
    LOG_printf(LOG_LEVEL_INFO, "t", "f", 3, "not cached\r\n");
    LOG_printf(7, "t", "f", 4, "printed as error\r\n");
    LOG_set_option(0);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 5, "silent\n");
    LOG_set_print_level(LOG_LEVEL_ERROR);
    LOG_printf(LOG_LEVEL_WARN, "t", "f", 6, "filtered out\n");

    const std::string stamp = kStampPattern, content = ReadFile(kCache);
    EXPECT_TRUE(std::regex_match(content, std::regex(stamp + " first error\r\n" + stamp + " a warning\r\n" + stamp +
                                                     " printed as error\r\n" + stamp + " silent\n")))
        << content;
    EXPECT_EQ(Dump(), content.substr(0, content.size() - 1));  // less its last character
    EXPECT_EQ(KelLog("/home/nobody/logs").find("silent"), std::string::npos);

    LOG_cache_reset();
    EXPECT_EQ(ReadFile(kCache), "");
    EXPECT_EQ(Dump(), "<null>");
    LOG_cache_error_string("piece one, ");
    LOG_cache_error_string(nullptr);
    LOG_cache_error_string("piece two\n");
    EXPECT_EQ(Dump(), "piece one, piece two");
    ASSERT_EQ(chmod(kCache.c_str(), 0200), 0);
    EXPECT_EQ(Dump(), "<null>") << "an unreadable cache is no cache";
  });
}

TEST_F(LogCache, NeverFollowsALinkAndIsPrivateToTheUser) {
  AsNobody([] {
    umask(0);
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/nobody/logs"), 0u);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "mine\n");
    struct stat st;
    ASSERT_EQ(stat(kCache.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "whatever the umask";
    // A link planted at the cache's name is neither written, emptied nor read.
    const std::string victim = "/home/nobody/victim";
    ASSERT_TRUE(WriteFile(victim, "precious\n"));
    ASSERT_EQ(unlink(kCache.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), kCache.c_str()), 0);
    LOG_printf(LOG_LEVEL_WARN, "t", "f", 2, "appended?\n");
    EXPECT_EQ(Dump(), "<null>");
    LOG_cache_reset();
    EXPECT_EQ(ReadFile(victim), "precious\n");
  });
}

TEST_F(LogCache, WithoutTheKelDirectoryThereIsNoCache) {
  ASSERT_EQ(rmdir("/home/nobody/.kel"), 0);
  AsNobody([] {
    LOG_cache_reset();
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/nobody/logs"), 0u);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "lost\n");
    EXPECT_EQ(Dump(), "<null>");
    EXPECT_FALSE(Exists("/home/nobody/.kel"));
  });
}

TEST_F(LogCache, RootHasNoCache) {
  ASSERT_STREQ(GENERIC_get_user_name(), "root");
  ASSERT_EQ(GENERIC_make_path("/home/root/.kel"), 0u);
  const std::string cache = "/home/root/.kel/last_error.log";
  ASSERT_TRUE(WriteFile(cache, "keep me\n"));
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, "/home/root/logs"), 0u);
    LOG_printf(LOG_LEVEL_ERROR, "t", "f", 1, "an error\n");
    LOG_cache_error_string("text\n");
    LOG_cache_reset();
    EXPECT_EQ(Dump(), "<null>");
  });
  EXPECT_EQ(ReadFile(cache), "keep me\n");
  EXPECT_NE(KelLog("/home/root/logs").find("an error"), std::string::npos);
}

}  // namespace
