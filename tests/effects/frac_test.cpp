// Mandelbrot rendering.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "effects_fixtures.h"
#include "img_frac.h"

namespace {

TEST(MandelbrotPoint, KnownPoints) {
  int32_t Count = -1, A = -1, B = -1;
  EXPECT_TRUE(MandelbrotPoint(Count, A, B, 0, 0, 2));
  EXPECT_EQ(Count, 256);
  EXPECT_EQ(A, 127);
  EXPECT_EQ(B, 127);
  // One step reaches x = 2, where x*x = 4 stops it.
  EXPECT_TRUE(MandelbrotPoint(Count, A, B, 2, 0, 2));
  EXPECT_EQ(Count, 1);
  EXPECT_EQ(A, 191);
  EXPECT_EQ(B, 127);
  // c = -1 cycles 0, -1, 0, -1 ... and never escapes; the last value (step 256) is 0.
  EXPECT_TRUE(MandelbrotPoint(Count, A, B, -1, 0, 2));
  EXPECT_EQ(Count, 256);
  EXPECT_EQ(A, 127);
  // With K = 0 the cross term vanishes and y stays 1: (0, 1), (-1, 1), (0, 1) ...
  EXPECT_TRUE(MandelbrotPoint(Count, A, B, 0, 1, 0));
  EXPECT_EQ(Count, 256);
  EXPECT_EQ(A, 95);   // step 256 is even: x = -1
  EXPECT_EQ(B, 159);  // y = 1: 32 + 127
}

TEST(MandelbrotPoint, NoNumberLeavesTheTermsAlone) {
  int32_t Count = 0, A = 11, B = 22;
  EXPECT_FALSE(MandelbrotPoint(Count, A, B, 0.1L, 0.1L, std::numeric_limits<long double>::quiet_NaN()));
  EXPECT_EQ(A, 11);
  EXPECT_EQ(B, 22);
  EXPECT_EQ(Count, 256);
  // A huge coefficient escapes at once to a huge value: limited, not wrapped.
  EXPECT_TRUE(MandelbrotPoint(Count, A, B, 1e30L, 0, 2));
  EXPECT_EQ(Count, 1);
  EXPECT_EQ(A, std::numeric_limits<int32_t>::max());
}

TEST(RenderMandelbrot, PixelsOfASmallView) {
  // 3 x 3: one unit per pixel, the view from (-2, -1.5).
  auto B = MakeBitmap(3, 3, 0);
  RenderMandelbrot(B.get(), 2);
  // (-2, -1.5) escapes after one step (|c|^2 = 6.25): blue 1, green
  // round(-2*32 + 127) = 63, red round(-1.5*32 + 127) = 79.
  EXPECT_EQ(B->GetPixel(0, 0), MakeArgb(79, 63, 1));
  // (0, -0.5) lies inside the set: blue 255, and every alpha is 255.
  EXPECT_EQ(BlueOf(B->GetPixel(2, 1)), 255);
  for (TColor32 P : Pixels(*B)) EXPECT_EQ(AlphaOf(P), 255);
  // The classic set is symmetric about the real axis: rows y and H - y agree
  // in count (the view starts at -1.5 with H = 4: rows 1 and 3 are +-0.75).
  auto C = MakeBitmap(12, 4, 0);
  RenderMandelbrot(C.get(), 2);
  for (int32_t x = 0; x < 12; ++x) EXPECT_EQ(BlueOf(C->GetPixel(x, 1)), BlueOf(C->GetPixel(x, 3)));
}

TEST(RenderMandelbrot, EmptyAndNotANumber) {
  TBitmap32 Empty;
  RenderMandelbrot(&Empty, 2);
  RenderMandelbrot(nullptr, 2);
  auto B = MakeBitmap(4, 4, 0x12345678u);
  RenderMandelbrot(B.get(), std::numeric_limits<long double>::quiet_NaN());
  for (TColor32 P : Pixels(*B)) EXPECT_EQ(P, 0x12345678u) << "pixels without a number keep their colour";
}

}  // namespace
