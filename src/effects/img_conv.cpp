// 3x3 and 5x5 integer convolution, the per-pixel walker, sharpening and edge magnitude.
//
// The filter works on bytes: a pixel's four bytes are filtered alike (alpha
// included, its result thrown away), which turns every kernel tap into one
// multiply-add over a contiguous run of values. Rows are read from padded
// copies (edge pixels repeated) kept in a small ring, so the image can be
// written row by row while its neighbours are still needed unchanged.
#include "img_conv.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "img_common.h"
#include "raster_parallel.h"
#include "raster_system.h"

namespace {

// Pixels per chunk of a row: the accumulators of one chunk stay in the first-level cache.
constexpr int32_t kChunk = 512;

// Bands of rows per thread: enough that threads which run slower (a busy
// processor, say) hand their share to the others.
constexpr int32_t kBandsPerThread = 8;

// The narrowest accumulator that holds every partial sum exactly.
enum class AccKind { U16, S16, U32 };

AccKind ChooseAcc(const int32_t* Kernel, int32_t Count) {
  int64_t AbsSum = 0;
  bool NonNegative = true;
  for (int32_t i = 0; i < Count; ++i) {
    const int64_t K = Kernel[i];
    if (K < 0) NonNegative = false;
    AbsSum += K < 0 ? -K : K;
  }
  if (NonNegative && AbsSum * 255 <= 65535) return AccKind::U16;
  if (AbsSum * 255 <= 32767) return AccKind::S16;
  // Wider kernels accumulate modulo 2^32: the sum of a 64-bit accumulation truncated to 32 bits.
  return AccKind::U32;
}

// Padded copies of image rows (R pixels repeated on each side), one slot per
// kernel row; image row y lives in slot y mod KSize. Each byte is widened to
// 16 bits once here, so the tap loops multiply without converting.
//
// When bands of rows are filtered on several threads, a band's neighbours
// above and below belong to other bands and may already hold results; those
// rows are read from copies taken before either band next to the edge wrote
// (Saved: one entry per image row, set for the rows next to a band's edge).
class RowRing {
 public:
  using TWidenRun = void (*)(const uint8_t* Src, uint16_t* Dst, size_t N);
  RowRing(const TBitmap32* Bmp, int32_t R, int32_t KSize, TWidenRun WidenRun, int32_t Lo = 0, int32_t Hi = INT32_MAX,
          const std::vector<const TColor32*>* Saved = nullptr)
      : bmp_(Bmp),
        r_(R),
        ksize_(KSize),
        stride_((static_cast<size_t>(Bmp->Width()) + 2 * R) * 4),
        rows_(stride_ * KSize),
        holds_(KSize, -1),
        widen_(WidenRun),
        lo_(Lo),
        hi_(Hi),
        saved_(Saved) {}

  // The padded row of image row Y, Y limited to the image.
  const uint16_t* Row(int32_t Y) {
    Y = std::clamp(Y, 0, bmp_->Height() - 1);
    const int32_t Slot = Y % ksize_;
    uint16_t* P = rows_.data() + stride_ * Slot;
    if (holds_[Slot] != Y) {
      const int32_t W = bmp_->Width();
      const TColor32* Row = (Y < lo_ || Y >= hi_) ? (*saved_)[static_cast<size_t>(Y)] : bmp_->RowPtr(Y);
      const uint8_t* Src = reinterpret_cast<const uint8_t*>(Row);
      for (int32_t i = 0; i < r_; ++i)
        for (int32_t c = 0; c < 4; ++c) P[4 * i + c] = Src[c];
      uint16_t* Mid = P + 4 * static_cast<size_t>(r_);
      widen_(Src, Mid, static_cast<size_t>(W) * 4);
      uint16_t* Tail = Mid + 4 * static_cast<size_t>(W);
      const uint8_t* Last = Src + 4 * static_cast<size_t>(W - 1);
      for (int32_t i = 0; i < r_; ++i)
        for (int32_t c = 0; c < 4; ++c) Tail[4 * i + c] = Last[c];
      holds_[Slot] = Y;
    }
    return P;
  }

 private:
  const TBitmap32* bmp_;
  int32_t r_, ksize_;
  size_t stride_;
  std::vector<uint16_t> rows_;
  std::vector<int32_t> holds_;
  TWidenRun widen_;
  int32_t lo_, hi_;
  const std::vector<const TColor32*>* saved_;
};

// Acc[j] = sum of the taps over N bytes starting at byte Start of the padded
// rows. All taps of one byte are summed in a register before the one store;
// with the kernel size fixed at compile time the tap loops unroll and the byte
// loop vectorizes.
template <typename Acc, int KSize>
[[gnu::always_inline]] inline void Accumulate(Acc* __restrict A, const uint16_t* const* Rows, const Acc* Kernel,
                                              size_t Start, size_t N) {
  // Three rows at a time keep their taps in registers; a 5x5 kernel takes a
  // second pass for its last two rows.
  constexpr int First = KSize < 3 ? KSize : 3;
  {
    const uint16_t* __restrict P[First];
    Acc K[First * KSize];
    for (int t = 0; t < First * KSize; ++t) K[t] = Kernel[t];
    for (int Dy = 0; Dy < First; ++Dy) P[Dy] = Rows[Dy] + Start;
    for (size_t j = 0; j < N; ++j) {
      Acc S = 0;
      for (int Dy = 0; Dy < First; ++Dy)
        for (int Dx = 0; Dx < KSize; ++Dx) S = static_cast<Acc>(S + K[Dy * KSize + Dx] * P[Dy][j + 4 * Dx]);
      A[j] = S;
    }
  }
  if constexpr (KSize > 3) {
    constexpr int Rest = KSize - 3;
    const uint16_t* __restrict P[Rest];
    Acc K[Rest * KSize];
    for (int t = 0; t < Rest * KSize; ++t) K[t] = Kernel[3 * KSize + t];
    for (int Dy = 0; Dy < Rest; ++Dy) P[Dy] = Rows[3 + Dy] + Start;
    for (size_t j = 0; j < N; ++j) {
      Acc S = A[j];
      for (int Dy = 0; Dy < Rest; ++Dy)
        for (int Dx = 0; Dx < KSize; ++Dx) S = static_cast<Acc>(S + K[Dy * KSize + Dx] * P[Dy][j + 4 * Dx]);
      A[j] = S;
    }
  }
}

[[gnu::always_inline]] inline uint8_t ClampInt(int32_t V) {
  return static_cast<uint8_t>(V < 0 ? 0 : (V > 255 ? 255 : V));
}

// How the sums of one call become bytes.
enum class FinishMode { Add, Shift, Divide, Wide };

struct FinishParams {
  FinishMode Mode;
  int32_t Divisor;
  int32_t Bias;  // for the 16-bit sums limited to +-2^20: beyond that every result saturates alike
  int32_t Shift;
  float FloatDivisor;
};

FinishParams MakeFinish(AccKind Kind, int32_t Divisor, int32_t Bias) {
  FinishParams F{FinishMode::Divide, Divisor, Bias, 0, static_cast<float>(Divisor)};
  if (Kind == AccKind::U32) {
    F.Mode = FinishMode::Wide;
    return F;
  }
  F.Bias = std::clamp(Bias, -(1 << 20), 1 << 20);
  if (Divisor == 1) {
    F.Mode = FinishMode::Add;
  } else if (Kind == AccKind::U16 && Divisor > 0 && (Divisor & (Divisor - 1)) == 0) {
    // Non-negative sums divide by a power of two with a shift.
    F.Mode = FinishMode::Shift;
    F.Shift = __builtin_ctz(static_cast<uint32_t>(Divisor));
  }
  return F;
}

// Divides and biases N sums into bytes. For the 16-bit sums (|S| <= 65535) a
// float quotient truncates exactly: a non-integer quotient lies at least 1/|S|
// away from the next integer, far more than a float's rounding error. The
// 32-bit sums divide in 64 bits (INT_MIN div -1 included).
template <typename Acc>
[[gnu::always_inline]] inline void Finish(const Acc* __restrict A, uint8_t* __restrict Out, size_t N,
                                          const FinishParams& F) {
  const int32_t B = F.Bias;
  switch (F.Mode) {
    case FinishMode::Add:
      for (size_t j = 0; j < N; ++j) Out[j] = ClampInt(static_cast<int32_t>(A[j]) + B);
      break;
    case FinishMode::Shift: {
      const int32_t Sh = F.Shift;
      for (size_t j = 0; j < N; ++j) Out[j] = ClampInt((static_cast<int32_t>(A[j]) >> Sh) + B);
      break;
    }
    case FinishMode::Divide: {
      const float D = F.FloatDivisor;
      for (size_t j = 0; j < N; ++j) Out[j] = ClampInt(static_cast<int32_t>(static_cast<float>(A[j]) / D) + B);
      break;
    }
    case FinishMode::Wide:
      for (size_t j = 0; j < N; ++j) {
        const int64_t S = static_cast<int32_t>(static_cast<uint32_t>(A[j]));
        const int64_t V = S / F.Divisor + F.Bias;
        Out[j] = static_cast<uint8_t>(V < 0 ? 0 : (V > 255 ? 255 : V));
      }
      break;
  }
}

// Bytes widened to 16 bits for the padded rows.
[[gnu::always_inline]] inline void Widen(const uint8_t* __restrict Src, uint16_t* __restrict Dst, size_t N) {
  for (size_t j = 0; j < N; ++j) Dst[j] = Src[j];
}

// The new colour bytes put into a run of pixels whose alpha stays.
[[gnu::always_inline]] inline void MergeColour(TColor32* __restrict D, const uint32_t* __restrict Result, size_t N) {
  for (size_t i = 0; i < N; ++i) D[i] = (D[i] & 0xFF000000u) | (Result[i] & 0x00FFFFFFu);
}

// One chunk of a row: the sums, the bytes, and (unless Dst is null) the bytes
// merged into the row. Compiled twice, for the baseline processor and for
// AVX2, and picked once per call; so is the widening of the padded rows.
using TChunkFilter = void (*)(const uint16_t* const* Rows, const void* Kernel, size_t Start, size_t N, void* Sums,
                              uint32_t* Out, TColor32* Dst, const FinishParams& F);

template <typename Acc, int KSize>
[[gnu::always_inline]] inline void Chunk(const uint16_t* const* Rows, const void* Kernel, size_t Start, size_t N,
                                         void* Sums, uint32_t* Out, TColor32* Dst, const FinishParams& F) {
  Accumulate<Acc, KSize>(static_cast<Acc*>(Sums), Rows, static_cast<const Acc*>(Kernel), Start, N);
  Finish(static_cast<const Acc*>(Sums), reinterpret_cast<uint8_t*>(Out), N, F);
  if (Dst != nullptr) MergeColour(Dst, Out, N / 4);
}

template <typename Acc, int KSize>
void ChunkPortable(const uint16_t* const* Rows, const void* Kernel, size_t Start, size_t N, void* Sums, uint32_t* Out,
                   TColor32* Dst, const FinishParams& F) {
  Chunk<Acc, KSize>(Rows, Kernel, Start, N, Sums, Out, Dst, F);
}

template <typename Acc, int KSize>
[[gnu::target("avx2")]] void ChunkAvx2(const uint16_t* const* Rows, const void* Kernel, size_t Start, size_t N,
                                       void* Sums, uint32_t* Out, TColor32* Dst, const FinishParams& F) {
  Chunk<Acc, KSize>(Rows, Kernel, Start, N, Sums, Out, Dst, F);
}

void WidenPortable(const uint8_t* Src, uint16_t* Dst, size_t N) { Widen(Src, Dst, N); }
[[gnu::target("avx2")]] void WidenAvx2(const uint8_t* Src, uint16_t* Dst, size_t N) { Widen(Src, Dst, N); }

bool UseAvx2() { return !ForcePortable() && __builtin_cpu_supports("avx2"); }

template <typename Acc>
TChunkFilter PickChunkFilter(int32_t KSize, bool Avx2) {
  if (KSize == 3) return Avx2 ? ChunkAvx2<Acc, 3> : ChunkPortable<Acc, 3>;
  return Avx2 ? ChunkAvx2<Acc, 5> : ChunkPortable<Acc, 5>;
}

struct MaskOptions {
  bool Masked = false;
  int32_t Channels = 7;
  int32_t Threshold = 0;
};

template <typename Acc>
void ConvolveRows(const int32_t* Kernel, int32_t KSize, TBitmap32* Bmp, const FinishParams& F,
                  const MaskOptions& Mask) {
  const int32_t W = Bmp->Width(), H = Bmp->Height(), R = KSize / 2;
  // The kernel in the accumulator's type: the narrow types hold every entry
  // (their bounds were checked), the 32-bit one wraps as the sums do.
  Acc K[25];
  for (int32_t t = 0; t < KSize * KSize; ++t) K[t] = static_cast<Acc>(Kernel[t]);
  const bool Avx2 = UseAvx2();
  const TChunkFilter Filter = PickChunkFilter<Acc>(KSize, Avx2);

  // Bands of rows shared out among the threads; the R rows on either side of
  // every band edge are copied before either band next to it writes, as each
  // reads the other's. The first of the two to start makes the copy, so the
  // copies are spread over the threads too. Bands are at least 8 rows tall,
  // so the edges' rows never meet and none reaches the picture's border.
  const int32_t Bands = std::clamp(H / std::max(8, RowsPerTask(int64_t{W} * KSize * KSize)), 1, ThreadCount() * kBandsPerThread);
  std::vector<int32_t> Edge(static_cast<size_t>(Bands) + 1);
  for (int32_t b = 0; b <= Bands; ++b) Edge[static_cast<size_t>(b)] = static_cast<int32_t>(int64_t{H} * b / Bands);
  std::vector<const TColor32*> Saved;
  std::unique_ptr<TColor32[]> Copies;
  std::unique_ptr<std::once_flag[]> Copied;
  const size_t EdgeRows = 2 * static_cast<size_t>(R);
  if (Bands > 1) {
    Saved.assign(static_cast<size_t>(H), nullptr);
    Copies = std::make_unique_for_overwrite<TColor32[]>(static_cast<size_t>(Bands - 1) * EdgeRows * static_cast<size_t>(W));
    Copied = std::make_unique<std::once_flag[]>(static_cast<size_t>(Bands));
    for (int32_t b = 1; b < Bands; ++b)
      for (size_t k = 0; k < EdgeRows; ++k)
        Saved[static_cast<size_t>(Edge[static_cast<size_t>(b)] - R) + k] =
            Copies.get() + (static_cast<size_t>(b - 1) * EdgeRows + k) * static_cast<size_t>(W);
  }
  // Copies the rows around the edge at the top of band b (0 < b < Bands).
  const auto CopyEdge = [&](int32_t b) {
    std::call_once(Copied[static_cast<size_t>(b)], [&] {
      const int32_t Top = Edge[static_cast<size_t>(b)] - R;
      for (size_t k = 0; k < EdgeRows; ++k)
        std::memcpy(const_cast<TColor32*>(Saved[static_cast<size_t>(Top) + k]), Bmp->RowPtr(Top + static_cast<int32_t>(k)),
                    static_cast<size_t>(W) * sizeof(TColor32));
    });
  };

  ParallelRows(0, Bands, 1, [&](int32_t FirstBand, int32_t LastBand) {
    std::vector<Acc> Sums(static_cast<size_t>(kChunk) * 4);
    std::vector<uint32_t> Result(kChunk);
    uint8_t* ResultBytes = reinterpret_cast<uint8_t*>(Result.data());
    for (int32_t b = FirstBand; b < LastBand; ++b) {
      const int32_t Lo = Edge[static_cast<size_t>(b)], Hi = Edge[static_cast<size_t>(b) + 1];
      if (b > 0) CopyEdge(b);
      if (b + 1 < Bands) CopyEdge(b + 1);
      RowRing Ring(Bmp, R, KSize, Avx2 ? WidenAvx2 : WidenPortable, Lo, Hi, &Saved);
      const uint16_t* Rows[5] = {};
      for (int32_t Y = Lo; Y < Hi; ++Y) {
        for (int32_t Dy = 0; Dy < KSize; ++Dy) Rows[Dy] = Ring.Row(Y - R + Dy);
        TColor32* Dst = Bmp->RowPtr(Y);
        for (int32_t X0 = 0; X0 < W; X0 += kChunk) {
          const int32_t Count = std::min(kChunk, W - X0);
          TColor32* D = Dst + X0;
          Filter(Rows, K, static_cast<size_t>(X0) * 4, static_cast<size_t>(Count) * 4, Sums.data(), Result.data(),
                 Mask.Masked ? nullptr : D, F);
          if (!Mask.Masked) continue;
          // The old value is the untouched centre pixel of the padded copy.
          const uint16_t* Old = Rows[R] + static_cast<size_t>(X0 + R) * 4;
          uint8_t* Out = reinterpret_cast<uint8_t*>(D);
          for (int32_t i = 0; i < Count; ++i) {
            for (int32_t c = 0; c < 3; ++c) {
              if ((Mask.Channels & (1 << c)) == 0) continue;
              const size_t j = static_cast<size_t>(i) * 4 + c;
              const int32_t Diff = static_cast<int32_t>(ResultBytes[j]) - static_cast<int32_t>(Old[j]);
              if ((Diff < 0 ? -Diff : Diff) < Mask.Threshold) Out[j] = ResultBytes[j];
            }
          }
        }
      }
    }
  });
}

void ConvolveImpl(const int32_t* Kernel, int32_t KSize, int32_t Divisor, TBitmap32* Bmp, int32_t Bias,
                  const MaskOptions& Mask) {
  // A zero divisor has no meaning; a foreign caller passing one gets no change.
  if (Kernel == nullptr || Divisor == 0 || !HasPixels(Bmp)) return;
  if (Mask.Masked && ((Mask.Channels & 7) == 0 || Mask.Threshold <= 0)) return;
  const AccKind Kind = ChooseAcc(Kernel, KSize * KSize);
  const FinishParams F = MakeFinish(Kind, Divisor, Bias);
  switch (Kind) {
    case AccKind::U16: ConvolveRows<uint16_t>(Kernel, KSize, Bmp, F, Mask); break;
    case AccKind::S16: ConvolveRows<int16_t>(Kernel, KSize, Bmp, F, Mask); break;
    case AccKind::U32: ConvolveRows<uint32_t>(Kernel, KSize, Bmp, F, Mask); break;
  }
  Bmp->Changed();
}

// round(V) of an extended value, NaN and far-off values limited so the conversion stays defined.
int64_t RoundWide(long double V) {
  if (std::isnan(V)) return 0;
  V = std::clamp(V, -1e12L, 1e12L);
  return static_cast<int64_t>(std::nearbyint(V));
}

constexpr int32_t kGauss3[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
constexpr int32_t kLaplace3[9] = {0, -1, 0, -1, 4, -1, 0, -1, 0};
constexpr int32_t kSobel1[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
constexpr int32_t kSobel2[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1};
constexpr int32_t kPrewitt1[9] = {-1, -1, -1, 0, 0, 0, 1, 1, 1};
constexpr int32_t kPrewitt2[9] = {1, 0, -1, 1, 0, -1, 1, 0, -1};

}  // namespace

void Convolve3x3(const int32_t* Kernel, int32_t Divisor, TBitmap32* Bmp, int32_t Bias) {
  ConvolveImpl(Kernel, 3, Divisor, Bmp, Bias, MaskOptions{});
}

void Convolve5x5(const int32_t* Kernel, int32_t Divisor, TBitmap32* Bmp, int32_t Bias) {
  ConvolveImpl(Kernel, 5, Divisor, Bmp, Bias, MaskOptions{});
}

void Convolve3x3Masked(const int32_t* Kernel, int32_t Divisor, TBitmap32* Bmp, int32_t Bias, int32_t Channels,
                       int32_t Threshold) {
  ConvolveImpl(Kernel, 3, Divisor, Bmp, Bias, MaskOptions{true, Channels, Threshold});
}

void Convolve5x5Masked(const int32_t* Kernel, int32_t Divisor, TBitmap32* Bmp, int32_t Bias, int32_t Channels,
                       int32_t Threshold) {
  ConvolveImpl(Kernel, 5, Divisor, Bmp, Bias, MaskOptions{true, Channels, Threshold});
}

void ForEachPixel(TBitmap32* Bmp, const std::function<void(TColor32*)>& PerPixel) {
  if (!HasPixels(Bmp) || !PerPixel) return;
  TColor32* P = Bmp->Bits();
  const size_t N = Bmp->PixelCount();
  for (size_t i = 0; i < N; ++i) PerPixel(P + i);
  Bmp->Changed();
}

void BlurMapPixel(TColor32* Pixel) {
  if (Pixel == nullptr) return;
  const int32_t B = static_cast<int32_t>(*Pixel & 0xFF) - 127;
  const TColor32 V = static_cast<TColor32>(ClampToByte((B < 0 ? -B : B) * 2));
  *Pixel = (*Pixel & 0xFF000000u) | (V * 0x010101u);
}

void Sharpen(TBitmap32* Dst, TBitmap32* Src, int32_t Mode, float Amount) {
  if (Dst == nullptr || Src == nullptr) return;
  ResizeLike(Dst, Src);
  if (HasPixels(Src) && (Mode == 0 || Mode == 1)) {
    auto T = std::make_unique<TBitmap32>();
    CopyBitmap(T.get(), Src, true);
    if (Mode == 0)
      Convolve3x3(kGauss3, 16, T.get(), 0);
    else
      Convolve3x3(kLaplace3, 1, T.get(), 0);
    const uint8_t* S = reinterpret_cast<const uint8_t*>(Src->Bits());
    const uint8_t* F = reinterpret_cast<const uint8_t*>(T->Bits());
    uint8_t* D = reinterpret_cast<uint8_t*>(Dst->Bits());
    const size_t N = Src->PixelCount();
    // The correction of each possible difference is taken once from a table:
    // round(d * Amount) in extended precision, ties to even.
    std::vector<int32_t> Corr(511);
    for (int32_t d = -255; d <= 255; ++d)
      Corr[d + 255] = static_cast<int32_t>(
          std::clamp<int64_t>(RoundWide(static_cast<long double>(d) * Amount), -1024, 1024));
    for (size_t i = 0; i < N; ++i) {
      const size_t p = i * 4;
      for (int c = 0; c < 3; ++c) {
        const int32_t Sv = S[p + c];
        const int32_t Diff = Mode == 0 ? Sv - F[p + c] : F[p + c];
        D[p + c] = static_cast<uint8_t>(ClampToByte(Sv + Corr[Diff + 255]));
      }
      D[p + 3] = S[p + 3];
    }
  }
  Dst->Changed();
}

void EdgeMagnitude(TBitmap32* Dst, TBitmap32* Src, const int32_t* Kernel1, const int32_t* Kernel2, int32_t Divisor1,
                   int32_t Divisor2, float Amount) {
  // The weight is fixed before anything else; Amount is limited to 0..1 (NaN gives 0).
  long double A = Amount;
  if (!(A >= 0)) A = 0;
  if (A > 1) A = 1;
  const int32_t W = static_cast<int32_t>(std::nearbyint(A * 255));
  const int32_t Wc = 255 - W;
  if (Dst == nullptr || Src == nullptr || Kernel1 == nullptr || Kernel2 == nullptr) return;
  if (HasPixels(Src)) {
    // With a weight of 0 the gradients are multiplied by 0: they need not be made.
    auto Ga = std::make_unique<TBitmap32>();
    auto Gb = std::make_unique<TBitmap32>();
    if (W != 0) {
      CopyBitmap(Ga.get(), Src, true);
      Convolve3x3(Kernel1, Divisor1, Ga.get(), 0);
      CopyBitmap(Gb.get(), Src, false);
      Convolve3x3(Kernel2, Divisor2, Gb.get(), 0);
    }
    ResizeLike(Dst, Src);
    // m = trunc(sqrt(a*a + b*b)) depends on two bytes only: one table.
    std::vector<uint8_t> Magnitude(W != 0 ? 65536 : 0);
    for (int32_t a = 0; a < 256 && W != 0; ++a)
      for (int32_t b = 0; b < 256; ++b)
        Magnitude[static_cast<size_t>(a * 256 + b)] = static_cast<uint8_t>(
            ClampToByte(static_cast<int32_t>(std::sqrt(static_cast<long double>(a * a + b * b)))));
    const uint8_t* Sa = reinterpret_cast<const uint8_t*>(Ga->Bits());
    const uint8_t* Sb = reinterpret_cast<const uint8_t*>(Gb->Bits());
    const uint8_t* S = reinterpret_cast<const uint8_t*>(Src->Bits());
    uint8_t* D = reinterpret_cast<uint8_t*>(Dst->Bits());
    ParallelSpans(Src->PixelCount(), size_t{1} << 15, [&](size_t First, size_t Last) {
      for (size_t i = First; i < Last; ++i) {
        const size_t p = i * 4;
        for (int c = 0; c < 3; ++c) {
          const int32_t M = W != 0 ? Magnitude[static_cast<size_t>(Sa[p + c]) * 256 + Sb[p + c]] : 0;
          D[p + c] = static_cast<uint8_t>((M * W + S[p + c] * Wc) >> 8);
        }
        D[p + 3] = S[p + 3];
      }
    });
  } else {
    ResizeLike(Dst, Src);
  }
  Dst->Changed();
}

void SobelEdges(TBitmap32* Dst, TBitmap32* Src, float Amount) {
  EdgeMagnitude(Dst, Src, kSobel1, kSobel2, 1, 1, Amount);
}

void PrewittEdges(TBitmap32* Dst, TBitmap32* Src, float Amount) {
  EdgeMagnitude(Dst, Src, kPrewitt1, kPrewitt2, 1, 1, Amount);
}
