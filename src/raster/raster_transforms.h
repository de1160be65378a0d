#pragma once
// Mapping points between a source and a destination bitmap through a 3 x 3
// matrix of 32-bit floats, and drawing a source bitmap into a destination
// through such a mapping (rotation by an arbitrary angle goes this way).
//
// A matrix holds m0..m8 in storage order; a point (x, y) maps to
// (m0*x + m3*y + m6, m1*x + m4*y + m7). Element [i][j] is m(3i + j).
#include <array>
#include <cstdint>
#include <memory>

#include "platform_exceptions.h"
#include "raster_core.h"

class TRasterizer;

// Raised by a transformation class that lacks the float mappings.
VEMRA_DECLARE_EXCEPTION(ETransformNotImplemented, Exception);
// A resampler of the wrong class where a bitmap resampler is needed.

using TFloatMatrix = std::array<float, 9>;
using TFixedMatrix = std::array<TFixed, 9>;

struct TVector3f {
  float X = 0, Y = 0, Z = 0;
  friend bool operator==(const TVector3f&, const TVector3f&) = default;
};

constexpr TFloatMatrix IdentityMatrix = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// ---- Matrix algebra (32-bit floats, products formed in double) -----------------

// a1*b2 - a2*b1.
float Determinant2(float a1, float a2, float b1, float b2);
// By the rule of Sarrus over the cofactors.
float Determinant(const TFloatMatrix& M);
// The transposed cofactor matrix.
void Adjoint(TFloatMatrix& M);
// Every element times Factor.
void Scale(TFloatMatrix& M, float Factor);
// M becomes its inverse; a matrix whose |determinant| is below 1e-5 (or not a
// number) becomes the identity instead.
void Invert(TFloatMatrix& M);
// The matrix that applies B first and A after it.
TFloatMatrix Multiply(const TFloatMatrix& A, const TFloatMatrix& B);
// Component i = m[i]*x + m[i+3]*y + m[i+6]*z.
TVector3f VectorTransform(const TFloatMatrix& M, const TVector3f& V);
// Each element as Round(m * 65536); infinities saturate, NaN becomes 0.
TFixedMatrix FixedMatrixOf(const TFloatMatrix& M);

// ---- Transformations ---------------------------------------------------------------

class TTransformation : public TNotifiablePersistent {
  VEMRA_CLASS(TTransformation, TNotifiablePersistent)
 public:
  // Marks the cached matrices stale, then notifies.
  void Changed() override;

  // Builds the cached matrices; nothing in the base.
  virtual void PrepareTransform() {}
  bool TransformValid() const { return FTransformValid; }

  virtual bool HasTransformedBounds() const { return true; }
  // The rectangle each side rounded to the nearest integer in the base.
  virtual TRect GetTransformedBounds(const TFloatRect& R);

  // Destination point to source point; prepares first when stale.
  TPoint ReverseTransform(const TPoint& P);
  TFixedPoint ReverseTransform(const TFixedPoint& P);
  TFloatPoint ReverseTransform(const TFloatPoint& P);
  // Source point to destination point; prepares first when stale.
  TPoint Transform(const TPoint& P);
  TFixedPoint Transform(const TFixedPoint& P);
  TFloatPoint Transform(const TFloatPoint& P);

  const TFloatRect& SrcRect() const { return FSrcRect; }
  void SetSrcRect(const TFloatRect& Value);

 protected:
  // The base chain: int through fixed through float; the float forms raise
  // ETransformNotImplemented.
  virtual TPoint ReverseTransformInt(int32_t X, int32_t Y);
  virtual TFixedPoint ReverseTransformFixed(TFixed X, TFixed Y);
  virtual TFloatPoint ReverseTransformFloat(float X, float Y);
  virtual TPoint TransformInt(int32_t X, int32_t Y);
  virtual TFixedPoint TransformFixed(TFixed X, TFixed Y);
  virtual TFloatPoint TransformFloat(float X, float Y);

  bool FTransformValid = false;
  TFloatRect FSrcRect;
};

// Identity, translation and rotation, composed in the order they are called.
class TAffineTransformation : public TTransformation {
  VEMRA_CLASS(TAffineTransformation, TTransformation)
 public:
  TAffineTransformation();

  // The forward matrix. Whoever writes it directly calls Changed afterwards;
  // SetMatrix does both.
  TFloatMatrix Matrix = IdentityMatrix;
  void SetMatrix(const TFloatMatrix& Value);
  // Valid after PrepareTransform.
  const TFloatMatrix& InverseMatrix() const { return FInverseMatrix; }
  const TFixedMatrix& FixedMatrix() const { return FFixedMatrix; }
  const TFixedMatrix& InverseFixedMatrix() const { return FInverseFixedMatrix; }

  // Back to the identity.
  void Clear();
  void Translate(float Dx, float Dy);
  // Alpha in degrees about (Cx, Cy): (x, y) goes to (C*x + S*y, -S*x + C*y)
  // about the centre, so a positive angle turns the picture counter-clockwise
  // on screen (the y axis points down).
  void Rotate(float Cx, float Cy, float Alpha);

  void PrepareTransform() override;
  // ReverseTransform of the whole pixels (X0 + i, Y), i < Count, in 16.16:
  // what a transformer asks for pixel by pixel, for a whole row at once.
  void ReverseTransformRow(int32_t X0, int32_t Y, int32_t Count, TFixedPoint* Out);
  // The four corners of R through the matrix, widened by half a pixel and
  // rounded ties-to-even (so the identity keeps whole rectangles as they are).
  TRect GetTransformedBounds(const TFloatRect& R) override;

 protected:
  TPoint ReverseTransformInt(int32_t X, int32_t Y) override;
  TFixedPoint ReverseTransformFixed(TFixed X, TFixed Y) override;
  TFloatPoint ReverseTransformFloat(float X, float Y) override;
  TPoint TransformInt(int32_t X, int32_t Y) override;
  TFixedPoint TransformFixed(TFixed X, TFixed Y) override;
  TFloatPoint TransformFloat(float X, float Y) override;

 private:
  TFloatMatrix FInverseMatrix = IdentityMatrix;
  TFixedMatrix FFixedMatrix{};
  TFixedMatrix FInverseFixedMatrix{};
};

// ---- Drawing through a transformation ------------------------------------------------

// Draws Src into Dst through Transformation with a rasterizer of the default
// class, clipped to Dst's bounds.
void TransformBitmap(TBitmap32* Dst, TBitmap32* Src, TTransformation* Transformation);
// The same, clipped to DstClip and Dst's ClipRect, with the rasterizer given
// (its Sampler is put back as it was afterwards). Src's resampler must be a
// TBitmap32Resampler (EInvalidCast otherwise).
void TransformBitmap(TBitmap32* Dst, TBitmap32* Src, TTransformation* Transformation,
                     const TRect& DstClip, TRasterizer& Rasterizer);
