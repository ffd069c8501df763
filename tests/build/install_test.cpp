// The install tree, from which kelctl and a C client run, and the Debian package
// as dpkg, lintian and NetworkManager's loader see it.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/sandbox.h"

namespace kel::test {
namespace {

const std::string kPluginDir = std::string("usr/") + KEL_LIBDIR + "/NetworkManager";
const std::string kLibrary = kPluginDir + "/libnm-kelvpn-properties.so";
const std::string kNameFile = std::string(KEL_VPN_SERVICE_DIR).substr(1) + "/nm-kelvpn-service.name";

// Every file and folder relative to the root with its mode: folders and kelctl
// 0755, the rest 0644 (libnm refuses a plugin that group or others may write).
std::map<std::string, unsigned> ExpectedInstall() {
  std::map<std::string, unsigned> all = {
      {"usr/bin/kelctl", 0755}, {kLibrary, 0644}, {kNameFile, 0644},
      {std::string("usr/") + KEL_LIBDIR + "/pkgconfig/kelvpn.pc", 0644},
      {"usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade", 0644},
      {"usr/share/man/man1/kelctl.1.gz", 0644}, {"usr/share/bash-completion/completions/kelctl", 0644},
      {"usr/share/doc/kelvpn/copyright", 0644}, {"usr/share/doc/kelvpn/changelog.gz", 0644}};
  for (const auto &h : std::filesystem::directory_iterator(KEL_SOURCE_DIR "/include/kel"))
    all["usr/include/kel/" + h.path().filename().string()] = 0644;
  for (const auto &[path, mode] : std::map(all))
    for (auto dir = std::filesystem::path(path).parent_path(); !dir.empty(); dir = dir.parent_path())
      all[dir.string()] = 0755;
  return all;
}

// The example client built in dir with the given pkg-config environment: "" or the compiler's words.
std::string BuildExample(const std::string &dir, const std::string &pkgConfigEnv) {
  const Outcome r = Shell(pkgConfigEnv + " make -s -C '" + dir + "' -f '" KEL_SOURCE_DIR "/examples/Makefile' SRC='" +
                          KEL_SOURCE_DIR "/examples' CFLAGS='-O2 -Wall -Wextra -Werror -std=c99'");
  return r.exitCode == 0 ? "" : r.out;
}

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    const Outcome r = Shell("DESTDIR='" + stage_ + "' '" KEL_CMAKE "' --install '" KEL_BINARY_DIR "' --prefix /usr");
    ASSERT_EQ(r.exitCode, 0) << r.out;
  }
  TempDir dir_;
  const std::string stage_ = dir_ / "stage";
};

// (The description's path to the library is the dpkg test's.)
TEST_F(Install, KelctlFindsTheLibraryFromItsOwnPlace) {
  if (*KEL_MULTIARCH) { EXPECT_EQ(kPluginDir, "usr/lib/" KEL_MULTIARCH "/NetworkManager"); }
  const std::string kelctl = " '" + stage_ + "/usr/bin/kelctl'", bare = "env -u LD_LIBRARY_PATH ";
  EXPECT_NE(Shell(bare + "ldd" + kelctl).out.find("=> " + stage_ + "/usr/bin/../" + kLibrary.substr(4) + " "),
            std::string::npos);
  EXPECT_EQ(Shell(bare + kelctl + " --version").out.rfind("kelctl (kelvpn) " KEL_VERSION "\n", 0), 0u);
}

TEST_F(Install, ExampleClientBuildsWithPkgConfigAndRuns) {
  const std::string pc = "PKG_CONFIG_SYSROOT_DIR='" + stage_ + "' PKG_CONFIG_LIBDIR='" + stage_ + "/usr/" KEL_LIBDIR
                         "/pkgconfig'";
  EXPECT_EQ(Shell(pc + " pkg-config --modversion kelvpn").out, KEL_VERSION "\n");
  ASSERT_EQ(BuildExample(dir_.path(), pc), "");
  ASSERT_TRUE(WriteFile(dir_ / "data", std::string(100000, 'k')));
  // (A sanitizer build's library brings its runtime to this plain C program.)
  const std::string run = "cd '" + dir_.path() + "' && ASAN_OPTIONS=verify_asan_link_order=0 LD_LIBRARY_PATH='" +
                          stage_ + "/" + kPluginDir + "' ";
  // The self-test, MD5 and the approved algorithms answer through the installed headers
  // (in a program without GLib: the plugin's references to it must bind lazily).
  const Outcome r = Shell(run + "./kelvpn_client data");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  for (const std::string &line : {"md5:    " + Shell(run + "md5sum data").out, "sha256: " + Shell(run + "sha256sum data").out,
                                  std::string("power-up self-test status: 0\n"), std::string("100000 bytes encrypted, tag "),
                                  std::string("decrypted: same as the file")})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin\n" << r.out;
  EXPECT_NE(ReadFile(dir_ / "app-kel.log").find("[CLI INFO main():kelvpn_client:"), std::string::npos);
}

TEST_F(Install, ManualPageAndCompletionKnowEveryCommand) {
  const std::string page = stage_ + "/usr/share/man/man1/kelctl.1.gz", source = Shell("zcat '" + page + "'").out;
  // Rendered as lintian renders it, and by groff with every warning on.
  EXPECT_EQ(Shell("LC_ALL=C.UTF-8 MANROFFSEQ='' man --warnings -E UTF-8 -l -Tutf8 -Z '" + page + "' >/dev/null").out, "");
  EXPECT_EQ(Shell("zcat '" + page + "' | groff -ww -man -Tutf8 -z").out, "");

  auto complete = [&](const std::string &words) {  // the words after "kelctl", between blanks
    return Shell("cd '" + dir_.path() + "' && bash -c 'source " + stage_ +
                 "/usr/share/bash-completion/completions/kelctl; COMP_WORDS=(kelctl " + words +
                 "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kelctl; echo -n \" ${COMPREPLY[*]} \"'").out;
  };
  // Each command of kelctl --help, with the options of its usage line.
  int commands = 0;
  const std::regex optionPattern("--[a-z-]+");
  for (const std::string &line : SplitLines(Shell(kKelctl + " --help").out)) {
    std::smatch m;
    if (!std::regex_match(line, m, std::regex("  ([a-z][a-z0-9-]*)( .*)?"))) continue;
    const std::string name = m[1], usage = m[2], options = complete(name + " --");
    ++commands;
    EXPECT_NE(source.find("\n.SS \"" + name + (usage.size() > 1 ? " " : "\"")), std::string::npos) << name;
    EXPECT_NE(complete(name.substr(0, 2)).find(" " + name + " "), std::string::npos) << name;
    for (std::sregex_iterator o(usage.begin(), usage.end(), optionPattern), end; o != end; ++o)
      EXPECT_NE(options.find(" " + o->str() + " "), std::string::npos) << o->str();
  }
  EXPECT_GE(commands, 7);
  EXPECT_EQ(complete("digest --algo sha5"), " sha512 ");
  ASSERT_TRUE(WriteFile(dir_ / "stuff", ""));
  EXPECT_EQ(complete("archive st"), " stage ");  // folders only
  const std::string both = complete("digest --check st");
  EXPECT_TRUE(both == " stage stuff " || both == " stuff stage ") << both;
}

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
}

TEST_F(Package, InstallsWithDpkgWhereNetworkManagerAndPkgConfigFindIt) {
  if (geteuid() != 0) GTEST_SKIP() << "not root";
  EXPECT_EQ(0, RunInChild([&] {
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_TRUE(MountTmpfs("/mnt"));
    for (const std::string d : {"usr", "var"}) {  // dpkg writes to both: throw-away layers
      std::filesystem::create_directories("/mnt/" + d + "/up");
      std::filesystem::create_directories("/mnt/" + d + "/work");
      const std::string options = "lowerdir=/" + d + ",upperdir=/mnt/" + d + "/up,workdir=/mnt/" + d + "/work";
      ASSERT_EQ(mount("overlay", ("/" + d).c_str(), "overlay", 0, options.c_str()), 0) << d;
    }
    ASSERT_TRUE(SilenceSystemLog());
    const std::string dpkg = "PATH=/usr/sbin:/usr/bin:/sbin:/bin dpkg ";
    Outcome r = Shell(dpkg + "-i '" + deb_ + "'");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    // libnm finds the description, and loads the library it names.
    r = Shell("env -u HOME -u LD_LIBRARY_PATH kelctl plugin --without-glade");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("plugin file:  /" + kNameFile + "\nlibrary:      /" + kLibrary + "\n"), std::string::npos) << r.out;
    // A client builds with the system's pkg-config alone, and runs.
    ASSERT_EQ(BuildExample(dir_.path(), ""), "");
    EXPECT_EQ(Shell("cd '" + dir_.path() + "' && env -u LD_LIBRARY_PATH ./kelvpn_client /dev/null").exitCode, 0);
    ASSERT_EQ(Shell(dpkg + "-r kelvpn").exitCode, 0);
    for (const auto &file : {std::string("usr/bin/kelctl"), kLibrary, kNameFile}) EXPECT_FALSE(Exists("/" + file)) << file;
  }));
}

}  // namespace
}  // namespace kel::test
