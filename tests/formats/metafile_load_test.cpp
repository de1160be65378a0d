// Opening a metafile (WMF or EMF) as a picture: the two-background rule gives
// the drawn pixels their colour with full alpha (white ones too) and the rest
// transparent white, whether through the bitmap's own LoadFromFile or the
// open-file dispatch, and a damaged file fails in the exception box, keeping
// the picture.
#include <cctype>
#include <fstream>

#include "emf_writer.h"
#include "formats_test_util.h"
#include "img_loadfile.h"
#include "wmf_writer.h"

namespace {

void WriteBytes(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  std::ofstream(Name, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()),
                                              static_cast<std::streamsize>(Bytes.size()));
}

// A 16 x 12 picture (placeable, 96 units per inch): a blue rectangle with a
// white one inside it, on nothing.
std::vector<uint8_t> WmfPicture() {
  TWmfWriter w;
  w.WindowOrg(0, 0).WindowExt(16, 12).Pen(5, 0, 0).Select(0).Brush(0, 0x00FF0000).Select(1).Rectangle(2, 2, 12, 10);
  w.Brush(0, 0x00FFFFFF).Select(2).Rectangle(4, 4, 8, 6).End();
  return w.Bytes(0, 0, 16, 12, 96);
}

// 48 x 24 pixels at 96 dpi (a 96-dpi reference device, so logical units are
// pixels): the same two rectangles drawn without a pen.
std::vector<uint8_t> EmfPicture() {
  using namespace emr;
  TEmfWriter w(48, 24);
  w.SetDevice(960, 960, 254, 254).SetFrame(0, 0, 1270, 635);
  w.Rec(CREATEBRUSH, {1, 0, 0x00FF0000, 0}).Rec(CREATEBRUSH, {2, 0, 0x00FFFFFF, 0});
  w.Rec(SELECTOBJECT, {kNullPen}).Rec(SELECTOBJECT, {1}).Rec(RECTANGLE, {2, 2, 31, 21});
  w.Rec(SELECTOBJECT, {2}).Rec(RECTANGLE, {10, 6, 21, 13});
  return w.Finish();
}

struct TCase {
  const char* Ext;
  std::vector<uint8_t> (*Make)();
  int32_t Width, Height;
  TPlatformRect Blue, White;  // where each rectangle's pixels must be
  void (*Damage)(std::vector<uint8_t>&);
};

const TCase kCases[] = {
    {"wmf", WmfPicture, 16, 12, {2, 2, 12, 10}, {4, 4, 8, 6},
     [](std::vector<uint8_t>& b) { b.resize(b.size() - 10); }},  // the last record runs past the end
    {"emf", EmfPicture, 48, 24, {2, 2, 30, 20}, {10, 6, 20, 12},
     [](std::vector<uint8_t>& b) { b[88 + 4] = 22; }},  // a record size that is no multiple of 4
};

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

bool Inside(const TPlatformRect& R, int32_t x, int32_t y) {
  return x >= R.Left && x < R.Right && y >= R.Top && y < R.Bottom;
}

TEST(MetafileLoad, DrawnPixelsAreOpaqueAndTheRestTransparentWhite) {
  TTempDir dir;
  TBoxes boxes;
  for (const TCase& c : kCases) {
    for (const std::string& name : {std::string("a.") + c.Ext, std::string("B.") + Upper(c.Ext)}) {
      SCOPED_TRACE(name);
      WriteBytes(dir / name, c.Make());
      TBitmap32 direct, opened;
      direct.LoadFromFile(dir / name);
      ASSERT_TRUE(LoadImageFile(dir / name, opened));
      for (const TBitmap32* b : {&direct, &opened}) {
        ASSERT_EQ(b->Width(), c.Width);
        ASSERT_EQ(b->Height(), c.Height);
        for (int32_t y = 0; y < c.Height; ++y)
          for (int32_t x = 0; x < c.Width; ++x) {
            const TColor32 want = Inside(c.White, x, y)  ? 0xFFFFFFFFu
                                  : Inside(c.Blue, x, y) ? 0xFF0000FFu
                                                         : 0x00FFFFFFu;
            ASSERT_EQ(b->Bits()[y * c.Width + x], want) << x << "," << y;
          }
      }
    }
  }
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST(MetafileLoad, ADamagedFileFailsInTheBoxAndKeepsThePicture) {
  TTempDir dir;
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Ext);
    std::vector<uint8_t> bytes = c.Make();
    c.Damage(bytes);
    const std::string name = dir / (std::string("bad.") + c.Ext);
    WriteBytes(name, bytes);
    TBitmap32 b;
    FillBitmap(b, 1, 1, {0xFF010203u});
    TBoxes boxes;
    EXPECT_FALSE(LoadImageFile(name, b));
    EXPECT_EQ(PixelsOf(b), std::vector<TColor32>{0xFF010203u});
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Last().Text, "Exception (EInvalidGraphic) on image " + name + " load: Metafile is not valid");
    EXPECT_EQ(boxes.Last().Flags & MB_ICONMASK, static_cast<uint32_t>(MB_ICONERROR));
  }
}

}  // namespace
