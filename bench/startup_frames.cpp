// Process start to the first frame that shows the picture: the program is
// started with a 6000 x 4000 (24 MP) photo-like picture, as a JPEG (quality
// 90) and as a PNG, and the clock runs from just before the process is
// spawned until the picture is on the screen. The screen is polled for a
// marked patch in the picture's middle (a magenta tint over its texture),
// which any program that shows the picture fitted into its window shows as
// tens of thousands of marked pixels; ours is also timed by the line its
// window prints under VEMRA_TRACE when that frame reached the window. Peers
// are timed the same way when their Debian packages are installed
// (KolourPaint, eog, ristretto); each program gets one start to warm the
// file cache, then the best and the median of the runs, and the ratio
// peer / ours. Run it under an X server without a window manager:
//   xvfb-run -s "-screen 0 1920x1080x24" build-rel/bench/startup_frames [runs]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "img_png.h"
#include "platform_jpeg.h"
#include "steptrace.h"

extern char** environ;

namespace {

constexpr int32_t kW = 6000, kH = 4000;

// The photo-like picture with its middle quarter tinted magenta.
std::unique_ptr<TBitmap32> MarkedPhoto() {
  std::unique_ptr<TBitmap32> P = MakePhotoLike(kW, kH, false);
  for (int32_t y = kH / 4; y < 3 * kH / 4; ++y) {
    TColor32* Row = P->RowPtr(y);
    for (int32_t x = kW / 4; x < 3 * kW / 4; ++x) {
      const TColor32 C = Row[x];
      const uint32_t R = 190 + ((C >> 16) & 0xFF) / 4, G = ((C >> 8) & 0xFF) / 8, B = 190 + (C & 0xFF) / 4;
      Row[x] = 0xFF000000u | R << 16 | G << 8 | B;
    }
  }
  return P;
}

// Screen grabs through shared memory, so that polling keeps the X server
// busy as little as possible.
class TScreen {
 public:
  bool Open() {
    dpy_ = XOpenDisplay(nullptr);
    if (dpy_ == nullptr || !XShmQueryExtension(dpy_)) return false;
    const int S = DefaultScreen(dpy_);
    w_ = std::min(DisplayWidth(dpy_, S), 1400);
    h_ = std::min(DisplayHeight(dpy_, S), 1000);
    img_ = XShmCreateImage(dpy_, DefaultVisual(dpy_, S), DefaultDepth(dpy_, S), ZPixmap, nullptr, &shm_, w_, h_);
    if (img_ == nullptr) return false;
    shm_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(img_->bytes_per_line) * h_, IPC_CREAT | 0600);
    shm_.shmaddr = img_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    XShmAttach(dpy_, &shm_);
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    return true;
  }
  ~TScreen() {
    if (img_ != nullptr) {
      XShmDetach(dpy_, &shm_);
      XDestroyImage(img_);
      shmdt(shm_.shmaddr);
    }
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
  }
  // Marked pixels in the top-left part of the screen, where a window opens
  // without a window manager (every second pixel of every second row).
  int64_t MarkedPixels() {
    XShmGetImage(dpy_, DefaultRootWindow(dpy_), img_, 0, 0, AllPlanes);
    int64_t N = 0;
    for (int y = 0; y < h_; y += 2) {
      const auto* Row = reinterpret_cast<const uint32_t*>(img_->data + static_cast<ptrdiff_t>(y) * img_->bytes_per_line);
      for (int x = 0; x < w_; x += 2) {
        const uint32_t C = Row[x];
        N += ((C >> 16) & 0xFF) > 160 && ((C >> 8) & 0xFF) < 70 && (C & 0xFF) > 160;
      }
    }
    return N * 4;
  }

 private:
  Display* dpy_ = nullptr;
  XImage* img_ = nullptr;
  XShmSegmentInfo shm_{};
  int w_ = 0, h_ = 0;
};

struct TStartTimes {
  double ScreenMs = -1;  // the picture on the screen
  double LineMs = -1;    // the program's own frame line (ours only)
};

double MsSince(int64_t StartUs, int64_t Us) { return static_cast<double>(Us - StartUs) / 1000.0; }

// One start of Argv with Env; stops the program once the picture is seen.
TStartTimes TimeStart(TScreen& Screen, const std::vector<std::string>& Argv, const std::vector<std::string>& Env) {
  std::vector<char*> A, E;
  for (const std::string& S : Argv) A.push_back(const_cast<char*>(S.c_str()));
  A.push_back(nullptr);
  for (const std::string& S : Env) E.push_back(const_cast<char*>(S.c_str()));
  E.push_back(nullptr);
  int Pipe[2];
  if (pipe(Pipe) != 0) return {};
  posix_spawn_file_actions_t Files;
  posix_spawn_file_actions_init(&Files);
  posix_spawn_file_actions_adddup2(&Files, Pipe[1], 2);
  posix_spawn_file_actions_addopen(&Files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&Files, Pipe[0]);
  TStartTimes T;
  const int64_t Start = MonotonicMicroseconds();
  pid_t Pid = 0;
  const int Failed = posix_spawn(&Pid, A[0], &Files, nullptr, A.data(), E.data());
  posix_spawn_file_actions_destroy(&Files);
  close(Pipe[1]);
  if (Failed != 0) {
    close(Pipe[0]);
    return T;
  }
  // The frame line carries the program's own reading of the same clock.
  std::atomic<int64_t> LineUs{0};
  std::thread Reader([&] {
    std::string Text;
    char Buf[4096];
    ssize_t N;
    while ((N = read(Pipe[0], Buf, sizeof Buf)) > 0) {
      Text.append(Buf, static_cast<size_t>(N));
      const size_t At = Text.find(" first-picture-frame");
      if (At != std::string::npos && LineUs == 0) {
        const size_t From = Text.rfind("vemra-trace ", At);
        if (From != std::string::npos) LineUs = std::atoll(Text.c_str() + From + 12);
      }
      if (Text.size() > (1 << 20)) Text.erase(0, Text.size() - 4096);
    }
  });
  const int64_t Deadline = Start + 15'000'000;
  while (MonotonicMicroseconds() < Deadline) {
    if (Screen.MarkedPixels() >= 20000) {
      T.ScreenMs = MsSince(Start, MonotonicMicroseconds());
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  // The line may trail the screen by a moment.
  for (int i = 0; i < 100 && LineUs == 0 && T.ScreenMs >= 0 && Env.size() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(Pid, SIGTERM);
  int ExitStatus = 0;
  for (int i = 0; i < 300 && waitpid(Pid, &ExitStatus, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (waitpid(Pid, &ExitStatus, WNOHANG) == 0) {
    kill(Pid, SIGKILL);
    waitpid(Pid, &ExitStatus, 0);
  }
  Reader.join();
  close(Pipe[0]);
  if (LineUs != 0) T.LineMs = MsSince(Start, LineUs);
  // The screen is clear again before the next start.
  for (int i = 0; i < 200 && Screen.MarkedPixels() >= 20000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return T;
}

struct TSummary {
  double Best = -1, Median = -1;
};

TSummary Summarise(std::vector<double> Ms) {
  Ms.erase(std::remove_if(Ms.begin(), Ms.end(), [](double V) { return V < 0; }), Ms.end());
  if (Ms.empty()) return {};
  std::sort(Ms.begin(), Ms.end());
  return {Ms.front(), Ms[Ms.size() / 2]};
}

std::string Installed(const char* Name) {
  for (const char* Dir : {"/usr/bin/", "/usr/local/bin/"}) {
    const std::string P = std::string(Dir) + Name;
    if (access(P.c_str(), X_OK) == 0) return P;
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  VemraTestStartup();
  const int Runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string Ours = argc > 2 ? argv[2] : std::string(VEMRA_BIN_DIR) + "/vemra";
  TScreen Screen;
  if (!Screen.Open()) {
    std::fprintf(stderr, "startup_frames: needs an X server with the shared-memory extension (xvfb-run)\n");
    return 1;
  }
  namespace fs = std::filesystem;
  const fs::path Dir = fs::path(BenchTempPath("vemra_startup_frames"));
  fs::remove_all(Dir);
  for (const char* Sub : {"config", "data", "run", "home"}) fs::create_directories(Dir / Sub);
  fs::permissions(Dir / "run", fs::perms::owner_all, fs::perm_options::replace);

  std::printf("writing the 6000 x 4000 pictures ...\n");
  {
    const std::unique_ptr<TBitmap32> P = MarkedPhoto();
    const std::vector<uint8_t> Jpeg = EncodeJpeg(P->Bits(), kW, kH, 90);
    FILE* F = std::fopen((Dir / "photo.jpg").c_str(), "wb");
    if (F == nullptr || std::fwrite(Jpeg.data(), 1, Jpeg.size(), F) != Jpeg.size()) return 1;
    std::fclose(F);
    SavePNGFromBitmap32((Dir / "photo.png").string(), P.get(), false, false, 0, 6);
  }
  std::printf("photo.jpg %.1f MB, photo.png %.1f MB; %d runs each after one warm-up start\n",
              fs::file_size(Dir / "photo.jpg") / 1e6, fs::file_size(Dir / "photo.png") / 1e6, Runs);

  const std::string DisplayVar = std::string("DISPLAY=") + (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : ":0");
  std::vector<std::string> Env = {
      DisplayVar,
      "HOME=" + (Dir / "home").string(),
      "XDG_CONFIG_HOME=" + (Dir / "config").string(),
      "XDG_DATA_HOME=" + (Dir / "data").string(),
      "XDG_RUNTIME_DIR=" + (Dir / "run").string(),
      "PATH=/usr/bin:/bin",
      "VEMRA_TRACE=1",
  };
  // xvfb-run hands its server's cookie over in XAUTHORITY.
  if (const char* Auth = std::getenv("XAUTHORITY")) Env.push_back(std::string("XAUTHORITY=") + Auth);
  struct TProgram {
    const char* Name;
    std::string Path;
  };
  const std::vector<TProgram> Programs = {
      {"vemra", Ours}, {"kolourpaint", Installed("kolourpaint")}, {"eog", Installed("eog")},
      {"ristretto", Installed("ristretto")}};

  std::printf("\n%-10s %-12s %12s %12s %16s %16s\n", "picture", "program", "best ms", "median ms", "frame line best",
              "frame line med");
  for (const char* Leaf : {"photo.jpg", "photo.png"}) {
    const std::string File = (Dir / Leaf).string();
    double OursBest = -1;
    for (const TProgram& P : Programs) {
      if (P.Path.empty()) {
        std::printf("%-10s %-12s not installed, not measured\n", Leaf, P.Name);
        continue;
      }
      TimeStart(Screen, {P.Path, File}, Env);  // warm-up: file cache, settings, associations
      std::vector<double> ScreenMs, LineMs;
      for (int i = 0; i < Runs; ++i) {
        const TStartTimes T = TimeStart(Screen, {P.Path, File}, Env);
        ScreenMs.push_back(T.ScreenMs);
        LineMs.push_back(T.LineMs);
      }
      const TSummary S = Summarise(ScreenMs), L = Summarise(LineMs);
      if (P.Path == Ours) OursBest = S.Best;
      std::printf("%-10s %-12s %12.1f %12.1f %16.1f %16.1f", Leaf, P.Name, S.Best, S.Median, L.Best, L.Median);
      if (P.Path != Ours && OursBest > 0 && S.Best > 0) std::printf("   ratio peer/ours %.2f", S.Best / OursBest);
      std::printf("\n");
    }
  }
  std::printf("-1: the picture did not appear within 15 s; the frame line is ours only\n");
  fs::remove_all(Dir);
  return 0;
}
