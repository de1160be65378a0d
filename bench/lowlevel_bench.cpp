// The bulk fill and move under every clear, row copy and flip: both fill
// variants against the standard library's fill, and MoveWords32 against memcpy.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "raster_lowlevel.h"

namespace {

void BM_FillPortable(benchmark::State& state) {
  std::vector<uint32_t> buf(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    FillWords32Portable(buf.data(), state.range(0), 0xFF102030u);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 4);
}

void BM_FillPaired(benchmark::State& state) {
  std::vector<uint32_t> buf(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    FillWords32Paired(buf.data(), state.range(0), 0xFF102030u);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 4);
}

void BM_FillStd(benchmark::State& state) {
  std::vector<uint32_t> buf(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::fill(buf.begin(), buf.end(), 0xFF102030u);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 4);
}

void BM_MoveWords32(benchmark::State& state) {
  std::vector<uint32_t> a(static_cast<size_t>(state.range(0)), 1), b(a.size());
  for (auto _ : state) {
    MoveWords32(a.data(), b.data(), state.range(0));
    benchmark::DoNotOptimize(b.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 4);
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint32_t> a(static_cast<size_t>(state.range(0)), 1), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * 4);
    benchmark::DoNotOptimize(b.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 4);
}

// One row of a wide picture, and a whole 1024 x 1024 picture.
BENCHMARK(BM_FillPortable)->Arg(1920)->Arg(1 << 20);
BENCHMARK(BM_FillPaired)->Arg(1920)->Arg(1 << 20);
BENCHMARK(BM_FillStd)->Arg(1920)->Arg(1 << 20);
BENCHMARK(BM_MoveWords32)->Arg(1920)->Arg(1 << 20);
BENCHMARK(BM_Memcpy)->Arg(1920)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
