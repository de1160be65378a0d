#pragma once
// Scrambling a picture with a key phrase: every byte of the pixel memory,
// alpha included, is XORed with the phrase's keystream. Running it a second
// time with the same phrase restores the picture.
#include <string>

#include "raster_core.h"

// Nothing for a null or empty bitmap, and nothing for an empty phrase (there
// is no key to spread). The caller sends the change notification.
void EncryptBitmap(TBitmap32* Bmp, const std::string& Phrase);
