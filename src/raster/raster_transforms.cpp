// 3 x 3 matrices, the transformation classes and TransformBitmap.
//
// Matrix entries are 32-bit floats; sums of products are formed in double and
// stored back as float. The fixed-point forms add in 64 bits and saturate, so
// large coordinates and translations never wrap.
#include "raster_transforms.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "raster_blend.h"
#include "raster_math.h"
#include "raster_rasterizers.h"
#include "raster_resamplers.h"

namespace {

int32_t Saturate32(int64_t V) {
  return static_cast<int32_t>(std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Round ties-to-even into an int32; NaN becomes 0 and the rest saturates.
int32_t RoundSaturated(double V) {
  if (std::isnan(V)) return 0;
  const double r = std::nearbyint(V);
  if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

// X shl 16 without wrapping: beyond the 16.16 range it saturates.
TFixed FixedFromIntSaturated(int32_t X) { return Saturate32(int64_t{X} * 65536); }

// (X + 0x7FFF) sar 16 on a 64-bit 16.16 value.
int32_t FixedRound64(int64_t X) { return Saturate32((X + 0x7FFF) >> 16); }

// a*x + b*y + c in 16.16, each product as FixedMultiply forms it but kept in 64 bits.
int64_t FixedAffine(TFixed A, TFixed X, TFixed B, TFixed Y, TFixed C) {
  return ((int64_t{A} * X) >> 16) + ((int64_t{B} * Y) >> 16) + C;
}

float AffineFloat(float A, float X, float B, float Y, float C) {
  return static_cast<float>(double{A} * X + double{B} * Y + double{C});
}

}  // namespace

// ---- Matrix algebra -------------------------------------------------------------------

float Determinant2(float a1, float a2, float b1, float b2) {
  return static_cast<float>(double{a1} * b2 - double{a2} * b1);
}

float Determinant(const TFloatMatrix& M) {
  // Along the first column of the stored layout; the cofactors are 2 x 2 minors.
  const double c0 = Determinant2(M[4], M[5], M[7], M[8]);
  const double c1 = Determinant2(M[1], M[2], M[7], M[8]);
  const double c2 = Determinant2(M[1], M[2], M[4], M[5]);
  return static_cast<float>(M[0] * c0 - M[3] * c1 + M[6] * c2);
}

void Adjoint(TFloatMatrix& M) {
  const TFloatMatrix T = M;
  M[0] = Determinant2(T[4], T[5], T[7], T[8]);
  M[3] = -Determinant2(T[3], T[5], T[6], T[8]);
  M[6] = Determinant2(T[3], T[4], T[6], T[7]);
  M[1] = -Determinant2(T[1], T[2], T[7], T[8]);
  M[4] = Determinant2(T[0], T[2], T[6], T[8]);
  M[7] = -Determinant2(T[0], T[1], T[6], T[7]);
  M[2] = Determinant2(T[1], T[2], T[4], T[5]);
  M[5] = -Determinant2(T[0], T[2], T[3], T[5]);
  M[8] = Determinant2(T[0], T[1], T[3], T[4]);
}

void Scale(TFloatMatrix& M, float Factor) {
  for (float& e : M) e = static_cast<float>(double{e} * Factor);
}

void Invert(TFloatMatrix& M) {
  const float D = Determinant(M);
  // Written as the success test so that a NaN determinant also gives the identity.
  if (!(std::fabs(D) >= 1e-5f)) {
    M = IdentityMatrix;
    return;
  }
  Adjoint(M);
  Scale(M, static_cast<float>(1.0 / double{D}));
}

TFloatMatrix Multiply(const TFloatMatrix& A, const TFloatMatrix& B) {
  TFloatMatrix R{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += double{A[3 * k + j]} * B[3 * i + k];
      R[3 * i + j] = static_cast<float>(s);
    }
  return R;
}

TVector3f VectorTransform(const TFloatMatrix& M, const TVector3f& V) {
  auto c = [&](int i) {
    return static_cast<float>(double{M[i]} * V.X + double{M[i + 3]} * V.Y + double{M[i + 6]} * V.Z);
  };
  return TVector3f{c(0), c(1), c(2)};
}

TFixedMatrix FixedMatrixOf(const TFloatMatrix& M) {
  TFixedMatrix F{};
  for (size_t i = 0; i < M.size(); ++i) F[i] = RoundSaturated(double{M[i]} * 65536.0);
  return F;
}

// ---- TTransformation --------------------------------------------------------------------

void TTransformation::Changed() {
  FTransformValid = false;
  TNotifiablePersistent::Changed();
}

void TTransformation::SetSrcRect(const TFloatRect& Value) {
  FSrcRect = Value;
  Changed();
}

TRect TTransformation::GetTransformedBounds(const TFloatRect& R) {
  return TRect{RoundSaturated(R.Left), RoundSaturated(R.Top), RoundSaturated(R.Right),
               RoundSaturated(R.Bottom)};
}

TPoint TTransformation::ReverseTransformInt(int32_t X, int32_t Y) {
  const TFixedPoint P = ReverseTransformFixed(FixedFromIntSaturated(X), FixedFromIntSaturated(Y));
  return TPoint{FixedRound(P.X), FixedRound(P.Y)};
}

TFixedPoint TTransformation::ReverseTransformFixed(TFixed X, TFixed Y) {
  const TFloatPoint P = ReverseTransformFloat(FixedToFloat(X), FixedToFloat(Y));
  return TFixedPoint{FixedFromFloat(P.X), FixedFromFloat(P.Y)};
}

TFloatPoint TTransformation::ReverseTransformFloat(float, float) {
  throw ETransformNotImplemented("Reverse transformation is not implemented in " + ClassName() + ".");
}

TPoint TTransformation::TransformInt(int32_t X, int32_t Y) {
  const TFixedPoint P = TransformFixed(FixedFromIntSaturated(X), FixedFromIntSaturated(Y));
  return TPoint{FixedRound(P.X), FixedRound(P.Y)};
}

TFixedPoint TTransformation::TransformFixed(TFixed X, TFixed Y) {
  const TFloatPoint P = TransformFloat(FixedToFloat(X), FixedToFloat(Y));
  return TFixedPoint{FixedFromFloat(P.X), FixedFromFloat(P.Y)};
}

TFloatPoint TTransformation::TransformFloat(float, float) {
  throw ETransformNotImplemented("Forward transformation is not implemented in " + ClassName() + ".");
}

TPoint TTransformation::ReverseTransform(const TPoint& P) {
  if (!FTransformValid) PrepareTransform();
  return ReverseTransformInt(P.X, P.Y);
}

TFixedPoint TTransformation::ReverseTransform(const TFixedPoint& P) {
  if (!FTransformValid) PrepareTransform();
  return ReverseTransformFixed(P.X, P.Y);
}

TFloatPoint TTransformation::ReverseTransform(const TFloatPoint& P) {
  if (!FTransformValid) PrepareTransform();
  return ReverseTransformFloat(P.X, P.Y);
}

TPoint TTransformation::Transform(const TPoint& P) {
  if (!FTransformValid) PrepareTransform();
  return TransformInt(P.X, P.Y);
}

TFixedPoint TTransformation::Transform(const TFixedPoint& P) {
  if (!FTransformValid) PrepareTransform();
  return TransformFixed(P.X, P.Y);
}

TFloatPoint TTransformation::Transform(const TFloatPoint& P) {
  if (!FTransformValid) PrepareTransform();
  return TransformFloat(P.X, P.Y);
}

// ---- TAffineTransformation -------------------------------------------------------------

TAffineTransformation::TAffineTransformation() { Clear(); }

void TAffineTransformation::SetMatrix(const TFloatMatrix& Value) {
  Matrix = Value;
  Changed();
}

void TAffineTransformation::Clear() {
  Matrix = IdentityMatrix;
  Changed();
}

void TAffineTransformation::Translate(float Dx, float Dy) {
  TFloatMatrix T = IdentityMatrix;
  T[6] = Dx;
  T[7] = Dy;
  Matrix = Multiply(T, Matrix);
  Changed();
}

void TAffineTransformation::Rotate(float Cx, float Cy, float Alpha) {
  const bool aboutCentre = Cx != 0 || Cy != 0;
  if (aboutCentre) Translate(-Cx, -Cy);
  const float radians = static_cast<float>(double{Alpha} * std::numbers::pi / 180.0);
  const float S = static_cast<float>(std::sin(double{radians}));
  const float C = static_cast<float>(std::cos(double{radians}));
  TFloatMatrix R = IdentityMatrix;
  R[0] = C;
  R[1] = -S;
  R[3] = S;
  R[4] = C;
  Matrix = Multiply(R, Matrix);
  if (aboutCentre) Translate(Cx, Cy);
  Changed();
}

void TAffineTransformation::PrepareTransform() {
  FInverseMatrix = Matrix;
  Invert(FInverseMatrix);
  FFixedMatrix = FixedMatrixOf(Matrix);
  FInverseFixedMatrix = FixedMatrixOf(FInverseMatrix);
  FTransformValid = true;
}

TRect TAffineTransformation::GetTransformedBounds(const TFloatRect& R) {
  const TVector3f corners[4] = {
      VectorTransform(Matrix, TVector3f{R.Left, R.Top, 1}),
      VectorTransform(Matrix, TVector3f{R.Right, R.Top, 1}),
      VectorTransform(Matrix, TVector3f{R.Left, R.Bottom, 1}),
      VectorTransform(Matrix, TVector3f{R.Right, R.Bottom, 1}),
  };
  // A NaN corner has no place on the plane: the bounds are empty then.
  for (const TVector3f& c : corners)
    if (std::isnan(c.X) || std::isnan(c.Y)) return TRect{};
  float minX = corners[0].X, maxX = corners[0].X, minY = corners[0].Y, maxY = corners[0].Y;
  for (const TVector3f& c : corners) {
    minX = std::min(minX, c.X);
    maxX = std::max(maxX, c.X);
    minY = std::min(minY, c.Y);
    maxY = std::max(maxY, c.Y);
  }
  return TRect{RoundSaturated(double{minX} - 0.5), RoundSaturated(double{minY} - 0.5),
               RoundSaturated(double{maxX} + 0.5), RoundSaturated(double{maxY} + 0.5)};
}

TPoint TAffineTransformation::ReverseTransformInt(int32_t X, int32_t Y) {
  const TFixedMatrix& M = FInverseFixedMatrix;
  // The 16.16 products of whole coordinates are exact in 64 bits.
  return TPoint{FixedRound64(int64_t{M[0]} * X + int64_t{M[3]} * Y + M[6]),
                FixedRound64(int64_t{M[1]} * X + int64_t{M[4]} * Y + M[7])};
}

TFixedPoint TAffineTransformation::ReverseTransformFixed(TFixed X, TFixed Y) {
  const TFixedMatrix& M = FInverseFixedMatrix;
  return TFixedPoint{Saturate32(FixedAffine(M[0], X, M[3], Y, M[6])),
                     Saturate32(FixedAffine(M[1], X, M[4], Y, M[7]))};
}

void TAffineTransformation::ReverseTransformRow(int32_t X0, int32_t Y, int32_t Count, TFixedPoint* Out) {
  if (!FTransformValid) PrepareTransform();
  const TFixed Fy = FixedFromInt(Y);
  for (int32_t i = 0; i < Count; ++i)
    Out[i] = TAffineTransformation::ReverseTransformFixed(FixedFromInt(static_cast<int32_t>(int64_t{X0} + i)), Fy);
}

TFloatPoint TAffineTransformation::ReverseTransformFloat(float X, float Y) {
  const TFloatMatrix& M = FInverseMatrix;
  return TFloatPoint{AffineFloat(M[0], X, M[3], Y, M[6]), AffineFloat(M[1], X, M[4], Y, M[7])};
}

TPoint TAffineTransformation::TransformInt(int32_t X, int32_t Y) {
  const TFixedMatrix& M = FFixedMatrix;
  return TPoint{FixedRound64(int64_t{M[0]} * X + int64_t{M[3]} * Y + M[6]),
                FixedRound64(int64_t{M[1]} * X + int64_t{M[4]} * Y + M[7])};
}

TFixedPoint TAffineTransformation::TransformFixed(TFixed X, TFixed Y) {
  const TFixedMatrix& M = FFixedMatrix;
  return TFixedPoint{Saturate32(FixedAffine(M[0], X, M[3], Y, M[6])),
                     Saturate32(FixedAffine(M[1], X, M[4], Y, M[7]))};
}

TFloatPoint TAffineTransformation::TransformFloat(float X, float Y) {
  const TFloatMatrix& M = Matrix;
  return TFloatPoint{AffineFloat(M[0], X, M[3], Y, M[6]), AffineFloat(M[1], X, M[4], Y, M[7])};
}

// ---- TransformBitmap ----------------------------------------------------------------------

void TransformBitmap(TBitmap32* Dst, TBitmap32* Src, TTransformation* Transformation) {
  CheckTransferBitmaps(Dst, Src);
  std::unique_ptr<TRasterizer> rasterizer = CreateDefaultRasterizer();
  TransformBitmap(Dst, Src, Transformation, Dst->BoundsRect(), *rasterizer);
}

void TransformBitmap(TBitmap32* Dst, TBitmap32* Src, TTransformation* Transformation,
                     const TRect& DstClip, TRasterizer& Rasterizer) {
  CheckTransferBitmaps(Dst, Src);
  if (Transformation == nullptr) throw Exception("Transformation is nil");

  // Cut by hand rather than with IntersectRects: rectangles that lie apart must
  // come out inverted, so that they draw and report nothing.
  const TRect B = Transformation->GetTransformedBounds(Transformation->SrcRect());
  const TRect& C = Dst->ClipRect();
  const TRect R{std::max({B.Left, C.Left, DstClip.Left}), std::max({B.Top, C.Top, DstClip.Top}),
                std::min({B.Right, C.Right, DstClip.Right}),
                std::min({B.Bottom, C.Bottom, DstClip.Bottom})};
  if (R.Right < R.Left || R.Bottom < R.Top) return;

  if (!Dst->MeasuringMode()) {
    auto* resampler = dynamic_cast<TBitmap32Resampler*>(Src->Resampler());
    if (resampler == nullptr) throw EInvalidCast("Invalid class typecast");
    std::unique_ptr<TTransformer> transformer =
        MakeTransformer(resampler->TransformerClass(), resampler, Transformation);
    // The transformer dies here; the caller's rasterizer must not keep pointing at it.
    TCustomSampler* const previous = Rasterizer.Sampler();
    struct TRestoreSampler {
      TRasterizer& r;
      TCustomSampler* s;
      ~TRestoreSampler() { r.SetSampler(s); }
    } restore{Rasterizer, previous};
    Rasterizer.SetSampler(transformer.get());
    Rasterizer.Rasterize(Dst, R, Src);
    EndMmx();
  }
  Dst->Changed(R, AREAINFO_RECT);
}
