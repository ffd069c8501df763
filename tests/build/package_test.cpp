// The Debian package `cpack -G DEB` makes from this build: the same files and
// modes as the install, all root's; Depends as dpkg-shlibdeps finds them;
// lintian without errors; and, installed with dpkg in a private view of /usr
// and /var, a plugin NetworkManager's loader finds and a pkg-config file a
// client builds with, all gone again after dpkg -r.
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

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

unsigned ModeBits(const std::string &ls) {  // "-rwxr-xr-x" -> 0755
  unsigned mode = 0;
  for (size_t i = 1; i < 10; ++i) mode = mode << 1 | (ls[i] != '-');
  return mode;
}

class Package : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef KEL_SANITIZED
    GTEST_SKIP() << "the package is made from a release build";
#endif
    char dir[] = "/tmp/kel-package-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    const ShellRun r = Sh("'" KEL_CPACK "' -G DEB --config '" KEL_BINARY_DIR "/CPackConfig.cmake' -B '" + root_ + "'");
    ASSERT_EQ(r.exit, 0) << r.out;
    deb_ = root_ + "/kelvpn_" KEL_VERSION "_" + Sh("dpkg --print-architecture").out;
    deb_.back() = '.';  // the architecture's line end
    deb_ += "deb";
    ASSERT_TRUE(Exists(deb_)) << r.out;
  }
  void TearDown() override {
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }
  std::string Field(const std::string &name) { return Sh("dpkg-deb -f '" + deb_ + "' " + name).out; }

  std::string root_, deb_;
};

TEST_F(Package, HoldsTheInstallOwnedByRootAndPassesLintian) {
  std::map<std::string, unsigned> contents;
  for (const auto &line : Lines(Sh("dpkg-deb -c '" + deb_ + "'").out)) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    fields >> mode >> owner >> size >> date >> time >> path;
    EXPECT_EQ(owner, "root/root") << line;
    if (path.back() == '/') path.pop_back();
    contents[path.substr(2)] = ModeBits(mode);
  }
  EXPECT_EQ(contents, ExpectedInstall());

  EXPECT_EQ(Field("Package"), "kelvpn\n");
  EXPECT_EQ(Field("Version"), KEL_VERSION "\n");
  EXPECT_NE(Field("Description").find("\n ."), std::string::npos);  // a synopsis and paragraphs

  // Depends: one versioned entry per package that ships a library the
  // binaries name (besides our own), found here with dpkg -S.
  std::set<std::string> expected, depends;
  ASSERT_TRUE(std::filesystem::create_directories(root_ + "/x"));
  ASSERT_EQ(Sh("dpkg-deb -x '" + deb_ + "' '" + root_ + "/x'").exit, 0);
  for (const std::string &binary : {std::string("usr/bin/kelctl"), kLibrary}) {
    const std::string needed = Sh("readelf -d '" + root_ + "/x/" + binary + "'").out;
    static const std::regex kNeeded(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
    for (std::sregex_iterator m(needed.begin(), needed.end(), kNeeded), end; m != end; ++m) {
      const std::string lib = (*m)[1];
      if (lib == "libnm-kelvpn-properties.so") continue;
      const std::string owner = Sh("p=$(/sbin/ldconfig -p | grep -m1 '" + lib +
                                   " (' | sed 's/.* => //'); dpkg -S \"$p\" 2>/dev/null || dpkg -S \"/usr$p\"")
                                    .out;
      ASSERT_NE(owner.find(": /"), std::string::npos) << lib << ": " << owner;
      expected.insert(owner.substr(0, owner.find_first_of(":")));
    }
  }
  std::istringstream list(std::regex_replace(Field("Depends"), std::regex("\n"), ""));
  for (std::string e; std::getline(list, e, ',');) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(e, m, std::regex(R"(\s*([a-z0-9.+-]+) \(>= [^)]+\))"))) << e;
    depends.insert(m[1]);
  }
  EXPECT_EQ(depends, expected);
  EXPECT_TRUE(expected.count("libc6"));

  ASSERT_EQ(Sh("command -v lintian").exit, 0) << "lintian is missing (scripts/setup.sh installs it)";
  const ShellRun lintian = Sh("lintian --fail-on error '" + deb_ + "'");
  EXPECT_EQ(lintian.exit, 0) << lintian.out;
  EXPECT_FALSE(std::regex_search(lintian.out, std::regex("(^|\n)E: "))) << lintian.out;
}

TEST_F(Package, InstallsWithDpkgWhereNetworkManagerAndPkgConfigFindIt) {
  if (geteuid() != 0) GTEST_SKIP() << "not root";
  const int status = RunInChild([&] {
    // dpkg writes to /usr and /var: both get a throw-away layer.
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_TRUE(MountTmpfs("/mnt"));
    for (const std::string dir : {"usr", "var"}) {
      const std::string upper = "/mnt/" + dir, work = "/mnt/" + dir + "-work";
      ASSERT_TRUE(std::filesystem::create_directories(upper) && std::filesystem::create_directories(work));
      const std::string options = "lowerdir=/" + dir + ",upperdir=" + upper + ",workdir=" + work;
      ASSERT_EQ(mount("overlay", ("/" + dir).c_str(), "overlay", 0, options.c_str()), 0) << dir;
    }
    if (Exists("/dev/log")) {  // the plugin's system-log lines stay here
      ASSERT_EQ(mount("/dev/null", "/dev/log", nullptr, MS_BIND, nullptr), 0);
    }
    const std::string path = "PATH=/usr/sbin:/usr/bin:/sbin:/bin ";
    ShellRun r = Sh(path + "dpkg -i '" + deb_ + "'");
    ASSERT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(Sh("dpkg-query -W -f='${Status}' kelvpn").out, "install ok installed");
    std::set<std::string> listed, expected;
    for (const auto &line : Lines(Sh("dpkg -L kelvpn").out)) listed.insert(line);
    for (const auto &entry : ExpectedInstall()) expected.insert("/" + entry.first);
    EXPECT_EQ(listed, expected);

    // NetworkManager's loader, through libnm, finds the description and the
    // library it names.
    r = Sh("env -u HOME -u LD_LIBRARY_PATH /usr/bin/kelctl plugin --without-glade");
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_NE(r.out.find("plugin file:  /" + kNameFile), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("library:      /" + kLibrary), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("service:      org.freedesktop.NetworkManager.KelVpn"), std::string::npos) << r.out;

    // A client builds with the system's pkg-config alone and runs.
    ASSERT_EQ(BuildExample(root_, ""), "");
    ASSERT_TRUE(WriteFile(root_ + "/data", "packaged\n"));
    r = Sh("cd '" + root_ + "' && env -u LD_LIBRARY_PATH ./kelvpn_client data");
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_NE(r.out.find("md5:    " + Sh("cd '" + root_ + "' && md5sum data").out), std::string::npos) << r.out;

    r = Sh(path + "dpkg -r kelvpn");
    ASSERT_EQ(r.exit, 0) << r.out;
    for (const auto &file : {std::string("usr/bin/kelctl"), kLibrary, kNameFile})
      EXPECT_FALSE(Exists("/" + file)) << file;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace kel::test
