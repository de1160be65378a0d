#pragma once
// libvips as an in-process peer through its C API: the benchmark's picture
// copied into a vips image once, the operation's result computed into memory
// (vips is lazy: nothing runs until the pixels are asked for), the operation
// cache off so that every run computes. Concurrency 1 is vips on one thread;
// 0 is its default (every core).
//
// vips_concurrency_set(0) does not bring the default back: it takes the value
// set last as "the default", so after a run at 1 every later run stayed on
// one thread. The default is read once right after start-up and set
// explicitly instead.
#include <vips/vips.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "raster_core.h"

// vips' own default concurrency (VIPS_CONCURRENCY or the number of cores),
// as it stood before anything set it; 0 until VipsPeerStart succeeded.
inline int& VipsDefaultConcurrency() {
  static int Default = 0;
  return Default;
}

inline bool VipsPeerStart() {
  static const bool Ok = [] {
    if (VIPS_INIT("vemra_bench") != 0) return false;
    VipsDefaultConcurrency() = vips_concurrency_get();
    vips_cache_set_max(0);
    return true;
  }();
  return Ok;
}

// Sets vips' threads: 0 is its default. Returns the count vips reports back.
inline int VipsSetConcurrency(int Concurrency) {
  vips_concurrency_set(Concurrency > 0 ? Concurrency : VipsDefaultConcurrency());
  return vips_concurrency_get();
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
  VipsSetConcurrency(Concurrency);
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
  VipsSetConcurrency(0);
  return Best;
}

// One line of the closing table: our times on one thread and on every core
// and the speed-up between them, beside Pillow's (one thread, in process) and
// vips' on one thread and at its default concurrency; each ratio is the
// peer's time over ours (above 1: we are faster), Pillow and vips' one thread
// against our one thread, vips' default against ours on every core.
inline void PrintWideHeader() {
  std::printf("\n%-24s %9s %9s %7s %9s %6s %9s %6s %9s %6s\n", "case", "ours 1t", "ours all", "speedup", "pillow",
              "ratio", "vips 1t", "ratio", "vips all", "ratio");
}
// A time or ratio of the table; "-" where there is none.
inline std::string TableCell(double V, int Width, int Decimals) {
  char Text[32];
  if (V > 0)
    std::snprintf(Text, sizeof Text, "%*.*f", Width, Decimals, V);
  else
    std::snprintf(Text, sizeof Text, "%*s", Width, "-");
  return Text;
}
inline void PrintWideRow(const char* Case, double Ours1, double OursN, double Pillow, double Vips1, double VipsN) {
  const auto R = [](double Peer, double Ours) { return TableCell(Peer > 0 && Ours > 0 ? Peer / Ours : 0.0, 6, 2); };
  const auto T = [](double Ms, int Width) { return TableCell(Ms, Width, 1); };
  std::printf("%-24s %s %s %s %s %s %s %s %s %s\n", Case, T(Ours1, 9).c_str(), T(OursN, 9).c_str(),
              (" " + R(Ours1, OursN)).c_str(), T(Pillow, 9).c_str(), R(Pillow, Ours1).c_str(), T(Vips1, 9).c_str(),
              R(Vips1, Ours1).c_str(), T(VipsN, 9).c_str(), R(VipsN, OursN).c_str());
}

// The thread counts behind the table, and the machine's load when it was taken.
inline void PrintThreadsLine(int OursAll) {
  double Load[3] = {0, 0, 0};
  if (FILE* F = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(F, "%lf %lf %lf", &Load[0], &Load[1], &Load[2]) != 3) Load[0] = Load[1] = Load[2] = 0;
    std::fclose(F);
  }
  std::printf("threads: ours %d, vips default %d; load average %.2f %.2f %.2f\n"
              "ratio = peer time / our time (above 1: we are faster)\n",
              OursAll, VipsDefaultConcurrency(), Load[0], Load[1], Load[2]);
}
