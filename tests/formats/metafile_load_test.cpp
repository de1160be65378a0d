// Opening a Windows metafile as a picture: the two-background rule gives the
// drawn pixels their colour with full alpha and the rest transparent white,
// whether through the bitmap's own LoadFromFile or the open-file dispatch,
// and a damaged file fails in the exception box, keeping the picture.
#include <fstream>

#include "formats_test_util.h"
#include "img_loadfile.h"
#include "wmf_writer.h"

namespace {

void WriteBytes(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  std::ofstream(Name, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()),
                                              static_cast<std::streamsize>(Bytes.size()));
}

// A 16 x 12 picture (placeable, 96 units per inch): a blue rectangle with a
// white one inside it, on nothing. White drawn by the file must stay
// opaque; the untouched pixels become transparent.
std::vector<uint8_t> Picture() {
  TWmfWriter w;
  w.WindowOrg(0, 0).WindowExt(16, 12).Pen(5, 0, 0).Select(0).Brush(0, 0x00FF0000).Select(1).Rectangle(2, 2, 12, 10);
  w.Brush(0, 0x00FFFFFF).Select(2).Rectangle(4, 4, 8, 6).End();
  return w.Bytes(0, 0, 16, 12, 96);
}

TColor32 Want(int32_t x, int32_t y) {
  if (x >= 4 && x < 8 && y >= 4 && y < 6) return 0xFFFFFFFFu;
  if (x >= 2 && x < 12 && y >= 2 && y < 10) return 0xFF0000FFu;
  return 0x00FFFFFFu;
}

TEST(MetafileLoad, DrawnPixelsAreOpaqueAndTheRestTransparentWhite) {
  TTempDir dir;
  TBoxes boxes;
  for (const char* name : {"a.wmf", "B.WMF"}) {
    SCOPED_TRACE(name);
    WriteBytes(dir / name, Picture());
    TBitmap32 direct, opened;
    direct.LoadFromFile(dir / name);
    ASSERT_TRUE(LoadImageFile(dir / name, opened));
    for (const TBitmap32* b : {&direct, &opened}) {
      ASSERT_EQ(b->Width(), 16);
      ASSERT_EQ(b->Height(), 12);
      for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(b->Bits()[y * 16 + x], Want(x, y)) << x << "," << y;
    }
  }
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST(MetafileLoad, ADamagedFileFailsInTheBoxAndKeepsThePicture) {
  TTempDir dir;
  std::vector<uint8_t> bytes = Picture();
  bytes.resize(bytes.size() - 10);  // the last record runs past the end
  WriteBytes(dir / "bad.wmf", bytes);
  TBitmap32 b;
  FillBitmap(b, 1, 1, {0xFF010203u});
  TBoxes boxes;
  EXPECT_FALSE(LoadImageFile(dir / "bad.wmf", b));
  EXPECT_EQ(PixelsOf(b), std::vector<TColor32>{0xFF010203u});
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Last().Text,
            "Exception (EInvalidGraphic) on image " + (dir / "bad.wmf") + " load: Metafile is not valid");
  EXPECT_EQ(boxes.Last().Flags & MB_ICONMASK, static_cast<uint32_t>(MB_ICONERROR));
}

}  // namespace
