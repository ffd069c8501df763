// kelctl digest against OpenSSL's digests of the same file (the command runs
// the power-up self-test itself before the approved digests), and speed.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <regex>

#include "support/sandbox.h"
#include "support/vectors.h"

namespace kel::test {
namespace {

class DigestCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    data_.resize(70000);
    for (size_t i = 0; i < data_.size(); ++i) data_[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(WriteFile(file_, data_));
  }
  // Standard output only; *err gets standard error.
  Outcome Run(const std::string &args, std::string *err = nullptr, const std::string &in = "/dev/null") {
    Outcome r = Shell("(" + kKelctl + " " + args + " <'" + in + "' 2>'" + dir_ / "err" + "')");
    if (err) *err = ReadFile(dir_ / "err");
    return r;
  }
  std::string Openssl(const std::string &name, const std::string &key = "") {
    const EVP_MD *md = EVP_get_digestbyname(name.c_str());
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
  TempDir dir_;
  const std::string file_ = dir_ / "data.bin";
  std::string data_;
};

TEST_F(DigestCommand, EveryDigestAndHmacOfAFileOrStandardInputMatchesOpenssl) {
  for (const std::string name : {"md5", "sha1", "sha224", "sha256", "sha384", "sha512"})
    for (const std::string &key : {std::string(), std::string("00112233445566778899aabbccddeeff"), std::string(84, 'b')}) {
      std::string err;
      const Outcome r = Run("digest --algo " + name + (key.empty() ? "" : " --hmac-key " + key) + " " + file_, &err);
      EXPECT_EQ(r.exitCode, 0) << err;
      EXPECT_EQ(r.out, Openssl(name, key) + "  " + file_ + "\n") << name << " key " << key;
    }
  EXPECT_EQ(Run("digest -a md5", nullptr, file_).out, Openssl("MD5") + "  -\n");
}

// Every row of every table, each figure above zero (shown as N).
TEST_F(DigestCommand, SpeedHasAFigureOnEveryRow) {
  const Outcome r = Run("speed");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::regex figure(" +(0*[1-9][0-9]*(\\.[0-9]+)?|0*\\.[0-9]*[1-9][0-9]*)( op/s)?\n");
  ExpectGolden("kelctl_speed", std::regex_replace(r.out, figure, " N\n"));
}

}  // namespace
}  // namespace kel::test
