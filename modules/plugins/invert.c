/* Sample plug-in: colour inversion on the pixels, a mirror through a host
 * routine, and a hidden function between them. */
#include "vemra_plugin.h"

#include <string.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  return 3;
}

EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  switch (Index) {
    case 0:
      strcpy(Info->name, "  Invert ");
      strcpy(Info->author, "Vemra samples");
      strcpy(Info->hint, "Inverts red, green and blue; alpha stays");
      break;
    case 1: /* hidden: an empty name */
      Info->name[0] = 0;
      break;
    default:
      strcpy(Info->name, "Mirror");
      strcpy(Info->hint, "Mirrors left to right");
      break;
  }
}

EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  if (Index == 0) {
    size_t n = (size_t)Host->width * Host->height;
    for (size_t i = 0; i < n; ++i) Host->pixels[i] ^= 0x00FFFFFFu;
  } else if (Index == 2) {
    Host->routines.MirrorHorizontal(Work);
  }
}
