// `cmake --install` with DESTDIR lays out the library and its public headers.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;

TEST(Install, DestdirGetsLibraryAndHeaders) {
  char tmpl[] = "/tmp/kel-install-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string root = tmpl;
  const std::string cmd = "DESTDIR='" + root + "' cmake --install '" KEL_BINARY_DIR "' --prefix /usr >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  bool library = false;
  for (const auto &e : fs::recursive_directory_iterator(root + "/usr"))
    if (e.path().filename() == "libnm-kelvpn-properties.so") library = true;
  EXPECT_TRUE(library);
  // Every public header of the source tree is installed.
  for (const auto &h : fs::directory_iterator(KEL_SOURCE_DIR "/include/kel"))
    EXPECT_TRUE(fs::exists(root + "/usr/include/kel/" + h.path().filename().string())) << h.path();
  fs::remove_all(root);
}

}  // namespace
