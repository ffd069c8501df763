// kelctl digest: hashes files or standard input with one of the toolkit's
// digests, optionally as an HMAC, and prints sha256sum-style lines
// ("<hex>  <name>", "-" for standard input) or BSD-style ones (--tag); with
// --check it verifies such lists as `sha256sum -c` does, line for line.
//
// SHA-1 and SHA-2 are approved algorithms: they work only once the toolkit's
// power-up self-test (run by kelctl at start) has passed; otherwise the
// command reports the gate's status. MD5 and HMAC-MD5 are not gated.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/fips.h"
#include "kel/hash.h"
#include "kel/hmac.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"

namespace kelctl {
namespace {

struct DigestName {
  const char *name;
  int32_t id;        // CRYPTO_getRSAHashAlgo number
  const char *type;  // in BSD-style lines and messages, as md5sum and shaNsum write it
};

constexpr DigestName kDigestNames[] = {{"md5", 4, "MD5"},        {"sha1", 5, "SHA1"},
                                       {"sha224", 14, "SHA224"}, {"sha256", 11, "SHA256"},
                                       {"sha384", 12, "SHA384"}, {"sha512", 13, "SHA512"}};

constexpr size_t kChunk = 65536;

struct Options {
  const char *algo = "sha256";
  int32_t id = 11;
  const HashSuite *suite = nullptr;
  Bytes keyBytes;
  const uint8_t *key = nullptr;  // keyBytes' data; null without --hmac-key
  uint32_t keyLength = 0;
  char type[16] = "SHA256";  // "SHA256", or "HMAC-SHA256" with a key
  bool tag = false, check = false;
  // --check only
  bool quiet = false, status = false, warn = false, strict = false, ignoreMissing = false;
};

// A name in a message, quoted as coreutils quotes it there: bare when the
// shell would take it as it is, else in single quotes ('\'' for a quote,
// $'\n' for control characters), or in double quotes when a single quote is
// the only trouble.
std::string Quote(const char *name) {
  const size_t n = std::strlen(name);
  if (n == 0) return "''";
  bool needed = false, singleQuote = false, doubleQuotesWork = true;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f || std::strchr("!\"$&()*;<=>?[\\^`|", c)) {
      needed = true;
      doubleQuotesWork = false;
    } else if (c == '\'') {
      needed = singleQuote = true;
    } else if (c == ' ' || c == ':' || ((c == '#' || c == '~') && i == 0) || ((c == '{' || c == '}') && n == 1)) {
      needed = true;
    }
  }
  if (!needed) return name;
  if (singleQuote && doubleQuotesWork) return std::string("\"") + name + "\"";
  std::string out = "'";
  bool inEscape = false;  // inside a $'...' run
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f) {
      if (!inEscape) out += "'$'";
      inEscape = true;
      const char *letter = std::strchr("\aa\bb\ff\nn\rr\tt\vv", c);
      char esc[8];
      if (c != 0 && letter != nullptr)
        std::snprintf(esc, sizeof esc, "\\%c", letter[1]);
      else
        std::snprintf(esc, sizeof esc, "\\%03o", c);
      out += esc;
      continue;
    }
    if (inEscape) out += "''";
    inEscape = false;
    if (c == '\'')
      out += "'\\''";
    else
      out += static_cast<char>(c);
  }
  return out + "'";
}

// A file name on a result line. A name that would break the line format is
// written with a backslash before the line and its backslashes, newlines and
// carriage returns escaped.
bool NeedsEscape(const char *name) { return name[std::strcspn(name, "\\\n\r")] != '\0'; }

void PrintName(const char *name, bool escaped) {
  for (const char *p = name; *p != '\0'; ++p) {
    if (escaped && (*p == '\\' || *p == '\n' || *p == '\r')) {
      std::putchar('\\');
      std::putchar(*p == '\n' ? 'n' : *p == '\r' ? 'r' : '\\');
    } else {
      std::putchar(*p);
    }
  }
}

void PrintStatus(const Options &o, int32_t status) {
  if (GateStatus(status))
    Refuse("digest", o.algo, status);
  else
    std::fprintf(stderr, "kelctl digest: %s failed (status %d)\n", o.algo, status);
}

// Digest or MAC of one stream into out; the toolkit status, or 1 for a read
// error (errno says why).
int32_t DigestStream(const Options &o, FILE *in, uint8_t *out) {
  const HashSuite &s = *o.suite;
  static uint8_t buf[kChunk];
  if (o.key != nullptr && o.id == 4) {
    Bytes data;
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) data.insert(data.end(), buf, buf + n);
    if (std::ferror(in) || data.size() > 0xffffffffu) return 1;
    return HMAC_MD5(o.key, o.keyLength, data.data(), static_cast<uint32_t>(data.size()), nullptr, 0, out);
  }
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

// Opens path ("-": standard input) and digests it into out. On failure says
// why on standard error and returns false; *missing tells a file that does
// not exist, which --ignore-missing passes over silently.
bool DigestFile(const Options &o, const char *path, uint8_t *out, bool *missing = nullptr) {
  const bool stdinput = std::strcmp(path, "-") == 0;
  FILE *in = stdinput ? stdin : std::fopen(path, "rb");
  if (in == nullptr) {
    if (missing != nullptr) *missing = errno == ENOENT;
    if (missing == nullptr || !*missing || !o.ignoreMissing)
      std::fprintf(stderr, "kelctl digest: %s: %s\n", Quote(path).c_str(), std::strerror(errno));
    return false;
  }
  errno = 0;
  const int32_t st = DigestStream(o, in, out);
  const int readError = errno;
  if (stdinput)
    std::clearerr(stdin);
  else
    std::fclose(in);
  if (st == 1) {
    std::fprintf(stderr, "kelctl digest: %s: %s\n", Quote(path).c_str(), std::strerror(readError ? readError : EIO));
    return false;
  }
  if (st != 0) {
    PrintStatus(o, st);
    return false;
  }
  return true;
}

// One output line, or a message on standard error; true when it worked.
bool DigestOne(const Options &o, const char *path) {
  uint8_t out[64];
  if (!DigestFile(o, path, out)) return false;
  const bool escaped = NeedsEscape(path);
  if (escaped) std::putchar('\\');
  if (o.tag) {
    std::printf("%s (", o.type);
    PrintName(path, escaped);
    std::printf(") = ");
  }
  for (uint32_t i = 0; i < o.suite->digestSize; ++i) std::printf("%02x", out[i]);
  if (!o.tag) {
    std::printf("  ");
    PrintName(path, escaped);
  }
  std::putchar('\n');
  return true;
}

// --check: the lists' lines and the tallies over them. Lines take the forms
// sha256sum and its siblings write and read: "<hex>  <name>" ('*' in place of
// the second space for binary mode), "<TYPE> (<name>) = <hex>", and the
// reversed "<hex> <name>" of BSD tools, which may not mix with the first form.
struct Checker {
  const Options &o;
  int reversed = -1;  // -1 not known yet, 0 standard lines seen, 1 reversed lines seen
  unsigned long misformatted = 0, unreadable = 0, mismatched = 0;
  bool wellFormed = false, matched = false;

  static bool White(char c) { return c == ' ' || c == '\t'; }

  bool Hex(const char *p, size_t n) const {
    if (n != 2 * o.suite->digestSize) return false;
    for (size_t i = 0; i < n; ++i)
      if (HexDigit(p[i]) < 0) return false;
    return true;
  }

  // Undoes the escapes of a line that began with a backslash, in place.
  static bool Unescape(char *s, size_t n) {
    char *dst = s;
    for (size_t i = 0; i < n; ++i) {
      if (s[i] == '\0') return false;
      if (s[i] != '\\') {
        *dst++ = s[i];
        continue;
      }
      if (++i == n) return false;
      if (s[i] == 'n')
        *dst++ = '\n';
      else if (s[i] == 'r')
        *dst++ = '\r';
      else if (s[i] == '\\')
        *dst++ = '\\';
      else
        return false;
    }
    if (dst < s + n) *dst = '\0';
    return true;
  }

  // "<name>) = <hex>" after "<TYPE> (".
  bool SplitTagged(char *s, size_t n, const char **hex, size_t *hexLength, const char **name, bool escaped) const {
    if (n == 0) return false;
    size_t i = n - 1;
    while (i > 0 && s[i] != ')') --i;
    if (s[i] != ')') return false;
    *name = s;
    if (escaped && !Unescape(s, i)) return false;
    s[i++] = '\0';
    while (White(s[i])) ++i;
    if (s[i++] != '=') return false;
    while (White(s[i])) ++i;
    *hex = s + i;
    *hexLength = n - i;
    return true;
  }

  bool Split(char *s, size_t n, const char **hex, const char **name) {
    size_t i = 0;
    while (White(s[i])) ++i;
    const bool escaped = s[i] == '\\';
    if (escaped) ++i;
    const size_t typeLength = std::strlen(o.type);
    if (std::strncmp(s + i, o.type, typeLength) == 0) {
      i += typeLength;
      if (s[i] == ' ') ++i;
      if (s[i] != '(') return false;
      ++i;
      size_t hexLength = 0;
      return SplitTagged(s + i, n - i, hex, &hexLength, name, escaped) && Hex(*hex, hexLength);
    }
    const size_t hexChars = 2 * o.suite->digestSize;
    if (n - i < hexChars + 2 + (s[i] == '\\')) return false;
    *hex = s + i;
    i += hexChars;
    if (!White(s[i])) return false;
    s[i++] = '\0';
    if (!Hex(*hex, hexChars)) return false;
    if (n - i == 1 || (s[i] != ' ' && s[i] != '*')) {
      if (reversed == 0) return false;
      reversed = 1;
    } else if (reversed != 1) {
      reversed = 0;
      ++i;  // the mode character
    }
    *name = s + i;
    return !escaped || Unescape(s + i, n - i);
  }

  void Line(char *s, size_t n, bool fromStdin, const char *listName, unsigned long number) {
    const char *hex = nullptr, *name = nullptr;
    if (!Split(s, n, &hex, &name) || (fromStdin && std::strcmp(name, "-") == 0)) {
      ++misformatted;
      if (o.warn)
        std::fprintf(stderr, "kelctl digest: %s: %lu: improperly formatted %s checksum line\n", Quote(listName).c_str(),
                     number, o.type);
      return;
    }
    wellFormed = true;
    const bool escaped = !o.status && std::strchr(name, '\n') != nullptr;
    uint8_t digest[64];
    bool missing = false;
    if (!DigestFile(o, name, digest, &missing)) {
      if (missing && o.ignoreMissing) return;
      ++unreadable;
      if (!o.status) {
        if (escaped) std::putchar('\\');
        PrintName(name, escaped);
        std::printf(": FAILED open or read\n");
      }
      return;
    }
    bool same = true;
    for (uint32_t i = 0; i < o.suite->digestSize; ++i)
      same &= HexDigit(hex[2 * i]) == digest[i] >> 4 && HexDigit(hex[2 * i + 1]) == (digest[i] & 15);
    if (same)
      matched = true;
    else
      ++mismatched;
    if (o.status || (same && o.quiet)) return;
    if (escaped) std::putchar('\\');
    PrintName(name, escaped);
    std::printf(same ? ": OK\n" : ": FAILED\n");
  }

  static void Warn(unsigned long count, const char *one, const char *many) {
    if (count != 0) std::fprintf(stderr, "kelctl digest: WARNING: %lu %s\n", count, count == 1 ? one : many);
  }

  // Verifies one list; false when anything in it failed.
  bool List(const char *path) {
    const bool fromStdin = std::strcmp(path, "-") == 0;
    const char *listName = fromStdin ? "standard input" : path;
    FILE *in = fromStdin ? stdin : std::fopen(path, "r");
    if (in == nullptr) {
      std::fprintf(stderr, "kelctl digest: %s: %s\n", Quote(path).c_str(), std::strerror(errno));
      return false;
    }
    misformatted = unreadable = mismatched = 0;
    wellFormed = matched = false;
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    for (unsigned long number = 1; (length = getline(&line, &capacity, in)) > 0; ++number) {
      if (line[0] == '#') continue;
      size_t n = static_cast<size_t>(length);
      n -= line[n - 1] == '\n';
      n -= n > 0 && line[n - 1] == '\r';
      if (n == 0) continue;
      line[n] = '\0';
      Line(line, n, fromStdin, listName, number);
    }
    std::free(line);
    const bool readError = std::ferror(in);
    if (fromStdin)
      std::clearerr(stdin);
    else
      std::fclose(in);
    if (readError) {
      std::fprintf(stderr, "kelctl digest: %s: read error\n", Quote(listName).c_str());
      return false;
    }
    if (!wellFormed) {
      std::fprintf(stderr, "kelctl digest: %s: no properly formatted checksum lines found\n", Quote(listName).c_str());
      return false;
    }
    if (!o.status) {
      Warn(misformatted, "line is improperly formatted", "lines are improperly formatted");
      Warn(unreadable, "listed file could not be read", "listed files could not be read");
      Warn(mismatched, "computed checksum did NOT match", "computed checksums did NOT match");
      if (o.ignoreMissing && !matched)
        std::fprintf(stderr, "kelctl digest: %s: no file was verified\n", Quote(listName).c_str());
    }
    return unreadable == 0 && mismatched == 0 && (!o.strict || misformatted == 0) && (!o.ignoreMissing || matched);
  }
};

constexpr char kUsage[] =
    "usage: kelctl digest [--algo NAME] [--hmac-key HEX] [--tag] [FILE...]\n"
    "       kelctl digest --check [--algo NAME] [--hmac-key HEX] [--quiet] [--status] [--warn]\n"
    "                     [--strict] [--ignore-missing] [FILE...]\n"
    "  NAME: md5, sha1, sha224, sha256 (the default), sha384 or sha512; FILE - or none:\n"
    "  standard input\n";

}  // namespace

int RunDigest(int argc, char **argv) {
  enum { kQuiet, kStatus, kWarn, kStrict, kIgnoreMissing, kCheck, kTag, kAlgo, kHmacKey };
  static constexpr Option kOptions[] = {
      {"--quiet", nullptr, false}, {"--status", nullptr, false}, {"--warn", "-w", false},
      {"--strict", nullptr, false}, {"--ignore-missing", nullptr, false}, {"--check", "-c", false},
      {"--tag", nullptr, false},   {"--algo", "-a", true},       {"--hmac-key", nullptr, true}};
  Options o;
  WipeOnExit wipeKey(o.keyBytes);
  std::vector<const char *> names;
  const char *checkOption = nullptr;
  Args a("digest", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    bool *const checkFlags[] = {&o.quiet, &o.status, &o.warn, &o.strict, &o.ignoreMissing};
    switch (a.id) {
      case Args::kOperand: names.push_back(a.value); break;
      case kCheck: o.check = true; break;
      case kTag: o.tag = true; break;
      case kAlgo: o.algo = a.value; break;
      case kHmacKey:
        if (!ParseHex(a.value, &o.keyBytes) || o.keyBytes.size() > 0xffffffffu)
          return a.Fail("--hmac-key wants an even number of hexadecimal digits");
        o.key = o.keyBytes.data() != nullptr ? o.keyBytes.data() : reinterpret_cast<const uint8_t *>("");
        o.keyLength = static_cast<uint32_t>(o.keyBytes.size());
        break;
      default: *checkFlags[a.id] = true, checkOption = kOptions[a.id].name;
    }
  }
  if (a.exit >= 0) return a.exit;
  bool known = false;
  for (const auto &d : kDigestNames) {
    if (std::strcmp(o.algo, d.name) != 0) continue;
    known = true;
    o.id = d.id;
    std::snprintf(o.type, sizeof o.type, "%s%s", o.key ? "HMAC-" : "", d.type);
  }
  if (!known) return a.Fail("unknown digest: %s", o.algo);
  if (o.check && o.tag) return a.Fail("--tag is meaningless when verifying checksums");
  if (!o.check && checkOption != nullptr) return a.Fail("%s is meaningful only with --check", checkOption);
  CRYPTO_getRSAHashAlgo(o.id, &o.suite);
  if (names.empty()) names.push_back("-");
  bool ok = true;
  if (o.check) {
    // With the gate closed no list can be checked: say so once.
    const int32_t gate = o.id == 4 ? 0 : FIPS_powerupSelfTestStatus();
    if (gate != 0) {
      PrintStatus(o, gate);
      return kExitFailed;
    }
    Checker checker{o};
    for (const char *name : names) ok = checker.List(name) && ok;
  } else {
    for (const char *name : names) ok = DigestOne(o, name) && ok;
  }
  return ok ? kExitOk : kExitFailed;
}

}  // namespace kelctl
