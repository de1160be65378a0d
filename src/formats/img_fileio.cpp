#include "img_fileio.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "platform_exceptions.h"
#include "platform_savefile.h"
#include "temputils.h"
#include "utilities.h"

void SaveFileAtomically(const std::string& FileName, const std::function<void(TStream&)>& Write) {
  ReplaceFileAtomically(FileName, Write, TRenameFailure::rfWriteError);
}

bool SaveFileReporting(const std::string& FileName, const std::string& Caption,
                       const std::function<void(TStream&)>& Write) {
  try {
    SaveFileAtomically(FileName, Write);
    return true;
  } catch (const EFCreateError&) {
    ShowUnitMessageBox("error opening " + FileName, Caption, MB_OK | MB_ICONHAND);
  } catch (const std::exception& e) {
    ShowUnitMessageBox("error writing " + FileName + " : " + e.what(), Caption, MB_OK | MB_ICONHAND);
  }
  return false;
}

std::unique_ptr<TFileStream> OpenFileReporting(const std::string& FileName, const std::string& Caption) {
  try {
    return std::make_unique<TFileStream>(FileName, TFileMode::fmOpenRead);
  } catch (const std::exception&) {
    ShowUnitMessageBox("error opening " + FileName, Caption, MB_OK | MB_ICONHAND);
    return nullptr;
  }
}

void RefuseUnlessRegularFile(const std::string& FileName) {
  struct stat Kind {};
  if (::stat(FileName.c_str(), &Kind) == 0 && !S_ISREG(Kind.st_mode)) TFileStream Refused(FileName, TFileMode::fmOpenRead);
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

bool FileCanFillPicture(int64_t Pixels, int64_t Bytes, int64_t MaxPixelsPerByte) {
  if (Pixels <= kShortFileMaxPixels) return true;
  if (Bytes <= 0 || MaxPixelsPerByte <= 0) return false;
  // Pixels / ratio, rounded up, against the bytes: a quotient and a
  // remainder, so no sum can overflow whatever the ratio (INT64_MAX: none).
  return Pixels / MaxPixelsPerByte + (Pixels % MaxPixelsPerByte != 0 ? 1 : 0) <= Bytes;
}

TTempFileGuard::TTempFileGuard(const std::string& Extension) : Name(MakeTempFile(Extension)) {
  std::error_code Ec;
  if (!Name.empty()) {
    const std::filesystem::path P = std::filesystem::absolute(Name, Ec);
    if (!Ec) Name = P.lexically_normal().string();
  }
}

TTempFileGuard::~TTempFileGuard() {
  if (!Name.empty()) std::remove(Name.c_str());
}

void TTempFileGuard::Fill(TStream& Source) {
  if (Name.empty()) throw EFCreateError("Cannot create a temporary file");
  TFileStream Out(Name, TFileMode::fmCreate);
  Out.CopyFrom(Source, 0);
}
