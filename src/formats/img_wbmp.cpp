#include "img_wbmp.h"

#include <algorithm>
#include <cstring>

#include "img_fileio.h"
#include "platform_stream.h"
#include "utilities.h"

namespace {

// Enough for the largest picture: 4 + 32 x 255 = 8164 bytes.
constexpr size_t kReadBlock = 9216;

}  // namespace

void LoadWBMPFromBytes(const uint8_t* Data, size_t Size, TBitmap32* Bitmap) {
  if (!Bitmap) return;
  uint8_t file[kReadBlock] = {};
  if (Data) std::memcpy(file, Data, std::min(Size, kReadBlock));
  const int32_t w = file[2], h = file[3];
  Bitmap->SetSize(w, h);
  const uint8_t* p = file + 4;
  for (int32_t y = 0; y < Bitmap->Height(); ++y) {
    TColor32* row = Bitmap->RowPtr(y);
    for (int32_t x = 0; x < w; ++x) row[x] = (p[x >> 3] & (0x80 >> (x & 7))) ? 0xFFFFFFFFu : 0xFF000000u;
    p += (w + 7) / 8;
  }
  Bitmap->Changed();
}

void LoadWBMP(const std::string& FileName, TBitmap32* Bitmap) {
  if (!Bitmap) return;
  TFileStream file(FileName, TFileMode::fmOpenRead);
  std::vector<uint8_t> bytes(kReadBlock);
  const size_t got = ReadUpTo(file, bytes.data(), bytes.size());
  LoadWBMPFromBytes(bytes.data(), got, Bitmap);
}

std::vector<uint8_t> EncodeWBMP(const TBitmap32& Bitmap) {
  const int32_t w = std::clamp(Bitmap.Width(), 0, kWbmpMaxSide), h = std::clamp(Bitmap.Height(), 0, kWbmpMaxSide);
  const size_t stride = static_cast<size_t>(w + 7) / 8;
  std::vector<uint8_t> out(4 + stride * static_cast<size_t>(h), 0);
  out[2] = static_cast<uint8_t>(w);
  out[3] = static_cast<uint8_t>(h);
  if (Bitmap.Empty()) return out;
  for (int32_t y = 0; y < h; ++y) {
    const TColor32* row = Bitmap.RowPtr(y);
    uint8_t* dst = out.data() + 4 + stride * static_cast<size_t>(y);
    for (int32_t x = 0; x < w; ++x)
      if (IntensityOf(row[x]) >= 127) dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return out;
}

bool SaveWBMP(const std::string& FileName, const TBitmap32* Bitmap) {
  if (!Bitmap) return false;
  if (Bitmap->Width() > kWbmpMaxSide || Bitmap->Height() > kWbmpMaxSide) {
    ShowUnitMessageBox("image too large for the WBMP format on " + FileName, "img_wbmp", MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  const std::vector<uint8_t> bytes = EncodeWBMP(*Bitmap);
  SaveFileAtomically(FileName, [&](TStream& s) { s.WriteBuffer(bytes.data(), bytes.size()); });
  return true;
}
