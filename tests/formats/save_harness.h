#pragma once
// Puts a writer through what users do to it: a save in a child process that
// may hit a full disk (RLIMIT_FSIZE) or run as another user, savers killed at
// random moments, and the old file checked byte for byte afterwards. Every
// writer (BMP, ICO, JPEG, ZU3, PNG, PNM, WBMP, the metadata write-back, the
// undo checkpoint) can be handed to these as a routine that saves to a path.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "formats_test_util.h"

namespace save_harness {

// How a child ended: its exit code, or the signal that ended it.
struct TChildResult {
  int ExitCode = -1;
  int Signal = 0;
  bool Succeeded() const { return Signal == 0 && ExitCode == 0; }
};

// What a child runs under.
struct TChildLimits {
  int64_t FileSizeBytes = -1;  // RLIMIT_FSIZE: writes beyond it fail as on a full disk
  int64_t AddressSpaceBytes = -1;
  int Uid = -1;  // run as this user (and group Gid) with no other groups
  int Gid = -1;
  int TimeoutSeconds = 60;
};

// Runs Body in a child process under Limits. The child exits 0 when Body
// returns true, 1 when it returns false, 2 when it raises; the parent waits
// (killing it after the time-out) and reports how it ended.
inline TChildResult RunInChild(const std::function<bool()>& Body, const TChildLimits& Limits = {}) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    ::alarm(static_cast<unsigned>(Limits.TimeoutSeconds));
    if (Limits.FileSizeBytes >= 0) {
      const rlimit r{static_cast<rlim_t>(Limits.FileSizeBytes), static_cast<rlim_t>(Limits.FileSizeBytes)};
      ::setrlimit(RLIMIT_FSIZE, &r);
    }
    if (Limits.AddressSpaceBytes >= 0) {
      const rlimit r{static_cast<rlim_t>(Limits.AddressSpaceBytes), static_cast<rlim_t>(Limits.AddressSpaceBytes)};
      ::setrlimit(RLIMIT_AS, &r);
    }
    if (Limits.Uid >= 0) {
      const gid_t gid = static_cast<gid_t>(Limits.Gid >= 0 ? Limits.Gid : Limits.Uid);
      if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 ||
          ::setresuid(static_cast<uid_t>(Limits.Uid), static_cast<uid_t>(Limits.Uid),
                      static_cast<uid_t>(Limits.Uid)) != 0)
        ::_exit(3);
    }
    int code = 2;
    try {
      code = Body() ? 0 : 1;
    } catch (...) {
      code = 2;
    }
    ::_exit(code);
  }
  TChildResult result;
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return result;
  if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
  return result;
}

// The user tests take write access away with: tests run as root, whom
// permission bits do not stop.
constexpr int kNobody = 65534;

// Saves with Save (which writes a file IsNew accepts to its path) in
// children killed after a random delay, Rounds times. After every kill the
// target must hold Old byte for byte or a file IsNew accepts, and whatever
// else lies in its folder must be one IsNew accepts too (the instant between
// naming the finished file and renaming it). Returns how many saves were cut
// short; a failure message lands in Failure.
inline int KillSaversAtRandomMoments(const std::string& Target, const std::vector<uint8_t>& Old,
                                     const std::function<bool(const std::vector<uint8_t>&)>& IsNew,
                                     const std::function<void(const std::string&)>& Save, int Rounds,
                                     int MaxDelayMicroseconds, std::string& Failure, uint32_t Seed = 1) {
  const std::string folder = std::filesystem::path(Target).parent_path().string();
  const std::string name = std::filesystem::path(Target).filename().string();
  std::mt19937 rng(Seed);
  int cut = 0;
  for (int round = 0; round < Rounds && Failure.empty(); ++round) {
    WriteFileBytes(Target, Old);
    const pid_t pid = ::fork();
    if (pid == 0) {
      try {
        Save(Target);
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % static_cast<uint32_t>(MaxDelayMicroseconds)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) ++cut;
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) Failure = "the save failed on its own";
    const std::vector<uint8_t> now = ReadFileBytes(Target);
    if (now != Old && !IsNew(now)) Failure = "round " + std::to_string(round) + ": the target is torn";
    for (const std::string& n : FolderEntries(folder)) {
      if (n == name) continue;
      const std::string extra = folder + "/" + n;
      if (!IsNew(ReadFileBytes(extra)))
        Failure = "round " + std::to_string(round) + ": a partial file " + n + " is left";
      std::filesystem::remove(extra);
    }
  }
  return cut;
}

// The same for a saver whose file is the same bytes New every time.
inline int KillSaversAtRandomMoments(const std::string& Target, const std::vector<uint8_t>& Old,
                                     const std::vector<uint8_t>& New,
                                     const std::function<void(const std::string&)>& Save, int Rounds,
                                     int MaxDelayMicroseconds, std::string& Failure, uint32_t Seed = 1) {
  return KillSaversAtRandomMoments(
      Target, Old, [&](const std::vector<uint8_t>& Bytes) { return Bytes == New; }, Save, Rounds,
      MaxDelayMicroseconds, Failure, Seed);
}

}  // namespace save_harness
