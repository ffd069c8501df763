// The test harness: the private mount namespace for fixed system paths,
// child processes, temporary directories, programs and golden files.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace kel::test {

// Moves this process into a private mount namespace and lays fresh, empty
// tmpfs file systems over /usr/share/kel, /usr/share/gnome-vpn-properties and
// /home, so nothing reaches the real system. Needs root.
bool EnterSandbox(std::string *why);
bool MountTmpfs(const std::string &path, const std::string &options = "");
bool RemountReadOnly(const std::string &path, bool readOnly);

// Runs fn in a forked child; 0 when fn returned without a test failure (the
// child asks the leak checker first in sanitizer builds).
int RunInChild(const std::function<void()> &fn);
int RunAsUser(uid_t uid, gid_t gid, const std::function<void()> &fn);

// Runs fn with file descriptor 1 redirected and returns what was written there.
std::string CaptureStdout(const std::function<void()> &fn);

std::string ReadFile(const std::string &path);
bool WriteFile(const std::string &path, const std::string &content);
bool Exists(const std::string &path);
std::vector<std::string> SplitLines(const std::string &text);  // at '\n'; a '\r' stays
std::vector<std::string> DirNames(const std::string &dir);     // sorted

// A new empty directory, removed with everything in it at scope end.
class TempDir {
 public:
  explicit TempDir(const std::string &base = "/tmp");
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A command line run through the shell: exit code, both outputs together.
struct Outcome {
  int exitCode = -1;
  std::string out;
};
Outcome Shell(const std::string &command);
// A program found through PATH, its arguments as given: standard output only.
std::string RunProgram(const std::vector<std::string> &argv, int *status = nullptr);
inline const std::string kKelctl = KEL_BINARY_DIR "/tools/kelctl";
inline Outcome Kelctl(const std::string &args) { return Shell(kKelctl + " " + args); }

// Heap bytes in use and open descriptors: a call that leaks either shows
// here in the plain build too (ctest turns the allocator's thread cache
// off for that). A sanitizer build reports no heap: its leak checker
// covers that side.
struct Footprint {
  size_t heap = 0, descriptors = 0;
  bool operator==(const Footprint &) const = default;
};
Footprint FootprintNow();

// The editor plugin's files where a system has them: the shipped dialog, and
// in dir the shipped .name template for the built library, root-owned 0644
// (what libnm accepts; its path, or "" on failure). The plugin writes to the
// system log too: SilenceSystemLog keeps its lines off the real one.
inline constexpr char kDialogPath[] = "/usr/share/gnome-vpn-properties/kelvpn/nm-kelvpn-dialog.glade";
bool InstallDialog();
std::string WriteNameFile(const std::string &dir);
bool SilenceSystemLog();

// Compares text with tests/golden/<name>.exp; KEL_UPDATE_GOLDEN=1 rewrites it.
void ExpectGolden(const std::string &name, const std::string &text);

}  // namespace kel::test

// Base for tests that run inside the sandbox; skips when it is unavailable.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!kel::test::EnterSandbox(&why)) GTEST_SKIP() << "no sandbox: " << why;
  }
};
