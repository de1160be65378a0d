// Lookup-table adjustments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "effects_fixtures.h"
#include "img_lut.h"
#include "raster_blend.h"

namespace {

TEST(ApplyLut3, IdentityAndLevels) {
  const TLut Id = IdentityLut();
  auto B = RandomBitmap(9, 7, 3);
  const auto Before = Pixels(*B);
  ApplyLut3(B.get(), Id.data(), Id.data(), Id.data(), 255);
  EXPECT_EQ(Pixels(*B), Before) << "identity keeps everything, alpha included";
  ApplyLut3(B.get(), Id.data(), Id.data(), Id.data(), 0);
  EXPECT_EQ(Pixels(*B), Before) << "level 0 changes nothing";
  // Each table reaches only its own channel.
  TLut R{}, G{}, Bl{};
  for (int i = 0; i < 256; ++i) {
    R[i] = static_cast<uint8_t>(255 - i);
    G[i] = static_cast<uint8_t>(i / 2);
    Bl[i] = 7;
  }
  ApplyLut3(B.get(), R.data(), G.data(), Bl.data(), 255);
  for (size_t i = 0; i < Before.size(); ++i) {
    const TColor32 P = Before[i];
    EXPECT_EQ(B->Bits()[i], (P & 0xFF000000u) | (TColor32(255 - ((P >> 16) & 0xFF)) << 16) |
                                (TColor32(((P >> 8) & 0xFF) / 2) << 8) | 7u);
  }
  // Other levels: BlendPixel of the table colour with the level as alpha.
  auto C = RandomBitmap(5, 5, 4);
  const auto CB = Pixels(*C);
  ApplyLut3(C.get(), R.data(), G.data(), Bl.data(), 90);
  for (size_t i = 0; i < CB.size(); ++i) {
    const TColor32 P = CB[i];
    const TColor32 F = (90u << 24) | (TColor32(R[(P >> 16) & 0xFF]) << 16) | (TColor32(G[(P >> 8) & 0xFF]) << 8) |
                       Bl[P & 0xFF];
    EXPECT_EQ(C->Bits()[i], BlendPixel(F, P));
  }
  ApplyLut3(C.get(), nullptr, G.data(), Bl.data(), 255);
  ApplyLut3(nullptr, R.data(), G.data(), Bl.data(), 255);
}

TEST(LutBuilders, KnownEntries) {
  // i * (Contrast + 100) is formed as an integer first: 100 * 29 / 100 = 29, not 28.
  EXPECT_EQ(BrightnessContrastLut(0, -71)[100], 29);
  EXPECT_EQ(BrightnessContrastLut(5, 0)[10], 15);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(BrightnessContrastLut(77, -100)[i], 77);
  // Gamma: entry 0 is 0 and 255 is 255 for any positive gamma; at gamma 1 odd
  // values below 255 rise by one (the + 0.5 before rounding to even).
  for (double G : {0.3, 0.6666, 1.0, 1.5, 4.0}) {
    EXPECT_EQ(GammaLut(G)[0], 0) << G;
    EXPECT_EQ(GammaLut(G)[255], 255) << G;
  }
  const TLut G1 = GammaLut(1.0);
  for (int i = 0; i < 255; ++i) EXPECT_EQ(G1[i], i % 2 ? i + 1 : i) << i;
  // Sine contrast follows its formula: entry 0 is 1, 127 stays 128, 255 is 255.
  const TLut S = SineContrastLut(1);
  EXPECT_EQ(S[0], 1);
  EXPECT_EQ(S[127], 128);
  EXPECT_EQ(S[255], 255);
  const TLut Sm = SineContrastLut(-1);
  EXPECT_EQ(Sm[0], 255);
  EXPECT_EQ(Sm[255], 1);
  // Scale brightness with 8: both ends stay; the middle moves by round(i/255*8).
  const TLut SB = ScaleBrightnessLut(8);
  EXPECT_EQ(SB[0], 0);
  EXPECT_EQ(SB[255], 255);
  EXPECT_EQ(SB[128], 132);  // 128/255*8 = 4.0157
  EXPECT_EQ(ScaleBrightnessLut(-8)[0], 0);  // 0 + round(-8)
  EXPECT_EQ(ScaleBrightnessLut(-8)[255], 255);
  // Clip levels with Lo >= Hi: LoValue up to Lo, HiValue above it.
  const TLut CL = ClipLevelsLut(200, 10, 100, 250);
  EXPECT_EQ(CL[200], 10);
  EXPECT_EQ(CL[201], 250);
  const TLut CL2 = ClipLevelsLut(-5, 300, 999, -1);  // arguments clamped to 0..255
  EXPECT_EQ(CL2[0], 255);
  EXPECT_EQ(CL2[1], 1);
  EXPECT_EQ(CL2[255], 255);
  EXPECT_EQ(OffsetLut(-300)[255], 0);
  EXPECT_EQ(OffsetLut(std::numeric_limits<int32_t>::max())[255], 255);
}

TEST(LutAdjustments, TintScaleAndHostileValues) {
  // The gain 155/255 is a float; 204 times it in double is 124.0000..., kept by trunc.
  auto B = MakeBitmap(1, 1, 0x80CC4020u);
  TintColors(B.get(), 0xFF9BFFFFu, 255);
  EXPECT_EQ(B->GetPixel(0, 0), 0x807C4020u);
  auto W = RandomBitmap(6, 6, 2);
  const auto WB = Pixels(*W);
  TintColors(W.get(), 0xFFFFFFFFu, 255);
  EXPECT_EQ(Pixels(*W), WB) << "white tint is gain 1";
  TintColors(W.get(), 0xFF000000u, 255);
  for (size_t i = 0; i < WB.size(); ++i) EXPECT_EQ(W->Bits()[i], WB[i] & 0xFF000000u);
  // NaN and huge gains, huge brightness and contrast give defined bytes.
  auto H = MakeBitmap(1, 1, 0xFF808080u);
  ScaleChannels(H.get(), std::numeric_limits<float>::quiet_NaN(), 1e30f, -1e30f, 255);
  EXPECT_EQ(H->GetPixel(0, 0), 0xFF00FF00u);
  BrightnessContrast(H.get(), std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), true, true,
                     true, 255);
  EXPECT_EQ(H->GetPixel(0, 0), 0xFFFFFFFFu);
  BrightnessContrast(H.get(), 0, std::numeric_limits<int32_t>::min(), true, false, true, 255);
  EXPECT_EQ(H->GetPixel(0, 0), 0xFF00FF00u);
}

TEST(LutAdjustments, DoNothingCases) {
  auto B = RandomBitmap(4, 4, 6);
  const auto Before = Pixels(*B);
  ScaleBrightness(B.get(), 255, 255);
  ScaleBrightness(B.get(), -255, 255);
  GammaCorrect(B.get(), 255, 0.0);
  GammaCorrect(B.get(), 255, -2.0);
  GammaCorrect(B.get(), 255, std::nan(""));
  BrightnessContrast(B.get(), 0, 0, true, true, true, 255);
  OffsetChannels(B.get(), 0, 0, 0, 255);
  EXPECT_EQ(Pixels(*B), Before);
  AddBrightness(B.get(), 40, 0);
  EXPECT_EQ(Pixels(*B), Before);
}

TEST(LutAdjustments, PreviewFormsCopyThenAdjust) {
  auto Src = RandomBitmap(5, 3, 8);
  Src->SetMasterAlpha(99);
  const auto Before = Pixels(*Src);
  auto Dst = MakeBitmap(1, 1);
  OffsetChannelsCopy(Dst.get(), Src.get(), 10, 0, -10, 255);
  EXPECT_EQ(Pixels(*Src), Before) << "Src untouched";
  ASSERT_EQ(Dst->Width(), 5);
  EXPECT_EQ(Dst->MasterAlpha(), 99u);
  const TLut Up = OffsetLut(10), Down = OffsetLut(-10), Id = IdentityLut();
  auto Expected = MakeBitmap(5, 3);
  std::copy(Before.begin(), Before.end(), Expected->Bits());
  ApplyLut3(Expected.get(), Up.data(), Id.data(), Down.data(), 255);
  EXPECT_EQ(Pixels(*Dst), Pixels(*Expected));
  GammaCorrectCopy(Dst.get(), Src.get(), 255, 1.0);
  BrightnessContrastCopy(Dst.get(), Src.get(), 0, 0, true, true, true, 255);
  EXPECT_EQ(Pixels(*Dst), Before);
  // Same object: adjusts in place.
  BrightnessContrastCopy(Src.get(), Src.get(), 255, 0, true, true, true, 255);
  for (TColor32 P : Pixels(*Src)) EXPECT_EQ(P & 0xFFFFFF, 0xFFFFFFu);
}

}  // namespace

// Whole tables against exact integer models, with entries that are not integer
// quotients (so truncation, rounding and dividing first all differ somewhere).
TEST(LutBuilders, TablesMatchExactIntegerModels) {
  auto clampByte = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, 255)); };
  for (int32_t contrast : {-300, -150, -99, -71, -50, -1, 1, 33, 155})
    for (int32_t brightness : {-7, 0, 3}) {
      const TLut L = BrightnessContrastLut(brightness, contrast);
      for (int i = 0; i < 256; ++i) {
        // i * (C + 100) / 100 + B truncated toward zero, as one integer quotient.
        const int64_t n = int64_t{i} * (contrast + 100) + 100 * int64_t{brightness};
        ASSERT_EQ(L[i], clampByte(n / 100)) << "brightness " << brightness << " contrast " << contrast << " i " << i;
      }
    }
  // Scale brightness moves i by round(i / 255 * A), or by round((255 - i) / 255 * A)
  // when darkening; 255 being odd, no entry is a tie.
  for (int32_t amount : {1, 8, 77, 200, -1, -8, -130}) {
    const TLut L = ScaleBrightnessLut(amount);
    for (int i = 0; i < 256; ++i) {
      const int64_t num = amount >= 0 ? int64_t{i} * amount : int64_t{255 - i} * -amount;
      const int64_t moved = (2 * num + 255) / 510;
      ASSERT_EQ(L[i], clampByte(amount >= 0 ? i + moved : i - moved)) << "amount " << amount << " i " << i;
    }
  }
}
