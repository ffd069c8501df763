// kelctl digest --check, --tag and name escaping against coreutils' md5sum,
// sha1sum, sha256sum and sha512sum: both run on the same lists in the same
// folder; standard output must be byte for byte the same, the exit status
// the same, and standard error the same once the program name is swapped.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/log/log_test_util.h"

namespace kel::test {
namespace {

struct Ran {
  int exit = -1;
  std::string out, err;
};

class DigestCheck : public ::testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    algo_ = GetParam();
    tool_ = algo_ + "sum";
    if (std::system(("command -v " + tool_ + " >/dev/null").c_str()) != 0) GTEST_SKIP() << "no " << tool_;
    for (const auto &[name, content] : kFiles) ASSERT_TRUE(WriteFile(dir_ / name, content));
  }

  Ran Sh(const std::string &command, const std::string &input = "") {
    WriteFile(dir_ / "stdin", input);
    const int st = std::system(("cd " + dir_.path() + " && " + command + " <stdin >stdout 2>stderr").c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, ReadFile(dir_ / "stdout"), ReadFile(dir_ / "stderr")};
  }

  // Runs "<tool> ARGS" and "kelctl digest --algo ALGO ARGS" and compares.
  void Same(const std::string &args, const std::string &input = "") {
    const Ran want = Sh(tool_ + " " + args, input);
    const Ran got = Sh(KEL_BINARY_DIR "/tools/kelctl digest --algo " + algo_ + " " + args, input);
    std::string err = got.err;
    for (size_t at; (at = err.find("kelctl digest: ")) != std::string::npos;) err.replace(at, 15, tool_ + ": ");
    EXPECT_EQ(got.out, want.out) << tool_ << " " << args;
    EXPECT_EQ(err, want.err) << tool_ << " " << args;
    EXPECT_EQ(got.exit, want.exit) << tool_ << " " << args;
  }

  std::string Sum(const std::string &args) { return Sh(tool_ + " " + args).out; }

  const std::vector<std::pair<std::string, std::string>> kFiles = {
      {"plain", "plain text\n"}, {"with space", ""}, {"it's", "x"}, {"a:b", std::string(1000, 'z')}};
  TempDir dir_;
  std::string algo_, tool_;
};

TEST_P(DigestCheck, PrintsTheSameLinesAsCoreutils) {
  const std::string names = "plain 'with space' \"it's\" a:b";
  Same(names);
  Same("--tag " + names);
  Same("- plain -", "from standard input");
  // Names that would break a line are escaped; missing files are named quoted.
  ASSERT_TRUE(WriteFile(dir_ / "back\\slash", "1"));
  ASSERT_TRUE(WriteFile(dir_ / "new\nline", "2"));
  ASSERT_TRUE(WriteFile(dir_ / "carriage\rreturn", "3"));
  Same("'back\\slash' 'new\nline' 'carriage\rreturn'");
  Same("--tag 'back\\slash' 'new\nline'");
  Same("plain missing 'no such' \"it's gone\" 'dollar$' '' 'tab\there'");
}

TEST_P(DigestCheck, ChecksListsAsCoreutilsDoes) {
  const std::string good = Sum("plain 'with space' \"it's\" a:b");
  const std::string tagged = Sum("--tag plain a:b");
  std::string corrupted = good;
  corrupted[3] = corrupted[3] == '0' ? '1' : '0';
  const std::string line = good.substr(0, good.find('\n') + 1);  // "<hex>  plain\n"
  const std::string hex = line.substr(0, line.find(' '));
  std::string upper = hex;
  for (char &c : upper) c = static_cast<char>(std::toupper(c));
  const std::string missing = hex + "  gone\n" + hex + "  'quoted name'\n";
  const std::string malformed = "# a comment\n\n" + hex.substr(1) + "  plain\n" + "not a digest line\n" + hex + "\n" +
                                hex + "\tplain\n" + "  " + hex + "  plain\r\n" + upper + " *plain\n" +
                                "SHA1024 (plain) = " + hex + "\n";
  const std::vector<std::pair<std::string, std::string>> lists = {
      {"good", good},
      {"tagged", tagged + "\\" + tagged},
      {"corrupted", corrupted},
      {"missing", good + missing},
      {"malformed", malformed},
      {"reversed", hex + " plain\n" + hex + "  plain\n"},
      {"nothing", "# only a comment\n\nrubbish\n"},
  };
  for (const auto &[name, text] : lists) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(WriteFile(dir_ / name, text));
    Same("-c " + name);
    Same("-c --quiet " + name);
    Same("-c --status " + name);
    Same("-c --warn --strict " + name);
    Same("-c --ignore-missing " + name);
    Same("-c", text);
  }
  // Several lists at once, one of them absent; a list naming standard input.
  Same("-c good corrupted absent missing");
  Same("-c -", line + hex + "  -\n");
  Same("-c good", "");
  // A folder where a file or a list should be.
  ASSERT_EQ(std::system(("mkdir " + dir_ / "folder").c_str()), 0);
  Same("-c folder");
  ASSERT_TRUE(WriteFile(dir_ / "names-folder", hex + "  folder\n"));
  Same("-c names-folder");
}

INSTANTIATE_TEST_SUITE_P(Coreutils, DigestCheck, ::testing::Values("md5", "sha1", "sha256", "sha512"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
}  // namespace kel::test
