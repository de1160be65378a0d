#pragma once
// The "&Plugins" menu of the main window, mirrored from the plug-in host's
// menu model each time the menu opens: one submenu per library, one item per
// function, created once and then reused, hidden when the scan leaves them
// out. An item's data is its Tag; clicking it runs the plug-in. The folder is
// scanned once per opening (every scan starts helper processes), on the turn
// of the event loop after the menu opened: a scan may ask the user about a
// plug-in that crashed or hangs, and a box inside the menu's own opening
// would leave the menus' pending popups pointing at menus the user's answer
// closed. The open menu is filled in place when the scan is done.
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

  // What opening the menu does: one scan on the next turn of the event loop,
  // however often the menu opened meanwhile.
  void Plugins1Popup();
  // Scans and brings the menu up to date, now.
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
  bool scanPending_ = false;
};
