#pragma once
// Child processes and facts about the running program and the machine.
// Children are always started from an argument vector, never through a
// shell, and every child we start is reaped, also the ones we stop waiting
// for. Start failures come back as the original platform's error codes
// (2 for a program that does not exist), because callers test for those.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// Show states and creation flags as callers pass them.
constexpr int32_t SW_HIDE = 0;
constexpr int32_t SW_SHOWNORMAL = 1;
constexpr uint32_t NORMAL_PRIORITY_CLASS = 0x20;
constexpr uint32_t IDLE_PRIORITY_CLASS = 0x40;
constexpr uint32_t BELOW_NORMAL_PRIORITY_CLASS = 0x4000;

// System error codes of start failures.
constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_PATH_NOT_FOUND = 3;
constexpr int32_t ERROR_ACCESS_DENIED = 5;
constexpr int32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr int32_t ERROR_GEN_FAILURE = 31;
constexpr int32_t ERROR_SHARING_VIOLATION = 32;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_BAD_EXE_FORMAT = 193;
constexpr int32_t ERROR_DIRECTORY = 267;

// Splits a command line into arguments by the original platform's rules:
// blanks separate arguments, double quotes group; 2n backslashes before a
// quote give n backslashes and a grouping quote, 2n+1 give n backslashes and
// a literal quote, other backslashes are literal, and "" inside a quoted
// group is a literal quote. The first argument (the program) only knows
// quotes, no backslash escapes.
std::vector<std::string> SplitCommandLine(const std::string& CommandLine);

struct TSpawnOptions {
  std::string Folder;   // working folder; empty keeps ours
  bool Hidden = false;  // stdin, stdout and stderr to /dev/null
  int Nice = 0;         // at least this niceness (19 = idle)
};

struct TSpawnResult {
  enum TState { Exited, TimedOut, StartFailed } State = StartFailed;
  // Exited: the exit code, or 128 + the signal number for a killed child.
  // StartFailed: a system error code above. TimedOut: -1.
  int32_t Code = ERROR_GEN_FAILURE;
};

// Starts Args[0] (searched on PATH when it holds no "/") and waits at most
// TimeoutMs (INFINITE waits for ever). A child still running after the
// time-out keeps running and is reaped in the background when it ends.
TSpawnResult PlatformRunAndWait(const std::vector<std::string>& Args, const TSpawnOptions& Options,
                                uint32_t TimeoutMs);

// Starts Args[0] like PlatformRunAndWait and returns at once, with Channel
// (a socket or pipe of ours) handed to the child as its descriptor 3 and the
// child leading a process group of its own, so that stopping it also stops
// whatever it started. Returns 0 and the child's id, or the system error code.
// Every child started so must be ended with PlatformStopChild.
int32_t PlatformStartChild(const std::vector<std::string>& Args, const TSpawnOptions& Options, int Channel,
                           int& Pid);
// Waits at most TimeoutMs for the child to end: true with its code (the exit
// code, or 128 + the signal number). The child stays ours to stop (it is not
// reaped, so its group can still be stopped).
bool PlatformWaitChild(int Pid, uint32_t TimeoutMs, int32_t& Code);
// Kills the child's process group and reaps the child; its code, as above.
int32_t PlatformStopChild(int Pid);

// Starts Args[0] detached (its own session, not our child once started) in
// Folder (empty: ours). Returns 0, or the system error code of the failure.
int32_t PlatformStartDetached(const std::vector<std::string>& Args, const std::string& Folder);

// A detached start whose end is still told: EndFd becomes readable when the
// program has ended (a desktop opener may run as long as the browser it
// started), without anyone waiting for it meanwhile.
struct TWatchedStart {
  int Pid = -1;    // the middle process that waits for the program
  int EndFd = -1;  // readable once the program ended
};
// Starts Args[0] as PlatformStartDetached does. Returns 0 with Watch filled,
// or the system error code of the start failure with nothing left to collect.
int32_t PlatformStartWatched(const std::vector<std::string>& Args, const std::string& Folder,
                             TWatchedStart& Watch);
// Once EndFd is readable: the program's code (the exit code, or 128 + the
// signal number; -1 when it could not be learnt). Closes EndFd and reaps the
// middle process; Watch is empty afterwards.
int32_t PlatformCollectWatched(TWatchedStart& Watch);

// The full path of the running program, and its folder without a trailing "/".
std::string PlatformProgramFile();
std::string PlatformProgramFolder();

// Bytes of physical memory this process may use: the machine's memory, or
// the memory limit of its control group when that is lower.
uint64_t PlatformPhysicalMemoryBytes();

// The lowest memory limit on the way from the group named in the text of
// /proc/self/cgroup up to the root, read below CgroupRoot (normally
// /sys/fs/cgroup); nothing when no limit is set. Both hierarchy versions.
std::optional<uint64_t> CgroupMemoryLimit(const std::string& ProcCgroupText, const std::string& CgroupRoot);
