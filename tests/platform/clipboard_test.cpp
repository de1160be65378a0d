// The in-memory clipboard: what one Open/Close bracket sets stays together,
// the next bracket replaces it, and pictures are handed out as copies.
#include <gtest/gtest.h>

#include "platform_clipboard.h"

namespace {

TPlatformBitmap Picture(uint32_t Color) {
  TPlatformBitmap b;
  b.SetSize(2, 2);
  for (int i = 0; i < 4; ++i) b.Bits()[i] = Color + static_cast<uint32_t>(i);
  return b;
}

}  // namespace

TEST(MemoryClipboard, PictureAndDataSetInOneBracketStayTogether) {
  TMemoryClipboard cb;
  EXPECT_FALSE(cb.HasPicture());
  EXPECT_EQ(cb.GetPicture(), nullptr);
  cb.Open();
  cb.SetPicture(Picture(0x10203040u));
  cb.SetData("CFBitmap32Alpha", {1, 2, 3, 4});
  cb.SetData("Other", {9});
  cb.SetData("Other", {8, 7});  // the same name replaces its block
  cb.Close();
  ASSERT_TRUE(cb.HasPicture());
  EXPECT_TRUE(cb.HasFormat("CFBitmap32Alpha"));
  EXPECT_EQ(cb.GetData("CFBitmap32Alpha"), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(cb.GetData("Other"), (std::vector<uint8_t>{8, 7}));
  EXPECT_FALSE(cb.HasFormat("Missing"));
  EXPECT_TRUE(cb.GetData("Missing").empty());

  // A picture set in a later bracket (or alone) empties the clipboard first:
  // the alpha block of the old picture must not travel with the new one.
  cb.SetPicture(Picture(0x01010101u));
  EXPECT_TRUE(cb.HasPicture());
  EXPECT_FALSE(cb.HasFormat("CFBitmap32Alpha"));

  // So does a data block set alone.
  cb.SetData("Other", {5});
  EXPECT_FALSE(cb.HasPicture());
  EXPECT_TRUE(cb.HasFormat("Other"));

  // Nested brackets count: the inner Close does not end the outer bracket.
  cb.Open();
  cb.SetPicture(Picture(0x02020202u));
  cb.Open();
  cb.Close();
  cb.SetData("A", {1});
  cb.Close();
  EXPECT_TRUE(cb.HasPicture());
  EXPECT_TRUE(cb.HasFormat("A"));
  EXPECT_FALSE(cb.HasFormat("Other"));

  cb.Clear();
  EXPECT_FALSE(cb.HasPicture());
  EXPECT_FALSE(cb.HasFormat("A"));
  cb.Close();  // an unpaired Close is harmless
}

TEST(MemoryClipboard, PicturesAreCopiesInThirtyTwoBits) {
  TMemoryClipboard cb;
  TPlatformBitmap src = Picture(0x00AABBCCu);
  src.SetPixelFormat(TPixelFormat::pf24bit);
  cb.SetPicture(src);
  src.Bits()[0] = 0;  // changing the source afterwards does not reach the clipboard
  std::unique_ptr<TPlatformBitmap> got = cb.GetPicture();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->PixelFormat(), TPixelFormat::pf32bit);
  ASSERT_EQ(got->Width(), 2);
  EXPECT_EQ(got->Bits()[0], 0xFFAABBCCu);
  got->Bits()[1] = 0;
  EXPECT_EQ(cb.GetPicture()->Bits()[1], 0xFFAABBCDu);
}

namespace {

class TCountingClipboard : public TMemoryClipboard {
 public:
  explicit TCountingClipboard(int* Opens) : opens_(Opens) {}
  void Open() override {
    ++*opens_;
    TMemoryClipboard::Open();
  }

 private:
  int* opens_;
};

}  // namespace

TEST(ProcessClipboard, DefaultsToMemoryAndTakesAnInstalledOne) {
  SetClipboard(nullptr);
  Clipboard().SetData("x", {1});
  EXPECT_TRUE(Clipboard().HasFormat("x"));
  int opens = 0;
  SetClipboard(std::make_unique<TCountingClipboard>(&opens));
  EXPECT_FALSE(Clipboard().HasFormat("x"));
  Clipboard().SetPicture(Picture(0xFF000000u));
  EXPECT_GE(opens, 1);
  EXPECT_TRUE(Clipboard().HasPicture());
  SetClipboard(nullptr);  // back to a fresh in-memory clipboard
  EXPECT_FALSE(Clipboard().HasPicture());
}
