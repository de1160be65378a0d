// The picture classes: format registry lookups, the picture object's load by
// extension, the atomic save, the bitmap's stretch draw and its pixel-format
// conversions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform_graphics.h"
#include "platform_test_util.h"

namespace {

// A graphic whose save writes a little and then fails, like a full disk.
class TFailingGraphic : public TGraphic {
 public:
  std::string ClassName() const override { return "TFailingGraphic"; }
  int32_t Width() const override { return 1; }
  int32_t Height() const override { return 1; }
  void Draw(TPixelSurface&, const TPlatformRect&) const override {}
  void LoadFromStream(TStream&) override {}
  void SaveToStream(TStream& S) const override {
    S.WriteBuffer("partial", 7);
    throw EWriteError("Stream write error");
  }
};

TPlatformBitmap Checker(int32_t W, int32_t H) {
  TPlatformBitmap b;
  b.SetSize(W, H);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) b.ScanLine(y)[x] = static_cast<uint32_t>((y * W + x) * 0x01020304u);
  return b;
}

std::vector<uint32_t> Surface(int32_t W, int32_t H, TPixelSurface& S, uint32_t Fill = 0xDEADBEEFu) {
  std::vector<uint32_t> px(static_cast<size_t>(W * H), Fill);
  S.Bits = px.data();
  S.Width = W;
  S.Height = H;
  return px;
}

}  // namespace

TEST(PictureFormats, LookupsIgnoreCaseAndTheDot) {
  RegisterBuiltinPictureFormats();
  RegisterBuiltinPictureFormats();  // a second call registers nothing more
  int bmps = 0;
  for (const auto& f : RegisteredFileFormats()) bmps += f.Extension == "bmp";
  EXPECT_EQ(bmps, 1);
  for (const char* ext : {"bmp", "BMP", ".bmp", ".Bmp"}) {
    const TPictureFormat* f = FindFileFormat(ext);
    ASSERT_NE(f, nullptr) << ext;
    EXPECT_EQ(f->Description, "Bitmaps");
    EXPECT_EQ(f->GraphicClassName, "TBitmap");
    EXPECT_EQ(f->Create()->ClassName(), "TBitmap");
  }
  EXPECT_EQ(FindFileFormat("xyz"), nullptr);
  EXPECT_EQ(FindFileFormat(""), nullptr);
  EXPECT_EQ(FindFileFormat("."), nullptr);
}

TEST(PictureFormats, NewestRegistrationWinsAndUnregisterRemovesEveryExtension) {
  RegisterBuiltinPictureFormats();
  auto make = [] { return std::unique_ptr<TGraphic>(std::make_unique<TFailingGraphic>()); };
  size_t before = RegisteredFileFormats().size();
  RegisterFileFormat("TST", "Test One", "TFailingGraphic", make);
  RegisterFileFormat("tst2", "Test Two", "TFailingGraphic", make);
  RegisterFileFormat("tst", "Test Newer", "TFailingGraphic", make);
  EXPECT_EQ(RegisteredFileFormats().size(), before + 3);
  ASSERT_NE(FindFileFormat("tst"), nullptr);
  EXPECT_EQ(FindFileFormat("Tst")->Description, "Test Newer");
  UnregisterGraphicClass("TFailingGraphic");
  EXPECT_EQ(FindFileFormat("tst"), nullptr);
  EXPECT_EQ(FindFileFormat("tst2"), nullptr);
  EXPECT_EQ(RegisteredFileFormats().size(), before);
  EXPECT_NE(FindFileFormat("bmp"), nullptr);
}

TEST(Picture, LoadsByExtensionAndNamesUnknownOnes) {
  RegisterBuiltinPictureFormats();
  TTempDir dir;
  TPlatformBitmap src = Checker(3, 2);
  std::string upper = dir.File("PIC.BMP");
  src.SaveToFile(upper);

  TPicture p;
  p.LoadFromFile(upper);
  ASSERT_NE(p.Graphic(), nullptr);
  EXPECT_EQ(p.Graphic()->ClassName(), "TBitmap");
  EXPECT_EQ(p.Width(), 3);
  EXPECT_EQ(p.Height(), 2);
  const auto* loaded = dynamic_cast<const TPlatformBitmap*>(p.Graphic());
  ASSERT_NE(loaded, nullptr);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(loaded->Bits()[i], src.Bits()[i]);

  struct Case {
    std::string File, Message;
  };
  const Case cases[] = {{dir.File("a.jpe"), "Unknown picture file extension (.jpe)"},
                        {dir.File("noext"), "Unknown picture file extension (.)"},
                        {dir.File("dotted.dir/noext"), "Unknown picture file extension (.)"}};
  for (const Case& c : cases) {
    try {
      p.LoadFromFile(c.File);
      ADD_FAILURE() << c.File;
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), c.Message);
      EXPECT_EQ(e.ClassName(), "EInvalidGraphic");
    }
  }
  // A file that fails to load keeps the picture it had.
  WriteAll(dir.File("broken.bmp"), {'B', 'M', 1, 2});
  EXPECT_THROW(p.LoadFromFile(dir.File("broken.bmp")), EInvalidGraphic);
  EXPECT_THROW(p.LoadFromFile(dir.File("absent.bmp")), EFOpenError);
  EXPECT_EQ(p.Width(), 3);
}

TEST(GraphicSave, AtomicSaveLeavesTargetUntouchedOnFailure) {
  TTempDir dir;
  std::string target = dir.File("keep.bmp");
  WriteAll(target, {'o', 'l', 'd'});
  ::chmod(target.c_str(), 0640);

  TFailingGraphic failing;
  EXPECT_THROW(failing.SaveToFile(target), EWriteError);
  std::vector<uint8_t> now = ReadAll(target);
  EXPECT_EQ(std::string(now.begin(), now.end()), "old");
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path)) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1) << "a temporary file was left behind";

  // A successful save replaces the content and keeps the permissions.
  TPlatformBitmap b = Checker(2, 2);
  b.SaveToFile(target);
  EXPECT_EQ(ReadAll(target), SaveBmp(b));
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // A folder that does not exist fails before touching anything.
  EXPECT_THROW(b.SaveToFile(dir.File("none/x.bmp")), EFCreateError);

  // Saving through a symbolic link rewrites the file it points at.
  std::string link = dir.File("link.bmp");
  std::filesystem::create_symlink(target, link);
  TPlatformBitmap c = Checker(1, 3);
  c.SaveToFile(link);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadAll(target), SaveBmp(c));
}

TEST(BitmapDraw, CopiesStretchesClipsAndMirrors) {
  TPlatformBitmap b = Checker(2, 2);
  b.ScanLine(0)[0] = 0x00112233u;  // alpha travels with the pixel

  TPixelSurface s;
  std::vector<uint32_t> px = Surface(3, 3, s);
  b.Draw(s, {1, 1, 3, 3});
  EXPECT_EQ(px[0], 0xDEADBEEFu);
  EXPECT_EQ(px[4], 0x00112233u);
  EXPECT_EQ(px[5], b.ScanLine(0)[1]);
  EXPECT_EQ(px[8], b.ScanLine(1)[1]);

  // Doubling: every source pixel becomes a 2 x 2 block.
  px = Surface(4, 4, s);
  b.Draw(s, {0, 0, 4, 4});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(px[static_cast<size_t>(y * 4 + x)], b.ScanLine(y / 2)[x / 2]);

  // Halving picks the pixel under each destination centre.
  TPlatformBitmap big = Checker(4, 4);
  px = Surface(2, 2, s);
  big.Draw(s, {0, 0, 2, 2});
  EXPECT_EQ(px[0], big.ScanLine(1)[1]);
  EXPECT_EQ(px[3], big.ScanLine(3)[3]);

  // Partly off the surface: only the visible part is drawn.
  px = Surface(2, 2, s);
  big.Draw(s, {-3, -2, 1, 2});
  EXPECT_EQ(px[0], big.ScanLine(2)[3]);
  EXPECT_EQ(px[2], big.ScanLine(3)[3]);
  EXPECT_EQ(px[1], 0xDEADBEEFu);

  // A reversed rectangle mirrors.
  px = Surface(2, 1, s);
  TPlatformBitmap row = Checker(2, 1);
  row.Draw(s, {2, 0, 0, 1});
  EXPECT_EQ(px[0], row.Bits()[1]);
  EXPECT_EQ(px[1], row.Bits()[0]);

  // A transparent bitmap leaves the background where its key colour is.
  TPlatformBitmap t;
  t.SetSize(2, 1);
  t.Bits()[0] = 0xFF0000FFu;  // blue
  t.Bits()[1] = 0xFFFF0000u;  // red
  t.SetTransparent(true);
  t.SetTransparentColor(0x00FF0000);  // platform colour 0x00BBGGRR: blue
  px = Surface(2, 1, s);
  t.Draw(s, {0, 0, 2, 1});
  EXPECT_EQ(px[0], 0xDEADBEEFu);
  EXPECT_EQ(px[1], 0xFFFF0000u);
}

TEST(BitmapPixelFormat, ConversionsReduceLikeThePlatform) {
  TPlatformBitmap b;
  b.SetSize(2, 1);
  b.Bits()[0] = 0x12345678u;
  b.Bits()[1] = 0x00FFFFFFu;
  TPlatformBitmap c = b;
  c.SetPixelFormat(TPixelFormat::pf24bit);
  EXPECT_EQ(c.Bits()[0], 0xFF345678u);
  EXPECT_EQ(c.Bits()[1], 0xFFFFFFFFu);

  // 5-6-5: the top bits of each channel, widened back to the full range.
  c = b;
  c.SetPixelFormat(TPixelFormat::pf16bit);
  EXPECT_EQ(c.Bits()[0], 0xFF31557Bu);
  EXPECT_EQ(c.Bits()[1], 0xFFFFFFFFu);
  c = b;
  c.SetPixelFormat(TPixelFormat::pf15bit);
  EXPECT_EQ(c.Bits()[0], 0xFF31527Bu);

  // 1 bit: black or white by the nearer colour.
  TPlatformBitmap g;
  g.SetSize(3, 1);
  g.Bits()[0] = 0xFF202020u;
  g.Bits()[1] = 0xFFE0E0E0u;
  g.Bits()[2] = 0xFFFF0000u;
  g.SetPixelFormat(TPixelFormat::pf1bit);
  EXPECT_EQ(g.Bits()[0], 0xFF000000u);
  EXPECT_EQ(g.Bits()[1], 0xFFFFFFFFu);
  EXPECT_EQ(g.Bits()[2], 0xFF000000u);
  EXPECT_EQ(g.Palette(), (std::vector<uint32_t>{0xFF000000u, 0xFFFFFFFFu}));

  // 8 bits keeps an image of up to 256 colours exactly; more colours all
  // land on the palette.
  TPlatformBitmap few = Checker(16, 16);
  TPlatformBitmap fewCopy = few;
  few.SetPixelFormat(TPixelFormat::pf8bit);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(few.Bits()[i], fewCopy.Bits()[i] | 0xFF000000u);
  TPlatformBitmap many = Checker(17, 17);
  many.SetPixelFormat(TPixelFormat::pf8bit);
  ASSERT_LE(many.Palette().size(), 256u);
  for (int i = 0; i < 17 * 17; ++i)
    EXPECT_NE(std::find(many.Palette().begin(), many.Palette().end(), many.Bits()[i]), many.Palette().end());

  // Back to 32 bits changes nothing.
  TPlatformBitmap same = many;
  same.SetPixelFormat(TPixelFormat::pf32bit);
  EXPECT_TRUE(std::equal(same.Bits(), same.Bits() + 17 * 17, many.Bits()));
  EXPECT_TRUE(same.Palette().empty());
}

TEST(BitmapSize, ZeroFillsAndRefusesAbsurdSizes) {
  TPlatformBitmap b = Checker(3, 3);
  b.SetSize(2, 5);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.Height(), 5);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(b.Bits()[i], 0u);
  b.SetSize(0, 7);
  EXPECT_TRUE(b.Empty());
  EXPECT_THROW(b.SetSize(-1, 4), EOutOfResources);
  EXPECT_THROW(b.SetSize(1 << 21, 1), EOutOfResources);
  EXPECT_THROW(b.SetSize(1 << 20, 1 << 20), EOutOfResources);
  EXPECT_EQ(b.Height(), 7);  // a refused size keeps the old one
}
