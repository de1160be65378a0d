#include "formats_startup.h"

#include "img_j2k.h"
#include "platform_graphics.h"
#include "png_image.h"
#include "pxm_image.h"
#include "raw_image.h"
#include "tif_image.h"
#include "zub_image.h"

// Units register in this order; gif_image, still to come, takes its place
// between png_image and tif_image.
void RegisterFormatPictureClasses() {
  RegisterBuiltinPictureFormats();
  RegisterPngImage();
  RegisterTifImage();
  RegisterJ2KImage();
  RegisterPxmImage();
  RegisterRawImage();
  RegisterZubImage();
}

void UnregisterFormatPictureClasses() {
  UnregisterZubImage();
  UnregisterRawImage();
  UnregisterPxmImage();
  UnregisterJ2KImage();
  UnregisterTifImage();
  UnregisterPngImage();
}
