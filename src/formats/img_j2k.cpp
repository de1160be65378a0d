// The JPEG 2000 bridge: loads the library module from the program's folder
// for each call, exchanges one container record with it and unloads it
// again, whatever way the call ends. The module owns the pixels it returns
// until LibFreeImage, which runs on every path once LibLoadImage succeeded.
// The module writes only into memory handed to it under a file name; the
// picture reaches the user's file through the atomic save like every other
// format's, so write protection, links, owner and mode are honoured the same
// way and a failed or killed save leaves the old file whole.
#include "img_j2k.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <filesystem>
#include <vector>

#include "img_fileio.h"
#include "img_loadfile.h"
#include "j2k_container.h"
#include "sysinfo.h"
#include "utilities.h"

namespace {

const char kUnit[] = "img_j2k";
std::string gModuleFolder;
bool gRegistered = false;

// The module while one call uses it.
class TJ2KModule {
 public:
  TJ2KModule() {
    const std::string Path = J2KModulePath();
    handle_ = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) {
      Load = reinterpret_cast<TLibLoadImage>(dlsym(handle_, "LibLoadImage"));
      Save = reinterpret_cast<TLibSaveImage>(dlsym(handle_, "LibSaveImage"));
      Free = reinterpret_cast<TLibFreeImage>(dlsym(handle_, "LibFreeImage"));
    }
    // A missing module would otherwise open an empty document or claim a
    // save that never happened.
    if (!Ready())
      ShowUnitMessageBox("JPEG 2000 library " + Path + " cannot be loaded", kUnit, MB_OK | MB_ICONHAND);
  }
  ~TJ2KModule() {
    if (handle_) dlclose(handle_);
  }
  TJ2KModule(const TJ2KModule&) = delete;
  TJ2KModule& operator=(const TJ2KModule&) = delete;
  bool Ready() const { return Load && Save && Free; }

  TLibLoadImage Load = nullptr;
  TLibSaveImage Save = nullptr;
  TLibFreeImage Free = nullptr;

 private:
  void* handle_ = nullptr;
};

// Hands the module's pixels back to it when the load ends.
class TContainerRelease {
 public:
  TContainerRelease(TJ2KModule& Module, TImageContainer& Image) : module_(Module), image_(Image) {}
  ~TContainerRelease() { module_.Free(&image_); }
  TContainerRelease(const TContainerRelease&) = delete;
  TContainerRelease& operator=(const TContainerRelease&) = delete;

 private:
  TJ2KModule& module_;
  TImageContainer& image_;
};

bool IsHandledPixelType(int32_t Type) {
  return Type == kJ2KGrey || Type == kJ2KGreyMode || Type == kJ2KBgr || Type == kJ2KBgra || Type == kJ2KBgrPlanes;
}

// Copies the module's picture into Bitmap (opaque, except the 4-byte type
// that carries its own alpha).
void CopyFromContainer(const TImageContainer& C, TBitmap32& Bitmap) {
  if (!IsHandledPixelType(C.PixelType)) throw EInvalidGraphic("unsupported Bitmap format");
  if (C.Width <= 0 || C.Height <= 0 || C.Data == nullptr || C.Width > TPlatformBitmap::kMaxDimension ||
      C.Height > TPlatformBitmap::kMaxDimension || int64_t{C.Width} * C.Height > TPlatformBitmap::kMaxPixels)
    throw EInvalidGraphic("error in Bitmap data");
  Bitmap.SetSize(C.Width, C.Height);
  const size_t N = static_cast<size_t>(C.Width) * static_cast<size_t>(C.Height);
  TColor32* D = Bitmap.Bits();
  const uint8_t* S = C.Data;
  switch (C.PixelType) {
    case kJ2KGrey:
    case kJ2KGreyMode:
      for (size_t i = 0; i < N; ++i) D[i] = 0xFF000000u | 0x010101u * S[i];
      break;
    case kJ2KBgr:
      for (size_t i = 0; i < N; ++i, S += 3) D[i] = 0xFF000000u | uint32_t{S[2]} << 16 | uint32_t{S[1]} << 8 | S[0];
      break;
    case kJ2KBgrPlanes:
      for (size_t i = 0; i < N; ++i) D[i] = 0xFF000000u | uint32_t{S[2 * N + i]} << 16 | uint32_t{S[N + i]} << 8 | S[i];
      break;
    case kJ2KBgra:
      for (size_t i = 0; i < N; ++i, S += 4)
        D[i] = uint32_t{S[3]} << 24 | uint32_t{S[2]} << 16 | uint32_t{S[1]} << 8 | S[0];
      break;
  }
  Bitmap.Changed();
}

// The format name the module is asked for: the extension without its dot,
// at most three letters, upper-cased (".jp2" gives JP2, ".jpeg2" JPE).
std::string FormatName(const std::string& FileName) {
  std::string Ext = LowerFileExtension(FileName);
  Ext = Ext.empty() ? "" : Ext.substr(1, 3);
  for (char& C : Ext) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  return Ext;
}

// Where the module writes: an anonymous file in memory that it reaches by its
// /proc name, so nothing half-written ever gets a name on disk; where /proc
// cannot be used, a file in the temporary folder.
class TModuleOutput {
 public:
  TModuleOutput() {
    fd_ = ::memfd_create("vemra-j2k", MFD_CLOEXEC);
    if (fd_ >= 0 && ::access("/proc/self/fd", X_OK) == 0) {
      Path = "/proc/self/fd/" + std::to_string(fd_);
    } else {
      temp_ = std::make_unique<TTempFileGuard>("jp2");
      Path = temp_->Name;
    }
  }
  ~TModuleOutput() {
    if (fd_ >= 0) ::close(fd_);
  }
  TModuleOutput(const TModuleOutput&) = delete;
  TModuleOutput& operator=(const TModuleOutput&) = delete;

  std::string Path;

 private:
  int fd_ = -1;
  std::unique_ptr<TTempFileGuard> temp_;
};

// Has the module encode Bitmap in the format FileName names, into Encoded.
// False (after the box) when the module cannot be loaded.
bool EncodeJ2K(const std::string& FileName, const TBitmap32* Bitmap, int32_t Rate, int32_t Mode,
               TMemoryStream& Encoded) {
  TJ2KModule Module;
  if (!Module.Ready()) return false;
  const size_t W = static_cast<size_t>(Bitmap->Width()), H = static_cast<size_t>(Bitmap->Height());
  const size_t N = W * H;
  const bool Grey = Mode == 1;
  std::vector<uint8_t> Pixels(Grey ? N : 3 * N);
  const TColor32* S = Bitmap->Bits();
  for (size_t i = 0; i < N; ++i) {
    if (Grey) {
      Pixels[i] = static_cast<uint8_t>(IntensityOf(S[i]));
    } else {
      Pixels[3 * i] = static_cast<uint8_t>(BlueOf(S[i]));
      Pixels[3 * i + 1] = static_cast<uint8_t>(GreenOf(S[i]));
      Pixels[3 * i + 2] = static_cast<uint8_t>(RedOf(S[i]));
    }
  }
  TImageContainer Image{};
  Image.Width = static_cast<int32_t>(W);
  Image.Height = static_cast<int32_t>(H);
  Image.BytesPerRow = static_cast<int32_t>(Grey ? W : 3 * W);
  Image.PixelType = Grey ? kJ2KGreyMode : kJ2KBgr;
  Image.Data = Pixels.data();
  const std::string Options = J2KRateOptions(Rate);
  Image.Options = Options.empty() ? nullptr : Options.c_str();
  TModuleOutput Output;
  if (Output.Path.empty() || Module.Save(Output.Path.c_str(), FormatName(FileName).c_str(), &Image) != 0)
    throw EInvalidGraphicOperation("Error writing image file");
  try {
    Encoded.LoadFromFile(Output.Path);
  } catch (const EStreamError&) {
    throw EInvalidGraphicOperation("Error writing image file");
  }
  // No format has an empty file; written over a picture it would lose it.
  if (Encoded.Bytes().empty()) throw EInvalidGraphicOperation("Error writing image file");
  return true;
}

}  // namespace

void SetJ2KModuleFolder(const std::string& Folder) { gModuleFolder = Folder; }

std::string J2KModulePath() {
  return (gModuleFolder.empty() ? ProgramFolder() : gModuleFolder) + "/" + J2K_MODULE_FILE_NAME;
}

std::string J2KRateOptions(int32_t Rate) {
  if (Rate <= 0) return "";
  char Buf[32];
  const auto R = std::to_chars(Buf, Buf + sizeof Buf, Rate / 100.0);
  return "rate=" + std::string(Buf, R.ptr);
}

void LoadJ2KFile(const std::string& FileName, TBitmap32* Bitmap) {
  std::error_code Ec;
  // Something that is there but no plain file (a folder, a pipe) is refused
  // by the stream's own rule, which names the reason.
  if (std::filesystem::exists(FileName, Ec) && !std::filesystem::is_regular_file(FileName, Ec))
    TFileStream Refused(FileName, TFileMode::fmOpenRead);
  if (!std::filesystem::is_regular_file(FileName, Ec)) throw EInOutError("jpeg2000 image file does not exist");
  TJ2KModule Module;
  if (!Module.Ready()) return;
  TImageContainer Image{};
  char Format[J2K_FORMAT_BUFFER_SIZE] = {};
  if (Module.Load(FileName.c_str(), Format, &Image) != 0) throw EInvalidGraphic("error in Bitmap data");
  TContainerRelease Release(Module, Image);
  CopyFromContainer(Image, *Bitmap);
}

bool SaveJ2KFile(const std::string& FileName, const TBitmap32* Bitmap, int32_t Rate, int32_t Mode) {
  TMemoryStream Encoded;
  if (!EncodeJ2K(FileName, Bitmap, Rate, Mode, Encoded)) return false;
  // To the caller a file that could not be replaced is the library's failed
  // write, as it always was.
  try {
    SaveFileAtomically(FileName, [&](TStream& S) { S.WriteBuffer(Encoded.Memory(), Encoded.Bytes().size()); });
  } catch (const EStreamError&) {
    throw EInvalidGraphicOperation("Error writing image file");
  }
  return true;
}

void TJ2KObject::LoadFromFile(const std::string& FileName) {
  TBitmap32 Temp;
  LoadJ2KFile(FileName, &Temp);
  Temp.AssignTo(*this);
}

void TJ2KObject::SaveToFile(const std::string& FileName) const {
  TBitmap32 Temp;
  Temp.Assign(static_cast<const TGraphic*>(this));
  SaveJ2KFile(FileName, &Temp, 0, 3);
}

void TJ2KObject::LoadFromStream(TStream& Stream) {
  TTempFileGuard Temp("jp2");
  Temp.Fill(Stream);
  LoadFromFile(Temp.Name);
}

void TJ2KObject::SaveToStream(TStream& Stream) const {
  TBitmap32 Copy;
  Copy.Assign(static_cast<const TGraphic*>(this));
  TMemoryStream Encoded;
  if (!EncodeJ2K("picture.jp2", &Copy, 0, 3, Encoded)) throw EInvalidGraphicOperation("Error writing image file");
  Stream.WriteBuffer(Encoded.Memory(), Encoded.Bytes().size());
}

void RegisterJ2KImage() {
  if (gRegistered) return;
  auto make = [] { return std::make_unique<TJ2KObject>(); };
  RegisterFileFormat("JP2", "JPEG 2000 (jp2) Image File", "TJ2KObject", make);
  RegisterFileFormat("J2K", "JPEG 2000 (code-stream) Image File", "TJ2KObject", make);
  RegisterFileFormat("JPC", "JPEG 2000 (code-stream) Image File", "TJ2KObject", make);
  gRegistered = true;
}

void UnregisterJ2KImage() {
  UnregisterGraphicClass("TJ2KObject");
  gRegistered = false;
}
