// kelctl digest and HMAC against OpenSSL, and speed; then --check, --tag and
// name escaping against coreutils' *sum programs in the same folder: the same
// output, exit status and errors once the program name is swapped.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/wait.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "support/vectors.h"

namespace kel::test {
namespace {

struct Ran {
  int exit = -1;
  std::string out, err;
};

// Runs command lines in a folder of their own, standard output and error apart.
class InFolder : public ::testing::Test {
 protected:
  Ran Sh(const std::string &command, const std::string &input = "") {
    WriteFile(dir_ / "stdin", input);
    const int st = std::system(("cd " + dir_.path() + " && " + command + " <stdin >stdout 2>stderr").c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, ReadFile(dir_ / "stdout"), ReadFile(dir_ / "stderr")};
  }
  TempDir dir_;
};

class DigestCommand : public InFolder {
 protected:
  void SetUp() override {
    data_.resize(70000);
    for (size_t i = 0; i < data_.size(); ++i) data_[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(WriteFile(file_, data_));
  }
  std::string Openssl(const std::string &name, const std::string &key = "") {
    const EVP_MD *md = EVP_get_digestbyname(name.c_str());
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    const auto *d = reinterpret_cast<const unsigned char *>(data_.data());
    const Bytes k = FromHex(key);
    if (key.empty()) EVP_Digest(d, data_.size(), out, &len, md, nullptr);
    else HMAC(md, k.data(), static_cast<int>(k.size()), d, data_.size(), out, &len);
    return ToHex(out, len);
  }
  const std::string file_ = dir_ / "data.bin";
  std::string data_;
};

TEST_F(DigestCommand, EveryDigestAndHmacOfAFileOrStandardInputMatchesOpenssl) {
  for (const std::string name : {"md5", "sha1", "sha224", "sha256", "sha384", "sha512"})
    for (const std::string &key : {std::string(), std::string("00112233445566778899aabbccddeeff"), std::string(84, 'b')}) {
      const Ran r = Sh(kKelctl + " digest --algo " + name + (key.empty() ? "" : " --hmac-key " + key) + " " + file_);
      EXPECT_EQ(r.exit, 0) << r.err;
      EXPECT_EQ(r.out, Openssl(name, key) + "  " + file_ + "\n") << name << " key " << key;
    }
  EXPECT_EQ(Sh(kKelctl + " digest -a md5", data_).out, Openssl("MD5") + "  -\n");
}

// Every row of every table, each figure above zero (shown as N).
TEST_F(DigestCommand, SpeedHasAFigureOnEveryRow) {
  const Ran r = Sh(kKelctl + " speed");
  ASSERT_EQ(r.exit, 0) << r.err;
  const std::regex figure(" +(0*[1-9][0-9]*(\\.[0-9]+)?|0*\\.[0-9]*[1-9][0-9]*)( op/s)?\n");
  ExpectGolden("kelctl_speed", std::regex_replace(r.out, figure, " N\n"));
}

class DigestCheck : public InFolder, public ::testing::WithParamInterface<const char *> {
 protected:
  void SetUp() override {
    if (std::system(("command -v " + tool_ + " >/dev/null").c_str()) != 0) GTEST_SKIP() << "no " << tool_;
    for (const auto &[name, content] : std::vector<std::pair<std::string, std::string>>{
             {"plain", "plain text\n"}, {"with space", ""}, {"it's", "x"}, {"a:b", std::string(1000, 'z')}})
      ASSERT_TRUE(WriteFile(dir_ / name, content));
  }

  // Runs "<tool> ARGS" and "kelctl digest --algo ALGO ARGS" and compares.
  void Same(const std::string &args, const std::string &input = "") {
    const Ran want = Sh(tool_ + " " + args, input);
    const Ran got = Sh(kKelctl + " digest --algo " + algo_ + " " + args, input);
    const std::string err = std::regex_replace(got.err, std::regex("kelctl digest: "), tool_ + ": ");
    EXPECT_EQ(got.out, want.out) << tool_ << " " << args;
    EXPECT_EQ(err, want.err) << tool_ << " " << args;
    EXPECT_EQ(got.exit, want.exit) << tool_ << " " << args;
  }

  const std::string algo_ = GetParam(), tool_ = algo_ + "sum";
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
  const std::string good = Sh(tool_ + " plain 'with space' \"it's\" a:b").out;
  const std::string tagged = Sh(tool_ + " --tag plain a:b").out;
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
    for (const std::string options : {"", "--quiet ", "--status ", "--warn --strict ", "--ignore-missing "})
      Same("-c " + options + name);
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
