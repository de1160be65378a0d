// The PNG unfilters with ssse3 instructions (this file's own processor flags).
#include "png_unfilter_simd.h"

const TPngUnfilterFamily* PngUnfilterSsse3Family() {
#if defined(__SSSE3__)
  static const TPngUnfilterFamily family = VEMRA_PNG_UNFILTER_FAMILY("ssse3");
  return &family;
#else
  return nullptr;
#endif
}
