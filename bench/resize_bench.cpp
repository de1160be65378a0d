// Stretching a 6000 x 4000 picture down to 1920 x 1280 and up to twice its
// size with the nearest, linear, Lanczos and cubic resamplers, plus a blended
// rectangle fill and anti-aliased lines on a 4K bitmap. After our own runs the
// same generated input goes through Pillow and `vips resize` (one thread) by
// bench/peers/resize_peers.py, and the ratios are printed.
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

#include "raster_core.h"
#include "raster_filterindex.h"
#include "raster_resamplers.h"
#include "test_startup.h"

namespace {

constexpr int32_t SrcW = 6000, SrcH = 4000;

// A deterministic picture with smooth areas, edges and noise, so that every
// path does real work and no peer can take a shortcut on flat input.
const TBitmap32& Source() {
  static std::unique_ptr<TBitmap32> B = [] {
    auto P = std::make_unique<TBitmap32>();
    P->SetSize(SrcW, SrcH);
    uint32_t H = 0x9E3779B9u;
    for (int32_t y = 0; y < SrcH; ++y) {
      TColor32* Row = P->RowPtr(y);
      for (int32_t x = 0; x < SrcW; ++x) {
        H ^= H << 13;
        H ^= H >> 17;
        H ^= H << 5;
        const uint32_t R = static_cast<uint32_t>((x * 255) / SrcW);
        const uint32_t G = static_cast<uint32_t>((y * 255) / SrcH);
        const uint32_t B = ((x / 64 + y / 64) & 1) ? 220u : 30u;
        const uint32_t N = H & 0x1F;
        Row[x] = 0xFF000000u | std::min(255u, R + N) << 16 | std::min(255u, G + (N >> 1)) << 8 | B;
      }
    }
    return P;
  }();
  return *B;
}

struct TCase {
  const char* Name;
  uint8_t Index;  // stretch-filter index
};
constexpr TCase Cases[] = {{"Nearest", 0}, {"Linear", 2}, {"Lanczos", 5}, {"Cubic", 7}};

void Resize(benchmark::State& State, uint8_t Index, int32_t DstW, int32_t DstH) {
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

// "Down/Lanczos/min_time:1.000/real_time" -> "Down/Lanczos".
std::string CaseName(const std::string& Full) {
  size_t Cut = Full.size();
  for (const char* Tag : {"/min_time", "/real_time"}) Cut = std::min(Cut, Full.find(Tag));
  return Full.substr(0, Cut);
}

// Keeps every run's time per iteration in milliseconds for the ratio table.
class TCollector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> Ms;
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const auto& R : Runs)
      if (R.run_type == Run::RT_Iteration && !R.error_occurred)
        Ms[CaseName(R.benchmark_name())] = R.GetAdjustedRealTime() *
                                 (R.time_unit == benchmark::kMillisecond ? 1.0
                                  : R.time_unit == benchmark::kMicrosecond ? 1e-3
                                  : R.time_unit == benchmark::kNanosecond ? 1e-6 : 1e3);
    ConsoleReporter::ReportRuns(Runs);
  }
};

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

std::string RunPeers(const std::string& RawPath) {
  const std::string Script = std::string(VEMRA_SOURCE_DIR) + "/bench/peers/resize_peers.py";
  const std::string Cmd = "/usr/bin/python3 '" + Script + "' '" + RawPath + "' " +
                          std::to_string(SrcW) + " " + std::to_string(SrcH);
  std::string Out;
  if (FILE* P = popen(Cmd.c_str(), "r")) {
    char Buf[512];
    while (fgets(Buf, sizeof Buf, P)) Out += Buf;
    pclose(P);
  }
  return Out;
}

}  // namespace

int main(int argc, char** argv) {
  VemraTestStartup();
  bool Peers = true;
  std::vector<char*> Args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-peers") == 0)
      Peers = false;
    else
      Args.push_back(argv[i]);
  }
  int N = static_cast<int>(Args.size());
  Source();
  for (const TCase& C : Cases) {
    benchmark::RegisterBenchmark((std::string("Down/") + C.Name).c_str(),
                                 [Index = C.Index](benchmark::State& S) { Resize(S, Index, 1920, 1280); })
        ->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
    benchmark::RegisterBenchmark((std::string("Up2x/") + C.Name).c_str(),
                                 [Index = C.Index](benchmark::State& S) { Resize(S, Index, 2 * SrcW, 2 * SrcH); })
        ->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
  }
  benchmark::RegisterBenchmark("FillRectBlend/4K", FillRectBlend4K)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("LineFixedClipped/4K/2000", SmoothLines4K)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::Initialize(&N, Args.data());
  TCollector Collector;
  benchmark::RunSpecifiedBenchmarks(&Collector);
  benchmark::Shutdown();
  CheckKernelResults();
  if (!Peers) return 0;

  // The same pixels as R, G, B, A bytes for the peers.
  char Path[] = "/tmp/vemra_resize_XXXXXX";
  const int Fd = mkstemp(Path);
  if (Fd < 0) return 1;
  {
    std::vector<uint8_t> Raw(static_cast<size_t>(SrcW) * SrcH * 4);
    const TColor32* P = Source().Bits();
    for (size_t i = 0; i < static_cast<size_t>(SrcW) * SrcH; ++i) {
      Raw[4 * i] = static_cast<uint8_t>(P[i] >> 16);
      Raw[4 * i + 1] = static_cast<uint8_t>(P[i] >> 8);
      Raw[4 * i + 2] = static_cast<uint8_t>(P[i]);
      Raw[4 * i + 3] = static_cast<uint8_t>(P[i] >> 24);
    }
    FILE* F = fdopen(Fd, "wb");
    fwrite(Raw.data(), 1, Raw.size(), F);
    fclose(F);
  }
  const std::string Out = RunPeers(Path);
  std::remove(Path);

  // Lines "<benchmark name> <peer> <ms>" from the script.
  std::printf("\n%-22s %10s %12s %10s %12s %10s\n", "case", "vemra ms", "pillow ms", "ratio", "vips ms", "ratio");
  std::map<std::string, std::map<std::string, double>> PeerMs;
  size_t Pos = 0;
  while (Pos < Out.size()) {
    const size_t End = Out.find('\n', Pos);
    const std::string Line = Out.substr(Pos, End == std::string::npos ? std::string::npos : End - Pos);
    Pos = End == std::string::npos ? Out.size() : End + 1;
    char Name[64], Peer[32];
    double Ms;
    if (std::sscanf(Line.c_str(), "%63s %31s %lf", Name, Peer, &Ms) == 3) PeerMs[Name][Peer] = Ms;
    else if (!Line.empty()) std::printf("peer: %s\n", Line.c_str());
  }
  for (const auto& [Name, Ours] : Collector.Ms) {
    auto It = PeerMs.find(Name);
    const double Pil = It != PeerMs.end() && It->second.count("pillow") ? It->second["pillow"] : 0;
    const double Vip = It != PeerMs.end() && It->second.count("vips") ? It->second["vips"] : 0;
    std::printf("%-22s %10.1f %12.1f %10.2f %12.1f %10.2f\n", Name.c_str(), Ours, Pil,
                Pil > 0 ? Pil / Ours : 0.0, Vip, Vip > 0 ? Vip / Ours : 0.0);
  }
  if (PeerMs.count("ReadInput"))
    std::printf("vips start-up and input read alone: %.1f ms (part of every vips time)\n",
                PeerMs["ReadInput"]["vips"]);
  std::printf("ratio = peer time / our time (above 1: we are faster)\n");
  return 0;
}
