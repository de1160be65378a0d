// The frame assembler with whatever a scanner could report: up to four
// frames of random parameters, each followed by random data in random
// portions. A refused frame must come as EScanFrameError; a finished picture
// must have the size its header states.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "platform_scanframe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  TScanAssembler a;
  try {
    for (int f = 0; f < 4 && in.Left() > 0 && !a.Done(); ++f) {
      TScanFrameParams p;
      p.Format = in.Byte() % 6;
      p.LastFrame = in.Byte() & 1;
      // Small sizes most of the time, any 32-bit value now and then.
      const uint8_t wide = in.Byte();
      p.PixelsPerLine = wide & 0x80 ? in.Int() : in.Byte() % 40;
      p.Lines = wide & 0x40 ? in.Int() : static_cast<int8_t>(in.Byte()) % 20;
      p.BytesPerLine = wide & 0x20 ? in.Int() : static_cast<int32_t>(in.Byte() % 130);
      p.Depth = in.Byte() % 18;
      a.BeginFrame(p);
      const size_t portions = in.Byte() % 8;
      for (size_t i = 0; i < portions; ++i) {
        std::vector<uint8_t> chunk(in.Byte() * 4u);
        for (auto& b : chunk) b = in.Byte();
        a.Append(chunk.data(), chunk.size());
      }
      a.EndFrame();
    }
    if (a.Done()) {
      const std::vector<uint8_t> dib = a.PackedDib();
      const uint32_t colours = dib[32] | dib[33] << 8;
      const size_t row = static_cast<size_t>((int64_t{a.Width()} * dib[14] + 31) / 32 * 4);
      if (dib.size() != 40 + 4 * colours + row * static_cast<size_t>(a.Height())) std::abort();
    }
  } catch (const EScanFrameError&) {
  }
  return 0;
}
