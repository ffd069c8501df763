// The shipped library: what it needs at run time and what it exports.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "support/sandbox.h"

namespace {

std::string Shell(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::set<std::string> Lines(const std::string &text) {
  std::set<std::string> s;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(pos, nl - pos);
    if (!line.empty() && line[0] != '#') s.insert(line);
    pos = nl + 1;
  }
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
  std::string dyn = Shell("readelf -d '" KEL_LIBRARY_PATH "'");
  ASSERT_NE(dyn.find("(SONAME)"), std::string::npos) << dyn;
  std::set<std::string> needed;
  for (const auto &line : Lines(dyn)) {
    size_t at = line.find("(NEEDED)");
    if (at == std::string::npos) continue;
    size_t b = line.find('[', at), e = line.find(']', at);
    needed.insert(line.substr(b + 1, e - b - 1));
  }
  EXPECT_EQ(needed, std::set<std::string>{"libc.so.6"});
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
  std::set<std::string> missing, extra;
  std::set_difference(expected.begin(), expected.end(), exported.begin(), exported.end(),
                      std::inserter(missing, missing.end()));
  std::set_difference(exported.begin(), exported.end(), expected.begin(), expected.end(),
                      std::inserter(extra, extra.end()));
  std::string report;
  for (const auto &n : missing) report += " missing:" + n;
  for (const auto &n : extra) report += " extra:" + n;
  EXPECT_TRUE(missing.empty() && extra.empty()) << report;
}

TEST(Library, CarriesNoCxxRuntimeReferences) {
  // A stray operator new, guard variable or personality routine would show up
  // as an undefined C++ runtime symbol even before it became NEEDED.
  std::string undef = Shell("nm -D --undefined-only --format=posix '" KEL_LIBRARY_PATH "'");
  for (const auto &line : Lines(undef)) {
    std::string name = line.substr(0, line.find_first_of(" @"));
    if (name == "__cxa_finalize") continue;  // the C library's, from crtstuff
    EXPECT_FALSE(name.rfind("_Z", 0) == 0 || name.rfind("__cxa_", 0) == 0 || name.rfind("__gxx_", 0) == 0 ||
                 name.rfind("_Unwind_", 0) == 0)
        << name;
  }
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
