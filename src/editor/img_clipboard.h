#pragma once
// The clipboard with an alpha plane. The desktop's picture formats carry no
// alpha, so a copy puts a second, private block beside the picture: one
// alpha byte per pixel, top row first, no header, under the format
// "CFBitmap32Alpha". Other programs see an ordinary picture; a paste reads
// both and ignores an alpha block that does not fit the picture.
#include <string>

#include "platform_clipboard.h"
#include "raster_core.h"

// The private format's name, the same in every process.
const std::string& AlphaClipboardFormat();

// Puts Bitmap on the clipboard as a picture and its alpha plane beside it.
// True when the alpha block was placed too; false when only the picture could be.
bool CopyBitmapWithAlpha(TClipboard& Board, const TBitmap32* Bitmap);
bool CopyBitmapWithAlpha(const TBitmap32* Bitmap);

// Bitmap receives the clipboard's picture (0 x 0 when there is none) and,
// when a block of at least width x height bytes is there, its alpha plane.
// True when a picture was read and either no alpha block was there (the
// picture keeps the alpha the picture gave) or the block was read.
bool PasteBitmapWithAlpha(TClipboard& Board, TBitmap32* Bitmap);
bool PasteBitmapWithAlpha(TBitmap32* Bitmap);
