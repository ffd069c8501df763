// Shared by the crypto tests: the gate-open fixture, the one CPU-path
// runner, the one Wycheproof reader and the allocator watch that checks
// released blocks are zeroed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "crypto/common/alloc.h"
#include "crypto/common/cpu.h"
#include "kel/fips.h"
#include "support/vectors.h"

namespace kel::test {

// The gate opened as after a passed self-test; closed again, with the CPU
// features and the allocator restored, afterwards.
class GateOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override {
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
    cpu::restrict_to(~0u);
    mem::fail_after(-1);
  }
};

// Watches the toolkit allocator from construction until stop(): the blocks
// handed out and not yet released, the sizes of all handed out in order, how
// many were released, and how many of those still held a non-zero byte.
struct ReleaseWatch {
  static inline std::map<const void *, uint32_t> live;
  static inline std::vector<uint32_t> sizes;
  static inline int released = 0, dirty = 0;
  ReleaseWatch() {
    live.clear(), sizes.clear();
    released = dirty = 0;
    mem::observe([](const void *b, uint32_t size) { live[b] = size, sizes.push_back(size); },
                 [](const void *b) {
                   if (!live.count(b)) return;
                   const auto *p = static_cast<const uint8_t *>(b);
                   dirty += std::any_of(p, p + live[b], [](uint8_t x) { return x != 0; });
                   ++released;
                   live.erase(b);
                 });
  }
  ~ReleaseWatch() { stop(); }
  static void stop() { mem::observe(nullptr, nullptr); }
};

// Runs body once on every kernel path this CPU has (portable code, 128-bit
// AES-NI/PCLMULQDQ/SHA-NI, AVX2 without AVX-512, everything); a path the CPU
// lacks would repeat an earlier one and is skipped. Returns the paths run.
template <class F>
int ForEachCpuPath(F body) {
  using namespace kel::cpu;
  constexpr uint32_t kWide = kAvx512f | kAvx512bw | kAvx512vl | kVaes | kVpclmul | kIfma | kBitalg;
  constexpr struct {
    const char *name;
    uint32_t allowed;
  } kPaths[] = {{"portable", 0},
                {"128-bit", kSsse3 | kSse41 | kAesni | kPclmul | kSha | kAvx | kBmi2 | kAdx},
                {"no AVX-512", ~kWide},
                {"all", ~0u}};
  std::vector<uint32_t> seen;
  for (const auto &p : kPaths) {
    restrict_to(~0u);
    const uint32_t have = features() & p.allowed;
    if (std::find(seen.begin(), seen.end(), have) != seen.end()) continue;
    seen.push_back(have);
    restrict_to(p.allowed);
    SCOPED_TRACE(p.name);
    EXPECT_EQ(features(), have) << "a path that is not taken would pass as tested";
    body();
  }
  restrict_to(~0u);
  return static_cast<int>(seen.size());
}

// Runs step(p, n) over data in pieces whose sizes next() draws, the last cut
// to what is left; every step must return 0.
template <class Next, class Step>
void InPieces(Bytes &data, Next next, Step step) {
  for (size_t off = 0; off < data.size();) {
    const size_t n = std::min<size_t>(next(), data.size() - off);
    ASSERT_EQ(step(data.data() + off, static_cast<uint32_t>(n)), 0) << "at " << off;
    off += n;
  }
}

// A Wycheproof test: its own fields and those of its group (ivSize, tagSize).
using WycheproofCase = std::map<std::string, std::string>;

// Reads a Wycheproof file flat: every "name": value pair in file order; a test
// ends at its "result", and the group fields seen before it stay in force.
// Nested objects and arrays of strings (flags) carry no value and drop out.
inline std::vector<WycheproofCase> ReadWycheproof(const std::string &relative) {
  std::ifstream in(VectorPath(relative));
  const std::string s{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_FALSE(s.empty()) << relative;
  std::vector<WycheproofCase> tests;
  WycheproofCase cur;
  for (size_t i = s.find('"'); i != std::string::npos; i = s.find('"', i)) {
    const size_t close = s.find('"', i + 1);
    const std::string name = s.substr(i + 1, close - i - 1);
    size_t v = s.find_first_not_of(" \t\r\n", close + 1);
    i = close + 1;
    if (v == std::string::npos || s[v] != ':') continue;  // a string inside an array
    v = s.find_first_not_of(" \t\r\n", v + 1);
    if (s[v] == '"') {
      for (i = v + 1; s[i] != '"'; i += s[i] == '\\' ? 2 : 1) {
      }
      cur[name] = s.substr(v + 1, i - v - 1);
      ++i;
    } else {
      i = s.find_first_of(",}] \r\n", v + 1);
      cur[name] = s.substr(v, i - v);
    }
    if (name == "result") tests.push_back(cur);
  }
  return tests;
}

}  // namespace kel::test
