#pragma once
// What the engine asks of the machine: the processor feature test behind the
// routine variables, the processor count, a millisecond tick and a
// microsecond timer, and the start-up of the foundation units.
#include <cstddef>
#include <cstdint>

// Processor features by index.
constexpr int32_t ciMMX = 0;        // 64-bit multimedia instructions
constexpr int32_t ciEMMX = 1;       // the extended multimedia instructions
constexpr int32_t ciSSE = 2;
constexpr int32_t ciSSE2 = 3;
constexpr int32_t ci3DNow = 4;
constexpr int32_t ci3DNowExt = 5;

// True when the processor offers feature Index; always false while the
// portable routines are forced, and for unknown indices.
bool CpuFeatureTest(int32_t Index);
bool CpuMmxTest();
bool CpuExtMmxTest();
bool Cpu3DNowTest();

// Forces "no processor features" (tests, and machines where the variants
// misbehave). RasterSystemStartup also sets it when the environment holds
// VEMRA_FORCE_PORTABLE=1. The routine variables are chosen at start-up: call
// the start-ups again after changing this.
void SetForcePortable(bool Force);
bool ForcePortable();

// Milliseconds since an arbitrary start (the system's uptime), wrapping at 2^32.
uint32_t ReadTickCount();
// Number of processors online (at least 1).
int32_t ProcessorCount();

// Asks that a large block not yet written be backed by 2 MB pages where the
// system offers them: the threads that first write a picture then take a few
// dozen page faults instead of tens of thousands. Small blocks are left alone.
void AdviseLargePages(void* Block, size_t Bytes);

// Microsecond timer on the monotonic clock.
class TPerfTimer {
 public:
  void Start();
  // Microseconds since Start, rounded.
  int64_t ElapsedMicroseconds();

 private:
  int64_t Frequency = 0;
  int64_t FStart = 0;
  int64_t FStop = 0;
};

// The program's shared timer.
TPerfTimer& GlobalPerfTimer();

// No visual themes on this desktop: the range bars always draw themselves.
constexpr bool UseThemes = false;

// Reads VEMRA_FORCE_PORTABLE and prepares the shared timer.
void RasterSystemStartup();
// The foundation's whole start-up, once at program start (tests call it from
// their main): RasterSystemStartup, RasterLowLevelStartup (FillWords32), the bilinear
// interpolator and the gamma table with gamma 0.7. Calling it again re-reads the processor test.
void RasterFoundationStartup();
