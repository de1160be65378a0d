// The recent-files list over a fake menu, and the self-freeing worker thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "mru.h"
#include "platform_exceptions.h"
#include "regutils.h"
#include "runner.h"
#include "temp_env.h"
#include "utilities.h"

namespace {

// A parent menu item with its items, as the main window's "Recent Files".
class TFakeMenu : public TMruMenu {
 public:
  struct Item {
    std::string caption, handler;
    bool visible = true;
  };
  std::vector<Item> items;
  bool parentVisible = false;

  int Count() const override { return static_cast<int>(items.size()); }
  void Add(const std::string& Caption) override { items.push_back({Caption, "", true}); }
  void CopyClickHandler(int From, int To) override { items.at(To).handler = items.at(From).handler; }
  void SetCaption(int Index, const std::string& Caption) override { items.at(Index).caption = Caption; }
  void SetItemVisible(int Index, bool Visible) override { items.at(Index).visible = Visible; }
  void SetParentVisible(bool Visible) override { parentVisible = Visible; }
};

std::vector<std::string> Names(const TMRU& m) { return {m.Entries().begin(), m.Entries().end()}; }

}  // namespace

TEST(MRU, AddMovesToTopAndDropsTheOldest) {
  TFakeMenu menu;
  TMRU mru(&menu);
  EXPECT_EQ(Names(mru), std::vector<std::string>(8));
  for (const char* n : {"f1", "f2", "f3", "f4", "f5", "f6", "f7", "f8"}) mru.AddFile(n);
  EXPECT_EQ(Names(mru), (std::vector<std::string>{"f8", "f7", "f6", "f5", "f4", "f3", "f2", "f1"}));
  // Re-adding the entry at position 3 moves it up; 0 to 2 shift, 4 to 7 stay.
  mru.AddFile("f5");
  EXPECT_EQ(Names(mru), (std::vector<std::string>{"f5", "f8", "f7", "f6", "f4", "f3", "f2", "f1"}));
  // A ninth distinct name drops the oldest.
  mru.AddFile("f9");
  EXPECT_EQ(Names(mru), (std::vector<std::string>{"f9", "f5", "f8", "f7", "f6", "f4", "f3", "f2"}));
  // Comparison is exact: another case is another file.
  mru.AddFile("F9");
  EXPECT_EQ(mru.Entry(0), "F9");
  EXPECT_EQ(mru.Entry(1), "f9");
  // The top entry added again changes nothing.
  mru.AddFile("F9");
  EXPECT_EQ(Names(mru), (std::vector<std::string>{"F9", "f9", "f5", "f8", "f7", "f6", "f4", "f3"}));
}

TEST(MRU, AmpersandsAreDoubledAndFoundAgain) {
  TFakeMenu menu;
  TMRU mru(&menu);
  mru.AddFile("/p/Tom & Jerry.png");
  mru.AddFile("/p/other.png");
  mru.AddFile("/p/Tom & Jerry.png");
  EXPECT_EQ(mru.Entry(0), "/p/Tom && Jerry.png");
  EXPECT_EQ(mru.Entry(1), "/p/other.png");
  EXPECT_EQ(mru.Entry(2), "");
  EXPECT_EQ(menu.items.at(0).caption, "/p/Tom && Jerry.png");
}

TEST(MRU, MenuItemsFollowTheEntries) {
  // The main window's parent holds one item whose handler every new item copies.
  TFakeMenu menu;
  menu.items.push_back({"OpenRecentFile1", "OpenRecentFile1Click", true});
  TMRU mru(&menu);
  mru.AddFile("a.png");
  // A new name only refreshes up to the last position (7): all items exist.
  ASSERT_EQ(menu.Count(), 8);
  EXPECT_TRUE(menu.parentVisible);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(menu.items[i].handler, "OpenRecentFile1Click") << i;
  EXPECT_EQ(menu.items[0].caption, "a.png");
  EXPECT_TRUE(menu.items[0].visible);
  for (int i = 1; i < 8; ++i) EXPECT_FALSE(menu.items[i].visible) << i;
  // Moving an entry from position 1 touches items 0 and 1 only.
  mru.AddFile("b.png");
  menu.items[5].caption = "untouched";
  mru.AddFile("a.png");
  EXPECT_EQ(menu.items[0].caption, "a.png");
  EXPECT_EQ(menu.items[1].caption, "b.png");
  EXPECT_EQ(menu.items[5].caption, "untouched");
  // An empty name refreshes all eight.
  mru.AddFile("");
  EXPECT_EQ(menu.items[5].caption, "");
  EXPECT_EQ(mru.Entry(0), "a.png");

  // A parent without items: each created item copies its (empty) handler.
  TFakeMenu bare;
  TMRU other(&bare);
  other.AddFile("");
  ASSERT_EQ(bare.Count(), 8);
  for (const auto& item : bare.items) {
    EXPECT_EQ(item.handler, "");
    EXPECT_FALSE(item.visible);
  }
  EXPECT_TRUE(bare.parentVisible);
  TMRU noMenu(nullptr);
  noMenu.AddFile("x");  // no menu: the list still works
  EXPECT_EQ(noMenu.Entry(0), "x");
}

TEST(MRU, LoadAndSaveThroughTheSettingsKey) {
  TTempEnv env;
  const char* key = "SOFTWARE\\Dulmora\\Vemra\\MRU";
  TFakeMenu menu;
  {
    TMRU mru(&menu);
    mru.AddFile("one.png");
    mru.AddFile("two & three.png");
    auto reg = OpenSettingsKey(HKEY_CURRENT_USER, key, ".", true);
    mru.SaveToRegistry(reg.get());
    // Empty entries are written too.
    std::vector<std::string> names = reg->GetValueNames();
    EXPECT_EQ(names.size(), 8u);
    EXPECT_EQ(reg->ReadString("7"), "");
  }
  {
    TMRU mru(&menu);
    mru.AddFile("stale");
    auto reg = OpenSettingsKey(HKEY_CURRENT_USER, key, ".", true);
    mru.LoadFromRegistry(reg.get());
    EXPECT_EQ(Names(mru), (std::vector<std::string>{"two && three.png", "one.png", "", "", "", "", "", ""}));
  }
  {
    // No key (it could not be opened): eight empty entries, no failure.
    TMRU mru(&menu);
    mru.AddFile("stale");
    mru.LoadFromRegistry(nullptr);
    EXPECT_EQ(Names(mru), std::vector<std::string>(8));
    mru.AddFile("");
    for (const auto& item : menu.items) EXPECT_FALSE(item.visible);
    EXPECT_TRUE(menu.parentVisible);
  }
  {
    // A key without the values, or with a value of another type.
    auto reg = OpenSettingsKey(HKEY_CURRENT_USER, "SOFTWARE\\Dulmora\\Vemra\\Empty", ".", true);
    reg->WriteInteger("3", 5);
    TMRU mru(nullptr);
    mru.LoadFromRegistry(reg.get());
    EXPECT_EQ(Names(mru), std::vector<std::string>(8));
  }
  {
    // A read-only key is not written through.
    TRegistry::ForceReadOnly(true);
    auto reg = OpenSettingsKey(HKEY_CURRENT_USER, key, ".", true);
    ASSERT_TRUE(reg);
    TMRU mru(nullptr);
    mru.AddFile("new.png");
    mru.SaveToRegistry(reg.get());
    TRegistry::ForceReadOnly(false);
    EXPECT_EQ(reg->ReadString("0"), "two && three.png");
  }
}

TEST(Runner, RunsTheProcedureOnItsOwnThreadWithTheChosenArgument) {
  std::atomic<bool> ran{false};
  std::thread::id where;
  TRunnerProc proc = [&] {
    where = std::this_thread::get_id();
    ran = true;
  };
  TRunner::Create(proc);
  ASSERT_TRUE(TRunner::WaitForAll(5000));
  EXPECT_TRUE(ran);
  EXPECT_NE(where, std::this_thread::get_id());

  std::atomic<int32_t> got{-1};
  std::atomic<int> noArgCalls{0};
  auto noArg = [&] { ++noArgCalls; };
  auto withArg = [&](int32_t a) { got = a; };
  for (int32_t selector = 1; selector <= 3; ++selector) {
    TRunner::Create(noArg, withArg, selector, 10, 20, 30);
    ASSERT_TRUE(TRunner::WaitForAll(5000));
    EXPECT_EQ(got, selector * 10);
  }
  EXPECT_EQ(noArgCalls, 0);
  // Any other selector calls nothing.
  got = -1;
  TRunner::Create(noArg, withArg, 4, 10, 20, 30);
  TRunner::Create(noArg, withArg, -1, 10, 20, 30);
  ASSERT_TRUE(TRunner::WaitForAll(5000));
  EXPECT_EQ(got, -1);
  EXPECT_EQ(noArgCalls, 0);
  TRunner::Create(noArg, withArg, 0, 10, 20, 30);
  ASSERT_TRUE(TRunner::WaitForAll(5000));
  EXPECT_EQ(noArgCalls, 1);
  EXPECT_EQ(TRunner::RunningCount(), 0);
}

TEST(Runner, AnEscapingExceptionIsReportedNotFatal) {
  TMessageBoxRecorder rec;
  TScopedMessageBoxHandler guard(rec);
  TRunner::Create([] { throw EInvalidGraphicOperation("Printer is not printing"); });
  TRunner::Create([] { throw 5; });
  ASSERT_TRUE(TRunner::WaitForAll(5000));
  std::vector<std::string> texts;
  for (const auto& r : rec.Requests()) texts.push_back(r.Text);
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Exception (EInvalidGraphicOperation) on TRunner.Execute: Printer is not printing",
                       "Exception (Exception) on TRunner.Execute: unknown exception"}));
  for (const auto& r : rec.Requests()) EXPECT_EQ(r.Flags, MB_ICONERROR | MB_TOPMOST);
}

TEST(Runner, WaitForAllTimesOutWhileOneRuns) {
  std::atomic<bool> release{false};
  TRunner::Create([&] {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  EXPECT_FALSE(TRunner::WaitForAll(30));
  EXPECT_EQ(TRunner::RunningCount(), 1);
  release = true;
  EXPECT_TRUE(TRunner::WaitForAll(5000));
}
