// What the stand-in JPEG 2000 module records of the calls it gets; the
// module fills it and the bridge's tests read it through FakeJ2KState.
#pragma once

#include "j2k_container.h"

struct TFakeJ2KState {
  int Loads, Saves, Frees, Live;
  char Format[64];
  char Options[64];
  TImageContainer Saved;
  unsigned char SavedBytes[64];
};
