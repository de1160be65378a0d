// In-memory bzip2 with the program's allocation hooks. The library counts
// bytes in 32-bit fields, so large buffers are handed to it in chunks of at
// most 1 GiB on both sides.
#include "bzip2.h"

#include <bzlib.h>

#include <algorithm>
#include <string>

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

// Decompresses into Out[0..Cap). When the block is full, Grow may enlarge it
// (updating Out and Cap) or return false to stop there. A call that neither
// takes input nor gives output means the input ended inside the stream: the
// loop ends with "error -7" instead of spinning on it.
template <class TGrow>
size_t RunDecompress(const void* Input, size_t InputSize, uint8_t*& Out, size_t& Cap, TGrow Grow) {
  bz_stream s = NewStream();
  const int init = BZ2_bzDecompressInit(&s, 0, 0);
  if (init != BZ_OK) throw EBZDecompressionError(ErrorText(init));
  TDecompressEnd end{&s};
  const uint8_t* next = static_cast<const uint8_t*>(Input);
  size_t left = next ? InputSize : 0;
  size_t written = 0;
  for (;;) {
    FeedInput(s, next, left);
    if (written == Cap && !Grow(Out, Cap)) break;
    if (s.avail_out == 0) {
      s.next_out = reinterpret_cast<char*>(Out + written);
      s.avail_out = static_cast<unsigned>(std::min(Cap - written, kChunk));
    }
    const unsigned inBefore = s.avail_in, outBefore = s.avail_out;
    const int r = BZ2_bzDecompress(&s);
    written += outBefore - s.avail_out;
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

void CompressBufferBZ2(const void* Input, size_t InputSize, TBZ2Block& Output, size_t& OutputSize) {
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
