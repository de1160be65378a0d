#include "test_startup.h"

#include "raster_startup.h"

#include "formats_startup.h"

void VemraTestStartup() {
  static bool done = false;
  if (done) return;
  done = true;
  RasterEngineStartup();
  RegisterFormatPictureClasses();
}
