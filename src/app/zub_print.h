#pragma once
// "&Print..." and "Print &Setup...": the preview dialog (TPrintDlg) that
// sizes the image on the page, the spline-stretched print bitmap and the job
// on a worker thread. The printer and its device-mode block are kept in the
// settings ("driver", "device", "port", "devmode"). With no printer
// installed, the page goes to a PDF file the user names, made in memory and
// put in place through the atomic save.
//
// The dialogs a user answers are behind replaceable functions, so a test can
// answer them without a modal loop.
#include <QDialog>
#include <QPrinter>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "zub_printing.h"

class QImage;
class QLabel;
class QRect;
class QSlider;
class TBitmap32;
class TImage32;
class TViewWidget;
class TPrinting;

// The printer's settings as the settings store keeps them.
struct TPrinterChoice {
  std::string Driver, Device, Port, DevMode;
};

// The device-mode block of Printer, and the other way.
TDevMode ReadDevMode(QPrinter& Printer);
void ApplyDevMode(const TDevMode& Mode, QPrinter& Printer);
// Driver, device, port and the encoded block of Printer.
TPrinterChoice CurrentPrinterChoice(QPrinter& Printer);
// Selects the stored printer (the first installed one when it is gone, a
// PDF file when none is installed) and applies the stored block's words.
void ApplyPrinterChoice(const TPrinterChoice& Choice, QPrinter& Printer);
// The settings key's four values, each defaulting to Current, which is
// written back where a value is missing when WriteBack is set.
TPrinterChoice ReadPrinterChoice(const TPrinterChoice& Current, bool WriteBack = true);
void WritePrinterChoice(const TPrinterChoice& Choice);

class TPrintDlg : public QDialog {
 public:
  TPrintDlg(TPrinting& Owner, QWidget* Parent);
  ~TPrintDlg() override;

  TImage32& Image321() const { return *image_; }
  QSlider* TrackBar3() const { return trackBar3_; }
  QLabel* Label1() const { return label1_; }
  TViewWidget* Preview() const { return preview_; }

  void UpdatePrintPreview();
  void UpdatePrintInfo();
  void TrackBar3Change(int Position);
  // Runs the print dialog, sizes the image on the page and starts the job.
  void OKBtnClick();
  void PrintSetupBtnClick();

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  TPrinting& owner_;
  std::unique_ptr<TImage32> image_;
  TViewWidget* preview_ = nullptr;
  QSlider* trackBar3_ = nullptr;
  QLabel* label1_ = nullptr;
};

class TPrinting {
 public:
  explicit TPrinting(QWidget* MainWindow);
  ~TPrinting();

  // "&Print...": Document is the view's bitmap, FileName the document's,
  // StretchFilter the "stretchfilter" setting for the preview's display.
  void Print1Click(TBitmap32& Document, const std::string& FileName, uint8_t StretchFilter);
  // "Print &Setup...": nothing while printing; the choice is written to the
  // settings when the dialog is confirmed.
  void PrintSetup1Click();
  // A job is running: the print commands do nothing, the window may not close.
  bool Printing() const { return printing_; }
  // Waits for a running job (at exit and in tests); true when none is left.
  bool WaitForJob(int TimeoutMs);

  QPrinter& Printer() { return printer_; }
  TPrintDlg* Dialog() const { return dialog_.get(); }

  // ---- What a user answers (replaceable) --------------------------------------------
  // The preview dialog; returns its modal result.
  std::function<int(TPrintDlg&)> ShowPrintDlg;
  // The print dialog before the job; false: cancelled.
  std::function<bool(QPrinter&)> RunPrintDialog;
  // The printer set-up dialog; false: cancelled.
  std::function<bool(QPrinter&)> RunPrinterSetup;
  // The PDF file to print into when no printer is installed; "" cancels.
  std::function<std::string()> AskPdfFileName;

 private:
  friend class TPrintDlg;
  void StartJob(TPoint PrintedSize);
  void PrintJob();
  // The page into the PDF file FileName, through the atomic save; raises
  // when it cannot be made or written.
  void PrintToFile(const std::string& FileName, const QImage& Image, const QRect& Place);

  QWidget* mainWindow_;
  QPrinter printer_{QPrinter::HighResolution};
  std::unique_ptr<TPrintDlg> dialog_;
  TBitmap32* document_ = nullptr;
  std::string title_;
  uint8_t stretchFilter_ = 0;
  std::unique_ptr<TBitmap32> previewBitmap_;
  // The job's state: the bitmap and where and how large it goes on the page.
  std::unique_ptr<TBitmap32> printBitmap_;
  int32_t printX_ = 0, printY_ = 0;
  TPoint printSize_{0, 0};
  std::atomic<bool> printing_{false};
};
