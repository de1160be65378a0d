// Sun raster files for the module: depths 1, 8 (grey, or a colour map),
// 24 and 32, in the standard, byte-encoded (run-length) and RGB types. Rows
// are padded to a multiple of 16 bits. Written as 24-bit standard files (BGR)
// or 8-bit grey without a colour map.
#include <algorithm>

#include "j2k_codec.h"

namespace j2k {

namespace {

constexpr uint32_t kMagic = 0x59A66A95u;
enum { kOld = 0, kStandard = 1, kByteEncoded = 2, kRgbFormat = 3 };

uint32_t Be32(const uint8_t* P) {
  return uint32_t{P[0]} << 24 | uint32_t{P[1]} << 16 | uint32_t{P[2]} << 8 | P[3];
}

void PutBe32(std::vector<uint8_t>& Out, uint32_t V) {
  for (int s = 24; s >= 0; s -= 8) Out.push_back(static_cast<uint8_t>(V >> s));
}

// Undoes the byte encoding: 0x80 0 is one 0x80, 0x80 n v is n + 1 copies of
// v, anything else stands for itself. Stops once Need bytes are made.
std::vector<uint8_t> Unpack(const uint8_t* Data, size_t Size, size_t Need) {
  std::vector<uint8_t> Out;
  Out.reserve(Need);
  size_t i = 0;
  while (i < Size && Out.size() < Need) {
    const uint8_t B = Data[i++];
    if (B != 0x80) {
      Out.push_back(B);
    } else if (i < Size && Data[i] == 0) {
      Out.push_back(0x80);
      ++i;
    } else if (i + 1 < Size) {
      const size_t Count = std::min<size_t>(size_t{Data[i]} + 1, Need - Out.size());
      Out.insert(Out.end(), Count, Data[i + 1]);
      i += 2;
    } else {
      break;
    }
  }
  return Out;
}

}  // namespace

bool DecodeSunRaster(const uint8_t* Data, size_t Size, uint64_t MaxPixels, TPicture& Out) {
  if (Size < 32 || Be32(Data) != kMagic) return false;
  const uint32_t W = Be32(Data + 4), H = Be32(Data + 8), Depth = Be32(Data + 12), Type = Be32(Data + 20),
                 MapType = Be32(Data + 24), MapLength = Be32(Data + 28);
  if (W == 0 || H == 0 || W > kMaxSide || H > kMaxSide || uint64_t{W} * H > MaxPixels) return false;
  if (Depth != 1 && Depth != 8 && Depth != 24 && Depth != 32) return false;
  if (Type > kRgbFormat || MapType > 1 || MapLength > Size - 32) return false;
  const uint8_t* Map = Data + 32;
  const uint32_t MapEntries = MapType == 1 ? MapLength / 3 : 0;
  const size_t RowBytes = ((size_t{W} * Depth + 15) / 16) * 2;
  const size_t Need = RowBytes * H;
  const uint8_t* Body = Data + 32 + MapLength;
  const size_t BodySize = Size - 32 - MapLength;
  std::vector<uint8_t> Unpacked;
  if (Type == kByteEncoded) {
    Unpacked = Unpack(Body, BodySize, Need);
    Body = Unpacked.data();
  } else if (BodySize < Need) {
    return false;
  }
  if (Type == kByteEncoded && Unpacked.size() < Need) return false;
  const bool Colour = Depth >= 24 || MapEntries > 0;
  Out.Width = W;
  Out.Height = H;
  Out.Channels = Colour ? 3 : 1;
  Out.Pixels.assign(static_cast<size_t>(uint64_t{W} * H * Out.Channels), 0);
  uint8_t* D = Out.Pixels.data();
  for (uint32_t y = 0; y < H; ++y) {
    const uint8_t* Row = Body + RowBytes * y;
    for (uint32_t x = 0; x < W; ++x) {
      if (Depth == 1) {
        // A set bit is black, as the format's monochrome frames showed it.
        const uint8_t V = (Row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
        *D++ = V;
      } else if (Depth == 8) {
        const uint8_t I = Row[x];
        if (MapEntries == 0) {
          *D++ = I;
        } else {
          const uint32_t K = std::min<uint32_t>(I, MapEntries - 1);
          *D++ = Map[2 * MapEntries + K];  // blue
          *D++ = Map[MapEntries + K];      // green
          *D++ = Map[K];                   // red
        }
      } else {
        // 32-bit pixels carry a pad byte first; the RGB type stores red first.
        const uint8_t* P = Row + size_t{x} * (Depth / 8) + (Depth == 32 ? 1 : 0);
        if (Type == kRgbFormat) {
          *D++ = P[2];
          *D++ = P[1];
          *D++ = P[0];
        } else {
          *D++ = P[0];
          *D++ = P[1];
          *D++ = P[2];
        }
      }
    }
  }
  return true;
}

bool EncodeSunRaster(const TPicture& Picture, std::vector<uint8_t>& Out) {
  if (Picture.Channels != 1 && Picture.Channels != 3) return false;
  const uint32_t Depth = Picture.Channels * 8;
  const size_t RowBytes = ((size_t{Picture.Width} * Depth + 15) / 16) * 2;
  Out.clear();
  PutBe32(Out, kMagic);
  PutBe32(Out, Picture.Width);
  PutBe32(Out, Picture.Height);
  PutBe32(Out, Depth);
  PutBe32(Out, static_cast<uint32_t>(RowBytes * Picture.Height));
  PutBe32(Out, kStandard);
  PutBe32(Out, 0);
  PutBe32(Out, 0);
  const size_t RowPixels = size_t{Picture.Width} * Picture.Channels;
  for (uint32_t y = 0; y < Picture.Height; ++y) {
    const uint8_t* Row = Picture.Pixels.data() + RowPixels * y;
    Out.insert(Out.end(), Row, Row + RowPixels);
    Out.insert(Out.end(), RowBytes - RowPixels, 0);
  }
  return true;
}

}  // namespace j2k
