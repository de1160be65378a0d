// Key setup and keystream generation.
#include "rc4.h"

#include <cstring>
#include <utility>

void KeystreamSetup(TKeystreamState State, const uint8_t* Key, int32_t L) {
  // The state is filled from the top: the key is read from its first byte on,
  // and each time it is used up the offset Pass grows by one. All sums are
  // byte arithmetic (mod 256).
  uint8_t Pass = 0;
  int32_t C = 0;
  for (int32_t K = 255; K >= 0; --K) {
    if (C >= L) {
      ++Pass;
      C = 0;
    }
    const uint8_t KeyByte = (Key != nullptr && C < L) ? Key[C] : 0;
    State[K] = static_cast<uint8_t>(Pass + KeyByte - K);
    C = (C + 1) & 0xFF;
  }
  // The state is then scrambled with the keystream of a copy of itself.
  KeystreamXor(State, 256, State);
}

void KeystreamXor(uint8_t* Buffer, size_t N, const TKeystreamState State) {
  uint8_t S[256];
  std::memcpy(S, State, sizeof(S));
  uint8_t I = 0, J = 0;
  for (size_t n = 0; n < N; ++n) {
    ++I;
    J = static_cast<uint8_t>(J + S[I]);
    std::swap(S[I], S[J]);
    Buffer[n] ^= S[static_cast<uint8_t>(S[I] + S[J])];
  }
}
