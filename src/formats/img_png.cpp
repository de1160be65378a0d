#include "img_png.h"

#include <algorithm>
#include <memory>

#include "gif_reduce.h"
#include "img_fileio.h"
#include "platform_graphics.h"
#include "png_image.h"

void LoadPNGIntoBitmap32(const std::string& FileName, TBitmap32* Bitmap) {
  auto png = std::make_unique<TPNGObject>();
  {
    TFileStream file(FileName, TFileMode::fmOpenRead);
    png->LoadFromStream(file);
  }
  // The decoded pixels go straight into the bitmap; the platform bitmap in
  // between would only narrow them to the screen's depth.
  TPlatformBitmap plain;
  png->AssignTo(plain);
  plain.SetTransparent(false);
  Bitmap->Assign(static_cast<const TGraphic*>(&plain));
  Bitmap->SetAllAlpha(255);
  const int32_t mode = png->TransparencyMode();
  TChunkIHDR* h = png->Header();
  if (mode == 1) {
    const TColor32 key = ArgbFromColor(png->TransparentColor()) | 0xFF000000u;
    for (int32_t y = 0; y < Bitmap->Height(); ++y) {
      TColor32* row = Bitmap->Bits() + static_cast<size_t>(y) * Bitmap->Width();
      for (int32_t x = 0; x < Bitmap->Width(); ++x)
        if (row[x] == key) row[x] &= 0x00FFFFFFu;
    }
  } else if (mode == 2 && (h->ColorType == 4 || h->ColorType == 6)) {
    for (int32_t y = 0; y < Bitmap->Height(); ++y) {
      TColor32* row = Bitmap->Bits() + static_cast<size_t>(y) * Bitmap->Width();
      const uint8_t* a = png->AlphaScanline(y);
      for (int32_t x = 0; x < Bitmap->Width(); ++x)
        row[x] = (row[x] & 0x00FFFFFFu) | static_cast<TColor32>(a[x]) << 24;
    }
  }
  Bitmap->Changed();
}

void SavePNGFromBitmap32(const std::string& FileName, const TBitmap32* Bitmap, bool Palette8, bool Transparent,
                         int32_t TransparentColor, int32_t Level) {
  TPlatformBitmap plain;
  Bitmap->AssignTo(plain);
  // 255 octree colours of the picture and the transparent colour as an entry
  // of its own, so that no other colour turns transparent with it.
  if (Palette8)
    ReduceToOctreePalette(plain, Transparent,
                          static_cast<uint32_t>(TransparentColor & 0xFF) << 16 |
                              static_cast<uint32_t>(TransparentColor & 0xFF00) |
                              static_cast<uint32_t>((TransparentColor >> 16) & 0xFF));
  auto png = std::make_unique<TPNGObject>();
  png->InterlaceMethod = imNone;
  png->SetCompressionLevel(static_cast<uint8_t>(std::clamp(Level, 0, 9)));
  // Whatever transparency the bitmap names is decided below, not by Assign.
  plain.SetTransparent(false);
  png->Assign(plain);
  if (Transparent) {
    TChunkIHDR* h = png->Header();
    switch (h->ColorType) {
      case 3: {
        auto* t = dynamic_cast<TChunktRNS*>(png->Chunks().FindChunk("tRNS"));
        if (t == nullptr) t = dynamic_cast<TChunktRNS*>(png->Chunks().Add("tRNS"));
        t->SetTransparentColor(TransparentColor);
        break;
      }
      case 0:
      case 2:
        png->CreateAlpha();
        break;
      default:
        break;
    }
    if (h->ColorType == 4 || h->ColorType == 6)
      for (int32_t y = 0; y < Bitmap->Height(); ++y) {
        const TColor32* src = Bitmap->Bits() + static_cast<size_t>(y) * Bitmap->Width();
        uint8_t* a = png->AlphaScanline(y);
        for (int32_t x = 0; x < Bitmap->Width(); ++x) a[x] = static_cast<uint8_t>(src[x] >> 24);
      }
  }
  SaveFileAtomically(FileName, [&](TStream& s) { png->SaveToStream(s); });
}
