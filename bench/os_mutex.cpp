// Lock/unlock pairs per second through the OS layer's handles beside raw
// pthread_mutex_lock/unlock: one thread alone, and two threads contending
// for one mutex. Median of several runs; the ratio is ours / raw (median of
// the per-run ratios).
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <thread>

#include "kel/os.h"

namespace {

constexpr int kRuns = 5;
constexpr long kPairs = 2000000;

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

MutexHandle g_handle = nullptr;
pthread_mutex_t g_raw = PTHREAD_MUTEX_INITIALIZER;
volatile long g_counter = 0;

void OursLoop(long pairs) {
  for (long i = 0; i < pairs; ++i) {
    LINUX_mutexWait(g_handle);
    g_counter = g_counter + 1;
    LINUX_mutexRelease(g_handle);
  }
}

void RawLoop(long pairs) {
  for (long i = 0; i < pairs; ++i) {
    pthread_mutex_lock(&g_raw);
    g_counter = g_counter + 1;
    pthread_mutex_unlock(&g_raw);
  }
}

// Pairs per second over kPairs pairs shared by `threads` threads.
double Rate(void (*loop)(long), int threads) {
  double start = Now();
  if (threads == 1) {
    loop(kPairs);
  } else {
    std::thread a(loop, kPairs / 2), b(loop, kPairs / 2);
    a.join();
    b.join();
  }
  return static_cast<double>(kPairs) / (Now() - start);
}

struct Result {
  double ours, raw, ratio;
};

// The two sides alternate run by run so that load from other processes
// falls on both; each figure is the median of its runs.
Result Measure(int threads) {
  std::array<double, kRuns> ours{}, raw{}, ratio{};
  for (int r = 0; r < kRuns; ++r) {
    ours[r] = Rate(OursLoop, threads);
    raw[r] = Rate(RawLoop, threads);
    ratio[r] = ours[r] / raw[r];
  }
  for (auto *a : {&ours, &raw, &ratio}) std::sort(a->begin(), a->end());
  return {ours[kRuns / 2], raw[kRuns / 2], ratio[kRuns / 2]};
}

}  // namespace

int main() {
  if (LINUX_mutexCreate(&g_handle, 0, 0) != 0) {
    std::fprintf(stderr, "LINUX_mutexCreate failed\n");
    return 1;
  }
  std::printf("%-28s %16s %16s %8s\n", "mutex wait/release pairs", "LINUX_ (M/s)", "pthread (M/s)", "ratio");
  for (int threads : {1, 2}) {
    Result m = Measure(threads);
    std::printf("%-28s %16.2f %16.2f %8.2f\n", threads == 1 ? "one thread" : "two threads contending", m.ours / 1e6,
                m.raw / 1e6, m.ratio);
  }
  LINUX_mutexFree(&g_handle);
  return 0;
}
