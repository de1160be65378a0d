// Program start and end.
#include "zub_utilities.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <exception>

#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QWidget>

#include "platform_messagebox.h"
#include "img_loadfile.h"
#include "regutils.h"
#include "steptrace.h"
#include "sysinfo.h"
#include "utilities.h"
#include "zub_about.h"
#include "zub_assoc.h"
#include "zub_document.h"
#include "zub_instance.h"
#include "zub_main.h"
#include "zub_settings.h"

namespace {

QSize ScreenSize() {
  QScreen* S = QGuiApplication::primaryScreen();
  return S != nullptr ? S->size() : QSize(1024, 768);
}

void ReportStep(const std::exception& E, const char* Routine) {
  ShowMessageBox(std::string(E.what()) + "\n" + "on " + Routine, MB_ICONWARNING);
}

int gTermPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char C = 1;
  [[maybe_unused]] ssize_t N = ::write(gTermPipe[1], &C, 1);
}

}  // namespace

bool HandOverToRunningInstance(const std::vector<std::string>& Args, bool CtrlHeld) {
  if (Args.empty()) return false;
  const std::string& A = Args[0];
  if ((!A.empty() && A[0] == '@') || CtrlHeld) return false;
  // The running window has its own current folder.
  const std::string Name = AbsoluteFileName(A);
  for (const TPeer& P : FindPeers()) {
    std::string Caption;
    if (!QueryCaption(P.Path, Caption)) continue;  // a window that hangs is passed over
    if (Caption.compare(0, 5, "Vemra") != 0) return false;
    int Answer = -1;
    return SendOpenFile(P.Path, Name, Answer) && Answer == 0;
  }
  return false;
}

void ReadFirstPictureAhead(const std::vector<std::string>& Args) {
  for (const std::string& A : Args) {
    // "@" pastes and short words are passed over; a name that is not the one
    // opened in the end only costs the read.
    if (A == "@" || A.size() <= 2) continue;
    ReadImageFileAhead(AbsoluteFileName(A[0] == '@' ? A.substr(1, 999) : A));
    TraceStep("read-ahead-started");
    return;
  }
}

void StartUp(TzubForm& Form, const std::vector<std::string>& Args) {
  // Only the title: a display name would be appended by the desktop to every
  // caption ("... — Vemra"), and the captions are the program's own.
  SetApplicationTitle("Vemra");
  if (gAboutMode == -1 && !Args.empty() && !Args[0].empty() && Args[0][0] == '@') gAboutMode = 0;
  if (gAboutMode >= 0) {
    InitializeApp(Form, Args);
    Form.show();
    return;
  }
  TzubAboutBox* Box = AboutBox(&Form);
  Box->InitializeApp = [&Form, Args] { InitializeApp(Form, Args); };
  Box->ShowMainWindow = [&Form] { Form.show(); };
  Box->StartedWithArguments = !Args.empty();
  Box->show();
}

void InitializeApp(TzubForm& Form, const std::vector<std::string>& Args) {
  try {
    const std::string Version = GetFileVersion();
    const std::string Exe = ProgramFile();
    const QSize Screen = ScreenSize();

    TAppSettings S = Form.CollectSettings();
    auto Reg = OpenSettingsKey(HKEY_CURRENT_USER, kSettingsKey, ".", true);
    ReadAppSettings(Reg.get(), S, Screen.width(), Screen.height());
    CloseSettingsKey(Reg);
    TraceStep("settings-read");

    LoadRecentFiles(Form.Recent());
    TraceStep("recent-files-loaded");

    KeepOnScreen(S.Left, S.Top, S.Width, S.Height, Screen.width(), Screen.height());
    Form.ApplySettings(S);

    if (AssociationsNeedRenewal(S, Version, Exe)) {
      try {
        RenewFileAssociations(Exe);
      } catch (...) {
        // The associations are a courtesy to the desktop; the start goes on.
      }
    }
    TraceStep("associations-checked");
    Form.setAcceptDrops(true);
    Form.HandleArguments(Args);
    TraceStep("arguments-handled");
    if (TzubAboutBox* Box = AboutBox(); Box->isVisible()) Box->raise();
  } catch (const std::exception& E) {
    ReportStep(E, "InitializeApp");
  }
}

void FinalizeApp(TzubForm& Form) {
  try {
    const TAppSettings S = Form.CollectSettings();
    auto Reg = OpenSettingsKey(HKEY_CURRENT_USER, kSettingsKey, ".", true);
    WriteAppSettings(Reg.get(), S, GetFileVersion(), ProgramFile());
    CloseSettingsKey(Reg);
    SaveRecentFiles(Form.Recent(), S.SaveMru);
  } catch (const std::exception& E) {
    ReportStep(E, "FinalizeApp");
  }
}

void CloseOnTermination(QWidget& Window) {
  if (gTermPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, gTermPipe) != 0) return;
  auto* Notifier = new QSocketNotifier(gTermPipe[0], QSocketNotifier::Read, &Window);
  QObject::connect(Notifier, &QSocketNotifier::activated, &Window, [&Window] {
    char C;
    [[maybe_unused]] ssize_t N = ::read(gTermPipe[0], &C, 1);
    Window.close();
  });
  struct sigaction Action = {};
  Action.sa_handler = OnTerminationSignal;
  sigemptyset(&Action.sa_mask);
  Action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &Action, nullptr);
  sigaction(SIGINT, &Action, nullptr);
}
