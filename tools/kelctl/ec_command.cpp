// kelctl ec: P-256 and P-384 keys, ECDSA signatures over a file's digest and
// ECDH secrets. Keys, signatures and points are given as hex or as @FILE
// (raw bytes: the private scalar, the SEC 1 uncompressed point 04 || x || y,
// or the signature r || s); results are printed in hex, or written raw with
// --out (genkey: --out PREFIX writes PREFIX.key and PREFIX.pub).
//
// Key generation, signing and verification are approved algorithms behind
// the power-up gate: the command runs the self-test when the library carries
// it and otherwise says why it cannot serve. ECDH is not gated.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "kel/debug_console.h"
#include "kel/ec.h"
#include "kel/fips.h"
#include "kel/hash.h"
#include "kel/random.h"
#include "kel/vor.h"
#include "commands.h"

extern "C" int32_t FIPS_powerupSelfTest(void) __attribute__((weak));

namespace kelctl {
namespace {

using Bytes = std::vector<uint8_t>;

struct Options {
  const PrimeCurve *curve = nullptr;
  const char *curveName = "P-256";
  const char *hash = nullptr;
  const char *key = nullptr, *pub = nullptr, *sig = nullptr, *peer = nullptr, *out = nullptr;
  std::vector<const char *> files;
};

void Usage() {
  std::fprintf(stderr,
               "usage: kelctl ec genkey [--curve p256|p384] [--out PREFIX]\n"
               "       kelctl ec sign   [--curve C] --key KEY [--hash H] [--out FILE] FILE\n"
               "       kelctl ec verify [--curve C] --pub POINT --sig SIG [--hash H] FILE\n"
               "       kelctl ec derive [--curve C] --key KEY --peer POINT [--out FILE]\n"
               "  KEY, POINT, SIG: hex, or @FILE for raw bytes; H: sha1|sha224|sha256|sha384|sha512\n"
               "  (default sha256 for P-256, sha384 for P-384)\n");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadFile(const char *path, Bytes *out) {
  FILE *f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  uint8_t buf[65536];
  size_t n;
  out->clear();
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteFile(const std::string &path, const uint8_t *data, size_t n) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

// Hex, or @FILE for raw bytes.
bool Value(const char *text, Bytes *out) {
  if (text[0] == '@') return ReadFile(text + 1, out);
  const size_t n = std::strlen(text);
  if (n == 0 || n % 2 != 0) return false;
  out->resize(n / 2);
  for (size_t i = 0; i < n; i += 2) {
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    (*out)[i / 2] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

void PrintHex(const char *label, const uint8_t *data, size_t n) {
  if (label != nullptr) std::printf("%s: ", label);
  for (size_t i = 0; i < n; ++i) std::printf("%02x", data[i]);
  std::printf("\n");
}

uint32_t Units(const Options &o) { return o.curve->field->unitCount; }

// Scalar or coordinate bytes into units (at most the field's length).
bool ToUnits(const Options &o, const Bytes &b, uint32_t *units) {
  if (b.size() > 4 * Units(o)) return false;
  BI_setUnitsToByteString(static_cast<int32_t>(Units(o)), units, b.data(), static_cast<int32_t>(b.size()));
  return true;
}

int Fail(const char *what, int32_t status) {
  if (status == ERR_FIPS_SELFTEST_NOT_RUN)
    std::fprintf(stderr, "kelctl ec: %s: the power-up self-test has not run (status %d)\n", what, status);
  else if (status <= -16500 && status > -16600)
    std::fprintf(stderr, "kelctl ec: %s: the toolkit is in the error state (status %d)\n", what, status);
  else
    std::fprintf(stderr, "kelctl ec: %s failed (status %d)\n", what, status);
  return kExitFailed;
}

// The digest of a file through the toolkit's hash suite.
int32_t Digest(const Options &o, const char *path, Bytes *digest) {
  static const struct {
    const char *name;
    int32_t id;
  } kHashes[] = {{"sha1", 5}, {"sha224", 14}, {"sha256", 11}, {"sha384", 12}, {"sha512", 13}};
  const char *name = o.hash != nullptr ? o.hash : (o.curve == EC_P384 ? "sha384" : "sha256");
  int32_t id = 0;
  for (const auto &h : kHashes)
    if (!std::strcmp(h.name, name)) id = h.id;
  const HashSuite *suite = nullptr;
  if (id == 0 || CRYPTO_getRSAHashAlgo(id, &suite) != 0) return ERR_EC_BAD_WINDOW;
  Bytes data;
  if (!ReadFile(path, &data)) return -1;
  alignas(16) uint8_t ctx[256];  // room for any digest context
  digest->resize(suite->digestSize);
  int32_t st = suite->initFunc(ctx);
  if (st == 0 && !data.empty()) st = suite->updateFunc(ctx, data.data(), static_cast<uint32_t>(data.size()));
  return st == 0 ? suite->finalFunc(ctx, digest->data()) : st;
}

int GenKey(const Options &o, RandomContext *rng) {
  uint32_t d[12], x[12], y[12];
  if (int32_t st = EC_generateKeyPair(o.curve, RANDOM_rngFun, rng, d, x, y); st != 0) return Fail("genkey", st);
  const int32_t len = static_cast<int32_t>(4 * Units(o));
  Bytes key(len), pub(2 * len + 1);
  PRIMEFIELD_writeByteString(o.curve->field, d, key.data(), len);
  EC_writePointToBuffer(o.curve, x, y, pub.data(), static_cast<int32_t>(pub.size()));
  std::memset(d, 0, sizeof d);
  int rc = kExitOk;
  if (o.out != nullptr) {
    const std::string prefix = o.out;
    if (!WriteFile(prefix + ".key", key.data(), key.size()) || !WriteFile(prefix + ".pub", pub.data(), pub.size())) {
      std::fprintf(stderr, "kelctl ec: cannot write %s.key / %s.pub\n", o.out, o.out);
      rc = kExitFailed;
    } else {
      std::printf("curve: %s\nprivate key: %s.key\npublic key: %s.pub\n", o.curveName, o.out, o.out);
    }
  } else {
    std::printf("curve: %s\n", o.curveName);
    PrintHex("private", key.data(), key.size());
    PrintHex("public", pub.data(), pub.size());
  }
  std::memset(key.data(), 0, key.size());
  return rc;
}

// The result in hex, or raw into --out.
int Emit(const Options &o, const char *label, const uint8_t *data, size_t n) {
  if (o.out == nullptr) {
    PrintHex(label, data, n);
    return kExitOk;
  }
  if (WriteFile(o.out, data, n)) return kExitOk;
  std::fprintf(stderr, "kelctl ec: cannot write %s\n", o.out);
  return kExitFailed;
}

int Sign(const Options &o, RandomContext *rng) {
  Bytes key, digest;
  uint32_t d[12] = {}, r[12], s[12];
  if (!Value(o.key, &key) || !ToUnits(o, key, d)) return std::fprintf(stderr, "kelctl ec: bad --key\n"), kExitUsage;
  if (int32_t st = Digest(o, o.files[0], &digest); st != 0) return Fail("digest", st);
  const int32_t st = ECDSA_RAC_sign(o.curve, d, RANDOM_rngFun, rng, digest.data(),
                                    static_cast<int32_t>(digest.size()), r, s);
  std::memset(d, 0, sizeof d);
  std::memset(key.data(), 0, key.size());
  if (st != 0) return Fail("sign", st);
  const int32_t len = static_cast<int32_t>(4 * Units(o));
  Bytes sig(2 * len);
  PRIMEFIELD_writeByteString(o.curve->field, r, sig.data(), len);
  PRIMEFIELD_writeByteString(o.curve->field, s, sig.data() + len, len);
  return Emit(o, "signature", sig.data(), sig.size());
}

int Verify(const Options &o) {
  Bytes pub, sig, digest;
  const size_t len = 4 * Units(o);
  uint32_t *x = nullptr, *y = nullptr, r[12] = {}, s[12] = {};
  if (!Value(o.sig, &sig) || sig.size() != 2 * len) return std::fprintf(stderr, "kelctl ec: bad --sig\n"), kExitUsage;
  if (!Value(o.pub, &pub)) return std::fprintf(stderr, "kelctl ec: bad --pub\n"), kExitUsage;
  if (int32_t st = EC_byteStringToPoint(o.curve, pub.data(), static_cast<int32_t>(pub.size()), &x, &y); st != 0)
    return Fail("public key", st);
  ToUnits(o, Bytes(sig.begin(), sig.begin() + len), r);
  ToUnits(o, Bytes(sig.begin() + len, sig.end()), s);
  int32_t st = Digest(o, o.files[0], &digest);
  if (st == 0)
    st = ECDSA_verifySignature(o.curve, x, y, digest.data(), static_cast<int32_t>(digest.size()), r, s);
  PRIMEFIELD_deleteElement(o.curve->field, &x);
  PRIMEFIELD_deleteElement(o.curve->field, &y);
  if (st == ERR_EC_INVALID) {
    std::printf("signature: BAD\n");
    return kExitFailed;
  }
  if (st != 0) return Fail("verify", st);
  std::printf("signature: good\n");
  return kExitOk;
}

int Derive(const Options &o) {
  Bytes key, peer;
  uint32_t d[12] = {};
  if (!Value(o.key, &key) || !ToUnits(o, key, d)) return std::fprintf(stderr, "kelctl ec: bad --key\n"), kExitUsage;
  if (!Value(o.peer, &peer)) return std::fprintf(stderr, "kelctl ec: bad --peer\n"), kExitUsage;
  uint8_t *z = nullptr;
  int32_t zl = 0;
  const int32_t st = ECDH_generateSharedSecret(o.curve, peer.data(), static_cast<int32_t>(peer.size()), d, &z, &zl);
  std::memset(d, 0, sizeof d);
  std::memset(key.data(), 0, key.size());
  if (st != 0) return Fail("derive", st);
  const int rc = Emit(o, "secret", z, static_cast<size_t>(zl));
  std::memset(z, 0, static_cast<size_t>(zl));
  void *block = z;
  VOR_free(&block);
  return rc;
}

double Seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Operations per second of op over about a tenth of a second; the first
// failing status ends the measurement.
template <class Op> int32_t OpsPerSecond(Op &&op, double *rate) {
  const double start = Seconds();
  int ops = 0;
  int32_t st = 0;
  while (st == 0 && Seconds() - start < 0.1) {
    st = op();
    ++ops;
  }
  *rate = ops / (Seconds() - start);
  return st;
}

}  // namespace

void PrintEcSpeedRows() {
  RandomContext *rng = nullptr;
  const int32_t rngStatus = RANDOM_acquireContext(&rng);
  const uint32_t savedClass = m_errorClass;
  m_errorClass &= ~4u;  // no console line per generated key
  const uint8_t hash[32] = {0x5a};
  for (const PrimeCurve *curve : {EC_P256, EC_P384}) {
    const char *name = curve == EC_P256 ? "p256" : "p384";
    // a fixed key; its public point through the (ungated) ECDH entry with G
    uint32_t d[12] = {}, x[12] = {}, y[12] = {}, r[12] = {}, s[12] = {}, t[3][12];
    for (uint32_t i = 0; i + 1 < curve->field->unitCount; ++i) d[i] = 0x9e3779b9u * (i + 1);
    uint8_t *q = nullptr;
    int32_t ql = 0;
    if (ECDH_generateSharedSecretAux(curve, curve->baseX, curve->baseY, d, &q, &ql, 0) == 0) {
      BI_setUnitsToByteString(static_cast<int32_t>(curve->field->unitCount), x, q, ql / 2);
      BI_setUnitsToByteString(static_cast<int32_t>(curve->field->unitCount), y, q + ql / 2, ql / 2);
      void *b = q;
      VOR_free(&b);
    }
    const int32_t ready = rngStatus != 0 ? rngStatus : ECDSA_RAC_sign(curve, d, RANDOM_rngFun, rng, hash, 32, r, s);
    const char *labels[] = {"ecdsa-%s sign", "ecdsa-%s verify", "ecdh-%s", "ec-%s keygen"};
    for (int row = 0; row < 4; ++row) {
      auto op = [&]() -> int32_t {
        switch (row) {
          case 0: return ECDSA_RAC_sign(curve, d, RANDOM_rngFun, rng, hash, 32, t[0], t[1]);
          case 1: return ECDSA_verifySignature(curve, x, y, hash, 32, r, s);
          case 2: {
            uint8_t *z = nullptr;
            int32_t zl = 0;
            const int32_t rc = ECDH_generateSharedSecretAux(curve, x, y, d, &z, &zl, 1);
            void *b = z;
            if (rc == 0) VOR_free(&b);
            return rc;
          }
          default: return EC_generateKeyPair(curve, RANDOM_rngFun, rng, t[0], t[1], t[2]);
        }
      };
      double rate = 0;
      const int32_t rc = ready != 0 && row != 2 ? ready : OpsPerSecond(op, &rate);
      char label[32];
      std::snprintf(label, sizeof label, labels[row], name);
      if (rc == 0)
        std::printf("%-20s %10.0f op/s\n", label, rate);
      else
        std::printf("%-20s %10s  (status %d%s)\n", label, "-", rc,
                    rc <= -16500 && rc > -16600 ? ": the power-up self-test has not passed" : "");
    }
    std::memset(d, 0, sizeof d);
    std::memset(t, 0, sizeof t);
  }
  m_errorClass = savedClass;
  if (rng != nullptr) RANDOM_releaseContext(&rng);
}

int RunEc(int argc, char **argv) {
  if (argc < 2) return Usage(), kExitUsage;
  const std::string op = argv[1];
  Options o;
  o.curve = EC_P256;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const char **slot = a == "--hash" ? &o.hash : a == "--key" ? &o.key : a == "--pub" ? &o.pub
                        : a == "--sig" ? &o.sig : a == "--peer" ? &o.peer : a == "--out" ? &o.out : nullptr;
    if (a == "--curve") {
      if (++i >= argc) return Usage(), kExitUsage;
      const std::string c = argv[i];
      if (c == "p256" || c == "P-256") o.curve = EC_P256, o.curveName = "P-256";
      else if (c == "p384" || c == "P-384") o.curve = EC_P384, o.curveName = "P-384";
      else return std::fprintf(stderr, "kelctl ec: unknown curve '%s'\n", argv[i]), kExitUsage;
    } else if (slot != nullptr) {
      if (++i >= argc) return Usage(), kExitUsage;
      *slot = argv[i];
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage(), kExitUsage;
    } else {
      o.files.push_back(argv[i]);
    }
  }
  const bool needsFile = op == "sign" || op == "verify";
  const bool ok = (op == "genkey" && o.files.empty()) || (op == "sign" && o.key) ||
                  (op == "verify" && o.pub && o.sig) || (op == "derive" && o.key && o.peer && o.files.empty());
  if (!ok || (needsFile && o.files.size() != 1)) return Usage(), kExitUsage;
  if (op == "derive") return Derive(o);
  if (FIPS_powerupSelfTest != nullptr && FIPS_powerupSelfTestStatus() != 0) FIPS_powerupSelfTest();
  if (op == "verify") return Verify(o);
  RandomContext *rng = nullptr;
  if (int32_t st = RANDOM_acquireContext(&rng); st != 0) return Fail("random generator", st);
  m_errorClass &= ~4u;  // no console line for the key's consistency test
  const int rc = op == "genkey" ? GenKey(o, rng) : Sign(o, rng);
  RANDOM_releaseContext(&rng);
  return rc;
}

}  // namespace kelctl
