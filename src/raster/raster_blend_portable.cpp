// The portable blend family: plain 32-bit integer code that is the reference
// behaviour of every blend and colour routine.
#include <algorithm>

#include "raster_blend_family.h"

namespace {

// Lerp(X, Y, W)c = ((Xc*W + 128) shr 8) + ((Yc*(255 - W) + 128) shr 8) for
// every channel c, computed two channels at a time: red and blue sit in the
// 0x00FF00FF half, alpha and green in the 0xFF00FF00 half. Each product plus
// bias stays below 65536 and the two rounded parts of a channel add up to at
// most 255, so no carry crosses into the neighbouring channel. W is 1..255.
inline TColor32 Lerp(TColor32 X, TColor32 Y, uint32_t W) {
  const uint32_t iw = 255 - W;
  const uint32_t rb = ((((X & 0x00FF00FFu) * W + 0x00800080u) >> 8) & 0x00FF00FFu) +
                      ((((Y & 0x00FF00FFu) * iw + 0x00800080u) >> 8) & 0x00FF00FFu);
  const uint32_t ag = ((((X & 0xFF00FF00u) >> 8) * W + 0x00800080u) & 0xFF00FF00u) +
                      ((((Y & 0xFF00FF00u) >> 8) * iw + 0x00800080u) & 0xFF00FF00u);
  return rb | ag;
}

inline uint32_t AlphaOfPixel(TColor32 C) { return C >> 24; }

// Applies Op to the four byte channels of C1 and C2 in place.
template <typename Op>
inline TColor32 PerChannel(TColor32 C1, TColor32 C2, Op op) {
  TColor32 r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t a = (C1 >> shift) & 0xFF;
    const uint32_t b = (C2 >> shift) & 0xFF;
    r |= (static_cast<uint32_t>(op(a, b)) & 0xFF) << shift;
  }
  return r;
}

}  // namespace

TColor32 CombinePixelsPortable(TColor32 X, TColor32 Y, uint32_t W) {
  if (W == 0) return Y;
  if (W == 255) return X;
  return Lerp(X, Y, W);
}

void CombinePixelIntoPortable(TColor32 F, TColor32& B, uint32_t W) {
  if (W == 0) return;
  if (W == 255) {
    B = F;
    return;
  }
  B = Lerp(F, B, W);
}

TColor32 BlendPixelPortable(TColor32 F, TColor32 B) {
  const uint32_t fa = AlphaOfPixel(F);
  if (fa == 255) return F;
  if (fa == 0) return B;
  return Lerp(F, B, fa);
}

void BlendPixelIntoPortable(TColor32 F, TColor32& B) {
  const uint32_t fa = AlphaOfPixel(F);
  if (fa == 0) return;
  if (fa == 255) {
    B = F;
    return;
  }
  B = Lerp(F, B, fa);
}

// The master alpha scales the foreground's alpha; M = 255 with Fa = 255 still
// blends with W = 255, so a full channel over 0 comes out as 254.
TColor32 BlendPixelMasterPortable(TColor32 F, TColor32 B, uint32_t M) {
  const uint32_t fa = AlphaOfPixel(F);
  const uint32_t w = ((M + 1) * fa) >> 8;
  if (fa == 0 || w == 0) return B;
  return Lerp(F, B, w);
}

void BlendPixelMasterIntoPortable(TColor32 F, TColor32& B, uint32_t M) {
  const uint32_t fa = AlphaOfPixel(F);
  const uint32_t w = ((M + 1) * fa) >> 8;
  if (fa == 0 || w == 0) return;
  B = Lerp(F, B, w);
}

void BlendRowPortable(const TColor32* Src, TColor32* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) BlendPixelIntoPortable(Src[i], Dst[i]);
}

void BlendRowMasterPortable(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M) {
  for (int32_t i = 0; i < Count; ++i) BlendPixelMasterIntoPortable(Src[i], Dst[i], M);
}

void CombineRowPortable(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t W) {
  for (int32_t i = 0; i < Count; ++i) CombinePixelIntoPortable(Src[i], Dst[i], W);
}

TColor32 ColorAddPortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) { return std::min<uint32_t>(a + b, 255); });
}

TColor32 ColorSubPortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) { return a > b ? a - b : 0u; });
}

TColor32 ColorDivPortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) {
    if (a == 0) return 255u;
    return std::min<uint32_t>((b << 8) / a, 255);
  });
}

TColor32 ColorModulatePortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) { return (a * b) >> 8; });
}

TColor32 ColorMaxPortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) { return std::max(a, b); });
}

TColor32 ColorMinPortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) { return std::min(a, b); });
}

TColor32 ColorDifferencePortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) { return a > b ? a - b : b - a; });
}

TColor32 ColorAveragePortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) { return (a + b) >> 1; });
}

// a + b - ab/128 never leaves 0..255 for byte inputs (255 and 255 give 2).
TColor32 ColorExclusionPortable(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](uint32_t a, uint32_t b) { return a + b - ((a * b) >> 7); });
}

// Any weight is accepted; the 64-bit product keeps huge weights from wrapping
// and each channel saturates at 255.
TColor32 ColorScalePortable(TColor32 C, uint32_t W) {
  TColor32 r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint64_t c = (C >> shift) & 0xFF;
    r |= static_cast<uint32_t>(std::min<uint64_t>((c * W) >> 8, 255)) << shift;
  }
  return r;
}

// Merge of F over a background B that has an alpha of its own: the result's
// alpha is the union of both, and the colour is the blend of the premultiplied
// colours divided back by that alpha through the two tables.
TColor32 MergePixelPortable(TColor32 F, TColor32 B) {
  const uint32_t fa = F >> 24;
  if (fa == 0) return B;
  const uint32_t ba = B >> 24;
  if (ba == 255) return BlendPixel(F, B) | 0xFF000000u;
  if (fa == 255 || ba == 0) return F;

  const auto& P = ProductTable;
  const auto& Pf = ProductTable[fa];
  const auto& Pb = ProductTable[ba];
  const uint32_t ra = fa + ba - P[fa][ba];
  const auto& Q = ReciprocalTable[ra];
  TColor32 result = ra << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t fc = (F >> shift) & 0xFF;
    const uint32_t bp = Pb[(B >> shift) & 0xFF];
    const uint32_t v = fc >= bp ? bp + Pf[fc - bp] : bp - Pf[bp - fc];
    result |= static_cast<uint32_t>(Q[v]) << shift;
  }
  return result;
}

void MergePixelIntoPortable(TColor32 F, TColor32& B) { B = MergePixelPortable(F, B); }

// A master alpha above 255 is taken as 255: it indexes ProductTable and must
// not reach past its 256 rows.
TColor32 MergePixelMasterPortable(TColor32 F, TColor32 B, uint32_t M) {
  const uint32_t m = std::min<uint32_t>(M, 255);
  const uint32_t fa = ProductTable[m][F >> 24];
  return MergePixelPortable((F & 0x00FFFFFFu) | (fa << 24), B);
}

void MergePixelMasterIntoPortable(TColor32 F, TColor32& B, uint32_t M) {
  B = MergePixelMasterPortable(F, B, M);
}

void MergeRowPortable(const TColor32* Src, TColor32* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) Dst[i] = MergePixelPortable(Src[i], Dst[i]);
}

void MergeRowMasterPortable(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M) {
  for (int32_t i = 0; i < Count; ++i) Dst[i] = MergePixelMasterPortable(Src[i], Dst[i], M);
}

