#include "support/sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

extern "C" int __lsan_do_recoverable_leak_check(void) __attribute__((weak));

namespace kel::test {

bool MountTmpfs(const std::string &path, const std::string &options) {
  mkdir(path.c_str(), 0755);
  return mount("tmpfs", path.c_str(), "tmpfs", 0, options.empty() ? nullptr : options.c_str()) == 0;
}

bool RemountReadOnly(const std::string &path, bool readOnly) {
  return mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | (readOnly ? MS_RDONLY : 0), nullptr) == 0;
}

bool EnterSandbox(std::string *why) {
  auto fail = [&](const std::string &what) {
    if (why) *why = what + ": " + std::strerror(errno);
    return false;
  };
  if (geteuid() != 0) return fail("not root");
  if (unshare(CLONE_NEWNS) != 0) return fail("unshare");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("make-private");
  // The mount points may not exist on the host: a throw-away upper layer.
  if (!Exists("/usr/share/kel") || !Exists("/usr/share/gnome-vpn-properties")) {
    if (!MountTmpfs("/mnt")) return fail("tmpfs /mnt");
    mkdir("/mnt/upper", 0755);
    mkdir("/mnt/work", 0755);
    const char *options = "lowerdir=/usr/share,upperdir=/mnt/upper,workdir=/mnt/work";
    if (mount("overlay", "/usr/share", "overlay", 0, options) != 0) return fail("overlay /usr/share");
  }
  for (const char *dir : {"/usr/share/kel", "/usr/share/gnome-vpn-properties", "/home"})
    if (!MountTmpfs(dir, "mode=0755")) return fail(std::string("tmpfs ") + dir);
  return true;
}

int RunInChild(const std::function<void()> &fn) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    fn();
    // A forked child leaves with _exit, past the leak checker: ask it here.
    if (__lsan_do_recoverable_leak_check != nullptr && __lsan_do_recoverable_leak_check() != 0)
      ADD_FAILURE() << "memory leaked in the child (report above)";
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunAsUser(uid_t uid, gid_t gid, const std::function<void()> &fn) {
  return RunInChild([&] {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
      ADD_FAILURE() << "cannot switch to uid " << uid << ": " << std::strerror(errno);
    else fn();
  });
}

std::string CaptureStdout(const std::function<void()> &fn) {
  std::fflush(stdout);
  FILE *tmp = std::tmpfile();
  if (tmp == nullptr) return {};
  const int saved = dup(1);
  dup2(fileno(tmp), 1);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  const std::string out = ReadFile("/proc/self/fd/" + std::to_string(fileno(tmp)));
  std::fclose(tmp);
  return out;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t pos = 0, nl; pos < text.size(); pos = nl + 1) {
    nl = std::min(text.find('\n', pos), text.size());
    lines.push_back(text.substr(pos, nl - pos));
  }
  return lines;
}

std::vector<std::string> DirNames(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir(const std::string &base) {
  std::string pattern = base + "/kel-test-XXXXXX";
  path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  EXPECT_FALSE(path_.empty()) << "mkdtemp under " << base;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

// Standard output of a command line run through the shell; *status its exit code.
static std::string Popen(const std::string &command, int *status) {
  std::string out;
  *status = -1;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int st = pclose(p);
    *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  return out;
}

Outcome Shell(const std::string &command) {
  Outcome r;
  r.out = Popen(command + " 2>&1", &r.exitCode);
  return r;
}

std::string RunProgram(const std::vector<std::string> &argv, int *status) {
  std::string command = "exec";  // each word quoted: the shell only starts the program
  for (const std::string &a : argv) command += " '" + std::regex_replace(a, std::regex("'"), "'\\''") + "'";
  int ignored;
  return Popen(command, status ? status : &ignored);
}

Footprint FootprintNow() {
  const size_t fds = static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
#ifdef KEL_SANITIZED
  return {0, fds};
#else
  return {mallinfo2().uordblks, fds};
#endif
}

bool InstallDialog() {
  std::filesystem::create_directories(std::filesystem::path(kDialogPath).parent_path());
  return WriteFile(kDialogPath, ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-dialog.glade"));
}

std::string WriteNameFile(const std::string &dir) {
  std::string text = ReadFile(KEL_SOURCE_DIR "/properties/nm-kelvpn-service.name.in");
  text.replace(text.find("@KEL_PLUGIN_LIBRARY@"), 20, KEL_LIBRARY_PATH);
  const std::string path = dir + "/nm-kelvpn-service.name";
  return WriteFile(path, text) && chmod(path.c_str(), 0644) == 0 && chown(path.c_str(), 0, 0) == 0 ? path : "";
}

bool SilenceSystemLog() {
  return !Exists("/dev/log") || mount("/dev/null", "/dev/log", nullptr, MS_BIND, nullptr) == 0;
}

// Opened before any test hides /tmp or the home directory behind a tmpfs, so
// that a checkout below either stays reachable from inside the namespace.
const int kGoldenDir = open(KEL_GOLDEN_DIR, O_PATH | O_DIRECTORY | O_CLOEXEC);

void ExpectGolden(const std::string &name, const std::string &text) {
  const std::string shown = std::string(KEL_GOLDEN_DIR) + "/" + name + ".exp";
  const std::string path = kGoldenDir < 0 ? shown : "/proc/self/fd/" + std::to_string(kGoldenDir) + "/" + name + ".exp";
  const char *update = std::getenv("KEL_UPDATE_GOLDEN");
  if (update != nullptr && std::strcmp(update, "1") == 0) {
    EXPECT_TRUE(WriteFile(path, text)) << path;
    return;
  }
  ASSERT_TRUE(Exists(path)) << shown << " is missing: run with KEL_UPDATE_GOLDEN=1";
  EXPECT_EQ(text, ReadFile(path)) << "differs from " << shown << " (KEL_UPDATE_GOLDEN=1 rewrites it)";
}

}  // namespace kel::test
