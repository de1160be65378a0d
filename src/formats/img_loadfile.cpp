// The load dispatch: one table row per reader with the extensions it takes,
// tested in order; anything else goes to the picture-format registry through
// the bitmap. ".pnm" belongs to the JPEG 2000 library's row, so only the
// picture dialogs' previews read it as Netpbm.
#include "img_loadfile.h"

#include <sys/stat.h>

#include <cctype>
#include <condition_variable>
#include <exception>
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

// What tells one file from another under the same name: a file replaced by
// another (a rename over it, a copy that kept the old time) is another inode,
// and one rewritten in place has a new change time, whatever its size and
// modification time say.
struct TFileIdentity {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};
  timespec StatusChanged{};
  bool operator==(const TFileIdentity& O) const {
    return Device == O.Device && Inode == O.Inode && Size == O.Size && Modified.tv_sec == O.Modified.tv_sec &&
           Modified.tv_nsec == O.Modified.tv_nsec && StatusChanged.tv_sec == O.StatusChanged.tv_sec &&
           StatusChanged.tv_nsec == O.StatusChanged.tv_nsec;
  }
};

// A picture read ahead. The reading thread holds it by a shared pointer.
struct TReadAhead {
  std::string FileName;
  TFileIdentity Identity;
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

// Readers still running, so that the program can wait for them before the
// statics they use (the format registry, the pixel reserve, the thread
// pool) are destroyed at its end.
struct TReadAheadThreads {
  std::mutex Lock;
  std::condition_variable Done;
  int32_t Running = 0;
};

TReadAheadThreads& ReadAheadThreads() {
  static TReadAheadThreads Threads;
  return Threads;
}

// So that a picture read ahead is not taken for a file that changed since.
bool FileIdentity(const std::string& Name, TFileIdentity& Identity) {
  struct stat St {};
  if (::stat(Name.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return false;
  Identity.Device = St.st_dev;
  Identity.Inode = St.st_ino;
  Identity.Size = St.st_size;
  Identity.Modified = St.st_mtim;
  Identity.StatusChanged = St.st_ctim;
  return true;
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
    if (FileIdentity(R->FileName, R->Identity)) {
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

void ReadAheadThread(std::shared_ptr<TReadAhead> R) {
  ReadAhead(R);
  // A picture nobody took is freed here, before the program may end.
  R.reset();
  TReadAheadThreads& Threads = ReadAheadThreads();
  std::lock_guard<std::mutex> Guard(Threads.Lock);
  --Threads.Running;
  Threads.Done.notify_all();
}

// The picture read ahead for FileName, when there is one that is still
// what the file holds; any read ahead is used up by the call.
std::shared_ptr<TReadAhead> TakeReadAhead(const std::string& FileName) {
  std::shared_ptr<TReadAhead> R = std::move(PendingReadAhead());
  PendingReadAhead() = nullptr;
  // One for another name is left to finish and free itself (the program waits for it at its end).
  if (!R || R->FileName != FileName) return nullptr;
  {
    std::unique_lock<std::mutex> Guard(R->Lock);
    R->Done.wait(Guard, [&R] { return R->Finished; });
  }
  TFileIdentity Now;
  if (!R->Ok || !FileIdentity(FileName, Now) || !(Now == R->Identity)) return nullptr;
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
  TReadAheadThreads& Threads = ReadAheadThreads();
  {
    std::lock_guard<std::mutex> Guard(Threads.Lock);
    ++Threads.Running;
  }
  try {
    std::thread(ReadAheadThread, R).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> Guard(Threads.Lock);
    --Threads.Running;
    return;  // LoadImageFile reads it then
  }
  PendingReadAhead() = R;
}

void WaitForReadAhead() {
  PendingReadAhead() = nullptr;
  TReadAheadThreads& Threads = ReadAheadThreads();
  std::unique_lock<std::mutex> Guard(Threads.Lock);
  Threads.Done.wait(Guard, [&Threads] { return Threads.Running == 0; });
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
