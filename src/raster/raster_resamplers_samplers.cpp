// The sampler and resampler classes: reading a bitmap at integer, 16.16 and
// float points through the bitmap's pixel readers or a kernel, and choosing
// the stretch path of a scaled transfer. Also the class registries and the
// unit's start-up.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "raster_blend.h"
#include "raster_containers.h"
#include "raster_lowlevel.h"
#include "raster_math.h"
#include "raster_resamplers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(__SSE2__)
// The weights of N taps (each inside 16 bits) in pairs, so that two taps go
// through one multiply-add per channel; the last pair of an odd count takes
// weight 0 for the tap it lacks.
void PairTapWeights(const int32_t* Weights, int32_t N, __m128i* Pairs) {
  for (int32_t k = 0; k < N; k += 2) {
    const uint32_t W0 = static_cast<uint16_t>(Weights[k]);
    const uint32_t W1 = k + 1 < N ? static_cast<uint16_t>(Weights[k + 1]) : 0u;
    Pairs[k >> 1] = _mm_set1_epi32(static_cast<int32_t>(W0 | W1 << 16));
  }
}

// The weighted sums b, g, r, a of N neighbouring pixels of a row, exact in
// 32 bits for up to 17 taps of 255 * 2^15. PairAt(k) gives the 16-bit
// weights of taps k and k + 1 in every 32-bit lane (the second is not used
// for the last tap of an odd count).
template <typename TPairAt>
inline __m128i WeightedRowSums(const TColor32* Line, int32_t N, const TPairAt& PairAt) {
  const __m128i Zero = _mm_setzero_si128();
  __m128i Acc = Zero;
  int32_t k = 0;
  for (; k + 1 < N; k += 2) {
    const __m128i Two = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(Line + k));
    // b0 b1 g0 g1 r0 r1 a0 a1 widened to 16 bits.
    const __m128i Pair = _mm_unpacklo_epi8(_mm_unpacklo_epi8(Two, _mm_srli_si128(Two, 4)), Zero);
    Acc = _mm_add_epi32(Acc, _mm_madd_epi16(Pair, PairAt(k)));
  }
  if (k < N) {
    const __m128i One = _mm_cvtsi32_si128(static_cast<int32_t>(Line[k]));
    const __m128i Single = _mm_unpacklo_epi8(_mm_unpacklo_epi8(One, Zero), Zero);
    Acc = _mm_add_epi32(Acc, _mm_madd_epi16(Single, PairAt(k)));
  }
  return Acc;
}

inline __m128i PairedRowSums(const TColor32* Line, int32_t N, const __m128i* Pairs) {
  return WeightedRowSums(Line, N, [Pairs](int32_t k) { return Pairs[k >> 1]; });
}
#endif

// Round to nearest, ties to even, saturated into the int32 range so that a
// wild coordinate cannot make the conversion undefined.
int32_t RoundToInt(long double V) {
  if (!(V > INT32_MIN)) return INT32_MIN;
  if (!(V < INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(std::nearbyint(V));
}

// The same for a value that double holds exactly (a float times a power of two,
// or a float times an integer below 2^29): rounding it in double gives the
// very result of the extended form, without the slow extended library call
// that used to take over a third of a rotation's time.
int32_t RoundExactToInt(double V) {
  if (!(V > INT32_MIN)) return INT32_MIN;
  if (!(V < INT32_MAX)) return INT32_MAX;
#if defined(__SSE2__)
  // The processor's conversion rounds by the current mode, ties to even as
  // nearbyint does, without its library call.
  return _mm_cvtsd_si32(_mm_set_sd(V));
#else
  return static_cast<int32_t>(std::nearbyint(V));
#endif
}

// Table sizes whose index products a float fraction keeps exact in double.
constexpr int32_t kExactTableSize = 1 << 29;

// The widest tap radius a point sample uses.
constexpr int32_t kMaxTapRadius = 256;

int32_t CeilToInt(float V) {
  // Inside the int32 range the truncation toward zero is the ceiling, or one
  // below it for a positive fraction.
  if (V > -2147483648.0f && V <= 2147483520.0f) {
    const int32_t T = static_cast<int32_t>(V);
    return T < V ? T + 1 : T;
  }
  // The ceiling of a float is a float: double loses nothing.
  const double C = std::ceil(static_cast<double>(V));
  if (!(C > INT32_MIN)) return INT32_MIN;
  if (!(C < INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(C);
}

// V - D held inside the int32 range (weights of a sane kernel never get near it).
int32_t LowerBy(int32_t V, int64_t D) {
  return static_cast<int32_t>(std::clamp<int64_t>(V - D, INT32_MIN, INT32_MAX));
}

// The sums of a kernel sample: each tap row's channels weighed by the tap
// weights, then the rows weighed by theirs. A row sum fits in 64 bits, but
// times a vertical weight of a wild kernel (a cubic with a huge Coeff) it does
// not; the totals are 128 bits wide so that such a sample saturates instead
// of wrapping.
struct TTapSums {
  int64_t Rb = 0, Rg = 0, Rr = 0, Ra = 0;
  __int128 Tb = 0, Tg = 0, Tr = 0, Ta = 0;

  void AddTap(TColor32 C, int32_t Wx) {
    Rb += int64_t{Wx} * (C & 0xFF);
    Rg += int64_t{Wx} * ((C >> 8) & 0xFF);
    Rr += int64_t{Wx} * ((C >> 16) & 0xFF);
    Ra += int64_t{Wx} * (C >> 24);
  }
  void EndRow(int32_t Wy) {
    Tb += static_cast<__int128>(Rb) * Wy;
    Tg += static_cast<__int128>(Rg) * Wy;
    Tr += static_cast<__int128>(Rr) * Wy;
    Ta += static_cast<__int128>(Ra) * Wy;
    Rb = Rg = Rr = Ra = 0;
  }
  // Limited to 0..255 whatever the kernel's RangeCheck says: a convex kernel
  // never leaves the range, and a wrapped byte would be a wrong colour.
  TColor32 Colour() const {
    const auto Byte = [](__int128 T) -> TColor32 {
      const __int128 V = T >> 16;
      return static_cast<TColor32>(V < 0 ? 0 : (V > 255 ? 255 : V));
    };
    return Byte(Ta) << 24 | Byte(Tr) << 16 | Byte(Tg) << 8 | Byte(Tb);
  }
};

TClassList& ResamplerRegistry() {
  static TClassList List;
  return List;
}

TClassList& KernelRegistry() {
  static TClassList List;
  return List;
}

std::vector<TClass> Snapshot(const TClassList& L) { return std::vector<TClass>(L.begin(), L.end()); }

}  // namespace

// ---- TCustomSampler ----------------------------------------------------------------

TColor32 TCustomSampler::GetSampleInt(int32_t X, int32_t Y) {
  return GetSampleFixed(FixedFromInt(X), FixedFromInt(Y));
}

TColor32 TCustomSampler::GetSampleFixed(TFixed X, TFixed Y) {
  return GetSampleFloat(static_cast<float>(X * (1.0L / 65536)), static_cast<float>(Y * (1.0L / 65536)));
}

TColor32 TCustomSampler::GetSampleFloat(float X, float Y) {
  return GetSampleFixed(FixedFromFloat(X), FixedFromFloat(Y));
}

void TCustomSampler::SampleRow(int32_t Y, int32_t X0, int32_t X1, TColor32* Out) {
  for (int32_t x = X0; x < X1; ++x) *Out++ = GetSampleInt(x, Y);
}

TRect TCustomSampler::GetSampleBounds() const { return TRect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}; }

// ---- TBitmap32Resampler ---------------------------------------------------------------

TBitmap32Resampler::TBitmap32Resampler(TBitmap32* Bitmap) : FBitmap(Bitmap) {}

void TBitmap32Resampler::SetPixelAccessMode(TPixelAccessMode Value) {
  if (Value != FPixelAccessMode) {
    FPixelAccessMode = Value;
    Changed();
  }
}

void TBitmap32Resampler::Changed() {
  if (FBitmap) FBitmap->Changed();
}

void TBitmap32Resampler::PrepareSampling() { FClipRect = FBitmap ? FBitmap->ClipRect() : TRect{}; }

TRect TBitmap32Resampler::GetSampleBounds() const {
  TRect R = FBitmap ? FBitmap->ClipRect() : TRect{};
  if (FPixelAccessMode == pamTransparentEdge) InflateRectBy(R, 1, 1);
  return R;
}

void TBitmap32Resampler::AssignTo(TPersistent* Dst) {
  if (auto* R = dynamic_cast<TBitmap32Resampler*>(Dst)) {
    CopyPublishedProperties(this, R);
    return;
  }
  TCustomResampler::AssignTo(Dst);
}

void TBitmap32Resampler::GetPublishedProperties(TPropList& List) const {
  TCustomResampler::GetPublishedProperties(List);
  List.push_back(PublishedProperty("PixelAccessMode", &TBitmap32Resampler::PixelAccessMode,
                                   &TBitmap32Resampler::SetPixelAccessMode));
}

// The constructors that take a bitmap install the new object as its resampler;
// the bitmap owns it from then on.
#define VEMRA_BIND_TO_BITMAP() \
  if (Bitmap) Bitmap->SetResampler(this)

// ---- TNearestResampler ------------------------------------------------------------------

TNearestResampler::TNearestResampler() { FTransformerClass = tcNearestTransformer; }

TNearestResampler::TNearestResampler(TBitmap32* Bitmap) : TBitmap32Resampler(Bitmap) {
  FTransformerClass = tcNearestTransformer;
  VEMRA_BIND_TO_BITMAP();
}

void TNearestResampler::PrepareSampling() { TBitmap32Resampler::PrepareSampling(); }

TColor32 TNearestResampler::GetPixelTransparentEdge(int32_t X, int32_t Y) const {
  const TRect& C = FClipRect;
  if (IsRectEmpty(C)) return 0;
  const int32_t Xi = std::clamp(X, C.Left, C.Right - 1);
  const int32_t Yi = std::clamp(Y, C.Top, C.Bottom - 1);
  const TColor32 P = FBitmap->GetPixel(Xi, Yi);
  return (Xi != X || Yi != Y) ? (P & 0x00FFFFFFu) : P;
}

TColor32 TNearestResampler::GetSampleInt(int32_t X, int32_t Y) {
  if (!FBitmap) return 0;
  switch (FPixelAccessMode) {
    case pamUnsafe: return FBitmap->GetPixel(X, Y);
    case pamSafe: return FBitmap->GetPixelClipped(X, Y);
    case pamWrap: return FBitmap->GetPixelWrapped(X, Y);
    case pamTransparentEdge: return GetPixelTransparentEdge(X, Y);
  }
  return 0;
}

TColor32 TNearestResampler::GetSampleFixed(TFixed X, TFixed Y) {
  return GetSampleInt(FixedRound(X), FixedRound(Y));
}

TColor32 TNearestResampler::GetSampleFloat(float X, float Y) {
  return GetSampleInt(RoundToInt(X), RoundToInt(Y));
}

void TNearestResampler::Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                                 TBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                                 const TPixelCombineEvent& CombineCallBack) {
  StretchNearestPixels(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
}

// ---- TLinearResampler / TDraftResampler ---------------------------------------------------

TLinearResampler::TLinearResampler() = default;

TLinearResampler::TLinearResampler(TBitmap32* Bitmap) : TBitmap32Resampler(Bitmap) {
  VEMRA_BIND_TO_BITMAP();
}

// Inside the clip rectangle a normal bilinear read; up to one pixel outside it
// the taps that fall outside keep their colour but lose their alpha, so the
// edge fades out; further out nothing.
TColor32 TLinearResampler::GetPixelTransparentEdge(TFixed X, TFixed Y) const {
  const TRect& C = FClipRect;
  const int32_t Xi = FixedFloor(X), Yi = FixedFloor(Y);
  if (Xi >= C.Left && Xi + 1 < C.Right && Yi >= C.Top && Yi + 1 < C.Bottom)
    return FBitmap->GetPixelFixed(X, Y);
  if (Xi < C.Left - 1 || Xi >= C.Right || Yi < C.Top - 1 || Yi >= C.Bottom) return 0;
  const uint32_t Fx = (static_cast<uint32_t>(X) >> 8) & 0xFF;
  const uint32_t Fy = (static_cast<uint32_t>(Y) >> 8) & 0xFF;
  const auto Tap = [&](int32_t Tx, int32_t Ty) {
    const TColor32 P = FBitmap->GetPixel(std::clamp(Tx, 0, FBitmap->Width() - 1),
                                         std::clamp(Ty, 0, FBitmap->Height() - 1));
    return PointInRect(C, Tx, Ty) ? P : (P & 0x00FFFFFFu);
  };
  const TColor32 Top = CombinePixels(Tap(Xi + 1, Yi), Tap(Xi, Yi), Fx);
  const TColor32 Bottom = CombinePixels(Tap(Xi + 1, Yi + 1), Tap(Xi, Yi + 1), Fx);
  const TColor32 R = CombinePixels(Bottom, Top, Fy);
  EndMmx();
  return R;
}

TColor32 TLinearResampler::GetSampleFixed(TFixed X, TFixed Y) {
  if (!FBitmap || FBitmap->Empty()) return 0;
  switch (FPixelAccessMode) {
    case pamUnsafe: return FBitmap->GetPixelFixed(X, Y);
    case pamSafe: return FBitmap->GetPixelFixedClipped(X, Y);
    case pamWrap: return FBitmap->GetPixelWrappedBilinear(X, Y);
    case pamTransparentEdge: return GetPixelTransparentEdge(X, Y);
  }
  return 0;
}

TColor32 TLinearResampler::GetSampleFloat(float X, float Y) {
  return GetSampleFixed(RoundToInt(X * 65536.0L), RoundToInt(Y * 65536.0L));
}

void TLinearResampler::Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                                TBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                                const TPixelCombineEvent& CombineCallBack) {
  const int64_t SrcW = int64_t{SrcRect.Right} - SrcRect.Left, SrcH = int64_t{SrcRect.Bottom} - SrcRect.Top;
  const int64_t DstW = int64_t{DstRect.Right} - DstRect.Left, DstH = int64_t{DstRect.Bottom} - DstRect.Top;
  if (DstW > SrcW && DstH > SrcH && SrcW > 1 && SrcH > 1)
    StretchBilinearFast(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
  else
    ResampleWithKernel(Dst, DstRect, DstClip, Src, SrcRect, &FLinearKernel, CombineOp,
                       CombineCallBack);
}

void TDraftResampler::Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                               TBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                               const TPixelCombineEvent& CombineCallBack) {
  QuickResample(Dst, DstRect, DstClip, Src, SrcRect, &FLinearKernel, CombineOp, CombineCallBack);
}

// ---- TKernelResampler ------------------------------------------------------------------------

TKernelResampler::TKernelResampler() : FKernel(std::make_unique<TBoxKernel>()) {}

TKernelResampler::TKernelResampler(TBitmap32* Bitmap)
    : TBitmap32Resampler(Bitmap), FKernel(std::make_unique<TBoxKernel>()) {
  VEMRA_BIND_TO_BITMAP();
}

TKernelResampler::~TKernelResampler() = default;

void TKernelResampler::SetKernel(std::unique_ptr<TCustomKernel> Value) {
  if (!Value || Value.get() == FKernel.get()) {
    if (Value) Value.release();  // our own object handed back: keep one owner
    return;
  }
  FKernel = std::move(Value);
  Changed();
}

void TKernelResampler::SetKernelClassName(const std::string& Value) {
  if (Value.empty() || Value == KernelClassName()) return;
  if (auto K = CreateKernelByName(Value)) {
    FKernel = std::move(K);
    Changed();
  }
}

void TKernelResampler::SetKernelMode(TKernelMode Value) {
  if (Value != FKernelMode) {
    FKernelMode = Value;
    Changed();
  }
}

void TKernelResampler::SetTableSize(int32_t Value) {
  if (Value < 2) Value = 2;
  if (Value != FTableSize) {
    FTableSize = Value;
    Changed();
  }
}

void TKernelResampler::GetPublishedProperties(TPropList& List) const {
  TBitmap32Resampler::GetPublishedProperties(List);
  List.push_back(PublishedProperty("KernelClassName", &TKernelResampler::KernelClassName,
                                   &TKernelResampler::SetKernelClassName));
  TPropInfo K;
  K.Name = "Kernel";
  K.Kind = tkClass;
  K.Get = [](const TObject& O) {
    return TPropValue{static_cast<TObject*>(static_cast<const TKernelResampler&>(O).Kernel())};
  };
  List.push_back(std::move(K));
  List.push_back(PublishedProperty("KernelMode", &TKernelResampler::KernelMode,
                                   &TKernelResampler::SetKernelMode));
  List.push_back(PublishedProperty("TableSize", &TKernelResampler::TableSize,
                                   &TKernelResampler::SetTableSize));
}

void TKernelResampler::PrepareSampling() {
  TBitmap32Resampler::PrepareSampling();
  {
    std::lock_guard<std::mutex> Lock(FFractionLock);
    FFractionReady.store(false);
    FFractions = TFractionWeights{};
  }
  FOuterColor = FBitmap ? FBitmap->OuterColor() : 0;
  FWeightTable.clear();
  if (FKernelMode == kmTableNearest || FKernelMode == kmTableLinear) {
    // TableSize + 1 rows of 2W + 1 weights; each row sums to exactly 256.
    const int32_t W = std::clamp(CeilToInt(FKernel->GetWidth()), 0, kMaxTapRadius);
    FTableWidth = 2 * W + 1;
    FWeightTable.assign(static_cast<size_t>(int64_t{FTableSize} + 1) * FTableWidth, 0);
    for (int64_t i = 0; i <= FTableSize; ++i) {
      const float F = static_cast<float>(static_cast<long double>(i) / (FTableSize - 1));
      int32_t* Row = FWeightTable.data() + static_cast<size_t>(i) * FTableWidth;
      int64_t Sum = 0;
      for (int32_t k = -W; k <= W; ++k) {
        Row[k + W] = RoundExactToInt(double{FKernel->Filter(static_cast<float>(k + F))} * 256.0);
        Sum += Row[k + W];
      }
      Row[W] = LowerBy(Row[W], Sum - 256);
    }
  }
}

void TKernelResampler::FinalizeSampling() {
  {
    std::lock_guard<std::mutex> Lock(FFractionLock);
    FFractionReady.store(false);
    FFractions = TFractionWeights{};
  }
  FWeightTable.clear();
  FWeightTable.shrink_to_fit();
}

void TKernelResampler::TapWeights(float F, int32_t W, int32_t* Out) const {
  const int32_t N = 2 * W + 1;
  int64_t Sum = 0;
  switch (FKernelMode) {
    case kmDynamic:
      for (int32_t k = -W; k <= W; ++k) {
        Out[k + W] = RoundExactToInt(double{FKernel->Filter(static_cast<float>(k + F))} * 256.0);
        Sum += Out[k + W];
      }
      Out[W] = LowerBy(Out[W], Sum - 256);
      break;
    case kmTableNearest: {
      const int32_t R =
          std::clamp(FTableSize <= kExactTableSize ? RoundExactToInt(double{F} * (FTableSize - 1))
                                                   : RoundToInt(static_cast<long double>(F) * (FTableSize - 1)),
                     0, FTableSize);
      std::memcpy(Out, FWeightTable.data() + static_cast<size_t>(R) * FTableWidth,
                  static_cast<size_t>(N) * sizeof(int32_t));
      break;
    }
    case kmTableLinear: {
      // Locals and a restricted output: stores into Out would otherwise
      // make the compiler reload the table and its sizes for every tap.
      const int32_t Size = FTableSize;
      const int32_t P = Size <= kExactTableSize ? RoundExactToInt(double{F} * (Size - 1) * 65536.0)
                                                : RoundToInt(static_cast<long double>(F) * (Size - 1) * 65536.0L);
      const int32_t R = std::clamp(P >> 16, 0, Size - 1);
      const int64_t Q = P & 0xFFFF;
      const int32_t* const R0 = FWeightTable.data() + static_cast<size_t>(R) * FTableWidth;
      const int32_t* const R1 = R0 + FTableWidth;
      int32_t* __restrict const O = Out;
      int32_t i = 0;
#if defined(__SSE2__)
      // Table rows inside 16 bits (every sane kernel's): two taps at a time
      // in double, where (R1 - R0) * Q + 0x7FFF is exact and scaling by 2^-16
      // and truncating divides toward zero as the integer form does; the
      // sums stay far inside 32 bits, so nothing is clamped.
      uint32_t Outside = 0;
      for (int32_t k = 0; k < N; ++k)
        Outside |= (static_cast<uint32_t>(R0[k]) + 0x8000u) | (static_cast<uint32_t>(R1[k]) + 0x8000u);
      if ((Outside >> 16) == 0) {
        const __m128d Qd = _mm_set1_pd(static_cast<double>(Q));
        const __m128d Half = _mm_set1_pd(32767.0), Scale = _mm_set1_pd(1.0 / 65536);
        for (; i + 1 < N; i += 2) {
          const __m128i A = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(R0 + i));
          const __m128i B = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(R1 + i));
          const __m128d D = _mm_cvtepi32_pd(_mm_sub_epi32(B, A));
          const __m128d V = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(D, Qd), Half), Scale);
          _mm_storel_epi64(reinterpret_cast<__m128i*>(O + i), _mm_add_epi32(A, _mm_cvttpd_epi32(V)));
          Sum += int64_t{O[i]} + O[i + 1];
        }
      }
#endif
      for (; i < N; ++i) {
        const int64_t V = R0[i] + ((int64_t{R1[i]} - R0[i]) * Q + 0x7FFF) / 65536;
        O[i] = static_cast<int32_t>(V < INT32_MIN ? INT32_MIN : (V > INT32_MAX ? INT32_MAX : V));
        Sum += O[i];
      }
      O[W] = LowerBy(O[W], Sum - 256);
      break;
    }
  }
}

TColor32 TKernelResampler::GetSampleFloat(float X, float Y) {
  if (!FBitmap || FBitmap->Empty()) return 0;
  // An undefined position has no taps to read; its weights would be NaNs.
  if (std::isnan(X) || std::isnan(Y)) return FPixelAccessMode == pamSafe ? FOuterColor : 0;
  // Far taps of an absurdly wide kernel weigh nothing; the cap keeps a sample
  // from taking minutes.
  const int32_t W = std::clamp(CeilToInt(FKernel->GetWidth()), 0, kMaxTapRadius);
  const int32_t N = 2 * W + 1;
  // A table built before the kernel or the table size changed has the wrong
  // shape; reading it would run past its end.
  if (FKernelMode != kmDynamic &&
      (FTableWidth != N || FWeightTable.size() != static_cast<size_t>(int64_t{FTableSize} + 1) * N))
    PrepareSampling();
  const int32_t Cx = CeilToInt(X), Cy = CeilToInt(Y);
  const TRect& Clip = FClipRect;

  // Tap ranges as offsets 0..N-1 (k = offset - W).
  int32_t XLo = 0, XHi = N - 1, YLo = 0, YHi = N - 1;
  bool Edge = false;
  if (FPixelAccessMode == pamSafe || FPixelAccessMode == pamTransparentEdge) {
    if (Cx < Clip.Left || Cx > Clip.Right || Cy < Clip.Top || Cy > Clip.Bottom)
      return FPixelAccessMode == pamSafe ? FOuterColor : 0;
    const auto Cut = [&](int32_t C, int32_t Lo, int32_t Hi, int32_t& A, int32_t& B) {
      const int64_t First = int64_t{C} - W, Last = int64_t{C} + W;
      if (First < Lo) {
        A = static_cast<int32_t>(Lo - First);
        Edge = true;
      }
      if (Last > Hi - 1) {
        B = static_cast<int32_t>(N - 1 - (Last - (Hi - 1)));
        Edge = true;
      }
    };
    Cut(Cx, Clip.Left, Clip.Right, XLo, XHi);
    Cut(Cy, Clip.Top, Clip.Bottom, YLo, YHi);
  }

  // Weights of both axes in arrays sized for this kernel, however wide.
  FTapWeightX.resize(static_cast<size_t>(N));
  FTapWeightY.resize(static_cast<size_t>(N));
  TapWeights(static_cast<float>(Cx - static_cast<long double>(X)), W, FTapWeightX.data());
  TapWeights(static_cast<float>(Cy - static_cast<long double>(Y)), W, FTapWeightY.data());

  const int32_t BW = FBitmap->Width(), BH = FBitmap->Height();
  const TWrapProc Wrap = WrapProcByMode[FBitmap->WrapMode()];
  const auto Column = [&](int32_t o) -> int32_t {
    const int64_t V = int64_t{Cx} + o - W;
    if (FPixelAccessMode == pamWrap)
      return Wrap(static_cast<int32_t>(std::clamp<int64_t>(V, INT32_MIN, INT32_MAX)), Clip.Left, Clip.Right - 1);
    // Unchecked taps still stay inside the bitmap.
    return static_cast<int32_t>(std::clamp<int64_t>(V, 0, BW - 1));
  };
  const auto Row = [&](int32_t o) -> int32_t {
    const int64_t V = int64_t{Cy} + o - W;
    if (FPixelAccessMode == pamWrap)
      return Wrap(static_cast<int32_t>(std::clamp<int64_t>(V, INT32_MIN, INT32_MAX)), Clip.Top, Clip.Bottom - 1);
    return static_cast<int32_t>(std::clamp<int64_t>(V, 0, BH - 1));
  };
  const bool Wrapped = FPixelAccessMode == pamWrap && !IsRectEmpty(Clip);
  if (FPixelAccessMode == pamWrap && !Wrapped) return 0;

  // The common case: every tap inside the bitmap, none cut off or wrapped, a
  // narrow kernel with weights inside 16 bits. The taps of a row are then a plain
  // run of pixels and the totals fit in 64 bits, so the sums come out the same
  // without the per-tap index and edge work (most of a rotation's time).
  if (!Edge && FPixelAccessMode != pamWrap && W <= 8 && int64_t{Cx} - W >= 0 && int64_t{Cx} + W < BW &&
      int64_t{Cy} - W >= 0 && int64_t{Cy} + W < BH) {
    const int32_t* const WX = FTapWeightX.data();
    const int32_t* const WY = FTapWeightY.data();
    // A weight is inside 16 bits when adding 2^15 leaves nothing above them.
    uint32_t Outside = 0;
    for (int32_t i = 0; i < N; ++i)
      Outside |= (static_cast<uint32_t>(WX[i]) + 0x8000u) | (static_cast<uint32_t>(WY[i]) + 0x8000u);
    if ((Outside >> 16) == 0) {
#if defined(__SSE2__)
      // Two taps go through one multiply-add per channel; a row's sums (at
      // most 17 taps of 255 * 2^15) stay exact in 32 bits, and a weight of 0
      // adds nothing, as skipping it does.
      __m128i PairWeights[9];
      PairTapWeights(WX, N, PairWeights);
#endif
      int64_t Sb = 0, Sg = 0, Sr = 0, Sa = 0;
      for (int32_t yo = 0; yo < N; ++yo) {
        const int64_t Wy = WY[yo];
        if (Wy == 0) continue;
        const TColor32* Line = FBitmap->RowPtr(Cy - W + yo) + (Cx - W);
#if defined(__SSE2__)
        const __m128i Acc = PairedRowSums(Line, N, PairWeights);
        alignas(16) int32_t Lane[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(Lane), Acc);
        const int64_t Rb = Lane[0], Rg = Lane[1], Rr = Lane[2], Ra = Lane[3];
#else
        int64_t Rb = 0, Rg = 0, Rr = 0, Ra = 0;
        for (int32_t xo = 0; xo < N; ++xo) {
          const int64_t Wx = WX[xo];
          const TColor32 C = Line[xo];
          Rb += Wx * (C & 0xFF);
          Rg += Wx * ((C >> 8) & 0xFF);
          Rr += Wx * ((C >> 16) & 0xFF);
          Ra += Wx * (C >> 24);
        }
#endif
        Sb += Rb * Wy;
        Sg += Rg * Wy;
        Sr += Rr * Wy;
        Sa += Ra * Wy;
      }
      // The same limits as at the end below.
      const auto Byte64 = [](int64_t T) -> TColor32 {
        const int64_t V = T >> 16;
        return static_cast<TColor32>(V < 0 ? 0 : (V > 255 ? 255 : V));
      };
      return Byte64(Sa) << 24 | Byte64(Sr) << 16 | Byte64(Sg) << 8 | Byte64(Sb);
    }
  }

  TTapSums Sums;
  for (int32_t yo = 0; yo < N; ++yo) {
    const int32_t Wy = FTapWeightY[yo];
    if (Wy == 0) continue;
    const bool RowOut = Edge && (yo < YLo || yo > YHi);
    const int32_t Sy = Row(yo);
    const TColor32* Line = FBitmap->RowPtr(Sy);
    for (int32_t xo = 0; xo < N; ++xo) {
      const int32_t Wx = FTapWeightX[xo];
      if (Wx == 0) continue;
      TColor32 C;
      if (RowOut || (Edge && (xo < XLo || xo > XHi))) {
        // A tap cut off by the clip rectangle.
        C = FPixelAccessMode == pamSafe ? FOuterColor : (Line[Column(xo)] & 0x00FFFFFFu);
      } else {
        C = Line[Column(xo)];
      }
      Sums.AddTap(C, Wx);
    }
    Sums.EndRow(Wy);
  }
  return Sums.Colour();
}

bool TKernelResampler::CanSampleRuns() const {
  if (FPixelAccessMode != pamSafe) return false;
  const int32_t W = std::clamp(CeilToInt(FKernel->GetWidth()), 0, kMaxTapRadius);
  if (W > 8) return false;
  const int32_t N = 2 * W + 1;
  return FKernelMode == kmDynamic ||
         (FTableWidth == N && FWeightTable.size() == static_cast<size_t>(int64_t{FTableSize} + 1) * N);
}

namespace {

// The first and last tap (0..N-1) with a non-zero weight; First > Last when
// every weight is 0.
void WeighedTaps(const int32_t* Wt, int32_t N, int32_t& First, int32_t& Last) {
  First = 0;
  Last = N - 1;
  while (First < N && Wt[First] == 0) ++First;
  while (Last >= First && Wt[Last] == 0) --Last;
}

// Whether every weight of Wt[First..Last] fits in a signed 16-bit lane.
bool Inside16(const int32_t* Wt, int32_t First, int32_t Last) {
  uint32_t Outside = 0;
  for (int32_t i = First; i <= Last; ++i) Outside |= static_cast<uint32_t>(Wt[i]) + 0x8000u;
  return (Outside >> 16) == 0;
}

TColor32 ClampedTotals(int64_t Sb, int64_t Sg, int64_t Sr, int64_t Sa) {
  const auto Byte64 = [](int64_t T) -> TColor32 {
    const int64_t V = T >> 16;
    return static_cast<TColor32>(V < 0 ? 0 : (V > 255 ? 255 : V));
  };
  return Byte64(Sa) << 24 | Byte64(Sr) << 16 | Byte64(Sg) << 8 | Byte64(Sb);
}

}  // namespace

const TKernelResampler::TFractionWeights& TKernelResampler::FractionWeights() const {
  if (FFractionReady.load(std::memory_order_acquire)) return FFractions;
  std::lock_guard<std::mutex> Lock(FFractionLock);
  if (FFractionReady.load(std::memory_order_relaxed)) return FFractions;
  const int32_t W = std::clamp(CeilToInt(FKernel->GetWidth()), 0, kMaxTapRadius);
  const int32_t N = 2 * W + 1;
  TFractionWeights T;
  T.Usable = N <= 8;
  if (T.Usable) {
    T.Index.resize(65536);
    std::map<std::array<int16_t, 10>, uint16_t> Known;
    int32_t Wt[17];
    for (int32_t m = 0; m < 65536 && T.Usable; ++m) {
      TapWeights(static_cast<float>(m) / 65536.0f, W, Wt);
      int32_t First, Last;
      WeighedTaps(Wt, N, First, Last);
      if (First > Last) First = Last = 0;
      T.Usable = Inside16(Wt, 0, N - 1);
      TWeightSet S;
      S.First = static_cast<uint8_t>(First);
      S.Count = static_cast<uint8_t>(Last - First + 1);
      for (int32_t k = First; k <= Last; ++k) S.W[static_cast<size_t>(k - First)] = static_cast<int16_t>(Wt[k]);
      std::array<int16_t, 10> Key{};
      std::copy(S.W.begin(), S.W.end(), Key.begin());
      Key[8] = S.First;
      Key[9] = S.Count;
      const auto [It, New] = Known.emplace(Key, static_cast<uint16_t>(T.Set.size()));
      if (New) {
        if (T.Set.size() >= 65535) T.Usable = false;
        T.Set.push_back(S);
      }
      T.Index[static_cast<size_t>(m)] = It->second;
    }
  }
  if (!T.Usable) T = TFractionWeights{};
  FFractions = std::move(T);
  FFractionReady.store(true, std::memory_order_release);
  return FFractions;
}

void TKernelResampler::SampleFixedRun(const TFixedPoint* P, int32_t Count, TColor32* Out, const TCanvas& Canvas) const {
  const TBitmap32* Pic = Canvas.Picture;
  if (Pic == nullptr || Pic->Empty()) {
    std::fill(Out, Out + Count, TColor32{0});
    return;
  }
  const int32_t W = std::clamp(CeilToInt(FKernel->GetWidth()), 0, kMaxTapRadius);
  const int32_t N = 2 * W + 1;
  const TRect& Clip = Canvas.Clip;
  const int64_t PL = Canvas.Left, PT = Canvas.Top;
  const int64_t PR = PL + Pic->Width(), PB = PT + Pic->Height();
  // Taps inside both the clip and the picture read a pixel with no test.
  const int64_t InL = std::max<int64_t>(Clip.Left, PL), InR = std::min<int64_t>(Clip.Right, PR);
  const int64_t InT = std::max<int64_t>(Clip.Top, PT), InB = std::min<int64_t>(Clip.Bottom, PB);
  const TColor32* const Bits = Pic->Bits();
  const int64_t Pitch = Pic->Width();
  int32_t WX[17], WY[17];
  const TFractionWeights& Fractions = FractionWeights();
#if defined(__SSE2__)
  // The row sum of Nx taps from Line weighed by the 16-bit weights Wt (a 0
  // after the last): b, g, r, a in the four lanes.
  const auto RowSum = [](const TColor32* Line, const int16_t* Wt, int32_t Nx) {
    return WeightedRowSums(Line, Nx, [Wt](int32_t k) {
      int32_t W2;
      std::memcpy(&W2, Wt + k, sizeof W2);
      return _mm_set1_epi32(W2);
    });
  };
#endif

  // Points go in blocks: first the positions and the weight sets of every
  // point of a block (loads that do not wait for one another), then the sums.
  constexpr int32_t Block = 64;
  float BX[Block], BY[Block];
  int32_t BCx[Block], BCy[Block];
  const TWeightSet* BSx[Block];
  const TWeightSet* BSy[Block];
  for (int32_t i = 0; i < Count; ++i) {
    const int32_t b = i % Block;
    if (b == 0) {
      const int32_t n = std::min(Block, Count - i);
      for (int32_t j = 0; j < n; ++j) {
        // As GetSampleFixed hands the point on: X / 65536 is exact in double,
        // and one rounding to float gives what the extended form gives.
        const float X = static_cast<float>(P[i + j].X * (1.0 / 65536));
        const float Y = static_cast<float>(P[i + j].Y * (1.0 / 65536));
        BX[j] = X;
        BY[j] = Y;
        BCx[j] = CeilToInt(X);
        BCy[j] = CeilToInt(Y);
        if (Fractions.Usable) {
          // Cx - X is a multiple of 2^-16 below 1: exact in double and in float.
          const auto Mx = static_cast<size_t>((BCx[j] - static_cast<double>(X)) * 65536.0);
          const auto My = static_cast<size_t>((BCy[j] - static_cast<double>(Y)) * 65536.0);
          BSx[j] = &Fractions.Set[Fractions.Index[Mx & 0xFFFF]];
          BSy[j] = &Fractions.Set[Fractions.Index[My & 0xFFFF]];
        }
      }
    }
    const float X = BX[b], Y = BY[b];
    const int32_t Cx = BCx[b], Cy = BCy[b];
    if (Cx < Clip.Left || Cx > Clip.Right || Cy < Clip.Top || Cy > Clip.Bottom) {
      Out[i] = Canvas.Outer;
      continue;
    }
    // Cx - X is a multiple of 2^-16 below 1: exact in double and in float.
#if defined(__SSE2__)
    if (Fractions.Usable) {
      const TWeightSet& Sx = *BSx[b];
      const TWeightSet& Sy = *BSy[b];
      const int32_t Nx = Sx.Count, Ny = Sy.Count;
      const int64_t TapL = int64_t{Cx} - W + Sx.First, TapT = int64_t{Cy} - W + Sy.First;
      if (TapL >= InL && TapL + Nx <= InR && TapT >= InT && TapT + Ny <= InB) {
        // The interior, with the prepared weights of both fractions.
        const int16_t* const Wx = Sx.W.data();
        const int16_t* const Wy = Sy.W.data();
        const TColor32* Line = Bits + (TapT - PT) * Pitch + (TapL - PL);
        // The rows weighed in double: every product and sum is an integer
        // far below 2^53, so exact, and scaling by 2^-16 is exact too.
        // Truncating instead of taking the floor differs only below 0,
        // where both end at 0.
        __m128d BG = _mm_setzero_pd(), RA = _mm_setzero_pd();
        for (int32_t r = 0; r < Ny; ++r, Line += Pitch) {
          const __m128i Row = RowSum(Line, Wx, Nx);
          const __m128d Wr = _mm_set1_pd(Wy[r]);
          BG = _mm_add_pd(BG, _mm_mul_pd(_mm_cvtepi32_pd(Row), Wr));
          RA = _mm_add_pd(RA, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(Row, 8)), Wr));
        }
        const __m128d Scale = _mm_set1_pd(1.0 / 65536);
        const __m128i Lanes = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_mul_pd(BG, Scale)),
                                                 _mm_cvttpd_epi32(_mm_mul_pd(RA, Scale)));
        // b, g, r, a limited to 0..255 by the two saturating packs.
        const __m128i Words = _mm_packs_epi32(Lanes, Lanes);
        Out[i] = static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(Words, Words)));
        continue;
      }
    }
#endif
    TapWeights(static_cast<float>(Cx - static_cast<double>(X)), W, WX);
    TapWeights(static_cast<float>(Cy - static_cast<double>(Y)), W, WY);
    int32_t X0, X1, Y0, Y1;
    WeighedTaps(WX, N, X0, X1);
    WeighedTaps(WY, N, Y0, Y1);
    if (X0 > X1 || Y0 > Y1) {
      Out[i] = 0;
      continue;
    }
    // Tap k of a row lies at column Cx - W + k.
    const int64_t TapL = int64_t{Cx} - W + X0, TapR = int64_t{Cx} - W + X1;
    const int64_t TapT = int64_t{Cy} - W + Y0, TapB = int64_t{Cy} - W + Y1;

    if (TapL >= InL && TapR < InR && TapT >= InT && TapB < InB && Inside16(WX, X0, X1) && Inside16(WY, Y0, Y1)) {
      // The interior: every weighed tap is a pixel of the picture. Sums are
      // exact integers, so leaving out the taps of weight 0 changes nothing.
      const int32_t Nx = X1 - X0 + 1;
#if defined(__SSE2__)
      __m128i PairWeights[9];
      PairTapWeights(WX + X0, Nx, PairWeights);
#endif
      int64_t Sb = 0, Sg = 0, Sr = 0, Sa = 0;
      for (int32_t yo = Y0; yo <= Y1; ++yo) {
        const int64_t Wy = WY[yo];
        if (Wy == 0) continue;
        const TColor32* Line = Bits + (int64_t{Cy} - W + yo - PT) * Pitch + (TapL - PL);
#if defined(__SSE2__)
        const __m128i Acc = PairedRowSums(Line, Nx, PairWeights);
        alignas(16) int32_t Lane[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(Lane), Acc);
        Sb += Lane[0] * Wy;
        Sg += Lane[1] * Wy;
        Sr += Lane[2] * Wy;
        Sa += Lane[3] * Wy;
#else
        int64_t Rb = 0, Rg = 0, Rr = 0, Ra = 0;
        for (int32_t k = 0; k < Nx; ++k) {
          const int64_t Wx = WX[X0 + k];
          const TColor32 C = Line[k];
          Rb += Wx * (C & 0xFF);
          Rg += Wx * ((C >> 8) & 0xFF);
          Rr += Wx * ((C >> 16) & 0xFF);
          Ra += Wx * (C >> 24);
        }
        Sb += Rb * Wy;
        Sg += Rg * Wy;
        Sr += Rr * Wy;
        Sa += Ra * Wy;
#endif
      }
      Out[i] = ClampedTotals(Sb, Sg, Sr, Sa);
      continue;
    }

    // Near an edge: each tap outside the clip weighs in the outer colour,
    // inside it a pixel of the picture or the canvas's 0.
    TTapSums Sums;
    for (int32_t yo = Y0; yo <= Y1; ++yo) {
      const int32_t Wy = WY[yo];
      if (Wy == 0) continue;
      const int64_t Ty = int64_t{Cy} - W + yo;
      const bool RowClipped = Ty < Clip.Top || Ty >= Clip.Bottom;
      const bool RowInPicture = Ty >= PT && Ty < PB;
      for (int32_t xo = X0; xo <= X1; ++xo) {
        const int32_t Wx = WX[xo];
        if (Wx == 0) continue;
        const int64_t Tx = int64_t{Cx} - W + xo;
        TColor32 C = 0;
        if (RowClipped || Tx < Clip.Left || Tx >= Clip.Right)
          C = Canvas.Outer;
        else if (RowInPicture && Tx >= PL && Tx < PR)
          C = Bits[(Ty - PT) * Pitch + (Tx - PL)];
        Sums.AddTap(C, Wx);
      }
      Sums.EndRow(Wy);
    }
    Out[i] = Sums.Colour();
  }
}

void TKernelResampler::Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                                TBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                                const TPixelCombineEvent& CombineCallBack) {
  ResampleWithKernel(Dst, DstRect, DstClip, Src, SrcRect, FKernel.get(), CombineOp,
                     CombineCallBack);
}

// ---- TNestedSampler --------------------------------------------------------------------------

TCustomSampler& TNestedSampler::Nested() const {
  if (!FSampler) throw ENestedException("Nested sampler is nil");
  return *FSampler;
}

// Plain forwarding: the base conversions would otherwise call each other
// forever on a sampler that overrides none of them.
TColor32 TNestedSampler::GetSampleInt(int32_t X, int32_t Y) { return Nested().GetSampleInt(X, Y); }
TColor32 TNestedSampler::GetSampleFixed(TFixed X, TFixed Y) { return Nested().GetSampleFixed(X, Y); }
TColor32 TNestedSampler::GetSampleFloat(float X, float Y) { return Nested().GetSampleFloat(X, Y); }

void TNestedSampler::PrepareSampling() { Nested().PrepareSampling(); }
void TNestedSampler::FinalizeSampling() { Nested().FinalizeSampling(); }
bool TNestedSampler::HasBounds() const { return Nested().HasBounds(); }
TRect TNestedSampler::GetSampleBounds() const { return Nested().GetSampleBounds(); }

void TNestedSampler::AssignTo(TPersistent* Dst) {
  if (auto* N = dynamic_cast<TNestedSampler*>(Dst)) {
    CopyPublishedProperties(this, N);
    return;
  }
  TCustomSampler::AssignTo(Dst);
}

void TNestedSampler::GetPublishedProperties(TPropList& List) const {
  TCustomSampler::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Sampler", &TNestedSampler::Sampler, &TNestedSampler::SetSampler));
}

// ---- registries ----------------------------------------------------------------------------

void RegisterResampler(TClass ResamplerClass) {
  if (ResamplerClass && ResamplerRegistry().IndexOf(ResamplerClass) < 0)
    ResamplerRegistry().Add(ResamplerClass);
}

TClass FindResamplerClass(const std::string& Name) { return ResamplerRegistry().Find(Name); }

const std::vector<TClass>& ResamplerClassList() {
  static std::vector<TClass> List;
  List = Snapshot(ResamplerRegistry());
  return List;
}

void RegisterKernel(TClass KernelClass) {
  if (KernelClass && KernelRegistry().IndexOf(KernelClass) < 0) KernelRegistry().Add(KernelClass);
}

TClass FindKernelClass(const std::string& Name) { return KernelRegistry().Find(Name); }

const std::vector<TClass>& KernelClassList() {
  static std::vector<TClass> List;
  List = Snapshot(KernelRegistry());
  return List;
}

std::unique_ptr<TCustomKernel> CreateKernelByName(const std::string& Name) {
  const TClass C = FindKernelClass(Name);
  if (!C) return nullptr;
  std::unique_ptr<TObject> O = C->Create();
  if (auto* K = dynamic_cast<TCustomKernel*>(O.get())) {
    O.release();
    return std::unique_ptr<TCustomKernel>(K);
  }
  return nullptr;
}

TBitmap32Resampler* BindResampler(std::unique_ptr<TBitmap32Resampler> R, TBitmap32* Bitmap) {
  if (!R || !Bitmap) return nullptr;
  R->FBitmap = Bitmap;
  TBitmap32Resampler* Raw = R.get();
  Bitmap->SetResampler(std::move(R));
  return Raw;
}

TBitmap32Resampler* CreateResamplerByName(const std::string& Name, TBitmap32* Bitmap) {
  const TClass C = FindResamplerClass(Name);
  if (!C || !Bitmap) return nullptr;
  std::unique_ptr<TObject> O = C->Create();
  auto* R = dynamic_cast<TBitmap32Resampler*>(O.get());
  if (!R) return nullptr;
  O.release();
  return BindResampler(std::unique_ptr<TBitmap32Resampler>(R), Bitmap);
}

void RasterResamplersStartup() {
  static bool Done = false;
  if (Done) return;
  Done = true;
  // The routine family first, forced portable by the same switch as the
  // blend routines.
  const char* Force = std::getenv("VEMRA_FORCE_PORTABLE");
  SelectResamplerFamily(!(Force && std::strcmp(Force, "1") == 0));

  RegisterClass<TNearestResampler>();
  RegisterClass<TLinearResampler>();
  RegisterClass<TDraftResampler>();
  RegisterClass<TKernelResampler>();
  RegisterResampler(TNearestResampler::StaticClass());
  RegisterResampler(TLinearResampler::StaticClass());
  RegisterResampler(TDraftResampler::StaticClass());
  RegisterResampler(TKernelResampler::StaticClass());

  RegisterClass<TBoxKernel>();
  RegisterClass<TLinearKernel>();
  RegisterClass<TCosineKernel>();
  RegisterClass<TSplineKernel>();
  RegisterClass<TCubicKernel>();
  RegisterClass<TMitchellKernel>();
  RegisterClass<TLanczosKernel>();
  RegisterClass<TGaussianKernel>();
  RegisterClass<TBlackmanKernel>();
  RegisterClass<THannKernel>();
  RegisterClass<THammingKernel>();
  RegisterClass<TSinshKernel>();
  RegisterClass<THermiteKernel>();
  for (TClass K : {TBoxKernel::StaticClass(), TLinearKernel::StaticClass(),
                   TCosineKernel::StaticClass(), TSplineKernel::StaticClass(),
                   TCubicKernel::StaticClass(), TMitchellKernel::StaticClass(),
                   TLanczosKernel::StaticClass(), TGaussianKernel::StaticClass(),
                   TBlackmanKernel::StaticClass(), THannKernel::StaticClass(),
                   THammingKernel::StaticClass(), TSinshKernel::StaticClass(),
                   THermiteKernel::StaticClass()})
    RegisterKernel(K);
}
