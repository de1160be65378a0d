// The about box and splash.
#include "zub_about.h"

#include <bzlib.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <jpeglib.h>
#include <tiffio.h>
#include <zlib.h>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <filesystem>

#include "shell.h"
#include "steptrace.h"
#include "sysinfo.h"
#include "utilities.h"

int32_t gAboutMode = -1;

namespace {

const char* kDisclaimer =
    "This software and its reference material are provided as is, without warranty of any kind, "
    "express or implied, including the warranties of merchantability and fitness for a particular "
    "purpose. In no event shall the authors be liable for any damage arising from their use.";

std::string FirstLine(const char* Text) {
  std::string S = Text != nullptr ? Text : "";
  return S.substr(0, S.find('\n'));
}

std::vector<std::string> Acknowledgements() {
  return {
      "Qt " + std::string(qVersion()) + " - https://www.qt.io",
      "zlib " + std::string(ZLIB_VERSION) + " - https://zlib.net",
      "bzip2 " + FirstLine(BZ2_bzlibVersion()).substr(0, FirstLine(BZ2_bzlibVersion()).find(',')) +
          " - https://sourceware.org/bzip2",
      "libjpeg (API " + std::to_string(JPEG_LIB_VERSION) + ") - https://libjpeg-turbo.org",
      FirstLine(TIFFGetVersion()) + " - http://www.libtiff.org",
      "FreeType " + std::to_string(FREETYPE_MAJOR) + "." + std::to_string(FREETYPE_MINOR) + "." +
          std::to_string(FREETYPE_PATCH) + " - https://freetype.org",
  };
}

TzubAboutBox* gAboutBox = nullptr;

}  // namespace

std::string LinkAddress(const std::string& Caption) {
  size_t At = Caption.find("http://");
  const size_t Secure = Caption.find("https://");
  if (Secure < At) At = Secure;
  return At == std::string::npos ? std::string() : Caption.substr(At);
}

TzubAboutBox::TzubAboutBox(QWidget* Parent) : QDialog(Parent) {
  setObjectName("zubAboutBox");
  setWindowTitle("About Vemra");
  setMouseTracking(true);
  auto* Layout = new QVBoxLayout(this);
  ProductName = new QLabel(QString::fromStdString("Vemra " + GetFileVersion() + " - Vemra"), this);
  QFont Big = ProductName->font();
  Big.setPointSize(Big.pointSize() + 6);
  Big.setBold(true);
  ProductName->setFont(Big);
  Layout->addWidget(ProductName);
  auto* Disclaimer = new QLabel(kDisclaimer, this);
  Disclaimer->setWordWrap(true);
  Layout->addWidget(Disclaimer);
  // The program has no page on the web: its address is the help page beside it.
  URL = new QLabel(QUrl::fromLocalFile(QString::fromStdString(HelpPageFile())).toString(), this);
  Layout->addWidget(URL);
  Links.push_back(URL);
  for (const std::string& A : Acknowledgements()) {
    auto* L = new QLabel(QString::fromStdString(A), this);
    Layout->addWidget(L);
    if (!LinkAddress(A).empty()) Links.push_back(L);
  }
  for (QLabel* L : Links) {
    L->setMouseTracking(true);
    L->setCursor(Qt::PointingHandCursor);
    L->installEventFilter(this);
  }
  OKButton = new QPushButton("OK", this);
  OKButton->setDefault(true);
  Layout->addWidget(OKButton, 0, Qt::AlignHCenter);
  connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });

  Timer1 = new QTimer(this);
  Timer1->setInterval(kFirstTickMs);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  ResetLinks();
}

void TzubAboutBox::showEvent(QShowEvent* Event) {
  setWindowTitle("About Vemra");
  if (gAboutMode < 0) {
    ticks_ = 0;
    splashPainted_ = false;
    Timer1->setInterval(kFirstTickMs);
    Timer1->start();
  }
  QDialog::showEvent(Event);
  TraceStep("splash-shown");
}

void TzubAboutBox::paintEvent(QPaintEvent* Event) {
  QDialog::paintEvent(Event);
  // The tick that runs the start waits for nothing more than the splash's
  // first frame: a timer of 0 fires once this paint has reached the window.
  if (gAboutMode < 0 && ticks_ == 0 && !splashPainted_ && Timer1->isActive()) {
    splashPainted_ = true;
    Timer1->start(0);
  }
}

void TzubAboutBox::Timer1Timer() {
  ++ticks_;
  TraceStep("splash-tick");
  if (ticks_ == 1) {
    Timer1->stop();
    if (InitializeApp) InitializeApp();
    if (StartedWithArguments) {
      if (ShowMainWindow) ShowMainWindow();
      close();
      return;
    }
    Timer1->setInterval(kSplashMs);
    if (ShowMainWindow) ShowMainWindow();
    raise();
    QApplication::processEvents();
    raise();
    Timer1->start();
    return;
  }
  if (ShowMainWindow) ShowMainWindow();
  close();
}

void TzubAboutBox::OKButtonClick() {
  if (ShowMainWindow) ShowMainWindow();
  accept();
}

void TzubAboutBox::Closing() {
  Timer1->stop();
  ++gAboutMode;
}

void TzubAboutBox::done(int Result) {
  // Every way the box closes (OK, Escape, the close button) ends here. A
  // splash closed before its first tick still has the start to run, or the
  // program would go on without a window.
  if (gAboutMode < 0 && ticks_ == 0 && Timer1->isActive()) {
    ticks_ = 1;
    Timer1->stop();
    if (InitializeApp) InitializeApp();
    if (ShowMainWindow) ShowMainWindow();
  }
  Closing();
  QDialog::done(Result);
}

void TzubAboutBox::ResetLinks() {
  for (QLabel* L : Links) L->setStyleSheet("color: black; text-decoration: none;");
}

void TzubAboutBox::mouseMoveEvent(QMouseEvent* Event) {
  ResetLinks();
  QDialog::mouseMoveEvent(Event);
}

bool TzubAboutBox::eventFilter(QObject* Watched, QEvent* Event) {
  auto* L = qobject_cast<QLabel*>(Watched);
  if (L == nullptr) return QDialog::eventFilter(Watched, Event);
  switch (Event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
      ResetLinks();
      L->setStyleSheet("color: #0000ff; text-decoration: underline;");
      break;
    case QEvent::Leave:
      L->setStyleSheet("color: black; text-decoration: none;");
      break;
    case QEvent::MouseButtonRelease:
      if (L == URL) {
        OpenHelpPage();
        return true;
      }
      if (const std::string A = LinkAddress(L->text().toStdString()); !A.empty()) OpenDocument(A);
      return true;
    default:
      break;
  }
  return QDialog::eventFilter(Watched, Event);
}

TzubAboutBox* AboutBox(QWidget* Parent) {
  if (gAboutBox == nullptr) {
    gAboutBox = new TzubAboutBox(Parent);
    QObject::connect(gAboutBox, &QObject::destroyed, [] { gAboutBox = nullptr; });
  }
  return gAboutBox;
}

void ShowAboutBox(QWidget* Parent) {
  TzubAboutBox* Box = AboutBox(Parent);
  Box->exec();
}

std::string HelpPageFile() {
  return ProgramFolder() + "/help/" + std::filesystem::path(ProgramFile()).stem().string() + ".html";
}

void OpenHelpPage() {
  const std::string Page = HelpPageFile();
  std::error_code Ec;
  // The desktop's opener fails far from the window, where nobody sees it:
  // a copy of the program without its help folder would answer F1 with nothing.
  if (!std::filesystem::is_regular_file(Page, Ec)) {
    ShowMessageBox("help file " + Page + " does not exist !", MB_ICONWARNING);
    return;
  }
  // A desktop with no browser makes the opener fail ("no method
  // available"), and F1 would answer with nothing. Its end is watched, not
  // waited for: the opener may run as long as the browser it started.
  const auto CouldNotShow = [Page] { ShowMessageBox("help file " + Page + " could not be shown !", MB_ICONWARNING); };
  TWatchedStart Watch;
  if (OpenDocumentWatched(Page, Watch) != 0) {
    CouldNotShow();
    return;
  }
  auto* Ended = new QSocketNotifier(Watch.EndFd, QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(Ended, &QSocketNotifier::activated, Ended, [Ended, Watch, CouldNotShow]() mutable {
    Ended->setEnabled(false);
    Ended->deleteLater();
    // The opener's own failures are 1 to 4; another end is the browser's
    // it ran and waited for, closed or killed long after the page showed.
    const int32_t Code = PlatformCollectWatched(Watch);
    if (Code >= 1 && Code <= 4) CouldNotShow();
  });
}
