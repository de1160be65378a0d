#include "sysinfo.h"

#include <algorithm>

#include "platform_process.h"

std::string GetFileVersion() {
#ifdef VEMRA_VERSION
  return VEMRA_VERSION;
#else
  return "";
#endif
}

int32_t TotalPhysicalMB() {
  const uint64_t mb = PlatformPhysicalMemoryBytes() >> 20;
  return static_cast<int32_t>(std::min<uint64_t>(mb, 4095));
}

std::string ProgramFile() { return PlatformProgramFile(); }

std::string ProgramFolder() { return PlatformProgramFolder(); }
