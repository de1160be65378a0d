// Qt boxes for the engine's message-box routine, and the event loop's last net.
#include "qt_messagebox.h"

#include <exception>
#include <new>

#include <QAbstractButton>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QWidget>

namespace {

QMessageBox::StandardButton ButtonOf(int Id) {
  switch (Id) {
    case IDOK: return QMessageBox::Ok;
    case IDCANCEL: return QMessageBox::Cancel;
    case IDABORT: return QMessageBox::Abort;
    case IDRETRY: return QMessageBox::Retry;
    case IDIGNORE: return QMessageBox::Ignore;
    case IDYES: return QMessageBox::Yes;
    case IDNO: return QMessageBox::No;
    default: return QMessageBox::NoButton;
  }
}

QMessageBox::Icon IconOf(uint32_t Flags) {
  switch (Flags & MB_ICONMASK) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

int ShowOnGuiThread(const TMessageBoxRequest& Request) {
  std::unique_ptr<QMessageBox> Box(MakeQtMessageBox(Request));
  Box->exec();
  QAbstractButton* Clicked = Box->clickedButton();
  const std::vector<int> Ids = MessageBoxButtons(Request.Flags);
  for (int Id : Ids)
    if (Clicked != nullptr && Clicked == Box->button(ButtonOf(Id))) return Id;
  // Closed without a button (Escape on a box without Cancel): the box's
  // escape answer, else the default.
  for (int Id : Ids)
    if (Id == IDCANCEL || Id == IDNO) return Id;
  return MessageBoxDefaultButton(Request.Flags);
}

}  // namespace

QMessageBox* MakeQtMessageBox(const TMessageBoxRequest& Request) {
  auto* Box = new QMessageBox(IconOf(Request.Flags), QString::fromStdString(Request.Caption),
                              QString::fromStdString(Request.Text), QMessageBox::NoButton, nullptr);
  for (int Id : MessageBoxButtons(Request.Flags)) Box->addButton(ButtonOf(Id));
  Box->setDefaultButton(ButtonOf(MessageBoxDefaultButton(Request.Flags)));
  Box->setWindowModality(Qt::ApplicationModal);
  // Last: changing the modality rebuilds the window flags.
  Box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  return Box;
}

int QtMessageBox(const TMessageBoxRequest& Request) {
  QCoreApplication* App = QCoreApplication::instance();
  if (App == nullptr) return MessageBoxDefaultButton(Request.Flags);
  if (QThread::currentThread() == App->thread()) return ShowOnGuiThread(Request);
  int Answer = MessageBoxDefaultButton(Request.Flags);
  QMetaObject::invokeMethod(App, [&] { Answer = ShowOnGuiThread(Request); }, Qt::BlockingQueuedConnection);
  return Answer;
}

TQtMessageBoxInstaller::TQtMessageBoxInstaller()
    : previous_(SetMessageBoxHandler([](const TMessageBoxRequest& R) { return QtMessageBox(R); })) {}

TQtMessageBoxInstaller::~TQtMessageBoxInstaller() { SetMessageBoxHandler(std::move(previous_)); }

std::string ExceptionMessageText(const std::string& Message) {
  if (!Message.empty() && static_cast<unsigned char>(Message.back()) > static_cast<unsigned char>('.'))
    return Message + ".";
  return Message;
}

void ShowLoopExceptionBox() {
  std::string Message;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    Message = "Out of memory";
  } catch (const std::exception& E) {
    Message = E.what();
  } catch (...) {
    Message = "Unknown exception";
  }
  if (QWidget* Grabber = QWidget::mouseGrabber()) Grabber->releaseMouse();
  TMessageBoxRequest R;
  R.Text = ExceptionMessageText(Message);
  R.Caption = ApplicationTitle();
  R.Flags = MB_OK | MB_ICONSTOP;
  PlatformMessageBox(R);
}

TZubApplication::TZubApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {}

bool TZubApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (...) {
    ShowLoopExceptionBox();
  }
  return false;
}
