// The main window, the boxes and the about box in this process, offscreen:
// the command-line rules and an open/save round trip through every format,
// dropped files, the close query, the JPEG items, the window list over two
// other running windows, boxes from a worker thread, the event loop's last
// net, and the splash.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include <QAction>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "app_process.h"
#include "form_fixture.h"
#include "img_clipboard.h"
#include "img_png.h"
#include "qt_clipboard.h"
#include "qt_messagebox.h"
#include "raster_image_view.h"
#include "utilities.h"
#include "zub_about.h"
#include "zub_document.h"
#include "zub_instance.h"
#include "zub_main.h"
#include "zub_main_engine.h"

namespace fs = std::filesystem;

namespace {

void Spin(int Ms) {
  QEventLoop Loop;
  QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
  Loop.exec();
}

TColor32 Pattern(int32_t X, int32_t Y) {
  return 0xFF000000u | static_cast<uint32_t>(X * 29 & 0xFF) << 16 | static_cast<uint32_t>(Y * 41 & 0xFF) << 8 |
         static_cast<uint32_t>((X + 3 * Y) * 7 & 0xFF);
}

class ZubForm : public TFormTest {
 protected:
  void SetUp() override {
    TFormTest::SetUp();
    Source.SetSize(21, 13);
    for (int32_t y = 0; y < 13; ++y)
      for (int32_t x = 0; x < 21; ++x) Source.SetPixel(x, y, Pattern(x, y));
    SavePNGFromBitmap32(Path("src.png"), &Source, false, false, 0, 9);
  }
  std::string Path(const std::string& Name) const { return Dir + "/" + Name; }
  TBitmap32& Shown() const { return *Form->Image321().Bitmap(); }
  int Mismatches(const TBitmap32& B) const {
    if (B.Width() != Source.Width() || B.Height() != Source.Height()) return -1;
    int N = 0;
    for (int32_t y = 0; y < B.Height(); ++y)
      for (int32_t x = 0; x < B.Width(); ++x) N += (B.GetPixel(x, y) | 0xFF000000u) != Source.GetPixel(x, y);
    return N;
  }

  TBitmap32 Source;
};

}  // namespace

// Opened from the command line, saved through each lossless writer, opened
// again from the command line: the same pixels.
TEST_F(ZubForm, CommandLineRoundTripsEveryLosslessFormat) {
  for (const char* Ext : {".png", ".zub", ".ppm", ".bmp"}) {
    SCOPED_TRACE(Ext);
    Form->HandleArguments({"@" + Path("src.png")});
    ASSERT_EQ(Mismatches(Shown()), 0);
    Form->SaveAs(Path(std::string("out") + Ext));
    Form->HandleArguments({Path(std::string("out") + Ext)});
    EXPECT_EQ(Form->Editor().gFileName, Path(std::string("out") + Ext));
    EXPECT_EQ(Mismatches(Shown()), 0);
  }
  EXPECT_EQ(Boxes.Count(), 0u) << Boxes.Last().Text;
}

TEST_F(ZubForm, ArgumentRules) {
  // Two characters, or an "@@", open nothing.
  Form->HandleArguments({"ab", "@@", "", "x"});
  EXPECT_FALSE(Form->Editor().HasDocument());
  EXPECT_EQ(Boxes.Count(), 0u);
  // Several files one after the other: the last one stays.
  TBitmap32 Small;
  Small.SetSize(4, 3);
  Small.Clear(0xFF00FF00u);
  SavePNGFromBitmap32(Path("b.png"), &Small, false, false, 0, 9);
  Form->HandleArguments({Path("src.png"), "@" + Path("b.png")});
  EXPECT_EQ(Form->Editor().gFileName, Path("b.png"));
  EXPECT_EQ(Shown().Width(), 4);
  EXPECT_EQ(Form->Recent().Entry(1), Path("src.png"));
  // "@" alone makes an untitled image from the clipboard.
  ASSERT_TRUE(CopyBitmapWithAlpha(&Source));
  Form->HandleArguments({"@"});
  EXPECT_EQ(Form->Editor().gFileName, "untitled");
  EXPECT_EQ(Mismatches(Shown()), 0);
}

TEST_F(ZubForm, OnlyOneDroppedExistingFileOpens) {
  Form->DropFiles({Path("src.png"), Path("src.png")});
  EXPECT_FALSE(Form->Editor().HasDocument());
  Form->DropFiles({Path("gone.png")});
  EXPECT_FALSE(Form->Editor().HasDocument());
  EXPECT_EQ(Boxes.Count(), 0u);
  Form->DropFiles({Path("src.png")});
  EXPECT_EQ(Form->Editor().gFileName, Path("src.png"));
}

TEST_F(ZubForm, CloseIsRefusedWhilePrinting) {
  Form->show();
  Form->Printing = true;
  EXPECT_FALSE(Form->close());
  ASSERT_EQ(Boxes.Count(), 1u);
  EXPECT_EQ(Boxes.Last().Text, "still printing ...");
  EXPECT_EQ(Boxes.Last().Flags & MB_ICONMASK, MB_ICONWARNING);
  EXPECT_TRUE(Form->Editor().gImageUndo != nullptr);
  Form->Printing = false;
  EXPECT_TRUE(Form->close());
  EXPECT_TRUE(Form->Editor().gImageUndo == nullptr);  // freed, checkpoint file with it
}

TEST_F(ZubForm, SettingsReachTheWindowAndComeBack) {
  TAppSettings S = Form->CollectSettings();
  S.StretchFilter = 5, S.JpegQuality = 94, S.CreateBackup = true, S.ShowPath = true;
  S.Color = 0x00102030, S.Background = 0x00405060, S.G1 = 7, S.G2 = 9, S.G3 = 11;
  S.UserText = "kept without a control", S.DrawGrid = 4;
  Form->ApplySettings(S);
  // The engine sees colours as 0xAARRGGBB.
  EXPECT_EQ(Form->SwatchColor(TSwatch::Foreground), 0xFF302010u);
  EXPECT_EQ(Form->SwatchColor(TSwatch::Background), 0xFF605040u);
  EXPECT_EQ(Form->GaugePosition(TGauge::Size), 9);
  EXPECT_TRUE(Form->Document().gCreateBackup);
  EXPECT_TRUE(Form->Editor().gShowPathOnTitle);
  EXPECT_TRUE(Form->MenuItem("Normal1")->isChecked());
  TAppSettings Back = Form->CollectSettings();
  Back.Left = S.Left, Back.Top = S.Top, Back.Width = S.Width, Back.Height = S.Height;
  EXPECT_EQ(Back, S);
  // The JPEG items set the quality that goes back to the settings.
  Form->MenuItem("Basic1")->trigger();
  EXPECT_EQ(Form->CollectSettings().JpegQuality, 80);
  EXPECT_TRUE(Form->MenuItem("Basic1")->isChecked());
  EXPECT_FALSE(Form->MenuItem("Normal1")->isChecked());
}

// This window and two others: entries in descending process-id order with
// the windows' captions and Ctrl+0, Ctrl+1, ...; a shorter list later hides
// the entries left over.
TEST_F(ZubForm, WindowListShowsEveryRunningWindow) {
  const pid_t A = Start({"@@"});
  const pid_t B = Start({"@" + Path("src.png")});
  ASSERT_TRUE(Listening(A)) << Log();
  ASSERT_TRUE(Listening(B)) << Log();
  ASSERT_TRUE(WaitUntil([&] { return Caption(B).find("src.png") != std::string::npos; }, 20000));
  ASSERT_TRUE(Form->StartInstanceServer());
  Form->Windows1Click(nullptr);
  std::vector<std::pair<int64_t, std::string>> Want = {{A, "Vemra"}, {B, Caption(B)}, {getpid(), "Vemra"}};
  std::sort(Want.begin(), Want.end(), [](auto& X, auto& Y) { return X.first > Y.first; });
  QList<QAction*> Items = Form->SubMenu("Windows1")->actions();
  ASSERT_GE(Items.size(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Items[i]->data().toLongLong(), Want[i].first);
    EXPECT_EQ(Items[i]->text().toStdString(), Want[i].second);
    EXPECT_TRUE(Items[i]->isVisible());
    EXPECT_EQ(Items[i]->shortcut(), QKeySequence("Ctrl+" + QString::number(i)));
  }
  EXPECT_EQ(Stop(A), 0);
  Form->Windows1Click(nullptr);
  Items = Form->SubMenu("Windows1")->actions();
  ASSERT_EQ(Items.size(), 3);
  EXPECT_FALSE(Items[2]->isVisible());
  EXPECT_EQ(Items[2]->data().toLongLong(), 0);
}

// A worker's box is shown by the GUI thread, on top, and its answer goes back.
TEST_F(ZubForm, WorkerBoxIsShownOnTheGuiThread) {
  TQtMessageBoxInstaller QtBoxes;
  std::atomic<int> Answer{0};
  std::atomic<bool> Done{false};
  QThread* BoxThread = nullptr;
  Qt::WindowFlags Flags;
  QString Text, Title;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QTimer Poll;
  QObject::connect(&Poll, &QTimer::timeout, [&] {
    auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (Box == nullptr) return;
    BoxThread = Box->thread();
    Flags = Box->windowFlags();
    Text = Box->text();
    Title = Box->windowTitle();
    Icon = Box->icon();
    Box->button(QMessageBox::No)->click();
  });
  Poll.start(20);
  std::thread Worker([&] {
    Answer = ShowMessageBox("Print page 2 ?", MB_YESNOCANCEL | MB_ICONQUESTION);
    Done = true;
  });
  for (int i = 0; i < 500 && !Done; ++i) Spin(20);
  Worker.join();
  EXPECT_EQ(Answer, IDNO);
  EXPECT_EQ(BoxThread, QApplication::instance()->thread());
  EXPECT_TRUE(Flags.testFlag(Qt::WindowStaysOnTopHint)) << std::hex << Flags.toInt();
  EXPECT_EQ(Text.toStdString(), "Print page 2 ?");
  EXPECT_EQ(Title.toStdString(), ApplicationTitle());
  EXPECT_EQ(Icon, QMessageBox::Question);
}

TEST(ExceptionText, FullStopAfterCharactersThatSortAfterIt) {
  const std::pair<const char*, const char*> Rows[] = {
      {"Source bitmap is nil", "Source bitmap is nil."}, {"done.", "done."}, {"what?", "what?."},
      {"stop!", "stop!"}, {"(a)", "(a)"}, {"a/", "a/."}, {"", ""}, {"x-", "x-"}};
  for (const auto& [In, Out] : Rows) EXPECT_EQ(ExceptionMessageText(In), Out) << In;
}

namespace {
struct TThrower : QObject {
  bool event(QEvent*) override { throw std::runtime_error("Unpaired EndUpdate"); }
};
}  // namespace

// An exception escaping a handler ends in one box and the loop goes on.
TEST_F(ZubForm, ExceptionFromAHandlerBecomesAStopBox) {
  TThrower T;
  QEvent E(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&T, &E));
  ASSERT_EQ(Boxes.Count(), 1u);
  EXPECT_EQ(Boxes.Last().Text, "Unpaired EndUpdate.");
  EXPECT_EQ(Boxes.Last().Flags, MB_OK | MB_ICONSTOP);
  EXPECT_EQ(Boxes.Last().Caption, ApplicationTitle());
  QCoreApplication::postEvent(&T, new QEvent(QEvent::User));
  Spin(50);
  EXPECT_EQ(Boxes.Count(), 2u);
}

TEST(AboutBox, LinkAddressFromTheFirstHttp) {
  EXPECT_EQ(LinkAddress("zlib 1.2 - https://zlib.net"), "https://zlib.net");
  EXPECT_EQ(LinkAddress("libtiff - http://www.libtiff.org"), "http://www.libtiff.org");
  EXPECT_EQ(LinkAddress("see http://a then https://b"), "http://a then https://b");
  EXPECT_EQ(LinkAddress("no address"), "");
}

// The splash runs the start at its first tick, shows the window and, with
// arguments, closes at once; every later showing is a plain about box.
TEST_F(ZubForm, SplashRunsTheStartOnceThenBecomesAPlainAboutBox) {
  gAboutMode = -1;
  TzubAboutBox Box;
  int Initialized = 0;
  int TickInterval = -1;
  Box.InitializeApp = [&] {
    if (++Initialized == 1) TickInterval = Box.Timer1->interval();
  };
  Box.ShowMainWindow = [&] { Form->show(); };
  Box.StartedWithArguments = true;
  Box.show();
  EXPECT_TRUE(Box.Timer1->isActive());
  for (int i = 0; i < 100 && Box.isVisible(); ++i) Spin(20);
  // The start ran from the tick that follows the splash's first frame, not
  // from the 333 ms one.
  EXPECT_EQ(TickInterval, 0);
  EXPECT_FALSE(Box.isVisible());
  EXPECT_EQ(Initialized, 1);
  EXPECT_TRUE(Form->isVisible());
  EXPECT_EQ(gAboutMode, 0);
  Box.show();
  EXPECT_FALSE(Box.Timer1->isActive());
  Box.OKButton->click();
  EXPECT_FALSE(Box.isVisible());
  EXPECT_EQ(gAboutMode, 1);
  EXPECT_EQ(Initialized, 1);
  // A splash closed before its first tick still starts the program.
  gAboutMode = -1;
  Form->hide();
  TzubAboutBox Early;
  Early.InitializeApp = [&] { ++Initialized; };
  Early.ShowMainWindow = [&] { Form->show(); };
  Early.show();
  Early.reject();
  EXPECT_EQ(Initialized, 2);
  EXPECT_TRUE(Form->isVisible());
  EXPECT_EQ(gAboutMode, 0);
}

// A link label opens its address with the desktop (a stand-in xdg-open here).
TEST_F(ZubForm, LinkClickOpensTheAddress) {
  const std::string Bin = Path("bin");
  fs::create_directories(Bin);
  {
    std::ofstream S(Bin + "/xdg-open");
    S << "#!/bin/sh\necho \"$1\" > '" << Path("opened") << "'\n";
  }
  fs::permissions(Bin + "/xdg-open", fs::perms::owner_all);
  const std::string OldPath = getenv("PATH");
  setenv("PATH", (Bin + ":" + OldPath).c_str(), 1);
  TzubAboutBox Box;
  QLabel* Link = Box.Links.back();
  QMouseEvent Release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(Link, &Release);
  const bool Opened = WaitUntil([&] { return fs::exists(Path("opened")); }, 10000);
  setenv("PATH", OldPath.c_str(), 1);
  ASSERT_TRUE(Opened);
  std::ifstream In(Path("opened"));
  std::string Line;
  std::getline(In, Line);
  EXPECT_EQ(Line, LinkAddress(Link->text().toStdString()));
  EXPECT_EQ(Line.rfind("http", 0), 0u);
}

// A second hand-over that arrives while the first one's save question is
// open waits: both senders get their answer only after the user answered,
// and the files are opened in the order they came.
TEST_F(ZubForm, HandOverDuringTheSaveQuestionIsQueued) {
  for (const auto& [Name, Width] : {std::pair<const char*, int>{"b.png", 5}, {"c.png", 6}}) {
    TBitmap32 B;
    B.SetSize(Width, 4);
    B.Clear(0xFF00FF00u);
    SavePNGFromBitmap32(Path(Name), &B, false, false, 0, 9);
  }
  Form->HandleArguments({Path("src.png")});
  Form->Editor().ApplyAction([](TEditor& E, const TActionArgument&) {
    E.gWork->SetPixel(0, 0, 0xFF000000u);
    return arWriteBack;
  }, {}, true);
  ASSERT_TRUE(Form->StartInstanceServer());
  TQtMessageBoxInstaller QtBoxes;

  pid_t First = 0, Second = 0;
  int Ticks = 0;
  bool StillWaiting = false, Answered = false;
  QTimer Poll;
  QObject::connect(&Poll, &QTimer::timeout, [&] {
    auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (Box == nullptr || Answered) return;
    EXPECT_EQ(Box->text().toStdString(), "Save changes to " + Path("src.png") + " ?");
    if (Second == 0) Second = Start({"c.png"});
    // Answer No once the second start's request waits in the queue.
    if (Form->Instance()->Waiting() == 0 && ++Ticks < 600) return;
    EXPECT_EQ(Form->Instance()->Waiting(), 1u);
    StillWaiting = WaitExit(First, 0) < 0 && WaitExit(Second, 0) < 0;
    Answered = true;
    Box->button(QMessageBox::No)->click();
  });
  Poll.start(50);
  First = Start({"b.png"});
  int FirstExit = -1, SecondExit = -1;
  for (int i = 0; i < 1200 && (FirstExit < 0 || SecondExit < 0); ++i) {
    Spin(50);
    if (FirstExit < 0) FirstExit = WaitExit(First, 0);
    if (Second != 0 && SecondExit < 0) SecondExit = WaitExit(Second, 0);
  }
  EXPECT_TRUE(Answered);
  EXPECT_TRUE(StillWaiting);
  EXPECT_EQ(FirstExit, 0) << Log();
  EXPECT_EQ(SecondExit, 0) << Log();
  EXPECT_EQ(Form->Editor().gFileName, Path("c.png"));
  EXPECT_EQ(Shown().Width(), 6);
}
