// Colour reduction to the 256-colour halftone palette (Colors > 256 Colors)
// on a 24-megapixel photo-like picture, beside ImageMagick's remap through
// its C API (MagickWand, in process, one thread, no dithering) and Pillow's
// quantize(palette=...) without dithering (bench/peers/depth_peers.py, in
// process). Every contestant maps each pixel to its nearest palette colour.
//
// Before timing, our result is checked against the platform's full
// nearest-colour search over a sample of pixels (not the inverse map it checks).
#include "bench_util.h"

#include <cstdio>

#include "img_depth.h"
#include "platform_graphics.h"
#include "test_startup.h"

#ifdef VEMRA_HAVE_MAGICKWAND
#include <wand/MagickWand.h>
#endif

namespace {

constexpr int32_t W = 6000, H = 4000;

const TBitmap32& Source() {
  static const std::unique_ptr<TBitmap32> s = MakePhotoLike(W, H, false);
  return *s;
}

bool CheckOurs() {
  TBitmap32 b;
  b.Assign(&Source());
  ReduceColorDepth(&b, 8);
  for (size_t i = 0; i < b.PixelCount(); i += 997)
    if (b.Bits()[i] != CubePalette()[static_cast<size_t>(NearestPaletteIndex(CubePalette(), Source().Bits()[i]))]) {
      std::printf("MISMATCH at pixel %zu\n", i);
      return false;
    }
  return true;
}

void Ours(benchmark::State& State) {
  TBitmap32 b;
  for (auto _ : State) {
    State.PauseTiming();
    b.Assign(&Source());
    State.ResumeTiming();
    ReduceColorDepth(&b, 8);
    benchmark::DoNotOptimize(b.Bits());
  }
}

#ifdef VEMRA_HAVE_MAGICKWAND
// Fraction of pixels on which ImageMagick's choice equals ours.
double MagickAgreement = -1;

void Magick(benchmark::State& State) {
  std::vector<uint8_t> rgb(static_cast<size_t>(W) * H * 3);
  for (size_t i = 0; i < Source().PixelCount(); ++i) {
    const TColor32 c = Source().Bits()[i];
    rgb[3 * i] = static_cast<uint8_t>(c >> 16), rgb[3 * i + 1] = static_cast<uint8_t>(c >> 8),
            rgb[3 * i + 2] = static_cast<uint8_t>(c);
  }
  std::vector<uint8_t> pal;
  for (uint32_t e : CubePalette()) pal.insert(pal.end(), {uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e)});
  MagickWand* src = NewMagickWand();
  MagickWand* map = NewMagickWand();
  MagickConstituteImage(src, W, H, "RGB", CharPixel, rgb.data());
  MagickConstituteImage(map, 256, 1, "RGB", CharPixel, pal.data());
  MagickWand* work = nullptr;
  for (auto _ : State) {
    State.PauseTiming();
    if (work) DestroyMagickWand(work);
    work = CloneMagickWand(src);
    State.ResumeTiming();
    if (MagickRemapImage(work, map, NoDitherMethod) == MagickFalse) {
      State.SkipWithError("MagickRemapImage failed");
      break;
    }
  }
  if (work) {
    std::vector<uint8_t> out(rgb.size());
    MagickExportImagePixels(work, 0, 0, W, H, "RGB", CharPixel, out.data());
    TBitmap32 ours;
    ours.Assign(&Source());
    ReduceColorDepth(&ours, 8);
    size_t same = 0;
    for (size_t i = 0; i < ours.PixelCount(); ++i) {
      const TColor32 c = ours.Bits()[i];
      same += out[3 * i] == uint8_t(c >> 16) && out[3 * i + 1] == uint8_t(c >> 8) && out[3 * i + 2] == uint8_t(c);
    }
    MagickAgreement = static_cast<double>(same) / static_cast<double>(ours.PixelCount());
    DestroyMagickWand(work);
  }
  DestroyMagickWand(map);
  DestroyMagickWand(src);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const bool Peers = StartBenchmarkProgram(argc, argv);
  Source();
  if (!CheckOurs()) return 1;
  benchmark::RegisterBenchmark("Halftone/24MP", Ours)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
#ifdef VEMRA_HAVE_MAGICKWAND
  MagickWandGenesis();
  SetMagickResourceLimit(ThreadResource, 1);
  benchmark::RegisterBenchmark("Halftone/24MP/magickwand", Magick)
      ->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
#endif
  TMsCollector Collector;
  benchmark::RunSpecifiedBenchmarks(&Collector);
  benchmark::Shutdown();
#ifdef VEMRA_HAVE_MAGICKWAND
  MagickWandTerminus();
#endif
  const double ours = Collector.Ms["Halftone/24MP"];
#ifdef VEMRA_HAVE_MAGICKWAND
  const double magick = Collector.Ms["Halftone/24MP/magickwand"];
  std::printf("\nImageMagick remap (MagickWand, 1 thread): %.1f ms, ratio %.2f; same colour as ours on %.4f%% of pixels\n",
              magick, magick / ours, MagickAgreement * 100);
#else
  std::printf("\nImageMagick: built without MagickWand (libmagickwand-dev missing); no comparison\n");
#endif
  if (!Peers) return 0;
  const std::string Raw = WriteRgbaTempFile(Source(), "vemra_depth");
  if (Raw.empty()) return 1;
  const std::string Out = RunPeerScript("depth_peers.py", Raw, std::to_string(W) + " " + std::to_string(H));
  std::remove(Raw.c_str());
  PrintPeerTable({{"Halftone/24MP", ours}}, Out);
  return 0;
}
