// The image data of a PNG picture: inflating the IDAT chunks (which may come
// in any number), undoing the row filters, placing plain or Adam7 rows into
// the header's store, and the reverse for writing.
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "img_fileio.h"
#include "png_image.h"
#include "png_unfilter.h"
#include "raster_parallel.h"

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

const uint8_t kIdat[4] = {'I', 'D', 'A', 'T'};
constexpr size_t kInputBlock = 65535;
// How far back deflate data may refer.
constexpr size_t kDeflateWindow = 32768;
// The block the fast inflater writes in one call: large beside the window
// it keeps, small beside any picture it is worth its while for.
constexpr size_t kFastStage = size_t{1024} << 10;

struct TPass {
  int32_t X0, Y0, DX, DY;
};
const TPass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

int32_t Samples(uint8_t ColorType) {
  switch (ColorType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
  }
}

// The depth rows are written with: 2-bit images are kept and written as 4-bit.
uint8_t FileDepth(const TChunkIHDR& H, bool Writing) { return Writing && H.BitDepth == 2 ? 4 : H.BitDepth; }

int64_t RowBytesOf(int64_t Pixels, uint8_t ColorType, uint8_t Depth) {
  return (Pixels * Samples(ColorType) * Depth + 7) / 8;
}

int32_t OffsetOf(uint8_t ColorType, uint8_t Depth) {
  return std::max(1, Samples(ColorType) * Depth / 8);
}

uint8_t Paeth(int32_t a, int32_t b, int32_t c) {
  const int32_t p = a + b - c;
  const int32_t pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  if (pb <= pc) return static_cast<uint8_t>(b);
  return static_cast<uint8_t>(c);
}

uint32_t FieldOf(const uint8_t* Row, int64_t I, int32_t Bits) {
  const int64_t perByte = 8 / Bits;
  const int32_t shift = 8 - Bits - static_cast<int32_t>(I % perByte) * Bits;
  return (Row[I / perByte] >> shift) & ((1u << Bits) - 1);
}

void SetFieldOf(uint8_t* Row, int64_t I, int32_t Bits, uint32_t V) {
  const int64_t perByte = 8 / Bits;
  const int32_t shift = 8 - Bits - static_cast<int32_t>(I % perByte) * Bits;
  const uint32_t mask = ((1u << Bits) - 1) << shift;
  Row[I / perByte] = static_cast<uint8_t>((Row[I / perByte] & ~mask) | ((V << shift) & mask));
}

// Copies Count pixels of an unfiltered file row into store row Y at columns
// X0, X0 + DX, ...
void RowToStore(const TPNGObject& Png, TChunkIHDR& H, const uint8_t* Src, int64_t Count, int32_t Y, int32_t X0,
                int32_t DX) {
  uint8_t* dst = H.Scanline(Y);
  uint8_t* alpha = H.AlphaScanline(Y);
  const uint8_t* g = Png.GammaTable;
  const int32_t step = H.BitDepth == 16 ? 2 : 1;
  for (int64_t i = 0; i < Count; ++i) {
    const int64_t x = X0 + i * DX;
    switch (H.ColorType) {
      case 0:
      case 3:
        if (H.BitDepth == 16) {
          dst[x] = Src[i * 2];
        } else {
          uint32_t v = FieldOf(Src, i, H.BitDepth);
          if (H.BitDepth == 2 && H.ColorType == 0) v *= 5;
          SetFieldOf(dst, x, H.Store.BitsPerPixel, v);
        }
        break;
      case 2: {
        const uint8_t* s = Src + i * 3 * step;
        dst[x * 3] = g[s[2 * step]];
        dst[x * 3 + 1] = g[s[step]];
        dst[x * 3 + 2] = g[s[0]];
        break;
      }
      case 4: {
        const uint8_t* s = Src + i * 2 * step;
        dst[x] = s[0];
        alpha[x] = s[step];
        break;
      }
      case 6: {
        const uint8_t* s = Src + i * 4 * step;
        dst[x * 3] = g[s[2 * step]];
        dst[x * 3 + 1] = g[s[step]];
        dst[x * 3 + 2] = g[s[0]];
        alpha[x] = s[3 * step];
        break;
      }
      default: break;
    }
  }
}

// The inverse: Count pixels of store row Y at columns X0, X0 + DX, ... as a
// file row of depth FileDepth(H, true); 16-bit samples repeat the byte.
void StoreToRow(const TPNGObject& Png, const TChunkIHDR& H, uint8_t* Dst, int64_t Count, int32_t Y, int32_t X0,
                int32_t DX) {
  const uint8_t* src = H.Scanline(Y);
  const uint8_t* alpha = H.Store.Alpha.empty() ? nullptr : H.Store.Alpha.data() + static_cast<size_t>(Y) * H.Width;
  const uint8_t* inv = Png.InverseGamma;
  const uint8_t depth = FileDepth(H, true);
  const int32_t step = depth == 16 ? 2 : 1;
  auto put = [&](uint8_t* p, uint8_t v) {
    p[0] = v;
    if (step == 2) p[1] = v;
  };
  for (int64_t i = 0; i < Count; ++i) {
    const int64_t x = X0 + i * DX;
    const uint8_t a = alpha ? alpha[x] : 255;
    switch (H.ColorType) {
      case 0:
      case 3:
        if (depth == 16) put(Dst + i * 2, src[x]);
        else SetFieldOf(Dst, i, depth, FieldOf(src, x, H.Store.BitsPerPixel));
        break;
      case 2:
        put(Dst + i * 3 * step, inv[src[x * 3 + 2]]);
        put(Dst + i * 3 * step + step, inv[src[x * 3 + 1]]);
        put(Dst + i * 3 * step + 2 * step, inv[src[x * 3]]);
        break;
      case 4:
        put(Dst + i * 2 * step, src[x]);
        put(Dst + i * 2 * step + step, a);
        break;
      case 6:
        put(Dst + i * 4 * step, inv[src[x * 3 + 2]]);
        put(Dst + i * 4 * step + step, inv[src[x * 3 + 1]]);
        put(Dst + i * 4 * step + 2 * step, inv[src[x * 3]]);
        put(Dst + i * 4 * step + 3 * step, a);
        break;
      default: break;
    }
  }
}

// The picture's own store as the destination of the rows; grey and colour
// pictures with a key also get their key mask, from the bridge's converter
// so that both compare the key the same way.
class TStoreSink : public TPngRowSink {
 public:
  void Begin(TPNGObject& Png, TChunkIHDR& Header, size_t) override {
    png_ = &Png;
    h_ = &Header;
    Header.PrepareImageData(true);
    keyed_ = (Header.ColorType == 0 || Header.ColorType == 2) && Png.TransparencyMode() == 1;
    if (keyed_) {
      conv_.Prepare(Png, Header);
      argb_.resize(Header.Width);
      try {
        Header.Store.KeyMask.assign(static_cast<size_t>(Header.Width) * Header.Height, 255);
      } catch (const std::bad_alloc&) {
        throw EPNGOutMemory(PngText(65229));
      }
    }
  }
  void Row(const uint8_t* Src, int32_t Count, int32_t Y, int32_t X0, int32_t DX) override {
    RowToStore(*png_, *h_, Src, Count, Y, X0, DX);
    if (!keyed_) return;
    conv_.Convert(Src, argb_.data(), Count);
    uint8_t* mask = h_->Store.KeyMask.data() + static_cast<size_t>(Y) * h_->Width;
    for (int32_t i = 0; i < Count; ++i) mask[X0 + static_cast<int64_t>(i) * DX] = static_cast<uint8_t>(argb_[i] >> 24);
  }

 private:
  TPNGObject* png_ = nullptr;
  TChunkIHDR* h_ = nullptr;
  bool keyed_ = false;
  TPngArgbConverter conv_;
  std::vector<uint32_t> argb_;
};

// Why a fast inflate gave up: the zlib path then decodes the data again.
struct TFastInflateFailed {};

// Feeds inflate from the IDAT chunks of the stream, checking each chunk's CRC
// as its end is reached. The fast inflater takes a stream zlib would take;
// anything else (damage, a stream that ends early or runs on, a header
// zlib reads otherwise) makes it throw TFastInflateFailed, and the caller
// decodes with zlib, whose errors and texts are the file's.
class TIdatReader {
 public:
  // Expected: the bytes the rows take, which bounds the fast inflater's block.
  TIdatReader(TStream& Stream, uint32_t Size, bool Fast, size_t Expected)
      : stream_(Stream), end_(Stream.Size()), remaining_(Size), buffer_(kInputBlock) {
    crc_ = PngUpdateCrc(0xFFFFFFFFu, kIdat, 4);
    CheckFirst(Stream, Size);
    if (Size == 0) CheckCrc();
    if (Fast) {
      fast_ = std::make_unique<inflate_state>();
      isal_inflate_init(fast_.get());
      fast_->crc_flag = ISAL_ZLIB;
      stage_.resize(std::min(kFastStage, Expected));
    } else if (inflateInit(&z_) != Z_OK) {
      throw EPNGOutMemory(PngText(65229));
    }
  }
  ~TIdatReader() {
    if (!fast_) inflateEnd(&z_);
  }
  TIdatReader(const TIdatReader&) = delete;
  TIdatReader& operator=(const TIdatReader&) = delete;

  // The next Count bytes, in Out or in the reader's own memory (valid until
  // the next call); null where the data ends before.
  const uint8_t* Next(size_t Count, uint8_t* Out) {
    if (fast_) return NextFast(Count);
    return Read(Out, Count) == Count ? Out : nullptr;
  }

  // Inflates up to Count bytes into Out with zlib; fewer only where the data ends.
  size_t Read(uint8_t* Out, size_t Count) {
    z_.next_out = Out;
    z_.avail_out = static_cast<uInt>(Count);
    while (z_.avail_out > 0 && !ended_) {
      if (z_.avail_in == 0) {
        const size_t n = Refill();
        z_.next_in = buffer_.data();
        z_.avail_in = static_cast<uInt>(n);
      }
      const int rc = inflate(&z_, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) ended_ = true;
      // A preset dictionary cannot be given; take it as damaged data.
      else if (rc == Z_NEED_DICT) Fail(Z_DATA_ERROR);
      else if (rc < 0 && rc != Z_BUF_ERROR) Fail(rc);
    }
    return Count - z_.avail_out;
  }

  // Reads what is left of the current chunk and checks its CRC. The fast
  // inflater first makes sure its stream ends, with its check value right,
  // exactly where the rows do.
  bool Finish() {
    uint8_t extra;
    if (fast_ && (staged_ > used_ || (!ended_ && InflateFast(&extra, 1) != 0))) throw TFastInflateFailed{};
    while (remaining_ > 0) {
      const size_t n = std::min<size_t>(remaining_, buffer_.size());
      if (ReadUpTo(stream_, buffer_.data(), n) != n) throw EPngUnexpectedEnd(PngText(65224));
      crc_ = PngUpdateCrc(crc_, buffer_.data(), n);
      remaining_ -= static_cast<uint32_t>(n);
    }
    if (crcPending_) CheckCrc();
    return true;
  }

  // The errors of the first chunk a reader meets on its construction,
  // raised before any pixel is allocated; the stream stays where it was.
  static void CheckFirst(TStream& Stream, uint32_t Size) {
    if (static_cast<int64_t>(Size) + 4 > Stream.Remaining()) throw EPngUnexpectedEnd(PngText(65224));
    if (Size > 0) return;
    const int64_t at = Stream.Position();
    uint8_t b[4];
    if (ReadUpTo(Stream, b, 4) != 4) throw EPngUnexpectedEnd(PngText(65224));
    if (Be32(b) != (PngUpdateCrc(0xFFFFFFFFu, kIdat, 4) ^ 0xFFFFFFFFu)) throw EPngInvalidCRC(PngText(65243));
    Stream.SetPosition(at);
  }

  [[noreturn]] static void Fail(int Rc) { throw EPNGZLIBError(PngText(65246) + zError(Rc)); }

 private:
  // The fast inflater keeps the last 32 KB it wrote for the next call, a
  // copy that costs next to nothing only when a call writes much more: it
  // inflates into a block of its own, where the rows are read in place.
  // A block holds whole rows, so that a pass's rows start at its beginning
  // and none is moved.
  const uint8_t* NextFast(size_t Count) {
    if (staged_ - used_ < Count) {
      const size_t left = staged_ - used_;
      std::memmove(stage_.data(), stage_.data() + used_, left);
      used_ = 0;
      staged_ = left;
      if (stage_.size() < Count) stage_.resize(Count);
      const size_t fill = stage_.size() / Count * Count;
      if (!ended_) staged_ = left + InflateFast(stage_.data() + left, fill - left);
      if (staged_ < Count) return nullptr;
    }
    used_ += Count;
    return stage_.data() + used_ - Count;
  }

  // Fills Out with up to Count bytes, fewer only where the stream ends.
  size_t InflateFast(uint8_t* Out, size_t Count) {
    inflate_state& s = *fast_;
    s.next_out = Out;
    s.avail_out = static_cast<uint32_t>(Count);
    while (s.avail_out > 0 && !ended_) {
      if (s.avail_in == 0) {
        const size_t n = Refill();
        // zlib checks the header's check bits, method and window size and
        // refuses a preset dictionary; the fast inflater leaves such
        // streams to it.
        if (!headerSeen_) {
          const uint8_t* h = buffer_.data();
          if (n < 2 || (h[0] << 8 | h[1]) % 31 != 0 || (h[0] & 0x0F) != 8 || (h[0] >> 4) > 7 || (h[1] & 0x20) != 0)
            throw TFastInflateFailed{};
          headerSeen_ = true;
        }
        s.next_in = buffer_.data();
        s.avail_in = static_cast<uint32_t>(n);
      }
      const uint32_t in = s.avail_in, out = s.avail_out;
      if (isal_inflate(&s) != ISAL_DECOMP_OK) throw TFastInflateFailed{};
      if (s.block_state == ISAL_BLOCK_FINISH) ended_ = true;
      else if (s.avail_in == in && s.avail_out == out) throw TFastInflateFailed{};
    }
    return Count - s.avail_out;
  }

  void CheckCrc() {
    uint8_t b[4];
    crcPending_ = false;
    if (ReadUpTo(stream_, b, 4) != 4) throw EPngUnexpectedEnd(PngText(65224));
    if (Be32(b) != (crc_ ^ 0xFFFFFFFFu)) throw EPngInvalidCRC(PngText(65243));
  }

  // The next input bytes, at the start of buffer_. The CRC of a chunk is
  // checked as soon as its last byte is read, so that damaged data is
  // reported as such before the inflater sees it.
  size_t Refill() {
    while (remaining_ == 0) {
      uint8_t head[8];
      if (ReadUpTo(stream_, head, 8) != 8) throw EPngUnexpectedEnd(PngText(65224));
      if (std::memcmp(head + 4, kIdat, 4) != 0) throw EPNGMissingMultipleIDAT(PngText(65245));
      remaining_ = Be32(head);
      if (static_cast<int64_t>(remaining_) + 4 > end_ - stream_.Position()) throw EPngUnexpectedEnd(PngText(65224));
      crc_ = PngUpdateCrc(0xFFFFFFFFu, kIdat, 4);
      crcPending_ = true;
      if (remaining_ == 0) CheckCrc();
    }
    const size_t n = std::min<size_t>(remaining_, buffer_.size());
    if (ReadUpTo(stream_, buffer_.data(), n) != n) throw EPngUnexpectedEnd(PngText(65224));
    crc_ = PngUpdateCrc(crc_, buffer_.data(), n);
    remaining_ -= static_cast<uint32_t>(n);
    if (remaining_ == 0) CheckCrc();
    return n;
  }

  TStream& stream_;
  const int64_t end_;  // the stream's size, asked once
  uint32_t remaining_;
  uint32_t crc_;
  std::vector<uint8_t> buffer_;
  z_stream z_{};
  std::unique_ptr<inflate_state> fast_;
  std::vector<uint8_t> stage_;
  size_t staged_ = 0, used_ = 0;
  bool ended_ = false;
  bool crcPending_ = true;
  bool headerSeen_ = false;
};

// The data bytes of the run of IDAT chunks that starts with the current one
// (Size bytes, its data next in the stream), counted no further than Enough
// (a walk over every chunk header of a large file costs a read of it); the
// stream is left where it was.
int64_t IdatBytesPresent(TStream& Stream, uint32_t Size, int64_t Enough = INT64_MAX) {
  const int64_t start = Stream.Position();
  const int64_t end = Stream.Size();
  // Lengths count only as far as the file holds them.
  int64_t total = std::min<int64_t>(Size, end - start);
  int64_t pos = start + static_cast<int64_t>(Size) + 4;
  uint8_t head[8];
  while (pos + 8 <= end && total < Enough) {
    Stream.SetPosition(pos);
    if (ReadUpTo(Stream, head, 8) != 8 || std::memcmp(head + 4, kIdat, 4) != 0) break;
    total += std::min<int64_t>(Be32(head), end - pos - 8);
    pos += 12 + static_cast<int64_t>(Be32(head));
  }
  Stream.SetPosition(start);
  return total;
}

struct TPassSize {
  int64_t Width, Height;
};

TPassSize PassSize(const TChunkIHDR& H, const TPass& Pass) {
  return {(static_cast<int64_t>(H.Width) - Pass.X0 + Pass.DX - 1) / Pass.DX,
          (static_cast<int64_t>(H.Height) - Pass.Y0 + Pass.DY - 1) / Pass.DY};
}

// Reads the run of IDAT chunks that starts with the current one (Size bytes,
// its data next) into Data, which reserves Bound bytes, at least the run. True
// when every chunk of the run is whole with its CRC right; the stream is then
// left after the run, as the chunk reader would leave it after skipping the
// chunks the inflater did not need.
bool ReadIdatRun(TStream& Stream, uint32_t Size, int64_t Bound, std::vector<uint8_t>& Data) {
  Data.reserve(static_cast<size_t>(Bound));
  const int64_t end = Stream.Size();
  for (;;) {
    if (static_cast<int64_t>(Size) + 4 > end - Stream.Position()) return false;
    const size_t at = Data.size();
    Data.resize(at + Size);
    uint8_t crc[4];
    if (ReadUpTo(Stream, Data.data() + at, Size) != Size || ReadUpTo(Stream, crc, 4) != 4) return false;
    const uint32_t want = PngUpdateCrc(PngUpdateCrc(0xFFFFFFFFu, kIdat, 4), Data.data() + at, Size) ^ 0xFFFFFFFFu;
    if (Be32(crc) != want) return false;
    uint8_t head[8];
    if (end - Stream.Position() < 8) return true;
    if (ReadUpTo(Stream, head, 8) != 8) return false;
    if (std::memcmp(head + 4, kIdat, 4) != 0) {
      Stream.Seek(-8, TSeekOrigin::soCurrent);
      return true;
    }
    Size = Be32(head);
  }
}

// The whole image data in one inflate, for a plain (not interlaced) picture
// whose sink lends its pixel memory: the filtered rows are inflated into the
// far end of it, and each row, unfiltered, is written at the near end. Row y
// ends where filtered row y + 1 begins at the latest, whether a filtered row
// is shorter than a written one or longer (then the rows start in the
// sink's spare memory past its last row), so no more memory than the
// canvas and the compressed data is needed. False, with the stream back at
// Start, when anything is not as a sound file has it (a bad CRC, data that
// ends early or runs on): the chunk-by-chunk path then meets the damage and
// reports it as it always did.
bool InflateWhole(TStream& Stream, int64_t Start, uint32_t Size, const TChunkIHDR& H, size_t RowBytes,
                  size_t Offset, TPngRowSink& Sink) {
  size_t stride = 0, bytes = 0;
  uint8_t* canvas = Sink.Canvas(stride, bytes);
  const size_t filtered = static_cast<size_t>(H.Height) * (RowBytes + 1);
  if (canvas == nullptr || filtered > bytes) return false;
  const int64_t resume = Stream.Position();
  Stream.SetPosition(Start);
  // The rest of the file bounds the run; memory reserved past it is never touched.
  const int64_t present = Stream.Size() - Start;
  std::vector<uint8_t> data;
  const uint8_t* const rows = canvas + bytes - filtered;
  bool ok = ReadIdatRun(Stream, Size, present, data);
  if (ok) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (d == nullptr) throw EPNGOutMemory(PngText(65229));
    size_t in = 0, out = 0;
    ok = libdeflate_zlib_decompress_ex(d, data.data(), data.size(), canvas + bytes - filtered, filtered, &in,
                                       &out) == LIBDEFLATE_SUCCESS &&
         out == filtered;
    libdeflate_free_decompressor(d);
  }
  if (!ok) {
    Stream.SetPosition(resume);
    return false;
  }
  std::vector<uint8_t>().swap(data);
  // Each row is unfiltered from the canvas straight into a row of its own,
  // converted while it is in cache, and written over the rows read.
  std::vector<uint8_t> cur(RowBytes), prev(RowBytes, 0);
  for (uint32_t y = 0; y < H.Height; ++y) {
    const uint8_t* src = rows + static_cast<size_t>(y) * (RowBytes + 1);
    PngUnfilterRow(src[0], cur.data(), src + 1, prev.data(), RowBytes, Offset);
    Sink.Row(cur.data(), static_cast<int32_t>(H.Width), static_cast<int32_t>(y), 0, 1);
    std::swap(cur, prev);
  }
  return true;
}

// Inflates the image data chunk by chunk, pass by pass and row by row into
// Sink; Fast as TIdatReader.
bool StreamRows(const TChunkIHDR& H, TStream& Stream, uint32_t Size, TPngRowSink& Sink, size_t Offset,
                uint8_t Depth, size_t Expected, bool Fast) {
  TIdatReader reader(Stream, Size, Fast, Expected);
  const bool adam7 = H.InterlaceMethod == 1;
  const size_t fullRow = static_cast<size_t>(RowBytesOf(H.Width, H.ColorType, Depth));
  std::vector<uint8_t> raw(fullRow + 1), cur(fullRow), prev(fullRow);
  for (int p = 0; p < (adam7 ? 7 : 1); ++p) {
    const TPass pass = adam7 ? kAdam7[p] : TPass{0, 0, 1, 1};
    const TPassSize ps = PassSize(H, pass);
    if (ps.Width <= 0 || ps.Height <= 0) continue;
    const size_t rowBytes = static_cast<size_t>(RowBytesOf(ps.Width, H.ColorType, Depth));
    std::fill(prev.begin(), prev.begin() + static_cast<ptrdiff_t>(rowBytes), 0);
    for (int64_t r = 0; r < ps.Height; ++r) {
      // Data that ends before the last row is damaged: no picture with
      // missing rows passes as read.
      const uint8_t* row = reader.Next(rowBytes + 1, raw.data());
      if (row == nullptr) TIdatReader::Fail(Z_DATA_ERROR);
      PngUnfilterRow(row[0], cur.data(), row + 1, prev.data(), rowBytes, Offset);
      Sink.Row(cur.data(), static_cast<int32_t>(ps.Width), static_cast<int32_t>(pass.Y0 + r * pass.DY), pass.X0,
               pass.DX);
      std::swap(cur, prev);
    }
  }
  return reader.Finish();
}

}  // namespace

bool DecodePngImageData(TPNGObject& Png, TChunkIHDR& H, TStream& Stream, uint32_t Size, TPngRowSink* Sink) {
  const uint8_t depth = FileDepth(H, false);
  const size_t offset = static_cast<size_t>(OffsetOf(H.ColorType, depth));
  const bool adam7 = H.InterlaceMethod == 1;
  const int passes = adam7 ? 7 : 1;
  // What the rows need from the inflater; a file whose data cannot expand
  // to that much is damaged, and is refused before any pixel is allocated.
  int64_t needed = 0;
  for (int p = 0; p < passes; ++p) {
    const TPassSize ps = PassSize(H, adam7 ? kAdam7[p] : TPass{0, 0, 1, 1});
    if (ps.Width > 0 && ps.Height > 0) needed += ps.Height * (RowBytesOf(ps.Width, H.ColorType, depth) + 1);
  }
  if (needed > IdatBytesPresent(Stream, Size, (needed + kMaxZlibRatio - 1) / kMaxZlibRatio) * kMaxZlibRatio)
    TIdatReader::Fail(Z_DATA_ERROR);

  const int64_t start = Stream.Position();
  TIdatReader::CheckFirst(Stream, Size);
  H.BuildGreyPalette();
  TStoreSink store;
  TPngRowSink& sink = Sink ? *Sink : store;
  sink.Begin(Png, H, adam7 ? 0 : static_cast<size_t>(needed));
  const int64_t fullRow = RowBytesOf(H.Width, H.ColorType, depth);
  if (!adam7 && InflateWhole(Stream, start, Size, H, static_cast<size_t>(fullRow), offset, sink)) return true;
  // The rest streams through the fast inflater; whatever it leaves is
  // decoded again from the start with zlib, which writes every row anew.
  try {
    StreamRows(H, Stream, Size, sink, offset, depth, static_cast<size_t>(needed), true);
    return true;
  } catch (const TFastInflateFailed&) {
  } catch (const Exception&) {
  }
  Stream.SetPosition(start);
  return StreamRows(H, Stream, Size, sink, offset, depth, static_cast<size_t>(needed), false);
}

// ---- Rows to 0xAARRGGBB ------------------------------------------------------

namespace {

using TConv = TPngArgbConverter;

uint32_t Opaque(uint8_t R, uint8_t G, uint8_t B) {
  return 0xFF000000u | static_cast<uint32_t>(R) << 16 | static_cast<uint32_t>(G) << 8 | B;
}

// Grey and palette pictures of up to 8 bits: one table lookup per pixel.
template <int Bits>
void ConvIndexed(const TConv& C, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  if constexpr (Bits == 8) {
    for (int32_t i = 0; i < Count; ++i) Dst[i] = C.Table[Src[i]];
  } else {
    constexpr int perByte = 8 / Bits;
    constexpr uint32_t mask = (1u << Bits) - 1;
    for (int32_t i = 0; i < Count; ++i)
      Dst[i] = C.Table[(Src[i / perByte] >> (8 - Bits - (i % perByte) * Bits)) & mask];
  }
}

void ConvGrey16(const TConv& C, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t* s = Src + i * 2;
    uint32_t c = C.Table[s[0]];
    if (C.Keyed && (s[0] << 8 | s[1]) == C.Key[0]) c &= 0x00FFFFFFu;
    Dst[i] = c;
  }
}

template <int Step>
void ConvGreyAlpha(const TConv& C, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t* s = Src + i * 2 * Step;
    Dst[i] = (C.Table[s[0]] & 0x00FFFFFFu) | static_cast<uint32_t>(s[Step]) << 24;
  }
}

void ConvRgb8Plain(const TConv&, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  PngRowFamily().Rgb8(Src, Dst, static_cast<size_t>(Count));
}

void ConvRgba8Plain(const TConv&, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i, Src += 4)
    Dst[i] = static_cast<uint32_t>(Src[3]) << 24 | static_cast<uint32_t>(Src[0]) << 16 |
             static_cast<uint32_t>(Src[1]) << 8 | Src[2];
}

// Colour without a gamma table to apply: 16-bit samples by their high byte.
void ConvRgb16Plain(const TConv&, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  PngRowFamily().Rgb16(Src, Dst, static_cast<size_t>(Count));
}

void ConvRgba16Plain(const TConv&, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i, Src += 8)
    Dst[i] = static_cast<uint32_t>(Src[6]) << 24 | static_cast<uint32_t>(Src[0]) << 16 |
             static_cast<uint32_t>(Src[2]) << 8 | Src[4];
}

template <int Step>
void ConvRgb(const TConv& C, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  const uint8_t* g = C.Gamma;
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t* s = Src + i * 3 * Step;
    uint32_t c = Opaque(g[s[0]], g[s[Step]], g[s[2 * Step]]);
    if (C.Keyed) {
      const auto sample = [&](int k) { return Step == 2 ? s[k * 2] << 8 | s[k * 2 + 1] : s[k]; };
      if (sample(0) == C.Key[0] && sample(1) == C.Key[1] && sample(2) == C.Key[2]) c &= 0x00FFFFFFu;
    }
    Dst[i] = c;
  }
}

template <int Step>
void ConvRgba(const TConv& C, const uint8_t* Src, uint32_t* Dst, int32_t Count) {
  const uint8_t* g = C.Gamma;
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t* s = Src + i * 4 * Step;
    Dst[i] = (Opaque(g[s[0]], g[s[Step]], g[s[2 * Step]]) & 0x00FFFFFFu) | static_cast<uint32_t>(s[3 * Step]) << 24;
  }
}

TConv::TFn IndexedFn(uint8_t Depth) {
  switch (Depth) {
    case 1: return ConvIndexed<1>;
    case 2: return ConvIndexed<2>;
    case 4: return ConvIndexed<4>;
    default: return ConvIndexed<8>;
  }
}

}  // namespace

void TPngArgbConverter::Prepare(const TPNGObject& Png, const TChunkIHDR& H) {
  Depth = H.BitDepth;
  std::memcpy(Gamma, Png.GammaTable, 256);
  bool plainGamma = true;
  for (int i = 0; i < 256; ++i) plainGamma &= Gamma[i] == i;
  const int32_t mode = Png.TransparencyMode();
  Keyed = mode == 1 && (H.ColorType == 0 || H.ColorType == 2);
  const auto* trns = dynamic_cast<const TChunktRNS*>(Png.Chunks().FindChunk("tRNS"));
  if (Keyed && trns) {
    // Samples narrower than 16 bits compare with the key's low bits, as
    // other readers do with keys that overflow the depth.
    const uint32_t mask = Depth == 16 ? 0xFFFFu : (1u << Depth) - 1;
    for (int k = 0; k < (H.ColorType == 2 ? 3 : 1); ++k)
      Key[k] = static_cast<uint16_t>((trns->PaletteValues[k * 2] << 8 | trns->PaletteValues[k * 2 + 1]) & mask);
  }
  switch (H.ColorType) {
    case 0: {
      // The table is indexed by the file's sample (the high byte at 16 bits);
      // the store's grey levels hold the gamma-corrected colours.
      const int32_t n = Depth == 16 ? 256 : 1 << Depth;
      for (int32_t v = 0; v < n; ++v) {
        const uint32_t level = Depth == 2 ? static_cast<uint32_t>(v) * 5 : static_cast<uint32_t>(v);
        Table[v] = 0xFF000000u | H.Store.Palette[level];
      }
      if (Keyed && Depth < 16) Table[Key[0]] &= 0x00FFFFFFu;
      fn_ = Depth == 16 ? ConvGrey16 : IndexedFn(Depth);
      break;
    }
    case 3: {
      const uint32_t key = static_cast<uint32_t>(Png.TransparentColor());
      const uint32_t keyRgb = (key & 0xFF) << 16 | (key & 0xFF00) | ((key >> 16) & 0xFF);
      for (int32_t v = 0; v < 256; ++v) {
        Table[v] = 0xFF000000u | H.Store.Palette[v];
        if (mode == 1 && H.Store.Palette[v] == keyRgb) Table[v] &= 0x00FFFFFFu;
      }
      fn_ = IndexedFn(Depth);
      break;
    }
    case 4:
      for (int32_t v = 0; v < 256; ++v) Table[v] = 0xFF000000u | H.Store.Palette[v];
      fn_ = Depth == 16 ? ConvGreyAlpha<2> : ConvGreyAlpha<1>;
      break;
    case 2:
      if (plainGamma && !Keyed) fn_ = Depth == 16 ? ConvRgb16Plain : ConvRgb8Plain;
      else fn_ = Depth == 16 ? ConvRgb<2> : ConvRgb<1>;
      break;
    default:
      if (plainGamma) fn_ = Depth == 16 ? ConvRgba16Plain : ConvRgba8Plain;
      else fn_ = Depth == 16 ? ConvRgba<2> : ConvRgba<1>;
      break;
  }
}

namespace {

// Cuts the compressed stream into IDAT chunks of MaxIdatSize data bytes, the
// last one shorter (and one empty chunk for an empty stream).
class TIdatWriter {
 public:
  TIdatWriter(TStream& Stream, size_t ChunkSize) : stream_(Stream), size_(ChunkSize) { out_.reserve(ChunkSize); }

  void Write(const uint8_t* Data, size_t Size) {
    while (Size > 0) {
      const size_t n = std::min(Size, size_ - out_.size());
      out_.insert(out_.end(), Data, Data + n);
      Data += n;
      Size -= n;
      if (out_.size() == size_) Emit();
    }
  }
  void Finish() {
    if (!out_.empty() || !wroteAny_) Emit();
  }

 private:
  void Emit() {
    uint8_t head[8];
    PutBe32(head, static_cast<uint32_t>(out_.size()));
    std::memcpy(head + 4, kIdat, 4);
    uint32_t crc = PngUpdateCrc(0xFFFFFFFFu, kIdat, 4);
    crc = PngUpdateCrc(crc, out_.data(), out_.size());
    uint8_t tail[4];
    PutBe32(tail, crc ^ 0xFFFFFFFFu);
    stream_.WriteBuffer(head, 8);
    if (!out_.empty()) stream_.WriteBuffer(out_.data(), out_.size());
    stream_.WriteBuffer(tail, 4);
    wroteAny_ = true;
    out_.clear();
  }

  TStream& stream_;
  size_t size_;
  std::vector<uint8_t> out_;
  bool wroteAny_ = false;
};

// Counts the positions j >= 2 whose byte repeats one of the two before it.
int64_t FilterScore(const uint8_t* Out, size_t RowBytes) {
  int64_t score = 0;
  for (size_t j = 2; j < RowBytes; ++j)
    if (Out[j] == Out[j - 1] || Out[j] == Out[j - 2]) ++score;
  return score;
}

// Filters file rows of one pass. Each row's choice depends only on its own
// bytes and the row above, so rows can be filtered on any thread in any order
// and give the same bytes.
class TRowFilter {
 public:
  TRowFilter(const TPNGObject& Png, const TChunkIHDR& H, const TPass& Pass, int64_t PassWidth, size_t RowBytes)
      : png_(Png), h_(H), pass_(Pass), pw_(PassWidth), n_(RowBytes), offset_(static_cast<size_t>(OffsetOf(H.ColorType, FileDepth(H, true)))),
        set_(Png.Filters & 0x1F) {}

  // Writes pass rows [First, Last) filtered, n + 1 bytes each, to Out.
  void Filter(int64_t First, int64_t Last, uint8_t* Out) const {
    std::vector<uint8_t> raw(n_), prev(n_, 0);
    std::vector<uint8_t> outs[5];
    for (int f = 0; f < 5; ++f)
      if (set_ & (1 << f)) outs[f].resize(n_ + 1);
    if (First > 0) Store(First - 1, prev.data());
    for (int64_t r = First; r < Last; ++r, Out += n_ + 1) {
      Store(r, raw.data());
      for (int f = 0; f < 5; ++f) {
        if (outs[f].empty()) continue;
        uint8_t* o = outs[f].data() + 1;
        outs[f][0] = static_cast<uint8_t>(f);
        for (size_t x = 0; x < n_; ++x) {
          const int32_t a = x >= offset_ ? raw[x - offset_] : 0, b = prev[x], c = x >= offset_ ? prev[x - offset_] : 0;
          int32_t pred = 0;
          switch (f) {
            case 1: pred = a; break;
            case 2: pred = b; break;
            case 3: pred = (a + b) / 2; break;
            case 4: pred = Paeth(a, b, c); break;
            default: break;
          }
          o[x] = static_cast<uint8_t>(raw[x] - pred);
        }
      }
      const uint8_t* chosen = nullptr;
      if (set_ != 0 && set_ != pfNone) {
        int64_t best = 0;
        for (int f = 0; f < 5; ++f) {
          if (!(set_ & (1 << f))) continue;
          if (set_ == (1 << f)) {
            chosen = outs[f].data();
            break;
          }
          const int64_t score = FilterScore(outs[f].data() + 1, n_);
          if (score > best) {
            best = score;
            chosen = outs[f].data();
          }
        }
      }
      if (chosen == nullptr) {
        Out[0] = 0;
        std::copy(raw.begin(), raw.end(), Out + 1);
      } else {
        std::copy(chosen, chosen + n_ + 1, Out);
      }
      raw.swap(prev);
    }
  }

 private:
  void Store(int64_t Row, uint8_t* Dst) const {
    std::fill(Dst, Dst + n_, 0);
    StoreToRow(png_, h_, Dst, pw_, static_cast<int32_t>(pass_.Y0 + Row * pass_.DY), pass_.X0, pass_.DX);
  }

  const TPNGObject& png_;
  const TChunkIHDR& h_;
  TPass pass_;
  int64_t pw_;
  size_t n_, offset_;
  uint8_t set_;
};

// The filtered stream of the whole picture, pass after pass, as rows
// counted from 0 across the passes.
class TFilteredStream {
 public:
  TFilteredStream(const TPNGObject& Png, const TChunkIHDR& H) {
    const uint8_t depth = FileDepth(H, true);
    const bool adam7 = Png.InterlaceMethod == imAdam7;
    for (int p = 0; p < (adam7 ? 7 : 1); ++p) {
      const TPass pass = adam7 ? kAdam7[p] : TPass{0, 0, 1, 1};
      const TPassSize ps = PassSize(H, pass);
      if (ps.Width <= 0 || ps.Height <= 0) continue;
      const size_t n = static_cast<size_t>(RowBytesOf(ps.Width, H.ColorType, depth));
      parts_.push_back({std::make_unique<TRowFilter>(Png, H, pass, ps.Width, n), rows_, ps.Height, n + 1});
      rows_ += ps.Height;
    }
  }
  int64_t Rows() const { return rows_; }
  size_t RowSize(int64_t Row) const { return PartOf(Row).RowSize; }
  // The row after the last one of Row's pass.
  int64_t PassEnd(int64_t Row) const { return PartOf(Row).First + PartOf(Row).Count; }
  // Appends rows [First, Last), filtered, to Out.
  void Filter(int64_t First, int64_t Last, std::vector<uint8_t>& Out) const {
    while (First < Last) {
      const TPart& part = PartOf(First);
      const int64_t end = std::min(Last, part.First + part.Count);
      const size_t at = Out.size();
      Out.resize(at + static_cast<size_t>(end - First) * part.RowSize);
      part.Filter->Filter(First - part.First, end - part.First, Out.data() + at);
      First = end;
    }
  }

 private:
  struct TPart {
    std::unique_ptr<TRowFilter> Filter;
    int64_t First, Count;
    size_t RowSize;
  };
  const TPart& PartOf(int64_t Row) const {
    size_t i = 0;
    while (i + 1 < parts_.size() && Row >= parts_[i + 1].First) ++i;
    return parts_[i];
  }
  std::vector<TPart> parts_;
  int64_t rows_ = 0;
};

// One block of rows deflated on its own: the first as the start of a zlib
// stream, the others as bare deflate data that may refer to the 32 KB of the
// stream before them, which they are given as their dictionary. Every block
// but the last ends with a sync flush, on a byte boundary, so the blocks
// laid end to end are one deflate stream; the last finishes it.
struct TDeflatedBlock {
  std::vector<uint8_t> Bytes;
  uint32_t Adler = 1;
  size_t Size = 0;
};

void DeflateBlock(const uint8_t* Dict, size_t DictSize, const uint8_t* Data, size_t Size, int Level, bool First,
                  bool Last, TDeflatedBlock& Out) {
  z_stream z{};
  const int rc = First ? deflateInit(&z, Level) : deflateInit2(&z, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) throw EPNGOutMemory(PngText(65229));
  try {
    if (DictSize > 0 && deflateSetDictionary(&z, Dict, static_cast<uInt>(DictSize)) != Z_OK)
      throw EPNGZLIBError(PngText(65246) + zError(Z_STREAM_ERROR));
    Out.Bytes.resize(deflateBound(&z, Size) + 16);
    z.next_in = const_cast<uint8_t*>(Data);
    z.avail_in = static_cast<uInt>(Size);
    size_t done = 0;
    for (;;) {
      z.next_out = Out.Bytes.data() + done;
      z.avail_out = static_cast<uInt>(Out.Bytes.size() - done);
      const int r = deflate(&z, Last ? Z_FINISH : Z_SYNC_FLUSH);
      if (r == Z_STREAM_ERROR) throw EPNGZLIBError(PngText(65246) + zError(r));
      done = Out.Bytes.size() - z.avail_out;
      if (Last ? r == Z_STREAM_END : z.avail_out > 0) break;
      Out.Bytes.resize(Out.Bytes.size() * 2);
    }
    Out.Bytes.resize(done);
  } catch (...) {
    deflateEnd(&z);
    throw;
  }
  deflateEnd(&z);
  Out.Adler = libdeflate_adler32(1, Data, Size);
  Out.Size = Size;
}

}  // namespace

int64_t PngDeflateBlockRows(size_t RowSize) {
  return std::max<int64_t>(1, static_cast<int64_t>(kPngDeflateBlockBytes / RowSize));
}

bool EncodePngImageData(const TPNGObject& Png, const TChunkIHDR& H, TStream& Stream) {
  const TFilteredStream rows(Png, H);
  // Blocks of whole rows, never across passes, their bounds set by the
  // picture alone so that any number of threads writes the same file.
  struct TBlock {
    int64_t First, Last;
  };
  std::vector<TBlock> blocks;
  for (int64_t r = 0; r < rows.Rows();) {
    const int64_t end = std::min(rows.PassEnd(r), r + PngDeflateBlockRows(rows.RowSize(r)));
    blocks.push_back({r, end});
    r = end;
  }
  if (blocks.empty()) blocks.push_back({0, 0});
  const int level = Png.CompressionLevel();
  std::vector<TDeflatedBlock> out(blocks.size());
  ParallelSpans(blocks.size(), 1, [&](size_t FirstBlock, size_t LastBlock) {
    std::vector<uint8_t> buf;
    for (size_t k = FirstBlock; k < LastBlock; ++k) {
      // The rows before the block that hold its 32 KB dictionary.
      int64_t from = blocks[k].First;
      size_t before = 0;
      while (from > 0 && before < kDeflateWindow) before += rows.RowSize(--from);
      buf.clear();
      rows.Filter(from, blocks[k].Last, buf);
      const size_t dict = std::min(before, kDeflateWindow);
      DeflateBlock(buf.data() + before - dict, dict, buf.data() + before, buf.size() - before, level, k == 0,
                   k + 1 == blocks.size(), out[k]);
    }
  });
  TIdatWriter writer(Stream, static_cast<size_t>(Png.MaxIdatSize()));
  uint32_t adler = out.empty() ? 1 : out[0].Adler;
  for (size_t k = 0; k < out.size(); ++k) {
    writer.Write(out[k].Bytes.data(), out[k].Bytes.size());
    if (k > 0) adler = static_cast<uint32_t>(adler32_combine(adler, out[k].Adler, static_cast<z_off_t>(out[k].Size)));
    std::vector<uint8_t>().swap(out[k].Bytes);
  }
  // A single block is a whole zlib stream; after several, the stream's
  // check value covers them all.
  if (out.size() > 1) {
    uint8_t tail[4];
    PutBe32(tail, adler);
    writer.Write(tail, 4);
  }
  writer.Finish();
  return true;
}
