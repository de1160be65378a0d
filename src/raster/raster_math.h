#pragma once
// 16.16 fixed-point arithmetic, a rounding multiply-divide and the hypotenuse.
// Products and quotients are formed in 64 bits, so no argument can overflow.
#include <cstdint>

#include "raster_core.h"

// Integer division by zero, raised by FixedDivide.
VEMRA_DECLARE_EXCEPTION(EDivByZero, Exception);

// X shifted right arithmetically by 16.
constexpr int32_t FixedFloor(TFixed X) { return X >> 16; }
// (X + 65535) shifted right arithmetically by 16.
constexpr int32_t FixedCeil(TFixed X) {
  return static_cast<int32_t>((static_cast<int64_t>(X) + 0xFFFF) >> 16);
}
// (X + 32767) shifted right arithmetically by 16: an exact half goes down.
constexpr int32_t FixedRound(TFixed X) {
  return static_cast<int32_t>((static_cast<int64_t>(X) + 0x7FFF) >> 16);
}
// The 64-bit product shifted right by 16, low 32 bits.
constexpr TFixed FixedMultiply(TFixed A, TFixed B) {
  return static_cast<TFixed>(static_cast<uint32_t>(static_cast<uint64_t>((static_cast<int64_t>(A) * B) >> 16)));
}
// (A shl 16) div B on a 64-bit dividend, truncating toward zero. B = 0
// raises EDivByZero "Division by zero"; a quotient beyond the int32 range
// saturates.
TFixed FixedDivide(TFixed A, TFixed B);
// 16.16 to float.
constexpr float FixedToFloat(TFixed X) { return static_cast<float>(X) / 65536.0f; }

// sqrt(X*X + Y*Y), formed in extended precision.
float Hypot(float X, float Y);

// A * B / C with a 64-bit product, rounded to nearest with halves away from
// zero; -1 when C = 0 or the quotient does not fit in 31 bits (callers test
// for this answer).
int32_t RoundingMulDiv(int32_t A, int32_t B, int32_t C);
