// JPEG 2000 bridge and module: exact round trips of the lossless formats,
// the rate option against the file's size, files made by OpenJPEG's own
// tools and ImageMagick decoded against their sources, and a stand-in
// module for every failure path of the bridge.
#include <dlfcn.h>

#include <cmath>

#include "formats_test_util.h"
#include "img_j2k.h"
#include "img_loadfile.h"
#include "j2k_container.h"
#include "j2k_fake_state.h"
#include "platform_graphics.h"

namespace {

const std::string kBin = VEMRA_BIN_DIR;

// Points the bridge at a module folder for one test.
struct TModuleFolder {
  explicit TModuleFolder(const std::string& Folder) { SetJ2KModuleFolder(Folder); }
  ~TModuleFolder() { SetJ2KModuleFolder(""); }
};

// Keeps the stand-in module loaded (so its record of calls survives the
// bridge's unload) and sets its answer.
struct TFakeModule {
  explicit TFakeModule(const char* Mode) : folder(kBin + "/fake_j2k") {
    setenv("VEMRA_FAKE_J2K", Mode, 1);
    handle = dlopen((kBin + "/fake_j2k/" J2K_MODULE_FILE_NAME).c_str(), RTLD_NOW | RTLD_LOCAL);
    auto get = reinterpret_cast<TFakeJ2KState* (*)()>(dlsym(handle, "FakeJ2KState"));
    state = get();
    *state = TFakeJ2KState{};
  }
  ~TFakeModule() {
    unsetenv("VEMRA_FAKE_J2K");
    dlclose(handle);
  }
  TModuleFolder folder;
  void* handle = nullptr;
  TFakeJ2KState* state = nullptr;
};

int Worst(const TBitmap32& B, const TTestImage& Want) {
  if (B.Width() != Want.Width || B.Height() != Want.Height) return 999;
  int w = 0;
  for (size_t i = 0; i < Want.Px.size(); ++i)
    for (int s = 0; s < 32; s += 8)
      w = std::max(w, std::abs(int((B.Bits()[i] >> s) & 255) - int((Want.Px[i] >> s) & 255)));
  return w;
}

}  // namespace

TEST(J2KModule, LosslessFormatsRoundTripExactlyAndPeersAgree) {
  TModuleFolder folder(kBin);
  TTempDir dir;
  TBoxes boxes;
  TBitmap32 src;
  FillBitmap(src, 67, 41, NoisePixels(67 * 41, 9));
  for (const char* ext : {".jp2", ".j2k", ".jpc", ".pnm", ".ras"}) {
    for (int mode : {3, 1}) {
      SCOPED_TRACE(std::string(ext) + " mode " + std::to_string(mode));
      const std::string name = dir / (std::string("a") + ext);
      ASSERT_TRUE(SaveJ2KFile(name, &src, 0, mode));
      TTestImage want{67, 41, PixelsOf(src)};
      for (auto& p : want.Px) p = mode == 1 ? GrayArgb(IntensityOf(p)) : (p | 0xFF000000u);
      TBitmap32 back;
      ASSERT_TRUE(LoadImageFile(name, back));
      EXPECT_EQ(Worst(back, want), 0);
      // The peers read what the module wrote.
      const std::string peer = std::string(ext) == ".ras" || std::string(ext) == ".pnm"
                                   ? "convert " + name + " -depth 8 " + dir / "peer.ppm"
                                   : "opj_decompress -i " + name + " -o " + dir / "peer0.ppm" +
                                         " >/dev/null && convert " + dir / "peer0.ppm" + " -strip -depth 8 " +
                                         dir / "peer.ppm";
      if (mode == 3) {
        ASSERT_TRUE(RunTool(peer)) << peer;
        const TTestImage p = ReadPnm(dir / "peer.ppm");
        ASSERT_EQ(p.Px.size(), want.Px.size());
        size_t wrong = 0;
        for (size_t i = 0; i < p.Px.size(); ++i) wrong += (p.Px[i] | 0xFF000000u) != want.Px[i];
        EXPECT_EQ(wrong, 0u);
      }
    }
  }
  EXPECT_EQ(boxes.Count(), 0u) << boxes.Last().Text;
}

TEST(J2KModule, RateAQuarterGivesAFileNearAQuarterOfTheRawSize) {
  TModuleFolder folder(kBin);
  TTempDir dir;
  const TTestImage photo = MakePhotoLike(256, 192, 4);
  TBitmap32 src;
  FillBitmap(src, photo.Width, photo.Height, photo.Px);
  for (const char* ext : {".jp2", ".j2k"}) {
    SCOPED_TRACE(ext);
    const std::string name = dir / (std::string("q") + ext);
    ASSERT_TRUE(SaveJ2KFile(name, &src, 25, 3));
    const double raw = 256.0 * 192 * 3;
    const double size = static_cast<double>(ReadFileBytes(name).size());
    EXPECT_GT(size, 0.20 * raw);
    EXPECT_LE(size, 0.26 * raw);
    TBitmap32 back;
    LoadJ2KFile(name, &back);
    EXPECT_LE(Worst(back, TTestImage{256, 192, [&] {
                        auto px = photo.Px;
                        for (auto& p : px) p |= 0xFF000000u;
                        return px;
                      }()}),
              40);
  }
}

TEST(J2KModule, DecodesFilesMadeByOpenJpegToolsAndImageMagick) {
  TModuleFolder folder(kBin);
  TTempDir dir;
  TBoxes boxes;
  const TTestImage photo = MakePhotoLike(64, 48, 2);
  WritePpm(dir / "s.ppm", photo);
  TTestImage opaque = photo;
  for (auto& p : opaque.Px) p |= 0xFF000000u;

  // 16-bit samples: v * 257 scales back to exactly v.
  ASSERT_TRUE(RunTool("convert " + dir / "s.ppm" + " -depth 16 " + dir / "s16.ppm"));
  ASSERT_TRUE(RunTool("opj_compress -i " + dir / "s16.ppm" + " -o " + dir / "s16.jp2 >/dev/null"));
  TBitmap32 b;
  LoadJ2KFile(dir / "s16.jp2", &b);
  EXPECT_EQ(Worst(b, opaque), 0);

  // RGBA from four raw planes with an alpha ramp: alpha is kept.
  TTestImage rgba = photo;
  for (size_t i = 0; i < rgba.Px.size(); ++i) rgba.Px[i] = (rgba.Px[i] & 0xFFFFFFu) | uint32_t((i * 7) & 255) << 24;
  {
    std::vector<uint8_t> raw;
    for (int s : {16, 8, 0, 24})
      for (uint32_t p : rgba.Px) raw.push_back(static_cast<uint8_t>(p >> s));
    WriteFileBytes(dir / "a.raw", raw);
  }
  ASSERT_TRUE(RunTool("opj_compress -i " + dir / "a.raw" + " -F 64,48,4,8,u -mct 0 -o " + dir / "a.j2k >/dev/null"));
  LoadJ2KFile(dir / "a.j2k", &b);
  EXPECT_EQ(Worst(b, rgba), 0);

  // 4:2:0: full-size luma and half-size chroma planes, the expected colours
  // worked out here from the same planes with the BT.601 formulas.
  const int W = 64, H = 48;
  std::vector<uint8_t> planes;
  std::vector<double> Y(W * H), Cb(W / 2 * H / 2), Cr(W / 2 * H / 2);
  for (int i = 0; i < W * H; ++i) {
    const uint32_t p = photo.Px[i];
    Y[i] = std::lround(0.299 * ((p >> 16) & 255) + 0.587 * ((p >> 8) & 255) + 0.114 * (p & 255));
  }
  for (int y = 0; y < H / 2; ++y)
    for (int x = 0; x < W / 2; ++x) {
      const uint32_t p = photo.At(2 * x, 2 * y);
      const double r = (p >> 16) & 255, g = (p >> 8) & 255, bl = p & 255;
      Cb[y * W / 2 + x] = std::clamp<double>(std::lround(128 - 0.168736 * r - 0.331264 * g + 0.5 * bl), 0, 255);
      Cr[y * W / 2 + x] = std::clamp<double>(std::lround(128 + 0.5 * r - 0.418688 * g - 0.081312 * bl), 0, 255);
    }
  for (double v : Y) planes.push_back(static_cast<uint8_t>(v));
  for (double v : Cb) planes.push_back(static_cast<uint8_t>(v));
  for (double v : Cr) planes.push_back(static_cast<uint8_t>(v));
  WriteFileBytes(dir / "yuv.raw", planes);
  ASSERT_TRUE(RunTool("opj_compress -i " + dir / "yuv.raw" + " -F 64,48,3,8,u@1x1:2x2:2x2 -mct 0 -o " +
                      dir / "yuv.j2k >/dev/null"));
  TTestImage want{W, H, std::vector<uint32_t>(W * H)};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const double yy = Y[y * W + x], cb = Cb[(y / 2) * W / 2 + x / 2] - 128, cr = Cr[(y / 2) * W / 2 + x / 2] - 128;
      auto c = [](double v) { return static_cast<uint32_t>(std::clamp<double>(std::lround(v), 0, 255)); };
      want.Px[y * W + x] = 0xFF000000u | c(yy + 1.402 * cr) << 16 | c(yy - 0.344136 * cb - 0.714136 * cr) << 8 |
                           c(yy + 1.772 * cb);
    }
  LoadJ2KFile(dir / "yuv.j2k", &b);
  EXPECT_EQ(Worst(b, want), 0);

  // ImageMagick's own JPEG 2000 writer, lossless.
  ASSERT_TRUE(RunTool("convert " + dir / "s.ppm" + " -quality 0 " + dir / "im.jp2"));
  LoadJ2KFile(dir / "im.jp2", &b);
  EXPECT_EQ(Worst(b, opaque), 0);
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST(J2KModule, OwnReadersTakePnmMaxvalsCommentsAndSunRasterVariants) {
  TModuleFolder folder(kBin);
  TTempDir dir;
  auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  auto be32 = [](std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
  };
  std::vector<uint8_t> p16 = bytes("P6 # c\n2 1\n65535\n");
  for (int v : {0xFFFF, 0x0000, 0x8080, 0x0101, 0x7F7F, 0xFEFF}) p16.push_back(v >> 8), p16.push_back(v & 255);
  // Maximum 7: (3 x 255 + 3) / 7 = 109.
  std::vector<uint8_t> p5 = bytes("P5\n#x\n3 1 7\n");
  for (int v : {0, 7, 3}) p5.push_back(static_cast<uint8_t>(v));
  // 2 x 2, depth 8 with a 2-entry colour map, byte-encoded: 0x80 1 1 gives
  // two ones, then a 0x80 0 escape stands for index 128 (clamped to entry 1).
  std::vector<uint8_t> rle;
  for (uint32_t v : {0x59A66A95u, 2u, 2u, 8u, 0u, 2u, 1u, 6u}) be32(rle, v);
  for (int v : {10, 20, 30, 40, 50, 60}) rle.push_back(static_cast<uint8_t>(v));  // reds, greens, blues
  for (int v : {0x80, 1, 1, 0x80, 0, 0}) rle.push_back(static_cast<uint8_t>(v));
  struct {
    const char* Name;
    std::vector<uint8_t> File;
    std::vector<TColor32> Want;
  } cases[] = {
      {"p16.pnm", p16, {0xFFFF0080u, 0xFF017FFEu}},
      {"p5.pnm", p5, {0xFF000000u, 0xFFFFFFFFu, 0xFF6D6D6Du}},
      // Entry 1 of the map is red 20, green 40, blue 60; entry 0 is 10, 30, 50.
      {"rle.ras", rle, {0xFF14283Cu, 0xFF14283Cu, 0xFF14283Cu, 0xFF0A1E32u}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFileBytes(dir / c.Name, c.File);
    TBitmap32 b;
    LoadJ2KFile(dir / c.Name, &b);
    EXPECT_EQ(PixelsOf(b), c.Want);
  }
}

TEST(J2KModule, FailedWritesLeaveNoFileBehind) {
  TModuleFolder folder(kBin);
  TTempDir dir;
  TBitmap32 src;
  FillBitmap(src, 300, 200, NoisePixels(60000, 1));
  const std::string target = dir / "keep.pnm";
  WriteFileBytes(target, {9, 9});
  {
    TFileSizeLimit limit(1000);
    EXPECT_THROW(SaveJ2KFile(target, &src, 0, 3), EInvalidGraphicOperation);
  }
  EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{9, 9}));
  EXPECT_THROW(SaveJ2KFile(dir / "no/folder/x.jp2", &src, 0, 3), EInvalidGraphicOperation);
  EXPECT_THROW(SaveJ2KFile(dir / "x.bmp", &src, 0, 3), EInvalidGraphicOperation);
  EXPECT_EQ(FolderEntries(dir.path), (std::vector<std::string>{"keep.pnm"}));
}

TEST(J2KBridge, StandInModuleSeesTheRecordTheBridgeFills) {
  TFakeModule fake("record");
  TTempDir dir;
  TBitmap32 b;
  FillBitmap(b, 2, 1, {0x80FF0000u, 0xFF102030u});
  struct {
    const char* Name;
    int32_t Rate, Mode;
    const char* Format;
    const char* Options;
  } cases[] = {
      {"photo.j2k", 0, 3, "J2K", "(null)"},   {"photo.PNM", 100, 3, "PNM", "rate=1"},
      {"a.b.jp2", 25, 1, "JP2", "rate=0.25"}, {"x.jpeg2", 5, 3, "JPE", "rate=0.05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_TRUE(SaveJ2KFile(dir / c.Name, &b, c.Rate, c.Mode));
    EXPECT_STREQ(fake.state->Format, c.Format);
    EXPECT_STREQ(fake.state->Options, c.Options);
    const TImageContainer& s = fake.state->Saved;
    EXPECT_EQ(s.Width, 2);
    EXPECT_EQ(s.Height, 1);
    if (c.Mode == 1) {
      // Grey is the intensity: pure red gives (255 x 61) shr 8 = 60.
      EXPECT_EQ(s.PixelType, 17);
      EXPECT_EQ(s.BytesPerRow, 2);
      EXPECT_EQ(fake.state->SavedBytes[0], 60);
      EXPECT_EQ(fake.state->SavedBytes[1], IntensityOf(0xFF102030u));
    } else {
      EXPECT_EQ(s.PixelType, 3);
      EXPECT_EQ(s.BytesPerRow, 6);
      EXPECT_EQ(std::vector<int>(fake.state->SavedBytes, fake.state->SavedBytes + 6),
                (std::vector<int>{0, 0, 255, 0x30, 0x20, 0x10}));
    }
  }
}

TEST(J2KBridge, EveryPixelTypeAndEveryFailureFreesAndUnloads) {
  TTempDir dir;
  WriteFileBytes(dir / "x.jp2", {1});
  WriteFileBytes(dir / "x.pnm", {1});
  struct {
    const char* Mode;
    std::vector<TColor32> Want;  // empty: the load fails
    const char* Error;
  } cases[] = {
      {"record", {0xFF030201u, 0xFF060504u}, ""},
      {"grey1", {0xFF0A0A0Au, 0xFFC8C8C8u}, ""},
      {"grey17", {0xFF0A0A0Au, 0xFFC8C8C8u}, ""},
      {"bgra", {0x28030201u, 0x50070605u}, ""},
      {"planes", {0xFF030201u, 0xFF060504u}, ""},
      {"bad_type", {}, "unsupported Bitmap format"},
      {"type35", {}, "unsupported Bitmap format"},
      {"load_fails", {}, "error in Bitmap data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Mode);
    TFakeModule fake(c.Mode);
    TBoxes boxes;
    TBitmap32 b;
    FillBitmap(b, 1, 1, {0x12345678u});
    if (c.Want.empty()) {
      try {
        LoadJ2KFile(dir / "x.jp2", &b);
        ADD_FAILURE() << "no exception";
      } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), c.Error);
      }
      EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0x12345678u}));
    } else {
      // ".pnm" goes to the module, not to the Netpbm reader.
      ASSERT_TRUE(LoadImageFile(dir / "x.pnm", b));
      EXPECT_EQ(PixelsOf(b), c.Want);
    }
    EXPECT_EQ(fake.state->Loads, 1);
    EXPECT_EQ(fake.state->Live, 0);
    EXPECT_EQ(fake.state->Frees, std::string(c.Mode) == "load_fails" ? 0 : 1);
    EXPECT_EQ(boxes.Count(), 0u);
  }
  // A module that fails, or says it did well and wrote nothing: the file
  // there before stays.
  for (const char* mode : {"save_fails", "save_empty"}) {
    SCOPED_TRACE(mode);
    TFakeModule fake(mode);
    TBitmap32 b;
    FillBitmap(b, 1, 1, {0xFF000000u});
    WriteFileBytes(dir / "y.jp2", {1, 2, 3});
    try {
      SaveJ2KFile(dir / "y.jp2", &b, 0, 3);
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidGraphicOperation& e) {
      EXPECT_EQ(e.Message(), "Error writing image file");
    }
    EXPECT_EQ(ReadFileBytes(dir / "y.jp2"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(fake.state->Saves, 1);
  }
  try {
    TBitmap32 b;
    LoadJ2KFile(dir / "missing.jp2", &b);
    ADD_FAILURE() << "no exception";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message(), "jpeg2000 image file does not exist");
  }
}

TEST(J2KBridge, MissingOrIncompleteModuleIsReportedInABox) {
  TTempDir dir;
  WriteFileBytes(dir / "x.jp2", {1});
  for (const std::string& folder : {dir.path, kBin + "/noexport_j2k"}) {
    SCOPED_TRACE(folder);
    TModuleFolder use(folder);
    TBoxes boxes;
    TBitmap32 b;
    FillBitmap(b, 1, 1, {0x12345678u});
    LoadJ2KFile(dir / "x.jp2", &b);
    ExpectOneBox(boxes, "JPEG 2000 library " + folder + "/" J2K_MODULE_FILE_NAME " cannot be loaded", "img_j2k",
                 MB_ICONHAND);
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0x12345678u}));
    EXPECT_FALSE(SaveJ2KFile(dir / "out.jp2", &b, 0, 3));
    EXPECT_EQ(boxes.Count(), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.jp2"));
    // The open command does not take the name of a file it could not read.
    TBitmap32 empty;
    EXPECT_FALSE(LoadImageFile(dir / "x.jp2", empty));
  }
}

TEST(J2KPicture, RegisteredForTheThreeJpeg2000Extensions) {
  TModuleFolder folder(kBin);
  TTempDir dir;
  for (const char* ext : {"JP2", "J2K", "JPC"}) {
    const TPictureFormat* f = FindFileFormat(ext);
    ASSERT_NE(f, nullptr) << ext;
    EXPECT_EQ(f->GraphicClassName, "TJ2KObject");
  }
  EXPECT_EQ(FindFileFormat("jp2")->Description, "JPEG 2000 (jp2) Image File");
  EXPECT_EQ(FindFileFormat("jpc")->Description, "JPEG 2000 (code-stream) Image File");
  TBitmap32 src;
  FillBitmap(src, 5, 4, NoisePixels(20, 3));
  ASSERT_TRUE(SaveJ2KFile(dir / "p.jp2", &src, 0, 3));
  TPicture pic;
  pic.LoadFromFile(dir / "p.jp2");
  auto* j = dynamic_cast<TJ2KObject*>(pic.Graphic());
  ASSERT_NE(j, nullptr);
  ASSERT_EQ(j->Width(), 5);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(j->Bits()[i] & 0xFFFFFFu, src.Bits()[i] & 0xFFFFFFu);
}
