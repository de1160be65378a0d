// The portable PNG unfilters and the choice of family at start-up.
#include "png_unfilter.h"

#include <cstdlib>
#include <cstring>

#include "raster_system.h"

namespace {

template <size_t Bpp>
void SubPortable(uint8_t* r, const uint8_t* s, const uint8_t*, size_t n) {
  const size_t first = n < Bpp ? n : Bpp;
  std::memcpy(r, s, first);
  for (size_t x = Bpp; x < n; x += Bpp)
    for (size_t k = 0; k < Bpp; ++k) r[x + k] = static_cast<uint8_t>(s[x + k] + r[x + k - Bpp]);
}

template <size_t Bpp>
void AveragePortable(uint8_t* r, const uint8_t* s, const uint8_t* p, size_t n) {
  const size_t first = n < Bpp ? n : Bpp;
  for (size_t x = 0; x < first; ++x) r[x] = static_cast<uint8_t>(s[x] + (p[x] >> 1));
  for (size_t x = Bpp; x < n; x += Bpp)
    for (size_t k = 0; k < Bpp; ++k) r[x + k] = static_cast<uint8_t>(s[x + k] + ((r[x + k - Bpp] + p[x + k]) >> 1));
}

// The channels of one pixel run side by side when the compiler knows Bpp.
template <size_t Bpp>
void PaethPortable(uint8_t* r, const uint8_t* s, const uint8_t* p, size_t n) {
  // Left of the first pixel a and c are 0, where the predictor is b.
  const size_t first = n < Bpp ? n : Bpp;
  for (size_t x = 0; x < first; ++x) r[x] = static_cast<uint8_t>(s[x] + p[x]);
  for (size_t x = Bpp; x < n; x += Bpp)
    for (size_t k = 0; k < Bpp; ++k) {
      const int32_t a = r[x + k - Bpp], b = p[x + k], c = p[x + k - Bpp];
      const int32_t pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
      const int32_t pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
      r[x + k] = static_cast<uint8_t>(s[x + k] + pred);
    }
}

const TPngUnfilterFamily kPortable = {
    "portable",
    {SubPortable<3>, SubPortable<4>, SubPortable<6>, SubPortable<8>},
    {AveragePortable<3>, AveragePortable<4>, AveragePortable<6>, AveragePortable<8>},
    {PaethPortable<3>, PaethPortable<4>, PaethPortable<6>, PaethPortable<8>},
    PngRgb8ToArgbPortable,
    PngRgb16ToArgbPortable};

const TPngUnfilterFamily* gFamily = &kPortable;

}  // namespace

void PngRgb8ToArgbPortable(const uint8_t* Src, uint32_t* Dst, size_t Count) {
  for (size_t i = 0; i < Count; ++i, Src += 3)
    Dst[i] = 0xFF000000u | static_cast<uint32_t>(Src[0]) << 16 | static_cast<uint32_t>(Src[1]) << 8 | Src[2];
}

void PngRgb16ToArgbPortable(const uint8_t* Src, uint32_t* Dst, size_t Count) {
  for (size_t i = 0; i < Count; ++i, Src += 6)
    Dst[i] = 0xFF000000u | static_cast<uint32_t>(Src[0]) << 16 | static_cast<uint32_t>(Src[2]) << 8 | Src[4];
}

const TPngUnfilterFamily& PngRowFamily() { return *gFamily; }

int PngUnfilterIndex(size_t Offset) {
  switch (Offset) {
    case 3: return 0;
    case 4: return 1;
    case 6: return 2;
    case 8: return 3;
    default: return -1;
  }
}

const TPngUnfilterFamily& PortablePngUnfilterFamily() { return kPortable; }

std::vector<const TPngUnfilterFamily*> PngUnfilterFamilies() {
  std::vector<const TPngUnfilterFamily*> all{&kPortable};
  if (PngUnfilterSse2Family() && __builtin_cpu_supports("sse2")) all.push_back(PngUnfilterSse2Family());
  if (PngUnfilterSsse3Family() && __builtin_cpu_supports("ssse3")) all.push_back(PngUnfilterSsse3Family());
  if (PngUnfilterSse41Family() && __builtin_cpu_supports("sse4.1")) all.push_back(PngUnfilterSse41Family());
  return all;
}

void PngUnfilterStartup() { gFamily = ForcePortable() ? &kPortable : PngUnfilterFamilies().back(); }

void PngUnfilterRow(uint8_t Filter, uint8_t* Row, const uint8_t* Src, const uint8_t* Prev, size_t RowBytes,
                    size_t Offset) {
  // The vector routines know whole-byte colour pixels; grey, grey with
  // alpha and sub-byte pixels stay portable.
  const int size = PngUnfilterIndex(Offset);
  switch (Filter) {
    case 1:
      if (size >= 0) return gFamily->Sub[size](Row, Src, Prev, RowBytes);
      for (size_t x = 0; x < RowBytes; ++x) Row[x] = static_cast<uint8_t>(Src[x] + (x >= Offset ? Row[x - Offset] : 0));
      return;
    case 2:
      for (size_t x = 0; x < RowBytes; ++x) Row[x] = static_cast<uint8_t>(Src[x] + Prev[x]);
      return;
    case 3:
      if (size >= 0) return gFamily->Average[size](Row, Src, Prev, RowBytes);
      for (size_t x = 0; x < RowBytes; ++x)
        Row[x] = static_cast<uint8_t>(Src[x] + (((x >= Offset ? Row[x - Offset] : 0) + Prev[x]) >> 1));
      return;
    case 4:
      if (size >= 0) return gFamily->Paeth[size](Row, Src, Prev, RowBytes);
      return Offset == 1 ? PaethPortable<1>(Row, Src, Prev, RowBytes) : PaethPortable<2>(Row, Src, Prev, RowBytes);
    default:
      std::memcpy(Row, Src, RowBytes);
      return;
  }
}
