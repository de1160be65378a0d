#pragma once
// Helpers for the format tests: bitmaps from pixel lists, a box recorder
// that is installed for the test's lifetime, and the temporary folder and
// file helpers of the picture-class tests.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
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

// Caps the size of the files this process may write while it lives, so that
// a save runs out of room half-way as on a full disk (the write then fails
// instead of raising SIGXFSZ).
struct TFileSizeLimit {
  explicit TFileSizeLimit(rlim_t Bytes) {
    oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit capped = old;
    capped.rlim_cur = Bytes;
    setrlimit(RLIMIT_FSIZE, &capped);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
  rlimit old{};
  void (*oldHandler)(int) = SIG_DFL;
};

// The names of the files in a folder, so a test can see that a failed save
// left no temporary file behind.
inline std::vector<std::string> FolderEntries(const std::string& Folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
