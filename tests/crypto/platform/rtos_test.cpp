// OS layer: handles and their status codes, locking across threads,
// condition variables, threads, timers and calendar time.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "crypto/common/alloc.h"
#include "kel/debug_console.h"
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

struct HandleCase {
  const char *name;
  std::function<int32_t()> call;
  int32_t expected;
};

TEST(Rtos, StartAndStopHooksReturnZero) {
  EXPECT_EQ(LINUX_rtosInit(), 0);
  EXPECT_EQ(LINUX_rtosShutdown(), 0);
}

TEST(Rtos, ZeroAndNullHandlesAreRefused) {
  MutexHandle noMutex = nullptr;
  CondHandle noCond = nullptr;
  CondHandle cond = nullptr;
  ASSERT_EQ(LINUX_condCreate(&cond, 0, 0), 0);
  MutexHandle mutex = nullptr;
  ASSERT_EQ(LINUX_mutexCreate(&mutex, 0, 0), 0);
  const HandleCase cases[] = {
      {"mutexWait 0", [] { return LINUX_mutexWait(nullptr); }, -5803},
      {"mutexRelease 0", [] { return LINUX_mutexRelease(nullptr); }, -5804},
      {"mutexFree null", [] { return LINUX_mutexFree(nullptr); }, -5805},
      {"mutexFree 0", [&] { return LINUX_mutexFree(&noMutex); }, -5805},
      {"recursiveWait 0", [] { return LINUX_recursiveMutexWait(nullptr); }, -5803},
      {"recursiveRelease 0", [] { return LINUX_recursiveMutexRelease(nullptr); }, -5804},
      {"recursiveFree null", [] { return LINUX_recursiveMutexFree(nullptr); }, -5805},
      {"recursiveFree 0", [&] { return LINUX_recursiveMutexFree(&noMutex); }, -5805},
      {"condWait 0 cond", [&] { return LINUX_condWait(nullptr, mutex); }, -5803},
      {"condWait 0 mutex", [&] { return LINUX_condWait(cond, nullptr); }, -5803},
      {"condSignal 0", [] { return LINUX_condSignal(nullptr); }, -5804},
      {"condFree null", [] { return LINUX_condFree(nullptr); }, -5805},
      {"condFree 0", [&] { return LINUX_condFree(&noCond); }, -5805},
      {"mutexCreate null", [] { return LINUX_mutexCreate(nullptr, 0, 0); }, -5802},
      {"recursiveCreate null", [] { return LINUX_recursiveMutexCreate(nullptr, 0, 0); }, -5802},
      {"condCreate null", [] { return LINUX_condCreate(nullptr, 0, 0); }, -5802},
  };
  for (const auto &c : cases) EXPECT_EQ(c.call(), c.expected) << c.name;
  EXPECT_FALSE(HeldElsewhere(mutex)) << "a refused condWait must not touch the mutex";
  EXPECT_EQ(LINUX_mutexFree(&mutex), 0);
  EXPECT_EQ(LINUX_condFree(&cond), 0);
}

// Create, free (handle becomes 0), free again (-5805), and an allocation
// failure that leaves the caller's variable as it was, for every kind.
TEST(Rtos, CreateFreeLifecycleForEveryKind) {
  struct Kind {
    const char *name;
    std::function<int32_t(void **)> create;
    std::function<int32_t(void **)> free;
  };
  const Kind kinds[] = {
      {"mutex", [](void **h) { return LINUX_mutexCreate(reinterpret_cast<MutexHandle *>(h), 1, 1); },
       [](void **h) { return LINUX_mutexFree(reinterpret_cast<MutexHandle *>(h)); }},
      {"recursive", [](void **h) { return LINUX_recursiveMutexCreate(reinterpret_cast<MutexHandle *>(h), 0, 0); },
       [](void **h) { return LINUX_recursiveMutexFree(reinterpret_cast<MutexHandle *>(h)); }},
      {"cond", [](void **h) { return LINUX_condCreate(reinterpret_cast<CondHandle *>(h), 7, 9); },
       [](void **h) { return LINUX_condFree(reinterpret_cast<CondHandle *>(h)); }},
  };
  for (const auto &k : kinds) {
    void *h = nullptr;
    ASSERT_EQ(k.create(&h), 0) << k.name;
    ASSERT_NE(h, nullptr) << k.name;
    EXPECT_EQ(k.free(&h), 0) << k.name;
    EXPECT_EQ(h, nullptr) << k.name;
    EXPECT_EQ(k.free(&h), -5805) << k.name << ": double free";

    void *sentinel = reinterpret_cast<void *>(0x1234);
    h = sentinel;
    kel::mem::fail_after(0);
    EXPECT_EQ(k.create(&h), -5802) << k.name;
    kel::mem::fail_after(-1);
    EXPECT_EQ(h, sentinel) << k.name << ": a failed create keeps the caller's value";
  }
}

TEST(Rtos, FreeingAHeldMutexFailsAndKeepsTheHandle) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "ThreadSanitizer reports the deliberate destroy of a held mutex";
#endif
  MutexHandle m = nullptr;
  ASSERT_EQ(LINUX_mutexCreate(&m, 0, 0), 0);
  ASSERT_EQ(LINUX_mutexWait(m), 0);
  MutexHandle before = m;
  EXPECT_EQ(LINUX_mutexFree(&m), -5805);
  EXPECT_EQ(m, before);
  EXPECT_EQ(LINUX_mutexRelease(m), 0);
  EXPECT_EQ(LINUX_mutexFree(&m), 0);
}

TEST(Rtos, PlainMutexExcludesOtherThreads) {
  MutexHandle m = nullptr;
  ASSERT_EQ(LINUX_mutexCreate(&m, 0, 0), 0);
  EXPECT_FALSE(HeldElsewhere(m));
  ASSERT_EQ(LINUX_mutexWait(m), 0);
  EXPECT_TRUE(HeldElsewhere(m));
  ASSERT_EQ(LINUX_mutexRelease(m), 0);
  EXPECT_FALSE(HeldElsewhere(m));
  EXPECT_EQ(LINUX_mutexFree(&m), 0);
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

// Several threads add to plain counters under each kind of lock.
TEST(Rtos, MutualExclusionUnderLoad) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  MutexHandle plain = nullptr, recursive = nullptr;
  ASSERT_EQ(LINUX_mutexCreate(&plain, 0, 0), 0);
  ASSERT_EQ(LINUX_recursiveMutexCreate(&recursive, 0, 0), 0);
  long plainCount = 0, recursiveCount = 0, guardedCount = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        LINUX_mutexWait(plain);
        ++plainCount;
        LINUX_mutexRelease(plain);

        LINUX_recursiveMutexWait(recursive);
        LINUX_recursiveMutexWait(recursive);
        ++recursiveCount;
        LINUX_recursiveMutexRelease(recursive);
        LINUX_recursiveMutexRelease(recursive);

        int32_t locked = 0;
        VRTOS_mutexWait(plain, &locked);
        ++guardedCount;
        VRTOS_mutexRelease(plain, &locked);
        VRTOS_mutexRelease(plain, &locked);  // refused: must not unlock someone else's hold
      }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(plainCount, kThreads * kRounds);
  EXPECT_EQ(recursiveCount, kThreads * kRounds);
  EXPECT_EQ(guardedCount, kThreads * kRounds);
  EXPECT_EQ(LINUX_mutexFree(&plain), 0);
  EXPECT_EQ(LINUX_recursiveMutexFree(&recursive), 0);
}

TEST(Rtos, ConditionWaitWakesOnSignal) {
  MutexHandle m = nullptr;
  CondHandle c = nullptr;
  ASSERT_EQ(LINUX_mutexCreate(&m, 0, 0), 0);
  ASSERT_EQ(LINUX_condCreate(&c, 0, 0), 0);
  int stage = 0;
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    ASSERT_EQ(LINUX_mutexWait(m), 0);
    stage = 1;  // ready: announce under the mutex, then wait for stage 2
    EXPECT_EQ(LINUX_condSignal(c), 0);
    while (stage != 2) EXPECT_EQ(LINUX_condWait(c, m), 0);
    stage = 3;
    EXPECT_EQ(LINUX_mutexRelease(m), 0);
    done = true;
  });
  ASSERT_EQ(LINUX_mutexWait(m), 0);
  while (stage != 1) ASSERT_EQ(LINUX_condWait(c, m), 0);
  // The waiter sits in condWait, which gave the mutex back: we hold it now.
  stage = 2;
  EXPECT_EQ(LINUX_condSignal(c), 0);
  EXPECT_EQ(LINUX_mutexRelease(m), 0);
  EXPECT_TRUE(WaitFor(done));
  waiter.join();
  EXPECT_EQ(stage, 3);
  EXPECT_EQ(LINUX_condFree(&c), 0);
  EXPECT_EQ(LINUX_mutexFree(&m), 0);
}

struct ThreadProbe {
  std::atomic<bool> finished{false};
  ThreadId self = 0;
  void *arg = nullptr;
};

void *ProbeEntry(void *arg) {
  auto *p = static_cast<ThreadProbe *>(arg);
  p->self = LINUX_currentThreadId();
  p->arg = arg;
  p->finished = true;
  return nullptr;
}

TEST(Rtos, CreatedThreadRunsWithItsArgumentAndIdentifier) {
  ThreadProbe probe;
  ThreadId tid = 0;
  ASSERT_EQ(LINUX_createThread(ProbeEntry, &probe, 5, &tid), 0);
  ASSERT_TRUE(WaitFor(probe.finished));
  EXPECT_EQ(probe.arg, &probe);
  EXPECT_EQ(probe.self, tid);
  EXPECT_NE(tid, LINUX_currentThreadId());
  EXPECT_EQ(LINUX_currentThreadId(), static_cast<ThreadId>(pthread_self()));
  LINUX_destroyThread(tid);

  ThreadId untouched = 77;
  EXPECT_EQ(LINUX_createThread(nullptr, &probe, 0, &untouched), -5801);
  EXPECT_EQ(untouched, 77u);
}

std::string g_console;
void Collect(const char *text) { g_console += text; }

// A thread whose stack cannot be mapped: -5801 and the class-8 console line.
TEST(Rtos, ThreadCreationFailureIsPrintedAndReported) {
#ifdef KEL_SANITIZED
  GTEST_SKIP() << "sanitizer runtimes reserve address space of their own";
#endif
  int rc = kel::test::RunInChild([] {
    g_console.clear();
    DEBUG_CONSOLE_setLogVoraneCallback(Collect);
    struct rlimit limit = {0, 0};
    getrlimit(RLIMIT_AS, &limit);
    // Room for the process as it is, not for another 8 MB thread stack.
    long pages = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    ASSERT_GT(pages, 0);
    limit.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (1 << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
    ThreadProbe probe;
    ThreadId tid = 42;
    EXPECT_EQ(LINUX_createThread(ProbeEntry, &probe, 0, &tid), -5801);
    EXPECT_EQ(tid, 42u);
    EXPECT_EQ(g_console, "LINUX_createThread: pthread_create error 11\r\n");
    m_errorClass = ~8u;
    g_console.clear();
    EXPECT_EQ(LINUX_createThread(ProbeEntry, &probe, 0, &tid), -5801);
    EXPECT_EQ(g_console, "") << "class 8 switched off";
  });
  EXPECT_EQ(rc, 0);
}

// ---- time

TEST(Rtos, DeltaConstMsExamples) {
  struct Case {
    RtosTime origin, current;
    uint32_t ms;
  };
  const Case cases[] = {
      {{10, 900000}, {12, 100000}, 1200},
      {{12, 900000}, {10, 100000}, 0},       // backwards
      {{12, 100000}, {10, 900000}, 800},     // backwards seconds, forward microseconds
      {{10, 500000}, {10, 500000}, 0},
      {{10, 500000}, {11, 0}, 500},          // borrow a second
      {{10, 999}, {10, 1999}, 1},            // microseconds truncate
      {{10, 0}, {9, 500000}, 500},           // each part clamped on its own
      {{0, 0}, {5000000, 0}, 705032704u},    // seconds * 1000 wraps in 32 bits
      {{0xFFFFFFFFu, 0}, {1, 0}, 2000},      // 32-bit seconds wrap
  };
  for (const auto &c : cases) {
    EXPECT_EQ(LINUX_deltaConstMS(&c.origin, &c.current), c.ms)
        << c.origin.seconds << "." << c.origin.microseconds << " -> " << c.current.seconds << "."
        << c.current.microseconds;
  }
}

TEST(Rtos, TimerAddExamples) {
  struct Case {
    RtosTime start;
    uint32_t ms;
    RtosTime end;
  };
  const Case cases[] = {
      {{5, 600000}, 1500, {7, 100000}},
      {{5, 500000}, 500, {5, 1000000}},  // exactly one million stays
      {{0, 999999}, 999, {1, 998999}},
      {{3, 0}, 0, {3, 0}},
      {{0, 0}, 4294967295u, {4294967, 295000}},
      {{1, 3500000}, 0, {4, 500000}},  // an unnormalised value is carried
  };
  for (const auto &c : cases) {
    RtosTime t = c.start;
    EXPECT_EQ(LINUX_timerAddMS(&t, c.ms), &t);
    EXPECT_EQ(t.seconds, c.end.seconds) << c.ms;
    EXPECT_EQ(t.microseconds, c.end.microseconds) << c.ms;
  }
}

TEST(Rtos, DeltaMsStampsAndMeasures) {
  struct timeval before, after;
  RtosTime stamp = {1, 2};
  gettimeofday(&before, nullptr);
  EXPECT_EQ(LINUX_deltaMS(nullptr, &stamp), 0u);
  gettimeofday(&after, nullptr);
  EXPECT_GE(stamp.seconds, static_cast<uint32_t>(before.tv_sec));
  EXPECT_LE(stamp.seconds, static_cast<uint32_t>(after.tv_sec));
  EXPECT_LT(stamp.microseconds, 1000000u);

  LINUX_sleepMS(30);
  RtosTime copy = stamp;
  uint32_t elapsed = LINUX_deltaMS(&stamp, nullptr);
  EXPECT_GE(elapsed, 30u);
  EXPECT_LT(elapsed, 5000u);
  EXPECT_EQ(stamp.seconds, copy.seconds) << "a null now stores nothing";
  EXPECT_EQ(stamp.microseconds, copy.microseconds);

  // The same reading serves the difference and the new stamp.
  RtosTime now = {0, 0};
  uint32_t d = LINUX_deltaMS(&stamp, &now);
  EXPECT_EQ(LINUX_deltaConstMS(&stamp, &now), d);

  RtosTime future = now;
  future.seconds += 100;
  EXPECT_EQ(LINUX_deltaMS(&future, nullptr), 0u) << "an origin in the future gives 0";
}

TEST(Rtos, SleepAndUpTime) {
  RtosTime t;
  LINUX_deltaMS(nullptr, &t);
  LINUX_sleepMS(0);
  EXPECT_LT(LINUX_deltaMS(&t, nullptr), 50u);

  struct tms unused;
  auto ms = [&] { return static_cast<uint32_t>(static_cast<int64_t>(times(&unused)) * 1000 / sysconf(_SC_CLK_TCK)); };
  uint32_t lo = ms();
  uint32_t up = LINUX_getUpTimeInMS();
  uint32_t hi = ms();
  EXPECT_LE(lo, up);
  EXPECT_LE(up, hi);
  LINUX_sleepMS(40);
  EXPECT_GE(LINUX_getUpTimeInMS() - up, 30u);
}

TEST(Rtos, TimeGmtAgreesWithGmtime) {
  EXPECT_EQ(LINUX_timeGMT(nullptr), -6001);
  for (int attempt = 0; attempt < 5; ++attempt) {
    time_t before = time(nullptr);
    GmtDateTime g;
    ASSERT_EQ(LINUX_timeGMT(&g), 0);
    if (time(nullptr) != before) continue;  // crossed a second: try again
    struct tm utc;
    gmtime_r(&before, &utc);
    EXPECT_EQ(g.yearsSince1970, utc.tm_year - 70);
    EXPECT_EQ(g.month, utc.tm_mon + 1);
    EXPECT_EQ(g.day, utc.tm_mday);
    EXPECT_EQ(g.hour, utc.tm_hour);
    EXPECT_EQ(g.minute, utc.tm_min);
    EXPECT_EQ(g.second, utc.tm_sec);
    return;
  }
  FAIL() << "the clock never stood still for a second";
}

// ---- guarded pair

TEST(Rtos, GuardedPairRefusesWithoutTouchingTheMutex) {
  MutexHandle m = nullptr;
  ASSERT_EQ(LINUX_mutexCreate(&m, 0, 0), 0);
  int32_t flag = 0;
  EXPECT_EQ(VRTOS_mutexRelease(m, &flag), -5808);
  EXPECT_EQ(flag, 0);

  ASSERT_EQ(VRTOS_mutexWait(m, &flag), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_TRUE(HeldElsewhere(m));
  EXPECT_EQ(VRTOS_mutexWait(m, &flag), -5807) << "no second lock of a plain mutex";
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(VRTOS_mutexRelease(m, &flag), 0);
  EXPECT_EQ(flag, 0);
  EXPECT_FALSE(HeldElsewhere(m));
  EXPECT_EQ(VRTOS_mutexRelease(m, &flag), -5808) << "a release on an exit path after the release";

  // Another caller holds the mutex: a release with a stale flag leaves it held.
  ASSERT_EQ(LINUX_mutexWait(m), 0);
  for (int32_t stale : {0, 2, -1}) {
    flag = stale;
    EXPECT_EQ(VRTOS_mutexRelease(m, &flag), -5808) << stale;
    EXPECT_EQ(flag, stale);
    EXPECT_TRUE(HeldElsewhere(m)) << stale;
  }
  flag = -1;
  EXPECT_EQ(VRTOS_mutexWait(m, &flag), -5807);
  ASSERT_EQ(LINUX_mutexRelease(m), 0);

  // A failing wait (no mutex) leaves the flag clear.
  flag = 0;
  EXPECT_EQ(VRTOS_mutexWait(nullptr, &flag), -5803);
  EXPECT_EQ(flag, 0);
  flag = 1;
  EXPECT_EQ(VRTOS_mutexRelease(nullptr, &flag), -5804);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(VRTOS_mutexWait(m, nullptr), -6001);
  EXPECT_EQ(VRTOS_mutexRelease(m, nullptr), -6001);
  EXPECT_EQ(LINUX_mutexFree(&m), 0);
}

}  // namespace
