// The scanner commands on a document, through the source manager module and
// SANE's test backend: a scan becomes an untitled document; failures are
// reported with their place and leave an empty document; a cancelled
// dialog or a refused close does nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "editor_test_util.h"
#include "fake_editor_ui.h"
#include "zub_main_engine.h"
#include "zub_twain.h"

namespace fs = std::filesystem;

extern "C" const char* __lsan_default_suppressions() { return "leak:libsane-test.so\n"; }

namespace {

class Twain : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vemra-twain-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::ofstream(dir / "dll.conf") << "test\n";
    setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
    view.Bitmap()->SetSize(5, 5);
    ed = std::make_unique<TEditor>(view, ui, 1024);
    ed->gFileName = "photo.png";
    session = std::make_unique<TTwainSession>(*ed, std::string(VEMRA_BINARY_DIR) + "/bin/twaindsm.so");
    session->CloseImage = [this] {
      ed->gFileName.clear();
      view.Bitmap()->SetSize(0, 0);
      return true;
    };
    session->MessageHook = [this] {
      ++messages;
      return true;
    };
    session->BringToFront = [this] { ++raised; };
  }
  void TearDown() override {
    session.reset();
    unsetenv("VEMRA_SCAN_OPTIONS");
    fs::remove_all(dir);
  }

  fs::path dir;
  TFakeEditorUi ui;
  TImage32 view;
  std::unique_ptr<TEditor> ed;
  std::unique_ptr<TTwainSession> session;
  int messages = 0;
  int raised = 0;  // the main window brought back to the front
};

}  // namespace

TEST_F(Twain, AcquireMakesAnUntitledDocument) {
  setenv("VEMRA_SCAN_OPTIONS", "mode=Color;depth=8;resolution=20;test-picture=Solid white;read-return-value=Default", 1);
  session->Acquire1Click();
  EXPECT_TRUE(ui.Exceptions.empty());
  EXPECT_EQ(ed->gFileName, "untitled");
  EXPECT_EQ(view.Bitmap()->Width(), 62);  // the test device is 80 mm wide: 62.99 pixels at 20 dpi
  EXPECT_EQ(view.Bitmap()->GetPixel(10, 10), 0xFFFFFFFFu);
  EXPECT_GE(messages, 3);  // the session's own turns of the loop
  EXPECT_EQ(raised, 1);    // the source's window had the front
  // A second acquisition keeps the manager open.
  session->Acquire1Click();
  EXPECT_EQ(session->Scanners().DsmOpenCount(), 1);
  EXPECT_TRUE(session->gTwainOpen);
}

TEST_F(Twain, FailuresAndCancels) {
  setenv("VEMRA_SCAN_OPTIONS", "resolution=20;read-return-value=SANE_STATUS_JAMMED", 1);
  session->Acquire1Click();
  ASSERT_EQ(ui.Exceptions.size(), 1u);
  EXPECT_EQ(ui.Exceptions[0].ClassName, "ETwainError");
  EXPECT_EQ(ui.Exceptions[0].Place, "on Twain acquire");
  EXPECT_EQ(ui.Exceptions[0].Message, "DS Error at Native Transfer:\rTransfer failed because of a feeder error");
  EXPECT_EQ(ed->gFileName, "");  // closed before the scan
  // The dialog's Cancel: nothing new, no report.
  setenv("VEMRA_SCAN_OPTIONS", "ui=cancel;read-return-value=Default", 1);
  session->Acquire1Click();
  EXPECT_EQ(ui.Exceptions.size(), 1u);
  EXPECT_EQ(ed->gFileName, "");
  // A refused close stops before any scanning.
  ed->gFileName = "kept.png";
  session->CloseImage = [] { return false; };
  session->Acquire1Click();
  EXPECT_EQ(ed->gFileName, "kept.png");
  // A missing manager is reported at the source selection.
  TTwainSession none(*ed, (dir / "missing.so").string());
  none.SelectSource1Click();
  ASSERT_EQ(ui.Exceptions.size(), 2u);
  EXPECT_EQ(ui.Exceptions[1].Message, "Twain DLL couldn't be loaded");
  EXPECT_EQ(ui.Exceptions[1].Place, "on Twain source select");
}
