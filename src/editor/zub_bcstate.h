#pragma once
// What the effect dialog (TBCDlg) knows, without its window: the values each
// kind was last left with, the sliders' ranges, the text of the edit boxes,
// the two 128-pixel previews and the Proof of the effect on the whole work
// bitmap. The dialog's widgets only forward their events here and show what
// comes back, so a test drives the real dialog logic with no window.
//
// The preview and Proof both run ApplyParamEffect, the routine the command
// applies on OK, so neither can show anything the command would not do.
#include <cstdint>
#include <optional>
#include <string>

#include "editor_ui.h"
#include "raster_core.h"

// Slider tags: TrackBar1 0, TrackBar2 1, the zoom TrackBar3 2, TrackBar4 3.
constexpr int32_t kZoomTag = 2;

struct TSliderRange {
  int32_t Min = 0, Max = 0;
  bool Visible = false;
  // The track bar's tick spacing and page size, and its arrow-key step.
  int32_t Frequency() const;
  int32_t LineSize() const;
};

// The range of slider Tag for Kind, and whether it is shown.
TSliderRange BCSliderRange(int32_t Kind, int32_t Tag);

// Kinds whose first edit shows the slider as an integer; the others show it
// in hundredths as a decimal number.
bool BCIntegerKind(int32_t Kind);

// A slider position in hundredths as text: 50 -> "0.5", 125 -> "1.25", 100 -> "1".
std::string HundredthsText(int32_t Position);

class TBCDlgState {
 public:
  // FormShow: saves a copy of Setup.Work, sets the ranges and the sliders
  // from the values remembered for the kind, renders the preview, centres
  // the previews and works out the preview ratio. Now is the tick count.
  void Show(const TParamDialogSetup& Setup, uint32_t Now);

  // A slider moved to Position (clamped to its range): remembered under
  // (Tag, kind) and the preview renders again. Muted while Updating.
  void SliderChanged(int32_t Tag, int32_t Position, uint32_t Now);
  // A channel box: only the preview follows.
  void ChannelChanged(int32_t Channel, bool Checked, uint32_t Now);
  // Edit 0 (Edit1), 1 (Edit2) or 2 (Edit3) was typed into; the slider
  // follows when the text reads as a value that differs from its position.
  void EditChanged(int32_t Edit, const std::string& Text, uint32_t Now);
  // What Edit shows for the current positions.
  std::string EditText(int32_t Edit) const;

  // Proof runs the effect at full size from the saved copy into the work
  // bitmap and shows it; the timer then proofs again once a preview change
  // is more than 2.9 s old. Unproof puts the saved copy back.
  void Proof();
  // Timer1's tick; true when it proofed.
  bool TimerTick(uint32_t Now);
  void Unproof();
  // OK and Cancel: the work bitmap is put back as it was when shown, so the
  // command's own apply starts from it and a cancel leaves nothing behind.
  void RestoreWork();
  // The dialog closed: the saved copy is freed.
  void Close();

  // Dragging a preview pans both previews together.
  void MouseDown(int32_t X, int32_t Y);
  void MouseMove(int32_t X, int32_t Y);
  void MouseUp();
  bool Dragging() const { return anchorX_ != -999 || anchorY_ != -999; }
  // "#RRGGBB" of the preview pixel under control point (X, Y) of preview
  // Which (0 before, 1 after); none outside the picture.
  std::optional<std::string> HintAt(int32_t Which, int32_t X, int32_t Y) const;

  TParamValues Values() const;
  int32_t Position(int32_t Tag) const { return pos_[Tag]; }
  TSliderRange Range(int32_t Tag) const { return BCSliderRange(setup_.Kind, Tag); }
  int32_t Kind() const { return setup_.Kind; }
  const TParamDialogSetup& Setup() const { return setup_; }
  bool Channel(int32_t C) const { return channels_[C]; }
  float PreviewScale() const { return static_cast<float>(pos_[kZoomTag]) / 10.0f; }
  int32_t OffsetX() const { return offsetX_; }
  int32_t OffsetY() const { return offsetY_; }
  int32_t Ratio() const { return ratio_; }
  uint32_t PendingStamp() const { return stamp_; }
  bool TimerEnabled() const { return timer_; }
  bool Updating() const { return updating_; }

  const TBitmap32& Before() const { return before_; }  // Image321's bitmap
  const TBitmap32& After() const { return after_; }    // Image322's bitmap
  const TBitmap32& Saved() const { return saved_; }

  // The values of (Tag, Kind) kept for the run; all 0 at start.
  int32_t Remembered(int32_t Tag, int32_t Kind) const { return remembered_[Tag][Kind]; }

 private:
  void UpdatePreview(uint32_t Now);
  void SetSlider(int32_t Tag, int32_t Value, uint32_t Now);

  int32_t remembered_[4][16] = {};
  TParamDialogSetup setup_;
  int32_t pos_[4] = {0, 0, 10, 0};
  bool channels_[3] = {true, true, true};
  TBitmap32 saved_, before_, after_;
  int32_t ratio_ = 1;
  int32_t offsetX_ = 0, offsetY_ = 0;
  int32_t anchorX_ = -999, anchorY_ = -999, dragOffsetX_ = 0, dragOffsetY_ = 0;
  uint32_t stamp_ = 0;  // tick of the last preview change; 0 = nothing pending
  bool timer_ = false;
  bool updating_ = false;
};
