#pragma once
// The bodies of the editor's image commands. Each callback works on the work
// bitmap the command engine filled (gWork), mostly by calling one effect with
// fixed numbers or with the alpha gauge as the level, and answers the engine's
// write-back flags. TEditorActions registers the callbacks of DoAction's tag
// table under their names and offers the menu commands that run a callback
// directly (clipboard, buffer, transparency, resize, parameter dialogs).
//
// State that outlives one command lives here: the custom matrix of the
// matrix dialog with the kernel last executed, the last key phrase, and the
// values each parameter dialog kind was last left with.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zub_main_engine.h"
#include "zub_params.h"

// The matrix dialog's kernel: 5 x 5 cells, (column c, row r) at c + r * 5,
// the divisor and bias, and the levels step run after it (Low and High
// thresholds with their replacement values). Thresholds 0 and 255 switch the
// step off.
struct TCustomMatrix {
  std::array<int32_t, 25> Kernel{};
  int32_t Divisor = 1;
  int32_t Bias = 0;
  int32_t Low = 0, High = 255;
  int32_t LowValue = 0, HighValue = 255;
};

// The kernel a convolution command last applied, offered by "Get Last".
struct TLastKernel {
  std::array<int32_t, 25> Kernel{};
  int32_t Divisor = 1;
  int32_t Bias = 0;
};

// Feather Transparency on Bmp: every alpha scaled down with the distance from
// the centre, to 0 from 255 steps out (the half sides counting 128 steps).
void FeatherAlpha(TBitmap32* Bmp);

class TEditorActions {
 public:
  // Registers every callback of the tag table with Editor. The editor must
  // outlive this object; destroying it takes the registrations back.
  explicit TEditorActions(TEditor& Editor);
  ~TEditorActions();
  TEditorActions(const TEditorActions&) = delete;
  TEditorActions& operator=(const TEditorActions&) = delete;

  // The selection routines a few commands end with; the constructor points
  // them at the selection and layer commands, and tests may replace them.
  std::function<void()> FreeSelection;   // Crop to Selection
  std::function<void()> UnstretchLayer;  // Resize, Size: the layer's frame fits its bitmap again
  std::function<void()> DeselectLayer;   // Resize, Size: SelectLayer with none

  TCustomMatrix CustomMatrix;
  TLastKernel LastKernel;
  std::string gKeyPhrase;  // the last encryption phrase; not kept between runs

  // Convolves gWork with a 3 x 3 (9 entries) or 5 x 5 (25 entries) kernel and
  // records it as the last executed; other lengths do nothing.
  void ConvolveKernel(int32_t Divisor, const int32_t* Kernel, size_t Count, int32_t Bias);

  // ---- Menu commands that call the engine directly -----------------------------------
  // Each reports an escaping exception "on action " + the callback's name.
  // Brightness/Contrast, Hue/Saturation/Luminance, Sobel and Prewitt first
  // select tool 1; Get from Buffer does nothing with an empty buffer and
  // deselects the layer after it ran.
  void Copy1Click();
  void Cut1Click();
  void Clear1Click();
  void CroptoSelection1Click();
  void PasteIntoSelection1Click();
  void PuttoBuffer1Click();
  void GetfromBuffer1Click();
  void ExchangewithBuffer1Click();
  void MergefromBuffer1Click();
  void DistanceToBuffer1Click();
  void AddBuffer1Click();
  void ModulatebyBuffer1Click();
  void MergefromFile1Click();
  void MergefromUndo1Click();
  void Resize1Click();
  void Size1Click();
  void BrightnessContrast1Click() { RunParamDialogCommand(1); }
  void RedGreenBlue1Click() { RunParamDialogCommand(2); }
  void Sobel1Click() { RunParamDialogCommand(4); }
  void Prewitt1Click() { RunParamDialogCommand(5); }
  void HueSaturation1Click() { RunParamDialogCommand(6); }
  void Mosaic1Click() { RunParamDialogCommand(7); }
  void Gamma1Click() { RunParamDialogCommand(8); }
  void Spray1Click() { RunParamDialogCommand(9); }
  void Hole1Click() { RunParamDialogCommand(10); }
  void Twirl1Click() { RunParamDialogCommand(11); }
  void Quantize1Click() { RunParamDialogCommand(14); }
  // Tag 7, 6, 5 or 4 of the Floyd-Steinberg items.
  void FSClick(int32_t Tag);
  void N2Colors1bit2Click();
  void ResetTransparency1Click();
  void TransparentBackground2Click();
  void FeatherTransparency1Click();
  void InvertTransparency1Click();
  void CopyTransparency1Click();
  void PasteTransparency1Click();
  // File > Encrypt: asks for the key phrase and encrypts the whole target.
  void Encrypt1Click();

 private:
  using TMember = int32_t (TEditorActions::*)(const TActionArgument&);
  struct TNamedMember {
    const char* Name;
    TMember Member;
  };
  // The tag table's callback names with the member serving each.
  static const std::vector<TNamedMember>& TagCallbacks();

  int32_t Level() const;
  TColor32 Swatch(TSwatch S) const;
  void Hint(const char* Text) const;
  // A modal box, except during a retouch stroke, which shows none.
  void Message(const std::string& Text, uint32_t Flags) const;
  void RunDirect(const char* Name, TMember Callback, const TActionArgument& Argument, bool RecordUndo);
  // A buffer command; with an empty buffer it is no command at all (no undo step).
  void RunOnBuffer(const char* Name, TMember Callback);
  void RunParamDialogCommand(int32_t Kind);
  int32_t ParamDialog(int32_t Kind);
  void ShowWorkInDocument(const std::function<void(TBitmap32*)>& Render);

  // Tag table callbacks.
  int32_t KernelAction(const TActionArgument& A);
  int32_t RankAction(const TActionArgument& A);
  int32_t GreyScaleAction(const TActionArgument& A);
  int32_t ChannelAction(const TActionArgument& A);
  int32_t HslAction(const TActionArgument& A);
  int32_t YuvAction(const TActionArgument& A);
  int32_t NegativeAction(const TActionArgument& A);
  int32_t TintAction(const TActionArgument& A);
  int32_t BrightnessAction(const TActionArgument& A);
  int32_t ProportionalBrightnessAction(const TActionArgument& A);
  int32_t GammaStepAction(const TActionArgument& A);
  int32_t SineContrastAction(const TActionArgument& A);
  int32_t SortAction(const TActionArgument& A);
  int32_t NoiseReductionAction(const TActionArgument& A);
  int32_t RotateColorsAction(const TActionArgument& A);
  int32_t StretchAction(const TActionArgument& A);
  int32_t CompressAction(const TActionArgument& A);
  int32_t WhiteBalanceAction(const TActionArgument& A);
  int32_t FlipAction(const TActionArgument& A);
  int32_t MirrorAction(const TActionArgument& A);
  int32_t RoundAction(const TActionArgument& A);
  int32_t QuarterTurnAction(const TActionArgument& A);
  int32_t AngleRotateAction(const TActionArgument& A);
  int32_t ShearAction(const TActionArgument& A);
  int32_t ChromaticAberrationAction(const TActionArgument& A);
  int32_t ColorShiftAction(const TActionArgument& A);
  int32_t DecreaseColorsAction(const TActionArgument& A);
  int32_t MandelbrotAction(const TActionArgument& A);
  int32_t UnsharpMaskAction(const TActionArgument& A);

  // Direct command callbacks.
  int32_t CopyAction(const TActionArgument& A);
  int32_t CutBitmap(const TActionArgument& A);
  int32_t ClearBitmap(const TActionArgument& A);
  int32_t CropToSelection(const TActionArgument& A);
  int32_t PasteIntoSelection(const TActionArgument& A);
  int32_t PutToBuffer(const TActionArgument& A);
  int32_t GetFromBuffer(const TActionArgument& A);
  int32_t ExchangeWithBuffer(const TActionArgument& A);
  int32_t MergeFromBuffer(const TActionArgument& A);
  int32_t DistanceToBuffer(const TActionArgument& A);
  int32_t AddBuffer(const TActionArgument& A);
  int32_t ModulateByBuffer(const TActionArgument& A);
  int32_t MergeFromFile(const TActionArgument& A);
  int32_t MergeFromUndo(const TActionArgument& A);
  int32_t ResizeBitmap(const TActionArgument& A);
  int32_t SizeBitmap(const TActionArgument& A);
  int32_t FloydSteinberg(const TActionArgument& A);
  int32_t FloydSteinbergBW(const TActionArgument& A);
  int32_t ResetAlpha(const TActionArgument& A);
  int32_t SetBackgroundAlphaZero(const TActionArgument& A);
  int32_t FeatherTransparency(const TActionArgument& A);
  int32_t InvertTransparency(const TActionArgument& A);
  int32_t CopyTransparency(const TActionArgument& A);
  int32_t PasteTransparency(const TActionArgument& A);

  // The target's new size from the resize dialog, or false when cancelled.
  bool AskSize(const char* Caption, int32_t Mode, bool KeepAspect, TResizeValues& Values);
  // Resize and Size end alike: the layer's frame fits its bitmap, no layer stays selected.
  void AfterTargetResized();

  TEditor& fEditor;
  std::array<TParamValues, kParamKindCount + 1> fParamValues{};
  TResizeValues fResizeValues;
};
