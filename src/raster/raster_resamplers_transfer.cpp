// Block and stretch transfers: every bitmap-to-bitmap draw ends here. The
// unscaled transfer combines rows; the scaled one clips and hands the work to
// a resampler, which picks one of the stretch paths below (nearest pixel,
// fast bilinear, block average, two-pass kernel).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster_blend.h"
#include "raster_parallel.h"
#include "raster_resamplers.h"
#include "raster_resamplers_kernelpass.h"

namespace {

TRect Intersect(const TRect& A, const TRect& B) {
  TRect R{std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
          std::min(A.Bottom, B.Bottom)};
  if (R.Right < R.Left || R.Bottom < R.Top) R = TRect{};
  return R;
}

bool IsEmpty(const TRect& R) { return R.Right <= R.Left || R.Bottom <= R.Top; }

// Callers keep widths within 32 bits (see Representable).
int32_t Width(const TRect& R) { return static_cast<int32_t>(int64_t{R.Right} - R.Left); }
int32_t Height(const TRect& R) { return static_cast<int32_t>(int64_t{R.Bottom} - R.Top); }

// A rectangle whose width and height fit in 32 bits. Wider ones (sides near
// both ends of the integer range) have no picture to draw: the stretch paths
// skip them rather than let their arithmetic wrap.
bool Representable(const TRect& R) {
  const int64_t W = int64_t{R.Right} - R.Left, H = int64_t{R.Bottom} - R.Top;
  return W >= INT32_MIN && W <= INT32_MAX && H >= INT32_MIN && H <= INT32_MAX;
}

TRect Bounds(const TBitmap32* B) { return TRect{0, 0, B->Width(), B->Height()}; }

// The stretch paths read only inside the source rectangle (the bilinear one
// up to the bitmap's edge); one reached directly with a rectangle that leaves
// the bitmap refuses like the scaled transfer does.
void CheckSourceInside(const TBitmap32* Src, const TRect& SrcRect) {
  if (!IsEmpty(SrcRect) && (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() ||
                            SrcRect.Bottom > Src->Height()))
    throw ESrcInvalidException("Source rectangle is invalid");
}

// The per-pixel form of each combine operation in the stretch paths.
class TPixelCombiner {
 public:
  TPixelCombiner(const TBitmap32* Src, TDrawMode Op, const TPixelCombineEvent& CallBack)
      : FOp(Op),
        FMasterInto(PixelMasterIntoByMode[Src->CombineMode()]),
        FMaster(Src->MasterAlpha()),
        FOuter(Src->OuterColor()),
        FCallBack(CallBack) {
    if (FOp == dmCustom && !FCallBack) FOp = dmOpaque;
  }
  TDrawMode Op() const { return FOp; }
  void Put(TColor32 C, TColor32& D) const {
    switch (FOp) {
      case dmOpaque: D = C; break;
      case dmBlend: FMasterInto(C, D, FMaster); break;
      case dmTransparent:
        if (C != FOuter) D = C;
        break;
      case dmCustom: FCallBack(C, D, FMaster); break;
    }
  }

 private:
  TDrawMode FOp;
  TBlendMemEx FMasterInto;
  uint32_t FMaster;
  TColor32 FOuter;
  const TPixelCombineEvent& FCallBack;
};

// Combines Count source pixels into a destination row the way CombineBlock does.
void CombineRowByMode(const TColor32* S, TColor32* D, int32_t Count, const TBitmap32* Src,
                      TDrawMode Op, const TPixelCombineEvent& CallBack) {
  switch (Op) {
    case dmOpaque: std::memmove(D, S, static_cast<size_t>(Count) * sizeof(TColor32)); break;
    case dmBlend:
      if (Src->MasterAlpha() < 255)
        RowMasterByMode[Src->CombineMode()](S, D, Count, Src->MasterAlpha());
      else
        RowByMode[Src->CombineMode()](S, D, Count);
      break;
    case dmTransparent: {
      const TColor32 Key = Src->OuterColor();
      for (int32_t i = 0; i < Count; ++i)
        if (S[i] != Key) D[i] = S[i];
      break;
    }
    case dmCustom: {
      const uint32_t M = Src->MasterAlpha();
      for (int32_t i = 0; i < Count; ++i) CallBack(S[i], D[i], M);
      break;
    }
  }
}

}  // namespace

// How many rows a thread takes at least: all of them (one thread) when a
// custom combine callback, which may keep state, puts the pixels, or when
// the source is the destination and rows written early would be read later.
int32_t TransferGrain(const TBitmap32* Dst, const TBitmap32* Src, TDrawMode Op, int64_t RowWork) {
  if (Dst == Src || Op == dmCustom) return INT32_MAX;
  return RowsPerTask(RowWork);
}

void CheckTransferBitmaps(const TBitmap32* Dst, const TBitmap32* Src) {
  if (!Dst) throw EBitmapException("Destination bitmap is nil");
  if (!Src) throw EBitmapException("Source bitmap is nil");
}

bool ValidateSourceRect(const TBitmap32* Src, const TRect& SrcRect) {
  if (IsEmpty(SrcRect)) return false;
  if (SrcRect.Left < 0 || SrcRect.Right > Src->Width() || SrcRect.Top < 0 ||
      SrcRect.Bottom > Src->Height())
    throw ESrcInvalidException("Source rectangle is invalid");
  return true;
}

void CombineBlock(TBitmap32* Dst, const TRect& DstRect, const TBitmap32* Src, int32_t SrcX,
                  int32_t SrcY, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
  const int32_t W = Width(DstRect), H = Height(DstRect);
  if (W <= 0 || H <= 0) return;
  if (CombineOp == dmCustom && !CombineCallBack) CombineOp = dmOpaque;
  // A bitmap drawn onto itself: walk the rows bottom-up when the block moves
  // down, and combine from a copy of the source row, so that no source pixel
  // is overwritten before it is read.
  const bool Self = Dst == Src;
  const bool BottomUp = Self && SrcY < DstRect.Top;
  std::vector<TColor32> Row;
  if (Self && CombineOp != dmOpaque) Row.resize(static_cast<size_t>(W));
  for (int32_t k = 0; k < H; ++k) {
    const int32_t r = BottomUp ? H - 1 - k : k;
    const TColor32* S = Src->PixelAddress(SrcX, SrcY + r);
    TColor32* D = Dst->PixelAddress(DstRect.Left, DstRect.Top + r);
    if (!Row.empty()) {
      std::memcpy(Row.data(), S, Row.size() * sizeof(TColor32));
      S = Row.data();
    }
    CombineRowByMode(S, D, W, Src, CombineOp, CombineCallBack);
  }
}

void DrawRectAt(TBitmap32* Dst, int32_t DstX, int32_t DstY, const TRect& DstClip, TBitmap32* Src,
                const TRect& SrcRect, TDrawMode CombineOp,
                const TPixelCombineEvent& CombineCallBack) {
  CheckTransferBitmaps(Dst, Src);
  if (Dst->Empty() || Src->Empty() || (CombineOp == dmBlend && Src->MasterAlpha() == 0)) return;
  const int64_t SrcW = int64_t{SrcRect.Right} - SrcRect.Left;
  const int64_t SrcH = int64_t{SrcRect.Bottom} - SrcRect.Top;
  if (!Dst->MeasuringMode()) {
    if (CombineOp == dmCustom && !CombineCallBack) CombineOp = dmOpaque;
    const TRect Clip = Intersect(DstClip, Bounds(Dst));
    const TRect S = Intersect(SrcRect, Bounds(Src));
    // Into destination space (64 bits: the offsets come from the caller).
    const int64_t Dx = int64_t{DstX} - SrcRect.Left, Dy = int64_t{DstY} - SrcRect.Top;
    const int64_t L = std::max<int64_t>(S.Left + Dx, Clip.Left);
    const int64_t T = std::max<int64_t>(S.Top + Dy, Clip.Top);
    const int64_t R = std::min<int64_t>(S.Right + Dx, Clip.Right);
    const int64_t B = std::min<int64_t>(S.Bottom + Dy, Clip.Bottom);
    if (R > L && B > T && !IsEmpty(S)) {
      const TRect Block{static_cast<int32_t>(L), static_cast<int32_t>(T), static_cast<int32_t>(R),
                        static_cast<int32_t>(B)};
      CombineBlock(Dst, Block, Src, static_cast<int32_t>(L - Dx), static_cast<int32_t>(T - Dy),
                   CombineOp, CombineCallBack);
      EndMmx();
    }
  }
  const auto Sat = [](int64_t V) {
    return static_cast<int32_t>(std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(),
                                                     std::numeric_limits<int32_t>::max()));
  };
  Dst->Changed(TRect{DstX, DstY, Sat(DstX + SrcW), Sat(DstY + SrcH)}, AREAINFO_RECT);
}

void DrawRectScaled(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                    const TRect& SrcRect, TCustomResampler* Resampler, TDrawMode CombineOp,
                    const TPixelCombineEvent& CombineCallBack) {
  CheckTransferBitmaps(Dst, Src);
  if (Src->Empty() || Dst->Empty() || (CombineOp == dmBlend && Src->MasterAlpha() == 0)) return;
  if (!ValidateSourceRect(Src, SrcRect)) return;
  if (!Dst->MeasuringMode()) {
    TRect Clip = Intersect(Intersect(DstClip, Bounds(Dst)), DstRect);
    if (IsEmpty(Clip)) return;
    if (CombineOp == dmCustom && !CombineCallBack) CombineOp = dmOpaque;
    if (!Representable(DstRect)) {
      // Nothing sensible to draw; the caller still learns the area.
    } else if (Width(SrcRect) == Width(DstRect) && Height(SrcRect) == Height(DstRect)) {
      CombineBlock(Dst, Clip, Src, SrcRect.Left + Clip.Left - DstRect.Left,
                   SrcRect.Top + Clip.Top - DstRect.Top, CombineOp, CombineCallBack);
    } else {
      // Without a resampler of its own the source's resampler draws.
      if (!Resampler) Resampler = Src->Resampler();
      if (Dst == Src) {
        // Stretching a bitmap onto itself would read pixels it has already
        // written: the resampler reads from a copy with the same settings.
        TBitmap32 Copy;
        Copy.SetSize(Src->Width(), Src->Height());
        std::memcpy(Copy.Bits(), Src->Bits(), Src->PixelCount() * sizeof(TColor32));
        Copy.SetMasterAlpha(Src->MasterAlpha());
        Copy.SetCombineMode(Src->CombineMode());
        Copy.SetWrapMode(Src->WrapMode());
        Copy.SetOuterColor(Src->OuterColor());
        Resampler->Resample(Dst, DstRect, Clip, &Copy, SrcRect, CombineOp, CombineCallBack);
      } else {
        Resampler->Resample(Dst, DstRect, Clip, Src, SrcRect, CombineOp, CombineCallBack);
      }
    }
    EndMmx();
  }
  Dst->Changed(DstRect, AREAINFO_RECT);
}

// ---- nearest pixel --------------------------------------------------------------

namespace {

// A picture shrunk into a destination larger than the caches is written
// with streaming stores: its lines are not read again soon, and a plain store
// would first fetch every destination line from memory, a third of all the
// traffic of a memory-bound gather.
constexpr int64_t kStreamingBytes = int64_t{8} << 20;

void GatherRow(TColor32* D, const TColor32* S, const int32_t* Map, int32_t W, bool Streaming) {
  int32_t i = 0;
#if defined(__SSE2__)
  if (Streaming) {
    for (; i < W && (reinterpret_cast<uintptr_t>(D + i) & 15) != 0; ++i) D[i] = S[Map[i]];
    for (; i + 4 <= W; i += 4) {
      const __m128i V = _mm_set_epi32(static_cast<int>(S[Map[i + 3]]), static_cast<int>(S[Map[i + 2]]),
                                      static_cast<int>(S[Map[i + 1]]), static_cast<int>(S[Map[i]]));
      _mm_stream_si128(reinterpret_cast<__m128i*>(D + i), V);
    }
  }
#else
  static_cast<void>(Streaming);
#endif
  for (; i + 4 <= W; i += 4) {
    const TColor32 A = S[Map[i]], B = S[Map[i + 1]], C = S[Map[i + 2]], E = S[Map[i + 3]];
    D[i] = A;
    D[i + 1] = B;
    D[i + 2] = C;
    D[i + 3] = E;
  }
  for (; i < W; ++i) D[i] = S[Map[i]];
}

}  // namespace

void StretchNearestPixels(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                          TBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                          const TPixelCombineEvent& CombineCallBack) {
  const TRect Clip = Intersect(Intersect(DstClip, Bounds(Dst)), DstRect);
  if (IsEmpty(Clip) || !Representable(DstRect)) return;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() ||
      SrcRect.Bottom > Src->Height())
    throw Exception("Invalid SrcRect");
  if (CombineOp == dmCustom && !CombineCallBack) CombineOp = dmOpaque;
  const int32_t SrcW = Width(SrcRect), SrcH = Height(SrcRect);
  const int32_t DstW = Width(DstRect), DstH = Height(DstRect);
  if (SrcW == DstW && SrcH == DstH) {
    CombineBlock(Dst, Clip, Src, SrcRect.Left + Clip.Left - DstRect.Left,
                 SrcRect.Top + Clip.Top - DstRect.Top, CombineOp, CombineCallBack);
    EndMmx();
    return;
  }
  if (SrcW <= 0 || SrcH <= 0) return;
  const int32_t ClipW = Width(Clip);
  std::vector<int32_t> Map(static_cast<size_t>(ClipW));
  if (DstW > 1) {
    const float Scale = static_cast<float>(static_cast<long double>(SrcW) / DstW);
    for (int32_t i = 0; i < ClipW; ++i) {
      const long double X =
          SrcRect.Left + static_cast<long double>(i + Clip.Left - DstRect.Left) * Scale;
      // The float scale can never carry the index past the rectangle, but a
      // stray column must not read outside it either.
      Map[i] = std::clamp(static_cast<int32_t>(X), SrcRect.Left, SrcRect.Right - 1);
    }
  } else {
    std::fill(Map.begin(), Map.end(), (SrcRect.Left + SrcRect.Right - 1) / 2);
  }
  const float ScaleY = DstH > 1 ? static_cast<float>(static_cast<long double>(SrcH) / DstH) : 0.0f;
  const auto SourceRow = [&](int32_t j) {
    if (DstH <= 1) return (SrcRect.Top + SrcRect.Bottom - 1) / 2;
    const long double Y =
        SrcRect.Top + static_cast<long double>(j + Clip.Top - DstRect.Top) * ScaleY;
    return std::clamp(static_cast<int32_t>(Y), SrcRect.Top, SrcRect.Bottom - 1);
  };
  const int32_t Grain = TransferGrain(Dst, Src, CombineOp, ClipW);
  if (CombineOp == dmOpaque) {
    // Into another bitmap; an enlargement then gathers a repeated row again
    // from the source row still in the cache, where a copy of the row above
    // would read it back from memory.
    const bool Streaming =
        Dst != Src && int64_t{ClipW} * Height(Clip) * int64_t{sizeof(TColor32)} >= kStreamingBytes;
    ParallelRows(0, Height(Clip), Grain, [&](int32_t First, int32_t Last) {
      int32_t Previous = -1;
      for (int32_t j = First; j < Last; ++j) {
        const int32_t Sy = SourceRow(j);
        TColor32* D = Dst->PixelAddress(Clip.Left, Clip.Top + j);
        if (Sy == Previous && j > First && !Streaming) {
          std::memcpy(D, Dst->PixelAddress(Clip.Left, Clip.Top + j - 1), static_cast<size_t>(ClipW) * sizeof(TColor32));
        } else {
          const TColor32* S = Src->RowPtr(Sy);
          // The next source row is known already; asking for it early keeps the
          // gather from waiting on memory at the start of every row.
          if (j + 1 < Height(Clip)) {
            const TColor32* Next = Src->RowPtr(SourceRow(j + 1));
            for (int32_t i = 0; i < ClipW; i += 64) __builtin_prefetch(Next + Map[i]);
          }
          GatherRow(D, S, Map.data(), ClipW, Streaming);
        }
        Previous = Sy;
      }
#if defined(__SSE2__)
      if (Streaming) _mm_sfence();
#endif
    });
  } else {
    ParallelRows(0, Height(Clip), Grain, [&](int32_t First, int32_t Last) {
      int32_t Previous = -1;
      std::vector<TColor32> Buffer(static_cast<size_t>(ClipW));
      for (int32_t j = First; j < Last; ++j) {
        const int32_t Sy = SourceRow(j);
        if (Sy != Previous) {
          const TColor32* S = Src->RowPtr(Sy);
          for (int32_t i = 0; i < ClipW; ++i) Buffer[i] = S[Map[i]];
          Previous = Sy;
        }
        CombineRowByMode(Buffer.data(), Dst->PixelAddress(Clip.Left, Clip.Top + j), ClipW, Src, CombineOp,
                         CombineCallBack);
        EndMmx();
      }
    });
  }
  EndMmx();
}

// ---- fast bilinear ----------------------------------------------------------------

namespace {

struct TLinearEntry {
  int32_t Pos;
  uint32_t Weight;  // the weight of the left (upper) pixel in both halves
};

// The linear map of one axis. Positions are limited to the whole source
// (Limit pixels), not to the source rectangle, so an offset rectangle mixes in
// the pixel just outside its first edge; the pair (Pos, Pos + 1) always lies
// inside the bitmap.
std::vector<TLinearEntry> BuildLinearMap(int32_t DstLo, int32_t DstHi, int32_t ClipLo,
                                         int32_t ClipHi, int32_t SrcLo, int32_t SrcHi,
                                         int32_t Limit) {
  std::vector<TLinearEntry> Map(static_cast<size_t>(ClipHi - ClipLo));
  const float Scale = static_cast<float>(static_cast<long double>(SrcHi - SrcLo) / (DstHi - DstLo));
  const float MaxX = static_cast<float>(Limit - 1);
  for (int32_t i = 0; i < ClipHi - ClipLo; ++i) {
    float X = static_cast<float>((i + ClipLo - DstLo + 0.5L) * Scale + (SrcLo - 0.5L));
    X = std::clamp(X, 0.0f, MaxX);
    const float F = std::floor(X);
    const int32_t W = 256 - static_cast<int32_t>(std::nearbyint((X - F) * 256.0L));
    Map[i] = {static_cast<int32_t>(F), static_cast<uint32_t>(W) * 0x10001u};
  }
  for (auto It = Map.rbegin(); It != Map.rend(); ++It)
    if (It->Pos == SrcHi - 1 || It->Pos >= Limit - 1) *It = {It->Pos - 1, 0};
  return Map;
}

}  // namespace

void StretchBilinearFast(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClipIn,
                         TBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                         const TPixelCombineEvent& CombineCallBack) {
  // Callers have clipped already; clipping again costs nothing and keeps a
  // careless caller from writing outside the bitmap.
  const TRect DstClip = Intersect(Intersect(DstClipIn, Bounds(Dst)), DstRect);
  CheckSourceInside(Src, SrcRect);
  if (IsEmpty(DstClip) || IsEmpty(SrcRect) || IsEmpty(DstRect) || !Representable(DstRect) ||
      !Representable(SrcRect))
    return;
  if (Src->Width() < 2 || Src->Height() < 2 || Width(SrcRect) < 2 || Height(SrcRect) < 2) {
    // No 2 x 2 block to mix: the linear kernel gives the same picture.
    TLinearKernel Linear;
    ResampleWithKernel(Dst, DstRect, DstClip, Src, SrcRect, &Linear, CombineOp, CombineCallBack);
    return;
  }
  const auto MapX = BuildLinearMap(DstRect.Left, DstRect.Right, DstClip.Left, DstClip.Right,
                                   SrcRect.Left, SrcRect.Right, Src->Width());
  const auto MapY = BuildLinearMap(DstRect.Top, DstRect.Bottom, DstClip.Top, DstClip.Bottom,
                                   SrcRect.Top, SrcRect.Bottom, Src->Height());
  const TPixelCombiner Combiner(Src, CombineOp, CombineCallBack);
  const TInterpolateQuad Quad = InterpolateQuad;
  const int32_t ClipW = Width(DstClip);
  ParallelRows(0, static_cast<int32_t>(MapY.size()), TransferGrain(Dst, Src, Combiner.Op(), int64_t{ClipW} * 4),
               [&](int32_t First, int32_t Last) {
                 for (size_t j = static_cast<size_t>(First); j < static_cast<size_t>(Last); ++j) {
                   const TColor32* Upper = Src->RowPtr(MapY[j].Pos);
                   const TColor32* Lower = Upper + Src->Width();
                   const uint32_t WY = MapY[j].Weight;
                   TColor32* D = Dst->PixelAddress(DstClip.Left, DstClip.Top + static_cast<int32_t>(j));
                   if (Combiner.Op() == dmOpaque) {
                     for (int32_t i = 0; i < ClipW; ++i)
                       D[i] = Quad(MapX[i].Weight, WY, Upper + MapX[i].Pos, Lower + MapX[i].Pos);
                   } else {
                     for (int32_t i = 0; i < ClipW; ++i)
                       Combiner.Put(Quad(MapX[i].Weight, WY, Upper + MapX[i].Pos, Lower + MapX[i].Pos), D[i]);
                   }
                 }
               });
  EndMmx();
}

// ---- kernel mapping ------------------------------------------------------------------

namespace {

// Clusters a thread makes at least.
constexpr int32_t kClustersPerTask = 128;

// A rounded weight as an integer; a kernel gone wild (a NaN or a huge value
// from odd property settings) gives 0 or a limited weight instead of an
// undefined conversion.
int32_t WeightOf(long double Rounded) {
  if (!(Rounded == Rounded)) return 0;
  return static_cast<int32_t>(std::clamp<long double>(Rounded, -(1 << 20), 1 << 20));
}

}  // namespace

TMappingTable BuildKernelMapping(int32_t DstLo, int32_t DstHi, int32_t ClipLo, int32_t ClipHi,
                                 int32_t SrcLo, int32_t SrcHi, const TCustomKernel& Kernel) {
  TMappingTable Result;
  const int64_t SrcW64 = int64_t{SrcHi} - SrcLo, DstW64 = int64_t{DstHi} - DstLo;
  const int64_t ClipW64 = int64_t{ClipHi} - ClipLo;
  if (SrcW64 > INT32_MAX || DstW64 > INT32_MAX || ClipW64 > INT32_MAX || SrcW64 < INT32_MIN ||
      DstW64 < INT32_MIN || ClipW64 < INT32_MIN)
    return Result;
  const int32_t SrcW = static_cast<int32_t>(SrcW64), DstW = static_cast<int32_t>(DstW64);
  const int32_t ClipW = static_cast<int32_t>(ClipW64);
  if (SrcW == 0) return Result;
  if (SrcW == 1) {
    Result.assign(static_cast<size_t>(std::max(ClipW, 0)), TCluster{{SrcLo, 256}});
    return Result;
  }
  if (ClipW <= 0) return Result;
  const float Scale = static_cast<float>(static_cast<long double>(DstW) / SrcW);
  if (Scale == 0.0f) {
    Result.assign(static_cast<size_t>(ClipW), TCluster{{(SrcLo + SrcHi) / 2, 256}});
    return Result;
  }
  if (Scale < 0.0f) return Result;
  const float Width = Kernel.GetWidth();
  const float S = static_cast<float>(1.0L / Scale);
  const bool Shrinking = Scale < 1.0f;
  const float Support = Shrinking ? static_cast<float>(static_cast<long double>(Width) * S) : Width;
  Result.resize(static_cast<size_t>(ClipW));
  // Each cluster depends on its position alone, and a wide kernel evaluates
  // dozens of taps per cluster: the clusters are made on every core.
  ParallelRows(0, ClipW, kClustersPerTask, [&](int32_t FirstCluster, int32_t LastCluster) {
    for (int32_t i = FirstCluster; i < LastCluster; ++i) {
      const float Center =
          static_cast<float>((static_cast<long double>(i) - DstLo + ClipLo + 0.5L) * S + (SrcLo - 0.5L));
      const int64_t Lo = static_cast<int64_t>(std::floor(static_cast<long double>(Center) - Support));
      const int64_t Hi = static_cast<int64_t>(std::ceil(static_cast<long double>(Center) + Support));
      TCluster& C = Result[i];
      C.reserve(static_cast<size_t>(Hi - Lo + 1));
      for (int64_t J = Lo; J <= Hi; ++J) {
        int32_t W;
        if (Shrinking) {
          const float Arg = static_cast<float>((Center - static_cast<long double>(J)) * Scale);
          W = WeightOf(std::rint(static_cast<long double>(Kernel.Filter(Arg)) * 256.0L * Scale));
        } else {
          const float Arg = static_cast<float>(Center - static_cast<long double>(J));
          W = WeightOf(std::rint(Kernel.Filter(Arg) * 256.0f));
        }
        if (W != 0)
          C.push_back({static_cast<int32_t>(std::clamp<int64_t>(J, SrcLo, SrcHi - 1)), W});
      }
      if (C.empty()) {
        C.push_back({std::clamp(static_cast<int32_t>(std::floor(Center)), SrcLo, SrcHi - 1), 256});
      }
      int64_t Sum = 0;
      for (const auto& P : C) Sum += P.Weight;
      if (Sum != 256) {
        int32_t& W = C[(C.size() - 1) / 2].Weight;
        W = static_cast<int32_t>(std::clamp<int64_t>(W - (Sum - 256), INT32_MIN, INT32_MAX));
      }
    }
  });
  return Result;
}

// ---- two-pass kernel ---------------------------------------------------------------------

void ResampleWithKernel(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClipIn,
                        TBitmap32* Src, const TRect& SrcRect, const TCustomKernel* Kernel,
                        TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
  const TRect DstClip = Intersect(Intersect(DstClipIn, Bounds(Dst)), DstRect);
  CheckSourceInside(Src, SrcRect);
  if (CombineOp == dmCustom && !CombineCallBack) CombineOp = dmOpaque;
  if (CombineOp == dmBlend && Src->MasterAlpha() == 0) return;
  if (!Representable(DstRect) || !Representable(SrcRect) || IsEmpty(DstClip)) return;
  const TMappingTable MapX = BuildKernelMapping(DstRect.Left, DstRect.Right, DstClip.Left,
                                                DstClip.Right, SrcRect.Left, SrcRect.Right, *Kernel);
  const TMappingTable MapY = BuildKernelMapping(DstRect.Top, DstRect.Bottom, DstClip.Top,
                                                DstClip.Bottom, SrcRect.Top, SrcRect.Bottom, *Kernel);
  if (MapX.empty() || MapY.empty()) return;
  const int32_t Cols = std::min<int32_t>(static_cast<int32_t>(MapX.size()), Width(DstClip));
  const int32_t Rows = std::min<int32_t>(static_cast<int32_t>(MapY.size()), Height(DstClip));
  const THorizontalKernelPass Horizontal(MapX, Src->Width(), Cols);

  // Horizontally filtered source rows live in a ring, each computed once and
  // kept while later destination rows still need it.
  int32_t Ring = 1;
  int32_t YLo = SrcRect.Bottom, YHi = SrcRect.Top - 1;
  size_t MaxTaps = 1;
  for (int32_t j = 0; j < Rows; ++j) {
    int32_t Lo = MapY[j].front().Pos, Hi = Lo;
    for (const auto& P : MapY[j]) {
      Lo = std::min(Lo, P.Pos);
      Hi = std::max(Hi, P.Pos);
    }
    Ring = std::max(Ring, Hi - Lo + 1);
    YLo = std::min(YLo, Lo);
    YHi = std::max(YHi, Hi);
    MaxTaps = std::max(MaxTaps, MapY[j].size());
  }
  Ring = std::min(Ring, YHi - YLo + 1);
  const size_t RowWords = static_cast<size_t>(Cols) * 4;
  const TPixelCombiner Combiner(Src, CombineOp, CombineCallBack);

  // Rows are shared out in small pieces, so that a thread held up by anything
  // else holds up little. Each thread keeps one ring for the whole call: the
  // pieces it takes are mostly neighbours, whose shared rows it then finds
  // already filtered; only a piece taken from elsewhere fills its ring anew.
  const int32_t Grain = std::max(TransferGrain(Dst, Src, CombineOp, int64_t{Cols} * static_cast<int64_t>(MaxTaps) * 2),
                                 Rows / (16 * ThreadCount()));
  struct TRowState {
    std::vector<uint32_t> Cache;
    std::vector<int32_t> CachedRow;
    std::vector<uint32_t> Acc;
    std::vector<const uint32_t*> TapRows;
    std::vector<int32_t> TapWeights;
    std::vector<TColor32> Packed;
  };
  TPerThread<TRowState> States;
  ParallelRows(0, Rows, Grain, [&](int32_t First, int32_t Last) {
    TRowState& S = States.Get([&] {
      return TRowState{std::vector<uint32_t>(static_cast<size_t>(Ring) * RowWords),
                       std::vector<int32_t>(static_cast<size_t>(Ring), std::numeric_limits<int32_t>::min()),
                       std::vector<uint32_t>(RowWords),
                       std::vector<const uint32_t*>(MaxTaps),
                       std::vector<int32_t>(MaxTaps),
                       std::vector<TColor32>(CombineOp == dmOpaque ? 0 : static_cast<size_t>(Cols))};
    });
    std::vector<uint32_t>& Cache = S.Cache;
    std::vector<int32_t>& CachedRow = S.CachedRow;
    std::vector<uint32_t>& Acc = S.Acc;
    std::vector<const uint32_t*>& TapRows = S.TapRows;
    std::vector<int32_t>& TapWeights = S.TapWeights;
    std::vector<TColor32>& Packed = S.Packed;
    for (int32_t j = First; j < Last; ++j) {
      int32_t Taps = 0;
      for (const auto& P : MapY[j]) {
        const int32_t Slot = (P.Pos - YLo) % Ring;
        uint32_t* H = Cache.data() + static_cast<size_t>(Slot) * RowWords;
        if (CachedRow[Slot] != P.Pos) {
          Horizontal.Run(Src->RowPtr(P.Pos), H);
          CachedRow[Slot] = P.Pos;
        }
        TapRows[Taps] = H;
        TapWeights[Taps] = P.Weight;
        ++Taps;
      }
      KernelVerticalCombine(TapRows.data(), TapWeights.data(), Taps, Acc.data(), static_cast<int32_t>(RowWords));
      TColor32* D = Dst->PixelAddress(DstClip.Left, DstClip.Top + j);
      if (CombineOp == dmOpaque) {
        KernelPackRow(Acc.data(), Cols, D);
      } else {
        KernelPackRow(Acc.data(), Cols, Packed.data());
        for (int32_t i = 0; i < Cols; ++i) Combiner.Put(Packed[i], D[i]);
      }
    }
  });
  EndMmx();
}

// ---- block average ------------------------------------------------------------------

void QuickResample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClipIn, TBitmap32* Src, const TRect& SrcRect,
                   const TCustomKernel* Kernel, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
  const TRect DstClip = Intersect(Intersect(DstClipIn, Bounds(Dst)), DstRect);
  CheckSourceInside(Src, SrcRect);
  if (!Representable(DstRect) || !Representable(SrcRect)) return;
  const uint32_t SrcW = static_cast<uint32_t>(Width(SrcRect));
  const uint32_t SrcH = static_cast<uint32_t>(Height(SrcRect));
  const uint32_t DstW = static_cast<uint32_t>(Width(DstRect));
  const uint32_t DstH = static_cast<uint32_t>(Height(DstRect));
  if (DstW > SrcW || DstH > SrcH) {
    if (SrcW < 2 || SrcH < 2)
      ResampleWithKernel(Dst, DstRect, DstClip, Src, SrcRect, Kernel, CombineOp, CombineCallBack);
    else
      StretchBilinearFast(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
    return;
  }
  if (DstW == 0 || DstH == 0 || IsEmpty(DstClip)) return;
  const TPixelCombiner Combiner(Src, CombineOp, CombineCallBack);
  // Block edges of one axis relative to the origin: b(0) = 0, b(1) = the
  // truncated scale, then k times the 16.16 step.
  struct TAxis {
    int32_t Origin;
    std::vector<int32_t> Edge;
  };
  const auto MakeAxis = [](uint32_t SW, uint32_t DW, int32_t ClipOff, int32_t ClipN,
                           int32_t SrcLo, int32_t Limit) {
    const float Scale = static_cast<float>(static_cast<long double>(SW) / DW);
    TAxis A;
    A.Origin = SrcLo + static_cast<int32_t>(static_cast<long double>(ClipOff) * Scale);
    const int64_t Step = static_cast<int64_t>(65536.0L * Scale);
    A.Edge.resize(static_cast<size_t>(ClipN) + 1);
    for (int32_t k = 0; k <= ClipN; ++k) {
      int64_t E = k == 0 ? 0 : k == 1 ? static_cast<int64_t>(Scale) : (k * Step) >> 16;
      // Never past the bitmap, and every block at least one pixel wide.
      E = std::min<int64_t>(E, Limit - A.Origin);
      if (k > 0) E = std::max<int64_t>(E, A.Edge[k - 1] + 1);
      A.Edge[k] = static_cast<int32_t>(E);
    }
    return A;
  };
  const TAxis AX = MakeAxis(SrcW, DstW, DstClip.Left - DstRect.Left, Width(DstClip), SrcRect.Left,
                            Src->Width());
  const TAxis AY = MakeAxis(SrcH, DstH, DstClip.Top - DstRect.Top, Height(DstClip), SrcRect.Top,
                            Src->Height());
  const TAverageBlock Average = AverageBlock;
  const int32_t Pitch = Src->Width() * 4;
  const int64_t BlockArea = int64_t{std::max<uint32_t>(1, SrcW / DstW)} * std::max<uint32_t>(1, SrcH / DstH);
  ParallelRows(0, Height(DstClip), TransferGrain(Dst, Src, Combiner.Op(), int64_t{Width(DstClip)} * BlockArea),
               [&](int32_t First, int32_t Last) {
                 for (int32_t j = First; j < Last; ++j) {
                   const int32_t Y0 = AY.Origin + AY.Edge[j];
                   const int32_t BH = std::min(AY.Edge[j + 1] - AY.Edge[j], Src->Height() - Y0);
                   TColor32* D = Dst->PixelAddress(DstClip.Left, DstClip.Top + j);
                   if (BH <= 0) continue;
                   for (int32_t i = 0; i < Width(DstClip); ++i) {
                     const int32_t X0 = AX.Origin + AX.Edge[i];
                     const int32_t BW = std::min(AX.Edge[i + 1] - AX.Edge[i], Src->Width() - X0);
                     if (BW <= 0) continue;
                     Combiner.Put(Average(BW, BH, Src->PixelAddress(X0, Y0), Pitch), D[i]);
                   }
                 }
               });
  EndMmx();
}
