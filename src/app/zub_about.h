#pragma once
// The about box, which is also the splash at start: while gAboutMode is below
// 0 its timer runs the rest of the start-up and then hands over to the main
// window; every closing of the box counts gAboutMode up, so each later
// showing is a plain about box. Labels that end in a web address are links.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;

extern int32_t gAboutMode;

// The address a link label opens: its caption from the first "http://" or
// "https://" on; "" when it holds neither.
std::string LinkAddress(const std::string& Caption);
// The help page beside the program: its folder + "/help/" + its file name
// with ".html". It is the home page too (Shift+F1, the about box's address).
std::string HelpPageFile();
// Opens the help page in the desktop's browser; a box names the file when
// it is not there, or later, when the desktop's opener says it failed.
void OpenHelpPage();

class TzubAboutBox : public QDialog {
 public:
  // The latest the first tick comes; it comes as soon as the splash is on
  // the screen, since the wait only delays the picture the user asked for.
  static constexpr int kFirstTickMs = 333;
  static constexpr int kSplashMs = 1500;  // how long the splash stays in front of the shown window

  explicit TzubAboutBox(QWidget* Parent = nullptr);

  // The rest of the start (InitializeApp) and the showing of the main window,
  // run by the splash's timer.
  std::function<void()> InitializeApp;
  std::function<void()> ShowMainWindow;
  bool StartedWithArguments = false;

  QTimer* Timer1 = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* URL = nullptr;
  std::vector<QLabel*> Links;  // URL and the acknowledgements with an address
  QPushButton* OKButton = nullptr;

  void Timer1Timer();
  void OKButtonClick();

 protected:
  void showEvent(QShowEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void done(int Result) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void ResetLinks();
  void Closing();
  int ticks_ = 0;
  bool splashPainted_ = false;
};

// The one about box of the run, made on first use.
TzubAboutBox* AboutBox(QWidget* Parent = nullptr);
// Help > About: the box, modal.
void ShowAboutBox(QWidget* Parent);
