// Row blending speed of both blend families on 4096-pixel rows, beside memcpy
// of the same 16 KB. Every benchmark reports pixels per second ("px/s").
//
// The source rows mix transparent, opaque and partly transparent pixels at
// random, so the four-pixel shortcuts of the processor rows rarely apply and
// the figures show the general path.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "raster_blend.h"
#include "test_startup.h"

namespace {

constexpr int32_t kRow = 4096;

struct Rows {
  std::vector<TColor32> src, dst, pristine;
  Rows() : src(kRow), dst(kRow) {
    std::mt19937 rng(7);
    for (auto& c : src) {
      c = rng();
      const uint32_t kind = rng() % 4;
      if (kind == 0) c &= 0x00FFFFFFu;
      if (kind == 1) c |= 0xFF000000u;
    }
    for (auto& c : dst) c = rng();
    pristine = dst;
  }
};

void SetRate(benchmark::State& state) {
  state.counters["px/s"] = benchmark::Counter(kRow, benchmark::Counter::kIsIterationInvariantRate);
}

// Selects the family for one benchmark; false (and the benchmark skipped) when
// the processor family is asked for but not available here.
bool UseFamily(benchmark::State& state) {
  VemraTestStartup();
  const bool processor = state.range(0) != 0;
  if (SelectBlendFamily(processor) != processor) {
    state.SkipWithError("processor family not available");
    return false;
  }
  state.SetLabel(processor ? "processor" : "portable");
  return true;
}

void BM_Memcpy(benchmark::State& state) {
  Rows r;
  for (auto _ : state) {
    std::memcpy(r.dst.data(), r.src.data(), kRow * sizeof(TColor32));
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

// The blend and combine rows do the same work whatever the destination holds,
// so they run on the evolving destination.
void BM_BlendRow(benchmark::State& state) {
  if (!UseFamily(state)) return;
  Rows r;
  for (auto _ : state) {
    BlendRow(r.src.data(), r.dst.data(), kRow);
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

void BM_BlendRowMaster(benchmark::State& state) {
  if (!UseFamily(state)) return;
  Rows r;
  for (auto _ : state) {
    BlendRowMaster(r.src.data(), r.dst.data(), kRow, 200);
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

void BM_CombineRow(benchmark::State& state) {
  if (!UseFamily(state)) return;
  Rows r;
  for (auto _ : state) {
    CombineRow(r.src.data(), r.dst.data(), kRow, 100);
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

// Merging drives the destination's alpha towards opaque, which changes the
// path it takes; the destination is restored outside the timed part.
void BM_MergeRow(benchmark::State& state) {
  if (!UseFamily(state)) return;
  Rows r;
  for (auto _ : state) {
    state.PauseTiming();
    r.dst = r.pristine;
    state.ResumeTiming();
    MergeRow(r.src.data(), r.dst.data(), kRow);
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

}  // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_BlendRow)->Arg(0)->Arg(1);
BENCHMARK(BM_BlendRowMaster)->Arg(0)->Arg(1);
BENCHMARK(BM_CombineRow)->Arg(0)->Arg(1);
BENCHMARK(BM_MergeRow)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
