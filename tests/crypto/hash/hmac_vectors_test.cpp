// Published HMAC vectors: NIST CAVP, RFC 2202 and 4231, Wycheproof. Every
// record goes through every HMAC form on both block paths.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "hash_util.h"
#include "json.h"

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
TEST_P(HmacVectors, Wycheproof) {
  const std::pair<const char *, const char *> files[] = {
      {"hmac_sha1_test.json", "SHA1"},     {"hmac_sha224_test.json", "SHA224"},
      {"hmac_sha256_test.json", "SHA256"}, {"hmac_sha384_test.json", "SHA384"},
      {"hmac_sha512_test.json", "SHA512"},
  };
  for (const auto &[file, name] : files) {
    std::ifstream in(VectorPath(std::string("hmac/") + file));
    ASSERT_TRUE(in) << file;
    std::stringstream text;
    text << in.rdbuf();
    const Json doc = Json::Parse(text.str());
    const Algo &a = AlgoNamed(name);
    size_t count = 0;
    for (const auto &group : doc["testGroups"].items) {
      const size_t tagBytes = static_cast<size_t>(group["tagSize"].number) / 8;
      for (const auto &t : group["tests"].items) {
        const Bytes key = FromHex(t["key"].text), msg = FromHex(t["msg"].text);
        const std::string tag = t["tag"].text;
        ASSERT_EQ(tag.size(), 2 * tagBytes);
        const std::string where = std::string(file) + " tcId " + std::to_string(static_cast<int>(t["tcId"].number));
        for (const auto &[form, mac] : AllHmacForms(a, key, msg)) {
          const bool equal = ToHex(mac).substr(0, tag.size()) == tag;
          EXPECT_EQ(equal, t["result"].text == "valid") << where << " " << form;
        }
        ++count;
      }
    }
    EXPECT_EQ(count, static_cast<size_t>(doc["numberOfTests"].number)) << file;
  }
}

}  // namespace
}  // namespace kel::test
