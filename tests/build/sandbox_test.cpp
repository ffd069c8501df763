// The sandbox keeps tests away from the real system paths.
#include <gtest/gtest.h>

#include "support/sandbox.h"

namespace {

using kel::test::Exists;

TEST(Sandbox, WritesStayInsideTheNamespace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::string probe = "/usr/share/kel/sandbox-probe";
  ASSERT_FALSE(Exists(probe));
  int rc = kel::test::RunInChild([&] {
    std::string why;
    ASSERT_TRUE(kel::test::EnterSandbox(&why)) << why;
    EXPECT_TRUE(kel::test::WriteFile(probe, "x"));
    EXPECT_TRUE(kel::test::WriteFile("/home/probe", "x"));
    EXPECT_TRUE(Exists(probe));
    EXPECT_TRUE(Exists("/usr/share/zoneinfo"));  // the rest of /usr/share stays visible
  });
  EXPECT_EQ(rc, 0);
  EXPECT_FALSE(Exists(probe));
  EXPECT_FALSE(Exists("/home/probe"));
}

}  // namespace
