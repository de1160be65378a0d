#include "runner.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "utilities.h"

namespace {

std::mutex gRunnersLock;
std::condition_variable gRunnersDone;
int gRunning = 0;

}  // namespace

void TRunner::Create(TProc Proc) { Create(std::move(Proc), nullptr, 0, 0, 0, 0); }

void TRunner::Create(TProc NoArg, TProcArg WithArg, int32_t Selector, int32_t Arg1, int32_t Arg2, int32_t Arg3) {
  std::unique_ptr<TRunner> runner(new TRunner());
  runner->noArg_ = std::move(NoArg);
  runner->withArg_ = std::move(WithArg);
  runner->selector_ = Selector;
  runner->args_[0] = Arg1;
  runner->args_[1] = Arg2;
  runner->args_[2] = Arg3;
  {
    std::lock_guard<std::mutex> guard(gRunnersLock);
    ++gRunning;
  }
  try {
    // The thread owns the runner and frees it when the procedure returns.
    std::thread([r = std::move(runner)]() mutable {
      r->Execute();
      r.reset();
      std::lock_guard<std::mutex> guard(gRunnersLock);
      --gRunning;
      gRunnersDone.notify_all();
    }).detach();
  } catch (...) {
    std::lock_guard<std::mutex> guard(gRunnersLock);
    --gRunning;
    throw;
  }
}

void TRunner::Execute() {
  try {
    switch (selector_) {
      case 0:
        if (noArg_) noArg_();
        break;
      case 1:
      case 2:
      case 3:
        if (withArg_) withArg_(args_[selector_ - 1]);
        break;
      default:
        break;
    }
  } catch (...) {
    ShowCurrentExceptionBox("on TRunner.Execute");
  }
}

int TRunner::RunningCount() {
  std::lock_guard<std::mutex> guard(gRunnersLock);
  return gRunning;
}

bool TRunner::WaitForAll(int TimeoutMs) {
  std::unique_lock<std::mutex> lock(gRunnersLock);
  return gRunnersDone.wait_for(lock, std::chrono::milliseconds(TimeoutMs), [] { return gRunning == 0; });
}
