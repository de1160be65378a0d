// The anti-aliased fill of a 1000-vertex star (the shape the draw tool's
// growing polygons approach) on a 1024 x 1024 bitmap, by both fill rules and
// at the coarsest and the default sub-sampling; the whole-pixel fill of the
// same star for scale.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

#include "raster_polygons.h"
#include "test_startup.h"

namespace {

// 500 outer and 500 inner points, alternating, about the bitmap's centre.
TArrayOfFixedPoint Star(int32_t Vertices, double Outer, double Inner) {
  TArrayOfFixedPoint pts;
  for (int32_t i = 0; i < Vertices; ++i) {
    const double a = 2 * std::numbers::pi * i / Vertices;
    const double r = (i % 2 == 0) ? Outer : Inner;
    pts.push_back(TFixedPoint{static_cast<TFixed>(std::lround((512 + r * std::cos(a)) * 65536)),
                              static_cast<TFixed>(std::lround((512 + r * std::sin(a)) * 65536))});
  }
  return pts;
}

void BM_FillStarSmooth(benchmark::State& State) {
  VemraTestStartup();
  const auto mode = static_cast<int32_t>(State.range(0));
  const auto rule = static_cast<TPolyFillMode>(State.range(1));
  TBitmap32 B;
  B.SetSize(1024, 1024);
  B.Clear(0xFF000000u);
  const TArrayOfFixedPoint star = Star(1000, 500, 250);
  for (auto _ : State) {
    FillPolygonSmooth(&B, star, 0xC0FF8040u, rule, mode);
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * 1024 * 1024);
}
BENCHMARK(BM_FillStarSmooth)
    ->ArgNames({"mode", "rule"})
    ->Args({2, pfAlternate})
    ->Args({2, pfWinding})
    ->Args({0, pfAlternate})
    ->Unit(benchmark::kMillisecond);

void BM_FillStarPlain(benchmark::State& State) {
  VemraTestStartup();
  TBitmap32 B;
  B.SetSize(1024, 1024);
  B.Clear(0xFF000000u);
  const TArrayOfFixedPoint star = Star(1000, 500, 250);
  for (auto _ : State) {
    FillPolygon(&B, star, 0xFFFF8040u, pfAlternate);
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * 1024 * 1024);
}
BENCHMARK(BM_FillStarPlain)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
