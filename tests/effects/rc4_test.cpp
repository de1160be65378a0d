// Keystream setup and generation.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "rc4.h"

namespace {

std::array<uint8_t, 256> StateOf(const std::string& Key) {
  std::array<uint8_t, 256> S{};
  KeystreamSetup(S.data(), reinterpret_cast<const uint8_t*>(Key.data()), static_cast<int32_t>(Key.size()));
  return S;
}

TEST(Keystream, KnownAnswerForAbc) {
  std::vector<uint8_t> Stream(8, 0);
  KeystreamXor(Stream.data(), Stream.size(), StateOf("abc").data());
  EXPECT_EQ(Stream, (std::vector<uint8_t>{0x38, 0x8E, 0x18, 0x54, 0xCA, 0xB8, 0x7A, 0x3E}));
}

TEST(Keystream, SetupFollowsTheClosedForm) {
  // Before the final scramble State[k] = ((255 - k) div L + Key[(255 - k) mod L] - k) mod 256
  // (with L = 1 and key byte 0: State[255] = 1, State[254] = 3, State[0] = 255);
  // the scramble XORs the state with its own keystream.
  std::mt19937 Rng(11);
  for (int32_t L : {1, 2, 3, 7, 100, 255}) {
    std::vector<uint8_t> Key(static_cast<size_t>(L));
    for (auto& b : Key) b = L == 1 ? 0 : static_cast<uint8_t>(Rng());
    std::array<uint8_t, 256> Pre{};
    for (int k = 0; k < 256; ++k) Pre[k] = static_cast<uint8_t>((255 - k) / L + Key[(255 - k) % L] - k);
    if (L == 1) {
      EXPECT_EQ((std::vector<int>{Pre[255], Pre[254], Pre[0]}), (std::vector<int>{1, 3, 255}));
    }
    std::array<uint8_t, 256> Expected = Pre, Got{};
    KeystreamXor(Expected.data(), 256, Pre.data());
    EXPECT_EQ(Pre[7], static_cast<uint8_t>((248 / L) + Key[248 % L] - 7)) << "the caller's state is not changed";
    KeystreamSetup(Got.data(), Key.data(), L);
    EXPECT_EQ(Got, Expected) << "L = " << L;
  }
}

TEST(Keystream, EveryKeyByteCountsUpTo256) {
  EXPECT_NE(StateOf("password1"), StateOf("password2"));
  std::string Long(300, 'x'), Other = Long;
  Other[256] = 'z';
  EXPECT_EQ(StateOf(Long), StateOf(Other)) << "bytes past 256 take no part";
  Other[255] = 'q';
  EXPECT_NE(StateOf(Long), StateOf(Other));
}

}  // namespace
