// The path helpers: directories with their parents, the real user's entry.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "kel/generic.h"
#include "kel/log.h"
#include "log_test_util.h"

namespace {

using kel::test::CaptureStdout;
using kel::test::Exists;
using kel::test::InFreshProcess;
using kel::test::LinePattern;
using kel::test::SplitLines;
using kel::test::TempDir;

bool IsDir(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

mode_t Mode(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(GenericPath, MakesEveryComponentWithMode0755) {
  TempDir tmp;
  const mode_t saved = umask(0);
  EXPECT_EQ(GENERIC_make_path((tmp / "a/b/c/").c_str()), 0u);
  umask(saved);
  for (const char *d : {"a", "a/b", "a/b/c"}) {
    EXPECT_TRUE(IsDir(tmp / d)) << d;
    EXPECT_EQ(Mode(tmp / d), 0755u) << d;
  }
  EXPECT_EQ(GENERIC_make_path((tmp / "a/b/c").c_str()), 0u);  // exists
  EXPECT_EQ(GENERIC_make_path(("/" + tmp.path() + "//x//y").c_str()), 0u);  // empty components skipped
  EXPECT_TRUE(IsDir(tmp / "x/y"));
  EXPECT_EQ(GENERIC_make_intermediate_path((tmp / "p/q/file.txt").c_str()), 0u);
  EXPECT_TRUE(IsDir(tmp / "p/q"));
  EXPECT_FALSE(Exists(tmp / "p/q/file.txt"));
  EXPECT_EQ(GENERIC_make_intermediate_path((tmp / "p/q/r/").c_str()), 0u);  // a trailing slash: all made
  EXPECT_TRUE(IsDir(tmp / "p/q/r"));

  ASSERT_EQ(chdir(tmp.path().c_str()), 0);  // relative paths start at the working directory
  EXPECT_EQ(GENERIC_make_path("rel/ative"), 0u);
  EXPECT_TRUE(IsDir(tmp / "rel/ative"));
  ASSERT_EQ(chdir("/"), 0);
}

TEST(GenericPath, FailuresAreLoggedWithTheHelpersNames) {
  TempDir tmp;
  ASSERT_TRUE(kel::test::WriteFile(tmp / "file", "x"));
  InFreshProcess([&] {
    ASSERT_EQ(LOG_init(LOG_APP_KEL, nullptr, (tmp / "logs").c_str()), 0u);
    LOG_set_option(LOG_OPTION_STDOUT);
    uint32_t made = 0, under = 0, inter = 0, null1 = 0, null2 = 0;
    std::string out = CaptureStdout([&] {
      made = GENERIC_make_path((tmp / "file").c_str());                   // a file counts as made
      under = GENERIC_make_path((tmp / "file/sub").c_str());              // the next level fails
      inter = GENERIC_make_intermediate_path((tmp / "file/d/x").c_str());  // fails at file/d
      null1 = GENERIC_make_path(nullptr);
      null2 = GENERIC_make_intermediate_path(nullptr);
    });
    EXPECT_EQ(made, 0u);
    EXPECT_EQ(under, 1u);
    EXPECT_EQ(inter, 1u);
    EXPECT_EQ(null1, 1u);
    EXPECT_EQ(null2, 1u);
    std::vector<std::string> lines = SplitLines(out);
    ASSERT_EQ(lines.size(), 4u) << out;
    EXPECT_TRUE(std::regex_match(lines[0], LinePattern("KEL", "ERROR", "generic_make_dir", "generic",
                                                       "Failed to create directory '" + tmp / "file/sub" + "'\\.\r")))
        << lines[0];
    EXPECT_NE(lines[1].find("Failed to create directory '" + tmp / "file/d" + "'.\r"), std::string::npos) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], LinePattern("KEL", "ERROR", "GENERIC_make_path", "generic", "Path is NULL!\r")));
    EXPECT_TRUE(std::regex_match(
        lines[3], LinePattern("KEL", "ERROR", "GENERIC_make_intermediate_path", "generic", "Path is NULL!\r")));
  });
}

TEST(GenericPath, ThreadsMakingTheSamePathAllSucceed) {
  TempDir tmp;
  const std::string deep = tmp / "1/2/3/4/5/6/7/8/9/10";
  std::vector<uint32_t> results(6, 99);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&, i] { results[i] = GENERIC_make_path(deep.c_str()); });
  for (auto &t : threads) t.join();
  for (uint32_t r : results) EXPECT_EQ(r, 0u);
  EXPECT_TRUE(IsDir(deep));
}

TEST(GenericUser, ReadsTheRealUsersEntry) {
  const struct passwd *pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  const std::string name = pw->pw_name, home = pw->pw_dir;
  ASSERT_NE(GENERIC_get_user_name(), nullptr);
  EXPECT_EQ(std::string(GENERIC_get_user_name()), name);
  ASSERT_NE(GENERIC_get_home_dir(), nullptr);
  EXPECT_EQ(std::string(GENERIC_get_home_dir()), home);
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch users";
  EXPECT_EQ(kel::test::RunAsUser(65534, 65534, [] {
              EXPECT_STREQ(GENERIC_get_user_name(), "nobody");
              EXPECT_STREQ(GENERIC_get_home_dir(), "/nonexistent");
            }),
            0);
  // A real user id without an entry in the password database.
  EXPECT_EQ(kel::test::RunAsUser(54321, 54321, [] {
              EXPECT_EQ(GENERIC_get_user_name(), nullptr);
              EXPECT_EQ(GENERIC_get_home_dir(), nullptr);
            }),
            0);
}

}  // namespace
