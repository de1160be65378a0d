#include "test_startup.h"

#include "raster_system.h"

void VemraTestStartup() {
  static bool done = false;
  if (done) return;
  done = true;
  RasterFoundationStartup();
}
