#pragma once
// The picture class of camera raw files for the picture dialogs and the
// fallback loader: the camera's embedded preview when the converter can
// extract one (JPEG, else Netpbm), the full image otherwise. Read only.
#include <string>

#include "platform_graphics.h"

class TRAWImage : public TPlatformBitmap {
 public:
  std::string ClassName() const override { return "TRAWImage"; }
  // A file the converter does not know shows "RAW image/format
  // unrecognized !" (caption "raw_image") and leaves the picture empty.
  void LoadFromFile(const std::string& FileName) override;
  // Through a temporary file, since the converter reads files.
  void LoadFromStream(TStream& Stream) override;
};

// Registers TRAWImage for the thirteen raw extensions; Unregister removes them.
void RegisterRawImage();
void UnregisterRawImage();
// Whether the extension (".dng", "CR2", any case) opens as a camera raw file.
bool IsRawImageExtension(const std::string& Extension);
