#include "test_startup.h"

#include "raster_startup.h"

#include "formats_startup.h"
#include "raster_microtiles.h"

void VemraTestStartup() {
  static bool done = false;
  if (done) return;
  done = true;
  RasterEngineStartup();
  MicroTilesStartup();
  RegisterFormatPictureClasses();
}
