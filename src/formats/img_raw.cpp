// The camera-raw bridge: the converter writes a Netpbm file into a temporary
// file that the Netpbm reader then reads; the temporary file is removed
// however the load ends.
#include "img_raw.h"

#include <unistd.h>

#include <filesystem>

#include "fsutils.h"
#include "img_fileio.h"
#include "img_pxm.h"
#include "platform_process.h"
#include "sysinfo.h"
#include "utilities.h"

namespace {

std::string gConverterFolder;

// One hour, as long as a large file may take on a slow machine.
constexpr uint32_t kConverterTimeoutMs = 3600000;

}  // namespace

void SetRawConverterFolder(const std::string& Folder) { gConverterFolder = Folder; }

std::string RawConverterFolder() { return gConverterFolder.empty() ? ProgramFolder() : gConverterFolder; }

std::string RawConverterPath(const std::string& FileName) {
  if (FileName.empty()) return FileName;
  std::error_code Ec;
  const std::filesystem::path P = std::filesystem::absolute(FileName, Ec);
  return Ec ? FileName : P.lexically_normal().string();
}

int32_t RunRawConverter(const std::vector<std::string>& Args) {
  const std::string Folder = RawConverterFolder();
  std::vector<std::string> Argv{Folder + "/dcraw.cmd"};
  // A converter that is not there answers as one that refuses the file,
  // without a child process.
  if (::access(Argv[0].c_str(), X_OK) != 0) return -1;
  Argv.insert(Argv.end(), Args.begin(), Args.end());
  TSpawnOptions Options;
  Options.Folder = Folder;
  Options.Hidden = true;
  Options.Nice = 19;
  return PlatformRunAndWait(Argv, Options, kConverterTimeoutMs).Code;
}

void LoadRawImage(const std::string& FileName, TBitmap32* Bitmap) {
  Bitmap->SetSize(0, 0);
  // The converter would wait for ever on a pipe named like a raw file.
  RefuseUnlessRegularFile(FileName);
  const std::string Source = RawConverterPath(FileName);
  if (RunRawConverter({"-i", Source}) != 0) {
    ShowUnitMessageBox("RAW image/format unrecognized !", "img_raw", MB_OK | MB_ICONHAND);
    return;
  }
  TTempFileGuard Temp("tmp");
  if (Temp.Name.empty()) return;
  RunRawConverter({"/i", Source, Temp.Name});
  if (FileSizeOf(Temp.Name) > 0) LoadPNM(Temp.Name, Bitmap);
}
