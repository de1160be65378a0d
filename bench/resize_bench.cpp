// Stretching a 6000 x 4000 picture down to 1920 x 1280 and up to twice its
// size with the nearest, linear, Lanczos and cubic resamplers, on one thread
// and on every core, plus a blended rectangle fill and anti-aliased lines on a
// 4K bitmap. After our own runs the same generated input goes through Pillow
// (in one Python process, bench/peers/resize_peers.py) and through libvips'
// C API (vips_resize with the matching kernel, one thread and its default
// concurrency) in this process, and the ratios are printed.
//
//   resize_bench [--no-peers] [google benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "raster_core.h"
#include "raster_filterindex.h"
#include "raster_resamplers.h"
#include "raster_parallel.h"
#include "test_startup.h"
#include "vips_peer.h"

namespace {

constexpr int32_t SrcW = 6000, SrcH = 4000;

const TBitmap32& Source() {
  static const std::unique_ptr<TBitmap32> B = MakeNoisyTestCard(SrcW, SrcH);
  return *B;
}

struct TCase {
  const char* Name;
  uint8_t Index;  // stretch-filter index
  VipsKernel Kernel;
};
constexpr TCase Cases[] = {{"Nearest", 0, VIPS_KERNEL_NEAREST},
                           {"Linear", 2, VIPS_KERNEL_LINEAR},
                           {"Lanczos", 5, VIPS_KERNEL_LANCZOS3},
                           {"Cubic", 7, VIPS_KERNEL_CUBIC}};

void Resize(benchmark::State& State, uint8_t Index, int32_t DstW, int32_t DstH, int32_t Threads) {
  TThreadLimit Limit(Threads);
  TBitmap32& Src = const_cast<TBitmap32&>(Source());
  TBitmap32 Dst;
  Dst.SetSize(DstW, DstH);
  auto R = MakeUnboundResampler(Index);
  for (auto _ : State) {
    DrawRectScaled(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), R.get(), dmOpaque);
    benchmark::DoNotOptimize(Dst.Bits());
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * int64_t{DstW} * DstH);
}

void FillRectBlend4K(benchmark::State& State) {
  TBitmap32 B;
  B.SetSize(3840, 2160);
  B.Clear(0xFF204060);
  for (auto _ : State) {
    B.FillRectBlend(0, 0, 3840, 2160, 0x80C08040);
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * 3840 * 2160);
}

// 2000 anti-aliased lines across the bitmap in every direction.
void SmoothLines4K(benchmark::State& State) {
  TBitmap32 B;
  B.SetSize(3840, 2160);
  B.Clear(0xFF000000);
  for (auto _ : State) {
    for (int i = 0; i < 2000; ++i) {
      const TFixed X1 = ((i * 37) % 3800 + 10) << 16, Y1 = ((i * 91) % 2100 + 10) << 16;
      const TFixed X2 = ((i * 53 + 1900) % 3800 + 10) << 16, Y2 = ((i * 17 + 1000) % 2100 + 10) << 16;
      B.LineFixedClipped(X1, Y1, X2, Y2, 0xFFFFFFFF);
    }
    benchmark::ClobberMemory();
  }
}

// The fast kernel path against the plain double sum of its own mapping, on a
// sample of pixels of each kernel case: the speed must not cost a single level.
void CheckKernelResults() {
  TBitmap32& Src = const_cast<TBitmap32&>(Source());
  for (const TCase& C : Cases) {
    if (C.Index < 3 && C.Index != 2) continue;
    for (const auto& [DstW, DstH] : {std::pair{1920, 1280}, std::pair{2 * SrcW, 2 * SrcH}}) {
      if (C.Index == 2 && DstW > SrcW) continue;  // the enlarging linear path is bilinear
      TBitmap32 Dst;
      Dst.SetSize(DstW, DstH);
      auto R = MakeUnboundResampler(C.Index);
      DrawRectScaled(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), R.get(), dmOpaque);
      std::unique_ptr<TCustomKernel> K = C.Index == 2 ? std::make_unique<TLinearKernel>()
                                                      : static_cast<TKernelResampler*>(R.get())->Kernel()->Clone();
      const TMappingTable MX = BuildKernelMapping(0, DstW, 0, DstW, 0, SrcW, *K);
      const TMappingTable MY = BuildKernelMapping(0, DstH, 0, DstH, 0, SrcH, *K);
      int64_t Checked = 0, Wrong = 0;
      for (int32_t y = 0; y < DstH; y += 37)
        for (int32_t x = 0; x < DstW; x += 13) {
          TColor32 E = 0;
          for (int c = 0; c < 4; ++c) {
            int64_t Sum = 0;
            for (const auto& PY : MY[y]) {
              int64_t Row = 0;
              for (const auto& PX : MX[x]) Row += int64_t{PX.Weight} * ((Src.GetPixel(PX.Pos, PY.Pos) >> (8 * c)) & 0xFF);
              Sum += Row * PY.Weight;
            }
            E |= static_cast<TColor32>(std::clamp<int64_t>(Sum, 0, 0xFF0000) >> 16) << (8 * c);
          }
          ++Checked;
          if (Dst.GetPixel(x, y) != E) ++Wrong;
        }
      std::printf("exact check %-8s %5dx%-5d: %lld pixels, %lld different\n", C.Name, DstW, DstH,
                  static_cast<long long>(Checked), static_cast<long long>(Wrong));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool Peers = StartBenchmarkProgram(argc, argv);
  Source();
  const int32_t All = ThreadCount();
  for (const TCase& C : Cases)
    for (const auto& [Threads, Tag] : {std::pair{1, "/1t"}, std::pair{All, "/all"}}) {
      benchmark::RegisterBenchmark((std::string("Down/") + C.Name + Tag).c_str(),
                                   [Index = C.Index, T = Threads](benchmark::State& S) { Resize(S, Index, 1920, 1280, T); })
          ->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
      benchmark::RegisterBenchmark((std::string("Up2x/") + C.Name + Tag).c_str(),
                                   [Index = C.Index, T = Threads](benchmark::State& S) {
                                     Resize(S, Index, 2 * SrcW, 2 * SrcH, T);
                                   })
          ->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
    }
  benchmark::RegisterBenchmark("FillRectBlend/4K", FillRectBlend4K)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("LineFixedClipped/4K/2000", SmoothLines4K)->Unit(benchmark::kMillisecond)->UseRealTime();
  TMsCollector Collector;
  benchmark::RunSpecifiedBenchmarks(&Collector);
  benchmark::Shutdown();
  CheckKernelResults();
  if (!Peers) return 0;

  const std::string Raw = WriteRgbaTempFile(Source(), "vemra_resize");
  if (Raw.empty()) return 1;
  const std::string Out = RunPeerScript("resize_peers.py", Raw, std::to_string(SrcW) + " " + std::to_string(SrcH));
  std::remove(Raw.c_str());
  const auto Pillow = ParsePeerLines(Out);
  VipsImage* In = VipsPeerStart() ? VipsImageOf(Source()) : nullptr;
  PrintWideHeader();
  for (const char* Prefix : {"Down", "Up2x"})
    for (const TCase& C : Cases) {
      const double Scale = std::string(Prefix) == "Down" ? 1920.0 / SrcW : 2.0;
      double V1 = -1, VN = -1;
      if (In != nullptr) {
        const auto Op = [&](VipsImage* I, VipsImage** O) {
          return vips_resize(I, O, Scale, "kernel", C.Kernel, nullptr);
        };
        V1 = VipsBestMs(In, 1, 3, Op);
        VN = VipsBestMs(In, 0, 3, Op);
      }
      const std::string Case = std::string(Prefix) + "/" + C.Name;
      PrintWideRow(Case.c_str(), Collector.Ms[Case + "/1t"], Collector.Ms[Case + "/all"], PeerValue(Pillow, Case), V1, VN);
    }
  PrintWideRow("FillRectBlend/4K", Collector.Ms["FillRectBlend/4K"], -1, PeerValue(Pillow, "FillRectBlend/4K"), -1, -1);
  if (In != nullptr) g_object_unref(In);
  PrintThreadsLine(All);
  return 0;
}
