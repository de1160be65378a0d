#include "shell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform_process.h"
#include "sysinfo.h"

namespace {

std::string CurrentFolder() {
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  return ec ? std::string() : cwd;
}

// A program we can start ourselves: an executable regular file that is a
// binary or a script. The execute bit alone is not enough: on FAT and NTFS
// mounts every file carries it, and a picture or a help page there must go
// to its handler, not fail to start as a program.
bool IsExecutableFile(const std::string& Path) {
  struct stat st;
  if (::stat(Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(Path.c_str(), X_OK) != 0) return false;
  const int fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char head[4] = {0, 0, 0, 0};
  const ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  return (n >= 4 && head[0] == '\x7f' && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') ||
         (n >= 2 && head[0] == '#' && head[1] == '!');
}

}  // namespace

void ShellOpen(const std::string& File, const std::string& Parameters, const std::string& Folder) {
  try {
    const std::string folder = Folder.empty() ? ProgramFolder() : Folder;
    std::string target = File;
    // A relative name that exists here would be looked for in the new
    // folder by the child; hand it over as a full path.
    std::error_code ec;
    if (!target.empty() && target[0] != '/' && std::filesystem::exists(target, ec))
      target = std::filesystem::absolute(target, ec).string();
    std::vector<std::string> args;
    if (IsExecutableFile(target)) {
      args.push_back(target);
      if (!Parameters.empty()) {
        // A dummy program name, so that every parameter follows the argument rules.
        std::vector<std::string> params = SplitCommandLine("x " + Parameters);
        args.insert(args.end(), params.begin() + 1, params.end());
      }
    } else {
      args = {"xdg-open", target};
    }
    PlatformStartDetached(args, folder);
  } catch (...) {
    // The shell's result is not reported; neither is ours.
  }
}

void OpenDocument(const std::string& FileOrAddress) { ShellOpen(FileOrAddress, "", CurrentFolder()); }

int32_t OpenDocumentWatched(const std::string& Document, TWatchedStart& Watch) {
  std::error_code ec;
  const std::string target = std::filesystem::absolute(Document, ec).string();
  return PlatformStartWatched({"xdg-open", ec ? Document : target}, CurrentFolder(), Watch);
}

void RunSelf(const std::string& Parameter) {
  std::vector<std::string> args;
  if (!Parameter.empty()) args.push_back(Parameter);
  RunSelf(args);
}

std::vector<std::string> SelfStartArguments(const std::vector<std::string>& Arguments) {
  std::vector<std::string> args{ProgramFile()};
  args.insert(args.end(), Arguments.begin(), Arguments.end());
  return args;
}

void RunSelf(const std::vector<std::string>& Arguments) {
  try {
    PlatformStartDetached(SelfStartArguments(Arguments), CurrentFolder());
  } catch (...) {
  }
}
