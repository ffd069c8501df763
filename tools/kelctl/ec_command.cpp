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
#include "util.h"

namespace kelctl {
namespace {

struct Options {
  const PrimeCurve *curve = nullptr;
  const char *curveName = "P-256";
  const char *hash = nullptr;
  const char *key = nullptr, *pub = nullptr, *sig = nullptr, *peer = nullptr, *out = nullptr;
  std::vector<const char *> files;
};

constexpr char kUsage[] =
    "usage: kelctl ec genkey [--curve p256|p384] [--out PREFIX]\n"
    "       kelctl ec sign   [--curve C] --key KEY [--hash H] [--out FILE] FILE\n"
    "       kelctl ec verify [--curve C] --pub POINT --sig SIG [--hash H] FILE\n"
    "       kelctl ec derive [--curve C] --key KEY --peer POINT [--out FILE]\n"
    "  KEY, POINT, SIG: hex, or @FILE for raw bytes (@- standard input); H: sha1|sha224|sha256|sha384|sha512\n"
    "  (default sha256 for P-256, sha384 for P-384)\n";

// Hex, or @FILE for raw bytes.
bool Value(const char *text, Bytes *out) {
  if (text[0] == '@') return ReadInput(text + 1, out);
  return text[0] != '\0' && ParseHex(text, out);
}

void PrintHex(const char *label, const uint8_t *data, size_t n) {
  std::printf("%s: %s\n", label, ToHex(data, n).c_str());
}

uint32_t Units(const Options &o) { return o.curve->field->unitCount; }

// Scalar or coordinate bytes into units (at most the field's length).
bool ToUnits(const Options &o, const Bytes &b, uint32_t *units) {
  if (b.size() > 4 * Units(o)) return false;
  BI_setUnitsToByteString(static_cast<int32_t>(Units(o)), units, b.data(), static_cast<int32_t>(b.size()));
  return true;
}

int Fail(const char *what, int32_t status) {
  if (GateStatus(status)) return Refuse("ec", what, status);
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
  if (!ReadInput(path, &data)) return -1;
  alignas(16) uint8_t ctx[256];  // room for any digest context
  digest->resize(suite->digestSize);
  int32_t st = suite->initFunc(ctx);
  if (st == 0 && !data.empty()) st = suite->updateFunc(ctx, data.data(), static_cast<uint32_t>(data.size()));
  return st == 0 ? suite->finalFunc(ctx, digest->data()) : st;
}

int GenKey(const Options &o, RandomContext *rng) {
  uint32_t d[12], x[12], y[12];
  WipeOnExit wipeD(d);
  if (int32_t st = EC_generateKeyPair(o.curve, RANDOM_rngFun, rng, d, x, y); st != 0) return Fail("genkey", st);
  const int32_t len = static_cast<int32_t>(4 * Units(o));
  Bytes key(len), pub(2 * len + 1);
  WipeOnExit wipeKey(key);
  PRIMEFIELD_writeByteString(o.curve->field, d, key.data(), len);
  EC_writePointToBuffer(o.curve, x, y, pub.data(), static_cast<int32_t>(pub.size()));
  int rc = kExitOk;
  if (o.out != nullptr) {
    const std::string prefix = o.out;
    if (!WriteOutput(prefix + ".key", key.data(), key.size(), 0600) ||
        !WriteOutput(prefix + ".pub", pub.data(), pub.size())) {
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
  return rc;
}

// The result in hex, or raw into --out.
int Emit(const Options &o, const char *label, const uint8_t *data, size_t n) {
  if (o.out == nullptr) {
    PrintHex(label, data, n);
    return kExitOk;
  }
  if (WriteOutput(o.out, data, n, std::strcmp(label, "secret") == 0 ? 0600 : 0644)) return kExitOk;
  std::fprintf(stderr, "kelctl ec: cannot write %s\n", o.out);
  return kExitFailed;
}

int Sign(const Options &o, RandomContext *rng) {
  Bytes key, digest;
  uint32_t d[12] = {}, r[12], s[12];
  WipeOnExit wipeKey(key);
  WipeOnExit wipeD(d);
  if (!Value(o.key, &key) || !ToUnits(o, key, d)) return std::fprintf(stderr, "kelctl ec: bad --key\n"), kExitUsage;
  if (int32_t st = Digest(o, o.files[0], &digest); st != 0) return Fail("digest", st);
  const int32_t st = ECDSA_RAC_sign(o.curve, d, RANDOM_rngFun, rng, digest.data(),
                                    static_cast<int32_t>(digest.size()), r, s);
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
  WipeOnExit wipeKey(key);
  WipeOnExit wipeD(d);
  if (!Value(o.key, &key) || !ToUnits(o, key, d)) return std::fprintf(stderr, "kelctl ec: bad --key\n"), kExitUsage;
  if (!Value(o.peer, &peer)) return std::fprintf(stderr, "kelctl ec: bad --peer\n"), kExitUsage;
  uint8_t *z = nullptr;
  int32_t zl = 0;
  const int32_t st = ECDH_generateSharedSecret(o.curve, peer.data(), static_cast<int32_t>(peer.size()), d, &z, &zl);
  struct Secret {  // the toolkit's block, wiped and freed on the way out
    uint8_t *z;
    int32_t zl;
    ~Secret() {
      void *block = z;
      if (z != nullptr) kel::mem::secure_zero(z, static_cast<size_t>(zl)), VOR_free(&block);
    }
  } secret{z, zl};
  if (st != 0) return Fail("derive", st);
  return Emit(o, "secret", z, static_cast<size_t>(zl));
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
    WipeOnExit wipeD(d);
    WipeOnExit wipeT(t);
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
  }
  m_errorClass = savedClass;
  if (rng != nullptr) RANDOM_releaseContext(&rng);
}

int RunEc(int argc, char **argv) {
  static constexpr Option kOptions[] = {{"--curve", nullptr, true}, {"--hash", nullptr, true}, {"--key", nullptr, true},
                                        {"--pub", nullptr, true},   {"--sig", nullptr, true},  {"--peer", nullptr, true},
                                        {"--out", nullptr, true}};
  Options o;
  o.curve = EC_P256;
  const char *op = nullptr;
  const char **slots[] = {nullptr, &o.hash, &o.key, &o.pub, &o.sig, &o.peer, &o.out};
  Args a("ec", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    if (a.id == Args::kOperand) {
      if (op == nullptr)
        op = a.value;
      else
        o.files.push_back(a.value);
    } else if (a.id != 0) {
      *slots[a.id] = a.value;
    } else if (!std::strcmp(a.value, "p256") || !std::strcmp(a.value, "P-256")) {
      o.curve = EC_P256, o.curveName = "P-256";
    } else if (!std::strcmp(a.value, "p384") || !std::strcmp(a.value, "P-384")) {
      o.curve = EC_P384, o.curveName = "P-384";
    } else {
      return a.Fail("unknown curve '%s'", a.value);
    }
  }
  if (a.exit >= 0) return a.exit;
  const std::string opName = op != nullptr ? op : "";
  const bool needsFile = opName == "sign" || opName == "verify";
  const bool ok = (opName == "genkey" && o.files.empty()) || (opName == "sign" && o.key) ||
                  (opName == "verify" && o.pub && o.sig) || (opName == "derive" && o.key && o.peer && o.files.empty());
  if (!ok || (needsFile && o.files.size() != 1)) return a.Fail("%s", op == nullptr ? "which operation?" : "wrong arguments");
  if (opName == "derive") return Derive(o);
  if (opName == "verify") return Verify(o);
  RandomContext *rng = nullptr;
  if (int32_t st = RANDOM_acquireContext(&rng); st != 0) return Fail("random generator", st);
  m_errorClass &= ~4u;  // no console line for the key's consistency test
  const int rc = opName == "genkey" ? GenKey(o, rng) : Sign(o, rng);
  RANDOM_releaseContext(&rng);
  return rc;
}

}  // namespace kelctl
