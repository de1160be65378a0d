// The effect dialog on a 6000 x 4000 (24 MP) work bitmap, run through the
// real command (TEditorActions opens the dialog through the scripted window,
// whose hook hands the setup to TBCDlgState):
// - SliderRoundTrip: one slider change to the repainted preview: the value
//   stored, the edits' text, the effect on the 128-pixel preview and the
//   preview drawn at the dialog's zoom into a 128 x 128 screen buffer, as the
//   window paints it (goal: under 16 ms).
// - Proof: the effect from the saved copy into the work bitmap at full size
//   and the work bitmap shown in the document (goal: within 1.2x of the bare
//   effect call).
// - BareEffect: the same ApplyParamEffect call from the saved copy into the
//   work bitmap, nothing else; BareEffectInPlace: the call as the command
//   makes it on OK, source and destination the work bitmap.
// Kinds: 1 brightness/contrast, 6 hue/saturation/luminance, 3 unsharp mask.
#include <benchmark/benchmark.h>

#include <memory>

#include "../tests/editor/fake_editor_ui.h"
#include "bench_util.h"
#include "img_common.h"
#include "raster_filterindex.h"
#include "test_startup.h"
#include "zub_actions.h"
#include "zub_bcstate.h"
#include "zub_params.h"

namespace {

constexpr int32_t kW = 6000, kH = 4000;

// A value that changes the picture, per kind, alternated each iteration.
int32_t SliderValue(int32_t Kind, bool Odd) {
  switch (Kind) {
    case 1: return Odd ? 30 : 25;
    case 6: return Odd ? 40 : 35;
    default: return Odd ? 150 : 140;
  }
}

// Opens Kind's dialog through the command on a 24 MP document and runs Body
// with the dialog's state while it is open; the dialog is then cancelled.
template <class F>
void WithOpenDialog(int32_t Kind, F Body) {
  VemraTestStartup();
  TFakeEditorUi ui;
  TImage32 view;
  std::unique_ptr<TBitmap32> card = MakeNoisyTestCard(kW, kH);
  view.Bitmap()->Assign(card.get());
  TEditor ed(view, ui, 16384);
  TEditorActions act(ed);
  ed.gFileName = "card.png";
  TBCDlgState state;
  ui.ParamDialogHook = [&](const TParamDialogSetup& Setup, TParamValues&) {
    state.Show(Setup, 1);
    Body(state);
    state.RestoreWork();
    state.Close();
    return false;
  };
  switch (Kind) {
    case 1: act.BrightnessContrast1Click(); break;
    case 6: act.HueSaturation1Click(); break;
    default: ed.DoAction(190); break;
  }
}

void BM_SliderRoundTrip(benchmark::State& st) {
  const auto kind = static_cast<int32_t>(st.range(0));
  WithOpenDialog(kind, [&](TBCDlgState& s) {
    s.SliderChanged(kZoomTag, 20, 1);  // zoom 2.0: the preview is drawn scaled
    TBitmap32 screen;
    screen.SetSize(128, 128);
    bool odd = false;
    uint32_t now = 2;
    std::string text;
    for (auto _ : st) {
      s.SliderChanged(0, SliderValue(kind, odd = !odd), ++now);
      text = s.EditText(0);
      const TBitmap32& after = s.After();
      const auto w = static_cast<int32_t>(after.Width() * s.PreviewScale());
      const auto h = static_cast<int32_t>(after.Height() * s.PreviewScale());
      const TRect dst{s.OffsetX(), s.OffsetY(), s.OffsetX() + w, s.OffsetY() + h};
      StretchTransferByIndex(&screen, dst, screen.BoundsRect(), const_cast<TBitmap32*>(&after),
                             after.BoundsRect(), 0, dmOpaque);
      benchmark::DoNotOptimize(screen.Bits());
      benchmark::ClobberMemory();
    }
  });
}

void BM_Proof(benchmark::State& st) {
  const auto kind = static_cast<int32_t>(st.range(0));
  WithOpenDialog(kind, [&](TBCDlgState& s) {
    s.SliderChanged(0, SliderValue(kind, true), 2);
    for (auto _ : st) {
      s.Proof();
      benchmark::ClobberMemory();
    }
  });
}

void BM_BareEffect(benchmark::State& st) {
  const auto kind = static_cast<int32_t>(st.range(0));
  const bool inPlace = st.range(1) != 0;
  VemraTestStartup();
  std::unique_ptr<TBitmap32> saved = MakeNoisyTestCard(kW, kH);
  TBitmap32 work;
  CopyBitmap(&work, saved.get(), true);
  TParamValues v;
  v.P1 = SliderValue(kind, true);
  for (auto _ : st) {
    if (inPlace) {
      st.PauseTiming();
      CopyBitmap(&work, saved.get(), true);
      st.ResumeTiming();
      ApplyParamEffect(kind, &work, &work, v, 0xFF000000u, 0xFFFFFFFFu);
    } else {
      ApplyParamEffect(kind, &work, saved.get(), v, 0xFF000000u, 0xFFFFFFFFu);
    }
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(BM_SliderRoundTrip)->Arg(1)->Arg(6)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Proof)->Arg(1)->Arg(6)->Arg(3)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BareEffect)
    ->Args({1, 0})->Args({6, 0})->Args({3, 0})
    ->Args({1, 1})->Args({6, 1})->Args({3, 1})
    ->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
