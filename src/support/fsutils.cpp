#include "fsutils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace {

bool IsDirectory(const std::string& Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool EnsureDir(const std::string& Folder) {
  if (Folder.empty()) return false;
  if (IsDirectory(Folder)) return true;
  if (::mkdir(Folder.c_str(), 0777) != 0) {
    std::error_code ec;
    std::filesystem::create_directories(Folder, ec);
  }
  return IsDirectory(Folder);
}

int64_t FileSizeOf(const std::string& FileName) {
  // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int64_t size = -1;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<int64_t>(st.st_size);
  ::close(fd);
  return size;
}
