// Message and exception boxes, captions, the text scale, and the settings
// helpers over the registry store.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <thread>

#include "platform_exceptions.h"
#include "platform_text.h"
#include "regutils.h"
#include "temp_env.h"
#include "utilities.h"

namespace {

const char* const kKey = "SOFTWARE\\Dulmora\\Vemra";

// Whether the store holds the value, read with a fresh object.
bool StoredValue(const std::string& Name, std::string* Value = nullptr) {
  TRegistry reg(KEY_READ);
  if (!reg.OpenKey(kKey, false) || !reg.ValueExists(Name)) return false;
  if (Value) *Value = reg.ReadString(Name);
  return true;
}

class TCaption : public TCaptionedWindow {
 public:
  explicit TCaption(std::string T) : text(std::move(T)) {}
  std::string WindowText() const override { return text; }
  std::string text;
};

}  // namespace

TEST(MessageBoxes, ApplicationBoxHasTitleCaptionAndIsTopmost) {
  TMessageBoxRecorder rec;
  TScopedMessageBoxHandler guard(rec);
  rec.QueueAnswer(IDNO);
  EXPECT_EQ(ShowMessageBox("Save changes?", MB_YESNO | MB_ICONQUESTION), IDNO);
  // With the script used up, the default button answers.
  EXPECT_EQ(ShowMessageBox("Again?", MB_YESNO), IDYES);
  EXPECT_EQ(ShowMessageBox("Again?", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  ASSERT_EQ(rec.Count(), 3u);
  TMessageBoxRequest first = rec.Requests()[0];
  EXPECT_EQ(first.Text, "Save changes?");
  EXPECT_EQ(first.Caption, ApplicationTitle());
  EXPECT_EQ(first.Caption, "Vemra");
  EXPECT_EQ(first.Flags, MB_YESNO | MB_ICONQUESTION | MB_TOPMOST);
  EXPECT_TRUE(first.ApplicationOwned);

  // The file formats' boxes: the unit's name as caption, the flags untouched.
  EXPECT_EQ(ShowUnitMessageBox("error opening /x.zub", "img_zub", MB_ICONHAND), IDOK);
  TMessageBoxRequest unit = rec.Last();
  EXPECT_EQ(unit.Caption, "img_zub");
  EXPECT_EQ(unit.Text, "error opening /x.zub");
  EXPECT_EQ(unit.Flags, MB_ICONHAND);
  EXPECT_FALSE(unit.ApplicationOwned);
}

TEST(MessageBoxes, ExceptionBoxWording) {
  TMessageBoxRecorder rec;
  TScopedMessageBoxHandler guard(rec);
  ShowExceptionBox(EConvertError("'12abc' is not a valid integer value"), "on InitializeApp");
  EXPECT_EQ(rec.Last().Text, "Exception (EConvertError) on InitializeApp: '12abc' is not a valid integer value");
  EXPECT_EQ(rec.Last().Flags, MB_ICONERROR | MB_TOPMOST);
  EXPECT_EQ(rec.Last().Caption, "Vemra");

  ShowExceptionBox(std::bad_alloc(), "on action 100");
  EXPECT_EQ(rec.Last().Text.rfind("Exception (EOutOfMemory) on action 100: ", 0), 0u) << rec.Last().Text;
  ShowExceptionBox(std::runtime_error("boom"), "on image x load");
  EXPECT_EQ(rec.Last().Text, "Exception (std::runtime_error) on image x load: boom");

  try {
    throw EReadError("Stream read error");
  } catch (...) {
    ShowCurrentExceptionBox("on image a.bmp load");
  }
  EXPECT_EQ(rec.Last().Text, "Exception (EReadError) on image a.bmp load: Stream read error");
  try {
    throw 42;
  } catch (...) {
    ShowCurrentExceptionBox("on action 7");
  }
  EXPECT_EQ(rec.Last().Text, "Exception (Exception) on action 7: unknown exception");
  EXPECT_EQ(rec.Count(), 5u);
}

TEST(MessageBoxes, WithoutAGuiALineGoesToStderr) {
  TScopedMessageBoxHandler none{TMessageBoxHandler()};
  TTempEnv env;
  std::string path = env.Path("stderr.txt");
  int saved = ::dup(2);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ::dup2(fd, 2);
  int a = ShowMessageBox("first line\nsecond", MB_OKCANCEL | MB_DEFBUTTON2);
  int b = ShowUnitMessageBox("error opening f", "img_pxm", MB_ICONHAND);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(fd);
  EXPECT_EQ(a, IDCANCEL);
  EXPECT_EQ(b, IDOK);
  EXPECT_EQ(ReadWholeFile(path), "Vemra: first line second\nimg_pxm: error opening f\n");
}

TEST(MessageBoxes, SafeFromManyThreadsWhileHandlersChange) {
  TMessageBoxRecorder rec;
  TScopedMessageBoxHandler guard(rec);
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) ShowMessageBox("worker " + std::to_string(t), MB_OK);
    });
  // Re-installing the same recorder under the callers' feet.
  for (int i = 0; i < 200; ++i) {
    TMessageBoxHandler h = SetMessageBoxHandler([&rec](const TMessageBoxRequest& r) { return rec(r); });
    (void)h;
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(rec.Count(), 6u * 200u);
}

TEST(WindowCaption, CutAt255BytesOnACharacterBoundary) {
  std::string caption;
  GetWindowCaption(nullptr, caption);
  EXPECT_EQ(caption, "");
  TCaption shortOne("Vemra - a.png");
  GetWindowCaption(&shortOne, caption);
  EXPECT_EQ(caption, "Vemra - a.png");
  TCaption ascii(std::string(300, 'x'));
  GetWindowCaption(&ascii, caption);
  EXPECT_EQ(caption, std::string(255, 'x'));
  // 254 ASCII bytes then a two-byte character: the character does not fit.
  TCaption utf8(std::string(254, 'x') + "é" + "tail");
  GetWindowCaption(&utf8, caption);
  EXPECT_EQ(caption, std::string(254, 'x'));
}

TEST(TextScale, ArialAt24PointsGivesTheNominalScale) {
  TTextScale scale;
  scale.Horizontal = scale.Vertical = 0;
  MeasureTextScale(scale);
  // At 96 dpi "ABCDEFGHIJ" measures 202 x 36 pixels in the metric-compatible face.
  TFont arial;
  arial.Name = "Arial";
  arial.Size = 24;
  TTextExtent e = PlatformTextExtent(arial, "ABCDEFGHIJ");
  EXPECT_EQ(e.cx, 202);
  EXPECT_EQ(e.cy, 36);
  EXPECT_EQ(scale.Horizontal, 96);
  EXPECT_EQ(scale.Vertical, 96);
}

TEST(SettingsKey, OpensWritableCreatesAndWritesDefaultsBack) {
  TTempEnv env;
  auto reg = OpenSettingsKey(HKEY_CURRENT_USER, kKey, ".", true);
  ASSERT_TRUE(reg);
  EXPECT_EQ(reg->Access(), KEY_ALL_ACCESS);
  EXPECT_TRUE(SettingsKeyWritable(reg.get()));
  // A missing value gives the default and stores it as decimal text.
  EXPECT_EQ(ReadSettingInt(reg.get(), "stretchfilter", 2), 2);
  std::string stored;
  ASSERT_TRUE(StoredValue("stretchfilter", &stored));
  EXPECT_EQ(stored, "2");
  EXPECT_EQ(ReadSettingInt(reg.get(), "stretchfilter", 5), 2);  // found the second time
  WriteSettingInt(reg.get(), "gauge", -17);
  ASSERT_TRUE(StoredValue("gauge", &stored));
  EXPECT_EQ(stored, "-17");
  EXPECT_EQ(ReadSettingInt(reg.get(), "gauge", 0), -17);

  std::string s;
  ReadSettingStr(reg.get(), "driver", "winspool", s, false);
  EXPECT_EQ(s, "winspool");
  EXPECT_FALSE(StoredValue("driver"));  // no write-back asked for
  ReadSettingStr(reg.get(), "device", "PDF", s, true);
  EXPECT_EQ(s, "PDF");
  EXPECT_TRUE(StoredValue("device", &stored));
  EXPECT_EQ(stored, "PDF");
  WriteSettingStr(reg.get(), "device", "Office printer");
  ReadSettingStr(reg.get(), "device", "PDF", s, true);
  EXPECT_EQ(s, "Office printer");

  CloseSettingsKey(reg);
  EXPECT_FALSE(reg);
  CloseSettingsKey(reg);  // closing an empty variable does nothing
}

TEST(SettingsKey, IntegerTextsFallBackToTheDefault) {
  TTempEnv env;
  auto reg = OpenSettingsKey(HKEY_CURRENT_USER, kKey, ".", true);
  ASSERT_TRUE(reg);
  struct Case {
    const char* text;
    int32_t want;
  } cases[] = {{"12", 12}, {"-12", -12}, {" 7", 7}, {"$10", 16}, {"12abc", 99},
               {"", 99},   {"4294967296", 99}, {"2147483648", 99}, {"-2147483648", INT32_MIN}};
  for (const Case& c : cases) {
    reg->WriteString("v", c.text);
    EXPECT_EQ(ReadSettingInt(reg.get(), "v", 99), c.want) << "'" << c.text << "'";
  }
  // A value of another type is the registry class's error; it is not hidden.
  reg->WriteInteger("dword", 3);
  EXPECT_THROW(ReadSettingInt(reg.get(), "dword", 0), ERegistryException);
}

TEST(SettingsKey, ReadOnlyFallbackReadsButNeverWrites) {
  TTempEnv env;
  {
    auto reg = OpenSettingsKey(HKEY_CURRENT_USER, kKey, ".", true);
    ASSERT_TRUE(reg);
    WriteSettingInt(reg.get(), "zoom", 3);
  }
  const std::string store = TRegistry::DefaultStoreFile();
  const std::string before = ReadWholeFile(store);
  TRegistry::ForceReadOnly(true);
  {
    auto reg = OpenSettingsKey(HKEY_CURRENT_USER, kKey, ".", true);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->Access(), KEY_READ);
    EXPECT_FALSE(SettingsKeyWritable(reg.get()));
    EXPECT_EQ(ReadSettingInt(reg.get(), "zoom", 1), 3);
    EXPECT_EQ(ReadSettingInt(reg.get(), "missing", 8), 8);
    std::string s;
    ReadSettingStr(reg.get(), "name", "dflt", s, true);
    EXPECT_EQ(s, "dflt");
    WriteSettingInt(reg.get(), "zoom", 4);
    WriteSettingStr(reg.get(), "name", "x");
    EXPECT_EQ(ReadSettingInt(reg.get(), "zoom", 1), 3);
    // Without create there is no read-only retry.
    EXPECT_FALSE(OpenSettingsKey(HKEY_CURRENT_USER, kKey, ".", false));
    // A key that does not exist cannot be made on a read-only store.
    EXPECT_FALSE(OpenSettingsKey(HKEY_CURRENT_USER, "SOFTWARE\\Dulmora\\Other", ".", true));
  }
  TRegistry::ForceReadOnly(false);
  EXPECT_EQ(ReadWholeFile(store), before);
}

TEST(SettingsKey, NoKeyMeansDefaultsEverywhere) {
  TTempEnv env;
  EXPECT_FALSE(OpenSettingsKey(HKEY_CURRENT_USER, kKey, ".", false));  // not there yet
  EXPECT_FALSE(OpenSettingsKey(HKEY_CURRENT_USER, kKey, "\\\\otherhost", true));
  EXPECT_EQ(ReadSettingInt(nullptr, "x", 11), 11);
  std::string s = "stale";
  ReadSettingStr(nullptr, "x", "d", s, true);
  EXPECT_EQ(s, "d");
  WriteSettingInt(nullptr, "x", 1);
  WriteSettingStr(nullptr, "x", "y");
  EXPECT_FALSE(std::filesystem::exists(TRegistry::DefaultStoreFile()));
}

TEST(SettingsKey, DeleteRemovesTheSubkey) {
  TTempEnv env;
  {
    auto mru = OpenSettingsKey(HKEY_CURRENT_USER, "SOFTWARE\\Dulmora\\Vemra\\MRU", ".", true);
    ASSERT_TRUE(mru);
    WriteSettingStr(mru.get(), "0", "a.png");
    auto main = OpenSettingsKey(HKEY_CURRENT_USER, kKey, ".", true);
    WriteSettingInt(main.get(), "savemru", 0);
  }
  DeleteSettingsKey("SOFTWARE\\Dulmora\\Vemra\\MRU");
  EXPECT_FALSE(OpenSettingsKey(HKEY_CURRENT_USER, "SOFTWARE\\Dulmora\\Vemra\\MRU", ".", false));
  auto main = OpenSettingsKey(HKEY_CURRENT_USER, kKey, ".", false);
  ASSERT_TRUE(main);
  EXPECT_EQ(ReadSettingInt(main.get(), "savemru", 1), 0);
  DeleteSettingsKey("SOFTWARE\\Dulmora\\Nothing");  // not reported
}
