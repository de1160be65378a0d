// The clipboard with an alpha plane, over the in-memory clipboard: the
// round trip, pictures from other programs, blocks that do not fit, and an
// empty clipboard.
#include <gtest/gtest.h>

#include <vector>

#include "editor_test_util.h"
#include "img_clipboard.h"
#include "platform_clipboard.h"

namespace {

// The same picture with alpha 255 everywhere: what a picture without its
// block pastes as.
std::unique_ptr<TBitmap32> Opaque(const TBitmap32& B) {
  auto c = Copy(B);
  c->SetAllAlpha(255);
  return c;
}

}  // namespace

TEST(AlphaClipboard, RoundTripRestoresVariedAlphaExactly) {
  TMemoryClipboard board;
  auto pic = Pattern(23, 11, 3);
  pic->SetPixel(0, 0, 0x00000000u);
  pic->SetPixel(1, 0, 0x00FFFFFFu);
  pic->SetPixel(2, 0, 0xFF000000u);
  ASSERT_TRUE(CopyBitmapWithAlpha(board, pic.get()));
  EXPECT_TRUE(board.HasPicture());
  ASSERT_TRUE(board.HasFormat("CFBitmap32Alpha"));
  EXPECT_EQ(board.GetData("CFBitmap32Alpha").size(), 23u * 11u);

  TBitmap32 back;
  ASSERT_TRUE(PasteBitmapWithAlpha(board, &back));
  EXPECT_TRUE(back.Equal(pic.get()));
}

TEST(AlphaClipboard, PictureWithoutBlockPastesWithTheAssignedAlpha) {
  TMemoryClipboard board;
  auto pic = Pattern(7, 5, 4);
  pic->AssignTo(board);  // another program's copy: a picture only
  TBitmap32 back;
  EXPECT_TRUE(PasteBitmapWithAlpha(board, &back));
  EXPECT_TRUE(back.Equal(Opaque(*pic).get()));
}

TEST(AlphaClipboard, BlocksThatDoNotFitThePicture) {
  TMemoryClipboard board;
  auto pic = Pattern(6, 4, 5);

  // Shorter than width x height (made for another picture): left unread.
  board.Open();
  pic->AssignTo(board);
  board.SetData(AlphaClipboardFormat(), std::vector<uint8_t>(6 * 4 - 1, 0x10));
  board.Close();
  TBitmap32 back;
  EXPECT_FALSE(PasteBitmapWithAlpha(board, &back));
  EXPECT_TRUE(back.Equal(Opaque(*pic).get()));

  // Longer (the platform may round blocks up): read as far as the picture goes.
  std::vector<uint8_t> longer(6 * 4 + 64, 0xEE);
  for (size_t i = 0; i < 24; ++i) longer[i] = static_cast<uint8_t>(i * 10);
  board.Open();
  pic->AssignTo(board);
  board.SetData(AlphaClipboardFormat(), longer);
  board.Close();
  EXPECT_TRUE(PasteBitmapWithAlpha(board, &back));
  EXPECT_EQ(back.GetPixel(0, 0) >> 24, 0u);
  EXPECT_EQ(back.GetPixel(5, 3) >> 24, 230u);
  EXPECT_EQ(back.GetPixel(5, 3) & 0xFFFFFFu, pic->GetPixel(5, 3) & 0xFFFFFFu);

  // An empty block: nothing to read for a non-empty picture.
  board.Open();
  pic->AssignTo(board);
  board.SetData(AlphaClipboardFormat(), {});
  board.Close();
  EXPECT_FALSE(PasteBitmapWithAlpha(board, &back));
}

TEST(AlphaClipboard, EmptyClipboardEmptiesTheBitmap) {
  TMemoryClipboard board;
  auto back = Pattern(3, 3, 1);
  EXPECT_FALSE(PasteBitmapWithAlpha(board, back.get()));
  EXPECT_TRUE(back->Empty());
}
