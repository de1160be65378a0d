#pragma once
// JPEG 2000 (".jp2", ".j2k", ".jpc") and, through the same module, ".pnm"
// and ".ras" files. The codec lives in a library module beside the program,
// loaded for each call and unloaded on every path; the two sides exchange
// the container record of j2k_container.h.
#include <cstdint>
#include <string>

#include "platform_graphics.h"
#include "raster_core.h"

// The folder the module is loaded from; empty (the default) means the
// program's folder. Tests point it at stand-in modules.
void SetJ2KModuleFolder(const std::string& Folder);
std::string J2KModulePath();

// Reads FileName into Bitmap. Raises EInOutError "jpeg2000 image file does
// not exist" for a missing file, EInvalidGraphic "error in Bitmap data" when
// the module refuses the file and "unsupported Bitmap format" for a pixel
// layout it should not have given. A module that cannot be loaded is
// reported in a box captioned "img_j2k"; the bitmap then stays as it was.
void LoadJ2KFile(const std::string& FileName, TBitmap32* Bitmap);

// Writes Bitmap in the format named by FileName's extension (its first three
// letters, upper-cased): Mode 1 stores the intensity as grey, any other mode
// blue, green, red; Rate > 0 asks for Rate percent of the raw size. The
// file is written through the atomic save (links followed, write protection,
// owner and mode honoured). EInvalidGraphicOperation "Error writing image
// file" when the module fails or the file cannot be replaced; false (after
// the box) when the module cannot be loaded, true when written.
bool SaveJ2KFile(const std::string& FileName, const TBitmap32* Bitmap, int32_t Rate, int32_t Mode);

// The option string of a rate: "" for 0 or less, else "rate=" and Rate / 100
// with "." as the decimal separator whatever the locale ("rate=0.25", "rate=1").
std::string J2KRateOptions(int32_t Rate);

// The picture class registered for "JP2", "J2K" and "JPC".
class TJ2KObject : public TPlatformBitmap {
 public:
  std::string ClassName() const override { return "TJ2KObject"; }
  void LoadFromFile(const std::string& FileName) override;
  // Colour, lossless.
  void SaveToFile(const std::string& FileName) const override;
  // Stream forms for the picture object: loading through a temporary file,
  // saving in memory.
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;
};

void RegisterJ2KImage();
void UnregisterJ2KImage();
