// The path helpers: directories with their parents, the real user's entry.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "kel/generic.h"
#include "log_test_util.h"

namespace {

using namespace kel::test;

mode_t DirMode(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? (st.st_mode & 07777) : 0;
}

TEST(GenericPath, MakesEveryComponentWithMode0755) {
  TempDir tmp;
  const mode_t saved = umask(0);
  EXPECT_EQ(GENERIC_make_path((tmp / "a/b/c/").c_str()), 0u);
  umask(saved);
  for (const char *d : {"a", "a/b", "a/b/c"}) EXPECT_EQ(DirMode(tmp / d), 0755u) << d;
  EXPECT_EQ(GENERIC_make_path((tmp / "a/b/c").c_str()), 0u);                 // exists
  EXPECT_EQ(GENERIC_make_path(("/" + tmp.path() + "//x//y").c_str()), 0u);  // empty components skipped
  EXPECT_NE(DirMode(tmp / "x/y"), 0u);
  EXPECT_EQ(GENERIC_make_intermediate_path((tmp / "p/q/file.txt").c_str()), 0u);
  EXPECT_NE(DirMode(tmp / "p/q"), 0u);
  EXPECT_FALSE(Exists(tmp / "p/q/file.txt"));

  // Threads making the same deep path all succeed.
  const std::string deep = tmp / "1/2/3/4/5/6/7/8/9/10";
  std::vector<uint32_t> results(6, 99);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&, i] { results[i] = GENERIC_make_path(deep.c_str()); });
  for (auto &t : threads) t.join();
  EXPECT_EQ(results, std::vector<uint32_t>(6, 0));
  EXPECT_NE(DirMode(deep), 0u);
}

TEST(GenericPath, FailuresAreLoggedWithTheHelpersNames) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp / "file", "x"));
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, (tmp / "logs").c_str()), 0u);
    EXPECT_EQ(GENERIC_make_path((tmp / "file").c_str()), 0u);  // a file counts as made
    EXPECT_EQ(GENERIC_make_path((tmp / "file/sub").c_str()), 1u);
    EXPECT_EQ(GENERIC_make_intermediate_path((tmp / "file/d/x").c_str()), 1u);  // fails at file/d
    EXPECT_EQ(GENERIC_make_path(nullptr), 1u);
    EXPECT_EQ(GENERIC_make_intermediate_path(nullptr), 1u);
    std::vector<std::string> lines = SplitLines(KelLog(tmp / "logs"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "ERROR", "generic_make_dir", "generic",
                                                       "Failed to create directory '" + tmp / "file/sub" + "'\\.\r")))
        << lines[0];
    EXPECT_NE(lines[1].find("Failed to create directory '" + tmp / "file/d" + "'.\r"), std::string::npos) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[3], LinePattern("KEL", "ERROR", "GENERIC_make_intermediate_path", "generic",
                                                       "Path is NULL!\r")));
  });
}

TEST(GenericUser, ReadsTheRealUsersEntry) {
  const struct passwd *pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  ASSERT_NE(GENERIC_get_user_name(), nullptr);
  EXPECT_STREQ(GENERIC_get_user_name(), pw->pw_name);
  ASSERT_NE(GENERIC_get_home_dir(), nullptr);
  EXPECT_STREQ(GENERIC_get_home_dir(), pw->pw_dir);
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch users";
  EXPECT_EQ(RunAsUser(65534, 65534, [] { EXPECT_STREQ(GENERIC_get_user_name(), "nobody"); }), 0);
  // A real user id without an entry in the password database.
  EXPECT_EQ(RunAsUser(54321, 54321, [] {
              EXPECT_EQ(GENERIC_get_user_name(), nullptr);
              EXPECT_EQ(GENERIC_get_home_dir(), nullptr);
            }),
            0);
}

}  // namespace
