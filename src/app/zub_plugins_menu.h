#pragma once
// The "&Plugins" menu of the main window, mirrored from the plug-in host's
// menu model each time the menu opens: one submenu per library, one item per
// function, created once and then reused, hidden when the scan leaves them
// out. An item's data is its Tag; clicking it runs the plug-in. The window
// calls Plugins1Click as the menu's own handler when it opens, so the folder
// is scanned once per opening (every scan starts helper processes).
#include <QObject>
#include <functional>
#include <vector>

#include "zub_plugins.h"

class QAction;
class QMenu;

class TPluginsMenu : public QObject {
  Q_OBJECT

 public:
  // Plugins1 is the "&Plugins" menu; Host the scan and run; Ui receives the
  // reports and the state of "&Redo Plugin" (RedoPlugin1), disabled here
  // until a plug-in has run, so the window makes this after wiring that item;
  // Click runs an item's Tag (the window passes it to
  // TPluginHost::plugin1Click with its editor).
  TPluginsMenu(QMenu* Plugins1, TPluginHost& Host, EditorUi& Ui, std::function<void(int32_t Tag)> Click);

  // Scans and brings the menu up to date (what opening the menu does).
  void Plugins1Click();

  // The submenus created so far, in the model's order.
  const std::vector<QMenu*>& Submenus() const { return submenus_; }

 private:
  QMenu* plugins1_;
  TPluginHost& host_;
  EditorUi& ui_;
  std::function<void(int32_t)> click_;
  std::vector<QMenu*> submenus_;
  std::vector<std::vector<QAction*>> items_;
};
