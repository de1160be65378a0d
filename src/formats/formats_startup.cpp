#include "formats_startup.h"

#include "gif_image.h"
#include "img_j2k.h"
#include "img_png.h"
#include "platform_graphics.h"
#include "platform_icon.h"
#include "png_image.h"
#include "pxm_image.h"
#include "raw_image.h"
#include "tif_image.h"
#include "zub_image.h"

// Units register in this order and unregister in the reverse one.
void RegisterFormatPictureClasses() {
  RegisterBuiltinPictureFormats();
  RegisterPngImage();
  gIconPngDecoder = DecodePngToArgb;
  RegisterGifImage();
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
  UnregisterGifImage();
  gIconPngDecoder = nullptr;
  UnregisterPngImage();
}
