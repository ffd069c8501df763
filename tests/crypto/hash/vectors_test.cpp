// Published vectors, one runner per format, every record through every form
// on every block path: NIST CAVP SHA (short, long and Monte Carlo), RFC 1321
// MD5, CAVP HMAC, RFC 2202/4231 and Wycheproof HMAC.
#include <map>
#include <regex>

#include "hash_util.h"
#include "support/sandbox.h"

namespace kel::test {
namespace {

class Vectors : public PathTest {};
INSTANTIATE_TEST_SUITE_P(Paths, Vectors, ::testing::ValuesIn(kPaths), PathName);

// Records of Len (bits), Msg and MD; a Len of 0 carries "Msg = 00".
TEST_P(Vectors, MessageDigests) {
  for (const char *file :
       {"rfc1321_md5", "SHA1ShortMsg", "SHA1LongMsg", "SHA224ShortMsg", "SHA224LongMsg", "SHA256ShortMsg",
        "SHA256LongMsg", "SHA384ShortMsg", "SHA384LongMsg", "SHA512ShortMsg", "SHA512LongMsg"}) {
    const std::string name(file);
    const Algo &a = AlgoNamed(name[0] == 'r' ? "MD5" : name.substr(0, name.find_first_of("SL", 1)));
    const auto records = ReadRsp("hash/" + name + (name[0] == 'r' ? ".txt" : ".rsp"));
    ASSERT_GE(records.size(), 7u) << file;
    for (const auto &r : records) {
      Bytes msg = r.Hex("Msg");
      msg.resize(std::stoul(r.Get("Len")) / 8);
      for (const auto &[form, got] : AllForms(a, msg, static_cast<uint32_t>(r.line)))
        EXPECT_EQ(ToHex(got), r.Get("MD")) << file << ":" << r.line << " " << form;
    }
  }
}

// CAVP Monte Carlo: 100 checkpoints of 1000 chained digests, each over the
// three digests before it.
TEST_P(Vectors, MonteCarlo) {
  for (const char *name : {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}) {
    const Algo &a = AlgoNamed(name);
    const auto records = ReadRsp(std::string("hash/") + name + "Monte.rsp");
    ASSERT_EQ(records.size(), 101u) << name;  // the seed, then 100 checkpoints
    Bytes seed = records[0].Hex("Seed");
    for (size_t j = 1; j < records.size(); ++j) {
      Bytes m = seed, next(a.digestSize);
      m.insert(m.end(), seed.begin(), seed.end());
      m.insert(m.end(), seed.begin(), seed.end());
      for (int i = 3; i < 1003; ++i) {
        ASSERT_EQ(a.oneCall(m.data(), static_cast<uint32_t>(m.size()), next.data()), 0);
        m.erase(m.begin(), m.begin() + a.digestSize);
        m.insert(m.end(), next.begin(), next.end());
      }
      seed = next;
      ASSERT_EQ(ToHex(seed), records[j].Get("MD")) << name << " checkpoint " << j - 1;
    }
  }
}

const Algo &AlgoForDigestSize(const std::string &bytes) {
  for (const auto &a : Algos())
    if (a.digestSize == std::stoul(bytes) && a.id != 4) return a;
  ADD_FAILURE() << "no digest of " << bytes << " bytes";
  return Algos()[0];
}

// Expects every form's MAC, cut to the tag's length, to equal the tag.
void ExpectTag(const Algo &a, const Bytes &key, const Bytes &msg, const std::string &tag, const std::string &where) {
  for (const auto &[form, mac] : AllHmacForms(a, key, msg))
    EXPECT_EQ(ToHex(mac).substr(0, tag.size()), tag) << where << " " << a.name << " " << form;
}

// CAVP: [L=n] is the digest size in bytes, Mac the first Tlen bytes.
TEST_P(Vectors, HmacCavp) {
  const auto records = ReadRsp("hmac/HMAC.rsp");
  ASSERT_GT(records.size(), 1000u);
  for (const auto &r : records) {
    const std::string mac = r.Get("Mac");
    ASSERT_EQ(mac.size(), 2 * std::stoul(r.Get("Tlen")));
    ExpectTag(AlgoForDigestSize(r.section.at("L")), r.Hex("Key"), r.Hex("Msg"), mac,
              "HMAC.rsp:" + std::to_string(r.line));
  }
}

// RFC 2202 (MD5, SHA-1) and RFC 4231 (SHA-2): [HMAC-<digest>] sections;
// case 5 lists only a truncated MAC.
TEST_P(Vectors, HmacRfc2202And4231) {
  int seen = 0;
  for (const char *file : {"hmac/rfc2202_hmac_md5_sha1.txt", "hmac/rfc4231_hmac_sha2.txt"}) {
    for (const auto &r : ReadRsp(file)) {
      std::string name = r.section.begin()->first.substr(5);  // "HMAC-SHA-256" -> "SHA-256"
      name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
      const std::string mac = r.Has("MAC") ? r.Get("MAC") : r.Get("TruncatedMAC");
      ExpectTag(AlgoNamed(name), r.Hex("Key"), r.Hex("Data"), mac, std::string(file) + ":" + std::to_string(r.line));
      ++seen;
    }
  }
  EXPECT_EQ(seen, 2 * 7 + 4 * 7);
}

// Wycheproof: a valid tag must come out; an invalid (modified) tag must not.
// The files are flat enough to be read field by field: each test's key, msg,
// tag and result, under the tagSize (bits) of its group.
TEST_P(Vectors, HmacWycheproof) {
  const std::regex field(R"re("(tagSize|numberOfTests|key|msg|tag|result)"\s*:\s*"?([0-9a-z]*))re");
  for (const char *name : {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}) {
    std::string file = std::string("hmac_") + name + "_test.json";
    std::transform(file.begin(), file.end(), file.begin(), ::tolower);
    const std::string text = ReadFile(VectorPath("hmac/" + file));
    ASSERT_FALSE(text.empty()) << file;
    std::map<std::string, std::string> f;
    size_t tests = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), field), end; it != end; ++it) {
      f[(*it)[1]] = (*it)[2];
      if ((*it)[1] != "result") continue;
      const std::string tag = f["tag"];
      ASSERT_EQ(tag.size(), std::stoul(f["tagSize"]) / 4) << file;
      for (const auto &[form, mac] : AllHmacForms(AlgoNamed(name), FromHex(f["key"]), FromHex(f["msg"])))
        EXPECT_EQ(ToHex(mac).substr(0, tag.size()) == tag, f["result"] == "valid")
            << file << " #" << tests << " " << form;
      ++tests;
    }
    EXPECT_EQ(tests, std::stoul(f["numberOfTests"])) << file;
  }
}

}  // namespace
}  // namespace kel::test
