// vemra-plugin-host: the program the editor starts for each plug-in scan and
// run, so that a plug-in that crashes, hangs or exits takes only this
// process with it. It serves one order on descriptor 3 and ends.
#include <unistd.h>

#include "formats_startup.h"
#include "raster_startup.h"
#include "raster_microtiles.h"
#include "zub_plugin_process.h"

int main() {
  RasterEngineStartup();
  MicroTilesStartup();
  RegisterFormatPictureClasses();
  // Straight out: exit handlers a plug-in left behind belong to a library
  // that is already unloaded.
  _exit(PluginHostMain(3));
}
