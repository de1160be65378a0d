// Printing offscreen into a PDF file: the page rendered back with pdftoppm
// shows the image centred at the size the zoom bar chose; the printer's
// settings survive a round trip through the settings store.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPrinterInfo>
#include <QSlider>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "../formats/save_harness.h"
#include "platform_messagebox.h"
#include "raster_image.h"
#include "regutils.h"
#include "view_widget.h"
#include "zub_print.h"
#include "zub_settings.h"

namespace fs = std::filesystem;

namespace {

class Print : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "print_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  // Qt's font database lets go of fontconfig's data only with the application.
  static void TearDownTestSuite() { app_.reset(); }
  void SetUp() override {
    char tmpl[] = "/tmp/vemra-print-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    // Smooth colours, so that the filters' differences stay far below the tolerance.
    doc.SetSize(160, 100);
    for (int32_t y = 0; y < 100; ++y)
      for (int32_t x = 0; x < 160; ++x)
        doc.SetPixel(x, y, 0xFF000000u | static_cast<uint32_t>(x * 255 / 159) << 16 |
                               static_cast<uint32_t>(y * 255 / 99) << 8 | 0x40u);
  }
  void TearDown() override { fs::remove_all(dir); }

  static std::unique_ptr<QApplication> app_;
  fs::path dir;
  TBitmap32 doc;
};
std::unique_ptr<QApplication> Print::app_;

// The settings value Name as stored.
std::string Stored(const std::string& Name) {
  auto reg = OpenSettingsKey(HKEY_CURRENT_USER, kSettingsKey, ".", false);
  std::string v;
  ReadSettingStr(reg.get(), Name, "<missing>", v, false);
  return v;
}

// The bounding box of what is not white.
QRect NonWhiteBounds(const QImage& Image) {
  int l = Image.width(), t = Image.height(), r = -1, b = -1;
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x)
      if ((Image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) {
        l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
      }
  return QRect(QPoint(l, t), QPoint(r, b));
}

// Prints Picture into the PDF file Pdf at 100 dpi through the preview
// dialog, which Look sees before "&Print" is pressed.
void PrintIntoPdf(TPrinting& Printing, TBitmap32& Picture, const std::string& Pdf,
                  const std::function<void(TPrintDlg&)>& Look) {
  Printing.Printer().setResolution(100);
  Printing.ShowPrintDlg = [&](TPrintDlg& D) {
    Look(D);
    D.OKBtnClick();
    return D.result();
  };
  Printing.RunPrintDialog = [](QPrinter&) { return true; };
  Printing.AskPdfFileName = [Pdf] { return Pdf; };
  Printing.Print1Click(Picture, "/some/folder/photo.png", 2);
}

// The PDF's page as pdftoppm renders it at 100 dpi.
QImage RenderPdf(const std::string& Pdf, const fs::path& Dir) {
  const std::string ppm = (Dir / "page").string();
  if (std::system(("pdftoppm -r 100 -png -singlefile " + Pdf + " " + ppm).c_str()) != 0) return {};
  return QImage((ppm + ".png").c_str());
}

}  // namespace

TEST_F(Print, PdfPageShowsTheImageAtTheChosenScale) {
  if (!QPrinterInfo::availablePrinters().isEmpty()) GTEST_SKIP() << "a printer is installed";
  TMessageBoxRecorder boxes;
  TScopedMessageBoxHandler guard(boxes);
  const std::string pdf = (dir / "page.pdf").string();
  TPrinting printing(nullptr);
  TPoint printed{};
  int zoom = 0;
  PrintIntoPdf(printing, doc, pdf, [&](TPrintDlg& D) {
    // Halfway between the fitted scale and the largest one.
    zoom = (D.TrackBar3()->value() + D.TrackBar3()->maximum()) / 2;
    D.TrackBar3()->setValue(zoom);
    EXPECT_FLOAT_EQ(D.Image321().Scale(), zoom / 10000.0f);
    const TBitmap32* b = D.Image321().Bitmap();
    printed = PrintedSize(printing.Printer().width(), printing.Printer().height(), b->Width(), b->Height(),
                          zoom / 10000.0f, D.Preview()->width(), D.Preview()->height());
  });
  ASSERT_TRUE(printing.WaitForJob(60000));
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Last().Text, "photo.png\nprint complete");
  EXPECT_EQ(printing.Dialog()->windowTitle().toStdString(), "Print at ");
  ASSERT_GT(printed.X, 160);  // enlarged: the preview bitmap is the image itself here

  // The preview bitmap is the image itself (below 256 on each side), so the
  // printed size follows the preview's share of the box.
  const QImage page = RenderPdf(pdf, dir);
  ASSERT_FALSE(page.isNull());
  const QRect ink = NonWhiteBounds(page);
  const int l = ink.left(), t = ink.top(), r = ink.right(), b = ink.bottom();
  EXPECT_NEAR(r - l + 1, printed.X, 1);
  EXPECT_NEAR(b - t + 1, printed.Y, 1);
  // Centred on the page (the paint area is centred within the paper's margins
  // only when they are equal, so compare with the paint area's centre).
  const QRect paint = printing.Printer().pageLayout().paintRectPixels(100);
  EXPECT_NEAR((l + r) / 2.0, paint.left() + paint.width() / 2.0, 1.5);
  EXPECT_NEAR((t + b) / 2.0, paint.top() + paint.height() / 2.0, 1.5);

  // Every pixel against the image stretched plainly (nearest source pixel of
  // the pixel's centre): a smooth gradient differs only by the filters.
  int worst = 0;
  for (int y = t + 1; y < b; ++y)
    for (int x = l + 1; x < r; ++x) {
      const int32_t sx = std::min(159, static_cast<int32_t>((x - l + 0.5) * 160 / (r - l + 1)));
      const int32_t sy = std::min(99, static_cast<int32_t>((y - t + 0.5) * 100 / (b - t + 1)));
      const TColor32 want = doc.GetPixel(sx, sy);
      const QRgb got = page.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(got) - static_cast<int>(want >> 16 & 0xFF)),
                        std::abs(qGreen(got) - static_cast<int>(want >> 8 & 0xFF)),
                        std::abs(qBlue(got) - static_cast<int>(want & 0xFF))});
    }
  EXPECT_LE(worst, 8);
  // The page carries the print bitmap's own pixels, as a printer gets them,
  // not a JPEG of them.
  const std::vector<uint8_t> bytes = ReadFileBytes(pdf);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("/DCTDecode"), std::string::npos);

  // The choice is stored after the dialog: 39 words of device mode.
  EXPECT_EQ(Stored("devmode").size(), 9u + 38u * 10u);
}

// The preview shows the whole picture inside the page box, however large
// it is, and the page gets the share of its width and height that the
// picture takes of the box. Each picture is four quadrants of their own
// colour, so a cut-off preview loses a quadrant's outer edge.
TEST_F(Print, PreviewShowsTheWholePictureAndThePageItsShare) {
  if (!QPrinterInfo::availablePrinters().isEmpty()) GTEST_SKIP() << "a printer is installed";
  const TColor32 quadrant[4] = {0xFFC00000, 0xFF00A000, 0xFF0000C0, 0xFF202020};
  for (const auto& [w, h] : {std::pair{3000, 2000}, {600, 400}, {500, 1500}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    TBitmap32 picture;
    picture.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) picture.SetPixel(x, y, quadrant[(x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0)]);
    TMessageBoxRecorder boxes;
    TScopedMessageBoxHandler guard(boxes);
    const std::string pdf = (dir / "page.pdf").string();
    TPrinting printing(nullptr);
    QRect shown;
    QSize box;
    PrintIntoPdf(printing, picture, pdf, [&](TPrintDlg& D) {
      D.show();  // as the modal loop would: showing fits the preview again
      const QImage preview = D.Preview()->grab().toImage();
      box = preview.size();
      shown = NonWhiteBounds(preview);
      // Each quadrant's colour reaches its corner of the drawn picture.
      const QPoint corner[4] = {shown.topLeft(), shown.topRight(), shown.bottomLeft(), shown.bottomRight()};
      for (int q = 0; q < 4; ++q) EXPECT_EQ(preview.pixel(corner[q]), quadrant[q]) << q;
    });
    ASSERT_TRUE(printing.WaitForJob(60000));
    // Whole, with the picture's proportions, inside the box's 6-pixel margins.
    EXPECT_GE(shown.left(), 1);
    EXPECT_GE(shown.top(), 1);
    EXPECT_LE(shown.width(), box.width() - 6);
    EXPECT_LE(shown.height(), box.height() - 6);
    EXPECT_NEAR(static_cast<double>(shown.width()) / shown.height(), static_cast<double>(w) / h, 0.03);

    const QImage page = RenderPdf(pdf, dir);
    ASSERT_FALSE(page.isNull());
    const QRect printed = NonWhiteBounds(page);
    // The box stands for the page's printable area. Within one preview
    // pixel of the share the preview shows.
    const QRect paint = printing.Printer().pageLayout().paintRectPixels(100);
    EXPECT_NEAR(static_cast<double>(printed.width()) / paint.width(),
                static_cast<double>(shown.width()) / box.width(), 1.0 / box.width());
    EXPECT_NEAR(static_cast<double>(printed.height()) / paint.height(),
                static_cast<double>(shown.height()) / box.height(), 1.0 / box.height());
  }
}

// A PDF file the user already has is replaced whole or not at all: on a disk
// that fills up half-way the old file stays byte for byte and the job says
// "print canceled"; jobs killed at random moments leave the old file or a
// whole new one, never a torn one, and nothing beside it.
TEST_F(Print, PdfFileIsReplacedWholeOrNotAtAll) {
  if (!QPrinterInfo::availablePrinters().isEmpty()) GTEST_SKIP() << "a printer is installed";
  fs::create_directory(dir / "pdfs");
  const std::string pdf = (dir / "pdfs" / "page.pdf").string();
  // Prints the document into the PDF file; the text of the one box shown.
  auto printInto = [&] {
    TMessageBoxRecorder boxes;
    TScopedMessageBoxHandler guard(boxes);
    TPrinting printing(nullptr);
    PrintIntoPdf(printing, doc, pdf, [](TPrintDlg&) {});
    printing.WaitForJob(60000);
    return boxes.Count() == 1 ? boxes.Last().Text : std::to_string(boxes.Count()) + " boxes";
  };
  ASSERT_EQ(printInto(), "photo.png\nprint complete");
  const std::vector<uint8_t> fresh = ReadFileBytes(pdf);
  // A whole page: as long as an uninterrupted print (only its time stamp
  // differs) and ending in the PDF's end mark.
  auto whole = [&](const std::vector<uint8_t>& B) {
    static const std::string kEnd = "%%EOF\n";
    return B.size() == fresh.size() && std::equal(kEnd.rbegin(), kEnd.rend(), B.rbegin());
  };
  ASSERT_TRUE(whole(fresh));
  const std::vector<uint8_t> older(fresh.size() * 6 / 7, 'o');

  WriteFileBytes(pdf, older);
  save_harness::TChildLimits full;
  full.FileSizeBytes = static_cast<int64_t>(fresh.size() / 2);
  const save_harness::TChildResult r =
      save_harness::RunInChild([&] { return printInto() == "photo.png\nprint canceled"; }, full);
  EXPECT_TRUE(r.Succeeded()) << r.ExitCode << " " << r.Signal;
  EXPECT_EQ(ReadFileBytes(pdf), older);
  EXPECT_EQ(FolderEntries((dir / "pdfs").string()), std::vector<std::string>{"page.pdf"});

  std::string failure;
  const int cut = save_harness::KillSaversAtRandomMoments(
      pdf, older, whole, [&](const std::string&) { printInto(); }, 30, 40000, failure);
  EXPECT_EQ(failure, "");
  EXPECT_GT(cut, 0);

  // A file that may not be replaced stays as it was, and the job says so.
  WriteFileBytes(pdf, older);
  fs::permissions(pdf, fs::perms::owner_read);
  EXPECT_EQ(printInto(), "photo.png\nprint canceled");
  EXPECT_EQ(ReadFileBytes(pdf), older);
  fs::permissions(pdf, fs::perms::owner_read | fs::perms::owner_write);
  // The printer stored as grey gives a grey page.
  QPrinter grey(QPrinter::HighResolution);
  grey.setResolution(100);
  grey.setColorMode(QPrinter::GrayScale);
  WritePrinterChoice(CurrentPrinterChoice(grey));
  ASSERT_EQ(printInto(), "photo.png\nprint complete");
  const QImage page = RenderPdf(pdf, dir);
  int inked = 0;
  for (int y = 0; y < page.height(); ++y)
    for (int x = 0; x < page.width(); ++x) {
      const QRgb p = page.pixel(x, y);
      inked += (p & 0xFFFFFF) != 0xFFFFFF;
      ASSERT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << x << "," << y;
    }
  EXPECT_GT(inked, 1000);
}

TEST_F(Print, PrinterChoiceRoundTrip) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setPageSize(QPageSize(QPageSize::A3));
  printer.setCopyCount(3);
  printer.setResolution(300);
  printer.setColorMode(QPrinter::GrayScale);
  const TPrinterChoice stored = CurrentPrinterChoice(printer);
  WritePrinterChoice(stored);
  EXPECT_EQ(Stored("devmode"), stored.DevMode);

  QPrinter fresh(QPrinter::HighResolution);
  const TPrinterChoice read = ReadPrinterChoice(CurrentPrinterChoice(fresh));
  EXPECT_EQ(read.DevMode, stored.DevMode);
  ApplyPrinterChoice(read, fresh);
  EXPECT_EQ(fresh.pageLayout().orientation(), QPageLayout::Landscape);
  EXPECT_EQ(fresh.pageLayout().pageSize().id(), QPageSize::A3);
  EXPECT_EQ(fresh.copyCount(), 3);
  EXPECT_EQ(fresh.resolution(), 300);
  EXPECT_EQ(fresh.colorMode(), QPrinter::GrayScale);
  EXPECT_EQ(CurrentPrinterChoice(fresh).DevMode, stored.DevMode);
  WritePrinterChoice({"driver", "device", "port", stored.DevMode});
  const TPrinterChoice names = ReadPrinterChoice({});
  EXPECT_EQ(names.Driver + names.Device + names.Port, "driverdeviceport");

  // A stored text with only the leading words changes only those: the
  // orientation word (bytes 44..47) back to portrait, the paper kept.
  TDevMode m = ReadDevMode(fresh);
  m.Set16(TDevMode::Orientation, TDevMode::kPortrait);
  const std::string full = EncodeDevMode(m.Bytes.data(), m.Bytes.size());
  ApplyPrinterChoice({"", "", "", full.substr(0, 12 * 10 - 1)}, fresh);
  EXPECT_EQ(fresh.pageLayout().orientation(), QPageLayout::Portrait);
  EXPECT_EQ(fresh.pageLayout().pageSize().id(), QPageSize::A3);
}

// Print Setup opens on the page printing uses, the one kept by an earlier
// run, so that its OK changes only what the user changed; its choice is
// written only when confirmed.
TEST_F(Print, SetupOpensOnTheKeptPageAndWritesOnlyWhenConfirmed) {
  QPageLayout::Orientation Shown = QPageLayout::Portrait;
  QPageSize::PageSizeId ShownPaper = QPageSize::Custom;
  const auto Setup = [&](int Copies, bool Ok) {
    return [&, Copies, Ok](QPrinter& P) {
      Shown = P.pageLayout().orientation();
      ShownPaper = P.pageLayout().pageSize().id();
      P.setCopyCount(Copies);
      return Ok;
    };
  };
  TPrinting first(nullptr);
  first.RunPrinterSetup = Setup(5, false);
  first.PrintSetup1Click();
  EXPECT_EQ(Stored("devmode"), "<missing>");

  QPrinter earlier(QPrinter::HighResolution);
  earlier.setPageOrientation(QPageLayout::Landscape);
  earlier.setPageSize(QPageSize(QPageSize::A3));
  WritePrinterChoice(CurrentPrinterChoice(earlier));
  const std::string Kept = Stored("devmode");
  TPrinting next(nullptr);  // a new start: the printer object is portrait again
  ASSERT_EQ(next.Printer().pageLayout().orientation(), QPageLayout::Portrait);
  for (const bool Ok : {false, true}) {
    SCOPED_TRACE(Ok ? "OK" : "Cancel");
    next.RunPrinterSetup = Setup(4, Ok);
    next.PrintSetup1Click();
    EXPECT_EQ(Shown, QPageLayout::Landscape);
    EXPECT_EQ(ShownPaper, QPageSize::A3);
    if (!Ok) EXPECT_EQ(Stored("devmode"), Kept);
  }
  TDevMode m;
  DecodeDevMode(Stored("devmode"), m.Bytes.data(), m.Bytes.size());
  EXPECT_EQ(m.Get16(TDevMode::Copies), 4);
  EXPECT_EQ(m.Get16(TDevMode::Orientation), TDevMode::kLandscape);
  EXPECT_EQ(m.Get16(TDevMode::PaperSize), TDevMode::kPaperA3);
}
