// The effect hot paths on a 6000 x 4000 picture: 3x3 and 5x5 convolution,
// the 3x3 median, three lookup tables and grey scale. bench/peers/effects_peers.py
// runs this beside Pillow and vips on the same input and prints the ratios.
//
// The input is the binary PPM named by VEMRA_BENCH_IMAGE when set (the peers
// script writes one), else a generated picture of the same size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "img_comp.h"
#include "img_conv.h"
#include "img_lut.h"
#include "img_rank.h"
#include "test_startup.h"

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

BENCHMARK(BM_Convolve3x3Blur)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convolve3x3Sharpen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convolve5x5Box)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Median3x3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ApplyLut3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Greyscale)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
