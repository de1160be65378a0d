#pragma once
// TransformBitmap as it drew before whole rows: one transformer sample per
// pixel. The reference for the row and thread paths, which must give the
// same bytes.
#include <algorithm>

#include "raster_resamplers.h"
#include "raster_transforms.h"

// The drawing as TransformBitmap did it sample by sample: the destination
// rectangle cut to the transformed source, the clip, the bounds and the
// sampler's bounds; each pixel the transformer's sample put down by the
// source's combine setup (opaque here, so a plain store).
inline void PerPixelTransform(TBitmap32& Dst, TBitmap32& Src, TAffineTransformation& M) {
  const TRect B = M.GetTransformedBounds(M.SrcRect());
  const TRect& C = Dst.ClipRect();
  TRect R{std::max(B.Left, C.Left), std::max(B.Top, C.Top), std::min(B.Right, C.Right), std::min(B.Bottom, C.Bottom)};
  if (R.Right < R.Left || R.Bottom < R.Top) return;
  TTransformer T(Src.Resampler(), &M);
  T.PrepareSampling();
  IntersectRects(R, R, Dst.BoundsRect());
  if (T.HasBounds()) IntersectRects(R, R, T.GetSampleBounds());
  for (int32_t y = R.Top; y < R.Bottom; ++y)
    for (int32_t x = R.Left; x < R.Right; ++x) Dst.RowPtr(y)[x] = T.GetSampleInt(x, y);
  T.FinalizeSampling();
}

