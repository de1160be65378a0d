// The one atomic save. The new contents go into an unnamed file in the
// target's folder (O_TMPFILE), which gets a name only once it is complete and
// synced, and that name is then renamed over the target: a save killed at any
// moment leaves the old file and at most a complete copy, never a torn file
// or a full-size hidden remnant. File systems without O_TMPFILE get a named
// temporary file, removed on every failure we live to see.
#include "platform_savefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "platform_exceptions.h"

namespace {

// Closes a descriptor and removes a named temporary file unless the save
// got as far as renaming it.
struct TTempFile {
  int Fd = -1;
  std::string Name;
  ~TTempFile() {
    if (Fd >= 0) ::close(Fd);
    if (!Name.empty()) ::unlink(Name.c_str());
  }
};

mode_t DefaultFileMode() {
  // umask can only be read by setting it; put it straight back.
  const mode_t um = ::umask(0);
  ::umask(um);
  return static_cast<mode_t>(0666 & ~um);
}

std::string FolderOf(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : Path.substr(0, slash);
}

std::string BaseNameOf(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// "<folder>/.<name>.XXXXXX" with six random letters and digits.
std::string TempNameBeside(const std::string& Target) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string name = FolderOf(Target) + "/." + BaseNameOf(Target) + ".";
  for (int i = 0; i < 6; ++i) name += kChars[rng() % (sizeof kChars - 1)];
  return name;
}

// Whether the existing Target may be replaced: it must be a regular file that
// carries a write permission and that this process could open for writing.
// Root passes every permission test, so the mode bits are looked at as well:
// a file marked read-only stays as it is whoever saves.
bool MayReplace(const std::string& Target, const struct stat& St) {
  if (!S_ISREG(St.st_mode) || (St.st_mode & 0222) == 0) return false;
  const int fd = ::open(Target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// An unnamed file in Folder, or -1 where the file system has no O_TMPFILE
// (or no /proc to name the file through later).
int OpenUnnamed(const std::string& Folder) {
#ifdef O_TMPFILE
  if (::access("/proc/self/fd", X_OK) != 0) return -1;
  return ::open(Folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#else
  static_cast<void>(Folder);
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// Gives the complete unnamed file a temporary name beside the target.
bool LinkUnnamed(int Fd, const std::string& Target, std::string& Name) {
  const std::string self = "/proc/self/fd/" + std::to_string(Fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TempNameBeside(Target);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      Name = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

int OpenNamed(const std::string& Target, std::string& Name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TempNameBeside(Target);
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      Name = std::move(name);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

void SyncFolder(const std::string& Folder) {
  const int fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // The new file is in place either way; a folder that cannot be synced
  // (some network file systems) is no reason to report the save as failed.
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string ResolveSaveTarget(const std::string& FileName) {
  std::string path = FileName;
  // Follows the chain of links, dangling or not; the kernel's own limit of 40
  // stops a loop.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0 || static_cast<size_t>(n) >= buf.size()) return path;
    std::string link(buf.data(), static_cast<size_t>(n));
    path = !link.empty() && link[0] == '/' ? link : FolderOf(path) + "/" + link;
  }
  return path;
}

void ReplaceFileAtomically(const std::string& FileName, const std::function<void(TStream&)>& Write,
                           TRenameFailure OnRename) {
  const std::string target = ResolveSaveTarget(FileName);
  const std::string folder = FolderOf(target);
  auto createError = [&] { return EFCreateError("Cannot create file \"" + FileName + "\""); };

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !MayReplace(target, old)) throw createError();

  TTempFile temp;
  temp.Fd = OpenUnnamed(folder);
  const bool unnamed = temp.Fd >= 0;
  if (!unnamed) temp.Fd = OpenNamed(target, temp.Name);
  if (temp.Fd < 0) throw createError();

  {
    std::FILE* f = ::fdopen(::dup(temp.Fd), "w+b");
    if (!f) throw createError();
    TFileStream s(f);
    Write(s);
    if (!s.Flush()) throw EWriteError("Stream write error");
    if (std::fclose(s.Release()) != 0) throw EWriteError("Stream write error");
  }
  // The replaced file's owner (when root saves someone else's file) and
  // permissions; a new file gets the usual permissions rather than 0600.
  // The owner goes first: changing it clears the set-id bits.
  if (exists && ::geteuid() == 0) static_cast<void>(::fchown(temp.Fd, old.st_uid, old.st_gid));
  static_cast<void>(::fchmod(temp.Fd, exists ? (old.st_mode & 07777) : DefaultFileMode()));
  if (::fsync(temp.Fd) != 0) throw EWriteError("Stream write error");

  if (unnamed && !LinkUnnamed(temp.Fd, target, temp.Name)) {
    if (OnRename == TRenameFailure::rfCreateError) throw createError();
    throw EWriteError("Stream write error");
  }
  if (::rename(temp.Name.c_str(), target.c_str()) != 0) {
    if (OnRename == TRenameFailure::rfCreateError) throw createError();
    throw EWriteError("Stream write error");
  }
  temp.Name.clear();
  SyncFolder(folder);
}
