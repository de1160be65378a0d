// The menu items whose handlers live in the editing engine: each hook calls
// the action object, the mouse tools or the reference-point commands with the
// item's Tag where the handler takes one. Items whose handler is not listed
// here stay disabled (the window's rule for unset hooks).
#include <QAction>
#include <QMenu>

#include "zub_actions.h"
#include "zub_encrypt.h"
#include "zub_info.h"
#include "zub_main.h"
#include "zub_plugins.h"
#include "zub_plugins_menu.h"
#include "zub_print.h"
#include "zub_twain.h"
#include "raster_filterindex.h"
#include "raster_image_view.h"
#include "zub_matrix.h"
#include "zub_rotate.h"
#include "zub_tools.h"

namespace {

int32_t TagOf(QAction* Item) { return Item != nullptr ? Item->data().toInt() : 0; }

}  // namespace

void TzubForm::ConnectEngineHooks() {
  TEditorActions& A = *actions_;
  TMouseTools& T = *mouseTools_;
  using TPlain = void (TEditorActions::*)();
  const std::pair<const char*, TPlain> Plain[] = {
      {"Copy1Click", &TEditorActions::Copy1Click},
      {"Cut1Click", &TEditorActions::Cut1Click},
      {"Clear1Click", &TEditorActions::Clear1Click},
      {"CroptoSelection1Click", &TEditorActions::CroptoSelection1Click},
      {"PasteIntoSelection1Click", &TEditorActions::PasteIntoSelection1Click},
      {"PuttoBuffer1Click", &TEditorActions::PuttoBuffer1Click},
      {"GetfromBuffer1Click", &TEditorActions::GetfromBuffer1Click},
      {"ExchangewithBuffer1Click", &TEditorActions::ExchangewithBuffer1Click},
      {"MergefromBuffer1Click", &TEditorActions::MergefromBuffer1Click},
      {"DistanceToBuffer1Click", &TEditorActions::DistanceToBuffer1Click},
      {"AddBuffer1Click", &TEditorActions::AddBuffer1Click},
      {"ModulatebyBuffer1Click", &TEditorActions::ModulatebyBuffer1Click},
      {"MergefromFile1Click", &TEditorActions::MergefromFile1Click},
      {"MergefromUndo1Click", &TEditorActions::MergefromUndo1Click},
      {"Resize1Click", &TEditorActions::Resize1Click},
      {"Size1Click", &TEditorActions::Size1Click},
      {"BrightnessContrast1Click", &TEditorActions::BrightnessContrast1Click},
      {"RedGreenBlue1Click", &TEditorActions::RedGreenBlue1Click},
      {"Sobel1Click", &TEditorActions::Sobel1Click},
      {"Prewitt1Click", &TEditorActions::Prewitt1Click},
      {"HueSaturation1Click", &TEditorActions::HueSaturation1Click},
      {"Mosaic1Click", &TEditorActions::Mosaic1Click},
      {"Gamma1Click", &TEditorActions::Gamma1Click},
      {"Spray1Click", &TEditorActions::Spray1Click},
      {"Hole1Click", &TEditorActions::Hole1Click},
      {"Twirl1Click", &TEditorActions::Twirl1Click},
      {"Quantize1Click", &TEditorActions::Quantize1Click},
      {"N2Colors1bit2Click", &TEditorActions::N2Colors1bit2Click},
      {"ResetTransparency1Click", &TEditorActions::ResetTransparency1Click},
      {"TransparentBackground2Click", &TEditorActions::TransparentBackground2Click},
      {"FeatherTransparency1Click", &TEditorActions::FeatherTransparency1Click},
      {"InvertTransparency1Click", &TEditorActions::InvertTransparency1Click},
      {"CopyTransparency1Click", &TEditorActions::CopyTransparency1Click},
      {"PasteTransparency1Click", &TEditorActions::PasteTransparency1Click},
      {"Encrypt1Click", &TEditorActions::Encrypt1Click},
  };
  for (const auto& [Name, Member] : Plain) SetHook(Name, [&A, Member = Member](QAction*) { (A.*Member)(); });
  SetHook("FSClick", [&A](QAction* Item) { A.FSClick(TagOf(Item)); });

  using TToolPlain = void (TMouseTools::*)();
  const std::pair<const char*, TToolPlain> Points[] = {
      {"DefinePoint1Click", &TMouseTools::DefinePoint1Click},
      {"DefinePointatCenter1Click", &TMouseTools::DefinePointatCenter1Click},
      {"UndefineLastPoint1Click", &TMouseTools::UndefineLastPoint1Click},
      {"ClearPoints1Click", &TMouseTools::ClearPoints1Click},
      {"CorrectVignettingfromHere1Click", &TMouseTools::CorrectVignettingfromHere1Click},
      {"CorrectVignettingfromHerelargeaxis1Click", &TMouseTools::CorrectVignettingfromHerelargeaxis1Click},
      {"LighteningGradientfromP1toHere1Click", &TMouseTools::LighteningGradientfromP1toHere1Click},
      {"CorrectBarrelDistortionfromHere1Click", &TMouseTools::CorrectBarrelDistortionfromHere1Click},
      {"CorrectPincushionDistortionfromHere1Click", &TMouseTools::CorrectPincushionDistortionfromHere1Click},
      {"LevelImagefromP1toHere1Click", &TMouseTools::LevelImagefromP1toHere1Click},
      {"StraightenImageFromP1toHere1Click", &TMouseTools::StraightenImageFromP1toHere1Click},
  };
  for (const auto& [Name, Member] : Points) SetHook(Name, [&T, Member = Member](QAction*) { (T.*Member)(); });
  SetHook("PatternfromHere1Click", [&T](QAction* Item) { T.PatternfromHere1Click(TagOf(Item)); });
  SetHook("SoftFill1Click", [&T](QAction* Item) { T.FillAtClick(TagOf(Item)); });
  SetHook("ImageInfo1Click", [this](QAction*) { ::ImageInfo1Click(this); });
  SetHook("Rotate1Click", [this](QAction*) {
    int32_t Code = 0;
    if (!RunRotateDialog(this, Code)) return;
    SelectTool(1);
    editor_->DoAction(Code);
  });
  SetHook("Program1Click", [this, &A](QAction*) {
    if (!RunMatrixDialog(this, A.CustomMatrix, A.LastKernel)) return;
    SelectTool(1);
    editor_->DoAction(399);
  });
  SetHook("Plugins1Click", [this](QAction*) { pluginsMenu_->Plugins1Popup(); });
  SetHook("RedoPlugin1Click", [this](QAction*) {
    if (PluginsReachable()) plugins_->RedoPlugin1Click(*editor_);
  });
  pluginsMenu_ = new TPluginsMenu(SubMenu("Plugins1"), *plugins_, *this,
                                  [this](int32_t Tag) {
                                    if (PluginsReachable()) plugins_->plugin1Click(*editor_, Tag);
                                  });
  SetHook("Print1Click", [this](QAction*) {
    printing_->Print1Click(*view_->Bitmap(), editor_->gFileName,
                           static_cast<uint8_t>(StretchFilterIndex(view_->Bitmap()->Resampler())));
  });
  SetHook("PrintSetup1Click", [this](QAction*) { printing_->PrintSetup1Click(); });
  SetHook("Acquire1Click", [this](QAction*) { twain_->Acquire1Click(); });
  SetHook("SelectSource1Click", [this](QAction*) { twain_->SelectSource1Click(); });
  SetCustomKernel = [&A](const TMatrixKernel& K) {
    A.CustomMatrix.Kernel = K.Cells;
    A.CustomMatrix.Divisor = K.Divisor;
  };
  OnPalettePick = [&T](TMouseButton) { T.gBrushType = btColor; };
  BuildBrushMask = [&T] { T.RebuildBrushMask(); };
  if (QMenu* Points4 = SubMenu("PopupMenu4"))
    connect(Points4, &QMenu::aboutToShow, this, [&T] { T.PopupMenu4Popup(); });
}
