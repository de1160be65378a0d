#pragma once
// Points, vectors and straight lines in extended precision, for the
// point-based lens corrections: distances, lines through picked points,
// perpendiculars and intersections.
//
// A non-vertical line is y = Slope*x + Intercept. A vertical line has
// Slope = +infinity and keeps its x in Intercept. The undefined point (the
// answer for parallel lines) has both coordinates NaN.

struct TRealPoint {
  long double X = 0;
  long double Y = 0;
};

struct TRealLine {
  long double Slope = 0;
  long double Intercept = 0;
};

TRealPoint MakeRealPoint(long double X, long double Y);
long double PointDistance(long double X1, long double Y1, long double X2, long double Y2);

bool IsHorizontal(const TRealLine& Line);
bool IsVertical(const TRealLine& Line);

// Slope 0 keeps Y, an infinite slope keeps X, otherwise Y - Slope*X.
TRealLine LineFromSlopePoint(long double Slope, const TRealPoint& P);
// Through both points; the vertical line through P2 when they share an x.
TRealLine LineThroughPoints(const TRealPoint& P1, const TRealPoint& P2);
// The perpendicular to Line through P.
TRealLine PerpendicularLine(const TRealLine& Line, const TRealPoint& P);
bool LinesParallel(const TRealLine& A, const TRealLine& B);
// y at X; 0 for a vertical line.
long double LineYAt(const TRealLine& Line, long double X);
// x at Y; 0 for a horizontal line.
long double LineXAt(const TRealLine& Line, long double Y);
// The intersection, or the undefined point for parallel lines.
TRealPoint IntersectLines(const TRealLine& A, const TRealLine& B);

TRealPoint UndefinedPoint();
bool IsUndefinedPoint(const TRealPoint& P);
// B - A.
TRealPoint VectorFromTo(const TRealPoint& A, const TRealPoint& B);
// A + T*V.
TRealPoint PointPlusScaled(const TRealPoint& A, const TRealPoint& V, long double T);
