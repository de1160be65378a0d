#pragma once
// In-memory bzip2: one buffer in, one complete stream out, and back. The
// library gets the program's allocation hooks on every stream record, and its
// results come back as exceptions of this unit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform_exceptions.h"

VEMRA_DECLARE_EXCEPTION(EBZip2Error, Exception);
VEMRA_DECLARE_EXCEPTION(EBZCompressionError, EBZip2Error);
VEMRA_DECLARE_EXCEPTION(EBZDecompressionError, EBZip2Error);

// Blocks handed out by the two buffer routines come from malloc and go back
// with free; the caller owns them through this pointer.
struct TBZ2Free {
  void operator()(uint8_t* p) const { std::free(p); }
};
using TBZ2Block = std::unique_ptr<uint8_t, TBZ2Free>;

// Compresses InputSize bytes into one bzip2 stream (block size 9) in a new
// block. EBZCompressionError "error %d" on a library failure; Output is then
// empty.
void CompressBufferBZ2(const void* Input, size_t InputSize, TBZ2Block& Output, size_t& OutputSize);

// Decompresses the first bzip2 stream of Input into a new block. With an
// ExpectedSize above 0 the block starts at that size and keeps what fits, so
// a stream that expands beyond what the caller wants costs no more memory
// than that; with 0 the block grows as needed up to kBZ2MaxUnsizedOutput.
// Every routine here decodes the stream to its end, whatever it keeps, so a
// damaged block or stream check value is an error however early the wanted
// bytes were there. EBZDecompressionError "error %d" on a library failure,
// "error -7" (the library's unexpected-end code) when the input runs out
// before the end of the stream, and "error -8" when the stream holds more
// than 64 MiB beyond what is kept.
void DecompressBufferBZ2(const void* Input, size_t InputSize, size_t ExpectedSize, TBZ2Block& Output,
                         size_t& OutputSize);

// Decompresses at most MaxSize bytes into a block that grows as output
// arrives, so what a stream costs follows what it really holds, however much
// the caller could take. Errors as above.
void DecompressAsArrivingBZ2(const void* Input, size_t InputSize, size_t MaxSize, TBZ2Block& Output,
                             size_t& OutputSize);

// Decompresses into the caller's memory: at most OutputSize bytes. Returns
// the bytes written. Errors as above; the bytes
// written before an error stay in Output.
size_t DecompressIntoBZ2(const void* Input, size_t InputSize, void* Output, size_t OutputSize);

// The most DecompressBufferBZ2 produces when no size is expected: the 32-bit
// output counter of the original routine.
constexpr size_t kBZ2MaxUnsizedOutput = 0x7FFFFFFF;
