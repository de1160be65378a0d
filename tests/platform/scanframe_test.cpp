// The frame assembler against a plain model: random pictures sent as one
// frame or three planes, at every depth, in random portions, with a known
// or unknown height; then each kind of frame it must refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform_scanframe.h"
#include "twain_records.h"

namespace {

// The picture as 0xRRGGBB per pixel, and the samples a scanner sends for it.
struct TPicture {
  int32_t W, H;
  std::vector<uint32_t> Rgb;
};

// One line of a frame: channels interleaved (Format rgb), one plane, or grey.
std::vector<uint8_t> Line(const TPicture& P, int32_t Y, int32_t Format, int32_t Depth, int32_t Pad) {
  std::vector<uint8_t> out;
  std::vector<uint32_t> samples;  // 8-bit values
  for (int32_t x = 0; x < P.W; ++x) {
    const uint32_t c = P.Rgb[static_cast<size_t>(Y) * P.W + x];
    if (Format == sfRgb)
      for (int k = 2; k >= 0; --k) samples.push_back(c >> (8 * k) & 0xFF);
    else if (Format == sfGray)
      samples.push_back(c & 0xFF);
    else
      samples.push_back(c >> (8 * (4 - Format)) & 0xFF);  // red 2 -> shift 16
  }
  if (Depth == 8) {
    for (uint32_t s : samples) out.push_back(static_cast<uint8_t>(s));
  } else if (Depth == 16) {
    for (uint32_t s : samples) {
      const uint16_t v = static_cast<uint16_t>(s * 257 ^ 0x5A);  // low byte must not matter
      uint8_t b[2];
      std::memcpy(b, &v, 2);
      out.insert(out.end(), b, b + 2);
    }
  } else {
    out.assign((samples.size() + 7) / 8, 0);
    for (size_t i = 0; i < samples.size(); ++i)
      if (samples[i] != 0) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  out.resize(out.size() + static_cast<size_t>(Pad), 0xEE);
  return out;
}

// The pixel the bitmap holds at (X, Y), read the plain way from its rows.
uint32_t DibPixel(const std::vector<uint8_t>& Dib, int32_t X, int32_t Y) {
  const int32_t w = static_cast<int32_t>(Dib[4] | Dib[5] << 8 | Dib[6] << 16 | Dib[7] << 24);
  const int32_t h = static_cast<int32_t>(Dib[8] | Dib[9] << 8 | Dib[10] << 16 | Dib[11] << 24);
  const int bits = Dib[14];
  const uint32_t colours = Dib[32] | Dib[33] << 8;
  const size_t row = static_cast<size_t>((w * bits + 31) / 32 * 4);
  const uint8_t* line = Dib.data() + 40 + 4 * colours + row * static_cast<size_t>(h - 1 - Y);
  auto table = [&](uint32_t i) {
    const uint8_t* e = Dib.data() + 40 + 4 * i;
    return static_cast<uint32_t>(e[2] << 16 | e[1] << 8 | e[0]);
  };
  if (bits == 24) return static_cast<uint32_t>(line[3 * X + 2] << 16 | line[3 * X + 1] << 8 | line[3 * X]);
  if (bits == 8) return table(line[X]);
  return table(line[X / 8] >> (7 - X % 8) & 1);
}

}  // namespace

TEST(ScanFrames, PicturesMatchThePlainModel) {
  std::mt19937 rng(11);
  for (int round = 0; round < 60; ++round) {
    static const int32_t kDepths[] = {1, 8, 16};
    const int32_t depth = kDepths[round % 3];
    const int mode = round / 3 % 4;  // 0 grey, 1 colour, 2 three planes, 3 colour with unknown height
    const bool gray = mode == 0;
    TPicture p{static_cast<int32_t>(rng() % 37 + 1), static_cast<int32_t>(rng() % 9 + 1), {}};
    for (int32_t i = 0; i < p.W * p.H; ++i) {
      uint32_t c = rng() & 0xFFFFFF;
      if (depth == 1) c = (c & 0x808080) ? (c & 0x800000 ? 0xFF0000 : 0) | (c & 0x8000 ? 0xFF00 : 0) | (c & 0x80 ? 0xFF : 0) : 0;
      if (gray) c = (depth == 1 ? (c & 0xFF ? 0xFF : 0) : c & 0xFF) * 0x010101u;
      p.Rgb.push_back(c);
    }
    if (gray && depth == 1)  // line art: a set bit is black
      for (auto& c : p.Rgb) c ^= 0xFFFFFF;
    std::vector<int32_t> formats = gray ? std::vector<int32_t>{sfGray}
                                 : mode == 2 ? std::vector<int32_t>{sfBlue, sfRed, sfGreen}
                                             : std::vector<int32_t>{sfRgb};
    const int32_t pad = static_cast<int32_t>(rng() % 3);
    TScanAssembler a;
    for (size_t f = 0; f < formats.size(); ++f) {
      std::vector<uint8_t> data;
      for (int32_t y = 0; y < p.H; ++y) {
        auto l = Line(p, y, formats[f], depth, pad);
        if (gray && depth == 1)
          for (auto& b : l) b = static_cast<uint8_t>(~b);  // back to the scanner's sense
        data.insert(data.end(), l.begin(), l.end());
      }
      const int32_t bpl = static_cast<int32_t>(data.size() / static_cast<size_t>(p.H));
      a.BeginFrame({formats[f], f + 1 == formats.size(), bpl, p.W, mode == 3 ? -1 : p.H, depth});
      for (size_t at = 0; at < data.size();) {
        const size_t n = std::min<size_t>(data.size() - at, rng() % 50 + 1);
        a.Append(data.data() + at, n);
        at += n;
      }
      a.EndFrame();
    }
    ASSERT_TRUE(a.Done());
    const auto dib = a.PackedDib();
    for (int32_t y = 0; y < p.H; ++y)
      for (int32_t x = 0; x < p.W; ++x)
        ASSERT_EQ(DibPixel(dib, x, y), p.Rgb[static_cast<size_t>(y) * p.W + x])
            << "round " << round << " at " << x << "," << y;
  }
}

TEST(ScanFrames, RefusedFrames) {
  struct Case {
    const char* What;
    std::vector<TScanFrameParams> Frames;
    size_t Bytes;  // sent in the last frame
    uint16_t Condition;
  } cases[] = {
      {"depth 4", {{sfGray, true, 10, 10, 2, 4}}, 0, TWCC_BADVALUE},
      {"format 5", {{5, true, 10, 10, 2, 8}}, 0, TWCC_BADVALUE},
      {"lines 0", {{sfGray, true, 10, 10, 0, 8}}, 0, TWCC_BADVALUE},
      {"lines -2", {{sfGray, true, 10, 10, -2, 8}}, 0, TWCC_BADVALUE},
      {"short lines", {{sfRgb, true, 29, 10, 2, 8}}, 0, TWCC_BADVALUE},
      {"short 16-bit lines", {{sfGray, true, 19, 10, 2, 16}}, 0, TWCC_BADVALUE},
      {"too many pixels", {{sfGray, true, 1 << 16, 1 << 16, 1 << 13, 8}}, 0, TWCC_LOWMEMORY},
      {"grey not last", {{sfGray, false, 10, 10, 2, 8}}, 0, TWCC_SEQERROR},
      {"plane twice", {{sfRed, false, 10, 10, 2, 8}, {sfRed, false, 10, 10, 2, 8}}, 0, TWCC_SEQERROR},
      {"plane missing", {{sfRed, false, 10, 10, 2, 8}, {sfGreen, true, 10, 10, 2, 8}}, 0, TWCC_SEQERROR},
      {"planes disagree", {{sfRed, false, 10, 10, 2, 8}, {sfGreen, false, 10, 10, 3, 8}}, 0, TWCC_BADVALUE},
      {"grey after plane", {{sfRed, false, 10, 10, 2, 8}, {sfGray, true, 10, 10, 2, 8}}, 0, TWCC_SEQERROR},
      {"ends early", {{sfGray, true, 10, 10, 2, 8}}, 10, TWCC_BADVALUE},
      {"ends inside a line", {{sfGray, true, 10, 10, -1, 8}}, 15, TWCC_BADVALUE},
      {"hand scanner sends nothing", {{sfGray, true, 10, 10, -1, 8}}, 0, TWCC_BADVALUE},
      {"more lines than declared", {{sfGray, true, 10, 10, 2, 8}}, 30, TWCC_BADVALUE},
  };
  for (const Case& c : cases) {
    TScanAssembler a;
    uint16_t got = 0;
    try {
      for (const auto& f : c.Frames) {
        a.BeginFrame(f);
        const std::vector<uint8_t> data(&f == &c.Frames.back() ? c.Bytes : static_cast<size_t>(f.BytesPerLine) * f.Lines);
        a.Append(data.data(), data.size());
        a.EndFrame();
      }
    } catch (const EScanFrameError& E) {
      got = E.Condition;
    }
    EXPECT_EQ(got, c.Condition) << c.What;
  }
}
