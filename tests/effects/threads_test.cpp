// Every routine that splits its rows across threads gives the same bytes on
// one thread and on many, on random pictures of many shapes (one pixel wide
// and one pixel high among them). The threaded-code sanitizer step of the CI
// runs this program alone.
#include <gtest/gtest.h>
#include <sched.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "effects_fixtures.h"
#include "img_comp.h"
#include "img_conv.h"
#include "img_effects.h"
#include "img_frac.h"
#include "img_lut.h"
#include "img_rank.h"
#include "img_rotate.h"
#include "img_sort.h"
#include "raster_filterindex.h"
#include "raster_parallel.h"
#include "raster_resamplers.h"
#include "raster_transforms.h"
#include "tif_image.h"

namespace {

// Shapes on both sides of every band and grain size the routines use.
const std::pair<int32_t, int32_t> Shapes[] = {{1, 1}, {1, 97}, {97, 1}, {2, 300}, {300, 2}, {61, 45}, {257, 131}, {640, 300}};

// Runs Op on a copy of a random picture with one thread and with eight, and
// compares the pictures.
void ExpectSameBytes(const std::string& Name, const std::function<void(TBitmap32&)>& Op, uint32_t Seed = 1) {
  for (auto [W, H] : Shapes) {
    auto One = RandomBitmap(W, H, Seed + static_cast<uint32_t>(W * 31 + H));
    TBitmap32 Many;
    Many.Assign(One.get());
    {
      TThreadLimit Limit(1);
      Op(*One);
    }
    {
      TThreadLimit Limit(8);
      Op(Many);
    }
    ASSERT_EQ(One->Width(), Many.Width()) << Name;
    ASSERT_EQ(Pixels(*One), Pixels(Many)) << Name << " on " << W << "x" << H;
  }
}

TEST(Threads, ConvolutionAndRankFilters) {
  const int32_t K3[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1}, S3[9] = {-1, -2, -1, 0, 0, 0, 1, 2, 1};
  int32_t K5[25];
  for (int i = 0; i < 25; ++i) K5[i] = (i * 7) % 11 - 3;
  ExpectSameBytes("3x3", [&](TBitmap32& B) { Convolve3x3(K3, 16, &B, 0); });
  ExpectSameBytes("3x3 signed", [&](TBitmap32& B) { Convolve3x3(S3, 1, &B, 128); });
  ExpectSameBytes("5x5", [&](TBitmap32& B) { Convolve5x5(K5, 9, &B, 3); });
  ExpectSameBytes("5x5 masked", [&](TBitmap32& B) { Convolve5x5Masked(K5, 9, &B, 3, 5, 40); });
  for (int32_t Kind = 1; Kind <= 6; ++Kind)
    for (int32_t Radius : {1, 2})
      ExpectSameBytes("rank " + std::to_string(Kind) + " r" + std::to_string(Radius), [&](TBitmap32& B) {
        switch (Kind) {
          case 1: MinFilter(&B, Radius, 255); break;
          case 2: MaxFilter(&B, Radius, 200); break;
          case 3: MeanFilter(&B, Radius, 255); break;
          case 4: MedianFilter(&B, Radius, 255); break;
          case 5: VarianceFilter(&B, Radius, 255); break;
          default: DeviationFilter(&B, Radius, 128); break;
        }
      });
  ExpectSameBytes("kuwahara", [&](TBitmap32& B) { KuwaharaFilter(&B, 2, 255); });
  ExpectSameBytes("sobel", [&](TBitmap32& B) { SobelEdges(&B, &B, 0.4f); });
}

TEST(Threads, SortFractalAndDistortions) {
  for (int32_t Key : {1, 5})
    ExpectSameBytes("sort " + std::to_string(Key),
                    [&](TBitmap32& B) { SortPixels(B.Bits(), static_cast<int64_t>(B.PixelCount()), Key); });
  for (long double K : {0.0L, 2.0L})
    ExpectSameBytes("mandelbrot", [&](TBitmap32& B) { RenderMandelbrot(&B, K); });
  ExpectSameBytes("twirl", [](TBitmap32& B) { EffectTwirl(&B, &B, 5, 0.7f); });
  ExpectSameBytes("round", [](TBitmap32& B) { EffectRound(&B); });
  ExpectSameBytes("hole", [](TBitmap32& B) { EffectHoleInPlace(&B, 0xFF336699u, 0.8f); });
}

TEST(Threads, LookupTablesAndColourConversions) {
  const TLut L = GammaLut(0.6);
  ExpectSameBytes("lut", [&](TBitmap32& B) { ApplyLut(&B, L.data(), 255); });
  ExpectSameBytes("lut level", [&](TBitmap32& B) { ApplyLut(&B, L.data(), 77); });
  ExpectSameBytes("grey", [&](TBitmap32& B) { Greyscale(&B, 255); });
  ExpectSameBytes("grey level", [&](TBitmap32& B) { Greyscale(&B, 90); });
  ExpectSameBytes("hsl", [&](TBitmap32& B) { RgbToHslBytes(&B); });
  ExpectSameBytes("hsl back", [&](TBitmap32& B) { HslBytesToRgb(&B); });
  ExpectSameBytes("ycbcr", [&](TBitmap32& B) { RgbToYCbCr(&B); });
  ExpectSameBytes("ycbcr back", [&](TBitmap32& B) { YCbCrToRgb(&B); });
  ExpectSameBytes("hsl scale", [&](TBitmap32& B) {
    TBitmap32 Src;
    Src.Assign(&B);
    HslScale(&B, &Src, 120, 80, 90, true, true, false);
  });
}

TEST(Threads, ResizeThroughEveryFilterRotationAndTransform) {
  for (uint8_t Index = 0; Index <= 7; ++Index)
    for (auto [Fx, Fy] : {std::pair{3.3, 2.1}, std::pair{0.31, 0.45}, std::pair{1.7, 0.5}})
      for (TDrawMode Mode : {dmOpaque, dmBlend})
        ExpectSameBytes("filter " + std::to_string(Index) + (Mode == dmBlend ? " blend" : ""), [&](TBitmap32& B) {
          TBitmap32 Dst;
          Dst.SetSize(std::max(1, static_cast<int32_t>(B.Width() * Fx)), std::max(1, static_cast<int32_t>(B.Height() * Fy)));
          Dst.Clear(0x80402010u);
          auto R = MakeUnboundResampler(Index);
          DrawRectScaled(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &B, B.BoundsRect(), R.get(), Mode);
          B.Assign(&Dst);
        });
  ExpectSameBytes("rotate", [&](TBitmap32& B) { RotateByAngle(&B, 21.0f); });
  for (int32_t Mode : {1, 2, 3})
    ExpectSameBytes("quarter turns " + std::to_string(Mode), [&](TBitmap32& B) { RotateQuarterTurns(&B, Mode); });
  ExpectSameBytes("flip", [](TBitmap32& B) { FlipVertical(&B); });
  ExpectSameBytes("mirror", [](TBitmap32& B) { MirrorHorizontal(&B); });
  ExpectSameBytes("transform", [&](TBitmap32& B) {
    SetStretchFilter(&B, 5);
    TAffineTransformation M;
    M.SetSrcRect(TFloatRect{0, 0, static_cast<float>(B.Width()), static_cast<float>(B.Height())});
    M.Rotate(B.Width() / 2.0f, B.Height() / 2.0f, 33.3f);
    TBitmap32 Dst;
    Dst.SetSize(B.Width() + B.Height(), B.Width() + B.Height());
    TransformBitmap(&Dst, &B, &M);
    B.Assign(&Dst);
  });
}

// A tall picture splits into dozens of pieces on eight threads, so state
// shared between pieces (a row buffer, band edges, a pool of the wrong size)
// shows; each run on eight threads is repeated, after one on two threads has
// made the pool smaller.
TEST(Threads, TallPicturesInManyPiecesRepeated) {
  const int32_t K3[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  const std::pair<std::string, std::function<void(TBitmap32&)>> Ops[] = {
      {"3x3", [&](TBitmap32& B) { Convolve3x3(K3, 16, &B, 0); }},
      {"median", [](TBitmap32& B) { MedianFilter(&B, 1, 255); }},
      {"reduce", [](TBitmap32& B) {
         TBitmap32 Dst;
         Dst.SetSize(B.Width() * 2 / 3, B.Height() * 2 / 3);
         auto R = MakeUnboundResampler(5);
         DrawRectScaled(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &B, B.BoundsRect(), R.get(), dmOpaque);
         B.Assign(&Dst);
       }},
      {"rotate", [](TBitmap32& B) { RotateByAngle(&B, 21.0f); }},
      {"quarter", [](TBitmap32& B) { RotateQuarterTurns(&B, 1); }},
      {"flip", [](TBitmap32& B) { FlipVertical(&B); }},
  };
  const auto Source = RandomBitmap(256, 6000, 77);
  for (const auto& [Name, Op] : Ops) {
    TBitmap32 One;
    One.Assign(Source.get());
    {
      TThreadLimit Limit(1);
      Op(One);
    }
    for (int32_t Threads : {8, 2, 8}) {
      TBitmap32 Many;
      Many.Assign(Source.get());
      TThreadLimit Limit(Threads);
      Op(Many);
      ASSERT_EQ(Pixels(One), Pixels(Many)) << Name << " on " << Threads << " threads";
    }
  }
}

// The cap: VEMRA_THREADS is read when no cap is set, 0 goes back to it, and
// a cap holds for as long as its guard lives.
// Pictures large enough to be cleared by several threads start from zero as
// the small ones do, whatever the cap, including one whose size is no
// multiple of the pieces the threads take.
TEST(Threads, LargeBitmapsStartFromZeroOnAnyThreadCount) {
  for (int32_t Threads : {1, 3, 8}) {
    SCOPED_TRACE(Threads);
    TThreadLimit Limit(Threads);
    TBitmap32 b;
    for (auto [W, H] : {std::pair{700, 500}, std::pair{1031, 517}, std::pair{2048, 1024}, std::pair{1, 300001}}) {
      b.SetSize(W, H);
      const auto First = std::find_if(b.Bits(), b.Bits() + b.PixelCount(), [](TColor32 p) { return p != 0; });
      EXPECT_EQ(First - b.Bits(), static_cast<ptrdiff_t>(b.PixelCount())) << W << "x" << H;
      // The next size gets memory this picture dirtied, if the allocator hands it out again.
      std::fill(b.Bits(), b.Bits() + b.PixelCount(), 0xDEADBEEFu);
    }
  }
}

// The TIFF reader's byte-order pass over layouts libtiff puts itself (here
// 16-bit samples) runs on the threads: the same picture on one and on eight.
TEST(Threads, TiffByteOrderPass) {
  const std::string File = testing::TempDir() + "vemra_threads_16bit.tif";
  constexpr uint32_t W = 331, H = 251;
  TIFF* t = TIFFOpen(File.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, W);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, H);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 7);
  std::mt19937 Rng(5);
  std::vector<uint16_t> Row(3 * W);
  for (uint32_t y = 0; y < H; ++y) {
    for (uint16_t& V : Row) V = static_cast<uint16_t>(Rng());
    ASSERT_EQ(TIFFWriteScanline(t, Row.data(), y, 0), 1);
  }
  TIFFClose(t);
  std::vector<TColor32> One, Many;
  for (int32_t Threads : {1, 8}) {
    TThreadLimit Limit(Threads);
    TBitmap32 B;
    ASSERT_TRUE(ReadTiffIntoBitmap32(File, B));
    (Threads == 1 ? One : Many) = Pixels(B);
  }
  std::remove(File.c_str());
  ASSERT_EQ(One.size(), size_t{W} * H);
  EXPECT_EQ(One, Many);
}

TEST(Threads, TheCapFollowsTheSetting) {
  const int32_t Default = ThreadCount();
  EXPECT_GE(Default, 1);
  {
    TThreadLimit Limit(3);
    EXPECT_EQ(ThreadCount(), 3);
    int32_t Calls = 0;
    ParallelRows(0, 2, 100, [&](int32_t First, int32_t Last) {
      EXPECT_EQ(First, 0);
      EXPECT_EQ(Last, 2);
      ++Calls;
    });
    EXPECT_EQ(Calls, 1) << "fewer rows than a task holds stay on the calling thread";
  }
  EXPECT_EQ(ThreadCount(), Default);
  SetThreadCount(3);
  SetThreadCount(0);
  EXPECT_EQ(ThreadCount(), Default);
  // Every row of a tall range exactly once; a lowered cap is what runs.
  for (int32_t Cap : {8, 2}) {
    TThreadLimit Limit(Cap);
    std::vector<std::atomic<int>> Seen(6000);
    std::mutex Lock;
    std::vector<std::thread::id> Ids;
    ParallelRows(0, 6000, 1, [&](int32_t First, int32_t Last) {
      for (int32_t y = First; y < Last; ++y) ++Seen[static_cast<size_t>(y)];
      std::this_thread::sleep_for(std::chrono::microseconds(50));
      std::lock_guard<std::mutex> Guard(Lock);
      if (std::find(Ids.begin(), Ids.end(), std::this_thread::get_id()) == Ids.end())
        Ids.push_back(std::this_thread::get_id());
    });
    for (size_t y = 0; y < Seen.size(); ++y) ASSERT_EQ(Seen[y].load(), 1) << "row " << y << " cap " << Cap;
    EXPECT_LE(Ids.size(), static_cast<size_t>(Cap));
  }
}

// Threads that start passes, several at once, keep every processor they had:
// only the pool's own workers are placed on one.
TEST(Threads, CallersKeepTheirProcessors) {
  cpu_set_t Before;
  CPU_ZERO(&Before);
  ASSERT_EQ(sched_getaffinity(0, sizeof Before, &Before), 0);
  TThreadLimit Limit(std::max(2, CPU_COUNT(&Before)));
  std::atomic<int> Kept{0};
  std::vector<std::thread> Callers;
  for (int t = 0; t < 3; ++t)
    Callers.emplace_back([&] {
      for (int i = 0; i < 100; ++i)
        ParallelRows(0, 32, 1, [](int32_t, int32_t) { std::this_thread::sleep_for(std::chrono::microseconds(20)); });
      cpu_set_t After;
      CPU_ZERO(&After);
      if (sched_getaffinity(0, sizeof After, &After) == 0 && CPU_EQUAL(&After, &Before)) ++Kept;
    });
  for (std::thread& T : Callers) T.join();
  EXPECT_EQ(Kept.load(), 3);
}

}  // namespace
