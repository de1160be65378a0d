// The rasterizer base with its combine setup, and the regular rasterizer that
// samples every pixel of a rectangle row by row.
#include "raster_rasterizers.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "raster_blend.h"
#include "raster_containers.h"
#include "raster_parallel.h"
#include "raster_resamplers.h"

// ---- Combine setup ---------------------------------------------------------------------

TCombineInfo CombineInfoOf(const TBitmap32& Bitmap) {
  TCombineInfo info;
  info.SrcAlpha = static_cast<int32_t>(Bitmap.MasterAlpha());
  info.DrawMode = Bitmap.DrawMode();
  if (info.DrawMode == dmCustom && !Bitmap.OnPixelCombine) info.DrawMode = dmOpaque;
  info.CombineMode = Bitmap.CombineMode();
  info.CombineCallBack = Bitmap.OnPixelCombine;
  info.TransparentColor = Bitmap.OuterColor();
  return info;
}

namespace {

uint32_t MasterOf(const TCombineInfo& Info) { return static_cast<uint32_t>(Info.SrcAlpha) & 0xFFu; }

void AssignOpaque(const TRasterizer&, TColor32 F, TColor32& B) { B = F; }

void AssignBlend(const TRasterizer& R, TColor32 F, TColor32& B) {
  PixelMasterIntoByMode[R.CombineInfo().CombineMode](F, B, MasterOf(R.CombineInfo()));
}

void AssignTransparent(const TRasterizer& R, TColor32 F, TColor32& B) {
  if (F != R.CombineInfo().TransparentColor) B = F;
}

void AssignCustom(const TRasterizer& R, TColor32 F, TColor32& B) {
  R.CombineInfo().CombineCallBack(F, B, static_cast<TColor32>(R.CombineInfo().SrcAlpha));
}

}  // namespace

// ---- TRasterizer -----------------------------------------------------------------------------

TRasterizer::TRasterizer() { SetCombineInfo(TCombineInfo{}); }

void TRasterizer::SetSampler(TCustomSampler* Value) {
  if (Value == FSampler) return;
  FSampler = Value;
  Changed();
}

void TRasterizer::SetCombineInfo(const TCombineInfo& Value) {
  FCombineInfo = Value;
  switch (FCombineInfo.DrawMode) {
    case dmOpaque: FAssignPixel = AssignOpaque; break;
    case dmBlend: FAssignPixel = AssignBlend; break;
    case dmTransparent: FAssignPixel = AssignTransparent; break;
    case dmCustom: FAssignPixel = FCombineInfo.CombineCallBack ? AssignCustom : AssignBlend; break;
    default: FAssignPixel = AssignOpaque; break;
  }
}

void TRasterizer::AssignPixel(TColor32 F, TColor32& B) const { FAssignPixel(*this, F, B); }

void TRasterizer::Assign(const TPersistent* Source) {
  if (const auto* bitmap = dynamic_cast<const TBitmap32*>(Source)) {
    BeginUpdate();
    try {
      SetCombineInfo(CombineInfoOf(*bitmap));
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    Changed();
    return;
  }
  TThreadPersistent::Assign(Source);
}

void TRasterizer::AssignTo(TPersistent* Dst) {
  if (auto* other = dynamic_cast<TRasterizer*>(Dst)) {
    // The sampler is a reference: the other rasterizer shares it rather than
    // having its own sampler overwritten.
    other->SetSampler(FSampler);
    CopyPublishedProperties(this, other, tkProperties & ~TypeKindBit(tkClass));
    return;
  }
  TThreadPersistent::AssignTo(Dst);
}

void TRasterizer::GetPublishedProperties(TPropList& List) const {
  TThreadPersistent::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Sampler", &TRasterizer::Sampler, &TRasterizer::SetSampler));
}

void TRasterizer::Rasterize(TBitmap32* Dst, const TRect& DstRect, const TBitmap32* Src) {
  if (Src != nullptr) SetCombineInfo(CombineInfoOf(*Src));
  Rasterize(Dst, DstRect);
}

void TRasterizer::Rasterize(TBitmap32* Dst, const TRect& DstRect) {
  if (FSampler == nullptr || Dst == nullptr) return;
  const int32_t updateCount = Dst->UpdateCount();
  FSampler->PrepareSampling();
  // Runs on every way out: closes any update bracket a sampler or the drawing
  // left open, then ends the sampling.
  struct TCleanup {
    TBitmap32* dst;
    TCustomSampler* sampler;
    int32_t count;
    ~TCleanup() {
      try {
        while (dst->UpdateCount() > count) dst->EndUpdate();
      } catch (...) {
      }
      try {
        sampler->FinalizeSampling();
      } catch (...) {
      }
    }
  } cleanup{Dst, FSampler, updateCount};

  TRect R;
  IntersectRects(R, DstRect, Dst->BoundsRect());
  if (FSampler->HasBounds()) IntersectRects(R, R, FSampler->GetSampleBounds());
  DoRasterize(Dst, R);
}

// ---- TRegularRasterizer ----------------------------------------------------------------------

void TRegularRasterizer::GetPublishedProperties(TPropList& List) const {
  TRasterizer::GetPublishedProperties(List);
  List.push_back(PublishedProperty("UpdateRowCount", &TRegularRasterizer::UpdateRowCount,
                                   &TRegularRasterizer::SetUpdateRowCount));
}

void TRegularRasterizer::DoRasterize(TBitmap32* Dst, const TRect& R) {
  TCustomSampler& sampler = *FSampler;
  // A sampler that reads whole rows on any thread draws them in parallel when
  // the area is reported once at the end. Only a custom combine callback,
  // which may keep state of its own, keeps the rows on this thread.
  if (FUpdateRowCount <= 0 && R.Right > R.Left && R.Bottom > R.Top && sampler.CanSampleRows()) {
    const bool Direct = FCombineInfo.DrawMode == dmOpaque ||
                        (FCombineInfo.DrawMode != dmBlend && FCombineInfo.DrawMode != dmTransparent &&
                         FCombineInfo.DrawMode != dmCustom);
    const bool Custom = FCombineInfo.DrawMode == dmCustom && FCombineInfo.CombineCallBack;
    const int32_t Width = R.Right - R.Left;
    ParallelRows(R.Top, R.Bottom, Custom ? R.Bottom - R.Top : RowsPerTask(int64_t{Width} * 16),
                 [&](int32_t First, int32_t Last) {
                   std::vector<TColor32> Samples(Direct ? 0 : static_cast<size_t>(Width));
                   for (int32_t y = First; y < Last; ++y) {
                     TColor32* row = Dst->RowPtr(y) + R.Left;
                     if (Direct) {
                       sampler.SampleRow(y, R.Left, R.Right, row);
                       continue;
                     }
                     sampler.SampleRow(y, R.Left, R.Right, Samples.data());
                     for (int32_t i = 0; i < Width; ++i) AssignPixel(Samples[static_cast<size_t>(i)], row[i]);
                   }
                 });
    EndMmx();
    Dst->Changed(R, AREAINFO_RECT);
    return;
  }
  int32_t reportedTop = R.Top;
  int32_t rowsSinceReport = 0;
  for (int32_t y = R.Top; y < R.Bottom; ++y) {
    TColor32* row = Dst->RowPtr(y);
    for (int32_t x = R.Left; x < R.Right; ++x) AssignPixel(sampler.GetSampleInt(x, y), row[x]);
    if (FUpdateRowCount > 0 && ++rowsSinceReport >= FUpdateRowCount) {
      Dst->Changed(TRect{R.Left, reportedTop, R.Right, y + 1}, AREAINFO_RECT);
      reportedTop = y + 1;
      rowsSinceReport = 0;
    }
  }
  EndMmx();
  if (FUpdateRowCount <= 0)
    Dst->Changed(R, AREAINFO_RECT);
  else if (reportedTop < R.Bottom)
    Dst->Changed(TRect{R.Left, reportedTop, R.Right, R.Bottom}, AREAINFO_RECT);
}

// ---- Module settings -------------------------------------------------------------------------

TClass DefaultRasterizerClass = TRegularRasterizer::StaticClass();
int32_t GlobalProcessorCount = 1;

std::unique_ptr<TRasterizer> CreateDefaultRasterizer() {
  if (DefaultRasterizerClass == nullptr || DefaultRasterizerClass == TRegularRasterizer::StaticClass())
    return std::make_unique<TRegularRasterizer>();
  std::unique_ptr<TObject> obj = DefaultRasterizerClass->Create();
  if (auto* r = dynamic_cast<TRasterizer*>(obj.get())) {
    obj.release();
    return std::unique_ptr<TRasterizer>(r);
  }
  return std::make_unique<TRegularRasterizer>();
}

void RasterRasterizersStartup() {
  const unsigned n = std::thread::hardware_concurrency();
  GlobalProcessorCount = n > 0 ? static_cast<int32_t>(n) : 1;
  RegisterClass<TRegularRasterizer>();
}
