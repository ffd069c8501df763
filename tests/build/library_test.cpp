// The shipped library: what it needs at run time and what it exports; and
// the sandbox the tests run in keeps them away from the real system paths.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "support/sandbox.h"

namespace {

using namespace kel::test;

// The first words of the lines of nm -D over the library, less the symbol versions.
std::set<std::string> Symbols(const std::string &nmOptions) {
  std::set<std::string> names;
  for (const auto &line : SplitLines(Shell("nm -D --format=posix " + nmOptions + " '" KEL_LIBRARY_PATH "'").out))
    names.insert(line.substr(0, line.find_first_of(" @")));
  return names;
}

// Needed and left undefined: only the C library and what a NetworkManager host
// supplies (a stray operator new, guard variable or unwinder reference shows).
TEST(Library, NeedsOnlyTheCLibraryAndExportsExactlyTheListedNames) {
#ifndef KEL_SANITIZED  // sanitizer builds link their runtimes
  EXPECT_EQ(Shell("readelf -d '" KEL_LIBRARY_PATH "' | sed -n 's/.*(NEEDED).*\\[\\(.*\\)\\]/\\1/p'").out, "libc.so.6\n");
  void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
  const std::regex host("(g|nm|gtk|glade)_.*|__gmon_start__|_ITM_.*");
  for (const std::string &n : Symbols("--undefined-only"))
    EXPECT_TRUE(dlsym(libc, n.c_str()) != nullptr || std::regex_match(n, host)) << n << " undefined";
#endif
  // tests/build/exports/*.txt: one list per area, one name a line.
  std::set<std::string> expected;
  for (const auto &e : std::filesystem::directory_iterator(KEL_SOURCE_DIR "/tests/build/exports"))
    for (const auto &name : SplitLines(ReadFile(e.path()))) expected.insert(name);
  ASSERT_GT(expected.size(), 100u);
  std::string report;
  for (const auto &n : Symbols("--defined-only"))  // AddressSanitizer's ODR markers aside
    if (n != "_init" && n != "_fini" && n.rfind("__odr_asan", 0) != 0 && !expected.erase(n)) report += " extra:" + n;
  for (const auto &n : expected) report += " missing:" + n;
  EXPECT_EQ(report, "");
}

TEST(Sandbox, WritesStayInsideTheNamespace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::string probe = "/usr/share/kel/sandbox-probe";
  ASSERT_FALSE(Exists(probe));
  EXPECT_EQ(0, RunInChild([&] {
    std::string why;
    ASSERT_TRUE(EnterSandbox(&why)) << why;
    EXPECT_TRUE(WriteFile(probe, "x") && WriteFile("/home/probe", "x") && Exists(probe));
    EXPECT_TRUE(Exists("/usr/share/zoneinfo"));  // the rest of /usr/share stays visible
  }));
  EXPECT_FALSE(Exists(probe) || Exists("/home/probe"));
}

}  // namespace
