#pragma once
// Icon pictures (.ico). The first image of the icon directory is read: a DIB
// with 1, 4, 8, 16, 24 or 32 bits per pixel and its AND mask, or a 32-bit DIB
// whose alpha channel carries the transparency. PNG-compressed entries are
// refused for now. Drawing composites the icon onto the surface the way the
// platform draws icons (AND mask, then XOR colours; or alpha blending), so a
// bitmap can recover the transparency by drawing it on two backgrounds.
// Saving writes a one-image icon with a 32-bit entry.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform_graphics.h"

// Decodes a PNG file held in memory into Width x Height 0xAARRGGBB pixels,
// top row first, raising its own exception on damage. The platform knows no
// PNG; the format units install the decoder at start-up.
using TIconPngDecoder = bool (*)(const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height,
                                 std::vector<uint32_t>& Argb);
extern TIconPngDecoder gIconPngDecoder;

class TIcon : public TTransparentGraphic {
 public:
  std::string ClassName() const override { return "TIcon"; }
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  bool Transparent() const override { return true; }
  void Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const override;
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;

  void LoadFromBytes(const uint8_t* Data, size_t Size);
  std::vector<uint8_t> SaveToBytes() const;

  // Makes the icon from 0xAARRGGBB pixels (top-down rows).
  void SetPixels(int32_t W, int32_t H, const uint32_t* Argb);
  // The icon as 0xAARRGGBB pixels: a mask icon's transparent (and inverting)
  // pixels become 0, its other pixels opaque.
  std::vector<uint32_t> Pixels() const;
  // Bits per pixel of the entry that was read (32 after SetPixels).
  int32_t BitCount() const { return bitCount_; }
  // True when the colours carry their own alpha instead of an AND mask.
  bool HasAlpha() const { return alpha_; }

 private:
  int32_t width_ = 0, height_ = 0;
  int32_t bitCount_ = 0;
  bool alpha_ = false;
  std::vector<uint32_t> colors_;  // XOR colours 0x00RRGGBB, or 0xAARRGGBB when alpha_
  std::vector<uint8_t> mask_;     // 1 where the AND mask keeps the background
};
