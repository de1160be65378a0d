#include "raster_startup.h"

#include "raster_blend.h"
#include "raster_rasterizers.h"
#include "raster_resamplers.h"
#include "raster_system.h"

void RasterEngineStartup() {
  static bool done = false;
  if (done) return;
  done = true;
  RasterFoundationStartup();
  RasterBlendStartup();
  RasterResamplersStartup();
  RasterRasterizersStartup();
}
