// Frames made from bitmaps (the import rules, transparency), their rendering
// with mask and scaling, and the editor's LoadGIF / SaveGIF checked by giflib
// and Pillow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "gif_image.h"
#include "gif_peer.h"
#include "gif_reduce.h"
#include "img_gif.h"
#include "img_loadfile.h"
#include "platform_icon.h"
#include "png_image.h"
#include "raster_core.h"
#include "test_startup.h"

namespace {

std::string TempDir() {
  const auto d = std::filesystem::temp_directory_path() / ("gif_bridge_" + std::to_string(::getpid()));
  std::filesystem::create_directories(d);
  return d.string();
}

std::vector<uint8_t> ReadFile(const std::string& Name) {
  std::ifstream f(Name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string ErrorOf(const std::function<void()>& Fn) {
  try {
    Fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// A picture of N distinct colours, pixel i of colour i mod N.
TPlatformBitmap Distinct(int W, int H, int N) {
  TPlatformBitmap b;
  b.SetSize(W, H);
  for (int i = 0; i < W * H; ++i) b.Bits()[i] = 0xFF000000u | uint32_t(i % N) * 0x010203u;
  return b;
}

}  // namespace

TEST(GifFrames, ImportRulesForEachDepth) {
  VemraTestStartup();
  // Palette bitmaps take their table; each pixel names its entry.
  for (TPixelFormat pf : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit}) {
    SCOPED_TRACE(int(pf));
    const int n = pf == TPixelFormat::pf1bit ? 2 : pf == TPixelFormat::pf4bit ? 16 : 256;
    std::vector<uint32_t> pal;
    for (int i = 0; i < n; ++i) pal.push_back(0xFF000000u | uint32_t(i * 7 % 256) << 16 | uint32_t(255 - i) << 8 | 9);
    TPlatformBitmap b;
    b.SetPixelFormat(pf);
    b.SetPalette(pal);
    b.SetSize(13, 7);
    for (int i = 0; i < 91; ++i) b.Bits()[i] = pal[size_t(i * 5 % n)];
    TGIFImage gif;
    gif.Assign(static_cast<const TGraphic&>(b));
    const TGIFSubImage& f = *gif.Images().Item(0);
    ASSERT_EQ(f.ColorMap().Count(), n);
    for (int i = 0; i < 91; ++i) ASSERT_EQ(f.Data()[i], i * 5 % n);
  }
  // 24 bits without reduction: the colours themselves, up to 256 of them.
  TGIFImage gif;
  gif.ColorReduction = ReduceOff;
  gif.Assign(static_cast<const TGraphic&>(Distinct(16, 16, 256)));
  ASSERT_EQ(gif.Images().Item(0)->ColorMap().Count(), 256);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(gif.Images().Item(0)->ColorMap().Color(gif.Images().Item(0)->Data()[i]).Blue, uint8_t(i * 3));
  EXPECT_EQ(ErrorOf([&] { gif.Assign(static_cast<const TGraphic&>(Distinct(257, 1, 257))); }), "Color table overflow");
  // 24 bits reduced (the default web cube): 216 entries, the cube rule per pixel.
  TGIFImage web;
  const TPlatformBitmap photo = Distinct(40, 30, 1000);
  web.Assign(static_cast<const TGraphic&>(photo));
  const TGIFSubImage& f = *web.Images().Item(0);
  ASSERT_EQ(f.ColorMap().Count(), 216);
  for (int i = 0; i < 1200; ++i) {
    const uint32_t c = photo.Bits()[i];
    const int want = int(((c >> 16 & 255) + 3) / 51 * 36 + ((c >> 8 & 255) + 3) / 51 * 6 + ((c & 255) + 3) / 51);
    ASSERT_EQ(f.Data()[i], want) << i;
  }
  // A reduction that makes no rows is refused, not imported.
  web.ColorReduction = 42;
  EXPECT_EQ(ErrorOf([&] { web.Assign(static_cast<const TGraphic&>(photo)); }), "Image has no DIB");
}

TEST(GifFrames, TransparentBitmapGetsABlackEntryAndAControlBlock) {
  VemraTestStartup();
  TPlatformBitmap b = Distinct(10, 10, 5);
  b.SetTransparent(true);
  const uint32_t key = b.Bits()[3];  // colour 3: 0x030609
  b.SetTransparentColor(int32_t((key & 255) << 16 | (key & 0xFF00) | (key >> 16 & 255)));
  TGIFImage gif;
  gif.ColorReduction = ReduceOff;
  gif.Assign(static_cast<const TGraphic&>(b));
  TGIFSubImage& f = *gif.Images().Item(0);
  ASSERT_EQ(f.ColorMap().Count(), 6);
  EXPECT_EQ(f.ColorMap().Color(5), TGIFColor{});
  ASSERT_NE(f.GraphicControlExtension(), nullptr);
  EXPECT_TRUE(f.GraphicControlExtension()->Transparent());
  EXPECT_EQ(f.GraphicControlExtension()->TransparentColorIndex(), 5);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(f.Data()[i] == 5, i % 5 == 3);
  // The mask marks those pixels; a transparent draw leaves them alone.
  const std::vector<uint8_t>& m = f.Mask();
  ASSERT_EQ(m.size(), 2u * 10);
  TPixelSurface s;
  std::vector<uint32_t> px(100, 0xFF123456u);
  s.Bits = px.data();
  s.Width = s.Height = 10;
  f.Draw(s, {0, 0, 10, 10}, true, false);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(bool(m[size_t(i / 10 * 2 + (i % 10) / 8)] & (0x80 >> (i % 10 % 8))), i % 5 == 3);
    ASSERT_EQ(px[size_t(i)], i % 5 == 3 ? 0xFF123456u : b.Bits()[i]) << i;
  }
  // Dithered for display, the key's colour spreads no error: whatever it is,
  // the shown pixels come out the same.
  const TGIFColor shown[] = {{120, 80, 200}, {33, 170, 90}, {240, 10, 130}, {75, 75, 75}, {160, 120, 20}};
  for (int i = 0; i < 5; ++i) f.ColorMap().SetColor(i, shown[i]);
  gif.DrawOptions = static_cast<uint16_t>(gif.DrawOptions & ~goAutoDither);
  ASSERT_TRUE(gif.DoDither());
  std::vector<uint32_t> first;
  for (const TGIFColor key : {TGIFColor{30, 200, 77}, TGIFColor{0, 0, 0}}) {
    f.ColorMap().SetColor(5, key);
    f.FreeBitmap();
    std::vector<uint32_t> got;
    for (int i = 0; i < 100; ++i)
      if (i % 5 != 3) got.push_back(f.Bitmap().Bits()[i]);
    if (first.empty())
      first = got;
    else
      EXPECT_EQ(got, first);
  }
  // A full table has no room: no entry, no control block.
  TPlatformBitmap full = Distinct(16, 16, 256);
  full.SetTransparent(true);
  TGIFImage g2;
  g2.ColorReduction = ReduceOff;
  g2.Assign(static_cast<const TGraphic&>(full));
  EXPECT_EQ(g2.Images().Item(0)->ColorMap().Count(), 256);
  EXPECT_EQ(g2.Images().Item(0)->GraphicControlExtension(), nullptr);
}

// A drawn picture: a blue 2 x 2 square in the middle of its area and one
// black pixel in the top-left corner; the rest it leaves as it was. As a
// transparent graphic it says nothing of where it is transparent.
template <class TBase>
class TSquareDrawing : public TBase {
 public:
  std::string ClassName() const override { return "TSquareDrawing"; }
  int32_t Width() const override { return 4; }
  int32_t Height() const override { return 4; }
  void Draw(TPixelSurface& S, const TPlatformRect& D) const override {
    S.Bits[size_t(D.Top) * size_t(S.Width) + size_t(D.Left)] = 0xFF000000u;
    for (int y = 1; y < 3; ++y)
      for (int x = 1; x < 3; ++x) S.Bits[size_t(D.Top + y) * size_t(S.Width) + size_t(D.Left + x)] = 0xFF3366CCu;
  }
  void LoadFromStream(TStream&) override {}
};

TEST(GifFrames, IconsAndDrawnPicturesBringTheirTransparency) {
  VemraTestStartup();
  // An icon of cube colours with a transparent column and a transparent corner.
  std::vector<uint32_t> argb(16);
  for (int i = 0; i < 16; ++i)
    argb[size_t(i)] =
        (i % 4 == 2 || i == 15) ? 0u : 0xFF000000u | uint32_t(i % 3) * 0x330000u | uint32_t(i % 5) * 0x33u;
  TIcon icon;
  icon.SetPixels(4, 4, argb.data());
  TSquareDrawing<TTransparentGraphic> drawing;
  TSquareDrawing<TGraphic> opaque;
  // Expected per pixel: 0 transparent, else the opaque colour.
  std::vector<uint32_t> iconWant(argb), drawingWant(16, 0u), opaqueWant(16, 0xFF000000u);
  for (int i : {5, 6, 9, 10}) drawingWant[size_t(i)] = opaqueWant[size_t(i)] = 0xFF3366CCu;
  drawingWant[0] = 0xFF000000u;  // drawn black is not the background
  // A PNG with a single transparent colour (green) keeps it through a bitmap.
  TPlatformBitmap keyed;
  keyed.SetPixelFormat(TPixelFormat::pf24bit);
  keyed.SetSize(4, 4);
  std::vector<uint32_t> pngWant(16);
  for (int i = 0; i < 16; ++i) {
    keyed.Bits()[i] = i % 4 == 1 ? 0xFF00FF00u : 0xFF000000u | uint32_t(i % 3) * 0x330000u | 0x99u;
    pngWant[size_t(i)] = i % 4 == 1 ? 0u : keyed.Bits()[i];
  }
  keyed.SetTransparent(true);
  keyed.SetTransparentColor(0x0000FF00);
  TPNGObject png;
  png.Assign(keyed);
  struct TCase {
    const char* Name;
    const TGraphic* Source;
    const std::vector<uint32_t>* Want;
  } cases[] = {
      {"icon", &icon, &iconWant}, {"drawing", &drawing, &drawingWant}, {"opaque drawing", &opaque, &opaqueWant},
      {"png", &png, &pngWant}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TGIFImage gif;
    gif.ColorReduction = ReduceOff;
    gif.Assign(*c.Source);
    ASSERT_EQ(gif.Images().Count(), 1);
    TGIFSubImage& f = *gif.Images().Item(0);
    ASSERT_EQ(f.Width(), 4);
    const bool anyClear = std::count(c.Want->begin(), c.Want->end(), 0u) > 0;
    const TGIFGraphicControlExtension* g = f.GraphicControlExtension();
    ASSERT_EQ(g != nullptr, anyClear);
    EXPECT_EQ(f.Transparent(), anyClear);
    for (int i = 0; i < 16; ++i) {
      const uint8_t idx = f.Data()[i];
      const uint32_t want = (*c.Want)[size_t(i)];
      if (want == 0) {
        EXPECT_EQ(idx, g->TransparentColorIndex()) << i;
      } else {
        EXPECT_TRUE(!g || idx != g->TransparentColorIndex()) << i;
        const TGIFColor col = f.ActiveColorMap().Color(idx);
        EXPECT_EQ(0xFF000000u | uint32_t(col.Red) << 16 | uint32_t(col.Green) << 8 | col.Blue, want) << i;
      }
    }
  }
  // A picture object hands over its graphic; an empty one clears the frame.
  TGIFImage gif;
  TGIFSubImage f(&gif);
  TPicture picture;
  picture.SetGraphic(std::make_unique<TSquareDrawing<TTransparentGraphic>>());
  f.Assign(picture);
  EXPECT_TRUE(f.Transparent());
  f.Assign(TPicture());
  EXPECT_TRUE(f.Empty());
}

TEST(GifFrames, ScaledTiledAndDitheredRendering) {
  VemraTestStartup();
  TGIFImage gif;
  gif.Header().Width = 100;
  gif.Header().Height = 50;
  auto frame = std::make_unique<TGIFSubImage>(&gif);
  TGIFSubImage& f = *frame;
  gif.Add(std::move(frame));
  f.ColorMap().Add({255, 0, 0});
  f.ColorMap().Add({0, 0, 255});
  f.SetBounds(10, 5, 20, 10);
  for (int x = 0; x < 20; ++x) f.SetPixels(x, 0, 1);
  EXPECT_EQ(ErrorOf([&] { f.Pixels(20, 0); }), "Invalid pixel coordinates");
  const TPlatformRect r = f.ScaledRect({0, 0, 200, 100});
  EXPECT_EQ(r.Left, 20);
  EXPECT_EQ(r.Top, 10);
  EXPECT_EQ(r.Right, 60);
  EXPECT_EQ(r.Bottom, 30);
  std::vector<uint32_t> px(200 * 100, 0);
  TPixelSurface s{px.data(), 200, 100};
  f.Draw(s, {0, 0, 200, 100}, false, false);
  EXPECT_EQ(px[10 * 200 + 20], 0xFF0000FFu);  // row 0 of the frame, blue
  EXPECT_EQ(px[11 * 200 + 59], 0xFF0000FFu);
  EXPECT_EQ(px[12 * 200 + 60], 0u);
  EXPECT_EQ(px[29 * 200 + 20], 0xFFFF0000u);
  EXPECT_EQ(px[30 * 200 + 20], 0u);
  // Tiled at its own size every screen width and height.
  std::fill(px.begin(), px.end(), 0);
  f.Draw(s, {0, 0, 200, 100}, false, true);
  for (int ty : {5, 55})
    for (int tx : {10, 110}) {
      EXPECT_EQ(px[size_t(ty * 200 + tx)], 0xFF0000FFu);
      EXPECT_EQ(px[size_t((ty + 9) * 200 + tx + 19)], 0xFFFF0000u);
      EXPECT_EQ(px[size_t((ty + 10) * 200 + tx)], 0u);
    }
  // Dithered for display: web palette, Floyd-Steinberg onto the cube.
  gif.DrawOptions = static_cast<uint16_t>(gif.DrawOptions & ~goAutoDither);
  f.ColorMap().SetColor(0, {100, 100, 100});
  f.FreeBitmap();
  const TPlatformBitmap& d = f.Bitmap();
  EXPECT_EQ(d.Palette(), WebPalette());
  double mean = 0;
  for (int y = 1; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      const uint32_t c = d.ScanLine(y)[x];
      ASSERT_EQ((c >> 16 & 255) % 51, 0u);
      mean += c & 255;
    }
  EXPECT_NEAR(mean / 180, 100, 4);
}

TEST(GifBridge, SaveGIFWritesOneWebCubeFrameThatPeersRead) {
  VemraTestStartup();
  const std::string dir = TempDir();
  TBitmap32 src;
  src.SetSize(67, 23);
  uint32_t s = 11;
  for (int i = 0; i < 67 * 23; ++i) {
    s = s * 1664525u + 1013904223u;
    src.Bits()[i] = (s & 0x7F000000u) | ((s >> 4) & 0xFFFFFFu);  // alpha is dropped
  }
  src.Bits()[0] = 0xFF191A30u;  // 25, 26, 48: levels 0, 0, 1
  const std::string plain = dir + "/plain.gif", dithered = dir + "/dithered.gif";
  SaveGIF(plain, &src, false);
  SaveGIF(dithered, &src, true);
  const std::vector<uint8_t> bytes = ReadFile(plain);
  ASSERT_GT(bytes.size(), 13u + 10 + 768 + 2);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF87a");
  EXPECT_EQ(bytes[6] | bytes[7] << 8, 67);
  EXPECT_EQ(bytes[8] | bytes[9] << 8, 23);
  EXPECT_EQ(bytes[10], 0x77);
  EXPECT_EQ(bytes[13], 0x2C);
  EXPECT_EQ(bytes[22], 0x87);
  EXPECT_EQ(bytes[23 + 768], 8);
  EXPECT_EQ(bytes.back(), 0x3B);
  const TPeerGif peer = GiflibSlurp(bytes);
  ASSERT_TRUE(peer.Ok);
  ASSERT_EQ(peer.Frames.size(), 1u);
  EXPECT_EQ(peer.Frames[0].TransparentIndex, -1);
  const std::vector<uint8_t>& map = peer.Frames[0].LocalMap;
  ASSERT_EQ(map.size(), 768u);
  for (int i = 0; i < 256; ++i) {
    const int want[3] = {i < 216 ? i / 36 * 51 : 0, i < 216 ? i / 6 % 6 * 51 : 0, i < 216 ? i % 6 * 51 : 0};
    for (int c = 0; c < 3; ++c) ASSERT_EQ(map[size_t(i * 3 + c)], want[c]) << i;
  }
  for (int i = 0; i < 67 * 23; ++i) {
    const uint32_t c = src.Bits()[i];
    ASSERT_EQ(peer.Frames[0].Pixels[size_t(i)],
              ((c >> 16 & 255) + 3) / 51 * 36 + ((c >> 8 & 255) + 3) / 51 * 6 + ((c & 255) + 3) / 51);
  }
  EXPECT_EQ(peer.Frames[0].Pixels[0], 1);
  // Pillow reads the same indices from both files.
  const auto pil = PillowIndices({plain, dithered});
  EXPECT_EQ(pil[0], peer.Frames[0].Pixels);
  const TPeerGif dpeer = GiflibSlurp(ReadFile(dithered));
  ASSERT_TRUE(dpeer.Ok);
  EXPECT_EQ(pil[1], dpeer.Frames[0].Pixels);
  EXPECT_NE(dpeer.Frames[0].Pixels, peer.Frames[0].Pixels);
  // And LoadGIF reads back the cube colours, opaque.
  TBitmap32 back;
  LoadGIF(plain, &back);
  ASSERT_EQ(back.Width(), 67);
  for (int i = 0; i < 67 * 23; ++i) {
    const uint8_t k = peer.Frames[0].Pixels[size_t(i)];
    ASSERT_EQ(back.Bits()[i], 0xFF000000u | uint32_t(k / 36 * 51) << 16 | uint32_t(k / 6 % 6 * 51) << 8 | (k % 6 * 51));
  }
  // A 1 x 1 picture is a valid file; 65536 columns would wrap the 16-bit field.
  TBitmap32 one;
  one.SetSize(1, 1);
  SaveGIF(dir + "/one.gif", &one, false);
  EXPECT_TRUE(GiflibSlurp(ReadFile(dir + "/one.gif")).Ok);
  TBitmap32 wide;
  wide.SetSize(65536, 1);
  EXPECT_EQ(ErrorOf([&] { SaveGIF(dir + "/wide.gif", &wide, false); }), "Invalid image dimensions");
  EXPECT_FALSE(std::filesystem::exists(dir + "/wide.gif"));
  std::filesystem::remove_all(dir);
}

TEST(GifBridge, LoadGIFTakesTheFirstFrameOnTheScreenOpaque) {
  VemraTestStartup();
  const std::string dir = TempDir();
  // Screen 6 x 4, global table (black, white, red, green); frame 1 at (2, 1)
  // of 3 x 2 with transparent index 2; frame 2 covers everything.
  TGIFImage gif;
  gif.Header().Width = 6;
  gif.Header().Height = 4;
  for (TGIFColor c : {TGIFColor{0, 0, 0}, TGIFColor{255, 255, 255}, TGIFColor{255, 0, 0}, TGIFColor{0, 255, 0}})
    gif.GlobalColorMap().Add(c);
  auto f1 = std::make_unique<TGIFSubImage>(&gif);
  TGIFSubImage* p1 = f1.get();
  gif.Add(std::move(f1));
  p1->SetBounds(2, 1, 3, 2);
  for (int i = 0; i < 6; ++i) p1->Data()[i] = uint8_t(i % 3 + 1);
  auto gce = std::make_unique<TGIFGraphicControlExtension>(p1);
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(2);
  p1->Extensions().Add(std::move(gce));
  auto f2 = std::make_unique<TGIFSubImage>(&gif);
  TGIFSubImage* p2 = f2.get();
  gif.Add(std::move(f2));
  p2->SetBounds(0, 0, 6, 4);
  std::fill(p2->Data(), p2->Data() + 24, uint8_t(3));
  gif.SaveToFile(dir + "/anim.gif");
  TBitmap32 b;
  ASSERT_TRUE(LoadImageFile(dir + "/anim.gif", b));
  ASSERT_EQ(b.Width(), 6);
  ASSERT_EQ(b.Height(), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      uint32_t want = 0xFF000000u;  // uncovered: entry 0
      if (y >= 1 && y < 3 && x >= 2 && x < 5) {
        const int k = (y - 1) * 3 + (x - 2);
        want = k % 3 == 0 ? 0xFFFFFFFFu : k % 3 == 1 ? 0xFFFF0000u : 0xFF00FF00u;  // red stays opaque
      }
      EXPECT_EQ(b.GetPixel(x, y), want) << x << "," << y;
    }
  // A broken file leaves the bitmap as it was.
  std::ofstream(dir + "/bad.gif") << "GIF89a";
  EXPECT_THROW(LoadGIF(dir + "/bad.gif", &b), std::exception);
  EXPECT_EQ(b.Width(), 6);
  std::filesystem::remove_all(dir);
}
