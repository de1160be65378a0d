// Fixed-point division, the rounding multiply-divide and the hypotenuse.
#include "raster_math.h"

#include <cmath>
#include <cstdlib>
#include <limits>

TFixed FixedDivide(TFixed A, TFixed B) {
  if (B == 0) throw EDivByZero("Division by zero");
  // |A| * 65536 is at most 2^47: the dividend fits 64 bits. Only the quotient
  // of a tiny divisor can leave the int32 range; it saturates there.
  const int64_t q = (static_cast<int64_t>(A) * 65536) / B;
  if (q > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (q < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<TFixed>(q);
}

float Hypot(float X, float Y) {
  const long double x = X, y = Y;
  return static_cast<float>(std::sqrt(x * x + y * y));
}

int32_t RoundingMulDiv(int32_t A, int32_t B, int32_t C) {
  if (C == 0) return -1;
  const int64_t p = static_cast<int64_t>(A) * B;
  const bool negative = (p < 0) != (C < 0);
  // Magnitudes as unsigned: |p| <= 2^62 and |C| <= 2^31, so 2|p| + |C| fits.
  const uint64_t n = p < 0 ? static_cast<uint64_t>(-(p + 1)) + 1 : static_cast<uint64_t>(p);
  const uint64_t d = C < 0 ? static_cast<uint64_t>(-(static_cast<int64_t>(C))) : static_cast<uint64_t>(C);
  // Halves away from zero: floor((2n + d) / 2d).
  const uint64_t q = (2 * n + d) / (2 * d);
  if (q > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return -1;
  return negative ? -static_cast<int32_t>(q) : static_cast<int32_t>(q);
}
