// The per-window sockets: the hand-over of a file and the window list.
#include "zub_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QUrl>

#include "temputils.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = "vemra-";

QByteArray Encode(const std::string& S) { return QUrl::toPercentEncoding(QString::fromStdString(S)); }
std::string Decode(const QByteArray& B) { return QUrl::fromPercentEncoding(B).toStdString(); }

// Reads one line (without its "\n"); false on time-out or a closed peer.
bool ReadLine(QLocalSocket& S, QByteArray& Line, int TimeoutMs) {
  while (!S.canReadLine()) {
    if (S.state() != QLocalSocket::ConnectedState) return false;
    if (!S.waitForReadyRead(TimeoutMs)) {
      if (!S.canReadLine()) return false;
    }
  }
  Line = S.readLine();
  if (Line.endsWith('\n')) Line.chop(1);
  return true;
}

bool Connect(QLocalSocket& S, const std::string& Path, int TimeoutMs) {
  S.connectToServer(QString::fromStdString(Path));
  return S.waitForConnected(TimeoutMs);
}

bool Request(QLocalSocket& S, const QByteArray& Line, int TimeoutMs) {
  S.write(Line + "\n");
  return S.waitForBytesWritten(TimeoutMs);
}

}  // namespace

std::string InstanceFolder() {
  const char* Run = std::getenv("XDG_RUNTIME_DIR");
  if (Run != nullptr && *Run != '\0') return Run;
  const std::string Folder = TempFolder() + "vemra-" + std::to_string(getuid());
  // The temporary folder is shared by every user: a folder of this name that
  // someone else made, or a link, would let them read the names handed over
  // or keep the windows from finding each other.
  if (::mkdir(Folder.c_str(), 0700) == 0) ::chmod(Folder.c_str(), 0700);  // whatever the umask left
  struct stat St = {};
  if (::lstat(Folder.c_str(), &St) != 0 || !S_ISDIR(St.st_mode) || St.st_uid != getuid() ||
      (St.st_mode & 07777) != 0700)
    return "";
  return Folder;
}

std::string InstanceSocketPath(int64_t Pid) {
  const std::string Folder = InstanceFolder();
  return Folder.empty() ? "" : Folder + "/" + kPrefix + std::to_string(Pid);
}

std::vector<TPeer> FindPeers() {
  struct TFound {
    TPeer Peer;
    fs::file_time_type Time;
  };
  std::vector<TFound> Found;
  const std::string Folder = InstanceFolder();
  if (Folder.empty()) return {};
  std::error_code ec;
  for (const fs::directory_entry& E : fs::directory_iterator(Folder, ec)) {
    const std::string Name = E.path().filename().string();
    if (Name.rfind(kPrefix, 0) != 0 || !E.is_socket(ec)) continue;
    char* End = nullptr;
    const long long Pid = std::strtoll(Name.c_str() + 6, &End, 10);
    if (End == nullptr || *End != '\0' || Pid <= 0) continue;
    QLocalSocket S;
    S.connectToServer(QString::fromStdString(E.path().string()));
    if (!S.waitForConnected(1000)) {
      const auto Err = S.error();
      if (Err == QLocalSocket::ConnectionRefusedError || Err == QLocalSocket::ServerNotFoundError) {
        // Its window ended without removing it.
        fs::remove(E.path(), ec);
      }
      continue;
    }
    S.disconnectFromServer();
    Found.push_back({TPeer{E.path().string(), Pid}, E.last_write_time(ec)});
  }
  std::stable_sort(Found.begin(), Found.end(), [](const TFound& A, const TFound& B) { return A.Time > B.Time; });
  std::vector<TPeer> Peers;
  for (const TFound& F : Found) Peers.push_back(F.Peer);
  return Peers;
}

bool QueryCaption(const std::string& Path, std::string& Caption, int TimeoutMs) {
  QLocalSocket S;
  QByteArray Line;
  if (!Connect(S, Path, TimeoutMs) || !Request(S, "CAPTION", TimeoutMs) || !ReadLine(S, Line, TimeoutMs))
    return false;
  Caption = Decode(Line);
  return true;
}

bool SendOpenFile(const std::string& Path, const std::string& FileName, int& Answer, int AckTimeoutMs) {
  QLocalSocket S;
  QByteArray Line;
  if (!Connect(S, Path, AckTimeoutMs) || !Request(S, "OPEN " + Encode(FileName), AckTimeoutMs) ||
      !ReadLine(S, Line, AckTimeoutMs) || Line != "ACK")
    return false;
  // The peer took the file; it may be asking its user first.
  if (!ReadLine(S, Line, -1)) return false;
  bool Ok = false;
  Answer = Line.toInt(&Ok);
  return Ok;
}

bool SendActivate(const std::string& Path, int TimeoutMs) {
  QLocalSocket S;
  QByteArray Line;
  return Connect(S, Path, TimeoutMs) && Request(S, "ACTIVATE", TimeoutMs) && ReadLine(S, Line, TimeoutMs) &&
         Line == "0";
}

// ---- TInstanceServer ------------------------------------------------------------------

TInstanceServer::TInstanceServer(THandlers Handlers, QObject* Parent)
    : QObject(Parent), handlers_(std::move(Handlers)) {}

TInstanceServer::~TInstanceServer() {
  if (server_ != nullptr) server_->close();  // removes the socket file
}

bool TInstanceServer::Listen() {
  path_ = InstanceSocketPath(getpid());
  if (path_.empty()) return false;
  QLocalServer::removeServer(QString::fromStdString(path_));  // a dead process with our pid
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(QString::fromStdString(path_))) return false;
  connect(server_, &QLocalServer::newConnection, this, [this] { OnConnection(); });
  return true;
}

void TInstanceServer::OnConnection() {
  while (QLocalSocket* S = server_->nextPendingConnection()) {
    connect(S, &QLocalSocket::disconnected, S, &QObject::deleteLater);
    connect(S, &QLocalSocket::readyRead, this, [this, S] { OnReadyRead(S); });
    if (S->canReadLine()) OnReadyRead(S);
  }
}

// Only answers that need no box are given here: opening a file may ask the
// user, and the event loop inside that box may delete this very socket when
// its sender ends, so the file waits in the queue for the loop's next turn.
void TInstanceServer::OnReadyRead(QLocalSocket* S) {
  while (S->canReadLine()) {
    QByteArray Line = S->readLine();
    if (Line.endsWith('\n')) Line.chop(1);
    if (Line == "CAPTION") {
      S->write(Encode(handlers_.Caption ? handlers_.Caption() : std::string()) + "\n");
    } else if (Line.startsWith("OPEN ")) {
      S->write("ACK\n");
      queue_.emplace_back(QPointer<QLocalSocket>(S), Decode(Line.mid(5)));
      SchedulePump(0);
    } else if (Line == "ACTIVATE") {
      if (handlers_.Activate) handlers_.Activate();
      S->write("0\n");
    }
    S->flush();
  }
}

void TInstanceServer::SchedulePump(int DelayMs) {
  if (pumpScheduled_) return;
  pumpScheduled_ = true;
  QTimer::singleShot(DelayMs, this, [this] {
    pumpScheduled_ = false;
    Pump();
  });
}

void TInstanceServer::Pump() {
  if (handling_) return;
  // A start that was ended while its file waited has taken its request back.
  while (!queue_.empty() &&
         (queue_.front().first.isNull() || queue_.front().first->state() != QLocalSocket::ConnectedState))
    queue_.pop_front();
  if (queue_.empty()) return;
  if (handlers_.Busy && handlers_.Busy()) {
    // Answered once the user has dealt with the open box.
    SchedulePump(100);
    return;
  }
  auto [Socket, Name] = queue_.front();
  queue_.pop_front();
  handling_ = true;
  if (handlers_.OpenFile) handlers_.OpenFile(Name);
  if (handlers_.Activate) handlers_.Activate();
  handling_ = false;
  // The sender may have ended while its file was handled: then there is
  // nobody to answer.
  if (Socket && Socket->state() == QLocalSocket::ConnectedState) {
    Socket->write("0\n");
    Socket->flush();
  }
  SchedulePump(0);
}
