#include "execute.h"

#include "sysinfo.h"

int32_t RunAndWait(const std::string& CommandLine, const std::string& Folder, int32_t ShowState,
                   uint32_t CreationFlags, uint32_t TimeoutMs) {
  int32_t result = -1;
  try {
    TSpawnOptions options;
    options.Folder = Folder.empty() ? ProgramFolder() : Folder;
    options.Hidden = ShowState == SW_HIDE;
    if (CreationFlags & IDLE_PRIORITY_CLASS) options.Nice = 19;
    else if (CreationFlags & BELOW_NORMAL_PRIORITY_CLASS) options.Nice = 10;
    std::vector<std::string> args = SplitCommandLine(CommandLine);
    // An empty command line names no program.
    if (args.empty() || args[0].empty()) return ERROR_FILE_NOT_FOUND;
    result = PlatformRunAndWait(args, options, TimeoutMs).Code;
  } catch (...) {
    // Callers test the result; nothing is raised to them.
  }
  return result;
}
