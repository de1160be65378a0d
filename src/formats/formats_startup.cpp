#include "formats_startup.h"

#include "img_j2k.h"
#include "platform_graphics.h"
#include "png_image.h"
#include "pxm_image.h"
#include "tif_image.h"
#include "zub_image.h"

// Units register in this order; the units of the formats still to come take
// their places between these calls: png_image, gif_image, tif_image and
// img_j2k before pxm_image, raw_image between pxm_image and zub_image.
void RegisterFormatPictureClasses() {
  RegisterBuiltinPictureFormats();
  RegisterPngImage();
  RegisterTifImage();
  RegisterJ2KImage();
  RegisterPxmImage();
  RegisterZubImage();
}

void UnregisterFormatPictureClasses() {
  UnregisterZubImage();
  UnregisterPxmImage();
  UnregisterJ2KImage();
  UnregisterTifImage();
  UnregisterPngImage();
}
