// The AES context and the ECB, CBC, CFB-128 and OFB modes (SP 800-38A) over
// whole blocks, directly and through heap contexts.
#include "crypto/cipher/internal.h"
#include "crypto/fips/gate.h"
#include "kel/aes.h"
#include "kel/debug_console.h"
#include "kel/vor.h"

namespace {

constexpr uint32_t kConsoleClassCipher = 32;

// Mode numbers and directions a context may be created with.
bool forward_only(int32_t mode) { return mode == MODE_CFB128 || mode == MODE_OFB; }

BulkCtx create(const uint8_t *key, uint32_t keyLength, int32_t encrypt, int32_t mode) {
  if (kel::fips::gate() != 0) return nullptr;
  auto *ctx = kel::mem::make<AesContext>();
  if (ctx == nullptr) return nullptr;
  if (key == nullptr || keyLength > 32 ||
      kel::aes::set_key(*ctx, static_cast<int32_t>(keyLength * 8), key, encrypt, mode) != 0)
    kel::mem::destroy(&ctx);
  return ctx;
}

int32_t destroy(BulkCtx *ctx) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx != nullptr) kel::mem::destroy<AesContext>(ctx);
  return 0;
}

int32_t process(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *iv, const char *failure) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (ctx == nullptr || (data == nullptr && length != 0)) return ERR_NULL_POINTER;
  if (length % 16 != 0) return ERR_AES_BAD_LENGTH;
  auto *aes = static_cast<AesContext *>(ctx);
  // The block functions count bits in 32 bits: feed them at most 16 MiB at once.
  constexpr uint32_t kPiece = 1u << 24;
  int32_t s = 0;
  for (uint32_t done = 0; done < length && s >= 0;) {
    const uint32_t piece = length - done < kPiece ? length - done : kPiece;
    int32_t bits = 0;
    uint8_t *p = data + done;
    s = encrypt ? AESALGO_blockEncrypt(aes, iv, p, static_cast<int32_t>(piece * 8), p, &bits)
                : AESALGO_blockDecrypt(aes, iv, p, static_cast<int32_t>(piece * 8), p, &bits);
    done += piece;
  }
  if (s < 0) DEBUG_CONSOLE_printError(kConsoleClassCipher, failure, s);
  return s;
}

bool needs_iv(int32_t mode) { return mode != MODE_ECB; }

// OFB is its own inverse: the keystream E(iv), E(E(iv)), ... XORed in.
void ofb(const AesContext &ctx, uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    aesEncrypt(ctx.roundKeys, ctx.rounds, iv, iv);
    kel::cipher::xor16(out + 16 * i, in + 16 * i, iv);
  }
}

}  // namespace

namespace kel::aes {

int32_t set_key(AesContext &ctx, int32_t keyBits, const uint8_t *key, int32_t encrypt, int32_t mode) {
  if (keyBits != 128 && keyBits != 192 && keyBits != 256) return ERR_AES_BAD_KEY_LENGTH;
  ctx.keyBits = keyBits;
  ctx.encrypt = encrypt;
  ctx.mode = mode;
  ctx.rounds = (encrypt || forward_only(mode)) ? aesKeySetupEnc(ctx.roundKeys, key, keyBits)
                                               : aesKeySetupDec(ctx.roundKeys, key, keyBits);
  return 0;
}

}  // namespace kel::aes

int32_t AESALGO_makeAesKey(AesContext *ctx, int32_t keyBits, const uint8_t *key, int32_t encrypt, int32_t mode) {
  if (ctx == nullptr || key == nullptr) return ERR_NULL_POINTER;
  return kel::aes::set_key(*ctx, keyBits, key, encrypt, mode);
}

int32_t AESALGO_blockEncrypt(AesContext *ctx, uint8_t *iv, const uint8_t *input, int32_t inputBits, uint8_t *output,
                             int32_t *outputBits) {
  if (ctx == nullptr || input == nullptr || output == nullptr || outputBits == nullptr) return ERR_NULL_POINTER;
  if (!ctx->encrypt) return ERR_AES_BAD_KEY_DIR;
  if (inputBits <= 0) {
    *outputBits = 0;
    return 0;
  }
  const size_t n = static_cast<size_t>(inputBits) / 128;
  if (needs_iv(ctx->mode) && iv == nullptr) return ERR_NULL_POINTER;
  switch (ctx->mode) {
    case MODE_ECB:
      kel::aes::encrypt_blocks(*ctx, input, output, n);
      break;
    case MODE_CBC:
      kel::aes::cbc_encrypt(*ctx, iv, input, output, n);
      break;
    case MODE_CFB128:
      for (size_t i = 0; i < n; ++i) {
        aesEncrypt(ctx->roundKeys, ctx->rounds, iv, iv);
        kel::cipher::xor16(iv, iv, input + 16 * i);
        std::memcpy(output + 16 * i, iv, 16);
      }
      break;
    case MODE_OFB:
      ofb(*ctx, iv, input, output, n);
      break;
    default:
      return ERR_AES_BAD_CIPHER_MODE;
  }
  *outputBits = static_cast<int32_t>(n * 128);
  return 0;
}

int32_t AESALGO_blockDecrypt(AesContext *ctx, uint8_t *iv, const uint8_t *input, int32_t inputBits, uint8_t *output,
                             int32_t *outputBits) {
  if (ctx == nullptr || input == nullptr || output == nullptr || outputBits == nullptr) return ERR_NULL_POINTER;
  if (ctx->encrypt) return ERR_AES_BAD_KEY_DIR;
  if (inputBits <= 0) {
    *outputBits = 0;
    return 0;
  }
  const size_t n = static_cast<size_t>(inputBits) / 128;
  *outputBits = static_cast<int32_t>(n * 128);
  if (needs_iv(ctx->mode) && iv == nullptr) return ERR_NULL_POINTER;
  kel::mem::Wiped<uint8_t[16]> k;
  switch (ctx->mode) {
    case MODE_ECB:
      kel::aes::decrypt_blocks(*ctx, input, output, n);
      break;
    case MODE_CBC:
      kel::aes::cbc_decrypt(*ctx, iv, input, output, n);
      break;
    case MODE_CFB128:
      for (size_t i = 0; i < n; ++i) {
        aesEncrypt(ctx->roundKeys, ctx->rounds, iv, k);
        std::memcpy(iv, input + 16 * i, 16);
        kel::cipher::xor16(output + 16 * i, k, iv);
      }
      break;
    case MODE_OFB:
      ofb(*ctx, iv, input, output, n);
      break;
    default:
      return ERR_AES_BAD_KEY_DIR;
  }
  return 0;
}

BulkCtx CreateAESECBCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt) {
  return create(key, keyLength, encrypt, MODE_ECB);
}
BulkCtx CreateAESCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt) {
  return create(key, keyLength, encrypt, MODE_CBC);
}
BulkCtx CreateAESCFBCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt) {
  return create(key, keyLength, encrypt, MODE_CFB128);
}
BulkCtx CreateAESOFBCtx(const uint8_t *key, uint32_t keyLength, int32_t encrypt) {
  return create(key, keyLength, encrypt, MODE_OFB);
}

int32_t DeleteAESCtx(BulkCtx *ctx) { return destroy(ctx); }
int32_t DeleteAESECBCtx(BulkCtx *ctx) { return destroy(ctx); }

int32_t DoAES(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *iv) {
  return process(ctx, data, length, encrypt, iv, "DoAES: cipher failed, error = ");
}

int32_t DoAESECB(BulkCtx ctx, uint8_t *data, uint32_t length, int32_t encrypt, uint8_t *iv) {
  return process(ctx, data, length, encrypt, iv, "DoAESECB: cipher failed, error = ");
}
