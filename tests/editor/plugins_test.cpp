// The plug-in host with the sample modules built beside the program: each
// test lays out its own "plugins" folder in a temporary program folder.
#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "../../include/vemra_plugin.h"
#include "../support/temp_env.h"
#include "editor_test_util.h"
#include "fake_editor_ui.h"
#include "platform_messagebox.h"
#include "utilities.h"
#include "zub_main_engine.h"
#include "zub_plugin_process.h"
#include "zub_plugins.h"

namespace fs = std::filesystem;

namespace {

const fs::path kGood = fs::path(VEMRA_BINARY_DIR) / "bin/plugins";
const fs::path kBroken = fs::path(VEMRA_BINARY_DIR) / "bin/plugins-broken";

// The scripted window, whose boxes also go where the real window's go, so
// that the recorder sees every time the user is told or asked.
class TBoxedUi : public TFakeEditorUi {
 public:
  int MessageBox(const std::string& Text, uint32_t Flags) override {
    TFakeEditorUi::MessageBox(Text, Flags);
    return ShowMessageBox(Text, Flags);
  }
  void ExceptionBox(const std::exception& E, const std::string& Place) override {
    TFakeEditorUi::ExceptionBox(E, Place);
    ShowExceptionBox(E, Place);
  }
};

class Plugins : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPluginHelperFolder(VEMRA_BIN_DIR);
    // A sanitized helper would turn a plug-in's crash into an exit of its own.
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
      const std::string was = getenv(name) ? getenv(name) : "";
      if (was.find("handle_segv=0") == std::string::npos)
        setenv(name, (was + (was.empty() ? "" : ":") + "handle_segv=0:handle_sigbus=0").c_str(), 1);
    }
    char tmpl[] = "/tmp/vemra-plugins-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    folder = tmpl;
    view.Bitmap()->SetSize(7, 5);
    PaintPattern(*view.Bitmap(), 3);
    original = Copy(*view.Bitmap());
    ed = std::make_unique<TEditor>(view, ui, 1024);
    ed->gFileName = "photo.png";
    host = std::make_unique<TPluginHost>(folder.string());
  }
  void TearDown() override {
    fs::remove_all(folder);
    SetPluginHelperFolder("");
  }
  // Copies the named sample into the test's plugins folder (made by the scan
  // when it is missing, so the first copy makes it here).
  void Install(const fs::path& From, const std::string& Name, const std::string& As = "") {
    fs::create_directories(folder / "plugins");
    fs::copy_file(From / Name, folder / "plugins" / (As.empty() ? Name : As));
  }
  // The visible items as "submenu/caption=tag".
  std::vector<std::string> Menu() const {
    std::vector<std::string> out;
    for (const auto& s : host->Submenus)
      if (s.Visible)
        for (const auto& i : s.Items)
          if (i.Visible) out.push_back(s.Caption + "/" + i.Caption + "=" + std::to_string(i.Tag));
    return out;
  }
  int32_t TagOf(const std::string& Caption) const {
    for (const auto& s : host->Submenus)
      for (const auto& i : s.Items)
        if (i.Visible && i.Caption == Caption) return i.Tag;
    return -1;
  }

  fs::path folder;
  TMessageBoxRecorder boxes;
  TScopedMessageBoxHandler guard{boxes};
  TBoxedUi ui;
  TImage32 view;
  std::unique_ptr<TBitmap32> original;
  std::unique_ptr<TEditor> ed;
  std::unique_ptr<TPluginHost> host;
};

}  // namespace

TEST_F(Plugins, ScanInNameOrderSkipsBrokenLibraries) {
  Install(kGood, "invert.so");
  Install(kGood, "askdialog.so");
  Install(kBroken, "queryzero.so");
  Install(kBroken, "noexecute.so");
  // Not a library at all, and a folder that only looks like one.
  std::ofstream(folder / "plugins/x.so") << "#!/bin/sh\necho not a library\n";
  fs::create_directories(folder / "plugins/dir.so");
  host->Plugins1Click(ui);
  EXPECT_EQ(Menu(), (std::vector<std::string>{
                        "askdialog.so/Darken, cancelled by Vemra samples=0",
                        "askdialog.so/Darken, confirmed by Vemra samples=1",
                        "askdialog.so/Refuse by Vemra samples=2",
                        // The hidden function leaves no gap in the tags.
                        "invert.so/Invert by Vemra samples=3",
                        "invert.so/Mirror by Vemra samples=4",
                        // One record for the whole scan: the author carries over.
                        "noexecute.so/Cannot run by Vemra samples=5",
                    }));
  EXPECT_EQ(host->gPluginList[3], "invert.so:0");
  EXPECT_EQ(host->gPluginList[4], "invert.so:2");
  EXPECT_EQ(host->Submenus[1].Items[0].Hint, "Inverts red, green and blue; alpha stays");
  EXPECT_EQ(host->gPluginList.size(), 32u);
  EXPECT_TRUE(ui.Exceptions.empty());

  // A second opening reuses submenus and items; a library that went is hidden.
  fs::remove(folder / "plugins/askdialog.so");
  host->Plugins1Click(ui);
  EXPECT_EQ(host->Submenus.size(), 3u);
  EXPECT_EQ(host->Submenus[0].Items.size(), 3u);  // reused for invert.so
  EXPECT_FALSE(host->Submenus[0].Items[2].Visible);
  EXPECT_FALSE(host->Submenus[2].Visible);
  EXPECT_EQ(Menu(), (std::vector<std::string>{"invert.so/Invert by Vemra samples=0",
                                              "invert.so/Mirror by Vemra samples=1",
                                              "noexecute.so/Cannot run by Vemra samples=2"}));
}

TEST_F(Plugins, RunsThroughTheEngineWithUndo) {
  Install(kGood, "invert.so");
  host->Plugins1Click(ui);
  host->plugin1Click(*ed, TagOf("Invert by Vemra samples"));
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 7; ++x) ASSERT_EQ(view.Bitmap()->GetPixel(x, y), original->GetPixel(x, y) ^ 0x00FFFFFFu);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  EXPECT_TRUE(ui.MenuEnabled["RedoPlugin1"]);

  // Mirror goes through the host routine; Redo repeats it and undoes to the inverse.
  host->plugin1Click(*ed, TagOf("Mirror by Vemra samples"));
  host->RedoPlugin1Click(*ed);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 3);
  EXPECT_EQ(view.Bitmap()->GetPixel(0, 0), original->GetPixel(0, 0) ^ 0x00FFFFFFu);
  host->plugin1Click(*ed, TagOf("Mirror by Vemra samples"));
  EXPECT_EQ(view.Bitmap()->GetPixel(0, 2), original->GetPixel(6, 2) ^ 0x00FFFFFFu);
  EXPECT_TRUE(ui.Exceptions.empty());
}

TEST_F(Plugins, CancelGivesEightAndKeepsTheImage) {
  Install(kGood, "askdialog.so");
  host->Plugins1Click(ui);
  struct Case {
    int32_t Tag, Result;
  } cases[] = {{0, arCancel}, {2, arCancel}};
  for (const Case& c : cases) {
    host->plugin1Click(*ed, c.Tag);
    EXPECT_TRUE(view.Bitmap()->Equal(original.get())) << c.Tag;
    EXPECT_EQ(ed->gImageUndo->UndoCount(), 0) << c.Tag;
    // The callback itself answers 8 on a fresh work copy.
    ed->gWork = Copy(*original);
    EXPECT_EQ(host->ExecutePlugin(*ed, c.Tag), c.Result) << c.Tag;
  }
  // A confirmed dialog writes back.
  host->plugin1Click(*ed, 1);
  EXPECT_EQ(view.Bitmap()->GetPixel(3, 3), original->GetPixel(3, 3) & 0xFF7F7F7Fu);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
}

TEST_F(Plugins, FortyFunctionsGrowTheListByThirtyTwo) {
  Install(kBroken, "forty.so");
  host->Plugins1Click(ui);
  EXPECT_EQ(host->gPluginCount, 40);
  EXPECT_EQ(host->gPluginList.size(), 64u);
  EXPECT_EQ(host->gPluginList[39], "forty.so:39");
  EXPECT_EQ(host->Submenus[0].Items[39].Caption, "Function 39 by ");
  host->plugin1Click(*ed, 37);
  EXPECT_EQ(view.Bitmap()->GetPixel(0, 0), 0xFF000025u);
  // The next scan starts at 32 again.
  fs::remove(folder / "plugins/forty.so");
  Install(kGood, "invert.so");
  host->Plugins1Click(ui);
  EXPECT_EQ(host->gPluginList.size(), 32u);
  // A library that claims 2^31 - 1 functions is asked about the first 256 only.
  Install(kBroken, "greedy.so");
  host->Plugins1Click(ui);
  EXPECT_EQ(host->gPluginCount, 2 + kMaxPluginFunctions);
  EXPECT_EQ(host->gPluginList[255], "greedy.so:255");
}

TEST_F(Plugins, AMisbehavingPluginLeavesThePictureAndTellsOnce) {
  // One library misbehaves as the name it is installed under says. A looping
  // one is asked about as soon as its wait is over (0 here); the recorder
  // answers with the default button, Yes: stop it. A wait that must not
  // apply is endless, so a host that waits it hangs the test.
  constexpr uint32_t kNever = 0xFFFFFFFFu;
  const std::string kCrash = "crashed (signal 11)", kExit = "ended its process (exit code 3)",
                    kAsked = "is not responding.\nStop it?";
  struct Case {
    const char* Name;
    bool InScan;
    uint32_t Wait, DialogWait;
    std::string Told;
  } cases[] = {
      {"null-query.so", true, kNever, kNever, kCrash},       {"null-identify.so", true, kNever, kNever, kCrash},
      {"null-execute.so", false, kNever, kNever, kCrash},    {"null-dialog.so", false, kNever, kNever, kCrash},
      {"overrun-execute.so", false, kNever, kNever, kCrash}, {"overrun-dialog.so", false, kNever, kNever, kCrash},
      {"exit-query.so", true, kNever, kNever, kExit},        {"exit-identify.so", true, kNever, kNever, kExit},
      {"exit-execute.so", false, kNever, kNever, kExit},     {"exit-dialog.so", false, kNever, kNever, kExit},
      {"loop-query.so", true, 0, 0, kAsked},                 {"loop-identify.so", true, 0, 0, kAsked},
      {"loop-execute.so", false, 0, kNever, kAsked},         {"loop-dialog.so", false, kNever, 0, kAsked},
      // What the plug-in started goes with the helper.
      {"spawn-execute.so", false, kNever, kNever, "ended its process (exit code 128)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(folder / "plugins");
    Install(kBroken, "misbehave.so", c.Name);
    host->WaitMs = c.InScan ? c.Wait : kNever;
    boxes.Clear();
    // A library whose scan failed is not run again at the next opening.
    host->Plugins1Click(ui);
    host->Plugins1Click(ui);
    if (c.InScan) {
      EXPECT_TRUE(Menu().empty());
    } else {
      ASSERT_EQ(Menu(), std::vector<std::string>{std::string(c.Name) + "/Misbehave by =0"});
      host->WaitMs = c.Wait;
      host->DialogWaitMs = c.DialogWait;
      host->plugin1Click(*ed, 0);
    }
    EXPECT_TRUE(view.Bitmap()->Equal(original.get()));
    EXPECT_EQ(ed->gImageUndo->UndoCount(), 0);
    ASSERT_EQ(boxes.Count(), 1u);
    const std::string told = c.Told == kAsked ? "The plug-in " + std::string(c.Name) + " " + kAsked
                                              : "the plug-in " + std::string(c.Name) + " " + c.Told +
                                                    (c.InScan ? "; it is left out" : "; the picture is unchanged");
    EXPECT_NE(boxes.Last().Text.find(told), std::string::npos) << boxes.Last().Text;
    if (std::string(c.Name).rfind("spawn", 0) == 0) {
      int pid = 0;
      std::ifstream(folder / "plugins" / (std::string(c.Name) + ".pid")) >> pid;
      ASSERT_GT(pid, 0);
      // Gone, or a zombie left to whoever adopted it.
      auto ended = [pid] {
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
        const size_t close = stat.rfind(')');
        return stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z");
      };
      EXPECT_TRUE(WaitUntil(ended, 10000));
      if (!ended()) ::kill(pid, SIGKILL);
    }
  }
}

TEST_F(Plugins, FailuresAreContained) {
  Install(kBroken, "unterminated.so");
  Install(kBroken, "throwing.so");
  Install(kBroken, "noexecute.so");
  Install(kBroken, "hostile.so");
  host->Plugins1Click(ui);
  // Strings read only within their fields.
  EXPECT_EQ(TagOf(std::string(64, 'N') + " by " + std::string(64, 'A')), 4);
  EXPECT_EQ(host->Submenus[3].Items[0].Hint, std::string(128, 'H'));
  // Identify threw for function 1 after writing its name: passed over without
  // a word, and the record kept what was written.
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(TagOf("Half identified by "), 3);

  // Execute throws a std::exception, then a plain int: both swallowed, the
  // pixels written back as the plug-in left them.
  host->plugin1Click(*ed, TagOf("Throws by "));
  host->plugin1Click(*ed, TagOf("Half identified by "));
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(view.Bitmap()->GetPixel(0, 0), 0xFF123456u);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 2);

  // A missing export and a stale tag run nothing: the image as before, no undo step.
  auto before = Copy(*view.Bitmap());
  host->plugin1Click(*ed, TagOf("Cannot run by "));
  host->plugin1Click(*ed, 99);
  host->plugin1Click(*ed, -1);
  EXPECT_TRUE(view.Bitmap()->Equal(before.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 2);

  // The hostile plug-in's refused calls changed nothing and it reached its end.
  host->plugin1Click(*ed, TagOf("Hostile by "));
  EXPECT_EQ(view.Bitmap()->GetPixel(0, 0), 0xFFABCDEFu);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = (y == 0); x < 7; ++x) ASSERT_EQ(view.Bitmap()->GetPixel(x, y), before->GetPixel(x, y));
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(Plugins, AMissingHelperIsReportedOnceAndRunsNothing) {
  Install(kGood, "askdialog.so");
  Install(kGood, "invert.so");
  host->Plugins1Click(ui);
  SetPluginHelperFolder(folder.string());  // no helper there
  host->plugin1Click(*ed, TagOf("Invert by Vemra samples"));
  EXPECT_TRUE(view.Bitmap()->Equal(original.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 0);
  host->Plugins1Click(ui);  // one report per scan, not one per library
  ASSERT_EQ(boxes.Count(), 2u);
  EXPECT_NE(boxes.Requests()[0].Text.find("vemra-plugin-host could not be started"), std::string::npos);
  EXPECT_NE(boxes.Requests()[1].Text.find("on action Plugins1Click"), std::string::npos);
}

TEST_F(Plugins, HostRecordCarriesTheWorkBitmap) {
  // Width and height modulo 65536, in the record the C header describes.
  Install(kBroken, "forty.so");
  host->Plugins1Click(ui);
  ed->gWork = std::make_unique<TBitmap32>();
  ed->gWork->SetSize(65537, 1);
  ed->gWork->Clear(0xFF000000u);
  // Width 1 in the record: only pixel 0 is in reach of a plug-in's loop.
  EXPECT_EQ(host->ExecutePlugin(*ed, 3), 0);
  EXPECT_EQ(ed->gWork->GetPixel(0, 0), 0xFF000003u);
  // Routines outside a run accept no bitmap at all.
  const VemraHostRoutines& r = PluginHostRoutines();
  VemraRect b = r.BitmapBounds(reinterpret_cast<VemraBitmap*>(ed->gWork.get()));
  EXPECT_EQ(b.Right, 0);
  SetPluginWorkBitmap(ed->gWork.get());
  b = r.BitmapBounds(reinterpret_cast<VemraBitmap*>(ed->gWork.get()));
  EXPECT_EQ(b.Right, 65537);
  SetPluginWorkBitmap(nullptr);
  // The helper holds the shared pixels' descriptor: it may not shrink the
  // file under the editor's mapping (reading back would raise SIGBUS here).
  TSharedPixels shared(35);
  ASSERT_TRUE(shared.Valid());
  EXPECT_NE(ftruncate(shared.Fd(), 0), 0);
  EXPECT_NE(ftruncate(shared.Fd(), 1 << 20), 0);
  shared.Data()[34] = 7;
  EXPECT_EQ(shared.Data()[34], 7u);
}

TEST_F(Plugins, AHelperAnsweringAnotherSizeIsBelievedOnlyForTheSameCount) {
  // A stand-in helper that takes the order and says it is done with the
  // sides it is given here, touching no pixel.
  static_assert(offsetof(TPluginAnswer, Width) == 8 && offsetof(TPluginAnswer, Height) == 12);
  Install(kGood, "invert.so");
  host->Plugins1Click(ui);
  SetPluginHelperFolder(folder.string());
  struct Case {
    const char* Sides;
    int32_t Width, Height;  // the picture after the run
  } cases[] = {{"$w + 1, $h", 7, 5}, {"$h, $w", 5, 7}, {"-$w, -$h", 7, 5}, {"$w * $h, 1", 35, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sides);
    const fs::path helper = folder / "vemra-plugin-host";
    std::ofstream(helper) << "#!/usr/bin/perl\nopen(my $s, '+<&=', 3) or exit 2;\nsysread($s, my $r, 1 << 16);\n"
                          << "my ($w, $h) = unpack('l<l<', substr($r, " << offsetof(TPluginRequest, Width)
                          << ", 8));\nsyswrite($s, pack('L<l<', " << TPluginAnswer::Done << ", 0) . pack('l<l<', "
                          << c.Sides << ") . \"\\0\" x " << sizeof(TPluginAnswer) - 16 << ");\n";
    fs::permissions(helper, fs::perms::owner_all);
    view.Bitmap()->Assign(original.get());
    const int32_t undos = ed->gImageUndo->UndoCount();
    host->plugin1Click(*ed, 0);
    ASSERT_EQ(view.Bitmap()->Width(), c.Width);
    ASSERT_EQ(view.Bitmap()->Height(), c.Height);
    EXPECT_EQ(ed->gImageUndo->UndoCount(), undos + (c.Width != 7));
    // The pixels in their order, as the helper left them.
    EXPECT_EQ(std::memcmp(view.Bitmap()->Bits(), original->Bits(), 35 * sizeof(TColor32)), 0);
  }
  EXPECT_EQ(boxes.Count(), 0u);
}
