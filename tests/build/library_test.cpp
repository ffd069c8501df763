// The shipped library: what it needs at run time and what it exports.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "support/sandbox.h"

namespace {

std::string Shell(const std::string &cmd) { return kel::test::Shell(cmd).out; }

std::set<std::string> Lines(const std::string &text) {  // less blank and comment lines
  std::set<std::string> s;
  for (const auto &line : kel::test::SplitLines(text))
    if (!line.empty() && line[0] != '#') s.insert(line);
  return s;
}

// The names in tests/build/exports/*.txt: one list per area, one name a line.
std::set<std::string> ExpectedExports() {
  std::set<std::string> all;
  for (const auto &e : std::filesystem::directory_iterator(KEL_SOURCE_DIR "/tests/build/exports")) {
    if (e.path().extension() != ".txt") continue;
    for (const auto &name : Lines(kel::test::ReadFile(e.path()))) all.insert(name);
  }
  return all;
}

TEST(Library, NeedsOnlyTheCLibrary) {
#ifdef KEL_SANITIZED
  GTEST_SKIP() << "sanitizer builds link their runtimes";
#endif
  EXPECT_EQ(Shell("readelf -d '" KEL_LIBRARY_PATH "' | sed -n 's/.*(NEEDED).*\\[\\(.*\\)\\]/\\1/p'"), "libc.so.6\n");
  EXPECT_NE(Shell("readelf -d '" KEL_LIBRARY_PATH "'").find("(SONAME)"), std::string::npos);
}

TEST(Library, ExportsExactlyTheListedNames) {
  std::string out = Shell("nm -D --defined-only --format=posix '" KEL_LIBRARY_PATH "'");
  std::set<std::string> exported;
  for (const auto &line : Lines(out)) {
    std::string name = line.substr(0, line.find(' '));
    if (name == "_init" || name == "_fini") continue;
    if (name.rfind("__odr_asan", 0) == 0) continue;  // AddressSanitizer's ODR markers
    exported.insert(name);
  }
  std::set<std::string> expected = ExpectedExports();
  ASSERT_FALSE(expected.empty());
  std::string report;
  for (const auto &n : expected) report += exported.count(n) ? "" : " missing:" + n;
  for (const auto &n : exported) report += expected.count(n) ? "" : " extra:" + n;
  EXPECT_EQ(report, "");
}

// Everything the C library defines, without symbol versions. (In sanitizer
// builds the library's references to malloc, printf and the like carry no
// version: the sanitizer runtime interposes them.)
std::set<std::string> CLibrary() {
  std::set<std::string> names;
  void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
  link_map *map = nullptr;
  if (libc == nullptr || dlinfo(libc, RTLD_DI_LINKMAP, &map) != 0) return names;
  for (const auto &line : Lines(Shell("nm -D --defined-only --format=posix '" + std::string(map->l_name) + "'")))
    names.insert(line.substr(0, line.find_first_of(" @")));
  dlclose(libc);
  return names;
}

bool StartsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

TEST(Library, LeavesOnlyCLibraryAndHostSymbolsUndefined) {
  // Apart from the C library, only what a NetworkManager host supplies: GLib,
  // GObject, libnm, GTK and libglade. A stray operator new, guard variable or
  // unwinder reference shows up here even before it becomes NEEDED.
  const std::set<std::string> libc = CLibrary();
  ASSERT_GT(libc.count("malloc"), 0u);
  std::set<std::string> names;
  std::string foreign;
  for (const auto &line : Lines(Shell("nm -D --undefined-only --format=posix '" KEL_LIBRARY_PATH "'"))) {
    const std::string n = line.substr(0, line.find(' '));
    names.insert(n);
    if (n.find("@GLIBC_") != std::string::npos || libc.count(n)) continue;
    if (n == "__gmon_start__" || StartsWith(n, "_ITM_")) continue;  // weak start-up hooks
#ifdef KEL_SANITIZED
    if (StartsWith(n, "__asan_") || StartsWith(n, "__ubsan_") || StartsWith(n, "__sanitizer_") ||
        StartsWith(n, "__lsan_"))
      continue;
#endif
    if (StartsWith(n, "g_") || StartsWith(n, "nm_") || StartsWith(n, "gtk_") || StartsWith(n, "glade_")) continue;
    foreign += " " + n;
  }
  EXPECT_EQ(foreign, "") << "undefined symbols that neither the C library nor the host supplies";
  EXPECT_EQ(names.count("nm_vpn_editor_plugin_get_type"), 1u) << "the plugin's host references are listed";
}

TEST(Library, LoadsIntoAClientWithoutGlib) {
  // The client's own programs use the log engine and the toolkit without
  // GLib or libnm: the plugin's references to them must bind lazily.
  int rc = kel::test::RunInChild([] {
    void *lib = dlopen(KEL_LIBRARY_PATH, RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto name = reinterpret_cast<const char *(*)(uint32_t)>(dlsym(lib, "LOG_error_str"));
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name(28), "KEL_ERROR_FILENOTFOUND");
  });
  EXPECT_EQ(rc, 0);
}

}  // namespace
