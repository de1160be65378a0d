// TIntegerMap storage.
#include "raster_ordinalmaps.h"

#include <algorithm>

void TIntegerMap::ChangeSize(int32_t& Width, int32_t& Height, int32_t NewWidth, int32_t NewHeight) {
  FBits.resize(static_cast<size_t>(NewWidth) * static_cast<size_t>(NewHeight));
  Width = NewWidth;
  Height = NewHeight;
}

void TIntegerMap::Clear(int32_t FillValue) {
  std::fill(FBits.begin(), FBits.end(), FillValue);
  Changed();
}

void TIntegerMap::AssignTo(TPersistent* Dest) {
  if (auto* m = dynamic_cast<TIntegerMap*>(Dest)) {
    if (m == this) return;
    m->BeginUpdate();
    m->SetSize(FWidth, FHeight);
    m->FBits = FBits;
    m->EndUpdate();
    m->Changed();
    return;
  }
  TCustomMap::AssignTo(Dest);
}
