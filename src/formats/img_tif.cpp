// The TIFF bridge between the picture of tif_image and TBitmap32.
#include "img_tif.h"

#include "tif_image.h"

void LoadTiffToBitmap32(const std::string& FileName, TBitmap32* Bitmap) {
  ReadTiffIntoBitmap32(FileName, *Bitmap);
}

bool SaveBitmap32ToTiff(const std::string& FileName, const TBitmap32* Bitmap) {
  TPlatformBitmap Picture;
  Bitmap->AssignTo(Picture);
  Picture.SetPixelFormat(TPixelFormat::pf32bit);
  return WriteColorBitmapToTiffLZW(Picture, FileName, 5);
}
