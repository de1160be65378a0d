#pragma once
// The one place every message box of the engine goes through. The engine
// never draws a box itself: it hands the request to an installed handler (the
// application installs a Qt box, tests install a recorder). When no handler is
// installed, the box becomes one line on stderr and the default button is
// taken as the answer, so a tool run without a GUI never blocks.
//
// Safe from any thread: printing and the histogram report from worker
// threads. Installing a handler while another thread is inside a box is safe
// too; that call finishes with the handler it started with.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Button sets (low nibble of the flags).
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x2;
constexpr uint32_t MB_YESNOCANCEL = 0x3;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_RETRYCANCEL = 0x5;
constexpr uint32_t MB_TYPEMASK = 0xF;
// Icons.
constexpr uint32_t MB_ICONHAND = 0x10;
constexpr uint32_t MB_ICONSTOP = 0x10;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONASTERISK = 0x40;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr uint32_t MB_ICONMASK = 0xF0;
// Default button.
constexpr uint32_t MB_DEFBUTTON1 = 0x000;
constexpr uint32_t MB_DEFBUTTON2 = 0x100;
constexpr uint32_t MB_DEFBUTTON3 = 0x200;
constexpr uint32_t MB_DEFMASK = 0xF00;
constexpr uint32_t MB_TOPMOST = 0x40000;

// Button ids a box answers with.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

struct TMessageBoxRequest {
  std::string Text;
  std::string Caption;
  uint32_t Flags = 0;
  // True for the application's own box (owned by the main window), false for
  // the boxes without an owner window that the file-format units show.
  bool ApplicationOwned = true;
};

// A handler shows the box and returns the id of the pressed button.
using TMessageBoxHandler = std::function<int(const TMessageBoxRequest&)>;

// Installs a handler (an empty one means "no GUI") and returns the previous.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler Handler);

// Shows a box through the installed handler and returns its answer.
int PlatformMessageBox(const TMessageBoxRequest& Request);

// The ids of the buttons a box with these flags shows, in order, and the one
// taken when the user just confirms (the default button).
std::vector<int> MessageBoxButtons(uint32_t Flags);
int MessageBoxDefaultButton(uint32_t Flags);

// The application title, used as the caption of the application's boxes.
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& Title);

// A handler for tests: records every request and answers with a scripted id
// (or the default button when the script is used up). Safe from any thread.
class TMessageBoxRecorder {
 public:
  TMessageBoxRecorder() = default;
  TMessageBoxRecorder(const TMessageBoxRecorder&) = delete;
  TMessageBoxRecorder& operator=(const TMessageBoxRecorder&) = delete;

  // The next answers, used in order.
  void QueueAnswer(int Id);
  std::vector<TMessageBoxRequest> Requests() const;
  size_t Count() const;
  TMessageBoxRequest Last() const;  // empty request when nothing was recorded
  void Clear();

  int operator()(const TMessageBoxRequest& Request);

 private:
  mutable std::mutex lock_;
  std::vector<TMessageBoxRequest> requests_;
  std::vector<int> answers_;
};

// Installs a recorder (or any handler) for the lifetime of the guard and puts
// the previous handler back afterwards.
class TScopedMessageBoxHandler {
 public:
  explicit TScopedMessageBoxHandler(TMessageBoxHandler Handler)
      : previous_(SetMessageBoxHandler(std::move(Handler))) {}
  explicit TScopedMessageBoxHandler(TMessageBoxRecorder& Recorder)
      : TScopedMessageBoxHandler(TMessageBoxHandler([&Recorder](const TMessageBoxRequest& r) { return Recorder(r); })) {}
  ~TScopedMessageBoxHandler() { SetMessageBoxHandler(std::move(previous_)); }
  TScopedMessageBoxHandler(const TScopedMessageBoxHandler&) = delete;
  TScopedMessageBoxHandler& operator=(const TScopedMessageBoxHandler&) = delete;

 private:
  TMessageBoxHandler previous_;
};
