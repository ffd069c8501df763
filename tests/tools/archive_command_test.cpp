// kelctl archive: the tool builds the archive and reports what it made.
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {
using namespace kel::test;

// The value of the "key: value" line of the report, or "".
std::string Field(const std::string &report, const std::string &key) {
  for (const std::string &line : SplitLines(report))
    if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
  return "";
}

class KelctlArchive : public SandboxTest {};

TEST_F(KelctlArchive, ReportsNameSizeAndMembers) {
  TempDir out, logs;
  ASSERT_TRUE(kel::test::WriteFile(logs / "install.log", "installed\n"));
  int status = -1;
  std::string report = RunProgram({kKelctl, "archive", out.path(), "--log-dir", logs.path()}, &status);
  ASSERT_EQ(status, 0) << report;

  std::string name = Field(report, "archive");
  EXPECT_EQ(name.rfind("kel_logs_", 0), 0u) << report;
  ASSERT_GT(name.size(), 7u);
  EXPECT_EQ(name.substr(name.size() - 7), ".tar.gz");
  EXPECT_EQ(Field(report, "path"), out / name);

  struct stat st{};
  ASSERT_EQ(stat((out / name).c_str(), &st), 0);
  EXPECT_EQ(Field(report, "size"), std::to_string(st.st_size) + " bytes");

  std::vector<std::string> members = SplitLines(RunProgram({"tar", "-tzf", out / name}));
  EXPECT_EQ(Field(report, "members"), std::to_string(members.size()));
  // The two logs that exist and the five snapshots at least.
  EXPECT_GE(members.size(), 7u);
  EXPECT_NE(std::find(members.begin(), members.end(), "install.log"), members.end());
  EXPECT_NE(std::find(members.begin(), members.end(), "app-kel.log"), members.end());
}

TEST_F(KelctlArchive, RefusesMissingAndReadOnlyDirectories) {
  TempDir logs;
  int status = -1;
  RunProgram({kKelctl, "archive", logs / "missing", "--log-dir", logs.path()}, &status);
  EXPECT_EQ(status, 1);
  // The library refuses a directory it cannot write: the tool says so.
  ASSERT_TRUE(kel::test::MountTmpfs(logs / "ro"));
  ASSERT_TRUE(kel::test::RemountReadOnly(logs / "ro", true));
  RunProgram({kKelctl, "archive", logs / "ro", "--log-dir", logs.path()}, &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(kel::test::ReadFile(logs / "app-kel.log").find("Failed to create empty archive file"), std::string::npos);
  umount((logs / "ro").c_str());
}

}  // namespace
