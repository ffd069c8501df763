// Helpers shared by the curve source files.
#pragma once

#include <cstdint>

#include "kel/ec.h"

namespace kel::ec {

// 0 when (x, y) satisfies the curve equation, else -6011.
int32_t verify_point(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y);

// Decodes a SEC 1 uncompressed point into x and y and checks it is on the curve.
int32_t decode_point(const PrimeCurve *curve, const uint8_t *bytes, int32_t length, uint32_t *x, uint32_t *y);

// Draws a scalar 1 <= k < order through the generator (n units into k).
int32_t random_scalar(const PrimeCurve *curve, RngFun rng, void *arg, uint32_t *k);

}  // namespace kel::ec
