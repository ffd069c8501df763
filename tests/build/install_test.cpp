// `cmake --install` into a DESTDIR as a user or a package build runs it: the
// exact files and modes, a description naming the installed library, a
// kelctl that finds the library from wherever the tree lies, a pkg-config
// file a C client builds with, and a manual page and completion that know
// every subcommand.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "build/install_layout.h"
#include "support/sandbox.h"
#include "support/selftest_standin.h"

namespace kel::test {
namespace {

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kel-install-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    stage_ = root_ + "/stage";
    const std::string failure = InstallInto(stage_);
    ASSERT_EQ(failure, "");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::string root_, stage_;
};

TEST_F(Install, LaysOutEveryFileWithItsModeAndFindsItsLibrary) {
  EXPECT_EQ(TreeOf(stage_), ExpectedInstall());
  if (std::string(KEL_MULTIARCH) != "") {
    EXPECT_EQ(kPluginDir, "usr/lib/" KEL_MULTIARCH "/NetworkManager");
  }

  // The description names the installed library by its absolute path.
  const std::string name = ReadFile(stage_ + "/" + kNameFile);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(name, m, std::regex("\nplugin=(.*)\n?"))) << name;
  EXPECT_EQ(m[1].str(), "/" + kLibrary);
  EXPECT_TRUE(Exists(stage_ + m[1].str()));

  // kelctl reaches the library relative to itself: run from the stage, it
  // uses the staged copy.
  EXPECT_NE(Sh("readelf -d '" + stage_ + "/usr/bin/kelctl'").out.find("[$ORIGIN/../" KEL_LIBDIR "/NetworkManager]"),
            std::string::npos);
  const ShellRun version = Sh("env -u LD_LIBRARY_PATH '" + stage_ + "/usr/bin/kelctl' --version");
  EXPECT_EQ(version.exit, 0);
  EXPECT_EQ(version.out.rfind("kelctl (kelvpn) " KEL_VERSION "\n", 0), 0u) << version.out;
  EXPECT_NE(Sh("env -u LD_LIBRARY_PATH ldd '" + stage_ + "/usr/bin/kelctl'")
                .out.find("libnm-kelvpn-properties.so => " + stage_ + "/usr/bin/../" KEL_LIBDIR
                          "/NetworkManager/libnm-kelvpn-properties.so "),
            std::string::npos);
}

TEST_F(Install, ExampleClientBuildsWithPkgConfigAndRuns) {
  const std::string pc = "PKG_CONFIG_SYSROOT_DIR='" + stage_ + "' PKG_CONFIG_LIBDIR='" + stage_ + "/usr/" KEL_LIBDIR
                         "/pkgconfig'";
  EXPECT_EQ(Sh(pc + " pkg-config --modversion kelvpn").out, KEL_VERSION "\n");
  ASSERT_EQ(BuildExample(root_, pc), "");

  ASSERT_TRUE(WriteFile(root_ + "/data", std::string(100000, 'k') + "end\n"));
  const std::string run = "cd '" + root_ + "' && LD_LIBRARY_PATH='" + stage_ + "/" + kPluginDir + "' ";
  const std::string md5 = Sh("cd '" + root_ + "' && md5sum data").out;
  const std::string sha256 = Sh("cd '" + root_ + "' && sha256sum data").out;
  // Before any self-test: MD5 answers, the approved algorithms say why not.
  ShellRun r = Sh(run + "./kelvpn_client data");
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_NE(r.out.find("md5:    " + md5), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sha256: not available: the power-up self-test has not passed (status -16508)"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("aes-256-gcm: not available"), std::string::npos) << r.out;
  EXPECT_NE(ReadFile(root_ + "/app-kel.log").find("[CLI INFO main():kelvpn_client:"), std::string::npos);

  // Once the gate is open, SHA-256 and AES-GCM work through the same headers.
  const std::string standIn = StandInSelfTest(root_);
  if (standIn.empty()) GTEST_SKIP() << "no C compiler for the stand-in self-test";
  r = Sh(run + standIn + "./kelvpn_client data");
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_NE(r.out.find("sha256: " + sha256), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("aes-256-gcm: 100004 bytes encrypted"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("decrypted: same as the file"), std::string::npos) << r.out;
}

// The subcommands kelctl --help lists, each with the options of its usage line.
std::map<std::string, std::set<std::string>> HelpCommands() {
  std::map<std::string, std::set<std::string>> commands;
  std::istringstream help(Sh(KEL_BINARY_DIR "/tools/kelctl --help").out);
  static const std::regex kCommand("^  ([a-z][a-z0-9-]*)( .*)?$"), kOption("--[a-z][a-z-]*");
  for (std::string line; std::getline(help, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, kCommand)) continue;
    std::set<std::string> &options = commands[m[1]];
    const std::string usage = m[2];
    for (std::sregex_iterator o(usage.begin(), usage.end(), kOption), end; o != end; ++o) options.insert(o->str());
  }
  return commands;
}

TEST_F(Install, ManualPageAndCompletionCoverEveryCommand) {
  const std::string page = stage_ + "/usr/share/man/man1/kelctl.1.gz";
  // As lintian renders it, and groff with every warning on.
  EXPECT_EQ(Sh("LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z '" + page + "' >/dev/null")
                .out,
            "");
  EXPECT_EQ(Sh("zcat '" + page + "' | groff -ww -man -Tutf8 -z").out, "");
  const std::string source = Sh("zcat '" + page + "'").out;
  for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "EXIT STATUS", "FILES", "EXAMPLES"})
    EXPECT_TRUE(std::regex_search(source, std::regex(std::string("\n\\.SH \"?") + section + "\"?\n"))) << section;

  const std::string completion = stage_ + "/usr/share/bash-completion/completions/kelctl";
  auto complete = [&](const std::string &words) {
    const std::string script = "source '" + completion + "'; COMP_WORDS=(" + words +
                               "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kelctl; for w in \"${COMPREPLY[@]}\"; do echo \"$w\"; done";
    return Sh("cd '" + root_ + "' && bash -c '" + std::regex_replace(script, std::regex("'"), "'\\''") + "'").out;
  };
  const auto commands = HelpCommands();
  ASSERT_GE(commands.size(), 7u);
  for (const auto &[name, options] : commands) {
    EXPECT_NE(source.find("\n.SS \"" + name), std::string::npos) << name << " has no entry in the manual page";
    EXPECT_NE(complete("kelctl " + name.substr(0, name.size() - 1)).find(name + "\n"), std::string::npos) << name;
    const std::string offered = complete("kelctl " + name + " --");
    for (const auto &option : options)
      EXPECT_NE(offered.find(option + "\n"), std::string::npos) << name << " " << option << " is not completed";
  }
  // Option values, folders and files.
  EXPECT_EQ(complete("kelctl digest --algo sha5"), "sha512\n");
  EXPECT_EQ(complete("kelctl random --generator f"), "fips186\n");
  EXPECT_EQ(complete("kelctl archive s"), "stage\n");  // a folder; no files
  ASSERT_TRUE(WriteFile(root_ + "/stuff.txt", ""));
  EXPECT_EQ(complete("kelctl archive s"), "stage\n");
  EXPECT_EQ(complete("kelctl digest --check stu"), "stuff.txt\n");
  EXPECT_EQ(complete("kelctl enc --key s"), "");  // free text
}

}  // namespace
}  // namespace kel::test
