// Key (or menu) to the repainted window for four one-step commands on a
// 6000 x 4000 (24 MP) photo opened through File > Open's own path in the
// real main window (1280 x 800): Negative (Shift+N), Mirror (Ctrl+M), Blur
// (Gaussian) from its menu item, and a free rotation by 15 degrees (the tag
// the rotate dialog's OK runs). Each run is timed from the key until the
// view's next paint has finished, on one thread and on every core. The same
// command runs again on its result, after the window was left idle for a
// moment, as a user looks at the result before the next command; only the
// rotation is undone between runs, or the picture would grow each time.
//   QT_QPA_PLATFORM=offscreen build-rel/bench/command_frames [runs]
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_util.h"
#include "platform_jpeg.h"
#include "qt_messagebox.h"
#include "raster_parallel.h"
#include "view_widget.h"
#include "zub_document.h"
#include "zub_main.h"
#include "zub_main_engine.h"

namespace {

// Counts the view's paint events; a paint seen here has finished once the
// event loop returns.
class TPaintCounter : public QObject {
 public:
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* E) override {
    if (E->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

void Idle(int Ms) {
  QElapsedTimer T;
  T.start();
  while (T.elapsed() < Ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
}

}  // namespace

int main(int argc, char** argv) {
  VemraTestStartup();
  const int Runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  TZubApplication App(argc, argv);
  TQtMessageBoxInstaller Boxes;

  const std::string File = BenchTempPath("vemra_command_frames.jpg");
  {
    const std::unique_ptr<TBitmap32> P = MakePhotoLike(6000, 4000, false);
    const std::vector<uint8_t> Jpeg = EncodeJpeg(P->Bits(), P->Width(), P->Height(), 90);
    FILE* F = std::fopen(File.c_str(), "wb");
    if (F == nullptr || std::fwrite(Jpeg.data(), 1, Jpeg.size(), F) != Jpeg.size()) return 1;
    std::fclose(F);
  }
  TzubForm Form;
  Form.resize(1280, 800);
  Form.show();
  QApplication::setActiveWindow(&Form);
  Idle(100);
  if (!Form.Document().OpenImageFile(File)) return 1;
  Idle(500);
  TPaintCounter Counter;
  Form.ViewWidget()->installEventFilter(&Counter);

  struct TCommand {
    const char* Name;
    std::function<void()> Run;
    bool Undo = false;
  };
  const std::vector<TCommand> Commands = {
      {"Negative (Shift+N)", [&] { QTest::keyClick(&Form, Qt::Key_N, Qt::ShiftModifier); }},
      {"Mirror (Ctrl+M)", [&] { QTest::keyClick(&Form, Qt::Key_M, Qt::ControlModifier); }},
      {"Blur (Gaussian) menu", [&] { Form.MenuItem("BlurGaussian1")->trigger(); }},
      {"Rotate 15 degrees", [&] { Form.Editor().MenuActionClick(10150); }, true},
  };
  std::printf("%-22s %8s %10s %10s %10s\n", "command", "threads", "first ms", "best ms", "median ms");
  for (const int32_t Threads : {1, ThreadCount()}) {
    TThreadLimit Limit(Threads);
    for (const TCommand& C : Commands) {
      std::vector<double> Ms;
      for (int i = 0; i < Runs; ++i) {
        const int Before = Counter.Paints;
        QElapsedTimer T;
        T.start();
        C.Run();
        while (Counter.Paints == Before && T.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents);
        Ms.push_back(static_cast<double>(T.nsecsElapsed()) / 1e6);
        Idle(500);
        if (C.Undo) {
          Form.Undo1Click(nullptr);
          Idle(500);
        }
      }
      const double First = Ms.front();
      std::sort(Ms.begin(), Ms.end());
      std::printf("%-22s %8d %10.1f %10.1f %10.1f\n", C.Name, Threads, First, Ms.front(), Ms[Ms.size() / 2]);
    }
  }
  std::remove(File.c_str());
  return 0;
}
