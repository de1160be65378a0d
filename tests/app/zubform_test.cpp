// The main window, the boxes and the about box in this process, offscreen:
// the command-line rules and an open/save round trip through every format,
// dropped files, the close query, the settings from the store and back, the
// Text tool's dialog, the busy cursor, the window list over two other
// running windows, boxes from a worker thread, the event loop's last net,
// and the splash.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include <QAction>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "app_process.h"
#include "exif_reader.h"
#include "form_fixture.h"
#include "img_clipboard.h"
#include "img_png.h"
#include "img_viewcoords.h"
#include "qt_clipboard.h"
#include "qt_messagebox.h"
#include "raster_image_view.h"
#include "regutils.h"
#include "sysinfo.h"
#include "utilities.h"
#include "view_widget.h"
#include "zub_about.h"
#include "zub_document.h"
#include "zub_instance.h"
#include "zub_layers.h"
#include "zub_main.h"
#include "zub_main_engine.h"
#include "zub_settings.h"
#include "zub_text.h"
#include "zub_tools.h"
#include "zub_utilities.h"

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
  // The Text tool's dialog, opened by a click on the picture; Inside sees it,
  // then OK closes it.
  void OpenTextTool(const std::function<void(TTextDlg*)>& Inside) {
    Form->ToolButton(3)->click();
    bool Opened = false;
    QTimer::singleShot(0, [&] {
      auto* D = dynamic_cast<TTextDlg*>(QApplication::activeModalWidget());
      if (D == nullptr) return;
      Opened = true;
      Inside(D);
      D->accept();
    });
    const TFloatRect R = BitmapRectInControl(Form->Image321());
    QTest::mouseClick(Form->ViewWidget(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(static_cast<int>((R.Left + R.Right) / 2), static_cast<int>((R.Top + R.Bottom) / 2)));
    QApplication::processEvents();  // a dialog that never opened leaves no timer behind
    EXPECT_TRUE(Opened);
  }
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
  // "@" alone makes an untitled image from the clipboard; with nothing
  // there the window is the empty one, its picture's menus hidden.
  ASSERT_TRUE(Form->Document().CloseImage());
  EmptyClipboard1Click();
  Form->HandleArguments({"@"});
  EXPECT_EQ(Form->windowTitle(), "Vemra");
  EXPECT_FALSE(Form->MenuItem("Image1")->isVisible());
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

// Every setting the window has a control for, in a store of its own: the
// value stored is what the window shows after the start, the window changes
// it, and the exit writes the change. The Text tool's values are seen and
// changed in its dialog.
TEST_F(ZubForm, SettingsComeFromTheStoreAndGoBackChanged) {
  // The store and the associations in this test's folders, for this test only.
  struct TEnv {
    const char* Name;
    std::string Old;
    bool Had;
  };
  std::vector<TEnv> Env;
  for (const auto& [Name, Sub] : {std::pair{"XDG_CONFIG_HOME", "/config"}, {"XDG_DATA_HOME", "/data"}}) {
    const char* Old = getenv(Name);
    Env.push_back({Name, Old != nullptr ? Old : "", Old != nullptr});
    setenv(Name, (Dir + Sub).c_str(), 1);
  }
  struct TRestore {
    std::vector<TEnv>& Env;
    ~TRestore() {
      for (const TEnv& E : Env) E.Had ? setenv(E.Name, E.Old.c_str(), 1) : unsetenv(E.Name);
    }
  } Restore{Env};
  auto Key = [] { return OpenSettingsKey(HKEY_CURRENT_USER, kSettingsKey, ".", true); };
  auto Checked = [this](const char* Item) { return std::string(Form->MenuItem(Item)->isChecked() ? "1" : "0"); };
  struct TRow {
    const char* Name;
    const char* Stored;
    std::function<std::string()> Seen;
    std::string WantSeen;
    std::function<void()> Change;  // null: written back as read
    const char* Written;
  };
  std::string Text, Font;  // what the Text tool's dialog showed
  const TRow Rows[] = {
      {"usertext", "Hello", [&] { return Text; }, "Hello", nullptr, "Bye"},
      // Only bold and italic count: 14 shows italic.
      {"font.name", "Liberation Serif", [&] { return Font; }, "Liberation Serif 20 2", nullptr, "Liberation Mono"},
      {"font.size", "20", [&] { return Font; }, "Liberation Serif 20 2", nullptr, "30"},
      {"font.style", "14", [&] { return Font; }, "Liberation Serif 20 2", nullptr, "1"},
      {"effect", "8", [&] { return Form->ComboBox1()->currentText().toStdString(); }, "Light(B)",
       [&] { Form->ComboBox1()->setCurrentIndex(3); }, "3"},
      {"edittb", "0", [&] { return std::to_string(Form->ToolBar1()->isVisibleTo(Form.get())); }, "0",
       [&] { Form->MenuItem("EditToolbar1")->trigger(); }, "1"},
      // Written only: the standard toolbar is hidden at every start.
      {"stdtb", "1", [&] { return std::to_string(Form->ToolBar2()->isVisibleTo(Form.get())); }, "0",
       [&] { Form->MenuItem("StandardToolbar1")->trigger(); }, "1"},
      {"drawgrid", "20", [&] { return std::to_string(Form->Tools().gSnapGrid) + Checked("N202"); }, "201",
       [&] { Form->MenuItem("N202")->trigger(); }, "1"},
      {"gifdither", "1", [&] { return Checked("Dither1") + std::to_string(Form->Document().gGifDither); }, "11",
       [&] { Form->MenuItem("Dither1")->trigger(); }, "0"},
      {"color", "1056816", [&] { return ColorLabel(Form->SwatchColor(TSwatch::Foreground)); }, "#302010", nullptr,
       "1056816"},
      {"background", "6636321",
       [&] {
         return ColorLabel(Form->SwatchColor(TSwatch::Background)) + " " +
                std::to_string(Form->Document().gBackgroundColor);
       },
       "#214365 6636321", nullptr, "6636321"},
      {"g2", "9", [&] { return std::to_string(Form->GaugePosition(TGauge::Size)); }, "9", nullptr, "9"},
      {"g3", "40", [&] { return std::to_string(Form->GaugePosition(TGauge::Density)); }, "40", nullptr, "40"},
      {"backup", "1", [&] { return std::to_string(Form->Document().gCreateBackup); }, "1", nullptr, "1"},
      {"jpegquality", "94", [&] { return Checked("Normal1"); }, "1", nullptr, "94"},
  };
  for (const TRow& R : Rows) Key()->WriteString(R.Name, R.Stored);
  InitializeApp(*Form, {"@" + Path("src.png")});
  Form->resize(700, 500);
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  Form->RefreshMenuState();
  OpenTextTool([&](TTextDlg* D) {
    Text = D->Memo1->toPlainText().toStdString();
    Font = D->Font.Name + " " + std::to_string(D->Font.Size) + " " + std::to_string(D->Font.Style);
    D->Memo1->setPlainText("Bye");
    QTimer::singleShot(0, [] {
      auto* F = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(F, nullptr);
      QFont Mono("Liberation Mono", 30);
      Mono.setBold(true);
      F->setCurrentFont(Mono);
      F->accept();
    });
    D->FontButton->click();
  });
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    EXPECT_EQ(R.Seen(), R.WantSeen);
    if (R.Change) R.Change();
  }
  Form->RefreshMenuState();
  FinalizeApp(*Form);
  for (const TRow& R : Rows) EXPECT_EQ(Key()->ReadString(R.Name), R.Written) << R.Name;
  EXPECT_EQ(Boxes.Count(), 0u) << Boxes.Last().Text;
}

// A window left at a place comes back there, start after start: the place
// kept is the one the start gives back, the inside of the window, not the
// frame's corner (which would creep up by the title bar at every start).
TEST_F(ZubForm, WindowComesBackWhereItWasLeft) {
  TAppSettings S = Form->CollectSettings();
  S.Left = 61;
  S.Top = 42;
  S.Width = 460;
  S.Height = 330;
  for (int Start = 1; Start <= 3; ++Start) {
    SCOPED_TRACE(Start);
    Form = std::make_unique<TzubForm>();
    Form->ApplySettings(S);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ASSERT_NE(Form->frameGeometry().topLeft(), Form->geometry().topLeft());  // a frame to lose
    S = Form->CollectSettings();
    EXPECT_EQ((std::vector<int32_t>{S.Left, S.Top, S.Width, S.Height}), (std::vector<int32_t>{61, 42, 460, 330}));
  }
}

// Smaller things a user meets: the Text tool writes in the foreground colour
// of the moment, also after its first use; loading and saving show the busy
// cursor, and end it; a new picture drops the old selection's size from the
// status bar.
TEST_F(ZubForm, TextColourBusyCursorAndStatusBar) {
  Form->resize(700, 500);
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  Form->HandleArguments({Path("src.png")});
  for (TColor32 Fore : {0xFF0000FFu, 0xFF00C000u}) {
    Form->SetSwatchColor(TSwatch::Foreground, Fore);
    TColor32 Offered = 0;
    bool Drawn = false;
    OpenTextTool([&](TTextDlg* D) {
      Offered = D->Color;
      D->Memo1->clear();
      QTest::keyClicks(D->Memo1, "Hi");
      // The preview follows the typing once the keys pause.
      ASSERT_TRUE(D->Timer1->isActive());
      D->RenderTextPreview();
      for (size_t i = 0; i < D->Preview.PixelCount(); ++i) Drawn |= D->Preview.Bits()[i] == Fore;
    });
    EXPECT_EQ(Offered, Fore);
    EXPECT_TRUE(Drawn);
    Form->MenuItem("DeleteAll1")->trigger();
  }

  // The box a reader or a writer shows comes while the busy cursor is up.
  std::ofstream(Path("bad.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n broken";
  TBitmap32 TwoColours;
  TwoColours.SetSize(4, 4);
  TwoColours.Clear(0xFFFFFFFFu);
  TwoColours.SetPixel(1, 1, 0xFF000000u);
  std::vector<int> Shapes;
  TScopedMessageBoxHandler Busy([&](const TMessageBoxRequest&) {
    const QCursor* C = QApplication::overrideCursor();
    Shapes.push_back(C != nullptr ? C->shape() : -1);
    return IDNO;
  });
  Form->DropFiles({Path("bad.png")});
  Form->Image321().Bitmap()->Assign(&TwoColours);
  Form->SaveAs(Path("two.bmp"));
  EXPECT_EQ(Shapes, (std::vector<int>{Qt::WaitCursor, Qt::WaitCursor}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  Form->HandleArguments({Path("src.png")});
  Form->MenuItem("SelectAll1")->trigger();
  EXPECT_FALSE(Form->StatusPanel(1)->text().isEmpty());
  Form->DropFiles({Path("two.bmp")});
  EXPECT_EQ(Form->StatusPanel(1)->text(), "");
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

// A link label opens its address with the desktop (a stand-in xdg-open
// here). This test program has no help folder beside it, as a copy of the
// program without its page: F1, Shift+F1 and the about box's address each
// name the page they looked for in a box and start nothing.
TEST_F(ZubForm, LinksOpenTheirAddressAndAMissingHelpPageIsNamed) {
  const std::string Bin = Path("bin");
  WriteStandInOpener(Bin, "echo \"$1\" >> '" + Path("opened") + "'\n");
  const std::string OldPath = getenv("PATH");
  setenv("PATH", (Bin + ":" + OldPath).c_str(), 1);
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  TzubAboutBox Box;
  const auto Click = [](QLabel* Link) {
    QMouseEvent Release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(Link, &Release);
  };
  const std::string Page = ProgramFolder() + "/help/" + fs::path(ProgramFile()).stem().string() + ".html";
  fs::remove_all(fs::path(Page).parent_path());  // left by a run that crashed below
  ASSERT_FALSE(fs::exists(Page));
  QTest::keyClick(Form.get(), Qt::Key_F1);
  QTest::keyClick(Form.get(), Qt::Key_F1, Qt::ShiftModifier);
  Click(Box.URL);
  ASSERT_EQ(Boxes.Count(), 3u);
  for (const TMessageBoxRequest& R : Boxes.Requests()) {
    EXPECT_EQ(R.Text, "help file " + Page + " does not exist !");
    EXPECT_EQ(R.Flags & MB_ICONMASK, MB_ICONWARNING);
  }
  // The address the box shows is the page's.
  EXPECT_EQ(Box.URL->text().toStdString(), "file://" + Page);
  // Started last, the acknowledgement's opener is the only one that ran.
  QLabel* Link = Box.Links.back();
  Click(Link);
  const bool Opened = WaitUntil([&] { return fs::exists(Path("opened")); }, 10000);
  setenv("PATH", OldPath.c_str(), 1);
  ASSERT_TRUE(Opened);
  std::ifstream In(Path("opened"));
  const std::string All((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(All, LinkAddress(Link->text().toStdString()) + "\n");
  EXPECT_EQ(All.rfind("http", 0), 0u);

  // With the page there, a desktop with no browser: the opener runs for as
  // long as a browser would (until the test lets it go) while F1 returns,
  // and its failure is then named in a box.
  const fs::path HelpFolder = fs::path(Page).parent_path();
  struct TRemove {
    fs::path P;
    ~TRemove() { fs::remove_all(P); }
  } RemoveHelp{HelpFolder};
  fs::create_directories(HelpFolder);
  std::ofstream(Page) << "<html></html>\n";
  const std::string Failing = Path("failing");
  // Bounded, so that a failed check leaves no opener behind.
  WriteStandInOpener(Failing, "echo \"$1\" > '" + Path("help-asked") + "'\nn=0\nwhile [ ! -e '" +
                                  Path("browser-closed") + "' ] && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done\n" +
                                  "echo \"xdg-open: no method available\" >&2\nexit 3\n");
  setenv("PATH", (Failing + ":" + OldPath).c_str(), 1);
  QTest::keyClick(Form.get(), Qt::Key_F1);
  setenv("PATH", OldPath.c_str(), 1);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Path("help-asked")); }, 10000));
  std::ifstream Asked(Path("help-asked"));
  std::string AskedFor;
  std::getline(Asked, AskedFor);
  EXPECT_EQ(AskedFor, Page);
  QCoreApplication::processEvents();
  EXPECT_EQ(Boxes.Count(), 3u);  // still showing, as far as anyone knows
  std::ofstream(Path("browser-closed")).close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Boxes.Count() == 4u; }, 10000));
  EXPECT_EQ(Boxes.Requests().back().Text, "help file " + Page + " could not be shown !");
  EXPECT_EQ(Boxes.Requests().back().Flags & MB_ICONMASK, MB_ICONWARNING);
}

// A file that cannot be read, chosen in File > Open, handed over by a second
// start or reverted to after it was damaged, leaves the window as it was: the
// picture, its name and size in the caption, its undo step and its EXIF (the
// "Save changes" question answered No). An empty window stays the plain
// empty window that Close leaves.
TEST_F(ZubForm, AFailedOpenLeavesTheWindowAsItWas) {
  const std::string Photo = Path("photo.jpg");
  ASSERT_TRUE(SaveJpeg(Photo, Source, 90));
  ASSERT_EQ(std::system(("exiftool -q -overwrite_original -Make=Vemra '" + Photo + "'").c_str()), 0);
  std::string Bytes;
  {
    std::ifstream In(Photo, std::ios::binary);
    Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }
  std::ofstream(Path("empty.png"), std::ios::binary).close();
  std::ofstream(Path("cut.jpg"), std::ios::binary) << Bytes.substr(0, 600);
  const std::pair<const char*, std::function<void()>> Ways[] = {
      {"File > Open, an empty .png",
       [this] {
         QTimer::singleShot(0, [this] {
           if (auto* D = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
             D->selectFile(QString::fromStdString(Path("empty.png")));
             QMetaObject::invokeMethod(D, "accept");
           }
         });
         Form->MenuItem("OpenFile1")->trigger();
       }},
      {"the hand-over of a cut JPEG", [this] { Form->OpenHandedOver(Path("cut.jpg")); }},
      {"Revert of the file cut short",
       [this, Photo] {
         fs::copy_file(Path("cut.jpg"), Photo, fs::copy_options::overwrite_existing);
         Form->MenuItem("Revert1")->trigger();
       }},
  };
  for (const auto& [Way, Open] : Ways) {
    SCOPED_TRACE(Way);
    std::ofstream(Photo, std::ios::binary) << Bytes;
    Form->HandleArguments({Photo});
    Form->Editor().ApplyAction([](TEditor& E, const TActionArgument&) {
      E.gWork->SetPixel(0, 0, 0xFF000000u);
      return arWriteBack;
    }, {}, true);
    ASSERT_TRUE(gHasExif && gExifData && gExifData->HasExif());
    const TimgData* Exif = gExifData.get();
    const QString Caption = Form->windowTitle();
    ASSERT_TRUE(Caption.contains("photo.jpg*"));
    TBitmap32 Before;
    Before.Assign(&Shown());
    Boxes.Clear();
    Boxes.QueueAnswer(IDNO);
    Open();
    ASSERT_EQ(Boxes.Count(), 2u);
    EXPECT_EQ(Boxes.Requests()[0].Text, "Save changes to " + Photo + " ?");
    EXPECT_EQ(Boxes.Requests()[1].Text.rfind("Exception (", 0), 0u) << Boxes.Requests()[1].Text;
    EXPECT_TRUE(Shown().Equal(&Before));
    EXPECT_EQ(Form->windowTitle(), Caption);
    EXPECT_EQ(Form->Editor().gImageUndo->UndoCount(), 1);
    EXPECT_TRUE(gHasExif && gExifData.get() == Exif);
    EXPECT_TRUE(Form->MenuItem("Image1")->isVisible());
  }
  // A name that leads nowhere, handed over by a second start, is said as a
  // first start says it, and nothing is asked about the changed picture.
  ASSERT_TRUE(Form->StartInstanceServer());
  const QString Caption = Form->windowTitle();
  Boxes.Clear();
  const pid_t Sender = Start({"missing.png"});
  int Exit = -1;
  for (int i = 0; i < 1200 && Exit < 0; ++i) {
    Spin(50);
    Exit = WaitExit(Sender, 0);
  }
  EXPECT_EQ(Exit, 0) << Log();
  ASSERT_EQ(Boxes.Count(), 1u);
  EXPECT_EQ(Boxes.Last().Text, "file " + Path("missing.png") + " does not exist !");
  EXPECT_EQ(Form->windowTitle(), Caption);
  EXPECT_EQ(Form->Editor().gImageUndo->UndoCount(), 1);
  ASSERT_TRUE(Form->Document().CloseImage());
  Boxes.Clear();
  Form->OpenHandedOver(Path("empty.png"));
  EXPECT_EQ(Boxes.Count(), 1u);
  EXPECT_TRUE(Shown().Empty());
  EXPECT_EQ(Form->windowTitle(), "Vemra");
  for (const char* Menu : {"Image1", "Colors1", "Layers1"}) EXPECT_FALSE(Form->MenuItem(Menu)->isVisible()) << Menu;
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

// A start that is ended while the window holds its file (its own question or
// error box open, or a box that was open before the file came) leaves the
// window running: the question in progress is finished, a waiting file is
// dropped, and nothing points into the closed connection.
TEST_F(ZubForm, HandOverWhoseStartIsEndedMeanwhile) {
  TBitmap32 Other;
  Other.SetSize(5, 4);
  Other.Clear(0xFF00FF00u);
  SavePNGFromBitmap32(Path("b.png"), &Other, false, false, 0, 9);
  {
    std::ofstream Bad(Path("bad.png"), std::ios::binary);
    Bad << "\x89PNG\r\n\x1a\n damaged";
  }
  struct TCase {
    bool Unsaved, BoxFirst;
    const char* File;
    const char* Box;  // the answered box's text begins so
    QMessageBox::StandardButton Answer;
    bool KeepsPicture;
  };
  const TCase Cases[] = {
      {true, false, "b.png", "Save changes to ", QMessageBox::Cancel, true},
      {false, false, "bad.png", "Exception (EPNG", QMessageBox::Ok, false},
      {false, true, "b.png", "busy", QMessageBox::Ok, true},
  };
  ASSERT_TRUE(Form->StartInstanceServer());
  TQtMessageBoxInstaller QtBoxes;
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Box);
    Form->HandleArguments({Path("src.png")});
    if (C.Unsaved)
      Form->Editor().ApplyAction([](TEditor& E, const TActionArgument&) {
        E.gWork->SetPixel(0, 0, 0xFF000000u);
        return arWriteBack;
      }, {}, true);
    if (C.BoxFirst) QTimer::singleShot(0, [] { ShowMessageBox("busy", MB_OK); });
    pid_t Sender = 0;
    int Exit = -1, Ticks = 0, TicksAfter = 0;
    bool Answered = false;
    std::string Text;
    QTimer Poll;
    QObject::connect(&Poll, &QTimer::timeout, [&] {
      auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (Box == nullptr || Answered) return;
      if (Sender == 0) {
        Sender = Start({Path(C.File)});
        return;
      }
      if (Exit < 0) {
        // The file must wait behind the box that was open first.
        if (C.BoxFirst && Form->Instance()->Waiting() == 0 && ++Ticks < 400) return;
        kill(Sender, SIGINT);
        Exit = WaitExit(Sender, 5000);
        return;
      }
      // The window sees the connection close while the box is still open.
      if (++TicksAfter < 6) return;
      Answered = true;
      Text = Box->text().toStdString();
      Box->button(C.Answer)->click();
    });
    Poll.start(50);
    if (!C.BoxFirst) Sender = Start({Path(C.File)});
    for (int i = 0; i < 400 && !Answered; ++i) Spin(50);
    Spin(300);
    Poll.stop();
    EXPECT_EQ(Text.rfind(C.Box, 0), 0u) << Text;
    EXPECT_EQ(Exit, 128 + SIGINT) << Log();
    EXPECT_EQ(Form->Instance()->Waiting(), 0u);
    if (!C.KeepsPicture) continue;
    EXPECT_EQ(Form->Editor().gFileName, Path("src.png"));
    EXPECT_EQ(Shown().Width(), Source.Width());
    EXPECT_EQ(Shown().GetPixel(0, 0), C.Unsaved ? 0xFF000000u : Source.GetPixel(0, 0));
  }
}
