// Settings read at start and written at exit, and the recent-files subkey.
#include "zub_settings.h"

#include <algorithm>
#include <utility>

#include "mru.h"
#include "regutils.h"

namespace {

int32_t Clamp(int32_t V, int32_t Lo, int32_t Hi) { return std::max(Lo, std::min(V, Hi)); }

int32_t ReadInt(TRegistry* Reg, const char* Name, int32_t Default) { return ReadSettingInt(Reg, Name, Default); }

void ReadStr(TRegistry* Reg, const char* Name, std::string& Value) {
  const std::string Default = Value;
  ReadSettingStr(Reg, Name, Default, Value, true);
}

}  // namespace

void ReadAppSettings(TRegistry* Reg, TAppSettings& S, int32_t ScreenWidth, int32_t ScreenHeight) {
  S.SaveMru = ReadInt(Reg, "savemru", 1);
  ReadStr(Reg, "version", S.Version);
  ReadStr(Reg, "exe", S.Exe);
  ReadStr(Reg, "usertext", S.UserText);
  ReadStr(Reg, "font.name", S.FontName);
  S.FontSize = ReadInt(Reg, "font.size", 12);
  S.FontStyle = ReadInt(Reg, "font.style", 12);
  S.Width = Clamp(ReadInt(Reg, "width", S.Width), 0, ScreenWidth);
  S.Height = Clamp(ReadInt(Reg, "height", S.Height), 0, ScreenHeight);
  // min before max: a window as wide as the screen goes to 0, not to -1.
  S.Left = std::max(0, std::min(ReadInt(Reg, "left", S.Left), ScreenWidth - S.Width - 1));
  S.Top = std::max(0, std::min(ReadInt(Reg, "top", S.Top), ScreenHeight - S.Height - 1));
  S.JpegQuality = Clamp(ReadInt(Reg, "jpegquality", S.JpegQuality), 0, 100);
  S.J2kQuality = Clamp(ReadInt(Reg, "j2kperc", S.J2kQuality), 0, 100);
  S.J2kFormat = Clamp(ReadInt(Reg, "j2kform", S.J2kFormat), 0, 100);
  S.GifDither = ReadInt(Reg, "gifdither", S.GifDither ? 1 : 0) != 0;
  S.StretchFilter = Clamp(ReadInt(Reg, "stretchfilter", 0), 0, 7);
  S.Background = ReadInt(Reg, "background", S.Background);
  S.Color = ReadInt(Reg, "color", S.Color);
  S.G1 = Clamp(ReadInt(Reg, "g1", S.G1), 0, 255);
  S.G2 = Clamp(ReadInt(Reg, "g2", S.G2), 1, 64);
  S.G3 = Clamp(ReadInt(Reg, "g3", S.G3), 1, 255);
  S.Effect = Clamp(ReadInt(Reg, "effect", S.Effect), 0, 14);
  S.EditToolbar = ReadInt(Reg, "edittb", 1) != 0;
  S.StdToolbar = false;
  S.CreateBackup = ReadInt(Reg, "backup", 0) != 0;
  S.ShowPath = ReadInt(Reg, "showpath", 0) != 0;
  S.DrawGrid = ReadInt(Reg, "drawgrid", 0);
}

void WriteAppSettings(TRegistry* Reg, const TAppSettings& S, const std::string& RunningVersion,
                      const std::string& RunningExe) {
  // The exit order: "savemru", the strings, then the numbers.
  WriteSettingInt(Reg, "savemru", S.SaveMru != 0 ? 1 : 0);
  const std::pair<const char*, const std::string*> Strings[] = {
      {"version", &RunningVersion}, {"exe", &RunningExe}, {"usertext", &S.UserText}, {"font.name", &S.FontName}};
  for (const auto& [Name, Value] : Strings) WriteSettingStr(Reg, Name, *Value);
  const std::pair<const char*, int32_t> Numbers[] = {
      {"font.size", S.FontSize},         {"font.style", S.FontStyle},       {"left", S.Left},
      {"top", S.Top},                    {"width", S.Width},                {"height", S.Height},
      {"stretchfilter", S.StretchFilter}, {"jpegquality", S.JpegQuality},  {"j2kperc", S.J2kQuality},
      {"j2kform", S.J2kFormat},          {"gifdither", S.GifDither ? 1 : 0}, {"color", S.Color},
      {"background", S.Background},      {"g1", S.G1},                      {"g2", S.G2},
      {"g3", S.G3},                      {"effect", S.Effect},              {"edittb", S.EditToolbar ? 1 : 0},
      {"stdtb", S.StdToolbar ? 1 : 0},   {"backup", S.CreateBackup ? 1 : 0}, {"showpath", S.ShowPath ? 1 : 0},
      {"drawgrid", S.DrawGrid}};
  for (const auto& [Name, Value] : Numbers) WriteSettingInt(Reg, Name, Value);
}

bool AssociationsNeedRenewal(const TAppSettings& S, const std::string& RunningVersion, const std::string& RunningExe) {
  return S.Version != RunningVersion || S.Exe != RunningExe;
}

void KeepOnScreen(int32_t& Left, int32_t& Top, int32_t Width, int32_t Height, int32_t ScreenWidth,
                  int32_t ScreenHeight) {
  if (Left < 0 || Top < 0 || Left + Width > ScreenWidth || Top + Height > ScreenHeight) {
    Left = (ScreenWidth - Width) >> 1;
    Top = (ScreenHeight - Height) >> 1;
  }
}

TBounds FitFrameOnScreen(const TBounds& Inside, const TFrameMargins& Frame, const TBounds& Screen) {
  // One axis at a time, in the frame's terms. A frame no larger than the
  // screen can always lie on it whole; shrinking it first is what keeps the
  // title bar and the left border on the screen.
  const auto Fit = [](int32_t Start, int32_t Size, int32_t Before, int32_t After, int32_t ScreenStart,
                      int32_t ScreenSize, int32_t& NewStart, int32_t& NewSize) {
    const int32_t Outer = std::min(Size + Before + After, ScreenSize);
    NewSize = std::max(Outer - Before - After, 0);
    NewStart = std::max(ScreenStart, std::min(Start - Before, ScreenStart + ScreenSize - Outer)) + Before;
  };
  TBounds R;
  Fit(Inside.Left, Inside.Width, Frame.Left, Frame.Right, Screen.Left, Screen.Width, R.Left, R.Width);
  Fit(Inside.Top, Inside.Height, Frame.Top, Frame.Bottom, Screen.Top, Screen.Height, R.Top, R.Height);
  return R;
}

void LoadRecentFiles(TMRU& Recent) {
  auto Reg = OpenSettingsKey(HKEY_CURRENT_USER, kRecentFilesKey, ".", true);
  Recent.LoadFromRegistry(Reg.get());
  CloseSettingsKey(Reg);
  Recent.AddFile("");
}

void SaveRecentFiles(const TMRU& Recent, int32_t SaveMru) {
  if (SaveMru != 0) {
    auto Reg = OpenSettingsKey(HKEY_CURRENT_USER, kRecentFilesKey, ".", true);
    Recent.SaveToRegistry(Reg.get());
    CloseSettingsKey(Reg);
  } else {
    DeleteSettingsKey(kRecentFilesKey);
  }
}
