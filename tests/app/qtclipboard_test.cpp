// The desktop clipboard behind the engine's clipboard interface, on the
// offscreen platform: the alpha plane's round trip, pictures that other
// programs put there, blocks that do not fit, and brackets.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <memory>

#include "../editor/editor_test_util.h"
#include "img_clipboard.h"
#include "qt_clipboard.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "qtclipboard_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QGuiApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QGuiApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const gQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QClipboard* Desktop() { return QGuiApplication::clipboard(); }

QImage Argb(int W, int H) {
  QImage image(W, H, QImage::Format_ARGB32);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) image.setPixel(x, y, qRgba(x * 20, y * 30, (x + y) * 7, (x * 37 + y) & 0xFF));
  return image;
}

}  // namespace

TEST(QtClipboard, AlphaPlaneRoundTripsThroughTheDesktop) {
  Desktop()->clear();
  auto pic = Pattern(19, 13, 7);
  pic->SetPixel(0, 0, 0x00123456u);
  TQtClipboard board;
  ASSERT_TRUE(CopyBitmapWithAlpha(board, pic.get()));

  const QMimeData* m = Desktop()->mimeData();
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->hasImage());
  ASSERT_TRUE(m->hasFormat("application/x-cfbitmap32alpha"));
  EXPECT_EQ(m->data("application/x-cfbitmap32alpha").size(), 19 * 13);
  // Other programs see an ordinary opaque picture with the same colours.
  const QImage shown = qvariant_cast<QImage>(m->imageData()).convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(shown.size(), QSize(19, 13));
  EXPECT_EQ(shown.pixel(0, 0), 0xFF123456u);
  EXPECT_EQ(shown.pixel(18, 12), 0xFF000000u | (pic->GetPixel(18, 12) & 0xFFFFFFu));

  // A second clipboard object (as a later paste would use) reads it all back.
  TQtClipboard reader;
  TBitmap32 back;
  ASSERT_TRUE(PasteBitmapWithAlpha(reader, &back));
  EXPECT_TRUE(back.Equal(pic.get()));
}

TEST(QtClipboard, PictureFromAnotherProgramPastesOpaque) {
  Desktop()->setImage(Argb(6, 4));
  TQtClipboard board;
  EXPECT_TRUE(board.HasPicture());
  EXPECT_FALSE(board.HasFormat(AlphaClipboardFormat()));
  TBitmap32 back;
  ASSERT_TRUE(PasteBitmapWithAlpha(board, &back));
  ASSERT_EQ(back.Width(), 6);
  ASSERT_EQ(back.Height(), 4);
  const QImage src = Argb(6, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(back.GetPixel(x, y), src.pixel(x, y) | 0xFF000000u) << x << "," << y;
}

TEST(QtClipboard, ShortBlockIsIgnoredAndEmptyClipboardEmptiesTheBitmap) {
  auto* m = new QMimeData;
  m->setImageData(Argb(5, 5));
  m->setData(TQtClipboard::MimeType(AlphaClipboardFormat()), QByteArray(24, '\x40'));
  Desktop()->setMimeData(m);
  TQtClipboard board;
  TBitmap32 back;
  EXPECT_FALSE(PasteBitmapWithAlpha(board, &back));
  EXPECT_EQ(back.Width(), 5);
  EXPECT_EQ(back.GetPixel(4, 4) >> 24, 255u);

  Desktop()->clear();
  EXPECT_FALSE(PasteBitmapWithAlpha(board, &back));
  EXPECT_TRUE(back.Empty());
}

TEST(QtClipboard, BracketsPublishTogetherAndReplaceWhatWasThere) {
  EXPECT_EQ(TQtClipboard::MimeType("CFBitmap32Alpha"), "application/x-cfbitmap32alpha");
  EXPECT_EQ(TQtClipboard::MimeType("GIF Image"), "application/x-gif-image");

  TQtClipboard board;
  auto pic = Pattern(3, 3, 1);
  ASSERT_TRUE(CopyBitmapWithAlpha(board, pic.get()));
  // A block set on its own, in a bracket of its own, replaces picture and block.
  board.SetData("Other", {1, 2, 3});
  EXPECT_FALSE(board.HasPicture());
  EXPECT_FALSE(board.HasFormat(AlphaClipboardFormat()));
  EXPECT_EQ(board.GetData("Other"), (std::vector<uint8_t>{1, 2, 3}));

  // Inside an open bracket nothing reaches the desktop until it closes.
  board.Open();
  pic->AssignTo(board);
  board.SetData("Other", {9});
  EXPECT_TRUE(board.HasPicture());
  EXPECT_FALSE(Desktop()->mimeData()->hasImage());
  board.Close();
  EXPECT_TRUE(Desktop()->mimeData()->hasImage());
  EXPECT_EQ(board.GetData("Other"), (std::vector<uint8_t>{9}));

  board.Clear();
  EXPECT_FALSE(board.HasPicture());
  board.Close();  // unpaired: harmless
}
