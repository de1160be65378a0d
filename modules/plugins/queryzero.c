/* Broken sample: offers no function. */
#include "vemra_plugin.h"

#include <string.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  return 0;
}
EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  (void)Index;
  strcpy(Info->name, "Never shown");
}
EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  (void)Index, (void)Host, (void)Work;
}
