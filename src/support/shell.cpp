#include "shell.h"

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

bool IsExecutableFile(const std::string& Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(Path.c_str(), X_OK) == 0;
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
