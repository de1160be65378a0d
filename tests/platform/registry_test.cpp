// The registry store: typed values, names without case, persistence across
// objects and processes, read-only stores and damaged files.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include "../support/temp_env.h"
#include "platform_registry.h"

namespace {

std::string StoreOf(const TTempEnv& Env) { return Env.Path("config") + "/vemra/registry"; }

}  // namespace

TEST(Registry, DefaultStoreFollowsTheEnvironment) {
  TTempEnv env;
  EXPECT_EQ(TRegistry::DefaultStoreFile(), StoreOf(env));
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  const char* home = std::getenv("HOME");
  if (home && *home) {
    EXPECT_EQ(TRegistry::DefaultStoreFile(), std::string(home) + "/.config/vemra/registry");
  }
  ::setenv("VEMRA_REGISTRY_FILE", env.Path("elsewhere.reg").c_str(), 1);
  EXPECT_EQ(TRegistry::DefaultStoreFile(), env.Path("elsewhere.reg"));
  EXPECT_EQ(TRegistry().StoreFile(), env.Path("elsewhere.reg"));
}

TEST(Registry, TypedValuesSurviveInTheFile) {
  TTempEnv env;
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", true));
    EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\Dulmora\\Vemra");
    reg.WriteString("stretchfilter", "2");
    reg.WriteString("lastdir", "/home/u/Bilder \"neu\"\\x\n\t\x01 é");
    reg.WriteString("", "default value");
    reg.WriteExpandString("path", "%HOME%/x");
    reg.WriteInteger("count", -5);
    reg.WriteBinaryData("devmode", std::string("\x00\x01\xFF", 3));
  }
  ASSERT_TRUE(std::filesystem::exists(StoreOf(env)));
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Dulmora\\Vemra", false));
  EXPECT_EQ(reg.ReadString("stretchfilter"), "2");
  EXPECT_EQ(reg.ReadString("lastdir"), "/home/u/Bilder \"neu\"\\x\n\t\x01 é");
  EXPECT_EQ(reg.ReadString(""), "default value");
  EXPECT_EQ(reg.ReadString("path"), "%HOME%/x");
  EXPECT_EQ(reg.GetDataType("path"), rdExpandString);
  EXPECT_EQ(reg.ReadInteger("count"), -5);
  EXPECT_EQ(reg.GetDataType("count"), rdInteger);
  EXPECT_EQ(reg.ReadBinaryData("devmode"), std::string("\x00\x01\xFF", 3));
  EXPECT_EQ(reg.ReadString("missing"), "");
  EXPECT_EQ(reg.GetDataType("missing"), rdUnknown);
  // Reading a value as another type is the registry class's own error.
  EXPECT_THROW(reg.ReadString("count"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("stretchfilter"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("missing"), ERegistryException);
  try {
    reg.ReadString("count");
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.ClassName(), "ERegistryException");
    EXPECT_STREQ(e.what(), "Invalid data type for 'count'");
  }
}

TEST(Registry, NamesIgnoreCaseButKeepIt) {
  TTempEnv env;
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", true));
  reg.WriteString("StretchFilter", "1");
  reg.WriteString("STRETCHFILTER", "3");  // the same value
  EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"StretchFilter"});
  EXPECT_EQ(reg.ReadString("stretchfilter"), "3");
  EXPECT_TRUE(reg.ValueExists("sTrEtChFiLtEr"));

  TRegistry other;
  ASSERT_TRUE(other.OpenKey("software\\dulmora\\VEMRA", false));
  EXPECT_EQ(other.CurrentPath(), "SOFTWARE\\Dulmora\\Vemra");
  EXPECT_EQ(other.ReadString("StretchFilter"), "3");
  // Non-ASCII bytes compare exactly.
  other.WriteString("Größe", "a");
  EXPECT_TRUE(other.ValueExists("größe"));
  EXPECT_TRUE(other.ValueExists("GRößE"));
  EXPECT_FALSE(other.ValueExists("GRÖßE"));
}

TEST(Registry, KeysOpenCreateAndDelete) {
  TTempEnv env;
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", false));
  EXPECT_FALSE(std::filesystem::exists(StoreOf(env)));  // a failed open writes nothing
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra\\MRU", true));
  reg.WriteString("0", "a.png");
  EXPECT_TRUE(reg.KeyExists("\\SOFTWARE\\Dulmora"));  // parents are made too
  // A relative path goes below the open key.
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Dulmora\\Vemra", false));
  EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"MRU"});
  ASSERT_TRUE(reg.OpenKey("MRU", false));
  EXPECT_EQ(reg.ReadString("0"), "a.png");
  reg.CloseKey();
  // Deleting a key takes its subkeys and values along, and only them.
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\VemraOther", true));
  reg.WriteString("keep", "yes");
  reg.CloseKey();
  EXPECT_TRUE(reg.DeleteKey("SOFTWARE\\Dulmora\\Vemra"));
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Dulmora\\Vemra\\MRU"));
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Dulmora\\Vemra"));
  EXPECT_FALSE(reg.DeleteKey("SOFTWARE\\Dulmora\\Vemra"));
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\VemraOther", false));
  EXPECT_EQ(reg.ReadString("keep"), "yes");
  EXPECT_TRUE(reg.DeleteValue("keep"));
  EXPECT_FALSE(reg.ValueExists("keep"));
  // Another root is another tree.
  TRegistry machine;
  machine.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(machine.KeyExists("SOFTWARE\\Dulmora\\VemraOther"));
  EXPECT_TRUE(machine.RegistryConnect("."));
  EXPECT_FALSE(machine.RegistryConnect("\\\\server"));
}

TEST(Registry, ReadOnlyStoreRefusesWritesAndKeepsItsFile) {
  TTempEnv env;
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", true));
    reg.WriteString("a", "1");
  }
  std::string before = ReadWholeFile(StoreOf(env));
  for (int how = 0; how < 2; ++how) {
    if (how == 0) TRegistry::ForceReadOnly(true);
    else ::setenv("VEMRA_REGISTRY_READONLY", "1", 1);
    TRegistry reg;
    EXPECT_TRUE(reg.StoreReadOnly());
    EXPECT_FALSE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", true));  // full access is refused
    reg.SetAccess(KEY_READ);
    EXPECT_FALSE(reg.OpenKey("SOFTWARE\\Dulmora\\Missing", true));  // nothing can be created
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", false));
    EXPECT_EQ(reg.ReadString("a"), "1");
    EXPECT_THROW(reg.WriteString("b", "2"), ERegistryException);
    EXPECT_FALSE(reg.DeleteValue("a"));
    EXPECT_FALSE(reg.DeleteKey("\\SOFTWARE\\Dulmora\\Vemra"));
    TRegistry::ForceReadOnly(false);
    ::unsetenv("VEMRA_REGISTRY_READONLY");
  }
  EXPECT_EQ(ReadWholeFile(StoreOf(env)), before);
  // An object opened for reading never writes, even on a writable store.
  TRegistry reader(KEY_READ);
  ASSERT_TRUE(reader.OpenKey("SOFTWARE\\Dulmora\\Vemra", false));
  EXPECT_THROW(reader.WriteString("b", "2"), ERegistryException);
  EXPECT_FALSE(reader.DeleteKey("\\SOFTWARE\\Dulmora\\Vemra"));
  // A root the store does not know has nowhere to keep values.
  TRegistry odd;
  odd.SetRootKey(0x12345678u);
  EXPECT_FALSE(odd.OpenKey("SOFTWARE", true));
  EXPECT_THROW(odd.WriteString("v", "1"), ERegistryException);
  EXPECT_EQ(ReadWholeFile(StoreOf(env)), before);
}

// Every key holds its full path and brings its parents along, so a header
// nested thousands of levels deep would turn a few kilobytes of file into
// gigabytes of parent paths. Such headers are skipped like any unreadable
// line, and the keys a file can make add up to a bounded size.
TEST(Registry, AbsurdlyDeepKeysAreSkippedNotExpanded) {
  std::string deep = "[HKEY_CURRENT_USER";
  for (int i = 0; i < 20000; ++i) deep += "\\a";
  deep += "]\n\"lost\"=\"1\"\n";
  TRegistryData data = ParseRegistryText(deep + "[HKEY_CURRENT_USER\\SOFTWARE\\Dulmora]\n\"good\"=\"yes\"\n");
  EXPECT_EQ(data.FindKey("HKEY_CURRENT_USER\\a"), nullptr);
  ASSERT_NE(data.FindKey("HKEY_CURRENT_USER\\SOFTWARE\\Dulmora"), nullptr);
  EXPECT_EQ(data.Keys.size(), 3u);

  // Many distinct chains at an accepted depth: the parser stops taking new
  // keys at its budget instead of following the file into the gigabytes.
  std::string chain;
  for (int i = 0; i < 500; ++i) chain += "\\a";
  std::string many;
  for (int k = 0; k < 1000; ++k) many += "[HKEY_CURRENT_USER\\" + std::to_string(k) + chain + "]\n";
  TRegistryData big = ParseRegistryText(many);
  size_t pathBytes = 0;
  for (const auto& [folded, key] : big.Keys) pathBytes += key.Path.size();
  EXPECT_GT(big.Keys.size(), 10000u);
  EXPECT_LE(pathBytes, size_t{64} << 20);

  // The program cannot make a key that its store would not read back.
  TTempEnv env;
  std::string tooDeep = "SOFTWARE";
  for (int i = 0; i < 600; ++i) tooDeep += "\\k";
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey(tooDeep, true));
  EXPECT_FALSE(std::filesystem::exists(StoreOf(env)));
  EXPECT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", true));
}

TEST(Registry, DamagedFileIsReadAroundNotTrusted) {
  TTempEnv env;
  std::filesystem::create_directories(env.Path("config/vemra"));
  std::string text =
      "\"orphan\"=\"before any key\"\n"
      "garbage \x01\x02\xff line\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Dulmora\\Vemra]\r\n"
      "\"good\"=\"yes\"\r\n"
      "\"unterminated=\"x\n"
      "\"badescape\"=\"\\q\"\n"
      "\"baddword\"=dword:xyz\n"
      "\"longdword\"=dword:123456789\n"
      "\"badhex\"=hex:0g\n"
      "\"trailing\"=\"x\" junk\n"
      "\"num\"=dword:0000002a\n"
      "  \"indented\"=\"ok\"  \n"
      "[NOT_A_ROOT\\x]\n"
      "\"lost\"=\"1\"\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Dulmora\\Vemra\n"
      "\"after bad header\"=\"1\"\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Dulmora\\Vemra]\n"
      "\"GOOD\"=\"later line wins\"\n"
      "\"bin\"=hex:\n";
  std::ofstream(StoreOf(env), std::ios::binary) << text;
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", false));
  std::vector<std::string> names = reg.GetValueNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"GOOD", "bin", "indented", "num"}));
  EXPECT_EQ(reg.ReadString("good"), "later line wins");
  EXPECT_EQ(reg.ReadInteger("num"), 42);
  EXPECT_EQ(reg.ReadString("indented"), "ok");
  EXPECT_EQ(reg.ReadBinaryData("bin"), "");
  // The first write rewrites the file cleanly and keeps the readable values.
  reg.WriteString("new", "v");
  TRegistry again;
  ASSERT_TRUE(again.OpenKey("SOFTWARE\\Dulmora\\Vemra", false));
  EXPECT_EQ(again.ReadString("good"), "later line wins");
  EXPECT_EQ(again.ReadString("new"), "v");
  EXPECT_EQ(ParseRegistryText(ReadWholeFile(StoreOf(env))), ParseRegistryText(FormatRegistryText(
                                                                ParseRegistryText(ReadWholeFile(StoreOf(env))))));
}

TEST(Registry, UnreadableStoreIsNeverOverwritten) {
  TTempEnv env;
  // Something that is not a file where the store should be.
  std::filesystem::create_directories(StoreOf(env));
  std::ofstream(StoreOf(env) + "/precious") << "keep";
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", true));
  EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
  EXPECT_EQ(ReadWholeFile(StoreOf(env) + "/precious"), "keep");
}

TEST(Registry, FormatAndParseRoundTrip) {
  TRegistryData data;
  TRegistryKey& k = data.CreateKey("HKEY_CURRENT_USER\\Soft%ware\\Key]with[odd\nchars");
  for (int c = 0; c < 256; ++c) {
    TRegistryValue v;
    v.Name = std::string("n") + static_cast<char>(c);
    v.Type = static_cast<TRegDataType>(1 + c % 4);
    v.Bytes = v.Type == rdInteger ? std::string("\x01\x02\x03\x84", 4) : std::string(3, static_cast<char>(c));
    k.Values[FoldRegistryName(v.Name)] = v;
  }
  data.CreateKey("HKEY_LOCAL_MACHINE\\A");
  std::string text = FormatRegistryText(data);
  TRegistryData back = ParseRegistryText(text);
  EXPECT_EQ(back, data);
  EXPECT_EQ(FormatRegistryText(back), text);
  // Every parent of a key exists as a key of its own.
  EXPECT_NE(back.FindKey("hkey_current_user\\SOFT%WARE"), nullptr);
}

// Two processes writing different values into one store at the same time:
// every value of both survives, because each update merges under the lock.
TEST(Registry, ConcurrentProcessesKeepEachOthersValues) {
  TTempEnv env;
  const int kPerProcess = 40;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  pid_t kids[2];
  for (int p = 0; p < 2; ++p) {
    kids[p] = ::fork();
    ASSERT_GE(kids[p], 0);
    if (kids[p] == 0) {
      ::close(go[1]);
      char c;
      if (::read(go[0], &c, 1) != 1) _exit(3);
      int failures = 0;
      try {
        for (int i = 0; i < kPerProcess; ++i) {
          TRegistry reg;  // a fresh object each time, as separate windows would
          if (!reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", true)) { ++failures; continue; }
          reg.WriteString("p" + std::to_string(p) + "_" + std::to_string(i), std::to_string(i * 7));
        }
      } catch (...) {
        ++failures;
      }
      _exit(failures ? 1 : 0);
    }
  }
  ::close(go[0]);
  ASSERT_EQ(::write(go[1], "gg", 2), 2);  // both start together
  ::close(go[1]);
  for (pid_t k : kids) {
    int status = 0;
    ASSERT_EQ(::waitpid(k, &status, 0), k);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Dulmora\\Vemra", false));
  EXPECT_EQ(reg.GetValueNames().size(), static_cast<size_t>(2 * kPerProcess));
  for (int p = 0; p < 2; ++p)
    for (int i = 0; i < kPerProcess; ++i)
      EXPECT_EQ(reg.ReadString("p" + std::to_string(p) + "_" + std::to_string(i)), std::to_string(i * 7));
  // No temporary file is left behind.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(env.Path("config/vemra"))) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2);  // the store and its lock file
}

// What the store cannot read is kept as "registry.bad" before the first write
// replaces it; temporary files of killed writers go with the next write, a
// user's own "registry.backup" stays; a store that is a symbolic link is
// written where the link points.
TEST(Registry, DamagedStoreIsKeptAsBadAndLeftoversAndLinksAreHandled) {
  TTempEnv env;
  const std::string dir = env.Path("config/vemra");
  std::filesystem::create_directories(dir);
  // 64 KB in which no line is a key or a value, yet every line passes for a
  // comment or a blank.
  std::string unreadable;
  while (unreadable.size() < (64 << 10)) unreadable += std::string("; \x89PNG\r\n#\x00\x01\xfe]\n \t\r\n", 18);
  struct TCase {
    const char* Name;
    std::string Text;
    bool KeptAsBad;
  } cases[] = {
      {"all garbage", std::string("\x89PNG\r\n\x1a\n\x00\x00 binary \xff\xfe", 21), true},
      {"one bad line", "[HKEY_CURRENT_USER\\S]\n\"a\"=\"1\"\nbroken line\n", true},
      {"nothing readable", unreadable, true},
      {"clean", FormatRegistryText(ParseRegistryText("[HKEY_CURRENT_USER\\S]\n\"a\"=\"1\"\n")), false},
      {"empty as we write it", FormatRegistryText(TRegistryData()), false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove(StoreOf(env) + ".bad");
    std::ofstream(StoreOf(env), std::ios::binary) << c.Text;
    // What a killed writer left, and a copy of the user's own of the same shape.
    std::ofstream(StoreOf(env) + ".backup") << "the user's copy";
    std::ofstream(dir + "/.registry.Qq12Zz") << "half a store";
    std::ofstream(dir + "/registry.notes") << "not ours";
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("S", true));
    reg.WriteString("b", "2");
    EXPECT_EQ(std::filesystem::exists(StoreOf(env) + ".bad"), c.KeptAsBad);
    if (c.KeptAsBad) EXPECT_EQ(ReadWholeFile(StoreOf(env) + ".bad"), c.Text);
    TRegistry check;
    ASSERT_TRUE(check.OpenKey("S", false));
    EXPECT_EQ(check.ReadString("b"), "2");
    EXPECT_EQ(ReadWholeFile(StoreOf(env) + ".backup"), "the user's copy");
    EXPECT_FALSE(std::filesystem::exists(dir + "/.registry.Qq12Zz"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/registry.notes"));
  }

  // A link to the store elsewhere stays a link; the file it names is updated.
  const std::string real = env.Path("real-registry");
  std::filesystem::rename(StoreOf(env), real);
  std::filesystem::create_symlink(real, StoreOf(env));
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("S", true));
  reg.WriteString("through", "link");
  EXPECT_TRUE(std::filesystem::is_symlink(StoreOf(env)));
  EXPECT_NE(ReadWholeFile(real).find("through"), std::string::npos);
}
