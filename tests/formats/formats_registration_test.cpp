// The picture classes of the formats register at start-up in a fixed order
// after the built-in classes and unregister in the reverse order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "formats_startup.h"
#include "raster_core.h"
#include "platform_graphics.h"

namespace {

// The classes of this test, in registry order; the classes of other format
// units take their places between them and are left out here.
bool Known(const std::string& Class) {
  for (const char* k : {"TBitmap", "TIcon", "TJPEGImage", "TPNGObject", "TGIFImage", "TPXMImage", "TZUBImage"})
    if (Class == k) return true;
  return false;
}

std::vector<std::string> RegisteredClasses() {
  std::vector<std::string> names;
  for (const TPictureFormat& f : RegisteredFileFormats())
    if (Known(f.GraphicClassName) && (names.empty() || names.back() != f.GraphicClassName))
      names.push_back(f.GraphicClassName);
  return names;
}

std::vector<std::string> Extensions() {
  std::vector<std::string> e;
  for (const TPictureFormat& f : RegisteredFileFormats())
    if (Known(f.GraphicClassName)) e.push_back(f.Extension);
  return e;
}

}  // namespace

TEST(FormatRegistration, StartUpOrderAndReverseShutDown) {
  RegisterFormatPictureClasses();
  RegisterFormatPictureClasses();  // a second start-up adds nothing
  const std::vector<std::string> ext = Extensions();
  const std::vector<std::string> expected = {"bmp", "ico", "jpeg", "jpg", "PNG", "GIF", "PPM", "PGM", "PNM", "ZUB"};
  ASSERT_EQ(ext, expected);
  EXPECT_EQ(RegisteredClasses(),
            std::vector<std::string>(
                {"TBitmap", "TIcon", "TJPEGImage", "TPNGObject", "TGIFImage", "TPXMImage", "TZUBImage"}));

  UnregisterFormatPictureClasses();
  EXPECT_EQ(RegisteredClasses(), std::vector<std::string>({"TBitmap", "TIcon", "TJPEGImage"}));
  EXPECT_EQ(FindFileFormat("zub"), nullptr);
  EXPECT_EQ(FindFileFormat("pgm"), nullptr);
  EXPECT_EQ(FindFileFormat("gif"), nullptr);
  RegisterFormatPictureClasses();
  EXPECT_EQ(Extensions(), expected);
  ASSERT_NE(FindFileFormat(".Zub"), nullptr);
  EXPECT_EQ(FindFileFormat(".Zub")->Create()->ClassName(), "TZUBImage");
  ASSERT_NE(FindFileFormat("Gif"), nullptr);
  EXPECT_EQ(FindFileFormat("Gif")->Description, "GIF Image");
}

// A bitmap loading a file takes the pixels straight from the BMP and JPEG
// classes only; classes built on them read their files their own way. A BMP
// file under every registered extension loads into a bitmap exactly as the
// extension's class, loaded and assigned, gives it (or fails the same way).
TEST(FormatRegistration, BitmapLoadFollowsTheExtensionsClass) {
  RegisterFormatPictureClasses();
  const std::string dir = testing::TempDir() + "/vemra-regload";
  std::filesystem::create_directories(dir);
  TPlatformBitmap bmp;
  bmp.SetSize(7, 6);
  for (int32_t i = 0; i < 42; ++i) bmp.Bits()[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x050301);
  bmp.SetPixelFormat(TPixelFormat::pf24bit);
  int loaded = 0;
  for (const TPictureFormat& f : RegisteredFileFormats()) {
    const std::string name = dir + "/x." + f.Extension;
    bmp.SaveToFile(name);
    TBitmap32 direct, assigned;
    std::string directError = "-", assignError = "-";
    try {
      direct.LoadFromFile(name);
    } catch (const std::exception& e) {
      directError = e.what();
    }
    try {
      TPicture picture;
      picture.LoadFromFile(name);
      assigned.Assign(&picture);
    } catch (const std::exception& e) {
      assignError = e.what();
    }
    EXPECT_EQ(directError, assignError) << f.Extension;
    ASSERT_EQ(direct.Width(), assigned.Width()) << f.Extension;
    ASSERT_EQ(direct.Height(), assigned.Height()) << f.Extension;
    EXPECT_TRUE(std::equal(direct.Bits(), direct.Bits() + direct.Width() * direct.Height(), assigned.Bits()))
        << f.Extension;
    loaded += direct.Width() == 7;
  }
  EXPECT_GE(loaded, 1);  // the bitmap class at least
  std::filesystem::remove_all(dir);
}
