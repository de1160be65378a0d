// The source's own dialog inside the program: shown when the acquisition
// asks for the user interface; Cancel gives no picture, Scan scans with the
// choices made in it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform_graphics.h"
#include "scanners.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libsane-test.so\n"; }

namespace {

// Answers the next modal dialog (Scan or Cancel) after choosing Mode in its mode box.
void AnswerDialog(const QString& Mode, bool Scan, QString& Title) {
  QTimer::singleShot(0, [=, &Title] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    Title = d->windowTitle();
    for (auto* box : d->findChildren<QComboBox*>())
      if (box->findText(Mode) >= 0 && box->findText("Gray") >= 0) box->setCurrentText(Mode);
    auto* buttons = d->findChild<QDialogButtonBox*>();
    (Scan ? buttons->button(QDialogButtonBox::Ok) : buttons->button(QDialogButtonBox::Cancel))->click();
  });
}

}  // namespace

TEST(ScanDialog, CancelAndScan) {
  static int argc = 1;
  static char name[] = "scandialog_test";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  char tmpl[] = "/tmp/vemra-scandlg-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::ofstream(std::string(tmpl) + "/dll.conf") << "test\n";
  setenv("SANE_CONFIG_DIR", tmpl, 1);
  setenv("VEMRA_SCAN_OPTIONS", "mode=Gray;depth=8;resolution=10;read-return-value=Default", 1);

  TScanners s(std::string(VEMRA_BINARY_DIR) + "/bin/twaindsm.so");
  QString title;
  AnswerDialog("Color", false, title);
  TPlatformBitmap none;
  s.TWAcquire(nullptr, &none);
  EXPECT_EQ(title, "Scan from test:0");
  EXPECT_EQ(none.Width(), 0);
  EXPECT_FALSE(s.DsOpen());

  AnswerDialog("Color", true, title);
  TPlatformBitmap colour;
  s.TWAcquire(nullptr, &colour);
  // 10 dpi (from the options) over the test device's 80 mm, in colour: the
  // solid black picture is black in every channel, and came as 24 bits.
  EXPECT_EQ(colour.Width(), 31);
  EXPECT_EQ(colour.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(colour.ScanLine(0)[0] & 0xFFFFFF, 0u);
  s.TWCloseDSM();
  std::filesystem::remove_all(tmpl);
}
