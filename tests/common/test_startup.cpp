#include "test_startup.h"

#include "raster_system.h"

#include "formats_startup.h"

#include "raster_blend.h"
#include "raster_resamplers.h"

void VemraTestStartup() {
  static bool done = false;
  if (done) return;
  done = true;
  RasterFoundationStartup();
  RasterBlendStartup();
  RasterResamplersStartup();
  RegisterFormatPictureClasses();
}
