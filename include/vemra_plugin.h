/* Effect plug-ins for Vemra.
 *
 * A plug-in is a shared library in the folder "plugins" beside the program.
 * It exports three C functions, looked up by name:
 *
 *   int32_t VemraPluginQuery(int32_t HostVersion);
 *       The number of functions the library offers (0 or less: skipped).
 *       The host passes 4.
 *   void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info);
 *       Fills the identification record of function Index (from 0). The host
 *       hands the same record to every function of a scan; it is zero-filled
 *       once before the scan and not cleared in between. An empty name hides
 *       the function.
 *   void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work);
 *       Changes the work bitmap in place. Set Host->result non-zero to cancel;
 *       the image is then left as it was.
 *
 * Strings are single-byte text. The host reads no further than a field's
 * size, so a name that fills its field without a terminating zero is cut,
 * not overrun. The host catches whatever a plug-in throws; a plug-in should
 * still not let a C++ exception cross these functions.
 *
 * Every call runs in a helper process of the host's ("vemra-plugin-host"),
 * a fresh one for each scan of a library (Query and all its Identify calls)
 * and for each Execute; the library is loaded there and nowhere else. So
 * nothing a plug-in keeps in memory lasts from one call to the next, the
 * form field's value on entry only identifies the main window (it cannot be
 * used as a pointer), and a plug-in that crashes, exits or does not return
 * ends only its helper: the editor reports it once and keeps the picture as
 * it was. A plug-in that takes long gets a question to the user, who may
 * stop it. The host routines run in the helper, on the helper's copy of the
 * work bitmap, whose pixels go back to the editor when Execute (and the
 * dialog) are done.
 *
 * A plug-in that wants a dialog puts a VemraPluginDialog of its own into
 * Host->form; after Execute returns the host calls ShowModal in the same
 * helper, on the thread that called Execute, and then Release. The helper
 * has the editor's display, so the dialog opens a window of its own there.
 * A modal result of VEMRA_MODAL_CANCEL cancels the command.
 */
#ifndef VEMRA_PLUGIN_H
#define VEMRA_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEMRA_PLUGIN_HOST_VERSION 4
#define VEMRA_MODAL_OK 1
#define VEMRA_MODAL_CANCEL 2

/* The host's bitmap object: only ever passed back to the host routines. */
typedef struct VemraBitmap VemraBitmap;

/* A rectangle with Right and Bottom exclusive. */
typedef struct VemraRect {
  int32_t Left, Top, Right, Bottom;
} VemraRect;

typedef struct VemraPluginInfo {
  char name[64];   /* empty: the function is hidden */
  char author[64];
  char hint[128];
} VemraPluginInfo;

/* A dialog of the plug-in's own, shown modally by the host. */
typedef struct VemraPluginDialog {
  int32_t (*ShowModal)(struct VemraPluginDialog* Self); /* the modal result */
  void (*Release)(struct VemraPluginDialog* Self);      /* frees the dialog */
} VemraPluginDialog;

/* The host routines. Every one refuses a bitmap that is not the work bitmap
 * of the running call, a null table or kernel, and never lets a failure out:
 * a refused or failed call changes nothing (ClampToByte and AddSaturated
 * always answer). */
typedef struct VemraHostRoutines {
  int32_t (*ClampToByte)(int32_t Value);
  VemraRect (*BitmapBounds)(const VemraBitmap* Bmp);
  void (*CopyBitmapProps)(VemraBitmap* Dst, VemraBitmap* Src);
  void (*CopyBitmap)(VemraBitmap* Dst, VemraBitmap* Src, int32_t WithProps);
  void (*StretchToFit)(VemraBitmap* Dst, VemraBitmap* Src, int32_t WithProps);
  void (*MergeWithOpacity)(VemraBitmap* Bmp, VemraBitmap* Other, int32_t Opacity);
  uint32_t (*AddSaturated)(uint32_t A, uint32_t B);
  void (*ApplyLut3)(VemraBitmap* Bmp, const uint8_t* LutR, const uint8_t* LutG, const uint8_t* LutB, int32_t Level);
  void (*OffsetChannels)(VemraBitmap* Bmp, int32_t RedOffset, int32_t GreenOffset, int32_t BlueOffset, int32_t Level);
  void (*ScaleChannels)(VemraBitmap* Bmp, float RedGain, float GreenGain, float BlueGain, int32_t Level);
  void (*BrightnessContrast)(VemraBitmap* Bmp, int32_t Brightness, int32_t Contrast, int32_t DoRed, int32_t DoGreen,
                             int32_t DoBlue, int32_t Level);
  void (*IntensityMinMax)(const VemraBitmap* Bmp, int32_t* Min, int32_t* Max);
  void (*Convolve3x3)(const int32_t* Kernel, int32_t Divisor, VemraBitmap* Bmp, int32_t Bias);
  void (*Convolve5x5)(const int32_t* Kernel, int32_t Divisor, VemraBitmap* Bmp, int32_t Bias);
  void (*FlipVertical)(VemraBitmap* Bmp);
  void (*MirrorHorizontal)(VemraBitmap* Bmp);
  void (*RotateQuarterTurns)(VemraBitmap* Bmp, int32_t Mode);
} VemraHostRoutines;

typedef struct VemraPluginHost {
  int32_t result;      /* 0 on entry; non-zero cancels */
  uint32_t reserved0;
  void* form;          /* the main window on entry, or the plug-in's VemraPluginDialog */
  uint16_t width;      /* of the work bitmap, modulo 65536 */
  uint16_t height;
  uint32_t reserved1;
  uint32_t* pixels;    /* height rows of width 0xAARRGGBB words, top row first */
  uint8_t reserved[24];
  VemraHostRoutines routines;
} VemraPluginHost;

typedef int32_t (*VemraPluginQueryProc)(int32_t HostVersion);
typedef void (*VemraPluginIdentifyProc)(int32_t Index, VemraPluginInfo* Info);
typedef void (*VemraPluginExecuteProc)(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work);

/* The layout is part of the interface: a plug-in built by another compiler
 * must see the same offsets. */
#if defined(__cplusplus)
#define VEMRA_STATIC_ASSERT static_assert
#else
#define VEMRA_STATIC_ASSERT _Static_assert
#endif
VEMRA_STATIC_ASSERT(sizeof(void*) == 8, "the plug-in interface is 64-bit");
VEMRA_STATIC_ASSERT(sizeof(VemraPluginInfo) == 256, "identification record");
VEMRA_STATIC_ASSERT(offsetof(VemraPluginInfo, author) == 64, "author");
VEMRA_STATIC_ASSERT(offsetof(VemraPluginInfo, hint) == 128, "hint");
VEMRA_STATIC_ASSERT(sizeof(VemraRect) == 16, "rectangle");
VEMRA_STATIC_ASSERT(sizeof(VemraHostRoutines) == 17 * 8, "seventeen routines");
VEMRA_STATIC_ASSERT(offsetof(VemraPluginHost, form) == 8, "form");
VEMRA_STATIC_ASSERT(offsetof(VemraPluginHost, width) == 16, "width");
VEMRA_STATIC_ASSERT(offsetof(VemraPluginHost, height) == 18, "height");
VEMRA_STATIC_ASSERT(offsetof(VemraPluginHost, pixels) == 24, "pixels");
VEMRA_STATIC_ASSERT(offsetof(VemraPluginHost, routines) == 56, "routines");
VEMRA_STATIC_ASSERT(sizeof(VemraPluginHost) == 192, "host record");

#ifdef __cplusplus
}
#endif

#endif
