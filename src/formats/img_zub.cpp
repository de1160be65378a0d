#include "img_zub.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "bzip2.h"
#include "img_fileio.h"
#include "utilities.h"

namespace {

const char kUnit[] = "img_zub";

int16_t Le16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8)); }

void PutLe16(uint8_t* p, int32_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// The file's pixel bytes are the memory image of a little-endian machine.
void SwapPixelsIfBigEndian(TColor32* Px, size_t Count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < Count; ++i) Px[i] = __builtin_bswap32(Px[i]);
  } else {
    static_cast<void>(Px);
    static_cast<void>(Count);
  }
}

std::string TooLargeText(const std::string& FileName) {
  return "image too large for the ZUB Image format on " + FileName;
}

}  // namespace

bool ReadZubStream(TStream& Stream, TBitmap32& Bitmap) {
  Bitmap.SetSize(0, 0);
  // A short file is no error here: the missing header bytes read as zero and
  // fail the size test below.
  uint8_t header[8] = {};
  ReadUpTo(Stream, header, sizeof header);
  const int32_t w = Le16(header + 4), h = Le16(header + 6);
  if (std::memcmp(header, "ZU3", 3) != 0 || w < 1 || h < 1) return false;

  CheckImageFitsMemory(w, h);
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  const size_t pixelBytes = count * sizeof(TColor32);
  // The short-file rule every reader keeps: missing data fills with black
  // only up to kShortFileMaxPixels.
  const bool mayBeShort = count <= static_cast<size_t>(kShortFileMaxPixels);
  // Opaque black where no pixel data arrives.
  auto blackPicture = [&] {
    Bitmap.SetSize(w, h);
    Bitmap.Clear();
  };

  // N says how long the stream is; only what the file really holds is read,
  // so a forged length cannot make us reserve memory for nothing.
  uint8_t len[4] = {};
  size_t n = 0;
  if (ReadUpTo(Stream, len, sizeof len) == sizeof len) {
    const uint32_t claimed = static_cast<uint32_t>(len[0]) | static_cast<uint32_t>(len[1]) << 8 |
                             static_cast<uint32_t>(len[2]) << 16 | static_cast<uint32_t>(len[3]) << 24;
    const int64_t remaining = Stream.Remaining();
    n = remaining > 0 ? static_cast<size_t>(std::min<int64_t>(claimed, remaining)) : 0;
  }
  std::vector<uint8_t> packed(n);
  n = ReadUpTo(Stream, packed.data(), n);

  // The pixels are decompressed before the picture is made, into memory that
  // grows as they arrive and stops at the picture's size: a header that
  // promises gigapixels over a few bytes of stream costs a few bytes.
  TBZ2Block pixels;
  size_t got = 0;
  try {
    DecompressAsArrivingBZ2(packed.data(), n, pixelBytes, pixels, got);
  } catch (...) {
    // A broken stream leaves no half-decoded garbage: the picture is black.
    if (mayBeShort) blackPicture();
    throw;
  }
  // A large picture with missing data is damaged, not a picture to show
  // mostly black.
  if (got < pixelBytes && !mayBeShort) throw EReadError("Stream read error");
  blackPicture();
  std::memcpy(Bitmap.Bits(), pixels.get(), got - got % sizeof(TColor32));
  SwapPixelsIfBigEndian(Bitmap.Bits(), got / sizeof(TColor32));
  Bitmap.Changed();
  return true;
}

std::string LoadZubImageChecked(TStream& Stream, const std::string& FileName, TBitmap32& Bitmap) {
  std::string failure;
  uint32_t icon = MB_ICONHAND;
  try {
    if (!ReadZubStream(Stream, Bitmap)) {
      failure = "unrecognized ZUB Image file format on " + FileName;
      icon = MB_ICONEXCLAMATION;
    }
  } catch (const std::exception& e) {
    failure = "error reading " + FileName + " : " + e.what();
  }
  if (!failure.empty()) ShowUnitMessageBox(failure, kUnit, MB_OK | icon);
  return failure;
}

std::string LoadZubImageChecked(const std::string& FileName, TBitmap32& Bitmap) {
  Bitmap.SetSize(0, 0);
  const std::unique_ptr<TFileStream> file = OpenFileReporting(FileName, kUnit);
  if (!file) return "error opening " + FileName;
  return LoadZubImageChecked(*file, FileName, Bitmap);
}

void LoadZubImageFromStream(TStream& Stream, const std::string& FileName, TBitmap32* Bitmap) {
  if (Bitmap) LoadZubImageChecked(Stream, FileName, *Bitmap);
}

void LoadZubImage(const std::string& FileName, TBitmap32* Bitmap) {
  if (Bitmap) LoadZubImageChecked(FileName, *Bitmap);
}

void WriteZubStream(TStream& Stream, const TBitmap32& Bitmap) {
  const int32_t w = Bitmap.Width(), h = Bitmap.Height();
  if (w > kZubMaxSide || h > kZubMaxSide)
    throw EInvalidGraphic("a ZUB image holds at most " + std::to_string(kZubMaxSide) + " pixels in each direction");
  uint8_t header[12] = {'Z', 'U', '3', 0};
  PutLe16(header + 4, w);
  PutLe16(header + 6, h);

  const size_t count = Bitmap.Empty() ? 0 : Bitmap.PixelCount();
  TBZ2Block packed;
  size_t packedSize = 0;
  if constexpr (std::endian::native == std::endian::big) {
    std::vector<TColor32> le(Bitmap.Bits(), Bitmap.Bits() + count);
    for (TColor32& c : le) c = __builtin_bswap32(c);
    CompressBufferBZ2(le.data(), count * sizeof(TColor32), packed, packedSize);
  } else {
    CompressBufferBZ2(Bitmap.Bits(), count * sizeof(TColor32), packed, packedSize);
  }
  // A 32-bit length field: bzip2's output for the largest picture stays far below it.
  if (packedSize > UINT32_MAX) throw EInvalidGraphic("compressed ZUB image too large");
  const uint32_t n = static_cast<uint32_t>(packedSize);
  header[8] = static_cast<uint8_t>(n);
  header[9] = static_cast<uint8_t>(n >> 8);
  header[10] = static_cast<uint8_t>(n >> 16);
  header[11] = static_cast<uint8_t>(n >> 24);
  Stream.WriteBuffer(header, sizeof header);
  Stream.WriteBuffer(packed.get(), packedSize);
}

bool SaveZubImage(const std::string& FileName, const TBitmap32* Bitmap) {
  if (!Bitmap) return false;
  // The 16-bit fields would wrap, and the file would read back as something else.
  if (Bitmap->Width() > kZubMaxSide || Bitmap->Height() > kZubMaxSide) {
    ShowUnitMessageBox(TooLargeText(FileName), kUnit, MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  return SaveFileReporting(FileName, kUnit, [&](TStream& s) { WriteZubStream(s, *Bitmap); });
}
