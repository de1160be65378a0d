// Broken sample: throws from Identify for function 1 (after writing its
// name) and from Execute after changing the pixels.
#include <cstring>
#include <stdexcept>

#include "vemra_plugin.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t) { return 2; }

EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  std::strcpy(Info->name, Index == 0 ? "Throws" : "Half identified");
  if (Index == 1) throw std::runtime_error("identify failed");
}

EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap*) {
  if (Host->width > 0 && Host->height > 0) Host->pixels[0] = 0xFF123456u;
  if (Index == 0) throw std::logic_error("execute failed");
  throw 42;
}
