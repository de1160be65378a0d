/* Broken sample: every text fills its field with no terminating zero. */
#include "vemra_plugin.h"

#include <string.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  return 1;
}
EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  (void)Index;
  memset(Info->name, 'N', sizeof Info->name);
  memset(Info->author, 'A', sizeof Info->author);
  memset(Info->hint, 'H', sizeof Info->hint);
}
EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  (void)Index, (void)Host, (void)Work;
}
