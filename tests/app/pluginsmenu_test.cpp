// The "&Plugins" menu mirrored from the host's model with the sample
// modules: captions, hints, tags, reuse on the second opening, and a click;
// and in the main window, one scan per opening, "&Redo Plugin", and a plug-in
// that fails while the menu pops up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../editor/fake_editor_ui.h"
#include "form_fixture.h"
#include "img_png.h"
#include "zub_document.h"
#include "zub_main_engine.h"
#include "qt_messagebox.h"
#include "raster_image_view.h"
#include "sysinfo.h"
#include "zub_plugins_menu.h"

namespace fs = std::filesystem;

class PluginsMenu : public TFormTest {
 protected:
  void SetUp() override {
    SetPluginHelperFolder(VEMRA_BIN_DIR);
    TFormTest::SetUp();
  }
  void TearDown() override {
    TFormTest::TearDown();
    SetPluginHelperFolder("");
  }
};

TEST_F(PluginsMenu, MirrorsTheScanAndReusesItems) {
  char tmpl[] = "/tmp/vemra-pmenu-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path folder = tmpl;
  fs::create_directories(folder / "plugins");
  const fs::path samples = fs::path(VEMRA_BINARY_DIR) / "bin/plugins";
  fs::copy_file(samples / "askdialog.so", folder / "plugins/askdialog.so");
  fs::copy_file(samples / "invert.so", folder / "plugins/invert.so");

  TFakeEditorUi ui;
  TPluginHost host(folder.string());
  QMenu plugins1("&Plugins");
  std::vector<int32_t> clicked;
  TPluginsMenu menu(&plugins1, host, ui, [&](int32_t Tag) { clicked.push_back(Tag); });
  menu.Plugins1Click();
  ASSERT_EQ(menu.Submenus().size(), 2u);
  EXPECT_EQ(menu.Submenus()[1]->title(), "invert.so");
  const auto invertItems = menu.Submenus()[1]->actions();
  ASSERT_EQ(invertItems.size(), 2);
  EXPECT_EQ(invertItems[0]->text(), "Invert by Vemra samples");
  EXPECT_EQ(invertItems[0]->statusTip(), "Inverts red, green and blue; alpha stays");
  EXPECT_EQ(invertItems[1]->data().toInt(), 4);
  invertItems[1]->trigger();
  EXPECT_EQ(clicked, std::vector<int32_t>{4});

  // The library before it goes: the same QMenu objects now show invert.so,
  // the second submenu and the third item of the first are hidden.
  fs::remove(folder / "plugins/askdialog.so");
  menu.Plugins1Click();
  ASSERT_EQ(plugins1.actions().size(), 2);
  EXPECT_EQ(menu.Submenus()[0]->title(), "invert.so");
  EXPECT_FALSE(menu.Submenus()[1]->menuAction()->isVisible());
  const auto reused = menu.Submenus()[0]->actions();
  EXPECT_FALSE(reused[2]->isVisible());
  reused[1]->trigger();
  EXPECT_EQ(clicked, (std::vector<int32_t>{4, 1}));
  // A library sorting first moves invert.so's items, in reused actions, to new tags.
  fs::copy_file(samples / "invert.so", folder / "plugins/aa.so");
  menu.Plugins1Click();
  menu.Submenus()[1]->actions()[1]->trigger();
  EXPECT_EQ(clicked, (std::vector<int32_t>{4, 1, 3}));
  fs::remove_all(folder);
}

TEST_F(PluginsMenu, TheWindowScansOncePerOpeningAndRedoWaitsForARun) {
  EXPECT_FALSE(Form->MenuItem("RedoPlugin1")->isEnabled());
  // The window scans "plugins" beside the program, here the test's own
  // folder; the probe counts its queries.
  const fs::path plugins = fs::path(ProgramFolder()) / "plugins";
  fs::create_directories(plugins);
  const fs::path probe = plugins / ("querylog-" + std::to_string(getpid()) + ".so");
  fs::copy_file(fs::path(VEMRA_BIN_DIR) / "plugins-broken/querylog.so", probe, fs::copy_options::overwrite_existing);
  const fs::path log = fs::path(Dir) / "queries";
  setenv("VEMRA_QUERY_LOG", log.c_str(), 1);
  auto Queries = [&] {
    std::ifstream in(log);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines;
  };
  for (int opening = 1; opening <= 2; ++opening) {
    emit Form->SubMenu("Plugins1")->aboutToShow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Queries() == opening; })) << Queries();
  }
  unsetenv("VEMRA_QUERY_LOG");
  EXPECT_FALSE(Form->MenuItem("RedoPlugin1")->isEnabled());
  // Running the probe's item is what enables it; the Image menu that holds
  // the plug-ins is there once a picture is.
  Form->Image321().Bitmap()->SetSize(4, 4);
  Form->Editor().gFileName = "untitled";
  Form->Editor().ShowDocument();
  QAction* item = nullptr;
  for (QAction* a : Form->SubMenu("Plugins1")->actions())
    if (a->menu() != nullptr && a->isVisible() && a->text() == QString::fromStdString(probe.filename().string()))
      item = a->menu()->actions().value(0);
  if (item != nullptr) item->trigger();
  fs::remove(probe);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(Form->MenuItem("RedoPlugin1")->isEnabled());
  // Gone with the picture: no plug-in runs on an empty window.
  Boxes.QueueAnswer(IDNO);
  ASSERT_TRUE(Form->Document().CloseImage());
  Form->RefreshMenuState();
  EXPECT_FALSE(Form->MenuItem("RedoPlugin1")->isEnabled());
}

// Hovering Image > Plugins with a plug-in that crashes, loops or exits in its
// query or its identify step beside a good one: the real menu pops up, the
// real box is answered when it shows, and the window lives on with the good
// plug-in in the menu.
TEST_F(PluginsMenu, APluginFailingWhileTheMenuPopsUpIsReportedAndTheMenuSurvives) {
  const std::string Crashed = "Exception (EPluginError) on action Plugins1Click: the plug-in ";
  // A looping plug-in is asked about as soon as its wait is over (0 here).
  // The good library sorts after the failing one, so its scan starts once
  // the box is answered, and the answer gives it a long wait back.
  constexpr uint32_t kLong = 60000;
  const struct {
    const char* Name;
    uint32_t Wait;
    std::string Box;
  } Rows[] = {
      {"null-query.so", kLong, Crashed + "null-query.so crashed (signal 11); it is left out of the menu"},
      {"null-identify.so", kLong, Crashed + "null-identify.so crashed (signal 11); it is left out of the menu"},
      {"exit-query.so", kLong, Crashed + "exit-query.so ended its process (exit code 3); it is left out of the menu"},
      {"exit-identify.so", kLong,
       Crashed + "exit-identify.so ended its process (exit code 3); it is left out of the menu"},
      {"loop-query.so", 0, "The plug-in loop-query.so is not responding.\nStop it?"},
      {"loop-identify.so", 0, "The plug-in loop-identify.so is not responding.\nStop it?"},
  };
  TBitmap32 Picture;
  Picture.SetSize(8, 6);
  SavePNGFromBitmap32(Dir + "/pic.png", &Picture, false, false, 0, 9);
  TQtMessageBoxInstaller QtBoxes;
  // A sanitized helper would catch its own fault and exit; a user's sees the signal.
  const char* Asan = std::getenv("ASAN_OPTIONS");
  const std::string SavedAsan = Asan != nullptr ? Asan : "";
  setenv("ASAN_OPTIONS", (SavedAsan + ":handle_segv=0").c_str(), 1);
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    const fs::path Folder = fs::path(Dir) / Row.Name;
    fs::create_directories(Folder / "plugins");
    fs::copy_file(fs::path(VEMRA_BIN_DIR) / "plugins/invert.so", Folder / "plugins/sample.so");
    fs::copy_file(fs::path(VEMRA_BIN_DIR) / "plugins-broken/misbehave.so", Folder / "plugins" / Row.Name);
    Form = std::make_unique<TzubForm>();
    Form->Plugins() = TPluginHost(Folder.string());
    Form->Plugins().WaitMs = Row.Wait;
    ASSERT_TRUE(Form->Document().OpenImageFile(Dir + "/pic.png"));
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));

    std::vector<std::string> Shown;
    QTimer Answer;
    QObject::connect(&Answer, &QTimer::timeout, [&] {
      auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (Box == nullptr) return;
      Shown.push_back(Box->text().toStdString());
      Form->Plugins().WaitMs = kLong;
      Box->button(Box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok)->click();
    });
    Answer.start(10);
    QMenu* Image = Form->SubMenu("Image1");
    QMenu* Plugins = Form->SubMenu("Plugins1");
    // Image > Plugins with the mouse: a click on "Image", then down the items
    // as a hand would (the menu takes no hover until the pointer has moved a
    // few times or far from where it was).
    auto HoverPlugins = [&] {
      QMenuBar* Bar = Form->menuBar();
      QTest::mouseClick(Bar, Qt::LeftButton, {}, Bar->actionGeometry(Image->menuAction()).center());
      if (!QTest::qWaitFor([&] { return Image->isVisible(); })) return;
      for (QAction* A : Image->actions()) {
        if (A->isVisible()) QTest::mouseMove(Image, Image->actionGeometry(A).center());
        if (A == Plugins->menuAction()) break;
      }
    };
    // The visible items of the open "&Plugins" menu, as "library/caption";
    // open means its window is shown, not just the widget marked visible.
    auto Items = [&] {
      std::vector<std::string> Out;
      if (Plugins->windowHandle() != nullptr && Plugins->windowHandle()->isVisible())
        for (QAction* Sub : Plugins->actions())
          if (Sub->menu() != nullptr && Sub->isVisible())
            for (QAction* A : Sub->menu()->actions())
              if (A->isVisible()) Out.push_back(Sub->text().toStdString() + "/" + A->text().toStdString());
      return Out;
    };
    const std::vector<std::string> Good{"sample.so/Invert by Vemra samples", "sample.so/Mirror by Vemra samples"};
    HoverPlugins();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Shown.empty(); }, 10000));
    EXPECT_EQ(Shown, std::vector<std::string>{Row.Box});
    // The next opening shows the good plug-in and asks nothing.
    QTest::qWait(0);
    HoverPlugins();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Items() == Good; }, 5000)) << ::testing::PrintToString(Items());
    EXPECT_EQ(Shown.size(), 1u) << ::testing::PrintToString(Shown);
  }
  setenv("ASAN_OPTIONS", SavedAsan.c_str(), 1);
}
