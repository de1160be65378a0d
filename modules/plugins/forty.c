/* Sample with forty functions, more than the host's first list holds. Each
 * adds its index to the blue channel of the first pixel. */
#include "vemra_plugin.h"

#include <stdio.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  return 40;
}
EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  snprintf(Info->name, sizeof Info->name, "Function %02d", (int)Index);
}
EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  (void)Work;
  if (Host->width > 0 && Host->height > 0) Host->pixels[0] = 0xFF000000u | (uint32_t)Index;
}
