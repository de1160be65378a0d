// Several windows as several processes of the real program (offscreen, in a
// temporary XDG_RUNTIME_DIR): a second and a third start hand their files to
// the running window and end; "@" starts never hand over; a socket left by a
// crashed window is cleaned away; a peer that never answers does not stop a
// start. The running window's settings and recent files reach the store at exit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>

#include <QCoreApplication>

#include "img_png.h"
#include "raster_core.h"
#include "zub_instance.h"

namespace fs = std::filesystem;

namespace {

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (std::chrono::steady_clock::now() < End) {
    if (Done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return Done();
}

// A Unix socket bound at Path; listening or closed at once (a stale one).
int BindSocket(const std::string& Path, bool Listen) {
  const int Fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un A = {};
  A.sun_family = AF_UNIX;
  std::snprintf(A.sun_path, sizeof A.sun_path, "%s", Path.c_str());
  if (bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) return -1;
  if (Listen) {
    listen(Fd, 4);
    return Fd;
  }
  close(Fd);
  return -1;
}

class Windows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int Argc = 1;
    static char Name[] = "instance_test";
    static char* Argv[] = {Name, nullptr};
    if (QCoreApplication::instance() == nullptr) app_ = std::make_unique<QCoreApplication>(Argc, Argv);
  }
  static void TearDownTestSuite() { app_.reset(); }

  void SetUp() override {
    char Tmpl[] = "/tmp/vemra-win-XXXXXX";
    Dir = mkdtemp(Tmpl);
    for (const char* Sub : {"run", "config", "data"}) fs::create_directories(Dir + "/" + Sub);
    fs::permissions(Dir + "/run", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (Dir + "/run").c_str(), 1);
    for (const char* Name : {"a.png", "b.png"}) {
      TBitmap32 B;
      B.SetSize(12, 9);
      B.Clear(Name[0] == 'a' ? 0xFFFF0000u : 0xFF0000FFu);
      SavePNGFromBitmap32(Dir + "/" + Name, &B, false, false, 0, 9);
    }
  }
  void TearDown() override {
    for (pid_t P : started_) Stop(P);
    fs::remove_all(Dir);
  }

  pid_t Start(const std::vector<std::string>& Args) {
    const pid_t Pid = fork();
    if (Pid == 0) {
      if (chdir(Dir.c_str()) != 0) _exit(126);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      setenv("XDG_CONFIG_HOME", (Dir + "/config").c_str(), 1);
      setenv("XDG_DATA_HOME", (Dir + "/data").c_str(), 1);
      setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      const int Log = open((Dir + "/log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      dup2(Log, 1);
      dup2(Log, 2);
      std::vector<char*> Argv{const_cast<char*>(VEMRA_PROGRAM)};
      for (const std::string& A : Args) Argv.push_back(const_cast<char*>(A.c_str()));
      Argv.push_back(nullptr);
      execv(VEMRA_PROGRAM, Argv.data());
      _exit(127);
    }
    started_.push_back(Pid);
    return Pid;
  }
  // The exit status, or -1 when the process still runs after TimeoutMs.
  int WaitExit(pid_t Pid, int TimeoutMs) {
    int Status = 0;
    if (!WaitUntil([&] { return waitpid(Pid, &Status, WNOHANG) == Pid; }, TimeoutMs)) return -1;
    std::erase(started_, Pid);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  }
  // Ends a window the way a desktop's logout does; its settings are written.
  int Stop(pid_t Pid) {
    kill(Pid, SIGTERM);
    const int R = WaitExit(Pid, 20000);
    if (R < 0) {
      kill(Pid, SIGKILL);
      WaitExit(Pid, 5000);
    }
    return R;
  }
  std::string Caption(pid_t Pid) {
    std::string C;
    return QueryCaption(InstanceSocketPath(Pid), C, 3000) ? C : "<no answer>";
  }
  bool Listening(pid_t Pid) {
    return WaitUntil([&] { return Caption(Pid) != "<no answer>"; }, 30000);
  }
  std::string Log() {
    std::ifstream in(Dir + "/log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string Dir;
  std::vector<pid_t> started_;
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
  // A missing file is ignored by the window, which still answers 0.
  const pid_t Fourth = Start({Dir + "/missing.png"});
  EXPECT_EQ(WaitExit(Fourth, 30000), 0);
  EXPECT_NE(Caption(First).find("b.png"), std::string::npos);

  ASSERT_EQ(Stop(First), 0) << Log();
  EXPECT_FALSE(fs::exists(InstanceSocketPath(First)));
  std::ifstream Store(Dir + "/config/vemra/registry");
  const std::string Text((std::istreambuf_iterator<char>(Store)), std::istreambuf_iterator<char>());
  EXPECT_NE(Text.find("\"0\"=\"" + Dir + "/b.png\""), std::string::npos) << Text;
  EXPECT_NE(Text.find("\"1\"=\"" + Dir + "/a.png\""), std::string::npos) << Text;
  EXPECT_NE(Text.find("\"version\"=\"0.1.0.0\""), std::string::npos);
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
