// Helpers shared by the finite-field public-key code (Diffie-Hellman and
// DSA): records from the toolkit allocator, secret vlongs that are wiped
// before they go back to a queue or the heap, and random integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "crypto/bignum/internal.h"
#include "crypto/common/mem.h"
#include "kel/random.h"
#include "kel/vlong.h"
#include "kel/vor.h"

namespace kel::ffc {

constexpr int32_t kOk = 0;
constexpr int32_t kNull = -6001;
constexpr int32_t kNoMemory = -6101;

using mem::secure_zero;

// Zeroes every unit the vlong's buffer holds (not only the significant ones:
// a shorter later value leaves the old high units behind) and makes it 0.
inline void wipe(vlong *v) {
  if (v == nullptr) return;
  if (v->units != nullptr) secure_zero(v->units, sizeof(uint32_t) * v->capacity);
  v->length = 0;
  v->isNegative = 0;
}

// Releases *v (to the queue when given). A secret is wiped first, because a
// queued vlong keeps its value until the queue is emptied.
inline void release(vlong **v, vlong **queue, bool secret) {
  if (v == nullptr || *v == nullptr) return;
  if (secret) wipe(*v);
  VLONG_freeVlong(v, queue);
}

// A vlong temporary that is released when the scope ends, on every path;
// a secret one is wiped first.
class Held {
 public:
  Held(vlong **queue, bool secret) : queue_(queue), secret_(secret) {}
  ~Held() { release(&v_, queue_, secret_); }
  Held(const Held &) = delete;
  Held &operator=(const Held &) = delete;
  vlong **out() {
    release(&v_, queue_, secret_);  // a reused slot never leaks its old value
    return &v_;
  }
  vlong *get() const { return v_; }
  vlong *take() {
    vlong *v = v_;
    v_ = nullptr;
    return v;
  }

 private:
  vlong *v_ = nullptr;
  vlong **queue_;
  bool secret_;
};

// A heap byte buffer from the toolkit allocator, wiped and freed with the
// scope.
class WipedBuffer {
 public:
  explicit WipedBuffer(uint32_t size) : size_(size) {
    if (VOR_alloc(size == 0 ? 1 : size, &block_) != 0) block_ = nullptr;
  }
  ~WipedBuffer() {
    if (block_ != nullptr) {
      secure_zero(block_, size_);
      VOR_free(&block_);
    }
  }
  WipedBuffer(const WipedBuffer &) = delete;
  WipedBuffer &operator=(const WipedBuffer &) = delete;
  uint8_t *data() const { return static_cast<uint8_t *>(block_); }
  uint32_t size() const { return size_; }

 private:
  void *block_ = nullptr;
  uint32_t size_;
};

// A zeroed record of type T from the toolkit allocator; null when there is
// no memory.
template <class T>
T *make_record() {
  void *m = nullptr;
  if (VOR_alloc(sizeof(T), &m) != 0 || m == nullptr) return nullptr;
  std::memset(m, 0, sizeof(T));
  return new (m) T{};
}

// Zeroes the record, frees it and nulls the caller's pointer.
template <class T>
void free_record(T **pp) {
  secure_zero(*pp, sizeof(T));
  void *m = *pp;
  VOR_free(&m);
  *pp = nullptr;
}

// A new non-negative integer from `bytes` random bytes read big-endian
// (through a heap buffer that is wiped and freed); generator statuses pass
// through. The result is a secret: callers hold it in a secret Held.
int32_t random_integer(RandomContext *rng, uint32_t bytes, vlong **out, vlong **queue);

// The same, drawing the bytes through an RngFun.
int32_t random_integer(RngFun fun, void *arg, uint32_t bytes, vlong **out, vlong **queue);

// New x^e mod m for a secret exponent e over a public odd modulus m and a
// public base x (Diffie-Hellman's p with g or the peer value, DSA's p with
// g): the big-number code's fixed-window constant-time exponentiation, with
// the Montgomery set-up by division, which is fine for public values (the
// generic constant-time entry also hides the modulus, at a cost RSA's CRT
// primes need and these moduli do not). -6004 for an even or zero m.
int32_t pow_secret_exponent(const vlong *x, const vlong *e, const vlong *m, vlong **out, vlong **queue);

// New x mod m, reduced into [0, m) (the sign of x is honoured).
int32_t mod_nonneg(const vlong *x, const vlong *m, vlong **out, vlong **queue);

}  // namespace kel::ffc
