// ZU3 save and load of a 6000 x 4000 photo-like picture with an alpha plane,
// beside the bzip2 command-line tool at -9 on the same raw pixel bytes. The
// format is one bzip2 stream of the pixels, so the tool sets the pace; our
// save adds the header, the temporary file and its sync, our load the
// bitmap's allocation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "img_zub.h"

namespace {

constexpr int kW = 6000, kH = 4000;

std::string TempName(const std::string& Leaf) {
  const char* t = std::getenv("TMPDIR");
  return std::string(t && *t ? t : "/tmp") + "/vemra_zub_bench_" + Leaf;
}

// Smooth shading, edges, sensor-like noise and a soft alpha vignette.
const TBitmap32& Photo() {
  static const std::unique_ptr<TBitmap32> b = [] {
    auto p = std::make_unique<TBitmap32>();
    p->SetSize(kW, kH);
    uint32_t s = 12345;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        s = s * 1664525u + 1013904223u;
        const int n = static_cast<int>((s >> 26) & 7) - 4;
        const double fx = x / 300.0, fy = y / 200.0;
        const int r = std::clamp(static_cast<int>(128 + 90 * std::sin(fx) * std::cos(fy)) + n, 0, 255);
        const int g = std::clamp(static_cast<int>(128 + 80 * std::sin(fx * 0.7 + fy)) + n, 0, 255);
        const int bl = ((x / 97 + y / 61) & 1) ? 180 + n : 60 - n;
        const double dx = (x - kW / 2.0) / kW, dy = (y - kH / 2.0) / kH;
        const int a = std::clamp(static_cast<int>(255 - 400 * (dx * dx + dy * dy)), 0, 255);
        p->SetPixel(x, y, MakeArgb(r, g, bl, a));
      }
    return p;
  }();
  return *b;
}

const std::string& RawFile() {
  static const std::string name = [] {
    const std::string n = TempName("pixels.raw");
    std::ofstream(n, std::ios::binary)
        .write(reinterpret_cast<const char*>(Photo().Bits()), static_cast<std::streamsize>(Photo().PixelCount() * 4));
    return n;
  }();
  return name;
}

const std::string& ZubFile() {
  static const std::string name = [] {
    const std::string n = TempName("photo.zub");
    SaveZubImage(n, &Photo());
    return n;
  }();
  return name;
}

void TimeCommand(benchmark::State& state, const std::string& cmd) {
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError(("failed: " + cmd).c_str());
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}

void Timed(benchmark::State& state, const std::function<void()>& Work) {
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    Work();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}

void BM_Save_SaveZubImage(benchmark::State& state) {
  const TBitmap32& b = Photo();
  const std::string out = TempName("save.zub");
  Timed(state, [&] {
    if (!SaveZubImage(out, &b)) state.SkipWithError("save failed");
  });
  std::ifstream f(out, std::ios::binary | std::ios::ate);
  state.counters["MB"] = static_cast<double>(f.tellg()) / 1e6;
  std::remove(out.c_str());
}

void BM_Save_Bzip2Tool(benchmark::State& state) {
  TimeCommand(state, "bzip2 -9 -c " + RawFile() + " > " + TempName("tool.bz2"));
  std::ifstream f(TempName("tool.bz2"), std::ios::binary | std::ios::ate);
  state.counters["MB"] = static_cast<double>(f.tellg()) / 1e6;
}

void BM_Load_LoadZubImage(benchmark::State& state) {
  const std::string& in = ZubFile();
  Timed(state, [&] {
    TBitmap32 b;
    LoadZubImage(in, &b);
    if (b.Width() != kW) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(b.Bits());
  });
}

void BM_Load_Bzip2Tool(benchmark::State& state) {
  RawFile();
  if (std::system(("bzip2 -9 -c " + RawFile() + " > " + TempName("tool.bz2")).c_str()) != 0) {
    state.SkipWithError("bzip2 failed");
    return;
  }
  TimeCommand(state, "bzip2 -dc " + TempName("tool.bz2") + " > /dev/null");
}

}  // namespace

BENCHMARK(BM_Save_SaveZubImage)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save_Bzip2Tool)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_LoadZubImage)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_Bzip2Tool)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  // A failed save or load shows its box on stderr and the benchmark reports it.
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  for (const char* leaf : {"pixels.raw", "photo.zub", "tool.bz2"}) std::remove(TempName(leaf).c_str());
  return 0;
}
