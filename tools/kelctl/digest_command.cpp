// kelctl digest: hashes files or standard input with one of the toolkit's
// digests, optionally as an HMAC, and prints sha256sum-style lines
// ("<hex>  <name>", "-" for standard input).
//
// SHA-1 and SHA-2 are approved algorithms: they work only once the toolkit's
// power-up self-test has passed. The command runs that self-test when the
// library provides it and otherwise reports the gate's status; it never
// writes the status itself. MD5 and HMAC-MD5 are not gated.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/fips.h"
#include "kel/hash.h"
#include "kel/hmac.h"
#include "kelctl/commands.h"

// Resolved at run time when the library carries the self-test.
extern "C" int32_t FIPS_powerupSelfTest(void) __attribute__((weak));

namespace kelctl {
namespace {

struct DigestName {
  const char *name;
  int32_t id;  // CRYPTO_getRSAHashAlgo number
};

constexpr DigestName kDigestNames[] = {{"md5", 4},     {"sha1", 5},     {"sha224", 14},
                                       {"sha256", 11}, {"sha384", 12}, {"sha512", 13}};

constexpr size_t kChunk = 65536;

struct Options {
  const char *algo = "sha256";
  int32_t id = 11;
  const HashSuite *suite = nullptr;
  uint8_t *key = nullptr;  // malloc'd; null without --hmac-key
  uint32_t keyLength = 0;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexKey(const char *hex, Options *o) {
  const size_t n = std::strlen(hex);
  if (n % 2 != 0 || n / 2 > 0xffffffffu) return false;
  o->key = static_cast<uint8_t *>(std::malloc(n / 2 + 1));
  if (o->key == nullptr) return false;
  for (size_t i = 0; i < n; i += 2) {
    const int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    o->key[i / 2] = static_cast<uint8_t>(hi << 4 | lo);
  }
  o->keyLength = static_cast<uint32_t>(n / 2);
  return true;
}

void PrintStatus(const Options &o, int32_t status) {
  if (status == ERR_FIPS_SELFTEST_NOT_RUN || (status <= -16500 && status > -16600)) {
    std::fprintf(stderr,
                 "kelctl digest: %s is not available: the toolkit's power-up self-test has not passed (status %d)\n",
                 o.algo, status);
  } else {
    std::fprintf(stderr, "kelctl digest: %s failed (status %d)\n", o.algo, status);
  }
}

// Reads the whole stream into one malloc'd buffer (for HMAC-MD5, whose
// ungated form takes the message in one piece).
bool ReadAll(FILE *in, uint8_t **data, size_t *size) {
  size_t cap = kChunk, len = 0;
  auto *buf = static_cast<uint8_t *>(std::malloc(cap));
  while (buf != nullptr) {
    len += std::fread(buf + len, 1, cap - len, in);
    if (len < cap) break;
    if (cap > 0x7fffffffu) {
      std::free(buf);
      return false;
    }
    auto *bigger = static_cast<uint8_t *>(std::realloc(buf, cap * 2));
    if (bigger == nullptr) std::free(buf);
    buf = bigger;
    cap *= 2;
  }
  if (buf == nullptr || std::ferror(in)) {
    std::free(buf);
    return false;
  }
  *data = buf;
  *size = len;
  return true;
}

// Digest or MAC of one stream into out; the toolkit status, or 1 for a read
// error (errno says why).
int32_t DigestStream(const Options &o, FILE *in, uint8_t *out) {
  const HashSuite &s = *o.suite;
  if (o.key != nullptr && o.id == 4) {
    uint8_t *data = nullptr;
    size_t size = 0;
    if (!ReadAll(in, &data, &size)) return 1;
    const int32_t st = HMAC_MD5(o.key, o.keyLength, data, static_cast<uint32_t>(size), nullptr, 0, out);
    std::free(data);
    return st;
  }
  static uint8_t buf[kChunk];
  HmacContext *mac = nullptr;
  void *ctx = nullptr;
  int32_t st = 0;
  if (o.key != nullptr) {
    st = HmacCreate(&mac, &s);
    if (st == 0) st = HmacKey(mac, o.key, o.keyLength);
  } else {
    st = s.allocFunc(&ctx);
    if (st == 0) st = s.initFunc(ctx);
  }
  while (st == 0) {
    const size_t n = std::fread(buf, 1, sizeof buf, in);
    if (n == 0) break;
    st = mac ? HmacUpdate(mac, buf, static_cast<uint32_t>(n)) : s.updateFunc(ctx, buf, static_cast<uint32_t>(n));
  }
  if (st == 0 && std::ferror(in)) st = 1;
  if (st == 0) st = mac ? HmacFinal(mac, out) : s.finalFunc(ctx, out);
  if (mac != nullptr) HmacDelete(&mac);
  if (ctx != nullptr) s.freeFunc(&ctx);
  return st;
}

// One output line, or a message on standard error; true when it worked.
bool DigestOne(const Options &o, const char *path) {
  const bool stdinput = std::strcmp(path, "-") == 0;
  FILE *in = stdinput ? stdin : std::fopen(path, "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "kelctl digest: %s: %s\n", path, std::strerror(errno));
    return false;
  }
  uint8_t out[64];
  errno = 0;
  const int32_t st = DigestStream(o, in, out);
  const int readError = errno;
  if (!stdinput) std::fclose(in);
  if (st == 1) {
    std::fprintf(stderr, "kelctl digest: %s: %s\n", path, std::strerror(readError ? readError : EIO));
    return false;
  }
  if (st != 0) {
    PrintStatus(o, st);
    return false;
  }
  for (uint32_t i = 0; i < o.suite->digestSize; ++i) std::printf("%02x", out[i]);
  std::printf("  %s\n", path);
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: kelctl digest [--algo md5|sha1|sha224|sha256|sha384|sha512] [--hmac-key HEX] [FILE...]\n");
  return kExitUsage;
}

}  // namespace

int RunDigest(int argc, char **argv) {
  Options o;
  int first = argc;
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if ((!std::strcmp(a, "--algo") || !std::strcmp(a, "-a")) && i + 1 < argc) {
      o.algo = argv[++i];
    } else if (!std::strcmp(a, "--hmac-key") && i + 1 < argc) {
      std::free(o.key);
      o.key = nullptr;
      if (!ParseHexKey(argv[++i], &o)) {
        std::free(o.key);
        std::fprintf(stderr, "kelctl digest: --hmac-key wants an even number of hexadecimal digits\n");
        return kExitUsage;
      }
    } else if (!std::strcmp(a, "--")) {
      first = i + 1;
      break;
    } else if (a[0] == '-' && a[1] != '\0') {
      std::free(o.key);
      return Usage();
    } else {
      first = i;
      break;
    }
  }
  bool known = false;
  for (const auto &d : kDigestNames)
    if (!std::strcmp(o.algo, d.name)) known = true, o.id = d.id;
  if (!known) {
    std::free(o.key);
    std::fprintf(stderr, "kelctl digest: unknown digest '%s'\n", o.algo);
    return Usage();
  }
  CRYPTO_getRSAHashAlgo(o.id, &o.suite);
  // The toolkit's own start: the self-test opens the approved algorithms.
  if (FIPS_powerupSelfTest != nullptr && FIPS_powerupSelfTestStatus() != 0) FIPS_powerupSelfTest();

  bool ok = true;
  if (first >= argc) {
    ok = DigestOne(o, "-");
  } else {
    for (int i = first; i < argc; ++i) ok = DigestOne(o, argv[i]) && ok;
  }
  std::free(o.key);
  return ok ? kExitOk : kExitFailed;
}

}  // namespace kelctl
