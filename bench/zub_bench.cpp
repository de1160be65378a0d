// ZU3 save and load of a 6000 x 4000 photo-like picture with an alpha plane,
// beside the bzip2 command-line tool at -9 on the same raw pixel bytes. The
// format is one bzip2 stream of the pixels, so the tool sets the pace; our
// save adds the header, the temporary file and its sync, our load the
// bitmap's allocation.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "img_zub.h"

namespace {

constexpr int kW = 6000, kH = 4000;

std::string TempName(const std::string& Leaf) { return BenchTempPath("vemra_zub_bench_" + Leaf); }

// Smooth shading, edges, sensor-like noise and a soft alpha vignette.
const TBitmap32& Photo() {
  static const std::unique_ptr<TBitmap32> b = MakePhotoLike(kW, kH, true);
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
