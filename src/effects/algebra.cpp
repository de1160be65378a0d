// Plane geometry in extended precision.
#include "algebra.h"

#include <cmath>
#include <limits>

namespace {
constexpr long double Infinity = std::numeric_limits<long double>::infinity();
}  // namespace

TRealPoint MakeRealPoint(long double X, long double Y) { return TRealPoint{X, Y}; }

long double PointDistance(long double X1, long double Y1, long double X2, long double Y2) {
  const long double Dx = X1 - X2, Dy = Y1 - Y2;
  return std::sqrt(Dx * Dx + Dy * Dy);
}

bool IsHorizontal(const TRealLine& Line) { return Line.Slope == 0; }

bool IsVertical(const TRealLine& Line) { return std::isinf(Line.Slope); }

TRealLine LineFromSlopePoint(long double Slope, const TRealPoint& P) {
  if (Slope == 0) return TRealLine{0, P.Y};
  // Either infinity means vertical; we keep the one representation.
  if (std::isinf(Slope)) return TRealLine{Infinity, P.X};
  return TRealLine{Slope, P.Y - Slope * P.X};
}

TRealLine LineThroughPoints(const TRealPoint& P1, const TRealPoint& P2) {
  if (P1.X != P2.X) return LineFromSlopePoint((P1.Y - P2.Y) / (P1.X - P2.X), P2);
  return TRealLine{Infinity, P2.X};
}

TRealLine PerpendicularLine(const TRealLine& Line, const TRealPoint& P) {
  if (IsHorizontal(Line)) return TRealLine{Infinity, P.X};
  if (IsVertical(Line)) return TRealLine{0, P.Y};
  return LineFromSlopePoint(-1 / Line.Slope, P);
}

bool LinesParallel(const TRealLine& A, const TRealLine& B) {
  if (IsVertical(A)) return IsVertical(B);
  return A.Slope == B.Slope;
}

long double LineYAt(const TRealLine& Line, long double X) {
  if (IsVertical(Line)) return 0;
  if (IsHorizontal(Line)) return Line.Intercept;
  return Line.Slope * X + Line.Intercept;
}

long double LineXAt(const TRealLine& Line, long double Y) {
  if (IsHorizontal(Line)) return 0;
  if (IsVertical(Line)) return Line.Intercept;
  return (Y - Line.Intercept) / Line.Slope;
}

TRealPoint IntersectLines(const TRealLine& A, const TRealLine& B) {
  if (LinesParallel(A, B)) return UndefinedPoint();
  if (IsHorizontal(A)) return TRealPoint{LineXAt(B, A.Intercept), A.Intercept};
  if (IsVertical(A)) return TRealPoint{A.Intercept, LineYAt(B, A.Intercept)};
  if (IsHorizontal(B)) return TRealPoint{LineXAt(A, B.Intercept), B.Intercept};
  if (IsVertical(B)) return TRealPoint{B.Intercept, LineYAt(A, B.Intercept)};
  const long double X = (B.Intercept - A.Intercept) / (A.Slope - B.Slope);
  return TRealPoint{X, A.Slope * X + A.Intercept};
}

TRealPoint UndefinedPoint() {
  // The processor's default quiet NaN carries the sign bit.
  const long double NaN = std::copysign(std::numeric_limits<long double>::quiet_NaN(), -1.0L);
  return TRealPoint{NaN, NaN};
}

bool IsUndefinedPoint(const TRealPoint& P) { return std::isnan(P.X) || std::isnan(P.Y); }

TRealPoint VectorFromTo(const TRealPoint& A, const TRealPoint& B) { return TRealPoint{B.X - A.X, B.Y - A.Y}; }

TRealPoint PointPlusScaled(const TRealPoint& A, const TRealPoint& V, long double T) {
  return TRealPoint{A.X + T * V.X, A.Y + T * V.Y};
}
