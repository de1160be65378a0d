// In-memory bzip2 with the program's allocation hooks. The library counts
// bytes in 32-bit fields, so large buffers are handed to it in chunks of at
// most 1 GiB on both sides.
#include "bzip2.h"

#include <bzlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "raster_parallel.h"

namespace {

constexpr size_t kChunk = size_t{1} << 30;

extern "C" void* BzAlloc(void*, int Items, int Size) {
  if (Items < 0 || Size < 0) return nullptr;
  return std::malloc(static_cast<size_t>(Items) * static_cast<size_t>(Size));
}

extern "C" void BzFree(void*, void* Block) { std::free(Block); }

bz_stream NewStream() {
  bz_stream s{};
  s.bzalloc = BzAlloc;
  s.bzfree = BzFree;
  return s;
}

// Ends a compression or decompression stream on every path out of a routine.
struct TCompressEnd {
  bz_stream* S;
  ~TCompressEnd() { BZ2_bzCompressEnd(S); }
};
struct TDecompressEnd {
  bz_stream* S;
  ~TDecompressEnd() { BZ2_bzDecompressEnd(S); }
};

std::string ErrorText(int Code) { return "error " + std::to_string(Code); }

// Hands the library its next piece of input when it has used up the last one.
void FeedInput(bz_stream& S, const uint8_t*& Next, size_t& Left) {
  if (S.avail_in != 0 || Left == 0) return;
  const size_t n = std::min(Left, kChunk);
  S.next_in = const_cast<char*>(reinterpret_cast<const char*>(Next));
  S.avail_in = static_cast<unsigned>(n);
  Next += n;
  Left -= n;
}

// What a stream may still yield once the caller's block is full. The library
// checks a block's CRC only after the block's last byte and the stream's CRC
// at its very end, so the rest is decoded (and thrown away) to find damage
// there; one block expands to at most about 46 MB, and the bound keeps a few
// bytes of input from keeping the reader busy for long.
constexpr size_t kMaxCheckedSurplus = size_t{64} << 20;

// Decompresses into Out[0..Cap). When the block is full, Grow may enlarge it
// (updating Out and Cap) or return false to keep what is there and only check
// the rest of the stream. A call that neither takes input nor gives output
// means the input ended inside the stream: the loop ends with "error -7"
// instead of spinning on it; a surplus beyond kMaxCheckedSurplus ends it with
// "error -8" (the library's code for output that does not fit).
template <class TGrow>
size_t RunDecompress(const void* Input, size_t InputSize, uint8_t*& Out, size_t& Cap, TGrow Grow) {
  bz_stream s = NewStream();
  const int init = BZ2_bzDecompressInit(&s, 0, 0);
  if (init != BZ_OK) throw EBZDecompressionError(ErrorText(init));
  TDecompressEnd end{&s};
  const uint8_t* next = static_cast<const uint8_t*>(Input);
  size_t left = next ? InputSize : 0;
  size_t written = 0, surplus = 0;
  bool full = false;
  std::vector<uint8_t> scratch;
  for (;;) {
    FeedInput(s, next, left);
    if (!full && written == Cap && !Grow(Out, Cap)) full = true;
    if (s.avail_out == 0) {
      if (full) {
        if (surplus >= kMaxCheckedSurplus) throw EBZDecompressionError(ErrorText(BZ_OUTBUFF_FULL));
        scratch.resize(size_t{1} << 16);
        s.next_out = reinterpret_cast<char*>(scratch.data());
        s.avail_out = static_cast<unsigned>(scratch.size());
      } else {
        s.next_out = reinterpret_cast<char*>(Out + written);
        s.avail_out = static_cast<unsigned>(std::min(Cap - written, kChunk));
      }
    }
    const unsigned inBefore = s.avail_in, outBefore = s.avail_out;
    const int r = BZ2_bzDecompress(&s);
    (full ? surplus : written) += outBefore - s.avail_out;
    if (r == BZ_STREAM_END) break;
    if (r < 0) throw EBZDecompressionError(ErrorText(r));
    if (s.avail_in == inBefore && s.avail_out == outBefore) throw EBZDecompressionError(ErrorText(BZ_UNEXPECTED_EOF));
  }
  return written;
}

}  // namespace

// The library calls this on an internal inconsistency when it is built
// without its own handler; it must not end the program.
extern "C" void bz_internal_error(int errcode) { throw EBZip2Error("Compression Error " + std::to_string(errcode)); }

namespace {

// One stream of the library, all the input in one go.
void CompressWhole(const void* Input, size_t InputSize, TBZ2Block& Output, size_t& OutputSize) {
  Output.reset();
  OutputSize = 0;
  // The stream's bound with room to spare, rounded to 256 bytes: a normal
  // picture never needs the block to grow.
  size_t cap = (InputSize + InputSize / 10 + 12 + 255) & ~size_t{255};
  TBZ2Block out(static_cast<uint8_t*>(std::malloc(cap)));
  if (!out) throw EBZCompressionError(ErrorText(BZ_MEM_ERROR));
  bz_stream s = NewStream();
  const int init = BZ2_bzCompressInit(&s, 9, 0, 0);
  if (init != BZ_OK) throw EBZCompressionError(ErrorText(init));
  TCompressEnd end{&s};
  const uint8_t* next = static_cast<const uint8_t*>(Input);
  size_t left = next ? InputSize : 0;
  size_t written = 0;
  for (;;) {
    FeedInput(s, next, left);
    if (written == cap) {
      const size_t grown = cap + std::max<size_t>(256, cap / 4);
      auto* p = static_cast<uint8_t*>(std::realloc(out.get(), grown));
      if (!p) throw EBZCompressionError(ErrorText(BZ_MEM_ERROR));
      static_cast<void>(out.release());
      out.reset(p);
      cap = grown;
    }
    if (s.avail_out == 0) {
      s.next_out = reinterpret_cast<char*>(out.get() + written);
      s.avail_out = static_cast<unsigned>(std::min(cap - written, kChunk));
    }
    // Finishing may only start once the last piece of input has been handed over.
    const unsigned outBefore = s.avail_out;
    const int r = BZ2_bzCompress(&s, left == 0 ? BZ_FINISH : BZ_RUN);
    written += outBefore - s.avail_out;
    if (r == BZ_STREAM_END) break;
    if (r < 0) throw EBZCompressionError(ErrorText(r));
  }
  if (auto* p = static_cast<uint8_t*>(std::realloc(out.get(), written))) {
    static_cast<void>(out.release());
    out.reset(p);
  }
  Output = std::move(out);
  OutputSize = written;
}

// The library's block at size 9 takes run-length coded input until it holds
// this many bytes (runs of 4 to 255 equal bytes coded as 5).
constexpr size_t kBlockFill = 100000 * 9 - 19;

// Where the library starts each block on Input: it adds a run once the next
// byte differs (or the run is 255 long) and starts a new block before a byte
// that finds the block full. That byte's run is then always the one byte
// before it, which the new block takes, so a block's input ends where the
// next one's begins, and the input of each block, compressed on its own,
// gives that very block.
std::vector<size_t> BlockStarts(const uint8_t* Input, size_t Size) {
  std::vector<size_t> starts{0};
  size_t filled = 0;
  uint32_t run = 0;
  int32_t ch = -1;
  for (size_t i = 0; i < Size; ++i) {
    if (filled >= kBlockFill) {
      starts.push_back(i - 1);
      filled = 0;
    }
    if (Input[i] != ch || run == 255) {
      if (ch >= 0) filled += run < 4 ? run : 5;
      ch = Input[i];
      run = 1;
    } else {
      ++run;
    }
  }
  return starts;
}

// Bits appended to a byte buffer, most significant first, as the format
// packs them.
class TBitWriter {
 public:
  explicit TBitWriter(uint8_t* Out) : out_(Out) {}
  void Put(uint64_t Bits, int Count) {
    for (int k = Count - 1; k >= 0; --k) {
      acc_ = acc_ << 1 | ((Bits >> k) & 1);
      if (++n_ == 8) Flush();
    }
  }
  void PutBytes(const uint8_t* P, size_t N) {
    if (n_ == 0) {
      std::memcpy(out_ + size_, P, N);
      size_ += N;
      return;
    }
    for (size_t i = 0; i < N; ++i) {
      const uint32_t v = acc_ << 8 | P[i];
      out_[size_++] = static_cast<uint8_t>(v >> n_);
      acc_ = v & ((1u << n_) - 1);
    }
  }
  // Pads the last byte with zero bits; the bytes written.
  size_t Finish() {
    if (n_ > 0) Put(0, 8 - n_);
    return size_;
  }

 private:
  void Flush() {
    out_[size_++] = static_cast<uint8_t>(acc_);
    acc_ = 0;
    n_ = 0;
  }
  uint8_t* out_;
  size_t size_ = 0;
  uint32_t acc_ = 0;
  int n_ = 0;
};

uint64_t BitsAt(const uint8_t* P, size_t Bit, int Count) {
  uint64_t v = 0;
  for (int k = 0; k < Count; ++k, ++Bit) v = v << 1 | ((P[Bit / 8] >> (7 - Bit % 8)) & 1);
  return v;
}

constexpr uint64_t kEndMagic = 0x177245385090;

// The bit length of the one block of a single-block stream (after the four
// header bytes, up to the end marker), found from the end: the marker, the
// stream's check value (the block's own) and up to 7 zero bits of padding.
size_t BlockBits(const uint8_t* S, size_t Size) {
  const uint64_t crc = BitsAt(S, 80, 32);
  for (size_t pad = 0; pad < 8; ++pad) {
    const size_t end = Size * 8 - pad - 80;
    if (BitsAt(S, end, 48) == kEndMagic && BitsAt(S, end + 48, 32) == crc && BitsAt(S, end + 80, static_cast<int>(pad)) == 0)
      return end - 32;
  }
  throw EBZCompressionError(ErrorText(BZ_SEQUENCE_ERROR));
}

}  // namespace

// A picture fills many of the library's blocks, each compressed on its own
// with no regard to the others: the blocks are made on every core, each
// from the input the library would have put in it, and laid end to end
// behind one header with the stream's check value over them all, so the
// stream is the library's own, bit for bit, on any number of threads.
void CompressBufferBZ2(const void* Input, size_t InputSize, TBZ2Block& Output, size_t& OutputSize) {
  const auto* in = static_cast<const uint8_t*>(Input);
  const std::vector<size_t> starts = in ? BlockStarts(in, InputSize) : std::vector<size_t>{0};
  if (starts.size() < 2) {
    CompressWhole(Input, InputSize, Output, OutputSize);
    return;
  }
  Output.reset();
  OutputSize = 0;
  std::vector<TBZ2Block> blocks(starts.size());
  std::vector<size_t> sizes(starts.size());
  ParallelSpans(starts.size(), 1, [&](size_t First, size_t Last) {
    for (size_t k = First; k < Last; ++k) {
      const size_t b = starts[k];
      const size_t e = k + 1 < starts.size() ? starts[k + 1] : InputSize;
      CompressWhole(in + b, e - b, blocks[k], sizes[k]);
    }
  });
  size_t total = 4 + 10 + 1;
  for (size_t n : sizes) total += n;
  TBZ2Block out(static_cast<uint8_t*>(std::malloc(total)));
  if (!out) throw EBZCompressionError(ErrorText(BZ_MEM_ERROR));
  std::memcpy(out.get(), blocks[0].get(), 4);
  TBitWriter w(out.get() + 4);
  uint32_t combined = 0;
  for (size_t k = 0; k < blocks.size(); ++k) {
    const uint8_t* s = blocks[k].get();
    const size_t bits = BlockBits(s, sizes[k]);
    w.PutBytes(s + 4, bits / 8);
    w.Put(BitsAt(s, 32 + bits / 8 * 8, static_cast<int>(bits % 8)), static_cast<int>(bits % 8));
    combined = (combined << 1 | combined >> 31) ^ static_cast<uint32_t>(BitsAt(s, 80, 32));
    blocks[k].reset();
  }
  w.Put(kEndMagic, 48);
  w.Put(combined, 32);
  OutputSize = 4 + w.Finish();
  if (auto* p = static_cast<uint8_t*>(std::realloc(out.get(), OutputSize))) {
    static_cast<void>(out.release());
    out.reset(p);
  }
  Output = std::move(out);
}

namespace {

// Decompresses into a block that starts at InitialCap bytes and grows (by half
// of itself, at least Increment) as output arrives, up to MaxCap. Returns the
// bytes written; Full tells that decompression stopped at MaxCap.
size_t DecompressGrowing(const void* Input, size_t InputSize, size_t InitialCap, size_t Increment, size_t MaxCap,
                         TBZ2Block& Output, bool& Full) {
  Output.reset();
  size_t cap = std::max<size_t>(std::min(InitialCap, MaxCap), 1);
  uint8_t* raw = static_cast<uint8_t*>(std::malloc(cap));
  if (!raw) throw EBZDecompressionError(ErrorText(BZ_MEM_ERROR));
  TBZ2Block out(raw);
  Full = false;
  auto grow = [&](uint8_t*& Out, size_t& Cap) {
    if (Cap >= MaxCap) {
      Full = true;
      return false;
    }
    // Geometric growth: a large output costs few copies.
    const size_t grown = std::min(MaxCap, Cap + std::max(Increment, Cap / 2));
    auto* p = static_cast<uint8_t*>(std::realloc(Out, grown));
    if (!p) throw EBZDecompressionError(ErrorText(BZ_MEM_ERROR));
    static_cast<void>(out.release());
    out.reset(p);
    Out = p;
    Cap = grown;
    return true;
  };
  const size_t written = RunDecompress(Input, InputSize, raw, cap, grow);
  if (written != cap) {
    if (auto* p = static_cast<uint8_t*>(std::realloc(out.get(), std::max<size_t>(written, 1)))) {
      static_cast<void>(out.release());
      out.reset(p);
    }
  }
  Output = std::move(out);
  return written;
}

}  // namespace

void DecompressBufferBZ2(const void* Input, size_t InputSize, size_t ExpectedSize, TBZ2Block& Output,
                         size_t& OutputSize) {
  OutputSize = 0;
  const size_t increment = (InputSize + 255) & ~size_t{255};
  bool full = false;
  if (ExpectedSize != 0) {
    OutputSize = DecompressGrowing(Input, InputSize, ExpectedSize, increment, ExpectedSize, Output, full);
    return;
  }
  OutputSize = DecompressGrowing(Input, InputSize, std::max<size_t>(increment, 256), increment,
                                 kBZ2MaxUnsizedOutput, Output, full);
  if (full) {
    Output.reset();
    OutputSize = 0;
    throw EBZDecompressionError(ErrorText(BZ_MEM_ERROR));
  }
}

void DecompressAsArrivingBZ2(const void* Input, size_t InputSize, size_t MaxSize, TBZ2Block& Output,
                             size_t& OutputSize) {
  OutputSize = 0;
  bool full = false;
  // Starts at about what a well-compressed picture of this input would need.
  const size_t start = std::min<size_t>(std::max<size_t>(InputSize, 4096), size_t{1} << 20) * 8;
  OutputSize = DecompressGrowing(Input, InputSize, start, size_t{1} << 20, MaxSize, Output, full);
}

size_t DecompressIntoBZ2(const void* Input, size_t InputSize, void* Output, size_t OutputSize) {
  uint8_t* out = static_cast<uint8_t*>(Output);
  size_t cap = out ? OutputSize : 0;
  return RunDecompress(Input, InputSize, out, cap, [](uint8_t*&, size_t&) { return false; });
}
