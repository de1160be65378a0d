// Keystream setup and generation.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
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

std::vector<uint8_t> Stream(const std::array<uint8_t, 256>& S, size_t N) {
  std::vector<uint8_t> Out(N, 0);
  KeystreamXor(Out.data(), N, S.data());
  return Out;
}

TEST(Keystream, KnownAnswerForAbc) {
  const std::vector<uint8_t> Expected = {0x38, 0x8E, 0x18, 0x54, 0xCA, 0xB8, 0x7A, 0x3E};
  EXPECT_EQ(Stream(StateOf("abc"), 8), Expected);
}

TEST(Keystream, SetupFollowsTheClosedForm) {
  // Before the final scramble, State[k] = ((255 - k) div L + Key[(255 - k) mod L] - k) mod 256;
  // the scramble is the keystream of that state XORed onto itself.
  std::mt19937 Rng(11);
  for (int32_t L : {1, 2, 3, 7, 100, 255}) {
    std::vector<uint8_t> Key(static_cast<size_t>(L));
    for (auto& b : Key) b = static_cast<uint8_t>(Rng());
    if (L == 1) Key[0] = 0;
    std::array<uint8_t, 256> Pre{};
    for (int k = 0; k < 256; ++k) Pre[k] = static_cast<uint8_t>((255 - k) / L + Key[(255 - k) % L] - k);
    if (L == 1) {
      // Key byte 0: (255 - 2k) mod 256.
      EXPECT_EQ(Pre[255], 1);
      EXPECT_EQ(Pre[254], 3);
      EXPECT_EQ(Pre[0], 255);
    }
    std::array<uint8_t, 256> Expected = Pre;
    KeystreamXor(Expected.data(), 256, Pre.data());
    std::array<uint8_t, 256> Got{};
    KeystreamSetup(Got.data(), Key.data(), L);
    EXPECT_EQ(Got, Expected) << "L = " << L;
  }
}

TEST(Keystream, XorIsItsOwnInverseAndKeepsTheState) {
  const auto S = StateOf("secret phrase");
  const auto Before = S;
  std::vector<uint8_t> Data(1000);
  for (size_t i = 0; i < Data.size(); ++i) Data[i] = static_cast<uint8_t>(i * 7);
  const auto Original = Data;
  KeystreamXor(Data.data(), Data.size(), S.data());
  EXPECT_NE(Data, Original);
  EXPECT_EQ(S, Before) << "the caller's state is not changed";
  KeystreamXor(Data.data(), Data.size(), S.data());
  EXPECT_EQ(Data, Original);
}

TEST(Keystream, EveryKeyByteCountsUpTo256) {
  // Phrases differing only in their last character differ from the first byte on.
  EXPECT_NE(Stream(StateOf("abc"), 1), Stream(StateOf("abd"), 1));
  EXPECT_NE(StateOf("password1"), StateOf("password2"));
  // Only the first 256 bytes take part.
  std::string Long(300, 'x');
  std::string Other = Long;
  Other[299] = 'y';
  Other[256] = 'z';
  EXPECT_EQ(StateOf(Long), StateOf(Other));
  Other[255] = 'q';
  EXPECT_NE(StateOf(Long), StateOf(Other));
}

TEST(Keystream, MissingKeyReadsAsZero) {
  std::array<uint8_t, 256> A{}, B{};
  KeystreamSetup(A.data(), nullptr, 0);
  const uint8_t Zero = 0;
  // With L = 0 the offset grows on every step, which is not the L = 1 state.
  KeystreamSetup(B.data(), &Zero, 0);
  EXPECT_EQ(A, B);
  EXPECT_NE(A, StateOf(std::string(1, '\0')));
}

}  // namespace
