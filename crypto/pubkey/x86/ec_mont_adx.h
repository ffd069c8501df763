// Montgomery multiplication for the curve fields and orders with MULX and
// the two carry chains of ADCX/ADOX, inlined into the curve arithmetic; the
// curve kernel table runs them only on CPUs with BMI2 and ADX (use_adx()).
//
// Operand-scanning products, one row per limb of b: the row a b[i] goes into
// the accumulator on two carry chains (ADCX for the low halves, ADOX for the
// high ones), then q m with q = t[0] (-m^-1) mod 2^64, and the accumulator
// moves down one limb. The accumulator stays below 2m, in N + 2 registers
// that rotate from row to row; one masked subtraction of m finishes.
//
// `modulus` points at the limbs of m followed by -m^-1 mod 2^64 (the layout
// of Modulus<N>). The four-limb blocks read their operands through pointers
// and name that memory as inputs, so no memory clobber holds the compiler
// back.
#pragma once

#include <cstdint>

namespace kel::ec {

#if defined(__OPTIMIZE__)
// The limbs a block reads (or, for KEL_OUT, writes) through a pointer, named
// as memory operands so that the compiler orders the block after their
// stores without a memory clobber.
#define KEL_IN(p, n) , "m"(*reinterpret_cast<const uint64_t(*)[n]>(p))
#define KEL_OUT(p, n) , "=m"(*reinterpret_cast<uint64_t(*)[n]>(p))
#define KEL_CLOBBERS "cc"
#else
// An unoptimised build gives each such operand a register of its own for
// the address and runs out: a memory clobber there instead.
#define KEL_IN(p, n)
#define KEL_OUT(p, n)
#define KEL_CLOBBERS "cc", "memory"
#endif
#define KEL_STORE6                                                                                   \
  "movq %[t0], 0(%[r])\n\t"                                                                          \
  "movq %[t1], 8(%[r])\n\t"                                                                          \
  "movq %[t2], 16(%[r])\n\t"                                                                         \
  "movq %[t3], 24(%[r])\n\t"                                                                         \
  "movq %[t4], 32(%[r])\n\t"                                                                         \
  "movq %[t5], 40(%[r])\n\t"

// t[ta] += lo(x y), t[tb] += hi(x y) for the multiplier in rdx and y the
// limb at off(base).
#define KEL_MA(off, base, ta, tb)                                                                    \
  "mulxq " #off "(%[" #base "]), %[lo], %[hi]\n\t"                                                   \
  "adcxq %[lo], %[" #ta "]\n\t"                                                                      \
  "adoxq %[hi], %[" #tb "]\n\t"
// The row's last partial product (in lo, hi) into ta and tb, and the
// carries on: OF is folded into hi first (the high half of a product is at
// most 2^64 - 2, so that cannot carry), which leaves one chain to end in
// tc. z names a register holding 0: the row's fresh top limb, or rdx once
// the last MULX has read it.
#define KEL_TOP(ta, tb, tc, z)                                                                       \
  "adcxq %[lo], %[" #ta "]\n\t"                                                                      \
  "adoxq " z ", %[hi]\n\t"                                                                           \
  "adcxq %[hi], %[" #tb "]\n\t"                                                                      \
  "adcxq " z ", %[" #tc "]\n\t"
#define KEL_ZERO_RDX "movl $0, %%edx\n\t"

// t0 .. t5 += a b[boff / 8], for four limbs (t5 starts at 0).
#define KEL_PRODUCT4(boff, t0, t1, t2, t3, t4, t5)                                                   \
  "movq " #boff "(%[b]), %%rdx\n\t"                                                                  \
  "xorl %k[" #t5 "], %k[" #t5 "]\n\t"                                                                \
  KEL_MA(0, a, t0, t1) KEL_MA(8, a, t1, t2) KEL_MA(16, a, t2, t3)                                    \
  "mulxq 24(%[a]), %[lo], %[hi]\n\t"                                                                 \
  KEL_TOP(t3, t4, t5, "%[" #t5 "]")

#define KEL_ROW4(boff, t0, t1, t2, t3, t4, t5)                                                       \
  KEL_PRODUCT4(boff, t0, t1, t2, t3, t4, t5)                                                         \
  "movq %[" #t0 "], %%rdx\n\t"                                                                       \
  "imulq 32(%[m]), %%rdx\n\t"                                                                        \
  "xorl %k[lo], %k[lo]\n\t"                                                                          \
  KEL_MA(0, m, t0, t1) KEL_MA(8, m, t1, t2) KEL_MA(16, m, t2, t3)                                    \
  "mulxq 24(%[m]), %[lo], %[hi]\n\t" KEL_ZERO_RDX                                                    \
  KEL_TOP(t3, t4, t5, "%%rdx")

// The P-256 prime: with m = (2^64 - 1, 2^32 - 1, 0, 2^64 - 2^32 + 1) and
// -m^-1 = 1, q = t[0] and q m + t[0] .. t[1] is (q << 32) + t[1] with q >> 32
// carried on; one product for the top limb (left in hi), one carry chain
// that the caller finishes.
#define KEL_FOLD256(t0, t1, t2, t3)                                                                  \
  "movq %[" #t0 "], %%rdx\n\t"                                                                       \
  "mulxq 24(%[m]), %[lo], %[hi]\n\t"                                                                 \
  "shlq $32, %[" #t0 "]\n\t"                                                                         \
  "shrq $32, %%rdx\n\t"                                                                              \
  "addq %[" #t0 "], %[" #t1 "]\n\t"                                                                  \
  "adcq %%rdx, %[" #t2 "]\n\t"                                                                       \
  "adcq %[lo], %[" #t3 "]\n\t"

#define KEL_ROW256(boff, t0, t1, t2, t3, t4, t5)                                                     \
  KEL_PRODUCT4(boff, t0, t1, t2, t3, t4, t5)                                                         \
  KEL_FOLD256(t0, t1, t2, t3)                                                                        \
  "adcq %[hi], %[" #t4 "]\n\t"                                                                       \
  "adcq $0, %[" #t5 "]\n\t"

// The first row of a P-256 product: the accumulator starts at zero, so
// the products go straight into it, one carry chain.
#define KEL_FIRST256(t0, t1, t2, t3, t4, t5)                                                         \
  "xorl %k[" #t5 "], %k[" #t5 "]\n\t"                                                                \
  "movq 0(%[b]), %%rdx\n\t"                                                                          \
  "mulxq 0(%[a]), %[" #t0 "], %[" #t1 "]\n\t"                                                        \
  "mulxq 8(%[a]), %[lo], %[" #t2 "]\n\t"                                                             \
  "addq %[lo], %[" #t1 "]\n\t"                                                                       \
  "mulxq 16(%[a]), %[lo], %[" #t3 "]\n\t"                                                            \
  "adcq %[lo], %[" #t2 "]\n\t"                                                                       \
  "mulxq 24(%[a]), %[lo], %[" #t4 "]\n\t"                                                            \
  "adcq %[lo], %[" #t3 "]\n\t"                                                                       \
  "adcq $0, %[" #t4 "]\n\t"                                                                          \
  KEL_FOLD256(t0, t1, t2, t3)                                                                        \
  "adcq %[hi], %[" #t4 "]\n\t"                                                                       \
  "adcq $0, %[" #t5 "]\n\t"

#define KEL_PRODUCT6(boff, t0, t1, t2, t3, t4, t5, t6, t7)                                           \
  "movq " #boff "(%[b]), %%rdx\n\t"                                                                  \
  "xorl %k[" #t7 "], %k[" #t7 "]\n\t"                                                                \
  KEL_MA(0, a, t0, t1) KEL_MA(8, a, t1, t2) KEL_MA(16, a, t2, t3)                                    \
  KEL_MA(24, a, t3, t4) KEL_MA(32, a, t4, t5)                                                       \
  "mulxq 40(%[a]), %[lo], %[hi]\n\t"                                                                 \
  KEL_TOP(t5, t6, t7, "%[" #t7 "]")

#define KEL_ROW6(boff, t0, t1, t2, t3, t4, t5, t6, t7)                                               \
  KEL_PRODUCT6(boff, t0, t1, t2, t3, t4, t5, t6, t7)                                                 \
  "movq %[" #t0 "], %%rdx\n\t"                                                                       \
  "imulq 48(%[m]), %%rdx\n\t"                                                                        \
  "xorl %k[lo], %k[lo]\n\t"                                                                          \
  KEL_MA(0, m, t0, t1) KEL_MA(8, m, t1, t2) KEL_MA(16, m, t2, t3)                                    \
  KEL_MA(24, m, t3, t4) KEL_MA(32, m, t4, t5)                                                       \
  "mulxq 40(%[m]), %[lo], %[hi]\n\t" KEL_ZERO_RDX                                                    \
  KEL_TOP(t5, t6, t7, "%%rdx")

// The P-384 prime: -m^-1 = 2^32 + 1, so q = t[0] + (t[0] << 32), and its
// top three limbs are all 2^64 - 1: one product q (2^64 - 1) serves them all.
#define KEL_ROW384(boff, t0, t1, t2, t3, t4, t5, t6, t7)                                             \
  KEL_PRODUCT6(boff, t0, t1, t2, t3, t4, t5, t6, t7)                                                 \
  "movq %[" #t0 "], %%rdx\n\t"                                                                       \
  "shlq $32, %%rdx\n\t"                                                                              \
  "addq %[" #t0 "], %%rdx\n\t"                                                                       \
  "xorl %k[lo], %k[lo]\n\t"                                                                          \
  KEL_MA(0, m, t0, t1) KEL_MA(8, m, t1, t2) KEL_MA(16, m, t2, t3)                                    \
  "mulxq 24(%[m]), %[lo], %[hi]\n\t"                                                                 \
  "adcxq %[lo], %[" #t3 "]\n\t"                                                                      \
  "adoxq %[hi], %[" #t4 "]\n\t"                                                                      \
  "adcxq %[lo], %[" #t4 "]\n\t"                                                                      \
  "adoxq %[hi], %[" #t5 "]\n\t"                                                                      \
  KEL_ZERO_RDX KEL_TOP(t5, t6, t7, "%%rdx")

// s <- t - m limb by limb (the first limb with `sub`, the rest with `sbb`),
// then t back where that borrowed beyond the carry limb: t < 2m leaves the
// result below m.
// t <- a[off] op b[off] (op: add, adc, sub or sbb, the carry chained).
#define KEL_AB(op, off, t) "movq " #off "(%[a]), %[" #t "]\n\t" #op "q " #off "(%[b]), %[" #t "]\n\t"
// t <- t op m[off], and t <- r[off] where the condition holds.
#define KEL_TM(op, off, t) #op "q " #off "(%[m]), %[" #t "]\n\t"
#define KEL_TAKE(cc, off, t) "cmov" #cc "q " #off "(%[r]), %[" #t "]\n\t"
#define KEL_SUB(op, off, t, s) "movq %[" #t "], %[" #s "]\n\t" #op "q " #off "(%[m]), %[" #s "]\n\t"
#define KEL_KEEP(t, s) "cmovcq %[" #t "], %[" #s "]\n\t"

// A four-limb product with the given row (KEL_ROW4 or KEL_ROW256), ending
// with the subtraction in registers.
#define KEL_MUL4(name, row)                                                                          \
  [[gnu::always_inline]] inline void name(uint64_t *r, const uint64_t *a, const uint64_t *b,         \
                                                const uint64_t *modulus) {                           \
    uint64_t r0 = 0, r1 = 0, r2 = 0, r3 = 0, r4 = 0, r5, lo, hi, d;                                  \
    __asm__(row(0, r0, r1, r2, r3, r4, r5) row(8, r1, r2, r3, r4, r5, r0)                            \
                row(16, r2, r3, r4, r5, r0, r1) row(24, r3, r4, r5, r0, r1, r2)                      \
                KEL_SUB(sub, 0, r4, lo) KEL_SUB(sbb, 8, r5, hi) KEL_SUB(sbb, 16, r0, d)              \
                KEL_SUB(sbb, 24, r1, r3) "sbbq $0, %[r2]\n\t" KEL_KEEP(r4, lo) KEL_KEEP(r5, hi)      \
                KEL_KEEP(r0, d) KEL_KEEP(r1, r3)                                                     \
            : [r0] "+r"(r0), [r1] "+r"(r1), [r2] "+r"(r2), [r3] "+r"(r3), [r4] "+r"(r4),             \
              [r5] "=&r"(r5), [lo] "=&r"(lo), [hi] "=&r"(hi), [d] "=&d"(d)                           \
            : [a] "r"(a), [b] "r"(b), [m] "r"(modulus) KEL_IN(a, 4) KEL_IN(b, 4) KEL_IN(modulus, 5)  \
            : KEL_CLOBBERS);                                                                         \
    r[0] = lo;                                                                                       \
    r[1] = hi;                                                                                       \
    r[2] = d;                                                                                        \
    r[3] = r3;                                                                                       \
  }

KEL_MUL4(mont_mul4_adx, KEL_ROW4)

// What a P-256 product or square does with its result v0 .. v3 (below p)
// before storing it, with s0 .. s4 free: nothing, double it, or subtract
// the element at c. The result stays in v0 .. v3. The pointer c comes from
// memory into s4: a register of its own for the whole block would be one
// more than a frame-pointer build has (the block then clobbers memory, as
// the compiler cannot name what c points at without that register).
#define KEL_AS_IS(v0, v1, v2, v3, s0, s1, s2, s3, s4)
#define KEL_TWICE(v0, v1, v2, v3, s0, s1, s2, s3, s4)                                                \
  "xorl %k[" #s4 "], %k[" #s4 "]\n\t"                                                                \
  "addq %[" #v0 "], %[" #v0 "]\n\t"                                                                  \
  "adcq %[" #v1 "], %[" #v1 "]\n\t"                                                                  \
  "adcq %[" #v2 "], %[" #v2 "]\n\t"                                                                  \
  "adcq %[" #v3 "], %[" #v3 "]\n\t"                                                                  \
  "adcq $0, %[" #s4 "]\n\t"                                                                          \
  KEL_SUB(sub, 0, v0, s0) KEL_SUB(sbb, 8, v1, s1) KEL_SUB(sbb, 16, v2, s2) KEL_SUB(sbb, 24, v3, s3)  \
  "sbbq $0, %[" #s4 "]\n\t"  /* no borrow beyond the carry: 2 v - p */                               \
  "cmovncq %[" #s0 "], %[" #v0 "]\n\t"                                                               \
  "cmovncq %[" #s1 "], %[" #v1 "]\n\t"                                                               \
  "cmovncq %[" #s2 "], %[" #v2 "]\n\t"                                                               \
  "cmovncq %[" #s3 "], %[" #v3 "]\n\t"
#define KEL_LESS_C(v0, v1, v2, v3, s0, s1, s2, s3, s4)                                               \
  "movq %[c], %[" #s4 "]\n\t"                                                                        \
  "subq 0(%[" #s4 "]), %[" #v0 "]\n\t"                                                               \
  "sbbq 8(%[" #s4 "]), %[" #v1 "]\n\t"                                                               \
  "sbbq 16(%[" #s4 "]), %[" #v2 "]\n\t"                                                              \
  "sbbq 24(%[" #s4 "]), %[" #v3 "]\n\t"                                                              \
  "sbbq %[" #s4 "], %[" #s4 "]\n\t"  /* all ones where it borrowed: p back */                        \
  "movq %[" #s4 "], %[" #s0 "]\n\t"                                                                  \
  "movq %[" #s4 "], %[" #s1 "]\n\t"                                                                  \
  "movq %[" #s4 "], %[" #s2 "]\n\t"                                                                  \
  "andq 0(%[m]), %[" #s0 "]\n\t"                                                                     \
  "andq 8(%[m]), %[" #s1 "]\n\t"                                                                     \
  "andq 16(%[m]), %[" #s2 "]\n\t"                                                                    \
  "andq 24(%[m]), %[" #s4 "]\n\t"                                                                    \
  "addq %[" #s0 "], %[" #v0 "]\n\t"                                                                  \
  "adcq %[" #s1 "], %[" #v1 "]\n\t"                                                                  \
  "adcq %[" #s2 "], %[" #v2 "]\n\t"                                                                  \
  "adcq %[" #s4 "], %[" #v3 "]\n\t"
// The pointer a LESS_C step reads, as an operand, and the clobbers.
#define KEL_NO_C
#define KEL_WITH_C , [c] "m"(c)
#define KEL_C_CLOBBERS "cc", "memory"

// The P-256 product, then the post step: r <- post(a b).
#define KEL_MUL256(name, post, c_operand, clobbers)                                                  \
  [[gnu::always_inline]] inline void name(uint64_t *r, const uint64_t *a, const uint64_t *b,         \
                                          [[maybe_unused]] const uint64_t *c,                        \
                                          const uint64_t *modulus) {                                 \
    uint64_t r0, r1, r2, r3, r4, r5, lo, hi, d;                                                      \
    __asm__(KEL_FIRST256(r0, r1, r2, r3, r4, r5) KEL_ROW256(8, r1, r2, r3, r4, r5, r0)               \
                KEL_ROW256(16, r2, r3, r4, r5, r0, r1) KEL_ROW256(24, r3, r4, r5, r0, r1, r2)        \
                KEL_SUB(sub, 0, r4, lo) KEL_SUB(sbb, 8, r5, hi) KEL_SUB(sbb, 16, r0, d)              \
                KEL_SUB(sbb, 24, r1, r3) "sbbq $0, %[r2]\n\t" KEL_KEEP(r4, lo) KEL_KEEP(r5, hi)      \
                KEL_KEEP(r0, d) KEL_KEEP(r1, r3) post(lo, hi, d, r3, r0, r1, r2, r4, r5)             \
            : [r0] "=&r"(r0), [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [r4] "=&r"(r4),        \
              [r5] "=&r"(r5), [lo] "=&r"(lo), [hi] "=&r"(hi), [d] "=&d"(d)                           \
            : [a] "r"(a), [b] "r"(b), [m] "r"(modulus) KEL_IN(a, 4) KEL_IN(b, 4)                     \
              KEL_IN(modulus, 5) c_operand                                                           \
            : clobbers);                                                                             \
    r[0] = lo;                                                                                       \
    r[1] = hi;                                                                                       \
    r[2] = d;                                                                                        \
    r[3] = r3;                                                                                       \
  }

KEL_MUL256(mont_mul_p256_adx, KEL_AS_IS, KEL_NO_C, KEL_CLOBBERS)
KEL_MUL256(mont_mul_twice_p256_adx, KEL_TWICE, KEL_NO_C, KEL_CLOBBERS)
KEL_MUL256(mont_mul_less_p256_adx, KEL_LESS_C, KEL_WITH_C, KEL_C_CLOBBERS)

// One step of the P-256 reduction of the low half (u0 .. u3, a fresh top
// limb taking the place of u0): (u + q m) / 2^64 for q = u0.
#define KEL_RED256(u0, u1, u2, u3)                                                                   \
  KEL_FOLD256(u0, u1, u2, u3)                                                                        \
  "adcq $0, %[hi]\n\t"                                                                               \
  "movq %[hi], %[" #u0 "]\n\t"

// One step of the generic reduction of the low half: q = u0 (-m^-1), then
// u + q m, whose lowest limb is 0, shifted down one limb; the top limb (in
// place of u0) cannot overflow for a modulus below 2^256 - 2^192.
#define KEL_RED4(u0, u1, u2, u3)                                                                     \
  "movq %[" #u0 "], %%rdx\n\t"                                                                       \
  "imulq 32(%[m]), %%rdx\n\t"                                                                        \
  "xorl %k[lo], %k[lo]\n\t"                                                                          \
  KEL_MA(0, m, u0, u1) KEL_MA(8, m, u1, u2) KEL_MA(16, m, u2, u3)                                    \
  "mulxq 24(%[m]), %[lo], %[hi]\n\t"                                                                 \
  "adcxq %[lo], %[" #u3 "]\n\t"                                                                      \
  "adoxq %[" #u0 "], %[hi]\n\t"                                                                      \
  "adcxq %[" #u0 "], %[hi]\n\t"                                                                      \
  "movq %[hi], %[" #u0 "]\n\t"

// A four-limb square with the given reduction step (KEL_RED4 or
// KEL_RED256) for the low half, the high half added, and the subtraction
// in registers. The third argument is not read.
#define KEL_SQR4(name, red, post, c_operand, clobbers)                                               \
  [[gnu::always_inline]] inline void name(uint64_t *r, const uint64_t *a, const uint64_t *,          \
                                          [[maybe_unused]] const uint64_t *c,                        \
                                          const uint64_t *modulus) {                                 \
    uint64_t t0, t1, t2, t3, t4, t5, t6, t7, lo, hi, d;                                              \
    __asm__(                                                                                         \
        /* the cross products a_i a_j (i < j) into t1 .. t6 */                                       \
        "movq 0(%[a]), %%rdx\n\t"                                                                    \
        "mulxq 8(%[a]), %[t1], %[t2]\n\t"                                                            \
        "mulxq 16(%[a]), %[lo], %[t3]\n\t"                                                           \
        "addq %[lo], %[t2]\n\t"                                                                      \
        "mulxq 24(%[a]), %[lo], %[t4]\n\t"                                                           \
        "adcq %[lo], %[t3]\n\t"                                                                      \
        "adcq $0, %[t4]\n\t"                                                                         \
        "movq 8(%[a]), %%rdx\n\t"                                                                    \
        "xorl %k[t5], %k[t5]\n\t"                                                                    \
        "mulxq 16(%[a]), %[lo], %[hi]\n\t"                                                           \
        "adcxq %[lo], %[t3]\n\t"                                                                     \
        "adoxq %[hi], %[t4]\n\t"                                                                     \
        "mulxq 24(%[a]), %[lo], %[hi]\n\t"                                                           \
        "adcxq %[lo], %[t4]\n\t"                                                                     \
        "adoxq %[hi], %[t5]\n\t"                                                                     \
        "movl $0, %k[lo]\n\t"                                                                        \
        "adcxq %[lo], %[t5]\n\t"                                                                     \
        "movq 16(%[a]), %%rdx\n\t"                                                                   \
        "mulxq 24(%[a]), %[lo], %[t6]\n\t"                                                           \
        "addq %[lo], %[t5]\n\t"                                                                      \
        "adcq $0, %[t6]\n\t"                                                                         \
        /* doubled, then the squares a_i^2 on the diagonal (MULX leaves the flags alone) */          \
        "xorl %k[t7], %k[t7]\n\t"                                                                    \
        "addq %[t1], %[t1]\n\t"                                                                      \
        "adcq %[t2], %[t2]\n\t"                                                                      \
        "adcq %[t3], %[t3]\n\t"                                                                      \
        "adcq %[t4], %[t4]\n\t"                                                                      \
        "adcq %[t5], %[t5]\n\t"                                                                      \
        "adcq %[t6], %[t6]\n\t"                                                                      \
        "adcq %[t7], %[t7]\n\t"                                                                      \
        "movq 0(%[a]), %%rdx\n\t"                                                                    \
        "mulxq %%rdx, %[t0], %[hi]\n\t"                                                              \
        "addq %[hi], %[t1]\n\t"                                                                      \
        "movq 8(%[a]), %%rdx\n\t"                                                                    \
        "mulxq %%rdx, %[lo], %[hi]\n\t"                                                              \
        "adcq %[lo], %[t2]\n\t"                                                                      \
        "adcq %[hi], %[t3]\n\t"                                                                      \
        "movq 16(%[a]), %%rdx\n\t"                                                                   \
        "mulxq %%rdx, %[lo], %[hi]\n\t"                                                              \
        "adcq %[lo], %[t4]\n\t"                                                                      \
        "adcq %[hi], %[t5]\n\t"                                                                      \
        "movq 24(%[a]), %%rdx\n\t"                                                                   \
        "mulxq %%rdx, %[lo], %[hi]\n\t"                                                              \
        "adcq %[lo], %[t6]\n\t"                                                                      \
        "adcq %[hi], %[t7]\n\t"                                                                      \
        /* the low half reduced to below m + 1, the high half (below m) added */                     \
        red(t0, t1, t2, t3) red(t1, t2, t3, t0) red(t2, t3, t0, t1)                                  \
        red(t3, t0, t1, t2)                                                                          \
        "addq %[t4], %[t0]\n\t"                                                                      \
        "adcq %[t5], %[t1]\n\t"                                                                      \
        "adcq %[t6], %[t2]\n\t"                                                                      \
        "adcq %[t7], %[t3]\n\t"                                                                      \
        "movl $0, %k[lo]\n\t"                                                                        \
        "adcq $0, %[lo]\n\t"                                                                         \
        KEL_SUB(sub, 0, t0, t4) KEL_SUB(sbb, 8, t1, t5) KEL_SUB(sbb, 16, t2, t6) KEL_SUB(sbb, 24, t3, t7) \
        "sbbq $0, %[lo]\n\t" KEL_KEEP(t0, t4) KEL_KEEP(t1, t5) KEL_KEEP(t2, t6) KEL_KEEP(t3, t7)     \
        post(t4, t5, t6, t7, t0, t1, t2, t3, lo)                                                     \
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5), \
          [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi), "=&d"(d)                   \
        : [a] "r"(a), [m] "r"(modulus) KEL_IN(a, 4) KEL_IN(modulus, 5) c_operand                     \
        : clobbers);                                                                                 \
    r[0] = t4;                                                                                       \
    r[1] = t5;                                                                                       \
    r[2] = t6;                                                                                       \
    r[3] = t7;                                                                                       \
  }

KEL_SQR4(mont_sqr_p256_adx, KEL_RED256, KEL_AS_IS, KEL_NO_C, KEL_CLOBBERS)
KEL_SQR4(mont_sqr_twice_p256_adx, KEL_RED256, KEL_TWICE, KEL_NO_C, KEL_CLOBBERS)
KEL_SQR4(mont_sqr_less_p256_adx, KEL_RED256, KEL_LESS_C, KEL_WITH_C, KEL_C_CLOBBERS)
KEL_SQR4(mont_sqr4_adx, KEL_RED4, KEL_AS_IS, KEL_NO_C, KEL_CLOBBERS)

// Six limbs take fourteen registers: a call of its own, so that its callers
// keep theirs. The row is KEL_ROW6 or KEL_ROW384.
#define KEL_MUL6(name, row)                                                                          \
  [[gnu::noinline]] inline void name(uint64_t *r, const uint64_t *a, const uint64_t *b,              \
                                     const uint64_t *modulus) {                                      \
    uint64_t r0 = 0, r1 = 0, r2 = 0, r3 = 0, r4 = 0, r5 = 0, r6 = 0, r7, lo, hi, d;                  \
    /* the operand pointers serve as the last two scratch registers of the subtraction */           \
    uint64_t pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);               \
    __asm__(row(0, r0, r1, r2, r3, r4, r5, r6, r7) row(8, r1, r2, r3, r4, r5, r6, r7, r0)            \
                row(16, r2, r3, r4, r5, r6, r7, r0, r1) row(24, r3, r4, r5, r6, r7, r0, r1, r2)      \
                row(32, r4, r5, r6, r7, r0, r1, r2, r3) row(40, r5, r6, r7, r0, r1, r2, r3, r4)      \
                KEL_SUB(sub, 0, r6, lo) KEL_SUB(sbb, 8, r7, hi) KEL_SUB(sbb, 16, r0, d)              \
                KEL_SUB(sbb, 24, r1, r5) KEL_SUB(sbb, 32, r2, a) KEL_SUB(sbb, 40, r3, b)             \
                "sbbq $0, %[r4]\n\t" KEL_KEEP(r6, lo) KEL_KEEP(r7, hi) KEL_KEEP(r0, d)               \
                KEL_KEEP(r1, r5) KEL_KEEP(r2, a) KEL_KEEP(r3, b)                                     \
            : [r0] "+r"(r0), [r1] "+r"(r1), [r2] "+r"(r2), [r3] "+r"(r3), [r4] "+r"(r4),             \
              [r5] "+r"(r5), [r6] "+r"(r6), [r7] "=&r"(r7), [lo] "=&r"(lo), [hi] "=&r"(hi),          \
              [d] "=&d"(d), [a] "+r"(pa), [b] "+r"(pb)                                               \
            : [m] "r"(modulus)                                                                       \
            : "cc", "memory"); /* fourteen registers: no room for the operands' addresses */        \
    r[0] = lo;                                                                                       \
    r[1] = hi;                                                                                       \
    r[2] = d;                                                                                        \
    r[3] = r5;                                                                                       \
    r[4] = pa;                                                                                       \
    r[5] = pb;                                                                                       \
  }

KEL_MUL6(mont_mul6_adx, KEL_ROW6)
KEL_MUL6(mont_mul_p384_adx, KEL_ROW384)

// r <- a + b and r <- a - b modulo a four-limb m (a, b below m), plain
// x86-64: the sum less m unless that borrows beyond the sum's carry; the
// difference plus m where it borrowed (a mask, then one carry chain).
[[gnu::always_inline]] inline void mod_add4_x64(uint64_t *r, const uint64_t *a, const uint64_t *b,
                                                const uint64_t *modulus) {
  uint64_t t0, t1, t2, t3, s0, s1, s2, s3, c;
  __asm__(KEL_AB(add, 0, t0) KEL_AB(adc, 8, t1) KEL_AB(adc, 16, t2) KEL_AB(adc, 24, t3)
          "movl $0, %k[c]\n\t"
          "adcq $0, %[c]\n\t"
          KEL_SUB(sub, 0, t0, s0) KEL_SUB(sbb, 8, t1, s1) KEL_SUB(sbb, 16, t2, s2) KEL_SUB(sbb, 24, t3, s3)
          "sbbq $0, %[c]\n\t" KEL_KEEP(t0, s0) KEL_KEEP(t1, s1) KEL_KEEP(t2, s2) KEL_KEEP(t3, s3)
          : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [s0] "=&r"(s0), [s1] "=&r"(s1),
            [s2] "=&r"(s2), [s3] "=&r"(s3), [c] "=&r"(c)
          : [a] "r"(a), [b] "r"(b), [m] "r"(modulus) KEL_IN(a, 4) KEL_IN(b, 4) KEL_IN(modulus, 4)
          : KEL_CLOBBERS);
  r[0] = s0;
  r[1] = s1;
  r[2] = s2;
  r[3] = s3;
}

[[gnu::always_inline]] inline void mod_sub4_x64(uint64_t *r, const uint64_t *a, const uint64_t *b,
                                                const uint64_t *modulus) {
  uint64_t t0, t1, t2, t3, m0, m1, m2, m3;
  __asm__(KEL_AB(sub, 0, t0) KEL_AB(sbb, 8, t1) KEL_AB(sbb, 16, t2) KEL_AB(sbb, 24, t3)
          "sbbq %[m3], %[m3]\n\t"  // all ones where it borrowed
          "movq %[m3], %[m0]\n\t"
          "movq %[m3], %[m1]\n\t"
          "movq %[m3], %[m2]\n\t"
          "andq 0(%[m]), %[m0]\n\t"
          "andq 8(%[m]), %[m1]\n\t"
          "andq 16(%[m]), %[m2]\n\t"
          "andq 24(%[m]), %[m3]\n\t"
          "addq %[m0], %[t0]\n\t"
          "adcq %[m1], %[t1]\n\t"
          "adcq %[m2], %[t2]\n\t"
          "adcq %[m3], %[t3]\n\t"
          : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [m0] "=&r"(m0), [m1] "=&r"(m1),
            [m2] "=&r"(m2), [m3] "=&r"(m3)
          : [a] "r"(a), [b] "r"(b), [m] "r"(modulus) KEL_IN(a, 4) KEL_IN(b, 4) KEL_IN(modulus, 4)
          : KEL_CLOBBERS);
  r[0] = t0;
  r[1] = t1;
  r[2] = t2;
  r[3] = t3;
}

// The same for six limbs, through the destination: the sum (or the
// difference) is stored, then its corrected form is computed in the same
// registers and kept where the correction did not underflow (or where the
// difference did not borrow). r may be a or b.
[[gnu::always_inline]] inline void mod_add6_x64(uint64_t *r, const uint64_t *a, const uint64_t *b,
                                                const uint64_t *modulus) {
  uint64_t t0, t1, t2, t3, t4, t5, c;
  __asm__(KEL_AB(add, 0, t0) KEL_AB(adc, 8, t1) KEL_AB(adc, 16, t2) KEL_AB(adc, 24, t3) KEL_AB(adc, 32, t4)
          KEL_AB(adc, 40, t5)
          "movl $0, %k[c]\n\t"
          "adcq $0, %[c]\n\t"
          KEL_STORE6
          KEL_TM(sub, 0, t0) KEL_TM(sbb, 8, t1) KEL_TM(sbb, 16, t2) KEL_TM(sbb, 24, t3) KEL_TM(sbb, 32, t4)
          KEL_TM(sbb, 40, t5)
          "sbbq $0, %[c]\n\t"  // borrowed beyond the carry: keep the sum
          KEL_TAKE(c, 0, t0) KEL_TAKE(c, 8, t1) KEL_TAKE(c, 16, t2) KEL_TAKE(c, 24, t3) KEL_TAKE(c, 32, t4)
          KEL_TAKE(c, 40, t5)
          KEL_STORE6
          : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
            [c] "=&r"(c) KEL_OUT(r, 6)
          : [r] "r"(r), [a] "r"(a), [b] "r"(b), [m] "r"(modulus) KEL_IN(a, 6) KEL_IN(b, 6) KEL_IN(modulus, 6)
          : KEL_CLOBBERS);
}

[[gnu::always_inline]] inline void mod_sub6_x64(uint64_t *r, const uint64_t *a, const uint64_t *b,
                                                const uint64_t *modulus) {
  uint64_t t0, t1, t2, t3, t4, t5, c;
  __asm__(KEL_AB(sub, 0, t0) KEL_AB(sbb, 8, t1) KEL_AB(sbb, 16, t2) KEL_AB(sbb, 24, t3) KEL_AB(sbb, 32, t4)
          KEL_AB(sbb, 40, t5)
          "sbbq %[c], %[c]\n\t"  // all ones where it borrowed
          KEL_STORE6
          KEL_TM(add, 0, t0) KEL_TM(adc, 8, t1) KEL_TM(adc, 16, t2) KEL_TM(adc, 24, t3) KEL_TM(adc, 32, t4)
          KEL_TM(adc, 40, t5)
          "testq %[c], %[c]\n\t"  // no borrow: keep the difference
          KEL_TAKE(z, 0, t0) KEL_TAKE(z, 8, t1) KEL_TAKE(z, 16, t2) KEL_TAKE(z, 24, t3) KEL_TAKE(z, 32, t4)
          KEL_TAKE(z, 40, t5)
          KEL_STORE6
          : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
            [c] "=&r"(c) KEL_OUT(r, 6)
          : [r] "r"(r), [a] "r"(a), [b] "r"(b), [m] "r"(modulus) KEL_IN(a, 6) KEL_IN(b, 6) KEL_IN(modulus, 6)
          : KEL_CLOBBERS);
}

#undef KEL_MA
#undef KEL_TOP
#undef KEL_ZERO_RDX
#undef KEL_ROW4
#undef KEL_PRODUCT4
#undef KEL_ROW6
#undef KEL_PRODUCT6
#undef KEL_ROW384
#undef KEL_MUL6
#undef KEL_ROW256
#undef KEL_FIRST256
#undef KEL_MUL256
#undef KEL_AS_IS
#undef KEL_TWICE
#undef KEL_LESS_C
#undef KEL_NO_C
#undef KEL_WITH_C
#undef KEL_C_CLOBBERS
#undef KEL_RED256
#undef KEL_RED4
#undef KEL_SQR4
#undef KEL_SUB
#undef KEL_AB
#undef KEL_TM
#undef KEL_TAKE
#undef KEL_KEEP
#undef KEL_MUL4
#undef KEL_IN
#undef KEL_OUT
#undef KEL_CLOBBERS
#undef KEL_STORE6

}  // namespace kel::ec
