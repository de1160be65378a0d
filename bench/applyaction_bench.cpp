// The command engine's own cost on a 6000 x 4000 document: ApplyAction with a
// callback that does nothing (its undo snapshot, the work copy and the
// write-back), beside one memcpy of the same 96 MB. The engine copies the
// image three times per command, so about 3x one memcpy is the floor; the
// undo store reuses the snapshot it drops, so no command pays for allocating
// and clearing a fresh image once the store is full.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "../tests/editor/fake_editor_ui.h"
#include "test_startup.h"
#include "zub_main_engine.h"

namespace {

constexpr int32_t kW = 6000, kH = 4000;
constexpr size_t kBytes = static_cast<size_t>(kW) * kH * sizeof(TColor32);

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> src(kBytes, 0x5A), dst(kBytes, 0);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}

// Range(0): 1 records an undo snapshot, 0 does not (the copy commands).
// Range(1): 1 works through a selection of the whole image, 0 without one.
void BM_ApplyAction(benchmark::State& state) {
  VemraTestStartup();
  TFakeEditorUi ui;
  TImage32 view;
  view.Bitmap()->SetSize(kW, kH);
  view.Bitmap()->ClearToColor(0xFF336699u);
  TEditor ed(view, ui);
  if (state.range(1) != 0) {
    auto* frame = view.Layers()->Add<TRubberbandLayer>();
    frame->SetLocation(MakeFloatRect(0, 0, kW, kH));
    ed.gSelection = frame;
  }
  const bool record = state.range(0) != 0;
  const TActionCallback nothing = [](TEditor&, const TActionArgument&) { return arWriteBack; };
  // Fill the undo store first: the steady state is what every later command costs.
  for (int i = 0; i < 16; ++i) ed.ApplyAction(nothing, {}, record);
  for (auto _ : state) {
    ed.ApplyAction(nothing, {}, record);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
  state.SetLabel(std::string(record ? "undo" : "no undo") + (state.range(1) ? ", whole-image selection" : ""));
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ApplyAction)
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
