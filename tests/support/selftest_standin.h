// A stand-in for the toolkit's power-up self-test, for programs run under
// test: preloaded, it opens the gate the way a passing self-test does, so
// the approved algorithms can be tried end to end before the library
// carries its own.
#pragma once

#include <cstdlib>
#include <string>

#include "support/sandbox.h"

namespace kel::test {

// Builds the stand-in in dir; returns the environment assignments that
// preload it ("" when no C compiler is at hand).
inline std::string StandInSelfTest(const std::string &dir) {
  const std::string src = dir + "/selftest.c", so = dir + "/selftest.so";
  WriteFile(src,
            "#include <stdint.h>\nextern int32_t gFIPS_powerupStatus;\n"
            "int32_t FIPS_powerupSelfTest(void) { gFIPS_powerupStatus = 0; return 0; }\n");
  if (std::system(("cc -shared -fPIC -o '" + so + "' '" + src + "' 2>/dev/null").c_str()) != 0) return "";
  return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" + so + "' ";
}

}  // namespace kel::test
