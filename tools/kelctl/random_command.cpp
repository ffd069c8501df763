// kelctl random: N random bytes in hex from one of the toolkit's generators.
// The generators are approved algorithms behind the power-up gate, so the
// command reads the power-up status first and says plainly why it cannot
// serve while the self-test has not passed.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/ctr_drbg.h"
#include "kel/fips.h"
#include "kel/random.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"

namespace kelctl {
namespace {

constexpr long kMaxBytes = 1u << 20;
constexpr uint32_t kChunk = 4096;  // well inside every generator's request limit

constexpr char kUsage[] =
    "usage: kelctl random [--generator ctr-drbg|fips186] N\n"
    "  N: number of bytes, 1 to 1048576; the default generator is the AES-256 CTR-DRBG\n";

}  // namespace

int RunRandom(int argc, char **argv) {
  uint8_t kind = RANDOM_ACQUIRE_CTRDRBG;
  const char *countText = nullptr;
  static constexpr Option kOptions[] = {{"--generator", "-g", true}};
  long parsed = 0;
  Args a("random", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    if (a.id == Args::kOperand) {
      if (countText != nullptr) return a.Fail("unexpected argument '%s'", a.value);
      countText = a.value;
      if (!a.Number(1, kMaxBytes, &parsed)) return a.exit;
    } else if (!std::strcmp(a.value, "ctr-drbg")) {
      kind = RANDOM_ACQUIRE_CTRDRBG;
    } else if (!std::strcmp(a.value, "fips186")) {
      kind = RANDOM_ACQUIRE_FIPS186;
    } else {
      return a.Fail("unknown generator '%s'", a.value);
    }
  }
  if (a.exit >= 0) return a.exit;
  if (countText == nullptr) return a.Fail("how many bytes?");
  const unsigned long count = static_cast<unsigned long>(parsed);

  if (int32_t gate = FIPS_powerupSelfTestStatus(); gate != 0) return Refuse("random", "the random generator", gate);
  RandomContext *ctx = nullptr;
  if (int32_t st = RANDOM_acquireContextEx(&ctx, kind); st != 0) {
    std::fprintf(stderr, "kelctl random: could not create the generator (status %d)\n", st);
    return kExitFailed;
  }
  uint8_t buffer[kChunk];
  WipeOnExit wipeBuffer(buffer);
  int32_t status = 0;
  unsigned long column = 0;
  for (unsigned long done = 0; done < count && status == 0;) {
    const uint32_t n = count - done < kChunk ? static_cast<uint32_t>(count - done) : kChunk;
    status = RANDOM_numberGenerator(ctx, buffer, n);
    for (uint32_t i = 0; status == 0 && i < n; ++i) {
      std::printf("%02x", buffer[i]);
      if (++column == 32) {
        std::printf("\n");
        column = 0;
      }
    }
    done += n;
  }
  if (column != 0) std::printf("\n");
  RANDOM_releaseContext(&ctx);
  if (status != 0) {
    std::fprintf(stderr, "kelctl random: the generator failed (status %d)\n", status);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace kelctl
