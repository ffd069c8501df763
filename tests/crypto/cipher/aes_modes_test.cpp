// AES: the core and every mode against the published vectors on every code
// path, then each one's limits and refusals (random shapes against OpenSSL:
// differential_test).
#include "crypto/cipher/gcm_internal.h"
#include "kel/aes.h"
#include "kel/aes_modes.h"
#include "kel/debug_console.h"
#include "kel/gcm.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

// Both ways through a heap context, whole and a block a call (the iv buffer
// carries the chain), in place.
void CheckMode(const ModeInfo &m, const Bytes &key, const Bytes &iv, const Bytes &pt, const Bytes &ct) {
  for (int encrypt : {1, 0}) {
    SCOPED_TRACE(encrypt ? "encrypt" : "decrypt");
    BulkCtx ctx = m.create(key.data(), Len(key), encrypt);
    ASSERT_NE(ctx, nullptr);
    for (size_t piece : {pt.size(), size_t{16}}) {
      Bytes data = encrypt ? pt : ct, chain = iv.empty() ? Bytes(16) : iv;
      InPieces(data, [&] { return piece; },
               [&](uint8_t *p, uint32_t n) { return DoAES(ctx, p, n, encrypt, chain.data()); });
      EXPECT_EQ(ToHex(data), ToHex(encrypt ? ct : pt)) << "piece " << piece;
    }
    EXPECT_EQ(DeleteAESCtx(&ctx), 0);
  }
}

// Encrypts (when the case is valid) and decrypts through both forms; a case
// that is not valid must be refused with `refusal`.
void CheckCcm(const Bytes &key, const Bytes &nonce, const Bytes &aad, const Bytes &pt, const Bytes &ct,
              const Bytes &tag, bool valid, int32_t refusal = ERR_AES_CCM_AUTH_FAIL) {
  const uint8_t M = static_cast<uint8_t>(tag.size());
  const int32_t keyLen = static_cast<int32_t>(key.size());
  const uint8_t *a = aad.empty() ? nullptr : aad.data();
  Bytes spare(16), outTag(16), buf = ct;
  auto ptr = [&](Bytes &b) { return b.empty() ? spare.data() : b.data(); };  // a valid pointer for empty data
  const uint8_t *n = nonce.empty() ? spare.data() : nonce.data();
  const uint8_t L = static_cast<uint8_t>(15 - std::min(Len(nonce), 15u));
  if (nonce.size() <= 15) {  // beyond what a length field can describe only the keyed form can be asked
    EXPECT_EQ(AESCCM_decrypt(M, L, key.data(), keyLen, n, ptr(buf), Len(ct), a, Len(aad), tag.data()),
              valid ? 0 : refusal);
    if (valid) {
      EXPECT_EQ(ToHex(buf), ToHex(pt));
    }
  }
  // The keyed form keeps the tag after the data.
  BulkCtx ctx = AESCCM_createCtx(key.data(), Len(key), 0);
  ASSERT_NE(ctx, nullptr);
  Bytes joined = Concat(ct, tag);
  EXPECT_EQ(AESCCM_cipher(ctx, n, Len(nonce), a, Len(aad), joined.data(), Len(ct), M, 0), valid ? 0 : refusal);
  if (valid) {
    buf = pt;
    ASSERT_EQ(AESCCM_encrypt(M, L, key.data(), keyLen, n, ptr(buf), Len(pt), a, Len(aad), outTag.data()), 0);
    EXPECT_EQ(ToHex(buf), ToHex(ct));
    EXPECT_EQ(ToHex(outTag.data(), M), ToHex(tag));
    joined = Concat(pt, Bytes(M));
    ASSERT_EQ(AESCCM_cipher(ctx, n, Len(nonce), a, Len(aad), joined.data(), Len(pt), M, 1), 0);
    EXPECT_EQ(ToHex(joined), ToHex(Concat(ct, tag)));
  }
  EXPECT_EQ(AESCCM_deleteCtx(&ctx), 0);
}

// The MAC of msg under key, fed in pieces of `piece` bytes (0: one update);
// final must leave the context wiped.
Bytes Mac(const Bytes &key, const Bytes &msg, size_t piece, int32_t *status = nullptr) {
  AesCmacContext ctx;
  Bytes tag(16), data = msg;
  int32_t s = AESCMAC_init(key.data(), Len(key), &ctx);
  if (status) *status = s;
  if (s != 0) return {};
  InPieces(data, [&] { return piece ? piece : msg.size(); },
           [&](uint8_t *p, uint32_t n) { return AESCMAC_update(p, n, &ctx); });
  EXPECT_EQ(AESCMAC_final(tag.data(), &ctx), 0);
  const AesCmacContext zero{};
  EXPECT_EQ(0, std::memcmp(&ctx, &zero, sizeof ctx));
  return tag;
}

// Both ways; the tweak buffer is an input only.
void CheckXts(const Bytes &key, const Bytes &tweak, const Bytes &pt, const Bytes &ct) {
  for (int encrypt : {1, 0}) {
    BulkCtx ctx = CreateAESXTSCtx(key.data(), static_cast<int32_t>(key.size()), encrypt);
    ASSERT_NE(ctx, nullptr);
    Bytes data = encrypt ? pt : ct, tw = tweak;
    ASSERT_EQ(DoAESXTS(ctx, data.data(), Len(data), encrypt, tw.data()), 0);
    EXPECT_EQ(ToHex(data), ToHex(encrypt ? ct : pt)) << (encrypt ? "encrypt" : "decrypt");
    EXPECT_EQ(tw, tweak);
    EXPECT_EQ(DeleteAESXTSCtx(&ctx), 0);
  }
}

// A valid case encrypts to ct||tag and decrypts back, in one call and in
// updates of `piece` bytes; an invalid one is refused by the one-call form.
void CheckGcm(const Bytes &key, const Bytes &iv, const Bytes &aad, const Bytes &pt, const Bytes &ct, const Bytes &tag,
              bool valid, size_t piece) {
  BulkCtx ctx = GCM_createCtx_256b(key.data(), Len(key), 1);
  ASSERT_NE(ctx, nullptr);
  uint8_t dummy = 0;
  const uint8_t *ivp = iv.empty() ? &dummy : iv.data(), *ap = aad.empty() ? nullptr : aad.data();
  Bytes buf = Concat(ct, tag);
  EXPECT_EQ(GCM_cipher_256b(ctx, ivp, Len(iv), ap, Len(aad), buf.data(), Len(ct), Len(tag), 0),
            iv.empty() ? ERR_INVALID_ARG : valid ? 0 : ERR_GCM_TAG_MISMATCH);
  if (valid) {
    EXPECT_EQ(ToHex(buf.data(), pt.size()), ToHex(pt));
    buf = Concat(pt, Bytes(tag.size()));
    ASSERT_EQ(GCM_cipher_256b(ctx, ivp, Len(iv), ap, Len(aad), buf.data(), Len(pt), Len(tag), 1), 0);
    EXPECT_EQ(ToHex(buf), ToHex(Concat(ct, tag)));
    for (int encrypt : {1, 0}) {
      Bytes text = encrypt ? pt : ct, full(16);
      ASSERT_EQ(GCM_init_256b(ctx, ivp, Len(iv), ap, Len(aad)), 0);
      InPieces(text, [&] { return piece; }, [&](uint8_t *p, uint32_t n) {
        return encrypt ? GCM_update_encrypt_256b(ctx, p, n) : GCM_update_decrypt_256b(ctx, p, n);
      });
      ASSERT_EQ(GCM_final_256b(ctx, full.data()), 0);
      EXPECT_EQ(ToHex(text), ToHex(encrypt ? ct : pt));
      EXPECT_EQ(ToHex(full.data(), tag.size()), ToHex(tag));
    }
  }
  EXPECT_EQ(GCM_deleteCtx_256b(&ctx), 0);
}

// Runs check on every record of the files, traced by file and line; counts them.
template <class F>
void EachRecord(const std::vector<std::string> &files, int &count, F check) {
  for (const auto &file : files)
    for (const auto &r : ReadRsp(file)) {
      SCOPED_TRACE(file + ":" + std::to_string(r.line));
      check(r);
      ++count;
    }
}

template <class F>
void EachWycheproof(const std::string &file, int &count, F check) {
  for (const auto &t : ReadWycheproof(file)) {
    SCOPED_TRACE("tcId " + t.at("tcId") + " " + t.at("comment"));
    check(t, t.at("result") == "valid");
    ++count;
  }
}

class Aes : public CipherTest {};

// Every published vector on every code path; a Wycheproof CCM case of a shape
// CCM does not allow is refused as an argument, not as a failed tag.
TEST_F(Aes, PublishedVectorsOnEveryPath) {
  int cases = 0;
  const int paths = ForEachCpuPath([&] {
    EachRecord({"aes/fips197_appendix_c.txt"}, cases, [](const RspRecord &r) {
      const Bytes key = r.Hex("Key"), pt = r.Hex("Plaintext"), ct = r.Hex("Ciphertext");
      const int bits = static_cast<int>(key.size() * 8), rounds = bits / 32 + 6;
      uint32_t rk[60], rkd[60];
      ASSERT_EQ(aesKeySetupEnc(rk, key.data(), bits), rounds);
      ASSERT_EQ(aesKeySetupDec(rkd, key.data(), bits), rounds);
      uint8_t out[16];
      aesEncrypt(rk, rounds, pt.data(), out);
      EXPECT_EQ(ToHex(out, 16), ToHex(ct));
      aesDecrypt(rkd, rounds, out, out);  // in place
      EXPECT_EQ(ToHex(out, 16), ToHex(pt));
      EXPECT_EQ(aesKeySetupEnc(rk, key.data(), 160), 0);
      CheckMode(kModes[0], key, {}, pt, ct);
    });
    EachRecord({"aes/sp800-38a_aes_modes.txt"}, cases, [](const RspRecord &r) {
      const std::string section = r.section.begin()->first;
      const Bytes pt = r.Hex("Plaintext"), ct = r.Hex("Ciphertext");
      for (const auto &m : kModes)
        if (section.rfind(std::string(m.prefix) + "-", 0) == 0)
          CheckMode(m, r.Hex("Key"), m.ecb ? Bytes{} : r.Hex("IV"), pt, ct);
      if (section.rfind("CTR-", 0) != 0) return;
      // Decryption is the same operation.
      const Bytes key = Concat(r.Hex("Key"), r.Hex("InitialCounterBlock"));
      Bytes data = ct;
      ASSERT_EQ(CRYPTO_Process(&CRYPTO_AESCtrSuite, key.data(), Len(key), nullptr, data.data(), Len(ct), 0),
                0);
      EXPECT_EQ(data, pt);
    });
    EachRecord({"aes-ctr/rfc3686_aes_ctr.txt"}, cases, [](const RspRecord &r) {
      const Bytes material = Concat(r.Hex("Key"), r.Hex("Nonce"));
      BulkCtx ctx = CreateAesCtrCtx(material.data(), Len(material), 1);
      ASSERT_NE(ctx, nullptr);
      Bytes data = r.Hex("Plaintext");
      ASSERT_EQ(DoAesCtr(ctx, data.data(), static_cast<int32_t>(data.size()), 1, r.Hex("IV").data()), 0);
      EXPECT_EQ(ToHex(data), ToHex(r.Hex("Ciphertext")));
      EXPECT_EQ(DeleteAESCTRCtx(&ctx), 0);
    });
    for (const auto &m : kModes) {
      std::vector<std::string> files;
      for (const char *kind : {"GFSbox", "KeySbox", "MMT", "VarKey", "VarTxt"})
        for (const char *bits : {"128", "192", "256"})
          if (kind[0] != 'V' || m.ecb || std::string(m.prefix) == "CBC")
            files.push_back(std::string("aes/") + m.prefix + kind + bits + ".rsp");
      EachRecord(files, cases, [&m](const RspRecord &r) {
        CheckMode(m, r.Hex("KEY"), m.ecb ? Bytes{} : r.Hex("IV"), r.Hex("PLAINTEXT"), r.Hex("CIPHERTEXT"));
      });
    }
    EachRecord({"aes-ccm/rfc3610_aes_ccm.txt"}, cases, [](const RspRecord &r) {
      CheckCcm(r.Hex("Key"), r.Hex("Nonce"), r.Hex("AAD"), r.Hex("Plaintext"), r.Hex("Ciphertext"), r.Hex("Tag"),
               r.Get("Result") == "PASS");
    });
    EachRecord({"aes-ccm/sp800-38c_aes_ccm.txt"}, cases, [](const RspRecord &r) {
      const Bytes ctTag = r.Hex("CT");
      const size_t tlen = std::stoul(r.Get("Tlen")) / 8;
      CheckCcm(r.Hex("Key"), r.Hex("Nonce"), r.Hex("Adata"), r.Hex("Payload"), Bytes(ctTag.begin(), ctTag.end() - tlen),
               Bytes(ctTag.end() - tlen, ctTag.end()), true);
    });
    EachWycheproof("aes-ccm/aes_ccm_test.json", cases, [](const WycheproofCase &t, bool ok) {
      const size_t ivBytes = std::stoul(t.at("ivSize")) / 8, tagBytes = std::stoul(t.at("tagSize")) / 8;
      const bool shapeOk = ivBytes >= 7 && ivBytes <= 13 && tagBytes >= 4 && tagBytes % 2 == 0;
      ASSERT_TRUE(shapeOk || !ok);
      CheckCcm(FromHex(t.at("key")), FromHex(t.at("iv")), FromHex(t.at("aad")), FromHex(t.at("msg")),
               FromHex(t.at("ct")), FromHex(t.at("tag")), ok, shapeOk ? ERR_AES_CCM_AUTH_FAIL : ERR_INVALID_ARG);
    });
    EachRecord({"aes-cmac/sp800-38b_aes_cmac.txt"}, cases, [](const RspRecord &r) {
      const Bytes key = r.Hex("Key"), msg = r.Has("Msg") ? r.Hex("Msg") : Bytes{};
      ASSERT_EQ(msg.size(), std::stoul(r.Get("Mlen")));
      for (size_t piece : {0, 1, 15, 16, 17})
        EXPECT_EQ(ToHex(Mac(key, msg, piece)), ToHex(r.Hex("Mac"))) << "piece " << piece;
    });
    std::vector<std::string> cmacFiles;
    for (const char *f : {"GenAES128", "GenAES192", "GenAES256", "VerAES128", "VerAES256"})
      cmacFiles.push_back(std::string("aes-cmac/CMAC") + f + ".rsp");
    EachRecord(cmacFiles, cases, [&cases](const RspRecord &r) {
      const size_t mlen = std::stoul(r.Get("Mlen")), tlen = std::stoul(r.Get("Tlen"));
      const Bytes tag = Mac(r.Hex("Key"), mlen ? r.Hex("Msg") : Bytes{}, cases % 2 ? 0 : 13);
      const bool match = ToHex(tag).substr(0, 2 * tlen) == r.Get("Mac");
      EXPECT_EQ(match, !r.Has("Result") || r.Get("Result")[0] == 'P');
    });
    EachWycheproof("aes-cmac/aes_cmac_test.json", cases, [](const WycheproofCase &t, bool ok) {
      const Bytes key = FromHex(t.at("key")), want = FromHex(t.at("tag"));
      int32_t s = 0;
      const Bytes tag = Mac(key, FromHex(t.at("msg")), 7, &s);
      const bool match =
          s == 0 && want.size() == std::stoul(t.at("tagSize")) / 8 && std::equal(want.begin(), want.end(), tag.begin());
      EXPECT_EQ(match, ok);
      if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
        EXPECT_EQ(s, key.empty() ? ERR_NULL_POINTER : ERR_AES_BAD_KEY_LENGTH);
      }
    });
    EachRecord({"aes-xts/ieee1619_xts_aes.txt"}, cases, [](const RspRecord &r) {
      CheckXts(Concat(r.Hex("Key1"), r.Hex("Key2")), r.Hex("Tweak"), r.Hex("Plaintext"), r.Hex("Ciphertext"));
    });
    const std::vector<std::string> xtsFiles = {"aes-xts/XTSGenAES128.rsp",
                                               "aes-xts/XTSGenAES256.rsp"};
    EachRecord(xtsFiles, cases, [&cases](const RspRecord &r) {
      if (std::stoul(r.Get("DataUnitLen")) % 8 == 0)
        CheckXts(r.Hex("Key"), r.Hex("i"), r.Hex("PT"), r.Hex("CT"));
      else
        --cases;  // a unit of part of a byte: not run
    });
    EachRecord({"aes-gcm/gcm_mcgrew_viega_cases.txt"}, cases, [](const RspRecord &r) {
      for (size_t piece : {1, 15, 16, 17, 1000})
        CheckGcm(r.Hex("Key"), r.Hex("IV"), r.Hex("AAD"), r.Hex("Plaintext"), r.Hex("Ciphertext"), r.Hex("Tag"), true,
                 piece);
    });
    std::vector<std::string> gcmFiles;
    for (const char *f : {"EncryptExtIV128", "EncryptExtIV192", "EncryptExtIV256", "Decrypt128",
                          "Decrypt192", "Decrypt256"})
      gcmFiles.push_back(std::string("aes-gcm/gcm") + f + ".rsp");
    EachRecord(gcmFiles, cases, [&cases](const RspRecord &r) {
      const bool valid = !r.Has("FAIL");
      CheckGcm(r.Hex("Key"), r.Hex("IV"), r.Hex("AAD"), valid ? r.Hex("PT") : Bytes{}, r.Hex("CT"), r.Hex("Tag"),
               valid, 1 + cases % 37);
    });
    EachWycheproof("aes-gcm/aes_gcm_test.json", cases, [](const WycheproofCase &t, bool ok) {
      CheckGcm(FromHex(t.at("key")), FromHex(t.at("iv")), FromHex(t.at("aad")), FromHex(t.at("msg")),
               FromHex(t.at("ct")), FromHex(t.at("tag")), ok, 7);
    });
  });
  EXPECT_EQ(cases, paths * 13058);
}

TEST_F(Aes, ContextLengthsKeySizesAndDirections) {
  const Bytes key(32, 0x11);
  BulkCtx enc = CreateAESCtx(key.data(), 24, 1);
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(CreateAESCtx(key.data(), 20, 1), nullptr);
  EXPECT_EQ(CreateAESCtx(nullptr, 16, 1), nullptr);

  Bytes data(17, 0x5a), iv(16);
  const Bytes before = data;
  EXPECT_EQ(DoAES(enc, data.data(), 17, 1, iv.data()), ERR_AES_BAD_LENGTH);
  EXPECT_EQ(data, before);
  EXPECT_EQ(DoAES(enc, data.data(), 0, 1, iv.data()), 0);
  EXPECT_EQ(DoAES(nullptr, data.data(), 16, 1, iv.data()), ERR_NULL_POINTER);
  EXPECT_EQ(DeleteAESCtx(&enc), 0);
  EXPECT_EQ(DeleteAESCtx(&enc), 0);  // already null: nothing to do

  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;  // the AESALGO functions are not behind the gate
  AesContext ctx{};
  EXPECT_EQ(AESALGO_makeAesKey(&ctx, 127, key.data(), 1, MODE_ECB), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(AESALGO_makeAesKey(&ctx, 128, nullptr, 1, MODE_ECB), ERR_NULL_POINTER);
  int32_t bits = -1;
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 1, 3), 0);
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, iv.data(), data.data(), 128, data.data(), &bits), ERR_AES_BAD_CIPHER_MODE);
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 0, 3), 0);
  EXPECT_EQ(AESALGO_blockDecrypt(&ctx, iv.data(), data.data(), 128, data.data(), &bits), ERR_AES_BAD_KEY_DIR);
  // A partial block is left alone; a non-positive length writes nothing.
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 1, MODE_ECB), 0);
  bits = -1;
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, nullptr, data.data(), 130, data.data(), &bits), 0);
  EXPECT_EQ(bits, 128);
  EXPECT_EQ(data[16], 0x5a);
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, nullptr, data.data(), -8, data.data(), &bits), 0);
  EXPECT_EQ(bits, 0);
  AesContext dec{};
  ASSERT_EQ(AESALGO_makeAesKey(&dec, 128, key.data(), 0, MODE_ECB), 0);
  EXPECT_EQ(AESALGO_blockDecrypt(&dec, nullptr, data.data(), 130, data.data(), &bits), 0);
  EXPECT_EQ(bits, 128);
}

std::string g_console;

TEST_F(Aes, SuiteOneCallProcessAndConsole) {
  const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  Bytes data = FromHex("6bc1bee22e409f96e93d7e117393172a");
  ASSERT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), data.data(), 16, 1), 0);
  EXPECT_EQ(ToHex(data), "7649abac8119b246cee98e9b12e9197d");
  EXPECT_EQ(CRYPTO_Process(nullptr, key.data(), 16, iv.data(), data.data(), 16, 1), ERR_NULL_POINTER);
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 15, iv.data(), data.data(), 16, 1), ERR_MEM_ALLOC_FAIL);
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), data.data(), 7, 1), ERR_AES_BAD_LENGTH);

  // Failures of the cipher itself are printed on the console; refusals are not.
  g_console.clear();
  DEBUG_CONSOLE_setLogVoraneCallback([](const char *text) { g_console += text; });
  BulkCtx ctx = CreateAESCtx(key.data(), 16, 1);
  EXPECT_EQ(DoAES(ctx, data.data(), 16, 0, iv.data()), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(DoAES(ctx, data.data(), 3, 1, iv.data()), ERR_AES_BAD_LENGTH);
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  EXPECT_EQ(g_console, "DoAES: cipher failed, error = -7903\r\n");
  DeleteAESCtx(&ctx);
}

TEST_F(Aes, CtrCounterWidthDecidesHowFarTheCarryRuns) {
  const Bytes key(16, 7);
  // Wraps of the low word, of the low 64 bits and of the whole block, each
  // inside a run: the carry must reach exactly as far as the width.
  for (const char *hex :
       {"000102030405060708090a0bffffffff", "0001020304050607fffffffffffffffe", "fffffffffffffffffffffffffffffffd"}) {
    SCOPED_TRACE(hex);
    const Bytes start = FromHex(hex);
    ForEachCpuPath([&] {
      for (int width : {4, 16, 0, 1, 8, 9}) {
        AesCtrContext ctx;
        ASSERT_EQ(AESCTRInit(&ctx, key.data(), 16, start.data()), 0);
        Bytes data(16 * 40, 0);  // long enough for the eight-block paths
        ASSERT_EQ(DoAESCTREx(&ctx, data.data(), static_cast<int32_t>(data.size()), 1, nullptr, width), 0);
        // Expected keystream: block i encrypts the counter advanced i times.
        Bytes counter = start;
        for (int i = 0; i < 40; ++i) {
          uint8_t ks[16];
          aesEncrypt(ctx.aes.roundKeys, ctx.aes.rounds, counter.data(), ks);
          ASSERT_EQ(ToHex(ks, 16), ToHex(data.data() + 16 * i, 16)) << "width " << width << " block " << i;
          aes::increment_counter(counter.data(), width);
        }
        EXPECT_EQ(ToHex(ctx.counterBlock, 16), ToHex(counter));
      }
    });
  }
}

TEST_F(Aes, CtrFilePositionsGiveSlicesOfOneKeystream) {
  const Bytes material = Concat(Bytes(32, 0x42), Bytes(16, 0));
  const Bytes nonce = FromHex("a0a1a2a3a4a5a6a7a8a9aaab");
  ForEachCpuPath([&] {
    BulkCtx ctx = CreateAESCTRCtx(material.data(), 48, 1);
    ASSERT_NE(ctx, nullptr);
    Bytes whole(300, 0);
    ASSERT_EQ(DoAESCTRFileIo(ctx, whole.data(), 300, 1, nonce.data(), 0), 0);
    // Position 0 is the counter block nonce || 0.
    const Bytes start = Concat(Bytes(32, 0x42), Concat(nonce, Bytes(4, 0)));
    BulkCtx plain = CreateAESCTRCtx(start.data(), 48, 1);
    Bytes stream(300, 0);
    ASSERT_EQ(DoAESCTR(plain, stream.data(), 300, 1, nullptr), 0);
    EXPECT_EQ(ToHex(whole), ToHex(stream));
    DeleteAESCTRCtx(&plain);
    for (uint32_t pos : {0u, 15u, 16u, 17u, 200u}) {
      Bytes part(50, 0);
      ASSERT_EQ(DoAESCTRFileIo(ctx, part.data(), 50, 1, nonce.data(), pos), 0);
      EXPECT_EQ(ToHex(part), ToHex(whole.data() + pos, 50)) << pos;
    }
    EXPECT_EQ(DeleteAESCTRCtx(&ctx), 0);
  });
}

TEST_F(Aes, CtrRefusesBadInput) {
  const Bytes material(48, 3);
  EXPECT_EQ(CreateAESCTRCtx(material.data(), 16, 1), nullptr);  // no key before the counter block
  EXPECT_EQ(CreateAESCTRCtx(material.data(), 33, 1), nullptr);  // 17-byte key
  EXPECT_EQ(CreateAesCtrCtx(material.data(), 4, 1), nullptr);   // nonce only
  EXPECT_EQ(CreateAesCtrCtx(material.data(), 21, 1), nullptr);
  EXPECT_EQ(CreateAESCTRCtx(nullptr, 32, 1), nullptr);
  uint8_t data[4] = {};
  EXPECT_EQ(DoAESCTREx(nullptr, data, 4, 1, nullptr, 16), ERR_NULL_POINTER);
  BulkCtx ctx = CreateAESCTRCtx(material.data(), 32, 1);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(DoAESCTREx(ctx, data, 4, 1, nullptr, 17), ERR_INVALID_ARG);
  EXPECT_EQ(DoAESCTREx(ctx, nullptr, 4, 1, nullptr, 16), ERR_NULL_POINTER);
  EXPECT_EQ(DoAESCTREx(ctx, data, -5, 1, nullptr, 16), 0);
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(DoAesCtr(ctx, data, 4, 1, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(DoAESCTRFileIo(ctx, data, 4, 1, nullptr, 0), ERR_NULL_POINTER);
  AesCtrContext init;
  EXPECT_EQ(AESCTRInit(&init, material.data(), 20, material.data()), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(DeleteAESCTRCtx(&ctx), 0);
}

TEST_F(Aes, CcmParameterLimits) {
  const Bytes key(16, 9), nonce(13, 1);
  Bytes data(70000, 0x33), tag(16);
  auto enc = [&](uint8_t M, uint8_t L, uint32_t len, int32_t keyLen = 16) {
    return AESCCM_encrypt(M, L, key.data(), keyLen, nonce.data(), data.data(), len, nullptr, 0, tag.data());
  };
  for (uint8_t M : {3, 5, 18, 2, 0}) EXPECT_EQ(enc(M, 2, 16), ERR_INVALID_ARG) << int(M);
  for (uint8_t L : {1, 9, 0}) EXPECT_EQ(enc(8, L, 16), ERR_INVALID_ARG) << int(L);
  EXPECT_EQ(enc(8, 2, 65536), ERR_INVALID_ARG);
  EXPECT_EQ(enc(8, 2, 65535), 0);
  EXPECT_EQ(enc(16, 8, 17), 0);
  EXPECT_EQ(enc(8, 2, 1, 15), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(AESCCM_encrypt(8, 2, nullptr, 16, nonce.data(), data.data(), 1, nullptr, 0, tag.data()), ERR_NULL_POINTER);
  EXPECT_EQ(AESCCM_encrypt(8, 2, key.data(), 16, nonce.data(), data.data(), 1, nullptr, 5, tag.data()),
            ERR_NULL_POINTER);
  EXPECT_EQ(AESCCM_encrypt(8, 2, key.data(), 16, nonce.data(), data.data(), 1, nullptr, 0, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(AESCCM_cipher(nullptr, nonce.data(), 13, nullptr, 0, data.data(), 16, 8, 1), ERR_NULL_POINTER);
  EXPECT_EQ(AESCCM_createCtx(key.data(), 15, 1), nullptr);
}

TEST_F(Aes, CmacRefusals) {
  AesCmacContext ctx;
  const Bytes key(16, 1);
  uint8_t tag[16];
  EXPECT_EQ(AESCMAC_init(key.data(), 16, nullptr), ERR_NULL_POINTER);
  ASSERT_EQ(AESCMAC_init(key.data(), 16, &ctx), 0);
  EXPECT_EQ(AESCMAC_update(nullptr, 4, &ctx), ERR_NULL_POINTER);
  EXPECT_EQ(AESCMAC_update(nullptr, 0, &ctx), 0);
  EXPECT_EQ(AESCMAC_update(key.data(), 4, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(AESCMAC_final(nullptr, &ctx), ERR_NULL_POINTER);
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;  // the OMAC functions are not behind the gate
  EXPECT_EQ(AES_OMAC_init(nullptr), ERR_NULL_POINTER);
  for (uint8_t fill : {16, 17}) {  // a held block of more than 16 bytes is a damaged state
    ctx.omac.blockFill = fill;
    EXPECT_EQ(AES_OMAC_update(&ctx.aes, &ctx.omac, key.data(), 0), fill > 16 ? ERR_INVALID_ARG : 0);
  }
  EXPECT_EQ(AES_OMAC_final(&ctx.aes, &ctx.omac, tag), ERR_INVALID_ARG);
}

TEST_F(Aes, XtsLimitsKeysAndDirections) {
  const Bytes key(64, 0x3c), tweak(16, 1);
  for (int32_t n : {33, 40, 0})  // odd: no two halves; 20-byte halves; none
    EXPECT_EQ(CreateAESXTSCtx(key.data(), n, 1), nullptr) << n;
  EXPECT_EQ(CreateAESXTSCtx(nullptr, 32, 1), nullptr);
  AesXtsContext x;
  EXPECT_EQ(AESXTSInit(&x, key.data(), key.data(), 20, 1), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(AESXTSInit(&x, key.data(), nullptr, 16, 1), ERR_NULL_POINTER);
  BulkCtx enc = CreateAESXTSCtx(key.data(), 48, 1);
  ASSERT_NE(enc, nullptr);
  auto *ctx = static_cast<AesXtsContext *>(enc);
  Bytes big((1u << 24) + 1, 0x77);
  EXPECT_EQ(AESXTSEncrypt(ctx, tweak.data(), big.data(), 15), ERR_INVALID_ARG);
  EXPECT_EQ(AESXTSEncrypt(ctx, tweak.data(), big.data(), (1u << 24) + 1), ERR_INVALID_ARG);
  EXPECT_EQ(big[0], 0x77);
  EXPECT_EQ(AESXTSEncrypt(ctx, tweak.data(), big.data(), 1u << 24), 0);
  EXPECT_EQ(AESXTSDecrypt(ctx, tweak.data(), big.data(), 32), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(AESXTSEncrypt(nullptr, tweak.data(), big.data(), 32), ERR_NULL_POINTER);
  EXPECT_EQ(AESXTSEncrypt(ctx, nullptr, big.data(), 32), ERR_NULL_POINTER);
  EXPECT_EQ(DeleteAESXTSCtx(&enc), 0);
}

TEST_F(Aes, GcmRefusalsTagLengthsAndReuse) {
  const Bytes key(16, 3), iv(12, 4);
  BulkCtx ctx = GCM_createCtx_256b(key.data(), 16, 1);
  ASSERT_NE(ctx, nullptr);
  Bytes data(48, 0x11);
  EXPECT_EQ(GCM_init_256b(nullptr, iv.data(), 12, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_init_256b(ctx, nullptr, 12, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_init_256b(ctx, iv.data(), 12, nullptr, 3), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_init_256b(ctx, iv.data(), 0, nullptr, 0), ERR_INVALID_ARG);
  EXPECT_EQ(GCM_init_256b(ctx, iv.data(), 12, nullptr, 0), 0);
  EXPECT_EQ(GCM_update_encrypt_256b(ctx, nullptr, 3), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_update_decrypt_256b(nullptr, data.data(), 3), ERR_NULL_POINTER);
  EXPECT_EQ(GCM_final_256b(ctx, nullptr), ERR_NULL_POINTER);
  // A 12-byte tag: only those bytes are compared (the CAVP files refuse flipped ones).
  ASSERT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, data.data(), 32, 12, 1), 0);
  data[44] ^= 0xff;  // beyond the 12 tag bytes
  EXPECT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, data.data(), 32, 12, 0), 0);
  EXPECT_EQ(GCM_createCtx_256b(key.data(), 15, 1), nullptr);
  EXPECT_EQ(GCM_createCtx_256b(nullptr, 16, 1), nullptr);
  // A tag is 16, 15, 14, 13, 12, 8 or 4 bytes; any other length is refused
  // both ways and nothing is written after the data.
  for (uint32_t t = 0; t <= 17; ++t) {
    SCOPED_TRACE(t);
    const bool approved = t == 4 || t == 8 || (t >= 12 && t <= 16);
    Bytes buf(32 + 16, 0x77);
    const Bytes before = buf;
    EXPECT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, buf.data(), 32, t, 1), approved ? 0 : ERR_INVALID_ARG);
    if (!approved) {
      EXPECT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, buf.data(), 32, t, 0), ERR_INVALID_ARG);
      EXPECT_EQ(ToHex(buf), ToHex(before));
    }
  }
  EXPECT_EQ(GCM_deleteCtx_256b(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

// The context's multiples of H: its table holds H times each 4-bit value i (the block whose
// first nibble is i), as SP 800-38D's bitwise product gives it; keyed on the portable path,
// it serves the carry-less one (its powers of H are made on first use there).
TEST_F(Aes, GcmContextMultiplesOfH) {
  using Block = std::array<uint32_t, 4>;
  const auto product = [](const Block &x, Block v) {
    Block z{};
    for (int i = 0; i < 128; ++i) {
      if (x[i / 32] >> (31 - i % 32) & 1)
        for (int w = 0; w < 4; ++w) z[w] ^= v[w];
      const uint32_t low = v[3] & 1;
      for (int w = 3; w > 0; --w) v[w] = v[w] >> 1 | v[w - 1] << 31;
      v[0] = v[0] >> 1 ^ (low ? 0xE1000000u : 0);
    }
    return z;
  };
  const Bytes key(16, 3), iv(12, 6);
  cpu::restrict_to(0);
  BulkCtx ctx = GCM_createCtx_256b(key.data(), 16, 1);
  cpu::restrict_to(~0u);
  ASSERT_NE(ctx, nullptr);
  const auto &table = static_cast<GcmContext *>(ctx)->table;
  const Block h = {table[8][0], table[8][1], table[8][2], table[8][3]};
  for (uint32_t i = 0; i < 16; ++i)
    EXPECT_EQ((Block{table[i][0], table[i][1], table[i][2], table[i][3]}), product({i << 28, 0, 0, 0}, h)) << i;
  BulkCtx fresh = GCM_createCtx_256b(key.data(), 16, 1);
  Bytes early(64, 0x21), late = early;
  ASSERT_EQ(GCM_cipher_256b(ctx, iv.data(), 12, nullptr, 0, early.data(), 48, 16, 1), 0);
  ASSERT_EQ(GCM_cipher_256b(fresh, iv.data(), 12, nullptr, 0, late.data(), 48, 16, 1), 0);
  EXPECT_EQ(ToHex(early), ToHex(late));
  EXPECT_EQ(GCM_deleteCtx_256b(&ctx) | GCM_deleteCtx_256b(&fresh), 0);
}

// A message holds at most 2^32 - 1 bytes: an update that would pass that is
// refused whole (nothing encrypted, nothing absorbed).
TEST_F(Aes, GcmTextBeyondTheLengthCountIsRefused) {
  const Bytes key(32, 9), iv(12, 1);
  ForEachCpuPath([&] {
    BulkCtx ctx = GCM_createCtx_256b(key.data(), 32, 1);
    ASSERT_NE(ctx, nullptr);
    auto &c = *static_cast<GcmContext *>(ctx);
    for (int encrypt : {1, 0}) {
      ASSERT_EQ(GCM_init_256b(ctx, iv.data(), 12, nullptr, 0), 0);
      c.textLength = 0xFFFFFFF0u;  // as after 4 GiB - 16 bytes of text
      Bytes data(64, 0x3c);
      const Bytes before = data;
      auto update = [&](uint8_t *p, uint32_t n) {
        return encrypt ? GCM_update_encrypt_256b(ctx, p, n) : GCM_update_decrypt_256b(ctx, p, n);
      };
      EXPECT_EQ(update(data.data(), 17), ERR_INVALID_ARG);
      EXPECT_EQ(update(data.data(), 0xFFFFFFFFu), ERR_INVALID_ARG);
      EXPECT_EQ(ToHex(data), ToHex(before));
      EXPECT_EQ(c.textLength, 0xFFFFFFF0u);
      EXPECT_EQ(update(data.data(), 15), 0);
      EXPECT_NE(ToHex(data), ToHex(before));
      EXPECT_EQ(c.textLength, 0xFFFFFFFFu);
      EXPECT_EQ(update(data.data() + 15, 1), ERR_INVALID_ARG);
      EXPECT_EQ(data[15], 0x3c);
      EXPECT_EQ(update(data.data() + 15, 0), 0);
    }
    EXPECT_EQ(GCM_deleteCtx_256b(&ctx), 0);
  });
}

}  // namespace
}  // namespace kel::test
