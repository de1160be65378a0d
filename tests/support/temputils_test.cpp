// Temporary file names: form, uniqueness, and failure when the folder is gone.
#include <gtest/gtest.h>

#include <set>
#include <thread>

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

TEST(MakeTempFile, NamesMadeInOneMillisecondDiffer) {
  TTempEnv env;
  std::set<std::string> names;
  bool sawSecondForm = false;
  for (int i = 0; i < 200; ++i) {
    std::string name = MakeTempFile("png");
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(names.insert(name).second) << "reused " << name;
    EXPECT_TRUE(HasTempForm(name, env.Path("tmp") + "/", "png")) << name;
    sawSecondForm |= name.find("/temp") != std::string::npos;
  }
  // 200 files in a few milliseconds: some share a time stamp and must have
  // moved on to the "temp" form.
  EXPECT_TRUE(sawSecondForm);
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
