#pragma once
// The peak heap use and the processor time of one call, for the tests that
// hold a reader to a memory and time budget on a crafted file.
//
// Include this header in exactly one source file of a test program: it
// replaces the program's global operator new and delete (plain and array
// forms) so that every C++ allocation is counted. Processor time of the
// calling thread is measured rather than wall time, so a busy machine does
// not fail the test.
#include <malloc.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace alloc_budget {

inline std::atomic<int64_t> gCurrent{0};
inline std::atomic<int64_t> gPeak{0};

inline void* Take(size_t N) {
  void* p = std::malloc(N ? N : 1);
  if (!p) return nullptr;
  const int64_t now = gCurrent += static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

inline void Give(void* P) {
  if (!P) return;
  gCurrent -= static_cast<int64_t>(malloc_usable_size(P));
  std::free(P);
}

struct TUsage {
  int64_t PeakBytes;  // above what was allocated when the call began
  double CpuMs;
};

template <class F>
TUsage Measure(F&& Call) {
  const int64_t base = gCurrent.load();
  gPeak = base;
  timespec t0{}, t1{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
  Call();
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
  return {gPeak.load() - base, (t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6};
}

}  // namespace alloc_budget

void* operator new(size_t N) {
  if (void* p = alloc_budget::Take(N)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t N) {
  if (void* p = alloc_budget::Take(N)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t N, const std::nothrow_t&) noexcept { return alloc_budget::Take(N); }
void* operator new[](size_t N, const std::nothrow_t&) noexcept { return alloc_budget::Take(N); }
void operator delete(void* P) noexcept { alloc_budget::Give(P); }
void operator delete[](void* P) noexcept { alloc_budget::Give(P); }
void operator delete(void* P, size_t) noexcept { alloc_budget::Give(P); }
void operator delete[](void* P, size_t) noexcept { alloc_budget::Give(P); }
void operator delete(void* P, const std::nothrow_t&) noexcept { alloc_budget::Give(P); }
void operator delete[](void* P, const std::nothrow_t&) noexcept { alloc_budget::Give(P); }
