// Published digest vectors (NIST CAVP byte-oriented SHA files, RFC 1321 for
// MD5), each message checked through every form on both block paths.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "hash_util.h"

namespace kel::test {
namespace {

struct MsgFile {
  const char *file;
  const char *algo;
};

constexpr MsgFile kMsgFiles[] = {
    {"hash/rfc1321_md5.txt", "MD5"},         {"hash/SHA1ShortMsg.rsp", "SHA1"},
    {"hash/SHA1LongMsg.rsp", "SHA1"},        {"hash/SHA224ShortMsg.rsp", "SHA224"},
    {"hash/SHA224LongMsg.rsp", "SHA224"},    {"hash/SHA256ShortMsg.rsp", "SHA256"},
    {"hash/SHA256LongMsg.rsp", "SHA256"},    {"hash/SHA384ShortMsg.rsp", "SHA384"},
    {"hash/SHA384LongMsg.rsp", "SHA384"},    {"hash/SHA512ShortMsg.rsp", "SHA512"},
    {"hash/SHA512LongMsg.rsp", "SHA512"},
};

void PrintTo(const MsgFile &f, std::ostream *os) { *os << f.file; }

class MsgVectors : public ::testing::TestWithParam<std::tuple<bool, MsgFile>> {
 protected:
  void SetUp() override {
    gFIPS_powerupStatus = 0;
    kel::cpu::restrict_to(std::get<0>(GetParam()) ? ~0u : 0u);
  }
  void TearDown() override {
    kel::cpu::restrict_to(~0u);
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  }
};

// Records of Len (bits), Msg and MD; a Len of 0 carries "Msg = 00".
TEST_P(MsgVectors, EveryFormGivesTheListedDigest) {
  const MsgFile &f = std::get<1>(GetParam());
  const Algo &a = AlgoNamed(f.algo);
  const auto records = ReadRsp(f.file);
  ASSERT_GE(records.size(), 7u);
  for (const auto &r : records) {
    Bytes msg = r.Hex("Msg");
    msg.resize(std::stoul(r.Get("Len")) / 8);
    const std::string want = r.Get("MD");
    for (const auto &[form, got] : AllForms(a, msg, static_cast<uint32_t>(r.line)))
      EXPECT_EQ(ToHex(got), want) << f.file << ":" << r.line << " " << form;
  }
}

std::string MsgName(const ::testing::TestParamInfo<std::tuple<bool, MsgFile>> &info) {
  std::string n = std::get<1>(info.param).file;
  n = n.substr(n.find('/') + 1);
  n = n.substr(0, n.find('.'));
  return std::string(std::get<0>(info.param) ? "Hardware_" : "Portable_") + n;
}

INSTANTIATE_TEST_SUITE_P(Files, MsgVectors, ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kMsgFiles)),
                         MsgName);

// CAVP Monte Carlo: 100 checkpoints of 1000 chained digests, each over the
// three digests before it.
class MonteVectors : public PathTest {};

TEST_P(MonteVectors, CheckpointsMatch) {
  for (const char *name : {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}) {
    const Algo &a = AlgoNamed(name);
    const auto records = ReadRsp(std::string("hash/") + name + "Monte.rsp");
    ASSERT_EQ(records.size(), 101u) << name;  // the seed, then 100 checkpoints
    Bytes seed = records[0].Hex("Seed");
    for (size_t j = 1; j < records.size(); ++j) {
      Bytes md[3] = {seed, seed, seed};
      Bytes m(3 * a.digestSize), next(a.digestSize);
      for (int i = 3; i < 1003; ++i) {
        for (int k = 0; k < 3; ++k) std::memcpy(m.data() + k * a.digestSize, md[k].data(), a.digestSize);
        ASSERT_EQ(a.oneCall(m.data(), static_cast<uint32_t>(m.size()), next.data()), 0);
        md[0] = std::move(md[1]);
        md[1] = std::move(md[2]);
        md[2] = next;
      }
      seed = md[2];
      ASSERT_EQ(ToHex(seed), records[j].Get("MD")) << name << " checkpoint " << j - 1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, MonteVectors, ::testing::Bool(), PathName);

}  // namespace
}  // namespace kel::test
