// Transformers: samplers that map each destination point back through a
// transformation and read the sampler they wrap there.
#include <cmath>

#include "raster_math.h"
#include "raster_resamplers.h"

#if __has_include("raster_transforms.h")
#include "raster_transforms.h"
#define VEMRA_HAVE_TRANSFORMS 1
#endif

std::unique_ptr<TTransformer> MakeTransformer(TTransformerClass Class, TCustomSampler* Sampler,
                                              TTransformation* Transformation) {
  if (Class == tcNearestTransformer)
    return std::make_unique<TNearestTransformer>(Sampler, Transformation);
  return std::make_unique<TTransformer>(Sampler, Transformation);
}

#ifdef VEMRA_HAVE_TRANSFORMS

void TTransformer::GetPublishedProperties(TPropList& List) const {
  TNestedSampler::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Transformation", &TTransformer::Transformation,
                                   &TTransformer::SetTransformation));
}

TColor32 TTransformer::GetSampleInt(int32_t X, int32_t Y) {
  const TFixedPoint P = FTransformation->ReverseTransform(TFixedPoint{FixedFromInt(X), FixedFromInt(Y)});
  return Nested().GetSampleFixed(P.X, P.Y);
}

TColor32 TTransformer::GetSampleFixed(TFixed X, TFixed Y) {
  const TFixedPoint P = FTransformation->ReverseTransform(TFixedPoint{X, Y});
  return Nested().GetSampleFixed(P.X, P.Y);
}

TColor32 TTransformer::GetSampleFloat(float X, float Y) {
  const TFloatPoint P = FTransformation->ReverseTransform(TFloatPoint{X, Y});
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
  return FTransformation->GetTransformedBounds(FloatRectFromRect(Nested().GetSampleBounds()));
}

TColor32 TNearestTransformer::GetSampleInt(int32_t X, int32_t Y) {
  const TPoint P = FTransformation->ReverseTransform(TPoint{X, Y});
  return Nested().GetSampleInt(P.X, P.Y);
}

TColor32 TNearestTransformer::GetSampleFixed(TFixed X, TFixed Y) {
  const TFixedPoint P = FTransformation->ReverseTransform(TFixedPoint{X, Y});
  return Nested().GetSampleInt(FixedFloor(P.X), FixedFloor(P.Y));
}

TColor32 TNearestTransformer::GetSampleFloat(float X, float Y) {
  const TFloatPoint P = FTransformation->ReverseTransform(TFloatPoint{X, Y});
  return Nested().GetSampleInt(static_cast<int32_t>(std::nearbyint(P.X)),
                               static_cast<int32_t>(std::nearbyint(P.Y)));
}

#else

// Until the transformation unit is part of the build a transformer has no
// mapping to apply; it refuses instead of sampling the wrong place.
namespace {
[[noreturn]] void NoTransforms() {
  throw Exception("Transformations are not available in this build");
}
}  // namespace

void TTransformer::GetPublishedProperties(TPropList& List) const {
  TNestedSampler::GetPublishedProperties(List);
}
TColor32 TTransformer::GetSampleInt(int32_t, int32_t) { NoTransforms(); }
TColor32 TTransformer::GetSampleFixed(TFixed, TFixed) { NoTransforms(); }
TColor32 TTransformer::GetSampleFloat(float, float) { NoTransforms(); }
void TTransformer::PrepareSampling() { TNestedSampler::PrepareSampling(); }
bool TTransformer::HasBounds() const { return false; }
TRect TTransformer::GetSampleBounds() const { return Nested().GetSampleBounds(); }
TColor32 TNearestTransformer::GetSampleInt(int32_t, int32_t) { NoTransforms(); }
TColor32 TNearestTransformer::GetSampleFixed(TFixed, TFixed) { NoTransforms(); }
TColor32 TNearestTransformer::GetSampleFloat(float, float) { NoTransforms(); }

#endif
