// A plain CTR_DRBG (SP 800-90A 10.2.1) over OpenSSL's block ciphers, with
// this toolkit's TDEA rules (a 21-byte key widened bit by bit, the 24 bytes
// 0x00..0x17 as the derivation key), serving as the tests' oracle.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <vector>

#include "kel/ctr_drbg.h"

namespace kel::test {

class ModelDrbg {
 public:
  using Bytes = std::vector<uint8_t>;
  ModelDrbg(size_t keyLength, size_t blockLength, bool df) : kl_(keyLength), bl_(blockLength), df_(df) {}

  // Instantiation is a reseed of the all-zero state with entropy || nonce.
  void Instantiate(Bytes entropy, const Bytes &nonce, const Bytes &pers) {
    key_.assign(kl_, 0);
    v_.assign(bl_, 0);
    entropy.insert(entropy.end(), nonce.begin(), nonce.end());
    Reseed(entropy, pers);
  }
  void Reseed(Bytes entropy, const Bytes &add) {
    Bytes seed;
    if (df_) {
      entropy.insert(entropy.end(), add.begin(), add.end());
      seed = Derive(entropy, kl_ + bl_);
    } else {
      seed = Pad(add);
      for (size_t i = 0; i < seed.size(); ++i) seed[i] ^= entropy[i];
    }
    Update(seed);
  }
  Bytes Generate(size_t bytes, const Bytes &add = {}) {
    Bytes provided(kl_ + bl_, 0);
    if (!add.empty()) {
      provided = df_ ? Derive(add, kl_ + bl_) : Pad(add);
      Update(provided);
    }
    Bytes out;
    while (out.size() < bytes) {
      Increment(v_);
      Bytes block = Encrypt(key_, v_);
      out.insert(out.end(), block.begin(), block.end());
    }
    out.resize(bytes);
    Update(provided);
    return out;
  }

  // The known-answer runner's sequence: instantiate, reseed, generate, reseed,
  // generate one block; the answer is the second block.
  static Bytes KnownAnswer(const DrbgTestVector &v, size_t keyLength, size_t blockLength, bool df) {
    auto b = [](const uint8_t *p, uint32_t n) { return Bytes(p, p + n); };
    ModelDrbg m(keyLength, blockLength, df);
    m.Instantiate(b(v.entropyInput, v.entropyInputLength), b(v.nonce, v.nonceLength),
                  b(v.personalization, v.personalizationLength));
    m.Reseed(b(v.reseedEntropy1, v.reseedEntropy1Length), b(v.additionalInput1, v.additionalInput1Length));
    m.Generate(blockLength);
    m.Reseed(b(v.reseedEntropy2, v.reseedEntropy2Length), b(v.additionalInput2, v.additionalInput2Length));
    return m.Generate(blockLength);
  }

  // Bit 7k - 1 + i of the 56-bit group (position 0 the most significant,
  // position -1 reading as 0) becomes bit 7 - i of byte k.
  static Bytes WidenTdeaKey(const Bytes &k21) {
    Bytes out(24, 0);
    auto bit = [&](int group, int pos) { return pos < 0 ? 0 : (k21[7 * group + pos / 8] >> (7 - pos % 8)) & 1; };
    for (int g = 0; g < 3; ++g)
      for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 8; ++i) out[8 * g + k] |= static_cast<uint8_t>(bit(g, 7 * k - 1 + i) << (7 - i));
    return out;
  }

 private:
  Bytes Pad(const Bytes &s) const {
    Bytes p(kl_ + bl_, 0);
    for (size_t i = 0; i < s.size() && i < p.size(); ++i) p[i] = s[i];
    return p;
  }
  static void Increment(Bytes &v) {
    for (size_t i = v.size(); i-- > 0;)
      if (++v[i] != 0) break;
  }
  Bytes Encrypt(const Bytes &key, const Bytes &in) const {
    Bytes k = bl_ == 8 && key.size() == 21 ? WidenTdeaKey(key) : key;
    const EVP_CIPHER *c = bl_ == 8    ? EVP_des_ede3_ecb()
                          : kl_ == 16 ? EVP_aes_128_ecb()
                          : kl_ == 24 ? EVP_aes_192_ecb()
                                      : EVP_aes_256_ecb();
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    Bytes out(bl_ * 2);
    int n = 0;
    EVP_EncryptInit_ex(ctx, c, nullptr, k.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(bl_));
    EVP_CIPHER_CTX_free(ctx);
    out.resize(bl_);
    return out;
  }
  void Update(const Bytes &provided) {
    Bytes temp;
    while (temp.size() < kl_ + bl_) {
      Increment(v_);
      Bytes b = Encrypt(key_, v_);
      temp.insert(temp.end(), b.begin(), b.end());
    }
    temp.resize(kl_ + bl_);
    for (size_t i = 0; i < temp.size(); ++i) temp[i] ^= provided[i];
    key_.assign(temp.begin(), temp.begin() + static_cast<long>(kl_));
    v_.assign(temp.begin() + static_cast<long>(kl_), temp.end());
  }
  Bytes Derive(const Bytes &input, size_t n) const {
    Bytes s;
    auto be32 = [&](size_t x) {
      for (int i = 3; i >= 0; --i) s.push_back(static_cast<uint8_t>(x >> (8 * i)));
    };
    be32(input.size());
    be32(n);
    s.insert(s.end(), input.begin(), input.end());
    s.push_back(0x80);
    while (s.size() % bl_ != 0) s.push_back(0);
    Bytes dfKey(bl_ == 8 ? 24 : kl_);
    for (size_t i = 0; i < dfKey.size(); ++i) dfKey[i] = static_cast<uint8_t>(i);
    Bytes temp;
    for (uint32_t i = 0; temp.size() < kl_ + bl_; ++i) {
      Bytes iv(bl_, 0);
      for (int j = 0; j < 4; ++j) iv[j] = static_cast<uint8_t>(i >> (24 - 8 * j));
      Bytes all = iv;
      all.insert(all.end(), s.begin(), s.end());
      Bytes chain(bl_, 0);
      for (size_t off = 0; off < all.size(); off += bl_) {
        for (size_t j = 0; j < bl_; ++j) chain[j] ^= all[off + j];
        chain = Encrypt(dfKey, chain);
      }
      temp.insert(temp.end(), chain.begin(), chain.end());
    }
    Bytes k(temp.begin(), temp.begin() + static_cast<long>(kl_));
    Bytes x(temp.begin() + static_cast<long>(kl_), temp.begin() + static_cast<long>(kl_ + bl_));
    Bytes out;
    while (out.size() < n) {
      x = Encrypt(k, x);
      out.insert(out.end(), x.begin(), x.end());
    }
    out.resize(n);
    return out;
  }

  size_t kl_, bl_;
  bool df_;
  Bytes key_, v_;
};

}  // namespace kel::test
