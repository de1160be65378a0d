// Flips, quarter turns and rotation by an angle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "effects_fixtures.h"
#include "img_rotate.h"
#include "raster_filterindex.h"
#include "raster_resamplers.h"
#include "raster_transforms.h"
#include "transform_reference.h"

namespace {

// A W x H image whose pixels are numbered 1, 2, ... row by row.
std::unique_ptr<TBitmap32> Numbered(int32_t W, int32_t H) {
  auto B = MakeBitmap(W, H);
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] = static_cast<TColor32>(i + 1);
  return B;
}

void ExpectImage(const TBitmap32& B, int32_t W, int32_t H, const std::vector<TColor32>& Expected) {
  ASSERT_EQ(B.Width(), W);
  ASSERT_EQ(B.Height(), H);
  EXPECT_EQ(Pixels(B), Expected);
}

TEST(FlipsAndQuarterTurns, KnownAnswersOnAsymmetricImages) {
  // 1 2 3
  // 4 5 6
  struct TCase {
    void (*Op)(TBitmap32*);
    int32_t W, H;
    std::vector<TColor32> Expected;
  };
  const TCase Cases[] = {
      {[](TBitmap32* B) { FlipVertical(B); }, 3, 2, {4, 5, 6, 1, 2, 3}},
      {[](TBitmap32* B) { MirrorHorizontal(B); }, 3, 2, {3, 2, 1, 6, 5, 4}},
      // Clockwise: the top row is (old (0, 1), old (0, 0)).
      {[](TBitmap32* B) { RotateQuarterTurns(B, 1); }, 2, 3, {4, 1, 5, 2, 6, 3}},
      {[](TBitmap32* B) { RotateQuarterTurns(B, 2); }, 3, 2, {6, 5, 4, 3, 2, 1}},
      {[](TBitmap32* B) { RotateQuarterTurns(B, 3); }, 2, 3, {3, 6, 2, 5, 1, 4}},
  };
  for (const TCase& C : Cases) {
    auto B = Numbered(3, 2);
    C.Op(B.get());
    ExpectImage(*B, C.W, C.H, C.Expected);
  }
  auto Odd = Numbered(3, 3);
  FlipVertical(Odd.get());
  ExpectImage(*Odd, 3, 3, {7, 8, 9, 4, 5, 6, 1, 2, 3});  // the middle row stays
  auto R = RandomBitmap(7, 4, 21);
  const auto Before = Pixels(*R);
  for (int32_t Mode : {2, 2, 1, 3, 0, 4, -1}) RotateQuarterTurns(R.get(), Mode);
  ExpectImage(*R, 7, 4, Before);  // round trips; other modes must not empty the image
}

// Pictures of several tiles with odd sides: every pixel lands where the
// plain per-pixel turn puts it, and the shape notifications are sent once.
TEST(FlipsAndQuarterTurns, LargePicturesMatchThePlainTurn) {
  const int32_t W = 131, H = 67;
  auto Src = RandomBitmap(W, H, 5);
  for (int32_t Mode : {1, 2, 3}) {
    TBitmap32 B;
    B.Assign(Src.get());
    int32_t Resizes = 0;
    B.OnResize = [&](void*) { ++Resizes; };
    RotateQuarterTurns(&B, Mode);
    ASSERT_EQ(B.Width(), Mode == 2 ? W : H);
    EXPECT_EQ(Resizes, Mode == 2 ? 0 : 1) << Mode;
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        const int32_t Px = Mode == 1 ? H - 1 - y : Mode == 2 ? W - 1 - x : y;
        const int32_t Py = Mode == 1 ? x : Mode == 2 ? H - 1 - y : W - 1 - x;
        ASSERT_EQ(B.GetPixel(Px, Py), Src->GetPixel(x, y)) << Mode << " at " << x << "," << y;
      }
  }
}

TEST(RotateByAngle, ZeroDegreesKeepsEveryPixelAlsoForOddSizes) {
  for (auto [W, H] : {std::pair{7, 5}, std::pair{8, 6}, std::pair{5, 9}, std::pair{1, 1}}) {
    auto B = RandomBitmap(W, H, 70 + W);
    for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] |= 0xFF000000u;
    const auto Before = Pixels(*B);
    RotateByAngle(B.get(), 0);
    ExpectImage(*B, W, H, Before);
    RotateByAngle(B.get(), std::numeric_limits<float>::quiet_NaN());
    ExpectImage(*B, W, H, Before);  // no angle, no change
  }
}

// The largest per-channel difference between two pixels.
int32_t Distance(TColor32 A, TColor32 B) {
  int32_t D = 0;
  for (int S = 0; S < 32; S += 8) D = std::max(D, std::abs(int32_t((A >> S) & 0xFF) - int32_t((B >> S) & 0xFF)));
  return D;
}

TEST(RotateByAngle, RightAnglesMatchTheQuarterTurns) {
  // A smooth opaque picture: the cubic resampler reproduces it at whole positions.
  auto Smooth = [](int32_t W, int32_t H) {
    auto B = MakeBitmap(W, H);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) B->SetPixel(x, y, MakeArgb(x * 255 / (W - 1), y * 255 / (H - 1), (x + y) % 256));
    return B;
  };
  for (auto [Degrees, Mode] : {std::pair{90.0f, 1}, std::pair{180.0f, 2}, std::pair{270.0f, 3}}) {
    auto A = Smooth(200, 100);
    auto Q = Smooth(200, 100);
    RotateByAngle(A.get(), Degrees);
    RotateQuarterTurns(Q.get(), Mode);
    // Within a pixel of the exact size where the float products fall short.
    ASSERT_LE(std::abs(A->Width() - Q->Width()), 1);
    ASSERT_LE(std::abs(A->Height() - Q->Height()), 1);
    // Every pixel, the edges included: the turn must not shift the picture.
    int32_t Worst = 0;
    for (int32_t y = 0; y < std::min(A->Height(), Q->Height()); ++y)
      for (int32_t x = 0; x < std::min(A->Width(), Q->Width()); ++x)
        Worst = std::max(Worst, Distance(A->GetPixel(x, y), Q->GetPixel(x, y)));
    EXPECT_LE(Worst, 2) << Degrees << " degrees";
  }
}

TEST(RotateByAngle, PositiveAnglesTurnClockwise) {
  auto B = MakeBitmap(60, 40, 0xFF336699u);
  RotateByAngle(B.get(), 30);
  EXPECT_EQ(B->Width(), 71);  // trunc(60 cos 30 + 40 sin 30) = trunc(71.96)
  EXPECT_EQ(B->Height(), 64);
  EXPECT_EQ(B->GetPixel(0, 0), 0u) << "corners outside the turned image are transparent black";
  // Clockwise, the old top-left corner becomes the top vertex, left of the middle.
  int32_t FirstOpaque = -1;
  for (int32_t x = 0; x < B->Width() && FirstOpaque < 0; ++x)
    if (AlphaOf(B->GetPixel(x, 1)) > 128) FirstOpaque = x;
  EXPECT_LT(FirstOpaque, B->Width() / 2);
}

// The rotation drawn the plain way, as it always was: the picture on a square
// canvas, the whole canvas through the transformer one sample per pixel, then
// the middle cut out. RotateByAngle reads the picture without the canvas, only
// over the rows' spans that can reach it, and must come out the same.
std::vector<TColor32> PlainRotation(const TBitmap32& Src, float Degrees, int32_t& NewW, int32_t& NewH) {
  const int32_t W = Src.Width(), H = Src.Height();
  const long double A = -static_cast<long double>(Degrees) * std::acos(-1.0L) / 180;
  NewW = std::max(1, static_cast<int32_t>(static_cast<float>(std::fabs(std::cos(A) * W) + std::fabs(std::sin(A) * H))));
  NewH = std::max(1, static_cast<int32_t>(static_cast<float>(std::fabs(std::sin(A) * W) + std::fabs(std::cos(A) * H))));
  const int32_t S = std::max(NewW, NewH);
  TBitmap32 T1, T2;
  T1.SetSize(S, S);
  T2.SetSize(S, S);
  const int32_t Px = (S - W) >> 1, Py = (S - H) >> 1, L = (S - NewW) >> 1, T = (S - NewH) >> 1;
  DrawRectAt(&T1, Px, Py, T1.BoundsRect(), const_cast<TBitmap32*>(&Src), Src.BoundsRect(), dmOpaque);
  TAffineTransformation M;
  M.SetSrcRect(TFloatRect{0, 0, static_cast<float>(S), static_cast<float>(S)});
  const float Cx = static_cast<float>(Px + (W - 1) / 2.0), Cy = static_cast<float>(Py + (H - 1) / 2.0);
  M.Rotate(Cx, Cy, -Degrees);
  M.Translate(static_cast<float>(L + (NewW - 1) / 2.0) - Cx, static_cast<float>(T + (NewH - 1) / 2.0) - Cy);
  SetStretchFilter(&T1, 7);
  PerPixelTransform(T2, T1, M);
  std::vector<TColor32> Out;
  for (int32_t y = 0; y < NewH; ++y)
    for (int32_t x = 0; x < NewW; ++x) Out.push_back(T2.GetPixel(L + x, T + y));
  return Out;
}

TEST(RotateByAngle, SameAsDrawingTheWholeCanvas) {
  for (auto [W, H] : {std::pair{40, 25}, std::pair{17, 33}, std::pair{64, 3}, std::pair{2, 2}}) {
    for (float Degrees : {30.0f, -12.5f, 45.0f, 90.0f, 133.3f, 181.0f, 359.0f, 1.0f}) {
      auto B = RandomBitmap(W, H, static_cast<uint32_t>(W * 1000 + Degrees));
      int32_t NewW = 0, NewH = 0;
      const auto Expected = PlainRotation(*B, Degrees, NewW, NewH);
      RotateByAngle(B.get(), Degrees);
      ASSERT_EQ(B->Width(), NewW);
      ASSERT_EQ(B->Height(), NewH);
      EXPECT_EQ(Pixels(*B), Expected) << W << "x" << H << " by " << Degrees;
    }
  }
}

// Digests of the rotation as it came out before it read the picture without a
// canvas, row by row and on several threads; the outputs must not move by a byte.
TEST(RotateByAngle, PinnedDigestsOfEarlierOutput) {
  struct TCase {
    int32_t W, H;
    float Degrees;
    uint64_t Digest;
  };
  const TCase Cases[] = {{301, 203, 30.0f, 14598222674348373793ull},
                         {203, 301, -7.5f, 4721567134052410748ull},
                         {128, 128, 45.0f, 7003351041879385203ull},
                         {257, 3, 200.0f, 18315339706863146977ull},
                         {2, 199, 91.0f, 7031486337361170925ull}};
  for (const TCase& C : Cases) {
    auto B = RandomBitmap(C.W, C.H, static_cast<uint32_t>(C.W * 7 + C.H));
    RotateByAngle(B.get(), C.Degrees);
    uint64_t D = 1469598103934665603ull;  // FNV-1a over the size and the pixels
    const auto Add = [&D](uint32_t V) {
      for (int i = 0; i < 4; ++i, V >>= 8) D = (D ^ (V & 255)) * 1099511628211ull;
    };
    Add(static_cast<uint32_t>(B->Width()));
    Add(static_cast<uint32_t>(B->Height()));
    for (TColor32 P : Pixels(*B)) Add(P);
    EXPECT_EQ(D, C.Digest) << C.W << "x" << C.H << " by " << C.Degrees;
  }
}

}  // namespace

// What a view of the bitmap hears while it turns: a new size (handle, whole
// change, resize), the drawn result and the closing change, in that order;
// on a turn that keeps the size, only the drawing and the closing change.
TEST(RotateByAngle, NotificationsOfTheNewSizeAndTheDrawnResult) {
  for (float Degrees : {30.0f, 0.0f}) {
    SCOPED_TRACE(Degrees);
    auto B = RandomBitmap(40, 25, 3);
    std::vector<std::string> Events;
    const auto Rect = [](const TRect& R) {
      return std::to_string(R.Left) + "," + std::to_string(R.Top) + "," + std::to_string(R.Right) + "," +
             std::to_string(R.Bottom);
    };
    B->OnHandleChanged = [&](void*) { Events.push_back("handle"); };
    B->OnChange = [&](void*) { Events.push_back("change"); };
    B->OnResize = [&](void*) { Events.push_back("resize"); };
    B->OnAreaChanged = [&](TBitmap32*, const TRect& R, uint32_t Info) {
      Events.push_back("area " + Rect(R) + (Info == AREAINFO_RECT ? " rect" : " other"));
    };
    RotateByAngle(B.get(), Degrees);
    const std::string Whole = "area 0,0," + std::to_string(B->Width()) + "," + std::to_string(B->Height()) + " rect";
    std::vector<std::string> Expected;
    if (Degrees != 0.0f) Expected = {"handle", Whole, "change", "resize"};
    for (const std::string& E : {Whole, std::string("change"), Whole, std::string("change")}) Expected.push_back(E);
    EXPECT_EQ(Events, Expected);
  }
}
