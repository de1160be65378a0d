#include "zub_twain.h"

#include "platform_graphics.h"
#include "raster_image.h"
#include "zub_main_engine.h"

TTwainSession::TTwainSession(TEditor& Editor, std::string LibraryFile)
    : editor_(Editor), scanners_(std::move(LibraryFile)) {
  MessageHook = [] { return true; };
  CloseImage = [] { return true; };
}

TTwainSession::~TTwainSession() { TwainShutdown(); }

void TTwainSession::TwainBeginSession() {
  // While the session lasts every message the window handles may be the
  // source's; the hook stays installed until a session ends.
  scanners_.WaitForMessage = [this] { return MessageHook(); };
  if (!gTwainOpen) {
    scanners_.TWOpenDSM(MainWindow);
    gTwainOpen = true;
  }
  MessageHook();
}

void TTwainSession::TwainEndSession() {
  if (BringToFront) BringToFront();
  MessageHook();
  MessageHook();
  scanners_.WaitForMessage = [] { return true; };
}

void TTwainSession::Acquire1Click() {
  if (!CloseImage()) return;
  TPlatformBitmap bitmap;
  try {
    TwainBeginSession();
    scanners_.TWAcquire(MainWindow, &bitmap);
    TwainEndSession();
  } catch (const std::exception& E) {
    editor_.Ui().ExceptionBox(E, "on Twain acquire");
  }
  if (bitmap.Width() > 0 && bitmap.Height() > 0) {
    editor_.View().Bitmap()->Assign(&bitmap);
    editor_.gFileName = "untitled";
    editor_.gFileSize = 0;
    editor_.ShowDocument();
  }
}

void TTwainSession::SelectSource1Click() {
  try {
    TwainBeginSession();
    scanners_.TWSelectDS();
    TwainEndSession();
  } catch (const std::exception& E) {
    editor_.Ui().ExceptionBox(E, "on Twain source select");
  }
}

void TTwainSession::TwainShutdown() {
  if (!gTwainOpen) return;
  try {
    if (scanners_.DsEnabled()) scanners_.TWDisableDS();
    if (scanners_.DsOpen()) scanners_.TWCloseDS();
    if (scanners_.DsmOpen()) scanners_.TWCloseDSM();
  } catch (const std::exception&) {
    // At exit there is no one left to tell.
  }
  gTwainOpen = false;
}
