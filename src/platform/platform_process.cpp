#include "platform_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

// ---- command-line splitting ----------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// ---- starting children ------------------------------------------------------------

int32_t ErrnoToSystemError(int Err) {
  switch (Err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOEXEC:
    case ELIBBAD: return ERROR_BAD_EXE_FORMAT;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case E2BIG:
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
  }
}

// What the child reports through the pipe when it cannot start the program.
struct TChildFailure {
  int Stage;  // 0 chdir, 1 stdio, 2 exec
  int Err;
};

// The child changes to its own folder before exec, so a relative program
// name is made absolute here: it names a file as seen from our folder, not
// from the child's.
std::string AbsoluteFromHere(const std::string& Path) {
  if (Path.empty() || Path[0] == '/') return Path;
  std::vector<char> buf(4096);
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) return std::string(buf.data()) + "/" + Path;
    if (errno != ERANGE || buf.size() > (1u << 20)) return Path;
    buf.resize(buf.size() * 2);
  }
}

bool IsRegularFile(const std::string& Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Finds the program: a name with a "/" is taken as it is, any other is
// searched on PATH like a shell would (skipping folders and files we may not
// run), but without running a shell.
bool FindProgram(const std::string& Name, std::string& Path, int& Err) {
  if (Name.empty()) {
    Err = ENOENT;
    return false;
  }
  if (Name.find('/') != std::string::npos) {
    Path = AbsoluteFromHere(Name);
    return true;
  }
  const char* env = std::getenv("PATH");
  std::string pathList = env ? env : "/usr/local/bin:/usr/bin:/bin";
  Err = ENOENT;
  size_t start = 0;
  while (start <= pathList.size()) {
    size_t end = pathList.find(':', start);
    if (end == std::string::npos) end = pathList.size();
    std::string dir = pathList.substr(start, end - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + Name;
    if (::access(candidate.c_str(), X_OK) == 0) {
      if (IsRegularFile(candidate)) {
        Path = AbsoluteFromHere(candidate);
        return true;
      }
    } else if (errno == EACCES && ::access(candidate.c_str(), F_OK) == 0) {
      Err = EACCES;
    }
    start = end + 1;
  }
  return false;
}

// Everything the child needs, prepared before fork: after fork in a process
// with threads the child may only make async-signal-safe calls.
struct TPreparedExec {
  std::string Program;
  std::vector<std::string> Storage;
  std::vector<char*> Argv;
  std::string Folder;
  bool Hidden = false;
  int Nice = 0;
  bool NewSession = false;
  int Channel = -1;      // becomes descriptor 3 of the child
  bool NewGroup = false;  // the child leads a process group of its own
};

void WriteFailure(int Fd, int Stage, int Err) {
  TChildFailure f{Stage, Err};
  ssize_t r = ::write(Fd, &f, sizeof f);
  (void)r;
}

// Runs in the child after fork; never returns.
[[noreturn]] void ExecChild(const TPreparedExec& P, int ErrFd) {
  // Before anything else takes descriptor 3; dup2 clears close-on-exec, and
  // a channel that already is 3 needs it cleared by hand.
  if (P.Channel >= 0) {
    if (P.Channel == 3 ? ::fcntl(3, F_SETFD, 0) != 0 : ::dup2(P.Channel, 3) != 3) {
      WriteFailure(ErrFd, 1, errno);
      _exit(127);
    }
  }
  if (P.NewGroup) ::setpgid(0, 0);
  if (!P.Folder.empty() && ::chdir(P.Folder.c_str()) != 0) {
    WriteFailure(ErrFd, 0, errno);
    _exit(127);
  }
  int devNull = ::open("/dev/null", O_RDWR);
  if (devNull < 0) {
    WriteFailure(ErrFd, 1, errno);
    _exit(127);
  }
  ::dup2(devNull, STDIN_FILENO);
  if (P.Hidden) {
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
  }
  if (devNull > STDERR_FILENO) ::close(devNull);
  if (P.Nice > 0) {
    errno = 0;
    int current = ::getpriority(PRIO_PROCESS, 0);
    if (errno == 0 && current < P.Nice) ::setpriority(PRIO_PROCESS, 0, P.Nice);
  }
  // The parent may block or ignore signals that the program expects.
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::signal(SIGPIPE, SIG_DFL);
  ::execv(P.Program.c_str(), P.Argv.data());
  WriteFailure(ErrFd, 2, errno);
  _exit(127);
}

bool Prepare(const std::vector<std::string>& Args, const std::string& Folder, TPreparedExec& P, int32_t& Error) {
  int err = 0;
  if (Args.empty() || !FindProgram(Args[0], P.Program, err)) {
    Error = ErrnoToSystemError(Args.empty() ? ENOENT : err);
    return false;
  }
  P.Storage = Args;
  for (std::string& a : P.Storage) P.Argv.push_back(a.data());
  P.Argv.push_back(nullptr);
  P.Folder = Folder;
  return true;
}

int32_t FailureToError(const TChildFailure& F) {
  if (F.Stage == 0) return (F.Err == ENOENT || F.Err == ENOTDIR) ? ERROR_DIRECTORY : ErrnoToSystemError(F.Err);
  return ErrnoToSystemError(F.Err);
}

// Reads Size bytes from a pipe: false when it closed first.
bool ReadWhole(int Fd, void* Buffer, size_t Size) {
  size_t got = 0;
  while (got < Size) {
    ssize_t n = ::read(Fd, static_cast<char*>(Buffer) + got, Size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// Reads the child's start report: true when it failed, with the error code.
bool ReadFailure(int Fd, int32_t& Error) {
  TChildFailure f{};
  if (!ReadWhole(Fd, &f, sizeof f)) return false;  // the pipe closed on exec: started
  Error = FailureToError(f);
  return true;
}

pid_t WaitPid(pid_t Pid, int* Status, int Flags) {
  for (;;) {
    pid_t r = ::waitpid(Pid, Status, Flags);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

int32_t DecodeStatus(int Status) {
  if (WIFEXITED(Status)) return WEXITSTATUS(Status);
  if (WIFSIGNALED(Status)) return 128 + WTERMSIG(Status);
  return -1;
}

// Asks Ended until it answers (1: the child ended, -1: it cannot be waited
// for) or TimeoutMs has passed; true only when it ended. Between questions
// it sleeps on the child's pidfd, readable once the child ends, where the
// kernel has them, and else for a few growing milliseconds.
template <class Probe>
bool PollForEnd(pid_t Pid, uint32_t TimeoutMs, Probe&& Ended) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs == INFINITE ? 0 : TimeoutMs);
#ifdef SYS_pidfd_open
  int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
#else
  int pidFd = -1;
#endif
  int sleepMs = 1;
  int state = 0;
  while ((state = Ended()) == 0) {
    long long left = TimeoutMs == INFINITE
                         ? 1000
                         : std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    if (pidFd >= 0) {
      struct pollfd p{pidFd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, sleepMs)));
      sleepMs = std::min(sleepMs * 2, 20);
    }
  }
  if (pidFd >= 0) ::close(pidFd);
  return state > 0;
}

// Waits for Pid at most TimeoutMs; true with the status when it ended.
bool WaitWithTimeout(pid_t Pid, uint32_t TimeoutMs, int& Status) {
  if (TimeoutMs == INFINITE) return WaitPid(Pid, &Status, 0) == Pid;
  return PollForEnd(Pid, TimeoutMs, [&] {
    const pid_t r = WaitPid(Pid, &Status, WNOHANG);
    return r == Pid ? 1 : r < 0 ? -1 : 0;
  });
}

// Forks a child that runs P: 0 with its id, or the system error code of a
// start that failed (such a child is reaped here).
int32_t ForkExec(const TPreparedExec& P, pid_t& Pid) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return ErrnoToSystemError(errno);
  // The error pipe must not land on descriptor 3 in a child that gets its
  // channel there.
  if (P.Channel >= 0 && pipeFds[1] == 3) {
    int moved = ::fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 4);
    ::close(pipeFds[1]);
    pipeFds[1] = moved;
  }
  pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return ErrnoToSystemError(err);
  }
  if (pid == 0) {
    ::close(pipeFds[0]);
    ExecChild(P, pipeFds[1]);
  }
  // Set from both sides, so the group exists before we may signal it.
  if (P.NewGroup) ::setpgid(pid, pid);
  ::close(pipeFds[1]);
  int32_t error = 0;
  const bool failed = ReadFailure(pipeFds[0], error);
  ::close(pipeFds[0]);
  if (failed) {
    WaitPid(pid, nullptr, 0);
    return error;
  }
  Pid = pid;
  return 0;
}

// A child we no longer wait for is still ours to reap, or it would stay a
// zombie until we exit.
void ReapInBackground(pid_t Pid) {
  std::thread([Pid] { WaitPid(Pid, nullptr, 0); }).detach();
}

std::string ReadFileText(const std::string& Path) {
  std::ifstream in(Path);
  if (!in) return "";
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::optional<uint64_t> ReadLimitFile(const std::string& Path) {
  std::string text = ReadFileText(Path);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.empty() || text == "max") return std::nullopt;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (v > (UINT64_MAX - 9) / 10) return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

// The lowest limit in File from Base + Group up to Base itself.
void LowestOnPath(const std::string& Base, std::string Group, const char* File, std::optional<uint64_t>& Best) {
  if (Group.find("..") != std::string::npos) return;
  for (;;) {
    while (!Group.empty() && Group.back() == '/') Group.pop_back();
    if (auto v = ReadLimitFile(Base + Group + "/" + File))
      if (!Best || *v < *Best) Best = v;
    if (Group.empty()) break;
    size_t slash = Group.rfind('/');
    Group = slash == std::string::npos ? std::string() : Group.substr(0, slash);
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& CommandLine) {
  std::vector<std::string> args;
  size_t i = 0, n = CommandLine.size();
  while (i < n && IsBlank(CommandLine[i])) ++i;
  if (i >= n) return args;
  // The program name: quotes group, nothing escapes.
  {
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(CommandLine[i]))) {
      if (CommandLine[i] == '"') quoted = !quoted;
      else arg += CommandLine[i];
      ++i;
    }
    args.push_back(arg);
  }
  for (;;) {
    while (i < n && IsBlank(CommandLine[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      char c = CommandLine[i];
      if (!quoted && IsBlank(c)) break;
      if (c == '\\') {
        size_t slashes = 0;
        while (i < n && CommandLine[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < n && CommandLine[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg += '"';
            ++i;
          }
          // An even count leaves the quote to the code below.
        } else {
          arg.append(slashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && CommandLine[i + 1] == '"') {
          arg += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += c;
      ++i;
    }
    args.push_back(arg);
  }
  return args;
}

TSpawnResult PlatformRunAndWait(const std::vector<std::string>& Args, const TSpawnOptions& Options,
                                uint32_t TimeoutMs) {
  TSpawnResult result;
  TPreparedExec prepared;
  if (!Prepare(Args, Options.Folder, prepared, result.Code)) return result;
  prepared.Hidden = Options.Hidden;
  prepared.Nice = Options.Nice;
  pid_t pid = -1;
  result.Code = ForkExec(prepared, pid);
  if (result.Code != 0) return result;
  int status = 0;
  if (WaitWithTimeout(pid, TimeoutMs, status)) {
    result.State = TSpawnResult::Exited;
    result.Code = DecodeStatus(status);
  } else {
    ReapInBackground(pid);
    result.State = TSpawnResult::TimedOut;
    result.Code = -1;
  }
  return result;
}

int32_t PlatformStartChild(const std::vector<std::string>& Args, const TSpawnOptions& Options, int Channel,
                           int& Pid) {
  Pid = -1;
  TPreparedExec prepared;
  int32_t error = 0;
  if (!Prepare(Args, Options.Folder, prepared, error)) return error;
  prepared.Hidden = Options.Hidden;
  prepared.Nice = Options.Nice;
  prepared.Channel = Channel;
  prepared.NewGroup = true;
  return ForkExec(prepared, Pid);
}

bool PlatformWaitChild(int Pid, uint32_t TimeoutMs, int32_t& Code) {
  // Looks without reaping: while the ended child is not reaped, neither its
  // id nor its group's can go to another process, so stopping stays safe.
  return PollForEnd(Pid, TimeoutMs, [&] {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(Pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
      return errno == EINTR ? 0 : -1;
    if (info.si_pid != Pid) return 0;
    Code = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
    return 1;
  });
}

int32_t PlatformStopChild(int Pid) {
  ::kill(-Pid, SIGKILL);
  ::kill(Pid, SIGKILL);
  int status = 0;
  return WaitPid(Pid, &status, 0) == Pid ? DecodeStatus(status) : -1;
}

namespace {

// Starts the program in a session of its own through a middle process, so
// that it outlives us and never becomes our zombie; the pipe reports exec
// failures. With EndFd -1 the middle ends at once and is reaped here. With
// a descriptor, the middle waits for the program and writes its code there
// before it ends, and is left for the caller to reap.
int32_t StartThroughMiddle(const std::vector<std::string>& Args, const std::string& Folder, int EndFd,
                           pid_t& Middle) {
  Middle = -1;
  TPreparedExec prepared;
  int32_t error = 0;
  if (!Prepare(Args, Folder, prepared, error)) return error;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return ErrnoToSystemError(errno);
  pid_t middle = ::fork();
  if (middle < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return ErrnoToSystemError(errno);
  }
  if (middle == 0) {
    ::close(pipeFds[0]);
    ::setsid();
    pid_t child = ::fork();
    if (child < 0) {
      WriteFailure(pipeFds[1], 2, errno);
      _exit(127);
    }
    if (child == 0) ExecChild(prepared, pipeFds[1]);
    if (EndFd < 0) _exit(0);
    // The middle may now live as long as a browser does. It keeps none of
    // our descriptors (the window's connection, the instance socket: a
    // crashed window would seem alive to the next start), only EndFd, as 3;
    // the start report is the child's alone, so the parent's read ends at
    // the exec. Nor does it keep our handlers: a kill meant for it ends it.
    ::close(pipeFds[1]);
    if (EndFd != 3 && ::dup2(EndFd, 3) != 3) _exit(0);
    EndFd = 3;
    if (::syscall(SYS_close_range, 4u, ~0u, 0u) != 0) {
      struct rlimit files;
      const rlim_t last = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                              ? std::min<rlim_t>(files.rlim_cur, 65536)
                              : 65536;
      for (rlim_t fd = 4; fd < last; ++fd) ::close(static_cast<int>(fd));
    }
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    ::signal(SIGPIPE, SIG_IGN);  // the parent may be gone by then
    int status = 0;
    const int32_t code = WaitPid(child, &status, 0) == child ? DecodeStatus(status) : -1;
    ssize_t r = ::write(EndFd, &code, sizeof code);
    (void)r;
    _exit(0);
  }
  ::close(pipeFds[1]);
  bool failed = ReadFailure(pipeFds[0], error);
  ::close(pipeFds[0]);
  if (EndFd < 0) WaitPid(middle, nullptr, 0);
  Middle = middle;
  return failed ? error : 0;
}

}  // namespace

int32_t PlatformStartDetached(const std::vector<std::string>& Args, const std::string& Folder) {
  pid_t middle = -1;
  return StartThroughMiddle(Args, Folder, -1, middle);
}

int32_t PlatformStartWatched(const std::vector<std::string>& Args, const std::string& Folder,
                             TWatchedStart& Watch) {
  Watch = TWatchedStart{};
  int endFds[2];
  if (::pipe2(endFds, O_CLOEXEC) != 0) return ErrnoToSystemError(errno);
  pid_t middle = -1;
  const int32_t error = StartThroughMiddle(Args, Folder, endFds[1], middle);
  ::close(endFds[1]);
  if (error != 0) {
    ::close(endFds[0]);
    if (middle > 0) WaitPid(middle, nullptr, 0);  // it ends as soon as the failed child has
    return error;
  }
  Watch.Pid = middle;
  Watch.EndFd = endFds[0];
  return 0;
}

int32_t PlatformCollectWatched(TWatchedStart& Watch) {
  int32_t code = -1;
  if (Watch.EndFd >= 0) {
    if (!ReadWhole(Watch.EndFd, &code, sizeof code)) code = -1;  // the middle died before it could tell
    ::close(Watch.EndFd);
  }
  if (Watch.Pid > 0) WaitPid(Watch.Pid, nullptr, 0);
  Watch = TWatchedStart{};
  return code;
}

std::string PlatformProgramFile() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

std::string PlatformProgramFolder() {
  std::string file = PlatformProgramFile();
  size_t slash = file.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return file.substr(0, slash);
}

std::optional<uint64_t> CgroupMemoryLimit(const std::string& ProcCgroupText, const std::string& CgroupRoot) {
  std::optional<uint64_t> best;
  std::istringstream lines(ProcCgroupText);
  std::string line;
  while (std::getline(lines, line)) {
    size_t c1 = line.find(':');
    if (c1 == std::string::npos) continue;
    size_t c2 = line.find(':', c1 + 1);
    if (c2 == std::string::npos) continue;
    std::string controllers = line.substr(c1 + 1, c2 - c1 - 1);
    std::string group = line.substr(c2 + 1);
    if (line.compare(0, c1, "0") == 0 && controllers.empty()) {
      // The unified hierarchy sits at the root, or below "unified" on hybrid systems.
      LowestOnPath(CgroupRoot, group, "memory.max", best);
      LowestOnPath(CgroupRoot + "/unified", group, "memory.max", best);
      continue;
    }
    std::istringstream names(controllers);
    std::string name;
    while (std::getline(names, name, ','))
      if (name == "memory") LowestOnPath(CgroupRoot + "/memory", group, "memory.limit_in_bytes", best);
  }
  return best;
}

uint64_t PlatformPhysicalMemoryBytes() {
  long pages = ::sysconf(_SC_PHYS_PAGES);
  long pageSize = ::sysconf(_SC_PAGE_SIZE);
  uint64_t total = (pages > 0 && pageSize > 0) ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
  std::optional<uint64_t> limit = CgroupMemoryLimit(ReadFileText("/proc/self/cgroup"), "/sys/fs/cgroup");
  if (limit && (total == 0 || *limit < total)) total = *limit;
  return total;
}
