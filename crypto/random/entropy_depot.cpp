// The entropy depot: 48 bytes (in a 64-byte hash block) that pushed bits,
// three stirring threads and the waiting extractor all change without a
// common lock, and an output pool that each cycle of the threads refills.
//
// The unlocked byte traffic is deliberate: how the threads interleave is
// part of what the depot collects. Every shared byte and word is therefore
// read and written with relaxed atomic loads and stores, which keeps the
// races (a toggle may be lost under a concurrent scramble) while keeping
// them defined. A read-modify-write is a load and a store, not one atomic
// step.
#include "crypto/random/internal.h"
#include "kel/hash.h"
#include "kel/rng_seed.h"

namespace kel::depot {
namespace {

using random::kNullPointer;
using random::kOk;

constexpr uint32_t kDepotBytes = 48;
constexpr uint32_t kDepotBits = 8 * kDepotBytes;
constexpr uint32_t kPoolEmpty = 48;
enum : int32_t { kToggle = 0, kScramble = 1, kHash = 2 };

struct Depot {
  uint8_t block[64];  // bytes 0..47 the depot; the mixing writes 0..59
  uint8_t pool[48];
  uint32_t outputIndex;
  uint32_t bitPosition;
  int32_t threadState[3];
  int32_t cycleState;
  int32_t stopRequested;
  int32_t mutexesReady;
  int32_t threadsStarted;
  MutexHandle depotMutex;
  MutexHandle stateMutex;
  ThreadId threadId[3];
};

constinit Depot g{};
constinit int32_t g_creating = 0;  // spin flag around mutex creation
constinit int32_t g_running = 0;   // depot threads that have not ended

template <class T> T load(const T &x) { return __atomic_load_n(&x, __ATOMIC_RELAXED); }
template <class T> void store(T &x, T v) { __atomic_store_n(&x, v, __ATOMIC_RELAXED); }

bool stopped() { return load(g.stopRequested) != 0; }
void request_stop() { store(g.stopRequested, 1); }
int32_t state(int i) { return load(g.threadState[i]); }
void set_state(int i, int32_t v) { store(g.threadState[i], v); }
bool all_states(int32_t v) { return state(0) == v && state(1) == v && state(2) == v; }

void flip(uint32_t index, uint8_t mask) { store(g.block[index], static_cast<uint8_t>(load(g.block[index]) ^ mask)); }

// Three chained G values over the whole block replace bytes 0-19, 20-39
// and 40-59 in turn.
void mix() {
  kel::mem::Wiped<uint8_t[20]> out;
  kel::mem::Wiped<uint8_t[64]> in;
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 64; ++k) in[k] = load(g.block[k]);
    SHA1_G(in, out);
    for (int k = 0; k < 20; ++k) store(g.block[20 * i + k], out[k]);
  }
}

uint32_t ms_since(const RtosTime &t) { return LINUX_deltaMS(&t, nullptr); }
void mark(RtosTime &t) { LINUX_deltaMS(nullptr, &t); }
// base to base + 3 ms, by the clock since the thread's mark.
void thread_sleep(const RtosTime &t, uint32_t base) { LINUX_sleepMS((ms_since(t) / 2) % 4 + base); }
// 1 to 256 ms, by the clock since the extraction began.
void poll_sleep(const RtosTime &t0) { LINUX_sleepMS((ms_since(t0) / 2) % 256 + 1); }

int32_t create_mutexes() {
  if (load(g.mutexesReady) != 0) return ERR_RNG_SEED_STATE;
  if (int32_t st = LINUX_mutexCreate(&g.depotMutex, 0, 1); st != kOk) return st;
  if (int32_t st = LINUX_mutexCreate(&g.stateMutex, 0, 1); st != kOk) return st;
  __atomic_store_n(&g.outputIndex, kPoolEmpty, __ATOMIC_RELEASE);
  store(g.bitPosition, 0u);
  __atomic_store_n(&g.mutexesReady, 1, __ATOMIC_RELEASE);
  return kOk;
}

// First use from several threads at once creates the mutexes once.
int32_t ensure_mutexes() {
  if (__atomic_load_n(&g.mutexesReady, __ATOMIC_ACQUIRE) != 0) return kOk;
  while (__atomic_exchange_n(&g_creating, 1, __ATOMIC_ACQUIRE) != 0) LINUX_sleepMS(1);
  int32_t status = load(g.mutexesReady) != 0 ? kOk : create_mutexes();
  __atomic_store_n(&g_creating, 0, __ATOMIC_RELEASE);
  return status;
}

// One step of a barrier: the caller's tag goes into the next depot byte,
// the depot is mixed, then a pause.
void tag_step(uint32_t &position, uint8_t tag) {
  position = (position + 1) % kDepotBytes;
  flip(position, tag);
  mix();
  LINUX_sleepMS(50);
}

int32_t join_start_barrier(uint8_t tag) {
  uint32_t position = tag % kDepotBytes;
  for (;;) {
    if (stopped()) return ERR_RNG_SEED_STOPPED;
    tag_step(position, tag);
    int32_t held = 0;
    if (VRTOS_mutexWait(g.stateMutex, &held) == kOk) {
      if (load(g.cycleState) != 2 && all_states(1)) store(g.cycleState, 2);
    }
    VRTOS_mutexRelease(g.stateMutex, &held);
    if (load(g.cycleState) == 2) return kOk;
  }
}

int32_t join_end_barrier(uint8_t tag) {
  uint32_t position = tag % kDepotBytes;
  for (;;) {
    if (stopped()) return ERR_RNG_SEED_STOPPED;
    tag_step(position, tag);
    int32_t held = 0;
    if (VRTOS_mutexWait(g.stateMutex, &held) == kOk) {
      if (load(g.cycleState) != 4 && all_states(3)) {
        // Hand the cycle over, then mix so that the handed-over bytes do
        // not stay in the depot.
        for (uint32_t i = 0; i < kDepotBytes; ++i)
          store(g.pool[i], static_cast<uint8_t>(load(g.pool[i]) ^ load(g.block[i])));
        mix();
        __atomic_store_n(&g.outputIndex, 0u, __ATOMIC_RELEASE);
        __atomic_store_n(&g.cycleState, 4, __ATOMIC_RELEASE);
      }
    }
    VRTOS_mutexRelease(g.stateMutex, &held);
    if (load(g.cycleState) == 4) return kOk;
  }
}

void dormant(int self, uint32_t ms) {
  set_state(self, 4);
  while (state(self) == 4 && !stopped()) LINUX_sleepMS(ms);
}

// Ends a thread: the other two and every later push and extraction stop too.
void *thread_exit() {
  request_stop();
  __atomic_fetch_sub(&g_running, 1, __ATOMIC_RELEASE);
  return nullptr;
}

void *toggle_thread(void *) {
  LINUX_destroyThread(LINUX_currentThreadId());  // nobody joins the depot's threads
  RtosTime t;
  while (!stopped()) {
    set_state(kToggle, 1);
    if (join_start_barrier(17) != kOk) break;
    set_state(kToggle, 2);
    for (uint32_t r = 0; r < 8 && !stopped(); ++r) {
      mark(t);
      for (int n = 0; n < 48 && !stopped(); ++n) {
        flip(r, 0x10);
        thread_sleep(t, 13);
      }
    }
    if (stopped()) break;
    set_state(kToggle, 3);
    mark(t);
    while (state(kHash) != 3 && !stopped()) {
      for (uint32_t i = 0; i < kDepotBytes && state(kHash) != 3; ++i) {
        flip(i, 0x10);
        thread_sleep(t, 13);
      }
    }
    if (join_end_barrier(144) != kOk) break;
    dormant(kToggle, 2100);
  }
  return thread_exit();
}

void *scramble_thread(void *) {
  LINUX_destroyThread(LINUX_currentThreadId());
  RtosTime t;
  auto scramble = [](uint32_t i) { store(g.block[i], scramble_byte(load(g.block[i]))); };
  while (!stopped()) {
    set_state(kScramble, 1);
    if (join_start_barrier(34) != kOk) break;
    set_state(kScramble, 2);
    for (uint32_t r = 0; r < 8 && !stopped(); ++r) {
      mark(t);
      for (uint32_t i = kDepotBytes; i-- > 0 && !stopped();) {
        scramble(i);
        thread_sleep(t, 7);
      }
    }
    if (stopped()) break;
    set_state(kScramble, 3);
    mark(t);
    while (state(kHash) != 3 && !stopped()) {
      for (uint32_t i = kDepotBytes; i-- > 0 && state(kHash) != 3 && !stopped();) {
        scramble(i);
        thread_sleep(t, 7);
      }
    }
    if (join_end_barrier(162) != kOk) break;
    dormant(kScramble, 2300);
  }
  return thread_exit();
}

void *hash_thread(void *) {
  LINUX_destroyThread(LINUX_currentThreadId());
  RtosTime t;
  while (!stopped()) {
    set_state(kHash, 1);
    if (join_start_barrier(51) != kOk) break;
    set_state(kHash, 2);
    // Timed slices of (j + 1) * 19 ms of back-to-back mixing: about 23.4 s.
    for (uint32_t r = 0; r < 8 && !stopped(); ++r) {
      for (uint32_t j = 0; j < 49 && !stopped(); j += 7) {
        mark(t);
        while (ms_since(t) < (j + 1) * 19) mix();
        thread_sleep(t, 3);
      }
    }
    if (stopped()) break;
    set_state(kHash, 3);
    if (join_end_barrier(59) != kOk) break;
    dormant(kHash, 2700);
  }
  return thread_exit();
}

int32_t start_threads() {
  RtosTime t0;
  mark(t0);
  ThreadEntry entries[3] = {toggle_thread, scramble_thread, hash_thread};
  for (int i = 0; i < 3; ++i) {
    __atomic_fetch_add(&g_running, 1, __ATOMIC_RELAXED);
    if (int32_t st = LINUX_createThread(entries[i], nullptr, 0, &g.threadId[i]); st != kOk) {
      __atomic_fetch_sub(&g_running, 1, __ATOMIC_RELAXED);
      return st;
    }
  }
  while (state(0) > 2 || state(1) > 2 || state(2) > 2) {
    mix();
    poll_sleep(t0);
  }
  return kOk;
}

void restart_cycle_if_dormant() {
  if (load(g.cycleState) == 4 && all_states(4)) {
    store(g.cycleState, 1);
    for (int i = 0; i < 3; ++i) set_state(i, 1);
  }
}

}  // namespace

uint8_t scramble_byte(uint8_t x) {
  const uint32_t v = x;
  return static_cast<uint8_t>(v ^ (v >> 2) ^ (v >> 5) ^ (13 * v) ^ (37 * v) ^ (57 * v));
}

void snapshot(uint8_t depot[64], uint8_t pool[48], uint32_t *outputIndex, uint32_t *bitPosition) {
  for (int i = 0; i < 64; ++i) depot[i] = load(g.block[i]);
  for (int i = 0; i < 48; ++i) pool[i] = load(g.pool[i]);
  *outputIndex = __atomic_load_n(&g.outputIndex, __ATOMIC_ACQUIRE);
  *bitPosition = load(g.bitPosition);
}

int running_threads() { return __atomic_load_n(&g_running, __ATOMIC_ACQUIRE); }

}  // namespace kel::depot

using namespace kel::depot;
using kel::random::kNullPointer;
using kel::random::kOk;

int32_t RNG_SEED_addEntropyBit(uint8_t entropyBit) {
  if (stopped()) return ERR_RNG_SEED_STOPPED;
  if (int32_t st = ensure_mutexes(); st != kOk) return st;
  int32_t held = 0;
  int32_t status = VRTOS_mutexWait(g.depotMutex, &held);
  if (status == kOk) {
    const uint32_t position = (load(g.bitPosition) + 1) % kDepotBits;
    store(g.bitPosition, position);
    if ((entropyBit & 1) != 0) flip(position / 8, static_cast<uint8_t>(1u << (position % 8)));
  }
  VRTOS_mutexRelease(g.depotMutex, &held);
  return status;
}

int32_t RNG_SEED_extractDepotBits(uint8_t *buffer, uint32_t count) {
  RtosTime t0;
  mark(t0);
  if (stopped()) return ERR_RNG_SEED_STOPPED;
  if (buffer == nullptr && count != 0) return kNullPointer;
  bool start = false;
  if (__atomic_load_n(&g.mutexesReady, __ATOMIC_ACQUIRE) == 0) {
    if (int32_t st = ensure_mutexes(); st != kOk) return st;
    start = true;
  }
  int32_t held = 0;
  if (int32_t st = VRTOS_mutexWait(g.depotMutex, &held); st != kOk) return st;
  // Under depotMutex, so two first extractions do not both start threads.
  if (load(g.threadsStarted) == 0) {
    for (int i = 0; i < 3; ++i) set_state(i, 0);
    store(g.cycleState, 0);
    start = true;
  }
  int32_t status = kOk;
  if (start) {
    store(g.cycleState, 1);
    status = start_threads();
    if (status == kOk) store(g.threadsStarted, 1);
  }
  uint32_t wanted = count;
  while (status == kOk) {
    if (stopped()) {
      status = ERR_RNG_SEED_STOPPED;
      break;
    }
    const uint32_t index = __atomic_load_n(&g.outputIndex, __ATOMIC_ACQUIRE);
    const uint32_t available = index < kPoolEmpty ? kPoolEmpty - index : 0;
    const uint32_t take = wanted < available ? wanted : available;
    if (take > 0) {
      for (uint32_t i = 0; i < take; ++i) {
        *buffer++ = load(g.pool[index + i]);
        store(g.pool[index + i], uint8_t{0});
      }
      __atomic_store_n(&g.outputIndex, index + take, __ATOMIC_RELEASE);
      wanted -= take;
    } else if (load(g.cycleState) == 4 && all_states(4)) {
      restart_cycle_if_dormant();
    } else if (load(g.cycleState) != 4) {
      mix();
      poll_sleep(t0);
    }
    if (wanted == 0) break;
  }
  restart_cycle_if_dormant();
  VRTOS_mutexRelease(g.depotMutex, &held);
  return status;
}

int32_t RNG_SEED_entropyThreadIds(ThreadId **toggle, ThreadId **scramble, ThreadId **hash) {
  if (load(g.mutexesReady) == 0) return ERR_RNG_SEED_STATE;
  if (toggle == nullptr || scramble == nullptr || hash == nullptr) return kNullPointer;
  *toggle = &g.threadId[0];
  *scramble = &g.threadId[1];
  *hash = &g.threadId[2];
  return kOk;
}

int32_t RNG_SEED_killEntropyThreads(void) {
  request_stop();
  return kOk;
}

int32_t RNG_SEED_freeMutexes(void) {
  if (g.stateMutex != nullptr) LINUX_mutexFree(&g.stateMutex);
  if (g.depotMutex != nullptr) LINUX_mutexFree(&g.depotMutex);
  return kOk;
}

int32_t RNG_SEED_resetState(void) {
  store(g.stopRequested, 0);
  store(g.mutexesReady, 0);
  store(g.threadsStarted, 0);
  return kOk;
}
