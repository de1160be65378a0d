#pragma once
// Metafile pictures (.wmf). A metafile is kept as the file's bytes and played
// onto the drawing surface each time it is drawn, stretched so that its frame
// fills the destination rectangle. The frame and the picture's size come from
// the placeable header when there is one (its box, at 96 pixels per inch of
// its units), otherwise from the window the records set up or, failing that,
// from what the records draw. Records are checked before the player sees
// them, so a damaged file fails to load with EInvalidGraphic instead of
// reaching the player; the player's own complaints end the same way.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform_graphics.h"

enum class TMetafileKind { Unknown, Wmf, Emf };

// What a file holds, by its first bytes: a Windows metafile with or without
// the placeable header, an enhanced metafile, or neither. Every load decides
// here, so new kinds are added in one place.
TMetafileKind DetectMetafileKind(const uint8_t* Data, size_t Size);

class TMetafile : public TTransparentGraphic {
 public:
  std::string ClassName() const override { return "TMetafile"; }
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  bool Transparent() const override { return true; }
  void Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const override;
  void LoadFromStream(TStream& Stream) override;

  void LoadFromBytes(const uint8_t* Data, size_t Size);
  TMetafileKind Kind() const { return kind_; }

  // The frame, in the metafile's own logical units, that Draw stretches onto
  // its destination.
  struct TFrame {
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
  };
  const TFrame& Frame() const { return frame_; }

  // Files larger than this are not metafiles anyone draws.
  static constexpr size_t kMaxFileSize = size_t{64} << 20;

 private:
  void LoadWmf(const uint8_t* Data, size_t Size);
  void DrawWmf(TPixelSurface& Surface, const TPlatformRect& Dest) const;

  TMetafileKind kind_ = TMetafileKind::Unknown;
  std::vector<uint8_t> records_;  // the checked records the player is given
  TFrame frame_;
  int32_t width_ = 0, height_ = 0;
};
