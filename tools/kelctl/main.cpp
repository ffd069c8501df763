// kelctl: the KelVpn client's command-line tool over libnm-kelvpn-properties.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kel/vpn_plugin.h"
#include "kelctl/commands.h"

#ifndef KEL_PROJECT_VERSION
#define KEL_PROJECT_VERSION "unknown"
#endif

namespace {

constexpr kelctl::Command kCommands[] = {
    {"log", "[--app N] [--dir DIR] [--stdout]",
     "write sample lines, a hex dump and toolkit console text through the log engine", kelctl::RunLog, false},
    {"archive", "DIR [--log-dir DIR] [--cli] [--verbose]",
     "build the diagnostic archive for support in DIR; print its name, size and member count", kelctl::RunArchive, false},
    {"enc", "(-e|-d) (--key HEX|--key-file FILE) --in FILE --out FILE", "encrypt or decrypt a file with AES-GCM",
     kelctl::RunEnc, true},
    {"digest", "[--algo md5|sha1|sha224|sha256|sha384|sha512] [--hmac-key HEX] [--tag] [--check] [FILE...]",
     "print sha256sum-style digest (or HMAC) lines of files or standard input, or --check such lists",
     kelctl::RunDigest, true},
    {"speed", "", "print the throughput of the digests, HMAC, ciphers and public-key algorithms on this machine", kelctl::RunSpeed, true},
    {"plugin", "[--name FILE] [--without-glade]", "load the editor plugin as the connection editor does and try an edit", kelctl::RunPlugin, false},
    {"random", "[--generator ctr-drbg|fips186] N", "print N random bytes in hex from a toolkit generator",
     kelctl::RunRandom, true},
    {"console", "--port N [--wait SECONDS]",
     "run the debug console server on port N and show its activation line when a client connects",
     kelctl::RunConsole, false},
    {"ec", "genkey|sign|verify|derive [--curve p256|p384] [--key K] [--pub P] [--sig S] [--peer P] [--out F] [FILE]",
     "generate a P-256/P-384 key pair, sign or verify a file's digest, derive an ECDH secret", kelctl::RunEc, true},
    {"dh", "[--group N] [--private-a HEX --private-b HEX]",
     "run a Diffie-Hellman agreement between two parties; print both public values and the secret's digest",
     kelctl::RunDh, true},
    {"oid", "", "list the toolkit's object identifiers with their dotted values", kelctl::RunOid, false},
    {"prime", "--bits N | --test NUM...", "generate a probable prime of N bits, or test decimal or 0x-hex numbers",
     kelctl::RunPrime, true},
    {"rsa", "(genkey [--bits N]|pubkey|sign|verify|encrypt|decrypt) --key FILE [--in FILE] [--out FILE] [--sig FILE]",
     "RSA key pairs, PKCS #1 v1.5 signatures over SHA-256 and encryption of a short secret", kelctl::RunRsa, true},
    {"selftest", "", "run the toolkit's power-up self-test; print each test's verdict and time", kelctl::RunSelftest, false},
};

void PrintHelp(FILE *to) {
  std::fprintf(to, "usage: kelctl COMMAND [ARGS...]\n       kelctl --help | --version\n\ncommands:\n");
  for (const auto &c : kCommands) std::fprintf(to, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
  std::fprintf(to, "\nexit codes: 0 success, 1 the operation failed, 2 bad usage\n");
}

// Output that never reached standard output (a full disk, /dev/full, a
// closed pipe) makes a successful command a failed one.
int Finish(int rc) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "kelctl: cannot write standard output: %s\n", std::strerror(errno));
    return rc == kelctl::kExitOk ? kelctl::kExitFailed : rc;
  }
  return rc;
}

int Dispatch(int argc, char **argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    PrintHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? kelctl::kExitUsage : kelctl::kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("kelctl (kelvpn) %s\neditor plugin %s (%s)\n", KEL_PROJECT_VERSION, APP_VERSION, APP_GIT_REVISION);
    return kelctl::kExitOk;
  }
  for (const auto &c : kCommands)
    if (!std::strcmp(argv[1], c.name)) {
      // The toolkit's approved algorithms answer only after the power-up
      // self-test has passed: it runs here once, before the command that uses
      // them (selftest runs its own); the command refuses when it failed.
      if (c.approved)
        if (const int32_t st = kelctl::OpenGate(); st != 0) kelctl::ReportGateFailure("kelctl", st);
      return c.run(argc - 1, argv + 1);
    }
  std::fprintf(stderr, "kelctl: unknown command '%s' (try kelctl --help)\n", argv[1]);
  return kelctl::kExitUsage;
}

}  // namespace

int main(int argc, char **argv) { return Finish(Dispatch(argc, argv)); }
