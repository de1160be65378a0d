// Channel filters and the bit-mask operation.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform_exceptions.h"
#include "raster_filters.h"

namespace {

std::unique_ptr<TBitmap32> Filled(int32_t W, int32_t H, TColor32 C) {
  auto B = std::make_unique<TBitmap32>();
  B->SetSize(W, H);
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] = C;
  return B;
}

TEST(ChannelFilters, InvertCopyingAndInPlace) {
  auto Src = Filled(3, 2, 0x80102030u);
  auto Dst = Filled(1, 1, 0);
  InvertRGB(Dst.get(), Src.get());
  ASSERT_EQ(Dst->Width(), 3);
  ASSERT_EQ(Dst->Height(), 2);
  for (size_t i = 0; i < Dst->PixelCount(); ++i) EXPECT_EQ(Dst->Bits()[i], 0x80EFDFCFu);
  EXPECT_EQ(Src->GetPixel(0, 0), 0x80102030u);
  InvertChannels(Src.get(), Src.get(), ccAlpha | ccGreen);
  for (size_t i = 0; i < Src->PixelCount(); ++i) EXPECT_EQ(Src->Bits()[i], 0x7F10DF30u);
  // An empty set changes nothing, not even the destination's size.
  auto Other = Filled(5, 5, 0x11223344u);
  InvertChannels(Other.get(), Src.get(), 0);
  EXPECT_EQ(Other->Width(), 5);
  EXPECT_EQ(Other->GetPixel(4, 4), 0x11223344u);
  EXPECT_EQ(ChannelMask(ccRed | ccBlue), 0x00FF00FFu);
}

TEST(ChannelFilters, AlphaAndIntensity) {
  auto Src = Filled(2, 2, 0x40123456u);
  auto Dst = Filled(7, 7, 0);
  AlphaToGray(Dst.get(), Src.get());
  ASSERT_EQ(Dst->Width(), 2);
  EXPECT_EQ(Dst->GetPixel(1, 1), 0xFF404040u);
  // Same size: the destination keeps its colours and takes the intensity as alpha.
  auto White = Filled(2, 2, 0xFFFFFFFFu);
  auto Target = Filled(2, 2, 0x00ABCDEFu);
  IntensityToAlpha(Target.get(), White.get());
  EXPECT_EQ(Target->GetPixel(0, 1), 0xFFABCDEFu);
  auto Green = Filled(2, 2, 0xFF00FF00u);
  IntensityToAlpha(Target.get(), Green.get());
  EXPECT_EQ(Target->GetPixel(1, 0), 0xADABCDEFu);  // 255 * 174 shr 8 = 173
}

TEST(ApplyLogicalMask, ClipsAndReportsTheArea) {
  auto Src = Filled(4, 4, 0x000000F0u);
  Src->SetPixel(0, 0, 0x000000FFu);
  auto Dst = Filled(5, 5, 0xEEEEEEEEu);
  std::vector<TRect> Areas;
  Dst->OnAreaChanged = [&](TBitmap32*, const TRect& R, uint32_t Info) {
    Areas.push_back(R);
    EXPECT_EQ(Info, AREAINFO_RECT);
  };
  // Source rectangle partly outside its bitmap, destination partly outside Dst.
  ApplyLogicalMask(Dst.get(), 3, 2, Src.get(), TRect{-1, 0, 3, 2}, 0x0000000Fu, loOR);
  ASSERT_EQ(Areas.size(), 1u);
  EXPECT_EQ(Areas[0].Left, 3);
  EXPECT_EQ(Areas[0].Top, 2);
  EXPECT_EQ(Areas[0].Right, 5);
  EXPECT_EQ(Areas[0].Bottom, 4);
  EXPECT_EQ(Dst->GetPixel(3, 2), 0x000000FFu);  // source (0, 0) OR 0x0F
  EXPECT_EQ(Dst->GetPixel(4, 3), 0x000000FFu);  // 0xF0 OR 0x0F
  EXPECT_EQ(Dst->GetPixel(2, 2), 0xEEEEEEEEu);
  EXPECT_EQ(Dst->GetPixel(3, 4), 0xEEEEEEEEu);
  // In place with AND over a rectangle that needs clipping; the clip rectangle limits it too.
  Dst->SetClipRect(TRect{0, 0, 5, 1});
  ApplyLogicalMask(Dst.get(), TRect{-10, -10, 2, 100}, 0x0F0F0F0Fu, loAND);
  EXPECT_EQ(Dst->GetPixel(1, 0), 0x0E0E0E0Eu);
  EXPECT_EQ(Dst->GetPixel(1, 1), 0xEEEEEEEEu);
  EXPECT_EQ(Dst->GetPixel(2, 0), 0xEEEEEEEEu);
  // A source rectangle that misses the source does nothing and reports nothing.
  Areas.clear();
  ApplyLogicalMask(Dst.get(), 0, 0, Src.get(), TRect{10, 10, 12, 12}, 0xFFFFFFFFu, loXOR);
  EXPECT_TRUE(Areas.empty());
}

TEST(ApplyLogicalMask, NullArgumentsRaiseTheirMessages) {
  auto B = Filled(2, 2, 0);
  auto Message = [](auto F) {
    try {
      F();
    } catch (const Exception& E) {
      return E.Message();
    }
    return std::string("no exception");
  };
  EXPECT_EQ(Message([&] { AlphaToGray(B.get(), nullptr); }), "The source is nil");
  EXPECT_EQ(Message([&] { AlphaToGray(nullptr, B.get()); }), "Destination is nil");
  EXPECT_EQ(Message([&] { ApplyLogicalMask(nullptr, TRect{0, 0, 1, 1}, 0, loXOR); }), "The bitmap is nil");
  EXPECT_EQ(Message([&] { InvertRGB(nullptr, nullptr); }), "The source is nil");
}

}  // namespace
