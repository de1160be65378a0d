// The load dispatch: one table row per reader with the extensions it takes,
// tested in order; anything else goes to the picture-format registry through
// the bitmap. ".pnm" belongs to the JPEG 2000 library's row, so only the
// picture dialogs' previews read it as Netpbm.
#include "img_loadfile.h"

#include <cctype>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "exif_reader.h"
#include "img_gif.h"
#include "img_j2k.h"
#include "img_png.h"
#include "img_pxm.h"
#include "img_raw.h"
#include "img_tif.h"
#include "img_wbmp.h"
#include "img_zub.h"
#include "tif_image.h"
#include "steptrace.h"
#include "utilities.h"

namespace {

// A row reads the file into a bitmap of its own and says whether it made a
// picture. A reader that shows its own error and returns has not, whatever it
// left in the bitmap: that picture never reaches the caller.
using TReader = bool (*)(const std::string&, TBitmap32&);

// Readers that raise on every failure: a picture is a success.
template <void (*Read)(const std::string&, TBitmap32*)>
bool Raising(const std::string& FileName, TBitmap32& Bitmap) {
  Read(FileName, &Bitmap);
  return !Bitmap.Empty();
}

// A ZU3 file whose stream breaks off shows "error reading" over a black picture.
bool ReadZub(const std::string& FileName, TBitmap32& Bitmap) {
  return LoadZubImageChecked(FileName, Bitmap).empty() && !Bitmap.Empty();
}

// A short strip shows libtiff's error over the rows it could read.
bool ReadTiff(const std::string& FileName, TBitmap32& Bitmap) {
  return ReadTiffIntoBitmap32(FileName, Bitmap) && !Bitmap.Empty();
}

// BMP, icons and JPEG are picture classes of the platform, reached through
// the registry by the file's extension.
void LoadThroughRegistry(const std::string& FileName, TBitmap32* Bitmap) { Bitmap->LoadFromFile(FileName); }

struct TReaderRow {
  const char* Extensions[6];
  TReader Read;
};

const TReaderRow kReaders[] = {
    {{".png"}, Raising<LoadPNGIntoBitmap32>},
    {{".zub"}, ReadZub},
    {{".gif"}, Raising<LoadGIF>},
    {{".tif", ".tiff"}, ReadTiff},
    {{".jp2", ".j2k", ".jpc", ".pnm", ".ras"}, Raising<LoadJ2KFile>},
    {{".crw", ".nef", ".raw"}, Raising<LoadRawImage>},
    {{".ppm", ".pgm", ".pbm"}, Raising<LoadPNM>},
    {{".wbm", ".wbmp"}, Raising<LoadWBMP>},
    {{".jpg", ".jpeg"}, Raising<LoadThroughRegistry>},
    {{".bmp"}, Raising<LoadThroughRegistry>},
    {{".ico"}, Raising<LoadThroughRegistry>},
};

TReader FindReader(const std::string& Ext) {
  for (const TReaderRow& Row : kReaders)
    for (const char* E : Row.Extensions)
      if (E && Ext == E) return Row.Read;
  return Raising<LoadThroughRegistry>;
}

// A picture read ahead. The reading thread holds it by a shared pointer and
// is never waited for at exit.
struct TReadAhead {
  std::string FileName;
  std::filesystem::file_time_type Time{};
  uintmax_t Size = 0;
  TBitmap32 Picture;
  std::unique_ptr<TimgData> Data;
  bool HasExif = false;
  bool Ok = false;
  std::mutex Lock;
  std::condition_variable Done;
  bool Finished = false;
};

// The read ahead that the next LoadImageFile may take (user-interface thread only).
std::shared_ptr<TReadAhead>& PendingReadAhead() {
  static std::shared_ptr<TReadAhead> Pending;
  return Pending;
}

// The file's size and time, so that a picture read ahead is not taken for a
// file that changed since.
bool FileIdentity(const std::string& Name, std::filesystem::file_time_type& Time, uintmax_t& Size) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(Name, ec)) return false;
  Time = std::filesystem::last_write_time(Name, ec);
  if (ec) return false;
  Size = std::filesystem::file_size(Name, ec);
  return !ec;
}

// Damaged metadata never costs the user the picture; the picture then has
// none, rather than keeping those of the file loaded before it.
std::unique_ptr<TimgData> ReadMetadata(const std::string& FileName, bool& HasExif) {
  auto Data = std::make_unique<TimgData>(255);
  HasExif = false;
  try {
    HasExif = Data->LoadMetadata(FileName);
  } catch (const std::exception&) {
    Data = std::make_unique<TimgData>(255);
    HasExif = false;
  }
  return Data;
}

void ReadAhead(const std::shared_ptr<TReadAhead>& R) {
  bool Ok = false;
  try {
    if (FileIdentity(R->FileName, R->Time, R->Size)) {
      Ok = FindReader(LowerFileExtension(R->FileName))(R->FileName, R->Picture);
      if (Ok) R->Data = ReadMetadata(R->FileName, R->HasExif);
    }
  } catch (...) {
    Ok = false;  // read again by LoadImageFile, which reports it
  }
  std::lock_guard<std::mutex> Guard(R->Lock);
  R->Ok = Ok;
  R->Finished = true;
  R->Done.notify_all();
}

// The picture read ahead for FileName, when there is one that is still
// what the file holds; any read ahead is used up by the call.
std::shared_ptr<TReadAhead> TakeReadAhead(const std::string& FileName) {
  std::shared_ptr<TReadAhead> R = std::move(PendingReadAhead());
  PendingReadAhead() = nullptr;
  // One for another name is left to finish and free itself.
  if (!R || R->FileName != FileName) return nullptr;
  {
    std::unique_lock<std::mutex> Guard(R->Lock);
    R->Done.wait(Guard, [&R] { return R->Finished; });
  }
  std::filesystem::file_time_type Time;
  uintmax_t Size = 0;
  if (!R->Ok || !FileIdentity(FileName, Time, Size) || Time != R->Time || Size != R->Size) return nullptr;
  return R;
}

}  // namespace

std::vector<std::string> LoadImageFileExtensions() {
  std::vector<std::string> Names;
  for (const TReaderRow& Row : kReaders)
    for (const char* E : Row.Extensions)
      if (E) Names.emplace_back(E);
  return Names;
}

void ReadImageFileAhead(const std::string& FileName) {
  const std::string Ext = LowerFileExtension(FileName);
  if (Ext != ".png" && Ext != ".jpg" && Ext != ".jpeg") return;
  auto R = std::make_shared<TReadAhead>();
  R->FileName = FileName;
  try {
    std::thread(ReadAhead, R).detach();
  } catch (const std::system_error&) {
    return;  // LoadImageFile reads it then
  }
  PendingReadAhead() = R;
}

std::string LowerFileExtension(const std::string& FileName) {
  const size_t Dot = FileName.find_last_of('.');
  const size_t Slash = FileName.find_last_of('/');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return "";
  std::string Ext = FileName.substr(Dot);
  for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return Ext;
}

bool LoadImageFile(const std::string& FileName, TBitmap32& Bitmap) {
  if (std::shared_ptr<TReadAhead> R = TakeReadAhead(FileName)) {
    Bitmap.AdoptPixels(R->Picture);
    TraceStep("picture-decoded");
    gExifData = std::move(R->Data);
    gHasExif = R->HasExif;
    TraceStep("metadata-read");
    return true;
  }
  // The reader fills a bitmap of its own: a reader that raises, or refuses
  // the file in its own box and returns, leaves the caller's picture as it was.
  // The picture is handed over by moving its pixels, never copied, so the
  // peak stays one picture.
  TBitmap32 Loaded;
  try {
    if (!FindReader(LowerFileExtension(FileName))(FileName, Loaded)) return false;
  } catch (const std::exception& E) {
    ShowExceptionBox(E, "on image " + FileName + " load");
    return false;
  }
  Bitmap.AdoptPixels(Loaded);
  TraceStep("picture-decoded");
  bool HasExif = false;
  gExifData = ReadMetadata(FileName, HasExif);
  gHasExif = HasExif;
  TraceStep("metadata-read");
  return true;
}
