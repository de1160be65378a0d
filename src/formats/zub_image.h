#pragma once
// The picture class of the program's own ZU3 format, so that the picture
// dialogs and the fallback loader read and write .zub files. It is a 32-bit
// platform bitmap whose file operations go through the ZU3 reader and writer
// (and so report their failures in those units' boxes).
#include <string>

#include "platform_graphics.h"

class TZUBImage : public TPlatformBitmap {
 public:
  std::string ClassName() const override { return "TZUBImage"; }
  // The ZU3 reader's boxes report a failure, which then raises
  // EInvalidGraphic with the box's text; the picture keeps what it held.
  void LoadFromFile(const std::string& FileName) override;
  // Writes 32 bits per pixel, alpha included (a picture of another pixel
  // format is written opaque).
  void SaveToFile(const std::string& FileName) const override;
  // Stream forms for the picture object: ZU3 bytes; EInvalidGraphic for a
  // header that is not ZU3, the reader's own exceptions otherwise.
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;
};

// Registers TZUBImage for "ZUB" ("ZUB Image"); UnregisterZubImage removes it.
// Registering twice adds nothing.
void RegisterZubImage();
void UnregisterZubImage();
