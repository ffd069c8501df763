// Published vectors, every record through every form on every block path
// (NIST CAVP SHA short and long messages, RFC 1321 MD5, CAVP HMAC; the
// Monte Carlo chains, of one short length each, reach nothing more), then
// every digest and HMAC form against OpenSSL on random messages and keys of every length
// around each block boundary (the padding's one- and two-block cases and
// keys hashed first included), from one thread and from several at once.
#include <thread>

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

// CAVP HMAC: [L=n] is the digest size in bytes, Mac the first Tlen bytes.
TEST_F(Vectors, HmacCavp) {
  ForEachCpuPath([] {
    const auto records = ReadRsp("hmac/HMAC.rsp");
    ASSERT_GT(records.size(), 1000u);
    for (const auto &r : records) {
      const auto a = std::find_if(Algos().begin() + 1, Algos().end(),
                                  [&r](const Algo &x) { return x.digestSize == std::stoul(r.section.at("L")); });
      ASSERT_NE(a, Algos().end()) << r.line;
      const std::string tag = r.Get("Mac");
      for (const auto &[form, mac] : AllHmacForms(*a, r.Hex("Key"), r.Hex("Msg")))
        EXPECT_EQ(ToHex(mac).substr(0, tag.size()), tag) << "HMAC.rsp:" << r.line << " " << form;
    }
  });
}

// Lengths within 3 bytes of every multiple of the block up to four blocks,
// and of the last length that still pads into one block.
std::vector<size_t> BoundaryLengths(size_t block) {
  const size_t lengthField = block == 128 ? 16 : 8;
  std::vector<size_t> lens;
  for (size_t k = 0; k <= 4; ++k)
    for (size_t edge : {k * block, k * block + block - lengthField - 1})
      for (size_t d = 0; d <= 6; ++d)
        if (edge + d >= 3) lens.push_back(edge + d - 3);
  return lens;
}

// Every digest and HMAC form of one message against OpenSSL; keys of the
// boundary lengths too, cycled against the messages.
void ExpectOpenssl(const Algo &a, std::mt19937 &rng, size_t len, size_t keyLen) {
  const Bytes msg = RandomBytes(rng, len), key = RandomBytes(rng, keyLen);
  const Bytes digest = Openssl(a, msg), mac = Openssl(a, msg, &key);
  for (const auto &[form, got] : AllForms(a, msg, static_cast<uint32_t>(rng())))
    ASSERT_EQ(ToHex(got), ToHex(digest)) << a.name << " length " << len << " " << form;
  for (const auto &[form, got] : AllHmacForms(a, key, msg, static_cast<uint32_t>(rng())))
    ASSERT_EQ(ToHex(got), ToHex(mac)) << a.name << " key " << keyLen << " msg " << len << " " << form;
}

TEST_F(Vectors, DigestsAndHmacsMatchOpenssl) {
  std::mt19937 rng(11);
  ForEachCpuPath([&] {
    for (const auto &a : Algos()) {
      const auto lens = BoundaryLengths(a.blockSize);
      for (size_t i = 0; i < lens.size(); ++i)
        ExpectOpenssl(a, rng, lens[i], lens[(i * 7) % lens.size()] % (2 * a.blockSize + 2));
    }
  });
}

// Contexts share nothing and the kernel table is read by every thread.
TEST_F(Vectors, ThreadsAgreeWithOpenssl) {
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      std::mt19937 rng(t);
      for (int i = 0; i < 60; ++i) ExpectOpenssl(Algos()[(t + i) % 6], rng, rng() % 300, rng() % 200);
    });
  for (auto &t : threads) t.join();
}

}  // namespace
}  // namespace kel::test
