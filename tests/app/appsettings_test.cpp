// Settings in a temporary XDG_CONFIG_HOME: a first run writes every default,
// stored values are clamped, what is written at exit reads back the same, the
// recent files are kept or deleted. File associations in temporary XDG
// folders, checked with the desktop's own tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "mru.h"
#include "platform_messagebox.h"
#include "regutils.h"
#include "zub_assoc.h"
#include "zub_settings.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell command, returns its exit status and its first output line.
int RunCommand(const std::string& Command, std::string& Line) {
  FILE* P = popen((Command + " 2>&1").c_str(), "r");
  if (P == nullptr) return -1;
  char Buf[4096];
  std::string All;
  while (fgets(Buf, sizeof Buf, P) != nullptr) All += Buf;
  const int Status = pclose(P);
  Line = All.substr(0, All.find('\n'));
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

bool HaveProgram(const char* Name) {
  std::string L;
  return RunCommand(std::string("command -v ") + Name, L) == 0;
}

class XdgFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/vemra-xdg-XXXXXX";
    Dir = mkdtemp(Tmpl);
    for (const char* Sub : {"config", "data", "sysconfig", "sysdata"}) fs::create_directories(Dir + "/" + Sub);
    setenv("XDG_CONFIG_HOME", (Dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (Dir + "/data").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (Dir + "/sysconfig").c_str(), 1);
    setenv("XDG_DATA_DIRS", (Dir + "/sysdata").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::unique_ptr<TRegistry> Key() { return OpenSettingsKey(HKEY_CURRENT_USER, kSettingsKey, ".", true); }
  std::string Stored(const std::string& Name) { return Key()->ReadString(Name); }

  std::string Dir;
};

}  // namespace

TEST_F(XdgFolders, FirstRunWritesEveryDefault) {
  TAppSettings S;
  S.Left = 10, S.Top = 20, S.Width = 640, S.Height = 480;  // the window as created
  ReadAppSettings(Key().get(), S, 1024, 768);
  const std::pair<const char*, const char*> Expected[] = {
      {"savemru", "1"},  {"version", ""},     {"exe", ""},         {"usertext", ""},      {"font.name", ""},
      {"font.size", "12"}, {"font.style", "12"}, {"width", "640"},  {"height", "480"},     {"left", "10"},
      {"top", "20"},     {"jpegquality", "100"}, {"j2kperc", "0"}, {"j2kform", "3"},      {"gifdither", "0"},
      {"stretchfilter", "0"}, {"background", "0"}, {"color", "16777215"}, {"edittb", "1"}, {"backup", "0"},
      {"showpath", "0"}, {"drawgrid", "0"}};
  for (const auto& [Name, Value] : Expected) {
    auto K = Key();
    ASSERT_TRUE(K->ValueExists(Name)) << Name;
    EXPECT_EQ(K->ReadString(Name), Value) << Name;
  }
  // The first run differs from "no program ran yet": the associations are renewed.
  EXPECT_TRUE(AssociationsNeedRenewal(S, "0.1.0.0", "/usr/bin/vemra"));
}

TEST_F(XdgFolders, StoredValuesAreClamped) {
  struct Row {
    const char* Name;
    const char* Value;
    int32_t TAppSettings::*Field;
    int32_t Expected;
  };
  const Row Rows[] = {
      {"jpegquality", "250", &TAppSettings::JpegQuality, 100}, {"jpegquality", "-3", &TAppSettings::JpegQuality, 0},
      {"jpegquality", "12abc", &TAppSettings::JpegQuality, 100}, {"width", "5000", &TAppSettings::Width, 1024},
      {"width", "5000", &TAppSettings::Left, 0},               {"height", "-7", &TAppSettings::Height, 0},
      {"g2", "0", &TAppSettings::G2, 1},                       {"g1", "256", &TAppSettings::G1, 255},
      {"stretchfilter", "8", &TAppSettings::StretchFilter, 7}, {"j2kform", "101", &TAppSettings::J2kFormat, 100},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(std::string(R.Name) + "=" + R.Value);
    Key()->WriteString(R.Name, R.Value);
    TAppSettings S;
    S.Left = 300;
    ReadAppSettings(Key().get(), S, 1024, 768);
    EXPECT_EQ(S.*R.Field, R.Expected);
    Key()->DeleteValue(R.Name);
  }
  // left is clamped with the clamped width: min(900, 1024 - 200 - 1).
  Key()->WriteString("width", "200");
  Key()->WriteString("left", "900");
  TAppSettings S;
  ReadAppSettings(Key().get(), S, 1024, 768);
  EXPECT_EQ(S.Left, 823);
}

TEST_F(XdgFolders, ExitValuesReadBackTheSame) {
  TAppSettings Out;
  Out.SaveMru = 0, Out.UserText = "Hello, wörld", Out.FontName = "Liberation Sans";
  Out.FontSize = 31, Out.FontStyle = 3, Out.Left = 5, Out.Top = 6, Out.Width = 700, Out.Height = 500;
  Out.JpegQuality = 80, Out.J2kQuality = 40, Out.J2kFormat = 1, Out.GifDither = true, Out.StretchFilter = 5;
  Out.Background = 0x00112233, Out.Color = 0x00445566, Out.G1 = 17, Out.G2 = 33, Out.G3 = 99, Out.Effect = 14;
  Out.EditToolbar = false, Out.CreateBackup = true, Out.ShowPath = true, Out.DrawGrid = 8;
  WriteAppSettings(Key().get(), Out, "9.8.7.6", "/opt/vemra/bin/vemra");
  EXPECT_EQ(Stored("stdtb"), "0");
  EXPECT_EQ(Stored("background"), "1122867");  // 0x00BBGGRR as decimal text
  TAppSettings In;
  ReadAppSettings(Key().get(), In, 1024, 768);
  TAppSettings Want = Out;
  Want.Version = "9.8.7.6", Want.Exe = "/opt/vemra/bin/vemra";
  EXPECT_EQ(In, Want);
  EXPECT_FALSE(AssociationsNeedRenewal(In, "9.8.7.6", "/opt/vemra/bin/vemra"));
  EXPECT_TRUE(AssociationsNeedRenewal(In, "9.8.7.6", "/usr/bin/vemra"));
}

TEST_F(XdgFolders, RecentFilesKeptOrDeletedAtExit) {
  TMRU Recent(nullptr);
  Recent.AddFile("/pics/a.png");
  Recent.AddFile("/pics/b&c.jpg");
  SaveRecentFiles(Recent, 1);
  TMRU Back(nullptr);
  LoadRecentFiles(Back);
  EXPECT_EQ(Back.Entry(0), "/pics/b&&c.jpg");
  EXPECT_EQ(Back.Entry(1), "/pics/a.png");
  SaveRecentFiles(Recent, 0);
  auto K = OpenSettingsKey(HKEY_CURRENT_USER, kSettingsKey, ".", false);
  ASSERT_TRUE(K);
  EXPECT_FALSE(K->KeyExists(std::string("\\") + kRecentFilesKey));
}

TEST(KeepOnScreen, WindowPartlyOffTheScreenIsCentred) {
  struct Row {
    int32_t L, T, W, H, WantL, WantT;
  };
  for (const Row& R : {Row{-5, 0, 400, 300, 312, 234}, Row{700, 10, 400, 300, 312, 234},
                       Row{100, 100, 400, 300, 100, 100}, Row{624, 468, 400, 300, 624, 468}}) {
    int32_t L = R.L, T = R.T;
    KeepOnScreen(L, T, R.W, R.H, 1024, 768);
    EXPECT_EQ(L, R.WantL);
    EXPECT_EQ(T, R.WantT);
  }
}

// The model, per axis: of the frames no larger than the screen, the one nearest the asked place.
TEST(FitFrameOnScreen, FrameIsPutOnTheScreenTitleBarFirst) {
  const auto Axis = [](int32_t At, int32_t Size, int32_t Before, int32_t After, int32_t From, int32_t Length) {
    const int32_t Outer = std::min(Size + Before + After, Length);
    int32_t Best = From;
    for (int32_t P = From; P + Outer <= From + Length; ++P)
      if (std::abs(P + Before - At) < std::abs(Best + Before - At)) Best = P;
    return std::pair{Best + Before, Outer - Before - After};
  };
  struct Row { TBounds In; TFrameMargins M; TBounds Screen = {0, 0, 1024, 768}; };
  for (const Row& R : {Row{{0, 0, 1024, 768}, {1, 20, 1, 5}}, Row{{-60, -40, 1500, 900}, {1, 22, 1, 1}},
                       Row{{223, 167, 800, 600}, {1, 20, 1, 5}}, Row{{100, 90, 640, 480}, {1, 20, 1, 5}},
                       Row{{0, 0, 1024, 768}, {}}, Row{{0, 0, 1024, 768}, {1, 22, 1, 0}, {0, 24, 1024, 744}}}) {
    const auto [L, W] = Axis(R.In.Left, R.In.Width, R.M.Left, R.M.Right, R.Screen.Left, R.Screen.Width);
    const auto [T, H] = Axis(R.In.Top, R.In.Height, R.M.Top, R.M.Bottom, R.Screen.Top, R.Screen.Height);
    EXPECT_EQ(FitFrameOnScreen(R.In, R.M, R.Screen), (TBounds{L, T, W, H})) << R.In.Left << "," << R.In.Top;
  }
}

// Stored at exit, read back with the clamps, put on the screen: the same place from the first start on.
TEST_F(XdgFolders, KeptPlaceDoesNotCreepOverRestarts) {
  for (const TFrameMargins M : {TFrameMargins{}, TFrameMargins{1, 20, 1, 5}, TFrameMargins{1, 22, 1, 0}})
    for (const TBounds Kept : {TBounds{0, 0, 1024, 768}, TBounds{-9, -9, 5000, 5000}, TBounds{900, 700, 800, 600}}) {
      TBounds B = Kept, First;
      for (int Start = 0; Start < 5; ++Start) {
        const auto K = Key();
        for (const auto& [Name, V] :
             {std::pair{"left", B.Left}, {"top", B.Top}, {"width", B.Width}, {"height", B.Height}})
          K->WriteString(Name, std::to_string(V));
        TAppSettings S;
        ReadAppSettings(K.get(), S, 1024, 768);
        KeepOnScreen(S.Left, S.Top, S.Width, S.Height, 1024, 768);
        B = FitFrameOnScreen({S.Left, S.Top, S.Width, S.Height}, M, {0, 0, 1024, 768});
        if (Start == 0) First = B;
        EXPECT_EQ(B, First) << M.Top << "/" << Kept.Width << " start " << Start;
      }
    }
}

// A path with a blank, "$" and "%" still gives a valid entry.
TEST_F(XdgFolders, AssociationsAreValidAndTakeOnlyFreeDefaults) {
  if (!HaveProgram("desktop-file-validate") || !HaveProgram("xdg-mime")) GTEST_SKIP() << "desktop tools missing";
  // Two other viewers, one the system's default for GIF, one the user's for PNG.
  fs::create_directories(Dir + "/sysdata/applications");
  fs::create_directories(Dir + "/data/applications");
  std::ofstream(Dir + "/sysdata/applications/defaults.list") << "[Default Applications]\nimage/gif=sysviewer.desktop\n";
  for (const char* Viewer : {"/sysdata/applications/sysviewer.desktop", "/data/applications/other.desktop"})
    std::ofstream(Dir + Viewer) << "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n"
                                   "MimeType=image/png;image/gif;\n";
  std::ofstream(Dir + "/config/mimeapps.list")
      << "# mine\n[Default Applications]\nimage/png=other.desktop;\n\n[Removed Associations]\nimage/bmp=vemra.desktop;\n";
  const std::string Exe = Dir + "/my apps/v$emra%1";
  TMessageBoxRecorder Boxes;
  TScopedMessageBoxHandler Guard(Boxes);
  RenewFileAssociations(Exe);
  EXPECT_EQ(Boxes.Count(), 0u);

  std::string Line;
  const std::string Entry = Dir + "/data/applications/vemra.desktop";
  EXPECT_EQ(RunCommand("desktop-file-validate '" + Entry + "'", Line), 0) << Line;
  EXPECT_NE(ReadText(Entry).find("Exec=\"" + Dir + "/my apps/v\\\\$emra%%1\" %f\n"), std::string::npos);

  const std::string Env = "XDG_CONFIG_HOME='" + Dir + "/config' XDG_DATA_HOME='" + Dir + "/data' XDG_DATA_DIRS='" +
                          Dir + "/sysdata' XDG_CONFIG_DIRS='" + Dir + "/sysconfig' ";
  const std::pair<const char*, const char*> Defaults[] = {
      {"image/jpeg", "vemra.desktop"}, {"image/png", "other.desktop"}, {"image/gif", "sysviewer.desktop"},
      {kZubMimeType, "vemra.desktop"}};
  for (const auto& [Mime, Want] : Defaults) {
    EXPECT_EQ(RunCommand(Env + "xdg-mime query default " + Mime, Line), 0);
    EXPECT_EQ(Line, Want) << Mime;
  }
  const std::string List = ReadText(Dir + "/config/mimeapps.list");
  EXPECT_EQ(List.rfind("# mine\n", 0), 0u);
  EXPECT_NE(List.find("[Removed Associations]\nimage/bmp=vemra.desktop;\n"), std::string::npos);
  EXPECT_NE(List.find("image/png=vemra.desktop;\n"), std::string::npos);  // added as an opener
  // A second renewal changes nothing.
  RenewFileAssociations(Exe);
  EXPECT_EQ(ReadText(Dir + "/config/mimeapps.list"), List);
  if (HaveProgram("update-mime-database"))
    EXPECT_NE(ReadText(Dir + "/data/mime/globs2").find("image/x-vemra-zub:*.zub"), std::string::npos);
}
