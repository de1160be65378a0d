#include "img_fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform_exceptions.h"

namespace {

struct TTempGuard {
  std::string Name;
  bool Keep = false;
  ~TTempGuard() {
    if (!Keep && !Name.empty()) ::unlink(Name.c_str());
  }
};

mode_t NewFileMode() {
  // umask can only be read by setting it; put it straight back.
  const mode_t um = ::umask(0);
  ::umask(um);
  return static_cast<mode_t>(0666 & ~um);
}

}  // namespace

void SaveFileAtomically(const std::string& FileName, const std::function<void(TStream&)>& Write) {
  namespace fs = std::filesystem;
  fs::path target(FileName);
  std::error_code ec;
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
  TTempGuard guard{name.data()};
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
  struct stat st {};
  const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : NewFileMode();
  ::chmod(guard.Name.c_str(), mode);
  if (::rename(guard.Name.c_str(), target.c_str()) != 0) throw EWriteError("Stream write error");
  guard.Keep = true;
}

size_t ReadUpTo(TStream& Stream, void* Buffer, size_t Count) {
  auto* p = static_cast<uint8_t*>(Buffer);
  size_t got = 0;
  while (got < Count) {
    const size_t n = Stream.Read(p + got, Count - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

void CheckImageFitsMemory(int64_t Width, int64_t Height) {
  if (Width <= 0 || Height <= 0) return;
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  const uint64_t physical =
      pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : UINT64_MAX;
  if (Width > INT32_MAX || Height > INT32_MAX)
    throw EOutOfMemory("Not enough memory for an image of " + std::to_string(Width) + " x " +
                       std::to_string(Height) + " pixels");
  // Both sides are below 2^31, so the product of bytes fits 64 bits.
  const uint64_t bytes = static_cast<uint64_t>(Width) * static_cast<uint64_t>(Height) * 4;
  if (bytes > physical)
    throw EOutOfMemory("Not enough memory for an image of " + std::to_string(Width) + " x " +
                       std::to_string(Height) + " pixels");
}
