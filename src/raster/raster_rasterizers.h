#pragma once
// Rasterizers walk the pixels of a destination rectangle, ask a sampler for
// each colour and put it down by the combine setup taken from a bitmap
// (opaque, blended or merged with a master alpha, transparent key, or a
// custom per-pixel callback).
#include <cstdint>
#include <memory>

#include "raster_core.h"

class TCustomSampler;

// How a rasterizer puts a sample onto the destination pixel.
struct TCombineInfo {
  int32_t SrcAlpha = 255;
  TDrawMode DrawMode = dmOpaque;
  TCombineMode CombineMode = cmBlend;
  TPixelCombineEvent CombineCallBack;
  TColor32 TransparentColor = 0xFF000000u;
};

// The combine setup a bitmap asks for when it is drawn: its master alpha,
// draw mode (dmCustom without an OnPixelCombine handler counts as dmOpaque),
// combine mode, OnPixelCombine and outer colour as the transparent key.
TCombineInfo CombineInfoOf(const TBitmap32& Bitmap);

class TRasterizer : public TThreadPersistent {
  VEMRA_CLASS(TRasterizer, TThreadPersistent)
 public:
  TRasterizer();

  // Not owned. A different sampler notifies.
  TCustomSampler* Sampler() const { return FSampler; }
  void SetSampler(TCustomSampler* Value);

  const TCombineInfo& CombineInfo() const { return FCombineInfo; }
  // Stores the setup and picks the routine that puts samples down.
  void SetCombineInfo(const TCombineInfo& Value);

  // From a TBitmap32: its combine setup; other sources go to the base.
  void Assign(const TPersistent* Source) override;
  // Onto another rasterizer: the published properties (the sampler reference
  // itself, not a copy of the sampler).
  void AssignTo(TPersistent* Dst) override;
  void GetPublishedProperties(TPropList& List) const override;

  // Takes Src's combine setup, then rasterizes.
  void Rasterize(TBitmap32* Dst, const TRect& DstRect, const TBitmap32* Src);
  // With a sampler set: prepares it, draws DstRect cut to Dst's bounds and to
  // the sampler's bounds, then finalizes it; Dst's update count is brought
  // back to where it was, also when an exception passes.
  void Rasterize(TBitmap32* Dst, const TRect& DstRect);

 protected:
  // Draws every pixel of R (already inside Dst).
  virtual void DoRasterize(TBitmap32* Dst, const TRect& R) = 0;
  // Puts sample F onto the destination pixel B.
  void AssignPixel(TColor32 F, TColor32& B) const;

  TCustomSampler* FSampler = nullptr;
  TCombineInfo FCombineInfo;

 private:
  using TAssignProc = void (*)(const TRasterizer& Self, TColor32 F, TColor32& B);
  TAssignProc FAssignPixel = nullptr;
};

// Row by row, left to right, one sample per pixel.
class TRegularRasterizer : public TRasterizer {
  VEMRA_CLASS(TRegularRasterizer, TRasterizer)
 public:
  // With a positive count Dst is told about the rows drawn each time that many
  // are done, and once more for the rest; 0 reports R once at the end.
  int32_t UpdateRowCount() const { return FUpdateRowCount; }
  void SetUpdateRowCount(int32_t Value) { FUpdateRowCount = Value; }
  void GetPublishedProperties(TPropList& List) const override;

 protected:
  void DoRasterize(TBitmap32* Dst, const TRect& R) override;

 private:
  int32_t FUpdateRowCount = 0;
};

// The class TransformBitmap creates when no rasterizer is given; a class other
// than TRegularRasterizer is created through the class registry.
extern TClass DefaultRasterizerClass;
std::unique_ptr<TRasterizer> CreateDefaultRasterizer();

// The number of processors, 1 until RasterRasterizersStartup asks the system.
extern int32_t GlobalProcessorCount;
// Fills GlobalProcessorCount and registers the rasterizer classes.
void RasterRasterizersStartup();
