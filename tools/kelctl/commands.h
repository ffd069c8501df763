// kelctl subcommands: each lives in a file of its own and is listed in
// main.cpp's table. A command returns the process exit code:
// 0 success, 1 the operation failed, 2 bad usage.
#pragma once

#include <cstdint>

namespace kelctl {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Command {
  const char *name;
  const char *usage;    // arguments, for --help
  const char *summary;  // one line
  int (*run)(int argc, char **argv);  // argv[0] is the subcommand's name
  bool approved;  // uses an approved algorithm: the power-up self-test runs first
};

// The one place the gate opens: runs the toolkit's power-up self-test (quietly)
// and returns its status.
int32_t OpenGate();
// Says on standard error that the self-test failed, with the status and the
// tests that fail with it.
void ReportGateFailure(const char *who, int32_t status);

int RunLog(int argc, char **argv);
int RunArchive(int argc, char **argv);
int RunEnc(int argc, char **argv);
int RunDigest(int argc, char **argv);
int RunSpeed(int argc, char **argv);
int RunPlugin(int argc, char **argv);
int RunRandom(int argc, char **argv);
int RunConsole(int argc, char **argv);
int RunEc(int argc, char **argv);
// The EC rows of kelctl speed (operations per second).
void PrintEcSpeedRows();
int RunDh(int argc, char **argv);
int RunOid(int argc, char **argv);
int RunPrime(int argc, char **argv);

// The big-number rows of kelctl speed.
void PrintBignumSpeed();
// The public-key rows of kelctl speed (speed_pubkey.cpp).
void PrintPublicKeySpeed();
int RunRsa(int argc, char **argv);
int RunSelftest(int argc, char **argv);
// The RSA-2048 rows of kelctl speed (operations per second); false when RSA is unavailable.
bool SpeedRsa();

}  // namespace kelctl
