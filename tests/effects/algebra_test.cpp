// Plane geometry.
#include <gtest/gtest.h>

#include <cmath>

#include "algebra.h"

namespace {

TEST(Algebra, VerticalAndHorizontalLines) {
  const TRealLine V = LineThroughPoints(MakeRealPoint(3, 1), MakeRealPoint(3, 5));
  ASSERT_TRUE(IsVertical(V));
  EXPECT_EQ(V.Intercept, 3);
  const TRealLine P = PerpendicularLine(V, MakeRealPoint(0, 2));
  ASSERT_TRUE(IsHorizontal(P));
  EXPECT_EQ(P.Intercept, 2);
  for (const TRealPoint& X : {IntersectLines(V, P), IntersectLines(P, V)}) {
    EXPECT_EQ(X.X, 3);
    EXPECT_EQ(X.Y, 2);
  }
  EXPECT_EQ(PerpendicularLine(P, MakeRealPoint(7, 9)).Intercept, 7);
  EXPECT_EQ(LineYAt(V, 123), 0);
  EXPECT_EQ(LineXAt(P, 123), 0);
  EXPECT_EQ(LineXAt(V, 5), 3);
}

TEST(Algebra, ParallelLinesMeetInTheUndefinedPoint) {
  const TRealLine V1 = LineThroughPoints(MakeRealPoint(1, 0), MakeRealPoint(1, 4));
  const TRealLine V2 = LineThroughPoints(MakeRealPoint(2, 0), MakeRealPoint(2, 4));
  const TRealLine S1 = LineFromSlopePoint(2, MakeRealPoint(0, 0));
  const TRealLine S2 = LineFromSlopePoint(2, MakeRealPoint(0, 5));
  EXPECT_FALSE(LinesParallel(V1, S1) || LinesParallel(S1, V1));
  for (const TRealPoint& U : {IntersectLines(V1, V2), IntersectLines(S1, S2)}) {
    EXPECT_TRUE(std::isnan(U.X) && std::isnan(U.Y));
    EXPECT_TRUE(std::signbit(U.X)) << "the processor's default NaN carries the sign";
  }
}

TEST(Algebra, SlopedLines) {
  const TRealLine L = LineFromSlopePoint(2, MakeRealPoint(0, 0));
  const TRealLine P = PerpendicularLine(L, MakeRealPoint(2, 4));
  EXPECT_EQ(P.Slope, -0.5L);
  EXPECT_EQ(P.Intercept, 5);
  const TRealLine T = LineThroughPoints(MakeRealPoint(1, 1), MakeRealPoint(3, 7));  // y = 3x - 2
  EXPECT_EQ(T.Slope, 3);
  EXPECT_EQ(T.Intercept, -2);
  EXPECT_EQ(LineXAt(T, 7), 3);
  // y = 3x - 2 and y = -x/2 + 5 meet at x = 2.
  const TRealPoint X = IntersectLines(T, P);
  EXPECT_NEAR(static_cast<double>(X.X), 2, 1e-15);
  EXPECT_NEAR(static_cast<double>(X.Y), 4, 1e-15);
  EXPECT_EQ(PointDistance(1, 2, 4, 6), 5);
  const TRealPoint Q = PointPlusScaled(MakeRealPoint(1, 2), VectorFromTo(MakeRealPoint(1, 2), MakeRealPoint(4, 6)), 0.5L);
  EXPECT_EQ(Q.X, 2.5L);
  EXPECT_EQ(Q.Y, 4);
}

}  // namespace
