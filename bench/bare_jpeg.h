#pragma once
// libjpeg-turbo on its own through its C API, for the benchmarks that set our
// JPEG code beside it: an error manager that jumps back, and a decode into
// the block Alloc hands out for the picture's byte count.
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

struct TBareError {
  jpeg_error_mgr pub;
  jmp_buf jump;
};
inline void BareExit(j_common_ptr c) { std::longjmp(reinterpret_cast<TBareError*>(c->err)->jump, 1); }

// The library alone: decode to packed samples, as its own decoder program
// does, into the block Alloc hands out for the picture's byte count.
template <class TAlloc>
void BareDecodeWith(const std::vector<uint8_t>& data, J_COLOR_SPACE cs, int comps, TAlloc Alloc) {
  jpeg_decompress_struct ci;
  TBareError err;
  ci.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = BareExit;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&ci);
    std::abort();
  }
  jpeg_create_decompress(&ci);
  jpeg_mem_src(&ci, data.data(), data.size());
  jpeg_read_header(&ci, TRUE);
  ci.out_color_space = cs;
  jpeg_start_decompress(&ci);
  uint8_t* out = Alloc(static_cast<size_t>(ci.output_width) * ci.output_height * comps);
  const size_t stride = static_cast<size_t>(ci.output_width) * comps;
  while (ci.output_scanline < ci.output_height) {
    JSAMPROW rows[16];
    const JDIMENSION n = std::min<JDIMENSION>(16, ci.output_height - ci.output_scanline);
    for (JDIMENSION k = 0; k < n; ++k) rows[k] = out + (ci.output_scanline + k) * stride;
    jpeg_read_scanlines(&ci, rows, n);
  }
  jpeg_finish_decompress(&ci);
  jpeg_destroy_decompress(&ci);
}

