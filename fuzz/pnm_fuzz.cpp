// Fuzzes the Netpbm reader the ways a user reaches it: LoadPNM on a file,
// TBitmap32::LoadFromFile through the picture registry (the picture class's
// file load), and the picture class on a stream. No size filter of its own:
// the readers' caps must keep every input within -rss_limit_mb=512 and
// -timeout=5. Any input ends in a picture, a box or an exception of the
// system, and the paths agree on what they read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "img_pxm.h"
#include "platform_exceptions.h"
#include "platform_messagebox.h"
#include "pxm_image.h"

namespace {
std::string gFile;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetMessageBoxHandler([](const TMessageBoxRequest&) { return IDOK; });
  // A file in memory: a disk file would make every run wait for the disk.
  gFile = "/dev/shm/vemra_pnm_fuzz_" + std::to_string(::getpid()) + ".pnm";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (FILE* f = std::fopen(gFile.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  TBitmap32 b;
  LoadPNM(gFile, &b);
  auto reads = [](auto&& Load) {
    try {
      Load();
      return true;
    } catch (const Exception&) {
      return false;
    }
  };
  TBitmap32 viaRegistry;
  const bool registryRead = reads([&] { viaRegistry.LoadFromFile(gFile); });
  TReadOnlyMemoryStream in(data, size);
  TPXMImage pic;
  const bool streamRead = reads([&] { pic.LoadFromStream(in); });
  // Where the picture class read a picture with pixels, LoadPNM read one of
  // the same size.
  if (streamRead && !pic.Empty() && (pic.Width() != b.Width() || pic.Height() != b.Height())) __builtin_trap();
  if (registryRead && !viaRegistry.Empty() && !viaRegistry.Equal(&b)) __builtin_trap();
  return 0;
}
