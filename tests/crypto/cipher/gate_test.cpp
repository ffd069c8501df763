// The power-up gate: with the self-test not passed, every gated entry point
// returns the status before looking at its arguments, constructors return
// null and release is refused (the context stays allocated). The AES core,
// single DES, the triple-DES block functions, RC2, the OMAC state machine and
// the RFC 3686 constructor stay open.
#include <gtest/gtest.h>

#include "kel/aes.h"
#include "kel/aes_modes.h"
#include "kel/des.h"
#include "kel/gcm.h"
#include "kel/rc2.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class Gate : public CipherTest {};

TEST_F(Gate, ClosedGateRefusesEveryGatedEntry) {
  const Bytes key(32, 1), key24 = FromHex("0123456789abcdef23456789abcdef01456789abcdef0123");
  BulkCtx aes = CreateAESCtx(key.data(), 16, 1), gcm = GCM_createCtx_256b(key.data(), 16, 1);
  void *tdes = Create3DESCtx(key24.data(), 24, 1);
  ASSERT_TRUE(aes && gcm && tdes);
  for (int32_t st : {ERR_FIPS_SELFTEST_NOT_RUN, -16501}) {
    SCOPED_TRACE(st);
    gFIPS_powerupStatus = st;
    Bytes data(16, 2), iv(16);
    const Bytes copy = data;
    for (auto create : {CreateAESCtx, CreateAESECBCtx, CreateAESCFBCtx, CreateAESOFBCtx, CreateAESCTRCtx,
                        AESCCM_createCtx, GCM_createCtx_256b, Create3DESCtx, Create2Key3DESCtx})
      EXPECT_EQ(create(key24.data(), 24, 1), nullptr);
    EXPECT_EQ(CreateAESXTSCtx(key.data(), 32, 1), nullptr);
    EXPECT_EQ(DoAES(nullptr, nullptr, 3, 1, nullptr), st);
    EXPECT_EQ(DoAESECB(nullptr, nullptr, 3, 1, nullptr), st);
    EXPECT_EQ(DoAESCTREx(nullptr, nullptr, 4, 1, nullptr, 99), st);
    EXPECT_EQ(AESCTRInit(nullptr, nullptr, 0, nullptr), st);
    EXPECT_EQ(AESXTSEncrypt(nullptr, nullptr, nullptr, 0), st);
    EXPECT_EQ(AESXTSDecrypt(nullptr, nullptr, nullptr, 0), st);
    EXPECT_EQ(AESCCM_encrypt(0, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, 0, nullptr), st);
    EXPECT_EQ(AESCCM_decrypt(0, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, 0, nullptr), st);
    EXPECT_EQ(AESCCM_cipher(nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0), st);
    EXPECT_EQ(GCM_init_256b(gcm, data.data(), 12, nullptr, 0), st);
    EXPECT_EQ(GCM_update_encrypt_256b(gcm, data.data(), 16), st);
    EXPECT_EQ(GCM_update_decrypt_256b(gcm, data.data(), 16), st);
    EXPECT_EQ(GCM_final_256b(gcm, data.data()), st);
    EXPECT_EQ(GCM_cipher_256b(gcm, data.data(), 12, nullptr, 0, data.data(), 0, 99, 1), st);
    AesCmacContext cmac;
    EXPECT_EQ(AESCMAC_init(key.data(), 16, &cmac), st);
    EXPECT_EQ(AESCMAC_update(key.data(), 16, &cmac), st);
    EXPECT_EQ(AESCMAC_final(data.data(), &cmac), st);
    EXPECT_EQ(Do3DES(tdes, data.data(), 16, 1, iv.data()), st);
    EXPECT_EQ(Do3DES(nullptr, nullptr, 3, 1, nullptr), st);
    EXPECT_EQ(data, copy);
    EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), data.data(), 16, 1), ERR_MEM_ALLOC_FAIL);
    EXPECT_EQ(CRYPTO_Process(&CRYPTO_TripleDESSuite, key24.data(), 24, iv.data(), data.data(), 16, 1),
              ERR_MEM_ALLOC_FAIL);
    for (auto release : {DeleteAESCtx, DeleteAESCTRCtx, AESCCM_deleteCtx, GCM_deleteCtx_256b, Delete3DESCtx})
      EXPECT_EQ(release(nullptr), st);
    EXPECT_EQ(DeleteAESCtx(&aes), st);
    EXPECT_EQ(GCM_deleteCtx_256b(&gcm), st);
    EXPECT_EQ(Delete3DESCtx(&tdes), st);
    EXPECT_TRUE(aes && gcm && tdes);  // nothing released

    // What stays open.
    AesContext core{};
    EXPECT_EQ(AESALGO_makeAesKey(&core, 128, key.data(), 1, MODE_CBC), 0);
    AesOmacState omac;
    EXPECT_EQ(AES_OMAC_init(&omac), 0);
    EXPECT_EQ(AES_OMAC_update(&core, &omac, key.data(), 16), 0);
    EXPECT_EQ(AES_OMAC_final(&core, &omac, data.data()), 0);
    DesContext des;
    TripleDesContext des3;
    EXPECT_EQ(DES_initKey(&des, key24.data(), 8), 0);
    EXPECT_EQ(DES_encipher(&des, data.data(), data.data(), 16), 0);
    EXPECT_EQ(THREE_DES_initKey(&des3, key24.data(), 24), 0);
    EXPECT_EQ(THREE_DES_encipher(&des3, data.data(), data.data(), 16), 0);
    EXPECT_EQ(CRYPTO_Process(&CRYPTO_RC2Suite, key24.data(), 16, iv.data(), data.data(), 16, 1), 0);
    EXPECT_NE(data, copy);
    BulkCtx rfc3686 = CreateAesCtrCtx(key.data(), 20, 1);
    EXPECT_NE(rfc3686, nullptr);
    gFIPS_powerupStatus = 0;
    EXPECT_EQ(DeleteAESCTRCtx(&rfc3686), 0);
  }
  EXPECT_EQ(DeleteAESCtx(&aes), 0);
  EXPECT_EQ(GCM_deleteCtx_256b(&gcm), 0);
  EXPECT_EQ(Delete3DESCtx(&tdes), 0);
}

}  // namespace
}  // namespace kel::test
