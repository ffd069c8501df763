// Allocation and release of cipher contexts: every context that held key
// material is zeroed before it goes back to the allocator.
#include <atomic>

#include "crypto/cipher/internal.h"
#include "kel/vor.h"

namespace kel::cipher {
namespace {

std::atomic<ReleaseObserver> g_observer{nullptr};

}  // namespace

void *alloc_zeroed(size_t size) {
  void *block = nullptr;
  if (VOR_alloc(static_cast<uint32_t>(size), &block) != 0) return nullptr;
  std::memset(block, 0, size);
  return block;
}

void release(void **pp, size_t size) {
  if (pp == nullptr || *pp == nullptr) return;
  secure_zero(*pp, size);
  if (ReleaseObserver observer = g_observer.load(std::memory_order_relaxed)) observer(*pp, size);
  VOR_free(pp);
}

void set_release_observer(ReleaseObserver observer) { g_observer.store(observer, std::memory_order_relaxed); }

}  // namespace kel::cipher
