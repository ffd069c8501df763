// The one-call form over a cipher suite and the AES suites.
#include "kel/aes.h"
#include "kel/cipher.h"
#include "kel/vor.h"

int32_t CRYPTO_Process(const CipherSuite *suite, const uint8_t *key, uint32_t keyLength, uint8_t *iv, uint8_t *data,
                       uint32_t dataLength, int32_t encrypt) {
  if (suite == nullptr || key == nullptr || data == nullptr) return ERR_NULL_POINTER;
  BulkCtx ctx = suite->createFunc(key, keyLength, encrypt);
  if (ctx == nullptr) return ERR_MEM_ALLOC_FAIL;
  const int32_t status = suite->cipherFunc(ctx, data, dataLength, encrypt, iv);
  suite->deleteFunc(&ctx);
  return status;
}

// AES in CBC mode, 16-byte blocks.
extern "C" const CipherSuite CRYPTO_AESSuite = {16, CreateAESCtx, DeleteAESCtx, DoAES};
