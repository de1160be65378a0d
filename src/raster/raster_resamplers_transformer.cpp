// Transformers: samplers that map each destination point back through a
// transformation and read the sampler they wrap there.
#include <algorithm>
#include <climits>
#include <cmath>
#include <typeinfo>
#include <vector>

#include "raster_math.h"
#include "raster_resamplers.h"
#include "raster_transforms.h"

namespace {

TTransformation& Checked(TTransformation* T) {
  if (!T) throw Exception("Transformation is nil");
  return *T;
}

}  // namespace

std::unique_ptr<TTransformer> MakeTransformer(TTransformerClass Class, TCustomSampler* Sampler,
                                              TTransformation* Transformation) {
  if (Class == tcNearestTransformer)
    return std::make_unique<TNearestTransformer>(Sampler, Transformation);
  return std::make_unique<TTransformer>(Sampler, Transformation);
}

void TTransformer::GetPublishedProperties(TPropList& List) const {
  TNestedSampler::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Transformation", &TTransformer::Transformation,
                                   &TTransformer::SetTransformation));
}

TColor32 TTransformer::GetSampleInt(int32_t X, int32_t Y) {
  const TFixedPoint P = Checked(FTransformation).ReverseTransform(TFixedPoint{FixedFromInt(X), FixedFromInt(Y)});
  return Nested().GetSampleFixed(P.X, P.Y);
}

TColor32 TTransformer::GetSampleFixed(TFixed X, TFixed Y) {
  const TFixedPoint P = Checked(FTransformation).ReverseTransform(TFixedPoint{X, Y});
  return Nested().GetSampleFixed(P.X, P.Y);
}

TColor32 TTransformer::GetSampleFloat(float X, float Y) {
  const TFloatPoint P = Checked(FTransformation).ReverseTransform(TFloatPoint{X, Y});
  return Nested().GetSampleFloat(P.X, P.Y);
}

void TTransformer::PrepareSampling() {
  TNestedSampler::PrepareSampling();
  if (FTransformation && !FTransformation->TransformValid()) FTransformation->PrepareTransform();
}

bool TTransformer::HasBounds() const {
  return FTransformation && FTransformation->HasTransformedBounds() && Nested().HasBounds();
}

TRect TTransformer::GetSampleBounds() const {
  const TRect R = Nested().GetSampleBounds();
  return Checked(FTransformation).GetTransformedBounds(FloatRectFromRect(R));
}

bool TTransformer::CanSampleRows() const {
  // Only the exact classes: a subclass may map or sample its own way.
  if (typeid(*this) != typeid(TTransformer) || FTransformation == nullptr ||
      typeid(*FTransformation) != typeid(TAffineTransformation) || !FTransformation->TransformValid())
    return false;
  const TCustomSampler* S = Sampler();
  if (S == nullptr || typeid(*S) != typeid(TKernelResampler)) return false;
  const auto* K = static_cast<const TKernelResampler*>(S);
  return K->Bitmap() != nullptr && !K->Bitmap()->Empty() && K->CanSampleRuns();
}

void TTransformer::SampleRow(int32_t Y, int32_t X0, int32_t X1, TColor32* Out) {
  if (X1 <= X0) return;
  if (!CanSampleRows()) {
    TNestedSampler::SampleRow(Y, X0, X1, Out);
    return;
  }
  const auto* K = static_cast<const TKernelResampler*>(Sampler());
  // Short pieces keep the points on the stack.
  constexpr int32_t Piece = 512;
  TFixedPoint Points[Piece];
  for (int32_t x = X0; x < X1; x += Piece) {
    const int32_t N = std::min(Piece, X1 - x);
    static_cast<TAffineTransformation*>(FTransformation)->ReverseTransformRow(x, Y, N, Points);
    K->SampleFixedRun(Points, N, Out + (x - X0), K->BoundCanvas());
  }
}

TColor32 TNearestTransformer::GetSampleInt(int32_t X, int32_t Y) {
  const TPoint P = Checked(FTransformation).ReverseTransform(TPoint{X, Y});
  return Nested().GetSampleInt(P.X, P.Y);
}

TColor32 TNearestTransformer::GetSampleFixed(TFixed X, TFixed Y) {
  const TFixedPoint P = Checked(FTransformation).ReverseTransform(TFixedPoint{X, Y});
  return Nested().GetSampleInt(FixedFloor(P.X), FixedFloor(P.Y));
}

TColor32 TNearestTransformer::GetSampleFloat(float X, float Y) {
  const TFloatPoint P = Checked(FTransformation).ReverseTransform(TFloatPoint{X, Y});
  // Round, ties to even, held inside the integer range.
  const auto Round = [](float V) {
    const long double R = std::nearbyint(static_cast<long double>(V));
    if (!(R > INT32_MIN)) return INT32_MIN;  // also a NaN
    if (!(R < INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(R);
  };
  return Nested().GetSampleInt(Round(P.X), Round(P.Y));
}
