// Rotating a 6000 x 4000 picture by 30 degrees into its bounding size with the
// cubic resampler, on one thread and on every core. The peers run in this
// process on the same picture: libvips through its C API (vips_rotate with
// the bicubic interpolator, one thread and its default concurrency), and
// Pillow (rotate with BICUBIC, expand=True) inside one Python process by
// bench/peers/rotate_peers.py, with its start-up left out. The quarter and
// half turns and the flip run beside it, on one thread and on every core.
//
//   rotate_bench [--no-peers] [google benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_util.h"
#include "img_rotate.h"
#include "raster_core.h"
#include "raster_parallel.h"
#include "test_startup.h"
#include "vips_peer.h"

namespace {

constexpr int32_t SrcW = 6000, SrcH = 4000;
constexpr float Degrees = 30;

const TBitmap32& Source() {
  static const std::unique_ptr<TBitmap32> B = MakeNoisyTestCard(SrcW, SrcH);
  return *B;
}

template <typename TOp>
void OnCopy(benchmark::State& State, int32_t Threads, TOp Op) {
  TThreadLimit Limit(Threads);
  TBitmap32 Work;
  for (auto _ : State) {
    // The routines work in place: every run starts from a fresh copy, which
    // is not timed.
    State.PauseTiming();
    Work.Assign(&Source());
    State.ResumeTiming();
    Op(&Work);
    benchmark::DoNotOptimize(Work.Bits());
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * int64_t{Work.Width()} * Work.Height());
}

void Rotate(benchmark::State& State, int32_t Threads) {
  OnCopy(State, Threads, [](TBitmap32* B) { RotateByAngle(B, Degrees); });
}

}  // namespace

int main(int argc, char** argv) {
  const bool Peers = StartBenchmarkProgram(argc, argv);
  Source();
  const int32_t All = ThreadCount();
  benchmark::RegisterBenchmark("RotateByAngle/30/1t", Rotate, 1)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
  benchmark::RegisterBenchmark("RotateByAngle/30/all", Rotate, All)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
  // The right-angle turns and the flip, without peers.
  const std::pair<const char*, void (*)(TBitmap32*)> Turns[] = {
      {"QuarterTurn", [](TBitmap32* B) { RotateQuarterTurns(B, 1); }},
      {"HalfTurn", [](TBitmap32* B) { RotateQuarterTurns(B, 2); }},
      {"Flip", [](TBitmap32* B) { FlipVertical(B); }}};
  for (const auto& [Name, Op] : Turns)
    for (const int32_t Threads : {1, All})
      benchmark::RegisterBenchmark((std::string(Name) + (Threads == 1 ? "/1t" : "/all")).c_str(),
                                   [Op = Op, Threads](benchmark::State& S) { OnCopy(S, Threads, Op); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
  TMsCollector Collector;
  benchmark::RunSpecifiedBenchmarks(&Collector);
  benchmark::Shutdown();
  if (!Peers) return 0;

  double Vips1 = -1, VipsN = -1;
  if (VipsPeerStart()) {
    VipsImage* In = VipsImageOf(Source());
    VipsInterpolate* Cubic = vips_interpolate_new("bicubic");
    const auto Op = [Cubic](VipsImage* I, VipsImage** O) {
      return vips_rotate(I, O, Degrees, "interpolate", Cubic, nullptr);
    };
    Vips1 = VipsBestMs(In, 1, 3, Op);
    VipsN = VipsBestMs(In, 0, 3, Op);
    g_object_unref(Cubic);
    g_object_unref(In);
  }
  double Pillow = -1;
  const std::string Raw = WriteRgbaTempFile(Source(), "vemra_rotate");
  if (!Raw.empty()) {
    const std::string Out = RunPeerScript("rotate_peers.py", Raw, std::to_string(SrcW) + " " + std::to_string(SrcH) + " 30");
    std::remove(Raw.c_str());
    Pillow = PeerValue(ParsePeerLines(Out), "RotateByAngle/30");
  }
  PrintWideHeader();
  PrintWideRow("RotateByAngle/30", Collector.Ms["RotateByAngle/30/1t"], Collector.Ms["RotateByAngle/30/all"], Pillow,
               Vips1, VipsN);
  PrintThreadsLine(All);
  return 0;
}
