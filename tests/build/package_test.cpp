// The Debian package `cpack -G DEB` makes of this build: the install's files
// and modes, all root's; Depends as the binaries need; lintian without
// errors; and installed with dpkg in a private /usr and /var, a plugin that
// NetworkManager's loader finds, removed again by dpkg -r.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <regex>
#include <set>
#include <sstream>

#include "build/install_layout.h"
#include "support/sandbox.h"

namespace kel::test {
namespace {

class Package : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef KEL_SANITIZED
    GTEST_SKIP() << "the package is made from a release build";
#endif
    const Outcome r = Shell("'" KEL_CPACK "' -G DEB --config '" KEL_BINARY_DIR "/CPackConfig.cmake' -B '" + dir_.path() + "'");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    deb_ = dir_ / ("kelvpn_" KEL_VERSION "_" + Shell("dpkg --print-architecture | tr -d '\\n'").out + ".deb");
    ASSERT_TRUE(Exists(deb_)) << r.out;
  }
  TempDir dir_;
  std::string deb_;
};

TEST_F(Package, HoldsTheInstallOwnedByRootAndPassesLintian) {
  std::map<std::string, unsigned> contents;
  std::istringstream listing(Shell("dpkg-deb -c '" + deb_ + "'").out);
  for (std::string mode, owner, size, date, time, path; listing >> mode >> owner >> size >> date >> time >> path;) {
    EXPECT_EQ(owner, "root/root") << path;
    unsigned bits = 0;
    for (size_t i = 1; i < 10; ++i) bits = bits << 1 | (mode[i] != '-');
    contents[path.substr(2, path.size() - 2 - (path.back() == '/'))] = bits;
  }
  EXPECT_EQ(contents, ExpectedInstall());
  EXPECT_EQ(Shell("dpkg-deb -f '" + deb_ + "' Package Version").out, "Package: kelvpn\nVersion: " KEL_VERSION "\n");

  // Depends: a versioned entry for each package owning a library the
  // binaries need (our own aside), as dpkg -S finds it.
  std::set<std::string> expected, depends;
  ASSERT_EQ(Shell("dpkg-deb -x '" + deb_ + "' '" + dir_ / "x'").exitCode, 0);
  const std::string needed = Shell("readelf -d " + dir_ / "x/usr/bin/kelctl " + dir_ / "x/" + kLibrary).out;
  const std::regex library(R"(Shared library: \[([^\]]+)\])");
  for (std::sregex_iterator m(needed.begin(), needed.end(), library), end; m != end; ++m) {
    if ((*m)[1] == "libnm-kelvpn-properties.so") continue;
    const std::string owner = Shell("p=$(/sbin/ldconfig -p | grep -m1 '" + (*m)[1].str() +
                                    " (' | sed 's/.* => //'); dpkg -S \"$p\" 2>/dev/null || dpkg -S \"/usr$p\"").out;
    ASSERT_NE(owner.find(": /"), std::string::npos) << owner;
    expected.insert(owner.substr(0, owner.find(':')));
  }
  const std::string field = Shell("dpkg-deb -f '" + deb_ + "' Depends | tr -d '\\n'").out;
  const std::regex entry(R"(([a-z0-9.+-]+) \(>= [^)]+\)(, |$))");
  for (std::sregex_iterator m(field.begin(), field.end(), entry), end; m != end; ++m) depends.insert((*m)[1]);
  EXPECT_EQ(depends, expected) << field;
  EXPECT_EQ(expected.count("libc6"), 1u);

  ASSERT_EQ(Shell("command -v lintian").exitCode, 0) << "no lintian (scripts/setup.sh installs it)";
  const Outcome lintian = Shell("lintian --fail-on error '" + deb_ + "'");
  EXPECT_EQ(lintian.exitCode, 0) << lintian.out;
  EXPECT_FALSE(std::regex_search(lintian.out, std::regex("(^|\n)E: "))) << lintian.out;
}

TEST_F(Package, InstallsWithDpkgWhereNetworkManagerAndPkgConfigFindIt) {
  if (geteuid() != 0) GTEST_SKIP() << "not root";
  EXPECT_EQ(RunInChild([&] {
              ASSERT_EQ(unshare(CLONE_NEWNS), 0);
              ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
              ASSERT_TRUE(MountTmpfs("/mnt"));
              for (const std::string d : {"usr", "var"}) {  // dpkg writes to both: throw-away layers
                std::filesystem::create_directories("/mnt/" + d + "/up");
                std::filesystem::create_directories("/mnt/" + d + "/work");
                const std::string options = "lowerdir=/" + d + ",upperdir=/mnt/" + d + "/up,workdir=/mnt/" + d + "/work";
                ASSERT_EQ(mount("overlay", ("/" + d).c_str(), "overlay", 0, options.c_str()), 0) << d;
              }
              if (Exists("/dev/log")) {
                ASSERT_EQ(mount("/dev/null", "/dev/log", nullptr, MS_BIND, nullptr), 0);
              }
              const std::string dpkg = "PATH=/usr/sbin:/usr/bin:/sbin:/bin dpkg ";
              Outcome r = Shell(dpkg + "-i '" + deb_ + "'");
              ASSERT_EQ(r.exitCode, 0) << r.out;
              // libnm finds the description, and the library it names.
              r = Shell("env -u HOME -u LD_LIBRARY_PATH kelctl plugin --without-glade");
              EXPECT_EQ(r.exitCode, 0) << r.out;
              EXPECT_NE(r.out.find("plugin file:  /" + kNameFile + "\nlibrary:      /" + kLibrary + "\n"),
                        std::string::npos) << r.out;
              // A client builds with the system's pkg-config alone, and runs.
              ASSERT_EQ(BuildExample(dir_.path(), ""), "");
              EXPECT_EQ(Shell("cd '" + dir_.path() + "' && env -u LD_LIBRARY_PATH ./kelvpn_client /dev/null").exitCode, 0);

              ASSERT_EQ(Shell(dpkg + "-r kelvpn").exitCode, 0);
              for (const auto &file : {std::string("usr/bin/kelctl"), kLibrary, kNameFile})
                EXPECT_FALSE(Exists("/" + file)) << file;
            }),
            0);
}

}  // namespace
}  // namespace kel::test
