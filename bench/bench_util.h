// What the benchmark programs share: their generated input pictures, temporary
// file names, timing of outside commands, and the peer comparison (our times
// collected from Google Benchmark, a peer script's times read back, the ratio
// table printed).
#pragma once

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "raster_core.h"
#include "test_startup.h"

// A file name in $TMPDIR (or /tmp).
inline std::string BenchTempPath(const std::string& Leaf) {
  const char* t = std::getenv("TMPDIR");
  return std::string(t && *t ? t : "/tmp") + "/" + Leaf;
}

// A deterministic W x H picture with smooth areas, edges and noise, so that
// every path does real work and no peer can take a shortcut on flat input.
inline std::unique_ptr<TBitmap32> MakeNoisyTestCard(int32_t W, int32_t H) {
  auto P = std::make_unique<TBitmap32>();
  P->SetSize(W, H);
  uint32_t Hash = 0x9E3779B9u;
  for (int32_t y = 0; y < H; ++y) {
    TColor32* Row = P->RowPtr(y);
    for (int32_t x = 0; x < W; ++x) {
      Hash ^= Hash << 13;
      Hash ^= Hash >> 17;
      Hash ^= Hash << 5;
      const uint32_t R = static_cast<uint32_t>((x * 255) / W);
      const uint32_t G = static_cast<uint32_t>((y * 255) / H);
      const uint32_t B = ((x / 64 + y / 64) & 1) ? 220u : 30u;
      const uint32_t N = Hash & 0x1F;
      Row[x] = 0xFF000000u | std::min(255u, R + N) << 16 | std::min(255u, G + (N >> 1)) << 8 | B;
    }
  }
  return P;
}

// One pixel of a W x H photo-like picture: smooth shading, edges and
// sensor-like noise from the running Seed (start it at 12345 and visit the
// pixels row by row); with Vignette a soft alpha falls off towards the
// corners, else the pixel is opaque. Compresses like a photo, not like a
// flat test card.
inline TColor32 PhotoLikePixel(int x, int y, int W, int H, uint32_t& Seed, bool Vignette) {
  Seed = Seed * 1664525u + 1013904223u;
  const int n = static_cast<int>((Seed >> 26) & 7) - 4;
  const double fx = x / 300.0, fy = y / 200.0;
  const int r = std::clamp(static_cast<int>(128 + 90 * std::sin(fx) * std::cos(fy)) + n, 0, 255);
  const int g = std::clamp(static_cast<int>(128 + 80 * std::sin(fx * 0.7 + fy)) + n, 0, 255);
  const int b = std::clamp(((x / 97 + y / 61) & 1) ? 180 + n : 60 - n, 0, 255);
  int a = 255;
  if (Vignette) {
    const double dx = (x - W / 2.0) / W, dy = (y - H / 2.0) / H;
    a = std::clamp(static_cast<int>(255 - 400 * (dx * dx + dy * dy)), 0, 255);
  }
  return static_cast<TColor32>(a) << 24 | static_cast<TColor32>(r) << 16 | static_cast<TColor32>(g) << 8 |
         static_cast<TColor32>(b);
}

// A W x H picture of PhotoLikePixel, row by row from the seed 12345.
inline std::unique_ptr<TBitmap32> MakePhotoLike(int32_t W, int32_t H, bool Vignette) {
  auto P = std::make_unique<TBitmap32>();
  P->SetSize(W, H);
  uint32_t Seed = 12345;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) P->SetPixel(x, y, PhotoLikePixel(x, y, W, H, Seed, Vignette));
  return P;
}

// Times one outside command per iteration (process start included: a few
// milliseconds against hundreds).
inline void TimeCommand(benchmark::State& State, const std::string& Cmd) {
  for (auto _ : State) {
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(Cmd.c_str()) != 0) {
      State.SkipWithError(("failed: " + Cmd).c_str());
      return;
    }
    State.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}

// Takes our own "--no-peers" out of the arguments and leaves the rest for
// Google Benchmark in Args; true unless it was given.
inline bool TakePeersFlag(int argc, char** argv, std::vector<char*>& Args) {
  bool Peers = true;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-peers") == 0)
      Peers = false;
    else
      Args.push_back(argv[i]);
  }
  return Peers;
}

// The start of every benchmark program: the engine's start-ups, then our own
// "--no-peers" taken out and the rest handed to Google Benchmark. True unless
// the peers were turned off.
inline bool StartBenchmarkProgram(int argc, char** argv) {
  VemraTestStartup();
  std::vector<char*> Args;
  const bool Peers = TakePeersFlag(argc, argv, Args);
  int N = static_cast<int>(Args.size());
  benchmark::Initialize(&N, Args.data());
  return Peers;
}

// "Down/Lanczos/min_time:1.000/real_time" -> "Down/Lanczos".
inline std::string BenchCaseName(const std::string& Full) {
  size_t Cut = Full.size();
  for (const char* Tag : {"/min_time", "/real_time", "/iterations"}) Cut = std::min(Cut, Full.find(Tag));
  return Full.substr(0, Cut);
}

// Keeps every run's time per iteration in milliseconds for the ratio table:
// the wall-clock time, and the calling thread's processor time (which other
// programs on a busy machine disturb far less, for one-thread runs).
class TMsCollector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> Ms;
  std::map<std::string, double> CpuMs;
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const auto& R : Runs)
      if (R.run_type == Run::RT_Iteration && !R.error_occurred) {
        const double ToMs = R.time_unit == benchmark::kMillisecond   ? 1.0
                            : R.time_unit == benchmark::kMicrosecond ? 1e-3
                            : R.time_unit == benchmark::kNanosecond  ? 1e-6
                                                                     : 1e3;
        Ms[BenchCaseName(R.benchmark_name())] = R.GetAdjustedRealTime() * ToMs;
        CpuMs[BenchCaseName(R.benchmark_name())] = R.GetAdjustedCPUTime() * ToMs;
      }
    ConsoleReporter::ReportRuns(Runs);
  }
};

// Writes the picture's pixels as R, G, B, A bytes into a fresh temporary file
// for the peers; returns its name, or "" when it could not be written.
inline std::string WriteRgbaTempFile(const TBitmap32& Picture, const std::string& Prefix) {
  std::string Pattern = BenchTempPath(Prefix + "_XXXXXX");
  std::vector<char> Path(Pattern.begin(), Pattern.end());
  Path.push_back('\0');
  const int Fd = mkstemp(Path.data());
  if (Fd < 0) return "";
  const size_t Count = Picture.PixelCount();
  std::vector<uint8_t> Raw(Count * 4);
  const TColor32* P = Picture.Bits();
  for (size_t i = 0; i < Count; ++i) {
    Raw[4 * i] = static_cast<uint8_t>(P[i] >> 16);
    Raw[4 * i + 1] = static_cast<uint8_t>(P[i] >> 8);
    Raw[4 * i + 2] = static_cast<uint8_t>(P[i]);
    Raw[4 * i + 3] = static_cast<uint8_t>(P[i] >> 24);
  }
  FILE* F = fdopen(Fd, "wb");
  if (F == nullptr) {
    close(Fd);
    std::remove(Path.data());
    return "";
  }
  const bool Written = fwrite(Raw.data(), 1, Raw.size(), F) == Raw.size();
  if (fclose(F) != 0 || !Written) {
    std::remove(Path.data());
    return "";
  }
  return Path.data();
}

// Runs bench/peers/<Script> with the raw picture and Args under the system's
// Python and returns what it printed.
inline std::string RunPeerScript(const std::string& Script, const std::string& RawPath, const std::string& Args) {
  const std::string Path = std::string(VEMRA_SOURCE_DIR) + "/bench/peers/" + Script;
  const std::string Cmd = "/usr/bin/python3 '" + Path + "' '" + RawPath + "' " + Args;
  std::string Out;
  if (FILE* P = popen(Cmd.c_str(), "r")) {
    char Buf[512];
    while (fgets(Buf, sizeof Buf, P)) Out += Buf;
    pclose(P);
  }
  return Out;
}

// The peer scripts print one line "<case> <peer> <value>" per measurement.
// The lines read that way, by case and then peer; any other line is passed
// on to the output.
inline std::map<std::string, std::map<std::string, double>> ParsePeerLines(const std::string& PeerOut) {
  std::map<std::string, std::map<std::string, double>> PeerMs;
  size_t Pos = 0;
  while (Pos < PeerOut.size()) {
    const size_t End = PeerOut.find('\n', Pos);
    const std::string Line = PeerOut.substr(Pos, End == std::string::npos ? std::string::npos : End - Pos);
    Pos = End == std::string::npos ? PeerOut.size() : End + 1;
    char Name[64], Peer[32];
    double Ms;
    if (std::sscanf(Line.c_str(), "%63s %31s %lf", Name, Peer, &Ms) == 3)
      PeerMs[Name][Peer] = Ms;
    else if (!Line.empty())
      std::printf("peer: %s\n", Line.c_str());
  }
  return PeerMs;
}

// The value of Case in a peer script's output whatever peer measured it
// (the scripts that call this run one peer); 0 when it is absent.
inline double PeerValue(const std::map<std::string, std::map<std::string, double>>& PeerMs, const std::string& Case) {
  const auto It = PeerMs.find(Case);
  return It == PeerMs.end() || It->second.empty() ? 0 : It->second.begin()->second;
}

// Reads the peer script's lines "<case> <peer> <ms>" and prints the table of
// our time beside Pillow's and vips' with the ratios; other lines the script
// printed are passed on.
inline void PrintPeerTable(const std::map<std::string, double>& OursMs, const std::string& PeerOut) {
  std::map<std::string, std::map<std::string, double>> PeerMs = ParsePeerLines(PeerOut);
  std::printf("\n%-22s %10s %12s %10s %12s %10s\n", "case", "vemra ms", "pillow ms", "ratio", "vips ms", "ratio");
  for (const auto& [Name, Ours] : OursMs) {
    auto It = PeerMs.find(Name);
    const double Pil = It != PeerMs.end() && It->second.count("pillow") ? It->second["pillow"] : 0;
    const double Vip = It != PeerMs.end() && It->second.count("vips") ? It->second["vips"] : 0;
    std::printf("%-22s %10.1f %12.1f %10.2f %12.1f %10.2f\n", Name.c_str(), Ours, Pil, Pil > 0 ? Pil / Ours : 0.0,
                Vip, Vip > 0 ? Vip / Ours : 0.0);
  }
  if (PeerMs.count("ReadInput"))
    std::printf("vips start-up and input read alone: %.1f ms (part of every vips time)\n", PeerMs["ReadInput"]["vips"]);
  std::printf("ratio = peer time / our time (above 1: we are faster)\n");
}
