#include "platform_savefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform_exceptions.h"

namespace {

// Removes the temporary file unless the save got as far as renaming it.
struct TTempFileGuard {
  std::string Name;
  bool Keep = false;
  ~TTempFileGuard() {
    if (!Keep && !Name.empty()) ::unlink(Name.c_str());
  }
};

mode_t DefaultFileMode() {
  // umask can only be read by setting it; put it straight back.
  const mode_t um = ::umask(0);
  ::umask(um);
  return static_cast<mode_t>(0666 & ~um);
}

}  // namespace

void ReplaceFileAtomically(const std::string& FileName, const std::function<void(TStream&)>& Write,
                           TRenameFailure OnRename) {
  namespace fs = std::filesystem;
  fs::path target(FileName);
  std::error_code ec;
  // Saving through a symbolic link replaces the file it points at, not the link.
  if (fs::is_symlink(target, ec)) {
    fs::path real = fs::canonical(target, ec);
    if (!ec) target = real;
  }
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  const std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw EFCreateError("Cannot create file \"" + FileName + "\"");
  TTempFileGuard guard{name.data()};
  std::FILE* f = ::fdopen(fd, "w+b");
  if (!f) {
    ::close(fd);
    throw EFCreateError("Cannot create file \"" + FileName + "\"");
  }
  {
    TFileStream s(f);
    Write(s);
    if (!s.Flush() || ::fsync(::fileno(f)) != 0) throw EWriteError("Stream write error");
    if (std::fclose(s.Release()) != 0) throw EWriteError("Stream write error");
  }
  // Keep the permissions of the file being replaced; a new file gets the
  // usual ones rather than mkstemp's owner-only mode.
  struct stat st {};
  const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : DefaultFileMode();
  ::chmod(guard.Name.c_str(), mode);
  if (::rename(guard.Name.c_str(), target.c_str()) != 0) {
    if (OnRename == TRenameFailure::rfCreateError) throw EFCreateError("Cannot create file \"" + FileName + "\"");
    throw EWriteError("Stream write error");
  }
  guard.Keep = true;
}
