// The "&Plugins" menu mirrored from the host's model with the sample
// modules: captions, hints, tags, reuse on the second opening, and a click.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <cstdlib>
#include <filesystem>

#include "../editor/fake_editor_ui.h"
#include "zub_plugins_menu.h"

namespace fs = std::filesystem;

TEST(PluginsMenu, MirrorsTheScanAndReusesItems) {
  static int argc = 1;
  static char name[] = "pluginsmenu_test";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
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
  emit plugins1.aboutToShow();
  ASSERT_EQ(plugins1.actions().size(), 2);
  EXPECT_EQ(menu.Submenus()[0]->title(), "invert.so");
  EXPECT_FALSE(menu.Submenus()[1]->menuAction()->isVisible());
  const auto reused = menu.Submenus()[0]->actions();
  EXPECT_FALSE(reused[2]->isVisible());
  reused[1]->trigger();
  EXPECT_EQ(clicked, (std::vector<int32_t>{4, 1}));
  fs::remove_all(folder);
}
