#pragma once
// Rows split across the processor's threads. Every caller hands out rows whose
// results do not depend on one another, so the bytes are the same whatever the
// number of threads. VEMRA_THREADS in the environment caps the threads
// (default: every core); 1 keeps all work on the calling thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The threads the heavy routines may use, at least 1.
int32_t ThreadCount();
// Caps the threads; 0 goes back to VEMRA_THREADS or every core.
void SetThreadCount(int32_t Count);

// Calls Body(First, Last) over disjoint row ranges covering [Begin, End),
// on up to ThreadCount() threads, and returns when all are done. A range holds
// at least MinRows rows (so that small pictures stay on one thread). Body must
// only write its own rows; an exception in it reaches the caller.
void ParallelRows(int32_t Begin, int32_t End, int32_t MinRows, const std::function<void(int32_t, int32_t)>& Body);

// The same over the items [0, N) of a flat array (pixels, say), in pieces of
// at least MinItems.
void ParallelSpans(size_t N, size_t MinItems, const std::function<void(size_t, size_t)>& Body);

// MinRows for rows that each cost about Work units (pixels times taps): ranges
// of about 64K units.
inline int32_t RowsPerTask(int64_t Work) {
  if (Work <= 0) return 1 << 20;
  const int64_t Rows = (int64_t{1} << 16) / Work;
  return Rows < 1 ? 1 : (Rows > (1 << 20) ? (1 << 20) : static_cast<int32_t>(Rows));
}

// One item per thread taking part in a call's passes, made by that thread on
// first use and kept until the call ends: what a thread carries from one of
// its ranges to the next (rows already filtered for the range above, say).
// The ranges a thread takes are mostly neighbours, as each splits its own.
template <typename TItem>
class TPerThread {
 public:
  template <typename TMake>
  TItem& Get(const TMake& Make) {
    const std::thread::id Me = std::this_thread::get_id();
    {
      std::lock_guard<std::mutex> Lock(lock_);
      for (auto& [Id, Item] : items_)
        if (Id == Me) return *Item;
    }
    // Made outside the lock, as it may clear a large buffer; no other thread
    // looks for this thread's item.
    auto Item = std::make_unique<TItem>(Make());
    std::lock_guard<std::mutex> Lock(lock_);
    items_.emplace_back(Me, std::move(Item));
    return *items_.back().second;
  }

 private:
  std::mutex lock_;
  std::vector<std::pair<std::thread::id, std::unique_ptr<TItem>>> items_;
};

// Sets a thread cap for its lifetime (tests and benchmarks).
class TThreadLimit {
 public:
  explicit TThreadLimit(int32_t Count) : saved_(ThreadCount()) { SetThreadCount(Count); }
  ~TThreadLimit() { SetThreadCount(saved_); }
  TThreadLimit(const TThreadLimit&) = delete;
  TThreadLimit& operator=(const TThreadLimit&) = delete;

 private:
  int32_t saved_;
};
