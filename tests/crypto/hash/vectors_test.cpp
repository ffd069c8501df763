// Published vectors, one runner per format, every record through every form
// on every block path: NIST CAVP SHA short and long messages (the Monte Carlo
// chains, of one short length each, reach nothing more), RFC 1321 MD5, CAVP
// HMAC, RFC 2202/4231 and Wycheproof HMAC.
#include "hash_util.h"

namespace kel::test {
namespace {

class Vectors : public HashTest {};

// Records of Len (bits), Msg and MD; a Len of 0 carries "Msg = 00".
TEST_F(Vectors, MessageDigests) {
  ForEachCpuPath([] {
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
  });
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
TEST_F(Vectors, HmacCavp) {
  ForEachCpuPath([] {
    const auto records = ReadRsp("hmac/HMAC.rsp");
    ASSERT_GT(records.size(), 1000u);
    for (const auto &r : records) {
      const std::string mac = r.Get("Mac");
      ASSERT_EQ(mac.size(), 2 * std::stoul(r.Get("Tlen")));
      ExpectTag(AlgoForDigestSize(r.section.at("L")), r.Hex("Key"), r.Hex("Msg"), mac,
                "HMAC.rsp:" + std::to_string(r.line));
    }
  });
}

// RFC 2202 (MD5, SHA-1) and RFC 4231 (SHA-2): [HMAC-<digest>] sections;
// case 5 lists only a truncated MAC.
TEST_F(Vectors, HmacRfc2202And4231) {
  ForEachCpuPath([&] {
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
  });
}

// Wycheproof: a valid tag must come out; a modified one must not.
TEST_F(Vectors, HmacWycheproof) {
  ForEachCpuPath([&] {
    for (const char *name : {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}) {
      std::string file = std::string("hmac/hmac_") + name + "_test.json";
      std::transform(file.begin(), file.end(), file.begin(), ::tolower);
      const auto cases = ReadWycheproof(file);
      ASSERT_GT(cases.size(), 100u) << file;
      for (const auto &t : cases) {
        const std::string tag = t.at("tag");
        ASSERT_EQ(tag.size(), std::stoul(t.at("tagSize")) / 4) << file;
        for (const auto &[form, mac] : AllHmacForms(AlgoNamed(name), FromHex(t.at("key")), FromHex(t.at("msg"))))
          EXPECT_EQ(ToHex(mac).substr(0, tag.size()) == tag, t.at("result") == "valid")
              << file << " #" << t.at("tcId") << " " << form;
      }
    }
  });
}

}  // namespace
}  // namespace kel::test
