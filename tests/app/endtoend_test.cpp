// The real program on a real X server: an Xvfb of its own on a free display,
// "vemra picture.png", a screenshot of the whole screen, and the picture's
// four coloured quarters found on it in their places, and F1 opening the
// help page beside the program.
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <QAction>

#include "app_process.h"
#include "img_loadfile.h"
#include "img_png.h"
#include "qt_messagebox.h"
#include "raster_core.h"
#include "raster_image_view.h"
#include "zub_document.h"
#include "zub_main.h"
#include "zub_main_engine.h"

namespace fs = std::filesystem;

namespace {

// How long a step may take before the test calls it lost. Every wait ends at
// the event it waits for, so this bound is reached only by a fault; it is
// wide because two cores shared with the whole sanitized suite make the
// program, the server and the screenshots many times slower.
constexpr int kPatienceMs = 90000;

bool OnPath(const std::string& Program) {
  const char* Path = std::getenv("PATH");
  std::string P = Path != nullptr ? Path : "";
  size_t Start = 0;
  while (Start <= P.size()) {
    const size_t End = std::min(P.find(':', Start), P.size());
    std::error_code ec;
    if (fs::exists(P.substr(Start, End - Start) + "/" + Program, ec)) return true;
    Start = End + 1;
  }
  return false;
}

struct TScreenshot {
  int W = 0, H = 0;
  std::string Rgb;
};

// Reads a binary PPM ("P6", maxval 255) as import writes it.
bool ReadPpm(const std::string& Name, TScreenshot& S) {
  std::ifstream in(Name, std::ios::binary);
  std::string Magic;
  int Max = 0;
  if (!(in >> Magic >> S.W >> S.H >> Max) || Magic != "P6" || Max != 255) return false;
  in.get();
  S.Rgb.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return S.Rgb.size() >= static_cast<size_t>(S.W) * S.H * 3;
}

TColor32 ShotPixel(const TScreenshot& S, int X, int Y) {
  const uint8_t* P = reinterpret_cast<const uint8_t*>(S.Rgb.data()) + (size_t(Y) * S.W + X) * 3;
  return 0xFF000000u | uint32_t(P[0]) << 16 | uint32_t(P[1]) << 8 | P[2];
}

// Whether B (alpha dropped) is shown at (X, Y) of the screenshot; stops at
// the first difference, as most places differ at once.
bool ShownAt(const TScreenshot& S, const TBitmap32& B, int X, int Y) {
  if (X < 0 || Y < 0 || X + B.Width() > S.W || Y + B.Height() > S.H) return false;
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x)
      if (ShotPixel(S, X + x, Y + y) != (B.GetPixel(x, y) | 0xFF000000u)) return false;
  return true;
}

// Where B is shown unscaled on the screenshot; false when nowhere.
bool FindOnScreen(const TScreenshot& S, const TBitmap32& B, int& X, int& Y) {
  const TColor32 First = B.GetPixel(0, 0) | 0xFF000000u;
  for (int y = 0; y + B.Height() <= S.H; ++y)
    for (int x = 0; x + B.Width() <= S.W; ++x)
      if (ShotPixel(S, x, y) == First && ShownAt(S, B, x, y)) {
        X = x;
        Y = y;
        return true;
      }
  return false;
}

// The pixels of A and B that differ, alpha dropped; -1 for other sizes.
int64_t RgbDifferences(const TBitmap32& A, const TBitmap32& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height()) return -1;
  int64_t N = 0;
  for (int32_t y = 0; y < A.Height(); ++y)
    for (int32_t x = 0; x < A.Width(); ++x) N += (A.GetPixel(x, y) | 0xFF000000u) != (B.GetPixel(x, y) | 0xFF000000u);
  return N;
}

std::string Joined(const std::vector<std::string>& Lines) {
  std::string S;
  for (const std::string& L : Lines) S += L + "\n";
  return S;
}

struct TArea {
  int64_t Count = 0, SumX = 0, SumY = 0;
  double X() const { return Count ? double(SumX) / Count : -1; }
  double Y() const { return Count ? double(SumY) / Count : -1; }
};

}  // namespace

class EndToEnd : public ::testing::Test, public TProgramRunner {
 protected:
  // Every case drives the real program on a server of its own, by keys and
  // the mouse, and reads the screen back.
  void SetUp() override {
    if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    if (!OnPath("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    ASSERT_TRUE(OnPath("import")) << "ImageMagick's import is needed for the screenshot";
    MakeFolders();
  }

  void TearDown() override {
    StopAll();
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
    if (!Dir.empty()) fs::remove_all(Dir);
  }

  // Starts a server that the programs started next and the screenshots of
  // Grab use; false when none could start.
  bool UseNewServer() {
    Display = StartServer();
    Environment = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + Display};
    Shot = Dir + "/shot.ppm";
    Grab = "import -display " + Display + " -window root -depth 8 ppm:'" + Shot + "' 2>/dev/null";
    return !Display.empty();
  }

  // Runs Command with its output dropped against the server; its status.
  int Run(const std::string& Command) const {
    return std::system(("DISPLAY=" + Display + " " + Command + " >/dev/null 2>&1").c_str());
  }

  // Waits until a screenshot shows Want unscaled; its place in X, Y.
  bool Shows(const TBitmap32& Want) {
    return Until([&] {
      TScreenshot S;
      return std::system(Grab.c_str()) == 0 && ReadPpm(Shot, S) && FindOnScreen(S, Want, X, Y);
    });
  }

  // The program's windows on the screen, menus included.
  int VisibleWindows() {
    const std::string Out = Dir + "/windows";
    std::system(("DISPLAY=" + Display + " xdotool search --onlyvisible --classname '^vemra$' > '" + Out +
                 "' 2>/dev/null")
                    .c_str());
    std::ifstream In(Out);
    int N = 0;
    for (std::string L; std::getline(In, L);) ++N;
    return N;
  }

  // Presses each key in turn; a key that opens a menu is followed only once
  // the menu is on the screen, so the next key goes to it and not to the
  // window under it.
  bool KeysThroughMenus(const std::vector<std::string>& Keys) {
    for (const std::string& K : Keys) {
      const int Before = VisibleWindows();
      if (Run("xdotool key " + K) != 0) return false;
      if (&K != &Keys.back() && !Until([&] { return VisibleWindows() > Before; })) return false;
    }
    return true;
  }

  // Starts Xvfb on a display number nobody uses, which the server picks and
  // names on a pipe once it takes connections; the display's name, or empty.
  // -noreset: else the server starts over whenever its last client leaves and
  // drops every client still in its greeting, so a window starting just as a
  // screenshot's import (or any other short client) left found no display.
  // What the server says goes to server.log, for the failures to show.
  std::string StartServer() {
    int Pipe[2];
    if (pipe(Pipe) != 0) return "";
    server_ = fork();
    if (server_ == 0) {
      close(Pipe[0]);
      const int Log = open((Dir + "/server.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      dup2(Log, 1);
      dup2(Log, 2);
      const std::string Fd = std::to_string(Pipe[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", Fd.c_str(), "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             nullptr);
      _exit(127);
    }
    close(Pipe[1]);
    std::string Number;
    pollfd In{Pipe[0], POLLIN, 0};
    char C = 0;
    while (poll(&In, 1, kPatienceMs) == 1 && read(Pipe[0], &C, 1) == 1 && C != '\n') Number += C;
    close(Pipe[0]);
    if (C == '\n' && !Number.empty()) return ":" + Number;
    kill(server_, SIGKILL);
    waitpid(server_, nullptr, 0);
    server_ = 0;
    return "";
  }

  std::string ServerLog() const {
    std::ifstream In(Dir + "/server.log");
    const std::string Said{std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
    return "The X server's log:" + (Said.empty() ? std::string(" (empty)") : "\n" + Said);
  }

  // Which of the server and the windows this case started has ended while the
  // case still counts on it; empty while all run.
  std::string WhatEnded() {
    int Status = -1;
    if (server_ > 0 && (Status = PeekExit(server_)) >= 0) return "the X server ended, status " + std::to_string(Status);
    if (const pid_t P = Ended(Status))
      return "the program (pid " + std::to_string(P) + ") ended, status " + std::to_string(Status);
    return "";
  }

  // Waits until Done. Once the server or a window has ended nothing more can
  // come, so the wait stops there and says so at once with the server's log;
  // the caller's failure adds the program's output.
  bool Until(const std::function<bool()>& Done, int TimeoutMs = kPatienceMs) {
    bool Met = false;
    std::string Gone;
    ::WaitUntil([&] { return (Met = Done()) || !(Gone = WhatEnded()).empty(); }, TimeoutMs);
    if (!Met && !Gone.empty() && !toldGone_) {
      toldGone_ = true;
      ADD_FAILURE() << Gone << "\n" << ServerLog();
    }
    return Met;
  }

  std::string Display, Shot, Grab;
  int X = -1, Y = -1;
  pid_t server_ = 0;
  bool toldGone_ = false;
};

TEST_F(EndToEnd, WindowShowsTheImageGivenOnTheCommandLineAndF1ItsHelp) {
  ASSERT_TRUE(UseNewServer()) << ServerLog();
  // The desktop's opener, which records what it is asked to open.
  WriteStandInOpener(Dir + "/bin", "echo \"$1\" >> '" + Dir + "/opened'\n");
  Environment.push_back("PATH=" + Dir + "/bin:" + std::getenv("PATH"));

  // Four quarters: red, green / blue, yellow.
  const TColor32 Colours[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
  TBitmap32 B;
  B.SetSize(160, 120);
  for (int32_t y = 0; y < 120; ++y)
    for (int32_t x = 0; x < 160; ++x) B.SetPixel(x, y, Colours[(y >= 60) * 2 + (x >= 80)]);
  SavePNGFromBitmap32(Dir + "/quarters.png", &B, false, false, 0, 9);

  Start({"quarters.png"});
  TArea Areas[4];
  int ShotStatus = -1;
  const bool Seen = Until(
      [&] {
        ShotStatus = std::system(Grab.c_str());
        if (ShotStatus != 0) return false;
        TScreenshot S;
        if (!ReadPpm(Shot, S)) return false;
        for (TArea& A : Areas) A = TArea{};
        for (int y = 0; y < S.H; ++y)
          for (int x = 0; x < S.W; ++x) {
            const uint8_t* P = reinterpret_cast<const uint8_t*>(S.Rgb.data()) + (size_t(y) * S.W + x) * 3;
            const TColor32 C = 0xFF000000u | uint32_t(P[0]) << 16 | uint32_t(P[1]) << 8 | P[2];
            for (int i = 0; i < 4; ++i)
              if (C == Colours[i]) ++Areas[i].Count, Areas[i].SumX += x, Areas[i].SumY += y;
          }
        // The view fits the picture to the window, so each quarter is at least its own size.
        for (const TArea& A : Areas)
          if (A.Count < 80 * 60) return false;
        return true;
      });
  ASSERT_TRUE(Seen) << "screenshot status " << ShotStatus << ", quarters seen: " << Areas[0].Count << " " << Areas[1].Count << " " << Areas[2].Count << " "
                    << Areas[3].Count << "\n"
                    << Log();
  EXPECT_LT(Areas[0].X(), Areas[1].X());
  EXPECT_LT(Areas[2].X(), Areas[3].X());
  EXPECT_LT(Areas[0].Y(), Areas[2].Y());
  EXPECT_LT(Areas[1].Y(), Areas[3].Y());
  // The quarters are equal in size as shown.
  EXPECT_NEAR(double(Areas[0].Count) / Areas[3].Count, 1.0, 0.1);

  // F1, then Shift+F1 (the home page), open the page the build put beside the program.
  ASSERT_EQ(Run("xdotool search --sync --name '^Vemra' windowfocus --sync"), 0);
  std::vector<std::string> Opened;
  const auto OpenedCount = [&](size_t N) {
    return Until(
        [&] {
          std::ifstream In(Dir + "/opened");
          Opened.clear();
          for (std::string L; std::getline(In, L);) Opened.push_back(L);
          return Opened.size() >= N;
        });
  };
  Run("xdotool key F1");
  ASSERT_TRUE(OpenedCount(1)) << Log();
  Run("xdotool key shift+F1");
  ASSERT_TRUE(OpenedCount(2)) << Log();
  EXPECT_EQ(Opened.size(), 2u);
  for (const std::string& Page : Opened) {
    std::error_code Ec;
    EXPECT_TRUE(fs::equivalent(Page, VEMRA_BIN_DIR "/help/vemra.html", Ec)) << Page;
  }
}

// The menus driven by the keyboard as a person would: Image > Blur > Blur,
// Undo, Undo Undo, Zoom In and Save, each checked against what the engine
// computes for the same picture in this process.
TEST_F(EndToEnd, BlurFromTheMenuUndoZoomAndSave) {

  // A picture the blur changes everywhere but at flat places.
  TBitmap32 Original;
  Original.SetSize(96, 64);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 96; ++x)
      Original.SetPixel(x, y, 0xFF000000u | uint32_t((x * 37 + y * 11) & 0xFF) << 16 |
                                  uint32_t((x * x + y * 5) & 0xFF) << 8 | uint32_t((y * 29 ^ x * 3) & 0xFF));
  const std::string Picture = Dir + "/card.png";
  SavePNGFromBitmap32(Picture, &Original, false, false, 0, 9);

  // What the engine computes: the same menu item in a window of this process.
  static int Argc = 1;
  static char Name[] = "endtoend_test";
  static char* Argv[] = {Name, nullptr};
  auto App = std::make_unique<TZubApplication>(Argc, Argv);
  TBitmap32 Blurred;
  {
    TzubForm Engine;
    if (Engine.Editor().FindActionCallback(100) == nullptr)
      GTEST_SKIP() << "Image > Blur > Blur (tag 100) has no action callback in this build";
    ASSERT_TRUE(Engine.Document().OpenImageFile(Picture));
    Engine.MenuItem("Blur2")->trigger();
    Blurred.Assign(Engine.Image321().Bitmap());
  }
  ASSERT_GT(RgbDifferences(Blurred, Original), 96 * 64 / 2);

  ASSERT_TRUE(UseNewServer()) << ServerLog();
  Start({"card.png"});
  ASSERT_TRUE(Shows(Original)) << Log();
  const int OrigX = X, OrigY = Y;
  ASSERT_EQ(Run("xdotool search --sync --name '^Vemra' windowfocus --sync"), 0);
  // Image (Alt+I) > Blur (B) > Blur (B).
  ASSERT_TRUE(KeysThroughMenus({"alt+i", "b", "b"})) << "the menus did not open\n" << Log();
  ASSERT_TRUE(Shows(Blurred)) << "the blurred picture never showed\n" << Log();
  EXPECT_EQ(X, OrigX);
  EXPECT_EQ(Y, OrigY);
  Run("xdotool key ctrl+z");
  ASSERT_TRUE(Shows(Original)) << "undo did not bring the picture back\n" << Log();
  Run("xdotool key shift+ctrl+z");
  ASSERT_TRUE(Shows(Blurred)) << "undo undo did not bring the blur back\n" << Log();
  // Zoom In: the caption shows the new scale.
  Run("xdotool key z");
  EXPECT_TRUE(Until([&] { return Run("xdotool search --name '1.41:1'") == 0; })) << Log();
  // Save: the file holds what the engine computed.
  Run("xdotool key ctrl+s");
  TBitmap32 Saved;
  EXPECT_TRUE(Until(
      [&] {
        try {
          LoadImageFile(Picture, Saved);
        } catch (...) {
          return false;
        }
        return RgbDifferences(Saved, Blurred) == 0;
      }))
      << Log();
}

// As a user would: the captions exactly as the program makes them, Ctrl+C
// and Ctrl+V, Shift+H for the histogram, and a second start ended with
// Ctrl+C while the first window asks its user about that start's file: the
// first window survives the answer and keeps its picture.
TEST_F(EndToEnd, CaptionsPasteHistogramAndAnEndedSecondStart) {
  TBitmap32 Original;
  Original.SetSize(96, 64);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 96; ++x)
      Original.SetPixel(x, y, 0xFF000000u | uint32_t(x * 2 + 37) << 16 | uint32_t(y * 3 + 11) << 8 |
                                  uint32_t((x ^ y) * 2 + 9));
  const std::string Picture = Dir + "/card.png";
  SavePNGFromBitmap32(Picture, &Original, false, false, 0, 9);
  TBitmap32 Flipped;
  Flipped.SetSize(96, 64);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 96; ++x) Flipped.SetPixel(x, y, Original.GetPixel(x, 63 - y));
  const std::string Size = " " + std::to_string(fs::file_size(Picture) / 1024) + "KB (96x64)[1:1]";
  const std::string Title = "Vemra - card.png" + Size, Changed = "Vemra - card.png*" + Size;

  ASSERT_TRUE(UseNewServer()) << ServerLog();
  const pid_t First = Start({"card.png"});
  // The names of the windows on the screen, one a line.
  auto Names = [&](const std::string& Options) {
    const std::string Out = Dir + "/names";
    std::system(("DISPLAY=" + Display + " xdotool search " + Options + " --name . getwindowname %@ > '" + Out +
                 "' 2>/dev/null")
                    .c_str());
    std::ifstream In(Out);
    std::vector<std::string> Lines;
    for (std::string L; std::getline(In, L);) Lines.push_back(L);
    return Lines;
  };
  auto HasWindow = [&](const std::string& Name, bool Visible) {
    const std::vector<std::string> N = Names(Visible ? "--onlyvisible" : "");
    return std::find(N.begin(), N.end(), Name) != N.end();
  };
  ASSERT_TRUE(Shows(Original)) << Log();
  const int OrigX = X, OrigY = Y;
  // The caption is the program's own, with nothing the desktop appends.
  EXPECT_TRUE(Until([&] { return HasWindow(Title, true); })) << Title << "\n" << Joined(Names(""));
  auto FocusMain = [&] { return Run("xdotool search --onlyvisible --name '^Vemra - ' windowfocus --sync"); };
  ASSERT_EQ(FocusMain(), 0);

  // Copy, flip, paste: the copy floats over the flipped picture.
  Run("xdotool key ctrl+c");
  Run("xdotool key ctrl+i");
  ASSERT_TRUE(Shows(Flipped)) << Log();
  // Select None takes the pasted picture's frame off it; the picture stays.
  Run("xdotool key ctrl+v ctrl+d");
  ASSERT_TRUE(Shows(Original)) << "Ctrl+V pasted nothing\n" << Log();
  EXPECT_EQ(X, OrigX);
  EXPECT_EQ(Y, OrigY);

  // Shift+H shows the histogram window under its own caption, and hides it.
  Run("xdotool key shift+h");
  EXPECT_TRUE(Until([&] { return HasWindow("Histogram", true); })) << Log();
  ASSERT_EQ(FocusMain(), 0);
  Run("xdotool key shift+h");
  EXPECT_TRUE(Until([&] { return !HasWindow("Histogram", true); })) << Log();

  // A second start with the same file: the first window asks about its
  // floating layer, under the program's title, while the second one waits.
  const pid_t Second = Start({"card.png"});
  ASSERT_TRUE(Until([&] { return HasWindow("Vemra", true); })) << Log();
  EXPECT_EQ(WaitExit(Second, 0), -1);
  kill(Second, SIGINT);
  EXPECT_EQ(WaitExit(Second, kPatienceMs), 128 + SIGINT);
  Run("xdotool search --onlyvisible --name '^Vemra$' windowfocus --sync");
  Run("xdotool key Escape");
  EXPECT_TRUE(Until([&] { return !HasWindow("Vemra", true); })) << Log();
  // The first window lives on with what it showed.
  EXPECT_EQ(WaitExit(First, 1000), -1) << Log();
  EXPECT_TRUE(Shows(Original)) << Log();
  EXPECT_TRUE(Until([&] { return HasWindow(Changed, true); })) << Joined(Names(""));
  // It would ask about its layer again on the way out.
  kill(First, SIGKILL);
  WaitExit(First, kPatienceMs);
}

// Image > Plugins hovered with a plug-in that crashes in its query beside a
// good one: the box about it is answered and the window lives on.
TEST_F(EndToEnd, APluginCrashingWhileThePluginsMenuOpensLeavesTheWindowAlive) {
  // The program scans the plugins folder beside it, the build's own.
  const fs::path Crasher = fs::path(VEMRA_BIN_DIR) / "plugins/null-query.so";
  fs::copy_file(fs::path(VEMRA_BIN_DIR) / "plugins-broken/misbehave.so", Crasher,
                fs::copy_options::overwrite_existing);
  struct TRemove {
    fs::path File;
    ~TRemove() { fs::remove(File); }
  } RemoveCrasher{Crasher};
  TBitmap32 B;
  B.SetSize(64, 48);
  B.Clear(0xFF336699u);
  SavePNGFromBitmap32(Dir + "/card.png", &B, false, false, 0, 9);

  ASSERT_TRUE(UseNewServer()) << ServerLog();
  const pid_t Pid = Start({"card.png"});
  ASSERT_TRUE(Until([&] { return Run("xdotool search --onlyvisible --name '^Vemra - '") == 0; })) << Log();
  ASSERT_EQ(Run("xdotool search --onlyvisible --name '^Vemra - ' windowfocus --sync"), 0) << Log();
  // Image opens from the keyboard; Plugins, its last item, is then hovered.
  Run("xdotool key alt+i");
  const std::string Geometry = Dir + "/menu";
  int MenuX = 0, MenuY = 0, MenuH = 0;
  ASSERT_TRUE(Until(
      [&] {
        // The menu is the program's one visible window besides the main one.
        std::system(("export DISPLAY=" + Display + "; M=$(xdotool search --onlyvisible --name '^Vemra - '); " +
                     "for w in $(xdotool search --onlyvisible --class '^vemra$'); do [ $w = \"$M\" ] || " +
                     "xdotool getwindowgeometry --shell $w; done > '" + Geometry + "' 2>/dev/null")
                        .c_str());
        std::ifstream In(Geometry);
        for (std::string L; std::getline(In, L);) {
          if (L.rfind("X=", 0) == 0) MenuX = std::stoi(L.substr(2));
          if (L.rfind("Y=", 0) == 0) MenuY = std::stoi(L.substr(2));
          if (L.rfind("HEIGHT=", 0) == 0) MenuH = std::stoi(L.substr(7));
        }
        return MenuH > 40;
      }))
      << Log();
  for (int Up : {40, 20, 10})
    Run("xdotool mousemove " + std::to_string(MenuX + 40) + " " + std::to_string(MenuY + MenuH - Up));
  ASSERT_TRUE(Until([&] { return Run("xdotool search --onlyvisible --name '^Vemra$'") == 0; })) << Log();
  Run("xdotool search --onlyvisible --name '^Vemra$' windowfocus --sync key Return");
  EXPECT_TRUE(Until([&] { return Run("xdotool search --onlyvisible --name '^Vemra$'") != 0; }));
  EXPECT_EQ(WaitExit(Pid, 1000), -1) << Log();
  EXPECT_EQ(Run("xdotool search --onlyvisible --name '^Vemra - '"), 0) << Log();
}

// With the mouse, as a user would: a rectangle selected, copied, pasted and
// dragged from its inside, flattened where it went from its right-click
// menu; then a new selection grown by its bottom-right handle, pressed at its
// drawn centre, and cleared.
TEST_F(EndToEnd, PastedPictureDraggedFlattenedAndAFrameGrownByItsHandle) {
  TBitmap32 Original;
  Original.SetSize(200, 150);
  for (int32_t y = 0; y < 150; ++y)
    for (int32_t x = 0; x < 200; ++x)
      Original.SetPixel(x, y, 0xFF000000u | uint32_t(x + 40) << 16 | uint32_t(y + 60) << 8 | (uint32_t((x * y) & 0x7F) + 9));
  SavePNGFromBitmap32(Dir + "/card.png", &Original, false, false, 0, 9);
  // The 40 x 30 block at (20, 20) copied to (80, 60); then (10, 100)-(110, 150)
  // in the background colour, black.
  TBitmap32 Moved, Cleared;
  Moved.Assign(&Original);
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) Moved.SetPixel(80 + x, 60 + y, Original.GetPixel(20 + x, 20 + y));
  Cleared.Assign(&Moved);
  for (int32_t y = 100; y < 150; ++y)
    for (int32_t x = 10; x < 110; ++x) Cleared.SetPixel(x, y, 0xFF000000u);

  ASSERT_TRUE(UseNewServer()) << ServerLog();
  const pid_t Pid = Start({"card.png"});
  ASSERT_TRUE(Shows(Original)) << Log();
  ASSERT_EQ(Run("xdotool search --sync --name '^Vemra' windowfocus --sync"), 0);
  // The picture's place on the screen, once the focused window has settled;
  // each later look updates it.
  ASSERT_TRUE(Shows(Original)) << Log();
  auto At = [&](int Bx, int By) { return " " + std::to_string(X + Bx) + " " + std::to_string(Y + By); };
  auto Drag = [&](int X0, int Y0, int X1, int Y1) {
    Run("xdotool mousemove" + At(X0, Y0) + " mousedown 1 mousemove" + At((X0 + X1) / 2, (Y0 + Y1) / 2) +
        " mousemove" + At(X1, Y1) + " mouseup 1");
  };
  Drag(20, 20, 60, 50);
  Run("xdotool key ctrl+c ctrl+v");
  Drag(40, 35, 100, 75);
  // The layer menu opens on the picture; Flatten (its "t") stamps it there and deletes it.
  Run("xdotool mousemove" + At(100, 75) + " click 3");
  ASSERT_TRUE(Until([&] { return Run("sh -c '[ $(xdotool search --onlyvisible --class vemra | wc -l) -ge 2 ]'") == 0; },
                    10000))
      << "no menu opened\n" << Log();
  Run("xdotool key t");
  ASSERT_TRUE(Shows(Moved)) << "the pasted picture was not flattened where it was dragged\n" << Log();

  Drag(10, 100, 60, 120);
  Drag(60, 120, 110, 150);
  Run("xdotool key Delete ctrl+d");
  EXPECT_TRUE(Shows(Cleared)) << "the frame did not grow by its handle\n" << Log();
  // It would ask about its changed picture on the way out.
  kill(Pid, SIGKILL);
  WaitExit(Pid, kPatienceMs);
}
