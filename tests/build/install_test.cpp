// `cmake --install` into a DESTDIR: the exact files and modes, a description
// naming the installed library, a kelctl that finds the library wherever the
// tree lies, a pkg-config file a C client builds with, and a manual page and
// completion that know every subcommand.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "build/install_layout.h"
#include "support/sandbox.h"

namespace kel::test {
namespace {

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    const Outcome r = Shell("DESTDIR='" + stage_ + "' '" KEL_CMAKE "' --install '" KEL_BINARY_DIR "' --prefix /usr");
    ASSERT_EQ(r.exitCode, 0) << r.out;
  }
  TempDir dir_;
  const std::string stage_ = dir_ / "stage";
};

TEST_F(Install, LaysOutEveryFileWithItsModeAndFindsItsLibrary) {
  EXPECT_EQ(TreeOf(stage_), ExpectedInstall());
  if (*KEL_MULTIARCH) {
    EXPECT_EQ(kPluginDir, "usr/lib/" KEL_MULTIARCH "/NetworkManager");
  }
  std::smatch m;
  const std::string name = ReadFile(stage_ + "/" + kNameFile);
  ASSERT_TRUE(std::regex_search(name, m, std::regex("\nplugin=(.*)"))) << name;
  EXPECT_EQ(m[1].str(), "/" + kLibrary);
  EXPECT_TRUE(Exists(stage_ + m[1].str()));
  // Run from the stage, kelctl takes the staged library, relative to itself.
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
  // The client runs the library's power-up self-test: MD5 and the approved
  // algorithms answer through the installed headers.
  Outcome r = Shell(run + "./kelvpn_client data");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("md5:    " + Shell(run + "md5sum data").out), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("power-up self-test status: 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sha256: " + Shell(run + "sha256sum data").out), std::string::npos) << r.out;
  EXPECT_NE(ReadFile(dir_ / "app-kel.log").find("[CLI INFO main():kelvpn_client:"), std::string::npos);
  EXPECT_NE(r.out.find("100000 bytes encrypted, tag "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("decrypted: same as the file"), std::string::npos) << r.out;
}

TEST_F(Install, ManualPageAndCompletionKnowEveryCommand) {
  const std::string page = stage_ + "/usr/share/man/man1/kelctl.1.gz", source = Shell("zcat '" + page + "'").out;
  // Rendered as lintian renders it, and by groff with every warning on.
  EXPECT_EQ(Shell("LC_ALL=C.UTF-8 MANROFFSEQ='' man --warnings -E UTF-8 -l -Tutf8 -Z '" + page + "' >/dev/null").out, "");
  EXPECT_EQ(Shell("zcat '" + page + "' | groff -ww -man -Tutf8 -z").out, "");
  for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "EXIT STATUS", "FILES", "EXAMPLES"})
    EXPECT_NE(source.find(std::string("\n.SH ") + section + "\n"), std::string::npos) << section;

  auto complete = [&](const std::string &words) {  // the words after "kelctl", between blanks
    return Shell("cd '" + dir_.path() + "' && bash -c 'source " + stage_ +
                 "/usr/share/bash-completion/completions/kelctl; COMP_WORDS=(kelctl " + words +
                 "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kelctl; echo -n \" ${COMPREPLY[*]} \"'").out;
  };
  // Each command of kelctl --help, with the options of its usage line.
  std::istringstream help(Shell(KEL_BINARY_DIR "/tools/kelctl --help").out);
  int commands = 0;
  const std::regex optionPattern("--[a-z-]+");
  for (std::string line; std::getline(help, line);) {
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

}  // namespace
}  // namespace kel::test
