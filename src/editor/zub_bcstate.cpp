#include "zub_bcstate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "img_common.h"
#include "stringutils.h"
#include "zub_dlgcalc.h"
#include "zub_params.h"

namespace {

struct TKindRanges {
  TSliderRange S1, S2, S4;
};

// Per kind: slider 1, slider 2 and slider 3 (TrackBar4). A hidden slider
// keeps the range it had, so it still clamps what it is given.
constexpr TSliderRange kHidden2{0, 40, false};
constexpr TSliderRange kHidden4{-100, 100, false};
constexpr TSliderRange kPercent{-100, 100, true};
constexpr TKindRanges kRanges[kParamKindCount] = {
    {kPercent, kPercent, kHidden4},                       // 1 Brightness/Contrast
    {kPercent, kPercent, kPercent},                       // 2 Red/Green/Blue
    {{0, 400, true}, kHidden2, kHidden4},                 // 3 Unsharp Mask (Gauss)
    {{0, 100, true}, kHidden2, kHidden4},                 // 4 Sobel
    {{0, 100, true}, kHidden2, kHidden4},                 // 5 Prewitt
    {kPercent, kPercent, kPercent},                       // 6 Hue/Saturation/Luminance
    {{0, 100, true}, {0, 40, true}, kHidden4},            // 7 Mosaic
    {{50, 500, true}, kHidden2, kHidden4},                // 8 Gamma
    {{0, 100, true}, kHidden2, kHidden4},                 // 9 Spray
    {{0, 1000, true}, kHidden2, kHidden4},                // 10 Hole
    {{0, 2500, true}, {1, 9, true}, kHidden4},            // 11 Twirl
    {{-500, 500, true}, kHidden2, kHidden4},              // 12 Mandelbrot
    {{0, 200, true}, kHidden2, kHidden4},                 // 13 Unsharp Mask (Laplace)
    {{0, 100, true}, kHidden2, kHidden4},                 // 14 Quantize
};

// A decimal number times 100, rounded half to even.
std::optional<int32_t> ReadHundredths(const std::string& Text) {
  double v = 0;
  if (!ReadDecimalText(Text, v)) return std::nullopt;
  const long double scaled = std::nearbyint(static_cast<long double>(v) * 100);
  // Far outside any slider: the track bar clamps it anyway.
  return static_cast<int32_t>(std::clamp<long double>(scaled, -1e9L, 1e9L));
}

std::optional<int32_t> ReadInteger(const std::string& Text) {
  int32_t v = 0;
  if (!TryStrToInt(Text, v)) return std::nullopt;
  return v;
}

}  // namespace

int32_t TSliderRange::Frequency() const {
  return std::max<int32_t>(1, static_cast<int32_t>(std::nearbyint((Max - Min) / 10.0)));
}

int32_t TSliderRange::LineSize() const {
  return std::max<int32_t>(1, static_cast<int32_t>(std::nearbyint(Frequency() / 100.0)));
}

TSliderRange BCSliderRange(int32_t Kind, int32_t Tag) {
  if (Tag == kZoomTag) return {10, 30, true};
  if (Kind < 1 || Kind > kParamKindCount) return {};
  const TKindRanges& r = kRanges[Kind - 1];
  return Tag == 0 ? r.S1 : Tag == 1 ? r.S2 : r.S4;
}

bool BCIntegerKind(int32_t Kind) {
  return Kind == 1 || Kind == 2 || Kind == 6 || Kind == 7 || Kind == 9 || Kind == 14;
}

std::string HundredthsText(int32_t Position) {
  // The shortest text that reads back as the same double: 0.5, 1.25, 1.
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<double>(Position) / 100);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

void TBCDlgState::Show(const TParamDialogSetup& Setup, uint32_t Now) {
  updating_ = true;
  setup_ = Setup;
  if (Setup.Work != nullptr) CopyBitmap(&saved_, Setup.Work, true);
  if (Setup.Preview != nullptr) {
    before_.Assign(Setup.Preview);
  } else {
    before_.SetSize(0, 0);
  }
  after_.SetSize(before_.Width(), before_.Height());
  for (int32_t tag = 0; tag < 4; ++tag) {
    const TSliderRange r = Range(tag);
    pos_[tag] = std::clamp(remembered_[tag][setup_.Kind & 15], r.Min, r.Max);
  }
  // The ratio first: the preview's radius is divided by it.
  ratio_ = 1;
  if (Setup.Work != nullptr && before_.Width() > 0) ratio_ = std::max(1, Setup.Work->Width() / before_.Width());
  UpdatePreview(Now);
  offsetX_ = (128 - before_.Width()) >> 1;
  offsetY_ = (128 - before_.Height()) >> 1;
  anchorX_ = anchorY_ = -999;
  updating_ = false;
}

void TBCDlgState::UpdatePreview(uint32_t Now) {
  if (!before_.Empty())
    ApplyParamEffect(setup_.Kind, &after_, &before_, Values(), setup_.Foreground, setup_.Background, ratio_);
  // A zero tick would read as "nothing pending".
  stamp_ = Now == 0 ? 1 : Now;
}

void TBCDlgState::SliderChanged(int32_t Tag, int32_t Position, uint32_t Now) {
  if (updating_ || Tag < 0 || Tag > 3) return;
  const TSliderRange r = Range(Tag);
  pos_[Tag] = std::clamp(Position, r.Min, r.Max);
  remembered_[Tag][setup_.Kind & 15] = pos_[Tag];
  UpdatePreview(Now);
}

void TBCDlgState::ChannelChanged(int32_t Channel, bool Checked, uint32_t Now) {
  if (Channel < 0 || Channel > 2) return;
  channels_[Channel] = Checked;
  if (!updating_) UpdatePreview(Now);
}

void TBCDlgState::SetSlider(int32_t Tag, int32_t Value, uint32_t Now) {
  const TSliderRange r = Range(Tag);
  const int32_t v = std::clamp(Value, r.Min, r.Max);
  if (v != pos_[Tag]) SliderChanged(Tag, v, Now);
}

void TBCDlgState::EditChanged(int32_t Edit, const std::string& Text, uint32_t Now) {
  if (updating_) return;
  std::optional<int32_t> v;
  if (Edit == 0 && !BCIntegerKind(setup_.Kind))
    v = ReadHundredths(Text);
  else
    v = ReadInteger(Text);
  // Text that is no number (a half-typed "-" or "1.") leaves the slider alone.
  if (!v) return;
  const int32_t tag = Edit == 0 ? 0 : Edit == 1 ? 1 : 3;
  SetSlider(tag, *v, Now);
}

std::string TBCDlgState::EditText(int32_t Edit) const {
  if (Edit == 0) return BCIntegerKind(setup_.Kind) ? std::to_string(pos_[0]) : HundredthsText(pos_[0]);
  return std::to_string(pos_[Edit == 1 ? 1 : 3]);
}

TParamValues TBCDlgState::Values() const {
  TParamValues v;
  v.P1 = pos_[0];
  v.P2 = pos_[1];
  v.P4 = pos_[3];
  v.Red = channels_[0];
  v.Green = channels_[1];
  v.Blue = channels_[2];
  return v;
}

void TBCDlgState::Proof() {
  if (setup_.Work != nullptr && !saved_.Empty()) {
    const auto render = [this](TBitmap32* Dst) {
      ApplyParamEffect(setup_.Kind, Dst, &saved_, Values(), setup_.Foreground, setup_.Background, 1);
    };
    if (setup_.ShowWork)
      setup_.ShowWork(render);
    else
      render(setup_.Work);
  }
  // What is shown now is proofed: only a later change is pending.
  stamp_ = 0;
  timer_ = true;
}

bool TBCDlgState::TimerTick(uint32_t Now) {
  // Unsigned difference: the tick count wraps at 2^32.
  if (!timer_ || stamp_ == 0 || static_cast<uint32_t>(Now - stamp_) <= 2900) return false;
  stamp_ = 0;
  Proof();
  return true;
}

void TBCDlgState::Unproof() {
  RestoreWork();
  if (setup_.Work != nullptr && !saved_.Empty() && setup_.ShowWork)
    setup_.ShowWork([this](TBitmap32* Dst) { CopyBitmap(Dst, &saved_, true); });
}

void TBCDlgState::RestoreWork() {
  if (setup_.Work != nullptr && !saved_.Empty()) CopyBitmap(setup_.Work, &saved_, true);
  timer_ = false;
}

void TBCDlgState::Close() {
  saved_.SetSize(0, 0);
  timer_ = false;
  stamp_ = 0;
  anchorX_ = anchorY_ = -999;
  setup_.Work = nullptr;
  setup_.ShowWork = nullptr;
  setup_.Preview = nullptr;
}

void TBCDlgState::MouseDown(int32_t X, int32_t Y) {
  anchorX_ = X;
  anchorY_ = Y;
  dragOffsetX_ = offsetX_;
  dragOffsetY_ = offsetY_;
}

void TBCDlgState::MouseMove(int32_t X, int32_t Y) {
  if (!Dragging()) return;
  offsetX_ = dragOffsetX_ + (X - anchorX_);
  offsetY_ = dragOffsetY_ + (Y - anchorY_);
}

void TBCDlgState::MouseUp() { anchorX_ = anchorY_ = -999; }

std::optional<std::string> TBCDlgState::HintAt(int32_t Which, int32_t X, int32_t Y) const {
  const TBitmap32& b = Which == 0 ? before_ : after_;
  const float scale = PreviewScale();
  const auto bx = static_cast<int32_t>(std::floor((X - offsetX_) / scale));
  const auto by = static_cast<int32_t>(std::floor((Y - offsetY_) / scale));
  if (b.Empty() || bx < 0 || by < 0 || bx >= b.Width() || by >= b.Height()) return std::nullopt;
  char text[8];
  std::snprintf(text, sizeof text, "#%06X", static_cast<unsigned>(b.GetPixel(bx, by) & 0xFFFFFF));
  return std::string(text);
}
