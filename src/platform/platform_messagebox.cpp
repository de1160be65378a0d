#include "platform_messagebox.h"

#include <unistd.h>

#include <memory>

namespace {

std::mutex gHandlerLock;
// Held as a shared pointer so that a call can keep using the handler it took
// while another thread installs a new one.
std::shared_ptr<const TMessageBoxHandler> gHandler;
std::string gTitle = "Vemra";

// Without a GUI the box becomes one line on stderr. One write() per line keeps
// lines from several threads apart.
int StderrBox(const TMessageBoxRequest& Request) {
  std::string line = Request.Caption.empty() ? std::string() : Request.Caption + ": ";
  line += Request.Text;
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  line += '\n';
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return MessageBoxDefaultButton(Request.Flags);
}

}  // namespace

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler Handler) {
  std::shared_ptr<const TMessageBoxHandler> next;
  if (Handler) next = std::make_shared<const TMessageBoxHandler>(std::move(Handler));
  std::lock_guard<std::mutex> guard(gHandlerLock);
  TMessageBoxHandler previous = gHandler ? *gHandler : TMessageBoxHandler();
  gHandler = std::move(next);
  return previous;
}

int PlatformMessageBox(const TMessageBoxRequest& Request) {
  std::shared_ptr<const TMessageBoxHandler> handler;
  {
    std::lock_guard<std::mutex> guard(gHandlerLock);
    handler = gHandler;
  }
  // The handler runs outside the lock: a modal box may take minutes, and a
  // handler may itself show another box.
  if (handler) return (*handler)(Request);
  return StderrBox(Request);
}

std::vector<int> MessageBoxButtons(uint32_t Flags) {
  switch (Flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}

int MessageBoxDefaultButton(uint32_t Flags) {
  std::vector<int> buttons = MessageBoxButtons(Flags);
  size_t index = 0;
  if ((Flags & MB_DEFMASK) == MB_DEFBUTTON2) index = 1;
  if ((Flags & MB_DEFMASK) == MB_DEFBUTTON3) index = 2;
  // A default button beyond the set falls back to the first one.
  return index < buttons.size() ? buttons[index] : buttons[0];
}

std::string ApplicationTitle() {
  std::lock_guard<std::mutex> guard(gHandlerLock);
  return gTitle;
}

void SetApplicationTitle(const std::string& Title) {
  std::lock_guard<std::mutex> guard(gHandlerLock);
  gTitle = Title;
}

void TMessageBoxRecorder::QueueAnswer(int Id) {
  std::lock_guard<std::mutex> guard(lock_);
  answers_.push_back(Id);
}

std::vector<TMessageBoxRequest> TMessageBoxRecorder::Requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

size_t TMessageBoxRecorder::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_.size();
}

TMessageBoxRequest TMessageBoxRecorder::Last() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_.empty() ? TMessageBoxRequest() : requests_.back();
}

void TMessageBoxRecorder::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.clear();
  answers_.clear();
}

int TMessageBoxRecorder::operator()(const TMessageBoxRequest& Request) {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.push_back(Request);
  if (answers_.empty()) return MessageBoxDefaultButton(Request.Flags);
  int answer = answers_.front();
  answers_.erase(answers_.begin());
  return answer;
}
