#include "img_gif.h"

#include <memory>

#include "gif_image.h"
#include "gif_reduce.h"
#include "platform_graphics.h"

void LoadGIF(const std::string& FileName, TBitmap32* Bitmap) {
  auto gif = std::make_unique<TGIFImage>();
  gif->LoadFromFile(FileName);
  TPlatformBitmap plain;
  gif->AssignTo(plain);
  plain.SetTransparent(false);
  Bitmap->Assign(static_cast<const TGraphic*>(&plain));
  Bitmap->SetAllAlpha(255);
  Bitmap->Changed();
}

void SaveGIF(const std::string& FileName, const TBitmap32* Bitmap, bool Dither) {
  // The descriptor's 16-bit sides would wrap and describe another picture.
  if (Bitmap->Width() > 65535 || Bitmap->Height() > 65535) throw GIFException("Invalid image dimensions");
  TPlatformBitmap plain;
  Bitmap->AssignTo(plain);
  plain.SetTransparent(false);
  auto gif = std::make_unique<TGIFImage>();
  gif->Compression = 1;
  gif->ColorReduction = ReduceWebCube;
  gif->ReductionBits = 8;
  gif->DitherMode = Dither ? DitherFloyd : DitherNone;
  gif->Assign(static_cast<const TGraphic&>(plain));
  gif->SaveToFile(FileName);
}
