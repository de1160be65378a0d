// Rotating a 6000 x 4000 picture by 30 degrees into its bounding size with the
// cubic resampler. After our own runs the same generated input goes through
// Pillow (rotate with BICUBIC, expand=True) and `vips rotate` (bicubic, one
// thread) by bench/peers/rotate_peers.py, and the ratios are printed.
//
//   rotate_bench [--no-peers] [google benchmark flags]
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "img_rotate.h"
#include "raster_core.h"
#include "test_startup.h"

namespace {

constexpr int32_t SrcW = 6000, SrcH = 4000;
constexpr float Degrees = 30;

// A deterministic picture with smooth areas, edges and noise, so that no path
// can take a shortcut on flat input.
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

std::string CaseName(const std::string& Full) {
  size_t Cut = Full.size();
  for (const char* Tag : {"/min_time", "/real_time", "/iterations"}) Cut = std::min(Cut, Full.find(Tag));
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
                                           (R.time_unit == benchmark::kMillisecond   ? 1.0
                                            : R.time_unit == benchmark::kMicrosecond ? 1e-3
                                            : R.time_unit == benchmark::kNanosecond  ? 1e-6
                                                                                     : 1e3);
    ConsoleReporter::ReportRuns(Runs);
  }
};

std::string RunPeers(const std::string& RawPath) {
  const std::string Script = std::string(VEMRA_SOURCE_DIR) + "/bench/peers/rotate_peers.py";
  const std::string Cmd = "/usr/bin/python3 '" + Script + "' '" + RawPath + "' " + std::to_string(SrcW) + " " +
                          std::to_string(SrcH) + " 30";
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
  benchmark::RegisterBenchmark("RotateByAngle/30", Rotate)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
  benchmark::Initialize(&N, Args.data());
  TCollector Collector;
  benchmark::RunSpecifiedBenchmarks(&Collector);
  benchmark::Shutdown();
  if (!Peers) return 0;

  // The same pixels as R, G, B, A bytes for the peers.
  char Path[] = "/tmp/vemra_rotate_XXXXXX";
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
    if (F == nullptr) {
      close(Fd);
      std::remove(Path);
      return 1;
    }
    fwrite(Raw.data(), 1, Raw.size(), F);
    fclose(F);
  }
  const std::string Out = RunPeers(Path);
  std::remove(Path);

  // Lines "<case> <peer> <ms>" from the script.
  std::map<std::string, std::map<std::string, double>> PeerMs;
  size_t Pos = 0;
  while (Pos < Out.size()) {
    const size_t End = Out.find('\n', Pos);
    const std::string Line = Out.substr(Pos, End == std::string::npos ? std::string::npos : End - Pos);
    Pos = End == std::string::npos ? Out.size() : End + 1;
    char Name[64], Peer[32];
    double Ms;
    if (std::sscanf(Line.c_str(), "%63s %31s %lf", Name, Peer, &Ms) == 3)
      PeerMs[Name][Peer] = Ms;
    else if (!Line.empty())
      std::printf("peer: %s\n", Line.c_str());
  }
  std::printf("\n%-22s %10s %12s %10s %12s %10s\n", "case", "vemra ms", "pillow ms", "ratio", "vips ms", "ratio");
  for (const auto& [Name, Ours] : Collector.Ms) {
    auto It = PeerMs.find(Name);
    const double Pil = It != PeerMs.end() && It->second.count("pillow") ? It->second["pillow"] : 0;
    const double Vip = It != PeerMs.end() && It->second.count("vips") ? It->second["vips"] : 0;
    std::printf("%-22s %10.1f %12.1f %10.2f %12.1f %10.2f\n", Name.c_str(), Ours, Pil, Pil > 0 ? Pil / Ours : 0.0,
                Vip, Vip > 0 ? Vip / Ours : 0.0);
  }
  if (PeerMs.count("ReadInput"))
    std::printf("vips start-up and input read alone: %.1f ms (part of every vips time)\n", PeerMs["ReadInput"]["vips"]);
  std::printf("ratio = peer time / our time (above 1: we are faster)\n");
  return 0;
}
