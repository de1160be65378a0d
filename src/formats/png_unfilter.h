#pragma once
// The PNG row filters undone. Sub, Average and Paeth carry each pixel into
// the next, so they run a pixel at a time; for colour pixels (three to
// eight bytes) the processor's vector routines do a pixel's bytes side by
// side. The
// routines sit in a table that starts portable and is filled once at
// start-up with the best family the processor offers (VEMRA_FORCE_PORTABLE=1
// keeps the portable one); every family gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

// Undoes one row of RowBytes bytes: Src holds the filtered bytes, Prev the
// row above unfiltered (zeros above the first row of a pass), Row receives
// the unfiltered bytes and overlaps neither. Offset is the byte distance to
// the same byte of the pixel on the left (at least 1). Types past 4 leave
// the bytes as they are, as type 0 does.
void PngUnfilterRow(uint8_t Filter, uint8_t* Row, const uint8_t* Src, const uint8_t* Prev, size_t RowBytes,
                    size_t Offset);

// One filter for one pixel size, over a whole row, as PngUnfilterRow.
using TPngUnfilter = void (*)(uint8_t* Row, const uint8_t* Src, const uint8_t* Prev, size_t RowBytes);

// Count pixels of an unfiltered colour row, three samples each, as
// 0xFFRRGGBB: 8-bit samples, or 16-bit ones by their high byte.
using TPngToArgb = void (*)(const uint8_t* Src, uint32_t* Dst, size_t Count);

// A family of routines by bytes a pixel: index 0 for three, 1 for four, 2
// for six, 3 for eight (colour with or without alpha, 8 or 16 bits); and
// the colour conversions that follow them while the row is in cache.
struct TPngUnfilterFamily {
  const char* Name;
  TPngUnfilter Sub[4], Average[4], Paeth[4];
  TPngToArgb Rgb8, Rgb16;
};
// The index in a family for Offset bytes a pixel, -1 for sizes without one.
int PngUnfilterIndex(size_t Offset);

const TPngUnfilterFamily& PortablePngUnfilterFamily();
// The family chosen at start-up.
const TPngUnfilterFamily& PngRowFamily();
void PngRgb8ToArgbPortable(const uint8_t* Src, uint32_t* Dst, size_t Count);
void PngRgb16ToArgbPortable(const uint8_t* Src, uint32_t* Dst, size_t Count);
// The families this processor can run, the portable one first and the best last.
std::vector<const TPngUnfilterFamily*> PngUnfilterFamilies();
// Chooses the family PngUnfilterRow uses: the best one, or the portable one
// while the portable routines are forced.
void PngUnfilterStartup();

// The vector families, null where the build has none (png_unfilter_*.cpp).
const TPngUnfilterFamily* PngUnfilterSse2Family();
const TPngUnfilterFamily* PngUnfilterSsse3Family();
const TPngUnfilterFamily* PngUnfilterSse41Family();
