/* A small client of libnm-kelvpn-properties: starts the log engine, hashes a
 * file and encrypts it with AES-256-GCM, as the KelVpn client's programs do.
 *
 *   usage: kelvpn_client FILE [LOG_DIR]
 *
 * Build against an installed kelvpn with pkg-config (see Makefile):
 *   cc -o kelvpn_client kelvpn_client.c $(pkg-config --cflags --libs kelvpn)
 *
 * SHA-256 and AES-GCM are approved algorithms: they answer only once the
 * toolkit's power-up self-test has passed, and return its status (-16508,
 * "not tested", before it has run) until then. The client runs the self-test
 * when the library has it and reports the status plainly when it has not
 * passed; MD5 is not gated and always answers. */
#define _POSIX_C_SOURCE 200809L
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <kel/fips.h>
#include <kel/gcm.h>
#include <kel/hash.h>
#include <kel/log.h>

/* Present in libraries that carry the power-up self-test. */
extern int32_t FIPS_powerupSelfTest(void) __attribute__((weak));

static void print_hex(const uint8_t *bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) printf("%02x", bytes[i]);
}

static int report_gate(const char *what, int32_t status) {
  if (status == ERR_FIPS_SELFTEST_NOT_RUN) {
    printf("%s: not available: the power-up self-test has not passed (status %d)\n", what, (int)status);
    return 0;
  }
  fprintf(stderr, "%s failed (status %d)\n", what, (int)status);
  return 1;
}

static uint8_t *read_file(const char *path, size_t *size) {
  FILE *f = fopen(path, "rb");
  if (f == NULL) return NULL;
  size_t cap = 4096, len = 0;
  uint8_t *data = malloc(cap);
  while (data != NULL) {
    len += fread(data + len, 1, cap - len, f);
    if (len < cap) break;
    uint8_t *bigger = realloc(data, cap *= 2);
    if (bigger == NULL) free(data);
    data = bigger;
  }
  if (data != NULL && ferror(f)) {
    free(data);
    data = NULL;
  }
  fclose(f);
  *size = len;
  return data;
}

/* SHA-256 through the streaming interface, and MD5 in one call. */
static int hash_file(const char *path, const uint8_t *data, size_t size) {
  uint8_t md5[MD5_DIGEST_SIZE], sha[SHA256_DIGEST_SIZE];
  if (MD5_completeDigest(data, (uint32_t)size, md5) != 0) return 1;
  printf("md5:    ");
  print_hex(md5, sizeof md5);
  printf("  %s\n", path);

  void *ctx = NULL;
  int32_t status = SHA256_allocDigest(&ctx);
  if (status == 0) status = SHA256_initDigest(ctx);
  if (status == 0) status = SHA256_updateDigest(ctx, data, (uint32_t)size);
  if (status == 0) status = SHA256_finalDigest(ctx, sha);
  if (ctx != NULL) SHA256_freeDigest(&ctx);
  if (status != 0) return report_gate("sha256", status);
  printf("sha256: ");
  print_hex(sha, sizeof sha);
  printf("  %s\n", path);
  return 0;
}

/* Encrypts a copy under a demonstration key, then decrypts and compares. */
static int encrypt_file(const uint8_t *data, size_t size) {
  static const uint8_t key[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                  17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
  static const uint8_t nonce[12] = {0xca, 0xfe, 0xba, 0xbe, 0xfa, 0xce, 0xdb, 0xad, 0xde, 0xca, 0xf8, 0x88};
  static const uint8_t aad[] = "kelvpn example";
  uint8_t *copy = malloc(size + 16);
  if (copy == NULL) return 1;
  memcpy(copy, data, size);
  int rc = 1;
  BulkCtx ctx = GCM_createCtx_256b(key, sizeof key, 1);
  int32_t status = FIPS_powerupSelfTestStatus();
  if (status != 0) {
    rc = report_gate("aes-256-gcm", status);
  } else if (ctx == NULL) {
    fprintf(stderr, "aes-256-gcm: no context\n");
  } else if ((status = GCM_cipher_256b(ctx, nonce, sizeof nonce, aad, sizeof aad, copy, (uint32_t)size, 16, 1)) != 0) {
    rc = report_gate("aes-256-gcm", status);
  } else {
    printf("aes-256-gcm: %zu bytes encrypted, tag ", size);
    print_hex(copy + size, 16);
    status = GCM_cipher_256b(ctx, nonce, sizeof nonce, aad, sizeof aad, copy, (uint32_t)size, 16, 0);
    const int same = status == 0 && memcmp(copy, data, size) == 0;
    printf(", decrypted: %s\n", same ? "same as the file" : "DIFFERENT");
    rc = same ? 0 : 1;
  }
  if (ctx != NULL) GCM_deleteCtx_256b(&ctx);
  free(copy);
  return rc;
}

int main(int argc, char **argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s FILE [LOG_DIR]\n", argv[0]);
    return 2;
  }
  const char *log_dir = argc > 2 ? argv[2] : ".";
  /* Application 5 (CLI) logs in the directory given; toolkit console text
   * arrives as DEBUG lines through the bridge. */
  uint32_t code = LOG_init(LOG_APP_CLI, LOG_from_vorane, log_dir);
  if (code != KEL_ERROR_NOERROR) {
    fprintf(stderr, "log engine: %s\n", LOG_error_str(code));
    return 1;
  }
  LOG_set_option(LOG_OPTION_FILE);
  LOG_printf(LOG_LEVEL_INFO, "kelvpn_client", __func__, __LINE__, "hashing and encrypting %s\r\n", argv[1]);
  printf("log:    %s/app-kel.log\n", log_dir);

  if (FIPS_powerupSelfTest != NULL) FIPS_powerupSelfTest();
  printf("power-up self-test status: %d\n", (int)FIPS_powerupSelfTestStatus());

  size_t size = 0;
  uint8_t *data = read_file(argv[1], &size);
  int rc = 1;
  if (data == NULL) {
    perror(argv[1]);
  } else {
    rc = hash_file(argv[1], data, size) | encrypt_file(data, size);
    free(data);
  }
  LOG_deinit();
  return rc;
}
