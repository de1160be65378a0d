// The real program on a real X server: an Xvfb of its own on a free display,
// "vemra picture.png", a screenshot of the whole screen, and the picture's
// four coloured quarters found on it in their places.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app_process.h"
#include "img_png.h"
#include "raster_core.h"

namespace fs = std::filesystem;

namespace {

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

struct TArea {
  int64_t Count = 0, SumX = 0, SumY = 0;
  double X() const { return Count ? double(SumX) / Count : -1; }
  double Y() const { return Count ? double(SumY) / Count : -1; }
};

}  // namespace

class EndToEnd : public ::testing::Test, public TProgramRunner {
 protected:
  void TearDown() override {
    StopAll();
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
    if (!Dir.empty()) fs::remove_all(Dir);
  }

  // Starts Xvfb on the first display number nobody uses; the display's name.
  std::string StartServer() {
    for (int N = 87; N < 200; ++N) {
      const std::string Sock = "/tmp/.X11-unix/X" + std::to_string(N);
      if (fs::exists(Sock) || fs::exists("/tmp/.X" + std::to_string(N) + "-lock")) continue;
      const std::string Display = ":" + std::to_string(N);
      server_ = fork();
      if (server_ == 0) {
        const int Null = open("/dev/null", O_WRONLY);
        dup2(Null, 1);
        dup2(Null, 2);
        execlp("Xvfb", "Xvfb", Display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr);
        _exit(127);
      }
      int Status = 0;
      // Another Xvfb may have taken the number meanwhile: then it ends and the next one is tried.
      if (WaitUntil([&] { return fs::exists(Sock) || waitpid(server_, &Status, WNOHANG) == server_; }, 10000) &&
          fs::exists(Sock))
        return Display;
      kill(server_, SIGKILL);
      waitpid(server_, nullptr, WNOHANG);
      server_ = 0;
    }
    return "";
  }

  pid_t server_ = 0;
};

TEST_F(EndToEnd, WindowShowsTheImageGivenOnTheCommandLine) {
  if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(OnPath("import")) << "ImageMagick's import is needed for the screenshot";
  MakeFolders();
  const std::string Display = StartServer();
  ASSERT_FALSE(Display.empty());

  // Four quarters: red, green / blue, yellow.
  const TColor32 Colours[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
  TBitmap32 B;
  B.SetSize(160, 120);
  for (int32_t y = 0; y < 120; ++y)
    for (int32_t x = 0; x < 160; ++x) B.SetPixel(x, y, Colours[(y >= 60) * 2 + (x >= 80)]);
  SavePNGFromBitmap32(Dir + "/quarters.png", &B, false, false, 0, 9);

  Environment = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + Display};
  Start({"quarters.png"});
  const std::string Shot = Dir + "/shot.ppm";
  const std::string Command = "import -display " + Display + " -window root -depth 8 ppm:'" + Shot + "' 2>/dev/null";
  TArea Areas[4];
  int ShotStatus = -1;
  const bool Seen = WaitUntil(
      [&] {
        ShotStatus = std::system(Command.c_str());
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
      },
      60000);
  ASSERT_TRUE(Seen) << "screenshot status " << ShotStatus << ", quarters seen: " << Areas[0].Count << " " << Areas[1].Count << " " << Areas[2].Count << " "
                    << Areas[3].Count << "\n"
                    << Log();
  EXPECT_LT(Areas[0].X(), Areas[1].X());
  EXPECT_LT(Areas[2].X(), Areas[3].X());
  EXPECT_LT(Areas[0].Y(), Areas[2].Y());
  EXPECT_LT(Areas[1].Y(), Areas[3].Y());
  // The quarters are equal in size as shown.
  EXPECT_NEAR(double(Areas[0].Count) / Areas[3].Count, 1.0, 0.1);
}
