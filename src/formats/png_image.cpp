#include "png_image.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "img_fileio.h"
#include "png_unfilter.h"
#include "raster_core.h"

// ---- Texts and CRC ------------------------------------------------------------

std::string PngText(int32_t Id) {
  switch (Id) {
    case 65216:
      return "The file being readed is not a valid \"Portable Network Graphics\" image because it contains an "
             "invalid header. This file may be corruped, try obtaining it again.";
    case 65217:
      return "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR chunk is "
             "not the first)";
    case 65218:
      return "This \"Portable Network Graphics\" image is not supported because either it's width or height "
             "exceeds the maximum size, which is 65535 pixels length.";
    case 65219: return "There is no such palette entry.";
    case 65220:
      return "This \"Portable Network Graphics\" image contains an unknown critical part which could not be "
             "decoded.";
    case 65221:
      return "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which could "
             "not be decoded.";
    case 65222:
      return "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be "
             "decoded.";
    case 65223: return "The chunks must be compatible to be assigned.";
    case 65224:
      return "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected end of "
             "the file.";
    case 65225: return "This \"Portable Network Graphics\" image contains no data.";
    case 65226:
      return "The \"Portable Network Graphics\" image can not be resize by changing width and height properties. "
             "Try assigning the image from a bitmap.";
    case 65227:
      return "The program tried to add a existent critical chunk to the current image which is not allowed.";
    case 65228: return "It's not allowed to add a new chunk because the current image is invalid.";
    case 65229:
      return "Some operation could not be performed because the system is out of resources. Close some windows "
             "and try again.";
    case 65230: return "This operation is not valid because the current image contains no valid header.";
    case 65243:
      return "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data "
             "(crc error)";
    case 65244:
      return "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of data "
             "(ihdr) might be corrupted";
    case 65245: return "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
    case 65246:
      return "Could not decompress the image because it contains invalid compressed data.\r\n Description: ";
    case 65247: return "The \"Portable Network Graphics\" image contains an invalid palette.";
    default: return "";
  }
}

namespace {

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}
void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// The PNG format allows no chunk longer than 2^31 - 1 bytes.
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFFu;
// A zTXt text decompresses to at most this much; more is taken as a bomb.
constexpr size_t kMaxTextSize = size_t{16} << 20;

bool gRegistered = false;

// Store bits per pixel of a colour type and file bit depth.
int32_t StoreBits(uint8_t ColorType, uint8_t BitDepth) {
  switch (ColorType) {
    case 0: return BitDepth == 2 ? 4 : BitDepth == 16 ? 8 : BitDepth;
    case 3: return BitDepth == 2 ? 4 : BitDepth;
    case 4: return 8;
    default: return 24;
  }
}

bool ValidDepth(uint8_t ColorType, uint8_t BitDepth) {
  switch (ColorType) {
    case 0: return BitDepth == 1 || BitDepth == 2 || BitDepth == 4 || BitDepth == 8 || BitDepth == 16;
    case 3: return BitDepth == 1 || BitDepth == 2 || BitDepth == 4 || BitDepth == 8;
    case 2:
    case 4:
    case 6: return BitDepth == 8 || BitDepth == 16;
    default: return false;
  }
}

// Field X of a row of Bits-bit pixels (leftmost pixel in the high bits).
uint32_t GetField(const uint8_t* Row, int32_t X, int32_t Bits) {
  const int32_t perByte = 8 / Bits;
  const int32_t shift = 8 - Bits - (X % perByte) * Bits;
  return (Row[X / perByte] >> shift) & ((1u << Bits) - 1);
}

uint32_t Rgb(uint8_t R, uint8_t G, uint8_t B) {
  return static_cast<uint32_t>(R) << 16 | static_cast<uint32_t>(G) << 8 | B;
}
// 0x00RRGGBB to platform colour 0x00BBGGRR and back (the swap is its own inverse).
int32_t SwapRB(uint32_t C) {
  return static_cast<int32_t>((C & 0xFF) << 16 | (C & 0xFF00) | ((C >> 16) & 0xFF));
}

}  // namespace

uint32_t PngUpdateCrc(uint32_t Crc, const uint8_t* Data, size_t Size) {
  // libdeflate's CRC is the same polynomial, kept complemented between calls,
  // and folds many bytes a step with the carry-less multiply. It takes no
  // data as the start of a new CRC, so an empty piece is not passed on.
  if (Size == 0) return Crc;
  return ~libdeflate_crc32(~Crc, Data, Size);
}

// ---- TChunk ---------------------------------------------------------------------

TChunk::TChunk(TPNGObject* Owner) : owner_(Owner) {}

void TChunk::Assign(const TChunk& Source) {
  name_ = Source.name_;
  data_ = Source.data_;
}

bool TChunk::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  name_ = Name;
  // A length beyond what the stream holds is a truncated file, not a reason
  // to allocate the claimed size.
  if (Size > kMaxChunkLength || static_cast<int64_t>(Size) + 4 > Stream.Remaining())
    throw EPngUnexpectedEnd(PngText(65224));
  data_.resize(Size);
  if (Size > 0 && ReadUpTo(Stream, data_.data(), Size) != Size) throw EPngUnexpectedEnd(PngText(65224));
  uint8_t crcBytes[4];
  if (ReadUpTo(Stream, crcBytes, 4) != 4) throw EPngUnexpectedEnd(PngText(65224));
  uint32_t crc = PngUpdateCrc(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(Name.data()), 4);
  crc = PngUpdateCrc(crc, data_.data(), data_.size());
  if ((crc ^ 0xFFFFFFFFu) != Be32(crcBytes)) throw EPngInvalidCRC(PngText(65243));
  return true;
}

bool TChunk::WriteChunk(TStream& Stream, const std::string& Type, const std::vector<uint8_t>& Data) {
  uint8_t head[8];
  PutBe32(head, static_cast<uint32_t>(Data.size()));
  std::memcpy(head + 4, Type.data(), 4);
  uint32_t crc = PngUpdateCrc(0xFFFFFFFFu, head + 4, 4);
  crc = PngUpdateCrc(crc, Data.data(), Data.size());
  uint8_t tail[4];
  PutBe32(tail, crc ^ 0xFFFFFFFFu);
  Stream.WriteBuffer(head, 8);
  if (!Data.empty()) Stream.WriteBuffer(Data.data(), Data.size());
  Stream.WriteBuffer(tail, 4);
  return true;
}

bool TChunk::SaveToStream(TStream& Stream) { return WriteChunk(Stream, name_, data_); }

// ---- IHDR ----------------------------------------------------------------------------

void TChunkIHDR::Assign(const TChunk& Source) {
  const auto* s = dynamic_cast<const TChunkIHDR*>(&Source);
  if (s == nullptr) throw EPngError(PngText(65223));
  TChunk::Assign(Source);
  Width = s->Width;
  Height = s->Height;
  BitDepth = s->BitDepth;
  ColorType = s->ColorType;
  CompressionMethod = s->CompressionMethod;
  FilterMethod = s->FilterMethod;
  InterlaceMethod = s->InterlaceMethod;
  Store = s->Store;
}

bool TChunkIHDR::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  TChunk::LoadFromStream(Stream, Name, Size);
  if (data_.size() < 13) throw EPngInvalidIHDR(PngText(65244));
  Width = Be32(&data_[0]);
  Height = Be32(&data_[4]);
  BitDepth = data_[8];
  ColorType = data_[9];
  CompressionMethod = data_[10];
  FilterMethod = data_[11];
  InterlaceMethod = data_[12];
  if (Width >= 65536 || Height >= 65536) throw EPNGSizeExceeds(PngText(65218));
  // An empty image or a depth the colour type cannot have would leave the
  // decoder without a pixel layout to write into.
  if (Width == 0 || Height == 0 || !ValidDepth(ColorType, BitDepth)) throw EPngInvalidIHDR(PngText(65244));
  if (CompressionMethod != 0) throw EPNGUnknownCompression(PngText(65221));
  if (InterlaceMethod > 1) throw EPNGUnknownInterlace(PngText(65222));
  owner_->InterlaceMethod = static_cast<TInterlaceMethod>(InterlaceMethod);
  // A picture larger than any bitmap the program can make is refused before
  // its store is allocated.
  if (static_cast<int64_t>(Width) * Height > TPlatformBitmap::kMaxPixels) throw EPNGOutMemory(PngText(65229));
  CheckImageFitsMemory(Width, Height);
  // The pixels are allocated by the image data, once it shows it can fill them.
  PrepareImageData(false);
  return true;
}

bool TChunkIHDR::SaveToStream(TStream& Stream) {
  // The store holds 2-bit images with 4 bits per pixel and writes them so.
  if (BitDepth == 2) BitDepth = 4;
  InterlaceMethod = static_cast<uint8_t>(owner_->InterlaceMethod);
  data_.assign(13, 0);
  PutBe32(&data_[0], Width);
  PutBe32(&data_[4], Height);
  data_[8] = BitDepth;
  data_[9] = ColorType;
  data_[10] = CompressionMethod;
  data_[11] = FilterMethod;
  data_[12] = InterlaceMethod;
  return WriteChunk(Stream, "IHDR", data_);
}

void TChunkIHDR::PrepareImageData(bool Allocate) {
  // The palette stays: a PLTE read before the image data has filled it.
  Store.Bits.clear();
  Store.Alpha.clear();
  Store.KeyMask.clear();
  Store.BitsPerPixel = StoreBits(ColorType, BitDepth);
  const int64_t rowBytes = ((static_cast<int64_t>(Store.BitsPerPixel) * Width + 31) & ~int64_t{31}) / 8;
  Store.BytesPerRow = static_cast<int32_t>(rowBytes);
  if (Allocate) try {
      Store.Bits.assign(static_cast<size_t>(rowBytes) * Height, 0);
      if (HasAlpha()) Store.Alpha.assign(static_cast<size_t>(Width) * Height, 0);
    } catch (const std::bad_alloc&) {
      Store.Bits = {};
      Store.Alpha = {};
      throw EPNGOutMemory(PngText(65229));
    }
  BuildGreyPalette();
}

void TChunkIHDR::BuildGreyPalette() {
  if (ColorType != 0 && ColorType != 4) return;
  const int32_t n = 1 << Store.BitsPerPixel;
  for (int32_t i = 0; i < n; ++i) {
    const uint8_t g = owner_->GammaTable[(i * 255 + (n - 1) / 2) / (n - 1)];
    Store.Palette[i] = Rgb(g, g, g);
  }
}

uint8_t* TChunkIHDR::Scanline(int32_t Y) {
  return Store.Bits.data() + static_cast<size_t>(static_cast<int64_t>(Height) - 1 - Y) * Store.BytesPerRow;
}
const uint8_t* TChunkIHDR::Scanline(int32_t Y) const {
  return Store.Bits.data() + static_cast<size_t>(static_cast<int64_t>(Height) - 1 - Y) * Store.BytesPerRow;
}
uint8_t* TChunkIHDR::AlphaScanline(int32_t Y) {
  if (!HasAlpha() || Store.Alpha.empty()) return nullptr;
  return Store.Alpha.data() + static_cast<size_t>(Y) * Width;
}

// ---- PLTE ------------------------------------------------------------------------

void TChunkPLTE::Assign(const TChunk& Source) {
  const auto* s = dynamic_cast<const TChunkPLTE*>(&Source);
  if (s == nullptr) throw EPngError(PngText(65223));
  TChunk::Assign(Source);
  count_ = s->count_;
}

bool TChunkPLTE::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  TChunk::LoadFromStream(Stream, Name, Size);
  // An empty palette can name no pixel's colour.
  if (data_.empty() || data_.size() % 3 != 0 || data_.size() > 768) throw EPNGInvalidPalette(PngText(65247));
  count_ = static_cast<int32_t>(data_.size() / 3);
  TChunkIHDR* h = owner_->Header();
  const uint8_t* g = owner_->GammaTable;
  for (int32_t i = 0; i < count_; ++i)
    h->Store.Palette[i] = Rgb(g[data_[i * 3]], g[data_[i * 3 + 1]], g[data_[i * 3 + 2]]);
  return true;
}

bool TChunkPLTE::SaveToStream(TStream& Stream) {
  const TChunkIHDR* h = owner_->Header();
  const uint8_t* inv = owner_->InverseGamma;
  data_.resize(static_cast<size_t>(count_) * 3);
  for (int32_t i = 0; i < count_; ++i) {
    const uint32_t c = h->Store.Palette[i];
    data_[i * 3] = inv[(c >> 16) & 0xFF];
    data_[i * 3 + 1] = inv[(c >> 8) & 0xFF];
    data_[i * 3 + 2] = inv[c & 0xFF];
  }
  return WriteChunk(Stream, "PLTE", data_);
}

uint32_t TChunkPLTE::Item(int32_t Index) const {
  if (Index < 0 || Index >= count_) throw EPngError(PngText(65219));
  return owner_->Header()->Store.Palette[Index];
}

// ---- tRNS ------------------------------------------------------------------------

void TChunktRNS::Assign(const TChunk& Source) {
  const auto* s = dynamic_cast<const TChunktRNS*>(&Source);
  if (s == nullptr) throw EPngError(PngText(65223));
  TChunk::Assign(Source);
  std::memcpy(PaletteValues, s->PaletteValues, 256);
  BitTransparency = s->BitTransparency;
}

bool TChunktRNS::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  TChunk::LoadFromStream(Stream, Name, Size);
  if (data_.size() > 256) throw EPNGInvalidPalette(PngText(65247));
  std::memset(PaletteValues, 255, 256);
  if (!data_.empty()) std::memcpy(PaletteValues, data_.data(), data_.size());
  const uint8_t ct = owner_->Header()->ColorType;
  if (ct == 0 || ct == 2) {
    BitTransparency = true;
  } else if (ct == 3) {
    // One entry less than opaque is a transparent colour; more make a
    // picture with partial transparency.
    int32_t below = 0;
    for (size_t i = 0; i < data_.size(); ++i)
      if (PaletteValues[i] < 255) ++below;
    BitTransparency = below == 1;
  }
  return true;
}

bool TChunktRNS::SaveToStream(TStream& Stream) {
  const size_t n = std::min<size_t>(data_.size(), 256);
  std::vector<uint8_t> out(PaletteValues, PaletteValues + n);
  return WriteChunk(Stream, "tRNS", out);
}

namespace {

// A grey or colour sample of the file's depth as the 8-bit value the store
// keeps for it: the high byte of 16-bit samples, sub-byte levels spread to
// 0..255.
uint8_t SampleToByte(uint32_t Sample, uint8_t BitDepth) {
  if (BitDepth == 16) return static_cast<uint8_t>(Sample >> 8);
  if (BitDepth == 8) return static_cast<uint8_t>(Sample);
  const uint32_t max = (1u << BitDepth) - 1;
  return static_cast<uint8_t>((Sample & max) * 255 / max);
}

uint32_t ByteToSample(uint8_t Value, uint8_t BitDepth) {
  if (BitDepth == 16) return Value * 257u;
  if (BitDepth == 8) return Value;
  const uint32_t max = (1u << BitDepth) - 1;
  return (Value * max + 127) / 255;
}

}  // namespace

int32_t TChunktRNS::TransparentColor() const {
  const TChunkIHDR* h = owner_->Header();
  const uint8_t* g = owner_->GammaTable;
  const size_t size = data_.size();
  // The samples go through the same depth scaling and gamma as the decoded
  // pixels, so that the colour compares equal to the pixels it names.
  switch (h->ColorType) {
    case 0: {
      if (size < 2) return 0;
      const uint8_t v = g[SampleToByte(static_cast<uint32_t>(PaletteValues[0]) << 8 | PaletteValues[1], h->BitDepth)];
      return SwapRB(Rgb(v, v, v));
    }
    case 2: {
      if (size < 6) return 0;
      uint8_t c[3];
      for (int i = 0; i < 3; ++i)
        c[i] = g[SampleToByte(static_cast<uint32_t>(PaletteValues[i * 2]) << 8 | PaletteValues[i * 2 + 1], h->BitDepth)];
      return SwapRB(Rgb(c[0], c[1], c[2]));
    }
    case 3: {
      // The entry that is not opaque: the first of alpha 0, else the one
      // below 255 of a bit-transparent palette; black only without either.
      const size_t n = std::min<size_t>(size, 256);
      for (size_t i = 0; i < n; ++i)
        if (PaletteValues[i] == 0) return SwapRB(h->Store.Palette[i]);
      for (size_t i = 0; i < n; ++i)
        if (PaletteValues[i] < 255) return SwapRB(h->Store.Palette[i]);
      return 0;
    }
    default: return 0;
  }
}

void TChunktRNS::SetTransparentColor(int32_t Color) {
  TChunkIHDR* h = owner_->Header();
  const uint8_t* inv = owner_->InverseGamma;
  std::memset(PaletteValues, 0, 256);
  BitTransparency = true;
  const uint8_t r = static_cast<uint8_t>(Color), gr = static_cast<uint8_t>(Color >> 8),
                b = static_cast<uint8_t>(Color >> 16);
  auto put16 = [&](int i, uint8_t v) {
    const uint32_t s = ByteToSample(inv[v], h->BitDepth);
    PaletteValues[i * 2] = static_cast<uint8_t>(s >> 8);
    PaletteValues[i * 2 + 1] = static_cast<uint8_t>(s);
  };
  switch (h->ColorType) {
    case 0:
      put16(0, r);
      data_.assign(2, 0);
      break;
    case 2:
      put16(0, r);
      put16(1, gr);
      put16(2, b);
      data_.assign(6, 0);
      break;
    case 3: {
      const auto* plte = dynamic_cast<const TChunkPLTE*>(owner_->Chunks().FindChunk("PLTE"));
      const int32_t count = plte ? plte->Count() : 0;
      int32_t index = -1;
      for (int32_t i = 0; i < count; ++i)
        if (h->Store.Palette[i] == Rgb(r, gr, b)) {
          index = i;
          break;
        }
      std::memset(PaletteValues, 255, 256);
      // A colour no entry has makes no entry transparent: entry 0 would hide
      // pixels of quite another colour.
      if (index < 0) {
        BitTransparency = false;
        data_.clear();
        break;
      }
      PaletteValues[index] = 0;
      data_.assign(static_cast<size_t>(index) + 1, 0);
      break;
    }
    default: break;
  }
}

// ---- gAMA, tIME, tEXt, zTXt --------------------------------------------------------

TChunkgAMA::TChunkgAMA(TPNGObject* Owner) : TChunk(Owner) { SetGamma(1); }

uint32_t TChunkgAMA::Gamma() const { return data_.size() >= 4 ? Be32(data_.data()) : 0; }

void TChunkgAMA::SetGamma(uint32_t Value) {
  data_.assign(4, 0);
  PutBe32(data_.data(), Value);
}

bool TChunkgAMA::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  TChunk::LoadFromStream(Stream, Name, Size);
  const uint32_t g = Gamma();
  if (g != 0) {
    const double exponent = 1.0 / (g / 100000.0 * 2.2);
    for (int i = 0; i < 256; ++i) {
      const double v = std::nearbyint(255.0 * std::pow(i / 255.0, exponent));
      owner_->GammaTable[i] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
      owner_->InverseGamma[owner_->GammaTable[i]] = static_cast<uint8_t>(i);
    }
  }
  return true;
}

void TChunktIME::Assign(const TChunk& Source) {
  const auto* s = dynamic_cast<const TChunktIME*>(&Source);
  if (s == nullptr) throw EPngError(PngText(65223));
  TChunk::Assign(Source);
  Year = s->Year;
  Month = s->Month;
  Day = s->Day;
  Hour = s->Hour;
  Minute = s->Minute;
  Second = s->Second;
}

bool TChunktIME::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  TChunk::LoadFromStream(Stream, Name, Size);
  if (data_.size() >= 7) {
    Year = static_cast<uint16_t>(data_[0] << 8 | data_[1]);
    Month = data_[2];
    Day = data_[3];
    Hour = data_[4];
    Minute = data_[5];
    Second = data_[6];
  }
  return true;
}

bool TChunktIME::SaveToStream(TStream& Stream) {
  data_ = {static_cast<uint8_t>(Year >> 8), static_cast<uint8_t>(Year), Month, Day, Hour, Minute, Second};
  return WriteChunk(Stream, "tIME", data_);
}

void TChunktEXt::Assign(const TChunk& Source) {
  const auto* s = dynamic_cast<const TChunktEXt*>(&Source);
  if (s == nullptr) throw EPngError(PngText(65223));
  TChunk::Assign(Source);
  Keyword = s->Keyword;
  Text = s->Text;
}

bool TChunktEXt::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  TChunk::LoadFromStream(Stream, Name, Size);
  if (data_.size() >= 3) {
    const auto zero = std::find(data_.begin(), data_.end(), uint8_t{0});
    Keyword.assign(data_.begin(), zero);
    Text.assign(zero == data_.end() ? data_.end() : zero + 1, data_.end());
  }
  return true;
}

bool TChunktEXt::SaveToStream(TStream& Stream) {
  data_.assign(Keyword.begin(), Keyword.end());
  data_.push_back(0);
  data_.insert(data_.end(), Text.begin(), Text.end());
  return WriteChunk(Stream, "tEXt", data_);
}

bool TChunkzTXt::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  TChunk::LoadFromStream(Stream, Name, Size);
  Keyword.clear();
  Text.clear();
  if (data_.size() < 4) return true;
  const auto zero = std::find(data_.begin(), data_.end(), uint8_t{0});
  Keyword.assign(data_.begin(), zero);
  if (zero == data_.end() || zero + 1 == data_.end() || *(zero + 1) != 0) return true;
  const size_t start = static_cast<size_t>(zero + 2 - data_.begin());
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return true;
  z.next_in = data_.data() + start;
  z.avail_in = static_cast<uInt>(data_.size() - start);
  std::string out;
  char buf[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
    if (out.size() > kMaxTextSize) rc = Z_DATA_ERROR;
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) rc = Z_BUF_ERROR;
  }
  inflateEnd(&z);
  if (rc == Z_STREAM_END) Text = std::move(out);
  return true;
}

bool TChunkzTXt::SaveToStream(TStream& Stream) {
  const std::string text = Text.empty() ? std::string(" ") : Text;
  uLongf size = compressBound(text.size());
  std::vector<uint8_t> packed(size);
  if (compress2(packed.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(),
                owner_->CompressionLevel()) != Z_OK)
    throw EPNGOutMemory(PngText(65229));
  data_.assign(Keyword.begin(), Keyword.end());
  data_.push_back(0);
  data_.push_back(0);
  data_.insert(data_.end(), packed.begin(), packed.begin() + static_cast<ptrdiff_t>(size));
  return WriteChunk(Stream, "zTXt", data_);
}

bool TChunkIDAT::LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) {
  name_ = Name;
  return DecodePngImageData(*owner_, *owner_->Header(), Stream, Size, owner_->RowSink());
}

bool TChunkIDAT::SaveToStream(TStream& Stream) { return EncodePngImageData(*owner_, *owner_->Header(), Stream); }

// ---- Chunk classes and the list ---------------------------------------------------

std::unique_ptr<TChunk> CreatePngChunk(TPNGObject* Owner, const std::string& Type) {
  std::unique_ptr<TChunk> c;
  if (Type == "IEND") c = std::make_unique<TChunkIEND>(Owner);
  else if (Type == "IHDR") c = std::make_unique<TChunkIHDR>(Owner);
  else if (Type == "IDAT") c = std::make_unique<TChunkIDAT>(Owner);
  else if (Type == "PLTE") c = std::make_unique<TChunkPLTE>(Owner);
  else if (Type == "gAMA") c = std::make_unique<TChunkgAMA>(Owner);
  else if (Type == "tRNS") c = std::make_unique<TChunktRNS>(Owner);
  else if (Type == "tIME") c = std::make_unique<TChunktIME>(Owner);
  else if (Type == "tEXt") c = std::make_unique<TChunktEXt>(Owner);
  else if (Type == "zTXt") c = std::make_unique<TChunkzTXt>(Owner);
  else c = std::make_unique<TChunk>(Owner);
  c->SetName(Type);
  return c;
}

TChunk* TPNGList::Add(std::unique_ptr<TChunk> C) {
  items_.push_back(std::move(C));
  return items_.back().get();
}

void TPNGList::Insert(std::unique_ptr<TChunk> C, int32_t Position) {
  Position = std::clamp(Position, 0, Count());
  items_.insert(items_.begin() + Position, std::move(C));
}

void TPNGList::Remove(TChunk* C) {
  const int32_t i = IndexOf(C);
  if (i >= 0) items_.erase(items_.begin() + i);
}

TChunk* TPNGList::FindChunk(const std::string& Type) const {
  for (const auto& c : items_)
    if (c->Name() == Type) return c.get();
  return nullptr;
}

int32_t TPNGList::IndexOf(const TChunk* C) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == C) return static_cast<int32_t>(i);
  return -1;
}

TChunk* TPNGList::Add(const std::string& Type) {
  if (Type == "IHDR" || Type == "IDAT" || Type == "PLTE" || Type == "IEND" ||
      ((Type == "gAMA" || Type == "tRNS") && FindChunk(Type) != nullptr))
    throw EPngError(PngText(65227));
  if (FindChunk("IHDR") == nullptr || FindChunk("IEND") == nullptr) throw EPngError(PngText(65228));
  auto c = CreatePngChunk(owner_, Type);
  TChunk* raw = c.get();
  int32_t at;
  if (Type == "gAMA") {
    at = IndexOf(FindChunk("IHDR")) + 1;
  } else if (Type == "tRNS") {
    if (TChunk* p = FindChunk("PLTE")) at = IndexOf(p) + 1;
    else if (TChunk* d = FindChunk("IDAT")) at = IndexOf(d);
    else at = IndexOf(FindChunk("IHDR")) + 1;
  } else {
    at = IndexOf(FindChunk("IEND"));
  }
  Insert(std::move(c), at);
  return raw;
}

// ---- TPNGObject ------------------------------------------------------------------

TPNGObject::TPNGObject() : chunks_(this) { InitializeGamma(); }

void TPNGObject::InitializeGamma() {
  for (int i = 0; i < 256; ++i) GammaTable[i] = InverseGamma[i] = static_cast<uint8_t>(i);
}

TChunkIHDR* TPNGObject::Header() const {
  TChunkIHDR* h = chunks_.Count() > 0 ? dynamic_cast<TChunkIHDR*>(chunks_.Item(0)) : nullptr;
  if (h == nullptr) throw EPNGHeaderNotPresent(PngText(65230));
  return h;
}

int32_t TPNGObject::Width() const {
  const auto* h = chunks_.Count() > 0 ? dynamic_cast<const TChunkIHDR*>(chunks_.Item(0)) : nullptr;
  return h ? static_cast<int32_t>(h->Width) : 0;
}

int32_t TPNGObject::Height() const {
  const auto* h = chunks_.Count() > 0 ? dynamic_cast<const TChunkIHDR*>(chunks_.Item(0)) : nullptr;
  return h ? static_cast<int32_t>(h->Height) : 0;
}

void TPNGObject::SetWidth(int32_t) { throw EPngError(PngText(65226)); }
void TPNGObject::SetHeight(int32_t) { throw EPngError(PngText(65226)); }

int32_t TPNGObject::TransparencyMode() const {
  if (chunks_.Count() == 0) return 0;
  const TChunkIHDR* h = Header();
  const auto* t = dynamic_cast<const TChunktRNS*>(chunks_.FindChunk("tRNS"));
  switch (h->ColorType) {
    // A grey or colour tRNS too short to hold its sample names no colour.
    case 0: return t && t->DataSize() >= 2 ? 1 : 0;
    case 2: return t && t->DataSize() >= 6 ? 1 : 0;
    case 3: return !t || t->DataSize() == 0 ? 0 : t->BitTransparency ? 1 : 2;
    case 4:
    case 6: return 2;
    default: return 0;
  }
}

int32_t TPNGObject::TransparentColor() const {
  const auto* t = dynamic_cast<const TChunktRNS*>(chunks_.FindChunk("tRNS"));
  return t ? t->TransparentColor() : 0;
}

uint8_t* TPNGObject::AlphaScanline(int32_t Y) { return Header()->AlphaScanline(Y); }
uint8_t* TPNGObject::Scanline(int32_t Y) { return Header()->Scanline(Y); }

bool TPNGObject::HasImage() const {
  const auto* h = chunks_.Count() > 0 ? dynamic_cast<const TChunkIHDR*>(chunks_.Item(0)) : nullptr;
  return h != nullptr && !h->Store.Bits.empty();
}

uint32_t TPNGObject::StoreColor(int32_t X, int32_t Y) const {
  const TChunkIHDR* h = Header();
  const uint8_t* row = h->Scanline(Y);
  if (h->Store.BitsPerPixel == 24) return Rgb(row[X * 3 + 2], row[X * 3 + 1], row[X * 3]);
  return h->Store.Palette[GetField(row, X, h->Store.BitsPerPixel)];
}

void TPNGObject::CreateAlpha() {
  TChunkIHDR* h = Header();
  if (h->ColorType == 0 || h->ColorType == 2) {
    // Colour types with alpha carry no tRNS: its colour becomes alpha 0.
    // A key read from the file has its mask, compared at the file's depth;
    // one set since then names a colour of the store.
    const bool keyed = TransparencyMode() == 1;
    const uint32_t key = static_cast<uint32_t>(SwapRB(static_cast<uint32_t>(TransparentColor())));
    std::vector<uint8_t> alpha(static_cast<size_t>(h->Width) * h->Height, 255);
    if (keyed && h->Store.KeyMask.size() == alpha.size())
      alpha = h->Store.KeyMask;
    else
      for (int32_t y = 0; keyed && y < static_cast<int32_t>(h->Height); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(h->Width); ++x)
          if (StoreColor(x, y) == key) alpha[static_cast<size_t>(y) * h->Width + x] = 0;
    h->Store.KeyMask.clear();
    if (h->ColorType == 0 && h->Store.BitsPerPixel < 8) {
      // Grey with alpha has 8 or 16 bits: spread the levels to a byte each.
      TChunkIHDR wide(this);
      wide.Assign(*h);
      wide.ColorType = 4;
      wide.BitDepth = 8;
      wide.PrepareImageData();
      const int32_t bits = h->Store.BitsPerPixel;
      const uint32_t max = (1u << bits) - 1;
      for (int32_t y = 0; y < static_cast<int32_t>(h->Height); ++y) {
        const uint8_t* src = h->Scanline(y);
        uint8_t* dst = wide.Scanline(y);
        for (int32_t x = 0; x < static_cast<int32_t>(h->Width); ++x)
          dst[x] = static_cast<uint8_t>(GetField(src, x, bits) * 255 / max);
      }
      h->Store = std::move(wide.Store);
      h->BitDepth = 8;
    }
    h->ColorType = h->ColorType == 0 ? 4 : 6;
    h->Store.Alpha = std::move(alpha);
    if (TChunk* t = chunks_.FindChunk("tRNS")) chunks_.Remove(t);
  } else if (h->ColorType == 3) {
    auto* t = dynamic_cast<TChunktRNS*>(chunks_.FindChunk("tRNS"));
    if (t == nullptr) t = dynamic_cast<TChunktRNS*>(chunks_.Add("tRNS"));
    std::memset(t->PaletteValues, 255, 256);
    // More alpha entries than palette entries make an invalid file.
    const auto* plte = dynamic_cast<const TChunkPLTE*>(chunks_.FindChunk("PLTE"));
    int32_t n = 1 << h->BitDepth;
    if (plte) n = std::min(n, plte->Count());
    t->ResizeData(static_cast<size_t>(n));
    t->BitTransparency = false;
  }
}

int32_t TPNGObject::GetPixel(int32_t X, int32_t Y) const {
  if (X < 0 || Y < 0 || X >= Width() || Y >= Height() || !HasImage()) return 0;
  const TChunkIHDR* h = Header();
  const uint8_t* row = h->Scanline(Y);
  switch (h->ColorType) {
    case 0:
    case 4: {
      const int32_t bits = h->Store.BitsPerPixel;
      const uint32_t v = GetField(row, X, bits);
      const uint32_t level = bits == 1 ? v * 255 : bits == 4 ? v * 17 : v;
      const uint8_t g = GammaTable[level];
      return SwapRB(Rgb(g, g, g));
    }
    case 3: {
      const auto* plte = dynamic_cast<const TChunkPLTE*>(chunks_.FindChunk("PLTE"));
      const int32_t v = static_cast<int32_t>(GetField(row, X, h->Store.BitsPerPixel));
      if (plte == nullptr) throw EPngError(PngText(65219));
      // The store's palette has been through the gamma table once already.
      return SwapRB(plte->Item(v));
    }
    default: return static_cast<int32_t>(row[X * 3 + 2] | row[X * 3 + 1] << 8 | row[X * 3] << 16);
  }
}

void TPNGObject::SetPixel(int32_t X, int32_t Y, int32_t Color) {
  if (X < 0 || Y < 0 || X >= Width() || Y >= Height() || !HasImage()) return;
  TChunkIHDR* h = Header();
  uint8_t* row = h->Scanline(Y);
  if (h->Store.BitsPerPixel == 24) {
    row[X * 3 + 2] = static_cast<uint8_t>(Color);
    row[X * 3 + 1] = static_cast<uint8_t>(Color >> 8);
    row[X * 3] = static_cast<uint8_t>(Color >> 16);
    return;
  }
  const int32_t bits = h->Store.BitsPerPixel;
  // Only the entries the pixel's field can hold are candidates.
  std::vector<uint32_t> pal = GetPalette();
  pal.resize(static_cast<size_t>(1) << bits);
  const uint32_t index = static_cast<uint32_t>(NearestPaletteIndex(pal, ArgbFromColor(Color)));
  const int32_t perByte = 8 / bits;
  const int32_t shift = 8 - bits - (X % perByte) * bits;
  uint8_t& b = row[X / perByte];
  const uint32_t mask = ((1u << bits) - 1) << shift;
  b = static_cast<uint8_t>((b & ~mask) | (index << shift));
}

std::vector<uint32_t> TPNGObject::GetPalette() const {
  if (chunks_.Count() == 0) return {};
  const TChunkIHDR* h = Header();
  if (h->ColorType != 0 && h->ColorType != 3 && h->ColorType != 4) return {};
  std::vector<uint32_t> p(256);
  for (int i = 0; i < 256; ++i) p[i] = 0xFF000000u | h->Store.Palette[i];
  return p;
}

void TPNGObject::Assign(const TPNGObject* Source) {
  chunks_.Clear();
  InitializeGamma();
  if (Source == nullptr) return;
  InterlaceMethod = Source->InterlaceMethod;
  maxIdatSize_ = Source->maxIdatSize_;
  compressionLevel_ = Source->compressionLevel_;
  Filters = Source->Filters;
  std::memcpy(GammaTable, Source->GammaTable, 256);
  std::memcpy(InverseGamma, Source->InverseGamma, 256);
  for (int32_t i = 0; i < Source->chunks_.Count(); ++i) {
    const TChunk* s = Source->chunks_.Item(i);
    auto c = CreatePngChunk(this, s->Name());
    TChunk* raw = chunks_.Add(std::move(c));
    raw->Assign(*s);
  }
}

void TPNGObject::Assign(const TPlatformBitmap& Source) {
  chunks_.Clear();
  InitializeGamma();
  const TPixelFormat f = Source.PixelFormat();
  const int32_t bits = f == TPixelFormat::pf1bit ? 1 : f == TPixelFormat::pf4bit ? 4 : f == TPixelFormat::pf8bit ? 8 : 0;
  auto header = std::make_unique<TChunkIHDR>(this);
  header->SetName("IHDR");
  TChunkIHDR* h = header.get();
  h->Width = static_cast<uint32_t>(Source.Width());
  h->Height = static_cast<uint32_t>(Source.Height());
  h->ColorType = bits ? 3 : 2;
  h->BitDepth = static_cast<uint8_t>(bits ? bits : 8);
  h->InterlaceMethod = static_cast<uint8_t>(InterlaceMethod);
  chunks_.Add(std::move(header));
  h->PrepareImageData();
  if (bits) {
    auto plte = std::make_unique<TChunkPLTE>(this);
    plte->SetName("PLTE");
    plte->SetCount(1 << bits);
    const std::vector<uint32_t>& pal = Source.Palette();
    for (int32_t i = 0; i < (1 << bits) && i < static_cast<int32_t>(pal.size()); ++i)
      h->Store.Palette[i] = pal[static_cast<size_t>(i)] & 0x00FFFFFFu;
    chunks_.Add(std::move(plte));
  }
  if (Source.Transparent()) chunks_.Add(CreatePngChunk(this, "tRNS"));
  chunks_.Add(CreatePngChunk(this, "IDAT"));
  chunks_.Add(CreatePngChunk(this, "IEND"));

  std::vector<uint32_t> pal(h->Store.Palette, h->Store.Palette + (bits ? (1 << bits) : 0));
  std::unordered_map<uint32_t, uint32_t> memo;
  for (int32_t y = 0; y < Source.Height(); ++y) {
    const uint32_t* src = Source.ScanLine(y);
    uint8_t* dst = h->Scanline(y);
    for (int32_t x = 0; x < Source.Width(); ++x) {
      const uint32_t c = src[x] & 0x00FFFFFFu;
      if (!bits) {
        dst[x * 3] = static_cast<uint8_t>(c);
        dst[x * 3 + 1] = static_cast<uint8_t>(c >> 8);
        dst[x * 3 + 2] = static_cast<uint8_t>(c >> 16);
        continue;
      }
      auto it = memo.find(c);
      if (it == memo.end()) it = memo.emplace(c, static_cast<uint32_t>(NearestPaletteIndex(pal, c))).first;
      const int32_t perByte = 8 / bits;
      dst[x / perByte] |= static_cast<uint8_t>(it->second << (8 - bits - (x % perByte) * bits));
    }
  }
  if (Source.Transparent())
    dynamic_cast<TChunktRNS*>(chunks_.FindChunk("tRNS"))->SetTransparentColor(Source.TransparentColor());
}

void TPNGObject::AssignTo(TPlatformBitmap& Dest) const {
  Dest.SetSize(0, 0);
  Dest.SetPixelFormat(TPixelFormat::pf24bit);
  if (!HasImage()) return;
  Dest.SetSize(Width(), Height());
  for (int32_t y = 0; y < Height(); ++y) {
    uint32_t* row = Dest.ScanLine(y);
    for (int32_t x = 0; x < Width(); ++x) row[x] = 0xFF000000u | StoreColor(x, y);
  }
  const bool bit = TransparencyMode() == 1;
  Dest.SetTransparent(bit);
  Dest.SetTransparentColor(bit ? TransparentColor() : 0);
}

void TPNGObject::Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const {
  if (IsEmpty() || Width() == 0 || Height() == 0 || !HasImage()) return;
  TPlatformRect r = Dest;
  if (r.Right == r.Left || r.Bottom == r.Top) return;
  if (r.Left > r.Right) std::swap(r.Left, r.Right);
  if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
  const int32_t mode = TransparencyMode();
  if (mode == 2) {
    DrawPartialTrans(Surface, r);
    return;
  }
  const int64_t w = static_cast<int64_t>(r.Right) - r.Left, hgt = static_cast<int64_t>(r.Bottom) - r.Top;
  const uint32_t key = mode == 1 ? static_cast<uint32_t>(SwapRB(static_cast<uint32_t>(TransparentColor()))) : 0;
  // A key of the file has its mask, compared at the file's own depth.
  const std::vector<uint8_t>& mask = Header()->Store.KeyMask;
  const bool masked = mode == 1 && !mask.empty();
  for (int64_t j = 0; j < hgt; ++j) {
    const int64_t dy = r.Top + j;
    if (dy < 0 || dy >= Surface.Height) continue;
    const int32_t sy = static_cast<int32_t>(j * Height() / hgt);
    for (int64_t i = 0; i < w; ++i) {
      const int64_t dx = r.Left + i;
      if (dx < 0 || dx >= Surface.Width) continue;
      const int32_t sx = static_cast<int32_t>(i * Width() / w);
      const uint32_t c = StoreColor(sx, sy);
      if (masked ? mask[static_cast<size_t>(sy) * Width() + sx] == 0 : mode == 1 && c == key) continue;
      Surface.Bits[dy * Surface.Width + dx] = 0xFF000000u | c;
    }
  }
}

void TPNGObject::DrawPartialTrans(TPixelSurface& Surface, TPlatformRect R) const {
  const TChunkIHDR* h = Header();
  const int64_t W = static_cast<int64_t>(R.Right) - R.Left, H = static_cast<int64_t>(R.Bottom) - R.Top;
  const int32_t iw = Width(), ih = Height();
  // Columns and rows map by whole numbers, i * w / W: the floating factor
  // of the stretch put some columns one off (source column 7 of 14 fell in
  // destination column 10 of 18 instead of 9).
  const auto* plte = dynamic_cast<const TChunkPLTE*>(chunks_.FindChunk("PLTE"));
  const auto* trns = dynamic_cast<const TChunktRNS*>(chunks_.FindChunk("tRNS"));
  const int32_t bits = h->Store.BitsPerPixel;
  for (int64_t j = 0; j < H; ++j) {
    const int64_t dy = R.Top + j;
    if (dy < 0 || dy >= Surface.Height) continue;
    const int32_t sy = static_cast<int32_t>(j * ih / H);
    const uint8_t* row = h->Scanline(sy);
    const uint8_t* alphaRow = h->Store.Alpha.empty() ? nullptr : h->Store.Alpha.data() + static_cast<size_t>(sy) * iw;
    for (int64_t i = 0; i < W; ++i) {
      const int64_t dx = R.Left + i;
      if (dx < 0 || dx >= Surface.Width) continue;
      const int32_t sx = static_cast<int32_t>(i * iw / W);
      uint32_t s;
      uint32_t a;
      if (bits == 24) {
        s = Rgb(row[sx * 3 + 2], row[sx * 3 + 1], row[sx * 3]);
        a = alphaRow ? alphaRow[sx] : 255;
      } else if (h->ColorType == 4) {
        s = Rgb(row[sx], row[sx], row[sx]);
        a = alphaRow ? alphaRow[sx] : 255;
      } else {
        const int32_t v = static_cast<int32_t>(GetField(row, sx, bits));
        if (plte == nullptr) throw EPngError(PngText(65219));
        s = plte->Item(v);
        a = trns ? trns->PaletteValues[v] : 255;
      }
      if (a == 0) continue;
      uint32_t& d = Surface.Bits[dy * Surface.Width + dx];
      if (a == 255) {
        d = (d & 0xFF000000u) | s;
        continue;
      }
      uint32_t out = d & 0xFF000000u;
      for (int sh = 0; sh <= 16; sh += 8) {
        const uint32_t sc = (s >> sh) & 0xFF, dc = (d >> sh) & 0xFF;
        out |= ((sc * a + (255 - a) * dc + 255) >> 8) << sh;
      }
      d = out;
    }
  }
}

namespace {

// Opens the clipboard for as long as it lives.
class TBoardBracket {
 public:
  explicit TBoardBracket(TClipboard& B) : b_(B) { b_.Open(); }
  ~TBoardBracket() { b_.Close(); }
  TBoardBracket(const TBoardBracket&) = delete;
  TBoardBracket& operator=(const TBoardBracket&) = delete;

 private:
  TClipboard& b_;
};

}  // namespace

void TPNGObject::LoadFromClipboardFormat(TClipboard& Board) {
  std::unique_ptr<TPlatformBitmap> picture;
  {
    TBoardBracket bracket(Board);
    picture = Board.GetPicture();
  }
  if (!picture) throw EInvalidGraphic("Unsupported clipboard format");
  picture->SetTransparent(false);
  picture->SetTransparentColor(0);
  Assign(*picture);
}

void TPNGObject::SaveToClipboardFormat(TClipboard& Board) const {
  TPlatformBitmap b;
  b.SetPixelFormat(TPixelFormat::pf24bit);
  b.SetSize(Width(), Height());
  std::fill(b.Bits(), b.Bits() + static_cast<size_t>(b.Width()) * b.Height(), 0xFF000000u);
  TPixelSurface s{b.Bits(), b.Width(), b.Height()};
  Draw(s, {0, 0, b.Width(), b.Height()});
  TBoardBracket bracket(Board);
  Board.SetPicture(b);
}

void TPNGObject::LoadFromStream(TStream& Stream) { LoadFromStream(Stream, nullptr); }

void TPNGObject::LoadFromStream(TStream& Stream, TPngRowSink* Sink) {
  // The sink is the caller's only for this read.
  struct TSinkGuard {
    TPngRowSink*& Slot;
    ~TSinkGuard() { Slot = nullptr; }
  } guard{rowSink_};
  rowSink_ = Sink;
  // The picture held so far comes back when the file fails, with the values
  // the file's chunks change on the way.
  TPNGList previous(this);
  previous.Swap(chunks_);
  uint8_t gamma[256], inverse[256];
  std::memcpy(gamma, GammaTable, 256);
  std::memcpy(inverse, InverseGamma, 256);
  const TInterlaceMethod interlace = InterlaceMethod;
  try {
    ReadChunks(Stream);
  } catch (...) {
    chunks_.Swap(previous);
    std::memcpy(GammaTable, gamma, 256);
    std::memcpy(InverseGamma, inverse, 256);
    InterlaceMethod = interlace;
    throw;
  }
}

void TPNGObject::ReadChunks(TStream& Stream) {
  InitializeGamma();
  uint8_t sig[8];
  if (ReadUpTo(Stream, sig, 8) != 8 || std::memcmp(sig, kSignature, 8) != 0)
    throw EPNGInvalidFileHeader(PngText(65216));
  bool idatDone = false;
  for (;;) {
    uint8_t head[8];
    if (ReadUpTo(Stream, head, 4) != 4) throw EPngUnexpectedEnd(PngText(65224));
    if (ReadUpTo(Stream, head + 4, 4) != 4) throw EPngUnexpectedEnd(PngText(65224));
    const uint32_t length = Be32(head);
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    if (chunks_.Count() == 0 && type != "IHDR") throw EPNGIHDRNotFirst(PngText(65217));
    if (type == "cHRM" || (type == "IDAT" && idatDone)) {
      if (static_cast<int64_t>(length) + 4 > Stream.Remaining()) throw EPngUnexpectedEnd(PngText(65224));
      Stream.Seek(static_cast<int64_t>(length) + 4, TSeekOrigin::soCurrent);
      continue;
    }
    // A second header would describe an image the store does not hold.
    if (type == "IHDR" && chunks_.Count() > 0) throw EPngInvalidIHDR(PngText(65244));
    TChunk* c = chunks_.Add(CreatePngChunk(this, type));
    if (typeid(*c) == typeid(TChunk) && (head[4] & 0x20) == 0) throw EPNGUnknownCriticalChunk(PngText(65220));
    const bool ok = c->LoadFromStream(Stream, type, length);
    if (type == "IDAT") idatDone = true;
    if (!ok || type == "IEND") break;
  }
  if (!idatDone) throw EPNGNoImageData(PngText(65225));
}

void TPNGObject::SaveToStream(TStream& Stream) const {
  // A file without an image would not load again: refuse to write one.
  if (Width() <= 0 || Height() <= 0) throw EPNGHeaderNotPresent(PngText(65230));
  Stream.WriteBuffer(kSignature, 8);
  for (int32_t i = 0; i < chunks_.Count(); ++i) chunks_.Item(i)->SaveToStream(Stream);
}

void RegisterPngImage() {
  PngUnfilterStartup();
  if (gRegistered) return;
  RegisterFileFormat("PNG", "Portable Network Graphics", "TPNGObject", [] { return std::make_unique<TPNGObject>(); });
  gRegistered = true;
}

void UnregisterPngImage() {
  UnregisterGraphicClass("TPNGObject");
  gRegistered = false;
}
