/* Probe for tests: every Query adds a line to the file named by the
 * environment variable VEMRA_QUERY_LOG (when set), so a test can count how
 * often the folder was scanned. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vemra_plugin.h"

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  const char* log = getenv("VEMRA_QUERY_LOG");
  FILE* f = log ? fopen(log, "a") : NULL;
  if (f) {
    fputs("query\n", f);
    fclose(f);
  }
  return 1;
}
EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  (void)Index;
  strcpy(Info->name, "Logged");
}
EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  (void)Index, (void)Host, (void)Work;
}
