// The PNG unfilters with sse2 instructions (this file's own processor flags).
#include "png_unfilter_simd.h"

const TPngUnfilterFamily* PngUnfilterSse2Family() {
#if defined(__SSE2__)
  static const TPngUnfilterFamily family = VEMRA_PNG_UNFILTER_FAMILY("sse2");
  return &family;
#else
  return nullptr;
#endif
}
