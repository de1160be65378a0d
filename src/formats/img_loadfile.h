#pragma once
// Opening a picture file: the reader is chosen by the file's lower-cased
// extension, then the file's metadata replace the program-wide metadata
// object (gExifData / gHasExif, declared with the EXIF reader).
#include <string>

#include "raster_core.h"

// Reads FileName into Bitmap and then its metadata. False when a reader or
// the metadata step raised (shown in the exception box "on image <name>
// load"; the previous metadata stay) or when the reader refused the file or
// left the bitmap empty, so a caller never takes the name of a file it
// could not read.
bool LoadImageFile(const std::string& FileName, TBitmap32& Bitmap);

// The lower-cased extension of FileName with its dot, taken after the last
// path delimiter; empty when there is none.
std::string LowerFileExtension(const std::string& FileName);
