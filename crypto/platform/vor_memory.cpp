// Byte order and memory: thin wrappers over the C library that add null
// checks, a size limit (VOR_MALLOC) and a constant-time match.
#include <cstdlib>
#include <cstring>

#include <atomic>

#include "crypto/common/alloc.h"
#include "kel/vor.h"

namespace kel::mem {
namespace {

std::atomic<uint64_t> g_count{0};
std::atomic<int64_t> g_failAfter{-1};
std::atomic<AllocObserver> g_allocObserver{nullptr};
std::atomic<ReleaseObserver> g_releaseObserver{nullptr};

// Counts the allocation and says whether an injected failure is due.
bool injected_failure() {
  g_count.fetch_add(1, std::memory_order_relaxed);
  int64_t left = g_failAfter.load(std::memory_order_relaxed);
  while (left >= 0) {
    if (g_failAfter.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return left == 0;
  }
  return false;
}

}  // namespace

uint64_t allocation_count() { return g_count.load(std::memory_order_relaxed); }

void fail_after(int64_t successes) { g_failAfter.store(successes, std::memory_order_relaxed); }

void observe(AllocObserver onAlloc, ReleaseObserver onRelease) {
  g_allocObserver.store(onAlloc, std::memory_order_relaxed);
  g_releaseObserver.store(onRelease, std::memory_order_relaxed);
}

namespace {

void *allocate(uint32_t size) {
  void *block = injected_failure() ? nullptr : std::malloc(size ? size : 1);
  if (block != nullptr) {
    if (AllocObserver observer = g_allocObserver.load(std::memory_order_relaxed)) observer(block, size);
  }
  return block;
}

void release(void *block) {
  if (ReleaseObserver observer = g_releaseObserver.load(std::memory_order_relaxed)) observer(block);
  std::free(block);
}

}  // namespace

}  // namespace kel::mem

uint16_t SWAPWORD(uint16_t value) { return static_cast<uint16_t>(value << 8 | value >> 8); }

uint32_t SWAPDWORD(uint32_t value) { return __builtin_bswap32(value); }

uint32_t VOR_NTOHL(const uint8_t *b) {
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

uint16_t VOR_NTOHS(const uint8_t *b) { return static_cast<uint16_t>(b[0] << 8 | b[1]); }

void VOR_HTONL(uint8_t *b, uint32_t v) {
  b[0] = static_cast<uint8_t>(v >> 24);
  b[1] = static_cast<uint8_t>(v >> 16);
  b[2] = static_cast<uint8_t>(v >> 8);
  b[3] = static_cast<uint8_t>(v);
}

void VOR_HTONS(uint8_t *b, uint16_t v) {
  b[0] = static_cast<uint8_t>(v >> 8);
  b[1] = static_cast<uint8_t>(v);
}

int32_t VOR_MEMMOVE(void *dest, const void *src, int32_t length) {
  if (dest == nullptr || src == nullptr) return ERR_NULL_POINTER;
  if (length > 0) std::memmove(dest, src, static_cast<size_t>(length));
  return 0;
}

int32_t VOR_MEMCPY(void *dest, const void *src, int32_t length) {
  if (dest == nullptr || src == nullptr) return ERR_NULL_POINTER;
  if (length > 0) std::memcpy(dest, src, static_cast<size_t>(length));
  return 0;
}

int32_t VOR_MEMSET(void *dest, int32_t value, int32_t length) {
  if (dest == nullptr) return ERR_NULL_POINTER;
  if (length > 0) std::memset(dest, value & 0xff, static_cast<size_t>(length));
  return 0;
}

int32_t VOR_MEMCMP(const void *first, const void *second, uint32_t length, int32_t *result) {
  if (first == nullptr || second == nullptr || result == nullptr) return ERR_NULL_POINTER;
  *result = length ? std::memcmp(first, second, length) : 0;
  return 0;
}

int32_t VOR_SAFEMATCH(const uint8_t *first, uint32_t firstLength, const uint8_t *second, uint32_t secondLength,
                      uint32_t *match) {
  if (first == nullptr || second == nullptr || match == nullptr) return ERR_NULL_POINTER;
  // Visit every byte of the second input whatever differs: the time depends on
  // its length only. An empty first input never matches a non-empty second.
  uint32_t acc = firstLength ^ secondLength;
  for (uint32_t i = 0, j = 0; i < secondLength; ++i) {
    acc |= static_cast<uint32_t>(second[i] ^ (firstLength ? first[j] : 0u));
    if (++j == firstLength) j = 0;
  }
  *match = acc == 0 ? 1 : 0;
  return 0;
}

int32_t VOR_XORCPY(void *dest, const void *src, uint32_t length) {
  if (dest == nullptr || src == nullptr) return ERR_NULL_POINTER;
  auto *d = static_cast<uint8_t *>(dest);
  const auto *s = static_cast<const uint8_t *>(src);
  for (uint32_t i = 0; i < length; ++i) d[i] ^= s[i];
  return 0;
}

int32_t VOR_MALLOC(void **block, uint32_t size) {
  if (block == nullptr) return ERR_MEM_ALLOC_PTR;
  if (size >= VOR_MALLOC_LIMIT) {
    *block = nullptr;
    return ERR_MEM_ALLOC_FAIL;
  }
  *block = kel::mem::allocate(size);
  return *block ? 0 : ERR_MEM_ALLOC_FAILED;
}

int32_t VOR_FREE(void **block) {
  if (block == nullptr || *block == nullptr) return ERR_MEM_FREE_PTR;
  kel::mem::release(*block);  // the caller's pointer is left as it is
  return 0;
}

int32_t VOR_alloc(uint32_t size, void **block) {
  if (block == nullptr) return ERR_NULL_POINTER;
  *block = kel::mem::allocate(size);
  return *block ? 0 : ERR_MEM_ALLOC_FAIL;
}

int32_t VOR_free(void **block) {
  if (block == nullptr || *block == nullptr) return ERR_NULL_POINTER;
  kel::mem::release(*block);
  *block = nullptr;
  return 0;
}
