/* Broken sample that claims the most functions a 32-bit count can hold. */
#include <stdio.h>

#include "vemra_plugin.h"

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  return 2147483647;
}
EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  snprintf(Info->name, sizeof Info->name, "Function %d", (int)Index);
}
EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  (void)Index, (void)Host, (void)Work;
}
