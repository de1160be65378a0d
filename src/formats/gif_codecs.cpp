// GIF codecs: the LZW decoder, the sub-block writer and the two encoders.
//
// Interlaced frames unwind each string from the prefix and suffix tables;
// the others copy it from where the output already holds it, since every
// table string was written once before (see DecodeLinear). Codes are
// read from a small buffer that holds one sub-block behind the last two
// bytes of the one before: a code never spans more than 12 bits, so those two
// bytes are all a code can still need from older blocks, and a refill is
// repeated until the code is whole, however short the sub-blocks are.
#include "gif_codecs.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "img_fileio.h"

namespace {

constexpr int32_t kMaxCodes = 4096;

class TGIFDecoder {
 public:
  TGIFDecoder(TStream& Stream, const TGIFWarning& Warning) : s_(Stream), warning_(Warning) {}
  void Decode(uint8_t* Pixels, int32_t Width, int32_t Height, bool Interlaced, uint8_t Fill);

 private:
  void Warn(const char* Message) {
    // One warning per frame: a damaged stream would otherwise repeat itself.
    if (warned_) return;
    warned_ = true;
    if (warning_) warning_(this, 1, Message);
  }
  bool Refill();
  // The next code of Size bits; -1 when the data ends before the code does.
  inline int32_t ReadCode(int32_t Size);
  void ResetTable();
  void SkipRest();
  void DecodeRows(uint8_t* Pixels, int32_t Width, int32_t Height);
  // Returns how many pixels it wrote.
  size_t DecodeLinear(uint8_t* Pixels, size_t Total);
  // A new table entry: Old's string followed by First; in the linear decoder
  // its bytes stand in the output at Pos.
  inline void AddEntry(int32_t Old, uint8_t First, size_t Pos) {
    if (next_ >= kMaxCodes) return;
    // Every entry's prefix is an older code; anything else would make the
    // table walk loop.
    if (Old >= next_) throw GIFException("Circular decoder table entry");
    prefix_[next_] = static_cast<uint16_t>(Old);
    suffix_[next_] = First;
    first_[next_] = first_[Old];
    length_[next_] = static_cast<uint16_t>(length_[Old] + 1);
    place_[next_] = Pos;
    ++next_;
    if (next_ >= limit_ && limit_ < kMaxCodes) {
      limit_ *= 2;
      ++size_;
    }
  }

  TStream& s_;
  const TGIFWarning& warning_;
  bool warned_ = false;
  int32_t clear_ = 0, eoi_ = 0, size_ = 0, initSize_ = 0, limit_ = 0, next_ = 0;
  uint8_t buf_[280] = {};
  int32_t pos_ = 16, last_ = 16;  // bit position and end of valid bits in buf_
  bool done_ = false, zeroBlock_ = false;
  uint16_t prefix_[kMaxCodes];
  uint8_t suffix_[kMaxCodes];
  uint8_t first_[kMaxCodes];
  uint16_t length_[kMaxCodes];
  size_t place_[kMaxCodes];  // where each entry's string stands in the output
};

// Keeps the last two bytes and appends the next sub-block behind them. At the
// end of the data only the bits actually read count.
bool TGIFDecoder::Refill() {
  const int32_t bytes = last_ >> 3;
  buf_[0] = buf_[bytes - 2];
  buf_[1] = buf_[bytes - 1];
  uint8_t n = 0;
  if (ReadUpTo(s_, &n, 1) != 1) {
    done_ = true;
    pos_ = pos_ - last_ + 16;
    last_ = 16;
    return false;
  }
  size_t got = 0;
  if (n == 0) {
    zeroBlock_ = done_ = true;
  } else {
    got = ReadUpTo(s_, buf_ + 2, n);
    if (got < n) Warn("Premature end of data");
  }
  pos_ = pos_ - last_ + 16;
  last_ = static_cast<int32_t>(2 + got) * 8;
  return true;
}

inline int32_t TGIFDecoder::ReadCode(int32_t Size) {
  while (pos_ + Size >= last_) {
    if (done_) {
      if (pos_ + Size <= last_) break;
      Warn("Decoder bit buffer under-run");
      return -1;
    }
    Refill();
  }
  const int32_t i = pos_ >> 3;
  const uint32_t v = uint32_t{buf_[i]} | uint32_t{buf_[i + 1]} << 8 | uint32_t{buf_[i + 2]} << 16;
  const int32_t code = static_cast<int32_t>((v >> (pos_ & 7)) & ((1u << Size) - 1));
  pos_ += Size;
  return code;
}

void TGIFDecoder::ResetTable() {
  size_ = initSize_ + 1;
  limit_ = clear_ * 2;
  next_ = clear_ + 2;
  for (int32_t i = 0; i < clear_; ++i) {
    prefix_[i] = 0;
    suffix_[i] = first_[i] = static_cast<uint8_t>(i);
    length_[i] = 1;
  }
}

// Skips the sub-blocks left up to the terminator, so the next block is read
// from its start even when the frame ended early or its data runs on.
void TGIFDecoder::SkipRest() {
  if (zeroBlock_) return;
  for (;;) {
    uint8_t n = 0;
    if (ReadUpTo(s_, &n, 1) != 1 || n == 0) return;
    const int64_t left = s_.Remaining();
    if (left <= n) {
      s_.Seek(0, TSeekOrigin::soEnd);
      return;
    }
    s_.Seek(n, TSeekOrigin::soCurrent);
  }
}

void TGIFDecoder::Decode(uint8_t* Pixels, int32_t Width, int32_t Height, bool Interlaced, uint8_t Fill) {
  const size_t total = Width > 0 && Height > 0 ? static_cast<size_t>(Width) * static_cast<size_t>(Height) : 0;
  uint8_t codeSize = 0;
  if (ReadUpTo(s_, &codeSize, 1) != 1) {
    // A frame of no pixels may have no buffer at all.
    if (total > 0) std::memset(Pixels, Fill, total);
    return;
  }
  // Larger sizes would make codes beyond the 4096-entry tables.
  if (codeSize > 11) throw GIFException("Invalid GIF data");
  initSize_ = codeSize;
  clear_ = 1 << codeSize;
  eoi_ = clear_ + 1;
  ResetTable();
  if (total > 0) {
    if (Interlaced) {
      std::memset(Pixels, Fill, total);
      DecodeRows(Pixels, Width, Height);
    } else {
      // What the data does not reach, including what the last short-string
      // copy wrote ahead, gets the fill.
      const size_t done = DecodeLinear(Pixels, total);
      std::memset(Pixels + done, Fill, total - done);
    }
  }
  SkipRest();
}

// Rows in file order: each string is unwound from the table into a buffer
// and handed out row by row.
void TGIFDecoder::DecodeRows(uint8_t* Pixels, int32_t Width, int32_t Height) {
  TGIFRowOrder rows(Height, true);
  const size_t w = static_cast<size_t>(Width);
  uint8_t* out = Pixels;
  uint8_t* rowEnd = Pixels + w;
  uint8_t temp[kMaxCodes + 1];
  auto put = [&](const uint8_t* Src, size_t N) -> bool {
    while (N > 0) {
      const size_t n = std::min(static_cast<size_t>(rowEnd - out), N);
      std::memcpy(out, Src, n);
      out += n;
      Src += n;
      N -= n;
      if (out == rowEnd) {
        rows.Next();
        if (rows.Finished()) return false;
        out = Pixels + static_cast<size_t>(rows.Row()) * w;
        rowEnd = out + w;
      }
    }
    return true;
  };
  int32_t old = -1;
  for (;;) {
    const int32_t code = ReadCode(size_);
    if (code < 0 || code == eoi_) break;  // the end code also right after a clear
    if (code == clear_) {
      ResetTable();
      old = -1;
      continue;
    }
    if (old < 0) {
      // The first code after a clear must be a plain colour.
      if (code > clear_) {
        Warn("Invalid GIF data");
        break;
      }
      const uint8_t c = static_cast<uint8_t>(code);
      if (!put(&c, 1)) break;
      old = code;
      continue;
    }
    if (code > next_) {
      Warn("Invalid GIF data");
      break;
    }
    const bool known = code < next_;
    const int32_t strCode = known ? code : old;
    const size_t len = static_cast<size_t>(length_[strCode]) + (known ? 0 : 1);
    const uint8_t firstByte = first_[strCode];
    uint8_t* p = temp + len - 1;
    if (!known) *p-- = firstByte;
    int32_t c = strCode;
    while (c >= clear_) {
      *p-- = suffix_[c];
      c = prefix_[c];
    }
    *p = static_cast<uint8_t>(c);
    AddEntry(old, firstByte, 0);
    old = code;
    if (!put(temp, len)) break;
  }
}

// Rows one after the other in memory: every table string already stands in
// the output (a new entry is the previous string plus the first byte of the
// current one), so a code is decoded by copying its bytes from where they
// were first written.
size_t TGIFDecoder::DecodeLinear(uint8_t* Pixels, size_t Total) {
  size_t o = 0;
  size_t prevPos = 0, prevLen = 0;  // where the previous code's string went
  int32_t old = -1;
  while (o < Total) {
    const int32_t code = ReadCode(size_);
    if (code < 0 || code == eoi_) break;
    if (code == clear_) {
      ResetTable();
      old = -1;
      continue;
    }
    size_t len;
    if (code < clear_) {
      len = 1;
      Pixels[o] = static_cast<uint8_t>(code);
    } else if (old < 0 || code > next_) {
      Warn("Invalid GIF data");
      break;
    } else {
      const bool known = code < next_;
      const size_t from = known ? place_[code] : prevPos;
      const size_t n = known ? length_[code] : prevLen;
      len = known ? n : n + 1;
      if (len > Total - o) {
        // The last string reaches past the frame: only its head is kept.
        std::memmove(Pixels + o, Pixels + from, std::min(n, Total - o));
        if (!known && n < Total - o) Pixels[o + n] = Pixels[prevPos];
        return Total;
      }
      if (n <= 16 && o + 16 <= Total && from + 16 <= Total) {
        // Short strings, the common case: one 16-byte move, loaded whole
        // before it is stored, so reading past the string's end is harmless.
        uint8_t chunk[16];
        std::memcpy(chunk, Pixels + from, 16);
        std::memcpy(Pixels + o, chunk, 16);
      } else {
        std::memcpy(Pixels + o, Pixels + from, n);
      }
      if (!known) Pixels[o + n] = Pixels[prevPos];
    }
    if (old >= 0) AddEntry(old, Pixels[o], prevPos);
    prevPos = o;
    prevLen = len;
    o += len;
    old = code;
  }
  return o;
}

}  // namespace

void TGIFRowOrder::Next() {
  static constexpr int32_t kStart[4] = {0, 4, 2, 1};
  static constexpr int32_t kStep[4] = {8, 8, 4, 2};
  if (!interlaced_) {
    ++row_;
    return;
  }
  row_ += kStep[pass_];
  while (row_ >= height_) {
    if (++pass_ >= 4) {
      row_ = height_;
      return;
    }
    row_ = kStart[pass_];
  }
}

void DecodeGIFImageData(TStream& Stream, uint8_t* Pixels, int32_t Width, int32_t Height, bool Interlaced,
                        uint8_t Fill, const TGIFWarning& Warning) {
  auto decoder = std::make_unique<TGIFDecoder>(Stream, Warning);
  decoder->Decode(Pixels, Width, Height, Interlaced, Fill);
}

// ---- Streams ---------------------------------------------------------------

size_t TGIFStream::Read(void*, size_t) { throw Exception("Invalid stream operation"); }
size_t TGIFStream::Write(const void*, size_t) { throw Exception("Invalid stream operation"); }
int64_t TGIFStream::Seek(int64_t, TSeekOrigin) { throw Exception("Invalid stream operation"); }
int64_t TGIFStream::Size() { throw Exception("Invalid stream operation"); }

TGIFWriter::~TGIFWriter() {
  // A failing stream has already raised once; a destructor must not raise again.
  try {
    if (count_ > 1) FlushBuffer();
  } catch (...) {
  }
}

size_t TGIFWriter::Write(const void* Buffer, size_t Count) {
  const uint8_t* p = static_cast<const uint8_t*>(Buffer);
  for (size_t i = 0; i < Count; ++i) PutByte(p[i]);
  return Count;
}

void TGIFWriter::FlushBuffer() {
  if (count_ <= 1) return;
  buffer_[0] = static_cast<uint8_t>(count_ - 1);
  const size_t n = static_cast<size_t>(count_);
  count_ = 1;
  out_.WriteBuffer(buffer_, n);
}

// ---- Encoder base -------------------------------------------------------------

void TGIFEncoder::Compress(TStream& Stream, int32_t BitsPerPixel, int32_t ColorCount, const uint8_t* Pixels,
                           bool Interlaced, int32_t Height, int32_t Width) {
  if (BitsPerPixel < 2) BitsPerPixel = 2;
  if (BitsPerPixel > 8) BitsPerPixel = 8;
  bitsPerPixel_ = BitsPerPixel;
  colorCount_ = ColorCount;
  width_ = Width;
  height_ = Height;
  interlaced_ = Interlaced;
  data_ = Pixels;
  initBitsPerCode_ = BitsPerPixel + 1;
  const uint8_t minCodeSize = static_cast<uint8_t>(BitsPerPixel);
  Stream.WriteBuffer(&minCodeSize, 1);
  clearCode_ = 1 << BitsPerPixel;
  eoiCode_ = clearCode_ + 1;
  baseCode_ = clearCode_ + 2;
  bitsPerCode_ = initBitsPerCode_;
  maxCode_ = (1 << bitsPerCode_) - 1;
  bucket_ = 0;
  bucketBits_ = 0;
  justCleared_ = false;
  rows_ = TGIFRowOrder(Height, Interlaced);
  pixel_ = Pixels;
  pixelsLeft_ = Interlaced ? int64_t{Width} : int64_t{Width} * Height;
  {
    TGIFWriter writer(Stream, warning_);
    writer_ = &writer;
    if (Pixels && Width >= 1 && Height >= 1) DoCompress();
    Output(eoiCode_);
    while (bucketBits_ > 0) {
      writer.PutByte(static_cast<uint8_t>(bucket_));
      bucket_ >>= 8;
      bucketBits_ = bucketBits_ > 8 ? bucketBits_ - 8 : 0;
    }
    writer.FlushBuffer();
    writer_ = nullptr;
  }
  const uint8_t terminator = 0;
  Stream.WriteBuffer(&terminator, 1);
}

void TGIFEncoder::Output(int32_t Code) {
  bucket_ = bucketBits_ > 0 ? (static_cast<uint32_t>(Code) << bucketBits_) | (bucket_ & ((1u << bucketBits_) - 1))
                            : static_cast<uint32_t>(Code);
  bucketBits_ += bitsPerCode_;
  while (bucketBits_ >= 8) {
    writer_->PutByte(static_cast<uint8_t>(bucket_));
    bucket_ >>= 8;
    bucketBits_ -= 8;
  }
}

void TGIFEncoder::Clear() {
  justCleared_ = true;
  Output(clearCode_);
}

bool TGIFEncoder::NextRow() {
  if (!interlaced_) return false;
  rows_.Next();
  if (rows_.Finished()) return false;
  pixel_ = data_ + static_cast<size_t>(rows_.Row()) * static_cast<size_t>(width_);
  pixelsLeft_ = width_;
  return true;
}

void TGIFEncoder::ColorNotInTable() { throw GIFException("Color not in color table"); }

// ---- LZW -----------------------------------------------------------------------

int32_t TLZWEncoder::Lookup(uint32_t Key, int32_t& Slot) const {
  int32_t i = static_cast<int32_t>(((Key >> 4) ^ Key) % kHashSize);
  const int32_t d = i == 0 ? 1 : kHashSize - i;
  for (;;) {
    const uint32_t e = table_[i];
    if (e == 0xFFFFFFFFu) {
      Slot = i;
      return -1;
    }
    if ((e >> 12) == Key) return static_cast<int32_t>(e & 0xFFF);
    i -= d;
    if (i < 0) i += kHashSize;
  }
}

void TLZWEncoder::Output(int32_t Code) {
  TGIFEncoder::Output(Code);
  if (justCleared_) {
    bitsPerCode_ = initBitsPerCode_;
    maxCode_ = (1 << bitsPerCode_) - 1;
    justCleared_ = false;
  } else if (nextCode_ > maxCode_) {
    ++bitsPerCode_;
    maxCode_ = bitsPerCode_ >= 12 ? kMaxCodes : (1 << bitsPerCode_) - 1;
  }
}

void TLZWEncoder::Clear() {
  TGIFEncoder::Clear();
  std::fill(std::begin(table_), std::end(table_), 0xFFFFFFFFu);
  nextCode_ = clearCode_ + 2;
}

void TLZWEncoder::DoCompress() {
  Clear();
  int32_t prefix = 0, c = 0;
  NextPixel(prefix);
  while (NextPixel(c)) {
    const uint32_t key = static_cast<uint32_t>(prefix) << 8 | static_cast<uint32_t>(c);
    int32_t slot = 0;
    const int32_t code = Lookup(key, slot);
    if (code >= 0) {
      prefix = code;
      continue;
    }
    Output(prefix);
    prefix = c;
    // 4095 stays unassigned: the table is cleared one code early.
    if (nextCode_ >= kMaxCodes - 1) {
      Clear();
    } else {
      table_[slot] = key << 12 | static_cast<uint32_t>(nextCode_);
      ++nextCode_;
    }
  }
  Output(prefix);
}

// ---- Run-length ----------------------------------------------------------------

int64_t GIFIsqrt(int64_t X) {
  if (X < 2) return X;
  int64_t r = 1;
  for (int64_t v = X; v > 0; v >>= 2) r <<= 1;
  for (;;) {
    const int64_t v = (X / r + r) / 2;
    if (v == r || v == r + 1) return r;
    r = v;
  }
}

namespace {
// The staircase length of the short runs that make most of a picture: the
// least n with n (n + 1) / 2 >= Count, for Count below 4096.
struct TShortStairs {
  uint16_t n[4096];
  TShortStairs() {
    int64_t k = 0;
    for (int64_t c = 0; c < 4096; ++c) {
      while (k * (k + 1) < 2 * c) ++k;
      n[c] = static_cast<uint16_t>(k);
    }
  }
};
const TShortStairs kShortStairs;
}  // namespace

int64_t GIFTriangleCount(int64_t Count, int64_t RepCodes) {
  if (Count >= 0 && Count < 4096 && 2 * Count < RepCodes * (RepCodes + 1)) return kShortStairs.n[Count];
  int64_t cost = 0;
  const int64_t per = RepCodes * (RepCodes + 1) / 2;
  if (per > 0) {
    cost += (Count / per) * RepCodes;
    Count %= per;
  }
  if (Count > 0) {
    int64_t n = GIFIsqrt(Count);
    while (n * (n + 1) >= 2 * Count) --n;
    while (n * (n + 1) < 2 * Count) ++n;
    cost += n;
  }
  return cost;
}

void TRLEEncoder::Clear() {
  TGIFEncoder::Clear();
  outBump_ = outBumpInit_;
  outClear_ = outClearInit_;
  outCount_ = 0;
  rlTableMax_ = 0;
  bitsPerCode_ = initBitsPerCode_;
}

void TRLEEncoder::OutputPlain(int32_t Code) {
  justCleared_ = false;
  Output(Code);
  ++outCount_;
  if (outCount_ >= outBump_) {
    ++bitsPerCode_;
    outBump_ += int64_t{1} << (bitsPerCode_ - 1);
  }
  if (outCount_ >= outClear_) Clear();
}

void TRLEEncoder::ResetOutClear() {
  outClear_ = outClearInit_;
  if (outCount_ >= outClear_) Clear();
}

void TRLEEncoder::FlushFromClear(int64_t Count) {
  outClear_ = maxOcodes_;
  rlTablePixel_ = rlPixel_;
  int64_t n = 1;
  while (Count > 0) {
    if (n == 1) {
      rlTableMax_ = 1;
      OutputPlain(rlPixel_);
      --Count;
    } else if (Count >= n) {
      rlTableMax_ = n;
      OutputPlain(static_cast<int32_t>(baseCode_ + n - 2));
      Count -= n;
    } else if (Count == 1) {
      ++rlTableMax_;
      OutputPlain(rlPixel_);
      Count = 0;
    } else {
      ++rlTableMax_;
      OutputPlain(static_cast<int32_t>(baseCode_ + Count - 2));
      Count = 0;
    }
    n = outCount_ == 0 ? 1 : n + 1;
  }
  ResetOutClear();
}

void TRLEEncoder::FlushClearOrRep(int64_t Count) {
  const int64_t withClear = 1 + GIFTriangleCount(Count, maxOcodes_);
  if (withClear < Count) {
    Clear();
    FlushFromClear(Count);
  } else {
    for (; Count > 0; --Count) OutputPlain(rlPixel_);
  }
}

void TRLEEncoder::FlushWithTable(int64_t Count) {
  int64_t repMax = Count / rlTableMax_;
  int64_t leftover = Count % rlTableMax_;
  int64_t repLeft = leftover > 0 ? 1 : 0;
  if (outCount_ + repMax + repLeft > maxOcodes_) {
    repMax = maxOcodes_ - outCount_;
    leftover = Count - repMax * rlTableMax_;
    repLeft = 1 + GIFTriangleCount(leftover, maxOcodes_);
  }
  if (1 + GIFTriangleCount(Count, maxOcodes_) < repMax + repLeft) {
    Clear();
    FlushFromClear(Count);
    return;
  }
  outClear_ = maxOcodes_;
  for (; repMax > 0; --repMax) OutputPlain(static_cast<int32_t>(baseCode_ + rlTableMax_ - 2));
  if (leftover > 0) {
    if (justCleared_)
      FlushFromClear(leftover);
    else if (leftover == 1)
      OutputPlain(rlPixel_);
    else
      OutputPlain(static_cast<int32_t>(baseCode_ + leftover - 2));
  }
  ResetOutClear();
}

void TRLEEncoder::Flush(int64_t Count) {
  if (Count == 1)
    OutputPlain(rlPixel_);
  else if (justCleared_)
    FlushFromClear(Count);
  else if (rlTableMax_ < 2 || rlTablePixel_ != rlPixel_)
    FlushClearOrRep(Count);
  else
    FlushWithTable(Count);
}

void TRLEEncoder::DoCompress() {
  outBumpInit_ = clearCode_ - 1;
  // Small palettes clear after 9 codes: with clear - 2 they would clear
  // before a single table code could be used.
  outClearInit_ = bitsPerPixel_ <= 3 ? 9 : outBumpInit_ - 1;
  maxOcodes_ = (kMaxCodes - 1) - baseCode_;
  Clear();
  rlPixel_ = -1;
  int64_t count = 0;
  // Whole runs at a time, within the current row (or the whole image when it
  // is not interlaced); a run may go on in the next row.
  for (;;) {
    if (pixelsLeft_ <= 0 && !NextRow()) break;
    const uint8_t* p = pixel_;
    const uint8_t* end = p + pixelsLeft_;
    const int32_t c = *p;
    if (c >= colorCount_) ColorNotInTable();
    const uint8_t* q = p + 1;
    // Eight pixels per step while they all equal the run's colour.
    const uint64_t eight = uint64_t{0x0101010101010101u} * static_cast<uint8_t>(c);
    while (end - q >= 8) {
      uint64_t v;
      std::memcpy(&v, q, 8);
      const uint64_t diff = v ^ eight;
      if (diff != 0) {
        // The first different byte: the lowest one in memory order.
        q += (std::endian::native == std::endian::little ? __builtin_ctzll(diff) : __builtin_clzll(diff)) / 8;
        break;
      }
      q += 8;
    }
    while (q < end && *q == c) ++q;
    pixel_ = q;
    pixelsLeft_ -= q - p;
    if (count > 0 && c != rlPixel_) {
      Flush(count);
      count = 0;
    }
    rlPixel_ = c;
    count += q - p;
  }
  if (count > 0) Flush(count);
}
