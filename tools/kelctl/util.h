// kelctl's shared ground: the one argument parser of every subcommand, hex,
// whole-input reading ("-" is standard input) and scoped wiping over the
// toolkit's secure_zero (tags compare with kel::ct_equal). Header-only, so a
// test that builds one command file into itself gets these with it.
//
// Arguments: "--x V" and "--x=V" (a short alias takes "-x V"); "-h" or
// "--help" prints the command's usage on standard output and ends it with 0;
// an unknown option, a missing value or a bad number prints what is wrong and
// the usage on standard error and ends it with 2. "--" ends the options, and
// a lone "-" is an operand.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "commands.h"
#include "crypto/common/ct.h"
#include "crypto/common/mem.h"
#include "kel/vlong.h"

namespace kelctl {

using Bytes = std::vector<uint8_t>;

// Wipes a buffer (an array, std::string or std::vector) when the scope ends,
// whichever return ends it.
template <class C>
class WipeOnExit {
 public:
  explicit WipeOnExit(C &c) : c_(c) {}
  ~WipeOnExit() { kel::mem::secure_zero(std::data(c_), std::size(c_) * sizeof *std::data(c_)); }
  WipeOnExit(const WipeOnExit &) = delete;
  WipeOnExit &operator=(const WipeOnExit &) = delete;

 private:
  C &c_;
};

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digits in pairs into bytes; false (out emptied) on an odd count or a
// character that is not a hex digit. With oddLeadingZero an odd count reads
// as if a 0 came first.
inline bool ParseHex(const char *text, size_t n, Bytes *out, bool oddLeadingZero = false) {
  out->clear();
  if (n % 2 != 0 && !oddLeadingZero) return false;
  out->assign((n + 1) / 2, 0);
  bool ok = true;
  for (size_t i = 0; i < n; ++i) {  // no branch on a digit's value: keys come this way
    const int d = HexDigit(text[i]);
    ok &= d >= 0;
    uint8_t &byte = (*out)[(i + n % 2) / 2];
    byte = static_cast<uint8_t>(byte << 4 | (d & 15));
  }
  if (!ok) {
    kel::mem::secure_zero(out->data(), out->size());
    out->clear();
  }
  return ok;
}
inline bool ParseHex(const char *text, Bytes *out, bool oddLeadingZero = false) {
  return ParseHex(text, std::strlen(text), out, oddLeadingZero);
}

inline std::string ToHex(const uint8_t *p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s(2 * n, '0');
  for (size_t i = 0; i < n; ++i) {
    s[2 * i] = kDigits[p[i] >> 4];
    s[2 * i + 1] = kDigits[p[i] & 15];
  }
  return s;
}

// A big number's bytes in hex, big-endian, without leading zero bytes ("" for 0).
inline std::string ToHex(const vlong *v) {
  int32_t n = 0;
  VLONG_byteStringFromVlong(v, nullptr, &n);
  Bytes b(static_cast<size_t>(n));
  if (n > 0) VLONG_byteStringFromVlong(v, b.data(), &n);
  return ToHex(b.data(), b.size());
}

// The whole of a file, or of standard input for "-". On failure false with
// errno saying why; what was read so far is wiped.
inline bool ReadInput(const char *path, Bytes *out) {
  out->clear();
  const bool stdinput = std::strcmp(path, "-") == 0;
  FILE *in = stdinput ? stdin : std::fopen(path, "rb");
  if (in == nullptr) return false;
  uint8_t buf[65536];
  WipeOnExit wipeBuf(buf);
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) out->insert(out->end(), buf, buf + n);
  const bool ok = !std::ferror(in);
  const int err = errno;
  if (stdinput)
    std::clearerr(stdin);
  else
    std::fclose(in);
  if (!ok) {
    kel::mem::secure_zero(out->data(), out->size());
    out->clear();
    errno = err ? err : EIO;
  }
  return ok;
}

// A status of the power-up gate: the self-test has not run, or it failed.
inline bool GateStatus(int32_t status) { return status <= -16500 && status > -16600; }

// A command refusing what the closed gate keeps off: one line on standard
// error, and 1.
inline int Refuse(const char *command, const char *what, int32_t status) {
  std::fprintf(stderr, "kelctl %s: %s is unavailable: the toolkit's power-up self-test has not passed (status %d)\n",
               command, what, status);
  return kExitFailed;
}

// Writes n bytes to path, created or replaced, with the given mode from the
// start (0600 for secrets); false with errno saying why.
inline bool WriteOutput(const std::string &path, const uint8_t *data, size_t n, mode_t mode = 0644) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < n;) {
    const ssize_t w = write(fd, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    ok = w > 0;
    done += ok ? static_cast<size_t>(w) : 0;
  }
  return close(fd) == 0 && ok;
}

struct Option {
  const char *name;   // "--algo"
  const char *alias;  // "-a", or nullptr
  bool takesValue;
};

// Walks a subcommand's arguments (argv[0] is its name):
//
//   Args a("digest", kUsage, argc, argv, kOptions);
//   while (a.Next()) switch (a.id) { case Args::kOperand: ...; case 0: ... a.value ... }
//   if (a.exit >= 0) return a.exit;
class Args {
 public:
  static constexpr int kOperand = -1;

  template <size_t N>
  Args(const char *command, const char *usage, int argc, char **argv, const Option (&options)[N])
      : Args(command, usage, argc, argv, options, N) {}
  Args(const char *command, const char *usage, int argc, char **argv)
      : Args(command, usage, argc, argv, nullptr, 0) {}
  Args(const char *command, const char *usage, int argc, char **argv, const Option *options, size_t count)
      : command_(command), usage_(usage), argc_(argc), argv_(argv), options_(options), count_(count) {}

  int id = kOperand;            // the option's index in the table, or kOperand
  const char *value = nullptr;  // the option's value, or the operand
  int exit = -1;                // after Next() gave false: -1 all read, else the code to return

  // The next option or operand; false at the end, after help or on a usage error.
  bool Next() {
    if (exit >= 0 || ++i_ >= argc_) return false;
    const char *a = argv_[i_];
    value = a;
    id = kOperand;
    if (optionsDone_ || a[0] != '-' || a[1] == '\0') return true;
    if (!std::strcmp(a, "--")) {
      optionsDone_ = true;
      return Next();
    }
    if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
      std::fputs(usage_, stdout);
      exit = kExitOk;
      return false;
    }
    const char *eq = a[1] == '-' ? std::strchr(a, '=') : nullptr;
    const size_t length = eq ? static_cast<size_t>(eq - a) : std::strlen(a);
    for (size_t k = 0; k < count_; ++k) {
      const Option &o = options_[k];
      const bool named = std::strlen(o.name) == length && !std::strncmp(a, o.name, length);
      if (!named && (eq != nullptr || o.alias == nullptr || std::strcmp(a, o.alias) != 0)) continue;
      id = static_cast<int>(k);
      if (!o.takesValue) {
        if (eq != nullptr) return Fail("option %s takes no value", o.name), false;
        value = nullptr;
      } else if (eq != nullptr) {
        value = eq + 1;
      } else if (i_ + 1 < argc_) {
        value = argv_[++i_];
      } else {
        return Fail("option %s needs a value", a), false;
      }
      return true;
    }
    return Fail("unknown option '%s'", a), false;
  }

  // A usage error: what is wrong, then the usage, on standard error; 2.
  __attribute__((format(printf, 2, 3))) int Fail(const char *format, ...) {
    std::fprintf(stderr, "kelctl %s: ", command_);
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fprintf(stderr, "\n%s", usage_);
    return exit = kExitUsage;
  }

  // value as a decimal number in [lo, hi]; a usage error otherwise.
  bool Number(long lo, long hi, long *out) {
    char *end = nullptr;
    errno = 0;
    const long v = value[0] >= '0' && value[0] <= '9' ? std::strtol(value, &end, 10) : 0;
    if (end == nullptr || *end != '\0' || errno != 0 || v < lo || v > hi) {
      if (id >= 0)
        Fail("%s wants a number from %ld to %ld, not '%s'", options_[id].name, lo, hi, value);
      else
        Fail("'%s' is not a number from %ld to %ld", value, lo, hi);
      return false;
    }
    *out = v;
    return true;
  }

 private:
  const char *command_, *usage_;
  int argc_;
  char **argv_;
  const Option *options_;
  size_t count_;
  int i_ = 0;
  bool optionsDone_ = false;
};

}  // namespace kelctl
