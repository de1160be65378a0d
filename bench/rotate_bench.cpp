// Rotating a 6000 x 4000 picture by 30 degrees into its bounding size with the
// cubic resampler. After our own runs the same generated input goes through
// Pillow (rotate with BICUBIC, expand=True) and `vips rotate` (bicubic, one
// thread) by bench/peers/rotate_peers.py, and the ratios are printed.
//
//   rotate_bench [--no-peers] [google benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "img_rotate.h"
#include "raster_core.h"
#include "test_startup.h"

namespace {

constexpr int32_t SrcW = 6000, SrcH = 4000;
constexpr float Degrees = 30;

const TBitmap32& Source() {
  static const std::unique_ptr<TBitmap32> B = MakeNoisyTestCard(SrcW, SrcH);
  return *B;
}

void Rotate(benchmark::State& State) {
  TBitmap32 Work;
  for (auto _ : State) {
    // The routine works in place: every run starts from a fresh copy, which
    // is not timed.
    State.PauseTiming();
    Work.Assign(&Source());
    State.ResumeTiming();
    RotateByAngle(&Work, Degrees);
    benchmark::DoNotOptimize(Work.Bits());
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * int64_t{Work.Width()} * Work.Height());
}

}  // namespace

int main(int argc, char** argv) {
  VemraTestStartup();
  std::vector<char*> Args;
  const bool Peers = TakePeersFlag(argc, argv, Args);
  int N = static_cast<int>(Args.size());
  Source();
  benchmark::RegisterBenchmark("RotateByAngle/30", Rotate)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
  benchmark::Initialize(&N, Args.data());
  TMsCollector Collector;
  benchmark::RunSpecifiedBenchmarks(&Collector);
  benchmark::Shutdown();
  if (!Peers) return 0;

  const std::string Raw = WriteRgbaTempFile(Source(), "vemra_rotate");
  if (Raw.empty()) return 1;
  const std::string Out = RunPeerScript("rotate_peers.py", Raw, std::to_string(SrcW) + " " + std::to_string(SrcH) + " 30");
  std::remove(Raw.c_str());
  PrintPeerTable(Collector.Ms, Out);
  return 0;
}
