// Published HMAC vectors: NIST CAVP, RFC 2202 and 4231, Wycheproof. Every
// record goes through every HMAC form on both block paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

#include "hash_util.h"
#include "support/sandbox.h"

namespace kel::test {
namespace {

class HmacVectors : public PathTest {};
INSTANTIATE_TEST_SUITE_P(Paths, HmacVectors, ::testing::Bool(), PathName);

const Algo &AlgoForDigestSize(const std::string &bytes) {
  const int n = std::stoi(bytes);
  for (const auto &a : Algos())
    if (static_cast<int>(a.digestSize) == n && a.id != 4) return a;
  ADD_FAILURE() << "no digest of " << n << " bytes";
  return Algos()[0];
}

// Expects every form's MAC, cut to the tag's length, to equal the tag.
void ExpectTag(const Algo &a, const Bytes &key, const Bytes &msg, const std::string &tag, const std::string &where) {
  for (const auto &[form, mac] : AllHmacForms(a, key, msg))
    EXPECT_EQ(ToHex(mac).substr(0, tag.size()), tag) << where << " " << a.name << " " << form;
}

// CAVP: [L=n] is the digest size in bytes, Mac the first Tlen bytes.
TEST_P(HmacVectors, Cavp) {
  const auto records = ReadRsp("hmac/HMAC.rsp");
  ASSERT_GT(records.size(), 1000u);
  for (const auto &r : records) {
    const Algo &a = AlgoForDigestSize(r.section.at("L"));
    const Bytes key = r.Hex("Key");
    ASSERT_EQ(key.size(), std::stoul(r.Get("Klen")));
    const std::string mac = r.Get("Mac");
    ASSERT_EQ(mac.size(), 2 * std::stoul(r.Get("Tlen")));
    ExpectTag(a, key, r.Hex("Msg"), mac, "HMAC.rsp:" + std::to_string(r.line));
  }
}

// RFC 2202 (MD5, SHA-1) and RFC 4231 (SHA-2): [HMAC-<digest>] sections;
// case 5 lists only a truncated MAC.
TEST_P(HmacVectors, Rfc2202And4231) {
  int seen = 0;
  for (const char *file : {"hmac/rfc2202_hmac_md5_sha1.txt", "hmac/rfc4231_hmac_sha2.txt"}) {
    for (const auto &r : ReadRsp(file)) {
      std::string name = r.section.begin()->first.substr(5);  // "HMAC-SHA-256" -> "SHA-256"
      name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
      const Algo &a = AlgoNamed(name);
      const std::string mac = r.Has("MAC") ? r.Get("MAC") : r.Get("TruncatedMAC");
      ExpectTag(a, r.Hex("Key"), r.Hex("Data"), mac, std::string(file) + ":" + std::to_string(r.line));
      ++seen;
    }
  }
  EXPECT_EQ(seen, 2 * 7 + 4 * 7);
}

// Wycheproof: a valid tag must come out; an invalid (modified) tag must not.
// The files are flat enough to be read field by field: each test's key, msg,
// tag and result, under the tagSize (bits) of its group.
TEST_P(HmacVectors, Wycheproof) {
  const std::regex field(R"re("(tagSize|numberOfTests|key|msg|tag|result)"\s*:\s*"?([0-9a-z]*))re");
  for (const char *name : {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}) {
    std::string file = std::string("hmac_") + name + "_test.json";
    std::transform(file.begin(), file.end(), file.begin(), ::tolower);
    const std::string text = ReadFile(VectorPath("hmac/" + file));
    ASSERT_FALSE(text.empty()) << file;
    std::map<std::string, std::string> f;
    size_t tests = 0, declared = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), field), end; it != end; ++it) {
      f[(*it)[1]] = (*it)[2];
      if ((*it)[1] == "numberOfTests") declared = std::stoul(f["numberOfTests"]);
      if ((*it)[1] != "result") continue;
      const std::string tag = f["tag"];
      ASSERT_EQ(tag.size(), std::stoul(f["tagSize"]) / 4) << file;
      for (const auto &[form, mac] : AllHmacForms(AlgoNamed(name), FromHex(f["key"]), FromHex(f["msg"])))
        EXPECT_EQ(ToHex(mac).substr(0, tag.size()) == tag, f["result"] == "valid") << file << " #" << tests << " " << form;
      ++tests;
    }
    EXPECT_EQ(tests, declared) << file;
  }
}

}  // namespace
}  // namespace kel::test
