// Fuzzes loading a picture file the ways a user reaches it: the bitmap's
// LoadFromFile through the picture-format registry, the picture class's own
// LoadFromFile, and the ZU3 reader on a file. The first byte picks the
// registered extension, the rest is the file. Any input must end in a picture
// or in the system's own error; a failed load must leave the previous picture
// exactly as it was, and a bitmap's load must equal the picture's, assigned.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "img_zub.h"
#include "platform_graphics.h"
#include "platform_messagebox.h"
#include "raster_core.h"
#include "test_startup.h"

namespace {

std::string gFolder;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  SetMessageBoxHandler([](const TMessageBoxRequest&) { return IDOK; });
  gFolder = MakeFuzzFolder("picturefile_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const auto& formats = RegisteredFileFormats();
  if (formats.empty()) return 0;
  const TPictureFormat& format = formats[Data[0] % formats.size()];
  const std::string name = gFolder + "/input." + format.Extension;
  WriteFuzzFile(name, Data + 1, Size - 1);

  // The bitmap keeps its picture when the file does not load.
  TBitmap32 b;
  b.SetSize(3, 2);
  b.Clear(0x80402010u);
  bool loaded = true;
  try {
    b.LoadFromFile(name);
  } catch (const Exception&) {
    loaded = false;
    if (b.Width() != 3 || b.Height() != 2 || b.GetPixel(2, 1) != 0x80402010u) __builtin_trap();
  }
  // Classes that decode straight into the bitmap's rows must give what
  // loading the picture and assigning it gives.
  if (loaded) {
    TPicture picture;
    picture.LoadFromFile(name);
    TBitmap32 assigned;
    assigned.Assign(&picture);
    if (assigned.Width() != b.Width() || assigned.Height() != b.Height()) __builtin_trap();
    const size_t n = static_cast<size_t>(b.Width()) * static_cast<size_t>(b.Height());
    for (size_t i = 0; i < n; ++i)
      if (assigned.Bits()[i] != b.Bits()[i]) __builtin_trap();
  }

  if (format.Create) {
    std::unique_ptr<TGraphic> g = format.Create();
    try {
      g->LoadFromFile(name);
    } catch (const Exception&) {
    }
  }

  TBitmap32 z;
  LoadZubImage(name, &z);
  ::unlink(name.c_str());
  return 0;
}
