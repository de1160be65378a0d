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
#include "platform_messagebox.h"
#include "strarray.h"
#include "stringutils.h"
#include "zub_plugin_process.h"

namespace {

const char* const kScanPlace = "on action Plugins1Click";
const char* const kRunPlace = "on action ExecutePlugin";

// The one report of a helper that went away before it was done.
void ReportEnded(EditorUi& Ui, const TPluginProcess& P, const std::string& What, const std::string& Place) {
  const char* const outcome = Place == kScanPlace ? "; it is left out of the menu" : "; the picture is unchanged";
  Ui.ExceptionBox(EPluginError("the plug-in " + What + " " + P.Why() + outcome), Place);
}

// The trim of plug-in texts: control characters and spaces off both ends.
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

std::string gHelperFolder;

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

}  // namespace

void SetPluginHelperFolder(const std::string& Folder) { gHelperFolder = Folder; }

std::string PluginFieldText(const char* Field, size_t Size) { return std::string(Field, strnlen(Field, Size)); }

void SetPluginWorkBitmap(TBitmap32* Work) { gPluginWork = Work; }

const VemraHostRoutines& PluginHostRoutines() { return kHostRoutines; }

TPluginHost::TPluginHost(std::string ProgramFolder) : fFolder(std::move(ProgramFolder)) {}

std::string TPluginHost::HelperFile() const {
  return (gHelperFolder.empty() ? fFolder : gHelperFolder) + "/vemra-plugin-host";
}

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

bool TPluginHost::KeepWaiting(EditorUi& Ui, const std::string& FileName) {
  return Ui.MessageBox("The plug-in " + FileName + " is not responding.\nStop it?", MB_YESNO | MB_ICONQUESTION) !=
         IDYES;
}

void TPluginHost::ScanLibrary(EditorUi& Ui, const std::string& FileName, VemraPluginInfo& Info, size_t& Submenu,
                              size_t ExistingSubmenus) {
  const std::string path = PluginFolder() + "/" + FileName;
  std::error_code ec;
  const auto stamp = std::filesystem::last_write_time(path, ec).time_since_epoch().count();
  const auto key = std::make_tuple(FileName, std::filesystem::file_size(path, ec), static_cast<int64_t>(stamp));
  if (fBroken.count(key) != 0) return;

  TPluginProcess helper;
  std::string error;
  if (!helper.Start(HelperFile(), error)) throw EPluginError(error);
  TPluginRequest request;
  request.Op = TPluginRequest::Scan;
  request.MaxFunctions = kMaxPluginFunctions;
  request.Info = Info;
  if (path.size() >= sizeof request.Library) return;
  std::memcpy(request.Library, path.c_str(), path.size() + 1);
  // The items are taken only once the helper is done: a library that dies
  // half-way through its functions is left out whole.
  struct TFound {
    int32_t Index;
    VemraPluginInfo Info;
  };
  std::vector<TFound> found;
  int32_t count = -1;
  TPluginAnswer a;
  // A helper that died before it took the order shows as one that ended.
  helper.Send(request);
  for (bool done = false; !done;) {
    const auto got = helper.Receive(a, WaitMs, [&] { return KeepWaiting(Ui, FileName); });
    if (got != TPluginProcess::Answer) {
      if (got == TPluginProcess::Ended) ReportEnded(Ui, helper, FileName, kScanPlace);
      fBroken.insert(key);
      return;
    }
    // What Query or Identify threw is passed over without a word: the
    // library is skipped, or keeps what the record held (a plug-in that
    // throws for each of its functions would otherwise bury the user in boxes).
    switch (a.Kind) {
      case TPluginAnswer::Count: count = std::min(a.Value, kMaxPluginFunctions); break;
      case TPluginAnswer::Identified:
        // Never more than the functions announced, whatever the helper sends.
        if (a.Value >= 0 && a.Value < count && found.size() < static_cast<size_t>(count))
          found.push_back({a.Value, a.Info});
        break;
      case TPluginAnswer::Done: done = true; break;
      default: break;
    }
  }
  if (count <= 0) return;
  if (!found.empty()) Info = found.back().Info;

  if (Submenu >= ExistingSubmenus) Submenus.emplace_back();
  TPluginSubmenu& menu = Submenus[Submenu];
  menu.Caption = FileName;
  for (TPluginMenuItem& item : menu.Items) item.Visible = false;
  size_t k = 0;
  for (const TFound& f : found) {
    const std::string name = PluginFieldText(f.Info.name, sizeof f.Info.name);
    if (name.empty()) continue;
    if (k >= menu.Items.size()) menu.Items.emplace_back();
    if (gPluginCount >= static_cast<int32_t>(gPluginList.size())) gPluginList.resize(gPluginList.size() + 32);
    gPluginList[gPluginCount] = FileName + ":" + std::to_string(f.Index);
    TPluginMenuItem& item = menu.Items[k];
    item.Caption = Trim(name) + " by " + Trim(PluginFieldText(f.Info.author, sizeof f.Info.author));
    item.Hint = Trim(PluginFieldText(f.Info.hint, sizeof f.Info.hint));
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
  if (Tag < 0 || Tag >= gPluginCount || !Editor.gWork) return arNothing;
  const std::vector<std::string> parts = SplitStringArray(gPluginList[Tag], ":", '\0', 0);
  int32_t index = -1;
  if (parts.size() != 2 || !TryStrToInt(parts[1], index)) index = -1;
  if (index < 0) return arNothing;
  const std::string path = PluginFolder() + "/" + parts[0];
  TBitmap32* work = Editor.gWork.get();
  EditorUi& ui = Editor.Ui();
  TPluginRequest request;
  if (path.size() >= sizeof request.Library) return arNothing;
  std::memcpy(request.Library, path.c_str(), path.size() + 1);
  request.Op = TPluginRequest::Execute;
  request.Index = index;
  request.Width = work->Width();
  request.Height = work->Height();
  request.MainWindow = reinterpret_cast<uintptr_t>(MainWindow);

  TSharedPixels shared(work->PixelCount());
  TPluginProcess helper;
  std::string error;
  if (!shared.Valid()) error = "no shared memory for the plug-in's work bitmap";
  if (!error.empty() || !helper.Start(HelperFile(), error)) {
    ui.ExceptionBox(EPluginError(error), kRunPlace);
    return arCancel;
  }
  if (shared.Data() != nullptr) std::memcpy(shared.Data(), work->Bits(), work->PixelCount() * sizeof(TColor32));

  uint32_t wait = WaitMs;
  TPluginAnswer a;
  helper.Send(request, shared.Fd());
  for (;;) {
    const auto got = helper.Receive(a, wait, [&] { return KeepWaiting(ui, parts[0]); });
    // A run that did not finish leaves the picture as it was: the engine puts
    // its snapshot back. The user who stopped it already knows.
    if (got == TPluginProcess::Ended) ReportEnded(ui, helper, parts[0], kRunPlace);
    if (got != TPluginProcess::Answer) return arCancel;
    // What Execute or its dialog threw is swallowed: the pixels go back as
    // the plug-in left them, unless it asked to cancel.
    if (a.Kind == TPluginAnswer::DialogShown) wait = DialogWaitMs;
    if (a.Kind == TPluginAnswer::Done) break;
  }
  // Nothing of the helper may touch the pixels once we read them.
  helper.Stop();
  if (a.Value < 0) return arNothing;  // the library or its Execute was missing: nothing ran
  if (a.Width != work->Width() || a.Height != work->Height()) {
    const int64_t pixels = static_cast<int64_t>(work->PixelCount());
    if (a.Width < 0 || a.Height < 0 || static_cast<int64_t>(a.Width) * a.Height != pixels) return arCancel;
    work->SetSize(a.Width, a.Height);
  }
  if (shared.Data() != nullptr) std::memcpy(work->Bits(), shared.Data(), work->PixelCount() * sizeof(TColor32));
  return a.Value == arCancel ? arCancel : 0;
}
