// The effect hot paths on a 6000 x 4000 picture: 3x3 and 5x5 convolution,
// the 3x3 median, three lookup tables and grey scale, each on one thread
// (argument 1) and on every core (argument 0). The closest libvips operations
// run in this process through its C API on the same pixels (4 bands), at
// concurrency 1 and at its default. bench/peers/effects_peers.py runs this
// beside Pillow (in its own process, start-up left out) and prints the table.
//
// The input is the binary PPM named by VEMRA_BENCH_IMAGE when set (the peers
// script writes one), else a generated picture of the same size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "img_comp.h"
#include "img_conv.h"
#include "img_effects.h"
#include "img_lut.h"
#include "img_nr.h"
#include "img_rank.h"
#include "img_sort.h"
#include "raster_parallel.h"
#include "test_startup.h"
#include "vips_peer.h"
#include "zub_actions.h"
#include "zub_params.h"

namespace {

constexpr int32_t kWidth = 6000, kHeight = 4000;

// A binary PPM (P6, maxval 255) read into opaque pixels; false on anything else.
bool LoadPpm(const char* Path, TBitmap32& B) {
  FILE* F = std::fopen(Path, "rb");
  if (F == nullptr) return false;
  int W = 0, H = 0, Max = 0;
  const bool Header = std::fscanf(F, "P6 %d %d %d", &W, &H, &Max) == 3 && std::fgetc(F) != EOF;
  if (!Header || W <= 0 || H <= 0 || Max != 255) {
    std::fclose(F);
    return false;
  }
  std::vector<uint8_t> Rgb(static_cast<size_t>(W) * H * 3);
  const bool Read = std::fread(Rgb.data(), 1, Rgb.size(), F) == Rgb.size();
  std::fclose(F);
  if (!Read) return false;
  B.SetSize(W, H);
  for (size_t i = 0; i < B.PixelCount(); ++i)
    B.Bits()[i] = 0xFF000000u | (TColor32{Rgb[3 * i]} << 16) | (TColor32{Rgb[3 * i + 1]} << 8) | Rgb[3 * i + 2];
  return true;
}

// Smooth gradients with a little noise, so the median meets both flat and busy windows.
void Generate(TBitmap32& B) {
  B.SetSize(kWidth, kHeight);
  uint32_t Seed = 12345;
  for (int32_t Y = 0; Y < kHeight; ++Y)
    for (int32_t X = 0; X < kWidth; ++X) {
      Seed = Seed * 1664525u + 1013904223u;
      const uint32_t N = (Seed >> 24) & 15;
      const uint32_t R = (X * 255 / kWidth + N) & 255, G = (Y * 255 / kHeight + N) & 255, Bl = ((X ^ Y) + N) & 255;
      B.SetPixel(X, Y, 0xFF000000u | (R << 16) | (G << 8) | Bl);
    }
}

const TBitmap32& Input() {
  static std::unique_ptr<TBitmap32> In = [] {
    VemraTestStartup();
    auto B = std::make_unique<TBitmap32>();
    const char* Path = std::getenv("VEMRA_BENCH_IMAGE");
    if (Path == nullptr || !LoadPpm(Path, *B)) Generate(*B);
    return B;
  }();
  return *In;
}

// Each iteration filters a fresh copy of the input; the copy is not timed.
template <typename F>
void RunOnCopy(benchmark::State& State, F Effect) {
  TThreadLimit Limit(static_cast<int32_t>(State.range(0)));
  const TBitmap32& In = Input();
  TBitmap32 Work;
  Work.SetSize(In.Width(), In.Height());
  for (auto _ : State) {
    State.PauseTiming();
    std::copy(In.Bits(), In.Bits() + In.PixelCount(), Work.Bits());
    State.ResumeTiming();
    Effect(Work);
    benchmark::DoNotOptimize(Work.Bits());
  }
  State.SetItemsProcessed(static_cast<int64_t>(State.iterations()) * static_cast<int64_t>(In.PixelCount()));
}

void BM_Convolve3x3Blur(benchmark::State& State) {
  static const int32_t K[9] = {1, 1, 1, 1, 4, 1, 1, 1, 1};
  RunOnCopy(State, [](TBitmap32& B) { Convolve3x3(K, 12, &B, 0); });
}

void BM_Convolve3x3Sharpen(benchmark::State& State) {
  static const int32_t K[9] = {-1, -1, -1, -1, 16, -1, -1, -1, -1};
  RunOnCopy(State, [](TBitmap32& B) { Convolve3x3(K, 8, &B, 0); });
}

void BM_Convolve5x5Box(benchmark::State& State) {
  static int32_t K[25];
  for (int32_t& V : K) V = 1;
  RunOnCopy(State, [](TBitmap32& B) { Convolve5x5(K, 25, &B, 0); });
}

void BM_Median3x3(benchmark::State& State) {
  RunOnCopy(State, [](TBitmap32& B) { MedianFilter(&B, 1, 255); });
}

void BM_ApplyLut3(benchmark::State& State) {
  TLut R{}, G{}, Bl{};
  for (int i = 0; i < 256; ++i) {
    R[i] = static_cast<uint8_t>(255 - i);
    G[i] = static_cast<uint8_t>(i / 2);
    Bl[i] = static_cast<uint8_t>((i * 7) & 255);
  }
  RunOnCopy(State, [&](TBitmap32& B) { ApplyLut3(&B, R.data(), G.data(), Bl.data(), 255); });
}

void BM_Greyscale(benchmark::State& State) {
  RunOnCopy(State, [](TBitmap32& B) { Greyscale(&B, 255); });
}

// The median's fast path settles windows whose median intensity belongs to
// one colour; on the photo-like input above it rarely applies. The best case:
// a picture of few flat colours.
void BM_Median3x3Flat(benchmark::State& State) {
  static const std::unique_ptr<TBitmap32> Flat = [] {
    auto B = std::make_unique<TBitmap32>();
    B->SetSize(kWidth, kHeight);
    for (int32_t Y = 0; Y < kHeight; ++Y)
      for (int32_t X = 0; X < kWidth; ++X) B->SetPixel(X, Y, 0xFF000000u | ((X / 64 + Y / 64) % 5) * 0x332211u);
    return B;
  }();
  TThreadLimit Limit(static_cast<int32_t>(State.range(0)));
  TBitmap32 Work;
  Work.SetSize(kWidth, kHeight);
  for (auto _ : State) {
    State.PauseTiming();
    std::copy(Flat->Bits(), Flat->Bits() + Flat->PixelCount(), Work.Bits());
    State.ResumeTiming();
    MedianFilter(&Work, 1, 255);
    benchmark::DoNotOptimize(Work.Bits());
  }
}

// The floor under every row-split filter above: the same picture copied
// row by row into a second one on the same threads. A filter whose speed-up
// matches this one's is held by the memory, not by its own code.
void BM_CopyPicture(benchmark::State& State) {
  static TBitmap32 Out;
  Out.SetSize(kWidth, kHeight);
  RunOnCopy(State, [](TBitmap32& B) {
    ParallelRows(0, B.Height(), RowsPerTask(B.Width()), [&](int32_t First, int32_t Last) {
      const size_t W = static_cast<size_t>(B.Width());
      std::copy(B.Bits() + First * W, B.Bits() + Last * W, Out.Bits() + First * W);
    });
  });
}

#define VEMRA_EFFECT(Name) BENCHMARK(Name)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()
VEMRA_EFFECT(BM_Convolve3x3Blur);
VEMRA_EFFECT(BM_Convolve3x3Sharpen);
VEMRA_EFFECT(BM_Convolve5x5Box);
VEMRA_EFFECT(BM_Median3x3);
VEMRA_EFFECT(BM_Median3x3Flat);
VEMRA_EFFECT(BM_ApplyLut3);
VEMRA_EFFECT(BM_Greyscale);
VEMRA_EFFECT(BM_CopyPicture);

// ---- Menu items as their callbacks run them ----------------------------------------------
// Each row is one menu command's callback on the picture: the routine and the
// numbers the callback passes, a parameter dialog at the values it opens
// with (every slider 0, clamped to its range; channel boxes checked) and the
// alpha gauge at its start value 255. The command engine's copies are not timed.

TParamValues DialogDefaults(int32_t Kind) {
  TParamValues V;
  if (Kind == 11) V.P2 = 1;  // the twirl's type slider starts at its minimum
  return V;
}

void RunDialogKind(benchmark::State& State, int32_t Kind) {
  RunOnCopy(State, [Kind](TBitmap32& B) { ApplyParamEffect(Kind, &B, &B, DialogDefaults(Kind), 0xFF000000u, 0xFFFFFFFFu); });
}

struct TMenuRow {
  const char* Name;
  std::function<void(benchmark::State&)> Run;
};

const TMenuRow kMenuRows[] = {
    {"Menu/SortByIntensity", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), 0); }); }},
    {"Menu/SortByRed", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), 1); }); }},
    {"Menu/SortByGreen", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), 2); }); }},
    {"Menu/SortByBlue", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), 3); }); }},
    {"Menu/SortByAlpha", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), 4); }); }},
    {"Menu/SortByHue", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), 5); }); }},
    {"Menu/SortBySaturation", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), 6); }); }},
    {"Menu/SortByLuminance", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), 7); }); }},
    {"Menu/Mandelbrot", [](benchmark::State& S) { RunDialogKind(S, 12); }},
    {"Menu/Round", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { EffectRound(&B); }); }},
    {"Menu/Twirl", [](benchmark::State& S) { RunDialogKind(S, 11); }},
    {"Menu/Hole", [](benchmark::State& S) { RunDialogKind(S, 10); }},
    {"Menu/HueSaturationLuminance", [](benchmark::State& S) { RunDialogKind(S, 6); }},
    {"Menu/Sobel", [](benchmark::State& S) { RunDialogKind(S, 4); }},
    {"Menu/Prewitt", [](benchmark::State& S) { RunDialogKind(S, 5); }},
    {"Menu/Kuwahara", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { KuwaharaFilter(&B, 1, 255); }); }},
    {"Menu/StdDev", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { DeviationFilter(&B, 1, 255); }); }},
    {"Menu/Feather", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { FeatherAlpha(&B); }); }},
    {"Menu/NoiseReduction", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { ReduceNoise(&B, 255); }); }},
    {"Menu/RgbToHsl", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { RgbToHslBytes(&B); }); }},
    {"Menu/HslToRgb", [](benchmark::State& S) { RunOnCopy(S, [](TBitmap32& B) { HslBytesToRgb(&B); }); }},
};

const bool kMenuRegistered = [] {
  for (const TMenuRow& Row : kMenuRows)
    // One run each (the slowest take seconds); --benchmark_repetitions gives more.
    benchmark::RegisterBenchmark(Row.Name, Row.Run)->Arg(1)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
  return true;
}();

// ---- libvips through its C API -------------------------------------------------------

VipsImage* VipsInput() {
  static VipsImage* In = VipsPeerStart() ? VipsImageOf(Input()) : nullptr;
  return In;
}

VipsImage* Mask(int32_t Size, std::vector<double> Values, double Scale) {
  VipsImage* M = vips_image_new_matrix_from_array(Size, Size, Values.data(), static_cast<int>(Values.size()));
  vips_image_set_double(M, "scale", Scale);
  vips_image_set_double(M, "offset", 0);
  return M;
}

// Times Op at the concurrency State.range(0) (1, or 0 for vips' default).
void RunVips(benchmark::State& State, const std::function<int(VipsImage*, VipsImage**)>& Op) {
  VipsImage* In = VipsInput();
  if (In == nullptr) {
    State.SkipWithError("libvips did not start");
    return;
  }
  State.counters["threads"] = VipsSetConcurrency(static_cast<int>(State.range(0)));
  for (auto _ : State) {
    VipsImage* Out = nullptr;
    if (Op(In, &Out) != 0) {
      State.SkipWithError("libvips failed");
      break;
    }
    size_t Size = 0;
    void* Mem = vips_image_write_to_memory(Out, &Size);
    g_object_unref(Out);
    g_free(Mem);
  }
  VipsSetConcurrency(0);
}

void BM_Vips_Convolve3x3Blur(benchmark::State& State) {
  VipsImage* M = Mask(3, {1, 1, 1, 1, 4, 1, 1, 1, 1}, 12);
  RunVips(State, [M](VipsImage* I, VipsImage** O) { return vips_conv(I, O, M, "precision", VIPS_PRECISION_INTEGER, nullptr); });
  g_object_unref(M);
}
void BM_Vips_Convolve3x3Sharpen(benchmark::State& State) {
  VipsImage* M = Mask(3, {-1, -1, -1, -1, 16, -1, -1, -1, -1}, 8);
  RunVips(State, [M](VipsImage* I, VipsImage** O) { return vips_conv(I, O, M, "precision", VIPS_PRECISION_INTEGER, nullptr); });
  g_object_unref(M);
}
void BM_Vips_Convolve5x5Box(benchmark::State& State) {
  VipsImage* M = Mask(5, std::vector<double>(25, 1.0), 25);
  RunVips(State, [M](VipsImage* I, VipsImage** O) { return vips_conv(I, O, M, "precision", VIPS_PRECISION_INTEGER, nullptr); });
  g_object_unref(M);
}
void BM_Vips_Median3x3(benchmark::State& State) {
  RunVips(State, [](VipsImage* I, VipsImage** O) { return vips_median(I, O, 3, nullptr); });
}
void BM_Vips_ApplyLut3(benchmark::State& State) {
  std::vector<uint8_t> L(256 * 4);
  for (int i = 0; i < 256; ++i) {
    L[4 * i] = static_cast<uint8_t>(255 - i);
    L[4 * i + 1] = static_cast<uint8_t>(i / 2);
    L[4 * i + 2] = static_cast<uint8_t>((i * 7) & 255);
    L[4 * i + 3] = static_cast<uint8_t>(i);
  }
  VipsImage* Lut = vips_image_new_from_memory_copy(L.data(), L.size(), 256, 1, 4, VIPS_FORMAT_UCHAR);
  RunVips(State, [Lut](VipsImage* I, VipsImage** O) { return vips_maplut(I, O, Lut, nullptr); });
  g_object_unref(Lut);
}
VEMRA_EFFECT(BM_Vips_Convolve3x3Blur);
VEMRA_EFFECT(BM_Vips_Convolve3x3Sharpen);
VEMRA_EFFECT(BM_Vips_Convolve5x5Box);
VEMRA_EFFECT(BM_Vips_Median3x3);
VEMRA_EFFECT(BM_Vips_ApplyLut3);

}  // namespace

BENCHMARK_MAIN();
