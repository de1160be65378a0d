#pragma once
// libvips as an in-process peer through its C API: the benchmark's picture
// copied into a vips image once, the operation's result computed into memory
// (vips is lazy: nothing runs until the pixels are asked for), the operation
// cache off so that every run computes. Concurrency 1 is vips on one thread;
// 0 is its default (every core).
#include <vips/vips.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "raster_core.h"

inline bool VipsPeerStart() {
  static const bool Ok = [] {
    if (VIPS_INIT("vemra_bench") != 0) return false;
    vips_cache_set_max(0);
    return true;
  }();
  return Ok;
}

// The picture as 4-band 8-bit vips image, bytes in R, G, B, A order.
inline VipsImage* VipsImageOf(const TBitmap32& B) {
  const size_t Count = B.PixelCount();
  std::vector<uint8_t> Raw(Count * 4);
  for (size_t i = 0; i < Count; ++i) {
    const TColor32 P = B.Bits()[i];
    Raw[4 * i] = static_cast<uint8_t>(P >> 16);
    Raw[4 * i + 1] = static_cast<uint8_t>(P >> 8);
    Raw[4 * i + 2] = static_cast<uint8_t>(P);
    Raw[4 * i + 3] = static_cast<uint8_t>(P >> 24);
  }
  return vips_image_new_from_memory_copy(Raw.data(), Raw.size(), B.Width(), B.Height(), 4, VIPS_FORMAT_UCHAR);
}

// The fastest of Runs runs of Op on In at the given concurrency, in
// milliseconds, the result computed into memory each time; a negative value
// when vips failed.
inline double VipsBestMs(VipsImage* In, int Concurrency, int Runs,
                         const std::function<int(VipsImage*, VipsImage**)>& Op) {
  vips_concurrency_set(Concurrency);
  double Best = -1;
  for (int r = 0; r < Runs; ++r) {
    const auto T0 = std::chrono::steady_clock::now();
    VipsImage* Out = nullptr;
    if (Op(In, &Out) != 0) return -1;
    size_t Size = 0;
    void* Mem = vips_image_write_to_memory(Out, &Size);
    g_object_unref(Out);
    if (Mem == nullptr) return -1;
    g_free(Mem);
    const double Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count();
    if (Best < 0 || Ms < Best) Best = Ms;
  }
  vips_concurrency_set(0);
  return Best;
}

// One line of the closing table: our times on one thread and on every core
// beside Pillow's (one thread, in process) and vips' on one thread and at its
// default concurrency; each ratio is the peer's time over ours (above 1: we
// are faster), vips' default against ours on every core.
inline void PrintWideHeader() {
  std::printf("\n%-24s %9s %9s %9s %6s %9s %6s %9s %6s\n", "case", "ours 1t", "ours all", "pillow", "ratio", "vips 1t",
              "ratio", "vips all", "ratio");
}
inline void PrintWideRow(const char* Case, double Ours1, double OursN, double Pillow, double Vips1, double VipsN) {
  const auto R = [](double Peer, double Ours) { return Peer > 0 && Ours > 0 ? Peer / Ours : 0.0; };
  std::printf("%-24s %9.1f %9.1f %9.1f %6.2f %9.1f %6.2f %9.1f %6.2f\n", Case, Ours1, OursN, Pillow, R(Pillow, Ours1),
              Vips1, R(Vips1, Ours1), VipsN, R(VipsN, OursN));
}
