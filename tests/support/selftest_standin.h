// A stand-in for the toolkit's power-up self-test: preloaded into a program
// under test, it opens the gate as a passing self-test does.
#pragma once

#include <cstdlib>
#include <string>

#include "support/sandbox.h"

namespace kel::test {

// Builds it in dir; the environment that preloads it, or "" without a C compiler.
inline std::string StandInSelfTest(const std::string &dir) {
  WriteFile(dir + "/selftest.c",
            "#include <stdint.h>\nextern int32_t gFIPS_powerupStatus;\n"
            "int32_t FIPS_powerupSelfTest(void) { gFIPS_powerupStatus = 0; return 0; }\n");
  if (std::system(("cd '" + dir + "' && cc -shared -fPIC -o selftest.so selftest.c 2>/dev/null").c_str()) != 0) return "";
  return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" + dir + "/selftest.so' ";
}

}  // namespace kel::test
