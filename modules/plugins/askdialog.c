/* Sample plug-in with a dialog of its own: function 0 darkens the picture
 * and then its dialog is cancelled; function 1 darkens and its dialog is
 * confirmed; function 2 sets the result field to cancel without a dialog. */
#include "vemra_plugin.h"

#include <string.h>

#define EXPORT __attribute__((visibility("default")))

typedef struct {
  VemraPluginDialog Base;
  int32_t Answer;
  int32_t Released;
} AskDialog;

static int32_t ShowModal(VemraPluginDialog* Self) { return ((AskDialog*)Self)->Answer; }
static void Release(VemraPluginDialog* Self) { ((AskDialog*)Self)->Released++; }

static AskDialog gDialog = {{ShowModal, Release}, 0, 0};

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) { return HostVersion == 4 ? 3 : 0; }

EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  static const char* const names[] = {"Darken, cancelled", "Darken, confirmed", "Refuse"};
  strcpy(Info->name, names[Index]);
  strcpy(Info->author, "Vemra samples");
}

EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  (void)Work;
  size_t n = (size_t)Host->width * Host->height;
  for (size_t i = 0; i < n; ++i) Host->pixels[i] &= 0xFF7F7F7Fu;
  if (Index == 2) {
    Host->result = 1;
    return;
  }
  gDialog.Answer = Index == 0 ? VEMRA_MODAL_CANCEL : VEMRA_MODAL_OK;
  Host->form = &gDialog.Base;
}
