// GIF colour reduction and the editor's GIF save. The octree reduction of a
// 24-megapixel photo to 256 colours beside Pillow's quantize(FASTOCTREE) (one
// Python process, start-up excluded; ours on one thread and on all), with each
// side's mean absolute and root-mean-square error per channel; and SaveGIF of a
// 12-megapixel picture beside giflib's encoder writing the same web-cube frame
// (the cube rule in a plain loop, then EGifPutLine) to the same folder.
#include <gif_lib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "bench_util.h"
#include "gif_reduce.h"
#include "img_gif.h"
#include "raster_parallel.h"
#include "test_startup.h"

namespace {

constexpr int kPW = 6000, kPH = 4000;  // 24 MP
constexpr int kSW = 4000, kSH = 3000;  // 12 MP

const TBitmap32& Photo(int W, int H) {
  static std::unique_ptr<TBitmap32> p24, p12;
  auto& p = W == kPW ? p24 : p12;
  if (!p) p = MakePhotoLike(W, H, true);
  return *p;
}

const TPlatformBitmap& PhotoPlatform() {
  static TPlatformBitmap b = [] {
    TPlatformBitmap t;
    Photo(kPW, kPH).AssignTo(t);
    return t;
  }();
  return b;
}

// Mean absolute and root-mean-square error per channel of a reduction.
struct TError {
  double Mean = 0, Rms = 0;
};
TError Errors(const uint32_t* Src, const uint8_t* Idx, size_t N, const std::vector<uint32_t>& Pal) {
  double sum = 0, sq = 0;
  for (size_t i = 0; i < N; ++i) {
    const uint32_t a = Src[i], b = Pal[Idx[i]];
    for (int sh : {16, 8, 0}) {
      const int d = int(a >> sh & 255) - int(b >> sh & 255);
      sum += std::abs(d);
      sq += double(d) * d;
    }
  }
  return {sum / (3.0 * N), std::sqrt(sq / (3.0 * N))};
}

TError gOurError;

void Octree(benchmark::State& State) {
  const TPlatformBitmap& src = PhotoPlatform();
  TReducedImage r;
  for (auto _ : State) {
    ReduceColorsToIndices(src, ReduceOctree, DitherNone, 8, nullptr, r);
    benchmark::DoNotOptimize(r.Indices.data());
  }
  gOurError = Errors(src.Bits(), r.Indices.data(), r.Indices.size(), r.Palette);
}

void BM_Octree_Ours(benchmark::State& State) { Octree(State); }

void BM_Octree_Ours_1Thread(benchmark::State& State) {
  TThreadLimit one(1);
  Octree(State);
}

void BM_SaveGIF_Ours(benchmark::State& State) {
  const std::string path = BenchTempPath("vemra_gifsave_ours.gif");
  for (auto _ : State) SaveGIF(path, &Photo(kSW, kSH), false);
  std::remove(path.c_str());
}

void BM_SaveGIF_Giflib(benchmark::State& State) {
  const std::string path = BenchTempPath("vemra_gifsave_giflib.gif");
  const TBitmap32& p = Photo(kSW, kSH);
  GifColorType colors[256] = {};
  for (int i = 0; i < 216; ++i)
    colors[i] = {GifByteType(i / 36 * 51), GifByteType(i / 6 % 6 * 51), GifByteType(i % 6 * 51)};
  std::vector<GifByteType> row(kSW);
  for (auto _ : State) {
    int err = 0;
    GifFileType* g = EGifOpenFileName(path.c_str(), false, &err);
    ColorMapObject* map = GifMakeMapObject(256, colors);
    EGifPutScreenDesc(g, kSW, kSH, 8, 0, nullptr);
    EGifPutImageDesc(g, 0, 0, kSW, kSH, false, map);
    for (int y = 0; y < kSH; ++y) {
      const TColor32* s = p.Bits() + static_cast<size_t>(y) * kSW;
      for (int x = 0; x < kSW; ++x) {
        const uint32_t c = s[x];
        row[size_t(x)] = GifByteType(((c >> 16 & 255) + 3) / 51 * 36 + ((c >> 8 & 255) + 3) / 51 * 6 + ((c & 255) + 3) / 51);
      }
      EGifPutLine(g, row.data(), kSW);
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
  }
  std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_Octree_Ours)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Octree_Ours_1Thread)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_SaveGIF_Ours)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_SaveGIF_Giflib)->Unit(benchmark::kMillisecond)->MinTime(3.0);

int main(int argc, char** argv) {
  const bool peers = StartBenchmarkProgram(argc, argv);
  TMsCollector ms;
  benchmark::RunSpecifiedBenchmarks(&ms);
  double pillow = 0, pillowError = 0, pillowRms = 0;
  if (peers) {
    const std::string raw = WriteRgbaTempFile(Photo(kPW, kPH), "vemra_gifreduce");
    const std::string out = RunPeerScript("gifreduce_peers.py", raw, std::to_string(kPW) + " " + std::to_string(kPH));
    std::remove(raw.c_str());
    const auto peer = ParsePeerLines(out);
    pillow = PeerValue(peer, "Octree");
    pillowError = PeerValue(peer, "OctreeError");
    pillowRms = PeerValue(peer, "OctreeRms");
  }
  auto at = [&](const char* k) { return ms.Ms.count(k) ? ms.Ms[k] : 0.0; };
  const double oct = at("BM_Octree_Ours"), oct1 = at("BM_Octree_Ours_1Thread"), save = at("BM_SaveGIF_Ours"),
               gsave = at("BM_SaveGIF_Giflib");
  std::printf("\n%-30s %10s %10s %8s\n", "case", "vemra ms", "peer ms", "ratio");
  std::printf("%-30s %10.1f %10.1f %8.2f\n", "Octree 24MP (Pillow) 1 thread", oct1, pillow, oct1 > 0 ? pillow / oct1 : 0);
  std::printf("%-30s %10.1f %10.1f %8.2f\n", "Octree 24MP (Pillow) all", oct, pillow, oct > 0 ? pillow / oct : 0);
  std::printf("%-30s %10.1f %10.1f %8.2f\n", "SaveGIF 12MP (giflib)", save, gsave, save > 0 ? gsave / save : 0);
  std::printf("error per channel, mean absolute: vemra %.3f, pillow %.3f\n", gOurError.Mean, pillowError);
  std::printf("error per channel, root mean square: vemra %.3f, pillow %.3f\n", gOurError.Rms, pillowRms);
  std::printf("ratio = peer time / our time (above 1: we are faster)\n");
  return 0;
}
