#pragma once
// Helpers for the format tests: bitmaps from pixel lists, a box recorder
// that is installed for the test's lifetime, and the temporary folder and
// file helpers of the picture-class tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../platform/picture_test_util.h"
#include "platform_messagebox.h"
#include "raster_core.h"

inline void FillBitmap(TBitmap32& B, int32_t W, int32_t H, const std::vector<TColor32>& Px) {
  B.SetSize(W, H);
  for (int32_t i = 0; i < W * H; ++i) B.Bits()[i] = Px[static_cast<size_t>(i)];
}

inline std::vector<TColor32> PixelsOf(const TBitmap32& B) {
  if (B.Empty()) return {};
  return std::vector<TColor32>(B.Bits(), B.Bits() + B.PixelCount());
}

// Pseudo-random pixels with every alpha value represented.
inline std::vector<TColor32> NoisePixels(size_t N, uint32_t Seed) {
  std::vector<TColor32> px(N);
  uint32_t s = Seed;
  for (auto& c : px) {
    s = s * 1664525u + 1013904223u;
    c = s ^ (s >> 13);
  }
  return px;
}

// Records every box shown while it lives.
struct TBoxes {
  TMessageBoxRecorder Recorder;
  TScopedMessageBoxHandler Guard{Recorder};
  size_t Count() const { return Recorder.Count(); }
  TMessageBoxRequest Last() const { return Recorder.Last(); }
};

// Expects exactly one box with this text, caption and icon, without an owner window.
inline void ExpectOneBox(const TBoxes& Boxes, const std::string& Text, const std::string& Caption, uint32_t Icon) {
  ASSERT_EQ(Boxes.Count(), 1u) << Boxes.Last().Text;
  const TMessageBoxRequest r = Boxes.Last();
  EXPECT_EQ(r.Text, Text);
  EXPECT_EQ(r.Caption, Caption);
  EXPECT_EQ(r.Flags & MB_ICONMASK, Icon);
  EXPECT_FALSE(r.ApplicationOwned);
}
