#pragma once
// Starting the real program from a test: each window in its own process,
// offscreen, with the test's temporary XDG folders; and the small waits the
// tests need around it.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "zub_instance.h"

// A stand-in for the desktop's opener: Folder/xdg-open, a shell script that
// runs Body. Put Folder first on PATH for the program to find it.
inline void WriteStandInOpener(const std::string& Folder, const std::string& Body) {
  ::mkdir(Folder.c_str(), 0700);
  const std::string Name = Folder + "/xdg-open";
  std::ofstream(Name) << "#!/bin/sh\n" << Body;
  ::chmod(Name.c_str(), 0700);
}

inline bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (std::chrono::steady_clock::now() < End) {
    if (Done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return Done();
}

// The status of a child that has ended, as WaitExit gives it, while the child
// stays for waitpid to collect; -1 while it runs.
inline int PeekExit(pid_t Pid) {
  siginfo_t I = {};
  if (waitid(P_PID, Pid, &I, WEXITED | WNOHANG | WNOWAIT) != 0 || I.si_pid != Pid) return -1;
  return I.si_code == CLD_EXITED ? I.si_status : 128 + I.si_status;
}

// A Unix socket bound at Path; listening or closed at once (a stale one).
inline int BindSocket(const std::string& Path, bool Listen) {
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

// The program's windows a test started; every one still running is ended
// when the runner goes.
class TProgramRunner {
 public:
  TProgramRunner() = default;
  ~TProgramRunner() { StopAll(); }
  TProgramRunner(const TProgramRunner&) = delete;
  TProgramRunner& operator=(const TProgramRunner&) = delete;

  // A fresh temporary Dir with "run" (this process's XDG_RUNTIME_DIR too),
  // "config" and "data"; the programs' output goes to Dir/log.
  void MakeFolders() {
    char Tmpl[] = "/tmp/vemra-win-XXXXXX";
    Dir = mkdtemp(Tmpl);
    for (const char* Sub : {"/run", "/config", "/data"}) mkdir((Dir + Sub).c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", (Dir + "/run").c_str(), 1);
  }
  void StopAll() {
    for (pid_t P : std::vector<pid_t>(started_)) Stop(P);
  }

  // Extra environment for the next starts ("NAME=value").
  std::vector<std::string> Environment;

  pid_t Start(const std::vector<std::string>& Args) {
    const pid_t Pid = fork();
    if (Pid == 0) {
      if (chdir(Dir.c_str()) != 0) _exit(126);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      setenv("XDG_CONFIG_HOME", (Dir + "/config").c_str(), 1);
      setenv("XDG_DATA_HOME", (Dir + "/data").c_str(), 1);
      setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      for (const std::string& E : Environment) putenv(const_cast<char*>(E.c_str()));
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
  // A started window that has ended and was not waited for by WaitExit or
  // Stop, or 0; its status in Status.
  pid_t Ended(int& Status) {
    for (pid_t P : started_)
      if ((Status = PeekExit(P)) >= 0) return P;
    return 0;
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

 private:
  std::vector<pid_t> started_;
};
