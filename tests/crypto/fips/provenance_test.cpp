// Every expected value the self-test stores, read back from the record its
// comment names (or, where the run's input has no published record, from
// OpenSSL) and compared with the bytes in the library.
#include <gtest/gtest.h>
#include <openssl/evp.h>

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

struct Source {
  const char *value;  // as named in the library's table
  const char *file;
  std::vector<std::pair<std::string, std::string>> match;  // "[x]": a section header
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

// The named record's field (a Wycheproof test is found by its tcId).
Bytes Field(const Source &s, const char *field) {
  if (std::string(s.file).ends_with(".json")) {
    std::ifstream f(kel::test::VectorPath(s.file));
    std::stringstream text;
    text << f.rdbuf();
    const std::string all = text.str();
    std::string id("\"tcId\": "), pattern("\"");
    id.append(s.match[0].second).append(",");
    pattern.append(field).append("\": \"([0-9a-f]*)\"");
    const size_t at = all.find(id);
    std::smatch m;
    const std::string rest = at == std::string::npos ? "" : all.substr(at, all.find('}', at) - at);
    EXPECT_TRUE(std::regex_search(rest, m, std::regex(pattern)))
        << s.value;
    return FromHex(m.size() > 1 ? m[1].str() : "");
  }
  for (const auto &r : kel::test::ReadRsp(s.file)) {
    bool all = true;
    for (const auto &[k, v] : s.match)
      all = all && (k[0] == '[' ? r.section.count(k.substr(1, k.size() - 2)) != 0 : r.Has(k) && r.Get(k) == v);
    if (all) return r.Hex(field);
  }
  ADD_FAILURE() << s.value << ": no record in " << s.file;
  return {};
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
      if (std::string(v.name).find("DRBG") != std::string::npos) continue;  // see below
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

}  // namespace
