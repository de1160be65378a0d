#pragma once
// The program's options in the settings store: read once at start with a
// default and a clamp each (a missing value's default is written back at
// once), written back at exit in a fixed order. The recent-files list lives
// in the subkey "MRU". Plain C++: the window copies the values in and out.
#include <cstdint>
#include <string>

class TMRU;
class TRegistry;

inline constexpr const char* kSettingsKey = "SOFTWARE\\Dulmora\\Vemra";
inline constexpr const char* kRecentFilesKey = "SOFTWARE\\Dulmora\\Vemra\\MRU";

struct TAppSettings {
  int32_t SaveMru = 1;
  std::string Version;  // the file version of the last run
  std::string Exe;      // the executable path of the last run
  std::string UserText;
  std::string FontName;
  int32_t FontSize = 12;
  int32_t FontStyle = 12;
  // The window's bounds; their defaults are the window's bounds at start.
  int32_t Left = 0, Top = 0, Width = 800, Height = 600;
  int32_t JpegQuality = 100;
  int32_t J2kQuality = 0;
  int32_t J2kFormat = 3;
  bool GifDither = false;
  int32_t StretchFilter = 0;
  // Platform colours 0x00BBGGRR, as the settings have always held them.
  int32_t Background = 0x000000;
  int32_t Color = 0xFFFFFF;
  int32_t G1 = 255, G2 = 8, G3 = 128;
  int32_t Effect = 0;
  bool EditToolbar = true;
  bool StdToolbar = false;  // written only: the standard toolbar starts hidden
  bool CreateBackup = false;
  bool ShowPath = false;
  int32_t DrawGrid = 0;
  bool operator==(const TAppSettings&) const = default;
};

// Reads every value in the stored order; the fields hold the defaults on
// entry. Reg null: every value keeps its default.
void ReadAppSettings(TRegistry* Reg, TAppSettings& S, int32_t ScreenWidth, int32_t ScreenHeight);
// Writes every value in the exit order, "version" and "exe" from the running program.
void WriteAppSettings(TRegistry* Reg, const TAppSettings& S, const std::string& RunningVersion,
                      const std::string& RunningExe);

// True when the stored version or executable path differs from the running one.
bool AssociationsNeedRenewal(const TAppSettings& S, const std::string& RunningVersion, const std::string& RunningExe);

// A window partly off the screen is centred, its size kept.
void KeepOnScreen(int32_t& Left, int32_t& Top, int32_t Width, int32_t Height, int32_t ScreenWidth,
                  int32_t ScreenHeight);

// A rectangle: its left-top corner and its size.
struct TBounds {
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const TBounds&) const = default;
};
// The window manager's frame around the inside, on each side.
struct TFrameMargins {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};
// The inside to use so that the frame around Inside lies whole on Screen: a
// frame wider or taller than the screen is shrunk to it, its left-top corner
// (the title bar) on the screen's; one partly off is moved on, its size kept.
// An inside whose frame is on the screen already comes back as it is.
TBounds FitFrameOnScreen(const TBounds& Inside, const TFrameMargins& Frame, const TBounds& Screen);

// The recent-files list from its subkey (created when missing).
void LoadRecentFiles(TMRU& Recent);
// At exit: written when SaveMru is not 0, else the subkey is deleted.
void SaveRecentFiles(const TMRU& Recent, int32_t SaveMru);
