// kelctl digest against OpenSSL's digests of the same file, the approved
// digests behind the self-test kelctl runs at start.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/wait.h>

#include <cstdlib>

#include "support/vectors.h"
#include "tests/log/log_test_util.h"

namespace kel::test {
namespace {

struct Result {
  int exit = -1;
  std::string out, err;
};

// The MB/s figure on the table row of name: 0 when the row has none, -1
// when there is no such row.
double SpeedFigure(const std::string &table, const std::string &name) {
  size_t at = table.find("\n" + name + "  ");
  if (at == std::string::npos) return -1;
  at = table.find_first_not_of(' ', at + 1 + name.size());
  return std::strtod(table.c_str() + at, nullptr);
}

class DigestCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    data_.resize(70000);
    for (size_t i = 0; i < data_.size(); ++i) data_[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(WriteFile(file_, data_));
  }

  Result Kelctl(const std::string &args, const std::string &env = "", const std::string &stdinFile = "/dev/null") {
    const std::string cmd = env + " '" + KEL_BINARY_DIR + "/tools/kelctl' " + args + " <'" + stdinFile + "' >'" +
                            dir_ / "out" + "' 2>'" + dir_ / "err" + "'";
    const int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, ReadFile(dir_ / "out"), ReadFile(dir_ / "err")};
  }

  std::string Openssl(const std::string &name, const std::string &key = "") {
    const EVP_MD *md = EVP_get_digestbyname(name.c_str());  // lower-case names work too
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    const auto *d = reinterpret_cast<const unsigned char *>(data_.data());
    const Bytes k = FromHex(key);
    if (key.empty())
      EVP_Digest(d, data_.size(), out, &len, md, nullptr);
    else
      HMAC(md, k.data(), static_cast<int>(k.size()), d, data_.size(), out, &len);
    return ToHex(out, len);
  }

  // kelctl runs the library's self-test: the approved digests match OpenSSL.
  void ExpectApprovedDigests() {
    for (const std::string name : {"sha1", "sha224", "sha256", "sha384", "sha512"}) {
      for (const std::string &key : {std::string(), std::string("00112233445566778899aabbccddeeff")}) {
        const Result r = Kelctl("digest --algo " + name + (key.empty() ? "" : " --hmac-key " + key) + " " + file_);
        EXPECT_EQ(r.exit, 0) << r.err;
        EXPECT_EQ(r.out, Openssl(name, key) + "  " + file_ + "\n") << name << " key " << key;
      }
    }
  }

  TempDir dir_;
  const std::string file_ = dir_ / "data.bin";
  std::string data_;
};

TEST_F(DigestCommand, Md5OfAFileAndOfStandardInputMatchOpenssl) {
  Result r = Kelctl("digest --algo md5 " + file_);
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, Openssl("MD5") + "  " + file_ + "\n");
  r = Kelctl("digest -a md5", "", file_);
  EXPECT_EQ(r.out, Openssl("MD5") + "  -\n");
  const std::string key(84, 'b');
  r = Kelctl("digest --algo md5 --hmac-key " + key + " " + file_);
  EXPECT_EQ(r.out, Openssl("MD5", key) + "  " + file_ + "\n");
}

// Before the self-test only MD5 and RC2 (not gated) are sure to have a speed figure.
// kelctl opens the gate with the library's self-test: every approved digest
// must match, and the throughput table has a figure on every row.
TEST_F(DigestCommand, ApprovedDigestsAndSpeed) {
  ExpectApprovedDigests();
  const Result r = Kelctl("speed");
  ASSERT_EQ(r.exit, 0) << r.err;
  for (const char *name : {"md5", "sha1", "sha224", "sha256", "sha384", "sha512", "hmac-sha256 (64 B)", "aes-128-ecb",
                           "aes-128-cbc", "aes-128-ctr", "aes-128-gcm", "aes-128-gcm (64 B)", "aes-128-ccm",
                           "aes-128-xts", "3des-cbc", "rc2-cbc"})
    EXPECT_GT(SpeedFigure(r.out, name), 0) << name << "\n" << r.out;
}

TEST_F(DigestCommand, BadUsageAndMissingFiles) {
  for (const char *args : {"--algo sha3 x", "--algo md5 --hmac-key abc x", "--algo md5 --hmac-key zz x", "--bogus"})
    EXPECT_EQ(Kelctl(std::string("digest ") + args).exit, 2) << args;
  const Result r = Kelctl("digest --algo md5 " + dir_ / "missing" + " " + file_);
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("missing: No such file or directory"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, Openssl("MD5") + "  " + file_ + "\n");  // the other file is still hashed
}

}  // namespace
}  // namespace kel::test
