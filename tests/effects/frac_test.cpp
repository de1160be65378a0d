// Mandelbrot rendering.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "effects_fixtures.h"
#include "img_frac.h"
#include "raster_parallel.h"

namespace {

// The iteration written the plain way, every step to the end.
TColor32 ReferencePoint(long double Cr, long double Ci, long double K, TColor32 Old) {
  long double X = 0, Y = 0;
  int32_t Count = 0;
  do {
    const long double NewX = X * X - Y * Y + Cr;
    Y = K * X * Y + Ci;
    X = NewX;
    ++Count;
  } while (!(X * X + Y * Y >= 4) && Count < 256);
  const long double A = std::nearbyint(X * 32 + 127), B = std::nearbyint(Y * 32 + 127);
  if (std::isnan(A) || std::isnan(B)) return Old;
  const auto Byte = [](long double V) { return static_cast<int32_t>(std::clamp(V, 0.0L, 255.0L)); };
  return MakeArgb(Byte(B), Byte(A), std::min(Count, 255), 255);
}

// Every pixel as the plain iteration gives it, whether its point escapes,
// settles into a cycle or wanders, on one thread and on eight.
TEST(RenderMandelbrot, SameAsThePlainIteration) {
  for (long double K : {0.0L, 2.0L, -1.5L, 3.7L})
    for (int32_t Threads : {1, 8}) {
      auto B = MakeBitmap(48, 600, 0);
      TThreadLimit Limit(Threads);
      RenderMandelbrot(B.get(), K);
      for (int32_t y = 0; y < B->Height(); ++y)
        for (int32_t x = 0; x < B->Width(); ++x)
          ASSERT_EQ(B->GetPixel(x, y), ReferencePoint(x * (3.0L / 48) - 2, y * (3.0L / 600) - 1.5L, K, 0))
              << x << "," << y << " K " << static_cast<double>(K) << " on " << Threads;
    }
}

TEST(MandelbrotPoint, KnownPoints) {
  struct TCase {
    long double Cr, Ci, K;
    int32_t Count, A, B;
  };
  const TCase Cases[] = {
      {0, 0, 2, 256, 127, 127},   // the origin never escapes
      {2, 0, 2, 1, 191, 127},     // x = 2 after one step, x*x = 4
      {-1, 0, 2, 256, 127, 127},  // cycles 0, -1, 0 ...; step 256 gives 0
      {0, 1, 0, 256, 95, 159},    // no cross term: (0, 1), (-1, 1), ...; step 256 is (-1, 1)
      {1e30L, 0, 2, 1, std::numeric_limits<int32_t>::max(), 127},  // limited, not wrapped
  };
  for (const TCase& C : Cases) {
    int32_t Count = -1, A = -1, B = -1;
    EXPECT_TRUE(MandelbrotPoint(Count, A, B, C.Cr, C.Ci, C.K));
    EXPECT_EQ(Count, C.Count) << static_cast<double>(C.Cr);
    EXPECT_EQ(A, C.A) << static_cast<double>(C.Cr);
    EXPECT_EQ(B, C.B) << static_cast<double>(C.Cr);
  }
  int32_t Count = 0, A = 11, B = 22;
  EXPECT_FALSE(MandelbrotPoint(Count, A, B, 0.1L, 0.1L, std::numeric_limits<long double>::quiet_NaN()));
  EXPECT_EQ(A * 100 + B, 1122) << "no number: the terms keep their values";
}

TEST(RenderMandelbrot, PixelsOfASmallView) {
  // 3 x 3: one unit per pixel from (-2, -1.5). That corner escapes after one
  // step: blue 1, green round(-2*32 + 127) = 63, red round(-1.5*32 + 127) = 79.
  auto B = MakeBitmap(3, 3, 0);
  RenderMandelbrot(B.get(), 2);
  EXPECT_EQ(B->GetPixel(0, 0), MakeArgb(79, 63, 1));
  EXPECT_EQ(BlueOf(B->GetPixel(2, 1)), 255) << "(0, -0.5) lies inside the set";
  for (TColor32 P : Pixels(*B)) EXPECT_EQ(AlphaOf(P), 255);
  // A coefficient without a value leaves every pixel; an empty bitmap is no division by 0.
  auto C = MakeBitmap(4, 4, 0x12345678u);
  RenderMandelbrot(C.get(), std::numeric_limits<long double>::quiet_NaN());
  EXPECT_EQ(Pixels(*C), std::vector<TColor32>(16, 0x12345678u));
  TBitmap32 Empty;
  RenderMandelbrot(&Empty, 2);
}

}  // namespace
