// Picture encryption with the keystream of a phrase.
#include "img_enc.h"

#include <algorithm>
#include <cstdint>

#include "img_common.h"
#include "rc4.h"

void EncryptBitmap(TBitmap32* Bmp, const std::string& Phrase) {
  if (!HasPixels(Bmp) || Phrase.empty()) return;
  TKeystreamState State;
  // Only the first 256 bytes take part in the setup; a longer phrase must not
  // turn into a negative or wrapped length.
  const int32_t L = static_cast<int32_t>(std::min<size_t>(Phrase.size(), 256));
  KeystreamSetup(State, reinterpret_cast<const uint8_t*>(Phrase.data()), L);
  // Pixels are stored as little-endian words, so memory order is B, G, R, A.
  KeystreamXor(reinterpret_cast<uint8_t*>(Bmp->Bits()), Bmp->PixelCount() * sizeof(TColor32), State);
}
