// One 64 x 64 floating picture dragged over a 3840 x 2160 view: each step
// moves the layer and paints, once with the micro-tile optimizer (only the
// tiles the layer left and entered) and once with a full repaint. Before
// timing, the optimizer's screen after a drag is compared with a fresh full
// repaint of the same scene.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "bench_util.h"
#include "raster_image.h"
#include "raster_layers.h"
#include "test_startup.h"
#include "view_host.h"

namespace {

constexpr int32_t kW = 3840, kH = 2160;

struct TScene {
  TRecordingViewHost Host{kW, kH};
  TImage32 View{&Host};
  TBitmapLayer* Layer = nullptr;
  float X = 100, Y = 100;

  explicit TScene(TRepaintMode Mode) {
    View.Bitmap()->Assign(MakeNoisyTestCard(kW, kH).get());
    View.SetRepaintMode(Mode);
    Layer = View.Layers()->Add<TBitmapLayer>();
    Layer->Bitmap()->SetSize(64, 64);
    for (int32_t y = 0; y < 64; ++y)
      for (int32_t x = 0; x < 64; ++x)
        Layer->Bitmap()->SetPixel(x, y, 0x80000000u | static_cast<uint32_t>(x * 4) << 16 | static_cast<uint32_t>(y * 4));
    Layer->Bitmap()->SetDrawMode(dmBlend);
    MoveTo(X, Y);
  }
  void MoveTo(float NX, float NY) {
    X = NX;
    Y = NY;
    Layer->SetLocation(TFloatRect{X, Y, X + 64, Y + 64});
    Host.ProcessPaint();
    Host.ClearRecords();
  }
  // A drag step: a few pixels right and down, wrapping inside the view.
  void Step() {
    float NX = X + 7, NY = Y + 3;
    if (NX + 64 > kW) NX = 0;
    if (NY + 64 > kH) NY = 0;
    MoveTo(NX, NY);
  }
};

// The optimizer's screen after a drag equals a full repaint of the end position.
bool SameAsFullRepaint() {
  TScene Opt(rmOptimizer);
  for (int i = 0; i < 40; ++i) Opt.Step();
  TScene Full(rmFull);
  Full.MoveTo(Opt.X, Opt.Y);
  const TBitmap32& A = Opt.Host.Screen();
  const TBitmap32& B = Full.Host.Screen();
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x)
      if (A.GetPixel(x, y) != B.GetPixel(x, y)) {
        std::fprintf(stderr, "optimized repaint differs at %d,%d\n", x, y);
        return false;
      }
  return true;
}

void BM_DragLayer(benchmark::State& state) {
  TScene S(state.range(0) != 0 ? rmOptimizer : rmFull);
  for (auto _ : state) S.Step();
  state.SetLabel(state.range(0) != 0 ? "micro-tiles" : "full repaint");
}
BENCHMARK(BM_DragLayer)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  VemraTestStartup();
  if (!SameAsFullRepaint()) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
