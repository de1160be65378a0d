#pragma once
// Opening a picture file: the reader is chosen by the file's lower-cased
// extension, then the file's metadata replace the program-wide metadata
// object (gExifData / gHasExif, declared with the EXIF reader).
#include <string>
#include <vector>

#include "raster_core.h"

// Reads FileName into Bitmap and then its metadata into a new gExifData.
// False when the reader raised (shown in the exception box "on image <name>
// load"), refused the file, showed an error while reading it (a broken ZU3
// stream, a short TIFF strip) or left no picture: Bitmap and the metadata of
// the previous file then stay as they were, so a caller never takes the name
// of a file it could not read. A failure of the metadata step does not fail
// the load; the picture then has no metadata (gHasExif false).
bool LoadImageFile(const std::string& FileName, TBitmap32& Bitmap);

// Every extension a row of the load table names, dot included, in the
// table's order; anything else goes through the picture-format registry.
std::vector<std::string> LoadImageFileExtensions();

// Starts reading FileName (picture and metadata) on a thread of its own, so
// that a program told its first picture on the command line decodes it while
// its window is being made. The next LoadImageFile takes the result when it
// is for the same name and the file has not changed since; otherwise, and
// whenever the read failed, it reads the file itself, so every failure is
// reported where and when it would have been. Only the PNG and JPEG readers,
// which report by raising, are read ahead; other names are left alone.
void ReadImageFileAhead(const std::string& FileName);

// Drops the picture read ahead, if any, and waits for every reader still
// running, also one whose picture was not taken. The program calls it before
// it ends: a reader left running would use statics being destroyed.
void WaitForReadAhead();

// The lower-cased extension of FileName with its dot, taken after the last
// path delimiter; empty when there is none.
std::string LowerFileExtension(const std::string& FileName);
