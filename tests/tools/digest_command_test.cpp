// kelctl digest against OpenSSL's digests of the same file: MD5 works before
// any self-test; the approved digests either match or report the gate.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/sandbox.h"
#include "support/vectors.h"

namespace kel::test {
namespace {

struct Result {
  int exit = -1;
  std::string out, err;
};

class DigestCommand;
void ExpectApprovedDigests(DigestCommand &t, const std::string &env, bool mustWork);

class DigestCommand : public ::testing::Test {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/kelctl_digest_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    data_.resize(70000);
    for (size_t i = 0; i < data_.size(); ++i) data_[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(WriteFile(dir_ + "/data.bin", data_));
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  Result Kelctl(const std::string &args, const std::string &stdinFile = "/dev/null", const std::string &env = "") {
    const std::string cmd = env + " '" + KEL_BINARY_DIR + "/tools/kelctl' digest " + args + " <'" + stdinFile +
                            "' >'" + dir_ + "/out' 2>'" + dir_ + "/err'";
    Result r;
    const int st = std::system(cmd.c_str());
    r.exit = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = ReadFile(dir_ + "/out");
    r.err = ReadFile(dir_ + "/err");
    return r;
  }

  std::string Openssl(const char *name, const std::string &key = "") {
    const EVP_MD *md = EVP_get_digestbyname(name);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    const auto *d = reinterpret_cast<const unsigned char *>(data_.data());
    if (key.empty()) {
      EVP_Digest(d, data_.size(), out, &len, md, nullptr);
    } else {
      const Bytes k = FromHex(key);
      HMAC(md, k.data(), static_cast<int>(k.size()), d, data_.size(), out, &len);
    }
    return ToHex(out, len);
  }

  std::string dir_, data_;
};

TEST_F(DigestCommand, Md5OfAFileAndOfStandardInputMatchOpenssl) {
  const std::string file = dir_ + "/data.bin";
  Result r = Kelctl("--algo md5 '" + file + "'");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, Openssl("MD5") + "  " + file + "\n");
  r = Kelctl("-a md5", file);
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, Openssl("MD5") + "  -\n");
  const std::string key = "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b";
  r = Kelctl("--algo md5 --hmac-key " + key + " '" + file + "'");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, Openssl("MD5", key) + "  " + file + "\n");
}

// Without a passed self-test the approved digests must say so (status
// -16508); once the library runs its self-test they must match OpenSSL.
void ExpectApprovedDigests(DigestCommand &t, const std::string &env, bool mustWork) {
  const std::string file = t.dir_ + "/data.bin";
  for (const char *name : {"sha1", "sha224", "sha256", "sha384", "sha512"}) {
    for (const std::string &key : {std::string(), std::string("00112233445566778899aabbccddeeff")}) {
      const Result r =
          t.Kelctl(std::string("--algo ") + name + (key.empty() ? "" : " --hmac-key " + key) + " '" + file + "'",
                   "/dev/null", env);
      if (mustWork) {
        EXPECT_EQ(r.exit, 0) << r.err;
      }
      if (r.exit == 0) {
        std::string upper = name;
        for (auto &c : upper) c = static_cast<char>(std::toupper(c));
        EXPECT_EQ(r.out, t.Openssl(upper.c_str(), key) + "  " + file + "\n") << name << " key " << key;
      } else {
        EXPECT_EQ(r.exit, 1) << name;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("power-up self-test has not passed (status -16508)"), std::string::npos) << r.err;
      }
    }
  }
}

TEST_F(DigestCommand, ApprovedDigestsMatchOrReportTheGate) { ExpectApprovedDigests(*this, "", false); }

// With a stand-in self-test preloaded (it opens the gate as a passing one
// does), the command runs it and every approved digest must match.
TEST_F(DigestCommand, ApprovedDigestsWorkOnceTheSelfTestPasses) {
  const std::string src = dir_ + "/selftest.c", so = dir_ + "/selftest.so";
  ASSERT_TRUE(WriteFile(src,
                        "#include <stdint.h>\n"
                        "extern int32_t gFIPS_powerupStatus;\n"
                        "int32_t FIPS_powerupSelfTest(void) { gFIPS_powerupStatus = 0; return 0; }\n"));
  if (std::system(("cc -shared -fPIC -o '" + so + "' '" + src + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no C compiler for the stand-in self-test";
  ExpectApprovedDigests(*this, "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" + so + "'", true);
}

TEST_F(DigestCommand, BadUsageAndMissingFiles) {
  EXPECT_EQ(Kelctl("--algo sha3 x").exit, 2);
  EXPECT_EQ(Kelctl("--algo md5 --hmac-key abc x").exit, 2);
  EXPECT_EQ(Kelctl("--algo md5 --hmac-key zz x").exit, 2);
  EXPECT_EQ(Kelctl("--bogus").exit, 2);
  const Result r = Kelctl("--algo md5 '" + dir_ + "/missing' '" + dir_ + "/data.bin'");
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("missing: No such file or directory"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, Openssl("MD5") + "  " + dir_ + "/data.bin\n");  // the other file is still hashed
}

}  // namespace
}  // namespace kel::test
