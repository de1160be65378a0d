// The fill tool's flood fill over a 4000 x 3000 region and the barrel
// correction of a 24 MP picture, beside ImageMagick's flood-fill paint and
// its Barrel distortion through the MagickWand C API in this process (one
// thread, start-up and the import of the input not timed).
//
// Like with like: the flood-fill input is a grey field with a little noise
// that both fills cover completely (ours by the channel-distance tolerance,
// ImageMagick's by its fuzz); the distortion samples bilinearly in both
// (ImageMagick's point filter switches its area resampling off and uses the
// bilinear interpolation) with transparent pixels outside the picture.
//
//   tools_bench [--no-peers] [google benchmark flags]
#include <benchmark/benchmark.h>

#include <wand/MagickWand.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "raster_core.h"
#include "test_startup.h"
#include "zub_lens.h"
#include "zub_tools.h"

namespace {

constexpr int32_t FillW = 4000, FillH = 3000;
constexpr int32_t BarrelW = 6000, BarrelH = 4000;
constexpr int32_t Alpha = 30;

// Grey 128 with up to +-3 of noise per channel: at most 18 apart in channel
// distance, at most 10.4 in ImageMagick's RGB distance.
const TBitmap32& FillSource() {
  static const std::unique_ptr<TBitmap32> B = [] {
    auto b = std::make_unique<TBitmap32>();
    b->SetSize(FillW, FillH);
    uint32_t s = 12345;
    for (size_t i = 0; i < b->PixelCount(); ++i) {
      s = s * 1664525u + 1013904223u;
      const uint32_t r = 125 + (s >> 29), g = 125 + ((s >> 26) & 7) % 7, bl = 125 + ((s >> 23) & 7) % 7;
      b->Bits()[i] = 0xFF000000u | r << 16 | g << 8 | bl;
    }
    return b;
  }();
  return *B;
}

const TBitmap32& BarrelSource() {
  static const std::unique_ptr<TBitmap32> B = MakeNoisyTestCard(BarrelW, BarrelH);
  return *B;
}

void Fill(benchmark::State& State) {
  TBitmap32 Work;
  int64_t Filled = 0;
  for (auto _ : State) {
    State.PauseTiming();
    Work.Assign(&FillSource());
    State.ResumeTiming();
    Filled = FloodFill(&Work, FillW / 2, FillH / 2, 0xFFFF0000u, 255, 30, 0, nullptr);
    benchmark::ClobberMemory();
  }
  if (Filled != int64_t{FillW} * FillH) State.SkipWithError("the fill did not cover the region");
}

void Barrel(benchmark::State& State) {
  TBitmap32 Work;
  for (auto _ : State) {
    State.PauseTiming();
    Work.Assign(&BarrelSource());
    State.ResumeTiming();
    CorrectBarrelPincushion(&Work, Alpha, TPoint{BarrelW / 2, BarrelH / 2}, 0, {});
    benchmark::ClobberMemory();
  }
}

// ---- ImageMagick ---------------------------------------------------------------------------

MagickWand* Import(const TBitmap32& B) {
  MagickWand* w = NewMagickWand();
  if (MagickConstituteImage(w, B.Width(), B.Height(), "BGRA", CharPixel, B.Bits()) == MagickFalse) {
    DestroyMagickWand(w);
    return nullptr;
  }
  return w;
}

double MagickFillMs(int Runs, bool& Covered) {
  MagickWand* source = Import(FillSource());
  PixelWand* red = NewPixelWand();
  PixelSetColor(red, "#FF0000");
  double best = 1e300;
  Covered = true;
  for (int i = 0; i < Runs && source; ++i) {
    MagickWand* w = CloneMagickWand(source);
    // fuzz 12 of 255, as a fraction of the quantum range, holds the noise.
    const double fuzz = 12.0 / 255.0 * QuantumRange;
    const auto t0 = std::chrono::steady_clock::now();
    MagickFloodfillPaintImage(w, DefaultChannels, red, fuzz, nullptr, FillW / 2, FillH / 2, MagickFalse);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    best = std::min(best, ms);
    unsigned char corner[4];
    MagickExportImagePixels(w, FillW - 1, FillH - 1, 1, 1, "RGBA", CharPixel, corner);
    Covered = Covered && corner[0] == 255 && corner[1] == 0 && corner[2] == 0;
    DestroyMagickWand(w);
  }
  DestroyPixelWand(red);
  if (source) DestroyMagickWand(source);
  return best;
}

double MagickBarrelMs(int Runs) {
  MagickWand* source = Import(BarrelSource());
  double best = 1e300;
  for (int i = 0; i < Runs && source; ++i) {
    MagickWand* w = CloneMagickWand(source);
    Image* image = GetImageFromMagickWand(w);
    image->filter = PointFilter;  // no area resampling: the interpolation alone
    MagickSetImageInterpolateMethod(w, BilinearInterpolatePixel);
    MagickSetImageVirtualPixelMethod(w, TransparentVirtualPixelMethod);
    MagickSetImageAlphaChannel(w, SetAlphaChannel);
    // The same radial pull as ours at the gauge's 30: a linear term and a constant.
    const double args[] = {0.0, 0.0, -0.3 * 2000.0 / 4243.0, 1.0 + 0.3 * 3606.0 / 4243.0};
    const auto t0 = std::chrono::steady_clock::now();
    MagickDistortImage(w, BarrelDistortion, 4, args, MagickFalse);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    best = std::min(best, ms);
    DestroyMagickWand(w);
  }
  if (source) DestroyMagickWand(source);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const bool Peers = StartBenchmarkProgram(argc, argv);
  FillSource();
  BarrelSource();
  benchmark::RegisterBenchmark("FloodFill/4000x3000", Fill)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
  benchmark::RegisterBenchmark("Barrel/6000x4000", Barrel)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
  TMsCollector Collector;
  benchmark::RunSpecifiedBenchmarks(&Collector);
  benchmark::Shutdown();
  if (!Peers) return 0;

  MagickWandGenesis();
  MagickSetResourceLimit(ThreadResource, 1);
  bool covered = false;
  const double fillMs = MagickFillMs(5, covered);
  const double barrelMs = MagickBarrelMs(3);
  MagickWandTerminus();
  if (!covered) std::printf("peer: ImageMagick's fill did not cover the region\n");
  std::printf("\n%-22s %10s %14s %10s\n", "case", "vemra ms", "magick ms", "ratio");
  const std::map<std::string, double> peer = {{"FloodFill/4000x3000", fillMs}, {"Barrel/6000x4000", barrelMs}};
  for (const auto& [Name, Ours] : Collector.Ms) {
    auto it = peer.find(Name);
    const double p = it != peer.end() ? it->second : 0;
    std::printf("%-22s %10.1f %14.1f %10.2f\n", Name.c_str(), Ours, p, p > 0 ? p / Ours : 0.0);
  }
  std::printf("ratio = peer time / our time (above 1: we are faster); best of the peer's runs\n");
  return 0;
}
