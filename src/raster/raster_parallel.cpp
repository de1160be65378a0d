// Rows across threads with oneTBB: one task arena sized by the thread cap,
// made again when the cap changes.
#include "raster_parallel.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace {

int32_t FromEnvironment() {
  const int32_t Cores = std::max(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
  const char* V = std::getenv("VEMRA_THREADS");
  if (V == nullptr || *V == 0) return Cores;
  char* End = nullptr;
  const long N = std::strtol(V, &End, 10);
  // Anything but a positive number means the default.
  if (*End != 0 || N < 1) return Cores;
  return static_cast<int32_t>(std::min<long>(N, 4096));
}

std::atomic<int32_t> gCount{0};
std::mutex gArenaLock;
std::shared_ptr<tbb::task_arena> gArena;
int32_t gArenaCount = 0;

std::shared_ptr<tbb::task_arena> ArenaFor(int32_t Count) {
  std::lock_guard<std::mutex> Lock(gArenaLock);
  if (!gArena || gArenaCount != Count) {
    gArena = std::make_shared<tbb::task_arena>(Count);
    gArenaCount = Count;
  }
  return gArena;
}

}  // namespace

int32_t ThreadCount() {
  int32_t N = gCount.load(std::memory_order_relaxed);
  if (N == 0) {
    N = FromEnvironment();
    gCount.store(N, std::memory_order_relaxed);
  }
  return N;
}

void SetThreadCount(int32_t Count) { gCount.store(Count > 0 ? Count : FromEnvironment(), std::memory_order_relaxed); }

void ParallelRows(int32_t Begin, int32_t End, int32_t MinRows, const std::function<void(int32_t, int32_t)>& Body) {
  if (End <= Begin) return;
  const int32_t Threads = ThreadCount();
  MinRows = std::max(1, MinRows);
  if (Threads <= 1 || End - Begin <= MinRows) {
    Body(Begin, End);
    return;
  }
  const std::shared_ptr<tbb::task_arena> Arena = ArenaFor(Threads);
  Arena->execute([&] {
    tbb::parallel_for(tbb::blocked_range<int32_t>(Begin, End, static_cast<size_t>(MinRows)),
                      [&](const tbb::blocked_range<int32_t>& R) { Body(R.begin(), R.end()); });
  });
}
