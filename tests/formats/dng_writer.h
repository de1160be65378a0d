// Writes a small synthetic DNG with libtiff: a 16-bit RGGB mosaic that
// dcraw can develop, optionally behind a preview in the main directory (an
// 8-bit RGB picture or a JPEG stream), with the mosaic in a sub-directory.
#pragma once
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

enum class TDngPreview { None, Rgb, Jpeg };

// The mosaic is red on the right half and blue on the bottom half over a
// steady green, so the developed picture's quarters tell where it came from.
inline bool WriteSyntheticDng(const std::string& Name, int W, int H, TDngPreview Preview,
                              const std::vector<uint8_t>& PreviewRgb = {}, int PreviewW = 0, int PreviewH = 0,
                              const std::vector<uint8_t>& PreviewJpeg = {}) {
  TIFF* t = TIFFOpen(Name.c_str(), "w");
  if (!t) return false;
  struct TClose {
    TIFF* t;
    ~TClose() { TIFFClose(t); }
  } closer{t};
  static const uint8_t kVersion[4] = {1, 4, 0, 0};
  static const uint16_t kCfaDim[2] = {2, 2};
  static const uint8_t kCfa[4] = {0, 1, 1, 2};
  auto common = [&] {
    TIFFSetField(t, TIFFTAG_MAKE, "Vemra");
    TIFFSetField(t, TIFFTAG_MODEL, "Synthetic");
    TIFFSetField(t, TIFFTAG_DNGVERSION, kVersion);
    TIFFSetField(t, TIFFTAG_UNIQUECAMERAMODEL, "Vemra Synthetic");
  };
  auto mosaic = [&] {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, W);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, H);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, 32803);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, H);
    TIFFSetField(t, TIFFTAG_CFAREPEATPATTERNDIM, kCfaDim);
    TIFFSetField(t, TIFFTAG_CFAPATTERN, 4, kCfa);
    std::vector<uint16_t> row(W);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const int c = (y & 1) * 2 + (x & 1);  // 0 R, 1 and 2 G, 3 B
        const bool right = x >= W / 2, bottom = y >= H / 2;
        const int level = c == 0 ? (right ? 60000 : 4000) : c == 3 ? (bottom ? 60000 : 4000) : 20000;
        row[x] = static_cast<uint16_t>(level);
      }
      if (TIFFWriteScanline(t, row.data(), y, 0) < 0) return false;
    }
    return true;
  };
  if (Preview == TDngPreview::None) {
    common();
    if (!mosaic()) return false;
  } else {
    uint64_t sub = 0;
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    TIFFSetField(t, TIFFTAG_SUBIFD, 1, &sub);
    common();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, PreviewW);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, PreviewH);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, Preview == TDngPreview::Jpeg ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, PreviewH);
    if (Preview == TDngPreview::Rgb) {
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
      if (TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(PreviewRgb.data()), PreviewRgb.size()) < 0) return false;
    } else {
      // An old-style JPEG preview: the whole JPEG stream as the one strip.
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_OJPEG);
      if (TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(PreviewJpeg.data()), PreviewJpeg.size()) < 0) return false;
    }
    if (!TIFFWriteDirectory(t) || !mosaic()) return false;
  }
  return true;
}
