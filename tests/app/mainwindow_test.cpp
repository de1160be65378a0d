// The main window's menu tree, enabling rules, check marks, zoom, status
// bar, gauges, colour swatches and labels, tool cursors, offscreen.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>
#include <QWindow>

#include "form_fixture.h"
#include "img_clipboard.h"
#include "img_loadfile.h"
#include "img_png.h"
#include "qt_clipboard.h"
#include "qt_messagebox.h"
#include "raster_image_view.h"
#include "raster_rangebars.h"
#include "utilities.h"
#include "img_viewcoords.h"
#include "view_widget.h"
#include "zub_actions.h"
#include "zub_document.h"
#include "zub_histogram.h"
#include "zub_layers.h"
#include "zub_main.h"
#include "zub_main_engine.h"
#include "zub_resize.h"
#include "zub_tools.h"

namespace fs = std::filesystem;

namespace {

// Counts the events of one type that reach Target and keeps them from it
// (a menu it would open runs a loop of its own).
class TEventCounter : public QObject {
 public:
  TEventCounter(QObject* Target, QEvent::Type Type, int* Count) : target_(Target), type_(Type), count_(Count) {
    target_->installEventFilter(this);
  }
  ~TEventCounter() override { target_->removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* E) override {
    if (E->type() != type_) return false;
    ++*count_;
    return true;
  }

 private:
  QObject* target_;
  QEvent::Type type_;
  int* count_;
};

class MainWindow : public TFormTest {
 protected:
  TEditor& E() const { return Form->Editor(); }
  TImgView32& View() const { return Form->Image321(); }
  QAction* Item(const char* Name) const {
    QAction* A = Form->MenuItem(Name);
    EXPECT_NE(A, nullptr) << Name;
    return A;
  }
  // Runs a menu's open handler, as opening it does.
  void Open(const char* Menu) const { emit Form->SubMenu(Menu)->aboutToShow(); }
  // A file-backed document of W x H.
  void LoadPicture(int32_t W, int32_t H) {
    TBitmap32 B;
    B.SetSize(W, H);
    B.Clear(0xFF336699u);
    const std::string Name = Dir + "/pic.png";
    SavePNGFromBitmap32(Name, &B, false, false, 0, 9);
    ASSERT_TRUE(Form->Document().OpenImageFile(Name));
  }
  // File > New with the size typed into the dialog it opens; Check sees the
  // dialog first.
  void NewPicture(int W, int H, const std::function<void(TResizeDlg*)>& Check = nullptr) {
    QTimer::singleShot(0, [=] {
      QWidget* Shown = QApplication::activeModalWidget();
      auto* D = dynamic_cast<TResizeDlg*>(Shown);
      if (D == nullptr) {
        ADD_FAILURE() << "File > New opened no resize dialog";
        if (auto* Other = qobject_cast<QDialog*>(Shown)) Other->reject();
        return;
      }
      if (Check) Check(D);
      D->UpDown1->setValue(W);
      D->UpDown2->setValue(H);
      D->accept();
    });
    Item("New1")->trigger();
  }
  // The centre of the picture in the view.
  QPoint PictureCentre() const {
    const TFloatRect R = BitmapRectInControl(View());
    return QPoint(static_cast<int>((R.Left + R.Right) / 2), static_cast<int>((R.Top + R.Bottom) / 2));
  }
};

}  // namespace

// The tree as the window shows it: every row a captioned item, shortcuts
// unique, and each tagged item without its own handler runs its tag after
// selecting tool 1.
TEST_F(MainWindow, MenuTreeRunsEveryTagThroughTheEngine) {
  size_t Captions = 0, Popups = 0;
  for (const TMenuRow& R : MenuRows()) {
    if (std::string(R.Name) == "-") continue;
    if (std::string(R.Parent) == "#") {
      ++Popups;
      continue;
    }
    ++Captions;
    EXPECT_EQ(Item(R.Name)->text().toStdString(), R.Caption);
  }
  // Counted off the tree: 315 captions in the main menu and the popups.
  EXPECT_EQ(Captions, 315u);
  EXPECT_EQ(Popups, 4u);
  for (const char* Popup : {"PopupMenu1", "PopupMenu2", "PopupMenu3", "PopupMenu4"})
    EXPECT_NE(Form->SubMenu(Popup), nullptr);

  std::set<QString> Seen;
  for (QAction* A : Form->findChildren<QAction*>()) {
    if (A->shortcut().isEmpty()) continue;
    EXPECT_TRUE(Seen.insert(A->shortcut().toString()).second) << A->shortcut().toString().toStdString();
  }
  EXPECT_EQ(Item("NewWindow1")->shortcut(), QKeySequence("Ctrl+Alt+N"));
  EXPECT_TRUE(Item("NormalViewing1")->shortcut().isEmpty());

  // Every callback of the tag table records what reached it.
  std::vector<int32_t> Tools;
  E().SetToolHandler = [&](TEditor& Ed, int32_t Tool) {
    Tools.push_back(Tool);
    Ed.gCurrentTool = Tool;
  };
  struct TCall {
    std::string Callback;
    int32_t Tag;
    int32_t Tool;
  };
  std::vector<TCall> Calls;
  for (int32_t Tag = -1000; Tag <= 10000; ++Tag)
    if (const TActionTableEntry* Entry = FindActionEntry(Tag))
      E().RegisterActionCallback(Entry->Callback, [&Calls, Name = std::string(Entry->Callback)](
                                                      TEditor& Ed, const TActionArgument& A) {
        Calls.push_back({Name, ActionTag(A), Ed.gCurrentTool});
        return arDone;
      });
  View().Bitmap()->SetSize(16, 16);
  E().gFileName = "untitled";
  E().ShowDocument();
  size_t Tagged = 0;
  for (const TMenuRow& R : MenuRows()) {
    if (R.Tag == 0 || R.Click != nullptr || R.Hook != nullptr || Form->SubMenu(R.Name) != nullptr) continue;
    SCOPED_TRACE(R.Name);
    ++Tagged;
    E().SetToolHandler(E(), 5);
    Tools.clear();
    Calls.clear();
    Item(R.Name)->trigger();
    ASSERT_FALSE(Tools.empty());
    EXPECT_EQ(Tools.back(), 1);
    const TActionTableEntry* Entry = FindActionEntry(R.Tag);
    if (Entry == nullptr) {
      EXPECT_TRUE(Calls.empty());
    } else {
      ASSERT_EQ(Calls.size(), 1u);
      EXPECT_EQ(Calls[0].Callback, Entry->Callback);
      EXPECT_EQ(Calls[0].Tag, Entry->PassesTag ? R.Tag : 0);
      EXPECT_EQ(Calls[0].Tool, 1);
    }
    EXPECT_EQ(E().gLastActionTag, R.Tag > 0 ? R.Tag : 0);
  }
  // 98 items carry a tag and no handler; one of them is the White Balance submenu.
  EXPECT_EQ(Tagged, 97u);
  // White Balance carries a tag but, as a submenu, runs nothing when opened.
  Calls.clear();
  Open("WhiteBalance1");
  EXPECT_TRUE(Calls.empty());
  EXPECT_TRUE(Boxes.Count() == 0) << Boxes.Last().Text;
}

TEST_F(MainWindow, FileAndEditItemsFollowTheDocument) {
  Open("File1");
  for (const char* N : {"Save1", "SaveAs1", "Close1", "Checkpoint1", "Revert1", "Commit1", "Rollback1"})
    EXPECT_FALSE(Item(N)->isEnabled()) << N;
  // A submenu none of whose items is on is off itself, and comes on with one.
  Open("Edit1");
  EXPECT_FALSE(Item("Buffer1")->isEnabled());
  LoadPicture(20, 10);
  Open("Edit1");
  EXPECT_TRUE(Item("Buffer1")->isEnabled());
  Open("File1");
  for (const char* N : {"Save1", "SaveAs1", "Close1"}) EXPECT_TRUE(Item(N)->isEnabled()) << N;
  for (const char* N : {"Revert1", "Commit1", "Rollback1", "Checkpoint1"}) EXPECT_FALSE(Item(N)->isEnabled()) << N;

  Open("Edit1");
  EXPECT_EQ(Item("Undo1")->text(), "Can't &Undo");
  EXPECT_FALSE(Item("Redo1")->isEnabled());
  EXPECT_FALSE(Item("SelectNone1")->isEnabled());
  EXPECT_TRUE(Item("SelectAll1")->isEnabled());
  // A command with a snapshot: Undo, Redo, Revert and Commit come on.
  E().RegisterActionCallback(FindActionEntry(400)->Callback, [](TEditor& Ed, const TActionArgument&) {
    Ed.gWork->Clear(0xFF000000u);
    return arWriteBack;
  });
  Item("NegativeImage1")->trigger();
  Open("Edit1");
  EXPECT_EQ(Item("Undo1")->text(), "&Undo");
  EXPECT_TRUE(Item("Undo1")->isEnabled());
  EXPECT_EQ(Item("Redo1")->text(), "&Redo");
  Open("File1");
  for (const char* N : {"Revert1", "Commit1", "Checkpoint1"}) EXPECT_TRUE(Item(N)->isEnabled()) << N;
  // Undo puts the picture back and forgets the tag.
  Item("Undo1")->trigger();
  EXPECT_EQ(View().Bitmap()->GetPixel(3, 3), 0xFF336699u);
  EXPECT_EQ(E().gLastActionTag, 0);
  Open("Edit1");
  EXPECT_EQ(Item("Undo1")->text(), "Can't &Undo");
  EXPECT_TRUE(Item("UndoUndo1")->isEnabled());
  Item("UndoUndo1")->trigger();
  EXPECT_EQ(View().Bitmap()->GetPixel(3, 3), 0xFF000000u);

  // A selected layer that is no bitmap layer: neither store applies.
  SelectAll1Click(E());
  TRubberbandLayer* Other = E().gSelection;
  ASSERT_NE(Other, nullptr);
  E().gSelectedLayer = Other;
  Open("Edit1");
  EXPECT_EQ(Item("Undo1")->text(), "Can't &Undo");
  EXPECT_EQ(Item("UndoUndo1")->text(), "Can't U&ndo Undo");
  EXPECT_FALSE(Item("Cut1")->isEnabled());
  E().gSelectedLayer = nullptr;
  Open("Edit1");
  EXPECT_TRUE(Item("SelectNone1")->isEnabled());
  // Gray Zone wants a selection and no layer.
  Open("Colors1");
  EXPECT_TRUE(Item("GrayZone1")->isEnabled());
  SelectNone1Click(E());
  Open("Colors1");
  EXPECT_FALSE(Item("GrayZone1")->isEnabled());
  // Items whose handler is missing stay off until one is set.
  Form->SetHook("Rotate1Click", nullptr);
  EXPECT_FALSE(Item("Rotate1")->isEnabled());
  int Rotations = 0;
  Form->SetHook("Rotate1Click", [&](QAction*) { ++Rotations; });
  EXPECT_TRUE(Item("Rotate1")->isEnabled());
  Item("Rotate1")->trigger();
  EXPECT_EQ(Rotations, 1);

  // File > New asks through the resize dialog in its new-image mode, 800 x
  // 600 to start with and no side above 8192; the picture takes the
  // background colour, made opaque.
  Form->SetSwatchColor(TSwatch::Background, 0x40123456u);
  NewPicture(9, 7, [](TResizeDlg* D) {
    EXPECT_EQ(D->windowTitle(), "New...");
    EXPECT_EQ(D->UpDown1->value(), 800);
    EXPECT_EQ(D->UpDown2->value(), 600);
    EXPECT_EQ(D->UpDown1->maximum(), 8192);
    EXPECT_EQ(D->UpDown2->maximum(), 8192);
    EXPECT_FALSE(D->ComboBox1->isVisibleTo(D));
    EXPECT_FALSE(D->CheckBox1->isVisibleTo(D));
  });
  EXPECT_EQ(E().gFileName, "untitled");
  ASSERT_EQ(View().Bitmap()->Width(), 9);
  EXPECT_EQ(View().Bitmap()->Height(), 7);
  EXPECT_EQ(View().Bitmap()->GetPixel(8, 6), 0xFF123456u);
  // "untitled" is a name: Close, Checkpoint and Print come on; Revert has
  // no file to go back to.
  Open("File1");
  for (const char* N : {"Close1", "Print1", "Save1"}) EXPECT_TRUE(Item(N)->isEnabled()) << N;
  EXPECT_FALSE(Item("Revert1")->isEnabled());
  // Not even with a step to undo.
  Item("NegativeImage1")->trigger();
  Open("File1");
  EXPECT_TRUE(Item("Commit1")->isEnabled());
  EXPECT_FALSE(Item("Revert1")->isEnabled());
  // Nothing committed: no Rollback; and no second print while one runs.
  EXPECT_FALSE(Item("Rollback1")->isEnabled());
  Form->Printing = true;
  Open("File1");
  EXPECT_FALSE(Item("Print1")->isEnabled());
  Form->Printing = false;
}

namespace {

// Takes the shortcut events that reach menu items, so the items' handlers
// (dialogs, new windows, Exit) stay out of the test.
struct TShortcutCatcher : QObject {
  std::set<std::string> Fired;
  bool eventFilter(QObject* Item, QEvent* E) override {
    if (E->type() != QEvent::Shortcut) return false;
    Fired.insert(Item->objectName().toStdString());
    return true;
  }
};

}  // namespace

// Every shortcut of the tree, submenus included, in several document states:
// an item's key fires exactly when the rules of its menus enable the item
// at that moment. Each state is entered without opening a menu, so the
// items start from what the last state left (Save off after "no document").
TEST_F(MainWindow, ShortcutsFireExactlyWhenTheirItemWouldBeEnabled) {
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  E().RegisterActionCallback(FindActionEntry(400)->Callback, [](TEditor& Ed, const TActionArgument&) {
    Ed.gWork->Clear(0xFF000000u);
    return arWriteBack;
  });
  TShortcutCatcher Catcher;
  for (const TMenuRow& R : MenuRows())
    if (*R.Shortcut != '\0') Item(R.Name)->installEventFilter(&Catcher);
  std::set<std::string> EverFired;
  struct TState {
    const char* Name;
    std::function<void()> Enter;
  };
  const TState States[] = {
      {"no document", [] {}},
      {"picture, selection, clipboard, an undo step and a redo tag",
       [&] {
         LoadPicture(8, 8);
         SelectAll1Click(E());
         Form->Actions().Copy1Click();
         Item("NegativeImage1")->trigger();
       }},
      {"after Undo", [&] { Item("Undo1")->trigger(); }},
      {"a floating layer", [&] { Item("PasteAsFloatingSelection1")->trigger(); }},
      {"closed again", [&] { Form->Document().CloseImage(); }},
  };
  for (const TState& S : States) {
    SCOPED_TRACE(S.Name);
    S.Enter();
    for (const TMenuRow& R : MenuRows()) {
      if (*R.Shortcut == '\0') continue;
      SCOPED_TRACE(R.Name);
      QAction* A = Item(R.Name);
      Catcher.Fired.clear();
      const QKeyCombination Key = QKeySequence(QString::fromUtf8(R.Shortcut))[0];
      QTest::keyClick(Form.get(), Key.key(), Key.keyboardModifiers());
      EXPECT_EQ(Catcher.Fired.count(R.Name) == 1, A->isEnabled());
      EXPECT_LE(Catcher.Fired.size(), 1u);
      EverFired.insert(Catcher.Fired.begin(), Catcher.Fired.end());
    }
  }
  // Each key worked in some state; Redo Plugin waits for a plug-in to have run,
  // which the plug-in menu's own test drives.
  for (const TMenuRow& R : MenuRows())
    if (*R.Shortcut != '\0' && std::string(R.Name) != "RedoPlugin1") {
      EXPECT_EQ(EverFired.count(R.Name), 1u) << R.Name;
    }
}

// The keys of the picture's menus (Image, Colors, Layers), pressed in the
// window as a user presses them: while the window shows no picture, at the
// start and after Close, none opens a dialog or a box, makes a picture or a
// step, and the close then asks nothing; with a picture each one runs.
TEST_F(MainWindow, PictureMenuKeysRunOnlyWhileAPictureIsShown) {
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Form->Random = [](int32_t) { return 0; };  // Custom > Random: every cell 4
  // The table lists the menus in order: Image, Colors and Layers stand
  // together before Windows.
  std::vector<const TMenuRow*> Keys;
  bool InPictureMenus = false;
  for (const TMenuRow& R : MenuRows()) {
    if (*R.Parent == '\0') InPictureMenus = std::set<std::string>{"Image1", "Colors1", "Layers1"}.count(R.Name) != 0;
    if (InPictureMenus && *R.Shortcut != '\0') Keys.push_back(&R);
  }
  ASSERT_EQ(Keys.size(), 35u);
  int Dialogs = 0;
  QTimer Cancel;
  QObject::connect(&Cancel, &QTimer::timeout, [&] {
    if (auto* D = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      ++Dialogs;
      D->reject();
    }
  });
  Cancel.start(5);
  const auto Press = [&](const TMenuRow& R) {
    // A dialog the last key opened stays the active window after it closed
    // on this platform; a user's window would be active again.
    QApplication::setActiveWindow(Form.get());
    const QKeyCombination Key = QKeySequence(QString::fromUtf8(R.Shortcut))[0];
    QTest::keyClick(Form.get(), Key.key(), Key.keyboardModifiers());
  };
  // What a key leaves behind: a dialog, a box, an undo step, a picture, the caption.
  const auto Traces = [&] {
    return std::tuple(Dialogs, Boxes.Count(), E().gImageUndo->UndoCount(), View().Bitmap()->Width(),
                      Form->windowTitle().toStdString());
  };
  const auto Empty = std::tuple(0, size_t{0}, 0, 0, std::string("Vemra"));
  for (const char* State : {"at the start", "after Close"}) {
    SCOPED_TRACE(State);
    if (std::string(State) == "after Close") {
      LoadPicture(8, 8);
      QTest::keyClick(Form.get(), Qt::Key_F4, Qt::ControlModifier);
    }
    ASSERT_EQ(Traces(), Empty);
    for (const TMenuRow* R : Keys) {
      Press(*R);
      EXPECT_EQ(Traces(), Empty) << R->Name;
    }
    EXPECT_TRUE(Form->FormCloseQuery());
    EXPECT_EQ(Boxes.Count(), 0u);
  }
  // With a picture, all of it selected for Gray Zone and Crop, each key
  // leaves something. Greys with a warm cast, neither black nor white, give
  // every stretch and white balance something to do.
  TBitmap32 Cast;
  Cast.SetSize(16, 12);
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 16; ++x) Cast.SetPixel(x, y, MakeArgb(90 + 8 * x, 80 + 8 * x, 60 + 6 * x + y));
  SavePNGFromBitmap32(Dir + "/cast.png", &Cast, false, false, 0, 9);
  for (const TMenuRow* R : Keys) {
    ASSERT_TRUE(Form->Document().OpenImageFile(Dir + "/cast.png"));
    SelectAll1Click(E());
    const auto Before = Traces();
    Press(*R);
    EXPECT_NE(Traces(), Before) << R->Name;
  }
}

// In a window with no picture and an empty clipboard no menu item leaves an
// undo step or a "*" (any dialog it opens is cancelled), and Exit then asks
// nothing; on a picture the commands that answer with a refusal, or find
// nothing to work on, leave none either.
TEST_F(MainWindow, NothingRefusedOrDoneOnNothingLeavesAnUndoStep) {
  EmptyClipboard1Click();
  QTimer Cancel;
  QObject::connect(&Cancel, &QTimer::timeout, [] {
    if (auto* D = qobject_cast<QDialog*>(QApplication::activeModalWidget())) D->reject();
  });
  Cancel.start(10);
  const auto Unchanged = [this] {
    return !E().gImageUndo->HasUndo() && !E().gLayerUndo->HasUndo() && !Form->windowTitle().contains('*');
  };
  // Items that start other programs or end this one.
  const std::set<std::string> Away = {"NewWindow1", "PasteIntoNewWindow1", "Exit1",   "Help2",
                                      "HomePage1",  "Acquire1",            "SelectSource1"};
  size_t Run = 0;
  for (const TMenuRow& R : MenuRows()) {
    if (std::string(R.Name) == "-" || std::string(R.Parent) == "#" || Away.count(R.Name) != 0 ||
        Form->SubMenu(R.Name) != nullptr)
      continue;
    SCOPED_TRACE(R.Name);
    Form->RefreshMenuState();
    if (!Item(R.Name)->isEnabled()) continue;  // neither its menu nor its key reaches it
    Item(R.Name)->trigger();
    ++Run;
    EXPECT_TRUE(View().Bitmap()->Empty());
    ASSERT_TRUE(Unchanged());
  }
  EXPECT_GT(Run, 200u);
  EXPECT_FALSE(Clipboard().HasPicture());  // nothing copied over what another program put there
  const size_t Asked = Boxes.Count();
  EXPECT_TRUE(Form->FormCloseQuery());
  EXPECT_EQ(Boxes.Count(), Asked);

  // On one-colour pictures: the box (or none), no undo step, and no
  // question after it.
  struct TRefusal {
    const char* Name;
    const char* Box;
    int32_t W, H;
    TColor32 Colour;
  };
  const TColor32 Grey = 0xFF5A5A5Au;
  const TRefusal Rows[] = {
      {"Luminance1", "stretch impossible !", 8, 16, Grey},
      {"LuminanceMore1", "stretch impossible !", 8, 16, Grey},
      {"Colors2", "stretch impossible !", 8, 16, Grey},
      {"ColorsMore1", "stretch impossible !", 8, 16, Grey},
      {"SmartLuminance1", "stretch impossible !", 1, 1, Grey},
      {"WhitePatch1", "operation canceled: white patch already white !", 16, 16, 0xFFFCFCFCu},
      {"PasteIntoSelection1", nullptr, 8, 16, Grey},  // an empty clipboard
      {"FeatherTransparency1", nullptr, 1, 16, Grey},  // no centre to feather from
  };
  EmptyClipboard1Click();
  for (const auto& [Name, Box, W, H, Colour] : Rows) {
    SCOPED_TRACE(Name);
    TBitmap32 B;
    B.SetSize(W, H);
    B.Clear(Colour);
    SavePNGFromBitmap32(Dir + "/one.png", &B, false, false, 0, 9);
    ASSERT_TRUE(Form->Document().OpenImageFile(Dir + "/one.png"));
    Boxes.Clear();
    Form->RefreshMenuState();
    ASSERT_TRUE(Item(Name)->isEnabled());
    Item(Name)->trigger();
    EXPECT_TRUE(View().Bitmap()->Equal(&B));
    EXPECT_TRUE(Unchanged());
    EXPECT_TRUE(Form->FormCloseQuery());
    std::vector<std::string> Texts;
    for (const TMessageBoxRequest& Q : Boxes.Requests()) Texts.push_back(Q.Text);
    EXPECT_EQ(Texts, Box != nullptr ? std::vector<std::string>{Box} : std::vector<std::string>{});
  }
}

// The names the engine passes to the window (grep src/editor for the menu
// calls of EditorUi), each reached the way a user reaches it; none may be
// missing from the window's menus. Ctrl+click with the brush offers Local
// Undo only while the document can undo.
TEST_F(MainWindow, EngineNamesOnlyItemsTheWindowHas) {
  Form->resize(640, 480);
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  LoadPicture(40, 30);
  for (const char* M : {"Image1", "Layers1", "View1"}) Open(M);
  Item("Histogram1")->trigger();
  Item("Histogram1")->trigger();
  const TPoint Mid = View().BitmapToControl(TPoint{20, 15});
  // A click on the view that opens Popup; the popup is closed again.
  auto ClickOpens = [&](int32_t Tool, Qt::MouseButton Button, Qt::KeyboardModifiers Mods, const char* Popup,
                        TPoint At) {
    SCOPED_TRACE(Popup);
    Form->SelectTool(Tool);
    QTest::mouseClick(Form->ViewWidget(), Button, Mods, QPoint(At.X, At.Y));
    QMenu* M = Form->SubMenu(Popup);
    EXPECT_TRUE(M->isVisible());
    M->hide();
  };
  ClickOpens(2, Qt::LeftButton, Qt::ControlModifier, "PopupMenu2", Mid);
  QAction* LocalUndo = Form->MenuItem("UndofromHere1");
  ASSERT_NE(LocalUndo, nullptr);
  EXPECT_FALSE(LocalUndo->isEnabled());
  QTest::keyClick(Form.get(), Qt::Key_I, Qt::ControlModifier);  // Flip: an undo step
  ClickOpens(2, Qt::LeftButton, Qt::ControlModifier, "PopupMenu2", Mid);
  EXPECT_TRUE(LocalUndo->isEnabled());
  ClickOpens(7, Qt::LeftButton, Qt::ControlModifier, "PopupMenu3", Mid);
  ClickOpens(1, Qt::RightButton, Qt::NoModifier, "PopupMenu4", Mid);
  Form->Actions().Copy1Click();
  QTest::keyClick(Form.get(), Qt::Key_V, Qt::ControlModifier);
  ASSERT_NE(E().gSelectedLayer, nullptr);
  const TFloatRect F = E().gSelection->GetAdjustedLocation();  // in view pixels
  ClickOpens(1, Qt::RightButton, Qt::NoModifier, "PopupMenu1",
             TPoint{static_cast<int32_t>((F.Left + F.Right) / 2), static_cast<int32_t>((F.Top + F.Bottom) / 2)});
  Open("Layers1");
  Item("DeleteAll1")->trigger();
  Item("Close1")->trigger();
  EXPECT_FALSE(Item("Image1")->isVisible());
  // Enabled only after a plug-in ran, which needs the program's plug-in folder.
  EXPECT_NE(Form->MenuItem("RedoPlugin1"), nullptr);
  std::string Missing;
  for (const std::string& N : Form->UnknownMenuNames()) Missing += N + " ";
  EXPECT_EQ(Missing, "");
  // A name the window lacks is caught, not passed over.
  Form->SetMenuEnabled("NoSuchItem1", true);
  EXPECT_EQ(Form->UnknownMenuNames(), std::vector<std::string>{"NoSuchItem1"});
}

// View > Histogram and its key each turn the window over, and it stays on
// top; the check mark follows it.
TEST_F(MainWindow, HistogramItemAndShiftHTurnTheWindowOver) {
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  LoadPicture(8, 8);
  const std::pair<bool, bool> Steps[] = {{true, true}, {false, false}, {false, true}, {true, false}};
  for (const auto& [ByKey, Shown] : Steps) {
    if (ByKey)
      QTest::keyClick(Form.get(), Qt::Key_H, Qt::ShiftModifier);
    else
      Item("Histogram1")->trigger();
    EXPECT_EQ(HistogramVisible(), Shown) << ByKey;
    Open("View1");
    EXPECT_EQ(Item("Histogram1")->isChecked(), Shown);
  }
  ASSERT_NE(HistogramWindow(), nullptr);
  EXPECT_TRUE(HistogramWindow()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

// Ctrl+F4 closes an untitled picture too (one pasted from the command line).
TEST_F(MainWindow, CtrlF4ClosesAnUntitledPicture) {
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  TBitmap32 Pasted;
  Pasted.SetSize(6, 5);
  ASSERT_TRUE(CopyBitmapWithAlpha(&Pasted));
  Form->HandleArguments({"@"});
  ASSERT_EQ(E().gFileName, "untitled");
  QTest::keyClick(Form.get(), Qt::Key_F4, Qt::ControlModifier);
  EXPECT_TRUE(E().gFileName.empty());
  EXPECT_TRUE(View().Bitmap()->Empty());
}

// Every checkable item clicked twice: the state it drives (the value the
// settings write at exit where it has one) and its check mark as the menu
// shows it, after each click.
TEST_F(MainWindow, CheckableItemsTwiceFollowTheirState) {
  LoadPicture(8, 8);
  auto Saved = [this] { return Form->CollectSettings(); };
  // The state after the first and the second click; a value chosen stays
  // checked, a toggle shows its state.
  struct TRow {
    const char* Item;
    std::function<int32_t()> State;
    int32_t First, Second;
    bool CheckedFirst, CheckedSecond;
  };
  std::vector<TRow> Rows = {
      // The setting and the GIF writer's flag.
      {"Dither1", [&] { return Saved().GifDither * 10 + Form->Document().gGifDither; }, 11, 0, true, false},
      {"CreateBackup1", [&] { return Saved().CreateBackup * 1; }, 1, 0, true, false},
      {"ShowPathonTitle1", [&] { return Saved().ShowPath * 1; }, 1, 0, true, false},
      {"StandardToolbar1", [&] { return Saved().StdToolbar * 1; }, 1, 0, true, false},
      {"EditToolbar1", [&] { return Saved().EditToolbar * 1; }, 0, 1, false, true},
      {"StatusBar2", [&] { return Form->statusBar()->isVisibleTo(Form.get()) * 1; }, 0, 1, false, true},
      {"Timing1", [&] { return E().gTiming * 1; }, 1, 0, true, false},
      {"TransparentBackground1", [&] { return Form->Document().gTransparentBackground * 1; }, 1, 0, true, false},
  };
  // The items that choose one value of a setting.
  using TChoices = std::vector<std::pair<const char*, int32_t>>;
  auto Choices = [&](std::function<int32_t()> State, const TChoices& Items) {
    for (const auto& [Name, Value] : Items) Rows.push_back({Name, State, Value, Value, true, true});
  };
  Choices([&] { return Saved().JpegQuality; }, {{"Fine1", 100}, {"Normal1", 94}, {"Basic1", 80}, {"Poor1", 50},
                                                {"Troll1", 25}});
  Choices([&] { return Saved().StretchFilter; }, {{"Nearest1", 0}, {"Draft1", 1}, {"Linear1", 2}, {"Cosine1", 3},
                                                  {"Spline1", 4}, {"Lanczos1", 5}, {"Mitchell1", 6}, {"Cubic1", 7}});
  Choices([&] { return Saved().J2kQuality; }, {{"Default1", 0}, {"N301", 30}, {"N201", 20}, {"N151", 15},
                                               {"N102", 10}, {"N51", 5}});
  Choices([&] { return Saved().J2kFormat; }, {{"GrayScale1", 1}, {"Color1", 3}});
  // A grid chosen twice is off again (1); the Draw tool snaps to it.
  for (const auto& [Name, Value] : TChoices{{"N101", 10}, {"N202", 20}, {"N501", 50}, {"N1001", 100}})
    Rows.push_back({Name, [&] { return Saved().DrawGrid * 1000 + Form->Tools().gSnapGrid; }, Value * 1001, 1001,
                    true, false});
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Item);
    ASSERT_TRUE(Item(R.Item)->isCheckable());
    for (int Click = 1; Click <= 2; ++Click) {
      Form->RefreshMenuState();
      Item(R.Item)->trigger();
      Form->RefreshMenuState();
      EXPECT_EQ(R.State(), Click == 1 ? R.First : R.Second) << "click " << Click;
      EXPECT_EQ(Item(R.Item)->isChecked(), Click == 1 ? R.CheckedFirst : R.CheckedSecond) << "click " << Click;
    }
  }
  EXPECT_FALSE(Item("Fine1")->isChecked());  // one JPEG quality at a time
  // The view's grip is there exactly while the status bar is.
  Item("StatusBar2")->trigger();
  EXPECT_EQ(View().SizeGrip(), sgNone);
  Item("StatusBar2")->trigger();
  EXPECT_EQ(View().SizeGrip(), sgAuto);
  // With the edit toolbar hidden, the standard one has both edges.
  Item("StandardToolbar1")->trigger();
  Item("EditToolbar1")->trigger();
  EXPECT_TRUE(Form->ToolBar2()->property("edgeTop").toBool());
  EXPECT_TRUE(Form->ToolBar2()->property("edgeBottom").toBool());
  // One colour, then two.
  Item("CountColorsUsed1")->trigger();
  ASSERT_EQ(Boxes.Count(), 1u);
  EXPECT_EQ(Boxes.Last().Text, "Number of colors 1");
  View().Bitmap()->SetPixel(2, 2, 0xFF000000u);
  Item("CountColorsUsed1")->trigger();
  EXPECT_EQ(Boxes.Last().Text, "Number of colors 2");
}

// Zoom steps print exactly: 2, 4 and 8 are reached as exact floats.
TEST_F(MainWindow, ZoomStepsReachExactScalesAndStop) {
  LoadPicture(40, 30);
  Item("NormalViewing1")->trigger();
  const float Up[] = {1.41421354f, 2.0f, 2.82842708f, 4.0f, 5.65685415f, 8.0f, 8.0f};
  for (float S : Up) {
    Item("ZoomIn1")->trigger();
    EXPECT_EQ(View().Scale(), S);
  }
  EXPECT_NE(Form->windowTitle().indexOf("[8:1]"), -1) << Form->windowTitle().toStdString();
  Item("N11")->trigger();
  const float Down[] = {0.707106769f, 0.5f, 0.353553385f, 0.25f, 0.176776692f, 0.125f, 0.125f};
  for (float S : Down) {
    Item("ZoomOut1")->trigger();
    EXPECT_EQ(View().Scale(), S);
  }
  EXPECT_NE(Form->windowTitle().indexOf("[1:8]"), -1) << Form->windowTitle().toStdString();
  // The last step up is still taken from exactly 7, and none from just above it.
  EXPECT_EQ(ZoomInScale(7.0f), static_cast<float>(7.0 * 1.414213562));
  EXPECT_EQ(ZoomInScale(std::nextafter(7.0f, 8.0f)), std::nextafter(7.0f, 8.0f));
  // The selection frame follows each zoom and scroll over its bitmap rectangle.
  Item("N11")->trigger();
  SelectAll1Click(E());
  ASSERT_NE(E().gSelection.get(), nullptr);
  auto SameRect = [](const TFloatRect& A, const TFloatRect& B) {
    return A.Left == B.Left && A.Top == B.Top && A.Right == B.Right && A.Bottom == B.Bottom;
  };
  for (auto [Name, Scale] : {std::pair{"N31", 3.0f}, {"N210", 2.0f}, {"N12", 0.5f}, {"N14", 0.25f}}) {
    Item(Name)->trigger();
    EXPECT_EQ(View().Scale(), Scale) << Name;
    EXPECT_TRUE(SameRect(E().gSelection->Location(), BitmapRectInControl(View()))) << Name;
  }

}

TEST_F(MainWindow, FitAndTheWheel) {
  Form->resize(700, 500);
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  // Nothing to fit: the scale stays.
  Item("N210")->trigger();
  Item("Fit1")->trigger();
  EXPECT_EQ(View().Scale(), 2.0f);
  EXPECT_EQ(FitScale(0, 0, 100, 100), 0.001f);
  LoadPicture(1000, 500);
  Item("Fit1")->trigger();
  const double Want = std::min((View().Height() - 33.0) / 500, (View().Width() - 33.0) / 1000);
  EXPECT_EQ(View().Scale(), static_cast<float>(Want));

  // Ctrl+wheel over the image: the bitmap point under the mouse stays there,
  // also after the next image update.
  Item("NormalViewing1")->trigger();
  const QPoint At(View().Width() / 3, View().Height() / 3);
  const TPoint Before = View().ControlToBitmap(TPoint{At.x(), At.y()});
  QWheelEvent Up(QPointF(At), QPointF(Form->ViewWidget()->mapToGlobal(At)), QPoint(), QPoint(0, 120), Qt::NoButton,
                 Qt::ControlModifier, Qt::NoScrollPhase, false);
  // The view leaves the wheel over the image to the window (as Qt passes a
  // spontaneous wheel up to the parent).
  QApplication::sendEvent(Form->ViewWidget(), &Up);
  EXPECT_FALSE(Up.isAccepted());
  QWheelEvent UpInForm(QPointF(Form->ViewWidget()->mapTo(Form.get(), At)), QPointF(), QPoint(), QPoint(0, 120),
                       Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(Form.get(), &UpInForm);
  EXPECT_EQ(View().Scale(), 1.41421354f);
  const TPoint After = View().ControlToBitmap(TPoint{At.x(), At.y()});
  EXPECT_LE(std::abs(After.X - Before.X), 1);
  EXPECT_LE(std::abs(After.Y - Before.Y), 1);
  const float H = View().OffsetHorz(), V = View().OffsetVert();
  View().UpdateImage();
  EXPECT_EQ(View().OffsetHorz(), H);
  EXPECT_EQ(View().OffsetVert(), V);
  // Over the vertical bar the wheel scrolls, turned down to later rows; the scale stays.
  const TRect Bar = TRect{View().Width() - View().GetScrollBarSize() + 1, 40, View().Width() - 1, 41};
  const float Pos = View().VScroll()->Position();
  QWheelEvent OnBar(QPointF(Bar.Left, Bar.Top), QPointF(), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(Form->ViewWidget(), &OnBar);
  EXPECT_TRUE(OnBar.isAccepted());
  EXPECT_EQ(View().Scale(), 1.41421354f);
  EXPECT_EQ(View().VScroll()->Position(), Pos + View().ScrollBars()->Increment());

  // Arrow keys scroll by a tenth of the screen width when released, not
  // when a held key repeats; up and down use the screen width too.
  const int32_t Step = Form->screen()->geometry().width() / 10;
  SelectAll1Click(E());
  const TFloatRect Frame0 = E().gSelection->Location();
  const float H0 = View().HScroll()->Position(), V0 = View().VScroll()->Position();
  Form->PreviewKey(Qt::Key_Right, Qt::NoModifier, false, true);
  EXPECT_EQ(View().HScroll()->Position(), H0);
  Form->PreviewKey(Qt::Key_Right, Qt::NoModifier, false, false);
  EXPECT_EQ(View().HScroll()->Position(), H0 + Step);
  Form->PreviewKey(Qt::Key_Down, Qt::NoModifier, false, false);
  EXPECT_EQ(View().VScroll()->Position(), V0 + Step);
  // The selection frame moved with the picture.
  const TFloatRect Frame1 = E().gSelection->Location();
  EXPECT_EQ(Frame1.Left, Frame0.Left - Step);
  EXPECT_EQ(Frame1.Top, Frame0.Top - Step);
}

TEST_F(MainWindow, ControlsStartAsTheWindowDeclaresThem) {
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  EXPECT_EQ(Form->width(), 800);
  EXPECT_EQ(Form->StatusPanel(0)->width(), 450);
  EXPECT_EQ(Form->StatusPanel(1)->width(), 300);
  EXPECT_EQ(Form->StatusPanel(2)->width(), 30);
  EXPECT_FALSE(Form->ToolBar2()->isVisible());

  struct TGaugeWant {
    TGauge Gauge;
    int32_t Min, Max, Start;
    const char* Hint;
  };
  for (const TGaugeWant& G : {TGaugeWant{TGauge::Alpha, 0, 255, 255, "Transparency - Alpha level"},
                              TGaugeWant{TGauge::Size, 1, 64, 1, "Tool size"},
                              TGaugeWant{TGauge::Density, 1, 255, 64, "Tool density/hardness"}}) {
    TGaugeBar& B = Form->GaugeBar(G.Gauge);
    EXPECT_EQ(B.Min(), G.Min);
    EXPECT_EQ(B.Max(), G.Max);
    EXPECT_EQ(Form->GaugePosition(G.Gauge), G.Start);
    EXPECT_EQ(B.ButtonSize(), 12);
    EXPECT_EQ(Form->GaugeWidget(G.Gauge)->toolTip(), G.Hint);
    Form->SetGaugePosition(G.Gauge, 1000);
    EXPECT_EQ(Form->GaugePosition(G.Gauge), G.Max);
  }
  // A size or density change shows its value as the hint and rebuilds the brush.
  int Masks = 0;
  Form->BuildBrushMask = [&] { ++Masks; };
  Form->SetGaugePosition(TGauge::Size, 17);
  EXPECT_EQ(Form->GaugeWidget(TGauge::Size)->toolTip(), "17");
  EXPECT_EQ(Masks, 1);

  ASSERT_EQ(Form->ComboBox1()->count(), 15);
  Form->ComboBox1()->setCurrentIndex(14);
  EXPECT_EQ(Form->RetouchEffectTag(), 399);
  Form->ComboBox1()->setCurrentIndex(8);
  EXPECT_EQ(Form->ComboBox1()->currentText(), "Light(B)");
  EXPECT_EQ(Form->RetouchEffectTag(), 861);

  EXPECT_EQ(Form->ColorLabelOf(TSwatch::Foreground)->text(), "#FFFFFF");
  EXPECT_EQ(Form->ColorLabelOf(TSwatch::Background)->text(), "#000000");
  Form->SetSwatchColor(TSwatch::Background, 0x800A0B0Cu);
  EXPECT_EQ(Form->ColorLabelOf(TSwatch::Background)->text(), "#0A0B0C");

  // The tool buttons select tools 1 to 8; Space released goes back to 1.
  std::vector<int32_t> Tools;
  Form->Editor().SetToolHandler = [&](TEditor& Ed, int32_t T) {
    Tools.push_back(T);
    Ed.gCurrentTool = T;
  };
  for (int i = 0; i < 8; ++i) Form->ToolButton(i)->click();
  EXPECT_EQ(Tools, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(Form->ToolButton(7)->toolTip(), "Replace");
  EXPECT_FALSE(Form->PreviewKey(Qt::Key_Space, Qt::NoModifier, false, true));
  EXPECT_EQ(Form->Editor().gCurrentTool, 8);
  Form->PreviewKey(Qt::Key_Space, Qt::NoModifier, false, false);
  EXPECT_EQ(Form->Editor().gCurrentTool, 1);
  EXPECT_TRUE(Form->ToolButton(0)->isChecked());
  // A tool the engine chose shows on the toolbar after the next click.
  for (int32_t T : {6, 8}) {
    Form->Editor().SetTool(T);
    QTest::mouseClick(Form->StatusPanel(1), Qt::LeftButton);
    EXPECT_TRUE(Form->ToolButton(T - 1)->isChecked()) << T;
  }
  Form->Editor().gCurrentTool = 2;
  Form->PreviewKey(Qt::Key_Control, Qt::ControlModifier, true, false);
  EXPECT_EQ(Form->StatusPanel(0)->text(),
            "Ctrl+Click to select a brush type: color, pattern, clone or undo. Ctrl+Wheel to Zoom In/Out on a point.");
  Form->Editor().gCurrentTool = 3;
  Form->PreviewKey(Qt::Key_Control, Qt::NoModifier, false, false);
  EXPECT_EQ(Form->StatusPanel(0)->text(),
            "Left, middle or right click to select a color. Rotate Wheel Up/Down to Zoom In/Out (centered).");
}

// An independent walk over scripted random numbers.
TEST(RandomKernel, CellsAndDivisorNeverNegative) {
  for (int Seed = 0; Seed < 200; ++Seed) {
    std::vector<int32_t> Draws;
    uint32_t X = static_cast<uint32_t>(Seed) * 2654435761u + 1;
    auto Random = [&](int32_t N) {
      X = X * 1103515245u + 12345u;
      const int32_t V = static_cast<int32_t>((X >> 16) % static_cast<uint32_t>(N));
      Draws.push_back(V);
      return V;
    };
    const TMatrixKernel K = RandomKernel(Random);
    // Replay the draws: a cell is drawn only when the first draw is 0.
    size_t i = 0;
    int32_t Sum = 0;
    std::array<int32_t, 25> Cells{};
    for (int32_t& C : Cells) {
      C = Draws[i++] == 0 ? Draws[i++] - 4 : 0;
      Sum += C;
    }
    ASSERT_EQ(i, Draws.size());
    const int32_t Sign = Sum < 0 ? -1 : 1;
    EXPECT_EQ(K.Divisor, Sign * Sum);
    EXPECT_GE(K.Divisor, 0);
    for (size_t c = 0; c < 25; ++c) EXPECT_EQ(K.Cells[c], Sign * Cells[c]);
  }
  // All cells -4: the divisor -100 turns to 100 and the cells to 4.
  int32_t Call = 0;
  const TMatrixKernel K = RandomKernel([&](int32_t) { return 0 * ++Call; });
  EXPECT_EQ(K.Divisor, 100);
  EXPECT_EQ(K.Cells[24], 4);
}

// The help page the build put beside the program cannot drift from the
// menus: read as its text (tags as blanks, entities decoded, blanks folded),
// it names every item of the table, its shortcut right after it. The rows
// filled at run time (recent files, windows, layers, plug-ins) are named by
// what they list instead. It is one page of its own: no script, no address.
TEST(HelpPage, NamesEveryMenuItemWithItsShortcut) {
  std::ifstream In(VEMRA_BIN_DIR "/help/vemra.html");
  ASSERT_TRUE(In) << "no help page beside the program";
  const std::string Html((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(Html.find("<script"), std::string::npos);
  EXPECT_EQ(Html.find("http"), std::string::npos);
  const std::map<std::string, char> Entities = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"#39", '\''}};
  std::string Text = " ";
  for (size_t i = 0; i < Html.size();) {
    if (Html[i] == '<') {
      i = Html.find('>', i);
      ASSERT_NE(i, std::string::npos);
      ++i;
      if (Text.back() != ' ') Text += ' ';
      continue;
    }
    if (Html[i] == '&') {
      const size_t End = Html.find(';', i);
      ASSERT_NE(End, std::string::npos);
      const std::string Name = Html.substr(i + 1, End - i - 1);
      ASSERT_EQ(Entities.count(Name), 1u) << "&" << Name << ";";
      Text += Entities.at(Name);
      i = End + 1;
      continue;
    }
    const bool Blank = std::isspace(static_cast<unsigned char>(Html[i])) != 0;
    if (!Blank || Text.back() != ' ') Text += Blank ? ' ' : Html[i];
    ++i;
  }
  int Named = 0;
  for (const TMenuRow& R : MenuRows()) {
    const std::string Name = R.Name;
    if (Name == "-" || std::string(R.Parent) == "#" ||
        Name == "OpenRecentFile1" || Name == "Window1" || Name == "Layer1" || Name == "library1")
      continue;
    std::string Caption;
    for (const char* C = R.Caption; *C != '\0'; ++C)
      if (*C != '&') Caption += *C;
    while (!Caption.empty() && Caption.back() == ' ') Caption.pop_back();
    const std::string Want = " " + Caption + " " + R.Shortcut + (*R.Shortcut != '\0' ? " " : "");
    EXPECT_NE(Text.find(Want), std::string::npos) << "\"" << Want << "\" (" << Name << ")";
    ++Named;
  }
  EXPECT_EQ(Named, 315 - 4);
}

TEST_F(MainWindow, PaletteToolbarWrapAndLayerList) {
  // The user narrows the window and it takes the width: the toolbar wraps at
  // its separators (the colours below 680 pixels, the gauges below 480, sooner
  // when a row would not fit), nothing on it is cut off, and status panel 0
  // keeps the width beyond 350.
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  for (auto [Width, Rows] : {std::pair{1000, 1}, {679, 2}, {600, 2}, {479, 3}, {460, 3}}) {
    Form->resize(Width, 500);
    QApplication::processEvents();
    EXPECT_EQ(Form->width(), Width);
    EXPECT_EQ(Form->StatusPanel(0)->width(), Width - 350);
    EXPECT_EQ(Form->ToolBar1Rows(), Rows) << Width;
    for (const char* Group : {"ToolButton8", "Panel2", "Panel1"}) {
      const auto* W = Form->findChild<QWidget*>(Group);
      EXPECT_TRUE(W->isVisible()) << Group;
      EXPECT_LE(W->mapTo(Form.get(), QPoint(W->width(), 0)).x(), Width) << Group << " at " << Width;
    }
  }
  // The palette, through the window as the mouse reaches it: the foreground
  // box previews the colour under the mouse and shows the real foreground
  // whenever the mouse is not over the palette, also after a pick with any
  // button; a right click picks and opens no menu (a menu would take the
  // mouse away without a leave).
  QWidget* Palette = Form->Palette();
  QWidget* Box = Form->findChild<QWidget*>("PaintBox2");
  ASSERT_NE(Box, nullptr);
  QWindow* Window = Form->windowHandle();
  auto BoxColor = [&] { return Box->grab().toImage().pixel(Box->width() / 2, Box->height() / 2) | 0xFF000000u; };
  auto InWindow = [&](QPoint P) { return Palette->mapTo(Form.get(), P); };
  auto Under = [&](QPoint P) { return Palette->grab().toImage().pixel(P) | 0xFF000000u; };
  const QPoint A(10, 5), B(40, 15), Away = Form->findChild<QWidget*>("Image321")->mapTo(Form.get(), QPoint(50, 50));
  ASSERT_NE(Under(A), Under(B));
  int Menus = 0;
  TEventCounter ContextMenus(Form.get(), QEvent::ContextMenu, &Menus);
  struct TStep {
    const char* What;
    std::function<void()> Do;
    TColor32 Shown, Foreground;
  };
  const TColor32 White = 0xFFFFFFFFu;
  const TStep Steps[] = {
      {"over A", [&] { QTest::mouseMove(Window, InWindow(A)); }, Under(A), White},
      {"away", [&] { QTest::mouseMove(Window, Away); }, White, White},
      {"right press at B", [&] {
         QTest::mouseMove(Window, InWindow(B));
         QTest::mousePress(Window, Qt::RightButton, Qt::NoModifier, InWindow(B));
       }, White, White},
      {"right release", [&] { QTest::mouseRelease(Window, Qt::RightButton, Qt::NoModifier, InWindow(B)); }, White,
       White},
      {"over A again", [&] { QTest::mouseMove(Window, InWindow(A)); }, Under(A), White},
      {"middle click at A", [&] { QTest::mouseClick(Window, Qt::MiddleButton, Qt::NoModifier, InWindow(A)); },
       White, White},
      {"left click at B", [&] {
         QTest::mouseMove(Window, InWindow(B));
         QTest::mouseClick(Window, Qt::LeftButton, Qt::NoModifier, InWindow(B));
       }, Under(B), Under(B)},
      {"over A, then away", [&] {
         QTest::mouseMove(Window, InWindow(A));
         QTest::mouseMove(Window, Away);
       }, Under(B), Under(B)},
  };
  int Picks = 0;
  Form->OnPalettePick = [&](TMouseButton) { ++Picks; };
  for (const TStep& S : Steps) {
    S.Do();
    QApplication::processEvents();
    EXPECT_EQ(BoxColor(), S.Shown) << S.What;
    EXPECT_EQ(Form->SwatchColor(TSwatch::Foreground), S.Foreground) << S.What;
  }
  EXPECT_EQ(Form->SwatchColor(TSwatch::Background), Under(B));
  EXPECT_EQ(Form->ColorLabelOf(TSwatch::Background)->text().toStdString(), ColorLabel(Under(B)));
  EXPECT_EQ(Form->SwatchColor(TSwatch::Extra), Under(A));
  EXPECT_EQ(Picks, 3);
  EXPECT_EQ(Menus, 0);

  // Layers > Layers shows one item per entry and hides what is left over.
  Form->SetLayerListItems({{3, "Layer 3"}, {5, "Layer 5"}});
  Form->SetLayerListItems({{7, "Layer 7"}});
  QList<QAction*> Items = Form->SubMenu("Layers2")->actions();
  ASSERT_EQ(Items.size(), 2);
  EXPECT_TRUE(Items[0]->isVisible());
  EXPECT_EQ(Items[0]->text(), "Layer 7");
  EXPECT_EQ(Items[0]->data().toInt(), 7);
  EXPECT_FALSE(Items[1]->isVisible());
}

// With the Dropper, the foreground's label shows the colour under the pointer
// while it is over the picture, and the foreground whenever it is not: off
// the picture in the view, out of the view, and once another tool is picked.
TEST_F(MainWindow, DropperLabelShowsTheForegroundOffThePicture) {
  Form->resize(640, 480);
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  LoadPicture(40, 30);
  Form->SelectTool(3);
  QWindow* Window = Form->windowHandle();
  QWidget* ViewW = Form->ViewWidget();
  const TFloatRect R = BitmapRectInControl(View());
  ASSERT_GT(R.Left, 10);
  const QPoint On = ViewW->mapTo(Form.get(), PictureCentre());
  const QPoint Beside = ViewW->mapTo(Form.get(), QPoint(static_cast<int>(R.Left) - 5, PictureCentre().y()));
  const QPoint Out = Form->StatusPanel(0)->mapTo(Form.get(), QPoint(5, 5));
  QLabel* Label = Form->ColorLabelOf(TSwatch::Foreground);
  const auto Moves = [&](std::initializer_list<std::pair<QPoint, const char*>> Path) {
    for (const auto& [At, Shown] : Path) {
      QTest::mouseMove(Window, At);
      QApplication::processEvents();
      EXPECT_EQ(Label->text().toStdString(), Shown) << At.x() << "," << At.y();
    }
  };
  Moves({{On, "#336699"}, {Beside, "#FFFFFF"}, {On, "#336699"}, {Out, "#FFFFFF"}, {On, "#336699"}});
  // A picture larger than the view: its own scroll bars lie over the picture,
  // and the pointer on either bar is off the picture.
  LoadPicture(2000, 1500);
  Form->SetScale(1.0f);
  const int32_t W = View().Width(), H = View().Height(), Bar = View().GetScrollBarSize();
  ASSERT_TRUE(View().HScroll() != nullptr && View().VScroll() != nullptr);
  const QPoint Inside = ViewW->mapTo(Form.get(), QPoint(W / 2, H / 2));
  const QPoint OnHBar = ViewW->mapTo(Form.get(), QPoint(W / 2, H - Bar / 2));
  const QPoint OnVBar = ViewW->mapTo(Form.get(), QPoint(W - Bar / 2, H / 2));
  const QPoint Corner = ViewW->mapTo(Form.get(), QPoint(W - Bar / 2, H - Bar / 2));
  Moves({{Inside, "#336699"}, {OnHBar, "#FFFFFF"}, {Inside, "#336699"}, {OnVBar, "#FFFFFF"}, {Out, "#FFFFFF"},
         {OnVBar, "#FFFFFF"}, {Corner, "#FFFFFF"}, {Inside, "#336699"}, {Corner, "#FFFFFF"}});
  Form->ToolButton(0)->click();
  EXPECT_EQ(Label->text().toStdString(), "#FFFFFF");
  EXPECT_EQ(E().gCurrentTool, 1);
}

// A click on a swatch opens the colour dialog with the swatch's colour; OK
// gives the swatch the colour chosen, rewrites its label and makes the brush
// a colour brush again; Cancel leaves everything.
TEST_F(MainWindow, SwatchClickOpensTheColourDialog) {
  struct TRow {
    const char* Box;
    TSwatch Swatch;
    bool Ok;
    TColor32 Chosen;
  };
  for (const TRow& R : {TRow{"PaintBox2", TSwatch::Foreground, true, 0xFF102030u},
                        TRow{"PaintBox1", TSwatch::Background, true, 0xFF405060u},
                        TRow{"PaintBox3", TSwatch::Extra, true, 0xFF708090u},
                        TRow{"PaintBox2", TSwatch::Foreground, false, 0xFFFFFFFFu}}) {
    SCOPED_TRACE(R.Box);
    auto* Box = Form->findChild<QWidget*>(R.Box);
    ASSERT_NE(Box, nullptr);
    Form->Tools().gBrushType = btPattern;
    const TColor32 Before = Form->SwatchColor(R.Swatch);
    QColor Offered;
    QTimer::singleShot(0, [&] {
      auto* D = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
      if (D == nullptr) return;
      Offered = D->currentColor();
      D->setCurrentColor(QColor::fromRgb(R.Chosen));
      R.Ok ? D->accept() : D->reject();
    });
    QTest::mouseClick(Box, Qt::LeftButton);
    QApplication::processEvents();  // a dialog that never opened leaves no timer behind
    ASSERT_TRUE(Offered.isValid());
    EXPECT_EQ(Offered.rgb() | 0xFF000000u, Before | 0xFF000000u);
    EXPECT_EQ(Form->SwatchColor(R.Swatch), R.Ok ? R.Chosen : Before);
    EXPECT_EQ(Form->Tools().gBrushType, R.Ok ? btColor : btPattern);
    if (QLabel* L = Form->ColorLabelOf(R.Swatch)) {
      EXPECT_EQ(L->text().toStdString(), ColorLabel(R.Ok ? R.Chosen : Before));
    }
  }
  // A press that ends just outside the box, or with the right button, is no click.
  int Opened = 0;
  for (const auto& [Button, At] : {std::pair{Qt::LeftButton, QPoint(20, 10)}, {Qt::LeftButton, QPoint(10, -1)},
                                   {Qt::RightButton, QPoint(10, 10)}}) {
    QTimer::singleShot(0, [&] {
      if (auto* D = qobject_cast<QColorDialog*>(QApplication::activeModalWidget())) ++Opened, D->reject();
    });
    QWidget* Box = Form->findChild<QWidget*>("PaintBox1");
    QTest::mousePress(Box, Button, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseRelease(Box, Button, Qt::NoModifier, At);
    QApplication::processEvents();
  }
  EXPECT_EQ(Opened, 0);
  // With Transparent Background on, a PNG makes the pixels of the background
  // colour chosen above transparent, and only those.
  LoadPicture(6, 4);
  View().Bitmap()->SetPixel(1, 2, 0xFF405060u);
  Item("TransparentBackground1")->trigger();
  Form->SaveAs(Dir + "/keyed.png");
  TBitmap32 Saved;
  ASSERT_TRUE(LoadImageFile(Dir + "/keyed.png", Saved));
  ASSERT_EQ(Saved.Width(), 6);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 6; ++x)
      EXPECT_EQ(Saved.GetPixel(x, y), x == 1 && y == 2 ? 0x00405060u : 0xFF336699u) << x << "," << y;
}

// Each tool shows a cursor of its own over the view; Ctrl+click with Fill or
// Replace offers only the fill modes that tool has.
TEST_F(MainWindow, ToolCursorsAndFillModes) {
  Form->resize(700, 500);
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  LoadPicture(40, 30);
  std::vector<QImage> Seen;
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i + 1);
    Form->ToolButton(i)->click();
    const QCursor C = Form->ViewWidget()->cursor();
    EXPECT_EQ(C.shape(), Qt::BitmapCursor);
    EXPECT_EQ(C.hotSpot(), QPoint(7, 7));
    const QImage Image = C.pixmap().toImage();
    for (const QImage& Other : Seen) EXPECT_NE(Image, Other);
    Seen.push_back(Image);
  }
  struct TRow {
    int Button;
    std::set<int32_t> Modes;
  };
  for (const TRow& R : {TRow{6, {1, 2, 3, 10, 11, 20, 21, 22}}, TRow{7, {1, 2, 3, 101, 102, 103, 111, 112, 113}}}) {
    SCOPED_TRACE(R.Button + 1);
    Form->ToolButton(R.Button)->click();
    QTest::mouseClick(Form->ViewWidget(), Qt::LeftButton, Qt::ControlModifier, PictureCentre());
    QMenu* M = Form->SubMenu("PopupMenu3");
    EXPECT_TRUE(M->isVisible());
    std::set<int32_t> Shown;
    for (QAction* A : M->actions())
      if (A->isVisible()) Shown.insert(A->data().toInt());
    EXPECT_EQ(Shown, R.Modes);
    M->hide();
  }
}

// Ctrl+wheel moves the offsets by round((p1 - p0) * scale), ties to even:
// zooming out to 1:2 puts odd differences exactly on .5. A second window
// zoomed the plain way gives the offsets before the correction.
TEST_F(MainWindow, CtrlWheelCorrectionRoundsTiesToEven) {
  TzubForm Plain;
  // Both windows alike: a 4000 x 3000 picture centred at 1:1.41.
  auto Reset = [](TzubForm& F) {
    F.SetScale(1.0f);
    F.Image321().Bitmap()->SetSize(1, 1);
    F.Image321().Bitmap()->SetSize(4000, 3000);
    F.SetScale(ZoomOutScale(1.0f));
  };
  for (TzubForm* F : {Form.get(), &Plain}) {
    F->resize(640, 480);
    F->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(F));
  }
  int Ties = 0;
  for (int32_t X = 101; X < 140; X += 3) {
    Reset(*Form);
    Reset(Plain);
    ASSERT_EQ(View().Scale(), 0.707106769f);
    const int32_t Y = X + 40;
    const TPoint P0 = View().ControlToBitmap(TPoint{X, Y});
    ASSERT_EQ(P0, Plain.Image321().ControlToBitmap(TPoint{X, Y}));
    Form->WheelZoom(-120, true, X, Y);
    Plain.SetScale(ZoomOutScale(Plain.Image321().Scale()));
    ASSERT_EQ(View().Scale(), 0.5f);
    const TPoint P1 = Plain.Image321().ControlToBitmap(TPoint{X, Y});
    const int32_t Dx = P1.X - P0.X, Dy = P1.Y - P0.Y;
    Ties += (Dx % 2 != 0) + (Dy % 2 != 0);
    // Halves rounded to the even neighbour, written out without rint.
    auto Even = [](int32_t D) {
      const int32_t Floor = D >= 0 ? D / 2 : -((-D + 1) / 2);
      return D % 2 == 0 ? D / 2 : (Floor % 2 == 0 ? Floor : Floor + 1);
    };
    EXPECT_EQ(View().OffsetHorz(), Plain.Image321().OffsetHorz() + Even(Dx)) << X;
    EXPECT_EQ(View().OffsetVert(), Plain.Image321().OffsetVert() + Even(Dy)) << X;
  }
  EXPECT_GT(Ties, 0);
}

// A large picture's histogram, then a smaller picture's: the counts are the
// new picture's alone, not the rest of the large one's block.
TEST_F(MainWindow, HistogramOfASmallerPictureCountsItAlone) {
  auto Counted = [](uint64_t Pixels) {
    TzubHistogram* H = HistogramWindow();
    return WaitUntil([&] {
      QApplication::processEvents();
      return H->PendingCounts() == 0 && H->Counts() && H->Counts()->Count == Pixels;
    }, 10000);
  };
  LoadPicture(640, 512);  // above the size copied on several cores
  Item("Histogram1")->trigger();
  ASSERT_TRUE(Counted(640 * 512));
  LoadPicture(20, 10);
  EXPECT_TRUE(Counted(200));
  EXPECT_EQ(HistogramWindow()->Counts()->Red[0x33], 200u);
  FreeHistogram();
}
