// Processor features, processor count, ticks and the microsecond timer.
#include "raster_system.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "raster_core.h"
#include "raster_lowlevel.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define VEMRA_X86 1
#endif

namespace {

std::atomic<bool> gForcePortable{false};

#if VEMRA_X86
// EDX of extended function 0x80000001, or 0 when the extended functions are missing.
unsigned ExtendedFeatures() {
  unsigned a, b, c, d;
  if (__get_cpuid(0x80000000u, &a, &b, &c, &d) == 0 || a < 0x80000001u) return 0;
  if (__get_cpuid(0x80000001u, &a, &b, &c, &d) == 0) return 0;
  return d;
}
#endif

int64_t MonotonicNanoseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

void SetForcePortable(bool Force) { gForcePortable = Force; }
bool ForcePortable() { return gForcePortable; }

bool CpuFeatureTest(int32_t Index) {
  if (gForcePortable) return false;
#if VEMRA_X86
  __builtin_cpu_init();
  switch (Index) {
    case ciMMX:
      return __builtin_cpu_supports("mmx");
    case ciEMMX:
      return __builtin_cpu_supports("sse") || (ExtendedFeatures() & (1u << 22)) != 0;
    case ciSSE:
      return __builtin_cpu_supports("sse");
    case ciSSE2:
      return __builtin_cpu_supports("sse2");
    case ci3DNow:
      return (ExtendedFeatures() & (1u << 31)) != 0;
    case ci3DNowExt:
      return (ExtendedFeatures() & (1u << 30)) != 0;
    default:
      return false;
  }
#else
  (void)Index;
  return false;
#endif
}

bool CpuMmxTest() { return CpuFeatureTest(ciMMX); }
bool CpuExtMmxTest() { return CpuFeatureTest(ciEMMX); }
bool Cpu3DNowTest() { return CpuFeatureTest(ci3DNow); }

uint32_t ReadTickCount() { return static_cast<uint32_t>(MonotonicNanoseconds() / 1000000); }

void AdviseLargePages(void* Block, size_t Bytes) {
  // Blocks this large always get pages of their own from the allocator, so
  // the advice never reaches memory shared with small blocks.
  constexpr size_t kLarge = size_t{32} << 20;
  if (Block == nullptr || Bytes < kLarge) return;
  const size_t Page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t Start = (reinterpret_cast<uintptr_t>(Block) + Page - 1) / Page * Page;
  const uintptr_t End = (reinterpret_cast<uintptr_t>(Block) + Bytes) / Page * Page;
  // Only advice: without the system's support the block keeps small pages.
  if (End > Start) madvise(reinterpret_cast<void*>(Start), End - Start, MADV_HUGEPAGE);
}

int32_t ProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n < 1 ? 1 : static_cast<int32_t>(n);
}

void TPerfTimer::Start() { FStart = MonotonicNanoseconds(); }

int64_t TPerfTimer::ElapsedMicroseconds() {
  FStop = MonotonicNanoseconds();
  Frequency = 1000000000;
  return std::llrint(static_cast<long double>(FStop - FStart) * 1000000 / Frequency);
}

TPerfTimer& GlobalPerfTimer() {
  static TPerfTimer timer;
  return timer;
}

void RasterSystemStartup() {
  const char* env = std::getenv("VEMRA_FORCE_PORTABLE");
  if (env != nullptr && std::strcmp(env, "1") == 0) SetForcePortable(true);
  GlobalPerfTimer().Start();
}

void RasterFoundationStartup() {
  RasterSystemStartup();
  RasterLowLevelStartup();
  SelectInterpolator(true);
  BuildGammaTable(0.7f);
}
