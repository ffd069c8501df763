/* RSA keys and operations: the key object, loading from raw parameters or
 * from the toolkit's key blob and export to it, PKCS #1 v1.5 encryption and
 * signatures (block types 2 and 1), the four raw primitives, and FIPS 186-3
 * key generation (public exponent 65537) with its consistency test.
 *
 * Statuses are signed 32-bit: 0 success, negative failure. Every entry except
 * RSA_RSAEP, RSA_RSAVP1, RSA_RSADP, RSA_RSASP1, RSA_generateKeyFipsSteps and
 * RSA_generateKey_FIPS_consistancy_test first returns the power-up status
 * (kel/fips.h) while it is not 0, and does nothing else. Statuses of the
 * big-number code, of the OS layer and of the random generator pass through.
 *
 * Private-key operations use the Chinese Remainder Theorem with a Montgomery
 * helper per prime and constant-time exponentiation; every private result is
 * raised to e again and compared with the input before it is released
 * (ERR_RSA_FAULT otherwise, and nothing is written).
 *
 * What callers must check themselves (these functions do not, by design):
 * RSA_verifySignature does not check that the signature is below n, and the
 * private operation does not check that its input is below n (an input
 * c >= n is taken modulo n). RSA_verifySignature returns the signed bytes:
 * compare them with the expected DigestInfo yourself, in full. */
#ifndef KEL_RSA_H
#define KEL_RSA_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/os.h"
#include "kel/random.h"
#include "kel/vlong.h"

KEL_BEGIN_DECLS

#define ERR_RSA_NULL (-6001)               /* a required pointer is null */
#define ERR_RSA_BUFFER_TOO_SMALL (-6007)   /* the blob destination is too small */
#define ERR_RSA_BAD_EXPONENT (-6013)       /* public exponent 0 or 1 */
#define ERR_RSA_ALLOC (-6101)
#define ERR_RSA_BLOB_LENGTH (-7402)        /* blob too short, or a field overruns it */
#define ERR_RSA_BLOB_VERSION (-7404)       /* blob version above 2 */
#define ERR_RSA_BAD_KEY (-7701)            /* null key, no private part to decrypt, message too long */
#define ERR_RSA_BAD_PADDING (-7702)        /* bad PKCS #1 v1.5 block (decryption or signature) */
#define ERR_RSA_EXPONENT_TOO_LONG (-7706)  /* verification with e >= 2^32, or no e */
#define ERR_RSA_MODULUS_TOO_LONG (-7707)   /* verification with a modulus over 512 bytes */
#define ERR_RSA_INCOMPLETE_KEY (-7708)     /* private operation without dP, dQ, qInv or a helper */
#define ERR_RSA_FAULT (-7709)              /* a private result failed the s^e = input check */
#define ERR_RSA_KEY_SIZE (-7710)           /* key generation below 1024 bits */
#define ERR_RSA_PAIRWISE_TEST (-16506)     /* key-generation consistency test failed */

/* Largest modulus RSA_verifySignature accepts, in bytes (4096 bits). */
#define RSA_MAX_VERIFY_BYTES 512u

/* The key. The private exponent d is never stored: private operations use
 * p, q, dP, dQ, qInv and the helpers. A public key has only publicExponent
 * and modulus; every pointer is null until set. */
typedef struct RsaKeyObject {
  uint32_t hasPrivatePart;        /* 1 private key, 0 public key */
  vlong *publicExponent;          /* e */
  vlong *modulus;                 /* n */
  vlong *prime1;                  /* p, the larger prime after RSA_prepareKey */
  vlong *prime2;                  /* q, the smaller prime */
  vlong *exponent1;               /* dP = e^-1 mod (p - 1) */
  vlong *exponent2;               /* dQ = e^-1 mod (q - 1) */
  vlong *coefficient;             /* qInv = q^-1 mod p */
  ModExpHelper *prime1Helper;     /* Montgomery constants for p */
  ModExpHelper *prime2Helper;     /* Montgomery constants for q */
  MutexHandle blindingLock;       /* guards the blinding pair and its count */
  vlong *blindingFactor;          /* r^e mod n of the current pair, or null */
  vlong *unblindingFactor;        /* r^-1 mod n of the current pair, or null */
  uint32_t blindingUseCount;      /* reuses of the current pair since it was drawn */
} RsaKeyObject;

/* RSA_createKey: a new zeroed key with its blinding lock. -6001 null out;
 * -6101 no memory; a mutex failure returns its status. *key is written only
 * on success. */
KEL_API int32_t RSA_createKey(RsaKeyObject **key);

/* RSA_freeKey releases the key's vlongs and helpers (through the queue when
 * one is given), the blinding pair, the lock and the record (zeroed), and sets
 * *key to null. -6001 null pointer or null key. */
KEL_API int32_t RSA_freeKey(RsaKeyObject **key, vlong **queue);

/* RSA_cloneKey: a new key with copies of e and n and, for a private source,
 * p, q, dP, dQ, qInv and both helpers (not the blinding pair). -6001 null
 * argument; -7708 a private source lacking dP, dQ, qInv or a helper. *out is
 * written only on success. */
KEL_API int32_t RSA_cloneKey(RsaKeyObject **out, const RsaKeyObject *source, vlong **queue);

/* RSA_equalKey: *equal = 1 when both keys have the same e and n, else 0 (also
 * when either key lacks e or n). -6001 null argument. */
KEL_API int32_t RSA_equalKey(const RsaKeyObject *key1, const RsaKeyObject *key2, uint8_t *equal);

/* RSA_setPublicKeyParameters releases everything the key held and makes it
 * the public key (exponent, modulus as big-endian bytes). -7701 null key;
 * -6013 exponent 0 or 1; -6001 null modulus. */
KEL_API int32_t RSA_setPublicKeyParameters(RsaKeyObject *key, uint32_t exponent, const uint8_t *modulus,
                                           uint32_t modulusLength, vlong **queue);

/* RSA_setAllKeyParameters: RSA_setPublicKeyParameters, then p and q (either
 * order), then RSA_prepareKey. -6001 null p or q. */
KEL_API int32_t RSA_setAllKeyParameters(RsaKeyObject *key, uint32_t exponent, const uint8_t *modulus,
                                        uint32_t modulusLength, const uint8_t *prime1, uint32_t prime1Length,
                                        const uint8_t *prime2, uint32_t prime2Length, vlong **queue);

/* RSA_prepareKey completes a private key: orders p > q (dropping values made
 * for the other order), then computes whichever of dP, dQ, qInv and the two
 * helpers is missing. A public key returns 0 at once. -6001 null key; -7708
 * a private key without p or q. */
KEL_API int32_t RSA_prepareKey(RsaKeyObject *key, vlong **queue);

/* RSA_getCipherTextLength: *length = byte length k of n. -6001 null argument
 * or no modulus. */
KEL_API int32_t RSA_getCipherTextLength(const RsaKeyObject *key, int32_t *length);

/* RSA_encrypt: PKCS #1 v1.5 block type 2 with padding from the generator,
 * into cipherText (k bytes). -7701 null key or plaintext over k - 11 bytes;
 * -6001 null plaintext, cipherText or generator, or a key without e or n. */
KEL_API int32_t RSA_encrypt(const RsaKeyObject *key, const uint8_t *plainText, uint32_t plainTextLength,
                            uint8_t *cipherText, RngFun rngFun, void *rngFunArg, vlong **queue);

/* RSA_decrypt: the private operation (blinded when rngFun is given) on the k
 * cipherText bytes; the message of the block type 2 goes to the start of
 * plainText (k bytes of room) and its length to *plainTextLength. -7701 null
 * key or public key; -6001 null cipherText, plainText or length; -7702 bad
 * padding (then plainText is zeroed); -7708; -7709. */
KEL_API int32_t RSA_decrypt(RsaKeyObject *key, const uint8_t *cipherText, uint8_t *plainText,
                            uint32_t *plainTextLength, RngFun rngFun, void *rngFunArg, vlong **queue);

/* RSA_signMessage: block type 1 over the given bytes (the caller's DigestInfo
 * or digest), private operation without blinding, k bytes into signature.
 * -7701 null key, message or signature, or a message over k - 11 bytes;
 * -7708 a key without private part; -7709. */
KEL_API int32_t RSA_signMessage(const RsaKeyObject *key, const uint8_t *message, uint32_t messageLength,
                                uint8_t *signature, vlong **queue);

/* RSA_verifySignature: s^e mod n of the k signature bytes, its block type 1
 * checked; the signed bytes go to the start of output (k bytes of room) and
 * their count to *outputLength, for the caller to compare. -7701 null key;
 * -6001 null signature, output or length; -7707 modulus over 512 bytes;
 * -7706 e missing or >= 2^32; -7702 bad block. */
KEL_API int32_t RSA_verifySignature(const RsaKeyObject *key, const uint8_t *signature, uint8_t *output,
                                    uint32_t *outputLength, vlong **queue);

/* RSA_keyFromByteString parses a key blob: version byte (0 to 2), private
 * flag, then 2 (e, n) or 7 (e, n, p, q, dP, dQ, qInv) fields of a 4-byte
 * big-endian length and that many big-endian bytes; trailing bytes are
 * ignored. A private key is completed with RSA_prepareKey. -6001 null blob or
 * out; -7402 too short or a field overruns; -7404 version above 2. *key is
 * written only on success. */
KEL_API int32_t RSA_keyFromByteString(RsaKeyObject **key, const uint8_t *blob, uint32_t blobLength,
                                      vlong **queue);

/* RSA_byteStringFromKey writes the key blob (version 2). A null destination
 * asks for the length only. *length is in/out: room given, blob length
 * returned (also with -6007, room too small). -6001 null key or length, or a
 * key without e or n. */
KEL_API int32_t RSA_byteStringFromKey(RsaKeyObject *key, uint8_t *destination, uint32_t *length);

/* The raw primitives (no gate). RSAEP and RSAVP1: new x^e mod n. RSADP: the
 * CRT private operation without blinding. RSASP1: the same, blinded when
 * rngFun is given. -7701 null key; -6001 null input or out, or no e or n;
 * -7708; -7709. *out is written only on success. */
KEL_API int32_t RSA_RSAEP(const RsaKeyObject *key, const vlong *input, vlong **out, vlong **queue);
KEL_API int32_t RSA_RSAVP1(const RsaKeyObject *key, const vlong *input, vlong **out, vlong **queue);
KEL_API int32_t RSA_RSADP(const RsaKeyObject *key, const vlong *input, vlong **out, vlong **queue);
KEL_API int32_t RSA_RSASP1(RsaKeyObject *key, const vlong *input, RngFun rngFun, void *rngFunArg, vlong **out,
                           vlong **queue);

/* RSA_generateKey writes a new key pair (e = 65537) of the given size into a
 * key made by RSA_createKey: primes by FIPS 186-3 B.3.6 with auxiliary
 * primes, then the consistency test, whose status it returns (the key keeps
 * its values even then). A size that is not a multiple of 128 is rounded up.
 * -7701 null key; -7710 below 1024 bits after rounding; -16506 the test's
 * signature did not verify. The power-up status is not changed. */
KEL_API int32_t RSA_generateKey(RandomContext *ctx, RsaKeyObject *key, uint32_t modulusBits, vlong **queue);

/* RSA_generateKeyFipsSteps: one prime from the odd start X and the odd
 * auxiliary starts X1, X2 (FIPS 186-3 C.9): auxiliary primes p1 >= X1 and
 * p2 >= X2, then the first probable prime p >= X with p ≡ 1 (mod 2 p1),
 * p ≡ -1 (mod p2) and gcd(p - 1, e) = 1. *flag is set to 0. -6001 null
 * argument. *prime is written only on success. */
KEL_API int32_t RSA_generateKeyFipsSteps(RandomContext *ctx, const vlong *e, const vlong *X, const vlong *X1,
                                         const vlong *X2, uint32_t *flag, vlong **prime, vlong **queue);

/* RSA_generateKey_FIPS_consistancy_test signs "CLEAR_TEXT_LINE" and verifies
 * it. 0 when the recovered bytes match; -16506 when they differ (returned
 * only, not written to the power-up status); -6101 no buffer; statuses of the
 * signature and verification pass through. */
KEL_API int32_t RSA_generateKey_FIPS_consistancy_test(const RsaKeyObject *key);

KEL_END_DECLS

#endif /* KEL_RSA_H */
