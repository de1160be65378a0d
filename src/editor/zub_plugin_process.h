#pragma once
// Plug-in code runs in a helper process, never in the editor's own.
//
// A fault in a plug-in is a signal here, not an exception, and no handler
// can put a process right after a wild write; so each scan of a library
// (Query, Identify) and each run (Execute and the plug-in's dialog) happens
// in a fresh "vemra-plugin-host" beside the program. The helper gets its
// orders over a socket (descriptor 3) and the work bitmap's pixels in shared
// memory, and answers packet by packet. If it dies, exits or stops answering,
// the editor stops it and goes on with its picture untouched: pixels are
// taken back only after the helper has said it is done.
//
// The 17 host routines run in the helper too, beside the plug-in: each one
// touches only the work bitmap (the helper's copy of the shared pixels) or
// memory the plug-in hands it (tables, kernels, result pointers), which
// exists only in the plug-in's address space. No call comes back to the
// editor, so a routine fed garbage can take down only the helper.
//
// The plug-in's dialog runs in the helper as well: the helper inherits the
// display of the editor's session, so a dialog the plug-in builds with its
// own toolkit opens from there. It cannot be owned by the editor's window;
// while it is up the editor waits (its window stays blocked as for any modal
// dialog) with the same escape as for a plug-in that hangs.
#include <cstdint>
#include <functional>
#include <string>

#include "../../include/vemra_plugin.h"

class TBitmap32;

// What the editor asks of the helper: one order per helper process.
struct TPluginRequest {
  enum TOp : uint32_t { Scan = 1, Execute = 2 };
  uint32_t Op = Scan;
  int32_t Index = 0;          // Execute: the function
  int32_t MaxFunctions = 0;   // Scan: no more Identify calls than this
  int32_t Width = 0, Height = 0;  // Execute: the shared pixels' size
  uint64_t MainWindow = 0;    // what the form field holds on entry
  VemraPluginInfo Info{};     // Scan: the scan's record as it stands
  char Library[4096] = {};    // the library's full file name
};

// One packet of the helper's answer.
struct TPluginAnswer {
  enum TKind : uint32_t { Count = 1, Identified, Raised, DialogShown, Done };
  uint32_t Kind = Done;
  // Count: functions to come; Identified: the function's index; Done: the
  // callback's result (0 or 8) after a run, -1 when nothing ran.
  int32_t Value = 0;
  int32_t Width = 0, Height = 0;  // Done: the work bitmap's size after the run
  VemraPluginInfo Info{};         // Identified: the record after the call
  char ClassName[128] = {};       // Raised: what the plug-in threw
  char Message[1024] = {};
};

// The editor's side of one helper.
class TPluginProcess {
 public:
  // The helper's answer to a question the editor asks when it waited its
  // full time: true keeps waiting, false stops the helper.
  using TKeepWaiting = std::function<bool()>;
  enum TReceived { Answer, Ended, Stopped };

  TPluginProcess() = default;
  TPluginProcess(const TPluginProcess&) = delete;
  TPluginProcess& operator=(const TPluginProcess&) = delete;
  // Stops the helper (and whatever it started) if it still runs.
  ~TPluginProcess();

  // Starts HelperFile; false with Error set when it cannot run.
  bool Start(const std::string& HelperFile, std::string& Error);
  // Sends the order, with the shared pixels' descriptor when SharedFd >= 0.
  bool Send(const TPluginRequest& Request, int SharedFd = -1);
  // The next answer packet. Waits WaitMs at a time; after each such wait
  // without an answer, KeepWaiting decides. Ended: the helper went away
  // (Why() says how); Stopped: KeepWaiting said no and the helper is gone.
  TReceived Receive(TPluginAnswer& Answer, uint32_t WaitMs, const TKeepWaiting& KeepWaiting);
  // Ends the helper at once; its pixels may be read after this.
  void Stop();
  // How the helper ended, for the report: "crashed (signal 11)" and the like.
  std::string Why() const;

 private:
  int pid_ = -1;
  int socket_ = -1;
  int32_t code_ = 0;
  bool ended_ = false;
};

// Shared memory for the work bitmap's pixels, mapped here for as long as it lives.
class TSharedPixels {
 public:
  explicit TSharedPixels(size_t Pixels);
  ~TSharedPixels();
  TSharedPixels(const TSharedPixels&) = delete;
  TSharedPixels& operator=(const TSharedPixels&) = delete;
  bool Valid() const { return fd_ >= 0 && (bytes_ == 0 || data_ != nullptr); }
  int Fd() const { return fd_; }
  uint32_t* Data() const { return data_; }

 private:
  int fd_ = -1;
  size_t bytes_ = 0;
  uint32_t* data_ = nullptr;
};

// The helper's side: serves the one order that arrives on Channel and
// returns the process's exit code.
int PluginHostMain(int Channel);
