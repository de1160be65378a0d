// The picture classes of the formats register at start-up in a fixed order
// after the built-in classes and unregister in the reverse order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats_startup.h"
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
