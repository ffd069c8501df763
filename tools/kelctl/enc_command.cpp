// kelctl enc: encrypts or decrypts a file with AES-GCM under a hex key.
//
// File format: "KELGCM1" and a zero byte, a 12-byte random nonce, the
// ciphertext, and the 16-byte tag. The 20-byte header is the additional
// authenticated data, so a changed header fails like a changed body.
//
// Decryption never writes unauthenticated plaintext: a first pass checks
// the tag, and only then a second pass writes the plaintext to a temporary
// file that is renamed over the output once its tag checks again. "--in -"
// reads standard input into a private temporary file first; "--out -"
// writes to standard output during the second pass.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "kel/fips.h"
#include "kel/gcm.h"
#include "util.h"

namespace kelctl {
namespace {

constexpr char kMagic[8] = {'K', 'E', 'L', 'G', 'C', 'M', '1', '\0'};
constexpr size_t kNonceLen = 12, kHeaderLen = sizeof kMagic + kNonceLen, kTagLen = 16;
constexpr size_t kChunk = 1 << 16;
// GCM here counts text bytes in 32 bits.
constexpr uint64_t kMaxText = 0xFFFFFFF0u;

int Fail(const char *fmt, const char *a = "", const char *b = "") {
  std::fprintf(stderr, "kelctl enc: ");
  std::fprintf(stderr, fmt, a, b);
  std::fprintf(stderr, "\n");
  return kExitFailed;
}

// 16, 24 or 32 bytes in hex; blanks and colons between the digits are ignored.
bool ParseHexKey(const char *text, size_t n, Bytes &key) {
  std::string h;
  h.reserve(n);  // never reallocated: the one copy is wiped
  WipeOnExit wipeH(h);
  for (size_t i = 0; i < n; ++i)
    if (text[i] != ' ' && text[i] != '\n' && text[i] != '\r' && text[i] != '\t' && text[i] != ':') h.push_back(text[i]);
  return (h.size() == 32 || h.size() == 48 || h.size() == 64) && ParseHex(h.data(), h.size(), &key);
}

bool ReadAll(int fd, uint8_t *p, size_t n) {
  while (n > 0) {
    ssize_t r = read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool WriteAll(int fd, const uint8_t *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool IsRegularOrMissing(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
}

// The output goes to "<out>.XXXXXX" beside it and is renamed into place, and
// only over a regular file: never over a link, a device or anything else.
// "-" is standard output, written as it comes.
struct Output {
  std::string path, tmp;
  int fd = -1;
  bool committed = false;
  bool Open(const std::string &out) {
    path = out;
    if (out == "-") {
      fd = STDOUT_FILENO;
      return true;
    }
    tmp = out + ".XXXXXX";
    fd = mkstemp(tmp.data());  // mode 0600
    return fd >= 0;
  }
  bool Commit() {
    if (tmp.empty()) {
      fd = -1;
      return committed = true;
    }
    const bool ok = fsync(fd) == 0 && close(fd) == 0;
    fd = -1;
    if (ok && !IsRegularOrMissing(path)) errno = EEXIST;  // something else appeared meanwhile
    else committed = ok && rename(tmp.c_str(), path.c_str()) == 0;
    return committed;
  }
  const char *Name() const { return path == "-" ? "standard output" : path.c_str(); }
  ~Output() {  // an unfinished output never stays behind
    if (tmp.empty()) return;
    if (fd >= 0) close(fd);
    if (!committed) unlink(tmp.c_str());
  }
};

// Standard input copied into an unnamed temporary file, so that it can be
// read twice (decryption checks the tag before it writes anything).
int SpoolStandardInput() {
  const char *dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string name = std::string(dir) + "/kelctl-enc-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
  }
  if (fd < 0) return -1;
  Bytes buf(kChunk);
  WipeOnExit wipeBuf(buf);
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !WriteAll(fd, buf.data(), static_cast<size_t>(n)))) {
      close(fd);
      return -1;
    }
    if (n == 0) break;
  }
  if (lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Runs the ciphertext (length bytes from fd) through a decryption and returns
// whether its tag matches; with out, the plaintext is written there.
int32_t DecryptPass(BulkCtx ctx, int fd, const uint8_t *header, uint64_t length, const uint8_t *tag, int out,
                    bool *written) {
  if (int32_t s = GCM_init_256b(ctx, header + sizeof kMagic, kNonceLen, header, kHeaderLen); s != 0) return s;
  if (lseek(fd, static_cast<off_t>(kHeaderLen), SEEK_SET) < 0) return -1;
  Bytes buf(kChunk);
  WipeOnExit wipeBuf(buf);
  uint8_t mine[kTagLen];
  WipeOnExit wipeMine(mine);
  int32_t status = 0;
  for (uint64_t done = 0; done < length && status == 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, length - done));
    if (!ReadAll(fd, buf.data(), n)) {
      status = -1;
      break;
    }
    status = GCM_update_decrypt_256b(ctx, buf.data(), static_cast<uint32_t>(n));
    if (status == 0 && out >= 0 && !WriteAll(out, buf.data(), n)) status = -2;
    done += n;
  }
  if (status == 0) status = GCM_final_256b(ctx, mine);
  if (status == 0 && !kel::ct_equal(mine, tag, kTagLen)) status = ERR_GCM_TAG_MISMATCH;
  if (written) *written = status == 0;
  return status;
}

int Encrypt(BulkCtx ctx, int in, uint64_t length, const std::string &outPath) {
  if (length > kMaxText) return Fail("input too large for AES-GCM here (at most 4 GiB)");
  uint8_t header[kHeaderLen];
  std::memcpy(header, kMagic, sizeof kMagic);
  if (getrandom(header + sizeof kMagic, kNonceLen, 0) != static_cast<ssize_t>(kNonceLen))
    return Fail("cannot draw a random nonce: %s", std::strerror(errno));
  Output out;
  if (!out.Open(outPath)) return Fail("cannot create %s: %s", outPath.c_str(), std::strerror(errno));
  const char *outName = out.Name();
  if (int32_t s = GCM_init_256b(ctx, header + sizeof kMagic, kNonceLen, header, kHeaderLen); s != 0)
    return Fail("AES-GCM refused to start (status %s)", std::to_string(s).c_str());
  if (!WriteAll(out.fd, header, kHeaderLen)) return Fail("cannot write %s: %s", outName, std::strerror(errno));
  Bytes buf(kChunk);
  WipeOnExit wipeBuf(buf);
  for (uint64_t done = 0; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, length - done));
    if (!ReadAll(in, buf.data(), n)) return Fail("cannot read the input: %s", std::strerror(errno));
    if (GCM_update_encrypt_256b(ctx, buf.data(), static_cast<uint32_t>(n)) != 0) return Fail("%s", "AES-GCM failed");
    if (!WriteAll(out.fd, buf.data(), n)) return Fail("cannot write %s: %s", outName, std::strerror(errno));
    done += n;
  }
  uint8_t tag[kTagLen];
  if (GCM_final_256b(ctx, tag) != 0) return Fail("%s", "AES-GCM failed");
  if (!WriteAll(out.fd, tag, kTagLen) || !out.Commit())
    return Fail("cannot write %s: %s", outName, std::strerror(errno));
  return kExitOk;
}

int Decrypt(BulkCtx ctx, int in, uint64_t size, const std::string &outPath) {
  if (size < kHeaderLen + kTagLen) return Fail("%s", "not an encrypted file: too short");
  uint8_t header[kHeaderLen], tag[kTagLen];
  if (!ReadAll(in, header, kHeaderLen) || std::memcmp(header, kMagic, sizeof kMagic) != 0)
    return Fail("%s", "not an encrypted file: unknown header");
  const uint64_t length = size - kHeaderLen - kTagLen;
  if (length > kMaxText) return Fail("%s", "encrypted file too large");
  if (lseek(in, static_cast<off_t>(size - kTagLen), SEEK_SET) < 0 || !ReadAll(in, tag, kTagLen))
    return Fail("cannot read the input: %s", std::strerror(errno));
  // First pass: the tag alone decides; nothing is written.
  int32_t s = DecryptPass(ctx, in, header, length, tag, -1, nullptr);
  if (s == ERR_GCM_TAG_MISMATCH)
    return Fail("%s", "authentication failed: wrong key, or the file was altered (nothing written)");
  if (s != 0) return Fail("cannot read the input: %s", std::strerror(errno));
  Output out;
  if (!out.Open(outPath)) return Fail("cannot create %s: %s", outPath.c_str(), std::strerror(errno));
  bool written = false;
  s = DecryptPass(ctx, in, header, length, tag, out.fd, &written);
  if (s == ERR_GCM_TAG_MISMATCH) return Fail("%s", "authentication failed: the input changed while it was read");
  if (s != 0 || !written || !out.Commit()) return Fail("cannot write %s: %s", out.Name(), std::strerror(errno));
  return kExitOk;
}

constexpr char kUsage[] =
    "usage: kelctl enc (-e | -d) (--key HEX | --key-file FILE) --in FILE --out FILE\n"
    "  -e, --encrypt   encrypt FILE with AES-GCM (key of 16, 24 or 32 bytes in hex)\n"
    "  -d, --decrypt   decrypt and verify; a wrong key or an altered file writes nothing\n"
    "  --in -, --out - standard input, standard output; --out replaces regular files only\n";

}  // namespace

int RunEnc(int argc, char **argv) {
  enum { kEncrypt, kDecrypt, kKey, kKeyFile, kIn, kOut };
  static constexpr Option kOptions[] = {{"--encrypt", "-e", false}, {"--decrypt", "-d", false},
                                        {"--key", "-k", true},      {"--key-file", nullptr, true},
                                        {"--in", "-i", true},       {"--out", "-o", true}};
  int mode = 0;  // 1 encrypt, 2 decrypt
  const char *keyHex = nullptr, *keyFile = nullptr;
  std::string inPath, outPath;
  Args a("enc", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    switch (a.id) {
      case kEncrypt: mode = mode ? -1 : 1; break;
      case kDecrypt: mode = mode ? -1 : 2; break;
      case kKey: keyHex = a.value; break;
      case kKeyFile: keyFile = a.value; break;
      case kIn: inPath = a.value; break;
      case kOut: outPath = a.value; break;
      default: return a.Fail("unexpected argument '%s'", a.value);
    }
  }
  if (a.exit >= 0) return a.exit;
  if (mode <= 0) return a.Fail("%s", mode < 0 ? "-e and -d together" : "-e or -d?");
  if (inPath.empty() || outPath.empty()) return a.Fail("--in and --out are both needed");
  if ((keyHex == nullptr) == (keyFile == nullptr)) return a.Fail("one of --key and --key-file, please");
  Bytes key, keyText;
  WipeOnExit wipeKey(key);
  WipeOnExit wipeKeyText(keyText);
  if (keyFile != nullptr) {
    if (!ReadInput(keyFile, &keyText))
      return Fail("cannot read the key file %s: %s", keyFile, std::strerror(errno));
    keyHex = reinterpret_cast<const char *>(keyText.data());
  }
  if (!ParseHexKey(keyHex, keyFile != nullptr ? keyText.size() : std::strlen(keyHex), key)) {
    std::fprintf(stderr, "kelctl enc: the key must be 32, 48 or 64 hex digits (AES-128, -192 or -256)\n");
    return kExitUsage;
  }

  // AES-GCM is an approved algorithm: it works only once the power-up
  // self-test has passed (kelctl runs it at start).
  if (const int32_t gate = FIPS_powerupSelfTestStatus(); gate != 0) return Refuse("enc", "AES-GCM", gate);

  if (outPath != "-" && !IsRegularOrMissing(outPath))
    return Fail("%s is not a regular file: refusing to replace it (--out - writes to standard output)",
                outPath.c_str());
  const bool fromStdin = inPath == "-";
  const int in = fromStdin ? SpoolStandardInput() : open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return Fail("cannot read %s: %s", fromStdin ? "standard input" : inPath.c_str(), std::strerror(errno));
  struct stat st;
  int rc;
  BulkCtx ctx = GCM_createCtx_256b(key.data(), static_cast<uint32_t>(key.size()), mode == 1);
  if (ctx == nullptr)
    rc = Fail("%s", "cannot set up AES-GCM");
  else if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode))
    rc = Fail("%s is not a regular file", inPath.c_str());
  else if (mode == 1)
    rc = Encrypt(ctx, in, static_cast<uint64_t>(st.st_size), outPath);
  else
    rc = Decrypt(ctx, in, static_cast<uint64_t>(st.st_size), outPath);
  GCM_deleteCtx_256b(&ctx);
  close(in);
  return rc;
}

}  // namespace kelctl
