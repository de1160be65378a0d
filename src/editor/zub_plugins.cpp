// The plug-in host: scan, menu model, the host record and its routines.
#include "zub_plugins.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include "../../include/vemra_plugin.h"
#include "editor_ui.h"
#include "fsutils.h"
#include "img_common.h"
#include "img_conv.h"
#include "img_fsdither.h"
#include "img_lut.h"
#include "img_minmax.h"
#include "img_rotate.h"
#include "platform_library.h"
#include "strarray.h"
#include "stringutils.h"

namespace {

// Whatever a plug-in throws becomes a report; a std::exception keeps its own
// class and text, anything else is named as a plug-in failure.
template <class F>
void CallPlugin(EditorUi& Ui, const std::string& Place, const std::string& FileName, F&& Call) {
  try {
    Call();
  } catch (const std::exception& E) {
    Ui.ExceptionBox(E, Place);
  } catch (...) {
    Ui.ExceptionBox(EPluginError(FileName + " raised an exception that is not a std::exception"), Place);
  }
}

// Delphi's Trim: control characters and spaces off both ends.
std::string Trim(const std::string& S) {
  size_t b = 0, e = S.size();
  while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  return S.substr(b, e - b);
}

// ---- Host routines -------------------------------------------------------------------
// A plug-in can only name bitmaps by the pointer it was given, so the one
// bitmap a routine accepts is the work bitmap of the running call. Anything
// else (null, a stale or forged pointer) is refused before it is touched.
TBitmap32* gPluginWork = nullptr;

TBitmap32* Accept(const VemraBitmap* Bmp) {
  auto* b = reinterpret_cast<TBitmap32*>(const_cast<VemraBitmap*>(Bmp));
  return b != nullptr && b == gPluginWork ? b : nullptr;
}

// Runs Body; no exception leaves a routine that a C caller called.
template <class F>
void Guarded(F&& Body) noexcept {
  try {
    Body();
  } catch (...) {
  }
}

int32_t HostClampToByte(int32_t Value) { return ClampToByte(Value); }
VemraRect HostBitmapBounds(const VemraBitmap* Bmp) {
  VemraRect r{0, 0, 0, 0};
  if (TBitmap32* b = Accept(Bmp)) {
    const TRect t = BitmapBounds(b);
    r = {t.Left, t.Top, t.Right, t.Bottom};
  }
  return r;
}
void HostCopyBitmapProps(VemraBitmap* Dst, VemraBitmap* Src) {
  Guarded([&] {
    if (Accept(Dst) && Accept(Src)) CopyBitmapProps(Accept(Dst), Accept(Src));
  });
}
void HostCopyBitmap(VemraBitmap* Dst, VemraBitmap* Src, int32_t WithProps) {
  Guarded([&] {
    if (Accept(Dst) && Accept(Src)) CopyBitmap(Accept(Dst), Accept(Src), WithProps != 0);
  });
}
void HostStretchToFit(VemraBitmap* Dst, VemraBitmap* Src, int32_t WithProps) {
  Guarded([&] {
    if (Accept(Dst) && Accept(Src)) StretchToFit(Accept(Dst), Accept(Src), WithProps != 0);
  });
}
void HostMergeWithOpacity(VemraBitmap* Bmp, VemraBitmap* Other, int32_t Opacity) {
  Guarded([&] {
    if (Accept(Bmp) && Accept(Other)) MergeWithOpacity(Accept(Bmp), Accept(Other), Opacity);
  });
}
uint32_t HostAddSaturated(uint32_t A, uint32_t B) { return AddSaturated(A, B); }
void HostApplyLut3(VemraBitmap* Bmp, const uint8_t* LutR, const uint8_t* LutG, const uint8_t* LutB, int32_t Level) {
  Guarded([&] {
    if (Accept(Bmp) && LutR && LutG && LutB) ApplyLut3(Accept(Bmp), LutR, LutG, LutB, Level);
  });
}
void HostOffsetChannels(VemraBitmap* Bmp, int32_t R, int32_t G, int32_t B, int32_t Level) {
  Guarded([&] {
    if (Accept(Bmp)) OffsetChannels(Accept(Bmp), R, G, B, Level);
  });
}
void HostScaleChannels(VemraBitmap* Bmp, float R, float G, float B, int32_t Level) {
  Guarded([&] {
    if (Accept(Bmp)) ScaleChannels(Accept(Bmp), R, G, B, Level);
  });
}
void HostBrightnessContrast(VemraBitmap* Bmp, int32_t Brightness, int32_t Contrast, int32_t DoRed, int32_t DoGreen,
                            int32_t DoBlue, int32_t Level) {
  Guarded([&] {
    if (Accept(Bmp))
      BrightnessContrast(Accept(Bmp), Brightness, Contrast, DoRed != 0, DoGreen != 0, DoBlue != 0, Level);
  });
}
void HostIntensityMinMax(const VemraBitmap* Bmp, int32_t* Min, int32_t* Max) {
  Guarded([&] {
    if (!Accept(Bmp) || Min == nullptr || Max == nullptr) return;
    int32_t lo = 0, hi = 0;
    IntensityMinMax(Accept(Bmp), lo, hi);
    *Min = lo;
    *Max = hi;
  });
}
void HostConvolve3x3(const int32_t* Kernel, int32_t Divisor, VemraBitmap* Bmp, int32_t Bias) {
  Guarded([&] {
    if (Kernel && Accept(Bmp)) Convolve3x3(Kernel, Divisor, Accept(Bmp), Bias);
  });
}
void HostConvolve5x5(const int32_t* Kernel, int32_t Divisor, VemraBitmap* Bmp, int32_t Bias) {
  Guarded([&] {
    if (Kernel && Accept(Bmp)) Convolve5x5(Kernel, Divisor, Accept(Bmp), Bias);
  });
}
void HostFlipVertical(VemraBitmap* Bmp) {
  Guarded([&] {
    if (Accept(Bmp)) FlipVertical(Accept(Bmp));
  });
}
void HostMirrorHorizontal(VemraBitmap* Bmp) {
  Guarded([&] {
    if (Accept(Bmp)) MirrorHorizontal(Accept(Bmp));
  });
}
void HostRotateQuarterTurns(VemraBitmap* Bmp, int32_t Mode) {
  Guarded([&] {
    if (Accept(Bmp)) RotateQuarterTurns(Accept(Bmp), Mode);
  });
}

constexpr VemraHostRoutines kHostRoutines = {
    HostClampToByte,    HostBitmapBounds,     HostCopyBitmapProps, HostCopyBitmap,        HostStretchToFit,
    HostMergeWithOpacity, HostAddSaturated,   HostApplyLut3,       HostOffsetChannels,    HostScaleChannels,
    HostBrightnessContrast, HostIntensityMinMax, HostConvolve3x3,  HostConvolve5x5,       HostFlipVertical,
    HostMirrorHorizontal, HostRotateQuarterTurns};

// Keeps the accepted work bitmap set for exactly one call.
class TWorkScope {
 public:
  explicit TWorkScope(TBitmap32* Work) : saved_(gPluginWork) { gPluginWork = Work; }
  ~TWorkScope() { gPluginWork = saved_; }

 private:
  TBitmap32* saved_;
};

}  // namespace

std::string PluginFieldText(const char* Field, size_t Size) { return std::string(Field, strnlen(Field, Size)); }

void SetPluginWorkBitmap(TBitmap32* Work) { gPluginWork = Work; }

const VemraHostRoutines& PluginHostRoutines() { return kHostRoutines; }

TPluginHost::TPluginHost(std::string ProgramFolder) : fFolder(std::move(ProgramFolder)) {}

void TPluginHost::Plugins1Click(EditorUi& Ui) {
  try {
    Scan(Ui);
  } catch (const std::exception& E) {
    Ui.ExceptionBox(E, "on action Plugins1Click");
  }
}

void TPluginHost::Scan(EditorUi& Ui) {
  gPluginList.assign(32, std::string());
  gPluginCount = 0;
  for (TPluginSubmenu& s : Submenus) s.Visible = false;
  const size_t existing = Submenus.size();
  size_t next = 0;

  const std::string folder = PluginFolder();
  EnsureDir(folder);
  // Name order, so the menu does not depend on the order the directory
  // happens to list its entries in.
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0 && !entry.is_directory(ec))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  // One record for the whole scan, cleared once: a plug-in that leaves a
  // field alone repeats what the function before it left there.
  VemraPluginInfo info;
  std::memset(&info, 0, sizeof info);
  for (const std::string& name : names) ScanLibrary(Ui, name, info, next, existing);
}

void TPluginHost::ScanLibrary(EditorUi& Ui, const std::string& FileName, VemraPluginInfo& Info, size_t& Submenu,
                              size_t ExistingSubmenus) {
  auto lib = TLibrary::Load(PluginFolder() + "/" + FileName);
  if (!lib) return;
  const std::string place = "on action Plugins1Click";
  int32_t count = 0;
  if (auto query = lib->Proc<VemraPluginQueryProc>("VemraPluginQuery"))
    CallPlugin(Ui, place, FileName, [&] { count = query(VEMRA_PLUGIN_HOST_VERSION); });
  auto identify = lib->Proc<VemraPluginIdentifyProc>("VemraPluginIdentify");
  if (count <= 0 || identify == nullptr) return;

  if (Submenu >= ExistingSubmenus) Submenus.emplace_back();
  TPluginSubmenu& menu = Submenus[Submenu];
  menu.Caption = FileName;
  for (TPluginMenuItem& item : menu.Items) item.Visible = false;
  size_t k = 0;
  for (int32_t i = 0; i < count; ++i) {
    CallPlugin(Ui, place, FileName, [&] { identify(i, &Info); });
    const std::string name = PluginFieldText(Info.name, sizeof Info.name);
    if (name.empty()) continue;
    if (k >= menu.Items.size()) menu.Items.emplace_back();
    if (gPluginCount >= static_cast<int32_t>(gPluginList.size())) gPluginList.resize(gPluginList.size() + 32);
    gPluginList[gPluginCount] = FileName + ":" + std::to_string(i);
    TPluginMenuItem& item = menu.Items[k];
    item.Caption = Trim(name) + " by " + Trim(PluginFieldText(Info.author, sizeof Info.author));
    item.Hint = Trim(PluginFieldText(Info.hint, sizeof Info.hint));
    item.Tag = gPluginCount;
    item.Visible = true;
    ++k;
    ++gPluginCount;
  }
  menu.Visible = true;
  ++Submenu;
}

void TPluginHost::plugin1Click(TEditor& Editor, int32_t Tag) {
  gLastPluginItem = Tag;
  try {
    Editor.ApplyAction([this](TEditor& E, const TActionArgument& A) {
      return ExecutePlugin(E, std::get<TPluginIndex>(A).Index);
    }, TPluginIndex{gLastPluginItem}, true);
  } catch (const std::exception& E) {
    Editor.Ui().ExceptionBox(E, "on action ExecutePlugin");
  }
  Editor.Ui().SetMenuEnabled("RedoPlugin1", true);
}

void TPluginHost::RedoPlugin1Click(TEditor& Editor) {
  if (gLastPluginItem >= 0) plugin1Click(Editor, gLastPluginItem);
}

int32_t TPluginHost::ExecutePlugin(TEditor& Editor, int32_t Tag) {
  // A tag of another scan, or of no scan, runs nothing.
  if (Tag < 0 || Tag >= gPluginCount || !Editor.gWork) return 0;
  const std::vector<std::string> parts = SplitStringArray(gPluginList[Tag], ":", '\0', 0);
  int32_t index = -1;
  if (parts.size() != 2 || !TryStrToInt(parts[1], index)) index = -1;
  if (index < 0) return 0;
  auto lib = TLibrary::Load(PluginFolder() + "/" + parts[0]);
  if (!lib) return 0;
  auto execute = lib->Proc<VemraPluginExecuteProc>("VemraPluginExecute");
  if (execute == nullptr) return 0;

  TBitmap32* work = Editor.gWork.get();
  VemraPluginHost host;
  std::memset(&host, 0, sizeof host);
  host.result = 0;
  host.form = MainWindow;
  // The record has 16 bits for each side; wider bitmaps show modulo 65536.
  host.width = static_cast<uint16_t>(work->Width());
  host.height = static_cast<uint16_t>(work->Height());
  host.pixels = work->Bits();
  host.routines = kHostRoutines;

  int32_t result = 0;
  const std::string place = "on action ExecutePlugin";
  {
    TWorkScope scope(work);
    CallPlugin(Editor.Ui(), place, parts[0],
               [&] { execute(index, &host, reinterpret_cast<VemraBitmap*>(work)); });
  }
  if (host.form != nullptr && host.form != MainWindow) {
    auto* dialog = static_cast<VemraPluginDialog*>(host.form);
    int32_t modal = 0;
    CallPlugin(Editor.Ui(), place, parts[0], [&] { modal = dialog->ShowModal(dialog); });
    if (modal == VEMRA_MODAL_CANCEL) result = arCancel;
    CallPlugin(Editor.Ui(), place, parts[0], [&] { dialog->Release(dialog); });
  } else if (host.result != 0) {
    result = arCancel;
  }
  return result;
}
