#include "zub_twain_hook.h"

#include <QCoreApplication>
#include <QEventLoop>

std::function<bool()> QtTwainMessageHook() {
  return [] {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !QCoreApplication::closingDown();
  };
}
