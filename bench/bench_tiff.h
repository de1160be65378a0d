#pragma once
// The benchmarks' TIFF input: a picture written by libtiff itself as 8-bit
// RGB in strips of about 256 KB, LZW with the horizontal predictor or
// uncompressed, so the readers are timed on a file no code of ours made.
#include <tiffio.h>

#include <string>
#include <vector>

#include "raster_core.h"

inline void WriteRgbTiff(const std::string& File, const TBitmap32& Photo, bool Lzw) {
  const int W = Photo.Width(), H = Photo.Height();
  TIFF* t = TIFFOpen(File.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, W);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, H);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, Lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
  if (Lzw) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 262144 / (3 * W));
  std::vector<uint8_t> row(3 * static_cast<size_t>(W));
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const TColor32 p = Photo.Bits()[static_cast<size_t>(y) * W + x];
      row[3 * x] = static_cast<uint8_t>(p >> 16);
      row[3 * x + 1] = static_cast<uint8_t>(p >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(p);
    }
    TIFFWriteScanline(t, row.data(), y, 0);
  }
  TIFFClose(t);
}
