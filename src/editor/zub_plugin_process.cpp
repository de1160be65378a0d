// The helper process of the plug-in host: the editor's side (start, orders,
// waiting with the user's escape, stopping) and the helper's (one order).
#include "zub_plugin_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "platform_library.h"
#include "platform_process.h"
#include "raster_core.h"
#include "utilities.h"
#include "zub_plugins.h"

namespace {

// How long a helper that closed its socket may take to end before it is
// stopped; it has nothing left to do, so this is never waited in full by a
// helper that behaves.
constexpr uint32_t kEndingMs = 2000;

void CopyText(char* Field, size_t Size, const std::string& Text) {
  const size_t n = std::min(Size - 1, Text.size());
  std::memcpy(Field, Text.data(), n);
  Field[n] = '\0';
}

}  // namespace

// ---- The editor's side ----------------------------------------------------------------

TPluginProcess::~TPluginProcess() { Stop(); }

bool TPluginProcess::Start(const std::string& HelperFile, std::string& Error) {
  int pair[2];
  // Packets keep their bounds, so one answer is one recv.
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    Error = std::string("no socket for the plug-in host: ") + std::strerror(errno);
    return false;
  }
  TSpawnOptions options;
  const int32_t error = PlatformStartChild({HelperFile}, options, pair[1], pid_);
  ::close(pair[1]);
  if (error != 0) {
    ::close(pair[0]);
    pid_ = -1;
    Error = "the plug-in host " + HelperFile + " could not be started (error " + std::to_string(error) + ")";
    return false;
  }
  socket_ = pair[0];
  return true;
}

bool TPluginProcess::Send(const TPluginRequest& Request, int SharedFd) {
  if (socket_ < 0) return false;
  iovec io{const_cast<TPluginRequest*>(&Request), sizeof Request};
  msghdr msg{};
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (SharedFd >= 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &SharedFd, sizeof(int));
  }
  // A helper that already died must not take us down with SIGPIPE.
  return ::sendmsg(socket_, &msg, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof Request);
}

TPluginProcess::TReceived TPluginProcess::Receive(TPluginAnswer& Answer, uint32_t WaitMs,
                                                  const TKeepWaiting& KeepWaiting) {
  if (socket_ < 0) return Ended;
  for (;;) {
    pollfd p{socket_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<uint32_t>(WaitMs, INT32_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      if (KeepWaiting && KeepWaiting()) continue;
      Stop();
      return Stopped;
    }
    ssize_t n;
    do n = ::recv(socket_, &Answer, sizeof Answer, 0);
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof Answer)) {
      Answer.ClassName[sizeof Answer.ClassName - 1] = '\0';
      Answer.Message[sizeof Answer.Message - 1] = '\0';
      return TReceived::Answer;
    }
    // The socket closed (the helper died or exited) or carried something
    // that is not an answer: either way this helper is done.
    int32_t code = 0;
    if (n == 0 && PlatformWaitChild(pid_, kEndingMs, code)) {
      ended_ = true;
      code_ = code;
    }
    Stop();
    return Ended;
  }
}

void TPluginProcess::Stop() {
  if (pid_ >= 0) {
    const int32_t code = PlatformStopChild(pid_);
    if (!ended_) code_ = code;
    pid_ = -1;
  }
  if (socket_ >= 0) {
    ::close(socket_);
    socket_ = -1;
  }
}

std::string TPluginProcess::Why() const {
  if (!ended_) return "stopped answering";
  if (code_ > 128) return "crashed (signal " + std::to_string(code_ - 128) + ")";
  return "ended its process (exit code " + std::to_string(code_) + ")";
}

TSharedPixels::TSharedPixels(size_t Pixels) : bytes_(Pixels * sizeof(uint32_t)) {
  fd_ = ::memfd_create("vemra-work", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd_ < 0) return;
  // The helper holds this descriptor too: unsealed, a plug-in (or a process
  // it left behind) could shrink the file under our mapping, and reading the
  // pixels back would kill the editor with SIGBUS.
  if (::ftruncate(fd_, static_cast<off_t>(bytes_)) != 0 ||
      ::fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  if (bytes_ == 0) return;
  void* p = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (p != MAP_FAILED) data_ = static_cast<uint32_t*>(p);
}

TSharedPixels::~TSharedPixels() {
  if (data_ != nullptr) ::munmap(data_, bytes_);
  if (fd_ >= 0) ::close(fd_);
}

// ---- The helper's side ----------------------------------------------------------------

namespace {

class TAnswerer {
 public:
  explicit TAnswerer(int Channel) : channel_(Channel) {}
  void Send(const TPluginAnswer& A) { ::send(channel_, &A, sizeof A, MSG_NOSIGNAL); }
  void Count(int32_t N) {
    TPluginAnswer a;
    a.Kind = TPluginAnswer::Count;
    a.Value = N;
    Send(a);
  }
  void Done(int32_t Value, int32_t Width = 0, int32_t Height = 0) {
    TPluginAnswer a;
    a.Kind = TPluginAnswer::Done;
    a.Value = Value;
    a.Width = Width;
    a.Height = Height;
    Send(a);
  }
  // Calls into the plug-in; what it throws is passed on, and the helper goes on.
  template <class F>
  void Call(const std::string& FileName, F&& Body) {
    TPluginAnswer a;
    a.Kind = TPluginAnswer::Raised;
    try {
      Body();
      return;
    } catch (const std::exception& E) {
      CopyText(a.ClassName, sizeof a.ClassName, ExceptionClassName(E));
      CopyText(a.Message, sizeof a.Message, E.what());
    } catch (...) {
      CopyText(a.ClassName, sizeof a.ClassName, "EPluginError");
      CopyText(a.Message, sizeof a.Message, FileName + " raised an exception that is not a std::exception");
    }
    Send(a);
  }

 private:
  int channel_;
};

void ServeScan(TAnswerer& Out, const TPluginRequest& R, const std::string& FileName) {
  auto lib = TLibrary::Load(R.Library);
  int32_t count = 0;
  auto query = lib ? lib->Proc<VemraPluginQueryProc>("VemraPluginQuery") : nullptr;
  if (query != nullptr) Out.Call(FileName, [&] { count = query(VEMRA_PLUGIN_HOST_VERSION); });
  auto identify = lib ? lib->Proc<VemraPluginIdentifyProc>("VemraPluginIdentify") : nullptr;
  if (identify == nullptr || count < 0) count = 0;
  count = std::min(count, R.MaxFunctions);
  Out.Count(count);
  VemraPluginInfo info = R.Info;
  for (int32_t i = 0; i < count; ++i) {
    Out.Call(FileName, [&] { identify(i, &info); });
    TPluginAnswer a;
    a.Kind = TPluginAnswer::Identified;
    a.Value = i;
    a.Info = info;
    Out.Send(a);
  }
  Out.Done(0);
}

void ServeExecute(TAnswerer& Out, const TPluginRequest& R, const std::string& FileName, int SharedFd) {
  const size_t pixels = static_cast<size_t>(R.Width) * static_cast<size_t>(R.Height);
  uint32_t* shared = nullptr;
  if (pixels > 0) {
    void* p = SharedFd >= 0 ? ::mmap(nullptr, pixels * 4, PROT_READ | PROT_WRITE, MAP_SHARED, SharedFd, 0)
                            : MAP_FAILED;
    if (p == MAP_FAILED) return Out.Done(-1);
    shared = static_cast<uint32_t*>(p);
  }
  auto lib = TLibrary::Load(R.Library);
  auto execute = lib ? lib->Proc<VemraPluginExecuteProc>("VemraPluginExecute") : nullptr;
  if (execute == nullptr) return Out.Done(-1);

  TBitmap32 work;
  // Every pixel comes from the shared copy next.
  work.SetSizeForOverwrite(R.Width, R.Height);
  if (pixels > 0) std::memcpy(work.Bits(), shared, pixels * 4);
  VemraPluginHost host;
  std::memset(&host, 0, sizeof host);
  void* const mainWindow = reinterpret_cast<void*>(static_cast<uintptr_t>(R.MainWindow));
  host.form = mainWindow;
  // The record has 16 bits for each side; wider bitmaps show modulo 65536.
  host.width = static_cast<uint16_t>(work.Width());
  host.height = static_cast<uint16_t>(work.Height());
  host.pixels = work.Bits();
  host.routines = PluginHostRoutines();
  SetPluginWorkBitmap(&work);
  Out.Call(FileName, [&] { execute(R.Index, &host, reinterpret_cast<VemraBitmap*>(&work)); });
  SetPluginWorkBitmap(nullptr);

  int32_t result = 0;
  if (host.form != nullptr && host.form != mainWindow) {
    auto* dialog = static_cast<VemraPluginDialog*>(host.form);
    TPluginAnswer shown;
    shown.Kind = TPluginAnswer::DialogShown;
    Out.Send(shown);
    int32_t modal = 0;
    Out.Call(FileName, [&] { modal = dialog->ShowModal(dialog); });
    if (modal == VEMRA_MODAL_CANCEL) result = 8;
    Out.Call(FileName, [&] { dialog->Release(dialog); });
  } else if (host.result != 0) {
    result = 8;
  }
  // Only the quarter turns change the size, and they keep the pixel count.
  if (work.PixelCount() != pixels) return Out.Done(-1);
  if (pixels > 0) std::memcpy(shared, work.Bits(), pixels * 4);
  Out.Done(result, work.Width(), work.Height());
}

}  // namespace

int PluginHostMain(int Channel) {
  // A plug-in that starts programs of its own must not hand them our socket.
  ::fcntl(Channel, F_SETFD, FD_CLOEXEC);
  TPluginRequest request;
  iovec io{&request, sizeof request};
  msghdr msg{};
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n;
  do n = ::recvmsg(Channel, &msg, MSG_CMSG_CLOEXEC);
  while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof request)) return 2;
  int shared = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) std::memcpy(&shared, CMSG_DATA(c), sizeof(int));
  request.Library[sizeof request.Library - 1] = '\0';
  const std::string path = request.Library;
  const std::string fileName = path.substr(path.rfind('/') + 1);
  TAnswerer out(Channel);
  if (request.Op == TPluginRequest::Scan) ServeScan(out, request, fileName);
  else if (request.Op == TPluginRequest::Execute && request.Width >= 0 && request.Height >= 0)
    ServeExecute(out, request, fileName, shared);
  else return 2;
  return 0;
}
