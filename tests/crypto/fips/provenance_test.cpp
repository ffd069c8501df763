// Every expected value the self-test stores, read back from the record its
// comment names (or, where the run's input has no published record, from
// OpenSSL) and compared with the bytes in the library.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/sha.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/fips/internal.h"
#include "support/vectors.h"

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
  std::stringstream text;
  text << std::ifstream(kel::test::VectorPath(s.file)).rdbuf();
  const std::string all = text.str(), key = std::string("\"").append(field).append("\": \"");
  const size_t test = all.find(std::string("\"tcId\": ").append(s.match[0].second).append(","));
  const size_t at = test == std::string::npos ? test : all.find(key, test);
  EXPECT_NE(at, std::string::npos) << s.value;
  if (at == std::string::npos) return {};
  const size_t from = at + key.size();
  return FromHex(all.substr(from, all.find('"', from) - from));
}

// Values whose run has a fixed input no published record matches.
Bytes Oracle(const std::string &name) {
  const Bytes zeros(32), countKey = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
                         countMsg = FromHex("202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f");
  Bytes out(64);
  size_t n = 0;
  std::string md("SHA");
  md.append(name.substr(name.rfind('-') + 1));
  if (name.starts_with("SHA-"))
    EVP_Q_digest(nullptr, md.c_str(), nullptr, zeros.data(), 32, out.data(), &n);
  if (name.starts_with("HMAC-SHA-"))
    EVP_Q_mac(nullptr, "HMAC", nullptr, md.c_str(), nullptr, countKey.data(), 32,
              countMsg.data(), 32, out.data(), 64, &n);
  if (name == "AES-CMAC") {
    const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const std::string m = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EVP_Q_mac(nullptr, "CMAC", nullptr, "AES-128-CBC", nullptr, key.data(), 16,
              reinterpret_cast<const uint8_t *>(m.data()), m.size(), out.data(), 64, &n);
  }
  if (name == "AES-CCM") {  // key c0..cf, RFC 3610 nonce of packet 18, 12 + 21 bytes counting from 00, M = 10
    const Bytes key = FromHex("c0c1c2c3c4c5c6c7c8c9cacbcccdcecf"), nonce = FromHex("00000014131211a0a1a2a3a4a5");
    Bytes data(33);
    for (size_t i = 0; i < 33; ++i) data[i] = static_cast<uint8_t>(i);
    out.assign(data.begin(), data.begin() + 12);
    out.resize(43);
    int len = 0;
    EVP_CIPHER_CTX *x = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(x, EVP_aes_128_ccm(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_ctrl(x, EVP_CTRL_AEAD_SET_IVLEN, 13, nullptr);
    EVP_CIPHER_CTX_ctrl(x, EVP_CTRL_AEAD_SET_TAG, 10, nullptr);
    EVP_EncryptInit_ex(x, nullptr, nullptr, key.data(), nonce.data());
    EVP_EncryptUpdate(x, nullptr, &len, nullptr, 21);
    EVP_EncryptUpdate(x, nullptr, &len, data.data(), 12);
    EVP_EncryptUpdate(x, out.data() + 12, &len, data.data() + 12, 21);
    EVP_EncryptFinal_ex(x, out.data() + 33, &len);
    EVP_CIPHER_CTX_ctrl(x, EVP_CTRL_AEAD_GET_TAG, 10, out.data() + 33);
    EVP_CIPHER_CTX_free(x);
    n = 43;
  }
  out.resize(n);
  return out;
}

TEST(StoredValues, EachIsThePublishedRecordItsCommentNames) {
  size_t fromFiles = 0, fromOpenSsl = 0;
  for (const auto &v : kel::fips::stored_values()) {
    const Bytes stored(v.located + v.offset, v.located + v.offset + v.length);
    const Source *s = nullptr;
    for (const auto &c : kSources)
      if (v.name == std::string(c.value)) s = &c;
    if (s == nullptr) {
      const Bytes want = Oracle(v.name);
      if (std::string(v.name).find("DRBG") != std::string::npos) continue;  // the next test
      EXPECT_EQ(kel::test::ToHex(stored), kel::test::ToHex(want)) << v.name << " (OpenSSL)";
      ++fromOpenSsl;
      continue;
    }
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
  EXPECT_EQ(fromOpenSsl, 10u) << "five digests, three HMACs, CMAC and CCM";
}

// ---- The DRBG vectors: CAVP inputs, outputs from models that reproduce
// the CAVP records ----

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

// Instantiate, then per reseed: reseed and generate outLength bytes (as the
// self-test's run, and as CAVS with prediction resistance).
Bytes OpenSslCtrDrbg(const Drbg &d, size_t outLength) {
  unsigned strength = 256;
  int df = 1;
  EVP_RAND *tr = EVP_RAND_fetch(nullptr, "TEST-RAND", nullptr), *cr = EVP_RAND_fetch(nullptr, "CTR-DRBG", nullptr);
  EVP_RAND_CTX *parent = EVP_RAND_CTX_new(tr, nullptr);
  OSSL_PARAM ps[] = {OSSL_PARAM_construct_uint("strength", &strength), OSSL_PARAM_END};
  EVP_RAND_CTX_set_params(parent, ps);
  EVP_RAND_instantiate(parent, strength, 0, nullptr, 0, nullptr);
  OSSL_PARAM pe[] = {
      OSSL_PARAM_construct_octet_string("test_entropy", const_cast<uint8_t *>(d.entropy.data()), d.entropy.size()),
      OSSL_PARAM_construct_octet_string("test_nonce", const_cast<uint8_t *>(d.nonce.data()), d.nonce.size()),
      OSSL_PARAM_END};
  EVP_RAND_CTX_set_params(parent, pe);
  EVP_RAND_CTX *x = EVP_RAND_CTX_new(cr, parent);
  char cipher[] = "AES-256-CTR";
  OSSL_PARAM pd[] = {OSSL_PARAM_construct_utf8_string("cipher", cipher, 0),
                     OSSL_PARAM_construct_int("use_derivation_function", &df), OSSL_PARAM_END};
  Bytes out(outLength);
  EXPECT_EQ(EVP_RAND_instantiate(x, strength, 0, d.pers.data(), d.pers.size(), pd), 1);
  for (const auto &[e, a] : d.reseeds) {  // the reseed entropy comes from the parent too
    OSSL_PARAM pr[] = {OSSL_PARAM_construct_octet_string("test_entropy", const_cast<uint8_t *>(e.data()), e.size()),
                       OSSL_PARAM_END};
    EVP_RAND_CTX_set_params(parent, pr);
    EXPECT_EQ(EVP_RAND_reseed(x, 0, nullptr, 0, a.data(), a.size()), 1);
    EXPECT_EQ(EVP_RAND_generate(x, out.data(), out.size(), strength, 0, nullptr, 0), 1);
  }
  EVP_RAND_CTX_free(x), EVP_RAND_CTX_free(parent), EVP_RAND_free(cr), EVP_RAND_free(tr);
  return out;
}

// SP 800-90 Dual_EC_DRBG on P-256 with SHA-1 (seedlen 256, outlen 240).
struct DualEc {
  explicit DualEc(const Bytes &seedMaterial) : s_(Hdf(seedMaterial)) {
    BIGNUM *qx = nullptr, *qy = nullptr;
    BN_hex2bn(&qx, "c97445f45cdef9f0d3e05e1e585fc297235b82b5be8ff3efca67c59852018192");
    BN_hex2bn(&qy, "b28ef557ba31dfcbdd21ac46e2a91e3c304f44cb87058ada2cb815151e610046");
    EC_POINT_set_affine_coordinates(g_, q_, qx, qy, bn_);
    BN_free(qx), BN_free(qy);
  }
  ~DualEc() { EC_POINT_free(q_), EC_GROUP_free(g_), BN_CTX_free(bn_); }
  void Reseed(const Bytes &e, const Bytes &a) { s_ = Hdf(Cat({s_, e, a})); }
  Bytes Generate(size_t n, const Bytes &add) {
    Bytes ai = add.empty() ? Bytes(32) : Hdf(add), out;
    while (out.size() < n) {
      for (size_t i = 0; i < 32; ++i) ai[i] ^= s_[i];
      s_ = X(ai, nullptr);
      ai.assign(32, 0);
      const Bytes r = X(s_, q_);
      out.insert(out.end(), r.begin() + 2, r.end());
    }
    s_ = X(s_, nullptr);
    out.resize(n);
    return out;
  }
  static Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  }
  static Bytes Hdf(const Bytes &in) {
    Bytes out;
    for (uint8_t counter = 1; out.size() < 32; ++counter) {
      const Bytes m = Cat({{counter, 0, 0, 1, 0}, in});  // counter, 256 bits
      uint8_t h[20];
      SHA1(m.data(), m.size(), h);
      out.insert(out.end(), h, h + 20);
    }
    return out.resize(32), out;
  }
  Bytes X(const Bytes &k, const EC_POINT *base) {  // x(k * base), base null: the generator
    BIGNUM *n = BN_bin2bn(k.data(), 32, nullptr), *x = BN_new();
    EC_POINT *r = EC_POINT_new(g_);
    EC_POINT_mul(g_, r, base ? nullptr : n, base, base ? n : nullptr, bn_);
    EC_POINT_get_affine_coordinates(g_, r, x, nullptr, bn_);
    Bytes out(32);
    BN_bn2binpad(x, out.data(), 32);
    BN_free(n), BN_free(x), EC_POINT_free(r);
    return out;
  }
  EC_GROUP *g_ = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
  EC_POINT *q_ = EC_POINT_new(g_);
  BN_CTX *bn_ = BN_CTX_new();
  Bytes s_;
};

TEST(StoredValues, DrbgVectorsAreCavpInputsAndTheirOutputsComeFromModelsThatMatchCavp) {
  // CTR-DRBG AES-256 with df: the pr_true record, first in its own shape.
  const auto c = Record("drbg/CTR_DRBG_pr_true.rsp",
                        {{"[AES-256 use df]", ""},
                         {"[PersonalizationStringLen]", "256"},
                         {"[AdditionalInputLen]", "256"},
                         {"COUNT", "0"}});
  const Drbg cavp{c.Hex("EntropyInput"),
                  c.Hex("Nonce"),
                  c.Hex("PersonalizationString"),
                  {{c.Hex("EntropyInputPR"), c.Hex("AdditionalInput")},
                   {c.Hex("EntropyInputPR2"), c.Hex("AdditionalInput2")}}};
  EXPECT_EQ(OpenSslCtrDrbg(cavp, 64), c.Hex("ReturnedBits")) << "the OpenSSL model";
  const DrbgTestVector &v = kel::fips::ctr_df_vector();
  const Drbg stored = Stored(v);
  EXPECT_TRUE(stored.entropy == cavp.entropy && stored.nonce == cavp.nonce && stored.pers == cavp.pers &&
              stored.reseeds == cavp.reseeds);
  EXPECT_EQ(OpenSslCtrDrbg(stored, 16), Bytes(v.expectedOutput, v.expectedOutput + v.outputLength));

  // Dual_EC_DRBG: the pr_false record (instantiate, reseed, two requests).
  const auto e = Record("drbg/Dual_EC_DRBG_pr_false.rsp",
                        {{"[P-256 SHA-1]", ""},
                         {"[PersonalizationStringLen]", "128"},
                         {"[AdditionalInputLen]", "128"},
                         {"COUNT", "0"}});
  {
    DualEc model(DualEc::Cat({e.Hex("EntropyInput"), e.Hex("Nonce"), e.Hex("PersonalizationString")}));
    model.Reseed(e.Hex("EntropyInputReseed"), e.Hex("AdditionalInputReseed"));
    model.Generate(120, e.Hex("AdditionalInput"));
    EXPECT_EQ(model.Generate(120, e.Hex("AdditionalInput2")), e.Hex("ReturnedBits")) << "the Dual_EC model";
  }
  const DrbgTestVector &w = kel::fips::ec_drbg_vector();
  const Drbg ec = Stored(w);
  EXPECT_TRUE(ec.entropy == e.Hex("EntropyInput") && ec.nonce == e.Hex("Nonce") &&
              ec.pers == e.Hex("PersonalizationString"));
  EXPECT_EQ(ec.reseeds, (std::vector<std::pair<Bytes, Bytes>>{
                            {e.Hex("EntropyInputReseed"), e.Hex("AdditionalInputReseed")},
                            {e.Hex("AdditionalInput"), e.Hex("AdditionalInput2")}}));
  DualEc model(DualEc::Cat({ec.entropy, ec.nonce, ec.pers}));
  Bytes out;
  for (const auto &[entropy, add] : ec.reseeds) {
    model.Reseed(entropy, add);
    out = model.Generate(w.outputLength, {});
  }
  EXPECT_EQ(out, Bytes(w.expectedOutput, w.expectedOutput + w.outputLength));
}

}  // namespace
