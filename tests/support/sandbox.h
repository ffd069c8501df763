// Test helpers for code that touches fixed system paths or needs another
// user, a child process or the captured standard output.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <string>

namespace kel::test {

// Moves this process into a private mount namespace and lays fresh, empty
// tmpfs file systems over /usr/share/kel, /usr/share/gnome-vpn-properties and
// /home, so nothing reaches the real system. With writableUsr, all of /usr
// gets a throw-away layer (for installing into it). Needs root; returns false
// (and says why in *why) when that is not possible.
bool EnterSandbox(std::string *why, bool writableUsr = false);

// Mounts a fresh tmpfs at path (created if missing) with the given mount
// options, e.g. "size=16k" for a file system that fills up quickly.
bool MountTmpfs(const std::string &path, const std::string &options = "");

// Makes the mount at path read-only, or writable again.
bool RemountReadOnly(const std::string &path, bool readOnly);

// Runs fn in a forked child and returns its exit status: 0 when fn returned
// without a test failure. The child's failures are printed by the child.
int RunInChild(const std::function<void()> &fn);

// As RunInChild, with the child switched to uid and gid first.
int RunAsUser(uid_t uid, gid_t gid, const std::function<void()> &fn);

// Runs fn with file descriptor 1 (and stdout) redirected and returns all that
// was written there.
std::string CaptureStdout(const std::function<void()> &fn);

std::string ReadFile(const std::string &path);
bool WriteFile(const std::string &path, const std::string &content);
bool Exists(const std::string &path);

}  // namespace kel::test

// Base for tests that run inside the sandbox; skips when it is unavailable.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!kel::test::EnterSandbox(&why)) GTEST_SKIP() << "no sandbox: " << why;
  }
};
