// Temporary file names: form, uniqueness, and failure when the folder is gone.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "hashutils.h"
#include "temp_env.h"
#include "temputils.h"

namespace {

// Folder + ("t" + 7 or "temp" + 5 upper-case hex digits) + "." + extension.
bool HasTempForm(const std::string& Name, const std::string& Folder, const std::string& Ext) {
  if (Name.compare(0, Folder.size(), Folder) != 0) return false;
  std::string base = Name.substr(Folder.size());
  std::string suffix = "." + Ext;
  if (base.size() <= suffix.size() || base.compare(base.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  base.resize(base.size() - suffix.size());
  std::string digits;
  if (base.rfind("temp", 0) == 0) digits = base.substr(4);
  else if (base.rfind("t", 0) == 0) digits = base.substr(1);
  else return false;
  size_t want = base.rfind("temp", 0) == 0 ? 5 : 7;
  if (digits.size() != want) return false;
  for (char c : digits)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

}  // namespace

TEST(MakeTempFile, CreatesAnEmptyFileInTmpdir) {
  TTempEnv env;
  std::string name = MakeTempFile("tmp");
  ASSERT_FALSE(name.empty());
  EXPECT_TRUE(HasTempForm(name, env.Path("tmp") + "/", "tmp")) << name;
  EXPECT_TRUE(std::filesystem::is_regular_file(name));
  EXPECT_EQ(std::filesystem::file_size(name), 0u);
  EXPECT_EQ(TempFolder(), env.Path("tmp") + "/");
}

// The first name comes from the time stamp to the millisecond. Rather than hope
// two calls share a millisecond, every first-form name of the next seconds is
// taken beforehand (the same stamp the program makes, hashed the same way), so
// each call meets a name made "in its millisecond" and must move on to a
// "temp" name, different every time.
TEST(MakeTempFile, NamesMadeInOneMillisecondDiffer) {
  TTempEnv env;
  const std::string folder = env.Path("tmp") + "/";
  std::set<std::string> taken;
  const auto start = std::chrono::system_clock::now();
  for (int ms = -1000; ms < 10000; ++ms) {
    const auto at = start + std::chrono::milliseconds(ms);
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm tm{};
    localtime_r(&t, &tm);
    const long milli = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000);
    char stamp[32], hex[16];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d%02d%03ld", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec, milli);
    std::snprintf(hex, sizeof hex, "%07X", static_cast<uint32_t>(StringHash(stamp)));
    const std::string name = folder + "t" + std::string(hex, 7) + ".png";
    if (taken.insert(name).second) std::ofstream(name).put('x');
  }
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    std::string name = MakeTempFile("png");
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(names.insert(name).second) << "reused " << name;
    EXPECT_EQ(taken.count(name), 0u) << "took an existing file " << name;
    EXPECT_TRUE(HasTempForm(name, folder, "png")) << name;
    EXPECT_EQ(name.rfind(folder + "temp", 0), 0u) << name;
    EXPECT_EQ(std::filesystem::file_size(name), 0u) << name;
  }
  ASSERT_LT(std::chrono::system_clock::now() - start, std::chrono::seconds(9)) << "the names taken ran out";
}

TEST(MakeTempFile, ThreadsRacingNeverShareAName) {
  TTempEnv env;
  std::vector<std::string> got[4];
  std::vector<std::thread> threads;
  for (auto& list : got)
    threads.emplace_back([&list] {
      for (int i = 0; i < 100; ++i) list.push_back(MakeTempFile("tmp"));
    });
  for (auto& t : threads) t.join();
  std::set<std::string> all;
  for (auto& list : got)
    for (auto& n : list) {
      ASSERT_FALSE(n.empty());
      EXPECT_TRUE(all.insert(n).second) << "shared " << n;
    }
}

TEST(MakeTempFile, MissingFolderGivesEmptyName) {
  TTempEnv env;
  ::setenv("TMPDIR", env.Path("gone").c_str(), 1);
  EXPECT_EQ(MakeTempFile("tmp"), "");
}
