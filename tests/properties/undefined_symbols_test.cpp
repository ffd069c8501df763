// What the library leaves for the host to supply: apart from the C library,
// only GLib/GObject, libnm and (by prefix) GTK and libglade.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> DynamicSymbols(const std::string &options, const std::string &file) {
  std::set<std::string> names;
  FILE *p = popen(("nm -D " + options + " --format=posix '" + file + "'").c_str(), "r");
  if (p == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    names.insert(s.substr(0, s.find(' ')));
  }
  pclose(p);
  return names;
}

// Everything the C library defines, without symbol versions. (In sanitizer
// builds the library's references to malloc, printf and the like carry no
// version: the sanitizer runtime interposes them.)
std::set<std::string> CLibrary() {
  std::set<std::string> names;
  void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
  link_map *map = nullptr;
  if (libc == nullptr || dlinfo(libc, RTLD_DI_LINKMAP, &map) != 0) return names;
  for (std::string n : DynamicSymbols("--defined-only", map->l_name)) names.insert(n.substr(0, n.find('@')));
  dlclose(libc);
  return names;
}

bool StartsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

TEST(PluginLibrary, LeavesOnlyHostLibrarySymbolsUndefined) {
  std::set<std::string> names = DynamicSymbols("--undefined-only", KEL_LIBRARY_PATH);
  const std::set<std::string> libc = CLibrary();
  ASSERT_FALSE(names.empty());
  ASSERT_GT(libc.count("malloc"), 0u);
  std::string foreign;
  for (const auto &n : names) {
    if (n.find("@GLIBC_") != std::string::npos || libc.count(n)) continue;  // the C library
    if (n == "__gmon_start__" || StartsWith(n, "_ITM_")) continue;  // weak start-up hooks
#ifdef KEL_SANITIZED
    if (StartsWith(n, "__asan_") || StartsWith(n, "__ubsan_") || StartsWith(n, "__sanitizer_") ||
        StartsWith(n, "__lsan_"))
      continue;
#endif
    if (StartsWith(n, "g_") || StartsWith(n, "nm_") || StartsWith(n, "gtk_") || StartsWith(n, "glade_")) continue;
    foreign += " " + n;
  }
  EXPECT_EQ(foreign, "") << "undefined symbols that no host library supplies";
  EXPECT_EQ(names.count("nm_vpn_editor_plugin_get_type"), 1u) << "the plugin's own needs are among them";
}

}  // namespace
