#pragma once
// Windows of the program find each other through local sockets: every main
// window listens on "vemra-<pid>" in $XDG_RUNTIME_DIR (or a private folder
// in the temporary folder when the session has none). A second start hands its file to
// the first window that answers with a caption beginning "Vemra"; File >
// Windows lists and raises the windows over the same sockets.
//
// One request per connection, one line each way, names percent-encoded:
//   "CAPTION"         -> the window's caption
//   "OPEN <name>"     -> "ACK" at once, then "0" once the file was handled
//                        (the running window always answers 0)
//   "ACTIVATE"        -> "0" after the window came to the front
// The early ACK tells a peer that is busy with the user (its save question
// open) from one that hangs: the sender waits for ever after an ACK, and
// gives up on a peer that does not acknowledge in time. A file whose sender
// has ended before the window got to it is dropped.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

class QLocalServer;
class QLocalSocket;

// The folder of the sockets: $XDG_RUNTIME_DIR, or else "vemra-<uid>" in the
// temporary folder ($TMPDIR, default /tmp), made 0700 when missing and used
// only while it is a real folder of this user with mode 0700. Empty when
// there is none: the window then starts without the hand-over.
std::string InstanceFolder();
// Empty when there is no folder.
std::string InstanceSocketPath(int64_t Pid);

struct TPeer {
  std::string Path;
  int64_t Pid = 0;
};

// The sockets of running windows, newest first; a socket nobody listens on
// any more (its window crashed) is deleted on the way.
std::vector<TPeer> FindPeers();

// Blocking client requests; false when the peer did not answer in time.
bool QueryCaption(const std::string& Path, std::string& Caption, int TimeoutMs = 1500);
// Answer: the peer's final answer (0 from a running window).
bool SendOpenFile(const std::string& Path, const std::string& FileName, int& Answer, int AckTimeoutMs = 3000);
bool SendActivate(const std::string& Path, int TimeoutMs = 3000);

class TInstanceServer : public QObject {
 public:
  struct THandlers {
    std::function<std::string()> Caption;
    std::function<void(const std::string& FileName)> OpenFile;
    std::function<void()> Activate;
    // True while the window must not take a file (a modal box is open): the
    // request waits in the queue.
    std::function<bool()> Busy;
  };

  explicit TInstanceServer(THandlers Handlers, QObject* Parent = nullptr);
  ~TInstanceServer() override;

  // Listens on this process's socket; false when that failed.
  bool Listen();
  std::string Path() const { return path_; }
  // Hand-overs taken but not yet handled.
  size_t Waiting() const { return queue_.size(); }

 private:
  void OnConnection();
  void OnReadyRead(QLocalSocket* Socket);
  void Pump();
  void SchedulePump(int DelayMs);

  THandlers handlers_;
  QLocalServer* server_ = nullptr;
  std::string path_;
  std::deque<std::pair<QPointer<QLocalSocket>, std::string>> queue_;
  bool handling_ = false;
  bool pumpScheduled_ = false;
};
