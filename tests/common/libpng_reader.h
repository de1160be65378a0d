// libpng as the independent reference for PNG decoding, for tests, fuzz
// targets and benchmarks only: a file in memory to 8-bit RGBA (or BGRA) rows,
// 16-bit samples by their high byte, grey spread to RGB, palettes and tRNS
// keys expanded to alpha, missing alpha 255, interlacing undone.
#pragma once

#include <png.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace libpng_reader {

struct TSource {
  const uint8_t* Data;
  size_t Size;
  size_t Pos;
};

inline void ReadFromMemory(png_structp Png, png_bytep Out, png_size_t Count) {
  auto* s = static_cast<TSource*>(png_get_io_ptr(Png));
  if (Count > s->Size - s->Pos) png_error(Png, "read past the end");
  std::memcpy(Out, s->Data + s->Pos, Count);
  s->Pos += Count;
}

inline void Quiet(png_structp, png_const_charp) {}

// False when libpng refuses the file. Pixels go to Out as Width * Height * 4
// bytes in R, G, B, A order (B, G, R, A with Bgra). Rows are written once,
// through png_read_image, into the caller's buffer.
inline bool Decode(const uint8_t* Data, size_t Size, int& Width, int& Height, std::vector<uint8_t>& Out,
                   bool Bgra = false) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, Quiet);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  TSource src{Data, Size, 0};
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &src, ReadFromMemory);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  png_set_strip_16(png);
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  if (Bgra) png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(w) * 4) png_error(png, "unexpected row layout");
  Out.assign(static_cast<size_t>(w) * h * 4, 0);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = Out.data() + static_cast<size_t>(y) * w * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  Width = static_cast<int>(w);
  Height = static_cast<int>(h);
  return true;
}

}  // namespace libpng_reader
