// Fixed-point arithmetic, the rounding multiply-divide, the hypotenuse and
// the line clipper.
#include <gtest/gtest.h>

#include <climits>

#include "raster_drawingex.h"
#include "raster_math.h"

namespace {

TEST(FixedPoint, FloorCeilRound) {
  struct Case {
    TFixed X;
    int32_t Floor, Ceil, Round;
  };
  const Case cases[] = {
      {0, 0, 0, 0},           {1, 0, 1, 0},         {0x8000, 0, 1, 0},       {0x8001, 0, 1, 1},
      {0x10000, 1, 1, 1},     {-1, -1, 0, 0},       {-0x8000, -1, 0, -1},    {-0x7FFF, -1, 0, 0},
      {-0x18000, -2, -1, -2}, {INT_MAX, 32767, 32768, 32768}, {INT_MIN, -32768, -32768, -32768},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FixedFloor(c.X), c.Floor) << c.X;
    EXPECT_EQ(FixedCeil(c.X), c.Ceil) << c.X;
    EXPECT_EQ(FixedRound(c.X), c.Round) << c.X;
  }
}

TEST(FixedPoint, MultiplyAndDivide) {
  EXPECT_EQ(FixedMultiply(0x18000, 0x28000), 0x3C000);  // 1.5 * 2.5 = 3.75
  EXPECT_EQ(FixedMultiply(-0x18000, 0x20000), -0x30000);
  EXPECT_EQ(FixedMultiply(-1, 1), -1);                  // the shift is arithmetic
  EXPECT_EQ(FixedMultiply(INT_MIN, INT_MIN), 0);        // 2^46: low 32 bits, no overflow trap
  EXPECT_EQ(FixedDivide(0x10000, 0x30000), 21845);      // 1 / 3 truncated
  EXPECT_EQ(FixedDivide(-0x10000, 0x30000), -21845);    // toward zero
  EXPECT_EQ(FixedDivide(0x30000, 0x20000), 0x18000);
  EXPECT_EQ(FixedDivide(INT_MAX, 1), INT_MAX);          // beyond int32: saturates
  EXPECT_EQ(FixedDivide(INT_MIN, 1), INT_MIN);
  try {
    FixedDivide(1, 0);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), "EDivByZero");
    EXPECT_STREQ(e.what(), "Division by zero");
  }
  EXPECT_FLOAT_EQ(FixedToFloat(0x18000), 1.5f);
}

TEST(RoundingMulDiv, StatedAnswers) {
  struct Case {
    int32_t A, B, C, Result;
  };
  const Case cases[] = {
      {3, 5, 2, 8},          {-3, 5, 2, -8},   {3, -5, -2, 8},  {-3, -5, 2, 8},  {1, 1, 0, -1},
      {5, 1, 2, 3},          {-5, 1, 2, -3},   {7, 1, 3, 2},    {8, 1, 3, 3},    {0, 123, 7, 0},
      {INT_MAX, INT_MAX, INT_MAX, INT_MAX},    {INT_MAX, 2, 1, -1},             {INT_MIN, 1, 1, -1},
      {INT_MIN, INT_MIN, INT_MIN, -1},         {INT_MIN, 1, -2, 1073741824},    {100000, 100000, 3, -1},
      {100000, 100000, 7, 1428571429},
  };
  for (const Case& c : cases) EXPECT_EQ(RoundingMulDiv(c.A, c.B, c.C), c.Result) << c.A << "*" << c.B << "/" << c.C;
}

TEST(Hypot, Pythagoras) {
  EXPECT_FLOAT_EQ(Hypot(3, 4), 5);
  EXPECT_FLOAT_EQ(Hypot(-5, 12), 13);
  EXPECT_FLOAT_EQ(Hypot(0, 0), 0);
  EXPECT_FLOAT_EQ(Hypot(1e20f, 1e20f), 1.41421356e20f);  // no float overflow in between
}

struct Line {
  int32_t X1, Y1, X2, Y2;
  bool operator==(const Line&) const = default;
};

bool Clip(Line& l, int32_t MinX, int32_t MinY, int32_t MaxX, int32_t MaxY) {
  return ClipLineToRect(l.X1, l.Y1, l.X2, l.Y2, MinX, MinY, MaxX, MaxY);
}

TEST(ClipLineToRect, KnownLines) {
  struct Case {
    Line In;
    bool Result;
    Line Out;
  };
  const Case cases[] = {
      {{1, 1, 8, 8}, true, {1, 1, 8, 8}},            // wholly inside: unchanged
      {{-5, 1, -1, 8}, false, {-5, 1, -1, 8}},       // wholly left
      {{1, 10, 8, 12}, false, {1, 10, 8, 12}},       // wholly below
      {{-10, 5, 10, 5}, true, {0, 5, 9, 5}},
      {{5, -10, 5, 20}, true, {5, 0, 5, 9}},
      {{-5, -5, 14, 14}, true, {0, 0, 9, 9}},
      {{14, 14, -5, -5}, true, {9, 9, 0, 0}},
      {{-5, 3, 3, -5}, false, {-5, 3, 3, -5}},       // passes the corner outside
      {{0, 0, 9, 9}, true, {0, 0, 9, 9}},            // bounds are inclusive
      {{-3, 0, 3, 3}, true, {0, 2, 3, 3}},           // rounded interpolation (1.5 -> 2)
  };
  for (const Case& c : cases) {
    Line l = c.In;
    EXPECT_EQ(Clip(l, 0, 0, 9, 9), c.Result) << c.In.X1 << "," << c.In.Y1 << " " << c.In.X2 << "," << c.In.Y2;
    if (c.Result) {
      EXPECT_TRUE(l == c.Out) << l.X1 << "," << l.Y1 << " " << l.X2 << "," << l.Y2;
    }
  }
}

TEST(ClipLineToRect, ExtremeCoordinatesStayInsideTheBounds) {
  // 16.16 coordinates far outside a clip rectangle, as the bitmap's lines pass them.
  const int32_t lo = -65536, hi = 100 << 16;
  const Line lines[] = {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {INT_MAX, 5, INT_MIN, 7}, {3, INT_MIN, 5, INT_MAX},
                        {INT_MIN, 0, 50 << 16, 50 << 16}};
  for (Line l : lines) {
    ASSERT_TRUE(Clip(l, lo, lo, hi, hi));
    for (int32_t v : {l.X1, l.Y1, l.X2, l.Y2}) {
      EXPECT_GE(v, lo);
      EXPECT_LE(v, hi);
    }
  }
}

}  // namespace
