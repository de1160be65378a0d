#include "steptrace.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int64_t MonotonicMicroseconds() {
  timespec T{};
  clock_gettime(CLOCK_MONOTONIC, &T);
  return static_cast<int64_t>(T.tv_sec) * 1000000 + T.tv_nsec / 1000;
}

bool StepTraceOn() {
  static const bool On = [] {
    const char* V = std::getenv("VEMRA_TRACE");
    return V != nullptr && *V != '\0' && std::strcmp(V, "0") != 0;
  }();
  return On;
}

void TraceStep(const char* Step) {
  if (!StepTraceOn()) return;
  // One write per line, so lines from several threads do not interleave.
  char Line[256];
  const int N = std::snprintf(Line, sizeof Line, "vemra-trace %lld %s\n",
                              static_cast<long long>(MonotonicMicroseconds()), Step);
  if (N > 0) std::fwrite(Line, 1, static_cast<size_t>(N < static_cast<int>(sizeof Line) ? N : sizeof Line - 1), stderr);
  std::fflush(stderr);
}
