// The codecs behind the JPEG 2000 library module, on bytes in memory: JP2
// files and J2K/JPC code streams through OpenJPEG, PNM and Sun raster files
// of our own. Decoders fill a TImageContainer with an 8-bit image the module
// owns (grey, BGR or BGRA); encoders take the container the bridge fills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "j2k_container.h"

namespace j2k {

// Largest picture a decoder accepts, in pixels and per side.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;
constexpr uint32_t kMaxSide = uint32_t{1} << 20;

// An 8-bit picture being built: Channels is 1 (grey), 3 (BGR) or 4 (BGRA).
struct TPicture {
  uint32_t Width = 0, Height = 0, Channels = 0;
  std::vector<uint8_t> Pixels;
};

// Each decoder answers false for bytes it cannot turn into a picture of at
// most MaxPixels pixels; it never reads outside Data.
bool DecodeOpenJpeg(const uint8_t* Data, size_t Size, uint64_t MaxPixels, TPicture& Out);
bool DecodeNetpbm(const uint8_t* Data, size_t Size, uint64_t MaxPixels, TPicture& Out);
bool DecodeSunRaster(const uint8_t* Data, size_t Size, uint64_t MaxPixels, TPicture& Out);

// Picks the decoder by the file's first bytes and names the format found
// ("JP2", "J2K", "PNM", "RAS"); false for anything else.
bool DecodeAny(const uint8_t* Data, size_t Size, uint64_t MaxPixels, TPicture& Out, std::string& Format);

// The compression rate of an option string: "rate=" followed by a decimal
// number with "." as the separator whatever the locale says; 0 (lossless)
// when there is no rate. False for a rate that is not a number.
bool ParseRate(const char* Options, double& Rate);

// Encoders: Picture holds 1 or 3 channels (4 keeps alpha in JPEG 2000).
// Rate in (0, 1) asks OpenJPEG for that fraction of the raw size; any other
// rate is lossless.
bool EncodeOpenJpeg(const TPicture& Picture, bool Jp2File, double Rate, std::vector<uint8_t>& Out);
bool EncodeNetpbm(const TPicture& Picture, std::vector<uint8_t>& Out);
bool EncodeSunRaster(const TPicture& Picture, std::vector<uint8_t>& Out);

}  // namespace j2k
