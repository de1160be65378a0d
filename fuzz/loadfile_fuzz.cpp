// Fuzzes opening a file by its extension: the same bytes are loaded through
// LoadImageFile under every extension of the load table and of the
// picture-format registry. Whatever the bytes, a load either hands over a
// picture without having shown an error, or returns false and leaves the
// caller's picture and the metadata of the file before exactly as they were.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exif_reader.h"
#include "fuzz_input.h"
#include "img_loadfile.h"
#include "platform_graphics.h"
#include "platform_messagebox.h"
#include "raster_core.h"
#include "test_startup.h"

namespace {

std::string gFolder;
std::vector<std::string> gExtensions;
size_t gBoxes = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  SetMessageBoxHandler([](const TMessageBoxRequest&) {
    ++gBoxes;
    return IDOK;
  });
  gFolder = MakeFuzzFolder("loadfile_fuzz");
  gExtensions = LoadImageFileExtensions();
  for (const TPictureFormat& f : RegisteredFileFormats()) {
    std::string e = "." + f.Extension;
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (std::find(gExtensions.begin(), gExtensions.end(), e) == gExtensions.end()) gExtensions.push_back(e);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  for (const std::string& ext : gExtensions) {
    const std::string name = gFolder + "/input" + ext;
    WriteFuzzFile(name, Data, Size);
    TBitmap32 b;
    b.SetSize(3, 2);
    b.Clear(0x80402010u);
    const TimgData* metadata = gExifData.get();
    const bool hadExif = gHasExif;
    gBoxes = 0;
    if (LoadImageFile(name, b)) {
      if (b.Empty() || gBoxes != 0) __builtin_trap();
    } else if (b.Width() != 3 || b.Height() != 2 || b.GetPixel(2, 1) != 0x80402010u ||
               gExifData.get() != metadata || gHasExif != hadExif) {
      __builtin_trap();
    }
    ::unlink(name.c_str());
  }
  return 0;
}
