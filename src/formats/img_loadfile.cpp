// The load dispatch: one table row per group of extensions, tested in order;
// anything else goes to the picture-format registry through the bitmap.
#include "img_loadfile.h"

#include <cctype>
#include <exception>
#include <memory>

#include "exif_reader.h"
#include "img_gif.h"
#include "img_png.h"
#include "img_pxm.h"
#include "img_wbmp.h"
#include "img_zub.h"
#include "utilities.h"

namespace {

using TReader = void (*)(const std::string&, TBitmap32*);

struct TReaderRow {
  const char* Extensions[6];
  TReader Read;
};

const TReaderRow kReaders[] = {
    {{".png"}, LoadPNGIntoBitmap32},
    {{".gif"}, LoadGIF},
    {{".zub"}, LoadZubImage},
    {{".ppm", ".pgm", ".pbm"}, LoadPNM},
    {{".wbm", ".wbmp"}, LoadWBMP},
};

TReader FindReader(const std::string& Ext) {
  for (const TReaderRow& Row : kReaders)
    for (const char* E : Row.Extensions)
      if (E && Ext == E) return Row.Read;
  return nullptr;
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
  try {
    if (TReader Read = FindReader(LowerFileExtension(FileName)))
      Read(FileName, &Bitmap);
    else
      Bitmap.LoadFromFile(FileName);
    auto Data = std::make_unique<TimgData>(255);
    const bool HasExif = Data->LoadMetadata(FileName);
    gExifData = std::move(Data);
    gHasExif = HasExif;
  } catch (const std::exception& E) {
    ShowExceptionBox(E, "on image " + FileName + " load");
    return false;
  }
  return !Bitmap.Empty();
}
