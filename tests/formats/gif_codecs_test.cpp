// The GIF codecs: the decoder against hand-packed code streams at every edge
// of the bit buffer, and both encoders against giflib and Pillow over random
// frames of 1 to 8 bits.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gif_codecs.h"
#include "gif_image.h"
#include "gif_peer.h"
#include "test_startup.h"

namespace {

// Codes packed least-significant bit first, each with its own width.
std::vector<uint8_t> PackCodes(const std::vector<std::pair<int, int>>& Codes) {
  std::vector<uint8_t> out;
  uint64_t acc = 0;
  int bits = 0;
  for (auto [code, width] : Codes) {
    acc |= static_cast<uint64_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) out.push_back(static_cast<uint8_t>(acc));
  return out;
}

// The minimum code size byte, Data cut into sub-blocks of Block bytes, and
// (when Terminate) the zero-length block.
std::vector<uint8_t> SubBlocks(int MinCodeSize, const std::vector<uint8_t>& Data, size_t Block, bool Terminate = true) {
  std::vector<uint8_t> out{static_cast<uint8_t>(MinCodeSize)};
  for (size_t i = 0; i < Data.size(); i += Block) {
    const size_t n = std::min(Block, Data.size() - i);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), Data.begin() + static_cast<long>(i), Data.begin() + static_cast<long>(i + n));
  }
  if (Terminate) out.push_back(0);
  return out;
}

struct TDecoded {
  std::vector<uint8_t> Pixels;
  std::vector<std::string> Warnings;
  int64_t Position = 0;
};

TDecoded Decode(const std::vector<uint8_t>& Stream, int W, int H, bool Interlaced = false, uint8_t Fill = 0xEE) {
  TDecoded d;
  d.Pixels.assign(static_cast<size_t>(W) * H, 0x55);
  TReadOnlyMemoryStream s(Stream.data(), Stream.size());
  DecodeGIFImageData(s, d.Pixels.data(), W, H, Interlaced, Fill,
                     [&](const void*, int32_t, const std::string& M) { d.Warnings.push_back(M); });
  d.Position = s.Position();
  return d;
}

std::vector<uint8_t> Encode(int Compression, int Bits, const std::vector<uint8_t>& Px, int W, int H,
                            bool Interlaced = false) {
  TMemoryStream m;
  if (Compression == 0) {
    TLZWEncoder e;
    e.Compress(m, Bits, 1 << Bits, Px.data(), Interlaced, H, W);
  } else {
    TRLEEncoder e;
    e.Compress(m, Bits, 1 << Bits, Px.data(), Interlaced, H, W);
  }
  return m.Bytes();
}

// A one-frame file around the given image data, written by hand.
std::vector<uint8_t> WrapFrame(int W, int H, int Bits, const std::vector<uint8_t>& Map, const std::vector<uint8_t>& Data,
                               bool Interlaced = false) {
  std::vector<uint8_t> f = {'G', 'I', 'F', '8', '9', 'a', static_cast<uint8_t>(W), static_cast<uint8_t>(W >> 8),
                            static_cast<uint8_t>(H), static_cast<uint8_t>(H >> 8),
                            static_cast<uint8_t>(0xF0 | (Bits - 1)), 0, 0};
  f.insert(f.end(), Map.begin(), Map.end());
  const uint8_t d[10] = {0x2C, 0, 0, 0, 0, static_cast<uint8_t>(W), static_cast<uint8_t>(W >> 8),
                         static_cast<uint8_t>(H), static_cast<uint8_t>(H >> 8),
                         static_cast<uint8_t>(Interlaced ? 0x40 : 0)};
  f.insert(f.end(), d, d + 10);
  f.insert(f.end(), Data.begin(), Data.end());
  f.push_back(0x3B);
  return f;
}

std::string TempDir() {
  const auto d = std::filesystem::temp_directory_path() / ("gif_codecs_" + std::to_string(::getpid()));
  std::filesystem::create_directories(d);
  return d.string();
}

}  // namespace

TEST(GifDecoder, EdgesOfTheBitBuffer) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Stream;
    int W;
    std::vector<uint8_t> Want;
    std::vector<std::string> Warnings;
  };
  // Minimum code size 10: 11-bit codes, so the code at bit 22 (220) and the
  // one at bit 55 (the end code) each touch three bytes, which 1-byte
  // sub-blocks put in three different blocks.
  const std::vector<uint8_t> wide = PackCodes({{1024, 11}, {7, 11}, {220, 11}, {1026, 11}, {100, 11}, {1025, 11}});
  std::vector<uint8_t> first3(wide.begin(), wide.begin() + 3);  // ends inside the code of 220
  std::vector<uint8_t> zeroMid = SubBlocks(10, first3, 1);
  std::vector<uint8_t> eofMid = SubBlocks(10, first3, 1, false);
  // Six 4-bit codes fill exactly three bytes, and the file ends there.
  const std::vector<uint8_t> exact = SubBlocks(3, PackCodes({{8, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4}}), 255, false);
  std::vector<uint8_t> early(40, 0xEE);
  std::fill(early.begin(), early.begin() + 6, 1);
  const std::vector<TCase> cases = {
      {"plain", SubBlocks(2, PackCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 3}}), 255), 3, {1, 2, 3}, {}},
      {"codes over three one-byte blocks", SubBlocks(10, wide, 1), 5, {7, 220, 7, 220, 100}, {}},
      {"zero block inside a code keeps the fill", zeroMid, 5, {7, 0xEE, 0xEE, 0xEE, 0xEE},
       {"Decoder bit buffer under-run"}},
      {"end of file inside a code keeps the fill", eofMid, 5, {7, 0xEE, 0xEE, 0xEE, 0xEE},
       {"Decoder bit buffer under-run"}},
      {"code ending at the last bit of the file", exact, 5, {1, 2, 3, 4, 5}, {}},
      {"end code right after a clear", SubBlocks(2, PackCodes({{4, 3}, {5, 3}, {1, 3}}), 255), 2, {0xEE, 0xEE}, {}},
      {"code above the next free one", SubBlocks(2, PackCodes({{4, 3}, {1, 3}, {7, 3}, {2, 3}}), 255), 3,
       {1, 0xEE, 0xEE}, {"Invalid GIF data"}},
      {"code equal to the next free one", SubBlocks(2, PackCodes({{4, 3}, {1, 3}, {6, 3}, {5, 3}}), 255), 3,
       {1, 1, 1}, {}},
      {"first code after a clear not a colour", SubBlocks(2, PackCodes({{4, 3}, {6, 3}, {1, 3}}), 255), 2,
       {0xEE, 0xEE}, {"Invalid GIF data"}},
      {"no data at all keeps the fill", {}, 2, {0xEE, 0xEE}, {}},
      {"early end code: the rest keeps the fill",
       SubBlocks(2, PackCodes({{4, 3}, {1, 3}, {6, 3}, {7, 3}, {5, 4}}), 255), 40, early, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TDecoded d = Decode(c.Stream, c.W, 1);
    EXPECT_EQ(d.Pixels, c.Want);
    EXPECT_EQ(d.Warnings, c.Warnings);
  }
}

TEST(GifDecoder, SkipsToTheTerminatorAndRefusesWideCodes) {
  // Data after the end code and pixels beyond the frame: all of it is skipped,
  // whatever the frame did, and the stream stands after the terminator.
  std::vector<uint8_t> s = SubBlocks(2, PackCodes({{4, 3}, {1, 3}, {2, 3}, {5, 3}, {3, 3}, {3, 3}}), 1);
  s.insert(s.end() - 1, {3, 9, 9, 9});
  s.push_back(0x2C);
  TDecoded d = Decode(s, 1, 1);
  EXPECT_EQ(d.Pixels, std::vector<uint8_t>{1});
  EXPECT_EQ(d.Position, static_cast<int64_t>(s.size() - 1));
  // A damaged frame skips its leftover blocks too.
  s = SubBlocks(2, PackCodes({{4, 3}, {1, 3}, {7, 3}, {0, 3}, {0, 3}, {0, 3}}), 1);
  s.push_back(0x3B);
  d = Decode(s, 8, 1);
  EXPECT_EQ(d.Position, static_cast<int64_t>(s.size() - 1));
  EXPECT_EQ(d.Warnings.size(), 1u);
  // One warning per frame, though the block is also short.
  std::vector<uint8_t> shortBlock = {2, 200, 0x8C};
  d = Decode(shortBlock, 50, 1);
  EXPECT_EQ(d.Warnings, std::vector<std::string>{"Premature end of data"});

  const std::vector<uint8_t> wide = {12, 1, 0, 0};
  try {
    Decode(wide, 1, 1);
    ADD_FAILURE() << "no exception";
  } catch (const GIFException& e) {
    EXPECT_EQ(std::string(e.what()), "Invalid GIF data");
  }
}

TEST(GifDecoder, InterlacedRowOrder) {
  for (int h : {1, 2, 3, 4, 5, 8, 9, 17}) {
    std::vector<int> order;
    for (TGIFRowOrder r(h, true); !r.Finished(); r.Next()) order.push_back(r.Row());
    // Plain model: the four passes filtered to the frame.
    std::vector<int> want;
    for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
      for (int y = start; y < h; y += step) want.push_back(y);
    EXPECT_EQ(order, want) << h;
  }
  // Height 3 decodes its rows in the order 0, 2, 1.
  const std::vector<uint8_t> s = SubBlocks(2, PackCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 3}}), 255);
  EXPECT_EQ(Decode(s, 1, 3, true).Pixels, (std::vector<uint8_t>{1, 3, 2}));
}

TEST(GifEncoder, OneByOneIndexZeroIsByteExact) {
  VemraTestStartup();
  TGIFImage img;
  img.GlobalColorMap().Add({0, 0, 0});
  img.GlobalColorMap().Add({255, 255, 255});
  auto f = std::make_unique<TGIFSubImage>(&img);
  f->SetBounds(0, 0, 1, 1);
  img.Add(std::move(f));
  TMemoryStream m;
  img.SaveToStream(m);
  const std::vector<uint8_t> want = {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                                     0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B};
  EXPECT_EQ(m.Bytes(), want);
  // The run-length coder writes the same codes for a single pixel.
  img.Compression = 1;
  TMemoryStream r;
  img.SaveToStream(r);
  EXPECT_EQ(r.Bytes(), want);
}

TEST(GifEncoder, BothEncodersDecodeExactlyInGiflibPillowAndOurs) {
  const std::string dir = TempDir();
  struct TCase {
    int W, H, Bits;
    bool Interlaced;
  };
  std::vector<TCase> cases;
  for (int bits = 1; bits <= 8; ++bits) {
    cases.push_back({1, 1, bits, false});
    cases.push_back({17, 3, bits, bits % 2 == 0});
    cases.push_back({64 + bits * 13, 40 + bits * 7, bits, bits == 3});
    cases.push_back({300, 200, bits, false});
  }
  cases.push_back({2000, 1500, 8, false});
  cases.push_back({1999, 1501, 4, true});
  std::vector<std::string> files;
  std::vector<std::vector<uint8_t>> wants;
  for (size_t i = 0; i < cases.size(); ++i) {
    const TCase& c = cases[i];
    const std::vector<uint8_t> px = RandomIndices(c.W, c.H, c.Bits, static_cast<uint32_t>(i));
    const std::vector<uint8_t> map = RandomMap(1 << c.Bits, static_cast<uint32_t>(i));
    for (int comp = 0; comp < 2; ++comp) {
      SCOPED_TRACE(std::to_string(c.W) + "x" + std::to_string(c.H) + " bits " + std::to_string(c.Bits) +
                   (comp ? " rle" : " lzw"));
      const std::vector<uint8_t> data = Encode(comp, c.Bits, px, c.W, c.H, c.Interlaced);
      EXPECT_EQ(data[0], std::max(2, c.Bits));
      const std::vector<uint8_t> file = WrapFrame(c.W, c.H, c.Bits, map, data, c.Interlaced);
      const TPeerGif peer = GiflibSlurp(file);
      ASSERT_TRUE(peer.Ok) << peer.Error;
      ASSERT_EQ(peer.Frames.size(), 1u);
      EXPECT_TRUE(peer.Frames[0].Pixels == px);
      const TDecoded ours = Decode(data, c.W, c.H, c.Interlaced);
      EXPECT_TRUE(ours.Pixels == px);
      EXPECT_TRUE(ours.Warnings.empty());
      EXPECT_EQ(ours.Position, static_cast<int64_t>(data.size()));
      if (!c.Interlaced) {
        // Pillow reads interlaced frames too, but one path per case keeps it quick.
        files.push_back(dir + "/c" + std::to_string(i) + "_" + std::to_string(comp) + ".gif");
        TMemoryStream(file).SaveToFile(files.back());
        wants.push_back(px);
      }
    }
  }
  const auto pillow = PillowIndices(files);
  for (size_t i = 0; i < files.size(); ++i) EXPECT_TRUE(pillow[i] == wants[i]) << files[i];
  std::filesystem::remove_all(dir);
}

// A plain reader of the code stream that follows the decoder's table growth
// and reports the largest code width and the largest free code seen.
struct TCodeStats {
  int MaxWidth = 0;
  int MaxNextFree = 0;
  int Clears = 0;
};
TCodeStats ScanCodes(const std::vector<uint8_t>& Data) {
  const int s = Data[0];
  std::vector<uint8_t> bytes;
  for (size_t i = 1; i < Data.size() && Data[i] != 0; i += Data[i] + 1)
    bytes.insert(bytes.end(), Data.begin() + static_cast<long>(i) + 1,
                 Data.begin() + static_cast<long>(i) + 1 + Data[i]);
  TCodeStats st;
  const int clear = 1 << s;
  int width = s + 1, next = clear + 2;
  bool first = true;
  for (size_t bit = 0; bit + width <= bytes.size() * 8;) {
    int code = 0;
    for (int k = 0; k < width; ++k) code |= ((bytes[(bit + k) / 8] >> ((bit + k) % 8)) & 1) << k;
    bit += width;
    st.MaxWidth = std::max(st.MaxWidth, width);
    if (code == clear) {
      ++st.Clears;
      width = s + 1;
      next = clear + 2;
      first = true;
      continue;
    }
    if (code == clear + 1) break;
    if (!first && next < 4096) {
      ++next;
      st.MaxNextFree = std::max(st.MaxNextFree, next);
      if (next == (1 << width) && width < 12) ++width;
    }
    first = false;
  }
  return st;
}

TEST(GifEncoder, TablesStayWithinTwelveBits) {
  // Noise fills the LZW table many times over: it clears before ever
  // assigning code 4095.
  const std::vector<uint8_t> noise = RandomIndices(700, 500, 8, 99);
  const TCodeStats lzw = ScanCodes(Encode(0, 8, noise, 700, 500));
  EXPECT_EQ(lzw.MaxWidth, 12);
  EXPECT_EQ(lzw.MaxNextFree, 4095);
  EXPECT_GT(lzw.Clears, 10);
  // One colour over a large image: the run-length coder clears often enough
  // that the width never passes 12 bits, for every palette size.
  for (int bits = 1; bits <= 8; ++bits) {
    const std::vector<uint8_t> flat(1000 * 1000, static_cast<uint8_t>((1 << bits) - 1));
    const std::vector<uint8_t> data = Encode(1, bits, flat, 1000, 1000);
    const TCodeStats rle = ScanCodes(data);
    EXPECT_LE(rle.MaxWidth, 12) << bits;
    EXPECT_LE(rle.MaxNextFree, 4095) << bits;
    const TDecoded d = Decode(data, 1000, 1000);
    EXPECT_TRUE(d.Pixels == flat) << bits;
  }
}

TEST(GifEncoder, RefusesIndicesOutsideTheTable) {
  const std::vector<uint8_t> px = {0, 1, 2, 5};
  for (int comp = 0; comp < 2; ++comp) {
    TMemoryStream m;
    std::unique_ptr<TGIFEncoder> e;
    if (comp == 0)
      e = std::make_unique<TLZWEncoder>();
    else
      e = std::make_unique<TRLEEncoder>();
    try {
      e->Compress(m, 3, 5, px.data(), false, 1, 4);
      ADD_FAILURE() << "no exception";
    } catch (const GIFException& ex) {
      EXPECT_EQ(std::string(ex.what()), "Color not in color table");
    }
  }
}

TEST(GifEncoder, RunCostHelpersMatchPlainCounting) {
  for (int64_t x = 0; x < 20000; ++x) {
    int64_t r = 0;
    while ((r + 1) * (r + 1) <= x) ++r;
    const int64_t got = GIFIsqrt(x);
    // The Newton walk may stop one above the floor of the root.
    EXPECT_TRUE(got == r || got == r + 1) << x;
  }
  // The plain count: codes of 1, 2, 3, ... pixels, starting again after
  // RepCodes codes, the last one cut to what is left.
  auto plain = [](int64_t count, int64_t rep) {
    int64_t cost = 0, n = 1;
    while (count > 0) {
      count -= n;
      ++cost;
      n = n == rep ? 1 : n + 1;
    }
    return cost;
  };
  for (int64_t rep : {1, 2, 7, 250, 4089})
    for (int64_t c = 1; c < 30000; c += 7) EXPECT_EQ(GIFTriangleCount(c, rep), plain(c, rep)) << c << " " << rep;
  // Counts past 2^31 stay exact in 64 bits.
  EXPECT_EQ(GIFTriangleCount(int64_t{4089} * 4090 / 2 * 1000, 4089), 4089 * 1000);
}

// The run-length encoder's bytes, pinned from the encoder before its run scan
// and cost table were made faster: the same pictures must give the same files.
TEST(GifEncoder, RunLengthBytesStayThoseOfTheFirstEncoder) {
  struct TCase {
    const char* name;
    int bits, w, h;
    bool interlaced;
    int maxRun;  // runs of 1..maxRun pixels of one colour
    uint32_t crc;
  };
  const TCase cases[] = {
      {"noise, 8 bits", 8, 211, 97, false, 1, 0xE22A2CD0},
      {"short runs, 8 bits", 8, 640, 120, false, 6, 0x9957EAE0},
      {"short runs, interlaced", 8, 333, 77, true, 9, 0x63976076},
      {"long runs, 4 bits", 4, 1000, 300, false, 4000, 0x3182C989},
      {"runs past the table, 2 bits", 2, 4000, 900, false, 3000000, 0x8B2AC5EC},
      {"medium runs, 1 bit", 1, 517, 211, false, 40, 0x0AD87C71},
      {"medium runs, 5 bits, interlaced", 5, 129, 333, true, 200, 0x900A48B7},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> px(static_cast<size_t>(c.w) * c.h);
    uint32_t s = 1234;
    for (size_t i = 0; i < px.size();) {
      s = s * 1664525u + 1013904223u;
      const size_t run = 1 + (s >> 8) % static_cast<uint32_t>(c.maxRun);
      s = s * 1664525u + 1013904223u;
      const auto colour = static_cast<uint8_t>((s >> 24) % (1u << c.bits));
      for (size_t k = 0; k < run && i < px.size(); ++k) px[i++] = colour;
    }
    const std::vector<uint8_t> out = Encode(1, c.bits, px, c.w, c.h, c.interlaced);
    const uint32_t crc = static_cast<uint32_t>(crc32(0, out.data(), static_cast<uInt>(out.size())));
    EXPECT_EQ(crc, c.crc);
    // And the picture comes back.
    EXPECT_EQ(Decode(out, c.w, c.h, c.interlaced).Pixels, px);
  }
}

TEST(GifWriter, CutsSubBlocksOf255AndRefusesOtherUse) {
  TMemoryStream m;
  {
    TGIFWriter w(m, nullptr);
    std::vector<uint8_t> data(600);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    w.Write(data.data(), data.size());
    uint8_t b;
    EXPECT_THROW(w.Read(&b, 1), Exception);
    EXPECT_THROW(w.Seek(0, TSeekOrigin::soBeginning), Exception);
  }
  ASSERT_EQ(m.Bytes().size(), 603u);
  EXPECT_EQ(m.Bytes()[0], 255);
  EXPECT_EQ(m.Bytes()[256], 255);
  EXPECT_EQ(m.Bytes()[512], 90);
  EXPECT_EQ(m.Bytes()[513], static_cast<uint8_t>(510));
}
