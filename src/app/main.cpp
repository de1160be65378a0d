// Program entry: engine start-up, the hand-over to a running window, the main
// window, the message loop, and the settings written back at the end.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QStringList>

#include "formats_startup.h"
#include "img_loadfile.h"
#include "qt_clipboard.h"
#include "qt_messagebox.h"
#include "raster_microtiles.h"
#include "raster_startup.h"
#include "steptrace.h"
#include "zub_main.h"
#include "zub_utilities.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("Vemra %s\n", VEMRA_VERSION);
    return 0;
  }
  TraceStep("main");
  RasterEngineStartup();
  MicroTilesStartup();
  RegisterFormatPictureClasses();
  TraceStep("engine-started");

  TZubApplication App(argc, argv);
  InstallQtClipboard();
  TQtMessageBoxInstaller Boxes;
  TraceStep("qt-application");

  std::vector<std::string> Args;
  const QStringList Arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < Arguments.size(); ++i) Args.push_back(Arguments.at(i).toStdString());

  const bool CtrlHeld = (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
  if (HandOverToRunningInstance(Args, CtrlHeld)) return 0;
  ReadFirstPictureAhead(Args);

  // The loop ends when the main window closes, not with the splash.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  TzubForm Form;
  TraceStep("form-created");
  Form.OnFormClosed = [] { QCoreApplication::quit(); };
  CloseOnTermination(Form);
  Form.StartInstanceServer();
  StartUp(Form, Args);
  TraceStep("startup-returned");
  App.exec();
  FinalizeApp(Form);
  WaitForReadAhead();
  return 0;
}
