// The load dispatch: one table row per reader with the extensions it takes,
// tested in order; anything else goes to the picture-format registry through
// the bitmap. ".pnm" belongs to the JPEG 2000 library's row, so only the
// picture dialogs' previews read it as Netpbm.
#include "img_loadfile.h"

#include <cctype>
#include <exception>
#include <memory>

#include "exif_reader.h"
#include "img_gif.h"
#include "img_j2k.h"
#include "img_png.h"
#include "img_pxm.h"
#include "img_raw.h"
#include "img_tif.h"
#include "img_wbmp.h"
#include "img_zub.h"
#include "steptrace.h"
#include "utilities.h"

namespace {

using TReader = void (*)(const std::string&, TBitmap32*);

// BMP, icons and JPEG are picture classes of the platform, reached through
// the registry by the file's extension.
void LoadThroughRegistry(const std::string& FileName, TBitmap32* Bitmap) { Bitmap->LoadFromFile(FileName); }

struct TReaderRow {
  const char* Extensions[6];
  TReader Read;
};

const TReaderRow kReaders[] = {
    {{".png"}, LoadPNGIntoBitmap32},
    {{".zub"}, LoadZubImage},
    {{".gif"}, LoadGIF},
    {{".tif", ".tiff"}, LoadTiffToBitmap32},
    {{".jp2", ".j2k", ".jpc", ".pnm", ".ras"}, LoadJ2KFile},
    {{".crw", ".nef", ".raw"}, LoadRawImage},
    {{".ppm", ".pgm", ".pbm"}, LoadPNM},
    {{".wbm", ".wbmp"}, LoadWBMP},
    {{".jpg", ".jpeg"}, LoadThroughRegistry},
    {{".bmp"}, LoadThroughRegistry},
    {{".ico"}, LoadThroughRegistry},
};

TReader FindReader(const std::string& Ext) {
  for (const TReaderRow& Row : kReaders)
    for (const char* E : Row.Extensions)
      if (E && Ext == E) return Row.Read;
  return LoadThroughRegistry;
}

}  // namespace

std::string LowerFileExtension(const std::string& FileName) {
  const size_t Dot = FileName.find_last_of('.');
  const size_t Slash = FileName.find_last_of('/');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return "";
  std::string Ext = FileName.substr(Dot);
  for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return Ext;
}

bool LoadImageFile(const std::string& FileName, TBitmap32& Bitmap) {
  // The reader fills a bitmap of its own: a reader that raises, or refuses
  // the file in its own box and returns, leaves the caller's picture as it was.
  TBitmap32 Loaded;
  try {
    FindReader(LowerFileExtension(FileName))(FileName, &Loaded);
  } catch (const std::exception& E) {
    ShowExceptionBox(E, "on image " + FileName + " load");
    return false;
  }
  if (Loaded.Empty()) return false;
  Bitmap.AdoptPixels(Loaded);
  TraceStep("picture-decoded");
  // Damaged metadata never costs the user the picture; the picture then has
  // none, rather than keeping those of the file loaded before it.
  auto Data = std::make_unique<TimgData>(255);
  bool HasExif = false;
  try {
    HasExif = Data->LoadMetadata(FileName);
  } catch (const std::exception&) {
    Data = std::make_unique<TimgData>(255);
    HasExif = false;
  }
  gExifData = std::move(Data);
  gHasExif = HasExif;
  TraceStep("metadata-read");
  return true;
}
