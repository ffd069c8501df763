// The toolkit's OS layer on POSIX: mutexes (plain and recursive), condition
// variables, threads, timers, calendar time and the seed source. Every
// function maps onto one or two POSIX calls; the layer keeps no state.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/time.h>
#include <sys/times.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "kel/debug_console.h"
#include "kel/os.h"
#include "kel/vor.h"

// The handles point at heap blocks that hold nothing but the POSIX object.
struct KelMutex {
  pthread_mutex_t mutex;
};

struct KelCond {
  pthread_cond_t cond;
};

RtosTime gStartTime = {0, 0};
uint32_t bFIPSMode = 0;

namespace kel::os {
namespace {

constexpr uint32_t kOsClass = 8;
constexpr int64_t kMicrosPerSecond = 1000000;

// Allocates, zeroes and initialises one mutex; the attribute object is
// optional (null: the default attributes).
int32_t create_mutex(MutexHandle *out, const pthread_mutexattr_t *attr) {
  if (out == nullptr) return LINUX_ERR_CREATE;
  void *block = nullptr;
  if (VOR_alloc(sizeof(KelMutex), &block) != 0) return LINUX_ERR_CREATE;
  std::memset(block, 0, sizeof(KelMutex));
  auto *m = static_cast<KelMutex *>(block);
  if (pthread_mutex_init(&m->mutex, attr) != 0) {
    VOR_free(&block);
    return LINUX_ERR_CREATE;
  }
  *out = m;
  return 0;
}

int32_t free_mutex(MutexHandle *handle) {
  if (handle == nullptr || *handle == nullptr) return LINUX_ERR_FREE;
  // A mutex that is still held cannot be destroyed: the handle stays valid.
  if (pthread_mutex_destroy(&(*handle)->mutex) != 0) return LINUX_ERR_FREE;
  std::memset(*handle, 0, sizeof(KelMutex));
  void *block = *handle;
  VOR_free(&block);
  *handle = nullptr;
  return 0;
}

// Milliseconds from signed second and microsecond differences: borrow from
// the seconds while they last; a negative part (time running backwards)
// counts as 0.
uint32_t to_millis(int64_t seconds, int64_t micros) {
  while (micros < 0 && seconds > 0) {
    micros += kMicrosPerSecond;
    --seconds;
  }
  if (seconds < 0) seconds = 0;
  if (micros < 0) micros = 0;
  return static_cast<uint32_t>(seconds) * 1000u + static_cast<uint32_t>(micros / 1000);
}

}  // namespace
}  // namespace kel::os

using kel::os::kOsClass;

int32_t LINUX_rtosInit(void) { return 0; }

int32_t LINUX_rtosShutdown(void) { return 0; }

// ---- mutexes

int32_t LINUX_mutexCreate(MutexHandle *mutex, uint32_t, uint32_t) {
  return kel::os::create_mutex(mutex, nullptr);
}

int32_t LINUX_mutexWait(MutexHandle mutex) {
  if (mutex == nullptr || pthread_mutex_lock(&mutex->mutex) != 0) return LINUX_ERR_WAIT;
  return 0;
}

int32_t LINUX_mutexRelease(MutexHandle mutex) {
  if (mutex == nullptr || pthread_mutex_unlock(&mutex->mutex) != 0) return LINUX_ERR_RELEASE;
  return 0;
}

int32_t LINUX_mutexFree(MutexHandle *mutex) { return kel::os::free_mutex(mutex); }

int32_t LINUX_recursiveMutexCreate(MutexHandle *mutex, uint32_t, uint32_t) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return LINUX_ERR_CREATE;
  int32_t status = LINUX_ERR_CREATE;
  if (pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0) status = kel::os::create_mutex(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  return status;
}

int32_t LINUX_recursiveMutexWait(MutexHandle mutex) { return LINUX_mutexWait(mutex); }

int32_t LINUX_recursiveMutexRelease(MutexHandle mutex) { return LINUX_mutexRelease(mutex); }

int32_t LINUX_recursiveMutexFree(MutexHandle *mutex) { return kel::os::free_mutex(mutex); }

// ---- condition variables

int32_t LINUX_condCreate(CondHandle *cond, uint32_t, uint32_t) {
  if (cond == nullptr) return LINUX_ERR_CREATE;
  void *block = nullptr;
  if (VOR_alloc(sizeof(KelCond), &block) != 0) return LINUX_ERR_CREATE;
  std::memset(block, 0, sizeof(KelCond));
  auto *c = static_cast<KelCond *>(block);
  if (pthread_cond_init(&c->cond, nullptr) != 0) {
    VOR_free(&block);
    return LINUX_ERR_CREATE;
  }
  *cond = c;
  return 0;
}

int32_t LINUX_condWait(CondHandle cond, MutexHandle mutex) {
  if (cond == nullptr || mutex == nullptr || pthread_cond_wait(&cond->cond, &mutex->mutex) != 0)
    return LINUX_ERR_WAIT;
  return 0;
}

int32_t LINUX_condSignal(CondHandle cond) {
  if (cond == nullptr || pthread_cond_signal(&cond->cond) != 0) return LINUX_ERR_RELEASE;
  return 0;
}

int32_t LINUX_condFree(CondHandle *cond) {
  if (cond == nullptr || *cond == nullptr) return LINUX_ERR_FREE;
  if (pthread_cond_destroy(&(*cond)->cond) != 0) return LINUX_ERR_FREE;
  std::memset(*cond, 0, sizeof(KelCond));
  void *block = *cond;
  VOR_free(&block);
  *cond = nullptr;
  return 0;
}

// ---- threads

int32_t LINUX_createThread(ThreadEntry entry, void *arg, uint32_t, ThreadId *tid) {
  if (entry == nullptr || tid == nullptr) return LINUX_ERR_THREAD_CREATE;
  pthread_t thread;
  if (int rc = pthread_create(&thread, nullptr, entry, arg); rc != 0) {
    DEBUG_CONSOLE_printError(kOsClass, "LINUX_createThread: pthread_create error ", rc);
    return LINUX_ERR_THREAD_CREATE;
  }
  *tid = static_cast<ThreadId>(thread);
  return 0;
}

void LINUX_destroyThread(ThreadId tid) { pthread_detach(static_cast<pthread_t>(tid)); }

ThreadId LINUX_currentThreadId(void) { return static_cast<ThreadId>(pthread_self()); }

// ---- time

uint32_t LINUX_getUpTimeInMS(void) {
  struct tms unused;
  clock_t ticks = times(&unused);
  if (ticks == static_cast<clock_t>(-1)) {
    DEBUG_CONSOLE_printNewLine(kOsClass, "ERROR: Could not get time values.");
    return 0xFFFFFFFFu;
  }
  // Wraps every 2^32 ms (about 49.7 days); callers take differences.
  int64_t ms = static_cast<int64_t>(ticks) * 1000 / sysconf(_SC_CLK_TCK);
  return static_cast<uint32_t>(ms);
}

uint32_t LINUX_deltaMS(const RtosTime *origin, RtosTime *now) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  // One clock reading serves both the difference and the new stamp.
  uint32_t ms = 0;
  if (origin != nullptr) {
    ms = kel::os::to_millis(static_cast<int64_t>(tv.tv_sec) - static_cast<int32_t>(origin->seconds),
                            static_cast<int64_t>(tv.tv_usec) - static_cast<int32_t>(origin->microseconds));
  }
  if (now != nullptr) {
    now->seconds = static_cast<uint32_t>(tv.tv_sec);
    now->microseconds = static_cast<uint32_t>(tv.tv_usec);
  }
  return ms;
}

uint32_t LINUX_deltaConstMS(const RtosTime *origin, const RtosTime *current) {
  if (origin == nullptr || current == nullptr) return 0;
  auto seconds = static_cast<int32_t>(current->seconds - origin->seconds);
  auto micros = static_cast<int32_t>(current->microseconds - origin->microseconds);
  return kel::os::to_millis(seconds, micros);
}

RtosTime *LINUX_timerAddMS(RtosTime *timer, uint32_t milliseconds) {
  if (timer == nullptr) return nullptr;
  timer->seconds += milliseconds / 1000;
  timer->microseconds += (milliseconds % 1000) * 1000;
  // Exactly one million microseconds is left uncarried.
  while (timer->microseconds > 1000000u) {
    timer->microseconds -= 1000000u;
    ++timer->seconds;
  }
  return timer;
}

void LINUX_sleepMS(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  nanosleep(&ts, nullptr);  // an interrupted sleep ends early
}

int32_t LINUX_timeGMT(GmtDateTime *out) {
  if (out == nullptr) return ERR_NULL_POINTER;
  time_t now = time(nullptr);
  struct tm utc;
  gmtime_r(&now, &utc);
  out->yearsSince1970 = static_cast<uint8_t>(utc.tm_year - 70);
  out->month = static_cast<uint8_t>(utc.tm_mon + 1);
  out->day = static_cast<uint8_t>(utc.tm_mday);
  out->hour = static_cast<uint8_t>(utc.tm_hour);
  out->minute = static_cast<uint8_t>(utc.tm_min);
  out->second = static_cast<uint8_t>(utc.tm_sec);
  return 0;
}

// ---- FIPS-mode flag and seed

void VORANE_setFIPSMode(uint32_t mode) { bFIPSMode = mode; }

uint32_t VORANE_getFIPSMode(void) { return bFIPSMode; }

int32_t LINUX_getSeed(uint8_t *buffer, int32_t length) {
  if (buffer == nullptr) return ERR_NULL_POINTER;
  const int device = open(VORANE_getFIPSMode() ? "/dev/random" : "/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (device < 0) return LINUX_ERR_SEED_OPEN;
  // A seed counts only when every byte came from the device: partial reads
  // go on, end of file or an error gives 0.
  size_t done = 0;
  const size_t want = length > 0 ? static_cast<size_t>(length) : 0;
  while (done < want) {
    const ssize_t n = read(device, buffer + done, want - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(device);
  return done == want && want > 0 ? 1 : 0;
}

// ---- guarded lock: the flag says whether this caller holds the mutex

int32_t VRTOS_mutexWait(MutexHandle mutex, int32_t *isLocked) {
  if (isLocked == nullptr) return ERR_NULL_POINTER;
  if (*isLocked != 0) return VRTOS_ERR_ALREADY_LOCKED;
  int32_t status = LINUX_mutexWait(mutex);
  if (status >= 0) *isLocked = 1;
  return status;
}

int32_t VRTOS_mutexRelease(MutexHandle mutex, int32_t *isLocked) {
  if (isLocked == nullptr) return ERR_NULL_POINTER;
  if (*isLocked != 1) return VRTOS_ERR_NOT_LOCKED;
  int32_t status = LINUX_mutexRelease(mutex);
  if (status >= 0) *isLocked = 0;
  return status;
}
