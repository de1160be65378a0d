// The PNG unfilters with sse41 instructions (this file's own processor flags).
#include "png_unfilter_simd.h"

const TPngUnfilterFamily* PngUnfilterSse41Family() {
#if defined(__SSE4_1__)
  static const TPngUnfilterFamily family = VEMRA_PNG_UNFILTER_FAMILY("sse41");
  return &family;
#else
  return nullptr;
#endif
}
