/* Broken sample: calls every host routine with arguments the host must
 * refuse (null and forged bitmaps, null tables and kernels), then marks the
 * first pixel so a test can see it ran to the end. */
#include "vemra_plugin.h"

#include <string.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  return 1;
}
EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  (void)Index;
  strcpy(Info->name, "Hostile");
}
EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  (void)Index;
  const VemraHostRoutines* r = &Host->routines;
  VemraBitmap* forged = (VemraBitmap*)Host->pixels;
  VemraBitmap* bad[] = {NULL, forged};
  int32_t lo = -1, hi = -1;
  for (int i = 0; i < 2; ++i) {
    VemraBitmap* b = bad[i];
    VemraRect rc = r->BitmapBounds(b);
    if (rc.Right != 0 || rc.Bottom != 0) return;
    r->CopyBitmapProps(b, Work);
    r->CopyBitmapProps(Work, b);
    r->CopyBitmap(Work, b, 1);
    r->StretchToFit(b, Work, 1);
    r->MergeWithOpacity(Work, b, 128);
    r->ApplyLut3(b, NULL, NULL, NULL, 255);
    r->OffsetChannels(b, 1, 2, 3, 255);
    r->ScaleChannels(b, 2, 2, 2, 255);
    r->BrightnessContrast(b, 10, 10, 1, 1, 1, 255);
    r->IntensityMinMax(b, &lo, &hi);
    r->Convolve3x3(NULL, 0, b, 0);
    r->Convolve5x5(NULL, 0, b, 0);
    r->FlipVertical(b);
    r->MirrorHorizontal(b);
    r->RotateQuarterTurns(b, 1);
  }
  r->ApplyLut3(Work, NULL, NULL, NULL, 255);
  r->Convolve3x3(NULL, 1, Work, 0);
  r->Convolve5x5(NULL, 1, Work, 0);
  r->IntensityMinMax(Work, NULL, NULL);
  if (lo != -1 || hi != -1) return;
  if (r->ClampToByte(300) != 255 || r->AddSaturated(0xFF808080u, 0xFF808080u) != 0xFFFFFFFFu) return;
  Host->pixels[0] = 0xFFABCDEFu;
}
