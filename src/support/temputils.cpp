#include "temputils.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "hashutils.h"

namespace {

// The first Digits characters of the upper-case hex text of H written with at
// least Digits digits (a value that needs more digits loses its last ones).
std::string HexPrefix(uint32_t H, int Digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", Digits, H);
  return std::string(buf, static_cast<size_t>(Digits));
}

std::string TimeStamp() {
  using namespace std::chrono;
  const system_clock::time_point now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const long ms = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%03ld", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                tm.tm_sec, ms);
  return buf;
}

}  // namespace

std::string TempFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string folder = (env && *env) ? env : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string MakeTempFile(const std::string& Extension) {
  const std::string folder = TempFolder();
  uint32_t h = static_cast<uint32_t>(StringHash(TimeStamp()));
  std::string name = folder + "t" + HexPrefix(h, 7) + "." + Extension;
  std::string refused;  // the last name that was taken
  // Every value of h is tried at most once; while h has more than five hex
  // digits, many values give the same name, and a name already refused is
  // not asked for again.
  for (uint64_t tries = 0; tries <= 0xFFFFFFFFull; ++tries) {
    if (name != refused) {
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        ::close(fd);
        return name;
      }
      // Only a name that exists sends us on; any other failure (no folder,
      // no permission, disk full) would fail for every name.
      if (errno != EEXIST) return "";
      refused = name;
    }
    ++h;  // unsigned: wraps as the 32-bit original did
    name = folder + "temp" + HexPrefix(h, 5) + "." + Extension;
  }
  return "";
}
