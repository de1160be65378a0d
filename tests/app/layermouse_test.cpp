// Floating pictures under the mouse of the main window, offscreen: a pasted
// picture or a text dragged from inside moves by the drag and is stamped
// where it went; a right click on it opens its menu, whose commands work
// through that menu; every handle of the selection frame answers at the
// centre where it is drawn.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>
#include <functional>
#include <vector>

#include "form_fixture.h"
#include "img_png.h"
#include "raster_image_view.h"
#include "raster_layers.h"
#include "view_widget.h"
#include "zub_document.h"
#include "zub_main.h"
#include "zub_main_engine.h"
#include "zub_text.h"

namespace {

TColor32 Pattern(int32_t X, int32_t Y) {
  return 0xFF000000u | static_cast<uint32_t>(X * 7 & 0xFF) << 16 | static_cast<uint32_t>(Y * 5 & 0xFF) << 8 |
         static_cast<uint32_t>((X ^ Y) * 3 & 0xFF);
}

TFloatRect Shifted(const TFloatRect& R, float Dx, float Dy) {
  return TFloatRect{R.Left + Dx, R.Top + Dy, R.Right + Dx, R.Bottom + Dy};
}

class LayerMouse : public TFormTest {
 protected:
  void SetUp() override {
    TFormTest::SetUp();
    Form->resize(900, 700);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    Original.SetSize(320, 240);
    for (int32_t y = 0; y < 240; ++y)
      for (int32_t x = 0; x < 320; ++x) Original.SetPixel(x, y, Pattern(x, y));
    SavePNGFromBitmap32(Dir + "/pic.png", &Original, false, false, 0, 9);
    ASSERT_TRUE(Form->Document().OpenImageFile(Dir + "/pic.png"));
    Trigger("N11");
  }
  TEditor& E() const { return Form->Editor(); }
  TBitmap32& Shown() const { return *Form->Image321().Bitmap(); }
  TBitmapLayer* Selected() const { return dynamic_cast<TBitmapLayer*>(E().gSelectedLayer.get()); }
  void Trigger(const char* Item) const { Form->MenuItem(Item)->trigger(); }
  // The view's point over bitmap point (X, Y).
  QPoint At(float X, float Y) const {
    const TPoint P = Form->Image321().BitmapToControl(TPoint{static_cast<int32_t>(X), static_cast<int32_t>(Y)});
    return QPoint(P.X, P.Y);
  }
  QPoint CentreOf(const TFloatRect& R) const { return At((R.Left + R.Right) / 2, (R.Top + R.Bottom) / 2); }
  // A mouse event as the window system hands it to the view, Held being the
  // buttons down after it.
  void Send(QEvent::Type Type, QPoint P, Qt::MouseButton Button, Qt::MouseButtons Held) const {
    QWidget* W = Form->ViewWidget();
    QMouseEvent Event(Type, QPointF(P), QPointF(W->mapToGlobal(P)), Button, Held, Qt::NoModifier);
    QApplication::sendEvent(W, &Event);
  }
  void Drag(QPoint From, QPoint To) const {
    Send(QEvent::MouseButtonPress, From, Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseMove, (From + To) / 2, Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseMove, To, Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, To, Qt::LeftButton, Qt::NoButton);
  }
  // Clicks the items of Path, one menu into the next, starting in Menu.
  static void Choose(QMenu* Menu, const std::vector<QString>& Path) {
    for (const QString& Caption : Path) {
      ASSERT_NE(Menu, nullptr);
      ASSERT_TRUE(QTest::qWaitFor([&] { return Menu->isVisible(); })) << Caption.toStdString();
      QAction* Item = nullptr;
      for (QAction* A : Menu->actions())
        if (A->text() == Caption) Item = A;
      ASSERT_NE(Item, nullptr) << Caption.toStdString();
      QTest::mouseClick(Menu, Qt::LeftButton, Qt::NoModifier, Menu->actionGeometry(Item).center());
      Menu = Item->menu();
    }
  }
  // The Text tool writes Text where the view's point P is.
  void WriteText(QPoint P, const char* Text) const {
    Form->ToolButton(3)->click();
    QTimer::singleShot(0, [Text] {
      auto* D = dynamic_cast<TTextDlg*>(QApplication::activeModalWidget());
      if (D == nullptr) return;
      D->Memo1->setPlainText(Text);
      D->accept();
    });
    Send(QEvent::MouseButtonPress, P, Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, P, Qt::LeftButton, Qt::NoButton);
  }
  // Pixels of the document under Layer's place that are not Picture blended
  // over the original with the picture's alpha and master alpha (within 1 per
  // channel, for the rounding).
  int64_t StampMisses(const TBitmap32& Picture, const TFloatRect& Place) const {
    const int32_t Left = static_cast<int32_t>(Place.Left), Top = static_cast<int32_t>(Place.Top);
    const uint32_t Master = Picture.MasterAlpha();
    int64_t Misses = 0;
    for (int32_t y = 0; y < Picture.Height(); ++y)
      for (int32_t x = 0; x < Picture.Width(); ++x) {
        const TColor32 C = Picture.GetPixel(x, y), O = Original.GetPixel(Left + x, Top + y);
        const TColor32 D = Shown().GetPixel(Left + x, Top + y);
        const uint32_t A = (C >> 24) * Master / 255;
        for (int Shift = 0; Shift < 24; Shift += 8) {
          const int Want = static_cast<int>((((C >> Shift) & 0xFF) * A + ((O >> Shift) & 0xFF) * (255 - A)) / 255);
          if (std::abs(static_cast<int>((D >> Shift) & 0xFF) - Want) > 1) {
            ++Misses;
            break;
          }
        }
      }
    return Misses;
  }
  int64_t ChangedPixels() const {
    int64_t N = 0;
    for (int32_t y = 0; y < 240; ++y)
      for (int32_t x = 0; x < 320; ++x) N += (Shown().GetPixel(x, y) | 0xFF000000u) != Original.GetPixel(x, y);
    return N;
  }

  TBitmap32 Original;
};

}  // namespace

// Pasted into the place it was copied from (then viewed 2:1), pasted without
// a selection (the top-left corner, zoomed 2:1), written by the Text tool,
// and pasted then deselected (the press selects it and the same drag moves
// it, viewed 1:2): each picture stays where it is when the zoom changes,
// follows a drag from its inside exactly, carries its frame along, is
// stamped there, and Undo brings the document back.
TEST_F(LayerMouse, PictureDraggedFromInsideMovesByTheDragAndIsStampedThere) {
  enum TMake { CopiedSelection, NoSelection, Text, Deselected };
  struct TRow {
    TMake Make;
    float Made, Viewed;  // the zoom when the picture is made, and when dragged
    QPoint Drag;         // in view pixels
    TFloatRect Place;  // where the picture appears, in the document
  };
  const TRow Rows[] = {
      {CopiedSelection, 1, 2, QPoint(38, 24), TFloatRect{30, 20, 90, 60}},
      {NoSelection, 2, 2, QPoint(48, 22), TFloatRect{0, 0, 60, 40}},
      {Text, 1, 1, QPoint(-25, 18), TFloatRect{100, 120, 0, 0}},
      {Deselected, 1, 0.5, QPoint(70, 45), TFloatRect{0, 0, 60, 40}},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(static_cast<int>(Row.Make));
    const auto Zoom = [&](float Scale) { Trigger(Scale == 2 ? "N210" : Scale == 1 ? "N11" : "N12"); };
    Zoom(Row.Made);
    switch (Row.Make) {
      case CopiedSelection:
        Drag(At(30, 20), At(90, 60));
        Trigger("Copy1");
        Trigger("PasteAsFloatingSelection1");
        break;
      case NoSelection:
      case Deselected:
        Trigger("SelectNone1");
        Trigger("PasteAsFloatingSelection1");
        break;
      case Text: WriteText(At(100, 120), "Moving words"); break;
    }
    TBitmapLayer* Layer = Selected();
    ASSERT_NE(Layer, nullptr);
    const TFloatRect Was = Layer->Location();
    EXPECT_EQ(Was.Left, Row.Place.Left);
    EXPECT_EQ(Was.Top, Row.Place.Top);
    if (Row.Make != Text) EXPECT_EQ(Was, Row.Place);
    if (Row.Make == Deselected) Trigger("SelectNone1");
    Zoom(Row.Viewed);
    EXPECT_EQ(Layer->Location(), Was);

    Drag(CentreOf(Was), CentreOf(Was) + Row.Drag);
    ASSERT_EQ(Selected(), Layer);
    const TFloatRect Now = Shifted(Was, Row.Drag.x() / Row.Viewed, Row.Drag.y() / Row.Viewed);
    EXPECT_EQ(Layer->Location(), Now);
    ASSERT_TRUE(E().gSelection);
    EXPECT_EQ(E().gSelection->Location(), Now);

    TBitmap32 Picture;
    Picture.Assign(Layer->Bitmap());
    // The copy holds the original's pixels of the place it came from.
    for (int32_t y = 0; Row.Make == CopiedSelection && y < Picture.Height(); ++y)
      for (int32_t x = 0; x < Picture.Width(); ++x)
        ASSERT_EQ(Picture.GetPixel(x, y) | 0xFF000000u, Original.GetPixel(30 + x, 20 + y)) << x << "," << y;
    Trigger("Stamp1");
    EXPECT_EQ(StampMisses(Picture, Now), 0);
    EXPECT_GT(ChangedPixels(), 0);
    Trigger("SelectNone1");
    Trigger("Undo1");
    EXPECT_EQ(ChangedPixels(), 0);
    Trigger("DeleteAll1");
  }
}

// A right click on the selected picture opens the layer menu, also on its
// last column, which no handle covers and the frame does not answer; each
// command chosen in it acts on the picture, and the press that opened the
// menu drags nothing once the menu is gone.
TEST_F(LayerMouse, RightClickOnAPictureOpensItsMenuWhoseCommandsWork) {
  Drag(At(30, 20), At(90, 60));
  // A plain selection's frame has no picture commands: the points menu opens.
  Send(QEvent::MouseButtonPress, At(60, 40), Qt::RightButton, Qt::RightButton);
  EXPECT_EQ(QApplication::activePopupWidget(), Form->SubMenu("PopupMenu4"));
  Form->SubMenu("PopupMenu4")->close();
  Trigger("Copy1");
  struct TRow {
    std::vector<QString> Path;
    std::function<void(TBitmapLayer*)> Before, Check;
    bool LastColumn = false;  // clicked there rather than at the centre
  };
  TBitmapLayer* Other = nullptr;
  const TRow Rows[] = {
      {{"&Stamp"},
       [&](TBitmapLayer* A) { Drag(CentreOf(A->Location()), CentreOf(A->Location()) + QPoint(100, 80)); },
       [&](TBitmapLayer* A) {
         EXPECT_EQ(A->Location(), (TFloatRect{130, 100, 190, 140}));
         EXPECT_EQ(StampMisses(*A->Bitmap(), A->Location()), 0);
       }},
      {{"Bring to &Front"},
       [&](TBitmapLayer* A) {
         // A second picture over the first, moved aside; a click selects the first again.
         // A step done on the first picture is not undone on the second.
         Trigger("NegativeImage1");
         Trigger("PasteAsFloatingSelection1");
         Other = Selected();
         emit Form->SubMenu("Edit1")->aboutToShow();
         EXPECT_FALSE(Form->MenuItem("Undo1")->isEnabled());
         Drag(CentreOf(Other->Location()), CentreOf(Other->Location()) + QPoint(150, 0));
         Send(QEvent::MouseButtonPress, CentreOf(A->Location()), Qt::LeftButton, Qt::LeftButton);
         Send(QEvent::MouseButtonRelease, CentreOf(A->Location()), Qt::LeftButton, Qt::NoButton);
         ASSERT_EQ(Selected(), A);
         ASSERT_LT(A->Index(), Other->Index());
       },
       [&](TBitmapLayer* A) {
         EXPECT_GT(A->Index(), Other->Index());
         EXPECT_GT(E().gSelection->Index(), A->Index());
       }},
      {{"&Unstretch"},
       [&](TBitmapLayer* A) {
         const QPoint Corner = At(A->Location().Right, A->Location().Bottom);
         Drag(Corner, Corner + QPoint(20, 10));
         ASSERT_EQ(A->Location(), (TFloatRect{30, 20, 110, 70}));
       },
       [&](TBitmapLayer* A) { EXPECT_EQ(A->Location(), (TFloatRect{30, 20, 90, 60})); }},
      {{"Transparency", "&Invert"},
       nullptr,
       [&](TBitmapLayer* A) {
         int64_t Opaque = 0;
         for (size_t i = 0; i < A->Bitmap()->PixelCount(); ++i) Opaque += (A->Bitmap()->Bits()[i] >> 24) != 0;
         EXPECT_EQ(Opaque, 0);
       },
       true},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.Path.back().toStdString());
    Trigger("DeleteAll1");
    Drag(At(30, 20), At(90, 60));
    Trigger("PasteAsFloatingSelection1");
    TBitmapLayer* A = Selected();
    ASSERT_NE(A, nullptr);
    if (Row.Before) Row.Before(A);
    const TFloatRect L = A->Location();
    const QPoint Inside = Row.LastColumn ? At(L.Right - 1, L.Top + 10) : CentreOf(L);
    Send(QEvent::MouseButtonPress, Inside, Qt::RightButton, Qt::RightButton);
    ASSERT_EQ(QApplication::activePopupWidget(), Form->SubMenu("PopupMenu1"));
    EXPECT_EQ(Form->Image321().Layers()->MouseListener(), nullptr);  // the popup ended the press
    Choose(Form->SubMenu("PopupMenu1"), Row.Path);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }));
    const TFloatRect After = A->Location();
    Send(QEvent::MouseMove, Inside + QPoint(31, 17), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(A->Location(), After);
    Row.Check(A);
    Trigger("SelectNone1");
    while (E().gImageUndo->CanUndo()) Trigger("Undo1");
  }
}

// A selection dragged from (50, 60) to (250, 200) at 1:1: each of the eight
// handles, pressed at the centre where it is drawn (the corners and sides
// lie on Right and Bottom) and dragged by (+50, +30), moves its edges by that.
TEST_F(LayerMouse, EveryHandleResizesTheFrameFromItsDrawnCentre) {
  struct TRow {
    const char* Handle;
    int Column, Line;  // 0 left / top, 1 middle, 2 right / bottom
    float Left, Top, Right, Bottom;  // how much of the drag each edge takes
  };
  const TRow Rows[] = {
      {"top-left", 0, 0, 1, 1, 0, 0},    {"top", 1, 0, 0, 1, 0, 0},         {"top-right", 2, 0, 0, 1, 1, 0},
      {"left", 0, 1, 1, 0, 0, 0},        {"right", 2, 1, 0, 0, 1, 0},       {"bottom-left", 0, 2, 1, 0, 0, 1},
      {"bottom", 1, 2, 0, 0, 0, 1},      {"bottom-right", 2, 2, 0, 0, 1, 1},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.Handle);
    Trigger("SelectNone1");
    Drag(At(50, 60), At(250, 200));
    ASSERT_TRUE(E().gSelection);
    const TFloatRect R = E().gSelection->Location();
    const QPoint TL = At(50, 60), BR = At(250, 200);
    ASSERT_EQ(R, (TFloatRect{float(TL.x()), float(TL.y()), float(BR.x()), float(BR.y())}));
    const int Xs[3] = {TL.x(), (TL.x() + BR.x()) / 2, BR.x()}, Ys[3] = {TL.y(), (TL.y() + BR.y()) / 2, BR.y()};
    const QPoint Handle(Xs[Row.Column], Ys[Row.Line]);
    // The handle is drawn there: its white inside.
    Form->ViewWidget()->repaint();
    EXPECT_EQ(Form->ViewWidget()->WindowImage().pixel(Handle) | 0xFF000000u, 0xFFFFFFFFu);
    Drag(Handle, Handle + QPoint(50, 30));
    EXPECT_EQ(E().gSelection->Location(), (TFloatRect{R.Left + 50 * Row.Left, R.Top + 30 * Row.Top,
                                                      R.Right + 50 * Row.Right, R.Bottom + 30 * Row.Bottom}));
  }
}

