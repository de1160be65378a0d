#pragma once
// The parameter dialog's kinds: what each shows and which effect it runs.
// The commands apply a kind to the work bitmap through ApplyParamEffect, and
// the dialog's preview runs the same routine on its small copy, so what the
// preview shows and what the command does cannot disagree.
#include <cstdint>

#include "editor_ui.h"
#include "raster_core.h"

constexpr int32_t kParamKindCount = 14;  // kinds 1..14

// Caption, labels ("None:" for an unused slider) and the channel group of
// Kind; Kind outside 1..14 gives an empty setup.
TParamDialogSetup ParamDialogSetupFor(int32_t Kind);

// Runs Kind's effect from Src into Dst (the same bitmap for the command)
// with the dialog's values; the mosaic, spray and quantize radius is divided
// by RadiusDivisor (integer division), which the preview sets to its ratio so
// that the small picture looks like the full-size result. Foreground and
// Background are the swatch colours. Unknown kinds do nothing.
void ApplyParamEffect(int32_t Kind, TBitmap32* Dst, TBitmap32* Src, const TParamValues& Values, TColor32 Foreground,
                      TColor32 Background, int32_t RadiusDivisor = 1);
