#pragma once
// The picture class of the Netpbm grey and pixel maps (P5, P6) for the
// picture dialogs and the fallback loader: a 24-bit platform bitmap read with
// the same header dialect and size limits as LoadPNM and written as P6. Its
// file operations report failures in boxes captioned "pxm_image"; a load that
// fails then raises EInvalidGraphic with the box's text and leaves the
// picture as it was, so no caller takes an empty picture for a read one.
#include <string>

#include "platform_graphics.h"

class TPXMImage : public TPlatformBitmap {
 public:
  std::string ClassName() const override { return "TPXMImage"; }
  void LoadFromFile(const std::string& FileName) override;
  // Any pixel format is written as its colours (the bitmap keeps 32-bit rows).
  void SaveToFile(const std::string& FileName) const override;
  // Stream forms for the picture object: EInvalidGraphic with the box's text
  // (without a file name) for a refused header, EReadError for a large
  // picture whose data is missing; the picture stays as it was.
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;

 private:
  // Reads from Stream, reporting in boxes that name FileName; false after a box.
  bool ReadFrom(TStream& Stream, const std::string& FileName, std::string* Failure);
};

// Registers TPXMImage for "PPM" ("Portable PixMap"), "PGM" ("Portable
// GreyMap") and "PNM" ("Portable Pixel Map"); UnregisterPxmImage removes all
// three. Registering twice adds nothing.
void RegisterPxmImage();
void UnregisterPxmImage();
