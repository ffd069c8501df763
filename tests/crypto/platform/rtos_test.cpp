// OS layer and toolkit start: handles and their status codes, locking across
// threads, timers, the clocks, the seed device, whole files.
#include <pthread.h>
#include <sys/mount.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "crypto/common/alloc.h"
#include "kel/fips.h"
#include "kel/os.h"
#include "kel/random.h"
#include "kel/vorane.h"
#include "support/sandbox.h"

namespace {

// The handle's block holds the POSIX mutex first: probe it from another thread.
bool HeldElsewhere(MutexHandle m) {
  bool busy = false;
  std::thread([&] {
    auto *pm = reinterpret_cast<pthread_mutex_t *>(m);
    busy = pthread_mutex_trylock(pm) != 0;
    if (!busy) pthread_mutex_unlock(pm);
  }).join();
  return busy;
}

TEST(Rtos, HandlesRefuseNullAndFailedCreatesKeepTheCallersValue) {
  MutexHandle m = nullptr;
  CondHandle c = nullptr;
  ASSERT_EQ(LINUX_condCreate(&c, 0, 0), 0);
  ASSERT_EQ(LINUX_mutexCreate(&m, 0, 0), 0);
  int32_t flag = 0, one = 1;
  const std::pair<int32_t, int32_t> cases[] = {
      {LINUX_mutexWait(nullptr), -5803}, {LINUX_recursiveMutexWait(nullptr), -5803}, {LINUX_condWait(nullptr, m), -5803},
      {LINUX_condWait(c, nullptr), -5803}, {LINUX_mutexRelease(nullptr), -5804}, {LINUX_recursiveMutexRelease(nullptr), -5804},
      {LINUX_condSignal(nullptr), -5804}, {LINUX_recursiveMutexFree(nullptr), -5805}, {LINUX_mutexCreate(nullptr, 0, 0), -5802},
      {LINUX_condCreate(nullptr, 0, 0), -5802}, {VRTOS_mutexWait(nullptr, &flag), -5803}, {VRTOS_mutexRelease(nullptr, &one), -5804},
      {VRTOS_mutexWait(m, nullptr), -6001}, {VRTOS_mutexRelease(m, nullptr), -6001}, {LINUX_timeGMT(nullptr), -6001},
      {LINUX_createThread(nullptr, nullptr, 0, nullptr), -5801},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "call #" << i;
  EXPECT_EQ(flag, 0);
  EXPECT_FALSE(HeldElsewhere(m)) << "a refused condWait must not touch the mutex";
  using Call = int32_t (*)(void **);
  const std::pair<Call, Call> kinds[] = {
      {[](void **h) { return LINUX_mutexCreate(reinterpret_cast<MutexHandle *>(h), 1, 1); }, [](void **h) { return LINUX_mutexFree(reinterpret_cast<MutexHandle *>(h)); }},
      {[](void **h) { return LINUX_recursiveMutexCreate(reinterpret_cast<MutexHandle *>(h), 0, 0); }, [](void **h) { return LINUX_recursiveMutexFree(reinterpret_cast<MutexHandle *>(h)); }},
      {[](void **h) { return LINUX_condCreate(reinterpret_cast<CondHandle *>(h), 7, 9); }, [](void **h) { return LINUX_condFree(reinterpret_cast<CondHandle *>(h)); }},
  };
  for (const auto &[create, release] : kinds) {
    void *h = nullptr;
    const kel::test::Footprint before = kel::test::FootprintNow();
    ASSERT_EQ(create(&h), 0);
    EXPECT_EQ(release(&h), 0);
    EXPECT_EQ(kel::test::FootprintNow(), before) << "released for good";
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(release(&h), -5805) << "double free";
    h = &flag;
    kel::mem::fail_after(0);
    EXPECT_EQ(create(&h), -5802);
    kel::mem::fail_after(-1);
    EXPECT_EQ(h, &flag);
  }
  EXPECT_EQ(LINUX_mutexFree(&m) | LINUX_condFree(&c), 0);
}

TEST(Rtos, RecursiveGuardedAndConditionLocking) {
  MutexHandle r = nullptr, m = nullptr;
  CondHandle c = nullptr;
  ASSERT_EQ(LINUX_recursiveMutexCreate(&r, 0, 0) | LINUX_mutexCreate(&m, 0, 0) | LINUX_condCreate(&c, 0, 0), 0);
  ASSERT_EQ(LINUX_recursiveMutexWait(r) | LINUX_recursiveMutexWait(r) | LINUX_recursiveMutexRelease(r), 0);
  EXPECT_TRUE(HeldElsewhere(r)) << "one release of two keeps the mutex";
  ASSERT_EQ(LINUX_recursiveMutexRelease(r), 0);
  EXPECT_FALSE(HeldElsewhere(r));
  int32_t flag = 0;
  EXPECT_EQ(VRTOS_mutexRelease(m, &flag), -5808);
  ASSERT_EQ(VRTOS_mutexWait(m, &flag), 0);
  EXPECT_TRUE(flag == 1 && HeldElsewhere(m));
  EXPECT_EQ(VRTOS_mutexWait(m, &flag), -5807) << "no second lock of a plain mutex";
  EXPECT_EQ(VRTOS_mutexRelease(m, &flag), 0);
  EXPECT_TRUE(flag == 0 && !HeldElsewhere(m));
  ASSERT_EQ(LINUX_mutexWait(m), 0);
  flag = 2;  // another caller holds it: a stale flag releases nothing
  EXPECT_EQ(VRTOS_mutexRelease(m, &flag), -5808);
  EXPECT_TRUE(flag == 2 && HeldElsewhere(m));
  int stage = 0;  // hand-over through the condition variable, both ways
  std::thread waiter([&] {
    EXPECT_EQ(LINUX_mutexWait(m), 0);
    stage = 1;
    EXPECT_EQ(LINUX_condSignal(c), 0);
    while (stage != 2) EXPECT_EQ(LINUX_condWait(c, m), 0);
    stage = 3;
    EXPECT_EQ(LINUX_mutexRelease(m), 0);
  });
  while (stage != 1) ASSERT_EQ(LINUX_condWait(c, m), 0);
  stage = 2;
  EXPECT_EQ(LINUX_condSignal(c) | LINUX_mutexRelease(m), 0);
  waiter.join();
  EXPECT_EQ(stage, 3);
  EXPECT_EQ(LINUX_recursiveMutexFree(&r) | LINUX_mutexFree(&m) | LINUX_condFree(&c), 0);
}

TEST(Rtos, TimersAndClocks) {
  const struct { RtosTime origin, current; uint32_t ms; } deltas[] = {
      {{10, 900000}, {12, 100000}, 1200}, {{12, 900000}, {10, 100000}, 0}, {{12, 100000}, {10, 900000}, 800},
      {{10, 500000}, {11, 0}, 500}, {{10, 999}, {10, 1999}, 1}, {{10, 0}, {9, 500000}, 500},
      {{0, 0}, {5000000, 0}, 705032704u}, {{0xFFFFFFFFu, 0}, {1, 0}, 2000}};
  for (const auto &d : deltas) EXPECT_EQ(LINUX_deltaConstMS(&d.origin, &d.current), d.ms) << d.origin.seconds;
  const struct { RtosTime start; uint32_t ms; RtosTime end; } adds[] = {
      {{5, 600000}, 1500, {7, 100000}}, {{5, 500000}, 500, {5, 1000000}}, {{0, 999999}, 999, {1, 998999}},
      {{0, 0}, 4294967295u, {4294967, 295000}}, {{1, 3500000}, 0, {4, 500000}}};
  for (const auto &a : adds) {
    RtosTime t = a.start;
    EXPECT_EQ(LINUX_timerAddMS(&t, a.ms), &t);
    EXPECT_TRUE(t.seconds == a.end.seconds && t.microseconds == a.end.microseconds) << a.ms;
  }
  struct timeval wall;
  gettimeofday(&wall, nullptr);
  RtosTime stamp = {1, 2};
  EXPECT_EQ(LINUX_deltaMS(nullptr, &stamp), 0u);
  EXPECT_LE(stamp.seconds - uint32_t(wall.tv_sec), 1u);
  const auto start = std::chrono::steady_clock::now();
  const uint32_t up = LINUX_getUpTimeInMS();
  LINUX_sleepMS(300);
  const uint32_t upElapsed = LINUX_getUpTimeInMS() - up, elapsed = LINUX_deltaMS(&stamp, nullptr);
  const auto steady = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(steady, 300);
  EXPECT_LE(std::abs(long(upElapsed) - long(steady)), 30) << upElapsed;
  EXPECT_LE(std::abs(long(elapsed) - long(steady)), 30) << elapsed;
  GmtDateTime g;
  time_t now;
  do {  // again if a second ended in between
    now = time(nullptr);
    ASSERT_EQ(LINUX_timeGMT(&g), 0);
  } while (time(nullptr) != now);
  struct tm u;
  gmtime_r(&now, &u);
  EXPECT_EQ((std::vector<int>{g.yearsSince1970, g.month, g.day, g.hour, g.minute, g.second}),
            (std::vector<int>{u.tm_year - 70, u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec}));
}

// Files with distinct contents over the random devices show where each read came from.
TEST_F(SandboxTest, SeedDeviceFollowsFipsMode) {
  ASSERT_TRUE(kel::test::MountTmpfs("/mnt/seed"));
  ASSERT_TRUE(kel::test::WriteFile("/mnt/seed/random", "RANDOM-device-16"));
  ASSERT_TRUE(kel::test::WriteFile("/mnt/seed/urandom", "urandom-dev-16by"));
  ASSERT_EQ(mount("/mnt/seed/random", "/dev/random", nullptr, MS_BIND, nullptr), 0);
  ASSERT_EQ(mount("/mnt/seed/urandom", "/dev/urandom", nullptr, MS_BIND, nullptr), 0);
  auto seed = [](int32_t length, int32_t expected) {
    std::string buf(size_t(length), '\0');
    EXPECT_EQ(LINUX_getSeed(reinterpret_cast<uint8_t *>(buf.data()), length), expected) << length;
    return buf;
  };
  const size_t descriptors = kel::test::FootprintNow().descriptors;
  EXPECT_EQ(seed(16, 1), "urandom-dev-16by");
  EXPECT_EQ(kel::test::FootprintNow().descriptors, descriptors) << "the device is closed again";
  VORANE_setFIPSMode(0x80);  // any non-zero value means on
  EXPECT_EQ(seed(6, 1), "RANDOM");
  EXPECT_EQ(seed(6, 1), "RANDOM") << "every later read, not just the next";
  VORANE_setFIPSMode(0);
  EXPECT_EQ(seed(32, 0).substr(0, 16), "urandom-dev-16by") << "a short read gives 0";
  EXPECT_EQ(LINUX_getSeed(nullptr, 4), -6001);
  ASSERT_TRUE(kel::test::MountTmpfs("/dev"));  // no random devices at all
  uint8_t buf[8];
  EXPECT_EQ(LINUX_getSeed(buf, 8), -5800);
}

TEST(Toolkit, StartStopEntropyLogHookAndWholeFiles) {
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  EXPECT_EQ(VORANE_initVorane(), -16508);
  EXPECT_EQ(g_pRandomContext, nullptr);
  ASSERT_EQ(FIPS_powerupSelfTest(), 0);
  EXPECT_EQ(VORANE_initVorane(), 0);
  EXPECT_EQ(g_pRandomContext, nullptr) << "a failed start is not retried";
  EXPECT_EQ(VORANE_addEntropyBit(1), -6001);  // the generator's answer, passed on
  // Bits go in least significant first: a context fed 0x80000003 equals one fed bit by bit.
  const uint8_t xkey[20] = {1, 2, 3};
  RandomContext *ctx[2] = {};
  uint8_t out[2][20];
  for (auto &c : ctx) ASSERT_EQ(RANDOM_newFIPS186Context(&c, 20, xkey, 0, nullptr), 0);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(RANDOM_addEntropyBit(ctx[0], i < 2 || i == 31), 0);
  g_pRandomContext = ctx[1];
  EXPECT_EQ(VORANE_addEntropy32Bits(0x80000003u), 0);
  g_pRandomContext = nullptr;
  for (int i = 0; i < 2; ++i) RANDOM_numberGeneratorFIPS186(ctx[i], out[i], 20), RANDOM_deleteFIPS186Context(&ctx[i]);
  EXPECT_EQ(std::memcmp(out[0], out[1], 20), 0);
  static std::vector<std::string> lines;
  VORANE_log(1, 2, "before");
  EXPECT_EQ(VORANE_initLog([](uint32_t m, uint32_t s, const char *t) { lines.push_back(std::to_string(m) + "/" + std::to_string(s) + " " + t); }), 0);
  VORANE_log(7, 5, nullptr);
  VORANE_log(7, 5, "hello");
  EXPECT_EQ(VORANE_initLog(nullptr), 0);
  VORANE_log(7, 5, "after");
  EXPECT_EQ(lines, (std::vector<std::string>{"0/3 NOT A PRODUCTION BUILD: VORANE DEBUG CONSOLE HAS BEEN ENABLED.", "7/5 hello"}));
  kel::test::TempDir dir;
  const std::string text = std::string("a\0b", 3) + std::string(5000, 'z'), path = dir / "f";
  auto bytes = reinterpret_cast<const uint8_t *>(text.data());
  EXPECT_EQ(UTILS_writeFile(path.c_str(), bytes, uint32_t(text.size())), 0);
  EXPECT_EQ(VORANE_writeFile((dir / "empty").c_str(), bytes, 0), 0);
  uint8_t *data = nullptr;
  uint32_t len = 0;
  const kel::test::Footprint before = kel::test::FootprintNow();
  ASSERT_EQ(VORANE_readFile(path.c_str(), &data, &len), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(data), len), text);
  EXPECT_EQ(UTILS_freeReadFile(&data), 0);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(kel::test::FootprintNow(), before) << "the file closed, the buffer released";
  for (const std::string &bad : {dir / "missing", dir / "empty", dir.path()}) {
    data = reinterpret_cast<uint8_t *>(&len), len = 9;
    EXPECT_LT(UTILS_readFile(bad.c_str(), &data, &len), 0) << bad;
    EXPECT_TRUE(data == nullptr && len == 0u);
  }
  EXPECT_EQ(UTILS_readFile((dir / "empty").c_str(), &data, &len), -7201);
  EXPECT_EQ(UTILS_readFile(path.c_str(), nullptr, &len), -6001);
  kel::mem::fail_after(0);
  EXPECT_EQ(UTILS_readFile(path.c_str(), &data, &len), -6101);
  kel::mem::fail_after(-1);
  EXPECT_EQ(UTILS_writeFile((dir / "no/such").c_str(), bytes, 1), -7201);
  EXPECT_EQ(UTILS_writeFile("/dev/full", bytes, uint32_t(text.size())), -7204);
}

TEST(Toolkit, StartsOnceAndStopsForGood) {
  ASSERT_EQ(FIPS_powerupSelfTest(), 0);
  ASSERT_EQ(VORANE_initVorane(), 0);
  ASSERT_NE(g_pRandomContext, nullptr);
  EXPECT_EQ(g_pRandomContext->kind, RANDOM_KIND_CTRDRBG);
  RandomContext *first = g_pRandomContext;
  EXPECT_EQ(VORANE_initVorane(), 0);
  EXPECT_EQ(g_pRandomContext, first);
  EXPECT_EQ(VORANE_freeVorane(), 0);
  EXPECT_EQ(VORANE_initVorane(), 0);
  EXPECT_EQ(g_pRandomContext, nullptr) << "a stopped toolkit is not started again";
}

}  // namespace
