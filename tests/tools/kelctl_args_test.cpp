// kelctl's argument rules and output errors, the same in every subcommand,
// and the power-up self-test as the tool shows it: its own report, and what
// a command says and does when a broken copy of the library fails it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "crypto/fips/internal.h"
#include "support/sandbox.h"

namespace {

using namespace kel::test;

// One stream of a run: the other goes to /dev/null.
Outcome Stdout(const std::string &args) { return Shell("{ " + kKelctl + " " + args + " 2>/dev/null; }"); }
Outcome Stderr(const std::string &args) { return Shell("{ " + kKelctl + " " + args + " >/dev/null; }"); }

const char *const kCommands[] = {"log",  "archive", "enc", "digest", "speed", "plugin",  "random",
                                 "console", "ec", "dh",  "oid",    "prime", "rsa", "selftest"};

TEST(KelctlArgs, HelpAndUnknownOptionsInEveryCommand) {
  for (const std::string c : kCommands) {
    for (const char *help : {" -h", " --help"}) {
      const Outcome out = Stdout(c + help), err = Stderr(c + help);
      EXPECT_EQ(out.exitCode, 0) << c << help;
      EXPECT_EQ(out.out.rfind("usage: kelctl " + c, 0), 0u) << c << help << ": " << out.out;
      EXPECT_EQ(err.out, "") << c << help;
    }
    const Outcome out = Stdout(c + " --no-such-option"), err = Stderr(c + " --no-such-option");
    EXPECT_EQ(out.exitCode, 2) << c;
    EXPECT_EQ(out.out, "") << c;
    EXPECT_NE(err.out.find("kelctl " + c + ": unknown option '--no-such-option'\nusage: kelctl " + c),
              std::string::npos)
        << c << ": " << err.out;
  }
}

TEST(KelctlArgs, ValuesAttachedOrApartAndUsageErrors) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "f", "abc"));
  const std::string f = dir / "f";
  const struct {
    const char *attached, *apart;
    int exitCode;
  } rows[] = {
      {"digest --algo=sha1 F", "digest -a sha1 F", 0},
      {"dh --group=2 --private-a=05 --private-b=7", "dh --group 2 --private-a 05 --private-b 7", 0},
      {"digest --tag=yes F", "digest --tag=no F", 2},                 // a flag takes no value
      {"digest --algo=sha3 F", "digest --algo sha3 F", 2},           // not a digest
      {"log --app=6", "log --app 6", 2},                             // numbers out of range
      {"prime --bits=12x", "prime --bits 12x", 2},
      {"random --generator=bogus 4", "random 1048577", 2},
      {"console --port=0", "console --port 70000", 2},
      {"dh --group=3", "dh extra", 2},
      {"random 4 5", "random 0", 2},                                 // operands
      {"enc -e --in F --out F --key", "enc -e --in F --out F --key-file", 2},  // value missing
      {"enc -e --in F --out F", "enc -e -d -k 000102030405060708090a0b0c0d0e0f -i F -o F", 2},  // no key; two modes
      {"ec sign --key=01", "ec verify --pub 04 F", 2},                 // no file; no signature
      {"prime --bits=8", "prime --bits 16385", 2},
      {"prime --test", "prime", 2},
      {"dh --private-a=01", "dh --private-a zz --private-b 01", 2},  // both or neither, in hex
      {"digest --algo=md5 --hmac-key=abc F", "digest --algo md5 --hmac-key zz F", 2},
      {"archive", "oid extra", 2},
      {"rsa frob --key=k", "rsa sign --key k --in m", 2},
  };
  auto expand = [&](std::string s) { return std::regex_replace(s, std::regex("\\bF\\b"), f); };
  for (const auto &r : rows) {
    const Outcome a = Kelctl(expand(r.attached)), b = Kelctl(expand(r.apart));
    EXPECT_EQ(a.exitCode, r.exitCode) << r.attached << ": " << a.out;
    EXPECT_EQ(b.exitCode, r.exitCode) << r.apart << ": " << b.out;
    if (r.exitCode == 0) EXPECT_EQ(a.out, b.out) << r.attached;
    else EXPECT_NE(a.out.find("usage: kelctl "), std::string::npos) << r.attached << ": " << a.out;
  }
  // After "--" an operand may begin with a dash ("-" alone, standard input: DigestCheck).
  ASSERT_TRUE(WriteFile(dir / "-n", "abc"));
  EXPECT_EQ(Shell("cd '" + dir.path() + "' && " + kKelctl + " digest -a sha1 -- -n").out,
            "a9993e364706816aba3e25717850c26c9cd0d89d  -n\n");
}

// Exit 1 and a word on standard error when standard output cannot be written.
TEST(KelctlOutput, WriteErrorsOnStandardOutputFailEveryCommand) {
  TempDir tmp;
  const std::string dir = tmp.path();
  ASSERT_EQ(std::system(("echo data > " + dir + "/file && mkdir " + dir + "/out").c_str()), 0);
  for (const std::string &args : std::vector<std::string>{"--help", "help", "digest --algo md5 " + dir + "/file", "speed",
                                 "log --dir " + dir + "/logs --stdout", "archive " + dir + "/out --log-dir " + dir}) {
    // Only the command's standard output goes there; its error text is kept.
    const auto r = Shell("{ " + kKelctl + " " + args + " >/dev/full; }");
    EXPECT_EQ(r.exitCode, 1) << args << ": " << r.out;
    EXPECT_NE(r.out.find("kelctl: cannot write standard output: No space left on device"), std::string::npos)
        << args << ": " << r.out;
  }
}

TEST(KelctlSelftest, EachTestWithItsVerdictThenTheStatus) {
  const Outcome r = Stdout("selftest");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  ExpectGolden("kelctl_selftest", std::regex_replace(r.out, std::regex("[ 0-9]+\\.[0-9]{3} ms"), " T ms"));
}

// A copy of the library with one byte of the stored HMAC-SHA-256 value
// changed (found by its content), taken by kelctl through LD_LIBRARY_PATH.
TEST(KelctlSelftest, ABrokenLibraryIsNamedAndItsAlgorithmsRefused) {
  const kel::fips::StoredValue *v = nullptr;
  for (const auto &s : kel::fips::stored_values())
    if (std::string(s.name) == "HMAC-SHA-256") v = &s;
  ASSERT_NE(v, nullptr);
  std::string lib = ReadFile(KEL_LIBRARY_PATH);
  const std::string content(reinterpret_cast<const char *>(v->located), v->locatedLength);
  size_t copies = 0;
  for (size_t at = lib.find(content); at != std::string::npos; at = lib.find(content, at + 1), ++copies)
    lib[at + v->offset] = static_cast<char>(lib[at + v->offset] ^ 0x01);
  ASSERT_GT(copies, 0u);
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "libnm-kelvpn-properties.so", lib));
  ASSERT_TRUE(WriteFile(dir / "f", "abc"));
  const std::string env = "LD_LIBRARY_PATH='" + dir.path() + "' ", f = " '" + (dir / "f") + "'";

  // What each command says and its exit code (the self-test's times as T):
  // the failing tests named, the approved algorithms refused, MD5 (not behind
  // the gate) still answering.
  std::string report;
  for (const std::string &c : {std::string(" selftest"), " digest --algo sha256" + f + " >/dev/null",
                              " enc -e --key 000102030405060708090a0b0c0d0e0f --out - --in" + f + " >/dev/null",
                              " digest --algo md5" + f}) {
    const Outcome r = Shell("{ " + env + kKelctl + c + "; }");
    report += "$ kelctl" + c + "\nexit " + std::to_string(r.exitCode) + "\n" + r.out;
  }
  for (size_t at; (at = report.find(dir.path())) != std::string::npos;) report.replace(at, dir.path().size(), "DIR");
  report = std::regex_replace(report, std::regex("[ 0-9]+\\.[0-9]{3} ms"), " T ms");
  ExpectGolden("kelctl_broken_library", report);
}

}  // namespace
