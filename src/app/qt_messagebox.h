#pragma once
// The engine's message boxes as Qt boxes, and the application object whose
// event dispatch is the last net for exceptions.
//
// A box is always shown on the GUI thread and always on top; a worker that
// asks for one (printing, the histogram) waits until the GUI thread has shown
// it and the user answered.
#include <string>

#include <QApplication>

#include "platform_messagebox.h"

class QMessageBox;

// Builds the box a request asks for (caption, text, icon, buttons, default
// button, on top), not yet shown.
QMessageBox* MakeQtMessageBox(const TMessageBoxRequest& Request);
// Shows the request's box modally on the GUI thread and returns the pressed
// button's id; from another thread it waits for the GUI thread.
int QtMessageBox(const TMessageBoxRequest& Request);

// Makes QtMessageBox the engine's box handler until the guard ends.
class TQtMessageBoxInstaller {
 public:
  TQtMessageBoxInstaller();
  ~TQtMessageBoxInstaller();
  TQtMessageBoxInstaller(const TQtMessageBoxInstaller&) = delete;
  TQtMessageBoxInstaller& operator=(const TQtMessageBoxInstaller&) = delete;

 private:
  TMessageBoxHandler previous_;
};

// The text of the box for an exception that reached the event loop: its
// message, with a full stop appended when the last character sorts after ".".
std::string ExceptionMessageText(const std::string& Message);

// The application object. An exception escaping any event handler ends the
// mouse capture and is shown (message, application title, OK, stop icon);
// the loop then carries on.
class TZubApplication : public QApplication {
 public:
  TZubApplication(int& Argc, char** Argv);
  bool notify(QObject* Receiver, QEvent* Event) override;
};

// Shows the box for the exception being handled (inside a catch block).
void ShowLoopExceptionBox();
