// Camera raw: stand-in converters that record how they were started, and
// Debian's dcraw through the converter script on synthetic DNG files written
// here with libtiff (no preview, an RGB preview, a JPEG preview).
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "dng_writer.h"
#include "formats_test_util.h"
#include "img_loadfile.h"
#include "img_raw.h"
#include "platform_graphics.h"
#include "platform_jpeg.h"
#include "raw_image.h"

namespace {

struct TConverterFolder {
  explicit TConverterFolder(const std::string& Folder) { SetRawConverterFolder(Folder); }
  ~TConverterFolder() { SetRawConverterFolder(""); }
};

// A stand-in dcraw.cmd: logs its folder and arguments one per line, then
// runs Body (with $1.. as given).
void WriteConverter(const std::string& Folder, const std::string& Body) {
  const std::string Name = Folder + "/dcraw.cmd";
  std::ofstream(Name) << "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; echo --; } >> " << Folder
                      << "/log\n"
                      << Body << "\n";
  std::filesystem::permissions(Name, std::filesystem::perms::owner_all);
}

std::string ReadText(const std::string& Name) {
  std::ifstream in(Name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<uint8_t> Bytes(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }

}  // namespace

TEST(RawConverter, StartedByArgumentVectorWithAbsolutePathsInItsFolder) {
  TTempDir conv, work;
  // The full image is a 2 x 1 P6 whatever the file.
  WriteConverter(conv.path, "case \"$1\" in -i) exit 0;; /i) printf 'P6\\n2 1\\n255\\n\\001\\002\\003\\004\\005\\006' > \"$3\";; esac");
  TConverterFolder use(conv.path);
  // A name that looks like an option and holds a space and a shell separator.
  const std::string name = "-w x;touch pwned.nef";
  WriteFileBytes(work / name, {1, 2, 3});
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(work.path);
  TBoxes boxes;
  TBitmap32 b;
  const bool ok = LoadImageFile(name, b);
  std::filesystem::current_path(old);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0xFF010203u, 0xFF040506u}));
  EXPECT_EQ(boxes.Count(), 0u);
  const std::string abs = work / name;
  const std::string log = ReadText(conv / "log");
  const size_t tmpAt = log.find("[/i]\n[" + abs + "]\n[");
  ASSERT_NE(tmpAt, std::string::npos) << log;
  const size_t tmpStart = tmpAt + std::string("[/i]\n[" + abs + "]\n[").size();
  const std::string tmp = log.substr(tmpStart, log.find(']', tmpStart) - tmpStart);
  EXPECT_EQ(log, conv.path + "\n[-i]\n[" + abs + "]\n--\n" + conv.path + "\n[/i]\n[" + abs + "]\n[" + tmp + "]\n--\n");
  EXPECT_EQ(tmp.front(), '/');
  EXPECT_FALSE(std::filesystem::exists(tmp));  // the temporary file is gone
  EXPECT_FALSE(std::filesystem::exists(work / "pwned.nef"));
  EXPECT_FALSE(std::filesystem::exists(conv / "pwned.nef"));
  // Through a symbolic link a regular file is still one, and a pipe still
  // none: refused at once by both readers, the converter never asked.
  std::filesystem::create_symlink(abs, work / "link.nef");
  ASSERT_EQ(::mkfifo((work / "pipe").c_str(), 0600), 0);
  std::filesystem::create_symlink(work / "pipe", work / "pipe.nef");
  for (const std::string link : {"link.nef", "pipe.nef"}) {
    SCOPED_TRACE(link);
    const bool regular = link == "link.nef";
    TBitmap32 viaLink;
    EXPECT_EQ(LoadImageFile(work / link, viaLink), regular);
    EXPECT_EQ(viaLink.Width(), regular ? 2 : 0);
    TRAWImage pic;
    if (regular) {
      EXPECT_NO_THROW(pic.LoadFromFile(work / link));
    } else {
      EXPECT_THROW(pic.LoadFromFile(work / link), EFOpenError);
    }
    EXPECT_EQ(pic.Width(), regular ? 2 : 0);
  }
  EXPECT_NE(boxes.Last().Text.find("Is a named pipe"), std::string::npos) << boxes.Last().Text;
}

TEST(RawConverter, RefusalMissingConverterAndEmptyOutput) {
  TTempDir conv, none, work;
  WriteFileBytes(work / "a.nef", {1});
  struct {
    std::string Folder, Body;
    size_t Boxes;
  } cases[] = {
      {conv.path, "exit 1", 1},                              // refuses the file
      {none.path, "", 1},                                    // no converter at all
      {conv.path, "case \"$1\" in -i) exit 0;; esac", 0},    // converts to nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    if (!c.Body.empty()) WriteConverter(c.Folder, c.Body);
    TConverterFolder use(c.Folder);
    TBoxes boxes;
    TBitmap32 b;
    FillBitmap(b, 1, 1, {0xFF000000u});
    LoadRawImage(work / "a.nef", &b);
    EXPECT_TRUE(b.Empty());
    ASSERT_EQ(boxes.Count(), c.Boxes);
    if (c.Boxes) ExpectOneBox(boxes, "RAW image/format unrecognized !", "img_raw", MB_ICONHAND);
    // The picture class raises and keeps the picture it held.
    TRAWImage pic;
    pic.SetSize(3, 2);
    EXPECT_THROW(pic.LoadFromFile(work / "a.nef"), EInvalidGraphic);
    EXPECT_EQ(pic.Width(), 3);
    ASSERT_EQ(boxes.Count(), 2 * c.Boxes);
    if (c.Boxes) EXPECT_EQ(boxes.Last().Caption, "raw_image");
  }
}

TEST(RawDcraw, SyntheticDngThroughTheConverterScript) {
  TTempDir dir;
  TConverterFolder use(VEMRA_BIN_DIR);
  ASSERT_TRUE(WriteSyntheticDng(dir / "full.nef", 64, 48, TDngPreview::None));
  // The load equals dcraw's own development of the file.
  ASSERT_TRUE(RunTool("dcraw -c -w " + dir / "full.nef" + " > " + dir / "dcraw.ppm"));
  const TTestImage want = ReadPnm(dir / "dcraw.ppm");
  ASSERT_EQ(want.Width, 64);
  TBoxes boxes;
  TBitmap32 b;
  ASSERT_TRUE(LoadImageFile(dir / "full.nef", b));
  EXPECT_EQ(PixelsOf(b), want.Px);
  // Red on the right, blue at the bottom: the mosaic went the right way round.
  const uint32_t tl = b.Bits()[10 * 64 + 10], tr = b.Bits()[10 * 64 + 54], bl = b.Bits()[38 * 64 + 10];
  EXPECT_GT(RedOf(tr), RedOf(tl) + 60);
  EXPECT_GT(BlueOf(bl), BlueOf(tl) + 60);
  EXPECT_LT(std::abs(RedOf(bl) - RedOf(tl)), 20);
  EXPECT_EQ(boxes.Count(), 0u) << boxes.Last().Text;

  // A file dcraw does not know.
  WriteFileBytes(dir / "junk.nef", Bytes("not a raw file"));
  LoadImageFile(dir / "junk.nef", b);
  ExpectOneBox(boxes, "RAW image/format unrecognized !", "img_raw", MB_ICONHAND);
}

TEST(RawDcraw, PictureClassTakesThePreviewFirstThenTheFullImage) {
  TTempDir dir;
  TConverterFolder use(VEMRA_BIN_DIR);
  std::vector<uint8_t> rgb(16 * 12 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
  TJPEGImage jpegSource;
  {
    std::vector<uint32_t> px(16 * 12);
    for (int i = 0; i < 16 * 12; ++i) px[i] = 0xFF000000u | uint32_t(i * 5) << 16 | uint32_t(255 - i) << 8 | 77;
    jpegSource.SetPixels(16, 12, px.data());
  }
  const std::vector<uint8_t> jpeg = jpegSource.SaveToBytes();
  ASSERT_TRUE(WriteSyntheticDng(dir / "rgb.dng", 64, 48, TDngPreview::Rgb, rgb, 16, 12));
  ASSERT_TRUE(WriteSyntheticDng(dir / "jpeg.dng", 64, 48, TDngPreview::Jpeg, {}, 16, 12, jpeg));
  ASSERT_TRUE(WriteSyntheticDng(dir / "none.dng", 64, 48, TDngPreview::None));
  TBoxes boxes;

  TPicture pic;
  pic.LoadFromFile(dir / "rgb.dng");
  ASSERT_EQ(pic.Graphic()->ClassName(), "TRAWImage");
  auto* raw = static_cast<TRAWImage*>(pic.Graphic());
  ASSERT_EQ(raw->Width(), 16);
  for (int i = 0; i < 16 * 12; ++i)
    ASSERT_EQ(raw->Bits()[i] & 0xFFFFFFu, uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2]);

  // The JPEG preview decodes to what the same JPEG decodes to here.
  TJPEGImage decoded;
  decoded.LoadFromBytes(jpeg.data(), jpeg.size());
  TBitmap32 want;
  want.Assign(static_cast<const TGraphic*>(&decoded));
  TRAWImage fromJpeg;
  fromJpeg.LoadFromFile(dir / "jpeg.dng");
  ASSERT_EQ(fromJpeg.Width(), 16);
  for (int i = 0; i < 16 * 12; ++i) ASSERT_EQ(fromJpeg.Bits()[i] & 0xFFFFFFu, want.Bits()[i] & 0xFFFFFFu);

  // No preview: the full picture, as the bridge reads it.
  TRAWImage full;
  full.LoadFromFile(dir / "none.dng");
  TBitmap32 direct;
  LoadRawImage(dir / "none.dng", &direct);
  ASSERT_EQ(full.Width(), 64);
  for (int i = 0; i < 64 * 48; ++i) ASSERT_EQ(full.Bits()[i] & 0xFFFFFFu, direct.Bits()[i] & 0xFFFFFFu);
  EXPECT_EQ(boxes.Count(), 0u) << boxes.Last().Text;
}

TEST(RawDcraw, RegisteredForTheThirteenRawExtensions) {
  for (const char* ext : {"DNG", "CRW", "CR2", "RAF", "KDC", "NEF", "MRW", "ORF", "PTX", "PEF", "ARW", "X3F", "RAW"}) {
    const TPictureFormat* f = FindFileFormat(ext);
    ASSERT_NE(f, nullptr) << ext;
    EXPECT_EQ(f->GraphicClassName, "TRAWImage");
  }
  EXPECT_EQ(FindFileFormat("pef")->Description, "Pentax RAW Image");
  EXPECT_EQ(FindFileFormat("x3f")->Description, "Sigma RAW Image");
}
