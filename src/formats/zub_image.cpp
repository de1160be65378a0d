#include "zub_image.h"

#include <memory>

#include "img_zub.h"
#include "raster_core.h"

namespace {

bool gRegistered = false;

// The 32-bit bitmap hands itself over as a 32 bits-per-pixel bitmap.
void TakeFrom(TZUBImage& Image, const TBitmap32& Bitmap) { Bitmap.AssignTo(static_cast<TPlatformBitmap&>(Image)); }

}  // namespace

// Decoded into a bitmap of its own, which replaces the picture only on
// success: a damaged file leaves the previous picture and raises, after the
// reader's box has told the user what went wrong.
void TZUBImage::LoadFromFile(const std::string& FileName) {
  TBitmap32 b;
  const std::string failure = LoadZubImageChecked(FileName, b);
  if (!failure.empty()) throw EInvalidGraphic(failure);
  TakeFrom(*this, b);
}

void TZUBImage::SaveToFile(const std::string& FileName) const {
  TBitmap32 b;
  b.Assign(static_cast<const TGraphic*>(this));
  SaveZubImage(FileName, &b);
}

void TZUBImage::LoadFromStream(TStream& Stream) {
  TBitmap32 b;
  if (!ReadZubStream(Stream, b)) throw EInvalidGraphic("unrecognized ZUB Image file format");
  TakeFrom(*this, b);
}

void TZUBImage::SaveToStream(TStream& Stream) const {
  TBitmap32 b;
  b.Assign(static_cast<const TGraphic*>(this));
  WriteZubStream(Stream, b);
}

void RegisterZubImage() {
  if (gRegistered) return;
  RegisterFileFormat("ZUB", "ZUB Image", "TZUBImage", [] { return std::make_unique<TZUBImage>(); });
  gRegistered = true;
}

void UnregisterZubImage() {
  UnregisterGraphicClass("TZUBImage");
  gRegistered = false;
}
