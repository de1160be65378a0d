// The ZU3 format and the in-memory bzip2 routines: byte layout, lossless
// round trips with alpha, streams made by other bzip2 implementations, and
// every refusal and damaged-file path with its box.
#include <bzlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "bzip2.h"
#include "formats_test_util.h"
#include "img_loadfile.h"
#include "img_zub.h"
#include "platform_graphics.h"
#include "raster_parallel.h"
#include "zub_image.h"

namespace {

uint32_t Le32At(const std::vector<uint8_t>& b, size_t i) {
  return b[i] | b[i + 1] << 8 | b[i + 2] << 16 | static_cast<uint32_t>(b[i + 3]) << 24;
}

std::vector<uint8_t> ZubHeader(int16_t W, int16_t H, uint32_t N) {
  return {'Z', 'U', '3', 0, static_cast<uint8_t>(W), static_cast<uint8_t>(W >> 8), static_cast<uint8_t>(H),
          static_cast<uint8_t>(H >> 8), static_cast<uint8_t>(N), static_cast<uint8_t>(N >> 8),
          static_cast<uint8_t>(N >> 16), static_cast<uint8_t>(N >> 24)};
}

std::vector<uint8_t> Bz2(const std::vector<uint8_t>& Raw) {
  TBZ2Block out;
  size_t n = 0;
  CompressBufferBZ2(Raw.data(), Raw.size(), out, n);
  return std::vector<uint8_t>(out.get(), out.get() + n);
}

std::vector<uint8_t> RawBytes(const std::vector<TColor32>& Px) {
  std::vector<uint8_t> b;
  for (TColor32 c : Px)
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(c >> (8 * k)));
  return b;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> A, const std::vector<uint8_t>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

}  // namespace

// The library's own stream of Raw, made in one call.
std::vector<uint8_t> LibraryBz2(std::vector<uint8_t> Raw) {
  std::vector<uint8_t> out(Raw.size() + Raw.size() / 100 + 600);
  unsigned n = static_cast<unsigned>(out.size());
  Raw.reserve(1);
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &n, reinterpret_cast<char*>(Raw.data()),
                                     static_cast<unsigned>(Raw.size()), 9, 0, 0),
            BZ_OK);
  out.resize(n);
  return out;
}

// Streams of several blocks are made a block per thread: on any number of
// threads they are the library's own stream, bit for bit, for input that
// fills blocks evenly, in runs or as noise. The runs are of 1, 4 or 5 bytes
// (the library codes a run of 4 and one of 5 alike, as 4 bytes and a count,
// so a block may end up to 4 bytes past its fill; here one ends on a run of
// 4 before another) and now and then one longer than the library's 255.
TEST(BZip2Buffers, CompressedStreamsReadByTheCommandLineTool) {
  TTempDir dir;
  uint32_t seed = 3;
  for (size_t size : {size_t{0}, size_t{1}, size_t{100000}, size_t{2000000}, size_t{2000001}, size_t{2500000}}) {
    std::vector<uint8_t> raw(size);
    uint8_t value = 0;
    for (size_t i = 0, run = 0; i < size; ++i, --run) {
      seed = seed * 1664525u + 1013904223u;
      if (run == 0) {
        run = (seed >> 8) % 256 == 0 ? 250 + (seed >> 16) % 50 : size_t{(seed >> 16) % 3 ? 3 + (seed >> 16) % 3 : 1};
        value = static_cast<uint8_t>(seed >> 24);
      }
      raw[i] = size == 2000001 ? value
               : size == 2500000 ? static_cast<uint8_t>(seed >> 24)
                                 : static_cast<uint8_t>((i * 7) ^ (i >> 9));
    }
    std::vector<uint8_t> packed;
    const std::vector<uint8_t> library = LibraryBz2(raw);
    for (int threads : {1, 2, 8}) {
      if (threads < 8 && size != 2500000) continue;
      TThreadLimit limit(threads);
      packed = Bz2(raw);
      ASSERT_EQ(packed, library) << size << " bytes on " << threads << " threads";
    }
    ASSERT_GE(packed.size(), 4u);
    EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), "BZh9");
    WriteFileBytes(dir / "a.bz2", packed);
    ASSERT_TRUE(RunTool("bzip2 -dc " + dir / "a.bz2" + " > " + dir / "a.raw"));
    EXPECT_EQ(ReadFileBytes(dir / "a.raw"), raw) << size;
  }
}

TEST(BZip2Buffers, DecompressionKeepsTheExpectedSizeAndChecksTheRest) {
  std::vector<uint8_t> raw(3000000, 0x5A);
  raw[12345] = 1;
  const std::vector<uint8_t> packed = Bz2(raw);
  TBZ2Block out;
  size_t n = 0;
  DecompressBufferBZ2(packed.data(), packed.size(), 0, out, n);  // grows from the input's size
  ASSERT_EQ(n, raw.size());
  EXPECT_EQ(std::memcmp(out.get(), raw.data(), n), 0);
  DecompressBufferBZ2(packed.data(), packed.size(), 20000, out, n);  // keeps the expected bytes
  ASSERT_EQ(n, 20000u);
  EXPECT_EQ(out.get()[12345], 1);
  // The rest is decoded to check it, up to 64 MiB beyond what is kept.
  const std::vector<uint8_t> surplus = Bz2(std::vector<uint8_t>((size_t{64} << 20) + 2, 0x5A));
  DecompressBufferBZ2(surplus.data(), surplus.size(), 2, out, n);
  EXPECT_EQ(n, 2u);
  try {
    DecompressBufferBZ2(surplus.data(), surplus.size(), 1, out, n);
    ADD_FAILURE() << "a surplus one byte past the bound was taken";
  } catch (const EBZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "error -8");
  }
}

TEST(BZip2Buffers, DamagedAndTruncatedStreamsRaiseDecompressionErrors) {
  const std::vector<uint8_t> packed = Bz2(RawBytes(NoisePixels(5000, 3)));
  auto codeOf = [](const std::vector<uint8_t>& In) -> std::string {
    TBZ2Block out;
    size_t n = 0;
    try {
      DecompressBufferBZ2(In.data(), In.size(), 20000, out, n);
    } catch (const EBZDecompressionError& e) {
      EXPECT_EQ(e.ClassName(), "EBZDecompressionError");
      EXPECT_EQ(out.get(), nullptr);
      return e.what();
    }
    return "no error";
  };
  std::vector<uint8_t> badMagic = packed;
  badMagic[0] = 'X';
  EXPECT_EQ(codeOf(badMagic), "error -5");
  std::vector<uint8_t> corrupt = packed;
  for (size_t i = 100; i < 140; ++i) corrupt[i] ^= 0x55;
  EXPECT_EQ(codeOf(corrupt), "error -4");
  // Input that ends inside the stream makes no progress: the loop must end.
  EXPECT_EQ(codeOf(std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2)), "error -7");
  EXPECT_EQ(codeOf({}), "error -7");
}

TEST(ZubFile, RoundTripKeepsEveryPixelAndAlphaInTheStatedLayout) {
  TTempDir dir;
  TBoxes boxes;
  TBitmap32 one;
  FillBitmap(one, 1, 1, {0x80123456u});
  ASSERT_TRUE(SaveZubImage(dir / "one.zub", &one));
  const std::vector<uint8_t> file = ReadFileBytes(dir / "one.zub");
  ASSERT_GE(file.size(), 12u);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 8), std::vector<uint8_t>({'Z', 'U', '3', 0, 1, 0, 1, 0}));
  EXPECT_EQ(Le32At(file, 8), file.size() - 12);
  // The stream holds the pixel's memory bytes blue, green, red, alpha.
  WriteFileBytes(dir / "one.bz2", std::vector<uint8_t>(file.begin() + 12, file.end()));
  ASSERT_TRUE(RunTool("bzip2 -dc " + dir / "one.bz2" + " > " + dir / "one.raw"));
  EXPECT_EQ(ReadFileBytes(dir / "one.raw"), std::vector<uint8_t>({0x56, 0x34, 0x12, 0x80}));

  for (auto [w, h] : {std::pair{1, 1}, std::pair{37, 23}, std::pair{300, 2}, std::pair{1, 257}}) {
    TBitmap32 src, back;
    FillBitmap(src, w, h, NoisePixels(static_cast<size_t>(w) * h, static_cast<uint32_t>(w * 1000 + h)));
    ASSERT_TRUE(SaveZubImage(dir / "p.zub", &src));
    LoadZubImage(dir / "p.zub", &back);
    ASSERT_EQ(back.Width(), w);
    ASSERT_EQ(back.Height(), h);
    EXPECT_EQ(PixelsOf(back), PixelsOf(src)) << w << " x " << h;
  }
  EXPECT_EQ(boxes.Count(), 0u);
  // Only the finished file is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 4);
}

TEST(ZubFile, ReadsStreamsOfAnotherCompressorAndCapsTheLengthField) {
  TTempDir dir;
  TBoxes boxes;
  const std::vector<TColor32> px = NoisePixels(6 * 5, 9);
  std::ofstream(dir / "raw.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(RawBytes(px).data()), static_cast<std::streamsize>(px.size() * 4));
  ASSERT_TRUE(RunTool("/usr/bin/python3 -c \"import bz2,sys; sys.stdout.buffer.write(bz2.compress(open('" +
                      dir / "raw.bin" + "','rb').read(), 9))\" > " + dir / "s.bz2"));
  const std::vector<uint8_t> stream = ReadFileBytes(dir / "s.bz2");
  // A length far beyond the file's end, and trailing bytes: both harmless.
  WriteFileBytes(dir / "p.zub", Concat(Concat(ZubHeader(6, 5, 0xFFFFFFF0u), stream), {1, 2, 3}));
  TBitmap32 b;
  LoadZubImage(dir / "p.zub", &b);
  EXPECT_EQ(boxes.Count(), 0u);
  ASSERT_EQ(b.Width(), 6);
  EXPECT_EQ(PixelsOf(b), px);

  // A stream with more pixels than the header's size fills just those.
  WriteFileBytes(dir / "more.zub", Concat(ZubHeader(2, 1, static_cast<uint32_t>(stream.size())), stream));
  LoadZubImage(dir / "more.zub", &b);
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(PixelsOf(b), std::vector<TColor32>(px.begin(), px.begin() + 2));

  // A read-only file is read.
  std::filesystem::permissions(dir / "p.zub", std::filesystem::perms::owner_read);
  LoadZubImage(dir / "p.zub", &b);
  EXPECT_EQ(b.Width(), 6);
}

TEST(ZubFile, RefusedHeadersShowTheBoxAndLeaveAnEmptyBitmap) {
  TTempDir dir;
  TBitmap32 empty;
  ASSERT_TRUE(SaveZubImage(dir / "empty.zub", &empty));  // written with 0 x 0
  const std::vector<uint8_t> stream = Bz2(RawBytes({0xFF0000FFu}));
  std::vector<uint8_t> lower = Concat(ZubHeader(1, 1, static_cast<uint32_t>(stream.size())), stream);
  lower[0] = 'z';
  lower[1] = 'u';
  WriteFileBytes(dir / "lower.zub", lower);
  WriteFileBytes(dir / "negative.zub", Concat(ZubHeader(-5, 3, 0), stream));
  WriteFileBytes(dir / "no-rows.zub", Concat(ZubHeader(1, 0, static_cast<uint32_t>(stream.size())), stream));
  WriteFileBytes(dir / "short.zub", {'Z', 'U'});
  for (const char* name : {"empty.zub", "lower.zub", "negative.zub", "no-rows.zub", "short.zub"}) {
    TBoxes boxes;
    TBitmap32 b;
    FillBitmap(b, 2, 2, {1, 2, 3, 4});
    LoadZubImage(dir / name, &b);
    ExpectOneBox(boxes, "unrecognized ZUB Image file format on " + dir / name, "img_zub", MB_ICONEXCLAMATION);
    EXPECT_TRUE(b.Empty()) << name;
  }
  TBoxes boxes;
  TBitmap32 b;
  LoadZubImage(dir / "missing.zub", &b);
  ExpectOneBox(boxes, "error opening " + dir / "missing.zub", "img_zub", MB_ICONHAND);
}

// Damage is found wherever it lies, also once every pixel has arrived: in a
// block's data or its stored check value, in the last of several blocks, in
// the stream's check value at its very end (the command-line tool agrees each
// stream is damaged). The reader shows the box over opaque black of the
// header's size; opened as a document the file fails and the picture shown
// before stays.
TEST(ZubFile, DamagedOrTruncatedStreamsLeaveOpaqueBlackOfTheHeaderSize) {
  TTempDir dir;
  struct Case {
    const char* name;
    int16_t w, h;
    std::vector<uint8_t> stream;
    const char* error;
  };
  auto damaged = [](std::vector<uint8_t> S, size_t From, size_t Count, uint8_t Mask) {
    for (size_t i = From; i < From + Count; ++i) S[i] ^= Mask;
    return S;
  };
  const std::vector<uint8_t> small = Bz2(RawBytes(NoisePixels(40 * 30, 5)));
  const std::vector<uint8_t> photo = Bz2(RawBytes(NoisePixels(300 * 200, 4)));
  // Noise of 700 x 700 fills three of the library's blocks.
  const std::vector<uint8_t> large = Bz2(RawBytes(NoisePixels(700 * 700, 4)));
  const size_t end = large.size();
  // The stored block CRC (after "BZh9" and the 6-byte block magic) is checked
  // only once the whole block was decoded and its pixels written; the
  // stream's is the last 32 bits before at most 7 bits of padding.
  const Case cases[] = {
      {"corrupt.zub", 40, 30, damaged(small, 200, 60, 0xA5), "error -4"},
      {"block-crc.zub", 40, 30, damaged(small, 10, 1, 0x01), "error -4"},
      {"half.zub", 40, 30, {small.begin(), small.begin() + 300}, "error -7"},
      {"header-only.zub", 40, 30, {}, "error -7"},
      {"photo-mid.zub", 300, 200, damaged(photo, photo.size() * 9 / 40, 40, 0x55), "error -4"},
      {"large-mid.zub", 700, 700, damaged(large, end / 2, 40, 0x55), "error -4"},
      {"large-last-block.zub", 700, 700, damaged(large, end - 9200, 40, 0x55), "error -4"},
      {"large-stream-crc.zub", 700, 700, damaged(large, end - 2, 1, 0x10), "error -4"},
  };
  TBitmap32 shown;
  FillBitmap(shown, 2, 1, {0x80FF0000u, 0xFF00FF00u});
  for (const Case& c : cases) {
    const bool cut = c.stream.size() < 400;
    std::vector<uint8_t> bytes = Concat(ZubHeader(c.w, c.h, static_cast<uint32_t>(cut ? 9999 : c.stream.size())), c.stream);
    if (c.stream.empty()) bytes.resize(8);
    WriteFileBytes(dir / c.name, bytes);
    if (c.w > 40) {
      WriteFileBytes(dir / "s.bz2", c.stream);
      EXPECT_FALSE(RunTool("bzip2 -t " + dir / "s.bz2")) << c.name;
    }
    TBoxes boxes;
    TBitmap32 b;
    LoadZubImage(dir / c.name, &b);
    ExpectOneBox(boxes, "error reading " + dir / c.name + " : " + c.error, "img_zub", MB_ICONHAND);
    ASSERT_EQ(b.Width(), c.w) << c.name;
    ASSERT_EQ(b.Height(), c.h);
    EXPECT_EQ(PixelsOf(b), std::vector<TColor32>(static_cast<size_t>(c.w) * c.h, 0xFF000000u)) << c.name;
    EXPECT_FALSE(LoadImageFile(dir / c.name, shown)) << c.name;
    EXPECT_EQ(PixelsOf(shown), std::vector<TColor32>({0x80FF0000u, 0xFF00FF00u}));
    EXPECT_EQ(boxes.Count(), 2u);
    EXPECT_EQ(boxes.Last().Text, "error reading " + dir / c.name + " : " + c.error);
  }
  WriteFileBytes(dir / "s.bz2", large);
  EXPECT_TRUE(RunTool("bzip2 -t " + dir / "s.bz2"));
}

TEST(ZubFile, WriterRefusesWhatItCannotStoreAndKeepsTheTarget) {
  TTempDir dir;
  WriteFileBytes(dir / "keep.zub", {'o', 'l', 'd'});
  for (auto [w, h] : {std::pair{32768, 1}, std::pair{1, 32768}}) {
    TBoxes boxes;
    TBitmap32 big;
    big.SetSize(w, h);
    EXPECT_FALSE(SaveZubImage(dir / "keep.zub", &big));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Last().Flags & MB_ICONMASK, MB_ICONEXCLAMATION);
    EXPECT_NE(boxes.Last().Text.find(dir / "keep.zub"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "keep.zub"), std::vector<uint8_t>({'o', 'l', 'd'}));
  }
  TBoxes boxes;
  TBitmap32 one;
  FillBitmap(one, 1, 1, {0xFFFFFFFFu});
  EXPECT_FALSE(SaveZubImage(dir / "no-such-folder/x.zub", &one));
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Last().Text, "error opening " + dir / "no-such-folder/x.zub");
  EXPECT_EQ(boxes.Last().Flags & MB_ICONMASK, MB_ICONHAND);
}

TEST(ZubFile, WriteFailureHalfWayIsReportedAndLeavesTheTargetAlone) {
  TTempDir dir;
  WriteFileBytes(dir / "keep.zub", {'o', 'l', 'd'});
  TBitmap32 noise;
  FillBitmap(noise, 200, 200, NoisePixels(200 * 200, 8));  // about 160 KB that do not compress
  TBoxes boxes;
  bool saved = true;
  {
    TFileSizeLimit full(4096);
    saved = SaveZubImage(dir / "keep.zub", &noise);
  }
  EXPECT_FALSE(saved);
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Last().Text, "error writing " + dir / "keep.zub" + " : Stream write error");
  EXPECT_EQ(boxes.Last().Flags & MB_ICONMASK, MB_ICONHAND);
  EXPECT_EQ(ReadFileBytes(dir / "keep.zub"), std::vector<uint8_t>({'o', 'l', 'd'}));
  EXPECT_EQ(FolderEntries(dir.path), std::vector<std::string>({"keep.zub"}));
}

TEST(ZubPicture, RegisteredClassLoadsAndSavesThroughThePictureObject) {
  const TPictureFormat* f = FindFileFormat("zub");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Description, "ZUB Image");
  EXPECT_EQ(f->GraphicClassName, "TZUBImage");
  TTempDir dir;
  TBoxes boxes;
  TBitmap32 src, back;
  FillBitmap(src, 5, 3, NoisePixels(15, 77));
  ASSERT_TRUE(SaveZubImage(dir / "a.ZUB", &src));
  // The fallback loader goes through the registry and keeps the alpha plane.
  back.LoadFromFile(dir / "a.ZUB");
  EXPECT_EQ(PixelsOf(back), PixelsOf(src));
  TPicture pic;
  pic.LoadFromFile(dir / "a.ZUB");
  ASSERT_EQ(pic.Graphic()->ClassName(), "TZUBImage");
  EXPECT_EQ(static_cast<TPlatformBitmap*>(pic.Graphic())->PixelFormat(), TPixelFormat::pf32bit);
  pic.SaveToFile(dir / "b.zub");
  LoadZubImage(dir / "b.zub", &back);
  EXPECT_EQ(PixelsOf(back), PixelsOf(src));
  // A stream that is not ZU3 is an invalid graphic for the picture object.
  TMemoryStream junk(std::vector<uint8_t>{'B', 'M', 0, 0, 0, 0, 0, 0});
  TZUBImage img;
  EXPECT_THROW(img.LoadFromStream(junk), EInvalidGraphic);
  EXPECT_EQ(boxes.Count(), 0u);
}
