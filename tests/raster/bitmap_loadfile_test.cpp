// Loading a picture file into a 32-bit bitmap: the JPEG and BMP classes
// decode straight into the bitmap's rows. The pixels must be what loading
// the picture and assigning it gives (the general path, kept for every other
// class) and, for JPEG, what the library's own command-line decoder gives.
#include <gtest/gtest.h>

#include <random>

#include "../platform/picture_test_util.h"
#include "platform_jpeg.h"
#include "raster_core.h"

namespace {

// The general path: load the picture, then assign it.
void LoadThroughAssign(const std::string& File, TBitmap32& B) {
  TPicture picture;
  picture.LoadFromFile(File);
  B.Assign(&picture);
}

::testing::AssertionResult SameBitmap(const TBitmap32& Got, const TBitmap32& Want) {
  if (Got.Width() != Want.Width() || Got.Height() != Want.Height())
    return ::testing::AssertionFailure() << "size " << Got.Width() << "x" << Got.Height() << " vs " << Want.Width()
                                         << "x" << Want.Height();
  const size_t n = static_cast<size_t>(Want.Width()) * static_cast<size_t>(Want.Height());
  for (size_t i = 0; i < n; ++i)
    if (Got.Bits()[i] != Want.Bits()[i])
      return ::testing::AssertionFailure() << "pixel " << i << ": " << std::hex << Got.Bits()[i] << " vs "
                                           << Want.Bits()[i];
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameAsReference(const TBitmap32& Got, const TTestImage& Want) {
  if (Got.Width() != Want.Width || Got.Height() != Want.Height)
    return ::testing::AssertionFailure() << "size differs from the reference";
  for (size_t i = 0; i < Want.Px.size(); ++i)
    if (Got.Bits()[i] != Want.Px[i])
      return ::testing::AssertionFailure() << "pixel " << i << ": " << std::hex << Got.Bits()[i] << " vs "
                                           << Want.Px[i];
  return ::testing::AssertionSuccess();
}

}  // namespace

// Random sizes (single rows and columns among them) in every layout the
// decoder takes: colour with each subsampling, progressive, arithmetic, grey.
TEST(BitmapLoadFile, JpegRowsMatchTheLibraryDecoderAndTheAssignPath) {
  RegisterBuiltinPictureFormats();
  TTempDir dir;
  std::mt19937 rng(23);
  const char* options[] = {"-quality 85", "-quality 92 -sample 1x1", "-quality 70 -sample 2x1 -restart 2B",
                           "-quality 80 -progressive", "-quality 75 -arithmetic", "-quality 90 -grayscale"};
  const std::pair<int32_t, int32_t> fixed[] = {{1, 1}, {1, 37}, {53, 1}, {17, 16}};
  for (int k = 0; k < 12; ++k) {
    const auto [w, h] = k < 4 ? fixed[k] : std::pair<int32_t, int32_t>(1 + rng() % 90, 1 + rng() % 70);
    const std::string opt = options[k % 6];
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + opt);
    WritePpm(dir / "src.ppm", MakePhotoLike(w, h, static_cast<uint32_t>(k)));
    ASSERT_TRUE(RunTool("cjpeg " + opt + " -outfile " + dir / "a.jpg " + dir / "src.ppm"));
    ASSERT_TRUE(RunTool("djpeg -pnm -outfile " + dir / "ref.pnm " + dir / "a.jpg"));
    TBitmap32 got, want;
    got.LoadFromFile(dir / "a.jpg");
    LoadThroughAssign(dir / "a.jpg", want);
    EXPECT_TRUE(SameBitmap(got, want));
    EXPECT_TRUE(SameAsReference(got, ReadPnm(dir / "ref.pnm")));
  }
  // CMYK has no command-line reference; the assign path is today's output.
  ASSERT_TRUE(RunTool("/usr/bin/convert " + dir / "src.ppm" + " -colorspace CMYK -quality 90 " + dir / "c.jpg"));
  TBitmap32 got, want;
  got.LoadFromFile(dir / "c.jpg");
  LoadThroughAssign(dir / "c.jpg", want);
  EXPECT_GT(got.Width(), 0);
  EXPECT_TRUE(SameBitmap(got, want));
}

// A flat picture compresses so far that the decoder grows its memory with
// the rows instead of taking the whole picture up front; the rows are then
// copied into the bitmap once complete.
TEST(BitmapLoadFile, JpegFarLargerThanItsDataStillLoads) {
  RegisterBuiltinPictureFormats();
  TTempDir dir;
  const int32_t w = 2500, h = 2100;
  {
    std::ofstream pgm(dir / "flat.pgm", std::ios::binary);
    pgm << "P5 " << w << " " << h << " 255\n" << std::string(static_cast<size_t>(w) * h, static_cast<char>(0x31));
  }
  ASSERT_TRUE(RunTool("cjpeg -grayscale -optimize -quality 90 -outfile " + dir / "flat.jpg " + dir / "flat.pgm"));
  ASSERT_GT(uint64_t{w} * h, ReadFileBytes(dir / "flat.jpg").size() * 64);
  TBitmap32 b;
  b.LoadFromFile(dir / "flat.jpg");
  ASSERT_EQ(b.Width(), w);
  ASSERT_EQ(b.Height(), h);
  size_t other = 0;
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) other += b.Bits()[i] != 0xFF313131u;
  EXPECT_EQ(other, 0u);
}

// Every depth and compression the reader takes, written by our own writer
// and by another program (RLE and bit fields), top-down and bottom-up.
TEST(BitmapLoadFile, BmpRowsMatchTheAssignPath) {
  RegisterBuiltinPictureFormats();
  TTempDir dir;
  std::mt19937 rng(7);
  std::vector<std::string> files;
  const TPixelFormat formats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,  TPixelFormat::pf8bit,
                                  TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                  TPixelFormat::pf32bit};
  int k = 0;
  for (TPixelFormat f : formats) {
    const int32_t w = k == 0 ? 1 : 1 + static_cast<int32_t>(rng() % 40), h = k == 1 ? 1 : 1 + static_cast<int32_t>(rng() % 30);
    TPlatformBitmap p;
    p.SetSize(w, h);
    const TTestImage img = MakePhotoLike(w, h, static_cast<uint32_t>(k));
    for (size_t i = 0; i < img.Px.size(); ++i) p.Bits()[i] = img.Px[i] & (k % 2 ? 0x7FFFFFFFu : 0xFFFFFFFFu);
    p.SetPixelFormat(f);
    const std::string name = dir / ("f" + std::to_string(k++) + ".bmp");
    p.SaveToFile(name);
    files.push_back(name);
  }
  WritePpm(dir / "src.ppm", MakePhotoLike(45, 31, 5));
  ASSERT_TRUE(RunTool("/usr/bin/convert " + dir / "src.ppm" + " -colors 200 -compress RLE BMP3:" + dir / "rle8.bmp"));
  ASSERT_TRUE(RunTool("/usr/bin/convert " + dir / "src.ppm" + " -define bmp:subtype=RGB565 " + dir / "565.bmp"));
  ASSERT_TRUE(RunTool("/usr/bin/convert " + dir / "src.ppm" + " -alpha set -channel A -fx 0.5 " + dir / "argb.bmp"));
  // A file that declares no rows: an empty picture of its width.
  std::vector<uint8_t> empty(54, 0);
  empty[0] = 'B';
  empty[1] = 'M';
  empty[2] = 54;
  empty[10] = 54;
  empty[14] = 40;
  empty[18] = 9;   // width
  empty[26] = 1;   // planes
  empty[28] = 24;  // bits
  WriteFileBytes(dir / "norows.bmp", empty);
  files.insert(files.end(), {dir / "rle8.bmp", dir / "565.bmp", dir / "argb.bmp", dir / "norows.bmp"});
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    TBitmap32 got, want;
    got.LoadFromFile(f);
    LoadThroughAssign(f, want);
    EXPECT_GT(got.Width(), 0);
    EXPECT_TRUE(SameBitmap(got, want));
  }
}

// A file that fails part-way leaves the bitmap as it was and sends nothing;
// a good one sends the resize and the change a load always sent.
TEST(BitmapLoadFile, FailureKeepsThePictureSuccessNotifies) {
  RegisterBuiltinPictureFormats();
  TTempDir dir;
  const TTestImage img = MakePhotoLike(40, 30, 3);
  WriteFileBytes(dir / "a.jpg", EncodeJpeg(img.Px.data(), 40, 30, 90));
  std::vector<uint8_t> cut = ReadFileBytes(dir / "a.jpg");
  cut.resize(cut.size() * 2 / 3);
  WriteFileBytes(dir / "cut.jpg", cut);
  TPlatformBitmap p;
  p.SetSize(40, 30);
  p.SetPixelFormat(TPixelFormat::pf24bit);
  p.SaveToFile(dir / "a.bmp");
  std::vector<uint8_t> bmp = ReadFileBytes(dir / "a.bmp");
  bmp.resize(bmp.size() - 200);
  WriteFileBytes(dir / "cut.bmp", bmp);

  TBitmap32 b;
  b.SetSize(5, 4);
  b.Bits()[7] = 0x12345678u;
  int changes = 0, resizes = 0;
  b.OnChange = [&](void*) { ++changes; };
  b.OnResize = [&](void*) { ++resizes; };
  EXPECT_THROW(b.LoadFromFile(dir / "cut.jpg"), EInvalidGraphic);
  EXPECT_THROW(b.LoadFromFile(dir / "cut.bmp"), EInvalidGraphic);
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Bits()[7], 0x12345678u);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(resizes, 0);
  for (const char* f : {"a.jpg", "a.bmp"}) {
    changes = resizes = 0;
    b.SetSize(5, 4);
    changes = resizes = 0;
    b.LoadFromFile(dir / f);
    EXPECT_EQ(b.Width(), 40) << f;
    EXPECT_EQ(resizes, 1) << f;
    EXPECT_EQ(changes, 1) << f;
  }
}
