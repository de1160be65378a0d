// The "&Plugins" menu mirrored from the host's model with the sample
// modules: captions, hints, tags, reuse on the second opening, and a click;
// and in the main window, one scan per opening and "&Redo Plugin".
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../editor/fake_editor_ui.h"
#include "form_fixture.h"
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
  for (int opening = 1; opening <= 2; ++opening) {
    emit Form->SubMenu("Plugins1")->aboutToShow();
    std::ifstream in(log);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    EXPECT_EQ(lines, opening);
  }
  unsetenv("VEMRA_QUERY_LOG");
  EXPECT_FALSE(Form->MenuItem("RedoPlugin1")->isEnabled());
  // Running the probe's item is what enables it.
  QAction* item = nullptr;
  for (QAction* a : Form->SubMenu("Plugins1")->actions())
    if (a->menu() != nullptr && a->isVisible() && a->text() == QString::fromStdString(probe.filename().string()))
      item = a->menu()->actions().value(0);
  if (item != nullptr) item->trigger();
  fs::remove(probe);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(Form->MenuItem("RedoPlugin1")->isEnabled());
}
