// Frames of the real main window on an X server: a 6000 x 4000 (24 MP)
// picture scrolled across and zoomed in and out in a 1920 x 1080 window.
// Each frame is one view change and the synchronous repaint of the view
// widget; the program prints the median and the slowest frame of each run.
// Run it under an X server: xvfb-run -s "-screen 0 1920x1080x24" window_frames
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench_util.h"
#include "qt_messagebox.h"
#include "raster_image_view.h"
#include "test_startup.h"
#include "view_widget.h"
#include "zub_main.h"
#include "zub_main_engine.h"

namespace {

void Report(const char* Name, std::vector<double> Ms) {
  std::sort(Ms.begin(), Ms.end());
  std::printf("%-28s frames %4zu  median %7.2f ms  slowest %7.2f ms  %s\n", Name, Ms.size(), Ms[Ms.size() / 2],
              Ms.back(), Ms.back() < 16.0 ? "(every frame under 16 ms)" : "(over 16 ms)");
}

template <class F>
std::vector<double> Frames(TzubForm& Form, int Count, F&& Step) {
  std::vector<double> Ms;
  QElapsedTimer T;
  for (int i = 0; i < Count; ++i) {
    T.start();
    Step(i);
    Form.ViewWidget()->repaint();
    QApplication::processEvents();
    Ms.push_back(static_cast<double>(T.nsecsElapsed()) / 1e6);
  }
  return Ms;
}

}  // namespace

int main(int argc, char** argv) {
  VemraTestStartup();
  TZubApplication App(argc, argv);
  TzubForm Form;
  Form.resize(1920, 1080);
  Form.show();
  QApplication::processEvents();
  TImgView32& View = Form.Image321();
  View.Bitmap()->Assign(MakeNoisyTestCard(6000, 4000).get());
  Form.Editor().gFileName = "untitled";
  Form.SetScale(1.0f);
  QApplication::processEvents();
  // Warm the buffer and the window's image.
  Frames(Form, 5, [](int) {});

  Report("scroll at 1:1", Frames(Form, 300, [&](int i) { View.Scroll(i % 100 < 50 ? 37.0f : -37.0f, 21.0f); }));
  Form.SetScale(0.5f);
  Report("scroll at 1:2", Frames(Form, 200, [&](int i) { View.Scroll(i % 100 < 50 ? 37.0f : -37.0f, 11.0f); }));
  Form.SetScale(2.0f);
  Report("scroll at 2:1", Frames(Form, 200, [&](int i) { View.Scroll(i % 100 < 50 ? 37.0f : -37.0f, 11.0f); }));
  Form.SetScale(1.0f);
  Report("zoom in and out (wheel)", Frames(Form, 120, [&](int i) {
           Form.WheelZoom(i % 12 < 6 ? 120 : -120, true, 960, 500);
         }));
  Form.SetScale(0.25f);
  Report("zoom steps from 1:4", Frames(Form, 120, [&](int i) {
           Form.SetScale(i % 12 < 6 ? ZoomInScale(View.Scale()) : ZoomOutScale(View.Scale()));
         }));
  return 0;
}
