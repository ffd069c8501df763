// kelctl log, random, prime, rsa, dh, oid, console and archive as users run them,
// behind the self-test kelctl runs at start (usage errors: kelctl_args_test).
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>

#include "crypto/platform/sockets_internal.h"
#include "kel/os.h"
#include "kel/sockets.h"
#include "support/sandbox.h"

namespace {

using namespace kel::test;

// The "key: value" lines of a report.
std::map<std::string, std::string> Fields(const std::string &out) {
  std::map<std::string, std::string> f;
  static const std::regex field("([^:\n]*): *(.*)");
  for (std::sregex_iterator m(out.begin(), out.end(), field), end; m != end; ++m)
    f[(*m)[1]] = (*m)[2];
  return f;
}

// Checks the reported "log file: PATH (N bytes, ...)" against the file itself
// and returns its content.
std::string ReportedFile(const Outcome &r, const std::string &expectedPath) {
  std::smatch m;
  EXPECT_TRUE(std::regex_search(r.out, m, std::regex(R"(log file: (.*) \(([0-9]+) bytes, ([0-9]+) written now\))")))
      << r.out;
  if (m.empty()) return "";
  EXPECT_EQ(m[1].str(), expectedPath);
  EXPECT_EQ(std::stol(m[2].str()), long(std::filesystem::file_size(expectedPath)));
  return ReadFile(expectedPath);
}

TEST(KelctlLog, WritesEverySeverityADumpAndToolkitTextToTheReportedFileOrFails) {
  TempDir tmp;
  const std::string dir = tmp / "new dir/logs";
  Outcome r = Kelctl("log --app 0 --dir '" + dir + "'");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::string content = ReportedFile(r, dir + "/app-kel.log");
  for (const std::string severity : {"ERROR", "WARN", "INFO", "DEBUG", "TRACE"})  // the line format: the log tests
    EXPECT_NE(content.find(" [KEL " + severity + " WriteSamples():log_command:"), std::string::npos) << severity;
  EXPECT_NE(content.find(" [KEL DEBUG LOG_from_vorane():log:"), std::string::npos) << "toolkit text through the bridge";
  EXPECT_NE(content.find("] ====DUMP START (20) ===\n"), std::string::npos);

  // A second run appends and reports the new size.
  Outcome again = Kelctl("log --dir='" + dir + "' --stdout");
  ASSERT_EQ(again.exitCode, 0) << again.out;
  EXPECT_EQ(ReportedFile(again, dir + "/app-kel.log").size(), 2 * content.size());
  EXPECT_NE(again.out.find("kelctl sample line at severity TRACE"), std::string::npos);  // --stdout

  // A directory that cannot be made (the engine's words: the log tests): nothing is written.
  ASSERT_TRUE(WriteFile(tmp / "file", "x"));
  r = Kelctl("log --dir " + tmp / "file/logs");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("no line reached the log file"), std::string::npos) << r.out;
}

TEST(KelctlRandom, AnswersOnceTheSelfTestHasRun) {
  for (auto [args, hexDigits] : {std::pair{"random 16", 32}, {"random --generator fips186 1", 2}}) {
    const auto r = Kelctl(args);
    EXPECT_EQ(r.exitCode, 0) << args << ": " << r.out;
    EXPECT_EQ(r.out.size(), static_cast<size_t>(hexDigits) + 1) << r.out;
    EXPECT_EQ(r.out.find_first_not_of("0123456789abcdef\n"), std::string::npos) << r.out;
  }
}

// Verdicts include the small primes the toolkit's own test reports composite;
// "zz" is not a number, the others are answered.
TEST(KelctlPrime, GeneratesAndTests) {
  auto r = Shell("{ " + kKelctl + " prime --test 7 251 12 0x101 323 5777 65537 4294967297 "
                 "170141183460469231731687303715884105727 0x1ffffffffffffffffffffffffffffffffffffffffffffffffffff zz "
                 "2>/dev/null; }");
  ExpectGolden("kelctl_prime_test", "exit " + std::to_string(r.exitCode) + "\n" + r.out);
  r = Kelctl("prime --bits 200");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("bits:    200\n"), std::string::npos) << r.out;
}

TEST(KelctlRsa, KeySignVerifyEncryptDecrypt) {
  TempDir dir;
  const std::string d = dir.path();
  ASSERT_TRUE(WriteFile(d + "/secret", "a short secret"));
  const std::string key = " --key " + d + "/key", pub = " --key " + d + "/pub";
  const struct {
    std::string args;
    int exit;
    const char *says;
  } steps[] = {
      {"verify --key k --in m", 2, "usage: kelctl rsa"},  // no signature
      {"pubkey --key /nonexistent", 1, "cannot load the key file"},
      {"genkey --bits 1024" + key, 0, "1024-bit key pair"},
      {"pubkey" + key + " --out " + d + "/pub", 0, "exponent: 010001"},
      {"sign" + key + " --in " + d + "/key --out " + d + "/sig", 0, "128-byte signature"},
      {"verify" + pub + " --in " + d + "/key --sig " + d + "/sig", 0, "signature OK"},
      {"verify" + pub + " --in " + d + "/pub --sig " + d + "/sig", 1, "signature BAD"},
      {"sign" + pub + " --in " + d + "/key --out " + d + "/x", 1, "status -7708"},
      {"encrypt" + pub + " --in " + d + "/sig --out " + d + "/x", 1, "secret too long"},
      {"encrypt" + pub + " --in " + d + "/secret --out " + d + "/enc", 0, "encrypted 14 bytes"},
      {"decrypt" + pub + " --in " + d + "/enc --out " + d + "/dec", 1, "status -7701"},
      {"decrypt" + key + " --in " + d + "/enc --out " + d + "/dec", 0, "decrypted"},
  };
  for (const auto &s : steps) {
    const auto r = Kelctl("rsa " + s.args);
    EXPECT_EQ(r.exitCode, s.exit) << s.args << ": " << r.out;
    EXPECT_NE(r.out.find(s.says), std::string::npos) << s.args << ": " << r.out;
  }
  EXPECT_EQ(ReadFile(d + "/dec"), "a short secret");
}

// Group 2 with the private values 5 and 7, small enough to check by hand:
// A = 2^5, B = 2^7, and the secret 2^35 (as 128 bytes) has the printed SHA-256.
TEST(KelctlDh, GivenPrivateValuesAndFreshOnes) {
  const auto r = Kelctl("dh --group 2 --private-a 05 --private-b 7");
  ExpectGolden("kelctl_dh_given", "exit " + std::to_string(r.exitCode) + "\n" + r.out);
  // Without given values every run draws new ones, from the toolkit's generator.
  const auto one = Kelctl("dh"), again = Kelctl("dh"), two = Kelctl("dh --group 24");
  ASSERT_EQ(one.exitCode + again.exitCode + two.exitCode, 0) << one.out << again.out << two.out;
  EXPECT_NE(Fields(one.out)["A public"], Fields(again.out)["A public"]);
  EXPECT_NE(Fields(one.out)["private values"].find("from the toolkit's CTR-DRBG"), std::string::npos) << one.out;
  EXPECT_NE(Fields(two.out)["group"].find("RFC 5114"), std::string::npos);
}

TEST(KelctlOid, ListsEveryIdentifier) {
  const auto r = Kelctl("oid");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  ExpectGolden("kelctl_oid", r.out);
}

// A console client (this test) makes the tool print the activation line and exit.
TEST(KelctlConsole, AClientThatConnects) {
  EXPECT_EQ(Kelctl("console").exitCode, 2);  // no port
  kel::net::set_listen_address(INADDR_LOOPBACK);
  int32_t probe = -1;  // a free port: bound by the system, then let go
  ASSERT_EQ(LINUX_TCP_listenSocket(&probe, 0), 0);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(probe, reinterpret_cast<sockaddr *>(&a), &len);
  const uint16_t port = ntohs(a.sin_port);
  const std::string p = std::to_string(port);
  LINUX_TCP_closeSocket(probe);
  FILE *tool = popen((kKelctl + " console --wait 10 --port " + p + " 2>&1").c_str(), "r");
  ASSERT_NE(tool, nullptr);
  char line[256] = {};
  ASSERT_NE(fgets(line, sizeof line, tool), nullptr);
  EXPECT_EQ(std::string(line), "kelctl console: debug console listening on port " + p +
                                   " (every local address); connect with: nc 127.0.0.1 " + p + "\n");
  int32_t client = -1;
  for (int i = 0; i < 20 && LINUX_TCP_connectSocket(&client, "127.0.0.1", port) != 0; ++i) {
    LINUX_TCP_closeSocket(client);  // the server thread has not bound yet
    LINUX_sleepMS(100);
  }
  std::string rest;
  for (size_t n; (n = fread(line, 1, sizeof line, tool)) > 0;) rest.append(line, n);
  EXPECT_EQ(pclose(tool), 0);
  EXPECT_TRUE(rest.rfind("Vorane Debug Console Activated (", 0) == 0 && rest.ends_with(")\r\n")) << rest;
  LINUX_TCP_closeSocket(client);
}

// A missing folder, and one the library cannot write, are refused.
TEST_F(SandboxTest, KelctlArchiveReportsNameSizeAndMembersOrRefuses) {
  TempDir out, logs;
  ASSERT_TRUE(WriteFile(logs / "install.log", "installed\n"));
  const std::string logDir = " --log-dir " + logs.path();
  const Outcome made = Kelctl("archive " + out.path() + logDir);
  ASSERT_EQ(made.exitCode, 0) << made.out;
  auto f = Fields(made.out);
  const std::string name = f["archive"];
  EXPECT_TRUE(name.rfind("kel_logs_", 0) == 0 && name.ends_with(".tar.gz")) << name;
  EXPECT_EQ(f["path"], out / name);
  EXPECT_EQ(f["size"], std::to_string(std::filesystem::file_size(out / name)) + " bytes");
  std::vector<std::string> members = SplitLines(RunProgram({"tar", "-tzf", out / name}));
  EXPECT_EQ(f["members"], std::to_string(members.size()));
  for (const char *log : {"install.log", "app-kel.log"})
    EXPECT_NE(std::find(members.begin(), members.end(), log), members.end()) << log;
  EXPECT_EQ(Kelctl("archive " + logs / "missing" + logDir).exitCode, 1);
  ASSERT_TRUE(MountTmpfs(logs / "ro"));
  ASSERT_TRUE(RemountReadOnly(logs / "ro", true));
  EXPECT_EQ(Kelctl("archive " + logs / "ro" + logDir).exitCode, 1);
  EXPECT_NE(ReadFile(logs / "app-kel.log").find("Failed to create empty archive file"), std::string::npos);
  umount((logs / "ro").c_str());
}

}  // namespace
