#include "img_wbmp.h"

#include <algorithm>
#include <cstring>

#include "img_fileio.h"
#include "platform_graphics.h"
#include "platform_stream.h"

namespace {

// The single-byte form's largest file: 4 + 32 x 255 = 8164 bytes; bytes past
// the end of a shorter file count as 0.
constexpr size_t kSingleByteBlock = 9216;
// Five 7-bit groups hold any side a bitmap can have.
constexpr int kMaxGroups = 5;

// Reads a multi-byte integer at Pos; false when Head ends inside it or it
// runs longer than kMaxGroups bytes.
bool ReadMultiByte(const uint8_t* Head, size_t Size, size_t& Pos, int64_t& Value) {
  Value = 0;
  for (int n = 0; n < kMaxGroups && Pos < Size; ++n) {
    const uint8_t b = Head[Pos++];
    Value = (Value << 7) | (b & 0x7F);
    if (!(b & 0x80)) return true;
  }
  return false;
}

uint64_t RowBytes(int64_t Width) { return (static_cast<uint64_t>(Width) + 7) / 8; }

void PutMultiByte(std::vector<uint8_t>& Out, uint32_t Value) {
  uint8_t groups[kMaxGroups];
  int n = 0;
  do {
    groups[n++] = static_cast<uint8_t>(Value & 0x7F);
    Value >>= 7;
  } while (Value);
  while (n > 1) Out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
  Out.push_back(groups[0]);
}

// Fills Bitmap from the rows at Rows (Available bytes; missing bytes are 0).
void DecodeRows(const uint8_t* Rows, size_t Available, const TWbmpLayout& L, TBitmap32* Bitmap) {
  // A picture without pixels is 0 x 0, whatever its other side says.
  const bool none = L.Width <= 0 || L.Height <= 0;
  CheckImageFitsMemory(L.Width, L.Height);
  Bitmap->SetSize(none ? 0 : static_cast<int32_t>(L.Width), none ? 0 : static_cast<int32_t>(L.Height));
  const size_t stride = static_cast<size_t>(RowBytes(Bitmap->Width()));
  for (int32_t y = 0; y < Bitmap->Height(); ++y) {
    TColor32* row = Bitmap->RowPtr(y);
    const size_t at = stride * static_cast<size_t>(y);
    for (int32_t x = 0; x < Bitmap->Width(); ++x) {
      const size_t i = at + static_cast<size_t>(x >> 3);
      const uint8_t byte = i < Available ? Rows[i] : 0;
      row[x] = (byte & (0x80 >> (x & 7))) ? 0xFFFFFFFFu : 0xFF000000u;
    }
  }
  Bitmap->Changed();
}

}  // namespace

TWbmpLayout WbmpLayout(const uint8_t* Head, size_t HeadSize, uint64_t FileSize) {
  TWbmpLayout l;
  size_t pos = 2;
  int64_t w = 0, h = 0;
  if (ReadMultiByte(Head, HeadSize, pos, w) && ReadMultiByte(Head, HeadSize, pos, h) &&
      w <= TPlatformBitmap::kMaxDimension && h <= TPlatformBitmap::kMaxDimension &&
      pos + RowBytes(w) * static_cast<uint64_t>(h) == FileSize) {
    l.Width = w, l.Height = h, l.DataStart = pos, l.MultiByte = true;
    return l;
  }
  l.Width = HeadSize > 2 ? Head[2] : 0;
  l.Height = HeadSize > 3 ? Head[3] : 0;
  return l;
}

void LoadWBMPFromBytes(const uint8_t* Data, size_t Size, TBitmap32* Bitmap) {
  if (!Bitmap) return;
  if (!Data) Size = 0;
  const TWbmpLayout l = WbmpLayout(Data, std::min(Size, kWbmpHeadBytes), Size);
  const size_t start = std::min(l.DataStart, Size);
  DecodeRows(Data + start, Size - start, l, Bitmap);
}

void LoadWBMP(const std::string& FileName, TBitmap32* Bitmap) {
  if (!Bitmap) return;
  TFileStream file(FileName, TFileMode::fmOpenRead);
  uint8_t head[kWbmpHeadBytes] = {};
  const size_t got = ReadUpTo(file, head, sizeof head);
  const int64_t size = file.Size();
  const TWbmpLayout l = WbmpLayout(head, got, static_cast<uint64_t>(std::max<int64_t>(size, 0)));
  // The multi-byte form's rows are exactly the rest of the file; the single-
  // byte form never needs more than its largest picture.
  const size_t want =
      l.MultiByte ? static_cast<size_t>(size) - l.DataStart : kSingleByteBlock - l.DataStart;
  std::vector<uint8_t> rows(want);
  file.SetPosition(static_cast<int64_t>(l.DataStart));
  const size_t read = ReadUpTo(file, rows.data(), rows.size());
  DecodeRows(rows.data(), read, l, Bitmap);
}

std::vector<uint8_t> EncodeWBMP(const TBitmap32& Bitmap) {
  const int32_t w = std::max(Bitmap.Width(), 0), h = std::max(Bitmap.Height(), 0);
  std::vector<uint8_t> out = {0, 0};
  // Below 128 both forms are one byte; from 128 on, single bytes would be
  // misread by other programs.
  PutMultiByte(out, static_cast<uint32_t>(w));
  PutMultiByte(out, static_cast<uint32_t>(h));
  const size_t start = out.size();
  const size_t stride = static_cast<size_t>(RowBytes(w));
  out.resize(start + stride * static_cast<size_t>(h), 0);
  if (Bitmap.Empty()) return out;
  for (int32_t y = 0; y < h; ++y) {
    const TColor32* row = Bitmap.RowPtr(y);
    uint8_t* dst = out.data() + start + stride * static_cast<size_t>(y);
    for (int32_t x = 0; x < w; ++x)
      if (IntensityOf(row[x]) >= 127) dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return out;
}

bool SaveWBMP(const std::string& FileName, const TBitmap32* Bitmap) {
  if (!Bitmap) return false;
  const std::vector<uint8_t> bytes = EncodeWBMP(*Bitmap);
  SaveFileAtomically(FileName, [&](TStream& s) { s.WriteBuffer(bytes.data(), bytes.size()); });
  return true;
}
