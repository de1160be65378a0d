// Printing. The preview box stands for the page: its proportions are the
// page's, and the image later takes the same share of the page as the
// preview bitmap takes of the box at the zoom bar's scale.
#include "zub_print.h"

#include <QBuffer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>

#include "img_viewcoords.h"
#include "platform_savefile.h"
#include "raster_filterindex.h"
#include "raster_image.h"
#include "regutils.h"
#include "runner.h"
#include "utilities.h"
#include "view_widget.h"
#include "zub_settings.h"

// ---- The device-mode block over the printer object ---------------------------------

namespace {

struct TPaperCode {
  int16_t Code;
  QPageSize::PageSizeId Id;
};
// The paper codes the block has always used for the common sizes.
constexpr TPaperCode kPapers[] = {{TDevMode::kPaperLetter, QPageSize::Letter},
                                  {TDevMode::kPaperLegal, QPageSize::Legal},
                                  {TDevMode::kPaperA3, QPageSize::A3},
                                  {TDevMode::kPaperA4, QPageSize::A4},
                                  {TDevMode::kPaperA5, QPageSize::A5}};

int16_t Clamp16(double V) { return static_cast<int16_t>(std::clamp(V, 0.0, 32767.0)); }

}  // namespace

TDevMode ReadDevMode(QPrinter& Printer) {
  TDevMode m;
  m.SetText(TDevMode::DeviceName, Printer.printerName().toStdString());
  m.Set16(TDevMode::SpecVersion, 0x0401);
  m.Set16(TDevMode::Size, static_cast<int16_t>(TDevMode::kSize));
  const QPageLayout layout = Printer.pageLayout();
  m.Set16(TDevMode::Orientation,
          layout.orientation() == QPageLayout::Landscape ? TDevMode::kLandscape : TDevMode::kPortrait);
  int16_t code = 0;
  for (const TPaperCode& p : kPapers)
    if (p.Id == layout.pageSize().id()) code = p.Code;
  m.Set16(TDevMode::PaperSize, code);
  const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);  // portrait sides
  m.Set16(TDevMode::PaperWidth, Clamp16(std::round(mm.width() * 10)));
  m.Set16(TDevMode::PaperLength, Clamp16(std::round(mm.height() * 10)));
  m.Set16(TDevMode::Scale, 100);
  m.Set16(TDevMode::Copies, Clamp16(Printer.copyCount()));
  m.Set16(TDevMode::PrintQuality, Clamp16(Printer.resolution()));
  m.Set16(TDevMode::YResolution, Clamp16(Printer.resolution()));
  m.Set16(TDevMode::Color, Printer.colorMode() == QPrinter::Color ? 2 : 1);
  m.Set16(TDevMode::Duplex, Printer.duplex() == QPrinter::DuplexLongSide    ? 2
                            : Printer.duplex() == QPrinter::DuplexShortSide ? 3
                                                                            : 1);
  m.Set16(TDevMode::Collate, Printer.collateCopies() ? 1 : 0);
  m.SetText(TDevMode::FormName, layout.pageSize().name().toStdString());
  return m;
}

void ApplyDevMode(const TDevMode& Mode, QPrinter& Printer) {
  // Fields that are out of range for the printer object are left as they are.
  const int16_t orientation = Mode.Get16(TDevMode::Orientation);
  if (orientation == TDevMode::kPortrait || orientation == TDevMode::kLandscape)
    Printer.setPageOrientation(orientation == TDevMode::kLandscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  const int16_t code = Mode.Get16(TDevMode::PaperSize);
  bool known = false;
  for (const TPaperCode& p : kPapers)
    if (p.Code == code) {
      Printer.setPageSize(QPageSize(p.Id));
      known = true;
    }
  const int16_t w = Mode.Get16(TDevMode::PaperWidth), l = Mode.Get16(TDevMode::PaperLength);
  if (!known && w >= 100 && l >= 100)
    Printer.setPageSize(QPageSize(QSizeF(w / 10.0, l / 10.0), QPageSize::Millimeter));
  const int16_t copies = Mode.Get16(TDevMode::Copies);
  if (copies >= 1 && copies <= 999) Printer.setCopyCount(copies);
  const int16_t quality = Mode.Get16(TDevMode::PrintQuality);
  if (quality >= 72 && quality <= 2400) Printer.setResolution(quality);
  const int16_t color = Mode.Get16(TDevMode::Color);
  if (color == 1 || color == 2) Printer.setColorMode(color == 2 ? QPrinter::Color : QPrinter::GrayScale);
  const int16_t duplex = Mode.Get16(TDevMode::Duplex);
  if (duplex >= 1 && duplex <= 3)
    Printer.setDuplex(duplex == 2 ? QPrinter::DuplexLongSide : duplex == 3 ? QPrinter::DuplexShortSide
                                                                           : QPrinter::DuplexNone);
  Printer.setCollateCopies(Mode.Get16(TDevMode::Collate) != 0);
}

TPrinterChoice CurrentPrinterChoice(QPrinter& Printer) {
  TPrinterChoice c;
  const QPrinterInfo info = QPrinterInfo::printerInfo(Printer.printerName());
  c.Device = Printer.printerName().toStdString();
  c.Driver = info.isNull() ? std::string() : info.makeAndModel().toStdString();
  c.Port = info.isNull() ? std::string() : info.location().toStdString();
  const TDevMode m = ReadDevMode(Printer);
  c.DevMode = EncodeDevMode(m.Bytes.data(), m.Bytes.size());
  return c;
}

void ApplyPrinterChoice(const TPrinterChoice& Choice, QPrinter& Printer) {
  const QList<QPrinterInfo> printers = QPrinterInfo::availablePrinters();
  QString name;
  for (const QPrinterInfo& p : printers)
    if (p.printerName().toStdString() == Choice.Device) name = p.printerName();
  if (name.isEmpty() && !printers.isEmpty()) name = printers.first().printerName();
  if (!name.isEmpty()) Printer.setPrinterName(name);
  // The stored words over the current block: a shorter text changes only the
  // leading words.
  TDevMode m = ReadDevMode(Printer);
  DecodeDevMode(Choice.DevMode, m.Bytes.data(), m.Bytes.size());
  ApplyDevMode(m, Printer);
}

TPrinterChoice ReadPrinterChoice(const TPrinterChoice& Current, bool WriteBack) {
  TPrinterChoice c;
  auto reg = OpenSettingsKey(HKEY_CURRENT_USER, kSettingsKey, ".", true);
  ReadSettingStr(reg.get(), "driver", Current.Driver, c.Driver, WriteBack);
  ReadSettingStr(reg.get(), "device", Current.Device, c.Device, WriteBack);
  ReadSettingStr(reg.get(), "port", Current.Port, c.Port, WriteBack);
  ReadSettingStr(reg.get(), "devmode", Current.DevMode, c.DevMode, WriteBack);
  CloseSettingsKey(reg);
  return c;
}

void WritePrinterChoice(const TPrinterChoice& Choice) {
  auto reg = OpenSettingsKey(HKEY_CURRENT_USER, kSettingsKey, ".", true);
  WriteSettingStr(reg.get(), "driver", Choice.Driver);
  WriteSettingStr(reg.get(), "device", Choice.Device);
  WriteSettingStr(reg.get(), "port", Choice.Port);
  WriteSettingStr(reg.get(), "devmode", Choice.DevMode);
  CloseSettingsKey(reg);
}

// ---- TPrintDlg ----------------------------------------------------------------------

TPrintDlg::TPrintDlg(TPrinting& Owner, QWidget* Parent) : QDialog(Parent), owner_(Owner) {
  auto* row = new QHBoxLayout(this);
  auto* page = new QWidget(this);
  page->setFixedSize(288, 288);
  preview_ = new TViewWidget(page);
  image_ = std::make_unique<TImage32>(preview_);
  preview_->SetControl(image_.get());
  image_->SetColor(0xFFFFFF);  // the paper
  image_->SetBitmapAlign(baCenter);
  // The zoom bar's scale is what the page gets, so the preview must draw at
  // it: at the control's normal mode the scale would be ignored and a large
  // preview bitmap cut off by the box.
  image_->SetScaleMode(smScale);
  row->addWidget(page);
  auto* side = new QVBoxLayout();
  auto* zoom = new QLabel("&Zoom:", this);
  trackBar3_ = new QSlider(Qt::Horizontal, this);
  zoom->setBuddy(trackBar3_);
  label1_ = new QLabel(this);
  auto* print = new QPushButton("&Print", this);
  auto* cancel = new QPushButton("Cancel", this);
  auto* setup = new QPushButton("Print &Setup", this);
  print->setDefault(true);
  for (QWidget* w : std::initializer_list<QWidget*>{zoom, trackBar3_, label1_, print, cancel, setup}) side->addWidget(w);
  side->addStretch();
  row->addLayout(side);
  connect(trackBar3_, &QSlider::valueChanged, this, [this](int P) { TrackBar3Change(P); });
  connect(print, &QPushButton::clicked, this, [this] { OKBtnClick(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(setup, &QPushButton::clicked, this, [this] { PrintSetupBtnClick(); });
}

TPrintDlg::~TPrintDlg() {
  if (preview_ != nullptr) preview_->SetControl(nullptr);
}

void TPrintDlg::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  UpdatePrintPreview();
}

void TPrintDlg::UpdatePrintPreview() {
  QPrinter& printer = owner_.printer_;
  TTextScale scale;
  MeasureTextScale(scale);
  const double t = (scale.Horizontal + scale.Vertical) / 192.0;
  const int32_t pageW = printer.width(), pageH = printer.height();
  // A page of height 0 leaves the box as it was.
  if (pageW > 0 && pageH > 0) {
    const double r = static_cast<double>(pageW) / pageH;
    int32_t w, h, left, top;
    if (printer.pageLayout().orientation() == QPageLayout::Landscape) {
      w = static_cast<int32_t>(256 * t);
      h = static_cast<int32_t>(w / r);
      left = static_cast<int32_t>(16 * t);
      top = static_cast<int32_t>(144 * t) - (h >> 1);
    } else {
      h = static_cast<int32_t>(256 * t);
      w = static_cast<int32_t>(h * r);
      top = static_cast<int32_t>(16 * t);
      left = static_cast<int32_t>(144 * t) - (w >> 1);
    }
    preview_->parentWidget()->setFixedSize(static_cast<int>(288 * t), static_cast<int>(288 * t));
    preview_->setGeometry(left, top, std::max(1, w), std::max(1, h));
    image_->Resize();
  }
  image_->SetScale(1.0f);
  ZoomToFit(*image_, 6, 6);
  const TBitmap32* b = image_->Bitmap();
  const int pos = static_cast<int>(image_->Scale() * 10000);
  int maximum = pos;
  if (b->Width() > 0 && b->Height() > 0)
    maximum = static_cast<int>(std::min(static_cast<double>(preview_->width()) / b->Width(),
                                        static_cast<double>(preview_->height()) / b->Height()) *
                               9900);
  const QSignalBlocker block(trackBar3_);
  trackBar3_->setRange(pos >> 3, std::max(pos, maximum));
  trackBar3_->setValue(pos);
  setWindowTitle("Print at " + printer.printerName());
  UpdatePrintInfo();
}

void TPrintDlg::UpdatePrintInfo() {
  TDevMode m = ReadDevMode(owner_.printer_);
  label1_->setText(QString::fromStdString(PrintInfoText(m, owner_.printer_.width(), owner_.printer_.height())));
}

void TPrintDlg::TrackBar3Change(int Position) { image_->SetScale(Position / 10000.0f); }

void TPrintDlg::PrintSetupBtnClick() {
  if (owner_.Printing()) return;
  if (owner_.RunPrinterSetup(owner_.printer_)) {
    WritePrinterChoice(CurrentPrinterChoice(owner_.printer_));
    UpdatePrintPreview();
  }
}

void TPrintDlg::OKBtnClick() {
  // The preview dialog closes with the print result whatever the print dialog answers.
  const bool go = owner_.RunPrintDialog(owner_.printer_);
  // Without a printer the page goes to a PDF file, which the user names.
  QPrinter& printer = owner_.printer_;
  if (go && printer.outputFileName().isEmpty() &&
      (printer.outputFormat() == QPrinter::PdfFormat || QPrinterInfo::availablePrinters().isEmpty())) {
    const std::string file = owner_.AskPdfFileName();
    if (file.empty()) {
      done(1);
      return;
    }
    owner_.printer_.setOutputFileName(QString::fromStdString(file));
  }
  if (go) {
    const TBitmap32* b = image_->Bitmap();
    owner_.StartJob(PrintedSize(owner_.printer_.width(), owner_.printer_.height(), b->Width(), b->Height(),
                                image_->Scale(), preview_->width(), preview_->height()));
  }
  done(1);
}

// ---- TPrinting ---------------------------------------------------------------------

TPrinting::TPrinting(QWidget* MainWindow) : mainWindow_(MainWindow) {
  ShowPrintDlg = [](TPrintDlg& D) { return D.exec(); };
  RunPrintDialog = [this](QPrinter& P) {
    QPrintDialog d(&P, mainWindow_);
    return d.exec() == QDialog::Accepted;
  };
  RunPrinterSetup = [this](QPrinter& P) {
    QPageSetupDialog d(&P, mainWindow_);
    return d.exec() == QDialog::Accepted;
  };
  AskPdfFileName = [this] {
    return QFileDialog::getSaveFileName(mainWindow_, "Print to PDF file", QString(), "PDF files (*.pdf)")
        .toStdString();
  };
}

TPrinting::~TPrinting() { WaitForJob(60000); }

bool TPrinting::WaitForJob(int TimeoutMs) {
  for (int waited = 0; printing_ && waited < TimeoutMs; waited += 10) TRunner::WaitForAll(10);
  return !printing_;
}

void TPrinting::Print1Click(TBitmap32& Document, const std::string& FileName, uint8_t StretchFilter) {
  if (printing_) return;
  ApplyPrinterChoice(ReadPrinterChoice(CurrentPrinterChoice(printer_)), printer_);
  const size_t slash = FileName.find_last_of('/');
  title_ = slash == std::string::npos ? FileName : FileName.substr(slash + 1);
  printer_.setDocName(QString::fromStdString(title_));
  document_ = &Document;
  stretchFilter_ = StretchFilter;
  if (!dialog_) dialog_ = std::make_unique<TPrintDlg>(*this, mainWindow_);
  dialog_->Image321().SetBitmap(MakePreviewBitmap(Document).get());
  SetStretchFilter(dialog_->Image321().Bitmap(), StretchFilter);
  dialog_->UpdatePrintPreview();
  ShowPrintDlg(*dialog_);
  WritePrinterChoice(CurrentPrinterChoice(printer_));
}

void TPrinting::PrintSetup1Click() {
  if (printing_) return;
  // The dialog opens on the kept paper and orientation, as printing uses
  // them: on the printer object's own it would show another page, and its
  // OK would keep that one over the choice the user never changed. Choices
  // made here are kept only when confirmed.
  ApplyPrinterChoice(ReadPrinterChoice(CurrentPrinterChoice(printer_), false), printer_);
  if (RunPrinterSetup(printer_)) WritePrinterChoice(CurrentPrinterChoice(printer_));
}

void TPrinting::StartJob(TPoint PrintedSize) {
  if (document_ == nullptr || PrintedSize.X <= 0 || PrintedSize.Y <= 0) return;
  printSize_ = PrintedSize;
  printX_ = (printer_.width() - PrintedSize.X) >> 1;
  printY_ = (printer_.height() - PrintedSize.Y) >> 1;
  printBitmap_ = MakePrintBitmap(*document_, PrintBitmapSize(PrintedSize.X, PrintedSize.Y));
  printing_ = true;
  TRunner::Create([this] { PrintJob(); });
}

// A page printed into a file may replace one the user already has: it is
// made in memory and put in place by the atomic save, so a full disk or a
// killed job leaves the old file whole, and a failure is not printed as done.
void TPrinting::PrintToFile(const std::string& FileName, const QImage& Image, const QRect& Place) {
  QBuffer pdf;
  pdf.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&pdf);
    writer.setPageLayout(printer_.pageLayout());
    writer.setResolution(printer_.resolution());
    writer.setTitle(printer_.docName());
    writer.setCreator(printer_.creator());
    QPainter painter;
    if (!painter.begin(&writer)) throw EWriteError("Stream write error");
    // Without this the writer stores the picture as a JPEG: a page a
    // printer would get pixel for pixel would come with its artefacts.
    painter.setRenderHint(QPainter::LosslessImageRendering);
    // The printer's own PDF output greys images when asked to; the writer
    // does not know that setting.
    painter.drawImage(Place, printer_.colorMode() == QPrinter::GrayScale
                                 ? Image.convertToFormat(QImage::Format_Grayscale8)
                                 : Image);
    if (!painter.end()) throw EWriteError("Stream write error");
  }
  const QByteArray& bytes = pdf.data();
  ReplaceFileAtomically(
      FileName, [&](TStream& S) { S.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size())); },
      TRenameFailure::rfWriteError);
}

void TPrinting::PrintJob() {
  bool done = false;
  try {
    if (printBitmap_ && !printBitmap_->Empty()) {
      // The pixels as they are, alpha ignored, as a device bitmap would show them.
      const QImage image(reinterpret_cast<const uchar*>(printBitmap_->Bits()), printBitmap_->Width(),
                         printBitmap_->Height(), printBitmap_->Width() * 4, QImage::Format_RGB32);
      const QRect place(printX_, printY_, printSize_.X, printSize_.Y);
      if (!printer_.outputFileName().isEmpty()) {
        PrintToFile(printer_.outputFileName().toStdString(), image, place);
        done = true;
      } else {
        QPainter painter;
        if (painter.begin(&printer_)) {
          // The spooled page is a PDF too: the pixels as they are, no JPEG.
          painter.setRenderHint(QPainter::LosslessImageRendering);
          painter.drawImage(place, image);
          done = painter.end();
        }
      }
      if (done) ShowMessageBox(title_ + "\n" + "print complete", MB_ICONINFORMATION);
    }
  } catch (const std::exception&) {
    done = false;
  }
  printBitmap_.reset();
  if (!done) {
    printer_.abort();
    ShowMessageBox(title_ + "\n" + "print canceled", MB_ICONINFORMATION);
  }
  printing_ = false;
}
