// Memory of the toolkit's own objects: a wipe the compiler keeps, buffers
// wiped when their scope ends, and heap objects from the toolkit allocator
// that are zeroed on the way in and wiped on the way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "kel/vor.h"

namespace kel::mem {

// A wipe the compiler may not drop as a dead store.
inline void secure_zero(void *p, size_t n) {
  if (n != 0) {
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
  }
}

// A value (or an array) that is wiped when it goes out of scope, whichever
// return leaves it. Not initialised: fill it before reading.
template <class T>
class Wiped {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  Wiped() = default;
  explicit Wiped(const T &v) : value_(v) {}
  Wiped(const Wiped &) = delete;
  Wiped &operator=(const Wiped &) = delete;
  ~Wiped() { secure_zero(&value_, sizeof value_); }
  T &operator*() { return value_; }
  const T &operator*() const { return value_; }
  T *operator->() { return &value_; }
  T *get() { return &value_; }

 private:
  T value_;
};

// Arrays read like the array itself: w[i], w as a pointer, sizeof w.
template <class T, size_t N>
class Wiped<T[N]> {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  Wiped() = default;
  Wiped(const Wiped &) = delete;
  Wiped &operator=(const Wiped &) = delete;
  ~Wiped() { secure_zero(value_, sizeof value_); }
  operator T *() { return value_; }
  operator const T *() const { return value_; }
  T (&operator*())[N] { return value_; }

 private:
  T value_[N];
};

// A zero-filled heap block from the toolkit allocator, wiped and freed when
// the scope ends.
class WipedBlock {
 public:
  WipedBlock() = default;
  explicit WipedBlock(size_t n) { allocate(n); }
  WipedBlock(const WipedBlock &) = delete;
  WipedBlock &operator=(const WipedBlock &) = delete;
  ~WipedBlock() {
    if (p_ != nullptr) {
      secure_zero(p_, n_);
      VOR_free(&p_);
    }
  }
  // Room for n bytes (one at least); false when the allocator refuses. Once.
  bool allocate(size_t n) {
    if (p_ != nullptr || n >= UINT32_MAX) return false;
    if (VOR_alloc(static_cast<uint32_t>(n == 0 ? 1 : n), &p_) != 0 || p_ == nullptr) {
      p_ = nullptr;
      return false;
    }
    n_ = n;
    std::memset(p_, 0, n);
    return true;
  }
  uint8_t *data() const { return static_cast<uint8_t *>(p_); }
  uint32_t *units() const { return static_cast<uint32_t *>(p_); }

 private:
  void *p_ = nullptr;
  size_t n_ = 0;
};

// A zero-filled T from the toolkit allocator, or null.
template <class T>
T *make() {
  void *block = nullptr;
  if (VOR_alloc(static_cast<uint32_t>(sizeof(T)), &block) != 0) return nullptr;
  std::memset(block, 0, sizeof(T));
  return static_cast<T *>(block);
}

// Wipes *pp as a T, frees it and clears the pointer; nothing on null.
template <class T>
void destroy(void **pp) {
  if (pp == nullptr || *pp == nullptr) return;
  secure_zero(*pp, sizeof(T));
  VOR_free(pp);
}
template <class T>
void destroy(T **pp) {
  destroy<T>(reinterpret_cast<void **>(pp));
}

}  // namespace kel::mem
