// The Qt window of a view control on the offscreen platform: it shows the
// control's buffer, forwards a mouse drag to the layers, and turns an
// exception from a handler into the application's message box; an animated
// GIF plays in a preview control on the window's own timers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>

#include <memory>
#include <set>

#include "gif_painter.h"
#include "platform_messagebox.h"
#include "raster_image.h"
#include "raster_layers.h"
#include "view_widget.h"

namespace {

class ViewWidget : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "viewwidget_test";
      static char* argv[] = {name, nullptr};
      app_ = std::make_unique<QApplication>(argc, argv);
    }
  }
  // Before static destruction, while Qt's own globals still stand.
  static void TearDownTestSuite() { app_.reset(); }

  static void Send(QWidget& W, QEvent::Type Type, QPoint P, Qt::MouseButton Button, Qt::MouseButtons Buttons) {
    QMouseEvent e(Type, QPointF(P), QPointF(W.mapToGlobal(P)), Button, Buttons, Qt::NoModifier);
    QApplication::sendEvent(&W, &e);
  }

  static std::unique_ptr<QApplication> app_;
};

std::unique_ptr<QApplication> ViewWidget::app_;

// A picture where every pixel differs, alpha varying too: the window shows
// it opaque.
void FillPattern(TBitmap32& B) {
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x)
      B.SetPixel(x, y, static_cast<TColor32>(((x * 53 + y) & 0xFF) << 24 | (x * 7 & 0xFF) << 16 | (y * 9 & 0xFF) << 8 | ((x + y) & 0xFF)));
}

}  // namespace

TEST_F(ViewWidget, ShowsTheBitmapAsOpaquePixels) {
  TViewWidget w;
  w.resize(40, 30);
  TImage32 img;
  w.SetControl(&img);
  img.Bitmap()->SetSize(40, 30);
  FillPattern(*img.Bitmap());
  w.show();
  QApplication::processEvents();
  const QImage shot = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.width(), 40);
  ASSERT_EQ(shot.height(), 30);
  int wrong = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      if (shot.pixel(x, y) != (img.Bitmap()->GetPixel(x, y) | 0xFF000000u)) ++wrong;
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(img.Width(), 40);
}

TEST_F(ViewWidget, MouseDragMovesARubberBand) {
  TViewWidget w;
  w.resize(100, 80);
  auto img = std::make_unique<TImage32>();
  w.SetControl(img.get());
  img->Bitmap()->SetSize(100, 80);
  img->Bitmap()->Clear(0xFF336699u);
  auto* band = img->Layers()->Add<TRubberbandLayer>();
  band->SetLocation(TFloatRect{10, 10, 50, 40});
  w.show();
  QApplication::processEvents();

  // Hovering over the right side shows the horizontal sizing cursor.
  Send(w, QEvent::MouseMove, QPoint(49, 25), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(w.cursor().shape(), Qt::SizeHorCursor);

  Send(w, QEvent::MouseButtonPress, QPoint(30, 25), Qt::LeftButton, Qt::LeftButton);
  Send(w, QEvent::MouseMove, QPoint(35, 28), Qt::NoButton, Qt::LeftButton);
  Send(w, QEvent::MouseMove, QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
  Send(w, QEvent::MouseButtonRelease, QPoint(40, 30), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(band->Location(), (TFloatRect{20, 15, 60, 45}));
  EXPECT_FALSE(w.MouseCapture());

  // The window shows the frame where it went: a white corner handle at
  // (20, 15) and the bitmap where the old corner was.
  QApplication::processEvents();
  const QImage shot = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(shot.pixel(20, 15), 0xFFFFFFFFu);
  EXPECT_EQ(shot.pixel(10, 10), 0xFF336699u);

  // A release the widget never saw (outside it): the next move without a
  // button ends the drag where the mouse last was.
  Send(w, QEvent::MouseButtonPress, QPoint(30, 25), Qt::LeftButton, Qt::LeftButton);
  Send(w, QEvent::MouseMove, QPoint(35, 25), Qt::NoButton, Qt::LeftButton);
  Send(w, QEvent::MouseMove, QPoint(45, 35), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(band->Location(), (TFloatRect{25, 15, 65, 45}));
  EXPECT_FALSE(w.MouseCapture());

  // The control may go before the widget.
  img.reset();
  Send(w, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::NoButton);
  w.repaint();
}

TEST_F(ViewWidget, HandlerExceptionsBecomeAMessageBox) {
  TMessageBoxRecorder recorder;
  TScopedMessageBoxHandler scope(recorder);
  TViewWidget w;
  w.resize(20, 20);
  TImage32 img;
  w.SetControl(&img);
  img.OnMouseDown = [](TCustomImage32*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer*) {
    throw Exception("Source bitmap is nil");
  };
  Send(w, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
  ASSERT_EQ(recorder.Count(), 1u);
  EXPECT_EQ(recorder.Last().Text, "Source bitmap is nil.");
  EXPECT_EQ(recorder.Last().Flags & MB_ICONMASK, MB_ICONSTOP);
  EXPECT_FALSE(w.MouseCapture());  // the press captured; the failure released it
}

TEST_F(ViewWidget, AnimatedGifPlaysInAPreview) {
  // Red, then green, 3 units (36 ms) each, looping forever.
  TGIFImage gif;
  gif.GlobalColorMap().Add({255, 0, 0});
  gif.GlobalColorMap().Add({0, 255, 0});
  for (uint8_t i = 0; i < 2; ++i) {
    TGIFSubImage* p = gif.Images().Item(gif.Add(std::make_unique<TGIFSubImage>(&gif)));
    if (i == 0) p->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(p));
    p->Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(p));
    p->GraphicControlExtension()->SetDelay(3);
    p->SetBounds(0, 0, 8, 8);
    std::fill(p->Data(), p->Data() + p->DataSize(), i);
  }
  TViewWidget w;
  w.resize(30, 20);
  TGIFPreview preview;
  w.SetControl(&preview);
  preview.SetImage(&gif);
  w.show();
  // Both frames reach the window within a few delays, on its own timers.
  std::set<QRgb> seen;
  QElapsedTimer clock;
  clock.start();
  while (seen.size() < 2 && clock.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    const QRgb c = w.grab().toImage().convertToFormat(QImage::Format_RGB32).pixel(15, 10);
    if (c == 0xFFFF0000u || c == 0xFF00FF00u) seen.insert(c);
  }
  EXPECT_EQ(seen.size(), 2u);
  w.SetControl(nullptr);
  preview.SetImage(nullptr);
  EXPECT_EQ(gif.PainterCount(), 0);
}
