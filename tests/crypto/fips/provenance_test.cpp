// Every expected value the self-test stores that comes from a published
// record, read back from the record its comment names and compared with the
// bytes in the library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/fips/internal.h"
#include "support/vectors.h"
#include "tests/crypto/crypto_test_util.h"

namespace {

using kel::test::Bytes;
using kel::test::FromHex;

using Match = std::vector<std::pair<std::string, std::string>>;

struct Source {
  const char *value;  // as named in the library's table
  const char *file;
  Match match;
  const char *in, *out;  // fields; in only for values located with their input
};

const Source kSources[] = {
    {"FIPS186", "rng186/FIPS186_VSTGEN.rsp", {{"COUNT", "1"}}, nullptr, "X"},
    {"3DES-168-EDE-CBC-ENC", "tdes/TCBCMMT3.rsp", {{"[ENCRYPT]", ""}, {"COUNT", "3"}}, "PLAINTEXT", "CIPHERTEXT"},
    {"3DES-168-EDE-CBC-DEC", "tdes/TCBCMMT3.rsp", {{"[DECRYPT]", ""}, {"COUNT", "3"}}, "CIPHERTEXT", "PLAINTEXT"},
    {"AES-CBC-256-ENC", "aes/sp800-38a_aes_modes.txt", {{"[CBC-AES256]", ""}}, "Plaintext", "Ciphertext"},
    {"AES-CBC-256-DEC", "aes/sp800-38a_aes_modes.txt", {{"[CBC-AES256]", ""}}, "Ciphertext", "Plaintext"},
    {"AES-CTR-256-ENC", "aes/sp800-38a_aes_modes.txt", {{"[CTR-AES128]", ""}}, "Plaintext", "Ciphertext"},
    {"AES-CTR-256-DEC", "aes/sp800-38a_aes_modes.txt", {{"[CTR-AES128]", ""}}, "Ciphertext", "Plaintext"},
    {"AES-ECB-256-ENC", "aes/sp800-38a_aes_modes.txt", {{"[ECB-AES256]", ""}}, "Plaintext", "Ciphertext"},
    {"AES-ECB-256-DEC", "aes/sp800-38a_aes_modes.txt", {{"[ECB-AES256]", ""}}, "Ciphertext", "Plaintext"},
    {"AES-CFB-128-ENC", "aes/sp800-38a_aes_modes.txt", {{"[CFB128-AES256]", ""}}, "Plaintext", "Ciphertext"},
    {"AES-CFB-128-DEC", "aes/sp800-38a_aes_modes.txt", {{"[CFB128-AES256]", ""}}, "Ciphertext", "Plaintext"},
    {"AES-XTS", "aes-xts/ieee1619_xts_aes.txt", {{"Vector", "2"}}, nullptr, "Ciphertext"},
    {"AES-GCM", "aes-gcm/gcm_mcgrew_viega_cases.txt", {{"TestCase", "2"}}, nullptr, "Ciphertext"},
    {"AES-GCM-TAG", "aes-gcm/gcm_mcgrew_viega_cases.txt", {{"TestCase", "2"}}, nullptr, "Tag"},
    {"HMAC-SHA-256", "hmac/hmac_sha256_test.json", {{"tcId", "20"}}, nullptr, "tag"},
    {"HMAC-SHA-512", "hmac/hmac_sha512_test.json", {{"tcId", "165"}}, nullptr, "tag"},
};

// The first record that has the fields and section headers ("[name]") of
// the match.
kel::test::RspRecord Record(const char *file, const Match &match) {
  for (const auto &r : kel::test::ReadRsp(file)) {
    bool all = true;
    for (const auto &[k, v] : match) {
      auto it = r.section.find(k.substr(1, k.size() - 2));
      all = all && (k[0] == '[' ? it != r.section.end() && it->second == v : r.Has(k) && r.Get(k) == v);
    }
    if (all) return r;
  }
  ADD_FAILURE() << "no record in " << file;
  return {};
}

// The named record's field; a Wycheproof test is found by its tcId.
Bytes Field(const Source &s, const char *field) {
  if (!std::string(s.file).ends_with(".json")) return Record(s.file, s.match).Hex(field);
  for (const auto &t : kel::test::ReadWycheproof(s.file))
    if (t.at("tcId") == s.match[0].second) return FromHex(t.at(field));
  ADD_FAILURE() << s.value;
  return {};
}

TEST(StoredValues, EachIsThePublishedRecordItsCommentNames) {
  size_t fromFiles = 0;
  for (const auto &v : kel::fips::stored_values()) {
    const Bytes stored(v.located + v.offset, v.located + v.offset + v.length);
    const Source *s = nullptr;
    for (const auto &c : kSources)
      if (v.name == std::string(c.value)) s = &c;
    if (s == nullptr) continue;  // a fixed input no record has: the self-test's run is its check
    Bytes want = Field(*s, s->out);
    want.resize(std::min<size_t>(want.size(), v.length));
    EXPECT_EQ(kel::test::ToHex(stored), kel::test::ToHex(want)) << v.name << " from " << s->file;
    if (s->in != nullptr) {
      Bytes in = Field(*s, s->in);
      in.resize(v.offset);
      EXPECT_EQ(kel::test::ToHex(v.located, v.offset), kel::test::ToHex(in)) << v.name << " input";
    }
    ++fromFiles;
  }
  EXPECT_EQ(fromFiles, std::size(kSources));
}

// ---- The DRBG vectors: the inputs are those of a CAVP record (the outputs
// are checked by the self-test's run of a generator that the random tests
// hold to every CAVP record).

struct Drbg {
  Bytes entropy, nonce, pers;
  std::vector<std::pair<Bytes, Bytes>> reseeds;  // entropy, additional input
};

Drbg Stored(const DrbgTestVector &v) {
  auto b = [](const uint8_t *p, uint32_t n) { return Bytes(p, p + n); };
  return {b(v.entropyInput, v.entropyInputLength), b(v.nonce, v.nonceLength),
          b(v.personalization, v.personalizationLength),
          {{b(v.reseedEntropy1, v.reseedEntropy1Length), b(v.additionalInput1, v.additionalInput1Length)},
           {b(v.reseedEntropy2, v.reseedEntropy2Length), b(v.additionalInput2, v.additionalInput2Length)}}};
}

TEST(StoredValues, DrbgVectorsAreCavpInputs) {
  const auto c = Record("drbg/CTR_DRBG_pr_true.rsp", {{"[AES-256 use df]", ""},
                                                      {"[PersonalizationStringLen]", "256"},
                                                      {"[AdditionalInputLen]", "256"},
                                                      {"COUNT", "0"}});
  const auto e = Record("drbg/Dual_EC_DRBG_pr_false.rsp", {{"[P-256 SHA-1]", ""},
                                                           {"[PersonalizationStringLen]", "128"},
                                                           {"[AdditionalInputLen]", "128"},
                                                           {"COUNT", "0"}});
  const DrbgTestVector &v = kel::fips::ctr_df_vector(), &w = kel::fips::ec_drbg_vector();
  const Drbg ctr = Stored(v), ec = Stored(w);
  EXPECT_TRUE(ctr.entropy == c.Hex("EntropyInput") && ctr.nonce == c.Hex("Nonce") &&
              ctr.pers == c.Hex("PersonalizationString"));
  EXPECT_EQ(ctr.reseeds, (std::vector<std::pair<Bytes, Bytes>>{{c.Hex("EntropyInputPR"), c.Hex("AdditionalInput")},
                                                               {c.Hex("EntropyInputPR2"), c.Hex("AdditionalInput2")}}));
  EXPECT_TRUE(ec.entropy == e.Hex("EntropyInput") && ec.nonce == e.Hex("Nonce") &&
              ec.pers == e.Hex("PersonalizationString"));
  EXPECT_EQ(ec.reseeds, (std::vector<std::pair<Bytes, Bytes>>{
                            {e.Hex("EntropyInputReseed"), e.Hex("AdditionalInputReseed")},
                            {e.Hex("AdditionalInput"), e.Hex("AdditionalInput2")}}));
}

}  // namespace
