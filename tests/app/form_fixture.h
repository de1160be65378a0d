#pragma once
// A test with the application object, a fresh main window in temporary
// XDG folders, and the message boxes recorded instead of shown.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app_process.h"
#include "platform_messagebox.h"
#include "qt_clipboard.h"
#include "qt_messagebox.h"
#include "zub_main.h"

class TFormTest : public ::testing::Test, public TProgramRunner {
 protected:
  static void SetUpTestSuite() {
    static int Argc = 1;
    static char Name[] = "vemra_test";
    static char* Argv[] = {Name, nullptr};
    app_ = std::make_unique<TZubApplication>(Argc, Argv);
    InstallQtClipboard();
  }
  static void TearDownTestSuite() { app_.reset(); }
  void SetUp() override {
    MakeFolders();
    Form = std::make_unique<TzubForm>();
  }
  void TearDown() override {
    Form.reset();
    StopAll();
    std::filesystem::remove_all(Dir);
  }

  std::unique_ptr<TzubForm> Form;
  TMessageBoxRecorder Boxes;
  TScopedMessageBoxHandler Guard{Boxes};
  static inline std::unique_ptr<TZubApplication> app_;
};
