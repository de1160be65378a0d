// PNM files for the module: P5 and P6 with any maximum value up to 65535
// (two big-endian bytes per sample above 255), scaled to 8 bits; written as
// P5 or P6 with maximum 255.
#include <cstring>

#include "j2k_codec.h"

namespace j2k {

namespace {

// Netpbm's header grammar: white space separates the fields and "#" starts
// a comment that runs to the end of the line.
bool ReadNumber(const uint8_t* Data, size_t Size, size_t& Pos, uint32_t& Value) {
  for (;;) {
    while (Pos < Size && std::strchr(" \t\r\n\v\f", Data[Pos]) && Data[Pos] != 0) ++Pos;
    if (Pos < Size && Data[Pos] == '#') {
      while (Pos < Size && Data[Pos] != '\n' && Data[Pos] != '\r') ++Pos;
      continue;
    }
    break;
  }
  if (Pos >= Size || Data[Pos] < '0' || Data[Pos] > '9') return false;
  uint64_t V = 0;
  while (Pos < Size && Data[Pos] >= '0' && Data[Pos] <= '9') {
    V = V * 10 + (Data[Pos++] - '0');
    if (V > 0xFFFFFFFFu) return false;
  }
  Value = static_cast<uint32_t>(V);
  return true;
}

}  // namespace

bool DecodeNetpbm(const uint8_t* Data, size_t Size, uint64_t MaxPixels, TPicture& Out) {
  if (Size < 2 || Data[0] != 'P' || (Data[1] != '5' && Data[1] != '6')) return false;
  const uint32_t Channels = Data[1] == '6' ? 3 : 1;
  size_t Pos = 2;
  uint32_t W, H, MaxVal;
  if (!ReadNumber(Data, Size, Pos, W) || !ReadNumber(Data, Size, Pos, H) || !ReadNumber(Data, Size, Pos, MaxVal))
    return false;
  // Exactly one white-space byte ends the header.
  if (Pos >= Size || MaxVal == 0 || MaxVal > 65535 || W == 0 || H == 0 || W > kMaxSide || H > kMaxSide ||
      uint64_t{W} * H > MaxPixels)
    return false;
  ++Pos;
  const size_t BytesPerSample = MaxVal > 255 ? 2 : 1;
  const uint64_t Need = uint64_t{W} * H * Channels * BytesPerSample;
  if (Size - Pos < Need) return false;
  Out.Width = W;
  Out.Height = H;
  Out.Channels = Channels;
  Out.Pixels.assign(static_cast<size_t>(uint64_t{W} * H * Channels), 0);
  const uint8_t* S = Data + Pos;
  for (size_t i = 0, n = Out.Pixels.size(); i < n; i += Channels) {
    for (uint32_t c = 0; c < Channels; ++c) {
      uint32_t V = *S++;
      if (BytesPerSample == 2) V = V << 8 | *S++;
      V = std::min(V, MaxVal);
      const uint8_t B = static_cast<uint8_t>(MaxVal == 255 ? V : (V * 255u + MaxVal / 2) / MaxVal);
      // The container keeps colour as blue, green, red.
      Out.Pixels[i + (Channels == 3 ? 2 - c : 0)] = B;
    }
  }
  return true;
}

bool EncodeNetpbm(const TPicture& Picture, std::vector<uint8_t>& Out) {
  if (Picture.Channels != 1 && Picture.Channels != 3) return false;
  const std::string Header = std::string(Picture.Channels == 3 ? "P6\n" : "P5\n") + std::to_string(Picture.Width) +
                             " " + std::to_string(Picture.Height) + "\n255\n";
  Out.assign(Header.begin(), Header.end());
  const size_t Start = Out.size();
  Out.resize(Start + Picture.Pixels.size());
  uint8_t* D = Out.data() + Start;
  for (size_t i = 0; i < Picture.Pixels.size(); i += Picture.Channels, D += Picture.Channels)
    if (Picture.Channels == 3) {
      D[0] = Picture.Pixels[i + 2];
      D[1] = Picture.Pixels[i + 1];
      D[2] = Picture.Pixels[i];
    } else {
      D[0] = Picture.Pixels[i];
    }
  return true;
}

}  // namespace j2k
