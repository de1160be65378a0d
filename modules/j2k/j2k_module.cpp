// The JPEG 2000 library module: the three exports over the shared container
// record. Files are read whole into memory and decoded by their first bytes.
// A picture is encoded whole in memory and written to the path it is given,
// in one go: that path is the bridge's own scratch file, and the bridge puts
// the result in place through the program's atomic save.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "j2k_codec.h"


namespace {

enum { kOk = 0, kBadArgument = 1, kCannotRead = 2, kCannotDecode = 3, kCannotEncode = 4, kCannotWrite = 5 };

bool ReadWhole(const char* FileName, std::vector<uint8_t>& Bytes) {
  FILE* F = std::fopen(FileName, "rb");
  if (!F) return false;
  uint8_t Buf[65536];
  size_t N;
  while ((N = std::fread(Buf, 1, sizeof Buf, F)) > 0) Bytes.insert(Bytes.end(), Buf, Buf + N);
  const bool Ok = !std::ferror(F);
  std::fclose(F);
  return Ok;
}

bool WriteAll(int Fd, const std::vector<uint8_t>& Bytes) {
  size_t Done = 0;
  while (Done < Bytes.size()) {
    const ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    Done += static_cast<size_t>(N);
  }
  return true;
}

// Writes Bytes as the whole of FileName.
bool WriteWhole(const char* FileName, const std::vector<uint8_t>& Bytes) {
  const int Fd = ::open(FileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (Fd < 0) return false;
  const bool Ok = WriteAll(Fd, Bytes);
  return ::close(Fd) == 0 && Ok;
}

// The container's pixels as an 8-bit picture of 1, 3 or 4 channels.
bool FromContainer(const TImageContainer& C, j2k::TPicture& P) {
  if (C.Width <= 0 || C.Height <= 0 || C.Data == nullptr) return false;
  const uint64_t Count = uint64_t(C.Width) * uint64_t(C.Height);
  if (Count > j2k::kMaxPixels) return false;
  P.Width = static_cast<uint32_t>(C.Width);
  P.Height = static_cast<uint32_t>(C.Height);
  switch (C.PixelType) {
    case kJ2KGrey:
    case kJ2KGreyMode:
      P.Channels = 1;
      break;
    case kJ2KBgr:
      P.Channels = 3;
      break;
    case kJ2KBgra:
      P.Channels = 4;
      break;
    default:
      return false;
  }
  const size_t Row = size_t{P.Width} * P.Channels;
  const size_t Stride = C.BytesPerRow > 0 ? static_cast<size_t>(C.BytesPerRow) : Row;
  if (Stride < Row) return false;
  P.Pixels.resize(Row * P.Height);
  for (uint32_t y = 0; y < P.Height; ++y) std::memcpy(P.Pixels.data() + Row * y, C.Data + Stride * y, Row);
  return true;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int LibLoadImage(const char* FileName, char* Format, TImageContainer* Image) {
  if (FileName == nullptr || Image == nullptr) return kBadArgument;
  std::vector<uint8_t> Bytes;
  if (!ReadWhole(FileName, Bytes)) return kCannotRead;
  j2k::TPicture P;
  std::string Name;
  if (!j2k::DecodeAny(Bytes.data(), Bytes.size(), j2k::kMaxPixels, P, Name)) return kCannotDecode;
  auto* Data = static_cast<uint8_t*>(std::malloc(P.Pixels.size()));
  if (Data == nullptr) return kCannotDecode;
  std::memcpy(Data, P.Pixels.data(), P.Pixels.size());
  Image->Width = static_cast<int32_t>(P.Width);
  Image->Height = static_cast<int32_t>(P.Height);
  Image->BytesPerRow = static_cast<int32_t>(P.Width * P.Channels);
  Image->PixelType = P.Channels == 1 ? kJ2KGrey : P.Channels == 3 ? kJ2KBgr : kJ2KBgra;
  Image->Data = Data;
  if (Format != nullptr) std::snprintf(Format, J2K_FORMAT_BUFFER_SIZE, "%s", Name.c_str());
  return kOk;
}

__attribute__((visibility("default"))) int LibSaveImage(const char* FileName, const char* Format,
                                                        TImageContainer* Image) {
  if (FileName == nullptr || Format == nullptr || Image == nullptr) return kBadArgument;
  j2k::TPicture P;
  double Rate = 0;
  if (!FromContainer(*Image, P) || !j2k::ParseRate(Image->Options, Rate)) return kBadArgument;
  const std::string F(Format);
  std::vector<uint8_t> Bytes;
  bool Encoded;
  if (F == "JP2" || F == "J2K" || F == "JPC")
    Encoded = j2k::EncodeOpenJpeg(P, F == "JP2", Rate, Bytes);
  else if (F == "PNM")
    Encoded = j2k::EncodeNetpbm(P, Bytes);
  else if (F == "RAS")
    Encoded = j2k::EncodeSunRaster(P, Bytes);
  else
    return kBadArgument;
  if (!Encoded) return kCannotEncode;
  return WriteWhole(FileName, Bytes) ? kOk : kCannotWrite;
}

__attribute__((visibility("default"))) int LibFreeImage(TImageContainer* Image) {
  if (Image == nullptr) return kBadArgument;
  std::free(Image->Data);
  Image->Data = nullptr;
  return kOk;
}

}  // extern "C"
