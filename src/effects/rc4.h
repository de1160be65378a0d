#pragma once
// A keystream generator for scrambling pictures: a key setup of our own that
// spreads the key phrase over a 256-byte state, followed by the classic
// swap-and-add generation step. XORing with the keystream is its own inverse.
#include <cstddef>
#include <cstdint>

using TKeystreamState = uint8_t[256];

// Fills State from the L bytes of Key. Only the first 256 key bytes take part;
// a null key or L <= 0 reads every key byte as 0.
void KeystreamSetup(TKeystreamState State, const uint8_t* Key, int32_t L);
// XORs N bytes of Buffer with the keystream of a private copy of State; the
// caller's State is left as it was.
void KeystreamXor(uint8_t* Buffer, size_t N, const TKeystreamState State);
