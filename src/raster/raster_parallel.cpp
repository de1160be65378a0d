// Rows across threads with oneTBB: one task arena sized by the thread cap,
// made again when the cap changes.
//
// The ThreadSanitizer build splits the same pieces onto plain threads
// instead: the system's TBB library is not built for the sanitizer, which
// then cannot see how TBB hands work between threads and reports its every
// hand-over as a race. The rows each piece covers are the same either way.
#include "raster_parallel.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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

// The processors this process may run on, in order, as the first thread to
// ask found them: workers, which are placed on one, never ask first.
const std::vector<int>& AllowedCpus() {
  static const std::vector<int> Cpus = [] {
    std::vector<int> List;
    cpu_set_t Set;
    CPU_ZERO(&Set);
    if (sched_getaffinity(0, sizeof Set, &Set) == 0)
      for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &Set)) List.push_back(c);
    return List;
  }();
  return Cpus;
}

// Set on a thread while it runs a pass it started: such a thread may hold
// any slot of the arena (a second caller takes a free one), but it is never
// placed, as only the arena's own workers are.
thread_local bool tCaller = false;
// Set on a thread while it runs a range of a pass.
thread_local bool tInRange = false;

// Gives a thread's flag a value for the guard's lifetime.
class TFlagScope {
 public:
  TFlagScope(bool& Flag, bool Value) : flag_(Flag), was_(Flag) { Flag = Value; }
  ~TFlagScope() { flag_ = was_; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
  bool was_;
};

// Workers woken together for a pass are often put on one processor by the
// kernel, and the second then waits there for milliseconds while another
// processor idles. Each worker therefore keeps to a processor of its own: the
// one its slot number counts on from where the calling thread runs, which
// keeps the calling thread's processor free for it. With more threads than
// processors nothing is placed, and a worker placed for an earlier arena gets
// every processor back.
class TPlacement {
 public:
  explicit TPlacement(int32_t Threads) : spread_(Threads > 1 && AllowedCpus().size() >= static_cast<size_t>(Threads)) {}

  // Called by the thread that starts a pass from outside the arena.
  void NoteCaller() {
    if (!spread_) return;
    const std::vector<int>& Cpus = AllowedCpus();
    const auto It = std::find(Cpus.begin(), Cpus.end(), sched_getcpu());
    caller_.store(It == Cpus.end() ? 0 : static_cast<int>(It - Cpus.begin()), std::memory_order_relaxed);
  }

  // Called by every thread before each range it runs; a system call only
  // when a worker's processor changes.
  void Place() const {
    thread_local int Placed = -1;  // -1: every processor
    if (tCaller) return;
    const int Slot = tbb::this_task_arena::current_thread_index();
    const std::vector<int>& Cpus = AllowedCpus();
    if (Slot <= 0 || Cpus.empty()) return;
    const int Want =
        spread_ ? Cpus[(static_cast<size_t>(caller_.load(std::memory_order_relaxed)) + static_cast<size_t>(Slot)) % Cpus.size()]
                : -1;
    if (Want == Placed) return;
    cpu_set_t Set;
    CPU_ZERO(&Set);
    if (Want >= 0)
      CPU_SET(Want, &Set);
    else
      for (int Cpu : Cpus) CPU_SET(Cpu, &Set);
    if (sched_setaffinity(0, sizeof Set, &Set) == 0) Placed = Want;
  }

 private:
  bool spread_;
  std::atomic<int> caller_{0};
};

struct TArena {
  tbb::task_arena Arena;
  TPlacement Placement;
  explicit TArena(int32_t Count) : Arena(Count), Placement(Count) {}
};

std::mutex gArenaLock;
std::shared_ptr<TArena> gArena;
int32_t gArenaCount = 0;

std::shared_ptr<TArena> ArenaFor(int32_t Count) {
  std::lock_guard<std::mutex> Lock(gArenaLock);
  if (!gArena || gArenaCount != Count) {
    gArena = std::make_shared<TArena>(Count);
    gArenaCount = Count;
  }
  return gArena;
}

// Ranges split down to their grain and no further: the pieces are known in
// advance, and no work is stolen back and forth.
template <typename TRange, typename TBody>
void RunInArena(int32_t Threads, const TRange& Range, const TBody& Body) {
  const std::shared_ptr<TArena> A = ArenaFor(Threads);
  // A pass started inside another one's range (by a worker, say) is no new caller.
  const bool Outside = !tInRange;
  if (Outside) A->Placement.NoteCaller();
  const TFlagScope Caller(tCaller, tCaller || Outside);
  A->Arena.execute([&] {
    tbb::simple_partitioner Partitioner;
    tbb::parallel_for(
        Range,
        [&](const TRange& Piece) {
          A->Placement.Place();
          const TFlagScope InRange(tInRange, true);
          Body(Piece);
        },
        Partitioner);
  });
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

#if defined(VEMRA_PLAIN_THREADS)
namespace {

// Pieces of at least Min items, handed out to Threads plain threads in turn.
void RunPieces(int64_t Begin, int64_t End, int64_t Min, int32_t Threads,
               const std::function<void(int64_t, int64_t)>& Piece) {
  const int64_t Count = std::max<int64_t>(1, (End - Begin) / Min);
  std::atomic<int64_t> Next{0};
  std::exception_ptr Failure;
  std::mutex FailureLock;
  const auto Work = [&] {
    for (int64_t k; (k = Next.fetch_add(1)) < Count;) {
      try {
        Piece(Begin + (End - Begin) * k / Count, Begin + (End - Begin) * (k + 1) / Count);
      } catch (...) {
        std::lock_guard<std::mutex> Lock(FailureLock);
        if (!Failure) Failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> Pool;
  for (int32_t t = 1; t < std::min<int64_t>(Threads, Count); ++t) Pool.emplace_back(Work);
  Work();
  for (std::thread& T : Pool) T.join();
  if (Failure) std::rethrow_exception(Failure);
}

}  // namespace
#endif

void ParallelSpans(size_t N, size_t MinItems, const std::function<void(size_t, size_t)>& Body) {
  if (N == 0) return;
  const int32_t Threads = ThreadCount();
  MinItems = std::max<size_t>(1, MinItems);
  if (Threads <= 1 || N <= MinItems) {
    Body(0, N);
    return;
  }
#if defined(VEMRA_PLAIN_THREADS)
  RunPieces(0, static_cast<int64_t>(N), static_cast<int64_t>(MinItems), Threads,
            [&](int64_t First, int64_t Last) { Body(static_cast<size_t>(First), static_cast<size_t>(Last)); });
  return;
#endif
  RunInArena(Threads, tbb::blocked_range<size_t>(0, N, MinItems),
             [&](const tbb::blocked_range<size_t>& R) { Body(R.begin(), R.end()); });
}

void ParallelRows(int32_t Begin, int32_t End, int32_t MinRows, const std::function<void(int32_t, int32_t)>& Body) {
  if (End <= Begin) return;
  ParallelSpans(static_cast<size_t>(int64_t{End} - Begin), static_cast<size_t>(std::max(1, MinRows)),
                [&](size_t First, size_t Last) {
                  Body(static_cast<int32_t>(Begin + static_cast<int64_t>(First)),
                       static_cast<int32_t>(Begin + static_cast<int64_t>(Last)));
                });
}
