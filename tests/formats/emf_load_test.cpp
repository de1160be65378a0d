// Opening an enhanced metafile as a picture: the file's frame at 96 dpi
// gives the size, the two-background rule gives drawn pixels (white ones
// too) full alpha and leaves the rest transparent white, through the
// bitmap's own LoadFromFile and the open-file dispatch alike; a damaged
// file fails in the exception box and keeps the picture.
#include <fstream>

#include "emf_writer.h"
#include "formats_test_util.h"
#include "img_loadfile.h"

namespace {

using namespace emr;

void WriteBytes(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  std::ofstream(Name, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()),
                                              static_cast<std::streamsize>(Bytes.size()));
}

// 48 x 24 pixels at 96 dpi (a 96-dpi reference device, so logical units are
// pixels): a blue rectangle with a white one inside it, drawn without a pen.
std::vector<uint8_t> Picture() {
  TEmfWriter w(48, 24);
  w.SetDevice(960, 960, 254, 254).SetFrame(0, 0, 1270, 635);
  w.Rec(CREATEBRUSH, {1, 0, 0x00FF0000, 0}).Rec(CREATEBRUSH, {2, 0, 0x00FFFFFF, 0});
  w.Rec(SELECTOBJECT, {kNullPen}).Rec(SELECTOBJECT, {1}).Rec(RECTANGLE, {2, 2, 31, 21});
  w.Rec(SELECTOBJECT, {2}).Rec(RECTANGLE, {10, 6, 21, 13});
  return w.Finish();
}

TColor32 Want(int32_t x, int32_t y) {
  if (x >= 10 && x < 20 && y >= 6 && y < 12) return 0xFFFFFFFFu;
  if (x >= 2 && x < 30 && y >= 2 && y < 20) return 0xFF0000FFu;
  return 0x00FFFFFFu;
}

TEST(EmfLoad, DrawnPixelsAreOpaqueAndTheRestTransparentWhite) {
  TTempDir dir;
  TBoxes boxes;
  for (const char* name : {"a.emf", "B.EMF"}) {
    SCOPED_TRACE(name);
    WriteBytes(dir / name, Picture());
    TBitmap32 direct, opened;
    direct.LoadFromFile(dir / name);
    ASSERT_TRUE(LoadImageFile(dir / name, opened));
    for (const TBitmap32* b : {&direct, &opened}) {
      ASSERT_EQ(b->Width(), 48);
      ASSERT_EQ(b->Height(), 24);
      for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 48; ++x) ASSERT_EQ(b->Bits()[y * 48 + x], Want(x, y)) << x << "," << y;
    }
  }
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST(EmfLoad, ADamagedFileFailsInTheBoxAndKeepsThePicture) {
  TTempDir dir;
  std::vector<uint8_t> bytes = Picture();
  bytes[88 + 4] = 22;  // the first record's size is no multiple of 4
  WriteBytes(dir / "bad.emf", bytes);
  TBitmap32 b;
  FillBitmap(b, 1, 1, {0xFF010203u});
  TBoxes boxes;
  EXPECT_FALSE(LoadImageFile(dir / "bad.emf", b));
  EXPECT_EQ(PixelsOf(b), std::vector<TColor32>{0xFF010203u});
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Last().Text,
            "Exception (EInvalidGraphic) on image " + (dir / "bad.emf") + " load: Metafile is not valid");
}

}  // namespace
