// Fuzzes the WBMP reader on a file and on the same bytes in memory: both
// must read the same picture, and what they read is black and white, so
// writing it and reading that again must give the same pixels.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "img_wbmp.h"
#include "platform_exceptions.h"

namespace {
std::string gFile;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A file in memory: a disk file would make every run wait for the disk.
  gFile = "/dev/shm/vemra_wbmp_fuzz_" + std::to_string(::getpid()) + ".wbmp";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBitmap32 b;
  try {
    LoadWBMPFromBytes(data, size, &b);
  } catch (const Exception&) {
    return 0;  // a picture larger than the bitmap allows
  }
  if (FILE* f = std::fopen(gFile.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    TBitmap32 fromFile;
    LoadWBMP(gFile, &fromFile);
    if (fromFile.Width() != b.Width() || fromFile.Height() != b.Height() || (!b.Empty() && !fromFile.Equal(&b)))
      __builtin_trap();
  }
  const std::vector<uint8_t> again = EncodeWBMP(b);
  TBitmap32 back;
  LoadWBMPFromBytes(again.data(), again.size(), &back);
  if (back.Width() != b.Width() || back.Height() != b.Height() || (!b.Empty() && !back.Equal(&b))) __builtin_trap();
  return 0;
}
