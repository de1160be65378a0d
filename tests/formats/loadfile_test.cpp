// Opening a file by its extension: every row of the reader table reads its
// own kind of file (written here by our writers, or by Pillow for a JPEG
// with EXIF), the extension is compared in lower case, and a file a reader
// refuses leaves the picture and the metadata of the file before it.
#include <fstream>

#include "exif_reader.h"
#include "formats_test_util.h"
#include "img_loadfile.h"
#include "img_png.h"
#include "img_pxm.h"
#include "img_wbmp.h"
#include "img_zub.h"
#include "platform_icon.h"
#include "platform_jpeg.h"

namespace {

// 5 x 3 opaque colours, and the same picture in black and white or in grey.
std::vector<TColor32> Colours() {
  std::vector<TColor32> px;
  for (int i = 0; i < 15; ++i) px.push_back(0xFF000000u | static_cast<TColor32>(i * 0x0F1E2Du + 0x102030u));
  return px;
}
std::vector<TColor32> BlackWhite() {
  std::vector<TColor32> px;
  for (int i = 0; i < 15; ++i) px.push_back(i % 3 ? 0xFFFFFFFFu : 0xFF000000u);
  return px;
}
std::vector<TColor32> Greys() {
  std::vector<TColor32> px;
  for (int i = 0; i < 15; ++i) px.push_back(GrayArgb(i * 17));
  return px;
}

void WriteText(const std::string& Name, const std::string& Bytes) { std::ofstream(Name, std::ios::binary) << Bytes; }

}  // namespace

TEST(LoadImageFile, EveryRowReadsItsOwnFiles) {
  TTempDir dir;
  TBoxes boxes;
  TBitmap32 colours, bw;
  FillBitmap(colours, 5, 3, Colours());
  FillBitmap(bw, 5, 3, BlackWhite());
  struct TRow {
    std::string Name;
    std::function<void(const std::string&)> Write;
    std::vector<TColor32> Want;
  };
  auto platform = [&](const std::string& F) {
    TPlatformBitmap p;
    colours.AssignTo(p);
    p.SaveToFile(F);
  };
  const std::vector<TRow> rows = {
      {"a.png", [&](const std::string& F) { SavePNGFromBitmap32(F, &colours, false, false, 0, 9); }, Colours()},
      {"PHOTO.PNG", [&](const std::string& F) { SavePNGFromBitmap32(F, &colours, false, false, 0, 9); }, Colours()},
      {"a.bmp", platform, Colours()},
      {"a.ico",
       [&](const std::string& F) {
         TIcon i;
         i.SetPixels(5, 3, colours.Bits());
         i.SaveToFile(F);
       },
       Colours()},
      {"a.ppm", [&](const std::string& F) { SavePPM(F, &colours); }, Colours()},
      // Written by hand: our own writer weighs the channels.
      {"a.pgm",
       [&](const std::string& F) {
         std::string body = "P5\n5 3\n255\n";
         for (int i = 0; i < 15; ++i) body += static_cast<char>(i * 17);
         WriteText(F, body);
       },
       Greys()},
      {"a.zub", [&](const std::string& F) { SaveZubImage(F, &colours); }, Colours()},
      {"a.wbmp", [&](const std::string& F) { SaveWBMP(F, &bw); }, BlackWhite()},
      {"a.WBM", [&](const std::string& F) { SaveWBMP(F, &bw); }, BlackWhite()},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Name);
    const std::string f = dir / r.Name;
    r.Write(f);
    TBitmap32 b;
    ASSERT_TRUE(LoadImageFile(f, b));
    EXPECT_EQ(PixelsOf(b), r.Want);
  }
  // JPEG, both spellings: a flat picture comes back within the codec's error.
  for (const char* name : {"a.jpg", "b.JPEG"}) {
    SCOPED_TRACE(name);
    TJPEGImage j;
    std::vector<uint32_t> flat(16 * 16, 0xFF4080C0u);
    j.SetPixels(16, 16, flat.data());
    j.SaveToFile(dir / name);
    TBitmap32 b;
    ASSERT_TRUE(LoadImageFile(dir / name, b));
    ASSERT_EQ(b.Width(), 16);
    for (TColor32 c : PixelsOf(b))
      for (int sh = 0; sh <= 16; sh += 8) ASSERT_NEAR(static_cast<int>((c >> sh) & 0xFF), (0x4080C0 >> sh) & 0xFF, 3);
  }
  EXPECT_EQ(boxes.Count(), 0u) << boxes.Last().Text;
}

TEST(LoadImageFile, RefusedFilesKeepThePictureAndTheMetadata) {
  TTempDir dir;
  // A JPEG with EXIF (made by Pillow) sets the metadata.
  const std::string jpg = dir / "exif.jpg";
  ASSERT_EQ(std::system(("/usr/bin/python3 -c \"from PIL import Image\nim = Image.new('RGB', (8, 8), (200, 100, 50))\n"
                         "ex = Image.Exif()\nex[0x010F] = 'Vemra'\nim.save('" +
                         jpg + "', exif=ex.tobytes())\"")
                            .c_str()),
            0);
  TBitmap32 b;
  ASSERT_TRUE(LoadImageFile(jpg, b));
  ASSERT_TRUE(gHasExif);
  ASSERT_NE(gExifData, nullptr);
  EXPECT_TRUE(gExifData->HasExif());
  const TimgData* metadata = gExifData.get();
  const std::vector<TColor32> picture = PixelsOf(b);

  WriteText(dir / "bad.png", "not a picture at all");
  WriteText(dir / "empty.wbmp", "");
  WriteText(dir / "noextension", "BM");
  struct TCase {
    const char* Name;
    std::string BoxStart;  // empty: the reader refuses without raising
  } cases[] = {
      {"bad.png", "Exception (EPNGInvalidFileHeader) on image " + (dir / "bad.png") + " load: "},
      {"empty.wbmp", ""},
      {"noextension", "Exception ("},
      {"missing.png", "Exception ("},
  };
  // Read ahead or not, a failure is reported once, by the load.
  for (const bool ahead : {false, true})
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + (ahead ? " read ahead" : ""));
    TBoxes boxes;
    if (ahead) ReadImageFileAhead(dir / c.Name);
    EXPECT_FALSE(LoadImageFile(dir / c.Name, b));
    EXPECT_EQ(PixelsOf(b), picture);
    EXPECT_EQ(gExifData.get(), metadata);
    EXPECT_TRUE(gHasExif);
    if (!c.BoxStart.empty()) {
      ASSERT_EQ(boxes.Count(), 1u);
      EXPECT_EQ(boxes.Last().Text.rfind(c.BoxStart, 0), 0u) << boxes.Last().Text;
      EXPECT_EQ(boxes.Last().Flags & MB_ICONMASK, static_cast<uint32_t>(MB_ICONERROR));
    }
    // An empty bitmap stays empty.
    TBitmap32 none;
    EXPECT_FALSE(LoadImageFile(dir / c.Name, none));
    EXPECT_TRUE(none.Empty());
  }
  // A file without metadata replaces those of the photo.
  SavePNGFromBitmap32(dir / "plain.png", &b, false, false, 0, 9);
  ASSERT_TRUE(LoadImageFile(dir / "plain.png", b));
  EXPECT_FALSE(gHasExif);
  EXPECT_NE(gExifData, nullptr);
  EXPECT_FALSE(gExifData->HasExif());

  // A picture read ahead is the one read directly, metadata included; a file
  // rewritten after its read ahead is read again.
  ReadImageFileAhead(jpg);
  TBitmap32 ahead;
  ASSERT_TRUE(LoadImageFile(jpg, ahead));
  EXPECT_EQ(PixelsOf(ahead), picture);
  EXPECT_TRUE(gHasExif);
  EXPECT_TRUE(gExifData->HasExif());
  ReadImageFileAhead(dir / "plain.png");
  TBitmap32 other;
  other.SetSize(3, 2);
  other.Clear(0xFF0000FFu);
  SavePNGFromBitmap32(dir / "plain.png", &other, false, false, 0, 9);
  ASSERT_TRUE(LoadImageFile(dir / "plain.png", ahead));
  EXPECT_EQ(PixelsOf(ahead), PixelsOf(other));
}
