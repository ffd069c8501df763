// kelctl rsa: key pairs in the toolkit's key blob, the public part, PKCS #1
// v1.5 signatures over a file's SHA-256 DigestInfo, and encryption of a short
// secret. RSA is an approved algorithm behind the power-up gate, which kelctl
// opens at start.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "kel/debug_console.h"
#include "kel/fips.h"
#include "kel/hash.h"
#include "kel/random.h"
#include "kel/rsa.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"

namespace kelctl {
namespace {

constexpr char kUsage[] =
    "usage: kelctl rsa genkey [--bits N] --key FILE     new private key blob (default 2048 bits)\n"
    "       kelctl rsa pubkey --key FILE [--out FILE]   print the public part (and write its blob)\n"
    "       kelctl rsa sign --key FILE --in FILE --out SIG\n"
    "       kelctl rsa verify --key FILE --in FILE --sig SIG\n"
    "       kelctl rsa encrypt --key FILE --in SECRET --out FILE\n"
    "       kelctl rsa decrypt --key FILE --in FILE --out SECRET\n"
    "  FILE, SECRET, SIG to read: - is standard input\n";

int Fail(const char *what, int32_t status) {
  std::fprintf(stderr, "kelctl rsa: %s (status %d)\n", what, status);
  return kExitFailed;
}

bool ReadFile(const std::string &path, Bytes &out) { return ReadInput(path.c_str(), &out); }

bool WriteFile(const std::string &path, const Bytes &data, mode_t mode) {
  return WriteOutput(path, data.data(), data.size(), mode);
}

std::string Hex(const vlong *v) {
  const std::string s = ToHex(v);
  return s.empty() ? "0" : s;
}

// The SHA-256 DigestInfo (RFC 8017, 9.2) of a file's bytes.
Bytes DigestInfo(const Bytes &data, int32_t *status) {
  Bytes info = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  info.resize(info.size() + 32);
  *status = SHA256_completeDigest(data.data(), static_cast<uint32_t>(data.size()), info.data() + 19);
  return info;
}

struct Options {
  std::string verb, key, in, out, sig;
  uint32_t bits = 2048;
};

// Owns the key, the random context and the vlong queue of one run.
struct Session {
  RsaKeyObject *key = nullptr;
  RandomContext *rng = nullptr;
  vlong *queue = nullptr;
  ~Session() {
    if (key) RSA_freeKey(&key, &queue);
    if (rng) RANDOM_releaseContext(&rng);
    VLONG_freeVlongQueue(&queue);
  }
  int32_t Load(const std::string &path) {
    Bytes blob;
    WipeOnExit wipeBlob(blob);
    if (!ReadFile(path, blob)) return -1;
    return RSA_keyFromByteString(&key, blob.data(), static_cast<uint32_t>(blob.size()), &queue);
  }
  uint32_t Size() const {
    int32_t k = 0;
    RSA_getCipherTextLength(key, &k);
    return static_cast<uint32_t>(k);
  }
};

int GenKey(const Options &o, Session &s) {
  if (int32_t st = RANDOM_acquireContext(&s.rng); st != 0) return Fail("no random generator", st);
  if (int32_t st = RSA_createKey(&s.key); st != 0) return Fail("cannot create a key", st);
  if (int32_t st = RSA_generateKey(s.rng, s.key, o.bits, &s.queue); st != 0) return Fail("key generation failed", st);
  uint32_t len = 0;
  RSA_byteStringFromKey(s.key, nullptr, &len);
  Bytes blob(len);
  if (int32_t st = RSA_byteStringFromKey(s.key, blob.data(), &len); st != 0) return Fail("cannot export the key", st);
  if (!WriteFile(o.key, blob, 0600)) return Fail("cannot write the key file", -1);
  std::printf("%u-bit key pair written to %s (%u bytes)\n", VLONG_bitLength(s.key->modulus), o.key.c_str(), len);
  return kExitOk;
}

int PubKey(const Options &o, Session &s) {
  std::printf("bits:     %u\nexponent: %s\nmodulus:  %s\nprivate:  %s\n", VLONG_bitLength(s.key->modulus),
              Hex(s.key->publicExponent).c_str(), Hex(s.key->modulus).c_str(), s.key->hasPrivatePart ? "yes" : "no");
  if (o.out.empty()) return kExitOk;
  // The public half: a blob of e and n only.
  Bytes blob = {2, 0};
  for (const vlong *v : {s.key->publicExponent, s.key->modulus}) {
    int32_t len = 0;
    VLONG_byteStringFromVlong(v, nullptr, &len);
    for (int sh = 24; sh >= 0; sh -= 8) blob.push_back(static_cast<uint8_t>(static_cast<uint32_t>(len) >> sh));
    blob.resize(blob.size() + static_cast<size_t>(len));
    VLONG_byteStringFromVlong(v, blob.data() + blob.size() - len, &len);
  }
  if (!WriteFile(o.out, blob, 0644)) return Fail("cannot write the public key", -1);
  std::printf("public key written to %s\n", o.out.c_str());
  return kExitOk;
}

int Sign(const Options &o, Session &s) {
  Bytes data, sig(s.Size());
  if (!ReadFile(o.in, data)) return Fail("cannot read the input", -1);
  int32_t st = 0;
  const Bytes info = DigestInfo(data, &st);
  if (st != 0) return Fail("SHA-256 failed", st);
  if ((st = RSA_signMessage(s.key, info.data(), static_cast<uint32_t>(info.size()), sig.data(), &s.queue)) != 0)
    return Fail("signing failed", st);
  if (!WriteFile(o.out, sig, 0644)) return Fail("cannot write the signature", -1);
  std::printf("signed %s: %zu-byte signature in %s\n", o.in.c_str(), sig.size(), o.out.c_str());
  return kExitOk;
}

int Verify(const Options &o, Session &s) {
  Bytes data, sig, out(s.Size());
  if (!ReadFile(o.in, data) || !ReadFile(o.sig, sig)) return Fail("cannot read the input or the signature", -1);
  int32_t st = 0;
  const Bytes info = DigestInfo(data, &st);
  if (st != 0) return Fail("SHA-256 failed", st);
  // The toolkit leaves these to the caller: the length and s < n.
  Bytes n(out.size());
  int32_t nlen = static_cast<int32_t>(n.size());
  VLONG_byteStringFromVlong(s.key->modulus, n.data(), &nlen);
  uint32_t len = 0;
  const bool ok = sig.size() == out.size() && sig < n &&
                  RSA_verifySignature(s.key, sig.data(), out.data(), &len, &s.queue) == 0 &&
                  Bytes(out.begin(), out.begin() + len) == info;
  std::printf("%s: signature %s\n", o.in.c_str(), ok ? "OK" : "BAD");
  return ok ? kExitOk : kExitFailed;
}

int Encrypt(const Options &o, Session &s) {
  Bytes secret, out(s.Size());
  WipeOnExit wipeSecret(secret);
  if (!ReadFile(o.in, secret)) return Fail("cannot read the secret", -1);
  if (secret.size() + 11 > out.size()) return Fail("secret too long for this key (k - 11 bytes at most)", ERR_RSA_BAD_KEY);
  if (int32_t st = RANDOM_acquireContext(&s.rng); st != 0) return Fail("no random generator", st);
  secret.reserve(1);  // a valid pointer for an empty secret
  if (int32_t st = RSA_encrypt(s.key, secret.data(), static_cast<uint32_t>(secret.size()), out.data(), RANDOM_rngFun,
                               s.rng, &s.queue);
      st != 0)
    return Fail("encryption failed", st);
  if (!WriteFile(o.out, out, 0644)) return Fail("cannot write the output", -1);
  std::printf("encrypted %zu bytes into %s\n", secret.size(), o.out.c_str());
  return kExitOk;
}

int Decrypt(const Options &o, Session &s) {
  Bytes in, out(s.Size());
  WipeOnExit wipeOut(out);
  if (!ReadFile(o.in, in)) return Fail("cannot read the input", -1);
  if (in.size() != out.size()) return Fail("the input is not one block of the key's size", ERR_RSA_BAD_KEY);
  if (int32_t st = RANDOM_acquireContext(&s.rng); st != 0) return Fail("no random generator", st);
  uint32_t len = 0;
  if (int32_t st = RSA_decrypt(s.key, in.data(), out.data(), &len, RANDOM_rngFun, s.rng, &s.queue); st != 0)
    return Fail("decryption failed", st);
  out.resize(len);
  if (!WriteFile(o.out, out, 0600)) return Fail("cannot write the secret", -1);
  std::printf("decrypted %u bytes into %s\n", len, o.out.c_str());
  return kExitOk;
}

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Operations per second of op, over about a third of a second.
template <class Op>
double PerSecond(Op op) {
  int calls = 0;
  const double start = Now();
  double elapsed = 0;
  do {
    if (op() != 0) return -1;
    ++calls;
  } while ((elapsed = Now() - start) < 0.3);
  return calls / elapsed;
}

}  // namespace

bool SpeedRsa() {
  Session s;
  const double t0 = Now();
  int32_t st = RANDOM_acquireContext(&s.rng);
  if (st == 0) st = RSA_createKey(&s.key);
  const uint32_t classes = m_errorClass;
  m_errorClass &= ~4u;  // keep the consistency test's line out of the table
  if (st == 0) st = RSA_generateKey(s.rng, s.key, 2048, &s.queue);
  m_errorClass = classes;
  const double keygen = Now() - t0;
  std::printf("\n%-20s %10s\n", "RSA-2048", "ops/s");
  if (st != 0) {
    std::printf("%-20s %10s  (status %d)\n", "keygen", "-", st);
    return false;
  }
  const uint32_t k = s.Size();
  Bytes msg(51, 0x3c), sig(k), out(k), ct(k);
  uint32_t len = 0;
  RSA_signMessage(s.key, msg.data(), 51, sig.data(), &s.queue);
  RSA_encrypt(s.key, msg.data(), 32, ct.data(), RANDOM_rngFun, s.rng, &s.queue);
  const struct {
    const char *name;
    double rate;
  } rows[] = {
      {"keygen", 1 / keygen},
      {"sign", PerSecond([&] { return RSA_signMessage(s.key, msg.data(), 51, sig.data(), &s.queue); })},
      {"verify", PerSecond([&] { return RSA_verifySignature(s.key, sig.data(), out.data(), &len, &s.queue); })},
      {"decrypt (blinded)",
       PerSecond([&] { return RSA_decrypt(s.key, ct.data(), out.data(), &len, RANDOM_rngFun, s.rng, &s.queue); })},
  };
  for (const auto &r : rows) std::printf("%-20s %10.1f\n", r.name, r.rate);
  return true;
}

int RunRsa(int argc, char **argv) {
  enum { kKey, kIn, kOut, kSig, kBits };
  static constexpr Option kOptions[] = {{"--key", nullptr, true}, {"--in", nullptr, true}, {"--out", nullptr, true},
                                        {"--sig", nullptr, true}, {"--bits", nullptr, true}};
  Options o;
  Args a("rsa", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    long bits = 0;
    switch (a.id) {
      case kKey: o.key = a.value; break;
      case kIn: o.in = a.value; break;
      case kOut: o.out = a.value; break;
      case kSig: o.sig = a.value; break;
      case kBits:
        if (!a.Number(1, 65536, &bits)) return a.exit;
        o.bits = static_cast<uint32_t>(bits);
        break;
      default:
        if (!o.verb.empty()) return a.Fail("unexpected argument '%s'", a.value);
        o.verb = a.value;
    }
  }
  if (a.exit >= 0) return a.exit;
  if (o.key.empty()) return a.Fail("--key is needed");
  const struct {
    const char *verb;
    int (*run)(const Options &, Session &);
    bool load, in, out;
  } verbs[] = {{"genkey", GenKey, false, false, false}, {"pubkey", PubKey, true, false, false},
               {"sign", Sign, true, true, true},       {"verify", Verify, true, true, false},
               {"encrypt", Encrypt, true, true, true}, {"decrypt", Decrypt, true, true, true}};
  for (const auto &v : verbs) {
    if (o.verb != v.verb) continue;
    if ((v.in && o.in.empty()) || (v.out && o.out.empty()) || (o.verb == "verify" && o.sig.empty()))
      return a.Fail("%s wants --in and --out (verify: --in and --sig)", v.verb);
    if (const int32_t gate = FIPS_powerupSelfTestStatus(); gate != 0) return Refuse("rsa", "RSA", gate);
    Session s;
    if (v.load) {
      if (int32_t st = s.Load(o.key); st != 0) return Fail("cannot load the key file", st);
    }
    return v.run(o, s);
  }
  return a.Fail("unknown operation '%s'", o.verb.c_str());
}

}  // namespace kelctl
