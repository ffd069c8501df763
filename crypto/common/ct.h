// Hooks of the constant-time check (tests/ct). In the library they are
// empty or plain; the check compiles the toolkit with KEL_CT_CHECK_VALGRIND
// or KEL_CT_CHECK_MSAN, where they talk to the checker.
//
// KEL_DECLASSIFY(p, n): a value derived from secrets whose outcome is meant
// to be seen (a tag comparison's verdict, the continuous test's verdict).
//
// KEL_VALUE_BARRIER(x): keeps the compiler from reasoning about x (an empty
// asm). MemorySanitizer checks the inputs of an asm as if they were branched
// on, so under it the barrier is left out: that can only add reports.
//
// KEL_CT_UNVEIL(p, n) / KEL_CT_VEIL(p, n, secret): around an instruction
// with an immediate operand (AESKEYGENASSIST, SHA1RNDS4), which
// MemorySanitizer checks strictly although it neither branches nor
// addresses memory: the input goes in declassified and the output comes
// out as secret as the input was.
#pragma once

#if defined(KEL_CT_CHECK_VALGRIND)
#include <valgrind/memcheck.h>
#define KEL_DECLASSIFY(p, n) VALGRIND_MAKE_MEM_DEFINED((p), (n))
#elif defined(KEL_CT_CHECK_MSAN)
#include <sanitizer/msan_interface.h>
#define KEL_DECLASSIFY(p, n) __msan_unpoison((p), (n))
#else
#define KEL_DECLASSIFY(p, n) ((void)(p), (void)(n))
#endif

#if defined(KEL_CT_CHECK_MSAN)
#define KEL_VALUE_BARRIER(x) ((void)(x))
#define KEL_CT_UNVEIL(p, n) ([](const void *q, size_t m) {                 \
  const bool secret = __msan_test_shadow(q, m) != -1;                       \
  __msan_unpoison(q, m);                                                    \
  return secret;                                                            \
}((p), (n)))
#define KEL_CT_VEIL(p, n, secret) ((secret) ? __msan_poison((p), (n)) : (void)0)
#else
#define KEL_VALUE_BARRIER(x) __asm__("" : "+r"(x))
#define KEL_CT_UNVEIL(p, n) ((void)(p), (void)(n), false)
#define KEL_CT_VEIL(p, n, secret) ((void)(p), (void)(n), (void)(secret))
#endif

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kel::ct {

// Hides x from the compiler's reasoning, so a mask stays a mask and does not
// turn back into a branch.
template <class W>
inline W barrier(W x) {
  KEL_VALUE_BARRIER(x);
  return x;
}

// All ones when x is non-zero, else zero.
template <class W>
inline W mask_nonzero(W x) {
  static_assert(std::is_unsigned_v<W>);
  return barrier(static_cast<W>(W{0} - static_cast<W>((x | (W{0} - x)) >> (8 * sizeof(W) - 1))));
}
template <class W>
inline W mask_zero(W x) {
  return static_cast<W>(~mask_nonzero(x));
}
template <class W>
inline W mask_eq(W a, W b) {
  return mask_zero(static_cast<W>(a ^ b));
}
// All ones when bit 0 of b is set.
template <class W>
inline W mask_bit(W b) {
  return barrier(static_cast<W>(W{0} - (b & 1)));
}

// a where mask is all ones, b where it is zero.
template <class W>
inline W select(W mask, W a, W b) {
  return static_cast<W>((a & mask) | (b & ~mask));
}

}  // namespace kel::ct

namespace kel {

// No early exit: the time does not depend on where the bytes differ. The
// verdict is public, the bytes are not.
inline bool ct_equal(const uint8_t *a, const uint8_t *b, size_t n) {
  uint8_t diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  KEL_VALUE_BARRIER(diff);
  KEL_DECLASSIFY(&diff, sizeof diff);
  return diff == 0;
}

}  // namespace kel
