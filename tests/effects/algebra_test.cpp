// Plane geometry.
#include <gtest/gtest.h>

#include <cmath>

#include "algebra.h"

namespace {

TEST(Algebra, VerticalLineAndItsPerpendicular) {
  const TRealLine V = LineThroughPoints(MakeRealPoint(3, 1), MakeRealPoint(3, 5));
  EXPECT_TRUE(IsVertical(V));
  EXPECT_FALSE(IsHorizontal(V));
  EXPECT_EQ(V.Intercept, 3);
  const TRealLine P = PerpendicularLine(V, MakeRealPoint(0, 2));
  EXPECT_TRUE(IsHorizontal(P));
  EXPECT_EQ(P.Intercept, 2);
  for (const auto& [A, B] : {std::pair{V, P}, std::pair{P, V}}) {
    const TRealPoint X = IntersectLines(A, B);
    EXPECT_EQ(X.X, 3);
    EXPECT_EQ(X.Y, 2);
  }
  // And back: the perpendicular of a horizontal line is vertical.
  const TRealLine Back = PerpendicularLine(P, MakeRealPoint(7, 9));
  EXPECT_TRUE(IsVertical(Back));
  EXPECT_EQ(Back.Intercept, 7);
}

TEST(Algebra, ParallelLinesMeetInTheUndefinedPoint) {
  const TRealLine V1 = LineThroughPoints(MakeRealPoint(1, 0), MakeRealPoint(1, 4));
  const TRealLine V2 = LineThroughPoints(MakeRealPoint(2, 0), MakeRealPoint(2, 4));
  const TRealLine S1 = LineFromSlopePoint(2, MakeRealPoint(0, 0));
  const TRealLine S2 = LineFromSlopePoint(2, MakeRealPoint(0, 5));
  EXPECT_TRUE(LinesParallel(V1, V2));
  EXPECT_TRUE(LinesParallel(S1, S2));
  EXPECT_FALSE(LinesParallel(V1, S1));
  EXPECT_FALSE(LinesParallel(S1, V1));
  for (const TRealPoint& U : {IntersectLines(V1, V2), IntersectLines(S1, S2), UndefinedPoint()}) {
    EXPECT_TRUE(std::isnan(U.X) && std::isnan(U.Y));
    EXPECT_TRUE(std::signbit(U.X)) << "the processor's default NaN carries the sign";
    EXPECT_TRUE(IsUndefinedPoint(U));
  }
}

TEST(Algebra, EvaluationAtAPoint) {
  const TRealLine V{INFINITY, 4};
  const TRealLine H{0, 6};
  const TRealLine S = LineFromSlopePoint(0.5L, MakeRealPoint(2, 3));  // y = x/2 + 2
  EXPECT_EQ(LineYAt(V, 123), 0);
  EXPECT_EQ(LineXAt(H, 123), 0);
  EXPECT_EQ(LineYAt(H, 5), 6);
  EXPECT_EQ(LineXAt(V, 5), 4);
  EXPECT_EQ(S.Intercept, 2);
  EXPECT_EQ(LineYAt(S, 10), 7);
  EXPECT_EQ(LineXAt(S, 7), 10);
  EXPECT_EQ(LineFromSlopePoint(0, MakeRealPoint(8, 9)).Intercept, 9);
  EXPECT_EQ(LineFromSlopePoint(-INFINITY, MakeRealPoint(8, 9)).Intercept, 8);
  EXPECT_TRUE(IsVertical(LineFromSlopePoint(-INFINITY, MakeRealPoint(8, 9))));
}

TEST(Algebra, SlopedPerpendicularAndIntersection) {
  const TRealLine L = LineFromSlopePoint(2, MakeRealPoint(0, 0));
  const TRealLine P = PerpendicularLine(L, MakeRealPoint(2, 4));
  EXPECT_EQ(P.Slope, -0.5L);
  EXPECT_EQ(P.Intercept, 5);
  // y = 2x and y = -x/2 + 5 meet at (2, 4).
  const TRealPoint X = IntersectLines(L, P);
  EXPECT_NEAR(static_cast<double>(X.X), 2, 1e-15);
  EXPECT_NEAR(static_cast<double>(X.Y), 4, 1e-15);
  // Through two points: the slope and the intercept of the line through them.
  const TRealLine T = LineThroughPoints(MakeRealPoint(1, 1), MakeRealPoint(3, 7));
  EXPECT_EQ(T.Slope, 3);
  EXPECT_EQ(T.Intercept, -2);
  const TRealPoint H = IntersectLines(T, TRealLine{0, 4});  // y = 4 at x = 2
  EXPECT_EQ(H.X, 2);
  EXPECT_EQ(H.Y, 4);
}

TEST(Algebra, PointsAndVectors) {
  EXPECT_EQ(PointDistance(1, 2, 4, 6), 5);
  const TRealPoint V = VectorFromTo(MakeRealPoint(1, 2), MakeRealPoint(4, 6));
  EXPECT_EQ(V.X, 3);
  EXPECT_EQ(V.Y, 4);
  const TRealPoint Q = PointPlusScaled(MakeRealPoint(1, 2), V, 0.5L);
  EXPECT_EQ(Q.X, 2.5L);
  EXPECT_EQ(Q.Y, 4);
}

}  // namespace
