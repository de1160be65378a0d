/* Broken sample: lists a function but does not export VemraPluginExecute. */
#include "vemra_plugin.h"

#include <string.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  return 1;
}
EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  (void)Index;
  strcpy(Info->name, "Cannot run");
}
