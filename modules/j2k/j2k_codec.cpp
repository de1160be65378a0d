// The module's choice of decoder by the file's first bytes, and its option
// string.
#include <charconv>
#include <cstring>

#include "j2k_codec.h"

namespace j2k {

bool DecodeAny(const uint8_t* Data, size_t Size, uint64_t MaxPixels, TPicture& Out, std::string& Format) {
  static const uint8_t kJp2[] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' '};
  if (Size >= 8 && std::memcmp(Data, kJp2, 8) == 0) {
    Format = "JP2";
    return DecodeOpenJpeg(Data, Size, MaxPixels, Out);
  }
  if (Size >= 4 && Data[0] == 0xFF && Data[1] == 0x4F && Data[2] == 0xFF && Data[3] == 0x51) {
    Format = "J2K";
    return DecodeOpenJpeg(Data, Size, MaxPixels, Out);
  }
  if (Size >= 2 && Data[0] == 'P') {
    Format = "PNM";
    return DecodeNetpbm(Data, Size, MaxPixels, Out);
  }
  if (Size >= 4 && Data[0] == 0x59 && Data[1] == 0xA6 && Data[2] == 0x6A && Data[3] == 0x95) {
    Format = "RAS";
    return DecodeSunRaster(Data, Size, MaxPixels, Out);
  }
  return false;
}

bool ParseRate(const char* Options, double& Rate) {
  Rate = 0;
  if (Options == nullptr) return true;
  const char* P = std::strstr(Options, "rate=");
  if (P == nullptr) return true;
  P += 5;
  const char* End = P + std::strcspn(P, " ,;");
  // from_chars never looks at the locale: "0.25" is a quarter everywhere.
  const auto R = std::from_chars(P, End, Rate);
  return R.ec == std::errc() && R.ptr == End && Rate >= 0;
}

}  // namespace j2k
