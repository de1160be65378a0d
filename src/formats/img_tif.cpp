// The TIFF bridge between the picture of tif_image and TBitmap32.
#include "img_tif.h"

#include "tif_image.h"

void LoadTiffToBitmap32(const std::string& FileName, TBitmap32* Bitmap) {
  std::unique_ptr<TPlatformBitmap> Picture = ReadTiffBitmap(FileName, true);
  if (!Picture) return;
  Bitmap->Assign(static_cast<const TGraphic*>(Picture.get()));
}

bool SaveBitmap32ToTiff(const std::string& FileName, const TBitmap32* Bitmap) {
  TPlatformBitmap Picture;
  Bitmap->AssignTo(Picture);
  Picture.SetPixelFormat(TPixelFormat::pf32bit);
  return WriteColorBitmapToTiffLZW(Picture, FileName, 5);
}
