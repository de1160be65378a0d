// Transformers: samplers that map each destination point back through a
// transformation and read the sampler they wrap there.
//
// The transformation class lives in its own unit, which joins the build on
// its own schedule; the calls below go through small adapters that look for
// its public point mappings, so this file builds with or without it.
#include <cmath>
#include <concepts>
#include <type_traits>

#include "raster_math.h"
#include "raster_resamplers.h"

#if __has_include("raster_transforms.h")
#include "raster_transforms.h"
#define VEMRA_HAVE_TRANSFORMS 1
#endif

namespace {

[[noreturn]] void NoMapping() {
  throw Exception("Transformations are not available in this build");
}

#ifdef VEMRA_HAVE_TRANSFORMS
using TTransformationType = TTransformation;
#else
// Stands in for the missing class so that the adapters below still compile.
struct TTransformationType {};
#endif

template <class T, class P>
P Reverse(T* Tr, const P& Point) {
  if constexpr (requires(T& t) { { t.ReverseTransform(Point) } -> std::convertible_to<P>; })
    return Tr->ReverseTransform(Point);
  else
    NoMapping();
}

template <class T>
void PrepareIfNeeded(T* Tr) {
  if constexpr (requires(T& t) { t.PrepareTransform(); }) {
    if constexpr (requires(T& t) { bool(t.TransformValid()); }) {
      if (!Tr->TransformValid()) Tr->PrepareTransform();
    } else if constexpr (requires(T& t) { bool(t.TransformValid); }) {
      if (!Tr->TransformValid) Tr->PrepareTransform();
    } else {
      Tr->PrepareTransform();
    }
  }
}

template <class T>
bool HasBoundsOf(T* Tr) {
  if constexpr (requires(T& t) { bool(t.HasTransformedBounds()); })
    return Tr->HasTransformedBounds();
  else
    return false;
}

template <class T>
TRect BoundsOf(T* Tr, const TFloatRect& R) {
  if constexpr (requires(T& t) { { t.GetTransformedBounds(R) } -> std::convertible_to<TRect>; })
    return Tr->GetTransformedBounds(R);
  else
    NoMapping();
}

TTransformationType* Cast(TTransformation* T) {
  return reinterpret_cast<TTransformationType*>(T);
}

TTransformationType* Checked(TTransformation* T) {
  if (!T) throw Exception("Transformation is nil");
  return Cast(T);
}

// The Transformation property, when the class is part of the object model.
template <class T>
void PublishTransformation(TPropList& List) {
  if constexpr (std::is_base_of_v<TObject, T>) {
    TPropInfo P;
    P.Name = "Transformation";
    P.Kind = tkClass;
    P.Get = [](const TObject& O) {
      T* Tr = reinterpret_cast<T*>(static_cast<const TTransformer&>(O).Transformation());
      return TPropValue{static_cast<TObject*>(Tr)};
    };
    P.Set = [](TObject& O, const TPropValue& V) {
      if (auto* Ob = std::get_if<TObject*>(&V))
        if (auto* Tr = dynamic_cast<T*>(*Ob))
          static_cast<TTransformer&>(O).SetTransformation(reinterpret_cast<TTransformation*>(Tr));
    };
    List.push_back(std::move(P));
  }
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
  PublishTransformation<TTransformationType>(List);
}

TColor32 TTransformer::GetSampleInt(int32_t X, int32_t Y) {
  const TFixedPoint P = Reverse(Checked(FTransformation), TFixedPoint{FixedFromInt(X), FixedFromInt(Y)});
  return Nested().GetSampleFixed(P.X, P.Y);
}

TColor32 TTransformer::GetSampleFixed(TFixed X, TFixed Y) {
  const TFixedPoint P = Reverse(Checked(FTransformation), TFixedPoint{X, Y});
  return Nested().GetSampleFixed(P.X, P.Y);
}

TColor32 TTransformer::GetSampleFloat(float X, float Y) {
  const TFloatPoint P = Reverse(Checked(FTransformation), TFloatPoint{X, Y});
  return Nested().GetSampleFloat(P.X, P.Y);
}

void TTransformer::PrepareSampling() {
  TNestedSampler::PrepareSampling();
  if (FTransformation) PrepareIfNeeded(Cast(FTransformation));
}

bool TTransformer::HasBounds() const {
  return FTransformation && HasBoundsOf(Cast(FTransformation)) && Nested().HasBounds();
}

TRect TTransformer::GetSampleBounds() const {
  const TRect R = Nested().GetSampleBounds();
  return BoundsOf(Checked(FTransformation), FloatRectFromRect(R));
}

TColor32 TNearestTransformer::GetSampleInt(int32_t X, int32_t Y) {
  const TPoint P = Reverse(Checked(FTransformation), TPoint{X, Y});
  return Nested().GetSampleInt(P.X, P.Y);
}

TColor32 TNearestTransformer::GetSampleFixed(TFixed X, TFixed Y) {
  const TFixedPoint P = Reverse(Checked(FTransformation), TFixedPoint{X, Y});
  return Nested().GetSampleInt(FixedFloor(P.X), FixedFloor(P.Y));
}

TColor32 TNearestTransformer::GetSampleFloat(float X, float Y) {
  const TFloatPoint P = Reverse(Checked(FTransformation), TFloatPoint{X, Y});
  return Nested().GetSampleInt(static_cast<int32_t>(std::nearbyint(P.X)),
                               static_cast<int32_t>(std::nearbyint(P.Y)));
}
