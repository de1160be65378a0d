#pragma once
// The main window's scanner commands around the protocol client: a session
// routes the window's messages to the source while it may send events, the
// manager stays open from the first session to the end of the run, and a
// scanned picture becomes a new untitled document.
#include <functional>
#include <memory>
#include <string>

#include "scanners.h"

class TEditor;

class TTwainSession {
 public:
  // LibraryFile: the manager module ("" for the one beside the program).
  explicit TTwainSession(TEditor& Editor, std::string LibraryFile = "");
  ~TTwainSession();

  // Handles one window message, waiting for the next; false when the
  // program is ending. The window installs its own (Qt's event loop).
  std::function<bool()> MessageHook;
  // Closes the current document, asking about unsaved changes; false: refused.
  std::function<bool()> CloseImage;
  // The opaque window the manager is opened for.
  void* MainWindow = nullptr;
  // Brings the main window to the front again when a session ends (the
  // source's own window had it).
  std::function<void()> BringToFront;

  // "Acquire": closes the image, scans one picture and shows it as "untitled".
  void Acquire1Click();
  // "Select Source".
  void SelectSource1Click();
  // At exit: disables, closes and lets go of whatever is open.
  void TwainShutdown();

  bool gTwainOpen = false;
  TScanners& Scanners() { return scanners_; }

 private:
  void TwainBeginSession();
  void TwainEndSession();

  TEditor& editor_;
  TScanners scanners_;
};
