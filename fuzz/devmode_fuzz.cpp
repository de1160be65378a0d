// The stored "devmode" text decoded into device-mode blocks of every size up
// to 255 bytes. The first byte picks the size; the rest is the text. Checks
// that nothing beyond the whole words is written and that a decoded block
// encodes to a text that decodes to the same block.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "zub_printing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const size_t blockSize = in.Byte();
  const std::string text = in.Rest();
  // Guard bytes after the block catch a write past its end.
  std::vector<uint8_t> block(blockSize + 8, 0xA5);
  DecodeDevMode(text, block.data(), blockSize);
  for (size_t i = blockSize / 4 * 4; i < block.size(); ++i)
    if (block[i] != 0xA5) std::abort();
  const std::string again = EncodeDevMode(block.data(), blockSize);
  if (again.size() != (blockSize / 4 == 0 ? 0 : blockSize / 4 * 10 - 1)) std::abort();
  std::vector<uint8_t> back(blockSize + 8, 0x5A);
  DecodeDevMode(again, back.data(), blockSize);
  for (size_t i = 0; i < blockSize / 4 * 4; ++i)
    if (back[i] != block[i]) std::abort();
  return 0;
}
