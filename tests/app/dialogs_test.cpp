// The Qt dialogs on the offscreen platform, driven through their widgets and
// their entry functions: the effect dialog's sliders, edits, Proof and OK;
// resize, rotate, matrix and text dialogs; the histogram window counted on
// its worker; the EXIF information box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGroupBox>
#include <QRadioButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTableWidget>
#include <QTimer>

#include <functional>
#include <memory>

#include "exif_reader.h"
#include "runner.h"
#include "zub_bcdlg.h"
#include "zub_histogram.h"
#include "zub_info.h"
#include "zub_matrix.h"
#include "zub_params.h"
#include "zub_resize.h"
#include "zub_rotate.h"
#include "zub_text.h"

namespace {

TColor32 Rgb(int R, int G, int B) {
  return 0xFF000000u | static_cast<TColor32>(R) << 16 | static_cast<TColor32>(G) << 8 | static_cast<TColor32>(B);
}

class Dialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "dialogs_test";
      static char* argv[] = {name, nullptr};
      app_ = std::make_unique<QApplication>(argc, argv);
    }
  }
  static void TearDownTestSuite() {
    delete BCDlg();
    delete ResizeDlg();
    delete RotateDlg();
    delete MatrixDlg();
    delete TextDlg();
    delete InfoDlg();
    FreeHistogram();
    app_.reset();
  }
  // Accepts the modal dialog as soon as its loop runs.
  static void AcceptSoon(QDialog* D) {
    QTimer::singleShot(0, D, [D] { D->accept(); });
  }
  static std::unique_ptr<QApplication> app_;
};

std::unique_ptr<QApplication> Dialogs::app_;

TEST_F(Dialogs, EffectDialogSlidersEditsProofAndOk) {
  TBitmap32 work, small;
  work.SetSize(256, 128);
  work.Clear(Rgb(90, 120, 150));
  small.SetSize(128, 64);
  small.Clear(Rgb(90, 120, 150));
  int shown = 0;
  TParamDialogSetup s = ParamDialogSetupFor(3);
  s.Work = &work;
  s.Preview = &small;
  TBitmap32 document;
  s.ShowWork = [&](const std::function<void(TBitmap32*)>& Render) {
    ++shown;
    Render(&document);
  };
  TBCDlg* d = BCDlg();
  d->Prepare(s);
  EXPECT_EQ(d->windowTitle(), "Unsharp Mask (Gauss)");
  EXPECT_TRUE(d->TrackBar[1]->isHidden());
  EXPECT_TRUE(d->Edit[2]->isHidden());
  EXPECT_TRUE(d->Channels->isHidden());
  EXPECT_EQ(d->TrackBar[0]->maximum(), 400);
  EXPECT_EQ(d->TrackBar[0]->pageStep(), 40);

  d->Edit[0]->setText("1.25");
  d->EditChange(0, "1.25");
  EXPECT_EQ(d->TrackBar[0]->value(), 125);
  d->TrackBar[0]->setValue(200);
  EXPECT_EQ(d->Edit[0]->text(), "2");
  EXPECT_EQ(d->State.Remembered(0, 3), 200);

  auto before = std::make_unique<TBitmap32>();
  before->Assign(&work);
  d->ProofButton->click();
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(document.Width(), 256);  // the full-size result went to the document
  EXPECT_TRUE(d->Timer1->isActive());

  TParamValues v;
  AcceptSoon(d);
  EXPECT_TRUE(RunParamDialog(nullptr, s, v));
  EXPECT_EQ(v.P1, 200);
  // OK put the work bitmap back: the command applies the effect itself.
  EXPECT_TRUE(work.Equal(before.get()));
  EXPECT_FALSE(d->Timer1->isActive());
  EXPECT_TRUE(d->State.Saved().Empty());
}

TEST_F(Dialogs, ResizeDialogKeepsTheTypedWidth) {
  TResizeDlg* d = ResizeDlg();
  TResizeValues v;
  v.Width = 800;
  v.Height = 600;
  d->Prepare("Resize...", 1, true, v);
  EXPECT_EQ(d->ComboBox1->currentText(), "Linear");
  EXPECT_TRUE(d->UpDown3->isHidden());
  d->UpDown1->setValue(401);
  EXPECT_EQ(d->UpDown2->value(), 301);
  d->UpDown1->setValue(402);
  EXPECT_EQ(d->UpDown1->value(), 402);
  v.ResamplerIndex = 6;
  d->Prepare("Resize...", 1, true, v);
  EXPECT_EQ(d->ComboBox1->currentText(), "Mitchell");

  v.Width = 1000;
  v.Height = 800;
  d->Prepare("Size...", 3, false, v);
  EXPECT_FALSE(d->UpDown3->isHidden());
  EXPECT_TRUE(d->ComboBox1->isHidden());
  d->UpDown1->setValue(800);
  d->UpDown2->setValue(700);
  AcceptSoon(d);
  ASSERT_TRUE(d->exec() == QDialog::Accepted);
  const TResizeValues r = d->Result();
  EXPECT_EQ(r.Left, -100);
  EXPECT_EQ(r.Top, -50);
  EXPECT_EQ(r.Width, 800);

  // Through the entry function: what comes in is what the dialog starts from.
  v.Width = 64;
  v.Height = 32;
  AcceptSoon(d);
  ASSERT_TRUE(RunResizeDialog(nullptr, "New...", 2, false, v));
  EXPECT_EQ(v.Width, 64);
  EXPECT_EQ(v.Height, 32);
}

// Typed as a user types: the width's text replaced, Tab into the height,
// its text replaced (or its up arrow pressed, "Up"), Enter. Only a real
// change of a field moves the other one: confirming the height the width
// just set keeps the typed width.
TEST_F(Dialogs, ResizeDialogFollowsOnlyARealChange) {
  struct Row {
    const char* Width;
    const char* Height;  // "" leaves it, "Up" presses its up arrow
    int WantWidth, WantHeight;
  } rows[] = {{"360", "", 360, 238},
              {"360", "200", 302, 200},  // round(200 * 720 / 477)
              {"360", "Up", 361, 239}};  // round(239 * 720 / 477) = 360.75
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.Width) + " / " + r.Height);
    TResizeDlg* d = ResizeDlg();
    TResizeValues v;
    v.Width = 720;
    v.Height = 477;
    QTimer::singleShot(0, d, [d, r] {
      d->activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(d));
      d->UpDown1->setFocus();
      d->UpDown1->selectAll();
      QTest::keyClicks(d->UpDown1, r.Width);
      QTest::keyClick(d->UpDown1, Qt::Key_Tab);
      ASSERT_EQ(QApplication::focusWidget(), d->UpDown2);
      if (std::string(r.Height) == "Up")
        QTest::keyClick(d->UpDown2, Qt::Key_Up);
      else
        QTest::keyClicks(d->UpDown2, r.Height);  // Tab selected the old text
      QTest::keyClick(d->UpDown2, Qt::Key_Return);
      // A failed step leaves the dialog open; end it here.
      if (d->isVisible()) d->reject();
    });
    ASSERT_TRUE(RunResizeDialog(nullptr, "Resize...", 1, true, v));
    EXPECT_EQ(v.Width, r.WantWidth);
    EXPECT_EQ(v.Height, r.WantHeight);
  }
}

TEST_F(Dialogs, RotateDialogFreeAngle) {
  TRotateDlg* d = RotateDlg();
  EXPECT_FALSE(d->Edit1->isEnabled());
  d->Free->setChecked(true);
  EXPECT_TRUE(d->Edit1->isEnabled());
  d->Edit1->setText("12,5");
  emit d->Edit1->textEdited("12,5");
  EXPECT_EQ(d->UpDown1->value(), 125);
  EXPECT_EQ(d->Edit1->text(), "12,5");  // the typed text stays
  emit d->Edit1->textEdited("12,5x");  // no number: the angle stays
  EXPECT_EQ(d->UpDown1->value(), 125);
  EXPECT_EQ(d->Code(), 10125);
  d->UpDown1->setValue(300);
  EXPECT_EQ(d->Edit1->text(), "30.00");
  // The menu command opens it on "Right 90º" again.
  int32_t code = 0;
  AcceptSoon(d);
  ASSERT_TRUE(RunRotateDialog(nullptr, code));
  EXPECT_EQ(code, 501);
}

TEST_F(Dialogs, MatrixDialogEditsTheCommandsMatrix) {
  TCustomMatrix m;
  m.Divisor = 0;
  TLastKernel last;
  last.Kernel[0] = 5;
  last.Divisor = 16;
  TMatrixDlg* d = MatrixDlg();
  d->Prepare(m, last);
  EXPECT_EQ(m.Divisor, 1);
  EXPECT_EQ(d->DivideBy->text(), "1");
  const char* start[4] = {"0", "0", "255", "255"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d->Threshold[i]->text(), start[i]);
  emit d->Threshold[2]->textEdited("300");
  EXPECT_EQ(m.High, 255);
  emit d->Threshold[0]->textEdited("-5");
  EXPECT_EQ(m.Low, 0);
  d->StringGrid1->item(1, 2)->setText("7");
  EXPECT_EQ(m.Kernel[7], 7);
  d->StringGrid1->item(1, 2)->setText("seven");
  EXPECT_EQ(m.Kernel[7], 0);
  d->GetLastButton->click();
  EXPECT_EQ(m.Kernel[0], 5);
  EXPECT_EQ(m.Divisor, 16);
  EXPECT_EQ(d->StringGrid1->item(0, 0)->text(), "5");
  EXPECT_EQ(d->DivideBy->text(), "16");
}

TEST_F(Dialogs, TextDialogRendersOnOkAndEmptyTextGivesNoPicture) {
  TBitmap32 rendered;
  TTextDialogData data;
  data.FontName = "Arial";
  data.FontSize = 16;
  data.Foreground = Rgb(0, 0, 255);
  data.Background = Rgb(255, 255, 255);
  data.Text = "Hello";
  data.Rendered = &rendered;
  AcceptSoon(TextDlg());
  ASSERT_TRUE(TextDialog(nullptr, data));
  EXPECT_FALSE(rendered.Empty());
  EXPECT_EQ(data.Text, "Hello");

  data.Text = "   ";
  AcceptSoon(TextDlg());
  ASSERT_TRUE(TextDialog(nullptr, data));
  EXPECT_TRUE(rendered.Empty());
}

// The family chosen in the font dialog is the one drawn: the dialog names a
// family that several foundries make with its foundry, and the preview must
// still be that family's letters (the same pixels as the family drawn by its
// plain name), not fontconfig's fallback for a name it does not know.
TEST_F(Dialogs, TextDialogDrawsTheChosenFamily) {
  const std::string text = "Hamburgefonts 052";
  auto draw = [&](const std::string& Family, uint8_t Style) {
    TFont f;
    f.Name = Family;
    f.Size = 24;
    f.Style = Style;
    auto b = std::make_unique<TBitmap32>();
    ::RenderTextPreview(text, f, Rgb(0, 0, 0), 2, Rgb(255, 255, 255), *b);
    return b;
  };
  struct Row {
    const char* Chosen;  // as the font dialog names it
    const char* Family;  // as fontconfig knows it
  } rows[] = {{"P052 [urw]", "P052"}, {"Liberation Sans", "Liberation Sans"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Chosen);
    ASSERT_TRUE(QFontDatabase::families().contains(r.Chosen)) << "font not installed";
    TTextDlg* d = TextDlg();
    TTextDialogData data;
    data.FontName = "DejaVu Serif";
    data.Foreground = Rgb(0, 0, 0);
    data.Background = Rgb(255, 255, 255);
    data.Text = text;
    d->Prepare(data);
    d->GaugeBar1->setValue(2);
    QTimer::singleShot(0, d, [r] {
      auto* fonts = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(fonts, nullptr);
      fonts->setCurrentFont(QFont(r.Chosen, 24));
      fonts->accept();
    });
    d->FontButton->click();
    EXPECT_EQ(d->Font.Name, r.Family);
    // The style is the one the dialog offered first for the family.
    const auto want = draw(r.Family, d->Font.Style);
    EXPECT_TRUE(d->Preview.Equal(want.get()));
    EXPECT_FALSE(want->Equal(draw("No Such Family", d->Font.Style).get()));
  }
}

// Waits for the window's worker and for its tables to arrive.
void WaitForCounts(TzubHistogram* H) {
  QElapsedTimer t;
  t.start();
  while ((H->PendingCounts() > 0 || !H->Counts()) && t.elapsed() < 10000) QApplication::processEvents();
  QApplication::processEvents();
}

TEST_F(Dialogs, HistogramCountsOnItsWorkerAndDrawsTheSpikes) {
  TBitmap32 picture;
  picture.SetSize(60, 40);
  picture.Clear(Rgb(200, 100, 50));
  const TBitmap32* source = &picture;
  EXPECT_FALSE(HistogramExists());
  CreateHistogram(nullptr, [&] { return source; });
  ASSERT_TRUE(HistogramExists());
  TzubHistogram* h = HistogramWindow();
  ShowHistogram();
  EXPECT_TRUE(HistogramVisible());
  h->resize(500, 400);
  EXPECT_EQ(h->width(), TzubHistogram::kClientWidth);
  WaitForCounts(h);
  ASSERT_TRUE(h->Counts());
  EXPECT_EQ(h->Counts()->Red[200], 2400u);
  // After a change the next count (in the copy the last one used) sees it.
  picture.Clear(Rgb(10, 100, 50));
  RepaintHistogram();
  WaitForCounts(h);
  EXPECT_EQ(h->Counts()->Red[10], 2400u);
  EXPECT_EQ(h->Counts()->Red[200], 0u);
  picture.Clear(Rgb(200, 100, 50));

  h->CheckBox[0]->setChecked(true);  // red on
  WaitForCounts(h);
  const QImage shot = h->grab().toImage();
  EXPECT_EQ(shot.pixelColor(205, 9), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(100, 109), QColor(0, 0, 0));  // intensity flat at 0
  EXPECT_EQ(shot.pixelColor(124, 60), QColor(255, 255, 0));  // the mean marker
  EXPECT_NE(shot.pixelColor(55, 9), QColor(0, 0, 255));  // blue is off
  h->CheckBox[3]->setChecked(false);  // intensity off
  WaitForCounts(h);
  EXPECT_NE(h->grab().toImage().pixelColor(100, 109), QColor(0, 0, 0));

  // The copy kept for the next count goes with the window out of sight, and
  // with the picture.
  EXPECT_EQ(h->CopiedPixels(), 2400u);
  HideHistogram();
  EXPECT_EQ(h->CopiedPixels(), 0u);
  ShowHistogram();
  WaitForCounts(h);
  EXPECT_EQ(h->CopiedPixels(), 2400u);

  // An empty picture draws the frame only.
  TBitmap32 empty;
  source = &empty;
  RepaintHistogram();
  EXPECT_FALSE(h->Counts());
  EXPECT_EQ(h->CopiedPixels(), 0u);
  HideHistogram();
  EXPECT_FALSE(HistogramVisible());
  // Freed while a count may still run: the window waits for it.
  source = &picture;
  RepaintHistogram();
  FreeHistogram();
  EXPECT_FALSE(HistogramExists());
  EXPECT_TRUE(TRunner::WaitForAll(5000));
}

TEST_F(Dialogs, InformationBoxWithoutExif) {
  const bool had = gHasExif;
  gHasExif = false;
  TInfoDlg* d = PrepareInfoDlg(nullptr);
  EXPECT_EQ(d->windowTitle(), "EXIF Info");
  EXPECT_EQ(d->Memo1->toPlainText(), "No EXIF data found on picture file !");
  gHasExif = had;
}

}  // namespace
