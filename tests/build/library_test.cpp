// The shipped library: what it needs at run time and what it exports; and
// the sandbox the tests run in keeps them away from the real system paths.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
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

TEST(Library, NeedsOnlyTheCLibraryAndExportsExactlyTheListedNames) {
#ifndef KEL_SANITIZED  // sanitizer builds link their runtimes
  EXPECT_EQ(Shell("readelf -d '" KEL_LIBRARY_PATH "' | sed -n 's/.*(NEEDED).*\\[\\(.*\\)\\]/\\1/p'").out, "libc.so.6\n");
#endif
  EXPECT_NE(Shell("readelf -d '" KEL_LIBRARY_PATH "'").out.find("(SONAME)"), std::string::npos);
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

TEST(Library, LeavesOnlyCLibraryAndHostSymbolsUndefined) {
  // Besides the C library, only what a NetworkManager host supplies: a stray
  // operator new, guard variable or unwinder reference shows before it is NEEDED.
  void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(libc, nullptr);
  const std::set<std::string> undefined = Symbols("--undefined-only");
  std::string foreign;
  for (const std::string &n : undefined) {
    if (dlsym(libc, n.c_str()) != nullptr || n == "__gmon_start__" || n.rfind("_ITM_", 0) == 0) continue;
#ifdef KEL_SANITIZED
    if (n.rfind("__asan_", 0) == 0 || n.rfind("__ubsan_", 0) == 0 || n.rfind("__sanitizer_", 0) == 0 || n.rfind("__lsan_", 0) == 0) continue;
#endif
    const std::string prefix = n.substr(0, n.find('_') + 1);
    if (prefix != "g_" && prefix != "nm_" && prefix != "gtk_" && prefix != "glade_") foreign += " " + n;
  }
  dlclose(libc);
  EXPECT_EQ(foreign, "") << "undefined symbols that neither the C library nor the host supplies";
  EXPECT_EQ(undefined.count("nm_vpn_editor_plugin_get_type"), 1u) << "the plugin's host references are listed";
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
