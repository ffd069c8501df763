// OS layer: handles and their status codes, locking across threads,
// condition variables, threads, timers, calendar time and the seed device.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "crypto/common/alloc.h"
#include "kel/os.h"
#include "support/sandbox.h"

namespace {

// The handle's block holds the POSIX mutex first: probe it from another
// thread without taking it.
bool HeldElsewhere(MutexHandle m) {
  bool busy = false;
  std::thread([&] {
    auto *pm = reinterpret_cast<pthread_mutex_t *>(m);
    busy = pthread_mutex_trylock(pm) != 0;
    if (!busy) pthread_mutex_unlock(pm);
  }).join();
  return busy;
}

bool WaitFor(const std::atomic<bool> &flag) {
  for (int i = 0; i < 2000 && !flag.load(); ++i) usleep(1000);
  return flag.load();
}

TEST(Rtos, ZeroAndNullHandlesAreRefused) {
  MutexHandle mutex = nullptr, noMutex = nullptr;
  CondHandle cond = nullptr, noCond = nullptr;
  ASSERT_EQ(LINUX_condCreate(&cond, 0, 0), 0);
  ASSERT_EQ(LINUX_mutexCreate(&mutex, 0, 0), 0);
  const std::pair<int32_t, int32_t> cases[] = {
      // what the call returned, what it must return
      {LINUX_mutexWait(nullptr), -5803},
      {LINUX_recursiveMutexWait(nullptr), -5803},
      {LINUX_condWait(nullptr, mutex), -5803},
      {LINUX_condWait(cond, nullptr), -5803},
      {LINUX_mutexRelease(nullptr), -5804},
      {LINUX_recursiveMutexRelease(nullptr), -5804},
      {LINUX_condSignal(nullptr), -5804},
      {LINUX_mutexFree(nullptr), -5805},
      {LINUX_mutexFree(&noMutex), -5805},
      {LINUX_recursiveMutexFree(nullptr), -5805},
      {LINUX_recursiveMutexFree(&noMutex), -5805},
      {LINUX_condFree(nullptr), -5805},
      {LINUX_condFree(&noCond), -5805},
      {LINUX_mutexCreate(nullptr, 0, 0), -5802},
      {LINUX_recursiveMutexCreate(nullptr, 0, 0), -5802},
      {LINUX_condCreate(nullptr, 0, 0), -5802},
      {LINUX_rtosInit(), 0},
      {LINUX_rtosShutdown(), 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "call #" << i;
  EXPECT_FALSE(HeldElsewhere(mutex)) << "a refused condWait must not touch the mutex";
  EXPECT_EQ(LINUX_mutexFree(&mutex), 0);
  EXPECT_EQ(LINUX_condFree(&cond), 0);
}

// Create, free (handle becomes 0), free again (-5805), and an allocation
// failure that leaves the caller's variable as it was, for every kind.
TEST(Rtos, CreateFreeLifecycleForEveryKind) {
  using Call = int32_t (*)(void **);
  static constexpr auto M = [](void **h) { return reinterpret_cast<MutexHandle *>(h); };
  static constexpr auto C = [](void **h) { return reinterpret_cast<CondHandle *>(h); };
  const std::pair<Call, Call> kinds[] = {
      {[](void **h) { return LINUX_mutexCreate(M(h), 1, 1); }, [](void **h) { return LINUX_mutexFree(M(h)); }},
      {[](void **h) { return LINUX_recursiveMutexCreate(M(h), 0, 0); },
       [](void **h) { return LINUX_recursiveMutexFree(M(h)); }},
      {[](void **h) { return LINUX_condCreate(C(h), 7, 9); }, [](void **h) { return LINUX_condFree(C(h)); }},
  };
  for (const auto &[create, release] : kinds) {
    void *h = nullptr;
    ASSERT_EQ(create(&h), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(release(&h), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(release(&h), -5805) << "double free";
    void *sentinel = reinterpret_cast<void *>(0x1234);
    h = sentinel;
    kel::mem::fail_after(0);
    EXPECT_EQ(create(&h), -5802);
    kel::mem::fail_after(-1);
    EXPECT_EQ(h, sentinel) << "a failed create keeps the caller's value";
  }
}

TEST(Rtos, RecursiveMutexNeedsAsManyReleasesAsWaits) {
  MutexHandle m = nullptr;
  ASSERT_EQ(LINUX_recursiveMutexCreate(&m, 0, 0), 0);
  ASSERT_EQ(LINUX_recursiveMutexWait(m), 0);
  ASSERT_EQ(LINUX_recursiveMutexWait(m), 0);
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    EXPECT_EQ(LINUX_recursiveMutexWait(m), 0);
    acquired = true;
    EXPECT_EQ(LINUX_recursiveMutexRelease(m), 0);
  });
  ASSERT_EQ(LINUX_recursiveMutexRelease(m), 0);
  usleep(30000);
  EXPECT_FALSE(acquired.load()) << "one release of two must keep the mutex";
  EXPECT_TRUE(HeldElsewhere(m));
  ASSERT_EQ(LINUX_recursiveMutexRelease(m), 0);
  EXPECT_TRUE(WaitFor(acquired));
  other.join();
  EXPECT_EQ(LINUX_recursiveMutexFree(&m), 0);
}

TEST(Rtos, ConditionWaitWakesOnSignal) {
  MutexHandle m = nullptr;
  CondHandle c = nullptr;
  ASSERT_EQ(LINUX_mutexCreate(&m, 0, 0), 0);
  ASSERT_EQ(LINUX_condCreate(&c, 0, 0), 0);
  int stage = 0;
  std::thread waiter([&] {
    EXPECT_EQ(LINUX_mutexWait(m), 0);
    stage = 1;  // ready: announce under the mutex, then wait for stage 2
    EXPECT_EQ(LINUX_condSignal(c), 0);
    while (stage != 2) EXPECT_EQ(LINUX_condWait(c, m), 0);
    stage = 3;
    EXPECT_EQ(LINUX_mutexRelease(m), 0);
  });
  ASSERT_EQ(LINUX_mutexWait(m), 0);
  while (stage != 1) ASSERT_EQ(LINUX_condWait(c, m), 0);
  // The waiter sits in condWait, which gave the mutex back: we hold it now.
  stage = 2;
  EXPECT_EQ(LINUX_condSignal(c), 0);
  EXPECT_EQ(LINUX_mutexRelease(m), 0);
  waiter.join();
  EXPECT_EQ(stage, 3);
  EXPECT_EQ(LINUX_condFree(&c), 0);
  EXPECT_EQ(LINUX_mutexFree(&m), 0);
}

struct ThreadProbe {
  std::atomic<bool> finished{false};
  ThreadId self = 0;
};

void *ProbeEntry(void *arg) {
  auto *p = static_cast<ThreadProbe *>(arg);
  p->self = LINUX_currentThreadId();
  p->finished = true;
  return nullptr;
}

TEST(Rtos, CreatedThreadRunsWithItsArgumentAndIdentifier) {
  ThreadProbe probe;
  ThreadId tid = 0;
  ASSERT_EQ(LINUX_createThread(ProbeEntry, &probe, 5, &tid), 0);
  ASSERT_TRUE(WaitFor(probe.finished));
  EXPECT_EQ(probe.self, tid);
  EXPECT_EQ(LINUX_currentThreadId(), static_cast<ThreadId>(pthread_self()));
  EXPECT_NE(tid, LINUX_currentThreadId());
  LINUX_destroyThread(tid);
  ThreadId untouched = 77;
  EXPECT_EQ(LINUX_createThread(nullptr, &probe, 0, &untouched), -5801);
  EXPECT_EQ(untouched, 77u);
}

TEST(Rtos, DeltaConstMsExamples) {
  struct Case {
    RtosTime origin, current;
    uint32_t ms;
  };
  const Case cases[] = {
      {{10, 900000}, {12, 100000}, 1200}, {{12, 900000}, {10, 100000}, 0},  // backwards
      {{12, 100000}, {10, 900000}, 800},                                    // backwards seconds, forward microseconds
      {{10, 500000}, {10, 500000}, 0},    {{10, 500000}, {11, 0}, 500},     // borrow a second
      {{10, 999}, {10, 1999}, 1},                                           // microseconds truncate
      {{10, 0}, {9, 500000}, 500},                                          // each part clamped on its own
      {{0, 0}, {5000000, 0}, 705032704u},                                   // seconds * 1000 wraps in 32 bits
      {{0xFFFFFFFFu, 0}, {1, 0}, 2000},                                     // 32-bit seconds wrap
  };
  for (const auto &c : cases)
    EXPECT_EQ(LINUX_deltaConstMS(&c.origin, &c.current), c.ms) << c.origin.seconds << " -> " << c.current.seconds;
}

TEST(Rtos, TimerAddExamples) {
  struct Case {
    RtosTime start;
    uint32_t ms;
    RtosTime end;
  };
  const Case cases[] = {
      {{5, 600000}, 1500, {7, 100000}},         {{5, 500000}, 500, {5, 1000000}},  // exactly one million stays
      {{0, 999999}, 999, {1, 998999}},          {{3, 0}, 0, {3, 0}},
      {{0, 0}, 4294967295u, {4294967, 295000}}, {{1, 3500000}, 0, {4, 500000}},  // an unnormalised value is carried
  };
  for (const auto &c : cases) {
    RtosTime t = c.start;
    EXPECT_EQ(LINUX_timerAddMS(&t, c.ms), &t);
    EXPECT_EQ(t.seconds, c.end.seconds) << c.ms;
    EXPECT_EQ(t.microseconds, c.end.microseconds) << c.ms;
  }
}

TEST(Rtos, DeltaMsSleepAndUpTime) {
  struct timeval before;
  RtosTime stamp = {1, 2};
  gettimeofday(&before, nullptr);
  EXPECT_EQ(LINUX_deltaMS(nullptr, &stamp), 0u);
  EXPECT_GE(stamp.seconds, static_cast<uint32_t>(before.tv_sec));
  EXPECT_LT(stamp.seconds, static_cast<uint32_t>(before.tv_sec) + 5);
  const uint32_t up = LINUX_getUpTimeInMS();
  LINUX_sleepMS(30);
  const RtosTime copy = stamp;
  const uint32_t elapsed = LINUX_deltaMS(&stamp, nullptr);
  EXPECT_GE(elapsed, 30u);
  EXPECT_LT(elapsed, 5000u);
  EXPECT_GE(LINUX_getUpTimeInMS() - up, 20u);
  EXPECT_EQ(stamp.microseconds, copy.microseconds) << "a null now stores nothing";
  RtosTime now = {0, 0};
  const uint32_t d = LINUX_deltaMS(&stamp, &now);
  EXPECT_EQ(LINUX_deltaConstMS(&stamp, &now), d) << "the same reading serves the difference and the new stamp";
  RtosTime future = {now.seconds + 100, now.microseconds};
  EXPECT_EQ(LINUX_deltaMS(&future, nullptr), 0u) << "an origin in the future gives 0";
}

TEST(Rtos, TimeGmtAgreesWithGmtime) {
  EXPECT_EQ(LINUX_timeGMT(nullptr), -6001);
  for (int attempt = 0; attempt < 5; ++attempt) {
    time_t before = time(nullptr);
    GmtDateTime g;
    ASSERT_EQ(LINUX_timeGMT(&g), 0);
    if (time(nullptr) != before) continue;  // crossed a second: try again
    struct tm u;
    gmtime_r(&before, &u);
    EXPECT_EQ((std::vector<int>{g.yearsSince1970, g.month, g.day, g.hour, g.minute, g.second}),
              (std::vector<int>{u.tm_year - 70, u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec}));
    return;
  }
  FAIL() << "the clock never stood still for a second";
}

TEST(Rtos, GuardedPairRefusesWithoutTouchingTheMutex) {
  MutexHandle m = nullptr;
  ASSERT_EQ(LINUX_mutexCreate(&m, 0, 0), 0);
  int32_t flag = 0;
  EXPECT_EQ(VRTOS_mutexRelease(m, &flag), -5808);
  ASSERT_EQ(VRTOS_mutexWait(m, &flag), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_TRUE(HeldElsewhere(m));
  EXPECT_EQ(VRTOS_mutexWait(m, &flag), -5807) << "no second lock of a plain mutex";
  EXPECT_EQ(VRTOS_mutexRelease(m, &flag), 0);
  EXPECT_EQ(flag, 0);
  EXPECT_FALSE(HeldElsewhere(m));
  // Another caller holds the mutex: a release with a stale flag leaves it held.
  ASSERT_EQ(LINUX_mutexWait(m), 0);
  for (int32_t stale : {0, 2, -1}) {
    flag = stale;
    EXPECT_EQ(VRTOS_mutexRelease(m, &flag), -5808) << stale;
    EXPECT_EQ(flag, stale);
    EXPECT_TRUE(HeldElsewhere(m)) << stale;
  }
  ASSERT_EQ(LINUX_mutexRelease(m), 0);
  flag = 0;
  EXPECT_EQ(VRTOS_mutexWait(nullptr, &flag), -5803);
  EXPECT_EQ(flag, 0) << "a failing wait leaves the flag clear";
  flag = 1;
  EXPECT_EQ(VRTOS_mutexRelease(nullptr, &flag), -5804);
  EXPECT_EQ(VRTOS_mutexWait(m, nullptr), -6001);
  EXPECT_EQ(VRTOS_mutexRelease(m, nullptr), -6001);
  EXPECT_EQ(LINUX_mutexFree(&m), 0);
}

// Seed source: inside the sandbox, files with distinct contents lie over
// /dev/random and /dev/urandom, so each read shows which device it came from.
class SeedTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(kel::test::MountTmpfs("/mnt/seed"));
    ASSERT_TRUE(kel::test::WriteFile("/mnt/seed/random", "RANDOM-device-16"));
    ASSERT_TRUE(kel::test::WriteFile("/mnt/seed/urandom", "urandom-dev-16by"));
    ASSERT_EQ(mount("/mnt/seed/random", "/dev/random", nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(mount("/mnt/seed/urandom", "/dev/urandom", nullptr, MS_BIND, nullptr), 0);
  }
  void TearDown() override {
    VORANE_setFIPSMode(0);
    for (const char *p : {"/dev/random", "/dev/urandom", "/mnt/seed"}) umount2(p, MNT_DETACH);
  }
  static std::string Seed(int32_t length, int32_t expected) {
    std::string buf(static_cast<size_t>(length), '\0');
    EXPECT_EQ(LINUX_getSeed(reinterpret_cast<uint8_t *>(buf.data()), length), expected) << length;
    return buf;
  }
};

TEST_F(SeedTest, FipsModeSwitchesTheDevice) {
  EXPECT_EQ(VORANE_getFIPSMode(), 0u);
  EXPECT_EQ(Seed(16, 1), "urandom-dev-16by");
  VORANE_setFIPSMode(1);
  EXPECT_EQ(bFIPSMode, 1u);
  EXPECT_EQ(VORANE_getFIPSMode(), 1u);
  EXPECT_EQ(Seed(6, 1), "RANDOM");
  EXPECT_EQ(Seed(6, 1), "RANDOM") << "every later read, not just the next";
  VORANE_setFIPSMode(0x80);  // any non-zero value means on
  EXPECT_EQ(Seed(6, 1), "RANDOM");
  VORANE_setFIPSMode(0);
  EXPECT_EQ(bFIPSMode, 0u);
  EXPECT_EQ(Seed(7, 1), "urandom");
  EXPECT_EQ(Seed(32, 0).substr(0, 16), "urandom-dev-16by") << "a short read gives 0, the bytes still delivered";
  Seed(0, 0);  // an empty request reads no item
  EXPECT_EQ(LINUX_getSeed(nullptr, 4), -6001);
}

TEST_F(SeedTest, UnopenableDeviceGivesMinus5800) {
  EXPECT_EQ(kel::test::RunInChild([] {
              ASSERT_EQ(unshare(CLONE_NEWNS), 0);
              ASSERT_TRUE(kel::test::MountTmpfs("/dev"));  // no random devices at all
              uint8_t buf[8];
              EXPECT_EQ(LINUX_getSeed(buf, 8), -5800);
              VORANE_setFIPSMode(1);
              EXPECT_EQ(LINUX_getSeed(buf, 8), -5800);
            }),
            0);
}

}  // namespace
