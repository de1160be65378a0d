#pragma once
// Camera raw files through an outside converter: the script "dcraw.cmd"
// beside the program, which runs Debian's dcraw. It is started from an
// argument vector (never a shell) in the program's folder, at idle priority,
// with absolute paths, so no file name is taken for an option:
//   dcraw.cmd -i FILE        exit code 0 only for a raw file it knows
//   dcraw.cmd /i FILE OUT    the full image as a P6 file with maximum 255
//   dcraw.cmd /t FILE OUT    the embedded preview (JPEG or Netpbm)
#include <string>
#include <vector>

#include "raster_core.h"

// The folder of the converter; empty (the default) means the program's
// folder. Tests point it at stand-in converters.
void SetRawConverterFolder(const std::string& Folder);
std::string RawConverterFolder();

// Runs the converter with these arguments after its name and waits for it
// (at most an hour); the exit code, or the start failure's system code.
int32_t RunRawConverter(const std::vector<std::string>& Args);

// The absolute form of a file name for the converter's command line.
std::string RawConverterPath(const std::string& FileName);

// Reads the full image of a raw file into Bitmap. A file the converter does
// not know shows "RAW image/format unrecognized !" (caption "img_raw") and
// leaves Bitmap empty, as does a conversion that produces nothing.
void LoadRawImage(const std::string& FileName, TBitmap32* Bitmap);
