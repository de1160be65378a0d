// Command-line splitting, detached starts and the memory limit of a group.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "../support/temp_env.h"
#include "platform_process.h"

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheQuotingRules) {
  struct Case {
    std::string line;
    Args want;
  } cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"prog", {"prog"}},
      {"  prog  a   b  ", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\x.exe\" -i", {"C:\\Program Files\\x.exe", "-i"}},
      // The program name knows no escapes: a backslash before a quote stays.
      {"\"a\\\"b c", {"a\\b", "c"}},
      {"p \"a b\" c", {"p", "a b", "c"}},
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p \"\"", {"p", ""}},
      {"p \"\" x", {"p", "", "x"}},
      {"p a\\\\b", {"p", "a\\\\b"}},         // backslashes not before a quote are literal
      {"p a\\\"b", {"p", "a\"b"}},            // 1 backslash + quote: literal quote
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},    // 2 backslashes + quote: one backslash, quote groups
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},      // 3 backslashes + quote: one backslash, literal quote
      {"p \"a\\\\\"", {"p", "a\\"}},          // a quoted path ending in a backslash
      {"p \"a\"\"b\"", {"p", "a\"b"}},        // "" inside quotes is a literal quote
      {"p \"unterminated arg", {"p", "unterminated arg"}},
      {"p\ta", {"p", "a"}},
      {"dcraw.exe -i \"/pics/my raw.nef\"", {"dcraw.exe", "-i", "/pics/my raw.nef"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.want) << "line: " << c.line;
}

TEST(StartDetached, ReportsStartErrorsAndLeavesNoChild) {
  TTempEnv env;
  EXPECT_EQ(PlatformStartDetached({"vemra-no-such-program"}, ""), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(PlatformStartDetached({}, ""), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(PlatformStartDetached({"true"}, env.Path("nowhere")), ERROR_DIRECTORY);
  std::string out = env.Path("out");
  EXPECT_EQ(PlatformStartDetached({"sh", "-c", "sleep 0.1; echo $PPID > '" + out + "'"}, env.Dir()), 0);
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(out).size() > 1; }));
  // Adopted by another process once started, never our child.
  EXPECT_NE(ReadWholeFile(out), std::to_string(::getpid()) + "\n");
}

// A watched start tells the program's end with its code; a start that fails
// leaves nothing to collect.
TEST(StartWatched, TellsTheEndAndItsCode) {
  TTempEnv env;
  struct Case {
    Args args;
    int32_t start, code;
  } cases[] = {
      {{"sh", "-c", "exit 3"}, 0, 3},
      {{"sh", "-c", "exit 0"}, 0, 0},
      {{"sh", "-c", "kill -9 $$"}, 0, 137},
      {{"vemra-no-such-program"}, ERROR_FILE_NOT_FOUND, -1},
      {{"true"}, ERROR_DIRECTORY, -1},  // fails in the child, after the middle started
  };
  for (const Case& c : cases) {
    TWatchedStart w;
    const std::string folder = c.start == ERROR_DIRECTORY ? env.Path("nowhere") : env.Dir();
    EXPECT_EQ(PlatformStartWatched(c.args, folder, w), c.start) << c.args.back();
    if (c.start != 0) {
      EXPECT_EQ(w.EndFd, -1);
      EXPECT_LE(::waitpid(-1, nullptr, WNOHANG), 0) << "a middle left unreaped";
      continue;
    }
    EXPECT_EQ(PlatformCollectWatched(w), c.code) << c.args.back();
    EXPECT_EQ(w.EndFd, -1);
  }
}

TEST(RunAndWaitPlatform, TimedOutAndExitedStates) {
  TTempEnv env;
  TSpawnOptions o;
  o.Hidden = true;
  TSpawnResult r = PlatformRunAndWait({"sh", "-c", "exit 3"}, o, INFINITE);
  EXPECT_EQ(r.State, TSpawnResult::Exited);
  EXPECT_EQ(r.Code, 3);
  r = PlatformRunAndWait({"sh", "-c", "kill -9 $$"}, o, INFINITE);  // 128 + the signal
  EXPECT_EQ(r.State, TSpawnResult::Exited);
  EXPECT_EQ(r.Code, 137);
  r = PlatformRunAndWait({"sleep", "5"}, o, 10);
  EXPECT_EQ(r.State, TSpawnResult::TimedOut);
  EXPECT_EQ(r.Code, -1);
  r = PlatformRunAndWait({"vemra-no-such-program"}, o, 10);
  EXPECT_EQ(r.State, TSpawnResult::StartFailed);
  EXPECT_EQ(r.Code, ERROR_FILE_NOT_FOUND);
}

TEST(CgroupMemoryLimit, TakesTheLowestLimitOnThePath) {
  TTempEnv env;
  auto put = [&](const std::string& rel, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(env.Path(rel)).parent_path());
    std::ofstream(env.Path(rel)) << text;
  };
  std::string root = env.Path("cg");
  // Unified hierarchy: the group's own limit is above its parent's.
  put("cg/memory.max", "max\n");
  put("cg/user/memory.max", "1073741824\n");
  put("cg/user/app/memory.max", "2147483648\n");
  EXPECT_EQ(CgroupMemoryLimit("0::/user/app\n", root), std::optional<uint64_t>(1073741824));
  EXPECT_EQ(CgroupMemoryLimit("0::/\n", root), std::nullopt);  // "max" is no limit
  // Version 1: the memory controller's own tree.
  put("cg/memory/memory.limit_in_bytes", "9223372036854771712\n");
  put("cg/memory/box/memory.limit_in_bytes", "536870912\n");
  EXPECT_EQ(CgroupMemoryLimit("4:memory:/box\n3:cpu:/\n", root), std::optional<uint64_t>(536870912));
  EXPECT_EQ(CgroupMemoryLimit("4:cpuacct,memory:/box\n", root), std::optional<uint64_t>(536870912));
  // Nothing readable, garbage, or an escaping path: no limit.
  EXPECT_EQ(CgroupMemoryLimit("", root), std::nullopt);
  EXPECT_EQ(CgroupMemoryLimit("garbage\n::\n4:memory:/../../etc\n", root), std::nullopt);
  put("cg/bad/memory.max", "12abc\n");
  EXPECT_EQ(CgroupMemoryLimit("0::/bad\n", root), std::nullopt);
  // Physical memory is never above the machine's.
  EXPECT_GT(PlatformPhysicalMemoryBytes(), 0u);
  EXPECT_LE(PlatformPhysicalMemoryBytes(),
            static_cast<uint64_t>(::sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(::sysconf(_SC_PAGE_SIZE)));
}
