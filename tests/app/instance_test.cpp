// Several windows as several processes of the real program (offscreen, in a
// temporary XDG_RUNTIME_DIR): a second and a third start hand their files to
// the running window and end; "@" starts never hand over; a socket left by a
// crashed window is cleaned away; a peer that never answers does not stop a
// start. The running window's settings and recent files reach the store at exit.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include <QCoreApplication>

#include "app_process.h"
#include "img_png.h"
#include "raster_core.h"
#include "zub_instance.h"

namespace fs = std::filesystem;

namespace {

class Windows : public ::testing::Test, public TProgramRunner {
 protected:
  static void SetUpTestSuite() {
    static int Argc = 1;
    static char Name[] = "instance_test";
    static char* Argv[] = {Name, nullptr};
    if (QCoreApplication::instance() == nullptr) app_ = std::make_unique<QCoreApplication>(Argc, Argv);
  }
  static void TearDownTestSuite() { app_.reset(); }

  void SetUp() override {
    MakeFolders();
    for (const char* Name : {"a.png", "b.png"}) {
      TBitmap32 B;
      B.SetSize(12, 9);
      B.Clear(Name[0] == 'a' ? 0xFFFF0000u : 0xFF0000FFu);
      SavePNGFromBitmap32(Dir + "/" + Name, &B, false, false, 0, 9);
    }
  }
  void TearDown() override {
    StopAll();
    fs::remove_all(Dir);
  }

  static std::unique_ptr<QCoreApplication> app_;
};

std::unique_ptr<QCoreApplication> Windows::app_;

}  // namespace

// Second and third starts give their files (named relative to their own
// folder) to the first window and end at once, without a window of their own.
TEST_F(Windows, LaterStartsHandTheirFilesToTheRunningWindow) {
  const pid_t First = Start({"@@"});
  ASSERT_TRUE(Listening(First)) << Log();
  EXPECT_EQ(Caption(First), "Vemra");
  const pid_t Second = Start({"a.png"});
  EXPECT_EQ(WaitExit(Second, 30000), 0) << Log();
  EXPECT_FALSE(fs::exists(InstanceSocketPath(Second)));
  EXPECT_NE(Caption(First).find("a.png"), std::string::npos) << Caption(First);
  const pid_t Third = Start({"b.png", "a.png"});
  EXPECT_EQ(WaitExit(Third, 30000), 0) << Log();
  EXPECT_NE(Caption(First).find("b.png"), std::string::npos) << Caption(First);

  ASSERT_EQ(Stop(First), 0) << Log();
  EXPECT_FALSE(fs::exists(InstanceSocketPath(First)));
  std::ifstream Store(Dir + "/config/vemra/registry");
  const std::string Text((std::istreambuf_iterator<char>(Store)), std::istreambuf_iterator<char>());
  EXPECT_NE(Text.find("\"0\"=\"" + Dir + "/b.png\""), std::string::npos) << Text;
  EXPECT_NE(Text.find("\"1\"=\"" + Dir + "/a.png\""), std::string::npos) << Text;
  EXPECT_NE(Text.find("\"version\"=\"0.1.0.0\""), std::string::npos);
  // The first run registered the program with the desktop.
  EXPECT_TRUE(fs::exists(Dir + "/data/applications/vemra.desktop"));
}

TEST_F(Windows, AnAtArgumentOpensItsOwnWindow) {
  const pid_t First = Start({"@@"});
  ASSERT_TRUE(Listening(First)) << Log();
  const pid_t Second = Start({"@" + Dir + "/a.png"});
  ASSERT_TRUE(Listening(Second)) << Log();
  EXPECT_NE(Caption(Second).find("a.png"), std::string::npos);
  EXPECT_EQ(Caption(First), "Vemra");
  EXPECT_EQ(Stop(Second), 0);
  EXPECT_EQ(Stop(First), 0);
}

// A crashed window's socket is deleted and the new start runs by itself.
TEST_F(Windows, StaleSocketIsCleanedAway) {
  const std::string Stale = Dir + "/run/vemra-999999";
  BindSocket(Stale, false);
  ASSERT_TRUE(fs::is_socket(Stale));
  const pid_t P = Start({"a.png"});
  ASSERT_TRUE(Listening(P)) << Log();
  EXPECT_FALSE(fs::exists(Stale));
  EXPECT_TRUE(WaitUntil([&] { return Caption(P).find("a.png") != std::string::npos; }, 20000)) << Caption(P);
  EXPECT_EQ(Stop(P), 0);
}

// A peer that accepts but never answers is passed over after its time-out.
TEST_F(Windows, PeerThatNeverAnswersDoesNotStopTheStart) {
  const int Hung = BindSocket(Dir + "/run/vemra-1", true);
  ASSERT_GE(Hung, 0);
  const pid_t P = Start({"a.png"});
  ASSERT_TRUE(Listening(P)) << Log();
  EXPECT_TRUE(WaitUntil([&] { return Caption(P).find("a.png") != std::string::npos; }, 20000)) << Caption(P);
  EXPECT_EQ(Stop(P), 0);
  close(Hung);
}

// Without $XDG_RUNTIME_DIR the sockets live in "vemra-<uid>" of the shared
// temporary folder: only a real folder of this user with mode 0700 is used,
// also when the umask would have made it narrower; any other leaves the
// window without the hand-over, and a window listening in it is not found.
TEST_F(Windows, TemporaryFolderIsUsedOnlyWhenPrivate) {
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", Dir.c_str(), 1);
  const std::string Folder = Dir + "/vemra-" + std::to_string(getuid());
  const std::string Elsewhere = Dir + "/elsewhere";
  mkdir(Elsewhere.c_str(), 0700);
  struct TCase {
    const char* Name;
    std::function<void()> Make;
    const std::string& Sockets;  // where a listening window is put
    bool Used;
  };
  const TCase Cases[] = {
      {"missing, made under a narrow umask",
       [] {
         const mode_t Old = umask(0277);
         InstanceFolder();  // makes it
         umask(Old);
       },
       Folder, true},
      {"a link to a private folder", [&] { symlink(Elsewhere.c_str(), Folder.c_str()); }, Elsewhere, false},
      {"mode 0755", [&] { mkdir(Folder.c_str(), 0755); chmod(Folder.c_str(), 0755); }, Folder, false},
      {"mode 0710", [&] { mkdir(Folder.c_str(), 0700); chmod(Folder.c_str(), 0710); }, Folder, false},
      {"another user's (tried as root)",
       [&] {
         mkdir(Folder.c_str(), 0700);
         if (getuid() == 0) {
           EXPECT_EQ(chown(Folder.c_str(), 65534, 65534), 0);
         }
       },
       Folder, getuid() != 0},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    fs::remove_all(Folder);
    C.Make();
    const int Listening = BindSocket(C.Sockets + "/vemra-1", true);
    EXPECT_GE(Listening, 0);
    EXPECT_EQ(InstanceFolder(), C.Used ? Folder : "");
    EXPECT_EQ(FindPeers().size(), C.Used ? 1u : 0u);
    TInstanceServer Server(TInstanceServer::THandlers{});
    EXPECT_EQ(Server.Listen(), C.Used);
    if (C.Used) {
      struct stat St = {};
      ASSERT_EQ(lstat(Folder.c_str(), &St), 0);
      EXPECT_EQ(St.st_mode & 07777, 0700u);
      EXPECT_EQ(Server.Path(), InstanceSocketPath(getpid()));
    }
    close(Listening);
    fs::remove(C.Sockets + "/vemra-1");
  }
  unsetenv("TMPDIR");
}
