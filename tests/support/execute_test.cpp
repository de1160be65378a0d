// Running programs, opening documents, and the file-system and system facts.
#include <gtest/gtest.h>

#include <dirent.h>

#include "execute.h"
#include "fsutils.h"
#include "shell.h"
#include "sysinfo.h"
#include "temp_env.h"

namespace {

// Our children that are zombies right now (finished, never reaped).
int ZombieChildren() {
  int count = 0;
  const std::string me = std::to_string(::getpid());
  DIR* d = ::opendir("/proc");
  if (!d) return 0;
  while (dirent* e = ::readdir(d)) {
    std::string stat = ReadWholeFile(std::string("/proc/") + e->d_name + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 > stat.size()) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string state, ppid;
    rest >> state >> ppid;
    if (ppid == me && state == "Z") ++count;
  }
  ::closedir(d);
  return count;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

TEST(RunAndWait, ReturnsExitCodesAndStartErrors) {
  TTempEnv env;
  EXPECT_EQ(RunAndWait("sh -c \"exit 7\"", env.Dir(), SW_HIDE, 0, 10000), 7);
  EXPECT_EQ(RunAndWait("true", env.Dir(), SW_HIDE, 0, INFINITE), 0);
  // Killed by a signal: 128 + the signal number.
  EXPECT_EQ(RunAndWait("sh -c \"kill -9 $$\"", env.Dir(), SW_HIDE, 0, 10000), 128 + 9);
  // A program that does not exist is the platform's "file not found", not -1.
  EXPECT_EQ(RunAndWait("vemra-no-such-program -i x", env.Dir(), SW_HIDE, 0, 10000), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunAndWait("\"" + env.Path("missing dir/dcraw") + "\" -i", env.Dir(), SW_HIDE, 0, 10000),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunAndWait("", env.Dir(), SW_HIDE, 0, 10000), ERROR_FILE_NOT_FOUND);
  // A file that is not executable.
  std::ofstream(env.Path("plain")) << "data";
  EXPECT_EQ(RunAndWait(env.Path("plain"), env.Dir(), SW_HIDE, 0, 10000), ERROR_ACCESS_DENIED);
  // A working folder that does not exist.
  EXPECT_EQ(RunAndWait("true", env.Path("nowhere"), SW_HIDE, 0, 10000), ERROR_DIRECTORY);
  EXPECT_EQ(ZombieChildren(), 0);
}

// The child changes to its folder before it starts the program, yet the
// program's name is what the caller sees from its own folder; a folder on
// PATH that happens to bear the program's name is passed over.
TEST(RunAndWait, FindsTheProgramFromTheCallersFolder) {
  TTempEnv env;
  std::filesystem::create_directories(env.Path("work"));
  std::filesystem::create_directories(env.Path("bin"));
  std::string out = env.Path("ran.txt");
  env.Script("bin/tool", "pwd -P > '" + out + "'");
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(env.Dir());
  const int32_t relative = RunAndWait("bin/tool", env.Path("work"), SW_HIDE, 0, 10000);
  std::filesystem::current_path(saved);
  EXPECT_EQ(relative, 0);
  EXPECT_EQ(Trimmed(ReadWholeFile(out)), std::filesystem::canonical(env.Path("work")).string());

  std::filesystem::create_directories(env.Path("p1/vemra-tool"));
  std::filesystem::create_directories(env.Path("p2"));
  env.Script("p2/vemra-tool", "exit 6");
  env.PrependPath(env.Path("p1") + ":" + env.Path("p2"));
  EXPECT_EQ(RunAndWait("vemra-tool", env.Dir(), SW_HIDE, 0, 10000), 6);
}

TEST(RunAndWait, PassesArgumentsByTheQuotingRulesWithoutAShell) {
  TTempEnv env;
  std::string out = env.Path("args.txt");
  std::string script = env.Script("print args", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '" + out + "'");
  // Quoted program path with a blank; a grouped argument; an escaped quote;
  // an empty argument; literal backslashes; shell syntax that no shell sees.
  std::string cmd = "\"" + script + "\" \"a b\" c\\\"d \"\" e\\\\f $HOME;ls *";
  ASSERT_EQ(RunAndWait(cmd, env.Dir(), SW_HIDE, 0, 10000), 0);
  EXPECT_EQ(ReadWholeFile(out), "[a b]\n[c\"d]\n[]\n[e\\\\f]\n[$HOME;ls]\n[*]\n");
}

TEST(RunAndWait, HiddenChildGetsDevNullAndIdlePriority) {
  TTempEnv env;
  std::string out = env.Path("fds.txt");
  // The shell's own descriptors, read in a subshell so that the redirection
  // to the result file does not hide them.
  ASSERT_EQ(RunAndWait("sh -c \"x=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2); echo \\\"$x\\\" > '" + out +
                           "'\"",
                       env.Dir(), SW_HIDE, 0, 10000),
            0);
  EXPECT_EQ(ReadWholeFile(out), "/dev/null\n/dev/null\n/dev/null\n");

  std::string stat = env.Path("stat.txt");
  ASSERT_EQ(RunAndWait("sh -c \"cat /proc/$$/stat > '" + stat + "'\"", env.Dir(), SW_HIDE, IDLE_PRIORITY_CLASS,
                       10000),
            0);
  std::string text = ReadWholeFile(stat);
  size_t close = text.rfind(')');
  ASSERT_NE(close, std::string::npos);
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  // After the name: state is field 3; nice is field 19.
  for (int i = 3; i <= 19; ++i) fields >> field;
  EXPECT_EQ(field, "19");
}

TEST(RunAndWait, EmptyFolderMeansTheProgramFolder) {
  TTempEnv env;
  std::string out = env.Path("pwd.txt");
  ASSERT_EQ(RunAndWait("sh -c \"pwd -P > '" + out + "'\"", "", SW_HIDE, 0, 10000), 0);
  EXPECT_EQ(Trimmed(ReadWholeFile(out)), std::filesystem::canonical(ProgramFolder()).string());
  ASSERT_EQ(RunAndWait("sh -c \"pwd -P > '" + out + "'\"", env.Dir(), SW_HIDE, 0, 10000), 0);
  EXPECT_EQ(Trimmed(ReadWholeFile(out)), std::filesystem::canonical(env.Dir()).string());
}

TEST(RunAndWait, TimeOutLeavesTheChildRunningAndReapsItLater) {
  TTempEnv env;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunAndWait("sleep 5", env.Dir(), SW_HIDE, 0, 20), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  std::string marker = env.Path("finished");
  EXPECT_EQ(RunAndWait("sh -c \"sleep 0.3; echo done > '" + marker + "'\"", env.Dir(), SW_HIDE, 0, 0), -1);
  EXPECT_FALSE(std::filesystem::exists(marker));
  // It went on after we stopped waiting ...
  EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(marker) == "done\n"; }));
  // ... and no finished child is left behind as a zombie.
  EXPECT_TRUE(WaitUntil([] { return ZombieChildren() == 0; }));
}

TEST(ShellOpen, StartsXdgOpenDetachedInTheRightFolder) {
  TTempEnv env;
  std::filesystem::create_directories(env.Path("bin"));
  std::string rec = env.Path("rec");
  env.Script("bin/xdg-open", "pwd -P > '" + rec + ".cwd'; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '" +
                                 rec + ".tmp'; mv '" + rec + ".tmp' '" + rec + ".args'");
  env.PrependPath(env.Path("bin"));
  auto recorded = [&] { return std::filesystem::exists(rec + ".args"); };
  auto reset = [&] {
    std::filesystem::remove(rec + ".args");
    std::filesystem::remove(rec + ".cwd");
  };

  // A document with blanks, an explicit folder; parameters do not reach a
  // handler that takes one file.
  std::filesystem::create_directories(env.Path("work"));
  ShellOpen("/some where/pic.png", "-x", env.Path("work"));
  ASSERT_TRUE(WaitUntil(recorded));
  EXPECT_EQ(ReadWholeFile(rec + ".args"), "[/some where/pic.png]\n");
  EXPECT_EQ(Trimmed(ReadWholeFile(rec + ".cwd")), std::filesystem::canonical(env.Path("work")).string());

  // An empty folder starts the handler in the program folder.
  reset();
  ShellOpen("http://example.invalid/help", "", "");
  ASSERT_TRUE(WaitUntil(recorded));
  EXPECT_EQ(ReadWholeFile(rec + ".args"), "[http://example.invalid/help]\n");
  EXPECT_EQ(Trimmed(ReadWholeFile(rec + ".cwd")), std::filesystem::canonical(ProgramFolder()).string());

  // OpenDocument uses the current folder.
  reset();
  OpenDocument("notes.html");
  ASSERT_TRUE(WaitUntil(recorded));
  EXPECT_EQ(ReadWholeFile(rec + ".args"), "[notes.html]\n");
  EXPECT_EQ(Trimmed(ReadWholeFile(rec + ".cwd")), std::filesystem::current_path().string());

  // A page that carries the execute bit (as every file on a FAT stick does)
  // is still a document for its handler, not a program.
  reset();
  std::string page = env.Path("help page.html");
  std::ofstream(page) << "<html><body>help</body></html>\n";
  ::chmod(page.c_str(), 0755);
  OpenDocument(page);
  ASSERT_TRUE(WaitUntil(recorded));
  EXPECT_EQ(ReadWholeFile(rec + ".args"), "[" + page + "]\n");
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST(ShellOpen, RunsAnExecutableWithItsParameters) {
  TTempEnv env;
  std::string out = env.Path("ran.txt");
  std::string tool = env.Script("tool", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '" + out + ".tmp'; mv '" +
                                            out + ".tmp' '" + out + "'");
  ShellOpen(tool, "\"a b\" c", env.Dir());
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(out); }));
  EXPECT_EQ(ReadWholeFile(out), "[a b]\n[c]\n");
}

TEST(RunSelf, PassesTheMarkerAsOneArgument) {
  EXPECT_EQ(SelfStartArguments({"@/pictures/my holiday  photo.jpg"}),
            (std::vector<std::string>{ProgramFile(), "@/pictures/my holiday  photo.jpg"}));
  EXPECT_EQ(SelfStartArguments({}), (std::vector<std::string>{ProgramFile()}));
  EXPECT_TRUE(std::filesystem::equivalent(ProgramFile(), "/proc/self/exe"));
}

TEST(SystemInfo, VersionMemoryAndProgramFolder) {
  EXPECT_EQ(GetFileVersion(), VEMRA_VERSION);
  EXPECT_FALSE(GetFileVersion().empty());
  int32_t mb = TotalPhysicalMB();
  EXPECT_GT(mb, 0);
  EXPECT_LE(mb, 4095);
  EXPECT_EQ(mb, static_cast<int32_t>(std::min<uint64_t>(PlatformPhysicalMemoryBytes() >> 20, 4095)));
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  EXPECT_EQ(folder + "/" + std::filesystem::path(ProgramFile()).filename().string(), ProgramFile());
}

TEST(FileSystem, EnsureDirAndFileSizeOf) {
  TTempEnv env;
  std::string deep = env.Path("a/b");
  EXPECT_TRUE(EnsureDir(deep));
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  EXPECT_TRUE(EnsureDir(deep));  // already there
  EXPECT_TRUE(EnsureDir(env.Path("c")));
  EXPECT_FALSE(EnsureDir(""));
  std::ofstream(env.Path("file")) << "x";
  EXPECT_FALSE(EnsureDir(env.Path("file/sub")));  // below a file: refused, no crash

  EXPECT_EQ(FileSizeOf(env.Path("missing")), -1);
  std::ofstream(env.Path("empty")).close();
  EXPECT_EQ(FileSizeOf(env.Path("empty")), 0);
  EXPECT_EQ(FileSizeOf(env.Path("file")), 1);
  EXPECT_EQ(FileSizeOf(env.Dir()), -1);
  // Larger than 32 bits: a sparse file of 5 GiB.
  std::string big = env.Path("big");
  std::ofstream(big).close();
  std::filesystem::resize_file(big, 5ull << 30);
  EXPECT_EQ(FileSizeOf(big), int64_t(5) << 30);
  // A FIFO with no writer must not block.
  ASSERT_EQ(::mkfifo(env.Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(FileSizeOf(env.Path("fifo")), -1);
}
