#pragma once
// A worker thread that runs one procedure once and then frees itself; the
// print job and the histogram run on it. It takes no lock and does not
// synchronise with the user-interface thread: what the procedure touches
// must be safe to use from there.
#include <cstdint>
#include <functional>

// The procedure a runner calls: without an argument, or with one 32-bit
// argument taken from the runner's argument slots.
using TRunnerProc = std::function<void()>;
using TRunnerProcArg = std::function<void(int32_t)>;

class TRunner {
 public:
  using TProc = TRunnerProc;
  using TProcArg = TRunnerProcArg;

  // Starts a runner that calls Proc without an argument (selector 0).
  static void Create(TProc Proc);
  // Starts a runner with all its fields set before the thread starts:
  // selector 0 calls NoArg, 1 to 3 call WithArg with argument slot 1 to 3,
  // any other selector calls nothing.
  static void Create(TProc NoArg, TProcArg WithArg, int32_t Selector, int32_t Arg1, int32_t Arg2, int32_t Arg3);

  // Runners whose procedure has not returned yet.
  static int RunningCount();
  // Waits until no runner is left or TimeoutMs passed; true when none is left.
  static bool WaitForAll(int TimeoutMs);

 private:
  TRunner() = default;
  // The thread body. An exception escaping the procedure is reported with
  // the exception box; it never ends the program.
  void Execute();

  TProc noArg_;
  TProcArg withArg_;
  int32_t selector_ = 0;
  int32_t args_[3] = {0, 0, 0};
};
